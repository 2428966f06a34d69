#include "platform/net/UrlSession.h"

#include <cstring>
#include <stdexcept>
#include <system_error>
#include <utility>

#include "platform/AppFolders.h"
#include "platform/Format.h"
#include "platform/PropertyList.h"
#include "platform/TaskGuard.h"
#include "platform/net/NetworkThread.h"
#include "platform/net/UrlConnection.h"
#include "platform/net/detail/SessionAnswer.h"
#include "platform/net/detail/SessionEvents.h"
#include "platform/net/detail/SessionTransfer.h"
#include "platform/net/detail/UrlErrors.h"
#include "platform/net/detail/UrlSessionInternals.h"

namespace platform {

namespace {

using Body = UrlSessionTask::Inner::Body;
using Callback = UrlSessionDelegateCallback;
using detail::Answer;
using detail::applyPause;
using detail::Fallback;
using detail::isOurDownloadFile;
using detail::kResumeBytesKey;
using detail::kResumeDateKey;
using detail::kResumeEntityTagKey;
using detail::kResumePathKey;
using detail::kResumeUrlKey;
using detail::parseCount;
using detail::removeFile;
using detail::runCallback;
using detail::urlError;

[[noreturn]] void refuseTask() {
    throw std::logic_error("Task created in a session that has been invalidated");
}

}  // namespace

namespace detail {

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
    runGuarded("a URL session callback", call);
}

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
    return delegate_.get();
}

std::string UrlSession::description() const {
    return format("<UrlSession: %p>", static_cast<const void*>(this));
}

std::shared_ptr<UrlSessionDelegate> UrlSession::delegateFor(Callback callback) const {
    auto delegate = delegate_.get();
    if (delegate && !delegate->respondsTo(callback)) {
        delegate.reset();
    }
    return delegate;
}

bool UrlSession::returnsAtOnce(Callback callback) const {
    const auto delegate = delegateFor(callback);
    return !delegate || delegate->callbackReturnsAtOnce(callback);
}

// --- making tasks --------------------------------------------------------------------------

template <class T>
std::shared_ptr<T> UrlSession::addTask(const UrlRequest& request,
                                       const std::function<void(UrlSessionTask::Inner&)>& setUp) {
    constexpr auto kind = std::is_same_v<T, UrlSessionDownloadTask>
                              ? UrlSessionTask::Kind::kDownload
                          : std::is_same_v<T, UrlSessionUploadTask> ? UrlSessionTask::Kind::kUpload
                                                                    : UrlSessionTask::Kind::kData;
    // The task is made outside the lock, which the network thread takes too.
    std::uint64_t identifier;
    {
        std::lock_guard lock(mutex_);
        if (validity_ != Validity::kValid) {
            refuseTask();
        }
        identifier = nextIdentifier_++;
    }
    auto task = std::shared_ptr<T>(new T(kind, identifier, request, shared_from_this()));
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
    std::lock_guard lock(mutex_);
    if (validity_ != Validity::kValid) {
        refuseTask();  // invalidated meanwhile: the task is let go unlisted, as if never made
    }
    tasks_.emplace(identifier, task);
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
    inner.connection = UrlConnection::create(request, transfer);
    inner.currentRequest = std::move(request);
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
    inner.error = std::move(error);
    const auto self = shared_from_this();
    const std::uint64_t id = task->taskIdentifier();
    if (downloadedFile && !inner.downloadCompletion) {
        events_->push(
            id, [self, task, file = *downloadedFile] { self->deliverDownloadedFile(task, file); });
    }
    // A completion handler is the app's code; a delegate's callback may return at once.
    const bool quick = !downloadedFile && !inner.hasCompletionHandler() &&
                       returnsAtOnce(Callback::kTaskDidComplete);
    events_->push(
        id,
        [self, task, body = std::move(body), file = std::move(downloadedFile)]() mutable {
            self->deliverCompletion(task, std::move(body), file);
        },
        false, quick);
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
    std::unique_lock lock(mutex_);
    tasks_.erase(task->taskIdentifier());
    becomeInvalidIfDone(lock);
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
        inner.error =
            urlError(kUrlErrorCancelled, "cancelled", inner.current(task->originalRequest()).url());
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
            inner.error = urlError(kUrlErrorCancelled, "cancelled",
                                   inner.current(task->originalRequest()).url());
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
    std::unique_lock lock(mutex_);
    becomeInvalidIfDone(lock);
}

void UrlSession::becomeInvalidIfDone(std::unique_lock<std::mutex>& held) {
    if (validity_ != Validity::kFinishing || !tasks_.empty() || invalidQueued_) {
        return;
    }
    invalidQueued_ = true;
    held.unlock();
    events_->push(0, [self = shared_from_this()] {
        if (const auto delegate = self->delegateFor(Callback::kSessionDidBecomeInvalid)) {
            runCallback([&] { delegate->sessionDidBecomeInvalid(self, std::nullopt); });
        }
        {
            std::lock_guard lock(self->mutex_);
            self->validity_ = Validity::kInvalid;
        }
        // Let go outside any lock: the delegate's destructor is the app's code.
        const auto released =
            self->delegate_.with([](auto& delegate) { return std::exchange(delegate, nullptr); });
    });
}

}  // namespace platform
