// What the operation tests share: bounded pumping of the main loop, requests from text, and a
// recorder of an operation's start and finish notifications.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "SocialSDK/framework/network/RAZududeURLConnectionOperation.h"
#include "platform/MainLoop.h"
#include "platform/NotificationCenter.h"
#include "platform/Url.h"
#include "platform/net/UrlRequest.h"

namespace operation_tests {

constexpr double kWait = 20;

// Pumps the main loop until the condition holds or kWait seconds passed.
inline bool pumpUntil(const std::function<bool()>& done, double seconds = kWait) {
    return platform::MainLoop::main().runUntil(done, seconds);
}

// Runs what the main loop has now and what that posts, for a short real time, so that a
// callback that must not come has had its chance.
inline void drainMainLoop(double seconds = 0.2) {
    platform::MainLoop::main().runUntil([] { return false; }, seconds);
}

inline platform::UrlRequest requestFor(const std::string& url) {
    auto parsed = platform::Url::parse(url);
    if (!parsed) {
        throw std::invalid_argument("not a URL: " + url);
    }
    return platform::UrlRequest(*parsed);
}

// The start ("start") and finish ("finish") notifications of one operation, in the order the
// main queue delivered them, and whether each came on the main thread.
class NotificationLog {
  public:
    explicit NotificationLog(const void* operation) {
        auto& center = platform::NotificationCenter::defaultCenter();
        start_ = center.addObserver(RAZududeNetworkingOperationDidStartNotification, operation,
                                    [this](const platform::Notification& n) { note("start", n); });
        finish_ =
            center.addObserver(RAZududeNetworkingOperationDidFinishNotification, operation,
                               [this](const platform::Notification& n) { note("finish", n); });
    }

    std::vector<std::string> names;
    bool allOnMainThread = true;
    bool allWithoutUserInfo = true;

  private:
    void note(const char* name, const platform::Notification& notification) {
        names.emplace_back(name);
        allOnMainThread = allOnMainThread && platform::MainLoop::main().isMainThread();
        allWithoutUserInfo = allWithoutUserInfo && notification.userInfo.empty();
    }

    platform::ObserverToken start_;
    platform::ObserverToken finish_;
};

}  // namespace operation_tests
