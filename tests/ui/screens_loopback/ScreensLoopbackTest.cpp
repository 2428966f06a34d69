// The share editor and the friend picker against the share-service emulator
// (tests/peers/share_service.py): typed text posted with send reaches kind 5 and comes back as
// the success toast; a refusal becomes its toast; the @ button's picker fetches the seeded
// friends (kind 12) under its HUD, and a pick lands in the text.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "SocialSDK/core/account/RAZududeAccountManager.h"
#include "SocialSDK/core/data/RAZududeData.h"
#include "SocialSDK/core/manager/RZSBarEntity.h"
#include "SocialSDK/core/manager/RZSDataManager.h"
#include "SocialSDK/core/manager/RZSUserManager.h"
#include "SocialSDK/ui/controller/RAZududeControllerService.h"
#include "SocialSDK/ui/editor/RZShareEditViewController.h"
#include "SocialSDK/ui/friend/RAZududeFriendViewController.h"
#include "SocialSDK/ui/hud/RAZududeTkProgressHUD.h"
#include "SocialSDK/ui/startup/SocialUI.h"
#include "SocialSDK/ui/toast/RAZududeToast.h"
#include "platform/Device.h"
#include "platform/MainLoop.h"
#include "platform/ui/Application.h"
#include "platform/ui/Keyboard.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/Window.h"
#include "tests/support/ShareServiceEmulator.h"

namespace {

constexpr const char* kAppKey = "7a6b5c4d3e2f10a9b8c7d6e5";
constexpr double kWait = 20;

bool pumpUntil(const std::function<bool()>& done) {
    return platform::MainLoop::main().runUntil(done, kWait);
}

class Delegate : public RAZududeUIDelegate {
  public:
    void didFinishGetRAZududeDataInViewController(const RAZududeResponsePtr& r) override {
        results.push_back(r);
    }
    std::vector<RAZududeResponsePtr> results;
};

class ScreensLoopbackTest : public ::testing::Test {
  protected:
    ScreensLoopbackTest() : device_(platform::DeviceProfile{}) {}

    void SetUp() override {
        platform::MainLoop::main().setManualClock(false);
        platform::Application::shared().reset();
        installSocialUI();
        RAZududeData::setAppKey(kAppKey);
        auto account = std::make_shared<RAZududeAccountEntity>("tencent");
        account->setUsid("usid-tencent");
        account->setAccessToken("token-tencent");
        account->setUserName("Tester");
        RAZududeAccountManager::setSnsAccount(account);
        auto bar = RZSDataManager::currentDataManager()->barEntity();
        bar->setShareText("");
        emulator_->mark();

        window_ = platform::Window::make();
        window_->makeKeyAndVisible();
        app_ = std::make_shared<platform::NavigationController>(
            std::make_shared<platform::ViewController>());
        window_->setRootViewController(app_);
        service_->setSocialUIDelegate(delegate_);
        auto container = std::dynamic_pointer_cast<platform::NavigationController>(
            service_->getSocialShareEditControllerInternal("tencent", std::nullopt));
        ASSERT_TRUE(container);
        app_->presentViewController(container, false);
        editor_ = std::dynamic_pointer_cast<RZShareEditViewController>(
            container->viewControllers().front());
        ASSERT_TRUE(editor_);
        ASSERT_TRUE(pumpUntil([this] { return editor_->textView()->isFirstResponder(); }));
        window_->update();
    }

    void TearDown() override {
        EXPECT_TRUE(
            pumpUntil([] { return RZSDataManager::currentDataManager()->actionArray().empty(); }));
        RZSUserManager::shareInstance().setFriendsDictionary({}, "tencent");
        RZSUserManager::shareInstance().setAtFriendsArray({}, "tencent");
        RZSUserManager::shareInstance().setSnsAccountDictionary({});
        platform::Application::shared().reset();
    }

    std::string toastText() const {
        for (const auto& view : window_->subviews()) {
            if (view->tag() == RAZududeToast::kViewTag) {
                auto label = std::dynamic_pointer_cast<platform::Label>(view->subviews().back());
                return label ? label->text() : "";
            }
        }
        return "";
    }

    platform::ScopedDeviceProfile device_;
    // Made first: the SDK reads the emulator's base URL once, with the first thing it makes.
    testing_support::ShareServiceEmulator* emulator_ =
        &testing_support::ShareServiceEmulator::shared(kAppKey);
    std::shared_ptr<platform::Window> window_;
    std::shared_ptr<platform::NavigationController> app_;
    std::shared_ptr<RAZududeControllerService> service_ =
        std::make_shared<RAZududeControllerService>();
    std::shared_ptr<Delegate> delegate_ = std::make_shared<Delegate>();
    std::shared_ptr<RZShareEditViewController> editor_;
};

TEST_F(ScreensLoopbackTest, TypedTextIsPostedAndTheSuccessToastFollows) {
    platform::Keyboard::shared().type("Loopback share http://www.example.com/x");
    EXPECT_EQ(editor_->countLabel()->text(), std::to_string(140 - 8 - 11));
    window_->tapView(*editor_->sendButton());
    ASSERT_TRUE(pumpUntil([this] { return !delegate_->results.empty(); }));
    EXPECT_EQ(delegate_->results[0]->responseCode(), 200) << delegate_->results[0]->description();
    EXPECT_EQ(delegate_->results[0]->viewControllerType(), 3);
    auto shares = emulator_->requestsOfKind(5);
    ASSERT_EQ(shares.size(), 1u);
    EXPECT_EQ(shares[0]["params"]["ct"].stringValue(), "Loopback share http://www.example.com/x");
    EXPECT_NE(shares[0]["params"]["sns"].stringValue().find("tencent"), std::string::npos);
    ASSERT_TRUE(pumpUntil([this] { return toastText() == "发送成功"; }));
    EXPECT_FALSE(emulator_->requestsOfKind(3).empty());
}

TEST_F(ScreensLoopbackTest, ARefusalBecomesItsToast) {
    emulator_->failNext(5, "st", "\"platform_st\": {\"tencent\": 5016}");
    platform::Keyboard::shared().type("again");
    window_->tapView(*editor_->sendButton());
    ASSERT_TRUE(pumpUntil([this] { return !delegate_->results.empty(); }));
    EXPECT_EQ(delegate_->results[0]->responseCode(), 510);
    EXPECT_EQ(toastText(), "文字内容重复");
}

TEST_F(ScreensLoopbackTest, ThePickerFetchesTheSeededFriendsAndAPickLandsInTheText) {
    emulator_->control(
        "/__emu/state",
        R"({"friends": {"tencent": {"77": {"link_name": "lily_l", "name": "Lily", "pinyin": "lily"},
                                    "78": {"link_name": "zhou", "name": "周", "pinyin": "zhou"},
                                    "79": {"link_name": "nopy", "name": "No Pinyin"}}}})");
    RZSUserManager::shareInstance().setFriendsDictionary({}, "tencent");
    window_->tapView(*editor_->atButton());
    auto picker = editor_->friendListViewController();
    ASSERT_TRUE(picker);
    ASSERT_TRUE(pumpUntil([&] { return !picker->sectionList().empty(); }));
    ASSERT_EQ(emulator_->requestsOfKind(12).size(), 1u);
    std::vector<std::string> titles;
    for (const auto& section : picker->sectionList()) {
        titles.push_back(section.title);
    }
    EXPECT_EQ(titles, (std::vector<std::string>{"L", "Z", "符"}));
    ASSERT_TRUE(
        pumpUntil([&] { return picker->hud()->alpha() == 0 || picker->hud()->isHidden(); }));

    window_->update();
    auto row = picker->tableView()->cellForRowAtIndexPath({0, 0});
    ASSERT_TRUE(row);
    window_->tapView(*row);
    ASSERT_TRUE(pumpUntil(
        [this] { return editor_->navigationController()->topViewController() == editor_.get(); }));
    EXPECT_EQ(editor_->textView()->text(), " @lily_l ");
}

}  // namespace
