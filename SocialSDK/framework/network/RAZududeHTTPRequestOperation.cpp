#include "SocialSDK/framework/network/RAZududeHTTPRequestOperation.h"

#include <stdexcept>
#include <utility>

#include "platform/Dispatch.h"
#include "platform/Format.h"

namespace {

const std::shared_ptr<platform::DispatchQueue>& processingQueue() {
    static const auto* queue = new std::shared_ptr<platform::DispatchQueue>(
        platform::DispatchQueue::concurrent("com.razudude.networking.http-request.processing"));
    return *queue;
}

}  // namespace

std::shared_ptr<RAZududeHTTPRequestOperation> RAZududeHTTPRequestOperation::create(
    platform::UrlRequest request) {
    return std::make_shared<RAZududeHTTPRequestOperation>(std::move(request));
}

RAZududeHTTPRequestOperation::RAZududeHTTPRequestOperation(platform::UrlRequest request)
    : RAZududeURLConnectionOperation(std::move(request)),
      responseSerializer_(RAZududeHTTPResponseSerializer::serializer()) {}

std::shared_ptr<RAZududeHTTPResponseSerializer> RAZududeHTTPRequestOperation::responseSerializer()
    const {
    platform::MutexLock lock(mutex_);
    return responseSerializer_;
}

void RAZududeHTTPRequestOperation::setResponseSerializer(
    std::shared_ptr<RAZududeHTTPResponseSerializer> serializer) {
    if (!serializer) {
        throw std::invalid_argument("Invalid parameter not satisfying: responseSerializer");
    }
    platform::MutexLock lock(mutex_);
    responseSerializer_ = std::move(serializer);
    responseObject_ = ResponseObject();
    responseSerializationError_.reset();
}

RAZududeHTTPRequestOperation::ResponseObject RAZududeHTTPRequestOperation::responseObject() const {
    platform::MutexLock lock(mutex_);
    if (responseObject_.isNil() && isFinished() && !responseSerializationError_ &&
        !RAZududeURLConnectionOperation::error()) {
        std::optional<platform::Error> error;
        responseObject_ =
            responseSerializer_->responseObjectForResponse(response(), responseData(), &error);
        if (error) {
            responseSerializationError_ = std::move(error);
        }
    }
    return responseObject_;
}

void RAZududeHTTPRequestOperation::setResponseObject(ResponseObject object) {
    platform::MutexLock lock(mutex_);
    responseObject_ = std::move(object);
}

std::optional<platform::Error> RAZududeHTTPRequestOperation::responseSerializationError() const {
    platform::MutexLock lock(mutex_);
    return responseSerializationError_;
}

void RAZududeHTTPRequestOperation::setResponseSerializationError(
    std::optional<platform::Error> error) {
    platform::MutexLock lock(mutex_);
    responseSerializationError_ = std::move(error);
}

std::optional<platform::Error> RAZududeHTTPRequestOperation::error() const {
    {
        platform::MutexLock lock(mutex_);
        if (responseSerializationError_) {
            return responseSerializationError_;
        }
    }
    return RAZududeURLConnectionOperation::error();
}

std::shared_ptr<const platform::HttpUrlResponse> RAZududeHTTPRequestOperation::httpResponse()
    const {
    return std::dynamic_pointer_cast<const platform::HttpUrlResponse>(response());
}

void RAZududeHTTPRequestOperation::setCompletionBlockWithSuccess(SuccessBlock success,
                                                                 FailureBlock failure) {
    std::weak_ptr<RAZududeHTTPRequestOperation> weak =
        std::static_pointer_cast<RAZududeHTTPRequestOperation>(weak_from_this().lock());
    // The base completion runs this on the completion queue while it holds the operation; from
    // here the processing step holds it until the callback has been submitted, and the
    // submitted callback until it has run.
    setCompletionBlock([weak, success = std::move(success), failure = std::move(failure)] {
        auto self = weak.lock();
        if (!self) {
            return;
        }
        if (self->responseSerializer()->handsBodyOnAsIs()) {
            // Nothing worth a processing queue: the outcome is known here, on the completion
            // queue, inside the completion group, where the callback runs anyway.
            if (auto error = self->error()) {
                if (failure) {
                    failure(self, *error);
                }
                return;
            }
            ResponseObject object = self->responseObject();
            if (auto serializationError = self->error()) {
                if (failure) {
                    failure(self, *serializationError);
                }
            } else if (success) {
                success(self, object);
            }
            return;
        }
        auto group = self->completionGroup();
        if (group) {
            group->enter();
        }
        processingQueue()->async([self, group, success, failure] {
            auto queue = self->completionQueue();
            if (!queue) {
                queue = platform::DispatchQueue::main();
            }
            auto fail = [&](const platform::Error& error) {
                if (failure) {
                    platform::asyncInGroup(group, queue,
                                           [self, failure, error] { failure(self, error); });
                }
            };
            if (auto error = self->error()) {
                fail(*error);
            } else {
                ResponseObject object = self->responseObject();
                if (auto serializationError = self->error()) {
                    fail(*serializationError);
                } else if (success) {
                    platform::asyncInGroup(
                        group, queue,
                        [self, success, object = std::move(object)] { success(self, object); });
                }
            }
            if (group) {
                group->leave();
            }
        });
    });
}

platform::UrlRequest RAZududeHTTPRequestOperation::requestToResume(
    platform::UrlRequest paused) const {
    if (auto http = httpResponse()) {
        if (auto etag = http->allHeaderFields().value("ETag")) {
            paused.setValue(*etag, "If-Range");
        }
    }
    paused.setValue(platform::format("bytes=%llu-", bytesWrittenToOutputStream()), "Range");
    return paused;
}

std::shared_ptr<RAZududeURLConnectionOperation> RAZududeHTTPRequestOperation::copy() const {
    auto operation = create(request());
    copyInto(*operation);
    operation->setResponseSerializer(responseSerializer()->copy());
    return operation;
}

void RAZududeHTTPRequestOperation::encode(platform::KeyedArchiver& coder) const {
    RAZududeURLConnectionOperation::encode(coder);
    coder.encodeObject(platform::ArchiveObject(responseSerializer()), "responseSerializer");
}

std::shared_ptr<RAZududeHTTPRequestOperation> RAZududeHTTPRequestOperation::decode(
    platform::KeyedUnarchiver& coder) {
    auto request = decodedRequest(coder);
    if (!request) {
        return nullptr;
    }
    auto operation = create(std::move(*request));
    operation->decodeInto(coder);
    if (auto serializer =
            coder.decodeObjectOf<RAZududeHTTPResponseSerializer>("responseSerializer")) {
        operation->setResponseSerializer(std::move(serializer));
    }
    return coder.failed() ? nullptr : operation;
}

void RAZududeHTTPRequestOperation::registerArchiveClass() {
    platform::ArchiveRegistry::shared().add(
        kClassName, [](platform::KeyedUnarchiver& coder) -> std::shared_ptr<platform::Archivable> {
            return decode(coder);
        });
}
