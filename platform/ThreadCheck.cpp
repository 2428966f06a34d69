#include "platform/ThreadCheck.h"

#include <cstdio>
#include <cstdlib>

#include "platform/MainLoop.h"

namespace platform {

void checkMainThread(const char* file, int line, const char* function) noexcept {
    if (MainLoop::main().isMainThread()) {
        return;
    }
    // No log object here: the process is about to end, and the log may be what is broken.
    std::fprintf(stderr, "%s:%d: %s: called off the main thread\n", file, line, function);
    std::fflush(stderr);
    std::abort();
}

}  // namespace platform
