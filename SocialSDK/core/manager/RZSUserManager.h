// The SDK user: the share service's id of this installation's user, the SDK user name, the
// authorised platform accounts, the accounts that comments are also shared to, and the friend
// lists fetched from platforms; each persisted. Starts the account requests of the share
// service through the current data manager.
//
// Main thread only; the shared instance is made on first use and kept for the process.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "SocialSDK/core/account/RAZududeAccountEntity.h"
#include "SocialSDK/core/data/RAZududeCustomAccount.h"
#include "SocialSDK/core/data/RAZududeResponseEntity.h"
#include "SocialSDK/core/manager/RZSFriendEntity.h"
#include "platform/NoDestructor.h"
#include "platform/Value.h"

class RZSUserManager {
  public:
    static RZSUserManager& shareInstance();

    // The held id when usable, else the one stored in the user defaults, else the one of the
    // document store for the AppKey; nothing when none is known.
    std::optional<std::string> uid();
    // Kept and stored in the user defaults.
    void setUid(std::optional<std::string> uid);
    // Present, and not a spelling of "null" in any letter case.
    static bool isUidAvailable(const std::optional<std::string>& uid);

    // The held name, else the stored one.
    std::optional<std::string> userName();
    void setUserName(std::optional<std::string> name);

    // Loaded from the store on first use; empty when nothing was stored.
    const RAZududeAccountDictionary& snsAccountDictionary();
    // Held and stored.
    void setSnsAccountDictionary(RAZududeAccountDictionary accounts);

    // Platform name to the platform user id that comments are also shared to.
    const platform::Map& commentShareAccountDic();
    void setCommentShareAccountDic(platform::Map accounts);

    // The platform's friends (in memory, else stored under the stored account's usid).
    std::optional<RZSFriendDictionary> friendsDictionaryWithSnsName(const std::string& platform);
    void setFriendsDictionary(RZSFriendDictionary friends, const std::string& platform);
    // The friends picked for @-mentions on the platform.
    std::optional<std::vector<std::shared_ptr<RZSFriendEntity>>> atFriendsDictionaryWithSnsName(
        const std::string& platform);
    void setAtFriendsArray(std::vector<std::shared_ptr<RZSFriendEntity>> friends,
                           const std::string& platform);
    // Lets go of the platform's friends and @-friends held in memory (not of what is stored),
    // so that they are read again for the account now stored, as after a change of account.
    void forgetFriendsOfSnsName(const std::string& platform);

    // Whether the user lets shares carry a place; YES (and stored) on first use.
    bool useLocation();
    bool isSyncWithPlatform(const std::string& platform);
    // Whether the platform can take the account requests.
    static bool isPlatformTypeValid(const std::string& platform);

    // ---- requests (the completion is optional)
    // The platform accounts of the user. Without a user id the bar information is asked first
    // (once more when its reply brings none); then the accounts, or the completion gets the
    // failure.
    void requestSnsAccount(RAZududeResponseCompletion completion);
    // Uploads the account's token to the share service.
    void requestAddSnsAccount(const std::shared_ptr<RAZududeAccountEntity>& account,
                              RAZududeResponseCompletion completion);
    void requestIsTokenValid(const std::vector<std::string>& platforms,
                             RAZududeResponseCompletion completion);
    // The per-platform settings that the share service keeps for the app.
    void requestAppInfo(RAZududeResponseCompletion completion);
    void requestSnsInformation(const std::string& platform, RAZududeResponseCompletion completion);
    void requestBindingSNSWithTye(const std::string& platform,
                                  RAZududeResponseCompletion completion);
    void requestUnBindingSNS(RAZududeResponseCompletion completion);
    void requestGetFriends(const std::string& platform, RAZududeResponseCompletion completion);
    void requestAddFollow(const std::string& platform, const std::vector<std::string>& usids,
                          RAZududeResponseCompletion completion);
    void requestAddCustomAccount(const std::shared_ptr<RAZududeCustomAccount>& account,
                                 RAZududeResponseCompletion completion);
    // Forgets the platform's account here at once (the completion hears 200 before the share
    // service is told), or lets the platform's handler do it.
    void requestUnOauthToPlatform(const std::string& platform,
                                  RAZududeResponseCompletion completion);

    // Tests: whatever a test changes here is put back when this goes, as it was when this was
    // made (held and stored values alike), even when the test stops half-way. Main thread.
    class ScopedStateForTesting {
      public:
        ScopedStateForTesting();
        ~ScopedStateForTesting();
        ScopedStateForTesting(const ScopedStateForTesting&) = delete;
        ScopedStateForTesting& operator=(const ScopedStateForTesting&) = delete;

      private:
        std::unique_ptr<RZSUserManager> saved_;
        platform::Value storedUid_;
    };

    static constexpr const char* kUidDefaultsKey = "RAZudude_uid";
    static constexpr const char* kUseLocationDefaultsKey = "userUseLocationSetting";
    // Bar requests that an account request makes while the share service gives no user id.
    static constexpr int kUidAttempts = 2;

  private:
    friend class platform::NoDestructor<RZSUserManager>;
    RZSUserManager();
    // Copies are for ScopedStateForTesting only.
    RZSUserManager(const RZSUserManager&) = default;
    RZSUserManager& operator=(const RZSUserManager&) = default;
    void requestSnsAccount(RAZududeResponseCompletion completion, int attemptsLeft);
    std::string friendsKey(const std::string& platform) const;

    std::optional<std::string> uid_;
    std::optional<std::string> userName_;
    std::optional<RAZududeAccountDictionary> snsAccountDictionary_;
    std::optional<platform::Map> commentShareAccountDic_;
    std::map<std::string, RZSFriendDictionary> friendsDictionary_;
    std::map<std::string, std::vector<std::shared_ptr<RZSFriendEntity>>> atFriendsDictionary_;
};
