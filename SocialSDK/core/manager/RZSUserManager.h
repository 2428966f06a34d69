// The SDK user: the share service's id of this installation's user and the authorised platform
// accounts; and the account requests to the share service. Runs on the main thread.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "SocialSDK/core/account/RAZududeAccountEntity.h"
#include "SocialSDK/core/data/RAZududeResponseEntity.h"

class RZSUserManager {
  public:
    static RZSUserManager& shareInstance();

    RZSUserManager(const RZSUserManager&) = delete;
    RZSUserManager& operator=(const RZSUserManager&) = delete;

    // The held id when usable, else the one stored in the user defaults, else the one of the
    // document store for the AppKey; nothing when none is known.
    std::optional<std::string> uid();
    // Kept and stored in the user defaults.
    void setUid(std::optional<std::string> uid);
    // Present, and not a spelling of "null" in any letter case.
    static bool isUidAvailable(const std::optional<std::string>& uid);

    // Loaded from the store on first use; empty when nothing was stored.
    RAZududeAccountDictionary& snsAccountDictionary();
    // Held and stored.
    void setSnsAccountDictionary(RAZududeAccountDictionary accounts);

    // The platform accounts of the user; without a user id the bar information is asked first,
    // and on success the accounts then.
    void requestSnsAccount(RAZududeResponseCompletion completion);
    // Uploads the account's token to the share service.
    void requestAddSnsAccount(const std::shared_ptr<RAZududeAccountEntity>& account,
                              RAZududeResponseCompletion completion);
    // The per-platform settings that the share service keeps for the app.
    void requestAppInfo(RAZududeResponseCompletion completion);

  private:
    RZSUserManager() = default;

    std::optional<std::string> uid_;
    std::optional<RAZududeAccountDictionary> snsAccountDictionary_;
};
