// Controllers: the life cycle calls of presentation and navigation in their order, the
// presenting controller, form sheets, and the navigation bar with its items.
#include "platform/ui/ViewController.h"

#include "platform/Device.h"
#include "platform/ui/Button.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/Screen.h"
#include "platform/ui/TabBarController.h"
#include "tests/platform_ui/UiTest.h"

using namespace platform;

namespace {

using Log = std::vector<std::string>;

class Screenful : public ViewController {
  public:
    Screenful(std::string name, Log& log) : name_(std::move(name)), log_(log) {}
    void viewDidLoad() override { log_.push_back(name_ + " load"); }
    void viewWillAppear(bool) override { log_.push_back(name_ + " will appear"); }
    void viewDidAppear(bool) override { log_.push_back(name_ + " did appear"); }
    void viewWillDisappear(bool) override { log_.push_back(name_ + " will disappear"); }
    void viewDidDisappear(bool) override { log_.push_back(name_ + " did disappear"); }

  private:
    std::string name_;
    Log& log_;
};

class ControllerTest : public ui_test::UiTest {
  protected:
    Log log;
    std::shared_ptr<Screenful> make(const std::string& name) {
        return std::make_shared<Screenful>(name, log);
    }
};

TEST_F(ControllerTest, RootAppearsWithTheWindowAndFillsIt) {
    auto window = Window::make();
    auto a = make("A");
    window->setRootViewController(a);
    EXPECT_EQ(log, (Log{"A load"}));
    window->makeKeyAndVisible();
    EXPECT_EQ(log, (Log{"A load", "A will appear", "A did appear"}));
    EXPECT_EQ(a->view()->frame(), Screen::main().bounds());
    EXPECT_EQ(a->view()->superview(), window.get());
    EXPECT_EQ(a->view()->viewController(), a.get());
    EXPECT_TRUE(a->isVisible());
}

TEST_F(ControllerTest, PresentingAndDismissingCallTheLifeCycleInOrder) {
    auto window = keyWindow();
    auto a = make("A");
    window->setRootViewController(a);
    auto b = make("B");
    log.clear();
    bool presented = false;
    a->presentViewController(b, true, [&] { presented = true; });
    EXPECT_EQ(log, (Log{"B load", "A will disappear", "B will appear"}));
    EXPECT_EQ(b->view()->superview(), window.get());  // the end state is there at once
    EXPECT_EQ(b->presentingViewController(), a);
    EXPECT_EQ(a->presentedViewController(), b);
    advance(ViewController::kTransitionDuration - 0.01);
    EXPECT_FALSE(presented);
    advance(0.02);
    EXPECT_TRUE(presented);
    EXPECT_EQ(log, (Log{"B load", "A will disappear", "B will appear", "B did appear",
                        "A did disappear"}));

    // A second presentation from the same controller is refused and never completes.
    bool second = false;
    a->presentViewController(make("C"), false, [&] { second = true; });
    EXPECT_FALSE(second);

    log.clear();
    bool dismissed = false;
    b->dismissViewController(true, [&] { dismissed = true; });
    EXPECT_EQ(log, (Log{"B will disappear", "A will appear"}));
    EXPECT_EQ(b->view()->superview(), nullptr);
    EXPECT_EQ(b->presentingViewController(), nullptr);
    advance(ViewController::kTransitionDuration);
    EXPECT_TRUE(dismissed);
    EXPECT_EQ(log, (Log{"B will disappear", "A will appear", "B did disappear", "A did appear"}));
}

TEST_F(ControllerTest, PresentationWithoutAnimationCompletesBeforeReturning) {
    auto window = keyWindow();
    auto a = make("A");
    window->setRootViewController(a);
    auto b = make("B");
    bool done = false;
    a->presentViewController(b, false, [&] { done = true; });
    EXPECT_TRUE(done);
    EXPECT_TRUE(b->isVisible());
    a->dismissModalViewControllerAnimated(false);
    EXPECT_FALSE(b->isVisible());
    EXPECT_TRUE(a->isVisible());
}

TEST_F(ControllerTest, ControllersOutsideAWindowCannotPresent) {
    auto a = make("A");
    auto b = make("B");
    bool done = false;
    a->presentViewController(b, false, [&] { done = true; });
    EXPECT_FALSE(done);
    EXPECT_EQ(b->presentingViewController(), nullptr);
}

TEST_F(ControllerTest, DismissingFromAChildOfAPresentedContainerDismissesTheContainer) {
    auto window = keyWindow();
    auto a = make("A");
    window->setRootViewController(a);
    auto b = make("B");
    auto nav = std::make_shared<NavigationController>(b);
    a->presentViewController(nav, false);
    EXPECT_EQ(b->presentingViewController(), a);  // inherited from the container
    EXPECT_EQ(nav->presentingViewController(), a);

    // Something presented over the container goes with it.
    auto c = make("C");
    b->presentViewController(c, false);
    EXPECT_EQ(c->presentingViewController(), nav);
    log.clear();
    b->dismissViewController(
        false);  // b presents nothing itself: its container's presentation goes
    EXPECT_EQ(nav->presentedViewController(), nullptr);
    c->dismissViewController(false);  // already gone: nothing happens
    EXPECT_EQ(nav->presentingViewController(), a);
    nav->dismissViewController(false);
    EXPECT_EQ(nav->presentingViewController(), nullptr);
    EXPECT_EQ(window->subviews().size(), 1u);
    EXPECT_TRUE(a->isVisible());
}

TEST_F(ControllerTest, PushAndPopCallTheLifeCycleInOrderAndKeepTheBarInStep) {
    auto window = keyWindow();
    auto a = make("A");
    a->setTitle("First");
    auto nav = std::make_shared<NavigationController>(a);
    nav->navigationBar().setTranslucent(false);
    window->setRootViewController(nav);
    EXPECT_EQ(log, (Log{"A load", "A will appear", "A did appear"}));
    EXPECT_EQ(a->navigationController(), nav.get());
    nav->view()->layoutIfNeeded();
    EXPECT_EQ(nav->navigationBar().frame(), (Rect{0, 20, 320, 44}));
    EXPECT_EQ(a->view()->frame(), (Rect{0, 64, 320, 504}));

    auto b = make("B");
    b->setTitle("Second");
    log.clear();
    nav->pushViewController(b, true);
    EXPECT_EQ(log, (Log{"B load", "A will disappear", "B will appear"}));
    EXPECT_EQ(nav->topViewController(), b.get());
    EXPECT_EQ(nav->navigationBar().topItem(), &b->navigationItem());
    advance(ViewController::kTransitionDuration);
    EXPECT_EQ(log, (Log{"B load", "A will disappear", "B will appear", "A did disappear",
                        "B did appear"}));
    EXPECT_EQ(a->view()->superview(), nullptr);
    EXPECT_EQ(b->view()->superview(), nav->view().get());

    // Below the first screen the bar offers a back button titled after the screen before.
    nav->view()->layoutIfNeeded();
    ASSERT_NE(nav->navigationBar().backButton(), nullptr);
    EXPECT_EQ(nav->navigationBar().leftViewShown(), nav->navigationBar().backButton());
    EXPECT_EQ(nav->navigationBar().backButton()->currentTitle(), "First");

    log.clear();
    window->tapView(*nav->navigationBar().backButton());
    EXPECT_EQ(log, (Log{"B will disappear", "A will appear"}));
    EXPECT_EQ(b->navigationController(), nav.get());  // until it has gone
    advance(ViewController::kTransitionDuration);
    EXPECT_EQ(log, (Log{"B will disappear", "A will appear", "B did disappear", "A did appear"}));
    EXPECT_EQ(b->navigationController(), nullptr);
    EXPECT_EQ(nav->viewControllers().size(), 1u);
    EXPECT_EQ(nav->popViewControllerAnimated(false), nullptr);  // the root stays
}

TEST_F(ControllerTest, TabsShowOneScreenAboveTheBarAndSwitchItsLifeCycle) {
    auto window = keyWindow();
    auto a = make("A");
    auto b = make("B");
    auto nav = std::make_shared<NavigationController>(b);
    auto taken = make("T");
    auto holder = std::make_shared<NavigationController>(taken);
    auto tabs = std::make_shared<TabBarController>(
        std::vector<std::shared_ptr<ViewController>>{a, nav, taken, nullptr});
    ASSERT_EQ(tabs->viewControllers().size(), 2u);  // one with a parent, and none, left out
    EXPECT_EQ(taken->parentViewController(), holder.get());
    window->setRootViewController(tabs);
    EXPECT_EQ(log, (Log{"A load", "A will appear", "A did appear"}));
    EXPECT_EQ(tabs->selectedViewController(), a.get());
    EXPECT_EQ(a->view()->frame(), (Rect{0, 0, 320, 519}));
    EXPECT_EQ(tabs->tabBar().frame(), (Rect{0, 519, 320, 49}));
    EXPECT_EQ(a->view()->superview(), tabs->view().get());
    EXPECT_FALSE(b->isViewLoaded());

    // Every screen inside finds the tabs, through other containers too.
    EXPECT_EQ(a->tabBarController(), tabs.get());
    EXPECT_EQ(b->tabBarController(), tabs.get());
    EXPECT_EQ(b->navigationController(), nav.get());
    EXPECT_FALSE(tabs->tabBarController());
    EXPECT_FALSE(taken->tabBarController());

    log.clear();
    tabs->setSelectedIndex(1);
    EXPECT_EQ(log, (Log{"B load", "A will disappear", "B will appear", "A did disappear",
                        "B did appear"}));
    EXPECT_EQ(tabs->selectedIndex(), 1u);
    EXPECT_FALSE(a->view()->superview());
    EXPECT_EQ(nav->view()->superview(), tabs->view().get());
    EXPECT_EQ(nav->view()->frame(), (Rect{0, 0, 320, 519}));
    EXPECT_TRUE(b->isVisible());

    log.clear();
    tabs->setSelectedIndex(1);
    tabs->setSelectedIndex(7);
    EXPECT_EQ(log, Log{});
    EXPECT_EQ(tabs->selectedIndex(), 1u);
}

TEST_F(ControllerTest, BarShowsCustomButtonsAndTitleViewsOfTheTopItem) {
    ScopedTextMeasurer fixed;
    auto window = keyWindow();
    auto a = make("A");
    auto nav = std::make_shared<NavigationController>(a);
    window->setRootViewController(nav);
    auto close = std::make_shared<Button>(Rect{0, 0, 50, 30});
    int closes = 0;
    close->addTarget([&](Control&) { ++closes; }, kControlEventTouchUpInside);
    a->navigationItem().setLeftBarButtonItem(std::make_shared<BarButtonItem>(close));
    auto send = std::make_shared<Button>(Rect{0, 0, 50, 30});
    a->navigationItem().setRightBarButtonItem(std::make_shared<BarButtonItem>(send));
    a->setTitle("分享至");
    NavigationBar& bar = nav->navigationBar();
    bar.setTitleTextAttributes(TitleTextAttributes{Color::white(), Font::system(18)});
    drain();

    EXPECT_EQ(close->superview(), &bar);
    EXPECT_EQ(close->frame(), (Rect{5, 7, 50, 30}));
    EXPECT_EQ(send->frame(), (Rect{265, 7, 50, 30}));
    auto* title = dynamic_cast<Label*>(bar.titleViewShown());
    ASSERT_NE(title, nullptr);
    EXPECT_EQ(title->text(), "分享至");
    EXPECT_EQ(title->textColor(), Color::white());
    EXPECT_EQ(title->frame().size, (Size{54, 22}));  // three wide glyphs of 18 points
    EXPECT_DOUBLE_EQ(title->frame().midX(), 160);
    window->tapView(*close);
    EXPECT_EQ(closes, 1);

    // A title view replaces the title; the former item's views leave with it.
    auto custom = std::make_shared<Label>(Rect{0, 0, 100, 30});
    a->navigationItem().setTitleView(custom);
    a->navigationItem().setRightBarButtonItem(nullptr);
    drain();
    EXPECT_EQ(bar.titleViewShown(), custom.get());
    EXPECT_EQ(title->superview(), nullptr);
    EXPECT_EQ(send->superview(), nullptr);

    // Views the app put into the bar itself stay where they are.
    auto art = std::make_shared<View>(bar.bounds());
    art->setTag(100101);
    bar.insertSubview(art, 0);
    a->navigationItem().setTitle("other");
    drain();
    EXPECT_EQ(bar.viewWithTag(100101), art);
    EXPECT_EQ(bar.subviews().front(), art);
}

TEST_F(ControllerTest, FormSheetsAreCentredOnWideScreensAndLeaveThePresenterShown) {
    DeviceProfile pad;
    pad.idiom = InterfaceIdiom::kPad;
    pad.screenWidth = 768;
    pad.screenHeight = 1024;
    ScopedDeviceProfile scoped(pad);
    auto window = keyWindow();
    auto a = make("A");
    window->setRootViewController(a);
    auto b = make("B");
    b->setModalPresentationStyle(ModalPresentationStyle::kFormSheet);
    log.clear();
    a->presentViewController(b, false);
    EXPECT_EQ(log, (Log{"B load", "B will appear", "B did appear"}));
    EXPECT_EQ(b->view()->convertRectTo(b->view()->bounds(), nullptr), (Rect{114, 202, 540, 620}));
    // The screens resize the sheet through the bounds of its container view.
    View* sheet = b->view()->superview();
    sheet->setBounds({0, 0, 533, 545});
    EXPECT_EQ(b->view()->frame().size, (Size{533, 545}));
    EXPECT_EQ(sheet->center(), (Point{384, 512}));
}

class Turning : public Screenful {
  public:
    using Screenful::Screenful;
    bool shouldAutorotateToInterfaceOrientation(int o) override {
        return o != kOrientationPortraitUpsideDown;
    }
    void willRotateToInterfaceOrientation(int o, double) override { to = o; }
    void didRotateFromInterfaceOrientation(int o) override { from = o; }
    int to = 0;
    int from = 0;
};

TEST_F(ControllerTest, RotationAsksTheTopControllerAndTurnsTheScreen) {
    auto window = keyWindow();
    auto a = std::make_shared<Turning>("A", log);
    window->setRootViewController(a);
    EXPECT_FALSE(Application::shared().rotateTo(kOrientationPortraitUpsideDown));
    EXPECT_TRUE(Application::shared().rotateTo(kOrientationLandscapeLeft));
    EXPECT_EQ(a->to, kOrientationLandscapeLeft);
    EXPECT_EQ(a->from, kOrientationPortrait);
    EXPECT_EQ(Screen::main().bounds(), (Rect{0, 0, 568, 320}));
    EXPECT_EQ(a->view()->frame(), (Rect{0, 0, 568, 320}));
    EXPECT_EQ(currentDevice().orientation, DeviceOrientation::kLandscapeRight);  // same number, 4
    EXPECT_TRUE(isLandscape(a->interfaceOrientation()));
}

TEST_F(ControllerTest, TheInterfaceFollowsTheDeviceProfileExceptLyingFlat) {
    DeviceProfile turned;
    turned.orientation = DeviceOrientation::kLandscapeLeft;
    {
        ScopedDeviceProfile scoped(turned);
        EXPECT_EQ(Application::shared().statusBarOrientation(), kOrientationLandscapeRight);
        EXPECT_EQ(Screen::main().bounds(), (Rect{0, 0, 568, 320}));
        turned.orientation = DeviceOrientation::kFaceUp;
        setCurrentDevice(turned);
        EXPECT_EQ(Application::shared().statusBarOrientation(), kOrientationLandscapeRight);
    }
    EXPECT_EQ(Application::shared().statusBarOrientation(), kOrientationPortrait);
    EXPECT_EQ(Application::shared().statusBarFrame(), (Rect{0, 0, 320, 20}));
    EXPECT_EQ(Screen::main().applicationFrame(), (Rect{0, 20, 320, 548}));
}

TEST_F(ControllerTest, ApplicationRecordsTheUrlsItWasAskedToOpen) {
    Application& app = Application::shared();
    EXPECT_TRUE(app.openUrl("https://example.org/login"));
    EXPECT_FALSE(app.canOpenUrl("weixin://app"));
    EXPECT_FALSE(app.openUrl("weixin://app"));
    app.registerUrlScheme("weixin");
    EXPECT_TRUE(app.canOpenUrl("WeiXin://app"));
    EXPECT_FALSE(app.canOpenUrl("not a url"));
    EXPECT_EQ(app.openedUrls(),
              (std::vector<std::string>{"https://example.org/login", "weixin://app"}));
    app.reset();
    EXPECT_TRUE(app.openedUrls().empty());
    EXPECT_FALSE(app.canOpenUrl("weixin://app"));
}

TEST_F(ControllerTest, ApplicationKeepsTheMessagesHandedToItsComposers) {
    Application& app = Application::shared();
    EXPECT_TRUE(app.composedMessages().empty());
    ComposedMessage mail;
    mail.subject = "标题";
    mail.body = "正文";
    mail.attachments.push_back({"share.png", "image/png", {1, 2, 3}});
    app.composeMessage(mail);
    ComposedMessage text;
    text.kind = ComposedMessage::Kind::kText;
    text.body = "hello";
    app.composeMessage(text);
    ASSERT_EQ(app.composedMessages().size(), 2u);
    EXPECT_EQ(app.composedMessages()[0].kind, ComposedMessage::Kind::kMail);
    EXPECT_EQ(app.composedMessages()[0].attachments[0].data, (Bytes{1, 2, 3}));
    EXPECT_EQ(app.composedMessages()[1].body, "hello");
    app.reset();
    EXPECT_TRUE(app.composedMessages().empty());
}

}  // namespace
