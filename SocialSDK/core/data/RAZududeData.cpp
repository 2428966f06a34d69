#include "SocialSDK/core/data/RAZududeData.h"

#include "RZBase_Source/Encode/RAZududeCryptor.h"
#include "RZBase_Source/Encode/RAZududeUtils.h"
#include "SocialSDK/core/handler/RAZududeSnsHandler.h"
#include "SocialSDK/core/manager/RZSDataManager.h"
#include "SocialSDK/core/manager/RZSUserManager.h"
#include "SocialSDK/core/platform/RAZududeSnsPlatformNames.h"
#include "platform/Format.h"
#include "platform/NoDestructor.h"

// ---- class side ------------------------------------------------------------------------

std::shared_ptr<RAZududeData> RAZududeData::defaultData() {
    static platform::NoDestructor<std::shared_ptr<RAZududeData>> instance(
        std::make_shared<RAZududeData>(kDefaultIdentifier));
    return *instance;
}

std::optional<platform::Map> RAZududeData::mergedAppInfo(const platform::Map& current,
                                                         const RAZududeResponsePtr& reply) {
    if (!reply || reply->error() || !reply->data()) {
        return std::nullopt;
    }
    platform::Map incoming = *reply->data();
    const auto* localKey = current[RZShareToSina]["key"].string();
    if (localKey && !localKey->empty()) {
        incoming.erase(RZShareToSina);
    }
    platform::Map merged = current;
    for (auto& [name, settings] : incoming) {
        merged.set(name, std::move(settings));
    }
    return merged;
}

void RAZududeData::setAppKey(std::optional<std::string> appKey) {
    auto& set = RZSDataManagerSet::shareInstance();
    set.setAppkey(appKey);
    auto& handlers = RAZududeSnsHandler::shareInstance();
    handlers.setAppkey(appKey);
    RAZududeCryptor::sharedInstance().updateAESKey(appKey.value_or(std::string()));
    handlers.requestAppInfo([](const RAZududeResponsePtr& reply) {
        auto& base = RAZududeSnsHandler::shareInstance();
        if (auto merged = mergedAppInfo(base.appInfo(), reply)) {
            base.setAppInfo(std::move(merged));
        }
    });
    if (set.sdkType() && set.cocos2dxVersion()) {
        platform::Map versions;
        versions.append(*set.sdkType(), *set.cocos2dxVersion());
        RZSDataManager::currentDataManager()->postOpAnalyticsWithDictionary(
            std::move(versions), [](const RAZududeResponsePtr& response) {
                RAZududeUtils::outLog([&] {
                    return platform::format("cocos2d-x op response is %@",
                                            response ? response->description() : "(null)");
                });
            });
    }
}

std::optional<std::string> RAZududeData::appKey() {
    return RZSDataManagerSet::shareInstance().appkey();
}

void RAZududeData::openLog(bool open) {
    RAZududeUtils::setOpenLog(open);
    RAZududeUtils::setPrefix("RAZudude: ");
}

void RAZududeData::setSdkType(std::optional<std::string> type, std::optional<std::string> version) {
    auto& set = RZSDataManagerSet::shareInstance();
    set.setCocos2dxVersion(std::move(version));
    set.setSdkType(std::move(type));
}

// ---- the record ------------------------------------------------------------------------

RAZududeData::RAZududeData(std::string identifier) {
    commonSetUp(std::move(identifier));
}

RAZududeData::RAZududeData(std::string identifier, std::string title) {
    commonSetUp(std::move(identifier));
    setTitle(std::move(title));
}

// A second record of an identifier shares the content the first one filled: it starts the
// extras and the URL resource only where the content has none yet.
void RAZududeData::commonSetUp(std::string identifier) {
    setIdentifier(std::move(identifier));
    auto entity = bar();
    if (!entity) {
        return;
    }
    if (!entity->extConfig()) {
        entity->setExtConfig(std::make_shared<RAZududeExtConfig>());
    }
    if (!entity->urlResource()) {
        entity->setUrlResource(std::make_shared<RAZududeUrlResource>());
    }
}

void RAZududeData::setIdentifier(std::string identifier) {
    identifier_ = std::move(identifier);
    auto& set = RZSDataManagerSet::shareInstance();
    set.setDataManagerWithHash(identifier_);
    auto manager = set.dataManager();
    bool keyKnown = manager->hasBarEntity() && manager->barEntity()->entityKey();
    if (!manager->hasBarEntity()) {
        RZSDataManager::currentDataManager()->setBarEntity(std::make_shared<RZSBarEntity>());
    }
    if (keyKnown && RZSUserManager::shareInstance().uid()) {
        return;
    }
    RZSDataManager::currentDataManager()->requestBarInfo([](const RAZududeResponsePtr&) {
        if (RZSUserManager::shareInstance().snsAccountDictionary().empty()) {
            RZSUserManager::shareInstance().requestSnsAccount({});
        }
    });
}

// The title goes to this record's own data manager, as the content does: the current one may
// belong to a record made later, whose share would then carry this title.
void RAZududeData::setTitle(std::optional<std::string> title) {
    title_ = title;
    if (auto manager = RZSDataManager::getDataManager(identifier_)) {
        manager->setTitle(std::move(title));
    }
}

void RAZududeData::refresh() {
    auto entity = bar();
    if (!entity || !entity->entityKey()) {
        RZSDataManager::currentDataManager()->requestBarInfo({});
    }
}

int RAZududeData::getNumber(int which) const {
    auto entity = bar();
    if (!entity) {
        return 0;
    }
    switch (which) {
        case 0:
            return entity->likeCount();
        case 1:
            return entity->shareCount();
        case 2:
            return entity->commentCount();
        default:
            return 0;
    }
}

std::shared_ptr<RZSBarEntity> RAZududeData::bar() const {
    auto manager = RZSDataManager::getDataManager(identifier_);
    return manager ? manager->barEntity() : nullptr;
}

std::optional<std::string> RAZududeData::shareText() const {
    auto entity = bar();
    return entity ? entity->shareText() : std::nullopt;
}

void RAZududeData::setShareText(std::optional<std::string> text) {
    if (auto entity = bar()) {
        entity->setShareText(std::move(text));
    }
}

std::optional<std::string> RAZududeData::commentText() const {
    auto entity = bar();
    return entity ? entity->commentText() : std::nullopt;
}

void RAZududeData::setCommentText(std::optional<std::string> text) {
    if (auto entity = bar()) {
        entity->setCommentText(std::move(text));
    }
}

RAZududeShareImage RAZududeData::shareImage() const {
    auto entity = bar();
    return entity ? entity->shareImage() : RAZududeShareImage();
}

void RAZududeData::setShareImage(RAZududeShareImage image) {
    if (!image.isValid()) {
        RAZududeUtils::outLog(
            "Zizoz SocialSDK ---  You pass the wrong shareImage object type, you must set UIImage "
            "or NSData!");
        return;
    }
    auto entity = bar();
    if (!entity) {
        return;
    }
    bool stored = !image.isNil();
    entity->setShareImage(std::move(image));
    auto resource = entity->urlResource();
    if (stored && resource && resource->resourceType() == kRAZududeUrlResourceTypeImage) {
        RAZududeUtils::outLog(
            "You set the shareImage will be invalid, for you have set the urlResource image!");
    }
}

platform::ImagePtr RAZududeData::commentImage() const {
    auto entity = bar();
    return entity ? entity->commentImage() : nullptr;
}

void RAZududeData::setCommentImage(platform::ImagePtr image) {
    if (auto entity = bar()) {
        entity->setCommentImage(std::move(image));
    }
}

bool RAZududeData::isLike() const {
    auto entity = bar();
    return entity && entity->isLike();
}

const RAZududeAccountDictionary& RAZududeData::socialAccount() const {
    return RZSUserManager::shareInstance().snsAccountDictionary();
}

std::shared_ptr<RAZududeUrlResource> RAZududeData::urlResource() const {
    auto entity = bar();
    return entity ? entity->urlResource() : nullptr;
}

void RAZududeData::setUrlResource(std::shared_ptr<RAZududeUrlResource> resource) {
    if (!resource) {
        return;
    }
    auto entity = bar();
    if (!entity) {
        return;
    }
    if (!resource->url()) {
        RAZududeUtils::outLog("your urlResource's url can't be nil!!");
    } else {
        entity->setUrlResource(resource);
    }
    if (entity->shareImage()) {
        RAZududeUtils::outLog(
            "you have set shareImage, which will be invalid, for you set the urlResource!");
    }
}

std::shared_ptr<RAZududeExtConfig> RAZududeData::extConfig() const {
    auto entity = bar();
    return entity ? entity->extConfig() : nullptr;
}

void RAZududeData::setExtConfig(std::shared_ptr<RAZududeExtConfig> config) {
    if (auto entity = bar()) {
        entity->setExtConfig(std::move(config));
    }
}

std::optional<std::string> RAZududeData::hashIdentifier() const {
    auto entity = bar();
    return entity ? entity->entityKey() : std::nullopt;
}
