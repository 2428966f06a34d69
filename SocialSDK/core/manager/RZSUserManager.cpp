#include "SocialSDK/core/manager/RZSUserManager.h"

#include "SocialSDK/core/manager/RZSDataManager.h"
#include "SocialSDK/core/manager/RZSPersistence.h"
#include "SocialSDK/core/manager/RZSRequestGate.h"
#include "platform/Format.h"
#include "platform/Text.h"
#include "platform/UserDefaults.h"

namespace {

constexpr const char* kUidDefaultsKey = "RAZudude_uid";

}  // namespace

RZSUserManager& RZSUserManager::shareInstance() {
    static auto* instance = new RZSUserManager();
    return *instance;
}

bool RZSUserManager::isUidAvailable(const std::optional<std::string>& uid) {
    return uid && platform::text::toLower(*uid).find("null") == std::string::npos;
}

std::optional<std::string> RZSUserManager::uid() {
    if (!isUidAvailable(uid_)) {
        uid_ = platform::UserDefaults::standardUserDefaults().stringForKey(kUidDefaultsKey);
        if (!uid_) {
            auto appkey = RZSDataManagerSet::shareInstance().appkey();
            uid_ = rzs_persistence::documentValue(platform::format("uid-%@", appkey));
        }
    }
    return uid_;
}

void RZSUserManager::setUid(std::optional<std::string> uid) {
    uid_ = uid;
    auto& defaults = platform::UserDefaults::standardUserDefaults();
    defaults.setObject(uid ? platform::Value(*uid) : platform::Value(), kUidDefaultsKey);
    defaults.synchronize();
}

RAZududeAccountDictionary& RZSUserManager::snsAccountDictionary() {
    if (!snsAccountDictionary_) {
        snsAccountDictionary_ = rzs_persistence::loadAccounts();
    }
    if (!snsAccountDictionary_) {
        snsAccountDictionary_.emplace();
    }
    return *snsAccountDictionary_;
}

void RZSUserManager::setSnsAccountDictionary(RAZududeAccountDictionary accounts) {
    rzs_persistence::storeAccounts(accounts);
    snsAccountDictionary_ = std::move(accounts);
}

void RZSUserManager::requestSnsAccount(RAZududeResponseCompletion completion) {
    if (!uid()) {
        RZSDataManager::currentDataManager()->requestBarInfo(
            [completion](const RAZududeResponsePtr& response) {
                if (response && response->responseCode() == kRAZududeResponseSuccess) {
                    RZSUserManager::shareInstance().requestSnsAccount(completion);
                }
            });
        return;
    }
    RZSRequestGate::send({kRZSRequestSnsAccount, {}, std::move(completion)});
}

void RZSUserManager::requestAddSnsAccount(const std::shared_ptr<RAZududeAccountEntity>& account,
                                          RAZududeResponseCompletion completion) {
    platform::Map parameters;
    if (account) {
        parameters.append("snsAccount", account->description());
    }
    RZSRequestGate::send({kRZSRequestAddSnsAccount, std::move(parameters), std::move(completion)});
}

void RZSUserManager::requestAppInfo(RAZududeResponseCompletion completion) {
    RZSRequestGate::send({kRZSRequestAppInfo, {}, std::move(completion)});
}
