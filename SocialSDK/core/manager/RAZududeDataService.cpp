#include "SocialSDK/core/manager/RAZududeDataService.h"

#include <algorithm>
#include <utility>

#include "RZBase_Source/Encode/RAZududeUtils.h"
#include "SocialSDK/core/account/RAZududeAccountManager.h"
#include "SocialSDK/core/analytics/RAZududeOpAnalytics.h"
#include "SocialSDK/core/config/RAZududeConfig.h"
#include "SocialSDK/core/config/RAZududeLocalizable.h"
#include "SocialSDK/core/data/RAZududeData.h"
#include "SocialSDK/core/handler/RAZududeHandlerRegistry.h"
#include "SocialSDK/core/image/RAZududeImageLoader.h"
#include "SocialSDK/core/manager/RZSDataManager.h"
#include "SocialSDK/core/manager/RZSUserManager.h"
#include "SocialSDK/core/platform/RAZududeSnsPlatformManager.h"
#include "SocialSDK/core/platform/RAZududeSnsPlatformNames.h"
#include "SocialSDK/core/screen/RAZududeScreenHooks.h"
#include "SocialSDK/core/screen/RAZududeScreenHost.h"
#include "platform/Format.h"
#include "platform/NoDestructor.h"
#include "platform/NotificationCenter.h"
#include "platform/TaskGuard.h"

namespace {

constexpr const char* kLoginSourceOp = "4";

void callCompletion(const RAZududeResponseCompletion& completion,
                    const RAZududeResponsePtr& response) {
    if (completion) {
        platform::detail::runGuarded("data service completion", [&] { completion(response); });
    }
}

// The platforms posted through the share service with the user's stored token.
bool isServicePlatformType(int type) {
    return type >= kRAZududeSnsPlatformTencent && type <= kRAZududeSnsPlatformDouban;
}

bool isServicePlatformName(const std::string& name) {
    return name == "tencent" || name == "douban" || name == "renren";
}

bool isWebResource(const std::shared_ptr<RAZududeUrlResource>& resource) {
    return resource && resource->resourceType() == kRAZududeUrlResourceTypeWeb;
}

const char* systemHandlerClass(const std::string& name) {
    if (name == "facebook") {
        return "RAZududeFacebookHandler";
    }
    if (name == "twitter") {
        return "RAZududeTwitterHandler";
    }
    return nullptr;
}

void showToast(const char* key, const char* defaultText) {
    // 0 keeps the duration of the toast settings.
    RAZududeScreenHooks::showToast(RAZududeLocalizedString(key, defaultText), 0);
}

// The toast of a refusal, by the "st" of the first platform of the reply.
void showRefusalToast(const std::string& platformName, const RAZududeResponsePtr& response) {
    int status = 0;
    if (response->data() && !response->data()->empty()) {
        status = response->data()->begin()->second["st"].intValue();
    }
    switch (status) {
        case 505:
            showToast("shareEdit_error_user_baned", "对不起，因为违反了用户协议您已被禁言");
            break;
        case 5007:
            showToast("shareEdit_error_empty_content", "消息为空，分享失败");
            break;
        case 5016:
            showToast("shareEdit_error_text_repeated", "由于文字重复，分享失败");
            break;
        case 5027: {
            auto& users = RZSUserManager::shareInstance();
            auto accounts = users.snsAccountDictionary();
            accounts.erase(platformName);
            users.setSnsAccountDictionary(std::move(accounts));
            showToast("shareEdit_error_auth_expired", "由于授权过期，分享失败");
            break;
        }
        case 100031:
            showToast("shareEdit_error_no_auth", "用户没有授权，分享失败");
            break;
        default:
            showToast("shareEdit_error_fail", "分享失败");
            break;
    }
}

// What a direct share shows of its result before the caller hears it.
void shareResultHandler(const std::string& platformName, const RAZududeResponsePtr& response) {
    if (!response) {
        return;
    }
    switch (response->responseCode()) {
        case kRAZududeResponseCancel:
            return;
        case kRAZududeResponseSuccess:
            RAZududeDataService::defaultDataService()->requestSocialDataWithCompletionInternal(
                [platformName](const RAZududeResponsePtr&) {
                    auto platform =
                        RAZududeSnsPlatformManager::getSocialPlatformWithName(platformName);
                    // The WeChat family, QQ and the system services tell of their own results.
                    if (!platform || platform->shareToType() < kRAZududeSnsPlatformWechatSession) {
                        showToast("shareEdit_post_finish", "发送成功");
                    }
                    platform::NotificationCenter::defaultCenter().post("UpdateSocialBar");
                });
            return;
        case kRAZududeResponseLoginFailed:
            showRefusalToast(platformName, response);
            return;
        default:
            showToast("shareEdit_error_network_fail_message", "网络异常，分享失败");
            return;
    }
}

// Hands the picture at the URL to `then` once loaded (null when it failed), without waiting.
class ImageFetch : public RZImageLoaderObserver, public std::enable_shared_from_this<ImageFetch> {
  public:
    using Then = std::function<void(platform::ImagePtr)>;

    static void start(const std::string& url, Then then) {
        auto fetch = std::make_shared<ImageFetch>(std::move(then));
        fetch->self_ = fetch;
        auto& loader = RAZududeImageLoader::sharedImageLoader();
        if (auto cached = loader.imageForURL(url, fetch, true)) {
            fetch->finish(std::move(cached));
        }
    }

    explicit ImageFetch(Then then) : then_(std::move(then)) {}

    unsigned imageLoaderMethods() const override { return kDidLoad | kDidFailToLoad; }
    void imageLoaderDidLoad(const RZImageLoaderNotification& notification) override {
        finish(notification.image);
    }
    void imageLoaderDidFailToLoad(const RZImageLoaderNotification&) override { finish(nullptr); }

  private:
    void finish(platform::ImagePtr image) {
        auto keep = std::move(self_);
        if (!keep) {
            return;
        }
        RAZududeImageLoader::sharedImageLoader().removeObserver(*this);
        auto then = std::move(then_);
        then(std::move(image));
    }

    Then then_;
    std::shared_ptr<ImageFetch> self_;
};

}  // namespace

RAZududeDataService::RecordContent RAZududeDataService::RecordContent::of(
    const RAZududeData& data) {
    RecordContent content{data.shareText(), data.shareImage()};
    if (auto resource = data.urlResource()) {
        content.urlType = resource->resourceType();
        content.url = resource->url();
    }
    return content;
}

void RAZududeDataService::RecordContent::writeTo(RAZududeData& data) const {
    data.setShareText(text);
    data.setShareImage(image);
    if (auto resource = data.urlResource()) {
        resource->setResourceType(urlType);
        resource->setUrl(url);
    }
}

// One share handed to a platform's screens: the content it wrote into the record, its
// completion, and the host its screens run on. It is the UI delegate of that host, so that
// each share ends with its own completion whatever other shares do meanwhile.
struct RAZududeDataService::PendingShare : public RAZududeUIDelegate,
                                           public std::enable_shared_from_this<PendingShare> {
    void didFinishGetRAZududeDataInViewController(const RAZududeResponsePtr& response) override {
        if (auto owner = service.lock()) {
            owner->finishScreenShare(shared_from_this(), response);
        } else {
            auto done = std::move(completion);
            callCompletion(done, response);
        }
    }

    RecordContent content;
    RAZududeResponseCompletion completion;
    std::weak_ptr<RAZududeDataService> service;
    std::weak_ptr<RAZududeScreenHost> host;
};

// ---- creation --------------------------------------------------------------------------

std::shared_ptr<RAZududeDataService> RAZududeDataService::defaultDataService() {
    static platform::NoDestructor<std::shared_ptr<RAZududeDataService>> instance(
        std::make_shared<RAZududeDataService>());
    return *instance;
}

RAZududeDataService::RAZududeDataService(std::shared_ptr<RAZududeData> socialData)
    : socialData_(std::move(socialData)) {}

RAZududeDataService::RAZududeDataService() : socialData_(RAZududeData::defaultData()) {}

RAZududeDataService::~RAZududeDataService() {
    if (socialData_) {
        if (auto manager = RZSDataManagerSet::shareInstance().dataManagerForIdentifier(
                socialData_->identifier())) {
            manager->setCompletion({});
        }
    }
}

std::shared_ptr<RZSDataManager> RAZududeDataService::ownDataManager(
    const RAZududeResponseCompletion* parked) const {
    std::shared_ptr<RZSDataManager> manager;
    if (socialData_) {
        manager = RZSDataManager::getDataManager(socialData_->identifier());
    }
    if (!manager) {
        manager = RZSDataManager::currentDataManager();
    }
    if (parked) {
        manager->setCompletion(*parked);
    }
    return manager;
}

void RAZududeDataService::setRAZududeDelegate(std::weak_ptr<RAZududeDataDelegate> delegate) {
    if (!socialData_) {
        return;
    }
    if (auto manager = RZSDataManager::getDataManager(socialData_->identifier())) {
        manager->setSocialDelegate(std::move(delegate));
    }
}

std::shared_ptr<RAZududeDataDelegate> RAZududeDataService::socialDataDelegate() const {
    if (!socialData_) {
        return nullptr;
    }
    auto manager = RZSDataManager::getDataManager(socialData_->identifier());
    return manager ? manager->socialDelegate() : nullptr;
}

const RAZududeAccountDictionary& RAZududeDataService::getRAZududeAccount() {
    return RZSUserManager::shareInstance().snsAccountDictionary();
}

// ---- saved content ---------------------------------------------------------------------

std::optional<std::string> RAZududeDataService::preText() const {
    return saved_ ? saved_->text : std::nullopt;
}

RAZududeShareImage RAZududeDataService::preImage() const {
    return saved_ ? saved_->image : RAZududeShareImage();
}

int RAZududeDataService::preUrlType() const {
    return saved_ ? saved_->urlType : 0;
}

std::optional<std::string> RAZududeDataService::preUrlResourceUrl() const {
    return saved_ ? saved_->url : std::nullopt;
}

// ---- requests --------------------------------------------------------------------------

void RAZududeDataService::requestSocialDataWithCompletion(RAZududeResponseCompletion completion) {
    requestSocialDataWithCompletionInternal(std::move(completion));
    RAZududeOpAnalytics::postSocialAnalytics(RZUsageCode::kRequestSocialData);
}

void RAZududeDataService::requestSocialDataWithCompletionInternal(
    RAZududeResponseCompletion completion) {
    auto manager = RZSDataManager::currentDataManager();
    manager->setNetWorkDelegate(manager);
    manager->setCompletion(completion);
    manager->requestBarInfo(std::move(completion));
}

void RAZududeDataService::postAddLikeOrCancelWithCompletion(RAZududeResponseCompletion completion) {
    postAddLikeOrCancelWithCompletionInternal(std::move(completion));
    RAZududeOpAnalytics::postSocialAnalytics(RZUsageCode::kLikeOrCancel);
}

void RAZududeDataService::postAddLikeOrCancelWithCompletionInternal(
    RAZududeResponseCompletion completion) {
    bool liked = socialData_ && socialData_->isLike();
    ownDataManager(&completion)->requestAddlikeOrDislike(liked ? 0 : 1, std::move(completion));
}

void RAZududeDataService::postCommentWithContent(std::optional<std::string> content,
                                                 RAZududeResponseCompletion completion) {
    postCommentWithContentInternal(std::move(content), std::move(completion));
    RAZududeOpAnalytics::postSocialAnalytics(RZUsageCode::kComment);
}

void RAZududeDataService::postCommentWithContentInternal(std::optional<std::string> content,
                                                         RAZududeResponseCompletion completion) {
    ownDataManager(&completion)
        ->postCommentForDeveloperWithContent(std::move(content), std::move(completion));
}

void RAZududeDataService::postCommentWithContent(std::optional<std::string> content,
                                                 platform::ImagePtr image,
                                                 std::optional<std::string> templateText,
                                                 std::optional<platform::Location> location,
                                                 const platform::Map& shareToSNSWithUsid,
                                                 RAZududeResponseCompletion completion) {
    postCommentWithContentInternal(std::move(content), std::move(image), std::move(templateText),
                                   location, shareToSNSWithUsid, std::move(completion));
    RAZududeOpAnalytics::postSocialAnalytics(RZUsageCode::kCommentWithShare);
}

void RAZududeDataService::postCommentWithContentInternal(std::optional<std::string> content,
                                                         platform::ImagePtr image,
                                                         std::optional<std::string> templateText,
                                                         std::optional<platform::Location> location,
                                                         const platform::Map& shareToSNSWithUsid,
                                                         RAZududeResponseCompletion completion) {
    ownDataManager(&completion);
    RZSDataManager::currentDataManager()->postCommentWithContent(
        std::move(content), std::move(image), std::move(templateText), location, shareToSNSWithUsid,
        std::move(completion));
}

void RAZududeDataService::requestCommentList(std::int64_t lastCommentTime,
                                             RAZududeResponseCompletion completion) {
    requestCommentListInternal(lastCommentTime, std::move(completion));
    RAZududeOpAnalytics::postSocialAnalytics(RZUsageCode::kCommentList);
}

void RAZududeDataService::requestCommentListInternal(std::int64_t lastCommentTime,
                                                     RAZududeResponseCompletion completion) {
    ownDataManager(&completion)->requestCommentList(lastCommentTime, std::move(completion));
}

void RAZududeDataService::requestSocialAccountWithCompletion(
    RAZududeResponseCompletion completion) {
    requestSocialAccountWithCompletionInternal(std::move(completion));
    RAZududeOpAnalytics::postSocialAnalytics(RZUsageCode::kSocialAccount);
}

void RAZududeDataService::requestSocialAccountWithCompletionInternal(
    RAZududeResponseCompletion completion) {
    ownDataManager(&completion);
    RZSUserManager::shareInstance().requestSnsAccount(std::move(completion));
}

void RAZududeDataService::requestUnOauthWithType(const std::string& platformName,
                                                 RAZududeResponseCompletion completion) {
    requestUnOauthWithTypeInternal(platformName, std::move(completion));
    RAZududeOpAnalytics::postSocialAnalytics(RZUsageCode::kUnOauth);
}

void RAZududeDataService::requestUnOauthWithTypeInternal(const std::string& platformName,
                                                         RAZududeResponseCompletion completion) {
    ownDataManager(&completion);
    RZSUserManager::shareInstance().requestUnOauthToPlatform(platformName, std::move(completion));
}

void RAZududeDataService::requestBindToSnsWithType(const std::string& platformName,
                                                   RAZududeResponseCompletion completion) {
    requestBindToSnsWithTypeInternal(platformName, std::move(completion));
    RAZududeOpAnalytics::postSocialAnalytics(RZUsageCode::kBindToSns);
}

void RAZududeDataService::requestBindToSnsWithTypeInternal(const std::string& platformName,
                                                           RAZududeResponseCompletion completion) {
    ownDataManager(&completion);
    RZSUserManager::shareInstance().requestBindingSNSWithTye(platformName, std::move(completion));
}

void RAZududeDataService::requestUnBindToSnsWithCompletion(RAZududeResponseCompletion completion) {
    requestUnBindToSnsWithCompletionInternal(std::move(completion));
    RAZududeOpAnalytics::postSocialAnalytics(RZUsageCode::kUnBindToSns);
}

void RAZududeDataService::requestUnBindToSnsWithCompletionInternal(
    RAZududeResponseCompletion completion) {
    RZSUserManager::shareInstance().requestUnBindingSNS(std::move(completion));
}

void RAZududeDataService::requestSnsInformation(const std::string& platformName,
                                                RAZududeResponseCompletion completion) {
    requestSnsInformationInternal(platformName, std::move(completion));
    RAZududeOpAnalytics::postSocialAnalytics(RZUsageCode::kSnsInformation);
}

void RAZududeDataService::requestSnsInformationInternal(const std::string& platformName,
                                                        RAZududeResponseCompletion completion) {
    ownDataManager(&completion);
    RZSUserManager::shareInstance().requestSnsInformation(platformName, std::move(completion));
}

void RAZududeDataService::requestSnsFriends(const std::string& platformName,
                                            RAZududeResponseCompletion completion) {
    requestSnsFriendsInternal(platformName, std::move(completion));
    RAZududeOpAnalytics::postSocialAnalytics(RZUsageCode::kSnsFriends);
}

void RAZududeDataService::requestSnsFriendsInternal(const std::string& platformName,
                                                    RAZududeResponseCompletion completion) {
    ownDataManager(&completion);
    RZSUserManager::shareInstance().requestGetFriends(platformName, std::move(completion));
}

void RAZududeDataService::requestAddFollow(const std::string& platformName,
                                           const std::vector<std::string>& followedUsid,
                                           RAZududeResponseCompletion completion) {
    requestAddFollowInternal(platformName, followedUsid, std::move(completion));
    RAZududeOpAnalytics::postSocialAnalytics(RZUsageCode::kAddFollow);
}

void RAZududeDataService::requestAddFollowInternal(const std::string& platformName,
                                                   const std::vector<std::string>& followedUsid,
                                                   RAZududeResponseCompletion completion) {
    ownDataManager(&completion);
    RZSUserManager::shareInstance().requestAddFollow(platformName, followedUsid,
                                                     std::move(completion));
}

void RAZududeDataService::requestIsTokenValid(const std::vector<std::string>& platformNames,
                                              RAZududeResponseCompletion completion) {
    requestIsTokenValidInternal(platformNames, std::move(completion));
}

void RAZududeDataService::requestIsTokenValidInternal(const std::vector<std::string>& platformNames,
                                                      RAZududeResponseCompletion completion) {
    RZSUserManager::shareInstance().requestIsTokenValid(platformNames, std::move(completion));
}

void RAZududeDataService::cancelAllRequestInQueueInternal() {
    RZSDataManager::currentDataManager()->cancelAllRequestInQueue();
}

// ---- shares ----------------------------------------------------------------------------

bool RAZududeDataService::canDirectShare(int platformType) {
    if (isServicePlatformType(platformType)) {
        return true;
    }
    const char* className = platformType == kRAZududeSnsPlatformFacebook ? "RAZududeFacebookHandler"
                            : platformType == kRAZududeSnsPlatformTwitter ? "RAZududeTwitterHandler"
                                                                          : nullptr;
    if (!className) {
        return false;
    }
    auto handler = RAZududeHandlerRegistry::shareInstanceOf(className);
    return handler && handler->isReadyToShareDirectly();
}

void RAZududeDataService::postSnsWithDictionary(RAZududeSnsPostContent d) {
    std::string name = d.snsType.value_or("");
    auto callerCompletion = d.completion;
    RAZududeResponseCompletion wrapped = [name, callerCompletion](const RAZududeResponsePtr& r) {
        shareResultHandler(name, r);
        callCompletion(callerCompletion, r);
    };

    int type = RAZududeSnsPlatformManagerInternal::getSnsPlatformType(name);
    if (!isServicePlatformType(type)) {
        postSNSWithTypes({name}, std::move(d.content), std::move(d.image), d.location,
                         std::move(d.urlResource), std::move(d.controller), std::move(wrapped));
        return;
    }

    RAZududeSnsPostContent c;
    c.content = std::move(d.content);
    c.image = std::move(d.image);
    c.urlResource = std::move(d.urlResource);
    c.location = d.location;
    c.sourceOpType = std::move(d.sourceOpType);
    c.completion = std::move(wrapped);
    if (RAZududeAccountManager::isOauthAndTokenNotExpired(name)) {
        postSNSWithTypesInternal({name}, std::move(c));
        return;
    }
    if (!d.controller) {
        RAZududeUtils::outLog([&] {
            return platform::format("no valid token for %@ and no screen to log in from", name);
        });
        return;
    }
    auto platform = RAZududeSnsPlatformManager::getSocialPlatformWithName(name);
    auto host = RAZududeScreenHooks::makeScreenHost(socialData_);
    if (!platform || !platform->loginClickHandler() || !host) {
        return;
    }
    std::weak_ptr<RAZududeDataService> weakSelf = weak_from_this();
    platform->loginClickHandler()(
        d.controller, host, true,
        [weakSelf, name, c = std::move(c), callerCompletion](const RAZududeResponsePtr& r) {
            if (r && r->responseCode() == kRAZududeResponseSuccess) {
                auto self = weakSelf.lock();
                (self ? self : defaultDataService())->postSNSWithTypesInternal({name}, c);
            } else {
                callCompletion(callerCompletion, r);
            }
        });
}

void RAZududeDataService::postSNSWithTypes(const std::vector<std::string>& platformNames,
                                           std::optional<std::string> content,
                                           RAZududeShareImage image,
                                           std::optional<platform::Location> location,
                                           std::shared_ptr<RAZududeUrlResource> urlResource,
                                           std::shared_ptr<platform::ViewController> controller,
                                           RAZududeResponseCompletion completion) {
    if (platformNames.size() != 1) {
        postSNSWithTypes(platformNames, std::move(content), std::move(image), location,
                         std::move(urlResource), std::move(completion));
        return;
    }
    const std::string& name = platformNames.front();
    // The per-platform content is always the default record's.
    if (auto ext = RAZududeData::defaultData()->extConfig()) {
        const auto& dictionary = ext->snsDataDictionary();
        if (auto it = dictionary.find(name); it != dictionary.end() && it->second) {
            const auto& snsData = *it->second;
            if (snsData.shareText()) {
                content = snsData.shareText();
            }
            if (snsData.shareImage()) {
                image = snsData.shareImage();
            }
            if (snsData.urlResource() && snsData.urlResource()->resourceType() != 0) {
                urlResource = snsData.urlResource();
            }
        }
    }

    int type = RAZududeSnsPlatformManagerInternal::getSnsPlatformType(name);
    if (type == 0) {
        return;
    }
    if (!canDirectShare(type)) {
        startScreenShare(controller, name, std::move(content), std::move(image),
                         std::move(urlResource), std::move(completion));
        return;
    }
    if (RAZududeAccountManager::isOauthAndTokenNotExpired(name) || !controller) {
        if (!RAZududeAccountManager::isOauthAndTokenNotExpired(name)) {
            RAZududeUtils::outLog(
                "Not oauth with the platform, so you should pass the current ViewController!");
        }
        postSNSWithTypes(platformNames, std::move(content), std::move(image), location,
                         std::move(urlResource), std::move(completion));
        return;
    }
    auto platform = RAZududeSnsPlatformManager::getSocialPlatformWithName(name);
    auto host = RAZududeScreenHooks::makeScreenHost(socialData_);
    if (!platform || !platform->loginClickHandler() || !host) {
        return;
    }
    std::weak_ptr<RAZududeDataService> weakSelf = weak_from_this();
    platform->loginClickHandler()(controller, host, true,
                                  [weakSelf, platformNames, content, image, location, urlResource,
                                   completion](const RAZududeResponsePtr& r) {
                                      if (r && r->responseCode() == kRAZududeResponseSuccess) {
                                          auto self = weakSelf.lock();
                                          (self ? self : defaultDataService())
                                              ->postSNSWithTypesInternal(
                                                  platformNames, content, image, location,
                                                  urlResource, completion, kLoginSourceOp);
                                      } else {
                                          callCompletion(completion, r);
                                      }
                                  });
}

void RAZududeDataService::postSNSWithTypes(const std::vector<std::string>& platformNames,
                                           std::optional<std::string> content,
                                           RAZududeShareImage image,
                                           std::optional<platform::Location> location,
                                           std::shared_ptr<RAZududeUrlResource> urlResource,
                                           RAZududeResponseCompletion completion) {
    postSNSWithTypesInternal(platformNames, std::move(content), std::move(image), location,
                             std::move(urlResource), std::move(completion), std::nullopt);
}

void RAZududeDataService::postSNSWithTypesInternal(const std::vector<std::string>& platformNames,
                                                   RAZududeSnsPostContent content) {
    postSNSWithTypesInternal(platformNames, std::move(content.content), std::move(content.image),
                             content.location, std::move(content.urlResource),
                             std::move(content.completion), std::move(content.sourceOpType));
}

void RAZududeDataService::postSNSWithTypesInternal(const std::vector<std::string>& platformNames,
                                                   std::optional<std::string> content,
                                                   RAZududeShareImage image,
                                                   std::optional<platform::Location> location,
                                                   std::shared_ptr<RAZududeUrlResource> urlResource,
                                                   RAZududeResponseCompletion completion,
                                                   std::optional<std::string> sourceOpType) {
    bool single = platformNames.size() == 1;
    if (single) {
        RAZududeOpAnalytics::postSocialAnalyticsFromSourceOpType(RZUsageCode::kShare, sourceOpType,
                                                                 platformNames.front());
    } else {
        RAZududeOpAnalytics::postSocialAnalyticsFromSourceOpType(RZUsageCode::kShare, sourceOpType);
    }
    const std::string name = single ? platformNames.front() : std::string();

    if (!sourceOpType && single) {
        if (const char* className = systemHandlerClass(name)) {
            auto handler = RAZududeHandlerRegistry::shareInstanceOf(className);
            if (!handler) {
                RAZududeUtils::outLog(
                    [&] { return platform::format("no %@ handler: nothing is shared", name); });
                return;
            }
            // The picture of an image URL is fetched first, off the main thread's back.
            if (urlResource && urlResource->url() &&
                urlResource->resourceType() == kRAZududeUrlResourceTypeImage) {
                ImageFetch::start(*urlResource->url(), [handler, content, image,
                                                        completion](platform::ImagePtr got) {
                    handler->clickShareButton(content, got ? RAZududeShareImage(got) : image,
                                              completion);
                });
            } else {
                handler->clickShareButton(std::move(content), std::move(image),
                                          std::move(completion));
            }
            return;
        }
    }

    ownDataManager(&completion);
    if (single && isWebResource(urlResource) && isServicePlatformName(name)) {
        // The tracking link goes into a copy: the caller's resource stays as it was. A reply
        // without a link shares the URL unchanged rather than nothing at all.
        std::weak_ptr<RAZududeDataService> weakSelf = weak_from_this();
        auto linkCompletion = [weakSelf, platformNames, content, image, location, urlResource,
                               completion, sourceOpType](const RAZududeResponsePtr& r) {
            auto shared = std::make_shared<RAZududeUrlResource>(*urlResource);
            const platform::Value* link = r && r->data() ? r->data()->find("new") : nullptr;
            if (link && link->isString()) {
                shared->setUrl(*link->string());
            } else if (r && r->error()) {
                RAZududeUtils::outLog([&] {
                    return platform::format("response error is %@", r->error()->description());
                });
            } else {
                RAZududeUtils::outLog([&] {
                    return platform::format(
                        "response data error is %@",
                        r && r->data() ? platform::Value(*r->data()).description() : "(null)");
                });
            }
            auto self = weakSelf.lock();
            (self ? self : defaultDataService())
                ->postToOwnDataManager(platformNames, content, image, location, shared, completion,
                                       sourceOpType);
        };
        defaultDataService()->getInverseFlowsWithPlatForm(name, urlResource->url(),
                                                          std::move(linkCompletion));
        return;
    }
    postToOwnDataManager(platformNames, std::move(content), std::move(image), location,
                         std::move(urlResource), std::move(completion), std::move(sourceOpType));
}

void RAZududeDataService::postToOwnDataManager(const std::vector<std::string>& platformNames,
                                               std::optional<std::string> content,
                                               RAZududeShareImage image,
                                               std::optional<platform::Location> location,
                                               std::shared_ptr<RAZududeUrlResource> urlResource,
                                               RAZududeResponseCompletion completion,
                                               std::optional<std::string> sourceOpType) {
    ownDataManager(&completion)
        ->postSNSWithTypes(platformNames, std::move(content), std::move(image), location,
                           std::move(urlResource), std::move(completion), std::move(sourceOpType));
}

void RAZududeDataService::getInverseFlowsWithPlatForm(std::optional<std::string> platformName,
                                                      std::optional<std::string> webUrl,
                                                      RAZududeResponseCompletion completion) {
    if (RAZududeConfig::shareInstance().isGetInverseFlowUrl()) {
        RZSDataManager::currentDataManager()->getInverseFlowsWithPlatForm(
            std::move(platformName), std::move(webUrl), std::move(completion));
        return;
    }
    platform::Map data;
    if (webUrl) {
        data.append("new", *webUrl);
        data.append("url", *webUrl);
    }
    auto response = std::make_shared<RAZududeResponseEntity>();
    response->setData(std::move(data));
    callCompletion(completion, response);
}

// ---- shares through a platform's screens ----------------------------------------------

void RAZududeDataService::startScreenShare(
    const std::shared_ptr<platform::ViewController>& controller, const std::string& platformName,
    std::optional<std::string> content, RAZududeShareImage image,
    std::shared_ptr<RAZududeUrlResource> urlResource, RAZududeResponseCompletion completion) {
    if (!socialData_) {
        return;
    }
    dropAbandonedShares();
    auto platform = RAZududeSnsPlatformManager::getSocialPlatformWithName(platformName);
    if (!platform || !platform->snsClickHandler()) {
        return;
    }
    auto host = RAZududeScreenHooks::makeScreenHost(socialData_);
    if (!host) {
        return;
    }

    auto share = std::make_shared<PendingShare>();
    share->content.text = std::move(content);
    share->content.image = std::move(image);
    if (urlResource) {
        share->content.urlType = urlResource->resourceType();
        share->content.url = urlResource->url();
    }
    share->completion = std::move(completion);
    share->service = weak_from_this();
    share->host = host;

    if (pendingShares_.empty()) {
        saved_ = RecordContent::of(*socialData_);
    }
    share->content.writeTo(*socialData_);
    host->setSocialUIDelegate(share);
    pendingShares_.push_back(std::move(share));

    platform->snsClickHandler()(controller, host, true);
    host.reset();
    // A flow that kept neither its screens nor its delegate will never report.
    dropAbandonedShares();
}

void RAZududeDataService::finishScreenShare(const std::shared_ptr<PendingShare>& share,
                                            const RAZududeResponsePtr& response) {
    auto it = std::find(pendingShares_.begin(), pendingShares_.end(), share);
    if (it == pendingShares_.end()) {
        return;  // reported already
    }
    pendingShares_.erase(it);
    restoreContent();
    auto done = std::move(share->completion);
    callCompletion(done, response);
}

void RAZududeDataService::dropAbandonedShares() {
    auto before = pendingShares_.size();
    std::erase_if(pendingShares_, [](const std::shared_ptr<PendingShare>& share) {
        return share->host.expired() && share.use_count() == 1;
    });
    if (pendingShares_.size() != before) {
        restoreContent();
    }
}

void RAZududeDataService::restoreContent() {
    if (!socialData_) {
        return;
    }
    if (!pendingShares_.empty()) {
        pendingShares_.back()->content.writeTo(*socialData_);
        return;
    }
    if (saved_) {
        saved_->writeTo(*socialData_);
        saved_.reset();
    }
}

void RAZududeDataService::didFinishGetRAZududeDataInViewController(
    const RAZududeResponsePtr& response) {
    if (!pendingShares_.empty()) {
        finishScreenShare(pendingShares_.back(), response);
    }
}
