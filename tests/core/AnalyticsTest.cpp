// Usage counts: their keys, their batches, and what stays on the device until the share
// service has taken it.
#include <gtest/gtest.h>

#include "SocialSDK/core/account/RAZududeAccountManager.h"
#include "SocialSDK/core/analytics/RAZududeOpAnalytics.h"
#include "SocialSDK/core/config/RAZududeConfig.h"
#include "platform/MainLoop.h"
#include "platform/UserDefaults.h"
#include "tests/core/SocialTest.h"

namespace {

using platform::Map;
using platform::Value;
using social_test::RequestPeer;

class AnalyticsTest : public testing::Test {
  protected:
    AnalyticsTest() {
        social_test::setUpHandlers();
        drainCounts();
    }

    // Lets the share service take whatever earlier tests counted, so that a test starts from
    // an empty record.
    static void drainCounts() {
        RequestPeer accepting([](const RZSRequest&) { return social_test::response(200); });
        auto& analytics = RAZududeOpAnalytics::shareInstance();
        for (int i = 0; i < 3 * RAZududeOpAnalytics::kBatchSize && analytics.count() != 0; ++i) {
            RAZududeOpAnalytics::postSocialAnalytics("drain");
        }
        platform::MainLoop::main().runOnce();
        ASSERT_EQ(analytics.count(), 0);
        ASSERT_TRUE(analytics.opDictionary().empty());
    }

    static Map stored() {
        return platform::UserDefaults::standardUserDefaults()
            .dictionaryForKey(RAZududeOpAnalytics::kDictionaryDefaultsKey)
            .value_or(Map{});
    }
    static std::int64_t storedCount() {
        return platform::UserDefaults::standardUserDefaults().integerForKey(
            RAZududeOpAnalytics::kCountDefaultsKey);
    }
};

TEST_F(AnalyticsTest, KeysCarryTheSourceAndThePlatformType) {
    RequestPeer holding;  // no batch answered
    RAZududeOpAnalytics::postSocialAnalyticsFromSourceOpType("3", std::nullopt, "wxsession");
    RAZududeOpAnalytics::postSocialAnalyticsFromSourceOpType("9", "7", "tencent");
    RAZududeOpAnalytics::postSocialAnalyticsWithSnsName("4", "not-a-platform");
    RAZududeOpAnalytics::postSocialAnalytics("2");
    RAZududeOpAnalytics::postSocialAnalytics("2");
    const Map& counts = RAZududeOpAnalytics::shareInstance().opDictionary();
    EXPECT_EQ(counts, (Map{{"3-14", "1"}, {"7+9-11", "1"}, {"4-0", "1"}, {"2", "2"}}));
    EXPECT_EQ(stored(), counts);
    EXPECT_EQ(storedCount(), 5);
    EXPECT_TRUE(holding.requests.empty());
}

TEST_F(AnalyticsTest, SixCallsSendOneBatchAndWhatWasTakenLeavesTheDevice) {
    RequestPeer accepting([](const RZSRequest&) { return social_test::response(200); });
    for (int i = 0; i < 5; ++i) {
        RAZududeOpAnalytics::postSocialAnalytics(i % 2 ? "29" : "30");
    }
    EXPECT_TRUE(accepting.requests.empty());
    RAZududeOpAnalytics::postSocialAnalyticsFromSourceOpType("3", "4", "sms");
    ASSERT_EQ(accepting.requests.size(), 1u);
    EXPECT_EQ(accepting.requests[0].kind, kRZSRequestOpAnalytics);
    EXPECT_EQ(accepting.requests[0].parameters.values["opDic"],
              Value(Map{{"30", "3"}, {"29", "2"}, {"4+3-18", "1"}}));
    EXPECT_TRUE(RAZududeOpAnalytics::shareInstance().opDictionary().empty());
    EXPECT_EQ(RAZududeOpAnalytics::shareInstance().count(), 0);
    EXPECT_EQ(stored(), Map{});
    EXPECT_EQ(storedCount(), 0);
}

TEST_F(AnalyticsTest, ABatchTheShareServiceDidNotTakeStaysAndGoesAgainLater) {
    {
        RequestPeer refusing([](const RZSRequest&) { return social_test::response(5050); });
        for (int i = 0; i < 6; ++i) {
            RAZududeOpAnalytics::postSocialAnalytics("33");
        }
        ASSERT_EQ(refusing.requests.size(), 1u);
        EXPECT_EQ(RAZududeOpAnalytics::shareInstance().opDictionary(), (Map{{"33", "6"}}));
        EXPECT_EQ(storedCount(), 6);
        // The next try waits for a full batch more.
        for (int i = 0; i < 5; ++i) {
            RAZududeOpAnalytics::postSocialAnalytics("34");
        }
        EXPECT_EQ(refusing.requests.size(), 1u);
    }
    // Without an AppKey nothing is sent: the failure comes on the main loop.
    RAZududeOpAnalytics::postSocialAnalytics("35");
    EXPECT_EQ(RAZududeOpAnalytics::shareInstance().count(), 12);
    platform::MainLoop::main().runOnce();
    EXPECT_EQ(RAZududeOpAnalytics::shareInstance().opDictionary(),
              (Map{{"33", "6"}, {"34", "5"}, {"35", "1"}}));

    // Counts made while a batch travels survive its success.
    RequestPeer deferred;
    for (int i = 0; i < 6; ++i) {
        RAZududeOpAnalytics::postSocialAnalytics("36");
    }
    ASSERT_EQ(deferred.requests.size(), 1u);
    RAZududeOpAnalytics::postSocialAnalytics("36");
    RAZududeOpAnalytics::postSocialAnalytics("37");
    deferred.requests[0].parameters.completion(social_test::response(200));
    EXPECT_EQ(RAZududeOpAnalytics::shareInstance().opDictionary(), (Map{{"36", "1"}, {"37", "1"}}));
    EXPECT_EQ(RAZududeOpAnalytics::shareInstance().count(), 2);
    EXPECT_EQ(storedCount(), 2);
}

TEST_F(AnalyticsTest, ConfigurationCallsAndAccountUploadsAreCounted) {
    RequestPeer holding;
    RAZududeConfig::setDefaultColor(platform::Color::white());
    RAZududeConfig::setShouldCommentWithShare(true);
    RAZududeConfig::setSupportTencentSSO(false, "TencentClass");
    auto account = std::make_shared<RAZududeAccountEntity>("douban");
    RAZududeAccountManager::postSnsAccountInternal(account, {}, "7");
    const Map& counts = RAZududeOpAnalytics::shareInstance().opDictionary();
    EXPECT_EQ(counts["33"], Value("1"));
    EXPECT_EQ(counts["36"], Value("1"));
    EXPECT_EQ(counts["42"], Value("1"));
    EXPECT_EQ(counts["7+28-13"], Value("1"));

    // Each public setter counts under its own code; the values set are the ones in force.
    auto& internal = RAZududeConfigInternal::shareInstance();
    RAZududeConfig::setSnsPlatformNames(internal.snsPlatformNames());
    RAZududeConfig::setSupportedInterfaceOrientations(internal.socialInterfaceOrientations());
    auto followed = internal.followSnsUids();
    RAZududeConfig::setFollowWeiboUids(followed.value_or(Map{}));
    internal.setFollowSnsUids(followed);
    RAZududeConfig::addSocialSnsPlatform({});
    RAZududeConfig::setBoundsSizeForiPad(internal.boundsForiPad().size);
    RAZududeConfig::setShouldShareSynchronous(internal.shouldShareSynchronous());
    RAZududeConfig::setShouldCommentWithLocation(internal.shouldCommentWithLocation());
    for (const char* code : {"29", "30", "31", "32", "34", "35", "37"}) {
        EXPECT_EQ(counts[code], Value("1")) << code;
    }
    ASSERT_EQ(holding.ofKind(kRZSRequestAddSnsAccount).size(), 1u);
}

}  // namespace
