// The HTTP face of the session manager: a base URL that relative URL strings resolve against,
// a request serializer, and one method per HTTP verb that builds the request, makes a task
// whose completion splits into success and failure, and resumes it.
//
// Success and failure run where the session manager delivers completions (completionQueue(),
// the main queue by default), exactly one of them per task. A request that cannot be built
// (a URL string that is no URL: -1000 in the URL error domain; a serializer error) makes no
// task: the verb returns null and the failure block gets a null task and the error later,
// never from within the call.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "SocialSDK/framework/network/RAZududeURLSessionManager.h"
#include "platform/Url.h"
#include "platform/Value.h"

class RAZududeHTTPRequestSerializer;
class RAZududeHTTPResponseSerializer;
class RAZududeMultipartFormData;

class RAZududeHTTPSessionManager : public RAZududeURLSessionManager {
  public:
    using SuccessBlock =
        std::function<void(const DataTask& task, const RAZududeResponseObject& responseObject)>;
    using FailureBlock = std::function<void(const DataTask& task, const platform::Error& error)>;
    // HEAD has no body to pass on.
    using HeadSuccessBlock = std::function<void(const DataTask& task)>;
    using ConstructingBodyBlock = RAZududeHTTPManagerShell::ConstructingBodyBlock;

    static constexpr const char* kClassName = "RAZududeHTTPSessionManager";

    // A manager without a base URL.
    static std::shared_ptr<RAZududeHTTPSessionManager> manager();
    // A base URL with a path gets a trailing "/", so that "b" resolves below "/a/" rather
    // than replacing "a". Form-encoded requests, JSON responses.
    static std::shared_ptr<RAZududeHTTPSessionManager> create(
        std::optional<platform::Url> baseURL = std::nullopt,
        std::optional<platform::UrlSessionConfiguration> configuration = std::nullopt);
    RAZududeHTTPSessionManager(Key key, std::optional<platform::Url> baseURL,
                               std::optional<platform::UrlSessionConfiguration> configuration);

    const std::optional<platform::Url>& baseURL() const { return shell().baseURL(); }

    std::shared_ptr<RAZududeHTTPRequestSerializer> requestSerializer() const;
    // Non-null.
    void setRequestSerializer(std::shared_ptr<RAZududeHTTPRequestSerializer> serializer);
    // The base class's serializer, as the HTTP kind every serializer here is.
    std::shared_ptr<RAZududeHTTPResponseSerializer> responseSerializer() const;
    // Non-null.
    void setResponseSerializer(std::shared_ptr<RAZududeHTTPResponseSerializer> serializer);

    // Not resumed.
    DataTask dataTaskWithHTTPMethod(const std::string& method, const std::string& URLString,
                                    const std::optional<platform::Value>& parameters,
                                    SuccessBlock success, FailureBlock failure);

    // Each resumed before it is returned.
    DataTask GET(const std::string& URLString, const std::optional<platform::Value>& parameters,
                 SuccessBlock success, FailureBlock failure);
    DataTask HEAD(const std::string& URLString, const std::optional<platform::Value>& parameters,
                  HeadSuccessBlock success, FailureBlock failure);
    DataTask POST(const std::string& URLString, const std::optional<platform::Value>& parameters,
                  SuccessBlock success, FailureBlock failure);
    // A multipart/form-data POST, streamed: the parameters as text parts, then what the block
    // adds.
    DataTask POST(const std::string& URLString, const std::optional<platform::Value>& parameters,
                  ConstructingBodyBlock block, SuccessBlock success, FailureBlock failure);
    DataTask PUT(const std::string& URLString, const std::optional<platform::Value>& parameters,
                 SuccessBlock success, FailureBlock failure);
    DataTask PATCH(const std::string& URLString, const std::optional<platform::Value>& parameters,
                   SuccessBlock success, FailureBlock failure);
    DataTask DELETE(const std::string& URLString, const std::optional<platform::Value>& parameters,
                    SuccessBlock success, FailureBlock failure);

    // "<RAZududeHTTPSessionManager: 0x…, baseURL: …, session: …, operationQueue: …>"
    std::string description() const override;

    // The same base URL and configuration, a new session, copies of both serializers.
    std::shared_ptr<RAZududeHTTPSessionManager> copy() const;

    std::string archiveClassName() const override { return kClassName; }
    void encode(platform::KeyedArchiver& coder) const override;
    static std::shared_ptr<RAZududeHTTPSessionManager> decode(platform::KeyedUnarchiver& coder);
    static void registerArchiveClass();

  private:
    static CompletionHandler splitCompletion(std::shared_ptr<DataTask> holder, SuccessBlock success,
                                             FailureBlock failure);
};
