// The share-service protocol without a server: base parameters, the enciphered path, what each
// request kind builds, what the entity factory stores of a reply, and the entities' archives.
#include <gtest/gtest.h>

#include "RZBase_Source/Encode/RAZududeCryptor.h"
#include "SocialSDK/core/account/RAZududeAccountManager.h"
#include "SocialSDK/core/cache/RZSCacheManager.h"
#include "SocialSDK/core/data/RAZududeData.h"
#include "SocialSDK/core/manager/RZSCommentEntity.h"
#include "SocialSDK/core/manager/RZSDataManager.h"
#include "SocialSDK/core/manager/RZSPersistence.h"
#include "SocialSDK/core/manager/RZSUserManager.h"
#include "SocialSDK/core/protocol/RAZududeJobFactory.h"
#include "SocialSDK/core/protocol/RZSEntityFactory.h"
#include "SocialSDK/core/protocol/RZSProtocol.h"
#include "SocialSDK/core/protocol/RZSSNSEntity.h"
#include "platform/UserDefaults.h"
#include "tests/core/SocialTest.h"

namespace {

using platform::Map;
using platform::Value;

constexpr const char* kKey = "appkey-for-tests";

std::vector<std::string> pairKeys(const std::string& query) {
    std::vector<std::string> keys;
    std::size_t start = 0;
    while (start <= query.size()) {
        std::size_t end = query.find('&', start);
        std::string pair = query.substr(start, end == std::string::npos ? end : end - start);
        keys.push_back(pair.substr(0, pair.find('=')));
        if (end == std::string::npos) {
            break;
        }
        start = end + 1;
    }
    return keys;
}

class ProtocolTest : public social_test::SocialTest {
  protected:
    ProtocolTest() {
        RZSDataManagerSet::shareInstance().setAppkey(kKey);
        RAZududeCryptor::sharedInstance().updateAESKey(kKey);
        RZSUserManager::shareInstance().setUid(std::nullopt);
        RZSUserManager::shareInstance().setCommentShareAccountDic({});
        manager_ = RZSDataManager::getDataManager("protocol-item");
        if (!manager_) {
            RZSDataManagerSet::shareInstance().setDataManagerWithHash("protocol-item");
            manager_ = RZSDataManager::currentDataManager();
        }
        manager_->setBarEntity(std::make_shared<RZSBarEntity>());
    }
    RAZududeJobPtr job(int kind, Map values = {}) {
        RZSJobParameters params;
        params.values = std::move(values);
        return RAZududeJobFactory::sharedInstance().createSocialJob(kind, params);
    }
    std::shared_ptr<RZSDataManager> manager_;
    // Requests that the tests set off go here rather than to any server.
    social_test::RequestPeer peer_;
};

TEST_F(ProtocolTest, BaseParametersComeInTheirOrderAndCarryTheirOneShots) {
    EXPECT_EQ(RZSProtocol::normalizedBaseURL("http://127.0.0.1:8080"), "http://127.0.0.1:8080/");
    EXPECT_EQ(RZSProtocol::normalizedBaseURL("http://h/api"), "http://h/api");
    EXPECT_EQ(RZSProtocol::normalizedBaseURL("http://h/"), "http://h/");

    auto& protocol = RZSProtocol::sharedInstance();
    EXPECT_EQ(pairKeys(protocol.baseString()),
              (std::vector<std::string>{"mac", "deviceudid", "pcv", "en", "de", "os", "dt", "tp",
                                        "ak", "ek", "sdkv"}));
    Map dictionary = protocol.baseDictionary();
    EXPECT_EQ(dictionary.keys(), (std::vector<std::string>{"mac", "deviceudid", "pcv", "en", "de",
                                                           "os", "dt", "sdkv", "tp", "ek", "ak"}));
    EXPECT_EQ(dictionary["ek"], Value("-1"));

    RZSUserManager::shareInstance().setUid("u-1");
    manager_->barEntity()->setEntityKey("ek-9");
    protocol.setCuid("c-1");
    protocol.setWid("w-1");
    const std::string query = protocol.baseString();
    EXPECT_NE(query.find("&ek=ek-9&uid=u-1&cuid=c-1&sdkv=5.2"), std::string::npos) << query;
    EXPECT_EQ(protocol.baseString().find("cuid"), std::string::npos);
    Map withWid = protocol.baseDictionary();
    EXPECT_EQ(withWid["wid"], Value("w-1"));
    EXPECT_EQ(withWid["uid"], Value("u-1"));
    EXPECT_FALSE(protocol.baseDictionary().contains("wid"));
    EXPECT_EQ(protocol.firstUse(), "0");
}

TEST_F(ProtocolTest, OnlyTheQueryOfAPathIsEnciphered) {
    auto bar = job(3, Map{{"descriptor", "d"}});
    ASSERT_TRUE(bar);
    EXPECT_EQ(bar->encryPathString("comment/add/a/b/"), "comment/add/a/b/");
    EXPECT_EQ(bar->encryPathString("share/auth/a/b?"), "share/auth/a/b?");
    auto path = bar->encryPathString("bar/get/a/?x=1&y=a b");
    ASSERT_TRUE(path);
    ASSERT_EQ(path->rfind("bar/get/a/?ud_get=", 0), 0u) << *path;
    EXPECT_EQ(RAZududeCryptor::sharedInstance().AES128Decrypt(path->substr(18)), "x=1&y=a b");

    // Nothing is built without an AppKey.
    {
        RZSDataManagerSet::ScopedAppkeyForTesting noKey("");
        EXPECT_FALSE(job(3));
    }
}

// The cryptor and the entity cache also work off the main thread, so the data managers hand
// them the AppKey and the current item when these change instead of being read by them.
TEST_F(ProtocolTest, TheAppKeyAndTheCurrentItemReachTheCryptorAndTheCacheWhenTheyChange) {
    auto& set = RZSDataManagerSet::shareInstance();
    RAZududeCryptor reference;
    reference.updateAESKey("another app key 12345678");
    set.setAppkey("another app key 12345678");
    EXPECT_EQ(RAZududeCryptor::sharedInstance().AES128Encrypt("abc"),
              reference.AES128Encrypt("abc"));
    set.setAppkey(kKey);
    EXPECT_NE(RAZududeCryptor::sharedInstance().AES128Encrypt("abc"),
              reference.AES128Encrypt("abc"));

    set.setDataManagerWithHash("another-item");
    EXPECT_EQ(RZSCacheManager::shareInstance().getKeyNameFromVariable("RZSBarEntity"),
              "RZSBarEntity-another-item");
    set.getDataManager("protocol-item");
    EXPECT_EQ(RZSCacheManager::shareInstance().getKeyNameFromVariable("RZSBarEntity"),
              "RZSBarEntity-protocol-item");
}

TEST_F(ProtocolTest, EachKindBuildsItsPathTransportAndBody) {
    auto list = job(2);
    EXPECT_EQ(list->networkType(), RAZududeJob::kNetworkGet);
    EXPECT_NE(list->pathString()->find("&sid=(null)&lct=-1&opid=2"), std::string::npos);
    EXPECT_EQ(list->pathString()->rfind(std::string("comment/get/") + kKey + "/-1/?", 0), 0u);
    EXPECT_FALSE(list->baseDic());

    auto login = job(9, Map{{"displayName", "renren"}});
    EXPECT_EQ(login->networkType(), RAZududeJob::kNetworkNone);
    EXPECT_NE(login->pathString()->find("/-1?mac="), std::string::npos);
    auto unknown = job(21);
    EXPECT_EQ(unknown->networkType(), RAZududeJob::kNetworkNone);
    EXPECT_FALSE(unknown->pathString());

    // The multi-share: platform-app names go without usid and make the share "tp" 1.
    social_test::authorise("tencent");
    manager_->setSnsEntity(11, "text", RAZududeShareImage(platform::Bytes{1, 2}), std::nullopt,
                           nullptr);
    auto multi = job(5, Map{{"snsNames", platform::Array{"tencent", "wxsession", "renren"}}});
    EXPECT_EQ(multi->networkType(), RAZududeJob::kNetworkMultipartPost);
    EXPECT_TRUE(multi->shareImage().isData());
    EXPECT_EQ((*multi->baseDic())["sns"],
              Value("{\"tencent\":\"uid-tencent\",\"wxsession\":\"\"}"));
    EXPECT_EQ((*multi->baseDic())["tp"], Value("1"));
    EXPECT_FALSE(multi->baseDic()->contains("pic"));

    // The token body: an open id stands for the user id too.
    auto account = std::make_shared<RAZududeAccountEntity>("tencent");
    account->setUsid("u");
    account->setOpenId("o");
    RZSJobParameters tokenParams;
    tokenParams.snsAccount = account;
    auto token = RAZududeJobFactory::sharedInstance().createSocialJob(15, tokenParams);
    EXPECT_EQ((*token->baseDic())["usid"], Value("o"));
    EXPECT_EQ((*token->baseDic())["openid"], Value("o"));
    EXPECT_EQ(*token->pathString(), std::string("/share/token/") + kKey + "/");

    // The app-information post signs with the AppKey reversed, character by character.
    {
        RZSDataManagerSet::ScopedAppkeyForTesting reversible("ab中c");
        auto info = job(19, Map{{"appInfo", Map{{"note", "n"}}}});
        EXPECT_EQ((*info->baseDic())["zizoz_secret"], Value("c中ba"));
        EXPECT_EQ((*info->baseDic())["note"], Value("n"));
    }

    // A comment without shared accounts leaves its picture out.
    manager_->barEntity()->setCommentImage(std::make_shared<platform::Image>(1, 1));
    manager_->postCommentWithContent("c", std::nullopt, {});
    EXPECT_EQ(peer_.ofKind(kRZSRequestAddComment).size(), 1u);
    auto comment = job(0);
    EXPECT_EQ(comment->networkType(), RAZududeJob::kNetworkPost);
    EXPECT_EQ((*comment->baseDic())["ct"], Value("c"));
}

// A share with a link sends the link in place of its picture; a resource without a link (the
// empty one a record starts with) is no link, and the picture goes.
TEST_F(ProtocolTest, OnlyALinkTakesThePlaceOfTheSharePicture) {
    social_test::authorise("douban");
    const RAZududeShareImage picture(platform::Bytes{1, 2});
    auto share = [&](std::shared_ptr<RAZududeUrlResource> resource) {
        manager_->setSnsEntity(12, "text", picture, std::nullopt, std::move(resource));
        return job(5, Map{{"snsNames", platform::Array{"douban"}}});
    };
    for (auto empty : {std::make_shared<RAZududeUrlResource>(),
                       RAZududeUrlResource::initWithSnsResourceType(kRAZududeUrlResourceTypeWeb,
                                                                    std::nullopt)}) {
        auto multi = share(empty);
        EXPECT_TRUE(multi->shareImage().isData());
        EXPECT_EQ(multi->networkType(), RAZududeJob::kNetworkMultipartPost);
        EXPECT_FALSE(multi->baseDic()->contains("furl"));
    }
    auto linked = share(RAZududeUrlResource::initWithSnsResourceType(kRAZududeUrlResourceTypeWeb,
                                                                     "https://example.org/a"));
    EXPECT_FALSE(linked->shareImage());
    EXPECT_EQ((*linked->baseDic())["furl"], Value("https://example.org/a"));
}

TEST_F(ProtocolTest, TheEntityFactoryStoresOnlyWhatTheReplyVouchesFor) {
    auto& factory = RZSEntityFactory::sharedInstance();
    auto& users = RZSUserManager::shareInstance();
    RZSDataManagerSet::shareInstance().setCurrentDataHash("protocol-item");

    factory.setConfig(3);
    factory.saveObjects(Value(Map{{"ek", "k1"}, {"lk", 4}, {"fr", nullptr}, {"uid", "u9"}}), {});
    EXPECT_EQ(manager_->barEntity()->entityKey(), "k1");
    EXPECT_EQ(manager_->barEntity()->likeCount(), 4);
    EXPECT_FALSE(manager_->barEntity()->isLike());
    EXPECT_EQ(users.uid(), "u9");
    // Without a key there is no bar to keep, and "null" is no user id.
    factory.saveObjects(Value(Map{{"lk", 7}, {"uid", "NULL"}}), {});
    EXPECT_EQ(manager_->barEntity()->entityKey(), "k1");
    EXPECT_EQ(users.uid(), "u9");
    // The bar is stored under its own record's identifier; read back without views or content.
    auto stored = rzs_persistence::loadBarEntity("protocol-item");
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->entityKey(), "k1");
    EXPECT_EQ(stored->likeCount(), 4);

    for (const char* name : {"sina", "qzone", "facebook"}) {
        social_test::authorise(name);
    }
    factory.setConfig(10);
    factory.saveObjects(Value(Map{{"accounts", Map{{"sina", Map{{"usid", "s9"}, {"username", "S"}}},
                                                   {"renren", Map{{"usid", "r"}}}}},
                                  {"default", "dflt"}}),
                        {});
    const auto& accounts = users.snsAccountDictionary();
    EXPECT_EQ(accounts.at("sina")->usid(), "s9");
    EXPECT_EQ(accounts.at("sina")->accessToken(), "token-sina");
    EXPECT_TRUE(accounts.count("facebook"));
    EXPECT_FALSE(accounts.count("qzone"));
    EXPECT_FALSE(accounts.count("renren"));
    EXPECT_EQ(accounts.at("defaultAccount")->userName(), "dflt");
    EXPECT_EQ(users.commentShareAccountDic()["sina"], Value("s9"));
    // A payload that is no object changes nothing.
    factory.saveObjects(Value(platform::Array{}), {});
    EXPECT_TRUE(users.snsAccountDictionary().count("sina"));

    factory.setConfig(12);
    RZSJobParameters friendsOf;
    friendsOf.values.set("displayName", "sina");
    factory.saveObjects(
        Value(Map{{"1", Map{{"name", "A"}, {"pinyin", "a"}}}, {"2", Map{{"name", "B"}}}}),
        friendsOf);
    auto archived = rzs_persistence::loadFriends("RZSFriendEntity-sina-s9");
    ASSERT_TRUE(archived);
    ASSERT_EQ(archived->size(), 2u);
    EXPECT_EQ(archived->at("1")->name(), "A");
    EXPECT_EQ(archived->at("1")->usid(), "1");
}

// The accounts a reply lists replace those on the device, but a login stored while the request
// travelled is newer than the reply and stays: the editor it leads to finds its token.
TEST_F(ProtocolTest, AnAccountsReplyKeepsALoginStoredAfterItWasAskedFor) {
    auto& users = RZSUserManager::shareInstance();
    users.setUid("u1");
    social_test::authorise("qzone");
    social_test::RequestPeer peer;
    users.requestSnsAccount({});
    auto asked = peer.ofKind(kRZSRequestSnsAccount);
    ASSERT_EQ(asked.size(), 1u);
    social_test::authorise("tencent");

    auto& factory = RZSEntityFactory::sharedInstance();
    factory.setConfig(10);
    factory.saveObjects(Value(Map{{"accounts", Map{}}}), asked[0].parameters);
    EXPECT_TRUE(RAZududeAccountManager::isOauthAndTokenNotExpired("tencent"));
    EXPECT_FALSE(users.snsAccountDictionary().count("qzone"));
    // The next reply knows of it.
    users.requestSnsAccount({});
    factory.saveObjects(Value(Map{{"accounts", Map{{"tencent", Map{{"usid", "t1"}}}}}}),
                        peer.ofKind(kRZSRequestSnsAccount).at(1).parameters);
    EXPECT_EQ(users.snsAccountDictionary().at("tencent")->usid(), "t1");
    EXPECT_EQ(users.snsAccountDictionary().at("tencent")->accessToken(), "token-tencent");
}

TEST_F(ProtocolTest, CommentAgesAndLoginFlags) {
    RZSCommentEntity comment;
    const std::int64_t now = 2'000'000'000;
    auto at = [&](std::int64_t age) {
        comment.setDateInterval((now - age) * 1000);
        return comment.getDateString(now);
    };
    EXPECT_EQ(at(59), "59 秒前");
    EXPECT_EQ(at(-30), "0 秒前");
    EXPECT_EQ(at(60), "1 分钟前");
    EXPECT_EQ(at(3659), "60 分钟前");
    EXPECT_EQ(at(3660), "1 小时前");
    EXPECT_EQ(at(89999), "24 小时前");
    EXPECT_EQ(at(90000), "1 天前");

    RAZududeAccountManager::setIsLoginWithAnonymous(false);
    EXPECT_FALSE(RAZududeAccountManager::isLogin());
    RAZududeAccountManager::setIsLoginWithAnonymous(true);
    EXPECT_TRUE(RAZududeAccountManager::isLogin());
    EXPECT_FALSE(RAZududeAccountManager::isLoginWithSnsAccount());
    RAZududeAccountManager::setIsLoginWithAnonymous(false);

    EXPECT_TRUE(RZSUserManager::isPlatformTypeValid("tencent"));
    EXPECT_FALSE(RZSUserManager::isPlatformTypeValid("email"));
    EXPECT_FALSE(RZSUserManager::isPlatformTypeValid("nowhere"));
    auto& defaults = platform::UserDefaults::standardUserDefaults();
    defaults.setObject(Value(), RZSUserManager::kUseLocationDefaultsKey);
    EXPECT_TRUE(RZSUserManager::shareInstance().useLocation());
    EXPECT_TRUE(defaults.boolForKey(RZSUserManager::kUseLocationDefaultsKey));
}

}  // namespace
