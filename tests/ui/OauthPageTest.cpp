// The OAuth page without a network: its parts, the callback it watches for (offered to it as the
// web view would), the token it stores, the account fetch, the next screen, closing, load
// failures. The share service's requests go to a peer; the login page itself is loaded against
// the emulator in the loopback suite.
#include <gtest/gtest.h>

#include "SocialSDK/core/account/RAZududeAccountManager.h"
#include "SocialSDK/core/config/RAZududeConfig.h"
#include "SocialSDK/core/manager/RZSUserManager.h"
#include "SocialSDK/core/platform/RAZududeSnsPlatformManager.h"
#include "SocialSDK/core/protocol/RAZududeHttpClient.h"
#include "SocialSDK/ui/controller/RAZududeControllerService.h"
#include "SocialSDK/ui/editor/RZShareEditViewController.h"
#include "SocialSDK/ui/helper/RZMaskView.h"
#include "SocialSDK/ui/oauth/RZSOauthViewController.h"
#include "platform/UserDefaults.h"
#include "platform/graphics/Image.h"
#include "platform/ui/Alert.h"
#include "platform/ui/Button.h"
#include "platform/ui/ImageView.h"
#include "platform/ui/NavigationController.h"
#include "tests/core/SocialTest.h"
#include "tests/ui/Pictures.h"

namespace {

using Events = std::vector<std::string>;
using social_test::ScreenMaker;

class OauthPageTest : public social_test::SocialTest {
  protected:
    OauthPageTest() {
        RZSUserManager::shareInstance().setUid(std::nullopt);
        showAppScreen();
        service_->setSocialUIDelegate(delegate_);
    }
    ~OauthPageTest() override {
        platform::ModalPanel::dismissAll();
        RZSUserManager::shareInstance().setUid(std::nullopt);
        RAZududeConfigInternal::shareInstance().setFollowSnsUids(std::nullopt);
    }

    // The bar request that the page waits for never answers, so the login page never loads;
    // the accounts answer what the test set.
    RAZududeResponsePtr answer(const RZSRequest& request) {
        if (request.kind == kRZSRequestSnsAccount) {
            return accounts;
        }
        if (request.kind == kRZSRequestFollow) {
            return social_test::response(200);
        }
        return nullptr;
    }

    // The page for the platform in its container, presented over the app's screen.
    std::shared_ptr<RZSOauthViewController> open(const std::string& name) {
        if (!presentOverAppScreen(service_->getSocialOauthControllerInternal(name, "4"))) {
            ADD_FAILURE() << "no screen";
            return nullptr;
        }
        // The accounts can be asked for from now on; the page itself waits on.
        RZSUserManager::shareInstance().setUid("u-test");
        return std::dynamic_pointer_cast<RZSOauthViewController>(service_->currentViewController());
    }

    // The platform's callback on the share service's host.
    static platform::UrlRequest callback(const std::string& name, const std::string& query,
                                         std::string base = "") {
        if (base.empty()) {
            base = RAZududeHttpClient::sharedInstance()->baseURL()->absoluteString();
        }
        auto platform = RAZududeSnsPlatformManager::getSocialPlatformWithName(name);
        auto url = platform::Url::parse(base.substr(0, base.size() - 1) +
                                        platform->oauthCallBackPath() + "?" + query);
        EXPECT_TRUE(url);
        return platform::UrlRequest(*url);
    }
    static bool offer(RZSOauthViewController& page, const platform::UrlRequest& request) {
        return page.webViewShouldStartLoadWithRequest(*page.webView(), request,
                                                      platform::WebNavigationType::kOther);
    }
    static std::shared_ptr<RAZududeAccountEntity> stored(const std::string& name) {
        auto& accounts = RZSUserManager::shareInstance().snsAccountDictionary();
        auto it = accounts.find(name);
        return it == accounts.end() ? nullptr : it->second;
    }
    static RAZududeResponsePtr accountsOf(const std::string& name) {
        return social_test::response(
            200, platform::Map{{"accounts", platform::Map{{name, platform::Map{{"usid", "7"}}}}}});
    }

    std::shared_ptr<RAZududeControllerService> service_ =
        std::make_shared<RAZududeControllerService>();
    social_test::RequestPeer peer_{[this](const RZSRequest& r) { return answer(r); }};
    RAZududeResponsePtr accounts;
};

TEST_F(OauthPageTest, ThePageWaitsForTheUserIdUnderItsMaskWithTheFollowBarBelow) {
    RAZududeConfigInternal::shareInstance().setFollowSnsUids(platform::Map{{"tencent", "1001"}});
    auto page = open("tencent");
    ASSERT_TRUE(page);
    EXPECT_EQ(page->title(), "授权");
    EXPECT_TRUE(page->navigationItem().leftBarButtonItem());
    EXPECT_TRUE(page->maskView()->isActivity());
    EXPECT_FALSE(peer_.ofKind(kRZSRequestBarInfo).empty());
    EXPECT_FALSE(page->webView()->isLoading());

    // 568 less the status bar, the navigation bar and the follow bar.
    EXPECT_EQ(page->webView()->frame(), platform::Rect(0, 0, 320, 464));
    auto bar = page->followView();
    ASSERT_TRUE(bar);
    EXPECT_EQ(bar->frame(), platform::Rect(0, 464, 320, 40));
    EXPECT_EQ(page->followUsid(), "1001");

    auto check = page->addFollowCheckButton();
    ASSERT_TRUE(check);
    EXPECT_EQ(check->frame(), platform::Rect(20, 6, 40, 38));
    EXPECT_TRUE(page->isAddFollow());
    ASSERT_TRUE(window_->tapView(*check));
    EXPECT_FALSE(page->isAddFollow());
    EXPECT_EQ(check->image(platform::kControlStateNormal),
              platform::Image::named("RAZududeSDKResourcesNew.bundle/Buttons/RZS_add_friend_off"));
}

// The close button at the left of the white bar reads as a button: its body is drawn in the
// bar's title colour with the text in white, not in a grey that fades into the bar.
TEST_F(OauthPageTest, TheCloseButtonStandsOutOfTheBarInItsPicture) {
    auto page = open("renren");
    ASSERT_TRUE(page);
    window_->update();
    auto item = page->navigationItem().leftBarButtonItem();
    ASSERT_TRUE(item && item->customView());
    const auto& close = *item->customView();
    auto png = ui_test::windowPicture(*window_, "oauth-close-button.png");
    ASSERT_TRUE(png);
    platform::Rect box = close.convertRectTo(close.bounds(), nullptr);
    const platform::Color slate = platform::Color::rgb255(70, 79, 97);
    int all = ui_test::countIn(*png, box, [](platform::Color) { return true; });
    int body = ui_test::countIn(*png, box,
                                [&](platform::Color c) { return ui_test::near(c, slate, 0.05); });
    int text = ui_test::countIn(*png, box.insetBy(6, 6), [](platform::Color c) {
        return c.r > 0.9 && c.g > 0.9 && c.b > 0.9;
    });
    EXPECT_GT(body, all / 2);
    EXPECT_GT(text, 20);
}

TEST_F(OauthPageTest, CallbackPairsSplitAtTheirFirstEqualsSign) {
    auto values = RZSOauthViewController::parseUrl(
        std::string("access_key=dG9rZW4==&uid=7&expires_in=3600&dangling&screen_name=a=b\0\0", 68));
    EXPECT_EQ(values["access_key"].stringValue(), "dG9rZW4==");
    EXPECT_EQ(values["uid"].stringValue(), "7");
    EXPECT_EQ(values["screen_name"].stringValue(), "a=b");
    EXPECT_FALSE(values.contains("dangling"));
    EXPECT_TRUE(RZSOauthViewController::parseUrl("").empty());
}

TEST_F(OauthPageTest, ALoginStoresTheTokenFetchesTheAccountAndPushesTheEditor) {
    ScreenMaker editor(kRAZududeViewControllerShareEdit);
    RAZududeConfigInternal::shareInstance().setFollowSnsUids(platform::Map{{"tencent", "1001"}});
    auto page = open("tencent");
    ASSERT_TRUE(page);
    service_->setNextViewController(kRAZududeViewControllerShareEdit);
    accounts = accountsOf("tencent");

    // A token that lives past 2038 keeps its date.
    EXPECT_FALSE(
        offer(*page, callback("tencent", "access_key=dG9r==&uid=7&expires_in=4000000000")));
    EXPECT_TRUE(page->haveOauth());
    auto account = stored("tencent");
    ASSERT_TRUE(account);
    EXPECT_EQ(account->accessToken(), "dG9r==");
    EXPECT_EQ(account->usid(), "7");
    ASSERT_TRUE(account->expirationDate());
    EXPECT_GT(account->expirationDate()->timeIntervalSince1970(), 4.0e9);
    EXPECT_TRUE(RAZududeAccountManager::isOauthAndTokenNotExpired("tencent"));

    // The follow request went out, and its answer is remembered.
    ASSERT_EQ(peer_.ofKind(kRZSRequestFollow).size(), 1u);
    EXPECT_TRUE(
        platform::UserDefaults::standardUserDefaults().boolForKey("RAZudude_Follow_tencent"));

    EXPECT_TRUE(editor.made.empty());
    advance(RZSOauthViewController::kNextScreenDelay);
    ASSERT_EQ(editor.made.size(), 1u);
    EXPECT_EQ(page->navigationController()->topViewController(), editor.made[0].get());
    EXPECT_TRUE(delegate_->events.empty());
}

// The page gives the bar its translucency back only when it leaves the container: the editor
// it pushes stays below an opaque bar, where its text can be seen.
TEST_F(OauthPageTest, TheEditorPushedAfterALoginLiesBelowAnOpaqueBar) {
    auto page = open("tencent");
    ASSERT_TRUE(page);
    service_->setNextViewController(kRAZududeViewControllerShareEdit);
    accounts = accountsOf("tencent");
    EXPECT_FALSE(offer(*page, callback("tencent", "access_key=k&uid=7")));
    advance(RZSOauthViewController::kNextScreenDelay + 1);
    ASSERT_TRUE(page->navigationController());
    // Held, so that the bar can be looked at after the flow let the container go.
    auto navigation = std::static_pointer_cast<platform::NavigationController>(
        page->navigationController()->shared_from_this());
    auto* editor = dynamic_cast<RZShareEditViewController*>(navigation->topViewController());
    ASSERT_TRUE(editor);
    window_->update();
    EXPECT_FALSE(navigation->navigationBar().isTranslucent());
    platform::Rect bar = navigation->navigationBar().convertRectTo(
        navigation->navigationBar().bounds(), window_.get());
    platform::Rect text =
        editor->textView()->convertRectTo(editor->textView()->bounds(), window_.get());
    EXPECT_GE(text.minY(), bar.maxY());

    // Leaving with the whole flow hands the bar back as it was.
    service_->close();
    advance(1);
    EXPECT_TRUE(navigation->navigationBar().isTranslucent());
}

TEST_F(OauthPageTest, OnlyAWholeCallbackFromTheShareServiceStoresAToken) {
    social_test::authorise("douban");
    auto page = open("douban");
    ASSERT_TRUE(page);

    // Without a uid the callback page loads, and the valid token stays.
    EXPECT_TRUE(offer(*page, callback("douban", "access_key=half&expires_in=10")));
    EXPECT_EQ(stored("douban")->accessToken(), "token-douban");
    EXPECT_FALSE(page->haveOauth());

    // The same path on another host is only a page.
    EXPECT_TRUE(
        offer(*page, callback("douban", "access_key=planted&uid=66", "http://127.0.0.2:9/")));
    EXPECT_EQ(stored("douban")->accessToken(), "token-douban");
    EXPECT_FALSE(page->haveOauth());

    // No expiry given: the token does not expire.
    accounts = accountsOf("douban");
    EXPECT_FALSE(offer(*page, callback("douban", "access_key=fresh&uid=8")));
    EXPECT_EQ(stored("douban")->accessToken(), "fresh");
    EXPECT_FALSE(stored("douban")->expirationDate());
}

TEST_F(OauthPageTest, AnAccountThatDoesNotComeIsReportedAndTheFlowCloses) {
    auto page = open("renren");
    ASSERT_TRUE(page);
    accounts = social_test::response(200, platform::Map{{"accounts", platform::Map{}}});
    EXPECT_FALSE(offer(*page, callback("renren", "access_key=k&uid=9")));
    auto alerts = platform::AlertView::visibleAlerts();
    ASSERT_EQ(alerts.size(), 1u);
    EXPECT_EQ(alerts[0]->title(), "授权失败");
    EXPECT_NE(alerts[0]->message().find("测试账号"), std::string::npos);
    advance(1);
    EXPECT_EQ(delegate_->events, (Events{"closeOauth", "result 5051", "close 7"}));
    EXPECT_EQ(delegate_->responses.at(0)->viewControllerType(), 7);
}

TEST_F(OauthPageTest, AFailedAccountFetchAlertsAndItsButtonClosesWithoutAResult) {
    auto page = open("renren");
    ASSERT_TRUE(page);
    accounts = social_test::response(5050);
    EXPECT_FALSE(offer(*page, callback("renren", "access_key=k&uid=9")));
    auto alerts = platform::AlertView::visibleAlerts();
    ASSERT_EQ(alerts.size(), 1u);
    EXPECT_EQ(alerts[0]->message(), "服务器繁忙，授权失败，请稍后再试");
    ASSERT_TRUE(alerts[0]->pressButtonWithTitle("好"));
    advance(1);
    EXPECT_EQ(delegate_->events, (Events{"close 7"}));
}

TEST_F(OauthPageTest, APageClosedBeforeTheNextScreenIsDueShowsNothingLater) {
    ScreenMaker editor(kRAZududeViewControllerShareEdit);
    auto page = open("tencent");
    ASSERT_TRUE(page);
    service_->setNextViewController(kRAZududeViewControllerShareEdit);
    accounts = accountsOf("tencent");
    EXPECT_FALSE(offer(*page, callback("tencent", "access_key=k&uid=7")));
    service_->close();
    advance(RZSOauthViewController::kNextScreenDelay + 1);
    EXPECT_TRUE(editor.made.empty());
    EXPECT_FALSE(navigation_->presentedViewController());
}

TEST_F(OauthPageTest, ComingBackToAPageWhoseLoginEndedClosesTheFlow) {
    auto page = open("renren");
    ASSERT_TRUE(page);
    EXPECT_FALSE(offer(*page, callback("renren", "access_key=k&uid=9")));
    EXPECT_TRUE(delegate_->events.empty());
    auto* navigation = page->navigationController();
    navigation->pushViewController(std::make_shared<platform::ViewController>(), false);
    navigation->popViewControllerAnimated(false);
    advance(1);
    EXPECT_EQ(delegate_->events, (Events{"close 7"}));
}

TEST_F(OauthPageTest, TheBackButtonOfAPushedPagePopsItAndReportsTheCancel) {
    auto page = std::dynamic_pointer_cast<RZSOauthViewController>(
        service_->getSocialViewController(7, "tencent"));
    ASSERT_TRUE(page);
    navigation_->pushViewController(page, false);
    window_->update();
    auto back = page->navigationItem().leftBarButtonItem();
    ASSERT_TRUE(back && back->customView());
    ASSERT_TRUE(window_->tapView(*back->customView()));
    advance(1);
    EXPECT_EQ(navigation_->topViewController(), screen_.get());
    EXPECT_EQ(delegate_->events, (Events{"result 5052"}));
    const auto& cancel = delegate_->responses.at(0);
    EXPECT_EQ(cancel->viewControllerType(), 7);
    EXPECT_EQ(cancel->data(), (platform::Map{{"tencent", ""}}));
}

TEST_F(OauthPageTest, LoadFailuresAlertExceptCancelsAndTextMessageLinksOpenLater) {
    auto page = open("tencent");
    ASSERT_TRUE(page);
    auto fail = [&](long code, const std::string& url) {
        page->webViewDidFailLoadWithError(
            *page->webView(),
            platform::Error(platform::kUrlErrorDomain, code,
                            {{platform::kUrlErrorFailingUrlStringErrorKey, url}}));
    };
    fail(platform::kUrlErrorCancelled, "http://127.0.0.1/a");
    fail(platform::kWebErrorFrameLoadInterrupted, "http://127.0.0.1/b");
    EXPECT_TRUE(platform::AlertView::visibleAlerts().empty());
    EXPECT_TRUE(page->maskView()->isActivity());  // tencent waits on after an interrupted load

    fail(-1004, "SMS:10086");
    EXPECT_TRUE(platform::AlertView::visibleAlerts().empty());
    advance(RZSOauthViewController::kSendSmsDelay);
    EXPECT_EQ(platform::Application::shared().openedUrls(), std::vector<std::string>{"SMS:10086"});
    EXPECT_FALSE(navigation_->presentedViewController());

    fail(-1004, "http://127.0.0.1/c");
    auto alerts = platform::AlertView::visibleAlerts();
    ASSERT_EQ(alerts.size(), 1u);
    EXPECT_EQ(alerts[0]->title(), "温馨提示");
    EXPECT_EQ(alerts[0]->message(), "网络不给力");
}

}  // namespace
