// The share editor on a phone: what it shows of the share, its weighted counter, the send check
// and its notices, the post through the data service with its result toasts, the picture and
// its remove sheet, the progress of a synchronous share, the @ button into the friend picker,
// and the editor as a picture.
#include "SocialSDK/ui/editor/RZShareEditViewController.h"

#include <gtest/gtest.h>

#include <string>

#include "SocialSDK/core/account/RAZududeAccountManager.h"
#include "SocialSDK/core/config/RAZududeConfig.h"
#include "SocialSDK/core/manager/RZSBarEntity.h"
#include "SocialSDK/core/manager/RZSDataManager.h"
#include "SocialSDK/core/manager/RZSUserManager.h"
#include "SocialSDK/core/platform/RAZududeSnsPlatform.h"
#include "SocialSDK/core/platform/RAZududeSnsPlatformManager.h"
#include "SocialSDK/ui/controller/RAZududeControllerService.h"
#include "SocialSDK/ui/friend/RAZududeFriendViewController.h"
#include "SocialSDK/ui/toast/RAZududeToast.h"
#include "platform/UserDefaults.h"
#include "platform/ui/Alert.h"
#include "platform/ui/Keyboard.h"
#include "platform/ui/NavigationController.h"
#include "tests/core/SocialTest.h"
#include "tests/ui/Pictures.h"

namespace {

using platform::Color;
using platform::Rect;
using social_test::RequestPeer;

platform::ImagePtr redSquare() {
    platform::ImageContext context({60, 60});
    context.context().setFillColor(Color::rgb255(220, 30, 30));
    context.context().fillRect(Rect(0, 0, 60, 60));
    return context.makeImage();
}

class ShareEditorTest : public social_test::SocialTest {
  protected:
    ShareEditorTest() {
        showAppScreen();
        RZSUserManager::shareInstance().setUid("sdk-user");
    }

    void TearDown() override {
        auto bar = RZSDataManager::currentDataManager()->barEntity();
        bar->setShareText(std::nullopt);
        bar->setShareImage(nullptr);
        bar->setUrlResource(nullptr);
        RAZududeConfigInternal::shareInstance().setShouldShareSynchronous(false);
        RAZududeConfigInternal::shareInstance().setFollowSnsUids(std::nullopt);
        platform::UserDefaults::standardUserDefaults().removeObjectForKey(
            "RAZudude_Follow_tencent");
        platform::ModalPanel::dismissAll();
        RZSUserManager::shareInstance().setUid(std::nullopt);
        SocialTest::TearDown();
    }

    // The share the editor starts from.
    static void share(std::optional<std::string> text, RAZududeShareImage image = nullptr,
                      std::shared_ptr<RAZududeUrlResource> resource = nullptr) {
        auto bar = RZSDataManager::currentDataManager()->barEntity();
        bar->setEntityKey("entity-1");  // no bar request before the share
        bar->setShareText(std::move(text));
        bar->setShareImage(std::move(image));
        bar->setUrlResource(std::move(resource));
    }

    // The editor of the platform, made by the controller service's factory and presented in
    // its container over the app's screen, the keyboard up.
    std::shared_ptr<RZShareEditViewController> open(const std::string& platform = "tencent") {
        social_test::authorise(platform);
        service_->setSocialUIDelegate(delegate_);
        auto container = std::dynamic_pointer_cast<platform::NavigationController>(
            service_->getSocialShareEditControllerInternal(platform, std::nullopt));
        EXPECT_TRUE(container);
        if (!container) {
            return nullptr;
        }
        navigation_->presentViewController(container, false);
        drain();
        window_->update();
        auto editor = std::dynamic_pointer_cast<RZShareEditViewController>(
            container->viewControllers().front());
        EXPECT_TRUE(editor);
        return editor;
    }

    // An editor for a platform that has no editor of its own through the service.
    std::shared_ptr<RZShareEditViewController> openBare(const std::string& platform) {
        service_->setCurrentSnsPlatformName(platform);
        auto editor = std::make_shared<RZShareEditViewController>();
        editor->setSocialControllerService(service_);
        navigation_->presentViewController(std::make_shared<platform::NavigationController>(editor),
                                           false);
        drain();
        return editor;
    }

    static std::string toastText() {
        auto windows = platform::Application::shared().windows();
        for (const auto& view : windows.front()->subviews()) {
            if (view->tag() == RAZududeToast::kViewTag) {
                auto label = std::dynamic_pointer_cast<platform::Label>(view->subviews().back());
                return label ? label->text() : "";
            }
        }
        return "";
    }

    static std::string alertMessage() {
        auto alerts = platform::AlertView::visibleAlerts();
        return alerts.empty() ? "" : alerts.back()->message();
    }

    void type(std::string_view text) { platform::Keyboard::shared().type(text); }
    void tapSend(RZShareEditViewController& editor) { window_->tapView(*editor.sendButton()); }

    std::shared_ptr<RAZududeControllerService> service_ =
        std::make_shared<RAZududeControllerService>();
};

TEST_F(ShareEditorTest, ShowsTheShareTheCounterAndTheToolBarAboveTheKeyboard) {
    share("Hello", redSquare());
    auto editor = open();
    ASSERT_TRUE(editor);
    EXPECT_EQ(editor->nibName(), "RZShareEditViewController");
    EXPECT_EQ(editor->title(), "分享至腾讯微博");
    EXPECT_EQ(editor->textView()->text(), "Hello");
    EXPECT_TRUE(editor->textView()->isFirstResponder());
    EXPECT_EQ(editor->countLabel()->text(), "137");
    ASSERT_TRUE(editor->shareImageButton());
    EXPECT_TRUE(editor->shareImageButton()->image());
    EXPECT_EQ(editor->deleteImageButton()->tag(), RZShareEditViewController::kRemovePictureTag);
    EXPECT_FALSE(editor->atButton()->isHidden());
    EXPECT_TRUE(editor->followButton()->isHidden());
    EXPECT_EQ(editor->navigationItem().rightBarButtonItem()->customView(), editor->sendButton());
    EXPECT_TRUE(editor->navigationItem().leftBarButtonItem());

    // The tool bar sits on the keyboard, the switcher under it.
    const Rect& bounds = editor->view()->bounds();
    double keyboard = platform::Keyboard::shared().frame().height();
    EXPECT_EQ(editor->keyboardHeight(), keyboard);
    EXPECT_EQ(editor->toolBarView()->frame(), Rect(0, bounds.height() - keyboard - 44, 320, 44));
    EXPECT_EQ(editor->textView()->frame(), Rect(0, 0, 320 - 84, bounds.height() - keyboard - 44));
    EXPECT_EQ(editor->changeAccountBackgroundView()->frame(),
              Rect(0, bounds.height() - keyboard, 320, keyboard));
    EXPECT_EQ(editor->countLabel()->frame().minX(), 280);
    auto left = editor->changeAccountBackgroundView()->viewWithTag(101);
    ASSERT_TRUE(left);
    EXPECT_EQ(left->backgroundColor(), Color::rgb255(140, 140, 140));
    EXPECT_EQ(editor->snsNameLabel()->text(), "");

    // The switcher button puts the keyboard away and brings it back.
    window_->tapView(*editor->changeAccountButton());
    EXPECT_FALSE(editor->textView()->isFirstResponder());
    window_->tapView(*editor->changeAccountButton());
    EXPECT_TRUE(editor->textView()->isFirstResponder());
}

TEST_F(ShareEditorTest, TheCounterWeighsWidthAndLinks) {
    EXPECT_EQ(RZShareEditViewController::weightedLength(std::string(140, 'a'), "tencent"), 70);
    std::string chinese;
    for (int i = 0; i < 140; ++i) {
        chinese += "字";
    }
    EXPECT_EQ(RZShareEditViewController::weightedLength(chinese, "tencent"), 140);
    // A link counts 11 (10 on sina) whatever its length: the piece is matched as the user
    // wrote it, not percent-encoded.
    const std::string link = "http://www.example.com/a/very/long/path/that/goes/on?x=1";
    EXPECT_EQ(RZShareEditViewController::weightedLength(link, "tencent"), 11);
    EXPECT_EQ(RZShareEditViewController::weightedLength(link, "sina"), 10);
    EXPECT_EQ(RZShareEditViewController::weightedLength("see " + link + " now", "tencent"),
              2 + 11 + 2);
    EXPECT_EQ(RZShareEditViewController::weightedLength("www.example.com", "tencent"), 11);
    EXPECT_EQ(RZShareEditViewController::weightedLength("http://x", "tencent"), 4);

    // Typed text updates the counter.
    share("");
    auto editor = open();
    type("abcd ");
    type(link);
    EXPECT_EQ(editor->textView()->text(), "abcd " + link);
    EXPECT_EQ(editor->countLabel()->text(), std::to_string(140 - 3 - 11));
}

TEST_F(ShareEditorTest, TwitterCountsLinksAndThePictureFacebookCountsNothing) {
    share("go to https://example.com/abc now", redSquare());
    auto twitter = openBare("twitter");
    EXPECT_EQ(twitter->countLabel()->text(), std::to_string(140 - (33 - 23 + 23) - 24));
    navigation_->dismissViewController(false);
    drain();
    auto facebook = openBare("facebook");
    EXPECT_EQ(facebook->countLabel()->text(), "");
}

TEST_F(ShareEditorTest, NoticesKeepTheEditorAndTheDraft) {
    RequestPeer peer;
    share("  \n ");
    auto editor = open();
    tapSend(*editor);
    EXPECT_EQ(alertMessage(), "分享内容为空");
    platform::AlertView::visibleAlerts().back()->pressButtonAtIndex(0);
    EXPECT_TRUE(peer.ofKind(kRZSRequestShareToMultiSns).empty());

    // Over the limit: the notice goes, the editor and everything typed stay.
    std::string tooLong(278, 'x');
    type(tooLong);
    EXPECT_EQ(editor->countLabel()->text(), "-1");
    tapSend(*editor);
    EXPECT_EQ(alertMessage(), "分享内容超过长度限制");
    platform::AlertView::visibleAlerts().back()->pressButtonWithTitle("好");
    advance(1);
    EXPECT_TRUE(peer.ofKind(kRZSRequestShareToMultiSns).empty());
    EXPECT_TRUE(navigation_->presentedViewController());
    EXPECT_EQ(editor->textView()->text(), "  \n " + tooLong);
    EXPECT_TRUE(service_->currentNavigationController());
}

TEST_F(ShareEditorTest, SendPostsOnceThroughTheDataServiceAndReportsSuccess) {
    RequestPeer peer;
    share("Nice day", redSquare());
    auto editor = open();
    int barUpdates = 0;
    auto token = platform::NotificationCenter::defaultCenter().addObserver(
        "UpdateSocialBar", nullptr, [&](const platform::Notification&) { ++barUpdates; });
    tapSend(*editor);
    tapSend(*editor);  // the second tap while the first share runs does nothing
    auto shares = peer.ofKind(kRZSRequestShareToMultiSns);
    ASSERT_EQ(shares.size(), 1u);
    EXPECT_EQ(shares[0].parameters.values["snsNames"],
              platform::Value(platform::Array{platform::Value("tencent")}));
    // Asynchronous: the editor is gone before the reply.
    advance(1);
    EXPECT_FALSE(navigation_->presentedViewController());
    EXPECT_EQ(delegate_->events, (std::vector<std::string>{"close 3"}));

    shares[0].parameters.completion(social_test::response(200));
    auto bars = peer.ofKind(kRZSRequestBarInfo);
    ASSERT_EQ(bars.size(), 1u);
    EXPECT_EQ(barUpdates, 0);
    bars[0].parameters.completion(social_test::response(200));
    EXPECT_EQ(barUpdates, 1);
    EXPECT_EQ(toastText(), "发送成功");
    ASSERT_EQ(delegate_->responses.size(), 1u);
    EXPECT_EQ(delegate_->responses[0]->viewControllerType(), 3);
}

TEST_F(ShareEditorTest, RefusalsBecomeToastsAndAnExpiredTokenForgetsTheAccount) {
    RequestPeer peer;
    share("text");
    auto send = [&](RAZududeResponsePtr reply) {
        auto editor = open();
        tapSend(*editor);
        auto shares = peer.ofKind(kRZSRequestShareToMultiSns);
        ASSERT_FALSE(shares.empty());
        shares.back().parameters.completion(reply);
        advance(1);
    };
    platform::Map expired;
    expired.set("tencent", platform::Map{{"st", 5027}});
    send(social_test::response(510, expired));
    EXPECT_EQ(toastText(), "授权过期");
    EXPECT_FALSE(RZSUserManager::shareInstance().snsAccountDictionary().count("tencent"));

    platform::Map repeated;
    repeated.set("tencent", platform::Map{{"st", "5016"}});
    send(social_test::response(510, repeated));
    EXPECT_EQ(toastText(), "文字内容重复");

    platform::Map otherPlatform;
    otherPlatform.set("sina", platform::Map{{"st", 505}});
    send(social_test::response(510, otherPlatform));
    EXPECT_EQ(toastText(), "网络不给力");
    send(social_test::response(5050));
    EXPECT_EQ(toastText(), "网络不给力");
}

TEST_F(ShareEditorTest, CancellingTheRemoveSheetKeepsTheAttachment) {
    RequestPeer peer;
    share("with picture", redSquare());
    auto editor = open();
    window_->tapView(*editor->deleteImageButton());
    auto sheets = platform::ActionSheet::visibleSheets();
    ASSERT_EQ(sheets.size(), 1u);
    EXPECT_EQ(sheets[0]->buttonTitles(), (std::vector<std::string>{"删除图片", "取消"}));
    EXPECT_FALSE(editor->textView()->isFirstResponder());
    sheets[0]->pressButtonWithTitle("取消");
    ASSERT_TRUE(editor->shareImageButton());
    EXPECT_TRUE(editor->shareImageButton()->superview());

    window_->tapView(*editor->deleteImageButton());
    platform::ActionSheet::visibleSheets().back()->pressButtonWithTitle("删除图片");
    EXPECT_FALSE(editor->shareImageButton());
    EXPECT_TRUE(editor->deleteImageButton()->isHidden());

    // The share goes without the picture.
    tapSend(*editor);
    auto shares = peer.ofKind(kRZSRequestShareToMultiSns);
    ASSERT_EQ(shares.size(), 1u);
}

TEST_F(ShareEditorTest, AWebResourceSheetHasOnlyCancelWhichRemovesNothing) {
    share("page", nullptr,
          RAZududeUrlResource::initWithSnsResourceType(kRAZududeUrlResourceTypeWeb,
                                                       "http://example.com/page"));
    auto editor = open();
    ASSERT_TRUE(editor->shareImageButton());
    window_->tapView(*editor->deleteImageButton());
    auto sheets = platform::ActionSheet::visibleSheets();
    ASSERT_EQ(sheets.size(), 1u);
    EXPECT_EQ(sheets[0]->tag(), 14);
    EXPECT_EQ(sheets[0]->buttonTitles(), (std::vector<std::string>{"取消"}));
    sheets[0]->pressButtonAtIndex(0);
    EXPECT_TRUE(editor->shareImageButton());

    // A video resource is previewed by its picture and removed by its own button.
    navigation_->dismissViewController(false);
    drain();
    share("clip", nullptr,
          RAZududeUrlResource::initWithSnsResourceType(kRAZududeUrlResourceTypeVideo,
                                                       "http://example.com/v.mp4"));
    editor = open();
    EXPECT_EQ(editor->shareImageButton()->image(),
              platform::Image::named("RAZududeSDKResourcesNew.bundle/Buttons/RZS_url_video"));
    window_->tapView(*editor->deleteImageButton());
    platform::ActionSheet::visibleSheets().back()->pressButtonWithTitle("删除视频");
    EXPECT_FALSE(editor->shareImageButton());
}

TEST_F(ShareEditorTest, ASynchronousShareShowsItsProgressAndStays) {
    RAZududeConfigInternal::shareInstance().setShouldShareSynchronous(true);
    RequestPeer peer;
    share("slow");
    auto editor = open();
    tapSend(*editor);
    EXPECT_EQ(editor->navigationItem().titleView(), editor->progressView());
    advance(1.0);
    EXPECT_NEAR(editor->progressView()->progress(), 0.303, 0.001);
    advance(1.95);  // 29 ticks: 2.9 s
    EXPECT_NEAR(editor->progressView()->progress(), 0.879, 0.001);
    EXPECT_TRUE(editor->isProgressTimerRunning());
    advance(0.05);
    EXPECT_DOUBLE_EQ(editor->progressView()->progress(), 0.99);
    EXPECT_FALSE(editor->isProgressTimerRunning());
    EXPECT_TRUE(navigation_->presentedViewController());

    // A failure lets the user send again.
    peer.ofKind(kRZSRequestShareToMultiSns)
        .at(0)
        .parameters.completion(social_test::response(5050));
    EXPECT_FALSE(editor->isSending());
    tapSend(*editor);
    EXPECT_EQ(peer.ofKind(kRZSRequestShareToMultiSns).size(), 2u);
}

// The delegate hears one result per share: closing an editor whose share was answered tells it
// of no cancel; closing one whose share never went does.
TEST_F(ShareEditorTest, ClosingAfterTheReplyReportsNoSecondResult) {
    RAZududeConfigInternal::shareInstance().setShouldShareSynchronous(true);
    RequestPeer peer;
    share("done");
    auto tapClose = [&](RZShareEditViewController& editor) {
        auto item = editor.navigationItem().leftBarButtonItem();
        ASSERT_TRUE(item && item->customView());
        ASSERT_TRUE(window_->tapView(*item->customView()));
        advance(1);
    };
    auto editor = open();
    tapSend(*editor);
    peer.ofKind(kRZSRequestShareToMultiSns).at(0).parameters.completion(social_test::response(200));
    tapClose(*editor);
    EXPECT_EQ(delegate_->events, (std::vector<std::string>{"result 200", "close 3"}));

    // A failed share that the user gives up on: the failure was its answer.
    delegate_->events.clear();
    editor = open();
    tapSend(*editor);
    peer.ofKind(kRZSRequestShareToMultiSns)
        .at(1)
        .parameters.completion(social_test::response(5050));
    tapClose(*editor);
    EXPECT_EQ(delegate_->events, (std::vector<std::string>{"result 5050", "close 3"}));

    // Nothing sent: the close is the share's cancel.
    delegate_->events.clear();
    editor = open();
    tapClose(*editor);
    EXPECT_EQ(delegate_->events, (std::vector<std::string>{"result 5052", "close 3"}));
}

TEST_F(ShareEditorTest, TheFollowBoxSendsAFollowOnceAndIsThenGone) {
    platform::Map uids;
    uids.set("tencent", "official-1");
    RAZududeConfigInternal::shareInstance().setFollowSnsUids(uids);
    RequestPeer peer;
    share("follow us");
    auto editor = open();
    ASSERT_FALSE(editor->followButton()->isHidden());
    EXPECT_EQ(editor->followLabel()->text(), "关注官方微博");
    window_->tapView(*editor->followButton());
    EXPECT_EQ(editor->followButton()->tag(), RZShareEditViewController::kFollowOff);
    window_->tapView(*editor->followButton());
    EXPECT_EQ(editor->followButton()->tag(), RZShareEditViewController::kFollowOn);
    tapSend(*editor);
    auto follows = peer.ofKind(kRZSRequestFollow);
    ASSERT_EQ(follows.size(), 1u);
    follows[0].parameters.completion(social_test::response(200));
    EXPECT_TRUE(
        platform::UserDefaults::standardUserDefaults().boolForKey("RAZudude_Follow_tencent"));
    advance(1);
    editor = open();
    EXPECT_TRUE(editor->followButton()->isHidden());
}

TEST_F(ShareEditorTest, TheAtButtonPicksAFriendIntoTheText) {
    auto friendEntry = std::make_shared<RZSFriendEntity>();
    friendEntry->setName("Wang Wu");
    friendEntry->setLinkName("wangwu");
    friendEntry->setUsid("f1");
    friendEntry->setPinyin("wangwu");
    social_test::authorise("tencent");
    RZSUserManager::shareInstance().setFriendsDictionary({{"f1", friendEntry}}, "tencent");
    RZSUserManager::shareInstance().setAtFriendsArray({}, "tencent");
    share("Hi");
    auto editor = open();
    window_->tapView(*editor->atButton());
    advance(1);
    auto picker = editor->friendListViewController();
    ASSERT_TRUE(picker);
    EXPECT_EQ(editor->navigationController()->topViewController(), picker.get());
    // The bar stays as the editor had it, so that the picker's search bar shows below it.
    EXPECT_FALSE(editor->navigationController()->navigationBar().isTranslucent());
    EXPECT_EQ(picker->searchBar()->convertPointTo({0, 0}, nullptr).y, 63);
    ASSERT_EQ(picker->tableView()->numberOfSections(), 1);
    window_->update();
    auto row = picker->tableView()->cellForRowAtIndexPath({0, 0});
    ASSERT_TRUE(row);
    window_->tapView(*row);
    advance(1);
    EXPECT_EQ(editor->textView()->text(), "Hi @wangwu ");
    EXPECT_EQ(editor->navigationController()->topViewController(), editor.get());
    EXPECT_EQ(editor->countLabel()->text(), std::to_string(140 - 6));
}

TEST_F(ShareEditorTest, SwitchingAccountsLogsInAgainAndForgetsTheOldFriends) {
    RequestPeer peer;
    share("switch");
    auto editor = open();
    auto platform = RAZududeSnsPlatformManager::getSocialPlatformWithName("tencent");
    auto saved = platform->loginClickHandler();
    std::vector<bool> presented;
    platform->setLoginClickHandler([&](const std::shared_ptr<platform::ViewController>& from,
                                       const std::shared_ptr<RAZududeScreenHost>& host,
                                       bool isPresent, RAZududeResponseCompletion completion) {
        EXPECT_EQ(from, editor);
        EXPECT_EQ(host, service_);
        presented.push_back(isPresent);
        // The login screen stands in as the service's delegate meanwhile.
        host->setSocialUIDelegate(std::weak_ptr<RAZududeUIDelegate>());
        completion(social_test::response(200));
    });
    auto stale = std::make_shared<RZSFriendEntity>();
    stale->setUsid("old");
    RZSUserManager::shareInstance().setFriendsDictionary({{"old", stale}}, "tencent");
    service_->setNextViewController(kRAZududeViewControllerShareEdit);

    // The switcher shows under the keyboard once the keyboard is away.
    window_->tapView(*editor->changeAccountButton());
    auto other = editor->changeAccountView()->subviews().at(3);
    ASSERT_TRUE(window_->tapView(*other));
    platform->setLoginClickHandler(saved);
    EXPECT_EQ(presented, std::vector<bool>{false});
    EXPECT_EQ(service_->nextViewController(), -1);
    EXPECT_EQ(service_->socialUIDelegate(), delegate_);

    // A new account: its name shows, and the old account's friends are let go.
    auto account = std::make_shared<RAZududeAccountEntity>("tencent");
    account->setUsid("new-usid");
    account->setUserName("New Name");
    RAZududeAccountManager::setSnsAccount(account);
    auto accounts = peer.ofKind(kRZSRequestSnsAccount);
    ASSERT_EQ(accounts.size(), 2u);  // the first when the editor opened without a name
    accounts.back().parameters.completion(social_test::response(200));
    EXPECT_EQ(editor->snsNameLabel()->text(), "New Name");
    auto friends = RZSUserManager::shareInstance().friendsDictionaryWithSnsName("tencent");
    EXPECT_FALSE(friends && friends->count("old"));
}

TEST_F(ShareEditorTest, RepliesAfterTheEditorWentChangeNoScreen) {
    RequestPeer peer;
    share("bye");
    auto editor = open();
    auto accounts = peer.ofKind(kRZSRequestSnsAccount);
    ASSERT_EQ(accounts.size(), 1u);  // no user name yet
    tapSend(*editor);
    auto shares = peer.ofKind(kRZSRequestShareToMultiSns);
    ASSERT_EQ(shares.size(), 1u);
    advance(1);
    std::weak_ptr<RZShareEditViewController> gone = editor;
    editor.reset();
    EXPECT_FALSE(gone.lock());
    accounts[0].parameters.completion(social_test::response(200));
    shares[0].parameters.completion(social_test::response(5050));
    EXPECT_EQ(toastText(), "网络不给力");
    EXPECT_FALSE(navigation_->presentedViewController());
}

TEST_F(ShareEditorTest, TheEditorAsAPicture) {
    share("Pictures of the day");
    auto editor = open();
    window_->update();
    auto png = ui_test::windowPicture(*window_, "share-editor.png");
    ASSERT_TRUE(png);
    // The counter's digits are drawn in dark grey on the tool bar.
    Rect counter = editor->countLabel()->convertRectTo(editor->countLabel()->bounds(), nullptr);
    int dark = ui_test::countIn(*png, counter, [](Color c) { return c.r < 0.5 && c.g < 0.5; });
    EXPECT_GT(dark, 20);
    // The text too, on white.
    Rect text = editor->textView()->convertRectTo(Rect(0, 0, 200, 30), nullptr);
    EXPECT_GT(ui_test::countIn(*png, text, [](Color c) { return c.r < 0.3; }), 20);
}

}  // namespace
