#include "SocialSDK/core/account/RAZududeAccountManager.h"

#include <algorithm>

#include "RZBase_Source/Encode/RAZududeUtils.h"
#include "SocialSDK/core/analytics/RAZududeOpAnalytics.h"
#include "SocialSDK/core/data/RAZududeData.h"
#include "SocialSDK/core/manager/RZSDataManager.h"
#include "SocialSDK/core/manager/RZSUserManager.h"
#include "SocialSDK/core/platform/RAZududeSnsPlatformManager.h"
#include "platform/Format.h"
#include "platform/UserDefaults.h"

namespace {

std::shared_ptr<RAZududeAccountEntity> storedAccount(const std::string& platformName) {
    auto& accounts = RZSUserManager::shareInstance().snsAccountDictionary();
    auto it = accounts.find(platformName);
    return it == accounts.end() ? nullptr : it->second;
}

void logWhenUnknown(const std::string& platformName) {
    auto names = RAZududeSnsPlatformManager::sharedInstance().allSnsValuesArray();
    if (std::find(names.begin(), names.end(), platformName) == names.end()) {
        RAZududeUtils::outLog([&] {
            return platform::format(
                "platformType %@ error, you should use platformType in "
                "`RAZududeSnsPlatformManager`, such as RZShareToSina.",
                platformName);
        });
    }
}

}  // namespace

const RAZududeAccountDictionary& RAZududeAccountManager::socialAccountDictionary() {
    return RZSUserManager::shareInstance().snsAccountDictionary();
}

void RAZududeAccountManager::setSnsAccount(const std::shared_ptr<RAZududeAccountEntity>& account) {
    if (!account || !account->platformName()) {
        RAZududeUtils::outLog("setSnsAccount: an account without a platform name is not stored");
        return;
    }
    auto& users = RZSUserManager::shareInstance();
    RAZududeAccountDictionary copy = users.snsAccountDictionary();
    copy[*account->platformName()] = account;
    users.setSnsAccountDictionary(std::move(copy));
}

bool RAZududeAccountManager::isOauthWithPlatform(const std::string& platformName) {
    auto account = storedAccount(platformName);
    if (account && account->usid()) {
        return true;
    }
    logWhenUnknown(platformName);
    return false;
}

bool RAZududeAccountManager::isOauthAndTokenNotExpired(const std::string& platformName) {
    auto account = storedAccount(platformName);
    if (!account || !account->usid()) {
        logWhenUnknown(platformName);
        return false;
    }
    const auto& expiry = account->expirationDate();
    if (!expiry) {
        return true;
    }
    return platform::Date::now().timeIntervalSince1970() <= expiry->timeIntervalSince1970();
}

void RAZududeAccountManager::postSnsAccount(const std::shared_ptr<RAZududeAccountEntity>& account,
                                            RAZududeResponseCompletion completion) {
    postSnsAccountInternal(account, std::move(completion), std::nullopt);
}

void RAZududeAccountManager::postSnsAccountInternal(
    const std::shared_ptr<RAZududeAccountEntity>& account, RAZududeResponseCompletion completion,
    std::optional<std::string> sourceRequestType) {
    std::string code = sourceRequestType ? platform::format("%@+%@", *sourceRequestType,
                                                            RZUsageCode::kPostSnsAccount)
                                         : std::string(RZUsageCode::kPostSnsAccount);
    RAZududeOpAnalytics::postSocialAnalyticsWithSnsName(
        code, account ? account->platformName() : std::nullopt);
    RAZududeData::defaultData()->refresh();
    RZSUserManager::shareInstance().requestAddSnsAccount(account, std::move(completion));
}

bool RAZududeAccountManager::isLoginWithSnsAccount() {
    return socialAccountDictionary().count("loginAccount") > 0;
}

bool RAZududeAccountManager::isLoginWithAnonymous() {
    return platform::UserDefaults::standardUserDefaults()
        .objectForKey(kAnonymousDefaultsKey)
        .boolValue();
}

void RAZududeAccountManager::setIsLoginWithAnonymous(bool anonymous) {
    auto& defaults = platform::UserDefaults::standardUserDefaults();
    defaults.setObject(platform::Value(anonymous), kAnonymousDefaultsKey);
    defaults.synchronize();
}

void RAZududeAccountManager::postAppInfo(platform::Map appInfo,
                                         RAZududeResponseCompletion completion) {
    RZSDataManager::currentDataManager()->postAppInfo(std::move(appInfo), std::move(completion));
}

void RAZududeAccountManager::postCustomAccount(
    const std::shared_ptr<RAZududeCustomAccount>& account, RAZududeResponseCompletion completion) {
    RZSUserManager::shareInstance().requestAddCustomAccount(account, std::move(completion));
}
