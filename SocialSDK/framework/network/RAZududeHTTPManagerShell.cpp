#include "SocialSDK/framework/network/RAZududeHTTPManagerShell.h"

#include <stdexcept>
#include <utility>

#include "SocialSDK/framework/network/RAZududeNetworkReachabilityManager.h"
#include "SocialSDK/framework/network/RAZududeSecurityPolicy.h"
#include "SocialSDK/framework/network/RAZududeURLResponseSerialization.h"

namespace {

std::optional<platform::Url> withTrailingSlash(std::optional<platform::Url> url) {
    if (url && !url->rawPath().empty() && !url->absoluteString().ends_with('/')) {
        return url->appendingPathComponent("");
    }
    return url;
}

void require(bool satisfied, const char* what) {
    if (!satisfied) {
        throw std::invalid_argument(std::string("Invalid parameter not satisfying: ") + what);
    }
}

}  // namespace

RAZududeHTTPManagerShell::RAZududeHTTPManagerShell(std::optional<platform::Url> baseURL)
    : baseURL_(withTrailingSlash(std::move(baseURL))),
      requestSerializer_(RAZududeHTTPRequestSerializer::serializer()),
      responseSerializer_(RAZududeJSONResponseSerializer::serializer()),
      securityPolicy_(RAZududeSecurityPolicy::defaultPolicy()),
      reachabilityManager_(RAZududeNetworkReachabilityManager::sharedManager()) {}

std::shared_ptr<RAZududeHTTPRequestSerializer> RAZududeHTTPManagerShell::requestSerializer() const {
    std::lock_guard lock(mutex_);
    return requestSerializer_;
}

void RAZududeHTTPManagerShell::setRequestSerializer(
    std::shared_ptr<RAZududeHTTPRequestSerializer> serializer) {
    require(serializer != nullptr, "requestSerializer");
    std::lock_guard lock(mutex_);
    requestSerializer_ = std::move(serializer);
}

std::shared_ptr<RAZududeURLResponseSerialization> RAZududeHTTPManagerShell::responseSerializer()
    const {
    std::lock_guard lock(mutex_);
    return responseSerializer_;
}

void RAZududeHTTPManagerShell::setResponseSerializer(
    std::shared_ptr<RAZududeURLResponseSerialization> serializer) {
    require(serializer != nullptr, "responseSerializer");
    std::lock_guard lock(mutex_);
    responseSerializer_ = std::move(serializer);
}

std::shared_ptr<RAZududeSecurityPolicy> RAZududeHTTPManagerShell::securityPolicy() const {
    std::lock_guard lock(mutex_);
    return securityPolicy_;
}

void RAZududeHTTPManagerShell::setSecurityPolicy(std::shared_ptr<RAZududeSecurityPolicy> policy) {
    std::lock_guard lock(mutex_);
    securityPolicy_ = std::move(policy);
}

std::shared_ptr<RAZududeNetworkReachabilityManager> RAZududeHTTPManagerShell::reachabilityManager()
    const {
    std::lock_guard lock(mutex_);
    return reachabilityManager_;
}

void RAZududeHTTPManagerShell::setReachabilityManager(
    std::shared_ptr<RAZududeNetworkReachabilityManager> manager) {
    std::lock_guard lock(mutex_);
    reachabilityManager_ = std::move(manager);
}

std::shared_ptr<platform::DispatchQueue> RAZududeHTTPManagerShell::completionQueue() const {
    std::lock_guard lock(mutex_);
    return completionQueue_;
}

void RAZududeHTTPManagerShell::setCompletionQueue(std::shared_ptr<platform::DispatchQueue> queue) {
    std::lock_guard lock(mutex_);
    completionQueue_ = std::move(queue);
}

std::shared_ptr<platform::DispatchGroup> RAZududeHTTPManagerShell::completionGroup() const {
    std::lock_guard lock(mutex_);
    return completionGroup_;
}

void RAZududeHTTPManagerShell::setCompletionGroup(std::shared_ptr<platform::DispatchGroup> group) {
    std::lock_guard lock(mutex_);
    completionGroup_ = std::move(group);
}

RAZududeHTTPManagerShell::Completion RAZududeHTTPManagerShell::completion() const {
    std::lock_guard lock(mutex_);
    return {responseSerializer_, completionQueue_, completionGroup_};
}

std::optional<platform::UrlRequest> RAZududeHTTPManagerShell::requestWithMethod(
    const std::string& method, const std::string& URLString,
    const std::optional<platform::Value>& parameters, platform::Error* error) const {
    const auto resolved = RAZududeResolvedURLString(baseURL_, URLString, error);
    if (!resolved) {
        return std::nullopt;
    }
    return requestSerializer()->requestWithMethod(method, *resolved, parameters, error);
}

std::optional<platform::UrlRequest> RAZududeHTTPManagerShell::multipartFormRequestWithMethod(
    const std::string& method, const std::string& URLString,
    const std::optional<platform::Value>& parameters, const ConstructingBodyBlock& block,
    platform::Error* error) const {
    const auto resolved = RAZududeResolvedURLString(baseURL_, URLString, error);
    if (!resolved) {
        return std::nullopt;
    }
    return requestSerializer()->multipartFormRequestWithMethod(method, *resolved, parameters, block,
                                                               error);
}

std::shared_ptr<platform::DispatchQueue> RAZududeHTTPManagerShell::failureQueue() const {
    auto queue = completionQueue();
    return queue ? queue : platform::DispatchQueue::main();
}
