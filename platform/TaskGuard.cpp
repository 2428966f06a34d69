#include "platform/TaskGuard.h"

#include <cstdio>
#include <exception>
#include <string>

namespace platform::detail {

void logRuntimeLine(std::string_view line) noexcept {
    // One fwrite per line, so that lines from several threads do not interleave.
    try {
        std::string text;
        text.reserve(line.size() + 1);
        text.append(line);
        text.push_back('\n');
        std::fwrite(text.data(), 1, text.size(), stderr);
    } catch (...) {
        // Out of memory while reporting: nothing better to do.
    }
}

bool runGuarded(std::string_view where, const std::function<void()>& task) noexcept {
    try {
        task();
        return true;
    } catch (const std::exception& e) {
        try {
            logRuntimeLine(std::string("uncaught exception in ") + std::string(where) + ": " +
                           e.what());
        } catch (...) {
        }
    } catch (...) {
        try {
            logRuntimeLine(std::string("uncaught exception in ") + std::string(where) +
                           ": (not a std::exception)");
        } catch (...) {
        }
    }
    return false;
}

}  // namespace platform::detail
