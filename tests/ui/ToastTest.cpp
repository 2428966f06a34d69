// Toasts: size from the measured text, placement by gravity and offsets, one toast per window,
// the display timer on the manual clock, touch to hide, the shared settings and what the
// configuration does to them, and toasts as pictures.
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
    ToastTest() {
        auto& shared = RAZududeToastSettings::getSharedSettings();
        saved_.setGravity(shared.gravity());
        saved_.setDuration(shared.duration());
        saved_.setPostition(shared.postition());
        saved_.setIsHidden(shared.isHidden());
    }
    void TearDown() override {
        auto& shared = RAZududeToastSettings::getSharedSettings();
        shared.setGravity(saved_.gravity());
        shared.setDuration(saved_.duration());
        shared.setPostition(saved_.postition());
        shared.setIsHidden(saved_.isHidden());
        RAZududeConfig::hiddenStatusTip(false);
        UiTest::TearDown();
    }

    // The toast views in the window.
    static int toastsIn(const View& window) {
        int count = 0;
        for (const auto& view : window.subviews()) {
            count += view->tag() == RAZududeToast::kViewTag;
        }
        return count;
    }

    RAZududeToastSettings saved_;
};

// ---- size and placement ----------------------------------------------------------------

TEST_F(ToastTest, OneLineToastIsTheTextPlusPaddingAtTheTopOfTheWindow) {
    ScopedTextMeasurer metrics;
    auto window = keyWindow();
    auto toast = RAZududeToast::makeText("Shared!");  // 7 x 8 by 20 in the 16-point font
    toast->show();

    auto view = toast->view();
    ASSERT_TRUE(view);
    EXPECT_EQ(view->superview(), window.get());
    EXPECT_EQ(view->tag(), 6984678);
    // The configuration, made by `show`, sends toasts 45 points below the window's top.
    EXPECT_EQ(view->frame(), (Rect{160 - 48, 45 - 18, 96, 36}));
    EXPECT_EQ(view->backgroundColor(), Color::black().withAlpha(0.6));
    EXPECT_EQ(view->layer().cornerRadius(), 8);

    // The text's label comes after the button's own parts.
    auto label = std::dynamic_pointer_cast<Label>(view->subviews().back());
    ASSERT_TRUE(label);
    EXPECT_EQ(label->frame(), (Rect{10, 4, 76, 28}));
    EXPECT_EQ(label->text(), "Shared!");
    EXPECT_EQ(label->font(), Font::system(16));
    EXPECT_EQ(label->textColor(), Color::white());
    EXPECT_EQ(label->numberOfLines(), 0);
    EXPECT_EQ(label->shadowOffset(), (Size{1, 1}));
}

TEST_F(ToastTest, LongTextIsCutToTheBoxAndNoTextGivesTheSmallestToast) {
    ScopedTextMeasurer metrics;
    auto window = keyWindow();
    auto toast = RAZududeToast::makeText(std::string(200, 'x'));
    toast->show(RAZududeToast::kTypeNoImage);
    EXPECT_EQ(toast->view()->bounds().size, (Size{280 + 40, 58 + 16}));  // three lines of 19.2

    auto empty = RAZududeToast::makeText("");
    empty->show(RAZududeToast::kTypeNoImage);
    EXPECT_EQ(empty->view()->bounds().size, (Size{40, 16}));
}

TEST_F(ToastTest, GravityPositionAndOffsetsPlaceTheCentre) {
    ScopedTextMeasurer metrics;
    auto window = keyWindow();
    auto at = [&](RAZududeToast& toast) {
        toast.show(RAZududeToast::kTypeNoImage);
        return toast.view()->center();
    };
    EXPECT_EQ(at(RAZududeToast::makeText("a")->setGravity(kRAZududeToastGravityBottom)),
              (Point{160, 523}));
    EXPECT_EQ(at(RAZududeToast::makeText("a")->setGravity(kRAZududeToastGravityCenter)),
              (Point{160, 284}));
    EXPECT_EQ(at(RAZududeToast::makeText("a")->setGravity(kRAZududeToastGravityTop, -10, 5)),
              (Point{150, 50}));
    EXPECT_EQ(at(RAZududeToast::makeText("a")->setGravity(7).setPostion({100, 200})),
              (Point{100, 200}));
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

// ---- one toast, its timer and touch ----------------------------------------------------

TEST_F(ToastTest, ASecondToastReplacesTheFirstAtOnce) {
    auto window = keyWindow();
    auto first = RAZududeToast::makeText("first");
    first->show();
    auto second = RAZududeToast::makeText("second");
    second->show();
    EXPECT_EQ(toastsIn(*window), 1);
    EXPECT_EQ(first->view()->superview(), nullptr);
    EXPECT_EQ(second->view()->superview(), window.get());
}

TEST_F(ToastTest, StaysForItsDurationThenFadesAndStaysUntilRemoved) {
    auto window = keyWindow();
    auto toast = RAZududeToast::makeText("请稍等......");
    toast->setDuration(30000).show();
    auto view = toast->view();
    EXPECT_EQ(view->alpha(), 1);
    advance(29.9);
    EXPECT_EQ(view->alpha(), 1);
    advance(0.2);
    EXPECT_EQ(view->alpha(), 0);
    EXPECT_EQ(view->superview(), window.get());  // transparent, still there

    toast->removeToast();
    EXPECT_EQ(toastsIn(*window), 0);
}

TEST_F(ToastTest, ATouchFadesItOutAndAToastLetGoStillGoes) {
    auto window = keyWindow();
    auto toast = RAZududeToast::makeText("tap me");
    toast->show();
    std::weak_ptr<Button> view = toast->view();
    toast.reset();  // the caller keeps nothing
    ASSERT_FALSE(view.expired());

    window->tapView(*view.lock());
    EXPECT_EQ(view.lock()->alpha(), 0);
    advance(2);  // the timer fires on the faded view; nothing breaks
    EXPECT_EQ(view.lock()->alpha(), 0);
}

TEST_F(ToastTest, NoWindowMeansNoToast) {
    ASSERT_TRUE(Application::shared().windows().empty());
    auto toast = RAZududeToast::makeText("nowhere");
    EXPECT_NO_THROW(toast->show());
    EXPECT_FALSE(toast->view());
    EXPECT_NO_THROW(toast->hideToast());
    EXPECT_NO_THROW(toast->removeToast());
}

// ---- settings and the configuration ----------------------------------------------------

TEST_F(ToastTest, EachToastWorksOnItsOwnCopyOfTheSharedSettings) {
    auto& shared = RAZududeToastSettings::getSharedSettings();
    EXPECT_EQ(&shared, &RAZududeToastSettings::getSharedSettings());
    shared.setDuration(2500);
    shared.setPostition({3, 4});
    shared.setImageLocation(kRAZududeToastImageLocationLeft);

    auto toast = RAZududeToast::makeText("mine");
    auto& own = toast->theSettings();
    EXPECT_NE(&own, &shared);
    EXPECT_EQ(own.duration(), 2500);
    EXPECT_EQ(own.postition(), (Point{3, 4}));
    EXPECT_EQ(own.imageLocation(), kRAZududeToastImageLocationTop);  // not copied

    shared.setDuration(9000);
    shared.setGravity(kRAZududeToastGravityBottom);
    EXPECT_EQ(toast->theSettings().duration(), 2500);
    EXPECT_NE(toast->theSettings().gravity(), kRAZududeToastGravityBottom);
    shared.setImageLocation(kRAZududeToastImageLocationTop);
}

TEST_F(ToastTest, HiddenFinishToastsSilenceShowButNotAShowOfAType) {
    auto window = keyWindow();
    RAZududeConfig::setFinishToastIsHidden(true, kRAZududeToastGravityCenter);
    EXPECT_TRUE(RAZududeToastSettings::getSharedSettings().isHidden());
    EXPECT_EQ(RAZududeToastSettings::getSharedSettings().gravity(), kRAZududeToastGravityCenter);

    auto silenced = RAZududeToast::makeText("silenced");
    silenced->show();
    EXPECT_FALSE(silenced->view());
    EXPECT_EQ(toastsIn(*window), 0);

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

// In a process of its own: the configuration is made by the first `show`, not before.
TEST_F(ToastTest, ShowOfATypeBeforeTheConfigurationSitsInTheCentre) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    auto placeBothWays = [this] {
        auto window = keyWindow();
        auto early = RAZududeToast::makeText("early");
        early->show(RAZududeToast::kTypeNoImage);
        bool centred = early->view()->center() == Point{160, 284};
        auto later = RAZududeToast::makeText("later");
        later->show();
        bool top = later->view()->center().y == 45 &&
                   RAZududeToastSettings::getSharedSettings().gravity() == kRAZududeToastGravityTop;
        std::exit(centred && top ? 0 : 1);
    };
    EXPECT_EXIT(placeBothWays(), ::testing::ExitedWithCode(0), "");
}

// In a process of its own: the app's choice made before anything else survives the making of
// the configuration.
TEST_F(ToastTest, FinishToastSettingsMadeFirstAreKept) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    auto setThenShow = [this] {
        auto window = keyWindow();
        RAZududeConfig::setFinishToastIsHidden(false, kRAZududeToastGravityBottom);
        auto toast = RAZududeToast::makeText("kept");
        toast->show();
        std::exit(toast->view() && toast->view()->center().y == 523 ? 0 : 1);
    };
    EXPECT_EXIT(setThenShow(), ::testing::ExitedWithCode(0), "");
}

// ---- pictures --------------------------------------------------------------------------

TEST_F(ToastTest, PicturesShowTheToastAtItsGravity) {
    auto window = keyWindow();
    window->setBackgroundColor(Color::white());
    const Color toastGrey = Color::gray(0.4);  // black at 0.6 over white

    struct Case {
        std::int32_t gravity;
        double centreY;
        const char* file;
    };
    for (Case c : {Case{kRAZududeToastGravityTop, 45, "toast_top.png"},
                   Case{kRAZududeToastGravityBottom, 523, "toast_bottom.png"}}) {
        SCOPED_TRACE(c.file);
        auto toast = RAZududeToast::makeText("分享成功");
        toast->setGravity(c.gravity).show();
        auto png = ui_test::windowPicture(*window, c.file);
        ASSERT_TRUE(png);

        Rect frame = toast->view()->frame();
        auto [left, right] = ui_test::spanOf(*png, frame.midY(), toastGrey);
        EXPECT_NEAR(left, frame.minX(), 1);
        EXPECT_NEAR(right, frame.maxX(), 1);
        EXPECT_NEAR((left + right) / 2, 160, 1);
        auto [top, bottom] = ui_test::columnSpanOf(*png, frame.minX() + 9, toastGrey);
        EXPECT_NEAR((top + bottom) / 2, c.centreY, 1);
        EXPECT_NEAR(bottom - top, frame.height(), 1);
        // Rounded corners show the white behind; white text inside.
        EXPECT_TRUE(ui_test::near(ui_test::pixelAt(*png, frame.minX() + 0.5, frame.minY() + 0.5),
                                  Color::white(), 0.15));
        EXPECT_TRUE(ui_test::near(ui_test::pixelAt(*png, 160, 284), Color::white(), 0.01));
        int white = 0;
        for (double x = frame.minX() + 10; x < frame.maxX() - 10; x += 0.5) {
            white += ui_test::near(ui_test::pixelAt(*png, x, frame.midY()), Color::white(), 0.2);
        }
        EXPECT_GT(white, 5);
    }
}

}  // namespace
