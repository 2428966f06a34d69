// The request facade of one share record. Every request the app, the screens or the platform
// handlers start on the share service goes through it: shares to one or several platforms,
// likes, comments, the comment list, the bar counters, the SDK account, un-authorising,
// binding, the platform profile, friends, follows, token checks and the tracking link of a web
// URL. It builds no request itself: it hands each to the record's data manager, or to the user
// manager for the account requests. What it adds are the decisions around a share: which
// platforms go to the share service and which through a platform's own flow or a login first,
// the per-platform content, the result toasts and the "UpdateSocialBar" notification.
//
// Public requests come in pairs: the public form records a usage count and calls the Internal
// form, which is what the screens and handlers call.
//
// Threads: main thread only; every completion is called there, at most once, and an empty one
// is never called.
// Ownership: a service holds its record. A share handed to a platform's screens keeps its own
// saved content and completion until its flow reports (didFinishGetRAZududeDataInViewController
// of the stand-in that the screens get as their UI delegate), so shares started one after the
// other do not overwrite each other; the record's own content is put back once no such share
// is left.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "SocialSDK/core/account/RAZududeAccountEntity.h"
#include "SocialSDK/core/data/RAZududeResponseEntity.h"
#include "SocialSDK/core/data/RAZududeShareImage.h"
#include "SocialSDK/core/data/RAZududeUrlResource.h"
#include "SocialSDK/core/handler/RAZududeUIDelegate.h"
#include "platform/Location.h"
#include "platform/Value.h"
#include "platform/graphics/Image.h"

namespace platform {
class ViewController;
}

class RAZududeData;
class RAZududeDataDelegate;
class RAZududeScreenHost;
class RZSDataManager;

// What a share hands the data service (the content dictionary of a share): the platform, the
// content, the screen to present any login or editor from, the completion, and the operation
// that started the share.
struct RAZududeSnsPostContent {
    std::optional<std::string> snsType;
    std::optional<std::string> content;
    RAZududeShareImage image;
    std::optional<platform::Location> location;
    std::shared_ptr<RAZududeUrlResource> urlResource;
    std::shared_ptr<platform::ViewController> controller;
    RAZududeResponseCompletion completion;
    std::optional<std::string> sourceOpType;
};

class RAZududeDataService : public RAZududeUIDelegate,
                            public std::enable_shared_from_this<RAZududeDataService> {
  public:
    // The shared service, on the default record.
    static std::shared_ptr<RAZududeDataService> defaultDataService();

    // A service on the record (initWithRAZududeData).
    explicit RAZududeDataService(std::shared_ptr<RAZududeData> socialData);
    // A service on the default record.
    RAZududeDataService();
    // Clears the completion parked on the record's data manager.
    ~RAZududeDataService() override;
    RAZududeDataService(const RAZududeDataService&) = delete;
    RAZududeDataService& operator=(const RAZududeDataService&) = delete;

    const std::shared_ptr<RAZududeData>& socialData() const { return socialData_; }
    void setSocialData(std::shared_ptr<RAZududeData> data) { socialData_ = std::move(data); }

    // The delegate the record's data manager tells of every result.
    void setRAZududeDelegate(std::weak_ptr<RAZududeDataDelegate> delegate);
    std::shared_ptr<RAZududeDataDelegate> socialDataDelegate() const;
    // The user's platform accounts.
    static const RAZududeAccountDictionary& getRAZududeAccount();

    // ---- what a share handed to a platform's screens saved of the record
    // The record's content before the first of the shares still waiting for their screens;
    // nothing when none waits.
    std::optional<std::string> preText() const;
    RAZududeShareImage preImage() const;
    int preUrlType() const;
    std::optional<std::string> preUrlResourceUrl() const;
    // The shares waiting for their screens to report.
    std::size_t pendingShareCount() const { return pendingShares_.size(); }

    // ---- requests: the public form records its usage count, then calls the Internal form
    // The bar information (counters, like state) of the current record.
    void requestSocialDataWithCompletion(RAZududeResponseCompletion completion);
    void requestSocialDataWithCompletionInternal(RAZududeResponseCompletion completion);
    // Adds the like, or takes it back when the record is liked.
    void postAddLikeOrCancelWithCompletion(RAZududeResponseCompletion completion);
    void postAddLikeOrCancelWithCompletionInternal(RAZududeResponseCompletion completion);
    void postCommentWithContent(std::optional<std::string> content,
                                RAZududeResponseCompletion completion);
    void postCommentWithContentInternal(std::optional<std::string> content,
                                        RAZududeResponseCompletion completion);
    // A comment with a picture and a template text, also shared to the platforms of the
    // dictionary (platform name to the platform user id).
    void postCommentWithContent(std::optional<std::string> content, platform::ImagePtr image,
                                std::optional<std::string> templateText,
                                std::optional<platform::Location> location,
                                const platform::Map& shareToSNSWithUsid,
                                RAZududeResponseCompletion completion);
    void postCommentWithContentInternal(std::optional<std::string> content,
                                        platform::ImagePtr image,
                                        std::optional<std::string> templateText,
                                        std::optional<platform::Location> location,
                                        const platform::Map& shareToSNSWithUsid,
                                        RAZududeResponseCompletion completion);
    // The comments older than the time of the last one already held.
    void requestCommentList(std::int64_t lastCommentTime, RAZududeResponseCompletion completion);
    void requestCommentListInternal(std::int64_t lastCommentTime,
                                    RAZududeResponseCompletion completion);
    void requestSocialAccountWithCompletion(RAZududeResponseCompletion completion);
    void requestSocialAccountWithCompletionInternal(RAZududeResponseCompletion completion);
    void requestUnOauthWithType(const std::string& platformName,
                                RAZududeResponseCompletion completion);
    void requestUnOauthWithTypeInternal(const std::string& platformName,
                                        RAZududeResponseCompletion completion);
    void requestBindToSnsWithType(const std::string& platformName,
                                  RAZududeResponseCompletion completion);
    void requestBindToSnsWithTypeInternal(const std::string& platformName,
                                          RAZududeResponseCompletion completion);
    void requestUnBindToSnsWithCompletion(RAZududeResponseCompletion completion);
    void requestUnBindToSnsWithCompletionInternal(RAZududeResponseCompletion completion);
    void requestSnsInformation(const std::string& platformName,
                               RAZududeResponseCompletion completion);
    void requestSnsInformationInternal(const std::string& platformName,
                                       RAZududeResponseCompletion completion);
    void requestSnsFriends(const std::string& platformName, RAZududeResponseCompletion completion);
    void requestSnsFriendsInternal(const std::string& platformName,
                                   RAZududeResponseCompletion completion);
    void requestAddFollow(const std::string& platformName,
                          const std::vector<std::string>& followedUsid,
                          RAZududeResponseCompletion completion);
    void requestAddFollowInternal(const std::string& platformName,
                                  const std::vector<std::string>& followedUsid,
                                  RAZududeResponseCompletion completion);
    // Records no usage count: both forms do the same.
    void requestIsTokenValid(const std::vector<std::string>& platformNames,
                             RAZududeResponseCompletion completion);
    void requestIsTokenValidInternal(const std::vector<std::string>& platformNames,
                                     RAZududeResponseCompletion completion);

    // ---- shares
    // The direct share of the icon sheet and the share list: a share-service platform goes to
    // the share service (after a login from the content's controller when it has no valid
    // token; without a controller nothing happens), any other through the share with a
    // presented controller. The result is shown as a toast before the completion hears it.
    void postSnsWithDictionary(RAZududeSnsPostContent content);
    // A share to the platforms, with the screen to present a login or an editor from. The
    // per-platform content of the default record replaces the given one for a single platform;
    // a platform that needs this SDK's screens or its own flow gets them, with the record
    // holding the share's content until they report.
    void postSNSWithTypes(const std::vector<std::string>& platformNames,
                          std::optional<std::string> content, RAZududeShareImage image,
                          std::optional<platform::Location> location,
                          std::shared_ptr<RAZududeUrlResource> urlResource,
                          std::shared_ptr<platform::ViewController> presentedController,
                          RAZududeResponseCompletion completion);
    void postSNSWithTypes(const std::vector<std::string>& platformNames,
                          std::optional<std::string> content, RAZududeShareImage image,
                          std::optional<platform::Location> location,
                          std::shared_ptr<RAZududeUrlResource> urlResource,
                          RAZududeResponseCompletion completion);
    // The share itself, to the share service (kind 5), with a web page's URL first turned into
    // its tracking link for tencent, douban and renren. The caller's URL resource is never
    // changed.
    void postSNSWithTypesInternal(const std::vector<std::string>& platformNames,
                                  std::optional<std::string> content, RAZududeShareImage image,
                                  std::optional<platform::Location> location,
                                  std::shared_ptr<RAZududeUrlResource> urlResource,
                                  RAZududeResponseCompletion completion,
                                  std::optional<std::string> sourceOpType);
    // The same with the content as one struct (its snsType and controller are not read).
    void postSNSWithTypesInternal(const std::vector<std::string>& platformNames,
                                  RAZududeSnsPostContent content);
    // Whether a share to the platform type needs no screen of this SDK: the share-service
    // platforms, and facebook or twitter when their system-service handler is ready.
    static bool canDirectShare(int platformType);
    // The tracking link of the web URL for the platform: from the share service (kind 20) when
    // the configuration asks for it, else at once a reply whose "new" and "url" are the URL.
    void getInverseFlowsWithPlatForm(std::optional<std::string> platformName,
                                     std::optional<std::string> webUrl,
                                     RAZududeResponseCompletion completion);
    // Empties the request queue of the current data manager; the request on the wire is
    // stopped and its completion not called.
    void cancelAllRequestInQueueInternal();

    // What a direct share to the platform carries: the text, picture and URL resource the
    // share service set for the platform, else the record's (a default URL resource is none),
    // and the platform's name; no screen and no completion. Built in
    // RAZududeDataServiceContent.cpp.
    RAZududeSnsPostContent snsPostContentForPlatform(const std::string& platformName) const;

    // As the UI delegate of the screens of a share: the latest share still waiting for its
    // screens ends with the response (its content put back, its completion called).
    void didFinishGetRAZududeDataInViewController(const RAZududeResponsePtr& response) override;

  private:
    // What a share writes into the record while its screens run.
    struct RecordContent {
        std::optional<std::string> text;
        RAZududeShareImage image;
        int urlType = kRAZududeUrlResourceTypeDefault;
        std::optional<std::string> url;

        static RecordContent of(const RAZududeData& data);
        void writeTo(RAZududeData& data) const;
    };
    struct PendingShare;

    // Starts a share through the platform's screens with the content written into the record.
    void startScreenShare(const std::shared_ptr<platform::ViewController>& controller,
                          const std::string& platformName, std::optional<std::string> content,
                          RAZududeShareImage image,
                          std::shared_ptr<RAZududeUrlResource> urlResource,
                          RAZududeResponseCompletion completion);
    void finishScreenShare(const std::shared_ptr<PendingShare>& share,
                           const RAZududeResponsePtr& response);
    // Puts back the record's own content, or the newest waiting share's, after one left.
    void restoreContent();
    void dropAbandonedShares();
    // The share to the share service of 2c, on the record's data manager.
    void postToOwnDataManager(const std::vector<std::string>& platformNames,
                              std::optional<std::string> content, RAZududeShareImage image,
                              std::optional<platform::Location> location,
                              std::shared_ptr<RAZududeUrlResource> urlResource,
                              RAZududeResponseCompletion completion,
                              std::optional<std::string> sourceOpType);
    // The record's data manager (the current one when the record has none); parks the
    // completion on it when given.
    std::shared_ptr<RZSDataManager> ownDataManager(
        const RAZududeResponseCompletion* parked = nullptr) const;

    std::shared_ptr<RAZududeData> socialData_;
    // Oldest first.
    std::vector<std::shared_ptr<PendingShare>> pendingShares_;
    // The record's content from before the first waiting share.
    std::optional<RecordContent> saved_;
};
