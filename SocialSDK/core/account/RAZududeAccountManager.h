// Whether the user is authorised on a platform and whether the token is still good; storing
// and uploading one account. The accounts themselves live in the user manager.
//
// Main thread only.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "SocialSDK/core/account/RAZududeAccountEntity.h"
#include "SocialSDK/core/data/RAZududeCustomAccount.h"
#include "SocialSDK/core/data/RAZududeResponseEntity.h"
#include "platform/Value.h"

class RAZududeAccountManager {
  public:
    RAZududeAccountManager() = delete;

    static const RAZududeAccountDictionary& socialAccountDictionary();
    // Stores the account under its platform name in a copy of the dictionary, then the copy.
    static void setSnsAccount(const std::shared_ptr<RAZududeAccountEntity>& account);

    // A stored account with a user id (the empty one counts).
    static bool isOauthWithPlatform(const std::string& platformName);
    // Authorised, and the token without expiry or not past it on the device clock.
    static bool isOauthAndTokenNotExpired(const std::string& platformName);

    // Logged in to the SDK with a platform account ("loginAccount" is stored).
    static bool isLoginWithSnsAccount();
    // The user default "loginWithAnonymous"; NO when absent.
    static bool isLoginWithAnonymous();
    static void setIsLoginWithAnonymous(bool anonymous);
    static bool isLogin() { return isLoginWithSnsAccount() || isLoginWithAnonymous(); }

    // Records the usage, refreshes the default record and uploads the account's token.
    static void postSnsAccount(const std::shared_ptr<RAZududeAccountEntity>& account,
                               RAZududeResponseCompletion completion);
    static void postSnsAccountInternal(const std::shared_ptr<RAZududeAccountEntity>& account,
                                       RAZududeResponseCompletion completion,
                                       std::optional<std::string> sourceRequestType);
    // The app's own information, through the current data manager.
    static void postAppInfo(platform::Map appInfo, RAZududeResponseCompletion completion);
    // An account the app defines itself.
    static void postCustomAccount(const std::shared_ptr<RAZududeCustomAccount>& account,
                                  RAZududeResponseCompletion completion);

    static constexpr const char* kAnonymousDefaultsKey = "loginWithAnonymous";
};
