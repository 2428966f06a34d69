#include "platform/net/UrlSessionTask.h"

#include "platform/Format.h"
#include "platform/NotificationCenter.h"
#include "platform/net/UrlSession.h"
#include "platform/net/detail/UrlSessionInternals.h"

namespace platform {

namespace {

const char* stateName(UrlSessionTaskState state) {
    switch (state) {
        case UrlSessionTaskState::kRunning:
            return "running";
        case UrlSessionTaskState::kSuspended:
            return "suspended";
        case UrlSessionTaskState::kCanceling:
            return "canceling";
        case UrlSessionTaskState::kCompleted:
            return "completed";
    }
    return "unknown";
}

}  // namespace

UrlSessionTask::UrlSessionTask(Kind kind, std::uint64_t identifier, UrlRequest originalRequest,
                               const std::shared_ptr<UrlSession>& session)
    : kind_(kind),
      identifier_(identifier),
      originalRequest_(std::move(originalRequest)),
      inner_(std::make_unique<Inner>(session)) {}

UrlSessionTask::~UrlSessionTask() = default;

std::optional<std::string> UrlSessionTask::taskDescription() const {
    std::lock_guard lock(inner_->mutex);
    return inner_->description;
}

void UrlSessionTask::setTaskDescription(std::optional<std::string> description) {
    std::lock_guard lock(inner_->mutex);
    inner_->description = std::move(description);
}

UrlRequest UrlSessionTask::currentRequest() const {
    std::lock_guard lock(inner_->mutex);
    return inner_->current(originalRequest_);
}

std::shared_ptr<const UrlResponse> UrlSessionTask::response() const {
    std::lock_guard lock(inner_->mutex);
    return inner_->response;
}

UrlSessionTaskState UrlSessionTask::state() const {
    std::lock_guard lock(inner_->mutex);
    return inner_->state;
}

std::optional<Error> UrlSessionTask::error() const {
    std::lock_guard lock(inner_->mutex);
    return inner_->error;
}

std::int64_t UrlSessionTask::countOfBytesSent() const {
    std::lock_guard lock(inner_->mutex);
    return inner_->sent;
}

std::int64_t UrlSessionTask::countOfBytesExpectedToSend() const {
    std::lock_guard lock(inner_->mutex);
    return inner_->expectedToSend;
}

std::int64_t UrlSessionTask::countOfBytesReceived() const {
    std::lock_guard lock(inner_->mutex);
    return inner_->received;
}

std::int64_t UrlSessionTask::countOfBytesExpectedToReceive() const {
    std::lock_guard lock(inner_->mutex);
    return inner_->expectedToReceive;
}

void UrlSessionTask::resume() {
    const auto session = inner_->session.lock();
    if (!session) {
        return;
    }
    const auto self = shared_from_this();
    bool start = false;
    if (!session->resumeTask(self, start)) {
        return;
    }
    NotificationCenter::defaultCenter().post(kUrlSessionTaskDidResumeNotification,
                                             static_cast<const UrlSessionTask*>(this));
    if (start) {
        session->startTask(self);
    }
}

void UrlSessionTask::suspend() {
    const auto session = inner_->session.lock();
    if (session && session->suspendTask(shared_from_this())) {
        NotificationCenter::defaultCenter().post(kUrlSessionTaskDidSuspendNotification,
                                                 static_cast<const UrlSessionTask*>(this));
    }
}

void UrlSessionTask::cancel() {
    if (const auto session = inner_->session.lock()) {
        session->cancelTask(shared_from_this(), nullptr);
    }
}

void UrlSessionDownloadTask::cancelByProducingResumeData(
    std::function<void(std::optional<Bytes>)> handler) {
    if (!handler) {
        handler = [](std::optional<Bytes>) {};
    }
    if (const auto session = inner_->session.lock()) {
        session->cancelTask(shared_from_this(), std::move(handler));
    } else {
        handler(std::nullopt);
    }
}

std::string UrlSessionTask::description() const {
    const char* kind = kind_ == Kind::kData     ? "UrlSessionDataTask"
                       : kind_ == Kind::kUpload ? "UrlSessionUploadTask"
                                                : "UrlSessionDownloadTask";
    return format("<%s: %p> { taskIdentifier: %llu, state: %s }", kind,
                  static_cast<const void*>(this), static_cast<unsigned long long>(identifier_),
                  stateName(state()));
}

}  // namespace platform
