// A tap on a platform that logs in through the share service, against the share-service
// emulator (tests/peers/share_service.py): the OAuth page loads the emulator's login page (its
// heading read back from the page's picture), a tap on its link leads to the redirect to the
// platform's callback, the token is stored, the account fetched, and the editor follows.
#include <gtest/gtest.h>

#include "SocialSDK/core/account/RAZududeAccountManager.h"
#include "SocialSDK/core/data/RAZududeData.h"
#include "SocialSDK/core/manager/RZSDataManager.h"
#include "SocialSDK/core/manager/RZSUserManager.h"
#include "SocialSDK/core/platform/RAZududeSnsPlatformManager.h"
#include "SocialSDK/ui/controller/RAZududeControllerService.h"
#include "SocialSDK/ui/helper/RZMaskView.h"
#include "SocialSDK/ui/oauth/RZSOauthViewController.h"
#include "platform/MainLoop.h"
#include "platform/ui/Alert.h"
#include "platform/ui/NavigationController.h"
#include "tests/core/SocialTest.h"
#include "tests/support/ShareServiceEmulator.h"
#include "tests/ui/Pictures.h"

namespace {

constexpr const char* kAppKey = "6a0b1c2d3e4f5a6b7c8d9e0f";
constexpr double kWait = 20;

bool pumpUntil(const std::function<bool()>& done) {
    return platform::MainLoop::main().runUntil(done, kWait);
}

// The emulator comes first: the SDK reads its base URL once, when the share state that the
// social fixture sets up is first made.
class EmulatorFirst {
  protected:
    EmulatorFirst() : emulator_(testing_support::ShareServiceEmulator::shared(kAppKey)) {}
    testing_support::ShareServiceEmulator& emulator_;
};

class OauthLoopbackTest : protected EmulatorFirst, public social_test::SocialTest {
  protected:
    OauthLoopbackTest() {
        platform::MainLoop::main().setManualClock(false);
        RAZududeData::setAppKey(kAppKey);
        EXPECT_TRUE(
            pumpUntil([] { return RZSDataManager::currentDataManager()->actionArray().empty(); }));
        emulator_.mark();
        showAppScreen();
        service_->setSocialUIDelegate(delegate_);
    }
    void TearDown() override {
        EXPECT_TRUE(
            pumpUntil([] { return RZSDataManager::currentDataManager()->actionArray().empty(); }));
        platform::MainLoop::main().setManualClock(true);
        social_test::SocialTest::TearDown();
    }

    // Taps the platform as the icon sheet does, and waits for its login page.
    std::shared_ptr<RZSOauthViewController> tapAndWaitForThePage(const std::string& name) {
        auto platform = RAZududeSnsPlatformManager::getSocialPlatformWithName(name);
        platform->snsClickHandler()(screen_, service_, true);
        auto page =
            std::dynamic_pointer_cast<RZSOauthViewController>(service_->currentViewController());
        EXPECT_TRUE(page);
        if (!page) {
            return nullptr;
        }
        EXPECT_TRUE(pumpUntil([&] {
            // The mask fades out before a tap reaches the page under it.
            return page->webView()->title() == "Sign in" && page->maskView()->isHidden();
        }));
        window_->update();
        return page;
    }

    std::shared_ptr<RAZududeControllerService> service_ =
        std::make_shared<RAZududeControllerService>();
};

TEST_F(OauthLoopbackTest, TheLoginPageLeadsToTheTokenTheAccountAndTheEditor) {
    social_test::ScreenMaker editor(kRAZududeViewControllerShareEdit);
    emulator_.control("/__emu/oauth", "{\"page\": true, \"expires_in\": 7200}");
    auto page = tapAndWaitForThePage("tencent");
    ASSERT_TRUE(page);

    // The page's heading is drawn: dark pixels in the page's first lines, on white.
    auto png = ui_test::windowPicture(*window_, "oauth-login-page.png");
    ASSERT_TRUE(png);
    auto& web = *page->webView();
    platform::Rect heading = web.convertRectTo({0, 0, web.bounds().width(), 40}, nullptr);
    auto dark = [](platform::Color c) { return c.r < 0.3 && c.g < 0.3 && c.b < 0.3; };
    EXPECT_GT(ui_test::countIn(*png, heading, dark), 100);
    platform::Rect below = web.convertRectTo({0, 200, web.bounds().width(), 40}, nullptr);
    EXPECT_EQ(ui_test::countIn(*png, below, dark), 0);

    // The user authorises: the link's redirect is the callback, which is not loaded.
    window_->tap(web.convertPointTo({100, 110}, nullptr));
    ASSERT_TRUE(pumpUntil([&] { return !editor.made.empty(); }));
    EXPECT_TRUE(page->haveOauth());
    EXPECT_EQ(emulator_.requestsOfKind(10).size(), 1u);
    EXPECT_TRUE(RAZududeAccountManager::isOauthAndTokenNotExpired("tencent"));
    auto account = RZSUserManager::shareInstance().snsAccountDictionary().at("tencent");
    ASSERT_TRUE(account->accessToken());
    EXPECT_EQ(account->accessToken()->find('\0'), std::string::npos);
    EXPECT_EQ(account->accessToken()->rfind("tok", 0), 0u) << *account->accessToken();
    ASSERT_TRUE(account->expirationDate());
    const double left = account->expirationDate()->timeIntervalSince1970() -
                        platform::Date::now().timeIntervalSince1970();
    EXPECT_GT(left, 7000);
    EXPECT_LE(left, 7200);

    // The editor is pushed on the page's container; the app heard of the selection only.
    auto* navigation = page->navigationController();
    ASSERT_TRUE(navigation);
    EXPECT_EQ(navigation->topViewController(), editor.made[0].get());
    EXPECT_EQ(delegate_->events, (std::vector<std::string>{"select tencent", "closeOauth"}));
}

TEST_F(OauthLoopbackTest, ACallbackWithoutAUidLeavesTheStoredTokenAndThePageOpen) {
    social_test::authorise("douban");
    RZSUserManager::shareInstance().snsAccountDictionary().at("douban")->setExpirationDate(
        platform::Date(1));  // expired: the tap logs in again
    emulator_.control("/__emu/oauth", "{\"page\": true, \"no_uid\": true}");
    auto page = tapAndWaitForThePage("douban");
    ASSERT_TRUE(page);
    auto& web = *page->webView();
    window_->tap(web.convertPointTo({100, 110}, nullptr));
    ASSERT_TRUE(pumpUntil([&] { return web.title() != "Sign in" && !web.isLoading(); }));
    EXPECT_FALSE(page->haveOauth());
    EXPECT_EQ(RZSUserManager::shareInstance().snsAccountDictionary().at("douban")->accessToken(),
              "token-douban");
    EXPECT_TRUE(emulator_.requestsOfKind(10).empty());
    EXPECT_TRUE(navigation_->presentedViewController());
}

}  // namespace
