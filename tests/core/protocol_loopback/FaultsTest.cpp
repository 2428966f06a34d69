// Replies and peers that go wrong: every bad reply ends as a response with a failure code and a
// readable message, stores nothing, and lets the queue of its own data manager go on; the
// account request stops asking for a uid that never comes; cancel stops the request on the
// wire; files holding tokens are the owner's alone.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <iterator>

#include "SocialSDK/core/account/RAZududeAccountManager.h"
#include "platform/AppFolders.h"
#include "platform/Url.h"
#include "tests/core/protocol_loopback/ProtocolLoopbackTest.h"

namespace share_service_test {
namespace {

using platform::Value;

class FaultsTest : public ProtocolLoopbackTest {
  protected:
    // A record with its bar, the uid and one account stored.
    std::shared_ptr<RZSDataManager> storedRecord(const std::string& identifier) {
        auto manager = managerFor(identifier);
        auto bar = await([&](auto done) { manager->requestBarInfo(done); });
        EXPECT_EQ(bar ? bar->responseCode() : 0, 200) << said(bar);
        auto account = std::make_shared<RAZududeAccountEntity>("sina");
        account->setUsid("kept-usid");
        account->setAccessToken("kept-token");
        RAZududeAccountManager::setSnsAccount(account);
        key_ = manager->barEntity()->entityKey();
        uid_ = RZSUserManager::shareInstance().uid();
        peer_.control("POST", "/__emu/log/clear");
        return manager;
    }
    void expectNothingLost(const std::shared_ptr<RZSDataManager>& manager) {
        EXPECT_EQ(manager->barEntity()->entityKey(), key_);
        EXPECT_EQ(RZSUserManager::shareInstance().uid(), uid_);
        const auto& accounts = RZSUserManager::shareInstance().snsAccountDictionary();
        ASSERT_TRUE(accounts.count("sina"));
        EXPECT_EQ(accounts.at("sina")->accessToken(), "kept-token");
    }

    std::optional<std::string> key_;
    std::optional<std::string> uid_;
};

// ---- every kind of bad reply -------------------------------------------------------------

struct Fault {
    const char* mode;
    const char* extra;
    int code;  // the response code that must come back
    // A connection reset before any response is tried once more by the network layer, so
    // that one must happen twice.
    int times = 1;
};

void PrintTo(const Fault& fault, std::ostream* out) {
    *out << fault.mode;
}

class BadReplyTest : public FaultsTest, public ::testing::WithParamInterface<Fault> {};

TEST_P(BadReplyTest, EndsAsAFailureStoresNothingAndTheQueueGoesOn) {
    const Fault fault = GetParam();
    auto manager = storedRecord("loopback-fault");
    for (int kind : {3, 10}) {
        for (int i = 0; i < fault.times; ++i) {
            peer_.failNext(kind, fault.mode, fault.extra);
        }
    }
    RAZududeResponsePtr bar;
    RAZududeResponsePtr accounts;
    RAZududeResponsePtr after;
    manager->requestBarInfo([&](const RAZududeResponsePtr& r) { bar = r; });
    RZSUserManager::shareInstance().requestSnsAccount(
        [&](const RAZududeResponsePtr& r) { accounts = r; });
    // A kind of its own, which no failure left queued for the first two can reach.
    manager->requestCommentList(-1, [&](const RAZududeResponsePtr& r) { after = r; });
    ASSERT_TRUE(pumpUntil([&] { return bar && accounts && after; }));

    for (const auto& failed : {bar, accounts}) {
        EXPECT_EQ(failed->responseCode(), fault.code) << said(failed);
        ASSERT_TRUE(failed->message());
        EXPECT_FALSE(failed->message()->empty());
    }
    EXPECT_EQ(bar->responseType(), 3);
    EXPECT_EQ(accounts->responseType(), 10);
    if (fault.code == 5050) {
        EXPECT_TRUE(bar->error());
    }
    expectNothingLost(manager);
    EXPECT_EQ(after->responseCode(), 200) << said(after);
    EXPECT_TRUE(idle(manager));
}

INSTANTIATE_TEST_SUITE_P(Modes, BadReplyTest,
                         ::testing::Values(Fault{"http500", "", 5050}, Fault{"garbled", "", 5050},
                                           Fault{"array", "", 5050}, Fault{"empty", "", 5050},
                                           Fault{"missing_st", "", 5050}, Fault{"huge", "", 5050},
                                           Fault{"reset", "", 5050, 2},
                                           Fault{"st", "\"st\": 5003", 5003}),
                         [](const auto& param) { return std::string(param.param.mode); });

// ---- the uid that never comes --------------------------------------------------------------

TEST_F(FaultsTest, ABarReplyWithoutUidIsAskedOnceMoreAndThenTheAccountRequestFails) {
    for (int i = 0; i < 2; ++i) {
        peer_.failNext(3, "st", "\"st\": 200");
    }
    auto manager = managerFor("loopback-no-uid");
    auto accounts =
        await([](auto done) { RZSUserManager::shareInstance().requestSnsAccount(done); });
    ASSERT_TRUE(accounts);
    EXPECT_EQ(accounts->responseCode(), kRAZududeResponseAccountFailed);
    EXPECT_EQ(accounts->responseType(), 10);
    EXPECT_NE(accounts->message()->find("user id"), std::string::npos);
    EXPECT_EQ(peer_.logOfKind(3).size(), 2u);
    EXPECT_TRUE(peer_.logOfKind(10).empty());
    EXPECT_FALSE(RZSUserManager::shareInstance().uid());

    // A bar request that fails ends the account request with that failure.
    peer_.failNext(3, "http500");
    auto failed = await([](auto done) { RZSUserManager::shareInstance().requestSnsAccount(done); });
    ASSERT_TRUE(failed);
    EXPECT_EQ(failed->responseCode(), 5050);
    EXPECT_EQ(failed->responseType(), 3);

    // A new record asks for its bar and then, without accounts, for them: it stops too.
    peer_.control("POST", "/__emu/log/clear");
    for (int i = 0; i < 3; ++i) {
        peer_.failNext(3, "st", "\"st\": 200");
    }
    RAZududeData record("loopback-no-uid-record");
    ASSERT_TRUE(pumpUntil([&] { return peer_.logOfKind(3).size() >= 3; }));
    pumpFor(0.5);
    EXPECT_EQ(peer_.logOfKind(3).size(), 3u);
    EXPECT_TRUE(peer_.logOfKind(10).empty());
    EXPECT_TRUE(idle(RZSDataManager::currentDataManager()));
}

// ---- queues and cancel -----------------------------------------------------------------

TEST_F(FaultsTest, AFailureMovesTheQueueOfItsOwnDataManager) {
    auto own = managerFor("loopback-own");
    peer_.failNext(3, "http500");
    RAZududeResponsePtr first;
    RAZududeResponsePtr second;
    own->requestBarInfo([&](const RAZududeResponsePtr& r) { first = r; });
    own->requestBarInfo([&](const RAZududeResponsePtr& r) { second = r; });
    // Another record becomes current and queues its own request meanwhile (of another kind,
    // which the failure cannot reach).
    auto other = managerFor("loopback-other");
    RAZududeResponsePtr others;
    other->postOpAnalyticsWithDictionary(platform::Map{{"1", "1"}},
                                         [&](const RAZududeResponsePtr& r) { others = r; });
    ASSERT_TRUE(pumpUntil([&] { return first && second && others; }));
    EXPECT_EQ(first->responseCode(), 5050);
    EXPECT_EQ(second->responseCode(), 200) << said(second);
    EXPECT_EQ(others->responseCode(), 200) << said(others);
    EXPECT_EQ(own->responseEntity(), second);
    EXPECT_TRUE(idle(own));
    EXPECT_TRUE(idle(other));
    EXPECT_TRUE(own->barEntity()->entityKey());
    EXPECT_EQ(other->responseEntity(), others);
}

TEST_F(FaultsTest, CancelStopsTheRequestOnTheWire) {
    auto manager = managerFor("loopback-cancel");
    peer_.failNext(3, "slow", "\"seconds\": 2");
    bool cancelledAnswered = false;
    manager->requestBarInfo([&](const RAZududeResponsePtr&) { cancelledAnswered = true; });
    pumpFor(0.3);
    manager->cancelAllRequestInQueue();
    EXPECT_TRUE(idle(manager));
    auto next = await([&](auto done) { manager->requestBarInfo(done); });
    ASSERT_TRUE(next);
    EXPECT_EQ(next->responseCode(), 200) << said(next);
    pumpFor(2.5);
    EXPECT_FALSE(cancelledAnswered);
    EXPECT_EQ(manager->responseEntity(), next);
}

// ---- local failures --------------------------------------------------------------------

TEST_F(FaultsTest, ARequestThatCannotBeSentFailsOnTheMainLoopAndTheQueueGoesOn) {
    auto manager = managerFor("loopback-local");
    RAZududeResponsePtr unknown;
    RAZududeResponsePtr after;
    bool returned = false;
    manager->doActionWithType(9, [&] {
        RZSJobParameters params;
        params.completion = [&](const RAZududeResponsePtr& r) {
            EXPECT_TRUE(returned);  // never from within the call
            unknown = r;
        };
        return params;
    }());
    returned = true;
    manager->requestBarInfo([&](const RAZududeResponsePtr& r) { after = r; });
    ASSERT_TRUE(pumpUntil([&] { return unknown && after; }));
    EXPECT_EQ(unknown->responseCode(), 5050);
    EXPECT_EQ(unknown->responseType(), 9);
    ASSERT_TRUE(unknown->error());
    EXPECT_EQ(unknown->error()->domain(), RAZududeJob::kErrorDomain);
    EXPECT_EQ(after->responseCode(), 200) << said(after);
    EXPECT_TRUE(peer_.logOfKind(9).empty());
}

// ---- requests that keep their shape ----------------------------------------------------

TEST_F(FaultsTest, ATitleWithQuerySeparatorsIsEscaped) {
    auto manager = managerFor("loopback title/1?x");
    const std::string title = "Tom & Jerry = #1 50%";
    manager->setTitle(title);
    auto bar = await([&](auto done) { manager->requestBarInfo(done); });
    ASSERT_EQ(bar->responseCode(), 200) << said(bar);
    const Value entry = peer_.logOfKind(3).at(0);
    const auto& order = *entry["raw_query_order"].array();
    EXPECT_EQ(order.back(), Value("name"));
    EXPECT_EQ(order[order.size() - 4], Value("dc"));
    EXPECT_EQ(platform::percentDecode(entry["params"]["name"].stringValue()), title);
    EXPECT_EQ(platform::percentDecode(entry["params"]["dc"].stringValue()), "loopback title/1?x");
}

TEST_F(FaultsTest, TokenFilesAreReadableByTheirOwnerOnly) {
    auto account = std::make_shared<RAZududeAccountEntity>("sina");
    account->setUsid("owner-usid");
    account->setAccessToken("secret-token-4711");
    RAZududeAccountManager::setSnsAccount(account);
    // The file cache writes on its own queue, through temporary files that are renamed into
    // place: a file that is gone by the time it is looked at was one of those, and the scan
    // looks again. Each mode is read in the same pass as the file.
    std::vector<std::pair<std::filesystem::path, mode_t>> holders;
    auto findHolders = [&] {
        holders.clear();
        for (const auto& item :
             std::filesystem::recursive_directory_iterator(platform::AppFolders::root())) {
            if (!item.is_regular_file()) {
                continue;
            }
            std::ifstream in(item.path(), std::ios::binary);
            std::string bytes((std::istreambuf_iterator<char>(in)), {});
            if (bytes.find("secret-token-4711") != std::string::npos) {
                struct stat info {};
                if (::stat(item.path().c_str(), &info) != 0) {
                    return false;
                }
                holders.emplace_back(item.path(), info.st_mode);
            }
        }
        return !holders.empty();
    };
    ASSERT_TRUE(pumpUntil(findHolders));
    for (const auto& [path, mode] : holders) {
        EXPECT_EQ(mode & 0077, 0u) << path;
    }
}

}  // namespace
}  // namespace share_service_test
