#include "SocialSDK/framework/network/RAZududeURLConnectionOperation.h"

#include <cerrno>
#include <utility>

#include "SocialSDK/framework/network/RAZududeCharsetNames.h"
#include "SocialSDK/framework/network/RAZududeSecurityPolicy.h"
#include "platform/Bundle.h"
#include "platform/Format.h"
#include "platform/NotificationCenter.h"
#include "platform/net/UrlSessionTask.h"

using platform::Bytes;
using platform::Error;
using platform::Map;
using platform::UrlRequest;
using platform::UrlResponse;
using platform::Value;

namespace {

constexpr const char* kStringsTable = "RAZududeNetworking";

std::string localized(std::string_view key) {
    return platform::Bundle::mainBundle().localizedString(key, "", kStringsTable);
}

bool transitionAllowed(std::int64_t from, std::int64_t to, bool cancelled) {
    using Op = RAZududeURLConnectionOperation;
    switch (from) {
        case Op::kReady:
            return to == Op::kPaused || to == Op::kExecuting || (to == Op::kFinished && cancelled);
        case Op::kExecuting:
            return to == Op::kPaused || to == Op::kFinished;
        case Op::kPaused:
            return to == Op::kReady;
        case Op::kFinished:
            return false;
        default:
            return to == Op::kPaused || to == Op::kReady || to == Op::kExecuting ||
                   to == Op::kFinished;
    }
}

// Posted only when someone observes the name as the operation gets there: an observer added
// later comes after the event the notification tells of.
void postOnMainQueue(const char* name, std::shared_ptr<RAZududeURLConnectionOperation> operation) {
    if (!platform::NotificationCenter::defaultCenter().hasObservers(name)) {
        return;
    }
    platform::DispatchQueue::main()->async([name, operation = std::move(operation)] {
        platform::NotificationCenter::defaultCenter().post(name, operation.get());
    });
}

Error failingUrlError(const char* domain, long code, const UrlRequest& request,
                      std::optional<std::string> description = std::nullopt) {
    Map userInfo;
    if (description) {
        userInfo.set(platform::kLocalizedDescriptionKey, Value(*description));
    }
    if (!request.url().absoluteString().empty()) {
        userInfo.set(platform::kUrlErrorFailingUrlErrorKey, Value(request.url().absoluteString()));
    }
    return Error(domain, code, std::move(userInfo));
}

}  // namespace

// ---------------------------------------------------------------------------------------

std::shared_ptr<RAZududeURLConnectionOperation> RAZududeURLConnectionOperation::create(
    UrlRequest request) {
    return std::make_shared<RAZududeURLConnectionOperation>(std::move(request));
}

RAZududeURLConnectionOperation::RAZududeURLConnectionOperation(UrlRequest request)
    : request_(std::move(request)), securityPolicy_(RAZududeSecurityPolicy::defaultPolicy()) {}

RAZududeURLConnectionOperation::~RAZududeURLConnectionOperation() {
    if (outputStream_) {
        outputStream_->close();
    }
}

platform::NetworkThread& RAZududeURLConnectionOperation::networkRequestThread() {
    return platform::NetworkThread::shared();
}

std::shared_ptr<RAZududeURLConnectionOperation> RAZududeURLConnectionOperation::sharedSelf() {
    return std::static_pointer_cast<RAZududeURLConnectionOperation>(shared_from_this());
}

// --- state ---------------------------------------------------------------------------------

const char* RAZududeURLConnectionOperation::stateKey(std::int64_t state) {
    switch (state) {
        case kPaused:
            return "isPaused";
        case kReady:
            return "isReady";
        case kExecuting:
            return "isExecuting";
        case kFinished:
            return "isFinished";
        default:
            return "state";
    }
}

void RAZududeURLConnectionOperation::setState(State state) {
    std::lock_guard lock(lock_);
    if (!transitionAllowed(state_, state, isCancelled())) {
        return;
    }
    state_ = state;
    // The queue and the operations that depend on this one learn the state through the
    // platform's own bookkeeping.
    switch (state) {
        case kExecuting:
            setExecuting(true);
            break;
        case kPaused:
        case kReady:
            setExecuting(false);
            break;
        case kFinished:
            platform::Operation::finish();
            break;
    }
}

RAZududeURLConnectionOperation::State RAZududeURLConnectionOperation::state() const {
    std::lock_guard lock(lock_);
    return state_;
}

bool RAZududeURLConnectionOperation::isPaused() const {
    return state() == kPaused;
}

bool RAZududeURLConnectionOperation::isReady() const {
    std::lock_guard lock(lock_);
    return state_ == kReady && platform::Operation::isReady();
}

void RAZududeURLConnectionOperation::start() {
    auto self = sharedSelf();
    std::lock_guard lock(lock_);
    if (isCancelled()) {
        networkRequestThread().post([self] { self->cancelConnection(); });
    } else if (isReady()) {
        setState(kExecuting);
        networkRequestThread().post([self, run = run_] { self->operationDidStart(run); });
    }
}

void RAZududeURLConnectionOperation::operationDidStart(std::uint64_t run) {
    bool streamFailed = false;
    {
        std::lock_guard lock(lock_);
        if (run != run_) {
            // Paused before the load was set up: the run that resumed it sets up its own.
            return;
        }
        if (!isCancelled()) {
            auto stream = outputStreamLocked();
            stream->open();
            if (stream->streamStatus() == platform::StreamStatus::kError) {
                // Nothing received could be kept: fail now rather than after the whole load.
                streamFailed = true;
                error_ = stream->streamError().value_or(
                    Error(platform::kPosixErrorDomain, EIO,
                          Map{{platform::kLocalizedDescriptionKey,
                               Value(localized("The output stream could not be opened."))}}));
            } else {
                connectionRun_ = run;
                connection_ = platform::UrlConnection::create(
                    request_,
                    std::shared_ptr<platform::UrlConnectionDelegate>(
                        sharedSelf(), static_cast<platform::UrlConnectionDelegate*>(this)));
                connection_->start();
            }
        }
    }
    postOnMainQueue(RAZududeNetworkingOperationDidStartNotification, sharedSelf());
    if (streamFailed) {
        std::lock_guard lock(lock_);
        outputStream_->close();
        finish();
    }
}

void RAZududeURLConnectionOperation::finish() {
    auto self = sharedSelf();
    std::lock_guard lock(lock_);
    if (!transitionAllowed(state_, kFinished, isCancelled())) {
        return;
    }
    // Posted before the completion block is handed to its queue, so that on the main queue the
    // notification comes first.
    postOnMainQueue(RAZududeNetworkingOperationDidFinishNotification, self);
    setState(kFinished);
}

void RAZududeURLConnectionOperation::cancel() {
    auto self = sharedSelf();
    std::lock_guard lock(lock_);
    if (isFinished() || isCancelled()) {
        return;
    }
    platform::Operation::cancel();
    if (state_ == kPaused) {
        // Nothing runs that would end a paused operation: it ends here, finished with the
        // cancellation like any other, so that its completion runs and its queue drains.
        setState(kReady);
        networkRequestThread().post([self] { self->cancelConnection(); });
    } else if (state_ == kExecuting) {
        networkRequestThread().post([self] { self->cancelConnection(); });
    }
}

void RAZududeURLConnectionOperation::cancelConnection() {
    auto self = sharedSelf();
    std::lock_guard lock(lock_);
    if (state_ == kFinished) {
        return;
    }
    const Error error =
        failingUrlError(platform::kUrlErrorDomain, platform::kUrlErrorCancelled, request_);
    if (connection_) {
        failConnection(error);
    } else {
        error_ = error;
        finish();
    }
}

void RAZududeURLConnectionOperation::pause() {
    auto self = sharedSelf();
    std::lock_guard lock(lock_);
    if (state_ == kPaused || state_ == kFinished || isCancelled()) {
        return;
    }
    if (state_ == kExecuting) {
        networkRequestThread().post([self] { self->operationDidPause(); });
        postOnMainQueue(RAZududeNetworkingOperationDidFinishNotification, self);
    }
    ++run_;
    setState(kPaused);
    if (state_ == kPaused) {
        request_ = requestToResume(request_);
    }
}

void RAZududeURLConnectionOperation::operationDidPause() {
    std::lock_guard lock(lock_);
    if (connection_) {
        connection_->cancel();
        connection_.reset();
    }
}

void RAZududeURLConnectionOperation::resume() {
    std::lock_guard lock(lock_);
    if (state_ != kPaused) {
        return;
    }
    setState(kReady);
    start();
}

// --- completion ------------------------------------------------------------------------------

void RAZududeURLConnectionOperation::setCompletionBlock(std::function<void()> block) {
    std::lock_guard lock(lock_);
    if (!block || isFinished()) {
        // A finished operation never runs a block again: keep nothing.
        callerCompletion_ = nullptr;
        platform::Operation::setCompletionBlock(nullptr);
        return;
    }
    callerCompletion_ = std::move(block);
    std::weak_ptr<RAZududeURLConnectionOperation> weak =
        std::static_pointer_cast<RAZududeURLConnectionOperation>(weak_from_this().lock());
    // Runs when the operation finishes, while the operation keeps itself alive. It takes the
    // caller's block out, so that nothing holds the block once it ran, and the task it posts
    // holds the operation until the block has run, so that the block always finds it.
    platform::Operation::setCompletionBlock([weak] {
        auto self = weak.lock();
        if (!self) {
            return;
        }
        std::function<void()> callerBlock;
        {
            std::lock_guard selfLock(self->lock_);
            callerBlock = std::exchange(self->callerCompletion_, nullptr);
        }
        if (callerBlock) {
            auto queue = self->completionQueue();
            if (!queue) {
                queue = platform::DispatchQueue::main();
            }
            platform::asyncInGroup(self->completionGroup(), queue,
                                   [self, callerBlock = std::move(callerBlock)] { callerBlock(); });
        }
    });
}

// --- accessors -------------------------------------------------------------------------------

UrlRequest RAZududeURLConnectionOperation::request() const {
    std::lock_guard lock(lock_);
    return request_;
}

void RAZududeURLConnectionOperation::setRequest(UrlRequest request) {
    std::lock_guard lock(lock_);
    request_ = std::move(request);
}

std::shared_ptr<const UrlResponse> RAZududeURLConnectionOperation::response() const {
    std::lock_guard lock(lock_);
    return response_;
}

std::optional<Error> RAZududeURLConnectionOperation::error() const {
    std::lock_guard lock(lock_);
    return error_;
}

std::optional<Bytes> RAZududeURLConnectionOperation::responseData() const {
    std::lock_guard lock(lock_);
    return responseData_;
}

rzs_network::StringEncoding RAZududeURLConnectionOperation::responseStringEncoding() const {
    std::lock_guard lock(lock_);
    if (responseStringEncoding_ == 0 && response_) {
        std::optional<rzs_network::StringEncoding> encoding;
        if (const auto& name = response_->textEncodingName()) {
            encoding = RAZududeStringEncodingForIANACharsetName(*name);
        }
        responseStringEncoding_ = encoding.value_or(rzs_network::kUTF8StringEncoding);
    }
    return responseStringEncoding_;
}

std::optional<std::string> RAZududeURLConnectionOperation::responseString() const {
    std::lock_guard lock(lock_);
    if (!responseString_ && response_ && responseData_) {
        // The charset the encoding came from decodes the bytes: the same charset, also where
        // the platform numbers it without a converter of its own here.
        const auto& name = response_->textEncodingName();
        if (name && RAZududeStringEncodingForIANACharsetName(*name)) {
            responseString_ = rzs_network::decodeText(*responseData_, *name);
        } else {
            responseString_ = rzs_network::decodeText(*responseData_, responseStringEncoding());
        }
    }
    return responseString_.value_or(std::nullopt);
}

std::shared_ptr<platform::InputStream> RAZududeURLConnectionOperation::inputStream() const {
    std::lock_guard lock(lock_);
    return request_.httpBodyStream();
}

void RAZududeURLConnectionOperation::setInputStream(std::shared_ptr<platform::InputStream> stream) {
    std::lock_guard lock(lock_);
    request_.setHttpBodyStream(std::move(stream));
}

std::shared_ptr<platform::OutputStream> RAZududeURLConnectionOperation::outputStreamLocked() const {
    if (!outputStream_) {
        outputStream_ = platform::OutputStream::toMemory();
    }
    return outputStream_;
}

std::shared_ptr<platform::OutputStream> RAZududeURLConnectionOperation::outputStream() const {
    std::lock_guard lock(lock_);
    return outputStreamLocked();
}

void RAZududeURLConnectionOperation::setOutputStream(
    std::shared_ptr<platform::OutputStream> stream) {
    std::lock_guard lock(lock_);
    if (stream == outputStream_) {
        return;
    }
    if (outputStream_) {
        outputStream_->close();
    }
    outputStream_ = std::move(stream);
}

std::uint64_t RAZududeURLConnectionOperation::bytesWrittenToOutputStream() const {
    std::lock_guard lock(lock_);
    if (!outputStream_) {
        return 0;
    }
    if (const auto held = outputStream_->bytesHeldInMemory()) {
        return *held;
    }
    const Value offset = outputStream_->propertyForKey(platform::kStreamFileCurrentOffsetKey);
    return offset.isInteger() ? static_cast<std::uint64_t>(offset.integerValue()) : 0;
}

// --- connection delegate (network thread) ----------------------------------------------------

bool RAZududeURLConnectionOperation::isCurrentConnection(
    const platform::UrlConnection& connection) const {
    // A paused operation takes nothing more from the connection it is about to cancel: the
    // bytes it counted when it paused are where its resumed request starts.
    return &connection == connection_.get() && state_ == kExecuting && connectionRun_ == run_;
}

std::optional<std::string> RAZududeURLConnectionOperation::serverTrustJudgement(
    platform::UrlConnection&) {
    if (authenticationChallenge_.get()) {
        return std::nullopt;
    }
    const auto policy = securityPolicy();
    return policy ? std::optional(policy->serverTrustJudgement()) : std::nullopt;
}

void RAZududeURLConnectionOperation::willSendRequestForAuthenticationChallenge(
    platform::UrlConnection& connection, const platform::AuthenticationChallenge& challenge) {
    if (auto block = authenticationChallenge_.get()) {
        block(connection, challenge);
        return;
    }
    const platform::ProtectionSpace& space = challenge.protectionSpace();
    platform::AuthenticationChallengeSender& sender = challenge.sender();
    if (space.authenticationMethod() == platform::kAuthenticationMethodServerTrust) {
        const auto policy = securityPolicy();
        if (const auto trusted = policy ? policy->credentialForServerTrust(space) : std::nullopt) {
            sender.useCredential(*trusted, challenge);
        } else {
            sender.cancelAuthenticationChallenge(challenge);
        }
        return;
    }
    if (const auto offered = credential(); challenge.previousFailureCount() == 0 && offered) {
        sender.useCredential(*offered, challenge);
    } else {
        sender.continueWithoutCredential(challenge);
    }
}

bool RAZududeURLConnectionOperation::connectionShouldUseCredentialStorage(
    platform::UrlConnection&) {
    return shouldUseCredentialStorage();
}

std::optional<UrlRequest> RAZududeURLConnectionOperation::willSendRequest(
    platform::UrlConnection& connection, const UrlRequest& request,
    const std::shared_ptr<const UrlResponse>& redirectResponse) {
    if (auto block = redirectResponse_.get()) {
        return block(connection, request, redirectResponse);
    }
    return request;
}

void RAZududeURLConnectionOperation::didSendBodyData(platform::UrlConnection&,
                                                     std::int64_t bytesWritten,
                                                     std::int64_t totalBytesWritten,
                                                     std::int64_t totalBytesExpectedToWrite) {
    platform::DispatchQueue::main()->async(
        [self = sharedSelf(), bytesWritten, totalBytesWritten, totalBytesExpectedToWrite] {
            if (auto block = self->uploadProgress_.get()) {
                block(static_cast<std::size_t>(bytesWritten), totalBytesWritten,
                      totalBytesExpectedToWrite);
            }
        });
}

void RAZududeURLConnectionOperation::didReceiveResponse(
    platform::UrlConnection& connection, const std::shared_ptr<const UrlResponse>& response) {
    auto self = sharedSelf();
    std::lock_guard lock(lock_);
    if (!isCurrentConnection(connection)) {
        return;
    }
    response_ = response;
    restartBodyForFullResponse(response);
}

// A resumed request asks for the bytes after those already received. A server that answers
// with anything but 206 sends a body of its own from its first byte: appending it to the part
// already kept would glue two bodies together, so the body starts again.
void RAZududeURLConnectionOperation::restartBodyForFullResponse(
    const std::shared_ptr<const UrlResponse>& response) {
    auto http = std::dynamic_pointer_cast<const platform::HttpUrlResponse>(response);
    if (!http || http->statusCode() == 206 || !request_.valueForHttpHeaderField("Range") ||
        bytesWrittenToOutputStream() == 0) {
        return;
    }
    auto stream = outputStreamLocked();
    if (!stream->bytesHeldInMemory()) {
        // A file or a caller's stream cannot be emptied from here.
        failConnection(failingUrlError(
            platform::kUrlErrorDomain, platform::kUrlErrorBadServerResponse, request_,
            localized("The server sent the whole body again instead of the requested range; "
                      "it cannot be written after the part already received.")));
        return;
    }
    stream->close();
    outputStream_ = platform::OutputStream::toMemory();
    outputStream_->open();
    platform::DispatchQueue::main()->async([self = sharedSelf()] { self->totalBytesRead_ = 0; });
}

void RAZududeURLConnectionOperation::didReceiveData(platform::UrlConnection& connection,
                                                    std::span<const std::uint8_t> data) {
    auto self = sharedSelf();
    std::int64_t expected = -1;
    {
        std::lock_guard lock(lock_);
        if (!isCurrentConnection(connection)) {
            return;
        }
        auto stream = outputStreamLocked();
        const auto held = stream->bytesHeldInMemory();
        const std::size_t most = maximumResponseDataLength();
        if (held && most != 0 && data.size() > most - std::min(most, *held)) {
            failConnection(failingUrlError(
                platform::kUrlErrorDomain, platform::kUrlErrorDataLengthExceedsMaximum, request_,
                "The response's body is larger than the " + std::to_string(most) +
                    " bytes the operation keeps in memory."));
            // What was gathered goes with the stream; a new one is made if asked for.
            outputStream_.reset();
            return;
        }
        std::size_t written = 0;
        while (written < data.size()) {
            // Streams here never wait for a reader: one without space now never gets any, and
            // a write that takes nothing would take nothing again.
            long count = -1;
            if (stream->hasSpaceAvailable()) {
                count = stream->write(data.data() + written, data.size() - written);
            }
            if (count <= 0) {
                failConnection(stream->streamError().value_or(
                    Error(platform::kPosixErrorDomain, ENOSPC,
                          Map{{platform::kLocalizedDescriptionKey,
                               Value(localized("The output stream has no space for the received "
                                               "data."))}})));
                return;
            }
            written += static_cast<std::size_t>(count);
        }
        expected = response_ ? response_->expectedContentLength() : -1;
    }
    const std::size_t length = data.size();
    platform::DispatchQueue::main()->async([self, length, expected] {
        const std::int64_t total = self->totalBytesRead_ += static_cast<std::int64_t>(length);
        if (auto block = self->downloadProgress_.get()) {
            block(length, total, expected);
        }
    });
}

bool RAZududeURLConnectionOperation::respondsToWillCacheResponse() const {
    return cacheResponse_.with(
        [](const CacheResponseBlock& block) { return static_cast<bool>(block); });
}

std::optional<platform::CachedUrlResponse> RAZududeURLConnectionOperation::willCacheResponse(
    platform::UrlConnection& connection, const platform::CachedUrlResponse& proposed) {
    if (auto block = cacheResponse_.get()) {
        return block(connection, proposed);
    }
    if (isCancelled()) {
        return std::nullopt;
    }
    return proposed;
}

void RAZududeURLConnectionOperation::didFinishLoading(platform::UrlConnection& connection) {
    auto self = sharedSelf();
    std::lock_guard lock(lock_);
    if (!isCurrentConnection(connection)) {
        return;
    }
    auto stream = outputStreamLocked();
    if (stream.use_count() == 2) {
        // Only this operation holds the stream: its bytes move, rather than being copied.
        responseData_ = stream->takeBytesHeldInMemory();
    } else {
        // A caller's stream keeps its bytes for the caller.
        const Value data = stream->propertyForKey(platform::kStreamDataWrittenToMemoryStreamKey);
        if (const Bytes* bytes = data.bytes()) {
            responseData_ = *bytes;
        }
    }
    stream->close();
    // A file stream writes its last bytes when it closes; a failure there loses them.
    if (stream->streamStatus() == platform::StreamStatus::kError) {
        error_ = stream->streamError();
    }
    if (responseData_) {
        outputStream_.reset();
    }
    connection_.reset();
    finish();
}

void RAZududeURLConnectionOperation::didFailWithError(platform::UrlConnection& connection,
                                                      const Error& error) {
    auto self = sharedSelf();
    std::lock_guard lock(lock_);
    if (!isCurrentConnection(connection)) {
        return;
    }
    failConnection(error);
}

void RAZududeURLConnectionOperation::failConnection(const Error& error) {
    if (connection_) {
        connection_->cancel();
    }
    error_ = error;
    if (outputStream_) {
        outputStream_->close();
    }
    if (responseData_) {
        outputStream_.reset();
    }
    connection_.reset();
    finish();
}

// --- description, copying ----------------------------------------------------------------

std::string RAZududeURLConnectionOperation::description() const {
    std::lock_guard lock(lock_);
    return platform::format("<%@: %p, state: %@, cancelled: %@ request: %@, response: %@>",
                            archiveClassName(), static_cast<const void*>(this), stateKey(state_),
                            isCancelled() ? "YES" : "NO", request_, response_);
}

void RAZududeURLConnectionOperation::copyInto(RAZududeURLConnectionOperation& other) const {
    other.uploadProgress_.set(uploadProgress_.get());
    other.downloadProgress_.set(downloadProgress_.get());
    other.authenticationChallenge_.set(authenticationChallenge_.get());
    other.cacheResponse_.set(cacheResponse_.get());
    other.redirectResponse_.set(redirectResponse_.get());
    other.completionQueue_.set(completionQueue_.get());
    other.completionGroup_.set(completionGroup_.get());
}

std::shared_ptr<RAZududeURLConnectionOperation> RAZududeURLConnectionOperation::copy() const {
    auto operation = create(request());
    copyInto(*operation);
    return operation;
}
