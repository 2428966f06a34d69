// What the session manager tests share: a completion recorder, and the end of a manager's
// session (a session keeps its manager until it is invalidated, so every test ends them).
#pragma once

#include <atomic>
#include <memory>
#include <optional>

#include "SocialSDK/framework/network/RAZududeURLSessionManager.h"
#include "http_client/RAZTaskNotifications.h"
#include "platform/MainLoop.h"
#include "platform/NotificationCenter.h"
#include "tests/network/OperationTestSupport.h"

namespace session_tests {

using operation_tests::drainMainLoop;
using operation_tests::pumpUntil;
using operation_tests::requestFor;

struct Completion {
    int calls = 0;
    std::shared_ptr<const platform::UrlResponse> response;
    RAZududeResponseObject object;
    std::optional<platform::Error> error;
    bool onMainThread = false;

    RAZududeURLSessionManager::CompletionHandler handler() {
        return [this](const auto& r, const RAZududeResponseObject& o, const auto& e) {
            ++calls;
            response = r;
            object = o;
            error = e;
            onMainThread = platform::MainLoop::main().isMainThread();
        };
    }
    bool done() const { return calls > 0; }
    int status() const {
        auto http = std::dynamic_pointer_cast<const platform::HttpUrlResponse>(response);
        return http ? http->statusCode() : 0;
    }
};

// Invalidates the manager's session and waits until it has become invalid.
inline bool endSession(const std::shared_ptr<RAZududeURLSessionManager>& manager,
                       bool cancel = true) {
    auto invalid = std::make_shared<std::atomic<bool>>(false);
    auto token = platform::NotificationCenter::defaultCenter().addObserver(
        RAZURLSessionDidInvalidateNotification, manager->session().get(),
        [invalid](const platform::Notification&) { *invalid = true; });
    manager->invalidateSessionCancelingTasks(cancel);
    return pumpUntil([&] { return invalid->load(); });
}

// Ends the session when the test leaves its scope.
class SessionEnder {
  public:
    explicit SessionEnder(std::shared_ptr<RAZududeURLSessionManager> manager)
        : manager_(std::move(manager)) {}
    ~SessionEnder() { EXPECT_TRUE(endSession(manager_)); }
    SessionEnder(const SessionEnder&) = delete;
    SessionEnder& operator=(const SessionEnder&) = delete;

  private:
    std::shared_ptr<RAZududeURLSessionManager> manager_;
};

}  // namespace session_tests
