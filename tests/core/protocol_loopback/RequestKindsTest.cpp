// Every request kind against the share-service emulator, asserted on what the emulator decoded:
// transport, path, parameters in order, the picture part, and what the replies leave stored.
#include <gtest/gtest.h>

#include "SocialSDK/core/account/RAZududeAccountManager.h"
#include "SocialSDK/core/analytics/RAZududeOpAnalytics.h"
#include "SocialSDK/core/manager/RZSCommentEntity.h"
#include "SocialSDK/core/protocol/RZSSNSEntity.h"
#include "platform/Url.h"
#include "tests/core/protocol_loopback/ProtocolLoopbackTest.h"

namespace share_service_test {
namespace {

using platform::Array;
using platform::Map;
using platform::Value;

const std::string kAk = kAppKey;

std::vector<std::string> keysOf(const Value& order) {
    std::vector<std::string> keys;
    for (const auto& key : order.array() ? *order.array() : Array()) {
        keys.push_back(key.stringValue());
    }
    return keys;
}

std::shared_ptr<RAZududeAccountEntity> storeAccount(const std::string& name,
                                                    const std::string& usid) {
    auto account = std::make_shared<RAZududeAccountEntity>(name);
    account->setUsid(usid);
    account->setAccessToken("token-" + name);
    RAZududeAccountManager::setSnsAccount(account);
    return account;
}

class RequestKindsTest : public ProtocolLoopbackTest {};

TEST_F(RequestKindsTest, TheBarRequestStoresKeyAndUidAndTheAccountRequestFollows) {
    auto manager = managerFor("loopback-bar");
    auto bar = await([&](auto done) { manager->requestBarInfo(done); });
    ASSERT_TRUE(bar);
    ASSERT_EQ(bar->responseCode(), 200) << said(bar);
    EXPECT_EQ(bar->responseType(), 3);

    auto bars = peer_.logOfKind(3);
    ASSERT_EQ(bars.size(), 1u);
    EXPECT_EQ(bars[0]["method"], Value("GET"));
    EXPECT_EQ(bars[0]["path"], Value("/bar/get/" + kAk + "/"));
    const Value& query = bars[0]["params"];
    EXPECT_EQ(keysOf(bars[0]["raw_query_order"]),
              (std::vector<std::string>{"mac", "deviceudid", "pcv", "en", "de", "os", "dt", "tp",
                                        "ak", "ek", "sdkv", "dc", "ni", "opid"}));
    EXPECT_EQ(query["ek"], Value("-1"));
    EXPECT_EQ(query["ak"], Value(kAk));
    EXPECT_EQ(query["tp"], Value("0"));
    EXPECT_EQ(query["sdkv"], Value("5.2"));
    EXPECT_EQ(query["pcv"], Value("2.0"));
    EXPECT_EQ(query["dc"], Value("loopback-bar"));
    EXPECT_EQ(query["ni"], Value("1"));
    EXPECT_EQ(query["opid"], Value("1"));

    auto entity = manager->barEntity();
    ASSERT_TRUE(entity->entityKey());
    EXPECT_EQ(entity->viewCount(), 1);
    auto uid = RZSUserManager::shareInstance().uid();
    ASSERT_TRUE(uid);

    // The accounts the share service holds refresh the ones stored here; others are dropped.
    storeAccount("sina", "old-usid");
    storeAccount("qzone", "qz");
    peer_.control("POST", "/__emu/state",
                  "{\"accounts\": {\"" + *uid +
                      "\": {\"sina\": {\"usid\": \"9\", \"username\": \"weibo-user\"}}}}");
    auto accounts =
        await([](auto done) { RZSUserManager::shareInstance().requestSnsAccount(done); });
    ASSERT_TRUE(accounts);
    ASSERT_EQ(accounts->responseCode(), 200) << said(accounts);
    EXPECT_EQ(accounts->responseType(), 10);
    auto profiles = peer_.logOfKind(10);
    ASSERT_EQ(profiles.size(), 1u);
    EXPECT_EQ(profiles[0]["path"], Value("/user/profile/get/" + kAk + "/" + *uid + "/"));
    EXPECT_EQ(profiles[0]["params"]["uid"], Value(*uid));
    const auto& stored = RZSUserManager::shareInstance().snsAccountDictionary();
    ASSERT_TRUE(stored.count("sina"));
    EXPECT_EQ(stored.at("sina")->userName(), "weibo-user");
    EXPECT_EQ(stored.at("sina")->usid(), "9");
    EXPECT_EQ(stored.at("sina")->accessToken(), "token-sina");
    EXPECT_FALSE(stored.count("qzone"));
    EXPECT_EQ(RZSUserManager::shareInstance().commentShareAccountDic()["sina"], Value("9"));

    // Once a uid exists the bar request says so.
    await([&](auto done) { manager->requestBarInfo(done); });
    EXPECT_EQ(peer_.logOfKind(3).back()["params"]["ni"], Value("0"));
    EXPECT_EQ(peer_.logOfKind(3).back()["params"]["uid"], Value(*uid));
}

TEST_F(RequestKindsTest, LikeCommentAndCommentListWaitForTheEntityKey) {
    auto manager = managerFor("loopback-like");
    auto like = await([&](auto done) { manager->requestAddlikeOrDislike(1, done); });
    ASSERT_TRUE(like);
    ASSERT_EQ(like->responseCode(), 200) << said(like);
    auto entries = peer_.log();
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0]["kind"], Value(3));
    EXPECT_EQ(entries[1]["kind"], Value(1));
    auto bar = manager->barEntity();
    ASSERT_TRUE(bar->entityKey());
    EXPECT_EQ(entries[1]["method"], Value("POST"));
    EXPECT_EQ(entries[1]["path"], Value("/like/update/" + kAk + "/" + *bar->entityKey() + "/"));
    EXPECT_EQ(entries[1]["params"]["st"], Value("1"));
    EXPECT_EQ(entries[1]["params"]["opid"], Value("6"));
    EXPECT_EQ(entries[1]["params"]["sid"], Value(*bar->sessionId()));
    EXPECT_EQ(entries[1]["params"]["ek"], Value(*bar->entityKey()));
    EXPECT_TRUE(bar->isLike());
    EXPECT_EQ(bar->likeCount(), 1);

    auto comment = await([&](auto done) {
        manager->postCommentWithContent("first comment", platform::Location{31.2, 121.5}, done);
    });
    ASSERT_TRUE(comment);
    ASSERT_EQ(comment->responseCode(), 200) << said(comment);
    auto added = peer_.logOfKind(0);
    ASSERT_EQ(added.size(), 1u);
    EXPECT_EQ(added[0]["params"]["ct"], Value("first comment"));
    EXPECT_EQ(added[0]["params"]["lc"], Value("(121.500000,31.200000)"));
    EXPECT_EQ(added[0]["params"]["opid"], Value("5"));
    EXPECT_EQ(keysOf(added[0]["fields"]), std::vector<std::string>{"ud_post"});

    auto list = await([&](auto done) { manager->requestCommentList(-1, done); });
    ASSERT_TRUE(list);
    ASSERT_EQ(list->responseCode(), 200) << said(list);
    auto lists = peer_.logOfKind(2);
    ASSERT_EQ(lists.size(), 1u);
    EXPECT_EQ(lists[0]["params"]["lct"], Value("-1"));
    EXPECT_EQ(lists[0]["params"]["sid"], Value(*bar->sessionId()));
    ASSERT_TRUE(list->data());
    EXPECT_EQ((*list->data())["comments"][0]["ct"], Value("first comment"));

    // Taking the like back moves the counter down again.
    auto unlike = await([&](auto done) { manager->addOrMinusLike(done); });
    ASSERT_EQ(unlike->responseCode(), 200) << said(unlike);
    EXPECT_EQ(peer_.logOfKind(1).back()["params"]["st"], Value("0"));
    EXPECT_FALSE(manager->barEntity()->isLike());
    EXPECT_EQ(manager->barEntity()->likeCount(), 0);
}

TEST_F(RequestKindsTest, AShareToSeveralPlatformsCarriesItsPictureAsAPart) {
    storeAccount("tencent", "tencent-usid");
    auto manager = managerFor("loopback-share");
    const platform::Bytes gif = {'G', 'I', 'F', '8', '9', 'a', 1, 0, 1, 0, 0, 0, 0, ';'};
    auto share = await([&](auto done) {
        manager->postSNSWithTypes({"tencent", "wxsession"}, "shared text", RAZududeShareImage(gif),
                                  platform::Location{1.5, 2.5}, nullptr, done, "46");
    });
    ASSERT_TRUE(share);
    ASSERT_EQ(share->responseCode(), 200) << said(share);
    EXPECT_EQ(share->responseType(), 5);
    auto shares = peer_.logOfKind(5);
    ASSERT_EQ(shares.size(), 1u);
    const Value& entry = shares[0];
    EXPECT_EQ(keysOf(entry["fields"]), (std::vector<std::string>{"ud_post", "pic"}));
    EXPECT_EQ(entry["pic"]["filename"], Value("pic.gif"));
    EXPECT_EQ(entry["pic"]["content_type"], Value("file-data"));
    EXPECT_EQ(entry["pic"]["size"], Value(static_cast<int>(gif.size())));
    const Value& body = entry["params"];
    EXPECT_EQ(body["ct"], Value("shared text"));
    EXPECT_EQ(body["opid"], Value("17"));
    EXPECT_EQ(body["type"], Value("shake"));
    EXPECT_EQ(body["tp"], Value("1"));
    EXPECT_EQ(body["lc"], Value("(2.500000,1.500000)"));
    EXPECT_EQ(body["sns"], Value("{\"tencent\":\"tencent-usid\",\"wxsession\":\"\"}"));
    EXPECT_FALSE(body.map()->contains("pic"));
    ASSERT_TRUE(share->data());
    EXPECT_EQ((*share->data())["tencent"]["st"], Value(200));

    // With a link the link goes, not the picture.
    auto link = await([&](auto done) {
        manager->postSNSWithTypes({"tencent"}, "with link", RAZududeShareImage(gif), std::nullopt,
                                  RAZududeUrlResource::initWithSnsResourceType(
                                      kRAZududeUrlResourceTypeVideo, "http://127.0.0.1/v.mp4"),
                                  done, std::nullopt);
    });
    ASSERT_EQ(link->responseCode(), 200) << said(link);
    const Value last = peer_.logOfKind(5).back();
    EXPECT_TRUE(last["pic"].isNull());
    EXPECT_EQ(last["params"]["furl"], Value("http://127.0.0.1/v.mp4"));
    EXPECT_EQ(last["params"]["ftype"], Value("1"));
    EXPECT_EQ(last["params"]["type"], Value("common"));

    // An image goes as a JPEG.
    auto image = await([&](auto done) {
        manager->postSNSWithTypes({"tencent"}, "with image",
                                  RAZududeShareImage(std::make_shared<platform::Image>(4, 4)),
                                  std::nullopt, nullptr, done, std::nullopt);
    });
    ASSERT_EQ(image->responseCode(), 200) << said(image);
    const Value jpeg = peer_.logOfKind(5).back();
    EXPECT_EQ(jpeg["pic"]["filename"], Value("pic.jpg"));
    EXPECT_EQ(jpeg["pic"]["content_type"], Value("file-data"));
    EXPECT_GT(jpeg["pic"]["size"].intValue(), 0);
}

TEST_F(RequestKindsTest, AccountRequestsReachTheirPaths) {
    auto manager = managerFor("loopback-accounts");
    ASSERT_EQ(await([&](auto done) { manager->requestBarInfo(done); })->responseCode(), 200);
    auto uid = *RZSUserManager::shareInstance().uid();
    auto& users = RZSUserManager::shareInstance();

    // The token: openid goes under both names, the expiry as seconds from now.
    auto account = std::make_shared<RAZududeAccountEntity>("qzone");
    account->setUsid("qz-usid");
    account->setOpenId("qz-openid");
    account->setAccessToken("qz-token");
    account->setRefreshToken("qz-refresh");
    account->setExpirationDate(platform::Date::now().addingTimeInterval(3600.5));
    auto token = await([&](auto done) { RAZududeAccountManager::postSnsAccount(account, done); });
    ASSERT_EQ(token->responseCode(), 200) << said(token);
    auto tokens = peer_.logOfKind(15);
    ASSERT_EQ(tokens.size(), 1u);
    EXPECT_EQ(tokens[0]["path"], Value("//share/token/" + kAk + "/"));
    const Value& body = tokens[0]["params"];
    EXPECT_EQ(body["to"], Value("qzone"));
    EXPECT_EQ(body["access_token"], Value("qz-token"));
    EXPECT_EQ(body["openid"], Value("qz-openid"));
    EXPECT_EQ(body["usid"], Value("qz-openid"));
    EXPECT_EQ(body["refresh_token"], Value("qz-refresh"));
    const int expiresIn = std::stoi(body["expires_in"].stringValue());
    EXPECT_GE(expiresIn, 3590);
    EXPECT_LE(expiresIn, 3600);

    auto valid = await([&](auto done) { users.requestIsTokenValid({"qzone", "qq"}, done); });
    ASSERT_EQ(valid->responseCode(), 200) << said(valid);
    EXPECT_EQ(peer_.logOfKind(17)[0]["params"]["platforms"], Value("qzone,qq"));
    EXPECT_EQ((*valid->data())["qzone"], Value(true));

    peer_.control("POST", "/__emu/state",
                  "{\"accounts\": {\"" + uid +
                      "\": {\"douban\": {\"usid\": \"douban-usid\", \"username\": \"db\"}}}}");
    storeAccount("douban", "douban-usid");
    auto binding = await([&](auto done) { users.requestBindingSNSWithTye("douban", done); });
    ASSERT_TRUE(binding);
    ASSERT_EQ(binding->responseCode(), 200) << said(binding);
    EXPECT_EQ(peer_.logOfKind(6)[0]["params"]["sns"], Value("douban"));
    EXPECT_EQ(peer_.logOfKind(6)[0]["params"]["opid"], Value("13"));
    // Binding refreshes the accounts: the Douban one is now the login account too.
    ASSERT_TRUE(pumpUntil([&] { return idle(RZSDataManager::currentDataManager()); }));
    ASSERT_TRUE(users.snsAccountDictionary().count("loginAccount"));
    EXPECT_EQ(users.snsAccountDictionary().at("loginAccount")->usid(), "douban-usid");
    EXPECT_EQ(users.snsAccountDictionary().at("douban")->userName(), "db");

    auto info = await([&](auto done) { users.requestSnsInformation("douban", done); });
    ASSERT_EQ(info->responseCode(), 200) << said(info);
    EXPECT_EQ(peer_.logOfKind(11)[0]["path"], Value("/share/userinfo/" + kAk + "/douban-usid/"));
    EXPECT_EQ(peer_.logOfKind(11)[0]["params"]["sns"], Value("douban"));

    auto friends = await([&](auto done) { users.requestGetFriends("douban", done); });
    ASSERT_EQ(friends->responseCode(), 200) << said(friends);
    EXPECT_EQ(peer_.logOfKind(12)[0]["params"]["to"], Value("douban"));
    auto list = users.friendsDictionaryWithSnsName("douban");
    ASSERT_TRUE(list);
    EXPECT_EQ(list->size(), (*friends->data()).size());

    auto follow = await([&](auto done) { users.requestAddFollow("douban", {"1", "2"}, done); });
    ASSERT_EQ(follow->responseCode(), 200) << said(follow);
    EXPECT_EQ(peer_.logOfKind(13)[0]["params"]["fusid"], Value("1,2"));
    EXPECT_EQ(peer_.logOfKind(13)[0]["path"], Value("/share/follow/" + kAk + "/douban-usid/"));

    auto custom = std::make_shared<RAZududeCustomAccount>("custom-user");
    custom->setGender("female");
    custom->setCustomData(Map{{"level", 3}});
    auto posted =
        await([&](auto done) { RAZududeAccountManager::postCustomAccount(custom, done); });
    ASSERT_EQ(posted->responseCode(), 200) << said(posted);
    EXPECT_EQ(peer_.logOfKind(14)[0]["path"],
              Value("//user/custom_account/" + kAk + "/" + uid + "/"));
    EXPECT_EQ(peer_.logOfKind(14)[0]["params"]["gender"], Value("0"));
    EXPECT_EQ(peer_.logOfKind(14)[0]["params"]["extend"], Value("{\"level\":3}"));

    auto unbinding = await([&](auto done) { users.requestUnBindingSNS(done); });
    ASSERT_EQ(unbinding->responseCode(), 200) << said(unbinding);
    EXPECT_EQ(peer_.logOfKind(7)[0]["params"]["opid"], Value("16"));

    // Un-authorising answers at once and forgets the account before the server hears of it.
    auto unOauth = await([&](auto done) { users.requestUnOauthToPlatform("tencent", done); });
    EXPECT_EQ(unOauth->responseType(), 8);
    ASSERT_TRUE(pumpUntil([&] { return peer_.logOfKind(8).size() == 1; }));
    EXPECT_EQ(peer_.logOfKind(8)[0]["params"]["via"], Value("tencent"));
}

TEST_F(RequestKindsTest, AppInformationUsageCountsAndTrackingLinks) {
    auto manager = managerFor("loopback-service");
    // The app information of SetUp went out as a GET with the cocos flag after the query.
    peer_.control("POST", "/__emu/log/clear");
    auto info = await([](auto done) { RZSUserManager::shareInstance().requestAppInfo(done); });
    ASSERT_EQ(info->responseCode(), 200) << said(info);
    auto gets = peer_.logOfKind(16);
    ASSERT_EQ(gets.size(), 1u);
    EXPECT_EQ(gets[0]["path"], Value("//share/keysecret/" + kAk + "/"));
    EXPECT_EQ(keysOf(gets[0]["raw_query_order"]).back(), "use_coco2dx");

    auto post = await([](auto done) {
        RAZududeAccountManager::postAppInfo(Map{{"sina", Map{{"key", "k"}}}}, done);
    });
    ASSERT_EQ(post->responseCode(), 200) << said(post);
    std::string reversed(kAk.rbegin(), kAk.rend());
    EXPECT_EQ(peer_.logOfKind(19)[0]["params"]["zizoz_secret"], Value(reversed));

    auto counts = await([&](auto done) {
        manager->postOpAnalyticsWithDictionary(Map{{"3-14", "2"}}, done);
    });
    ASSERT_EQ(counts->responseCode(), 200) << said(counts);
    auto ops = peer_.logOfKind(18);
    EXPECT_EQ(ops[0]["path"], Value("//app/oper/" + kAk + "/"));
    EXPECT_EQ(ops[0]["params"]["param"], Value("{\"3-14\":\"2\"}"));
    EXPECT_EQ(keysOf(ops[0]["raw_query_order"]), (std::vector<std::string>{"param"}));

    auto link = await([&](auto done) {
        manager->getInverseFlowsWithPlatForm("sina", "http://example.invalid/a?b=1", done);
    });
    ASSERT_EQ(link->responseCode(), 200) << said(link);
    auto links = peer_.logOfKind(20);
    EXPECT_EQ(links[0]["params"]["to"], Value("sina"));
    EXPECT_EQ(links[0]["params"]["url"], Value("http://example.invalid/a?b=1"));
    EXPECT_EQ(links[0]["params"]["ak"], Value(kAk));
    EXPECT_TRUE((*link->data())["new"].string());
}

TEST_F(RequestKindsTest, UsageCountsStayUntilTheShareServiceTookThem) {
    auto& analytics = RAZududeOpAnalytics::shareInstance();
    auto manager = RZSDataManager::currentDataManager();
    // Counts until a batch is on its way; what earlier calls counted goes with it.
    auto countUntilSent = [&](const char* code) {
        int posted = 0;
        while (idle(manager) && posted < RAZududeOpAnalytics::kBatchSize) {
            RAZududeOpAnalytics::postSocialAnalytics(code);
            ++posted;
        }
        return posted;
    };
    const int before = analytics.count();
    peer_.failNext(18, "http500");
    const int refused = countUntilSent("2");
    ASSERT_FALSE(idle(manager));
    ASSERT_TRUE(pumpUntil([&] { return idle(manager); }));
    ASSERT_EQ(peer_.logOfKind(18).size(), 1u);
    EXPECT_EQ(analytics.opDictionary()["2"], Value(std::to_string(refused)));
    EXPECT_EQ(analytics.count(), before + refused);

    const int taken = countUntilSent("1");
    EXPECT_EQ(taken, RAZududeOpAnalytics::kBatchSize);
    ASSERT_TRUE(pumpUntil([&] { return analytics.count() == 0; }));
    auto batches = peer_.logOfKind(18);
    ASSERT_EQ(batches.size(), 2u);
    const std::string sent = batches[1]["params"]["param"].stringValue();
    EXPECT_NE(sent.find("\"2\":\"" + std::to_string(refused) + "\""), std::string::npos) << sent;
    EXPECT_NE(sent.find("\"1\":\"6\""), std::string::npos) << sent;
    EXPECT_TRUE(analytics.opDictionary().empty());
}

}  // namespace
}  // namespace share_service_test
