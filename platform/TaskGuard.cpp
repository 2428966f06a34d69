#include "platform/TaskGuard.h"

#include "platform/Log.h"

#include <exception>
#include <string>

namespace platform::detail {

void logRuntimeLine(std::string_view line) noexcept {
    try {
        consoleLog("%@", std::string(line));
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
