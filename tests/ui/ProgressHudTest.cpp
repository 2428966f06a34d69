// The waiting overlay: its layout figures with fixed text metrics, its animations and timers on
// the manual clock, the task thread, and the panel as a picture.
#include "SocialSDK/ui/hud/RAZududeTkProgressHUD.h"

#include <atomic>
#include <stdexcept>
#include <thread>

#include "platform/ui/Indicators.h"
#include "tests/platform_ui/UiTest.h"
#include "tests/ui/Pictures.h"

using namespace platform;

namespace {

struct HiddenRecorder : RAZududeTkProgressHUDDelegate {
    int calls = 0;
    RAZududeTkProgressHUD* last = nullptr;
    void hudWasHidden(RAZududeTkProgressHUD& hud) override {
        ++calls;
        last = &hud;
    }
};

class ProgressHudTest : public ui_test::UiTest {
  protected:
    // A HUD on a visible 320 x 568 window.
    std::shared_ptr<RAZududeTkProgressHUD> hudOnWindow() {
        window_ = keyWindow();
        auto hud = RAZududeTkProgressHUD::withWindow(window_.get());
        window_->addSubview(hud);
        recorder_ = std::make_shared<HiddenRecorder>();
        hud->setDelegate(recorder_);
        return hud;
    }
    static void layOut(RAZududeTkProgressHUD& hud) {
        hud.setNeedsLayout();
        hud.layoutIfNeeded();
    }

    std::shared_ptr<Window> window_;
    std::shared_ptr<HiddenRecorder> recorder_;
};

// ---- construction ----------------------------------------------------------------------

TEST_F(ProgressHudTest, StartsTransparentWithTheDefaultsAndASpinner) {
    auto hud = hudOnWindow();
    EXPECT_EQ(hud->frame(), (Rect{0, 0, 320, 568}));
    EXPECT_EQ(hud->alpha(), 0);
    EXPECT_EQ(hud->autoresizingMask(), 45u);
    EXPECT_FALSE(hud->isOpaque());
    EXPECT_EQ(hud->labelFont(), Font::boldSystem(16));
    EXPECT_EQ(hud->detailsLabelFont(), Font::boldSystem(12));
    EXPECT_EQ(hud->margin(), 20);
    EXPECT_DOUBLE_EQ(hud->opacity(), 0.8);
    EXPECT_FALSE(hud->showStarted());

    auto spinner = std::dynamic_pointer_cast<ActivityIndicatorView>(hud->indicator());
    ASSERT_TRUE(spinner);
    EXPECT_EQ(spinner->style(), ActivityIndicatorStyle::kWhiteLarge);
    EXPECT_TRUE(spinner->isAnimating());
    EXPECT_EQ(spinner->superview(), hud.get());
    EXPECT_EQ(hud->label().textColor(), Color::white());
    EXPECT_EQ(hud->label().textAlignment(), TextAlignment::kCenter);
    EXPECT_EQ(hud->detailsLabel().numberOfLines(), 0);

    // Another mode keeps the spinner; mode 0 does not build a second one.
    auto before = hud->indicator();
    hud->setMode(3);
    hud->setMode(kRAZududeTkProgressHUDModeIndeterminate);
    EXPECT_EQ(hud->indicator(), before);
}

TEST_F(ProgressHudTest, AMissingHostIsRefused) {
    try {
        RAZududeTkProgressHUD::withView(nullptr);
        FAIL() << "no exception";
    } catch (const std::invalid_argument& e) {
        EXPECT_STREQ(e.what(), "View must not be nil.");
    }
}

// ---- layout ----------------------------------------------------------------------------

TEST_F(ProgressHudTest, LayoutFiguresWithFixedMetrics) {
    ScopedTextMeasurer metrics;
    auto hud = hudOnWindow();

    // The spinner alone: its size plus the margin all round, centred.
    layOut(*hud);
    EXPECT_EQ(hud->size(), (Size{77, 77}));
    EXPECT_EQ(hud->indicator()->frame(), (Rect{142, 266, 37, 37}));

    // A main label (7 x 8 by 20) under it, 4 points apart.
    hud->setLabelText("Loading");
    layOut(*hud);
    EXPECT_EQ(hud->size(), (Size{96, 101}));
    EXPECT_EQ(hud->indicator()->frame(), (Rect{142, 254, 37, 37}));
    EXPECT_EQ(hud->label().frame(), (Rect{132, 295, 56, 20}));

    // Details (11 x 6 by 15) below that, the widest line setting the width.
    hud->setDetailsLabelText("Please wait");
    layOut(*hud);
    EXPECT_EQ(hud->size(), (Size{106, 120}));
    EXPECT_EQ(hud->indicator()->frame(), (Rect{142, 244, 37, 37}));
    EXPECT_EQ(hud->label().frame(), (Rect{132, 285, 56, 20}));
    EXPECT_EQ(hud->detailsLabel().frame(), (Rect{127, 309, 66, 15}));

    // Offsets move the content; a larger minimum size wins over the content.
    hud->setXOffset(10);
    hud->setYOffset(-20);
    hud->setMinSize({200, 150});
    layOut(*hud);
    EXPECT_EQ(hud->size(), (Size{200, 150}));
    EXPECT_EQ(hud->indicator()->frame(), (Rect{152, 224, 37, 37}));
    EXPECT_EQ(hud->detailsLabel().frame(), (Rect{137, 289, 66, 15}));
}

TEST_F(ProgressHudTest, LongTextsAreHeldToTheHostWidthLessFourMargins) {
    ScopedTextMeasurer metrics;
    auto hud = hudOnWindow();
    hud->setLabelText(std::string(40, 'W'));  // 320 points on one line
    hud->setDetailsLabelText(
        "the share service is talking to the platform and will be back in a moment");
    layOut(*hud);

    EXPECT_EQ(hud->label().frame(), (Rect{40, hud->label().frame().minY(), 240, 20}));
    Rect details = hud->detailsLabel().frame();
    EXPECT_LE(details.width(), 240);
    EXPECT_GT(details.height(), 15);  // wrapped onto several lines
    // So the panel is the host width less two margins.
    EXPECT_EQ(hud->size().width, 280);
}

TEST_F(ProgressHudTest, SquarePanelWhenItFits) {
    ScopedTextMeasurer metrics;
    auto hud = hudOnWindow();
    hud->setLabelText("Hi");
    hud->setSquare(true);
    layOut(*hud);
    EXPECT_EQ(hud->size(), (Size{101, 101}));

    // In a narrow host the width cannot grow to the height; the height stays.
    auto narrow = std::make_shared<View>(Rect{0, 0, 110, 400});
    window_->addSubview(narrow);
    narrow->addSubview(hud);
    layOut(*hud);
    EXPECT_EQ(hud->frame(), (Rect{0, 0, 110, 400}));
    EXPECT_EQ(hud->indicator()->frame().width(), 30);  // clipped to 110 - 4 margins
    EXPECT_EQ(hud->size(), (Size{70, 101}));
}

// ---- showing and hiding on the clock ---------------------------------------------------

TEST_F(ProgressHudTest, FadeOutTakesThreeTenthsThenReports) {
    auto hud = hudOnWindow();
    hud->show(true);
    EXPECT_EQ(hud->alpha(), 1);
    ASSERT_TRUE(hud->showStarted());
    advance(0.5);

    hud->hide(true);
    EXPECT_DOUBLE_EQ(hud->alpha(), 0.02);
    EXPECT_FALSE(hud->showStarted());
    advance(0.29);
    EXPECT_EQ(recorder_->calls, 0);
    advance(0.02);
    EXPECT_EQ(recorder_->calls, 1);
    EXPECT_EQ(recorder_->last, hud.get());
    EXPECT_EQ(hud->alpha(), 0);
    EXPECT_EQ(hud->superview(), window_.get());  // stays unless told to leave
}

TEST_F(ProgressHudTest, ZoomTypesScaleTheHudOnTheWayOut) {
    auto hud = hudOnWindow();
    hud->setAnimationType(kRAZududeTkProgressHUDAnimationZoomIn);
    hud->show(true);
    EXPECT_TRUE(hud->transform().isIdentity());
    hud->hide(true);
    EXPECT_EQ(hud->transform(), AffineTransform::scale(0.5, 0.5));
    advance(0.3);
    EXPECT_EQ(recorder_->calls, 1);

    hud->setAnimationType(kRAZududeTkProgressHUDAnimationZoomOut);
    hud->show(true);
    EXPECT_TRUE(hud->transform().isIdentity());
    hud->hide(true);
    EXPECT_EQ(hud->transform(), AffineTransform::scale(1.5, 1.5));

    // Shown again without animation, it is back at full size.
    advance(0.3);
    hud->show(false);
    EXPECT_TRUE(hud->transform().isIdentity());
    EXPECT_EQ(hud->alpha(), 1);
}

TEST_F(ProgressHudTest, HideBeforeAnyShowHidesAtOnceAndStillReports) {
    auto hud = hudOnWindow();
    hud->setRemoveFromSuperViewOnHide(true);
    hud->hide(true);
    EXPECT_EQ(recorder_->calls, 1);
    EXPECT_EQ(hud->alpha(), 0);
    EXPECT_EQ(hud->superview(), nullptr);
}

TEST_F(ProgressHudTest, ASupersededHideDoesNotTakeDownTheNextShow) {
    auto hud = hudOnWindow();
    hud->show(false);
    hud->hide(true);
    advance(0.1);
    hud->show(true);
    advance(1);
    EXPECT_EQ(hud->alpha(), 1);
    EXPECT_EQ(recorder_->calls, 0);
    EXPECT_TRUE(hud->showStarted());

    // Two hides in a row report once.
    hud->hide(true);
    hud->hide(false);
    advance(1);
    EXPECT_EQ(recorder_->calls, 1);
}

TEST_F(ProgressHudTest, GraceTimeDelaysTheShowAndAHideCancelsIt) {
    auto hud = hudOnWindow();
    hud->setGraceTime(0.5);
    hud->show(false);
    EXPECT_EQ(hud->alpha(), 0);
    EXPECT_FALSE(hud->showStarted());
    advance(0.49);
    EXPECT_EQ(hud->alpha(), 0);
    advance(0.02);
    EXPECT_EQ(hud->alpha(), 1);
    EXPECT_TRUE(hud->showStarted());

    hud->hide(false);
    hud->show(false);
    ASSERT_TRUE(hud->graceTimer());
    EXPECT_TRUE(hud->graceTimer()->isValid());
    hud->hide(false);  // the task was over before the grace time
    EXPECT_FALSE(hud->graceTimer());
    advance(1);
    EXPECT_EQ(hud->alpha(), 0);
}

TEST_F(ProgressHudTest, MinimumShowTimeHoldsTheHideAndAShowCancelsIt) {
    auto hud = hudOnWindow();
    hud->setMinShowTime(1);
    hud->show(false);
    advance(0.25);
    hud->hide(false);
    EXPECT_EQ(hud->alpha(), 1);
    advance(0.74);
    EXPECT_EQ(hud->alpha(), 1);
    advance(0.02);
    EXPECT_EQ(hud->alpha(), 0);
    EXPECT_EQ(recorder_->calls, 1);

    // A show while a held hide waits keeps the HUD up.
    hud->show(false);
    advance(0.5);
    hud->hide(false);
    ASSERT_TRUE(hud->minShowTimer());
    hud->show(false);
    EXPECT_FALSE(hud->minShowTimer());
    advance(2);
    EXPECT_EQ(hud->alpha(), 1);
    EXPECT_EQ(recorder_->calls, 1);
}

TEST_F(ProgressHudTest, ADelegateThatThrowsDoesNotStopTheHide) {
    struct Throwing : RAZududeTkProgressHUDDelegate {
        void hudWasHidden(RAZududeTkProgressHUD&) override { throw std::runtime_error("boom"); }
    };
    auto hud = hudOnWindow();
    auto throwing = std::make_shared<Throwing>();
    hud->setDelegate(throwing);
    hud->setRemoveFromSuperViewOnHide(true);
    hud->show(false);
    EXPECT_NO_THROW(hud->hide(false));
    EXPECT_EQ(hud->superview(), nullptr);
}

// ---- a task while the HUD is up --------------------------------------------------------

TEST_F(ProgressHudTest, TaskRunsOnItsOwnThreadAndTheMainThreadCleansUp) {
    ScopedTextMeasurer metrics;
    auto hud = hudOnWindow();
    auto spinner = hud->indicator();
    std::atomic<bool> ranOnMain{true};
    auto held = std::make_shared<int>(7);
    std::weak_ptr<int> heldWatch = held;
    const auto mainId = std::this_thread::get_id();

    hud->showWhileExecuting(
        [&ranOnMain, mainId, held = std::move(held)] {
            ranOnMain = std::this_thread::get_id() == mainId;
        },
        true);
    EXPECT_TRUE(hud->taskInProgress());
    EXPECT_EQ(hud->alpha(), 1);

    ASSERT_TRUE(MainLoop::main().runUntil([&] { return !hud->taskInProgress(); }, 10));
    EXPECT_FALSE(ranOnMain);
    EXPECT_TRUE(heldWatch.expired());  // the task and what it held are let go
    advance(0.3);
    EXPECT_EQ(recorder_->calls, 1);  // hidden with the show's animation

    // The spinner is still the HUD's and still takes its place in the layout.
    EXPECT_EQ(hud->indicator(), spinner);
    hud->show(false);
    layOut(*hud);
    EXPECT_EQ(hud->size(), (Size{77, 77}));
    EXPECT_EQ(spinner->frame(), (Rect{142, 266, 37, 37}));

    EXPECT_THROW(hud->showWhileExecuting({}, false), std::invalid_argument);
}

// ---- the picture -----------------------------------------------------------------------

TEST_F(ProgressHudTest, PictureShowsTheBlackRoundedPanelCentred) {
    auto hud = hudOnWindow();
    window_->setBackgroundColor(Color::white());
    hud->setLabelText("正在加载");
    hud->setDetailsLabelText("请稍等");
    hud->show(false);
    auto png = ui_test::windowPicture(*window_, "progress_hud.png");
    ASSERT_TRUE(png);

    Size size = hud->size();
    Rect panel{std::round((320 - size.width) / 2), std::round((568 - size.height) / 2), size.width,
               size.height};
    // Across the top margin the panel is black from edge to edge, centred on the window.
    auto [left, right] = ui_test::spanOf(*png, panel.minY() + 14, Color::black());
    EXPECT_NEAR(left, panel.minX(), 1);
    EXPECT_NEAR(right, panel.maxX(), 1);
    EXPECT_NEAR((left + right) / 2, 160, 1);
    // Down the left margin likewise.
    auto [top, bottom] = ui_test::columnSpanOf(*png, panel.minX() + 12, Color::black());
    EXPECT_NEAR(top, panel.minY(), 1);
    EXPECT_NEAR(bottom, panel.maxY(), 1);
    EXPECT_NEAR((top + bottom) / 2, 284, 1);
    // Rounded: the very corner is the window's white.
    EXPECT_TRUE(
        ui_test::near(ui_test::pixelAt(*png, panel.minX() + 1, panel.minY() + 1), Color::white()));
    // White text on it.
    Rect label = hud->label().frame();
    int white = 0;
    for (double y = label.minY(); y < label.maxY(); y += 0.5) {
        for (double x = label.minX(); x < label.maxX(); x += 0.5) {
            white += ui_test::near(ui_test::pixelAt(*png, x, y), Color::white(), 0.3);
        }
    }
    EXPECT_GT(white, 20);
}

}  // namespace
