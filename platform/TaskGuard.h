// Running callbacks on behalf of the loop, the queues and the notification centre, and every
// call into the app (a delegate, a block): a callback that throws must not take the thread
// that called it down, so the exception is logged with its message and the caller goes on.
#pragma once

#include <functional>
#include <string_view>

namespace platform::detail {

// Runs the task; an exception escaping it is written to the log with `where` and swallowed.
// Returns false when the task threw.
bool runGuarded(std::string_view where, const std::function<void()>& task) noexcept;

// One line for the runtime's own diagnostics. Kept in one place so that it can follow the
// project's log once that exists.
void logRuntimeLine(std::string_view line) noexcept;

}  // namespace platform::detail

namespace platform {
using detail::runGuarded;
}  // namespace platform
