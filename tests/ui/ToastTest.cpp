// Toasts: size from the measured text, placement by gravity and offsets, one toast per window,
// the display timer, touch to hide, the shared settings and what the configuration does to
// them, and toasts as pictures.
#include "SocialSDK/ui/toast/RAZududeToast.h"

#include <cstdlib>
#include <numbers>

#include "SocialSDK/core/config/RAZududeConfig.h"
#include "tests/platform_ui/UiTest.h"
#include "tests/ui/Pictures.h"

using namespace platform;

namespace {

class ToastTest : public ui_test::UiTest {
  protected:
    // Back to the shared settings as the configuration leaves them.
    void TearDown() override {
        RAZududeConfig::shareInstance();
        auto& shared = RAZududeToastSettings::getSharedSettings();
        shared.setGravity(kRAZududeToastGravityTop);
        shared.setDuration(1000);
        shared.setIsHidden(false);
        RAZududeConfig::hiddenStatusTip(false);
        UiTest::TearDown();
    }
    static int toastsIn(const View& window) {
        int count = 0;
        for (const auto& view : window.subviews()) {
            count += view->tag() == RAZududeToast::kViewTag;
        }
        return count;
    }
    // In a process of its own, where the configuration is not made yet.
    static void inFreshProcess(const std::function<bool()>& check) {
        GTEST_FLAG_SET(death_test_style, "threadsafe");
        EXPECT_EXIT(std::exit(check() ? 0 : 1), ::testing::ExitedWithCode(0), "");
    }
};

TEST_F(ToastTest, SizeFromTheMeasuredTextAndPlaceFromTheGravity) {
    ScopedTextMeasurer metrics;
    auto window = keyWindow();
    auto toast = RAZududeToast::makeText("Shared!");  // 7 x 8 by 20 in the 16-point font
    toast->show();
    // Made by `show`, the configuration sends toasts 45 points below the window's top.
    EXPECT_EQ(toast->view()->frame(), (Rect{112, 27, 96, 36}));
    EXPECT_EQ(toast->view()->subviews().back()->frame(), (Rect{10, 4, 76, 28}));
    EXPECT_EQ(toast->view()->layer().cornerRadius(), 8);
    EXPECT_EQ(toast->view()->backgroundColor(), Color::black().withAlpha(0.6));

    auto centreOf = [](RAZududeToast& t) {
        t.show(RAZududeToast::kTypeNoImage);
        return t.view()->center();
    };
    EXPECT_EQ(centreOf(RAZududeToast::makeText("a")->setGravity(kRAZududeToastGravityBottom)),
              (Point{160, 523}));
    EXPECT_EQ(centreOf(RAZududeToast::makeText("a")->setGravity(kRAZududeToastGravityCenter)),
              (Point{160, 284}));
    EXPECT_EQ(centreOf(RAZududeToast::makeText("a")->setGravity(kRAZududeToastGravityTop, -10, 5)),
              (Point{150, 50}));
    EXPECT_EQ(centreOf(RAZududeToast::makeText("a")->setGravity(7).setPostion({100, 200})),
              (Point{100, 200}));

    // Long text is cut to three lines of the 280 x 60 box; no text gives the smallest toast.
    auto longToast = RAZududeToast::makeText(std::string(200, 'x'));
    longToast->show(RAZududeToast::kTypeNoImage);
    EXPECT_EQ(longToast->view()->bounds().size, (Size{320, 74}));
    auto empty = RAZududeToast::makeText("");
    empty->show(RAZududeToast::kTypeNoImage);
    EXPECT_EQ(empty->view()->bounds().size, (Size{40, 16}));
}

TEST_F(ToastTest, OlderSystemsTurnTheToastWithALandscapeInterface) {
    auto profile = currentDevice();
    profile.systemVersion = "7.1";
    ScopedDeviceProfile older(profile);
    auto window = keyWindow();
    Application::shared().setStatusBarOrientation(kOrientationLandscapeRight);

    auto toast = RAZududeToast::makeText("a");
    toast->setGravity(kRAZududeToastGravityTop, 5, 7).show(RAZududeToast::kTypeNoImage);
    Rect frame = window->frame();
    EXPECT_EQ(toast->view()->center(), (Point{frame.width() - 45 - 7, frame.height() / 2 - 5}));
    EXPECT_EQ(toast->view()->transform(), AffineTransform::rotation(std::numbers::pi / 2));
}

TEST_F(ToastTest, OneToastPerWindowForItsDurationUntilRemoved) {
    auto window = keyWindow();
    auto first = RAZududeToast::makeText("first");
    first->show();
    auto second = RAZududeToast::makeText("请稍等......");
    second->setDuration(30000).show();
    EXPECT_EQ(toastsIn(*window), 1);
    EXPECT_EQ(first->view()->superview(), nullptr);

    auto view = second->view();
    advance(29.9);
    EXPECT_EQ(view->alpha(), 1);
    advance(0.2);
    EXPECT_EQ(view->alpha(), 0);
    EXPECT_EQ(view->superview(), window.get());  // transparent, still there
    second->removeToast();
    EXPECT_EQ(toastsIn(*window), 0);
}

TEST_F(ToastTest, ATouchFadesItOutEvenWhenTheToastWasLetGo) {
    auto window = keyWindow();
    auto toast = RAZududeToast::makeText("tap me");
    toast->show();
    std::shared_ptr<Button> view = toast->view();
    toast.reset();
    window->tapView(*view);
    EXPECT_EQ(view->alpha(), 0);
    advance(2);  // the display timer fires on the faded view
    EXPECT_EQ(view->alpha(), 0);
}

TEST_F(ToastTest, NoWindowMeansNoToast) {
    ASSERT_TRUE(Application::shared().windows().empty());
    auto toast = RAZududeToast::makeText("nowhere");
    EXPECT_NO_THROW(toast->show());
    EXPECT_FALSE(toast->view());
    EXPECT_NO_THROW(toast->removeToast());
}

TEST_F(ToastTest, EachToastWorksOnItsOwnCopyOfTheSharedSettings) {
    auto& shared = RAZududeToastSettings::getSharedSettings();
    shared.setDuration(2500);
    shared.setImageLocation(kRAZududeToastImageLocationLeft);
    auto toast = RAZududeToast::makeText("mine");
    EXPECT_EQ(toast->theSettings().duration(), 2500);
    EXPECT_EQ(toast->theSettings().imageLocation(), kRAZududeToastImageLocationTop);
    shared.setImageLocation(kRAZududeToastImageLocationTop);

    shared.setDuration(9000);
    EXPECT_EQ(toast->theSettings().duration(), 2500);
}

TEST_F(ToastTest, HiddenToastsSilenceShowButNotAShowOfAType) {
    auto window = keyWindow();
    RAZududeConfig::setFinishToastIsHidden(true, kRAZududeToastGravityCenter);
    auto silenced = RAZududeToast::makeText("silenced");
    silenced->show();
    EXPECT_FALSE(silenced->view());

    auto direct = RAZududeToast::makeText("direct");
    direct->show(RAZududeToast::kTypeNoImage);
    ASSERT_TRUE(direct->view());
    EXPECT_EQ(direct->view()->center(), (Point{160, 284}));

    RAZududeConfig::setFinishToastIsHidden(false, kRAZududeToastGravityTop);
    RAZududeConfig::hiddenStatusTip(true);
    auto tip = RAZududeToast::makeText("tip");
    tip->show();
    EXPECT_FALSE(tip->view());
}

TEST_F(ToastTest, TheConfigurationIsMadeByTheFirstShowNotBefore) {
    inFreshProcess([this] {
        auto window = keyWindow();
        auto early = RAZududeToast::makeText("early");
        early->show(RAZududeToast::kTypeNoImage);
        auto later = RAZududeToast::makeText("later");
        later->show();
        return early->view()->center().y == 284 && later->view()->center().y == 45;
    });
}

TEST_F(ToastTest, FinishToastSettingsMadeBeforeTheConfigurationAreKept) {
    inFreshProcess([this] {
        auto window = keyWindow();
        RAZududeConfig::setFinishToastIsHidden(false, kRAZududeToastGravityBottom);
        auto toast = RAZududeToast::makeText("kept");
        toast->show();
        return toast->view() && toast->view()->center().y == 523;
    });
}

TEST_F(ToastTest, PicturesShowTheToastAtItsGravity) {
    auto window = keyWindow();
    window->setBackgroundColor(Color::white());
    const Color toastGrey = Color::gray(0.4);  // black at 0.6 over white
    for (auto [gravity, centreY, file] :
         {std::tuple{kRAZududeToastGravityTop, 45, "toast_top.png"},
          std::tuple{kRAZududeToastGravityBottom, 523, "toast_bottom.png"}}) {
        SCOPED_TRACE(file);
        auto toast = RAZududeToast::makeText("分享成功");
        toast->setGravity(gravity).show();
        auto png = ui_test::windowPicture(*window, file);
        ASSERT_TRUE(png);

        Rect frame = toast->view()->frame();
        auto [left, right] = ui_test::spanOf(*png, frame.midY(), toastGrey);
        EXPECT_NEAR(left, frame.minX(), 1);
        EXPECT_NEAR(right, frame.maxX(), 1);
        EXPECT_NEAR((left + right) / 2, 160, 1);
        auto [top, bottom] = ui_test::spanOf(*png, frame.minX() + 9, toastGrey, true);
        EXPECT_NEAR(top, frame.minY(), 1);
        EXPECT_NEAR((top + bottom) / 2, centreY, 1);
        // Rounded corners show the white behind; white text inside; nothing elsewhere.
        EXPECT_TRUE(ui_test::near(ui_test::pixelAt(*png, frame.minX() + 0.5, frame.minY() + 0.5),
                                  Color::white(), 0.15));
        EXPECT_GT(ui_test::countIn(*png, frame.insetBy(10, 4),
                                   [](Color c) { return ui_test::near(c, Color::white(), 0.2); }),
                  20);
        EXPECT_TRUE(ui_test::near(ui_test::pixelAt(*png, 160, 284), Color::white(), 0.01));
    }
}

TEST_F(ToastTest, ALongTextIsCutToTwoLinesInsideTheToast) {
    // Measured in a box of 280 x 60 points, drawn at scale 2: what shows stays on the panel.
    auto window = keyWindow();
    const Color backdrop = Color::rgb255(40, 120, 40);
    window->setBackgroundColor(backdrop);
    auto toast = RAZududeToast::makeText(
        "分享失败：你还没有安装微信客户端，请先安装最新版本的微信再回来分享这条内容，"
        "谢谢你的支持与理解");
    toast->setGravity(kRAZududeToastGravityCenter).show();
    auto png = ui_test::windowPicture(*window, "toast_long.png");
    ASSERT_TRUE(png);

    Rect frame = toast->view()->frame();
    double line = Font::system(16).lineHeight();
    EXPECT_NEAR(frame.height(), 2 * line + 16, 1);
    EXPECT_LE(frame.width(), 280 + 40);
    auto unlike = [&](Color c) { return !ui_test::near(c, backdrop, 0.02); };
    EXPECT_EQ(ui_test::countIn(*png, Rect(0, frame.maxY() + 1, 320, 60), unlike), 0);
    EXPECT_EQ(ui_test::countIn(*png, Rect(0, frame.minY() - 60, 320, 59), unlike), 0);
    // Both lines show white text.
    auto white = [](Color c) { return ui_test::near(c, Color::white(), 0.1); };
    EXPECT_GT(
        ui_test::countIn(*png, Rect(frame.minX(), frame.minY(), frame.width(), 8 + line), white),
        200);
    EXPECT_GT(ui_test::countIn(
                  *png, Rect(frame.minX(), frame.minY() + 8 + line, frame.width(), line), white),
              200);
    // Nothing of a third line below them.
    double below = frame.minY() + 9 + 2 * line;
    EXPECT_EQ(ui_test::countIn(*png, Rect(frame.minX(), below, frame.width(), frame.maxY() - below),
                               white),
              0);
}

}  // namespace
