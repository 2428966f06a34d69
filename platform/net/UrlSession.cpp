#include "platform/net/UrlSession.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <set>
#include <span>
#include <stdexcept>
#include <system_error>

#include "platform/AppFolders.h"
#include "platform/Format.h"
#include "platform/PropertyList.h"
#include "platform/TaskGuard.h"
#include "platform/net/NetworkThread.h"
#include "platform/net/UrlConnection.h"
#include "platform/net/detail/UrlSessionInternals.h"

namespace platform {

namespace {

using Body = UrlSessionTask::Inner::Body;
using Callback = UrlSessionDelegateCallback;

constexpr const char* kDownloadFilePrefix = "UrlSessionDownload-";
constexpr const char* kDownloadFileSuffix = ".tmp";
// Events one operation of the delegate queue runs before it makes way for the queue's other
// operations (a queue of width 1 shared with its owner's own work).
constexpr int kEventsPerOperation = 32;

constexpr const char* kResumeVersionKey = "NSURLSessionResumeInfoVersion";
constexpr const char* kResumeUrlKey = "NSURLSessionDownloadURL";
constexpr const char* kResumeBytesKey = "NSURLSessionResumeBytesReceived";
constexpr const char* kResumePathKey = "NSURLSessionResumeInfoLocalPath";
constexpr const char* kResumeEntityTagKey = "NSURLSessionResumeEntityTag";
constexpr const char* kResumeDateKey = "NSURLSessionResumeServerDownloadDate";
constexpr std::int64_t kResumeVersion = 1;

Error urlError(long code, const std::string& description, const Url& url) {
    return Error(kUrlErrorDomain, code,
                 Map{{kLocalizedDescriptionKey, Value(description)},
                     {kUrlErrorFailingUrlErrorKey, Value(url.absoluteString())},
                     {kUrlErrorFailingUrlStringErrorKey, Value(url.absoluteString())}});
}

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

std::optional<std::int64_t> parseCount(std::string_view text) {
    if (text.empty() || text.size() > 18) {
        return std::nullopt;
    }
    std::int64_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        value = value * 10 + (c - '0');
    }
    return value;
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

// The folder of downloads in progress.
std::filesystem::path downloadFolder() {
    return AppFolders::temporary();
}

// Whether the path is a download file of ours: a plain file with our name, right in the
// folder of downloads. Resume data comes from outside, and must not make us write elsewhere.
bool isOurDownloadFile(const std::filesystem::path& path) {
    std::error_code error;
    const std::string name = path.filename().string();
    if (name.rfind(kDownloadFilePrefix, 0) != 0 || name.size() < std::strlen(kDownloadFileSuffix) ||
        name.compare(name.size() - std::strlen(kDownloadFileSuffix), std::string::npos,
                     kDownloadFileSuffix) != 0) {
        return false;
    }
    const auto folder = std::filesystem::weakly_canonical(downloadFolder(), error);
    if (error || std::filesystem::weakly_canonical(path.parent_path(), error) != folder || error) {
        return false;
    }
    return std::filesystem::symlink_status(path, error).type() ==
               std::filesystem::file_type::regular &&
           !error;
}

void removeFile(const std::filesystem::path& path) {
    if (!path.empty()) {
        std::error_code ignored;
        std::filesystem::remove(path, ignored);
    }
}

void runCallback(const std::function<void()>& call) {
    detail::runGuarded("a URL session callback", call);
}

// Pauses the task's transfer while it is suspended or waits for a response disposition.
// Under the task's lock.
void applyPause(UrlSessionTask::Inner& inner) {
    const bool pause = inner.state == UrlSessionTaskState::kSuspended || inner.awaitingDisposition;
    if (inner.connection && !inner.ended && pause != inner.connectionPaused) {
        inner.connectionPaused = pause;
        if (pause) {
            inner.connection->suspend();
        } else {
            inner.connection->resume();
        }
    }
}

// One answer from the delegate: the first one given counts.
template <class T>
class Answer final : public detail::Abandonable {
  public:
    explicit Answer(T fallback) : fallback_(std::move(fallback)) {}

    void give(T value) {
        std::function<void(const T&)> then;
        {
            std::lock_guard lock(mutex_);
            if (value_) {
                return;
            }
            value_ = std::move(value);
            then = std::move(then_);
        }
        changed_.notify_all();
        if (then) {
            runCallback([&] { then(*value_); });
        }
    }
    void giveFallback() { give(fallback_); }

    // Runs `then` with the answer once it is given (at once when it was).
    void onAnswer(std::function<void(const T&)> then) {
        {
            std::lock_guard lock(mutex_);
            if (!value_) {
                then_ = std::move(then);
                return;
            }
        }
        runCallback([&] { then(*value_); });
    }

    // The answer, or nullopt when the time ran out or the wait was abandoned first; either
    // way nobody waits for it any more.
    std::optional<T> wait(double seconds) {
        std::unique_lock lock(mutex_);
        changed_.wait_for(lock, std::chrono::duration<double>(seconds),
                          [&] { return value_.has_value() || abandoned_; });
        abandoned_ = true;
        return value_;
    }

    // Whether someone still waits for the answer: a question whose wait is over is not put.
    bool wanted() {
        std::lock_guard lock(mutex_);
        return !abandoned_ && !value_;
    }

    void abandon() override {
        {
            std::lock_guard lock(mutex_);
            abandoned_ = true;
        }
        changed_.notify_all();
    }

  private:
    const T fallback_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::optional<T> value_;
    bool abandoned_ = false;
    std::function<void(const T&)> then_;
};

// Kept by every copy of a completion handler: when the last copy goes without having been
// called, the handler counts as answered with the default.
template <class T>
struct Fallback {
    explicit Fallback(std::shared_ptr<Answer<T>> a) : answer(std::move(a)) {}
    ~Fallback() { answer->giveFallback(); }
    Fallback(const Fallback&) = delete;
    Fallback& operator=(const Fallback&) = delete;
    std::shared_ptr<Answer<T>> answer;
};

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

// --- the session's events ----------------------------------------------------------------

namespace detail {

// The session's callbacks in the order they happened, handed to the delegate queue by one
// operation at a time, so that they run one by one whatever the queue's width. A task's
// events can be held back (while its response waits for a disposition) without holding back
// the others'.
class SessionEvents : public std::enable_shared_from_this<SessionEvents> {
  public:
    explicit SessionEvents(std::shared_ptr<OperationQueue> queue) : queue_(std::move(queue)) {}

    // An event of the task (0: of the session). With holdAfter, the task's later events wait,
    // from the moment this one starts, until release().
    void push(std::uint64_t task, std::function<void()> run, bool holdAfter = false) {
        {
            std::lock_guard lock(mutex_);
            events_.push_back(Event{task, holdAfter, nullptr, std::move(run)});
        }
        schedule();
    }

    // Received bytes of the task: joined to its previous bytes while those still wait at the
    // end of the queue, so that a slow delegate gets fewer, larger pieces.
    void pushData(std::uint64_t task, std::span<const std::uint8_t> bytes,
                  std::function<void(const Bytes&)> deliver) {
        {
            std::lock_guard lock(mutex_);
            if (!events_.empty() && events_.back().task == task && events_.back().data) {
                Bytes& pending = *events_.back().data;
                pending.insert(pending.end(), bytes.begin(), bytes.end());
                return;
            }
            auto data = std::make_shared<Bytes>(bytes.begin(), bytes.end());
            events_.push_back(
                Event{task, false, data, [data, deliver = std::move(deliver)] { deliver(*data); }});
        }
        schedule();
    }

    void release(std::uint64_t task) {
        {
            std::lock_guard lock(mutex_);
            held_.erase(task);
        }
        schedule();
    }

    // Drops the task's waiting events (its handlers get their default answers, here, outside
    // the lock).
    void purge(std::uint64_t task) {
        std::vector<Event> dropped;
        {
            std::lock_guard lock(mutex_);
            held_.erase(task);
            for (auto it = events_.begin(); it != events_.end();) {
                if (it->task == task) {
                    dropped.push_back(std::move(*it));
                    it = events_.erase(it);
                } else {
                    ++it;
                }
            }
        }
        dropped.clear();
        schedule();
    }

  private:
    struct Event {
        std::uint64_t task;
        bool holdAfter;
        std::shared_ptr<Bytes> data;  // set for received bytes that more may join
        std::function<void()> run;
    };

    // Under the lock.
    std::deque<Event>::iterator firstRunnable() {
        if (held_.empty()) {
            return events_.begin();
        }
        for (auto it = events_.begin(); it != events_.end(); ++it) {
            if (it->task == 0 || !held_.contains(it->task)) {
                return it;
            }
        }
        return events_.end();
    }

    void schedule() {
        {
            std::lock_guard lock(mutex_);
            if (draining_ || firstRunnable() == events_.end()) {
                return;
            }
            draining_ = true;
        }
        addOperation();
    }

    void addOperation() {
        auto ran = std::make_shared<std::atomic<bool>>(false);
        auto operation = BlockOperation::create([self = shared_from_this(), ran] {
            ran->store(true);
            self->drain();
        });
        // Someone cancelled the queue's operations before this one ran: the events are still
        // due, so another operation takes them.
        operation->setCompletionBlock([weak = weak_from_this(), ran] {
            const auto self = weak.lock();
            if (self && !ran->load()) {
                {
                    std::lock_guard lock(self->mutex_);
                    self->draining_ = false;
                }
                self->schedule();
            }
        });
        queue_->addOperation(operation);
    }

    void drain() {
        for (int n = 0; n < kEventsPerOperation; ++n) {
            Event event;
            {
                std::lock_guard lock(mutex_);
                const auto it = firstRunnable();
                if (it == events_.end()) {
                    draining_ = false;
                    return;
                }
                event = std::move(*it);
                events_.erase(it);
                if (event.holdAfter) {
                    held_.insert(event.task);
                }
            }
            runCallback(event.run);
        }
        {
            std::lock_guard lock(mutex_);
            if (firstRunnable() == events_.end()) {
                draining_ = false;
                return;
            }
        }
        addOperation();
    }

    const std::shared_ptr<OperationQueue> queue_;
    std::mutex mutex_;
    std::deque<Event> events_;
    std::set<std::uint64_t> held_;
    bool draining_ = false;  // an operation is on the delegate queue, or running
};

// --- one task's load, on the network thread ----------------------------------------------

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
        UrlConnection& connection, const AuthenticationChallenge& challenge) override {
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
        auto offered = std::make_shared<AuthenticationChallenge>(
            challenge.protectionSpace(), challenge.previousFailureCount(),
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

    std::optional<UrlRequest> willSendRequest(
        UrlConnection& connection, const UrlRequest& request,
        const std::shared_ptr<const UrlResponse>& redirectResponse) override {
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
        const bool queued = queue([session = session_, task = task_, delegate, http, request,
                                   answer, handler = std::move(handler)] {
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

    void didSendBodyData(UrlConnection&, std::int64_t bytesWritten, std::int64_t totalWritten,
                         std::int64_t totalExpected) override {
        {
            std::lock_guard lock(inner().mutex);
            inner().sent = totalWritten;
            inner().expectedToSend = totalExpected;
        }
        if (const auto delegate = session_->delegateFor(Callback::kTaskDidSendBodyData)) {
            queue([session = session_, task = task_, delegate, bytesWritten, totalWritten,
                   totalExpected] {
                delegate->taskDidSendBodyData(session, task, bytesWritten, totalWritten,
                                              totalExpected);
            });
        }
    }

    void didReceiveResponse(UrlConnection&,
                            const std::shared_ptr<const UrlResponse>& response) override {
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
            [session = session_, task = dataTask(), delegate, response,
             handler = std::move(handler)] {
                delegate->dataTaskDidReceiveResponse(session, task, response, handler);
            },
            true);
    }

    void didReceiveData(UrlConnection&, std::span<const std::uint8_t> bytes) override {
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
        if (handler_) {
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
            return;
        }
        const auto delegate = session_->delegateFor(Callback::kDataTaskDidReceiveData);
        if (!delegate) {
            return;
        }
        std::lock_guard lock(inner().mutex);
        if (!inner().ended) {
            session_->events_->pushData(
                task_->taskIdentifier(), bytes,
                [session = session_, task = dataTask(), delegate](const Bytes& data) {
                    delegate->dataTaskDidReceiveData(session, task, data);
                });
        }
    }

    std::optional<CachedUrlResponse> willCacheResponse(UrlConnection&,
                                                       const CachedUrlResponse& proposed) override {
        if (download_ || handler_) {
            return proposed;
        }
        if (const auto delegate = session_->delegateFor(Callback::kDataTaskWillCacheResponse)) {
            // Nothing caches here: the answer is the delegate's wish and changes nothing.
            queue([session = session_, task = dataTask(), delegate, proposed] {
                delegate->dataTaskWillCacheResponse(session, task, proposed,
                                                    [](std::optional<CachedUrlResponse>) {});
            });
        }
        return proposed;
    }

    void didFinishLoading(UrlConnection& connection) override {
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

    void didFailWithError(UrlConnection&, const Error& error) override {
        closeFile();
        if (session_->finishTask(task_, error)) {
            discard();
        }
    }

    // After a cancel or a failure (network thread): the partial file goes, and the one the
    // task was resumed from.
    void discard() {
        closeFile();
        removeFile(file_);
        file_.clear();
        std::lock_guard lock(inner().mutex);
        if (inner().resume) {
            removeFile(inner().resume->file);
        }
    }

    // After a cancel (network thread): the data to go on with, keeping the partial file, or
    // nullopt (and the file goes) when the download cannot be resumed.
    std::optional<Bytes> produceResumeData() {
        closeFile();
        std::shared_ptr<const UrlResponse> response;
        std::optional<UrlSessionTask::Inner::Resume> resume;
        UrlRequest request = task_->originalRequest();
        {
            std::lock_guard lock(inner().mutex);
            response = inner().response;
            resume = inner().resume;
            request = inner().currentRequest;
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

  private:
    UrlSessionTask::Inner& inner() { return *task_->inner_; }

    std::shared_ptr<UrlSessionDataTask> dataTask() const {
        return std::static_pointer_cast<UrlSessionDataTask>(task_);
    }
    std::shared_ptr<UrlSessionDownloadTask> downloadTask() const {
        return std::static_pointer_cast<UrlSessionDownloadTask>(task_);
    }

    // Queues an event of the task unless its end was decided.
    bool queue(std::function<void()> run) {
        std::lock_guard lock(inner().mutex);
        if (inner().ended) {
            return false;
        }
        session_->events_->push(task_->taskIdentifier(), std::move(run));
        return true;
    }

    void setCurrentRequest(const UrlRequest& request) {
        std::lock_guard lock(inner().mutex);
        inner().currentRequest = request;
    }

    // Waits on the network thread for the delegate's answer. nullopt: the task was cancelled
    // meanwhile, or the answer did not come in time (the task then fails with a time-out).
    template <class T>
    std::optional<T> waitFor(const std::shared_ptr<Answer<T>>& answer, double seconds) {
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

    // Ends the task with the error from here (network thread).
    void fail(const Error& error) {
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

    void startFile(const UrlResponse& response) {
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
                ::ftruncate(fd_, resume->offset) != 0 ||
                ::lseek(fd_, resume->offset, SEEK_SET) < 0) {
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

    void writeToFile(std::span<const std::uint8_t> bytes) {
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

    void closeFile() {
        if (fd_ >= 0) {
            ::close(fd_);
            fd_ = -1;
        }
    }

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

}  // namespace detail

// --- the session -------------------------------------------------------------------------

void UrlSessionDelegate::sessionDidReceiveChallenge(const std::shared_ptr<UrlSession>&,
                                                    const AuthenticationChallenge&,
                                                    UrlSessionChallengeCompletion completion) {
    completion(UrlSessionAuthChallengeDisposition::kPerformDefaultHandling, std::nullopt);
}

void UrlSessionDelegate::taskWillPerformHttpRedirection(
    const std::shared_ptr<UrlSession>&, const std::shared_ptr<UrlSessionTask>&,
    const std::shared_ptr<const HttpUrlResponse>&, const UrlRequest& newRequest,
    UrlSessionRedirectCompletion completion) {
    completion(newRequest);
}

void UrlSessionDelegate::taskDidReceiveChallenge(const std::shared_ptr<UrlSession>&,
                                                 const std::shared_ptr<UrlSessionTask>&,
                                                 const AuthenticationChallenge&,
                                                 UrlSessionChallengeCompletion completion) {
    completion(UrlSessionAuthChallengeDisposition::kPerformDefaultHandling, std::nullopt);
}

void UrlSessionDelegate::taskNeedNewBodyStream(const std::shared_ptr<UrlSession>&,
                                               const std::shared_ptr<UrlSessionTask>& task,
                                               UrlSessionBodyStreamCompletion completion) {
    const auto& stream = task->originalRequest().httpBodyStream();
    completion(stream && stream->streamStatus() == StreamStatus::kNotOpen ? stream : nullptr);
}

void UrlSessionDelegate::dataTaskDidReceiveResponse(const std::shared_ptr<UrlSession>&,
                                                    const std::shared_ptr<UrlSessionDataTask>&,
                                                    const std::shared_ptr<const UrlResponse>&,
                                                    UrlSessionResponseCompletion completion) {
    completion(UrlSessionResponseDisposition::kAllow);
}

void UrlSessionDelegate::dataTaskWillCacheResponse(const std::shared_ptr<UrlSession>&,
                                                   const std::shared_ptr<UrlSessionDataTask>&,
                                                   const CachedUrlResponse& proposed,
                                                   UrlSessionCacheCompletion completion) {
    completion(proposed);
}

std::shared_ptr<UrlSession> UrlSession::create(const UrlSessionConfiguration& configuration,
                                               std::shared_ptr<UrlSessionDelegate> delegate,
                                               std::shared_ptr<OperationQueue> delegateQueue) {
    if (!delegateQueue) {
        delegateQueue = std::make_shared<OperationQueue>();
        delegateQueue->setMaxConcurrentOperationCount(1);
        delegateQueue->setName("UrlSession delegate queue");
    }
    return std::shared_ptr<UrlSession>(
        new UrlSession(configuration, std::move(delegate), std::move(delegateQueue)));
}

UrlSession::UrlSession(const UrlSessionConfiguration& configuration,
                       std::shared_ptr<UrlSessionDelegate> delegate,
                       std::shared_ptr<OperationQueue> delegateQueue)
    : configuration_(configuration),
      delegateQueue_(std::move(delegateQueue)),
      events_(std::make_shared<detail::SessionEvents>(delegateQueue_)),
      delegate_(std::move(delegate)) {}

UrlSession::~UrlSession() = default;

UrlSessionConfiguration UrlSession::configuration() const {
    return configuration_;
}

std::shared_ptr<UrlSessionDelegate> UrlSession::delegate() const {
    std::lock_guard lock(mutex_);
    return delegate_;
}

std::string UrlSession::description() const {
    return format("<UrlSession: %p>", static_cast<const void*>(this));
}

std::shared_ptr<UrlSessionDelegate> UrlSession::delegateFor(Callback callback) const {
    std::shared_ptr<UrlSessionDelegate> delegate;
    {
        std::lock_guard lock(mutex_);
        delegate = delegate_;
    }
    return delegate && delegate->respondsTo(callback) ? delegate : nullptr;
}

// --- making tasks --------------------------------------------------------------------------

template <class T>
std::shared_ptr<T> UrlSession::addTask(const UrlRequest& request,
                                       const std::function<void(UrlSessionTask::Inner&)>& setUp) {
    constexpr auto kind = std::is_same_v<T, UrlSessionDownloadTask>
                              ? UrlSessionTask::Kind::kDownload
                          : std::is_same_v<T, UrlSessionUploadTask> ? UrlSessionTask::Kind::kUpload
                                                                    : UrlSessionTask::Kind::kData;
    std::lock_guard lock(mutex_);
    if (validity_ != Validity::kValid) {
        throw std::logic_error("Task created in a session that has been invalidated");
    }
    auto task = std::shared_ptr<T>(new T(kind, nextIdentifier_++, request, shared_from_this()));
    UrlSessionTask::Inner& inner = *task->inner_;
    if (const auto& body = request.httpBody()) {
        inner.expectedToSend = static_cast<std::int64_t>(body->size());
    } else if (request.httpBodyStream()) {
        const auto length = request.valueForHttpHeaderField("Content-Length");
        inner.expectedToSend = length ? parseCount(*length).value_or(kUrlSessionTransferSizeUnknown)
                                      : kUrlSessionTransferSizeUnknown;
    }
    if (setUp) {
        setUp(inner);
    }
    tasks_.emplace(task->taskIdentifier(), task);
    return task;
}

std::shared_ptr<UrlSessionDataTask> UrlSession::dataTaskWithRequest(const UrlRequest& request) {
    return addTask<UrlSessionDataTask>(request, nullptr);
}

std::shared_ptr<UrlSessionDataTask> UrlSession::dataTaskWithRequest(
    const UrlRequest& request, UrlSessionDataCompletion completion) {
    return addTask<UrlSessionDataTask>(request, [&](UrlSessionTask::Inner& inner) {
        inner.dataCompletion = std::move(completion);
    });
}

std::shared_ptr<UrlSessionUploadTask> UrlSession::uploadTaskWithRequest(const UrlRequest& request,
                                                                        const Url& fromFile) {
    return uploadTaskWithRequest(request, fromFile, UrlSessionDataCompletion());
}

std::shared_ptr<UrlSessionUploadTask> UrlSession::uploadTaskWithRequest(
    const UrlRequest& request, const Url& fromFile, UrlSessionDataCompletion completion) {
    if (!fromFile.isFileUrl()) {
        throw std::invalid_argument("Invalid parameter not satisfying: fromFile.isFileUrl()");
    }
    return addTask<UrlSessionUploadTask>(request, [&](UrlSessionTask::Inner& inner) {
        inner.body = Body::kFile;
        inner.uploadFile = fromFile.path();
        std::error_code error;
        const auto size = std::filesystem::file_size(inner.uploadFile, error);
        inner.expectedToSend =
            error ? kUrlSessionTransferSizeUnknown : static_cast<std::int64_t>(size);
        inner.dataCompletion = std::move(completion);
    });
}

std::shared_ptr<UrlSessionUploadTask> UrlSession::uploadTaskWithRequest(const UrlRequest& request,
                                                                        Bytes fromData) {
    return uploadTaskWithRequest(request, std::move(fromData), UrlSessionDataCompletion());
}

std::shared_ptr<UrlSessionUploadTask> UrlSession::uploadTaskWithRequest(
    const UrlRequest& request, Bytes fromData, UrlSessionDataCompletion completion) {
    return addTask<UrlSessionUploadTask>(request, [&](UrlSessionTask::Inner& inner) {
        inner.body = Body::kData;
        inner.expectedToSend = static_cast<std::int64_t>(fromData.size());
        inner.uploadData = std::move(fromData);
        inner.dataCompletion = std::move(completion);
    });
}

std::shared_ptr<UrlSessionUploadTask> UrlSession::uploadTaskWithStreamedRequest(
    const UrlRequest& request) {
    return addTask<UrlSessionUploadTask>(request, [&](UrlSessionTask::Inner& inner) {
        inner.body = Body::kStream;
        const auto length = request.valueForHttpHeaderField("Content-Length");
        inner.expectedToSend = length ? parseCount(*length).value_or(kUrlSessionTransferSizeUnknown)
                                      : kUrlSessionTransferSizeUnknown;
    });
}

std::shared_ptr<UrlSessionDownloadTask> UrlSession::downloadTaskWithRequest(
    const UrlRequest& request) {
    return addTask<UrlSessionDownloadTask>(request, nullptr);
}

std::shared_ptr<UrlSessionDownloadTask> UrlSession::downloadTaskWithRequest(
    const UrlRequest& request, UrlSessionDownloadCompletion completion) {
    return addTask<UrlSessionDownloadTask>(request, [&](UrlSessionTask::Inner& inner) {
        inner.downloadCompletion = std::move(completion);
    });
}

std::shared_ptr<UrlSessionDownloadTask> UrlSession::downloadTaskWithResumeData(
    const Bytes& resumeData) {
    return downloadTaskWithResumeData(resumeData, UrlSessionDownloadCompletion());
}

std::shared_ptr<UrlSessionDownloadTask> UrlSession::downloadTaskWithResumeData(
    const Bytes& resumeData, UrlSessionDownloadCompletion completion) {
    const std::optional<Value> plist = PropertyList::read(resumeData);
    const Value& urlText = plist ? (*plist)[kResumeUrlKey] : Value::null();
    std::optional<Url> url = urlText.isString() ? Url::parse(*urlText.string()) : std::nullopt;
    if (url && ((url->scheme() != "http" && url->scheme() != "https") || url->host().empty())) {
        url.reset();
    }
    if (!url) {
        // No load can come of it: the task fails as soon as it is resumed.
        const Url nothing = *Url::parse("");
        return addTask<UrlSessionDownloadTask>(
            UrlRequest(nothing), [&](UrlSessionTask::Inner& inner) {
                inner.creationError =
                    urlError(kUrlErrorBadUrl,
                             "The resume data names no http or https URL to resume from.", nothing);
                inner.downloadCompletion = std::move(completion);
            });
    }
    UrlSessionTask::Inner::Resume resume;
    resume.resumeData = resumeData;
    const Value& tag = (*plist)[kResumeEntityTagKey];
    const Value& date = (*plist)[kResumeDateKey];
    if (tag.isString() && !tag.string()->empty()) {
        resume.entityTag = *tag.string();
    }
    if (date.isString() && !date.string()->empty()) {
        resume.lastModified = *date.string();
    }
    const Value& path = (*plist)[kResumePathKey];
    const Value& bytes = (*plist)[kResumeBytesKey];
    if (path.isString() && isOurDownloadFile(*path.string())) {
        resume.file = *path.string();
        std::error_code error;
        const auto size = std::filesystem::file_size(resume.file, error);
        // A count past the signed range is held unsigned, and is no offset of any file.
        const std::int64_t offset = bytes.integer() ? *bytes.integer() : 0;
        if (!error && offset > 0 && static_cast<std::uintmax_t>(offset) <= size &&
            (resume.entityTag || resume.lastModified)) {
            resume.offset = offset;
        }
    }
    return addTask<UrlSessionDownloadTask>(UrlRequest(*url), [&](UrlSessionTask::Inner& inner) {
        inner.resume = std::move(resume);
        inner.downloadCompletion = std::move(completion);
    });
}

// --- running tasks -------------------------------------------------------------------------

bool UrlSession::resumeTask(const std::shared_ptr<UrlSessionTask>& task, bool& start) {
    UrlSessionTask::Inner& inner = *task->inner_;
    std::lock_guard lock(inner.mutex);
    if (inner.ended || inner.state != UrlSessionTaskState::kSuspended) {
        return false;
    }
    inner.state = UrlSessionTaskState::kRunning;
    if (!inner.started) {
        inner.started = true;
        start = true;
    } else {
        applyPause(inner);
    }
    return true;
}

bool UrlSession::suspendTask(const std::shared_ptr<UrlSessionTask>& task) {
    UrlSessionTask::Inner& inner = *task->inner_;
    std::lock_guard lock(inner.mutex);
    if (inner.ended || inner.state != UrlSessionTaskState::kRunning) {
        return false;
    }
    inner.state = UrlSessionTaskState::kSuspended;
    applyPause(inner);
    return true;
}

void UrlSession::startTask(const std::shared_ptr<UrlSessionTask>& task) {
    UrlSessionTask::Inner& inner = *task->inner_;
    UrlRequest request = configuration_.applyTo(task->originalRequest());
    Body body;
    std::optional<Error> creationError;
    std::optional<UrlSessionTask::Inner::Resume> resume;
    {
        std::lock_guard lock(inner.mutex);
        if (inner.ended) {
            return;
        }
        body = inner.body;
        creationError = inner.creationError;
        resume = inner.resume;
        if (body == Body::kData) {
            request.setHttpBody(inner.uploadData);
        }
        inner.currentRequest = request;
    }
    if (creationError) {
        finishTask(task, *creationError);
        return;
    }
    const Url& url = request.url();
    if (url.scheme().empty() || url.host().empty()) {
        finishTask(task, urlError(kUrlErrorBadUrl,
                                  "The URL is not valid: it names no scheme or no host.", url));
        return;
    }
    switch (body) {
        case Body::kRequest:
        case Body::kData:
            break;
        case Body::kFile: {
            std::error_code error;
            const auto path = task->inner_->uploadFile;
            const bool regular = std::filesystem::is_regular_file(path, error);
            const auto size = regular ? std::filesystem::file_size(path, error) : 0;
            if (!regular || error || ::access(path.c_str(), R_OK) != 0) {
                finishTask(task,
                           urlError(kUrlErrorFileDoesNotExist,
                                    "The file to upload does not exist or cannot be read.", url));
                return;
            }
            request.setHttpBodyStream(InputStream::withFile(path));
            if (!request.valueForHttpHeaderField("Content-Length")) {
                request.setValue(std::to_string(size), "Content-Length");
            }
            std::lock_guard lock(inner.mutex);
            inner.expectedToSend = static_cast<std::int64_t>(size);
            break;
        }
        case Body::kStream:
            askForBodyStream(task, std::move(request));
            return;
    }
    if (resume && resume->offset > 0) {
        request.setValue("bytes=" + std::to_string(resume->offset) + "-", "Range");
        request.setValue(resume->entityTag ? *resume->entityTag : *resume->lastModified,
                         "If-Range");
    }
    startConnection(task, std::move(request));
}

void UrlSession::askForBodyStream(const std::shared_ptr<UrlSessionTask>& task, UrlRequest request) {
    auto noStream = [url = request.url()] {
        return urlError(kUrlErrorRequestBodyStreamExhausted,
                        "The streamed upload was given no body stream to send.", url);
    };
    // The default: the request's own stream, while nobody has read it.
    using Reply = std::shared_ptr<InputStream>;
    const Reply& own = task->originalRequest().httpBodyStream();
    const Reply unread = own && own->streamStatus() == StreamStatus::kNotOpen ? own : nullptr;
    const auto delegate = delegateFor(Callback::kTaskNeedNewBodyStream);
    if (!delegate) {
        if (!unread) {
            finishTask(task, noStream());
            return;
        }
        request.setHttpBodyStream(unread);
        startConnection(task, std::move(request));
        return;
    }
    auto answer = std::make_shared<Answer<Reply>>(unread);
    answer->onAnswer(
        [self = shared_from_this(), task, request, noStream](const Reply& stream) mutable {
            if (!stream) {
                self->finishTask(task, noStream());
                return;
            }
            request.setHttpBodyStream(stream);
            self->startConnection(task, std::move(request));
        });
    auto fallback = std::make_shared<Fallback<Reply>>(answer);
    UrlSessionBodyStreamCompletion handler = [fallback](Reply stream) {
        fallback->answer->give(std::move(stream));
    };
    std::lock_guard lock(task->inner_->mutex);
    if (task->inner_->ended) {
        return;
    }
    events_->push(task->taskIdentifier(),
                  [self = shared_from_this(), task, delegate, handler = std::move(handler)] {
                      delegate->taskNeedNewBodyStream(self, task, handler);
                  });
}

void UrlSession::startConnection(const std::shared_ptr<UrlSessionTask>& task, UrlRequest request) {
    UrlSessionTask::Inner& inner = *task->inner_;
    std::lock_guard lock(inner.mutex);
    if (inner.ended) {
        return;
    }
    auto transfer = std::make_shared<detail::SessionTransfer>(shared_from_this(), task,
                                                              inner.hasCompletionHandler());
    inner.currentRequest = request;
    inner.connection = UrlConnection::create(request, transfer);
    inner.transfer = std::move(transfer);
    applyPause(inner);
    inner.connection->start();
}

bool UrlSession::finishTask(const std::shared_ptr<UrlSessionTask>& task, std::optional<Error> error,
                            std::optional<Bytes> body,
                            std::optional<std::filesystem::path> downloadedFile) {
    UrlSessionTask::Inner& inner = *task->inner_;
    std::lock_guard lock(inner.mutex);
    if (inner.ended) {
        return false;
    }
    inner.ended = true;
    inner.state = UrlSessionTaskState::kCompleted;
    inner.error = error;
    const auto self = shared_from_this();
    const std::uint64_t id = task->taskIdentifier();
    if (downloadedFile && !inner.downloadCompletion) {
        events_->push(
            id, [self, task, file = *downloadedFile] { self->deliverDownloadedFile(task, file); });
    }
    events_->push(id,
                  [self, task, body = std::move(body), file = std::move(downloadedFile)]() mutable {
                      self->deliverCompletion(task, std::move(body), file);
                  });
    return true;
}

void UrlSession::deliverDownloadedFile(const std::shared_ptr<UrlSessionTask>& task,
                                       const std::filesystem::path& file) {
    if (const auto delegate = delegateFor(Callback::kDownloadTaskDidFinishDownloading)) {
        runCallback([&] {
            delegate->downloadTaskDidFinishDownloading(
                shared_from_this(), std::static_pointer_cast<UrlSessionDownloadTask>(task),
                Url::fileUrl(file));
        });
    }
    removeFile(file);
}

void UrlSession::deliverCompletion(const std::shared_ptr<UrlSessionTask>& task,
                                   std::optional<Bytes> body,
                                   const std::optional<std::filesystem::path>& downloadedFile) {
    UrlSessionTask::Inner& inner = *task->inner_;
    UrlSessionDataCompletion dataCompletion;
    UrlSessionDownloadCompletion downloadCompletion;
    std::shared_ptr<const UrlResponse> response;
    std::optional<Error> error;
    std::shared_ptr<UrlConnection> connection;
    std::shared_ptr<detail::SessionTransfer> transfer;
    {
        std::lock_guard lock(inner.mutex);
        inner.state = UrlSessionTaskState::kCompleted;
        dataCompletion = std::move(inner.dataCompletion);
        downloadCompletion = std::move(inner.downloadCompletion);
        response = inner.response;
        error = inner.error;
        // The task no longer needs its load: this breaks the cycle task - transfer - task.
        connection = std::move(inner.connection);
        transfer = std::move(inner.transfer);
        inner.waiting.reset();
    }
    const auto self = shared_from_this();
    if (dataCompletion) {
        std::optional<Bytes> data;
        if (!error) {
            data = body ? std::move(*body) : Bytes();
        }
        runCallback([&] { dataCompletion(std::move(data), response, error); });
    } else if (downloadCompletion) {
        std::optional<Url> location;
        if (!error && downloadedFile) {
            location = Url::fileUrl(*downloadedFile);
        }
        runCallback([&] { downloadCompletion(location, response, error); });
        if (downloadedFile) {
            removeFile(*downloadedFile);
        }
    } else if (const auto delegate = delegateFor(Callback::kTaskDidComplete)) {
        runCallback([&] { delegate->taskDidComplete(self, task, error); });
    }
    {
        std::lock_guard lock(mutex_);
        tasks_.erase(task->taskIdentifier());
    }
    becomeInvalidIfDone();
}

void UrlSession::cancelTask(const std::shared_ptr<UrlSessionTask>& task,
                            std::function<void(std::optional<Bytes>)> resumeDataHandler) {
    UrlSessionTask::Inner& inner = *task->inner_;
    std::shared_ptr<UrlConnection> connection;
    std::shared_ptr<detail::SessionTransfer> transfer;
    std::shared_ptr<detail::Abandonable> waiting;
    std::optional<UrlSessionTask::Inner::Resume> resume;
    {
        std::lock_guard lock(inner.mutex);
        if (inner.ended) {
            if (resumeDataHandler) {
                events_->push(0,
                              [handler = std::move(resumeDataHandler)] { handler(std::nullopt); });
            }
            return;
        }
        inner.ended = true;
        inner.state = UrlSessionTaskState::kCanceling;
        inner.error = urlError(kUrlErrorCancelled, "cancelled", inner.currentRequest.url());
        inner.awaitingDisposition = false;
        connection = inner.connection;
        transfer = inner.transfer;
        waiting = inner.waiting;
        resume = inner.resume;
    }
    // Nothing of the task that waits reaches the delegate any more.
    events_->purge(task->taskIdentifier());
    if (waiting) {
        waiting->abandon();
    }
    if (connection) {
        connection->cancel();
    }
    const auto self = shared_from_this();
    auto queueCompletion = [self, task](std::function<void(std::optional<Bytes>)> handler,
                                        std::optional<Bytes> resumeData) {
        UrlSessionTask::Inner& in = *task->inner_;
        std::lock_guard lock(in.mutex);
        if (resumeData && in.error) {
            in.error->userInfo().set(kUrlSessionDownloadTaskResumeData, Value(*resumeData));
        }
        const std::uint64_t id = task->taskIdentifier();
        if (handler) {
            self->events_->push(
                id, [handler = std::move(handler), resumeData] { handler(resumeData); });
        }
        self->events_->push(id, [self, task] { self->deliverCompletion(task, std::nullopt, {}); });
    };
    if (transfer && task->kind_ == UrlSessionTask::Kind::kDownload) {
        // The file belongs to the network thread; the cancel's clean-up runs there, after any
        // callback of the load that is under way.
        NetworkThread::shared().post(
            [transfer, queueCompletion, handler = std::move(resumeDataHandler)]() mutable {
                std::optional<Bytes> resumeData;
                if (handler) {
                    resumeData = transfer->produceResumeData();
                } else {
                    transfer->discard();
                }
                queueCompletion(std::move(handler), std::move(resumeData));
            });
        return;
    }
    std::optional<Bytes> resumeData;
    if (resume) {
        // Never started: the resume data it was made from is still good, or its file goes.
        if (resumeDataHandler && resume->offset > 0) {
            resumeData = resume->resumeData;
        } else {
            removeFile(resume->file);
        }
    }
    queueCompletion(std::move(resumeDataHandler), std::move(resumeData));
}

void UrlSession::refuseResponse(const std::shared_ptr<UrlSessionTask>& task) {
    UrlSessionTask::Inner& inner = *task->inner_;
    bool endedByItself = false;
    {
        std::lock_guard lock(inner.mutex);
        if (inner.ended) {
            if (inner.state != UrlSessionTaskState::kCompleted) {
                return;  // cancelled meanwhile
            }
            // The load ended while the delegate made up its mind; its end waits behind the
            // answer, undelivered, and becomes a cancel like any other.
            inner.state = UrlSessionTaskState::kCanceling;
            inner.error = urlError(kUrlErrorCancelled, "cancelled", inner.currentRequest.url());
            endedByItself = true;
        }
    }
    if (!endedByItself) {
        cancelTask(task, nullptr);
        return;
    }
    events_->purge(task->taskIdentifier());
    events_->push(task->taskIdentifier(), [self = shared_from_this(), task] {
        self->deliverCompletion(task, std::nullopt, std::nullopt);
    });
}

// --- listing and invalidation ----------------------------------------------------------------

void UrlSession::getTasksWithCompletionHandler(TaskLists handler) {
    if (!handler) {
        return;
    }
    events_->push(0, [self = shared_from_this(), handler = std::move(handler)] {
        std::vector<std::shared_ptr<UrlSessionTask>> all;
        {
            std::lock_guard lock(self->mutex_);
            for (const auto& [id, task] : self->tasks_) {
                all.push_back(task);
            }
        }
        std::vector<std::shared_ptr<UrlSessionDataTask>> data;
        std::vector<std::shared_ptr<UrlSessionUploadTask>> upload;
        std::vector<std::shared_ptr<UrlSessionDownloadTask>> download;
        for (const auto& task : all) {
            if (task->state() == UrlSessionTaskState::kCompleted) {
                continue;
            }
            switch (task->kind_) {
                case UrlSessionTask::Kind::kData:
                    data.push_back(std::static_pointer_cast<UrlSessionDataTask>(task));
                    break;
                case UrlSessionTask::Kind::kUpload:
                    upload.push_back(std::static_pointer_cast<UrlSessionUploadTask>(task));
                    break;
                case UrlSessionTask::Kind::kDownload:
                    download.push_back(std::static_pointer_cast<UrlSessionDownloadTask>(task));
                    break;
            }
        }
        handler(std::move(data), std::move(upload), std::move(download));
    });
}

void UrlSession::finishTasksAndInvalidate() {
    {
        std::lock_guard lock(mutex_);
        if (validity_ == Validity::kValid) {
            validity_ = Validity::kFinishing;
        }
    }
    becomeInvalidIfDone();
}

void UrlSession::invalidateAndCancel() {
    std::vector<std::shared_ptr<UrlSessionTask>> tasks;
    {
        std::lock_guard lock(mutex_);
        if (validity_ == Validity::kValid) {
            validity_ = Validity::kFinishing;
        }
        for (const auto& [id, task] : tasks_) {
            tasks.push_back(task);
        }
    }
    for (const auto& task : tasks) {
        cancelTask(task, nullptr);
    }
    becomeInvalidIfDone();
}

void UrlSession::becomeInvalidIfDone() {
    {
        std::lock_guard lock(mutex_);
        if (validity_ != Validity::kFinishing || !tasks_.empty() || invalidQueued_) {
            return;
        }
        invalidQueued_ = true;
    }
    events_->push(0, [self = shared_from_this()] {
        if (const auto delegate = self->delegateFor(Callback::kSessionDidBecomeInvalid)) {
            runCallback([&] { delegate->sessionDidBecomeInvalid(self, std::nullopt); });
        }
        std::shared_ptr<UrlSessionDelegate> released;
        {
            std::lock_guard lock(self->mutex_);
            self->validity_ = Validity::kInvalid;
            released = std::move(self->delegate_);
        }
    });
}

}  // namespace platform
