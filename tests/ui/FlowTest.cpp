// The click and login flows behind a tap, with the companion standing in for the app's
// delegate, and the facade that shows the sheet.
#include <gtest/gtest.h>

#include "SocialSDK/core/analytics/RAZududeOpAnalytics.h"
#include "SocialSDK/core/data/RAZududeData.h"
#include "SocialSDK/core/platform/RAZududeSnsPlatformInternal.h"
#include "SocialSDK/core/platform/RAZududeSnsPlatformManager.h"
#include "SocialSDK/ui/controller/RAZududeControllerService.h"
#include "SocialSDK/ui/service/RAZududeSnsService.h"
#include "SocialSDK/ui/sheet/RAZududeIconActionSheet.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/TabBarController.h"
#include "tests/core/SocialTest.h"
#include "tests/support/LogCapture.h"

namespace {

using social_test::NoScreen;
using social_test::RecordingDelegate;
using social_test::ScreenMaker;
using social_test::StandInScreen;
using Events = std::vector<std::string>;

class FlowTest : public social_test::SocialTest {
  protected:
    FlowTest() {
        showAppScreen();
        service_->setSocialUIDelegate(delegate_);
    }

    void tap(const std::string& name) {
        auto platform = RAZududeSnsPlatformManager::getSocialPlatformWithName(name);
        ASSERT_TRUE(platform && platform->snsClickHandler()) << name;
        platform->snsClickHandler()(screen_, service_, true);
    }
    void login(const std::string& name, RAZududeResponseCompletion completion) {
        auto platform = RAZududeSnsPlatformManager::getSocialPlatformWithName(name);
        platform->loginClickHandler()(screen_, service_, true, std::move(completion));
    }
    static std::shared_ptr<RAZududeSnsPlatformInternal> companion(const std::string& name) {
        return RAZududeSnsPlatformManager::getSocialPlatformWithName(name)->platformInternal();
    }
    static RAZududeResponsePtr oauthResult(int code) {
        auto r = social_test::response(code);
        r->setViewControllerType(kRAZududeViewControllerOauth);
        return r;
    }
    static bool counted(const std::string& key) {
        return RAZududeOpAnalytics::shareInstance().opDictionary().contains(key);
    }

    std::shared_ptr<RAZududeControllerService> service_ =
        std::make_shared<RAZududeControllerService>();
};

TEST_F(FlowTest, AValidTokenOpensTheEditorAtOnce) {
    ScreenMaker editor(kRAZududeViewControllerShareEdit);
    social_test::authorise("tencent");
    tap("tencent");
    ASSERT_EQ(editor.made.size(), 1u);
    EXPECT_EQ(editor.made[0]->platformType, 11);
    EXPECT_TRUE(navigation_->presentedViewController());
    EXPECT_EQ(delegate_->events, (Events{"select tencent"}));
    EXPECT_EQ(service_->socialUIDelegate(), delegate_);
    EXPECT_TRUE(counted("3+9-11"));
    EXPECT_TRUE(counted("3-11"));
}

TEST_F(FlowTest, WithoutAnEditorTheShareStopsCleanly) {
    NoScreen noEditor(kRAZududeViewControllerShareEdit);
    social_test::authorise("tencent");
    testing_support::LogCapture log;
    tap("tencent");
    EXPECT_FALSE(navigation_->presentedViewController());
    EXPECT_TRUE(log.contains("no share editor for tencent"));
    EXPECT_EQ(service_->socialUIDelegate(), delegate_);
    EXPECT_TRUE(service_->currentViewControllerArray().empty());
}

TEST_F(FlowTest, WithoutAnOauthPageTheLoginStopsCleanly) {
    social_test::NoScreen noPage(kRAZududeViewControllerOauth);
    testing_support::LogCapture log;
    tap("renren");
    EXPECT_FALSE(navigation_->presentedViewController());
    EXPECT_TRUE(log.contains("no OAuth page for renren: the login stops here"));
    EXPECT_EQ(service_->socialUIDelegate(), delegate_);
    EXPECT_FALSE(companion("renren")->loginCompletion());
    EXPECT_FALSE(companion("renren")->socialUIDelegate());
    EXPECT_TRUE(counted("3+4-12"));
}

TEST_F(FlowTest, AWebLoginThenTheEditorAndTheAppsDelegateBack) {
    ScreenMaker oauth(kRAZududeViewControllerOauth);
    ScreenMaker editor(kRAZududeViewControllerShareEdit);
    tap("tencent");
    ASSERT_EQ(oauth.made.size(), 1u);
    EXPECT_TRUE(navigation_->presentedViewController());
    EXPECT_EQ(service_->socialUIDelegate(), companion("tencent"));
    EXPECT_EQ(service_->nextViewController(), -1);

    // The page stores the account, reports and closes.
    social_test::authorise("tencent");
    service_->closeWithResponse(oauthResult(200));
    advance(platform::ViewController::kTransitionDuration);
    EXPECT_TRUE(editor.made.empty());
    advance(RAZududeSnsPlatformInternal::kLoginCompletionDelay);
    ASSERT_EQ(editor.made.size(), 1u);
    EXPECT_TRUE(navigation_->presentedViewController());
    EXPECT_EQ(service_->socialUIDelegate(), delegate_);
    EXPECT_EQ(delegate_->events, (Events{"select tencent", "close 7"}));
    EXPECT_TRUE(counted("4+9-11"));
}

TEST_F(FlowTest, AFailedLoginReachesTheAppAndOpensNoEditor) {
    ScreenMaker oauth(kRAZududeViewControllerOauth);
    ScreenMaker editor(kRAZududeViewControllerShareEdit);
    tap("douban");
    service_->closeWithCancelResponse();
    advance(1);
    EXPECT_TRUE(editor.made.empty());
    EXPECT_EQ(delegate_->events, (Events{"select douban", "close 7", "result 5052"}));
    EXPECT_EQ(service_->socialUIDelegate(), delegate_);
}

TEST_F(FlowTest, TwoResultsInARowCallTheLoginCompletionOnce) {
    ScreenMaker oauth(kRAZududeViewControllerOauth);
    int calls = 0;
    int code = 0;
    login("tencent", [&](const RAZududeResponsePtr& r) {
        ++calls;
        code = r->responseCode();
    });
    EXPECT_EQ(companion("tencent")->shareStatus(), "0");
    auto standIn = service_->socialUIDelegate();
    standIn->didFinishGetRAZududeDataInViewController(oauthResult(200));
    standIn->didFinishGetRAZududeDataInViewController(oauthResult(510));
    advance(1);
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(code, 200);
}

TEST_F(FlowTest, ACompletionLeftByAnAbandonedLoginNeverAnswersALaterOne) {
    ScreenMaker oauth(kRAZududeViewControllerOauth);
    Events calls;
    login("renren", [&](const RAZududeResponsePtr&) { calls.push_back("first"); });
    // The first page gives its result, and a second login starts before it is delivered.
    service_->socialUIDelegate()->didFinishGetRAZududeDataInViewController(oauthResult(200));
    login("renren", [&](const RAZududeResponsePtr&) { calls.push_back("second"); });
    advance(1);
    EXPECT_TRUE(calls.empty());
    service_->socialUIDelegate()->didFinishGetRAZududeDataInViewController(oauthResult(200));
    advance(1);
    EXPECT_EQ(calls, (Events{"second"}));

    // A login without a completion does not inherit one left waiting.
    login("renren", [&](const RAZududeResponsePtr&) { calls.push_back("third"); });
    login("renren", {});
    service_->socialUIDelegate()->didFinishGetRAZududeDataInViewController(oauthResult(200));
    advance(1);
    EXPECT_EQ(calls, (Events{"second"}));
}

TEST_F(FlowTest, ASecondLoginWhileAStandInIsInPlaceKeepsTheAppsDelegate) {
    ScreenMaker oauth(kRAZududeViewControllerOauth);
    ScreenMaker editor(kRAZududeViewControllerShareEdit);
    tap("tencent");
    EXPECT_EQ(service_->socialUIDelegate(), companion("tencent"));
    tap("renren");
    EXPECT_EQ(service_->socialUIDelegate(), companion("renren"));
    EXPECT_EQ(companion("renren")->socialUIDelegate(), delegate_);
    EXPECT_FALSE(companion("tencent")->socialUIDelegate());

    social_test::authorise("renren");
    service_->socialUIDelegate()->didFinishGetRAZududeDataInViewController(oauthResult(200));
    advance(1);
    EXPECT_EQ(service_->socialUIDelegate(), delegate_);
}

TEST_F(FlowTest, ADelegateTheAppSetMeanwhileIsNotReplacedByAStaleOne) {
    ScreenMaker oauth(kRAZududeViewControllerOauth);
    ScreenMaker editor(kRAZududeViewControllerShareEdit);
    tap("douban");
    auto newer = std::make_shared<RecordingDelegate>();
    service_->setSocialUIDelegate(newer);  // the app shows a new share meanwhile
    social_test::authorise("douban");
    companion("douban")->didFinishGetRAZududeDataInViewController(oauthResult(200));
    advance(1);
    EXPECT_EQ(editor.made.size(), 1u);
    EXPECT_EQ(service_->socialUIDelegate(), newer);
    EXPECT_FALSE(companion("douban")->socialUIDelegate());
    // A later tap with a valid token hands nothing back either.
    tap("douban");
    EXPECT_EQ(service_->socialUIDelegate(), newer);
}

TEST_F(FlowTest, TheOauthPageClosingOpensTheEditorOnlyAfterAShareTap) {
    ScreenMaker oauth(kRAZududeViewControllerOauth);
    ScreenMaker editor(kRAZududeViewControllerShareEdit);
    auto navigation = std::make_shared<platform::NavigationController>(
        std::make_shared<platform::ViewController>());
    login("tencent", {});
    auto standIn = companion("tencent");
    EXPECT_EQ(standIn->closeOauthWebViewController(navigation, service_), false);

    tap("tencent");
    service_->setCurrentSnsPlatformName("tencent");
    social_test::authorise("tencent");
    EXPECT_EQ(standIn->closeOauthWebViewController(navigation, service_), true);
    EXPECT_EQ(navigation->viewControllers().size(), 2u);
    EXPECT_EQ(standIn->shareStatus(), "0");
    EXPECT_FALSE(standIn->loginCompletion());
    EXPECT_TRUE(counted("7+9-11"));

    // The app's own answer wins.
    tap("tencent");
    delegate_->closeOauthAnswer = false;
    standIn->setSocialUIDelegate(delegate_);
    EXPECT_EQ(standIn->closeOauthWebViewController(navigation, service_), false);
}

TEST_F(FlowTest, WithoutAnEditorAfterTheOauthPageTheLoginStillEndsAndHandsBack) {
    ScreenMaker oauth(kRAZududeViewControllerOauth);
    NoScreen noEditor(kRAZududeViewControllerShareEdit);
    auto navigation = std::make_shared<platform::NavigationController>(
        std::make_shared<platform::ViewController>());
    tap("tencent");
    auto standIn = companion("tencent");
    ASSERT_EQ(service_->socialUIDelegate(), standIn);
    social_test::authorise("tencent");
    EXPECT_EQ(standIn->closeOauthWebViewController(navigation, service_), false);
    EXPECT_EQ(navigation->viewControllers().size(), 1u);
    service_->closeWithResponse(oauthResult(200));
    advance(1);
    EXPECT_EQ(service_->socialUIDelegate(), delegate_);
    EXPECT_FALSE(standIn->socialUIDelegate());
}

TEST_F(FlowTest, QzoneTapsWarnThatItsSettingsAreNeeded) {
    testing_support::LogCapture log;
    companion("qzone")->snsClickHandlerWithController(screen_, service_, true, std::nullopt);
    EXPECT_TRUE(log.contains("你需要按照文档要求添加qq空间设置才能进行分享"));
}

TEST_F(FlowTest, TheFacadeShowsTheSheetOverTheRightView) {
    auto& facade = RAZududeSnsService::sharedInstance();
    RAZududeSnsService::presentSnsIconSheetView(screen_, "facade-key", "first text", {},
                                                std::vector<std::string>{"sms", "tencent", "x"},
                                                delegate_);
    auto sheet = navigation_->view()->viewWithTagAs<RAZududeIconActionSheet>(1013);
    ASSERT_TRUE(sheet);
    EXPECT_EQ(sheet->snsNames(), (std::vector<std::string>{"sms", "tencent"}));
    auto service = facade.socialControllerService();
    EXPECT_EQ(service, RAZududeControllerService::defaultControllerService());
    EXPECT_EQ(service->socialUIDelegate(), delegate_);
    EXPECT_EQ(RAZududeData::defaultData()->shareText(), "first text");
    EXPECT_EQ(RAZududeData::appKey(), "facade-key");
    EXPECT_TRUE(counted("2"));
    sheet->dismiss();
    advance(1);

    // Without names the configured list; a hidden bar puts the sheet on the screen's own view;
    // the second call replaces the text and the delegate.
    navigation_->setNavigationBarHidden(true);
    auto other = std::make_shared<RecordingDelegate>();
    RAZududeSnsService::presentSnsIconSheetView(screen_, std::nullopt, "second text", {},
                                                std::nullopt, other);
    sheet = screen_->view()->viewWithTagAs<RAZududeIconActionSheet>(1013);
    ASSERT_TRUE(sheet);
    EXPECT_EQ(sheet->snsNames(), RAZududeSnsPlatformManager::sharedInstance().allSnsValuesArray());
    EXPECT_EQ(facade.socialControllerService(), service);
    EXPECT_EQ(service->socialUIDelegate(), other);
    EXPECT_EQ(RAZududeData::defaultData()->shareText(), "second text");
    sheet->dismiss();
    advance(1);
    EXPECT_EQ(other->events, (Events{"close 10"}));

    // Inside tabs the sheet covers the tab bar as well: it goes on the tabs' view.
    auto inTabs = std::make_shared<platform::ViewController>();
    auto tabs = std::make_shared<platform::TabBarController>(
        std::vector<std::shared_ptr<platform::ViewController>>{
            std::make_shared<platform::NavigationController>(inTabs)});
    window_->setRootViewController(tabs);
    RAZududeSnsService::presentSnsIconSheetView(inTabs, std::nullopt, "third text", {},
                                                std::nullopt, other);
    sheet = tabs->view()->viewWithTagAs<RAZududeIconActionSheet>(1013);
    ASSERT_TRUE(sheet);
    ASSERT_TRUE(sheet->superview());  // the sheet's dimming overlay
    EXPECT_EQ(sheet->superview()->superview(), tabs->view().get());
    sheet->dismiss();
    advance(1);

    // No screen: nothing is shown; no share waits for a URL.
    RAZududeSnsService::presentSnsIconSheetView(nullptr, std::nullopt, "t", {}, std::nullopt,
                                                delegate_);
    EXPECT_FALSE(window_->viewWithTag(1013));
    EXPECT_FALSE(RAZududeSnsService::handleOpenURL(*platform::Url::parse("testwx01://x")));
    // The share list comes with its screen: until then nothing is presented.
    RAZududeSnsService::presentSnsController(screen_, std::nullopt, "t", {}, std::nullopt,
                                             delegate_);
    EXPECT_FALSE(navigation_->presentedViewController());
    RAZududeData::defaultData()->setShareText(std::nullopt);
}

}  // namespace
