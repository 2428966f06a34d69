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

void RAZududeHTTPManagerShell::setRequestSerializer(
    std::shared_ptr<RAZududeHTTPRequestSerializer> serializer) {
    require(serializer != nullptr, "requestSerializer");
    requestSerializer_.set(std::move(serializer));
}

void RAZududeHTTPManagerShell::setResponseSerializer(
    std::shared_ptr<RAZududeURLResponseSerialization> serializer) {
    require(serializer != nullptr, "responseSerializer");
    responseSerializer_.set(std::move(serializer));
}

RAZududeHTTPManagerShell::Completion RAZududeHTTPManagerShell::completion() const {
    return {responseSerializer(), completionQueue(), completionGroup()};
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
