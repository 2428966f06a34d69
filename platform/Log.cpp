#include "platform/Log.h"

#include <sys/time.h>
#include <unistd.h>
#include <cerrno>
#include <cstdio>
#include <ctime>
#include <mutex>
#include <string>

#include "platform/AppFolders.h"
#include "platform/NoDestructor.h"

namespace platform {

namespace {

// Never destroyed: other threads may still log while the process exits.
std::mutex& logMutex() {
    static NoDestructor<std::mutex> mutex;
    return *mutex;
}

ConsoleLogSink& sinkSlot() {
    static NoDestructor<ConsoleLogSink> sink;
    return *sink;
}

const std::string& processName() {
    static const NoDestructor<std::string> name(AppFolders::processName());
    return *name;
}

std::string prefix() {
    timeval now{};
    gettimeofday(&now, nullptr);
    std::tm local{};
    localtime_r(&now.tv_sec, &local);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
    char ids[64];
    std::snprintf(ids, sizeof ids, ".%03d ", static_cast<int>(now.tv_usec / 1000));
    std::string out = stamp;
    out += ids;
    out += processName();
    std::snprintf(ids, sizeof ids, "[%d:%d] ", static_cast<int>(getpid()),
                  static_cast<int>(gettid()));
    out += ids;
    return out;
}

void writeAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return;  // nowhere left to report a console that cannot be written
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
}

}  // namespace

namespace log_detail {

void write(std::string_view message) {
    std::string line = prefix();
    line += message;
    line += '\n';
    std::lock_guard lock(logMutex());
    writeAll(STDERR_FILENO, line);
    if (const auto& sink = sinkSlot()) {
        sink(message);
    }
}

}  // namespace log_detail

ConsoleLogSink setConsoleLogSink(ConsoleLogSink sink) {
    std::lock_guard lock(logMutex());
    std::swap(sinkSlot(), sink);
    return sink;
}

}  // namespace platform
