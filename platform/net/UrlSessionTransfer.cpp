#include "platform/net/detail/SessionTransfer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <system_error>

#include "platform/PropertyList.h"
#include "platform/net/ServerTrust.h"
#include "platform/net/detail/SessionEvents.h"

namespace platform::detail {

namespace {

using Callback = UrlSessionDelegateCallback;

Error fileError(long code, const std::string& description, const Url& url, int errnoValue,
                const std::filesystem::path& path) {
    Error error = urlError(code, description, url);
    error.setUnderlyingError(Files::errorFromErrno(errnoValue, true, path, description));
    return error;
}

// The time the network thread waits for a delegate's answer.
double answerBound(const UrlRequest& request) {
    const double timeout = request.timeoutInterval();
    return timeout > 0 ? timeout : UrlRequest::kDefaultTimeoutInterval;
}

// The first byte of a "Content-Range: bytes first-last/total".
std::optional<std::int64_t> contentRangeStart(const HttpUrlResponse& response) {
    const auto header = response.allHeaderFields().value("Content-Range");
    if (!header || header->rfind("bytes ", 0) != 0) {
        return std::nullopt;
    }
    const std::string_view rest = std::string_view(*header).substr(6);
    return parseCount(rest.substr(0, rest.find('-')));
}

// A validator that "If-Range" may carry: a strong entity tag.
std::optional<std::string> strongEntityTag(const HttpUrlResponse& response) {
    auto tag = response.allHeaderFields().value("ETag");
    if (!tag || tag->empty() || tag->rfind("W/", 0) == 0) {
        return std::nullopt;
    }
    return tag;
}

using ChallengeReply = std::pair<UrlSessionAuthChallengeDisposition, std::optional<Credential>>;

// The sender of the challenge the delegate sees: answering through it is answering through
// the completion handler.
class ReplySender final : public AuthenticationChallengeSender {
  public:
    explicit ReplySender(std::shared_ptr<Answer<ChallengeReply>> answer)
        : answer_(std::move(answer)) {}
    void useCredential(const Credential& credential, const AuthenticationChallenge&) override {
        answer_->give({UrlSessionAuthChallengeDisposition::kUseCredential, credential});
    }
    void continueWithoutCredential(const AuthenticationChallenge&) override {
        answer_->give({UrlSessionAuthChallengeDisposition::kUseCredential, std::nullopt});
    }
    void cancelAuthenticationChallenge(const AuthenticationChallenge&) override {
        answer_->give(
            {UrlSessionAuthChallengeDisposition::kCancelAuthenticationChallenge, std::nullopt});
    }
    void performDefaultHandling(const AuthenticationChallenge&) override {
        answer_->give({UrlSessionAuthChallengeDisposition::kPerformDefaultHandling, std::nullopt});
    }

  private:
    std::shared_ptr<Answer<ChallengeReply>> answer_;
};

}  // namespace

void SessionTransfer::willSendRequestForAuthenticationChallenge(
    UrlConnection& connection, const AuthenticationChallenge& challenge) {
    const bool trust =
        challenge.protectionSpace().authenticationMethod() == kAuthenticationMethodServerTrust;
    std::shared_ptr<UrlSessionDelegate> delegate;
    bool sessionWide = false;
    if (trust) {
        delegate = session_->delegateFor(Callback::kSessionDidReceiveChallenge);
        sessionWide = delegate != nullptr;
    }
    if (!delegate) {
        delegate = session_->delegateFor(Callback::kTaskDidReceiveChallenge);
    }
    if (!delegate) {
        challenge.sender().performDefaultHandling(challenge);
        return;
    }
    auto answer = std::make_shared<Answer<ChallengeReply>>(
        ChallengeReply{UrlSessionAuthChallengeDisposition::kPerformDefaultHandling, {}});
    auto sender = std::make_shared<ReplySender>(answer);
    auto offered = std::make_shared<AuthenticationChallenge>(challenge.protectionSpace(),
                                                             challenge.previousFailureCount(),
                                                             challenge.failureResponse(), *sender);
    auto fallback = std::make_shared<Fallback<ChallengeReply>>(answer);
    UrlSessionChallengeCompletion handler = [fallback, sender, offered](
                                                UrlSessionAuthChallengeDisposition disposition,
                                                std::optional<Credential> credential) {
        fallback->answer->give({disposition, std::move(credential)});
    };
    const bool queued = queue([session = session_, task = task_, delegate, offered, answer,
                               handler = std::move(handler), sessionWide] {
        if (!answer->wanted()) {
            return;
        }
        if (sessionWide) {
            delegate->sessionDidReceiveChallenge(session, *offered, handler);
        } else {
            delegate->taskDidReceiveChallenge(session, task, *offered, handler);
        }
    });
    if (!queued) {
        return;
    }
    const auto reply = waitFor(answer, answerBound(connection.currentRequest()));
    if (!reply) {
        return;
    }
    switch (reply->first) {
        case UrlSessionAuthChallengeDisposition::kUseCredential:
            if (reply->second) {
                challenge.sender().useCredential(*reply->second, challenge);
            } else {
                challenge.sender().continueWithoutCredential(challenge);
            }
            break;
        case UrlSessionAuthChallengeDisposition::kPerformDefaultHandling:
            challenge.sender().performDefaultHandling(challenge);
            break;
        case UrlSessionAuthChallengeDisposition::kCancelAuthenticationChallenge:
            challenge.sender().cancelAuthenticationChallenge(challenge);
            break;
        case UrlSessionAuthChallengeDisposition::kRejectProtectionSpace:
            challenge.sender().continueWithoutCredential(challenge);
            break;
    }
}

std::optional<std::string> SessionTransfer::serverTrustJudgement(UrlConnection&) {
    // The delegate that willSendRequestForAuthenticationChallenge asks names the judgement;
    // with none, the system's trust judges.
    auto delegate = session_->delegateFor(Callback::kSessionDidReceiveChallenge);
    if (!delegate) {
        delegate = session_->delegateFor(Callback::kTaskDidReceiveChallenge);
    }
    return delegate ? delegate->serverTrustJudgement(session_) : ServerTrust::systemAnchorsName();
}

std::optional<UrlRequest> SessionTransfer::willSendRequest(
    UrlConnection& connection, const UrlRequest& request,
    const std::shared_ptr<const UrlResponse>& redirectResponse) {
    const auto delegate = session_->delegateFor(Callback::kTaskWillPerformHttpRedirection);
    auto http = std::dynamic_pointer_cast<const HttpUrlResponse>(redirectResponse);
    if (!delegate || !http) {
        setCurrentRequest(request);
        return request;
    }
    using Reply = std::optional<UrlRequest>;
    auto answer = std::make_shared<Answer<Reply>>(Reply(request));
    auto fallback = std::make_shared<Fallback<Reply>>(answer);
    UrlSessionRedirectCompletion handler = [fallback](Reply next) {
        fallback->answer->give(std::move(next));
    };
    const bool queued = queue([session = session_, task = task_, delegate, http, request, answer,
                               handler = std::move(handler)] {
        if (answer->wanted()) {
            delegate->taskWillPerformHttpRedirection(session, task, http, request, handler);
        }
    });
    if (!queued) {
        return std::nullopt;
    }
    const auto reply = waitFor(answer, answerBound(connection.currentRequest()));
    if (!reply) {
        return std::nullopt;  // the load is being cancelled; this ends it
    }
    if (*reply) {
        setCurrentRequest(**reply);
    }
    return *reply;
}

void SessionTransfer::didSendBodyData(UrlConnection&, std::int64_t bytesWritten,
                                      std::int64_t totalWritten, std::int64_t totalExpected) {
    {
        std::lock_guard lock(inner().mutex);
        inner().sent = totalWritten;
        inner().expectedToSend = totalExpected;
    }
    if (const auto delegate = session_->delegateFor(Callback::kTaskDidSendBodyData)) {
        queue([session = session_, task = task_, delegate, bytesWritten, totalWritten,
               totalExpected] {
            delegate->taskDidSendBodyData(session, task, bytesWritten, totalWritten, totalExpected);
        });
    }
}

void SessionTransfer::didReceiveResponse(UrlConnection&,
                                         const std::shared_ptr<const UrlResponse>& response) {
    {
        std::lock_guard lock(inner().mutex);
        if (inner().ended) {
            return;
        }
        inner().response = response;
        inner().expectedToReceive = response->expectedContentLength();
    }
    if (download_) {
        startFile(*response);
        return;
    }
    if (handler_) {
        return;
    }
    const auto delegate = session_->delegateFor(Callback::kDataTaskDidReceiveResponse);
    if (!delegate) {
        return;
    }
    using Disposition = UrlSessionResponseDisposition;
    auto answer = std::make_shared<Answer<Disposition>>(Disposition::kAllow);
    answer->onAnswer([session = session_, task = task_](const Disposition& disposition) {
        if (disposition == Disposition::kCancel) {
            session->refuseResponse(task);
            return;
        }
        {
            std::lock_guard lock(task->inner_->mutex);
            task->inner_->awaitingDisposition = false;
            applyPause(*task->inner_);
        }
        session->events_->release(task->taskIdentifier());
    });
    auto fallback = std::make_shared<Fallback<Disposition>>(answer);
    UrlSessionResponseCompletion handler = [fallback](Disposition disposition) {
        fallback->answer->give(disposition);
    };
    std::lock_guard lock(inner().mutex);
    if (inner().ended) {
        return;
    }
    inner().awaitingDisposition = true;
    applyPause(inner());
    session_->events_->push(
        task_->taskIdentifier(),
        [session = session_, task = dataTask(), delegate, response, handler = std::move(handler)] {
            delegate->dataTaskDidReceiveResponse(session, task, response, handler);
        },
        true);
}

void SessionTransfer::didReceiveData(UrlConnection&, std::span<const std::uint8_t> bytes) {
    if (!download_ && !handler_) {
        deliverData(bytes);
        return;
    }
    {
        std::lock_guard lock(inner().mutex);
        if (inner().ended) {
            return;
        }
        inner().received += static_cast<std::int64_t>(bytes.size());
    }
    if (download_) {
        writeToFile(bytes);
        return;
    }
    // For the completion handler, within the ceiling.
    const std::size_t most = session_->configuration_.maximumBodyBytesInMemory();
    if (most != 0 && bytes.size() > most - std::min(most, body_.size())) {
        Bytes().swap(body_);
        fail(urlError(kUrlErrorDataLengthExceedsMaximum,
                      "The response's body is larger than the " + std::to_string(most) +
                          " bytes the session keeps in memory.",
                      task_->currentRequest().url()));
        return;
    }
    body_.insert(body_.end(), bytes.begin(), bytes.end());
}

void SessionTransfer::deliverData(std::span<const std::uint8_t> bytes) {
    // The delegate is asked before the lock: its answers are its own code.
    const auto delegate = session_->delegateFor(Callback::kDataTaskDidReceiveData);
    const bool quick =
        delegate && delegate->callbackReturnsAtOnce(Callback::kDataTaskDidReceiveData);
    std::lock_guard lock(inner().mutex);
    if (inner().ended) {
        return;
    }
    inner().received += static_cast<std::int64_t>(bytes.size());
    if (delegate) {
        session_->events_->pushData(
            task_->taskIdentifier(), bytes,
            [session = session_, task = dataTask(), delegate](const Bytes& data) {
                delegate->dataTaskDidReceiveData(session, task, data);
            },
            quick);
    }
}

bool SessionTransfer::respondsToWillCacheResponse() const {
    return !download_ && !handler_ && session_->delegateFor(Callback::kDataTaskWillCacheResponse);
}

std::optional<CachedUrlResponse> SessionTransfer::willCacheResponse(
    UrlConnection&, const CachedUrlResponse& proposed) {
    if (const auto delegate = session_->delegateFor(Callback::kDataTaskWillCacheResponse)) {
        // Nothing caches here: the answer is the delegate's wish and changes nothing.
        queue([session = session_, task = dataTask(), delegate, proposed] {
            delegate->dataTaskWillCacheResponse(session, task, proposed,
                                                [](std::optional<CachedUrlResponse>) {});
        });
    }
    return proposed;
}

void SessionTransfer::didFinishLoading(UrlConnection& connection) {
    if (!download_) {
        session_->finishTask(task_, std::nullopt,
                             handler_ ? std::optional<Bytes>(std::move(body_)) : std::nullopt);
        return;
    }
    closeFile();
    if (file_.empty()) {
        fail(urlError(kUrlErrorCannotCreateFile, "The download was not written to a file.",
                      connection.currentRequest().url()));
        return;
    }
    // Once decided, the delivery of the file removes it; otherwise a cancel raced the end
    // and its own clean-up (discard or resume data) deals with the file.
    if (session_->finishTask(task_, std::nullopt, std::nullopt, file_)) {
        file_.clear();
    }
}

void SessionTransfer::didFailWithError(UrlConnection&, const Error& error) {
    closeFile();
    if (session_->finishTask(task_, error)) {
        discard();
    }
}

void SessionTransfer::discard() {
    closeFile();
    removeFile(file_);
    file_.clear();
    std::lock_guard lock(inner().mutex);
    if (inner().resume) {
        removeFile(inner().resume->file);
    }
}

std::optional<Bytes> SessionTransfer::produceResumeData() {
    closeFile();
    std::shared_ptr<const UrlResponse> response;
    std::optional<UrlSessionTask::Inner::Resume> resume;
    UrlRequest request = task_->originalRequest();
    {
        std::lock_guard lock(inner().mutex);
        response = inner().response;
        resume = inner().resume;
        if (inner().currentRequest) {
            request = *inner().currentRequest;
        }
    }
    if (!responded_) {
        // No response yet: a download made from resume data can go on from the same point.
        if (resume && resume->offset > 0) {
            return resume->resumeData;
        }
        if (resume) {
            removeFile(resume->file);
        }
        return std::nullopt;
    }
    const auto* http = dynamic_cast<const HttpUrlResponse*>(response.get());
    std::optional<std::string> tag;
    std::optional<std::string> date;
    if (http) {
        tag = strongEntityTag(*http);
        date = http->allHeaderFields().value("Last-Modified");
        if (http->statusCode() == 206 && resume && !tag && !date) {
            tag = resume->entityTag;
            date = resume->lastModified;
        }
    }
    const bool resumable = http && (http->statusCode() == 200 || http->statusCode() == 206) &&
                           request.httpMethod() == "GET" && written_ > 0 && !file_.empty() &&
                           ((tag && !tag->empty()) || (date && !date->empty()));
    if (!resumable) {
        removeFile(file_);
        file_.clear();
        return std::nullopt;
    }
    Map plist{{kResumeVersionKey, Value(kResumeVersion)},
              {kResumeUrlKey, Value(request.url().absoluteString())},
              {kResumeBytesKey, Value(written_)},
              {kResumePathKey, Value(file_.string())}};
    if (tag && !tag->empty()) {
        plist.set(kResumeEntityTagKey, Value(*tag));
    }
    if (date && !date->empty()) {
        plist.set(kResumeDateKey, Value(*date));
    }
    auto data = PropertyList::write(Value(std::move(plist)), PropertyList::Format::kBinary);
    if (!data) {
        removeFile(file_);
        file_.clear();
        return std::nullopt;
    }
    file_.clear();  // the resume data owns it now
    return data;
}

std::shared_ptr<UrlSessionDataTask> SessionTransfer::dataTask() const {
    return std::static_pointer_cast<UrlSessionDataTask>(task_);
}

std::shared_ptr<UrlSessionDownloadTask> SessionTransfer::downloadTask() const {
    return std::static_pointer_cast<UrlSessionDownloadTask>(task_);
}

bool SessionTransfer::queue(std::function<void()> run) {
    std::lock_guard lock(inner().mutex);
    if (inner().ended) {
        return false;
    }
    session_->events_->push(task_->taskIdentifier(), std::move(run));
    return true;
}

void SessionTransfer::setCurrentRequest(const UrlRequest& request) {
    std::lock_guard lock(inner().mutex);
    inner().currentRequest = request;
}

template <class T>
std::optional<T> SessionTransfer::waitFor(const std::shared_ptr<Answer<T>>& answer,
                                          double seconds) {
    {
        std::lock_guard lock(inner().mutex);
        if (inner().ended) {
            return std::nullopt;
        }
        inner().waiting = answer;
    }
    auto reply = answer->wait(seconds);
    bool cancelled = false;
    {
        std::lock_guard lock(inner().mutex);
        inner().waiting.reset();
        cancelled = inner().ended;
    }
    if (!reply && !cancelled) {
        fail(urlError(kUrlErrorTimedOut,
                      "The request timed out: the session's delegate did not answer in time.",
                      task_->currentRequest().url()));
    }
    return cancelled ? std::nullopt : reply;
}

void SessionTransfer::fail(const Error& error) {
    std::shared_ptr<UrlConnection> connection;
    {
        std::lock_guard lock(inner().mutex);
        connection = inner().connection;
    }
    if (connection) {
        connection->cancel();
    }
    closeFile();
    if (session_->finishTask(task_, error)) {
        discard();
    }
}

void SessionTransfer::startFile(const UrlResponse& response) {
    responded_ = true;
    const auto* http = dynamic_cast<const HttpUrlResponse*>(&response);
    const int status = http ? http->statusCode() : 0;
    std::optional<UrlSessionTask::Inner::Resume> resume;
    Url url = response.url();
    {
        std::lock_guard lock(inner().mutex);
        resume = inner().resume;
    }
    std::int64_t offset = 0;
    if (resume && resume->offset > 0 && status == 206) {
        const auto start = contentRangeStart(*http);
        if (!start || *start != resume->offset) {
            fail(urlError(kUrlErrorBadServerResponse,
                          "The server sent a part of the file that does not continue the "
                          "download.",
                          url));
            return;
        }
        fd_ = ::open(resume->file.c_str(), O_WRONLY | O_NOFOLLOW | O_CLOEXEC);
        struct stat info {};
        if (fd_ < 0 || ::fstat(fd_, &info) != 0 || info.st_size < resume->offset ||
            ::ftruncate(fd_, resume->offset) != 0 || ::lseek(fd_, resume->offset, SEEK_SET) < 0) {
            const int problem = errno;
            fail(fileError(kUrlErrorCannotCreateFile,
                           "The partly downloaded file cannot be opened again.", url, problem,
                           resume->file));
            return;
        }
        file_ = resume->file;
        offset = resume->offset;
    } else {
        if (resume) {
            removeFile(resume->file);  // its part is of no use now
        }
        std::error_code ignored;
        std::filesystem::create_directories(downloadFolder(), ignored);
        std::string pattern =
            (downloadFolder() / kDownloadFilePrefix).string() + "XXXXXX" + kDownloadFileSuffix;
        fd_ = ::mkstemps(pattern.data(), static_cast<int>(std::strlen(kDownloadFileSuffix)));
        if (fd_ < 0) {
            const int problem = errno;
            fail(fileError(kUrlErrorCannotCreateFile,
                           "The download's temporary file cannot be made.", url, problem,
                           downloadFolder()));
            return;
        }
        ::fcntl(fd_, F_SETFD, FD_CLOEXEC);
        file_ = pattern;
    }
    written_ = offset;
    const std::int64_t expected = response.expectedContentLength();
    expectedTotal_ = expected >= 0 ? offset + expected : kUrlSessionTransferSizeUnknown;
    if (resume && !handler_) {
        if (const auto delegate = session_->delegateFor(Callback::kDownloadTaskDidResume)) {
            queue([session = session_, task = downloadTask(), delegate, offset,
                   total = expectedTotal_] {
                delegate->downloadTaskDidResume(session, task, offset, total);
            });
        }
    }
}

void SessionTransfer::writeToFile(std::span<const std::uint8_t> bytes) {
    if (fd_ < 0) {
        return;
    }
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            const int problem = n < 0 ? errno : ENOSPC;
            fail(fileError(kUrlErrorCannotWriteToFile,
                           "The downloaded data cannot be written to its file.",
                           task_->currentRequest().url(), problem, file_));
            return;
        }
        done += static_cast<std::size_t>(n);
    }
    written_ += static_cast<std::int64_t>(bytes.size());
    if (handler_) {
        return;
    }
    if (const auto delegate = session_->delegateFor(Callback::kDownloadTaskDidWriteData)) {
        queue([session = session_, task = downloadTask(), delegate,
               n = static_cast<std::int64_t>(bytes.size()), total = written_,
               expected = expectedTotal_] {
            delegate->downloadTaskDidWriteData(session, task, n, total, expected);
        });
    }
}

void SessionTransfer::closeFile() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

}  // namespace platform::detail
