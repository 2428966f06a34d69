#include "SocialSDK/framework/network/RAZududeHTTPRequestOperationManager.h"

#include <stdexcept>
#include <utility>

#include "SocialSDK/framework/network/RAZududeNetworkReachabilityManager.h"
#include "SocialSDK/framework/network/RAZududeSecurityPolicy.h"
#include "SocialSDK/framework/network/RAZududeURLRequestSerialization.h"
#include "SocialSDK/framework/network/RAZududeURLResponseSerialization.h"
#include "platform/Format.h"

using Operation = RAZududeHTTPRequestOperation;
using OperationPtr = std::shared_ptr<RAZududeHTTPRequestOperation>;

namespace {

std::optional<platform::Url> withTrailingSlash(std::optional<platform::Url> url) {
    if (url && !url->rawPath().empty() && !url->absoluteString().ends_with('/')) {
        return url->appendingPathComponent("");
    }
    return url;
}

}  // namespace

std::shared_ptr<RAZududeHTTPRequestOperationManager>
RAZududeHTTPRequestOperationManager::manager() {
    return std::make_shared<RAZududeHTTPRequestOperationManager>();
}

RAZududeHTTPRequestOperationManager::RAZududeHTTPRequestOperationManager(
    std::optional<platform::Url> baseURL)
    : baseURL_(withTrailingSlash(std::move(baseURL))),
      requestSerializer_(RAZududeHTTPRequestSerializer::serializer()),
      responseSerializer_(RAZududeJSONResponseSerializer::serializer()),
      operationQueue_(std::make_shared<platform::OperationQueue>()),
      securityPolicy_(RAZududeSecurityPolicy::defaultPolicy()),
      reachabilityManager_(RAZududeNetworkReachabilityManager::sharedManager()) {}

void RAZududeHTTPRequestOperationManager::setRequestSerializer(
    std::shared_ptr<RAZududeHTTPRequestSerializer> serializer) {
    if (!serializer) {
        throw std::invalid_argument("Invalid parameter not satisfying: requestSerializer");
    }
    requestSerializer_ = std::move(serializer);
}

void RAZududeHTTPRequestOperationManager::setResponseSerializer(
    std::shared_ptr<RAZududeHTTPResponseSerializer> serializer) {
    if (!serializer) {
        throw std::invalid_argument("Invalid parameter not satisfying: responseSerializer");
    }
    responseSerializer_ = std::move(serializer);
}

OperationPtr RAZududeHTTPRequestOperationManager::HTTPRequestOperationWithRequest(
    const platform::UrlRequest& request, SuccessBlock success, FailureBlock failure) {
    auto operation = Operation::create(request);
    operation->setResponseSerializer(responseSerializer_);
    operation->setShouldUseCredentialStorage(shouldUseCredentialStorage_);
    operation->setCredential(credential_);
    operation->setSecurityPolicy(securityPolicy_);
    operation->setCompletionBlockWithSuccess(std::move(success), std::move(failure));
    operation->setCompletionQueue(completionQueue_);
    operation->setCompletionGroup(completionGroup_);
    return operation;
}

void RAZududeHTTPRequestOperationManager::reportFailure(const FailureBlock& failure,
                                                        platform::Error error) const {
    if (!failure) {
        return;
    }
    const auto& queue = completionQueue_ ? completionQueue_ : platform::DispatchQueue::main();
    queue->async([failure, error = std::move(error)] { failure(nullptr, error); });
}

std::optional<std::string> RAZududeHTTPRequestOperationManager::resolvedURLString(
    const std::string& URLString, const FailureBlock& failure) const {
    platform::Error error;
    auto resolved = RAZududeResolvedURLString(baseURL_, URLString, &error);
    if (!resolved) {
        reportFailure(failure, std::move(error));
    }
    return resolved;
}

OperationPtr RAZududeHTTPRequestOperationManager::HTTPRequestOperationWithHTTPMethod(
    const std::string& method, const std::string& URLString,
    const std::optional<platform::Value>& parameters, SuccessBlock success, FailureBlock failure) {
    auto resolved = resolvedURLString(URLString, failure);
    if (!resolved) {
        return nullptr;
    }
    platform::Error error;
    auto request = requestSerializer_->requestWithMethod(method, *resolved, parameters, &error);
    if (!request) {
        reportFailure(failure, std::move(error));
        return nullptr;
    }
    return HTTPRequestOperationWithRequest(*request, std::move(success), std::move(failure));
}

OperationPtr RAZududeHTTPRequestOperationManager::enqueue(OperationPtr operation) {
    if (operation) {
        operationQueue_->addOperation(operation);
    }
    return operation;
}

OperationPtr RAZududeHTTPRequestOperationManager::GET(
    const std::string& URLString, const std::optional<platform::Value>& parameters,
    SuccessBlock success, FailureBlock failure) {
    return enqueue(HTTPRequestOperationWithHTTPMethod("GET", URLString, parameters,
                                                      std::move(success), std::move(failure)));
}

OperationPtr RAZududeHTTPRequestOperationManager::HEAD(
    const std::string& URLString, const std::optional<platform::Value>& parameters,
    HeadSuccessBlock success, FailureBlock failure) {
    SuccessBlock wrapped;
    if (success) {
        wrapped = [success = std::move(success)](const OperationPtr& operation,
                                                 const Operation::ResponseObject&) {
            success(operation);
        };
    }
    return enqueue(HTTPRequestOperationWithHTTPMethod("HEAD", URLString, parameters,
                                                      std::move(wrapped), std::move(failure)));
}

OperationPtr RAZududeHTTPRequestOperationManager::POST(
    const std::string& URLString, const std::optional<platform::Value>& parameters,
    SuccessBlock success, FailureBlock failure) {
    return enqueue(HTTPRequestOperationWithHTTPMethod("POST", URLString, parameters,
                                                      std::move(success), std::move(failure)));
}

OperationPtr RAZududeHTTPRequestOperationManager::POST(
    const std::string& URLString, const std::optional<platform::Value>& parameters,
    ConstructingBodyBlock block, SuccessBlock success, FailureBlock failure) {
    auto resolved = resolvedURLString(URLString, failure);
    if (!resolved) {
        return nullptr;
    }
    platform::Error error;
    auto request = requestSerializer_->multipartFormRequestWithMethod("POST", *resolved, parameters,
                                                                      std::move(block), &error);
    if (!request) {
        reportFailure(failure, std::move(error));
        return nullptr;
    }
    return enqueue(
        HTTPRequestOperationWithRequest(*request, std::move(success), std::move(failure)));
}

OperationPtr RAZududeHTTPRequestOperationManager::PUT(
    const std::string& URLString, const std::optional<platform::Value>& parameters,
    SuccessBlock success, FailureBlock failure) {
    return enqueue(HTTPRequestOperationWithHTTPMethod("PUT", URLString, parameters,
                                                      std::move(success), std::move(failure)));
}

OperationPtr RAZududeHTTPRequestOperationManager::PATCH(
    const std::string& URLString, const std::optional<platform::Value>& parameters,
    SuccessBlock success, FailureBlock failure) {
    return enqueue(HTTPRequestOperationWithHTTPMethod("PATCH", URLString, parameters,
                                                      std::move(success), std::move(failure)));
}

OperationPtr RAZududeHTTPRequestOperationManager::DELETE(
    const std::string& URLString, const std::optional<platform::Value>& parameters,
    SuccessBlock success, FailureBlock failure) {
    return enqueue(HTTPRequestOperationWithHTTPMethod("DELETE", URLString, parameters,
                                                      std::move(success), std::move(failure)));
}

std::string RAZududeHTTPRequestOperationManager::description() const {
    const std::optional<std::string> base =
        baseURL_ ? std::optional<std::string>(baseURL_->absoluteString()) : std::nullopt;
    const std::string queue = platform::format(
        "<OperationQueue: %p>{name = '%@'}", static_cast<const void*>(operationQueue_.get()),
        operationQueue_ ? operationQueue_->name() : std::string());
    return platform::format("<%@: %p, baseURL: %@, operationQueue: %@>", archiveClassName(),
                            static_cast<const void*>(this), base, queue);
}

std::shared_ptr<RAZududeHTTPRequestOperationManager> RAZududeHTTPRequestOperationManager::copy()
    const {
    auto manager = std::make_shared<RAZududeHTTPRequestOperationManager>(baseURL_);
    manager->setRequestSerializer(requestSerializer_->copy());
    manager->setResponseSerializer(responseSerializer_->copy());
    return manager;
}

void RAZududeHTTPRequestOperationManager::encode(platform::KeyedArchiver& coder) const {
    coder.encodeObject(baseURL_ ? platform::Value(baseURL_->absoluteString()) : platform::Value(),
                       "baseURL");
    coder.encodeObject(platform::ArchiveObject(requestSerializer_), "requestSerializer");
    coder.encodeObject(platform::ArchiveObject(responseSerializer_), "responseSerializer");
}

std::shared_ptr<RAZududeHTTPRequestOperationManager> RAZududeHTTPRequestOperationManager::decode(
    platform::KeyedUnarchiver& coder) {
    std::optional<platform::Url> baseURL;
    if (auto text = coder.decodeString("baseURL")) {
        baseURL = platform::Url::parse(*text);
    }
    auto manager = std::make_shared<RAZududeHTTPRequestOperationManager>(std::move(baseURL));
    if (auto serializer =
            coder.decodeObjectOf<RAZududeHTTPRequestSerializer>("requestSerializer")) {
        manager->setRequestSerializer(std::move(serializer));
    }
    if (auto serializer =
            coder.decodeObjectOf<RAZududeHTTPResponseSerializer>("responseSerializer")) {
        manager->setResponseSerializer(std::move(serializer));
    }
    return coder.failed() ? nullptr : manager;
}

void RAZududeHTTPRequestOperationManager::registerArchiveClass() {
    platform::ArchiveRegistry::shared().add(
        kClassName, [](platform::KeyedUnarchiver& coder) -> std::shared_ptr<platform::Archivable> {
            return decode(coder);
        });
}
