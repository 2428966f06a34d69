// What both HTTP managers hold, the operation manager and the session managers alike: the
// base URL that relative URL strings resolve against, the serializer that writes requests and
// the one that reads responses, the security policy, the reachability manager, and where
// completions run. Safe from any thread.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "SocialSDK/framework/network/RAZududeURLRequestSerialization.h"
#include "platform/Dispatch.h"
#include "platform/Error.h"
#include "platform/Mutex.h"
#include "platform/Url.h"
#include "platform/Value.h"
#include "platform/net/UrlRequest.h"

class RAZududeNetworkReachabilityManager;
class RAZududeSecurityPolicy;
class RAZududeURLResponseSerialization;

class RAZududeHTTPManagerShell {
  public:
    using ConstructingBodyBlock = RAZududeHTTPRequestSerializer::ConstructingBodyBlock;

    // A base URL with a path gets a trailing "/", so that "b" resolves below "/a/" rather
    // than replacing "a". Form-encoded requests, JSON responses, the default security policy,
    // the shared reachability manager (not started).
    explicit RAZududeHTTPManagerShell(std::optional<platform::Url> baseURL = std::nullopt);
    RAZududeHTTPManagerShell(const RAZududeHTTPManagerShell&) = delete;
    RAZududeHTTPManagerShell& operator=(const RAZududeHTTPManagerShell&) = delete;

    const std::optional<platform::Url>& baseURL() const { return baseURL_; }

    std::shared_ptr<RAZududeHTTPRequestSerializer> requestSerializer() const {
        return requestSerializer_.get();
    }
    // Throws std::invalid_argument for null.
    void setRequestSerializer(std::shared_ptr<RAZududeHTTPRequestSerializer> serializer);
    std::shared_ptr<RAZududeURLResponseSerialization> responseSerializer() const {
        return responseSerializer_.get();
    }
    // Throws std::invalid_argument for null.
    void setResponseSerializer(std::shared_ptr<RAZududeURLResponseSerialization> serializer);
    std::shared_ptr<RAZududeSecurityPolicy> securityPolicy() const { return securityPolicy_.get(); }
    void setSecurityPolicy(std::shared_ptr<RAZududeSecurityPolicy> policy) {
        securityPolicy_.set(std::move(policy));
    }
    std::shared_ptr<RAZududeNetworkReachabilityManager> reachabilityManager() const {
        return reachabilityManager_.get();
    }
    void setReachabilityManager(std::shared_ptr<RAZududeNetworkReachabilityManager> manager) {
        reachabilityManager_.set(std::move(manager));
    }
    // Null: the manager's default (the main queue; its default group).
    std::shared_ptr<platform::DispatchQueue> completionQueue() const {
        return completionQueue_.get();
    }
    void setCompletionQueue(std::shared_ptr<platform::DispatchQueue> queue) {
        completionQueue_.set(std::move(queue));
    }
    std::shared_ptr<platform::DispatchGroup> completionGroup() const {
        return completionGroup_.get();
    }
    void setCompletionGroup(std::shared_ptr<platform::DispatchGroup> group) {
        completionGroup_.set(std::move(group));
    }

    // What one completion reads.
    struct Completion {
        std::shared_ptr<RAZududeURLResponseSerialization> serializer;
        std::shared_ptr<platform::DispatchQueue> queue;
        std::shared_ptr<platform::DispatchGroup> group;
    };
    Completion completion() const;

    // The URL string resolved against the base URL, then the request serializer's request;
    // nullopt with the error (-1000 in the URL error domain for a URL string that is no URL)
    // when the request cannot be built.
    std::optional<platform::UrlRequest> requestWithMethod(
        const std::string& method, const std::string& URLString,
        const std::optional<platform::Value>& parameters, platform::Error* error) const;
    // The same for a multipart/form-data request: the parameters as text parts, then what the
    // block adds.
    std::optional<platform::UrlRequest> multipartFormRequestWithMethod(
        const std::string& method, const std::string& URLString,
        const std::optional<platform::Value>& parameters, const ConstructingBodyBlock& block,
        platform::Error* error) const;

    // A failure that comes before there is an operation or a task to report it: failure(null,
    // error) later on the completion queue (the main queue when none), never from within the
    // caller.
    template <class Failure>
    void reportFailure(const Failure& failure, platform::Error error) const {
        if (failure) {
            failureQueue()->async([failure, error = std::move(error)] { failure(nullptr, error); });
        }
    }

  private:
    std::shared_ptr<platform::DispatchQueue> failureQueue() const;

    const std::optional<platform::Url> baseURL_;
    platform::Guarded<std::shared_ptr<RAZududeHTTPRequestSerializer>> requestSerializer_;
    platform::Guarded<std::shared_ptr<RAZududeURLResponseSerialization>> responseSerializer_;
    platform::Guarded<std::shared_ptr<RAZududeSecurityPolicy>> securityPolicy_;
    platform::Guarded<std::shared_ptr<RAZududeNetworkReachabilityManager>> reachabilityManager_;
    platform::Guarded<std::shared_ptr<platform::DispatchQueue>> completionQueue_;
    platform::Guarded<std::shared_ptr<platform::DispatchGroup>> completionGroup_;
};
