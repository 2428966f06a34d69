#include "SocialSDK/core/manager/RZSDataManager.h"

#include <exception>

#include "RZBase_Source/Encode/RAZududeCryptor.h"
#include "RZBase_Source/Encode/RAZududeUtils.h"
#include "SocialSDK/core/cache/RZSCacheManager.h"
#include "SocialSDK/core/manager/RZSPersistence.h"
#include "SocialSDK/core/manager/RZSRequestGate.h"
#include "platform/Format.h"
#include "platform/Text.h"
#include "platform/Url.h"

namespace {

constexpr const char* kDefaultIdentifier = "RAZududeDefault";

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

}  // namespace

// ---- RZSDataManagerSet -----------------------------------------------------------------

RZSDataManagerSet::RZSDataManagerSet() {
    // The cryptor derives its key from the AppKey kept here, and the cache keys the bar
    // counters by the current identifier.
    RAZududeCryptor::setAppKeyProvider(
        [] { return RZSDataManagerSet::shareInstance().appkey().value_or(std::string()); });
    RZSCacheManager::setCurrentDataManagerIdentifierSource(
        [] { return RZSDataManagerSet::shareInstance().currentDataHash(); });
}

RZSDataManagerSet& RZSDataManagerSet::shareInstance() {
    static auto* instance = new RZSDataManagerSet();
    return *instance;
}

std::optional<std::string> RZSDataManagerSet::appkey() const {
    if (appkey_) {
        return appkey_;
    }
    return rzs_persistence::documentValue("appkey");
}

void RZSDataManagerSet::setAppkey(std::optional<std::string> appkey) {
    rzs_persistence::setDocumentValue("appkey", appkey);
    appkey_ = std::move(appkey);
}

void RZSDataManagerSet::setDataManagerWithHash(const std::string& identifier) {
    currentDataHash_ = identifier;
    if (!socialDataDictionary_.count(identifier)) {
        auto manager = std::make_shared<RZSDataManager>();
        manager->setIdentifier(identifier);
        socialDataDictionary_.emplace(identifier, std::move(manager));
    }
}

std::shared_ptr<RZSDataManager> RZSDataManagerSet::dataManager() const {
    if (!currentDataHash_) {
        return nullptr;
    }
    auto it = socialDataDictionary_.find(*currentDataHash_);
    return it == socialDataDictionary_.end() ? nullptr : it->second;
}

std::shared_ptr<RZSDataManager> RZSDataManagerSet::getDataManager(const std::string& identifier) {
    currentDataHash_ = identifier;
    return dataManager();
}

// ---- RZSDataManager --------------------------------------------------------------------

RZSDataManager::RZSDataManager() : responseEntity_(std::make_shared<RAZududeResponseEntity>()) {}

std::shared_ptr<RZSDataManager> RZSDataManager::currentDataManager() {
    auto& set = RZSDataManagerSet::shareInstance();
    if (auto manager = set.dataManager()) {
        return manager;
    }
    set.setDataManagerWithHash(kDefaultIdentifier);
    return set.dataManager();
}

std::shared_ptr<RZSDataManager> RZSDataManager::getDataManager(const std::string& identifier) {
    return RZSDataManagerSet::shareInstance().getDataManager(identifier);
}

std::shared_ptr<RZSBarEntity> RZSDataManager::barEntity() {
    if (!barEntity_) {
        barEntity_ = std::make_shared<RZSBarEntity>();
    }
    return barEntity_;
}

void RZSDataManager::setBarEntity(std::shared_ptr<RZSBarEntity> entity) {
    barEntity_ = std::move(entity);
}

std::string RZSDataManager::escapedIdentifier(const std::string& identifier) {
    std::string plain = removePercentEscapes(identifier).value_or(identifier);
    return platform::percentEncode(plain, "-_.");
}

void RZSDataManager::requestBarInfo(RAZududeResponseCompletion completion) {
    RZSRequest request;
    request.kind = kRZSRequestBarInfo;
    std::string descriptor = escapedIdentifier(identifier_.value_or(std::string()));
    RAZududeUtils::outLog([&] { return platform::format("encodeDescriptor is %@", descriptor); });
    request.parameters.append("descriptor", descriptor);
    if (title_) {
        request.parameters.append("title", *title_);
    }
    request.completion = std::move(completion);
    RZSRequestGate::send(std::move(request));
}

void RZSDataManager::postOpAnalyticsWithDictionary(platform::Map counts,
                                                   RAZududeResponseCompletion completion) {
    RZSRequest request;
    request.kind = kRZSRequestOpAnalytics;
    request.parameters.append("opDic", std::move(counts));
    request.completion = std::move(completion);
    RZSRequestGate::send(std::move(request));
}

void RZSDataManager::didFinishGetResponseInSDK(const RAZududeResponsePtr& response) {
    auto delegate = socialDelegate();
    if (!delegate) {
        return;
    }
    try {
        delegate->didFinishGetRAZududeDataResponse(response);
    } catch (const std::exception&) {
        RAZududeUtils::outLog("didFinishGetResponseInSDK error");
    }
}
