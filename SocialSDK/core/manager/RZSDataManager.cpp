#include "SocialSDK/core/manager/RZSDataManager.h"

#include <exception>
#include <mutex>

#include "RZBase_Source/Encode/RAZududeCryptor.h"
#include "RZBase_Source/Encode/RAZududeUtils.h"
#include "SocialSDK/core/cache/RZSCacheManager.h"
#include "SocialSDK/core/manager/RZSCommentEntity.h"
#include "SocialSDK/core/manager/RZSPersistence.h"
#include "SocialSDK/core/manager/RZSUserManager.h"
#include "SocialSDK/core/platform/RAZududeSnsPlatformManager.h"
#include "SocialSDK/core/protocol/RAZududeJobFactory.h"
#include "SocialSDK/core/protocol/RZSSNSEntity.h"
#include "platform/Format.h"
#include "platform/MainLoop.h"
#include "platform/NoDestructor.h"
#include "platform/TaskGuard.h"
#include "platform/Text.h"
#include "platform/ThreadCheck.h"
#include "platform/Url.h"

namespace {

constexpr const char* kDefaultIdentifier = "RAZududeDefault";
constexpr const char* kShakeSource = "46";
constexpr int kUnknownPlatformType = 9;

// The text with its percent escapes undone; nothing when an escape is malformed or the result
// is not UTF-8.
std::optional<std::string> removePercentEscapes(const std::string& text) {
    if (!platform::hasValidPercentEscapes(text)) {
        return std::nullopt;
    }
    std::string out = platform::percentDecode(text);
    if (!platform::text::isValidUtf8(out)) {
        return std::nullopt;
    }
    return out;
}

RZSDataManager::RequestSender& requestSender() {
    static platform::NoDestructor<RZSDataManager::RequestSender> sender;
    return *sender;
}

RZSJobParameters withCompletion(RAZududeResponseCompletion completion) {
    RZSJobParameters params;
    params.completion = std::move(completion);
    return params;
}

}  // namespace

// ---- RZSDataManagerSet -----------------------------------------------------------------

// The cryptor derives its key from the AppKey kept here, and the cache keys the bar counters by
// the current identifier: both are handed over when they change, since the cryptor and the
// cache also work off the main thread, where this set may not be read.
RZSDataManagerSet::RZSDataManagerSet() = default;

RZSDataManagerSet& RZSDataManagerSet::shareInstance() {
    static platform::NoDestructor<RZSDataManagerSet> instance;
    return *instance;
}

std::optional<std::string> RZSDataManagerSet::appkey() const {
    RZ_CHECK_MAIN_THREAD();
    if (appkey_) {
        return appkey_;
    }
    return rzs_persistence::documentValue("appkey");
}

void RZSDataManagerSet::setAppkey(std::optional<std::string> appkey) {
    RZ_CHECK_MAIN_THREAD();
    rzs_persistence::setDocumentValue("appkey", appkey);
    appkey_ = std::move(appkey);
    if (const auto key = this->appkey(); key && !key->empty()) {
        RAZududeCryptor::sharedInstance().updateAESKey(*key);
    }
}

RZSDataManagerSet::ScopedAppkeyForTesting::ScopedAppkeyForTesting(std::optional<std::string> appkey)
    : held_(shareInstance().appkey_), stored_(rzs_persistence::documentValue("appkey")) {
    shareInstance().setAppkey(std::move(appkey));
}

RZSDataManagerSet::ScopedAppkeyForTesting::~ScopedAppkeyForTesting() {
    shareInstance().setAppkey(held_);
    rzs_persistence::setDocumentValue("appkey", stored_);
}

void RZSDataManagerSet::setCurrentDataHash(std::optional<std::string> hash) {
    RZ_CHECK_MAIN_THREAD();
    RZSCacheManager::setCurrentDataManagerIdentifier(hash);
    currentDataHash_ = std::move(hash);
}

void RZSDataManagerSet::setDataManagerWithHash(const std::string& identifier) {
    RZ_CHECK_MAIN_THREAD();
    setCurrentDataHash(identifier);
    if (!socialDataDictionary_.count(identifier)) {
        auto manager = std::make_shared<RZSDataManager>();
        manager->setIdentifier(identifier);
        socialDataDictionary_.emplace(identifier, std::move(manager));
    }
}

std::shared_ptr<RZSDataManager> RZSDataManagerSet::dataManager() const {
    RZ_CHECK_MAIN_THREAD();
    return currentDataHash_ ? dataManagerForIdentifier(*currentDataHash_) : nullptr;
}

std::shared_ptr<RZSDataManager> RZSDataManagerSet::getDataManager(const std::string& identifier) {
    RZ_CHECK_MAIN_THREAD();
    setCurrentDataHash(identifier);
    return dataManager();
}

std::shared_ptr<RZSDataManager> RZSDataManagerSet::dataManagerForIdentifier(
    const std::string& identifier) const {
    auto it = socialDataDictionary_.find(identifier);
    return it == socialDataDictionary_.end() ? nullptr : it->second;
}

// ---- RZSDataManager: state -------------------------------------------------------------

RZSDataManager::RZSDataManager() : responseEntity_(std::make_shared<RAZududeResponseEntity>()) {}

RZSDataManager::~RZSDataManager() = default;

std::shared_ptr<RZSDataManager> RZSDataManager::currentDataManager() {
    RZ_CHECK_MAIN_THREAD();
    auto& set = RZSDataManagerSet::shareInstance();
    if (auto manager = set.dataManager()) {
        return manager;
    }
    set.setDataManagerWithHash(kDefaultIdentifier);
    return set.dataManager();
}

std::shared_ptr<RZSDataManager> RZSDataManager::getDataManager(const std::string& identifier) {
    RZ_CHECK_MAIN_THREAD();
    return RZSDataManagerSet::shareInstance().getDataManager(identifier);
}

std::shared_ptr<RZSBarEntity> RZSDataManager::barEntity() {
    RZ_CHECK_MAIN_THREAD();
    if (!barEntity_ && identifier_) {
        barEntity_ = rzs_persistence::loadBarEntity(*identifier_);
    }
    if (!barEntity_) {
        barEntity_ = std::make_shared<RZSBarEntity>();
    }
    return barEntity_;
}

bool RZSDataManager::hasBarEntity() {
    RZ_CHECK_MAIN_THREAD();
    if (!barEntity_ && identifier_) {
        barEntity_ = rzs_persistence::loadBarEntity(*identifier_);
    }
    return barEntity_ != nullptr;
}

// Stored under this manager's own identifier: the current one may belong to another record.
void RZSDataManager::setBarEntity(std::shared_ptr<RZSBarEntity> entity) {
    RZ_CHECK_MAIN_THREAD();
    barEntity_ = std::move(entity);
    if (barEntity_ && identifier_) {
        rzs_persistence::storeBarEntity(*identifier_, barEntity_);
    }
}

std::string RZSDataManager::escapedIdentifier(const std::string& identifier) {
    std::string plain = removePercentEscapes(identifier).value_or(identifier);
    return platform::percentEncode(plain, "-_.");
}

RZSDataManager::RequestSender RZSDataManager::setRequestSenderForTesting(RequestSender sender) {
    std::swap(requestSender(), sender);
    return sender;
}

// ---- the queue -------------------------------------------------------------------------

void RZSDataManager::doActionWithType(int kind, RZSJobParameters params) {
    RZ_CHECK_MAIN_THREAD();
    if (auto& sender = requestSender()) {
        sender(RZSRequest{kind, std::move(params)});
        return;
    }
    auto current = currentDataManager();
    if (!current->netWorkDelegate()) {
        current->setNetWorkDelegate(weak_from_this());
    }
    auto job = RAZududeJobFactory::sharedInstance().createSocialJob(kind, params);
    if (!job) {
        // Nothing can be sent without an AppKey; a caller that waits for an answer gets one,
        // later, as for any request that could not be sent.
        if (params.completion) {
            platform::MainLoop::main().post([kind, completion = std::move(params.completion)] {
                const std::string message = "the request was not sent: no AppKey is set";
                completion(RAZududeJob::failureResponse(
                    kind,
                    platform::Error(RAZududeJob::kErrorDomain, RAZududeJob::kErrorNotSent,
                                    {{platform::kLocalizedDescriptionKey, message}}),
                    message));
            });
        }
        return;
    }
    // The job belongs to the queue it waits in, whichever record is current.
    job->setDataManagerHash(identifier_.value_or(std::string()));
    // Queued before it is sent, so that a job that ends at once finds itself in the queue.
    actionArray_.push_back(job);
    if (actionArray_.size() == 1) {
        job->makeResquest();
    }
}

void RZSDataManager::removeAction(const RAZududeJobPtr& job) {
    RZ_CHECK_MAIN_THREAD();
    actionArray_.erase(std::remove(actionArray_.begin(), actionArray_.end(), job),
                       actionArray_.end());
}

void RZSDataManager::cancelAllRequestInQueue() {
    RZ_CHECK_MAIN_THREAD();
    std::deque<RAZududeJobPtr> jobs;
    jobs.swap(actionArray_);
    for (const auto& job : jobs) {
        job->cancel();
    }
}

// ---- requests --------------------------------------------------------------------------

void RZSDataManager::requestAddComment(RAZududeResponseCompletion completion) {
    RZ_CHECK_MAIN_THREAD();
    requestSocialEntityKey();
    doActionWithType(kRZSRequestAddComment, withCompletion(std::move(completion)));
}

void RZSDataManager::requestAddlikeOrDislike(int like, RAZududeResponseCompletion completion) {
    RZ_CHECK_MAIN_THREAD();
    requestSocialEntityKey();
    auto params = withCompletion(std::move(completion));
    params.values.set("like", platform::format("%d", like));
    doActionWithType(kRZSRequestLike, std::move(params));
}

void RZSDataManager::requestCommentList(std::int64_t lastCommentTime,
                                        RAZududeResponseCompletion completion) {
    RZ_CHECK_MAIN_THREAD();
    requestSocialEntityKey();
    auto params = withCompletion(std::move(completion));
    params.values.set("lastCommentTime",
                      platform::format("%lld", static_cast<long long>(lastCommentTime)));
    doActionWithType(kRZSRequestCommentList, std::move(params));
}

void RZSDataManager::requestBarInfo(RAZududeResponseCompletion completion) {
    RZ_CHECK_MAIN_THREAD();
    auto params = withCompletion(std::move(completion));
    std::string descriptor = escapedIdentifier(identifier_.value_or(std::string()));
    RAZududeUtils::outLog([&] { return platform::format("encodeDescriptor is %@", descriptor); });
    params.values.set("descriptor", descriptor);
    if (title_) {
        params.values.set("title", *title_);
    }
    doActionWithType(kRZSRequestBarInfo, std::move(params));
}

void RZSDataManager::requestSocialEntityKey() {
    RZ_CHECK_MAIN_THREAD();
    if (barEntity()->entityKey()) {
        return;
    }
    RZSJobParameters params;
    params.values.set("descriptor", escapedIdentifier(identifier_.value_or(std::string())));
    doActionWithType(kRZSRequestBarInfo, std::move(params));
}

void RZSDataManager::requestShareToMultiSNS(const std::vector<std::string>& platformNames,
                                            RAZududeResponseCompletion completion) {
    RZ_CHECK_MAIN_THREAD();
    requestSocialEntityKey();
    auto params = withCompletion(std::move(completion));
    platform::Array names(platformNames.begin(), platformNames.end());
    params.values.set("snsNames", std::move(names));
    doActionWithType(kRZSRequestShareToMultiSns, std::move(params));
}

void RZSDataManager::postOpAnalyticsWithDictionary(platform::Map counts,
                                                   RAZududeResponseCompletion completion) {
    RZ_CHECK_MAIN_THREAD();
    auto params = withCompletion(std::move(completion));
    params.values.set("opDic", std::move(counts));
    doActionWithType(kRZSRequestOpAnalytics, std::move(params));
}

void RZSDataManager::postAppInfo(platform::Map appInfo, RAZududeResponseCompletion completion) {
    RZ_CHECK_MAIN_THREAD();
    auto params = withCompletion(std::move(completion));
    params.values.set("appInfo", std::move(appInfo));
    doActionWithType(kRZSRequestPostAppInfo, std::move(params));
}

void RZSDataManager::getInverseFlowsWithPlatForm(std::optional<std::string> platformName,
                                                 std::optional<std::string> webUrl,
                                                 RAZududeResponseCompletion completion) {
    RZ_CHECK_MAIN_THREAD();
    auto params = withCompletion(std::move(completion));
    platform::Map link;
    if (platformName) {
        link.set("to", *platformName);
    }
    if (webUrl) {
        link.set("url", *webUrl);
    }
    params.values.set("opDic", std::move(link));
    doActionWithType(kRZSRequestInverseFlow, std::move(params));
}

// ---- shares and comments ---------------------------------------------------------------

void RZSDataManager::setSnsEntity(int snsType, std::optional<std::string> content,
                                  RAZududeShareImage image,
                                  std::optional<platform::Location> location,
                                  std::shared_ptr<RAZududeUrlResource> urlResource) {
    RZ_CHECK_MAIN_THREAD();
    auto manager = currentDataManager();
    auto share = std::make_shared<RZSSNSEntity>(snsType);
    share->setIsShake(manager->snsEntity() && manager->snsEntity()->isShake());
    if (location) {
        share->setLocation(location);
    }
    // Only a resource that carries a link takes the picture's place: the empty one a record
    // starts with would send neither.
    const bool link = urlResource &&
                      urlResource->resourceType() != kRAZududeUrlResourceTypeDefault &&
                      urlResource->url() && !urlResource->url()->empty();
    if (link) {
        share->setIsSendUrlResource(true);
        share->setIsSendImage(false);
    } else if (image) {
        share->setIsSendImage(true);
        share->setIsSendUrlResource(false);
    }
    share->setShareText(std::move(content));
    share->setShareImage(std::move(image));
    share->setUrlResource(std::move(urlResource));
    manager->setSnsEntity(std::move(share));
}

void RZSDataManager::postSNSWithTypes(const std::vector<std::string>& platformNames,
                                      std::optional<std::string> content, RAZududeShareImage image,
                                      std::optional<platform::Location> location,
                                      std::shared_ptr<RAZududeUrlResource> urlResource,
                                      RAZududeResponseCompletion completion,
                                      std::optional<std::string> from) {
    RZ_CHECK_MAIN_THREAD();
    RAZududeUtils::outLog([&] {
        platform::Array names(platformNames.begin(), platformNames.end());
        return platform::format("platformTypes is %@", platform::Value(std::move(names)));
    });
    if (platformNames.empty()) {
        RAZududeUtils::outLog("you have not set sns types");
        return;
    }
    int type = RAZududeSnsPlatformManagerInternal::getSnsPlatformType(platformNames.front());
    if (type == 0) {
        type = kUnknownPlatformType;
    }
    setSnsEntity(type, std::move(content), std::move(image), location, std::move(urlResource));
    if (auto share = currentDataManager()->snsEntity()) {
        share->setIsShake(from == kShakeSource);
    }
    requestShareToMultiSNS(platformNames, std::move(completion));
}

void RZSDataManager::postCommentWithContent(std::optional<std::string> content,
                                            std::optional<platform::Location> location,
                                            RAZududeResponseCompletion completion) {
    RZ_CHECK_MAIN_THREAD();
    auto comment = std::make_shared<RZSCommentEntity>();
    comment->setContent(std::move(content));
    comment->setLocation(location);
    auto manager = currentDataManager();
    manager->setCurrentComment(std::move(comment));
    manager->requestAddComment(std::move(completion));
}

void RZSDataManager::postCommentWithContent(std::optional<std::string> content,
                                            std::optional<platform::Location> location,
                                            const platform::Map& shareToSNSWithUsid,
                                            RAZududeResponseCompletion completion) {
    RZ_CHECK_MAIN_THREAD();
    RZSUserManager::shareInstance().setCommentShareAccountDic(shareToSNSWithUsid);
    postCommentWithContent(std::move(content), location, std::move(completion));
}

void RZSDataManager::postCommentWithContent(std::optional<std::string> content,
                                            platform::ImagePtr image,
                                            std::optional<std::string> templateText,
                                            std::optional<platform::Location> location,
                                            const platform::Map& shareToSNSWithUsid,
                                            RAZududeResponseCompletion completion) {
    RZ_CHECK_MAIN_THREAD();
    static const char* const kCommentPlatforms[] = {"sina",   "tencent", "renren",
                                                    "douban", "qzone",   "custom"};
    for (const auto& [name, usid] : shareToSNSWithUsid) {
        if (std::find(std::begin(kCommentPlatforms), std::end(kCommentPlatforms), name) ==
            std::end(kCommentPlatforms)) {
            RAZududeUtils::outLog(
                [&key = name] { return platform::format("error key is %@", key); });
            RAZududeUtils::outLog(
                "you should pass a sns type that one of RZShareToTypeSina, "
                "RZShareToTypeTecent,RZShareToTypeRenren,RZShareToTypeDouban,RZShareToTypeQzone");
            return;
        }
    }
    for (const auto& [name, usid] : shareToSNSWithUsid) {
        if (!usid.isString()) {
            RAZududeUtils::outLog("you should pass a sns uid string");
            return;
        }
    }
    auto bar = currentDataManager()->barEntity();
    bar->setCommentText(std::move(templateText));
    bar->setCommentImage(std::move(image));
    postCommentWithContent(std::move(content), location, shareToSNSWithUsid, std::move(completion));
}

void RZSDataManager::postCommentForDeveloperWithContent(std::optional<std::string> content,
                                                        RAZududeResponseCompletion completion) {
    RZ_CHECK_MAIN_THREAD();
    RZSUserManager::shareInstance().setCommentShareAccountDic(platform::Map());
    postCommentWithContent(std::move(content), std::nullopt, std::move(completion));
}

void RZSDataManager::addOrMinusLike(RAZududeResponseCompletion completion) {
    RZ_CHECK_MAIN_THREAD();
    requestAddlikeOrDislike(barEntity()->isLike() ? 0 : 1, std::move(completion));
}

void RZSDataManager::didFinishGetResponseInSDK(const RAZududeResponsePtr& response) {
    RZ_CHECK_MAIN_THREAD();
    auto delegate = socialDelegate();
    if (!delegate) {
        return;
    }
    platform::runGuarded("the data delegate's didFinishGetRAZududeDataResponse",
                         [&] { delegate->didFinishGetRAZududeDataResponse(response); });
}
