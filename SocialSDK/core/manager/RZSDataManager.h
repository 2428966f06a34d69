// Data managers: one per share-record identifier, holding that record's server-side state (its
// bar entity, the last response) and starting its requests to the share service. The set keeps
// them by identifier, knows the current one, and keeps the AppKey.
//
// Requests go through RZSRequestGate; the request queue of each manager comes with the request
// pipeline.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>

#include "SocialSDK/core/data/RAZududeResponseEntity.h"
#include "SocialSDK/core/manager/RZSBarEntity.h"
#include "platform/Value.h"

class RZSDataManager;

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

class RZSDataManagerSet {
  public:
    static RZSDataManagerSet& shareInstance();

    RZSDataManagerSet(const RZSDataManagerSet&) = delete;
    RZSDataManagerSet& operator=(const RZSDataManagerSet&) = delete;

    // Kept, and written to the document store; the empty string at first. Only after it was
    // set to nothing is the stored value read.
    std::optional<std::string> appkey() const;
    void setAppkey(std::optional<std::string> appkey);

    const std::optional<std::string>& currentDataHash() const { return currentDataHash_; }
    void setCurrentDataHash(std::optional<std::string> hash) { currentDataHash_ = std::move(hash); }
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

  private:
    RZSDataManagerSet();

    std::optional<std::string> currentDataHash_;
    std::map<std::string, std::shared_ptr<RZSDataManager>> socialDataDictionary_;
    std::optional<std::string> appkey_ = std::string();
    std::optional<std::string> cocos2dxVersion_;
    std::optional<std::string> sdkType_;
};

class RZSDataManager : public RZSNetworkDelegate {
  public:
    RZSDataManager();

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

    // Made empty on first use when there is none.
    std::shared_ptr<RZSBarEntity> barEntity();
    // Whether a bar entity is held, without making one.
    bool hasBarEntity() const { return barEntity_ != nullptr; }
    void setBarEntity(std::shared_ptr<RZSBarEntity> entity);

    const RAZududeResponsePtr& responseEntity() const { return responseEntity_; }

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

    // The bar information of the identifier (its key, counters and like state).
    void requestBarInfo(RAZududeResponseCompletion completion);
    // Sends a batch of usage counts.
    void postOpAnalyticsWithDictionary(platform::Map counts, RAZududeResponseCompletion completion);

    // Tells the data service's delegate of the reply.
    void didFinishGetResponseInSDK(const RAZududeResponsePtr& response) override;

    // The identifier as the "descriptor" parameter carries it: percent escapes undone, then
    // escaped again with the reserved characters.
    static std::string escapedIdentifier(const std::string& identifier);

  private:
    std::optional<std::string> uid_;
    std::optional<std::string> identifier_;
    std::optional<std::string> title_;
    std::shared_ptr<RZSBarEntity> barEntity_;
    RAZududeResponsePtr responseEntity_;
    std::weak_ptr<RZSNetworkDelegate> netWorkDelegate_;
    std::weak_ptr<RAZududeDataDelegate> socialDelegate_;
    RAZududeResponseCompletion completion_;
};
