// Data managers: one per share-record identifier, holding that record's server-side state (its
// bar entity, the comment being posted, the share in progress, the last response) and the
// serial queue of its requests to the share service. The set keeps them by identifier, knows
// the current one, and keeps the AppKey.
//
// Threads: main thread only.
//
// Queue: each request method packs its parameters and queues one job (doActionWithType). At
// most one job per manager is on the wire; the others wait in order and are rebuilt from the
// factory just before they are sent, so that they pick up what earlier replies changed (the
// entity key). Like, comment, comment-list and multi-share requests ask for the entity key
// first when the record has none. A job's reply or failure always goes to the manager that
// queued it: its response, its queue, its bar entity.
//
// Order of a result: the job's completion, then the network delegate of the current manager
// (a data manager, which tells its social delegate).
#pragma once

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "SocialSDK/core/data/RAZududeResponseEntity.h"
#include "SocialSDK/core/data/RAZududeShareImage.h"
#include "SocialSDK/core/data/RAZududeUrlResource.h"
#include "SocialSDK/core/manager/RZSBarEntity.h"
#include "SocialSDK/core/protocol/RAZududeJob.h"
#include "platform/Location.h"
#include "platform/NoDestructor.h"
#include "platform/Value.h"

class RZSDataManager;
class RZSCommentEntity;
class RZSSNSEntity;

// Told of every reply of the share service.
class RZSNetworkDelegate {
  public:
    virtual ~RZSNetworkDelegate() = default;
    virtual void didFinishGetResponseInSDK(const RAZududeResponsePtr& /*response*/) {}
};

// Told of the result of a data-service request.
class RAZududeDataDelegate {
  public:
    virtual ~RAZududeDataDelegate() = default;
    virtual void didFinishGetRAZududeDataResponse(const RAZududeResponsePtr& response) = 0;
};

// The request kinds that callers outside the pipeline name.
enum RZSRequestKind : int {
    kRZSRequestAddComment = 0,
    kRZSRequestLike = 1,
    kRZSRequestCommentList = 2,
    kRZSRequestBarInfo = 3,
    kRZSRequestShareToMultiSns = 5,
    kRZSRequestBinding = 6,
    kRZSRequestUnBinding = 7,
    kRZSRequestUnOauth = 8,
    kRZSRequestSnsAccount = 10,
    kRZSRequestSnsInformation = 11,
    kRZSRequestFriends = 12,
    kRZSRequestFollow = 13,
    kRZSRequestCustomAccount = 14,
    kRZSRequestAddSnsAccount = 15,
    kRZSRequestAppInfo = 16,
    kRZSRequestTokenValid = 17,
    kRZSRequestOpAnalytics = 18,
    kRZSRequestPostAppInfo = 19,
    kRZSRequestInverseFlow = 20,
};

// A request as a test peer sees it in place of the share service.
struct RZSRequest {
    int kind = 0;
    RZSJobParameters parameters;
};

class RZSDataManagerSet {
  public:
    static RZSDataManagerSet& shareInstance();

    RZSDataManagerSet(const RZSDataManagerSet&) = delete;
    RZSDataManagerSet& operator=(const RZSDataManagerSet&) = delete;

    // Kept, and written to the document store; the empty string at first. Only after it was
    // set to nothing is the stored value read.
    std::optional<std::string> appkey() const;
    void setAppkey(std::optional<std::string> appkey);
    // Tests: the AppKey for the scope; then the held and the stored one as they were, and the
    // cryptor keyed with it again. Main thread.
    class ScopedAppkeyForTesting {
      public:
        explicit ScopedAppkeyForTesting(std::optional<std::string> appkey);
        ~ScopedAppkeyForTesting();
        ScopedAppkeyForTesting(const ScopedAppkeyForTesting&) = delete;
        ScopedAppkeyForTesting& operator=(const ScopedAppkeyForTesting&) = delete;

      private:
        std::optional<std::string> held_;
        std::optional<std::string> stored_;
    };

    const std::optional<std::string>& currentDataHash() const { return currentDataHash_; }
    void setCurrentDataHash(std::optional<std::string> hash);
    const std::optional<std::string>& cocos2dxVersion() const { return cocos2dxVersion_; }
    void setCocos2dxVersion(std::optional<std::string> v) { cocos2dxVersion_ = std::move(v); }
    const std::optional<std::string>& sdkType() const { return sdkType_; }
    void setSdkType(std::optional<std::string> v) { sdkType_ = std::move(v); }

    // Makes the identifier current, and gives it a manager when it has none.
    void setDataManagerWithHash(const std::string& identifier);
    // The manager of the current identifier, or null.
    std::shared_ptr<RZSDataManager> dataManager() const;
    // The manager of the identifier, or null; the identifier becomes current either way.
    std::shared_ptr<RZSDataManager> getDataManager(const std::string& identifier);
    // The manager of the identifier, or null; the current identifier stays.
    std::shared_ptr<RZSDataManager> dataManagerForIdentifier(const std::string& identifier) const;

  private:
    friend class platform::NoDestructor<RZSDataManagerSet>;
    RZSDataManagerSet();

    std::optional<std::string> currentDataHash_;
    std::map<std::string, std::shared_ptr<RZSDataManager>> socialDataDictionary_;
    std::optional<std::string> appkey_ = std::string();
    std::optional<std::string> cocos2dxVersion_;
    std::optional<std::string> sdkType_;
};

class RZSDataManager : public RZSNetworkDelegate,
                       public std::enable_shared_from_this<RZSDataManager> {
  public:
    RZSDataManager();
    ~RZSDataManager() override;

    // The manager of the current identifier; when there is none, the default record's
    // ("RAZududeDefault") becomes current first.
    static std::shared_ptr<RZSDataManager> currentDataManager();
    static std::shared_ptr<RZSDataManager> getDataManager(const std::string& identifier);

    const std::optional<std::string>& uid() const { return uid_; }
    void setUid(std::optional<std::string> uid) { uid_ = std::move(uid); }
    const std::optional<std::string>& identifier() const { return identifier_; }
    void setIdentifier(std::optional<std::string> identifier) {
        identifier_ = std::move(identifier);
    }
    // Sent with the bar request when set.
    const std::optional<std::string>& title() const { return title_; }
    void setTitle(std::optional<std::string> title) { title_ = std::move(title); }

    const std::shared_ptr<RZSCommentEntity>& currentComment() const { return currentComment_; }
    void setCurrentComment(std::shared_ptr<RZSCommentEntity> v) { currentComment_ = std::move(v); }

    // The held bar, else the one stored for the identifier, else a new empty one.
    std::shared_ptr<RZSBarEntity> barEntity();
    // Whether a bar entity is held or stored, without making one.
    bool hasBarEntity();
    // Held and stored under the identifier.
    void setBarEntity(std::shared_ptr<RZSBarEntity> entity);

    const std::shared_ptr<RZSSNSEntity>& snsEntity() const { return snsEntity_; }
    void setSnsEntity(std::shared_ptr<RZSSNSEntity> v) { snsEntity_ = std::move(v); }

    const RAZududeResponsePtr& responseEntity() const { return responseEntity_; }
    void setResponseEntity(RAZududeResponsePtr v) { responseEntity_ = std::move(v); }

    // The request queue; the front job is the one on the wire.
    const std::deque<RAZududeJobPtr>& actionArray() const { return actionArray_; }
    // Takes a job that ended out of the queue.
    void removeAction(const RAZududeJobPtr& job);

    std::shared_ptr<RZSNetworkDelegate> netWorkDelegate() const { return netWorkDelegate_.lock(); }
    void setNetWorkDelegate(std::weak_ptr<RZSNetworkDelegate> d) {
        netWorkDelegate_ = std::move(d);
    }
    std::shared_ptr<RAZududeDataDelegate> socialDelegate() const { return socialDelegate_.lock(); }
    void setSocialDelegate(std::weak_ptr<RAZududeDataDelegate> d) {
        socialDelegate_ = std::move(d);
    }
    // Parked here by the data service; the requests do not call it.
    const RAZududeResponseCompletion& completion() const { return completion_; }
    void setCompletion(RAZududeResponseCompletion completion) {
        completion_ = std::move(completion);
    }

    // Queues one request of the kind. While the AppKey is empty nothing is queued and the
    // completion gets a 5050 failure on the main loop.
    void doActionWithType(int kind, RZSJobParameters params);
    // Stops the request on the wire (its completion is not called) and empties the queue.
    void cancelAllRequestInQueue();

    // ---- requests
    void requestAddComment(RAZududeResponseCompletion completion);
    // 1 adds a like, 0 takes it back.
    void requestAddlikeOrDislike(int like, RAZududeResponseCompletion completion);
    void requestCommentList(std::int64_t lastCommentTime, RAZududeResponseCompletion completion);
    // The bar information of the identifier (its key, counters and like state).
    void requestBarInfo(RAZududeResponseCompletion completion);
    // A bar request when the record has no entity key yet.
    void requestSocialEntityKey();
    void requestShareToMultiSNS(const std::vector<std::string>& platformNames,
                                RAZududeResponseCompletion completion);
    // Sends a batch of usage counts.
    void postOpAnalyticsWithDictionary(platform::Map counts, RAZududeResponseCompletion completion);
    void postAppInfo(platform::Map appInfo, RAZududeResponseCompletion completion);
    // The share service's tracking link of the URL for the platform.
    void getInverseFlowsWithPlatForm(std::optional<std::string> platformName,
                                     std::optional<std::string> webUrl,
                                     RAZududeResponseCompletion completion);

    // ---- shares and comments
    // A new share record of the platform type with the content; it replaces the current
    // manager's.
    void setSnsEntity(int snsType, std::optional<std::string> content, RAZududeShareImage image,
                      std::optional<platform::Location> location,
                      std::shared_ptr<RAZududeUrlResource> urlResource);
    // Nothing is sent (and the completion not called) without platform names.
    void postSNSWithTypes(const std::vector<std::string>& platformNames,
                          std::optional<std::string> content, RAZududeShareImage image,
                          std::optional<platform::Location> location,
                          std::shared_ptr<RAZududeUrlResource> urlResource,
                          RAZududeResponseCompletion completion, std::optional<std::string> from);
    void postCommentWithContent(std::optional<std::string> content,
                                std::optional<platform::Location> location,
                                RAZududeResponseCompletion completion);
    // Also shared to the platforms of the dictionary (platform name to platform user id).
    void postCommentWithContent(std::optional<std::string> content,
                                std::optional<platform::Location> location,
                                const platform::Map& shareToSNSWithUsid,
                                RAZududeResponseCompletion completion);
    // With a picture and a template text; the dictionary's names must be share-service
    // platforms and its values strings, else nothing is sent.
    void postCommentWithContent(std::optional<std::string> content, platform::ImagePtr image,
                                std::optional<std::string> templateText,
                                std::optional<platform::Location> location,
                                const platform::Map& shareToSNSWithUsid,
                                RAZududeResponseCompletion completion);
    void postCommentForDeveloperWithContent(std::optional<std::string> content,
                                            RAZududeResponseCompletion completion);
    // Likes, or takes the like back.
    void addOrMinusLike(RAZududeResponseCompletion completion);

    // Tells the data service's delegate of the reply.
    void didFinishGetResponseInSDK(const RAZududeResponsePtr& response) override;

    // The identifier as the "descriptor" parameter carries it: percent escapes undone, then
    // escaped again with the reserved characters.
    static std::string escapedIdentifier(const std::string& identifier);

    // Tests only: while set, every request goes to the sender instead of the share service.
    using RequestSender = std::function<void(RZSRequest request)>;
    static RequestSender setRequestSenderForTesting(RequestSender sender);

  private:
    std::optional<std::string> uid_;
    std::optional<std::string> identifier_;
    std::optional<std::string> title_;
    std::shared_ptr<RZSCommentEntity> currentComment_;
    std::shared_ptr<RZSBarEntity> barEntity_;
    std::shared_ptr<RZSSNSEntity> snsEntity_;
    RAZududeResponsePtr responseEntity_;
    std::deque<RAZududeJobPtr> actionArray_;
    std::weak_ptr<RZSNetworkDelegate> netWorkDelegate_;
    std::weak_ptr<RAZududeDataDelegate> socialDelegate_;
    RAZududeResponseCompletion completion_;
};
