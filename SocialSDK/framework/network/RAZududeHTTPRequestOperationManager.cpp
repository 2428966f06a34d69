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

std::shared_ptr<RAZududeHTTPRequestOperationManager>
RAZududeHTTPRequestOperationManager::manager() {
    return std::make_shared<RAZududeHTTPRequestOperationManager>();
}

RAZududeHTTPRequestOperationManager::RAZududeHTTPRequestOperationManager(
    std::optional<platform::Url> baseURL)
    : shell_(std::move(baseURL)), operationQueue_(std::make_shared<platform::OperationQueue>()) {}

std::shared_ptr<RAZududeHTTPResponseSerializer>
RAZududeHTTPRequestOperationManager::responseSerializer() const {
    // Only HTTP serializers are let in, by the setter below.
    return std::static_pointer_cast<RAZududeHTTPResponseSerializer>(shell_.responseSerializer());
}

void RAZududeHTTPRequestOperationManager::setResponseSerializer(
    std::shared_ptr<RAZududeHTTPResponseSerializer> serializer) {
    shell_.setResponseSerializer(std::move(serializer));
}

OperationPtr RAZududeHTTPRequestOperationManager::HTTPRequestOperationWithRequest(
    const platform::UrlRequest& request, SuccessBlock success, FailureBlock failure) {
    auto operation = Operation::create(request);
    const auto completion = shell_.completion();
    operation->setResponseSerializer(
        std::static_pointer_cast<RAZududeHTTPResponseSerializer>(completion.serializer));
    operation->setShouldUseCredentialStorage(shouldUseCredentialStorage_);
    operation->setCredential(credential_);
    operation->setSecurityPolicy(shell_.securityPolicy());
    operation->setCompletionBlockWithSuccess(std::move(success), std::move(failure));
    operation->setCompletionQueue(completion.queue);
    operation->setCompletionGroup(completion.group);
    return operation;
}

OperationPtr RAZududeHTTPRequestOperationManager::HTTPRequestOperationWithHTTPMethod(
    const std::string& method, const std::string& URLString,
    const std::optional<platform::Value>& parameters, SuccessBlock success, FailureBlock failure) {
    platform::Error error;
    auto request = shell_.requestWithMethod(method, URLString, parameters, &error);
    if (!request) {
        shell_.reportFailure(failure, std::move(error));
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
    platform::Error error;
    auto request =
        shell_.multipartFormRequestWithMethod("POST", URLString, parameters, block, &error);
    if (!request) {
        shell_.reportFailure(failure, std::move(error));
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
    const auto& baseURL = shell_.baseURL();
    const std::optional<std::string> base =
        baseURL ? std::optional<std::string>(baseURL->absoluteString()) : std::nullopt;
    const std::string queue = platform::format(
        "<OperationQueue: %p>{name = '%@'}", static_cast<const void*>(operationQueue_.get()),
        operationQueue_ ? operationQueue_->name() : std::string());
    return platform::format("<%@: %p, baseURL: %@, operationQueue: %@>", archiveClassName(),
                            static_cast<const void*>(this), base, queue);
}

std::shared_ptr<RAZududeHTTPRequestOperationManager> RAZududeHTTPRequestOperationManager::copy()
    const {
    auto manager = std::make_shared<RAZududeHTTPRequestOperationManager>(shell_.baseURL());
    manager->setRequestSerializer(requestSerializer()->copy());
    manager->setResponseSerializer(responseSerializer()->copy());
    return manager;
}

void RAZududeHTTPRequestOperationManager::encode(platform::KeyedArchiver& coder) const {
    const auto& baseURL = shell_.baseURL();
    coder.encodeObject(baseURL ? platform::Value(baseURL->absoluteString()) : platform::Value(),
                       "baseURL");
    coder.encodeObject(platform::ArchiveObject(requestSerializer()), "requestSerializer");
    coder.encodeObject(platform::ArchiveObject(responseSerializer()), "responseSerializer");
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
