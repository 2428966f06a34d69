// Accounts: what counts as authorised and as a usable token, and the archive they are kept in.
#include <gtest/gtest.h>

#include "SocialSDK/core/account/RAZududeAccountManager.h"
#include "SocialSDK/core/manager/RZSPersistence.h"
#include "SocialSDK/core/manager/RZSUserManager.h"
#include "platform/KeyedArchive.h"
#include "platform/UserDefaults.h"
#include "tests/core/SocialTest.h"
#include "tests/support/TempDir.h"

namespace {

using platform::Date;

class AccountsTest : public social_test::SocialTest {};

TEST_F(AccountsTest, ANewAccountStoredAsItIsIsAuthorisedWithoutExpiry) {
    EXPECT_FALSE(RAZududeAccountManager::isOauthWithPlatform("renren"));
    auto account = std::make_shared<RAZududeAccountEntity>("renren");
    EXPECT_TRUE(account->isFirstOauth());
    EXPECT_EQ(account->usid(), "");
    RAZududeAccountManager::setSnsAccount(account);
    EXPECT_TRUE(RAZududeAccountManager::isOauthWithPlatform("renren"));
    EXPECT_TRUE(RAZududeAccountManager::isOauthAndTokenNotExpired("renren"));

    // A plain account has no user id: not authorised.
    auto empty = std::make_shared<RAZududeAccountEntity>();
    empty->setPlatformName("douban");
    RAZududeAccountManager::setSnsAccount(empty);
    EXPECT_FALSE(RAZududeAccountManager::isOauthWithPlatform("douban"));

    // An account without a platform name is not stored.
    RAZududeAccountManager::setSnsAccount(std::make_shared<RAZududeAccountEntity>());
    EXPECT_EQ(RAZududeAccountManager::socialAccountDictionary().size(), 2u);
}

TEST_F(AccountsTest, ATokenPastItsExpiryIsNotUsable) {
    auto account = std::make_shared<RAZududeAccountEntity>("tencent");
    account->setUsid("u1");
    account->setExpirationDate(Date::now().addingTimeInterval(30));
    RAZududeAccountManager::setSnsAccount(account);
    EXPECT_TRUE(RAZududeAccountManager::isOauthAndTokenNotExpired("tencent"));
    account->setExpirationDate(Date::now().addingTimeInterval(-1));
    EXPECT_FALSE(RAZududeAccountManager::isOauthAndTokenNotExpired("tencent"));
    EXPECT_TRUE(RAZududeAccountManager::isOauthWithPlatform("tencent"));
    EXPECT_FALSE(RAZududeAccountManager::isOauthAndTokenNotExpired("sina"));
}

TEST_F(AccountsTest, TheArchiveKeepsWhatItShouldAndForgetsTheRest) {
    auto account = std::make_shared<RAZududeAccountEntity>("sina");
    account->setUsid("1402400261");
    account->setAccessToken("token");
    account->setOpenId("open");
    account->setUnionId("union");
    account->setRefreshToken("refresh");
    account->setRefreshDate(Date(1700000000));
    account->setExpirationDate(Date(1800000000));
    account->setPermissions(std::vector<std::string>{"share", "follow"});
    RAZududeAccountManager::setSnsAccount(account);

    auto read = rzs_persistence::loadAccounts();
    ASSERT_TRUE(read);
    ASSERT_TRUE(read->count("sina"));
    const auto& back = *read->at("sina");
    EXPECT_NE(&back, account.get());
    EXPECT_FALSE(back.isFirstOauth());
    EXPECT_FALSE(back.openId());
    EXPECT_FALSE(back.unionId());
    EXPECT_EQ(back.usid(), "1402400261");
    EXPECT_EQ(back.refreshToken(), "refresh");
    EXPECT_EQ(back.refreshDate(), Date(1700000000));
    EXPECT_EQ(back.expirationDate(), Date(1800000000));
    EXPECT_EQ(back.permissions(), (std::vector<std::string>{"share", "follow"}));
    EXPECT_FALSE(back.dePermissions());
    EXPECT_FALSE(back.appId());

    // The archive is the platform's keyed archive: Python's plistlib reads the fields.
    auto bytes = platform::KeyedArchiver::archivedData(platform::ArchiveObject(account));
    ASSERT_TRUE(bytes);
    std::string script =
        "import plistlib, sys\n"
        "a = plistlib.loads(sys.stdin.buffer.read())\n"
        "objs = a['$objects']\n"
        "top = objs[a['$top']['root'].data]\n"
        "print(objs[top['$class'].data]['$classname'])\n"
        "for k in ('usid', 'accessToken', 'refreshToken'):\n"
        "    print(k, objs[top[k].data])\n"
        "print('openId' in top, 'unionId' in top)\n";
    std::string input(bytes->begin(), bytes->end());
    EXPECT_EQ(testing_support::runPython(script, input),
              "RAZududeAccountEntity\nusid 1402400261\naccessToken token\n"
              "refreshToken refresh\nFalse False\n");
}

TEST_F(AccountsTest, UserIdsThatSpellNullAreNotUsable) {
    EXPECT_FALSE(RZSUserManager::isUidAvailable(std::nullopt));
    EXPECT_FALSE(RZSUserManager::isUidAvailable("NULL"));
    EXPECT_FALSE(RZSUserManager::isUidAvailable("(null)"));
    EXPECT_TRUE(RZSUserManager::isUidAvailable("5211818"));
    auto& users = RZSUserManager::shareInstance();
    users.setUid("(null)");
    EXPECT_EQ(users.uid(), "(null)");  // nothing better is stored
    platform::UserDefaults::standardUserDefaults().setObject(platform::Value("u-77"),
                                                             "RAZudude_uid");
    EXPECT_EQ(users.uid(), "u-77");
    users.setUid(std::nullopt);
}

}  // namespace
