// The console log: lines that are always written, whatever the share service's own debug switch
// says. Each goes to standard error as one line, prefixed the way the platform's console does:
//
//     2026-03-01 14:05:09.123 share_demo[4242:4250] you should set Zizoz Appkey!
//
// (local date and time with milliseconds, process name, process and thread id). The message is
// built with platform::format, so a text that is data goes in as an argument: consoleLog("%@", s).
#pragma once

#include <functional>
#include <string_view>

#include "platform/Format.h"

namespace platform {

namespace log_detail {
void write(std::string_view message);
}

template <class... Args>
void consoleLog(FormatString<Args...> fmt, const Args&... args) {
    log_detail::write(platform::format(fmt, args...));
}

// Receives every message (without the prefix) besides standard error. It is called under the
// log's lock, one message at a time, so it needs no lock of its own and must not log.
using ConsoleLogSink = std::function<void(std::string_view message)>;

// Installs a sink (an empty one removes it) and returns the one it replaces.
ConsoleLogSink setConsoleLogSink(ConsoleLogSink sink);

}  // namespace platform
