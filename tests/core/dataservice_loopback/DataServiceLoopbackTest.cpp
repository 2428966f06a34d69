// The share road through the data service against the share-service emulator
// (tests/peers/share_service.py): a direct share reaches kind 5 with its content, a web page is
// first turned into its tracking link (kind 20), a failed link still shares the page itself, and
// a refusal becomes the toast of its "st". Every request is read back from the emulator's log.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "SocialSDK/core/account/RAZududeAccountManager.h"
#include "SocialSDK/core/config/RAZududeConfig.h"
#include "SocialSDK/core/data/RAZududeData.h"
#include "SocialSDK/core/manager/RAZududeDataService.h"
#include "SocialSDK/core/manager/RZSDataManager.h"
#include "SocialSDK/core/manager/RZSUserManager.h"
#include "SocialSDK/core/screen/RAZududeScreenHooks.h"
#include "platform/MainLoop.h"
#include "tests/support/ShareServiceEmulator.h"

namespace {

constexpr const char* kAppKey = "5f1e2d3c4b5a69788796a5b4";
constexpr double kWait = 20;

using Emulator = testing_support::ShareServiceEmulator;

bool pumpUntil(const std::function<bool()>& done) {
    return platform::MainLoop::main().runUntil(done, kWait);
}

class DataServiceLoopbackTest : public ::testing::Test {
  protected:
    void SetUp() override {
        emulator_ = &Emulator::shared(kAppKey);
        platform::MainLoop::main().setManualClock(false);
        previousToast_ =
            RAZududeScreenHooks::setToastMaker([this](const std::string& text, std::int64_t) {
                toasts_.push_back(text);
                return std::function<void()>();
            });
        RAZududeData::setAppKey(kAppKey);
        ASSERT_TRUE(
            pumpUntil([] { return RZSDataManager::currentDataManager()->actionArray().empty(); }));
        // The user holds a token for the platforms shared to.
        for (const char* name : {"tencent", "renren"}) {
            auto account = std::make_shared<RAZududeAccountEntity>(name);
            account->setUsid(std::string("usid-") + name);
            account->setAccessToken(std::string("token-") + name);
            RAZududeAccountManager::setSnsAccount(account);
        }
        emulator_->mark();
    }

    void TearDown() override {
        // What the last share asked for (its bar) is over before the next test begins.
        EXPECT_TRUE(
            pumpUntil([] { return RZSDataManager::currentDataManager()->actionArray().empty(); }));
        RAZududeScreenHooks::setToastMaker(std::move(previousToast_));
    }

    // A direct share as the icon sheet makes it; the responses the caller heard.
    RAZududeResponsePtr share(const std::string& platformName,
                              std::shared_ptr<RAZududeUrlResource> resource = nullptr) {
        RAZududeResponsePtr heard;
        RAZududeSnsPostContent post;
        post.snsType = platformName;
        post.content = "shared over loopback";
        post.urlResource = std::move(resource);
        post.completion = [&](const RAZududeResponsePtr& r) { heard = r; };
        RAZududeDataService::defaultDataService()->postSnsWithDictionary(std::move(post));
        EXPECT_TRUE(pumpUntil([&] { return heard != nullptr; }));
        return heard;
    }

    Emulator* emulator_ = nullptr;
    std::vector<std::string> toasts_;
    RAZududeScreenHooks::ToastMaker previousToast_;
    // A test that asks for tracking links leaves the switch as it found it.
    RAZududeConfig::ScopedStateForTesting config_;
};

TEST_F(DataServiceLoopbackTest, ADirectShareReachesTheShareServiceAndToastsItsSuccess) {
    auto heard = share("tencent");
    ASSERT_TRUE(heard);
    EXPECT_EQ(heard->responseCode(), 200) << heard->description();
    auto shares = emulator_->requestsOfKind(5);
    ASSERT_EQ(shares.size(), 1u);
    EXPECT_EQ(shares[0]["params"]["ct"].stringValue(), "shared over loopback");
    EXPECT_NE(shares[0]["params"]["sns"].stringValue().find("usid-tencent"), std::string::npos);
    // The bar is asked for again before the success is shown.
    ASSERT_TRUE(pumpUntil([&] { return !toasts_.empty(); }));
    EXPECT_EQ(toasts_, std::vector<std::string>{"发送成功"});
    EXPECT_FALSE(emulator_->requestsOfKind(3).empty());
}

TEST_F(DataServiceLoopbackTest, AWebPageIsSharedAsItsTrackingLinkAndTheCallersResourceStays) {
    RAZududeConfig::shareInstance().setIsGetInverseFlowUrl(true);
    auto page = RAZududeUrlResource::initWithSnsResourceType(kRAZududeUrlResourceTypeWeb,
                                                             "https://example.org/article");
    auto heard = share("renren", page);
    ASSERT_TRUE(heard);
    EXPECT_EQ(heard->responseCode(), 200) << heard->description();
    auto links = emulator_->requestsOfKind(20);
    ASSERT_EQ(links.size(), 1u);
    auto shares = emulator_->requestsOfKind(5);
    ASSERT_EQ(shares.size(), 1u);
    const std::string furl = shares[0]["params"]["furl"].stringValue();
    EXPECT_NE(furl.find("/l/"), std::string::npos) << furl;
    EXPECT_EQ(page->url(), "https://example.org/article");

    // The link request fails: the page itself is shared, and the caller hears the result.
    emulator_->failNext(20, "http500");
    heard = share("renren", page);
    ASSERT_TRUE(heard);
    EXPECT_EQ(heard->responseCode(), 200) << heard->description();
    shares = emulator_->requestsOfKind(5);
    ASSERT_EQ(shares.size(), 2u);
    EXPECT_EQ(shares[1]["params"]["furl"].stringValue(), "https://example.org/article");
}

TEST_F(DataServiceLoopbackTest, ARefusalBecomesTheToastOfItsStatus) {
    emulator_->failNext(5, "st", "\"platform_st\": {\"tencent\": 5016}");
    auto heard = share("tencent");
    ASSERT_TRUE(heard);
    EXPECT_EQ(heard->responseCode(), 510);
    EXPECT_EQ(toasts_, std::vector<std::string>{"由于文字重复，分享失败"});

    // An expired authorisation forgets the account.
    emulator_->failNext(5, "st", "\"platform_st\": {\"tencent\": 5027}");
    toasts_.clear();
    share("tencent");
    EXPECT_EQ(toasts_, std::vector<std::string>{"由于授权过期，分享失败"});
    EXPECT_FALSE(RAZududeAccountManager::isOauthWithPlatform("tencent"));
}

}  // namespace
