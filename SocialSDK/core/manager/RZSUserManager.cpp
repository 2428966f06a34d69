#include "SocialSDK/core/manager/RZSUserManager.h"

#include "RZBase_Source/Encode/RAZududeUtils.h"
#include "SocialSDK/core/handler/RAZududeHandlerRegistry.h"
#include "SocialSDK/core/manager/RZSDataManager.h"
#include "SocialSDK/core/manager/RZSPersistence.h"
#include "SocialSDK/core/platform/RAZududeSnsPlatformManager.h"
#include "SocialSDK/core/protocol/RAZududeJob.h"
#include "platform/Format.h"
#include "platform/NoDestructor.h"
#include "platform/Text.h"
#include "platform/ThreadCheck.h"
#include "platform/UserDefaults.h"

namespace {

RZSJobParameters withCompletion(RAZududeResponseCompletion completion) {
    RZSJobParameters params;
    params.completion = std::move(completion);
    return params;
}

// The parameters of a request about one platform ("displayName"), or nothing when the share
// service cannot act on that platform (the validity test has said so in the log).
std::optional<RZSJobParameters> platformParameters(const std::string& platform,
                                                   RAZududeResponseCompletion completion) {
    if (!RZSUserManager::isPlatformTypeValid(platform)) {
        return std::nullopt;
    }
    auto params = withCompletion(std::move(completion));
    params.values.set("displayName", platform);
    return params;
}

std::string joined(const std::vector<std::string>& items) {
    std::string text;
    for (const auto& item : items) {
        if (!text.empty()) {
            text += ",";
        }
        text += item;
    }
    return text;
}

void queue(int kind, RZSJobParameters params) {
    RZSDataManager::currentDataManager()->doActionWithType(kind, std::move(params));
}

}  // namespace

RZSUserManager::RZSUserManager() {
    snsAccountDictionary();
    commentShareAccountDic();
}

RZSUserManager& RZSUserManager::shareInstance() {
    static platform::NoDestructor<RZSUserManager> instance;
    return *instance;
}

RZSUserManager::ScopedStateForTesting::ScopedStateForTesting() {
    auto& manager = shareInstance();
    // Loaded first, so that what goes back to the store is what the store held.
    manager.snsAccountDictionary();
    manager.commentShareAccountDic();
    saved_.reset(new RZSUserManager(manager));
    storedUid_ = platform::UserDefaults::standardUserDefaults().objectForKey(kUidDefaultsKey);
}

RZSUserManager::ScopedStateForTesting::~ScopedStateForTesting() {
    rzs_persistence::storeAccounts(*saved_->snsAccountDictionary_);
    rzs_persistence::storeCommentShareAccounts(*saved_->commentShareAccountDic_);
    auto& defaults = platform::UserDefaults::standardUserDefaults();
    defaults.setObject(storedUid_, kUidDefaultsKey);
    defaults.synchronize();
    shareInstance() = *saved_;
}

// ---- stored values ---------------------------------------------------------------------

bool RZSUserManager::isUidAvailable(const std::optional<std::string>& uid) {
    return uid && platform::text::toLower(*uid).find("null") == std::string::npos;
}

std::optional<std::string> RZSUserManager::uid() {
    RZ_CHECK_MAIN_THREAD();
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
    RZ_CHECK_MAIN_THREAD();
    uid_ = uid;
    auto& defaults = platform::UserDefaults::standardUserDefaults();
    defaults.setObject(uid ? platform::Value(*uid) : platform::Value(), kUidDefaultsKey);
    defaults.synchronize();
}

std::optional<std::string> RZSUserManager::userName() {
    RZ_CHECK_MAIN_THREAD();
    if (!userName_) {
        userName_ = rzs_persistence::documentValue("userName");
    }
    return userName_;
}

void RZSUserManager::setUserName(std::optional<std::string> name) {
    RZ_CHECK_MAIN_THREAD();
    userName_ = name;
    rzs_persistence::setDocumentValue("userName", std::move(name));
}

const RAZududeAccountDictionary& RZSUserManager::snsAccountDictionary() {
    RZ_CHECK_MAIN_THREAD();
    if (!snsAccountDictionary_) {
        snsAccountDictionary_ = rzs_persistence::loadAccounts();
    }
    if (!snsAccountDictionary_) {
        snsAccountDictionary_.emplace();
    }
    return *snsAccountDictionary_;
}

void RZSUserManager::setSnsAccountDictionary(RAZududeAccountDictionary accounts) {
    RZ_CHECK_MAIN_THREAD();
    rzs_persistence::storeAccounts(accounts);
    snsAccountDictionary_ = std::move(accounts);
}

const platform::Map& RZSUserManager::commentShareAccountDic() {
    RZ_CHECK_MAIN_THREAD();
    if (!commentShareAccountDic_) {
        commentShareAccountDic_ = rzs_persistence::loadCommentShareAccounts();
    }
    if (!commentShareAccountDic_) {
        commentShareAccountDic_.emplace();
    }
    return *commentShareAccountDic_;
}

void RZSUserManager::setCommentShareAccountDic(platform::Map accounts) {
    RZ_CHECK_MAIN_THREAD();
    rzs_persistence::storeCommentShareAccounts(accounts);
    commentShareAccountDic_ = std::move(accounts);
}

std::string RZSUserManager::friendsKey(const std::string& platform) const {
    std::optional<std::string> usid;
    if (snsAccountDictionary_) {
        auto it = snsAccountDictionary_->find(platform);
        if (it != snsAccountDictionary_->end() && it->second) {
            usid = it->second->usid();
        }
    }
    return platform::format("%@-%@-%@", RZSFriendEntity::kClassName, platform, usid);
}

std::optional<RZSFriendDictionary> RZSUserManager::friendsDictionaryWithSnsName(
    const std::string& platform) {
    RZ_CHECK_MAIN_THREAD();
    if (auto it = friendsDictionary_.find(platform); it != friendsDictionary_.end()) {
        return it->second;
    }
    auto stored = rzs_persistence::loadFriends(friendsKey(platform));
    if (stored) {
        friendsDictionary_[platform] = *stored;
    }
    return stored;
}

void RZSUserManager::setFriendsDictionary(RZSFriendDictionary friends,
                                          const std::string& platform) {
    RZ_CHECK_MAIN_THREAD();
    rzs_persistence::storeFriends(friendsKey(platform), friends);
    friendsDictionary_[platform] = std::move(friends);
}

std::optional<std::vector<std::shared_ptr<RZSFriendEntity>>>
RZSUserManager::atFriendsDictionaryWithSnsName(const std::string& platform) {
    if (auto it = atFriendsDictionary_.find(platform); it != atFriendsDictionary_.end()) {
        return it->second;
    }
    auto stored = rzs_persistence::loadFriendArray(friendsKey(platform) + "-at");
    if (stored) {
        atFriendsDictionary_[platform] = *stored;
    }
    return stored;
}

void RZSUserManager::setAtFriendsArray(std::vector<std::shared_ptr<RZSFriendEntity>> friends,
                                       const std::string& platform) {
    RZ_CHECK_MAIN_THREAD();
    rzs_persistence::storeFriendArray(friendsKey(platform) + "-at", friends);
    atFriendsDictionary_[platform] = std::move(friends);
}

void RZSUserManager::forgetFriendsOfSnsName(const std::string& platform) {
    friendsDictionary_.erase(platform);
    atFriendsDictionary_.erase(platform);
}

bool RZSUserManager::useLocation() {
    auto& defaults = platform::UserDefaults::standardUserDefaults();
    if (defaults.objectForKey(kUseLocationDefaultsKey).isNull()) {
        defaults.setObject(platform::Value(true), kUseLocationDefaultsKey);
        defaults.synchronize();
        return true;
    }
    return defaults.boolForKey(kUseLocationDefaultsKey);
}

bool RZSUserManager::isSyncWithPlatform(const std::string& platform) {
    return commentShareAccountDic().contains(platform);
}

bool RZSUserManager::isPlatformTypeValid(const std::string& platform) {
    const int type = RAZududeSnsPlatformManagerInternal::getSnsPlatformType(platform);
    if (type == 0) {
        return false;
    }
    if (type == 9 || type == 19 || (type >= 10 && type <= 15)) {
        return true;
    }
    if (type >= 1 && type <= 8) {
        RAZududeUtils::outLog("snsType invalid!");
    } else {
        RAZududeUtils::outLog("This platform can not do the action!");
    }
    return false;
}

// ---- requests --------------------------------------------------------------------------

void RZSUserManager::requestSnsAccount(RAZududeResponseCompletion completion) {
    RZ_CHECK_MAIN_THREAD();
    requestSnsAccount(std::move(completion), kUidAttempts);
}

// A bar reply that succeeds without a user id is asked again once; then the account request
// fails instead of asking for ever.
void RZSUserManager::requestSnsAccount(RAZududeResponseCompletion completion, int attemptsLeft) {
    if (uid()) {
        auto params = withCompletion(std::move(completion));
        params.accountsWhenAsked =
            std::make_shared<const RAZududeAccountDictionary>(snsAccountDictionary());
        queue(kRZSRequestSnsAccount, std::move(params));
        return;
    }
    if (attemptsLeft == 0) {
        auto failure = makeRAZududeResponse(
            kRAZududeResponseAccountFailed,
            "the share service gave no user id, so the accounts cannot be asked for");
        failure->setResponseType(kRZSRequestSnsAccount);
        failure->setError(platform::Error(
            RAZududeJob::kErrorDomain, RAZududeJob::kErrorNoUid,
            {{platform::kLocalizedDescriptionKey, "The bar reply carried no user id."}}));
        if (completion) {
            completion(failure);
        }
        return;
    }
    RZSDataManager::currentDataManager()->requestBarInfo(
        [completion = std::move(completion), attemptsLeft](const RAZududeResponsePtr& response) {
            if (response && response->responseCode() == kRAZududeResponseSuccess) {
                RZSUserManager::shareInstance().requestSnsAccount(completion, attemptsLeft - 1);
            } else if (completion) {
                completion(response);
            }
        });
}

void RZSUserManager::requestAddSnsAccount(const std::shared_ptr<RAZududeAccountEntity>& account,
                                          RAZududeResponseCompletion completion) {
    RZ_CHECK_MAIN_THREAD();
    auto params = withCompletion(std::move(completion));
    params.snsAccount = account;
    queue(kRZSRequestAddSnsAccount, std::move(params));
}

void RZSUserManager::requestIsTokenValid(const std::vector<std::string>& platforms,
                                         RAZududeResponseCompletion completion) {
    RZ_CHECK_MAIN_THREAD();
    auto params = withCompletion(std::move(completion));
    params.values.set("platforms", joined(platforms));
    queue(kRZSRequestTokenValid, std::move(params));
}

void RZSUserManager::requestAppInfo(RAZududeResponseCompletion completion) {
    RZ_CHECK_MAIN_THREAD();
    queue(kRZSRequestAppInfo, withCompletion(std::move(completion)));
}

void RZSUserManager::requestSnsInformation(const std::string& platform,
                                           RAZududeResponseCompletion completion) {
    RZ_CHECK_MAIN_THREAD();
    if (auto params = platformParameters(platform, std::move(completion))) {
        queue(kRZSRequestSnsInformation, std::move(*params));
    }
}

void RZSUserManager::requestBindingSNSWithTye(const std::string& platform,
                                              RAZududeResponseCompletion completion) {
    RZ_CHECK_MAIN_THREAD();
    if (auto params = platformParameters(platform, std::move(completion))) {
        queue(kRZSRequestBinding, std::move(*params));
        requestSnsAccount({});
    }
}

void RZSUserManager::requestUnBindingSNS(RAZududeResponseCompletion completion) {
    RZ_CHECK_MAIN_THREAD();
    queue(kRZSRequestUnBinding,
          withCompletion([completion = std::move(completion)](const RAZududeResponsePtr& r) {
              if (r && r->responseCode() == kRAZududeResponseSuccess) {
                  auto& users = RZSUserManager::shareInstance();
                  RAZududeAccountDictionary accounts = users.snsAccountDictionary();
                  accounts.erase("loginAccount");
                  accounts.erase("defaultAccount");
                  users.setSnsAccountDictionary(std::move(accounts));
              }
              if (completion) {
                  completion(r);
              }
          }));
}

void RZSUserManager::requestGetFriends(const std::string& platform,
                                       RAZududeResponseCompletion completion) {
    RZ_CHECK_MAIN_THREAD();
    if (auto params = platformParameters(platform, std::move(completion))) {
        queue(kRZSRequestFriends, std::move(*params));
    }
}

void RZSUserManager::requestAddFollow(const std::string& platform,
                                      const std::vector<std::string>& usids,
                                      RAZududeResponseCompletion completion) {
    RZ_CHECK_MAIN_THREAD();
    if (auto params = platformParameters(platform, std::move(completion))) {
        params->values.set("fusid", joined(usids));
        queue(kRZSRequestFollow, std::move(*params));
    }
}

void RZSUserManager::requestAddCustomAccount(const std::shared_ptr<RAZududeCustomAccount>& account,
                                             RAZududeResponseCompletion completion) {
    RZ_CHECK_MAIN_THREAD();
    auto params = withCompletion(std::move(completion));
    params.customAccount = account;
    queue(kRZSRequestCustomAccount, std::move(params));
}

void RZSUserManager::requestUnOauthToPlatform(const std::string& platform,
                                              RAZududeResponseCompletion completion) {
    RZ_CHECK_MAIN_THREAD();
    const char* handlerClass = nullptr;
    if (platform == "facebook") {
        handlerClass = "RAZududeFacebookHandler";
    } else if (platform == "twitter") {
        handlerClass = "RAZududeTwitterHandler";
    } else if (platform == "sina") {
        handlerClass = "RAZududeSinaSSOHandler";
    }
    if (handlerClass) {
        if (auto handler = RAZududeHandlerRegistry::shareInstanceOf(handlerClass)) {
            if (handler->unOauth(completion)) {
                return;
            }
        }
    }
    if (!isPlatformTypeValid(platform)) {
        return;
    }
    RZSJobParameters params;
    params.values.set("displayName", platform);
    auto response = makeRAZududeResponse(kRAZududeResponseSuccess);
    response->setResponseType(kRAZududeResponseTypeUnOauth);
    RAZududeAccountDictionary accounts = snsAccountDictionary();
    accounts.erase(platform);
    setSnsAccountDictionary(std::move(accounts));
    if (completion) {
        completion(response);
    }
    queue(kRZSRequestUnOauth, std::move(params));
}
