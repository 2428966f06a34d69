// The controller service: screens by view type, the stack of open types, the container, and
// the cancel and result reports to the app's delegate.
#include <gtest/gtest.h>

#include "SocialSDK/core/config/RAZududeConfig.h"
#include "SocialSDK/core/data/RAZududeData.h"
#include "SocialSDK/core/platform/RAZududeSnsPlatformManager.h"
#include "SocialSDK/core/protocol/RZSSNSEntity.h"
#include "SocialSDK/ui/controller/RAZududeControllerService.h"
#include "SocialSDK/ui/controller/RAZududeNavigationController.h"
#include "SocialSDK/ui/sheet/RAZududeIconActionSheet.h"
#include "platform/Device.h"
#include "platform/ui/Button.h"
#include "platform/ui/NavigationController.h"
#include "tests/core/SocialTest.h"

namespace {

using social_test::ScreenMaker;
using social_test::StandInScreen;
using Events = std::vector<std::string>;

class ControllerServiceTest : public social_test::SocialTest {
  protected:
    ControllerServiceTest() {
        service_->setSocialUIDelegate(delegate_);
        showAppScreen();
    }
    std::shared_ptr<RAZududeControllerService> service_ =
        std::make_shared<RAZududeControllerService>();
};

TEST_F(ControllerServiceTest, AnEditorForAPlatformWithoutAValidTokenIsTheOauthPageFirst) {
    ScreenMaker oauth(kRAZududeViewControllerOauth);
    ScreenMaker editor(kRAZududeViewControllerShareEdit);
    auto page =
        std::dynamic_pointer_cast<StandInScreen>(service_->getSocialViewController(3, "tencent"));
    ASSERT_TRUE(page);
    EXPECT_EQ(page->viewType, 7);
    EXPECT_EQ(page->platformType, 11);
    EXPECT_EQ(service_->currentSnsPlatformName(), "tencent");
    EXPECT_EQ(service_->nextViewController(), 3);

    social_test::authorise("tencent");
    auto direct =
        std::dynamic_pointer_cast<StandInScreen>(service_->getSocialViewController(3, "tencent"));
    ASSERT_TRUE(direct);
    EXPECT_EQ(direct->viewType, 3);
    // Platforms without an editor (QQ shares through its application), and no platform at
    // all, get none.
    EXPECT_FALSE(service_->getSocialViewController(3, "qq"));
    EXPECT_FALSE(service_->getSocialViewController(3));
    EXPECT_FALSE(service_->getSocialViewController(5, "tencent"));
    EXPECT_EQ(service_->currentViewControllerType(), 3);
}

TEST_F(ControllerServiceTest, MissingScreensLeaveNoTraceOnTheStack) {
    // Screens the factory cannot make, and the account screen, which has none.
    social_test::NoScreen noEditor(kRAZududeViewControllerShareEdit);
    social_test::NoScreen noPage(kRAZududeViewControllerOauth);
    social_test::NoScreen noList(kRAZududeViewControllerShareList);
    social_test::authorise("renren");
    EXPECT_FALSE(service_->getSocialShareEditControllerInternal("renren", "3"));
    EXPECT_FALSE(service_->getSocialOauthControllerInternal("renren", "4"));
    EXPECT_FALSE(service_->getSocialShareListControllerInternal());
    EXPECT_FALSE(service_->getSocialAccountControllerInternal());
    EXPECT_TRUE(service_->currentViewControllerArray().empty());
    EXPECT_FALSE(service_->currentNavigationController());
}

TEST_F(ControllerServiceTest, ScreensComeInTheirContainerAndClosingGoesBackOneType) {
    ScreenMaker oauth(kRAZududeViewControllerOauth);
    ScreenMaker editor(kRAZududeViewControllerShareEdit);
    social_test::authorise("douban");
    auto page = service_->getSocialOauthControllerInternal("douban", "4");
    ASSERT_TRUE(page);
    EXPECT_TRUE(std::dynamic_pointer_cast<RAZududeNavigationController>(page));
    EXPECT_EQ(page->view()->backgroundColor(), platform::Color::white());
    EXPECT_EQ(page->modalPresentationStyle(), platform::ModalPresentationStyle::kFullScreen);
    EXPECT_EQ(service_->currentNavigationController(), page);
    EXPECT_EQ(service_->currentViewController(), oauth.made.at(0));
    auto edit = service_->getSocialShareEditControllerInternal("douban", "9");
    ASSERT_TRUE(edit);
    EXPECT_EQ(service_->currentViewControllerArray(), (std::vector<int>{7, 3}));
    // Sina has its editor too, after either of its logins.
    social_test::authorise("sina");
    EXPECT_TRUE(service_->getSocialViewController(3, std::string("sina")));

    screen_->presentViewController(edit, false);
    ASSERT_EQ(navigation_->presentedViewController(), edit);
    service_->close();
    EXPECT_EQ(service_->currentViewControllerType(), 7);
    EXPECT_EQ(service_->currentViewControllerArray(), (std::vector<int>{7}));
    advance(platform::ViewController::kTransitionDuration);
    EXPECT_FALSE(navigation_->presentedViewController());
    // The close is told with the type of the screen that closed, though the dismissal ended
    // after the stack went back to the page.
    EXPECT_EQ(delegate_->events, (Events{"close 3"}));
    EXPECT_FALSE(service_->currentNavigationController());

    // E-mail and SMS editors come bare, and their service stays until they are closed.
    auto mail = service_->getSocialShareEditControllerInternal("email", std::nullopt);
    EXPECT_TRUE(std::dynamic_pointer_cast<StandInScreen>(mail));
    std::weak_ptr<RAZududeControllerService> weak = service_;
    service_.reset();
    ASSERT_FALSE(weak.expired());
    weak.lock()->close();
    EXPECT_TRUE(weak.expired());
}

// However the container goes (dismissed with animation, taken from its parent, or with the
// window's root dismissing), the close names the screen that closed.
TEST_F(ControllerServiceTest, EveryWayOfClosingNamesTheClosedScreen) {
    ScreenMaker oauth(kRAZududeViewControllerOauth);
    ScreenMaker editor(kRAZududeViewControllerShareEdit);
    social_test::authorise("douban");
    auto openBoth = [this] {
        EXPECT_TRUE(service_->getSocialOauthControllerInternal("douban", "4"));
        auto edit = service_->getSocialShareEditControllerInternal("douban", "9");
        EXPECT_TRUE(edit);
        return edit;
    };

    auto edit = openBoth();
    screen_->presentViewController(edit, true);
    advance(platform::ViewController::kTransitionDuration);
    service_->close();
    advance(platform::ViewController::kTransitionDuration);
    EXPECT_EQ(delegate_->events, (Events{"close 3"}));

    delegate_->events.clear();
    edit = openBoth();
    navigation_->pushViewController(edit, false);
    ASSERT_TRUE(edit->parentViewController());
    service_->close();
    EXPECT_EQ(delegate_->events, (Events{"close 3"}));

    // Never shown: the root of the app's window is asked to dismiss.
    struct App : platform::ApplicationDelegate {
        std::shared_ptr<platform::Window> main;
        std::shared_ptr<platform::Window> window() const override { return main; }
    };
    auto app = std::make_shared<App>();
    app->main = window_;
    platform::Application::shared().setDelegate(app);
    delegate_->events.clear();
    openBoth();
    service_->close();
    EXPECT_EQ(delegate_->events, (Events{"close 3"}));
    platform::Application::shared().setDelegate(nullptr);
}

TEST_F(ControllerServiceTest, CancellingAnEditorOrAnUnfinishedLoginTellsTheDelegate) {
    ScreenMaker editor(kRAZududeViewControllerShareEdit);
    social_test::authorise("renren");
    auto edit = service_->getSocialShareEditControllerInternal("renren", std::nullopt);
    screen_->presentViewController(edit, false);
    service_->closeWithResponse(nullptr);  // nothing is a cancel
    ASSERT_EQ(delegate_->responses.size(), 1u);
    const auto& cancel = *delegate_->responses[0];
    EXPECT_EQ(cancel.responseCode(), 5052);
    EXPECT_EQ(cancel.message(), "user cancel the operation");
    EXPECT_EQ(cancel.viewControllerType(), 3);
    EXPECT_EQ(cancel.data(), (platform::Map{{"renren", ""}}));
    advance(1);
    EXPECT_EQ(delegate_->events, (Events{"result 5052", "close 3"}));

    // An OAuth page of a platform that is authorised already closes without a result.
    ScreenMaker oauth(kRAZududeViewControllerOauth);
    delegate_->events.clear();
    auto page = service_->getSocialOauthControllerInternal("renren", std::nullopt);
    screen_->presentViewController(page, false);
    service_->closeWithCancelResponse();
    advance(1);
    EXPECT_EQ(delegate_->events, (Events{"close 7"}));

    // A result given to close goes to the delegate as it is.
    delegate_->events.clear();
    page = service_->getSocialOauthControllerInternal("sina", std::nullopt);
    screen_->presentViewController(page, false);
    service_->closeWithResponse(social_test::response(200));
    advance(1);
    EXPECT_EQ(delegate_->events, (Events{"result 200", "close 7"}));
}

TEST_F(ControllerServiceTest, CancellingAMailEditorNamesMailNotTheEarlierPlatform) {
    ScreenMaker editor(kRAZududeViewControllerShareEdit);
    social_test::authorise("renren");
    auto edit = service_->getSocialShareEditControllerInternal("renren", std::nullopt);
    screen_->presentViewController(edit, false);
    service_->close();
    advance(1);

    auto mail = service_->getSocialShareEditControllerInternal("email", std::nullopt);
    ASSERT_TRUE(mail);
    EXPECT_EQ(service_->currentSnsPlatformName(), "email");
    screen_->presentViewController(mail, false);
    service_->closeWithCancelResponse();
    ASSERT_EQ(delegate_->responses.size(), 1u);
    EXPECT_EQ(delegate_->responses[0]->data(), (platform::Map{{"email", ""}}));
    advance(1);
}

TEST_F(ControllerServiceTest, TheCloseButtonCancels) {
    ScreenMaker editor(kRAZududeViewControllerShareEdit);
    social_test::authorise("douban");
    auto container = std::dynamic_pointer_cast<platform::NavigationController>(
        service_->getSocialShareEditControllerInternal("douban", std::nullopt));
    ASSERT_TRUE(container);
    auto screen = editor.made.at(0);
    service_->addCloseButton(screen);
    screen_->presentViewController(container, false);
    window_->update();
    auto item = screen->navigationItem().leftBarButtonItem();
    ASSERT_TRUE(item);
    auto button = std::dynamic_pointer_cast<platform::Button>(item->customView());
    ASSERT_TRUE(button);
    EXPECT_EQ(button->currentTitle(), "关闭");
    window_->tapView(*button);
    advance(1);
    EXPECT_EQ(delegate_->events, (Events{"result 5052", "close 3"}));
}

TEST_F(ControllerServiceTest, OnAnIpadContainersPresentAsFormSheets) {
    platform::DeviceProfile pad;
    pad.idiom = platform::InterfaceIdiom::kPad;
    pad.screenWidth = 768;
    pad.screenHeight = 1024;
    platform::ScopedDeviceProfile profile(pad);
    auto container = service_->makeNavigationControllerWithContorller(
        std::make_shared<platform::ViewController>());
    EXPECT_EQ(container->modalPresentationStyle(), platform::ModalPresentationStyle::kFormSheet);
    EXPECT_EQ(container->modalTransitionStyle(), platform::ModalTransitionStyle::kCoverVertical);
    EXPECT_FALSE(service_->makeNavigationControllerWithContorller(nullptr));
    // The container turns as the configuration says.
    EXPECT_EQ(container->supportedInterfaceOrientations(),
              RAZududeConfigInternal::shareInstance().socialInterfaceOrientations());
}

TEST_F(ControllerServiceTest, TheSheetsTapRunsTheClickBlockOrADirectShare) {
    auto sheet = service_->getSocialIconActionSheetInControllerInternal(screen_);
    EXPECT_EQ(sheet->tag(), 1013);
    EXPECT_EQ(sheet->presentingViewController(), screen_);
    EXPECT_EQ(service_->currentViewController(), screen_);
    EXPECT_EQ(sheet->snsNames(), RAZududeSnsPlatformManager::sharedInstance().allSnsValuesArray());

    // A platform without a login goes to its click block: sms hands a message over.
    sheet->actionSheetHandler()("sms");
    EXPECT_EQ(delegate_->events, (Events{"select sms", "result 200"}));
    EXPECT_EQ(platform::Application::shared().composedMessages().size(), 1u);

    // A delegate that shares directly: the data service gets the content (a share-service
    // platform goes straight to the share service once the user holds a valid token).
    delegate_->events.clear();
    social_test::authorise("tencent");
    delegate_->directShare = true;
    auto data = RAZududeData::defaultData();
    data->setShareText("direct text");
    social_test::RequestPeer peer([](const RZSRequest&) { return social_test::response(200); });
    sheet->actionSheetHandler()("tencent");
    auto shares = peer.ofKind(kRZSRequestShareToMultiSns);
    ASSERT_EQ(shares.size(), 1u);
    EXPECT_EQ(shares[0].parameters.values["snsNames"], platform::Value(platform::Array{"tencent"}));
    EXPECT_EQ(RZSDataManager::currentDataManager()->snsEntity()->shareText(), "direct text");
    EXPECT_EQ(delegate_->events, (Events{"result 200"}));

    // Its dismissal is reported as the sheet's.
    delegate_->events.clear();
    sheet->dismissCompletion()();
    EXPECT_EQ(delegate_->events, (Events{"close 10"}));
    data->setShareText(std::nullopt);
}

}  // namespace
