// Collects the console log's messages for as long as it lives, then puts back the sink it found.
#pragma once

#include <algorithm>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Log.h"

namespace testing_support {

class LogCapture {
  public:
    LogCapture() {
        previous_ = platform::setConsoleLogSink([this](std::string_view message) {
            std::lock_guard lock(mutex_);
            messages_.emplace_back(message);
        });
    }
    ~LogCapture() { platform::setConsoleLogSink(std::move(previous_)); }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    std::vector<std::string> messages() const {
        std::lock_guard lock(mutex_);
        return messages_;
    }

    // True when some message holds the fragment.
    bool contains(std::string_view fragment) const {
        std::lock_guard lock(mutex_);
        return std::any_of(messages_.begin(), messages_.end(), [&](const std::string& m) {
            return m.find(fragment) != std::string::npos;
        });
    }

  private:
    platform::ConsoleLogSink previous_;
    mutable std::mutex mutex_;
    std::vector<std::string> messages_;
};

}  // namespace testing_support
