// A URL session delegate for tests: writes down every callback per task, in order, notices
// callbacks that overlap or arrive on the network thread, and lets a test answer the
// callbacks that take completion handlers.
#pragma once

#include <atomic>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "platform/MainLoop.h"
#include "platform/net/NetworkThread.h"
#include "platform/net/UrlSession.h"

namespace session_testing {

using platform::Bytes;
using platform::Error;
using platform::UrlSession;
using platform::UrlSessionDataTask;
using platform::UrlSessionDelegateCallback;
using platform::UrlSessionDownloadTask;
using platform::UrlSessionTask;

constexpr double kWait = 20;

// Pumps the main loop until the condition holds or the bound runs out.
inline bool waitUntil(const std::function<bool()>& condition, double seconds = kWait) {
    return platform::MainLoop::main().runUntil(condition, seconds);
}

// Returns once the network thread has run everything posted to it before this call (a
// suspend, say), however busy the machine: a condition, not a guess at how long that takes.
inline bool networkThreadCaughtUp(double seconds = kWait) {
    auto done = std::make_shared<std::atomic<bool>>(false);
    platform::NetworkThread::shared().post([done] { *done = true; });
    return waitUntil([&] { return done->load(); }, seconds);
}

class Recorder : public platform::UrlSessionDelegate {
  public:
    struct TaskLog {
        std::vector<std::string> events;  // consecutive data or write events count as one
        Bytes data;
        Bytes downloaded;  // the file's bytes, read in downloadTaskDidFinishDownloading
        std::string location;
        std::optional<Error> error;
        bool completed = false;
        std::int64_t sent = 0, expectedToSend = 0;
        std::int64_t written = 0, expectedToWrite = 0;
        std::int64_t resumedAt = -1;
        std::vector<std::int64_t> sendTotals;
    };

    // Callbacks the recorder says it does not implement.
    std::set<UrlSessionDelegateCallback> absent;

    std::function<void(const std::shared_ptr<UrlSessionDataTask>&,
                       platform::UrlSessionResponseCompletion)>
        onResponse;
    std::function<void(const platform::AuthenticationChallenge&,
                       platform::UrlSessionChallengeCompletion)>
        onChallenge;
    std::function<void(const platform::UrlRequest&, platform::UrlSessionRedirectCompletion)>
        onRedirect;
    std::function<void(platform::UrlSessionBodyStreamCompletion)> onNeedStream;
    std::function<void(const std::shared_ptr<UrlSessionTask>&, std::int64_t)> onData;

    bool respondsTo(UrlSessionDelegateCallback callback) const override {
        return !absent.contains(callback);
    }
    // Callbacks the recorder says return at once.
    std::set<UrlSessionDelegateCallback> quick;
    bool callbackReturnsAtOnce(UrlSessionDelegateCallback callback) const override {
        return quick.contains(callback);
    }

    void sessionDidBecomeInvalid(const std::shared_ptr<UrlSession>&,
                                 const std::optional<Error>& error) override {
        Scope scope(*this);
        std::lock_guard lock(mutex_);
        invalid_ = true;
        invalidError_ = error;
        order_.push_back("invalid");
    }
    void sessionDidReceiveChallenge(const std::shared_ptr<UrlSession>& session,
                                    const platform::AuthenticationChallenge& challenge,
                                    platform::UrlSessionChallengeCompletion completion) override {
        Scope scope(*this);
        note(0, "session challenge");
        if (onChallenge) {
            onChallenge(challenge, std::move(completion));
        } else {
            UrlSessionDelegate::sessionDidReceiveChallenge(session, challenge,
                                                           std::move(completion));
        }
    }
    void taskWillPerformHttpRedirection(
        const std::shared_ptr<UrlSession>&, const std::shared_ptr<UrlSessionTask>& task,
        const std::shared_ptr<const platform::HttpUrlResponse>& response,
        const platform::UrlRequest& request,
        platform::UrlSessionRedirectCompletion completion) override {
        Scope scope(*this);
        note(task->taskIdentifier(), "redirect " + std::to_string(response->statusCode()));
        if (onRedirect) {
            onRedirect(request, std::move(completion));
        } else {
            completion(request);
        }
    }
    void taskDidReceiveChallenge(const std::shared_ptr<UrlSession>& session,
                                 const std::shared_ptr<UrlSessionTask>& task,
                                 const platform::AuthenticationChallenge& challenge,
                                 platform::UrlSessionChallengeCompletion completion) override {
        Scope scope(*this);
        note(task->taskIdentifier(),
             "challenge " + challenge.protectionSpace().authenticationMethod());
        if (onChallenge) {
            onChallenge(challenge, std::move(completion));
        } else {
            UrlSessionDelegate::taskDidReceiveChallenge(session, task, challenge,
                                                        std::move(completion));
        }
    }
    void taskNeedNewBodyStream(const std::shared_ptr<UrlSession>& session,
                               const std::shared_ptr<UrlSessionTask>& task,
                               platform::UrlSessionBodyStreamCompletion completion) override {
        Scope scope(*this);
        note(task->taskIdentifier(), "need stream");
        if (onNeedStream) {
            onNeedStream(std::move(completion));
        } else {
            UrlSessionDelegate::taskNeedNewBodyStream(session, task, std::move(completion));
        }
    }
    void taskDidSendBodyData(const std::shared_ptr<UrlSession>&,
                             const std::shared_ptr<UrlSessionTask>& task, std::int64_t,
                             std::int64_t total, std::int64_t expected) override {
        Scope scope(*this);
        std::lock_guard lock(mutex_);
        TaskLog& log = logs_[task->taskIdentifier()];
        if (log.events.empty() || log.events.back() != "send") {
            log.events.push_back("send");
        }
        log.sent = total;
        log.expectedToSend = expected;
        log.sendTotals.push_back(total);
    }
    void taskDidComplete(const std::shared_ptr<UrlSession>&,
                         const std::shared_ptr<UrlSessionTask>& task,
                         const std::optional<Error>& error) override {
        Scope scope(*this);
        std::lock_guard lock(mutex_);
        TaskLog& log = logs_[task->taskIdentifier()];
        log.events.push_back(error ? "complete " + std::to_string(error->code()) : "complete");
        log.error = error;
        log.completed = true;
        order_.push_back("complete " + std::to_string(task->taskIdentifier()));
    }
    void dataTaskDidReceiveResponse(const std::shared_ptr<UrlSession>&,
                                    const std::shared_ptr<UrlSessionDataTask>& task,
                                    const std::shared_ptr<const platform::UrlResponse>& response,
                                    platform::UrlSessionResponseCompletion completion) override {
        Scope scope(*this);
        const auto* http = dynamic_cast<const platform::HttpUrlResponse*>(response.get());
        note(task->taskIdentifier(), "response " + std::to_string(http ? http->statusCode() : 0));
        if (onResponse) {
            onResponse(task, std::move(completion));
        } else {
            completion(platform::UrlSessionResponseDisposition::kAllow);
        }
    }
    void dataTaskDidReceiveData(const std::shared_ptr<UrlSession>&,
                                const std::shared_ptr<UrlSessionDataTask>& task,
                                const Bytes& data) override {
        Scope scope(*this);
        std::int64_t total = 0;
        {
            std::lock_guard lock(mutex_);
            TaskLog& log = logs_[task->taskIdentifier()];
            if (log.events.empty() || log.events.back() != "data") {
                log.events.push_back("data");
            }
            log.data.insert(log.data.end(), data.begin(), data.end());
            total = static_cast<std::int64_t>(log.data.size());
        }
        if (onData) {
            onData(task, total);
        }
    }
    void downloadTaskDidFinishDownloading(const std::shared_ptr<UrlSession>&,
                                          const std::shared_ptr<UrlSessionDownloadTask>& task,
                                          const platform::Url& location) override {
        Scope scope(*this);
        std::ifstream file(location.path(), std::ios::binary);
        Bytes bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
        std::lock_guard lock(mutex_);
        TaskLog& log = logs_[task->taskIdentifier()];
        log.events.push_back("finish");
        log.downloaded = std::move(bytes);
        log.location = location.path();
    }
    void downloadTaskDidWriteData(const std::shared_ptr<UrlSession>&,
                                  const std::shared_ptr<UrlSessionDownloadTask>& task, std::int64_t,
                                  std::int64_t total, std::int64_t expected) override {
        Scope scope(*this);
        {
            std::lock_guard lock(mutex_);
            TaskLog& log = logs_[task->taskIdentifier()];
            if (log.events.empty() || log.events.back() != "write") {
                log.events.push_back("write");
            }
            log.written = total;
            log.expectedToWrite = expected;
        }
        if (onData) {
            onData(task, total);
        }
    }
    void downloadTaskDidResume(const std::shared_ptr<UrlSession>&,
                               const std::shared_ptr<UrlSessionDownloadTask>& task,
                               std::int64_t offset, std::int64_t expected) override {
        Scope scope(*this);
        std::lock_guard lock(mutex_);
        TaskLog& log = logs_[task->taskIdentifier()];
        log.events.push_back("resume " + std::to_string(offset));
        log.resumedAt = offset;
        log.expectedToWrite = expected;
    }

    TaskLog log(const std::shared_ptr<UrlSessionTask>& task) const {
        return log(task->taskIdentifier());
    }
    // 0: the session's own events.
    TaskLog log(std::uint64_t task) const {
        std::lock_guard lock(mutex_);
        const auto found = logs_.find(task);
        return found == logs_.end() ? TaskLog() : found->second;
    }
    bool completed(const std::shared_ptr<UrlSessionTask>& task) const {
        return log(task).completed;
    }
    bool waitForCompletion(const std::shared_ptr<UrlSessionTask>& task, double seconds = kWait) {
        return waitUntil([&] { return completed(task); }, seconds);
    }
    bool invalid() const {
        std::lock_guard lock(mutex_);
        return invalid_;
    }
    std::vector<std::string> order() const {
        std::lock_guard lock(mutex_);
        return order_;
    }
    // Callbacks that ran while another one was running, or on the network thread.
    int overlaps() const { return overlaps_.load(); }
    int onNetworkThread() const { return onNetworkThread_.load(); }

  private:
    struct Scope {
        explicit Scope(Recorder& r) : recorder(r) {
            if (recorder.inside_.fetch_add(1) != 0) {
                recorder.overlaps_.fetch_add(1);
            }
            if (platform::NetworkThread::shared().isCurrent()) {
                recorder.onNetworkThread_.fetch_add(1);
            }
        }
        ~Scope() { recorder.inside_.fetch_sub(1); }
        Recorder& recorder;
    };

    void note(std::uint64_t task, std::string event) {
        std::lock_guard lock(mutex_);
        logs_[task].events.push_back(std::move(event));
    }

    mutable std::mutex mutex_;
    std::map<std::uint64_t, TaskLog> logs_;
    std::vector<std::string> order_;
    bool invalid_ = false;
    std::optional<Error> invalidError_;
    std::atomic<int> inside_{0};
    std::atomic<int> overlaps_{0};
    std::atomic<int> onNetworkThread_{0};
};

}  // namespace session_testing
