// A front for HTTP request operations: a base URL that relative URL strings resolve against,
// one request serializer and one response serializer for every request, shared security
// settings, and an operation queue of its own, with one method per HTTP verb.
//
// Threads
//   - Configure and call a manager from one thread at a time (usually the main thread): only
//     what it shares with the session managers (RAZududeHTTPManagerShell) is locked. Its
//     operations run as RAZududeHTTPRequestOperation says.
//   - Success and failure run on completionQueue() (the main queue when none is set).
//
// Ownership
//   - The manager owns its serializers, its queue and its settings; each operation gets the
//     manager's response serializer, security policy and credential when it is made.
//   - The queue keeps each operation until it has finished, also after the manager is gone.
//
// Order of callbacks
//   Each verb method returns the operation it queued; its success or failure comes later,
//   exactly one of them. A request that cannot be built (a URL string that is no URL, a
//   serializer error) queues nothing, returns null, and the failure block is called later
//   with a null operation and the error, never from within the verb method.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "SocialSDK/framework/network/RAZududeHTTPManagerShell.h"
#include "SocialSDK/framework/network/RAZududeHTTPRequestOperation.h"
#include "platform/Dispatch.h"
#include "platform/Error.h"
#include "platform/KeyedArchive.h"
#include "platform/Operation.h"
#include "platform/Url.h"
#include "platform/Value.h"
#include "platform/net/Authentication.h"
#include "platform/net/UrlRequest.h"

class RAZududeHTTPRequestSerializer;
class RAZududeHTTPResponseSerializer;
class RAZududeMultipartFormData;
class RAZududeNetworkReachabilityManager;
class RAZududeSecurityPolicy;

class RAZududeHTTPRequestOperationManager : public platform::Archivable {
  public:
    using SuccessBlock = RAZududeHTTPRequestOperation::SuccessBlock;
    using FailureBlock = RAZududeHTTPRequestOperation::FailureBlock;
    // HEAD has no body to pass on.
    using HeadSuccessBlock =
        std::function<void(const std::shared_ptr<RAZududeHTTPRequestOperation>& operation)>;
    using ConstructingBodyBlock = RAZududeHTTPManagerShell::ConstructingBodyBlock;

    static constexpr const char* kClassName = "RAZududeHTTPRequestOperationManager";

    // A manager without a base URL.
    static std::shared_ptr<RAZududeHTTPRequestOperationManager> manager();
    // A base URL with a path gets a trailing "/", so that "b" resolves below "/a/" rather than
    // replacing "a". Requests are form-encoded, responses parsed as JSON; default security
    // policy; the shared reachability manager (not started); a queue of default width.
    explicit RAZududeHTTPRequestOperationManager(
        std::optional<platform::Url> baseURL = std::nullopt);

    const std::optional<platform::Url>& baseURL() const { return shell_.baseURL(); }

    std::shared_ptr<RAZududeHTTPRequestSerializer> requestSerializer() const {
        return shell_.requestSerializer();
    }
    // Throws std::invalid_argument for null.
    void setRequestSerializer(std::shared_ptr<RAZududeHTTPRequestSerializer> serializer) {
        shell_.setRequestSerializer(std::move(serializer));
    }
    std::shared_ptr<RAZududeHTTPResponseSerializer> responseSerializer() const;
    // Throws std::invalid_argument for null.
    void setResponseSerializer(std::shared_ptr<RAZududeHTTPResponseSerializer> serializer);

    const std::shared_ptr<platform::OperationQueue>& operationQueue() const {
        return operationQueue_;
    }
    // Throws std::invalid_argument for no queue: every verb puts its operation there.
    void setOperationQueue(std::shared_ptr<platform::OperationQueue> queue) {
        if (!queue) {
            throw std::invalid_argument("Invalid parameter not satisfying: operationQueue");
        }
        operationQueue_ = std::move(queue);
    }

    bool shouldUseCredentialStorage() const { return shouldUseCredentialStorage_; }
    void setShouldUseCredentialStorage(bool use) { shouldUseCredentialStorage_ = use; }
    const std::optional<platform::Credential>& credential() const { return credential_; }
    void setCredential(std::optional<platform::Credential> credential) {
        credential_ = std::move(credential);
    }
    std::shared_ptr<RAZududeSecurityPolicy> securityPolicy() const {
        return shell_.securityPolicy();
    }
    void setSecurityPolicy(std::shared_ptr<RAZududeSecurityPolicy> policy) {
        shell_.setSecurityPolicy(std::move(policy));
    }
    std::shared_ptr<RAZududeNetworkReachabilityManager> reachabilityManager() const {
        return shell_.reachabilityManager();
    }
    void setReachabilityManager(std::shared_ptr<RAZududeNetworkReachabilityManager> manager) {
        shell_.setReachabilityManager(std::move(manager));
    }

    // Empty: the main queue; the operation's own default group.
    std::shared_ptr<platform::DispatchQueue> completionQueue() const {
        return shell_.completionQueue();
    }
    void setCompletionQueue(std::shared_ptr<platform::DispatchQueue> queue) {
        shell_.setCompletionQueue(std::move(queue));
    }
    std::shared_ptr<platform::DispatchGroup> completionGroup() const {
        return shell_.completionGroup();
    }
    void setCompletionGroup(std::shared_ptr<platform::DispatchGroup> group) {
        shell_.setCompletionGroup(std::move(group));
    }

    // An operation for the request with the manager's settings and the blocks; not queued.
    std::shared_ptr<RAZududeHTTPRequestOperation> HTTPRequestOperationWithRequest(
        const platform::UrlRequest& request, SuccessBlock success, FailureBlock failure);
    // The URL string resolved against the base URL, the request built by the request
    // serializer, then as above; not queued. Null when the request cannot be built: the
    // failure block then gets a null operation and the error (-1000 in the URL error domain
    // for a URL string that is no URL).
    std::shared_ptr<RAZududeHTTPRequestOperation> HTTPRequestOperationWithHTTPMethod(
        const std::string& method, const std::string& URLString,
        const std::optional<platform::Value>& parameters, SuccessBlock success,
        FailureBlock failure);

    // Each builds the operation as above and queues it on operationQueue(); null (and
    // nothing queued) when the request cannot be built.
    std::shared_ptr<RAZududeHTTPRequestOperation> GET(
        const std::string& URLString, const std::optional<platform::Value>& parameters,
        SuccessBlock success, FailureBlock failure);
    std::shared_ptr<RAZududeHTTPRequestOperation> HEAD(
        const std::string& URLString, const std::optional<platform::Value>& parameters,
        HeadSuccessBlock success, FailureBlock failure);
    std::shared_ptr<RAZududeHTTPRequestOperation> POST(
        const std::string& URLString, const std::optional<platform::Value>& parameters,
        SuccessBlock success, FailureBlock failure);
    // A multipart/form-data POST: the parameters as text parts, then what the block adds.
    std::shared_ptr<RAZududeHTTPRequestOperation> POST(
        const std::string& URLString, const std::optional<platform::Value>& parameters,
        ConstructingBodyBlock block, SuccessBlock success, FailureBlock failure);
    std::shared_ptr<RAZududeHTTPRequestOperation> PUT(
        const std::string& URLString, const std::optional<platform::Value>& parameters,
        SuccessBlock success, FailureBlock failure);
    std::shared_ptr<RAZududeHTTPRequestOperation> PATCH(
        const std::string& URLString, const std::optional<platform::Value>& parameters,
        SuccessBlock success, FailureBlock failure);
    std::shared_ptr<RAZududeHTTPRequestOperation> DELETE(
        const std::string& URLString, const std::optional<platform::Value>& parameters,
        SuccessBlock success, FailureBlock failure);

    // "<RAZududeHTTPRequestOperationManager: 0x…, baseURL: …, operationQueue: …>"
    std::string description() const;

    // The same base URL and copies of both serializers; everything else as a new manager has.
    std::shared_ptr<RAZududeHTTPRequestOperationManager> copy() const;

    static constexpr bool supportsSecureCoding() { return true; }
    std::string archiveClassName() const override { return kClassName; }
    void encode(platform::KeyedArchiver& coder) const override;
    static std::shared_ptr<RAZududeHTTPRequestOperationManager> decode(
        platform::KeyedUnarchiver& coder);
    static void registerArchiveClass();

  private:
    std::shared_ptr<RAZududeHTTPRequestOperation> enqueue(
        std::shared_ptr<RAZududeHTTPRequestOperation> operation);

    RAZududeHTTPManagerShell shell_;
    std::shared_ptr<platform::OperationQueue> operationQueue_;
    bool shouldUseCredentialStorage_ = true;
    std::optional<platform::Credential> credential_;
};
