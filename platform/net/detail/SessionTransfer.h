// One task's load on the network thread: the connection's delegate, which turns its calls into
// the session's events.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <span>

#include "platform/net/UrlConnection.h"
#include "platform/net/UrlSession.h"
#include "platform/net/detail/SessionAnswer.h"
#include "platform/net/detail/UrlSessionInternals.h"

namespace platform::detail {

class SessionTransfer final : public UrlConnectionDelegate {
  public:
    SessionTransfer(std::shared_ptr<UrlSession> session, std::shared_ptr<UrlSessionTask> task,
                    bool hasHandler)
        : session_(std::move(session)),
          task_(std::move(task)),
          handler_(hasHandler),
          download_(task_->kind_ == UrlSessionTask::Kind::kDownload) {}

    ~SessionTransfer() override { closeFile(); }

    void willSendRequestForAuthenticationChallenge(
        UrlConnection& connection, const AuthenticationChallenge& challenge) override;
    std::optional<std::string> serverTrustJudgement(UrlConnection&) override;
    std::optional<UrlRequest> willSendRequest(
        UrlConnection& connection, const UrlRequest& request,
        const std::shared_ptr<const UrlResponse>& redirectResponse) override;
    void didSendBodyData(UrlConnection&, std::int64_t bytesWritten, std::int64_t totalWritten,
                         std::int64_t totalExpected) override;
    void didReceiveResponse(UrlConnection&,
                            const std::shared_ptr<const UrlResponse>& response) override;
    void didReceiveData(UrlConnection&, std::span<const std::uint8_t> bytes) override;
    std::optional<CachedUrlResponse> willCacheResponse(UrlConnection&,
                                                       const CachedUrlResponse& proposed) override;
    bool respondsToWillCacheResponse() const override;
    void didFinishLoading(UrlConnection& connection) override;
    void didFailWithError(UrlConnection&, const Error& error) override;

    // After a cancel or a failure (network thread): the partial file goes, and the one the
    // task was resumed from.
    void discard();

    // After a cancel (network thread): the data to go on with, keeping the partial file, or
    // nullopt (and the file goes) when the download cannot be resumed.
    std::optional<Bytes> produceResumeData();

  private:
    UrlSessionTask::Inner& inner() { return *task_->inner_; }

    std::shared_ptr<UrlSessionDataTask> dataTask() const;
    std::shared_ptr<UrlSessionDownloadTask> downloadTask() const;

    // Queues an event of the task unless its end was decided.
    bool queue(std::function<void()> run);

    void setCurrentRequest(const UrlRequest& request);

    // Waits on the network thread for the delegate's answer. nullopt: the task was cancelled
    // meanwhile, or the answer did not come in time (the task then fails with a time-out).
    template <class T>
    std::optional<T> waitFor(const std::shared_ptr<Answer<T>>& answer, double seconds);

    // Ends the task with the error from here (network thread).
    void fail(const Error& error);

    // A data task's bytes for its delegate (not for a completion handler).
    void deliverData(std::span<const std::uint8_t> bytes);
    void startFile(const UrlResponse& response);
    void writeToFile(std::span<const std::uint8_t> bytes);
    void closeFile();

    const std::shared_ptr<UrlSession> session_;
    const std::shared_ptr<UrlSessionTask> task_;
    const bool handler_;   // the task reports to a completion handler
    const bool download_;  // the body goes to a file

    // Network thread only.
    Bytes body_;  // a data task's body, for its completion handler
    bool responded_ = false;
    std::filesystem::path file_;
    int fd_ = -1;
    std::int64_t written_ = 0;  // bytes in the file
    std::int64_t expectedTotal_ = kUrlSessionTransferSizeUnknown;
};

}  // namespace platform::detail
