// One request of the share service to its server: a path below the base URL (GET kinds carry
// their plain query after "?"), a plain body, a transport, and a completion. The job enciphers
// the query and the body, sends them as an HTTP request operation on its own operation queue,
// deciphers and parses the reply, has the entity factory turn it into the response of its data
// manager, reports it and starts the next queued job of that data manager.
//
// Threads: made, sent, rebuilt and finished on the main thread; the transfer runs on the
// network layer's thread and its success or failure comes back on the main queue.
//
// Ownership: the data manager's queue holds its jobs; the operation's blocks keep a job alive
// until its reply or failure arrives.
//
// Order: a job finishes exactly once (unless cancelled): its data manager's queue moves on
// first (the next job is rebuilt and sent), then the completion runs, then the network
// delegate hears the response. Every failure, also one found before anything was sent
// (nothing to encipher, an unknown transport, a job that cannot be rebuilt), arrives on the
// main loop, never from within the call that queued the job; it carries code 5050, the kind as
// response type, a readable message and an error of kErrorDomain or the network layer. A reply
// that cannot be deciphered, is not a JSON object or has no result code is such a failure too.
// A cancelled job ends silently.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "SocialSDK/core/account/RAZududeAccountEntity.h"
#include "SocialSDK/core/data/RAZududeCustomAccount.h"
#include "SocialSDK/core/data/RAZududeResponseEntity.h"
#include "SocialSDK/core/data/RAZududeShareImage.h"
#include "platform/Error.h"
#include "platform/Value.h"
#include "platform/net/UrlRequest.h"

namespace platform {
class OperationQueue;
}
class RAZududeHTTPRequestOperation;
class RAZududeHttpClient;
class RZSDataManager;

// What a request is made of: the plain values that the request kinds read ("like",
// "descriptor", "snsNames", "opDic"…), the account and custom account of the account posts,
// and the completion.
struct RZSJobParameters {
    platform::Map values;
    std::shared_ptr<RAZududeAccountEntity> snsAccount;
    // An account request: the accounts on the device when it was asked for. One stored later
    // (a login while the request travelled) is newer than the reply and outlives it.
    std::shared_ptr<const RAZududeAccountDictionary> accountsWhenAsked;
    std::shared_ptr<RAZududeCustomAccount> customAccount;
    RAZududeResponseCompletion completion;
};

class RAZududeJob : public std::enable_shared_from_this<RAZududeJob> {
  public:
    enum NetworkType : int {
        kNetworkPost = 0,
        kNetworkGet = 1,
        kNetworkMultipartPost = 2,
        kNetworkNone = 3,  // nothing can be sent
    };

    static constexpr const char* kErrorDomain = "RAZududeJobErrorDomain";
    enum ErrorCode : int {
        kErrorNotSent = 1,          // nothing to encipher, unknown transport, no AppKey
        kErrorUnreadableReply = 2,  // not deciphered, not a JSON object, no result code
        kErrorNoUid = 3,            // the share service gave no user id when one was needed
    };
    static constexpr const char* kNetworkErrorMessage =
        "network error, you can get details in error";

    // Of the current data manager, on the shared client (whose time-out becomes 60).
    RAZududeJob();
    ~RAZududeJob();
    RAZududeJob(const RAZududeJob&) = delete;
    RAZududeJob& operator=(const RAZududeJob&) = delete;

    int networkType() const { return networkType_; }
    void setNetworkType(int v) { networkType_ = v; }
    int actionType() const { return actionType_; }
    void setActionType(int v) { actionType_ = v; }
    const std::optional<std::string>& pathString() const { return pathString_; }
    void setPathString(std::optional<std::string> v) { pathString_ = std::move(v); }
    // The plain body; none for GET kinds.
    const std::optional<platform::Map>& baseDic() const { return baseDic_; }
    void setBaseDic(std::optional<platform::Map> v) { baseDic_ = std::move(v); }
    // The picture of a multipart body ("pic"): a JPEG of an image, or bytes as they are.
    const RAZududeShareImage& shareImage() const { return shareImage_; }
    void setShareImage(RAZududeShareImage v) { shareImage_ = std::move(v); }
    // What the job is rebuilt from; its completion is the job's own (completion()).
    const RZSJobParameters& paramDic() const { return paramDic_; }
    void setParamDic(RZSJobParameters v) {
        paramDic_ = std::move(v);
        paramDic_.completion = nullptr;
    }
    const std::string& dataManagerHash() const { return dataManagerHash_; }
    void setDataManagerHash(std::string v) { dataManagerHash_ = std::move(v); }
    const RAZududeResponseCompletion& completion() const { return completion_; }
    void setCompletion(RAZududeResponseCompletion v) { completion_ = std::move(v); }
    bool isEncry() const { return isEncry_; }

    // The response of a job that failed: code 5050, the kind as type, the message, the error.
    static RAZududeResponsePtr failureResponse(int kind, const platform::Error& error,
                                               std::string message = kNetworkErrorMessage);

    // Enciphers and sends.
    void makeResquest();
    // The path with everything after its first "?" replaced by "ud_get=" and the cipher text
    // of it; a path without a query as it is; nothing when the cipher fails (no AppKey).
    std::optional<std::string> encryPathString(const std::string& path) const;
    // Stops the request in flight; the job then ends without a word.
    void cancel();
    bool isCancelled() const { return cancelled_; }

    // The reply's bytes, and the failure of the transfer (on the main thread).
    void handleSuccessJson(const platform::Bytes& reply);
    void handleFail(const platform::Error& error);
    // Takes the job out of its data manager's queue and sends the next one.
    void handleNextAction();
    // Takes path (except for the bar request), body, picture and transport from a fresh job of
    // the same kind and parameters; false when none can be made.
    bool updateAction();

  private:
    void makeRequestWithMethord(const std::string& method, const std::string& path,
                                const std::optional<platform::Map>& parameters);
    void makeMutilPostRequest(const std::string& path);
    void send(std::optional<platform::UrlRequest> request);
    // Ends the job on the main loop with a failure of the kind's response.
    void failLater(int code, std::string message);
    void fail(const platform::Error& error, std::string message);
    std::shared_ptr<RZSDataManager> ownDataManager() const;
    std::string urlString(const std::string& path) const;

    int networkType_ = kNetworkPost;
    int actionType_ = 0;
    std::optional<std::string> pathString_;
    std::optional<platform::Map> baseDic_;
    RZSJobParameters paramDic_;
    std::string dataManagerHash_;
    std::shared_ptr<RAZududeHttpClient> rzHttpClient_;
    RAZududeResponseCompletion completion_;
    bool isEncry_ = true;
    RAZududeShareImage shareImage_;
    std::unique_ptr<platform::OperationQueue> queue_;
    std::shared_ptr<RAZududeHTTPRequestOperation> operation_;
    bool cancelled_ = false;
    bool finished_ = false;
};

using RAZududeJobPtr = std::shared_ptr<RAZududeJob>;
