// The waiting overlay: layout figures with fixed text metrics, animations and timers on the
// manual clock, the task thread, and the panel as a picture.
#include "SocialSDK/ui/hud/RAZududeTkProgressHUD.h"

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>

#include "tests/platform_ui/UiTest.h"
#include "tests/ui/Pictures.h"

using namespace platform;

namespace {

struct HiddenCount : RAZududeTkProgressHUDDelegate {
    int calls = 0;
    void hudWasHidden(RAZududeTkProgressHUD&) override { ++calls; }
};

// Puts the HUD straight back up the first time it has gone.
struct ShowsAgain : RAZududeTkProgressHUDDelegate {
    int calls = 0;
    void hudWasHidden(RAZududeTkProgressHUD& hud) override {
        if (++calls == 1) {
            hud.show(false);
        }
    }
};

class ProgressHudTest : public ui_test::UiTest {
  protected:
    // A HUD on a visible 320 x 568 window.
    ProgressHudTest()
        : window_(keyWindow()), hud_(RAZududeTkProgressHUD::withWindow(window_.get())) {
        window_->addSubview(hud_);
        hud_->setDelegate(hidden_);
    }
    void layOut() {
        hud_->setNeedsLayout();
        hud_->layoutIfNeeded();
    }

    std::shared_ptr<Window> window_;
    std::shared_ptr<RAZududeTkProgressHUD> hud_;
    std::shared_ptr<HiddenCount> hidden_ = std::make_shared<HiddenCount>();
};

TEST_F(ProgressHudTest, LayoutFiguresWithFixedMetrics) {
    ScopedTextMeasurer metrics;
    EXPECT_THROW(RAZududeTkProgressHUD::withView(nullptr), std::invalid_argument);
    // Transparent until shown, centred in a resizing host, bold texts.
    EXPECT_EQ(hud_->alpha(), 0);
    EXPECT_FALSE(hud_->isOpaque());
    EXPECT_EQ(hud_->autoresizingMask(), 45u);
    EXPECT_EQ(hud_->labelFont(), Font::boldSystem(16));
    EXPECT_EQ(hud_->detailsLabelFont(), Font::boldSystem(12));
    EXPECT_EQ(hud_->detailsLabel().numberOfLines(), 0);

    // The spinner alone: its 37 points plus the margin all round, centred.
    layOut();
    EXPECT_EQ(hud_->size(), (Size{77, 77}));
    EXPECT_EQ(hud_->indicator()->frame(), (Rect{142, 266, 37, 37}));

    // A main label (7 x 8 by 20) under it, 4 points apart; details (11 x 6 by 15) below.
    hud_->setLabelText("Loading");
    hud_->setDetailsLabelText("Please wait");
    layOut();
    EXPECT_EQ(hud_->size(), (Size{106, 120}));
    EXPECT_EQ(hud_->indicator()->frame(), (Rect{142, 244, 37, 37}));
    EXPECT_EQ(hud_->label().frame(), (Rect{132, 285, 56, 20}));
    EXPECT_EQ(hud_->detailsLabel().frame(), (Rect{127, 309, 66, 15}));

    // Offsets move the content; a larger minimum size wins; square when it fits.
    hud_->setXOffset(10);
    hud_->setYOffset(-20);
    hud_->setMinSize({200, 150});
    layOut();
    EXPECT_EQ(hud_->size(), (Size{200, 150}));
    EXPECT_EQ(hud_->detailsLabel().frame(), (Rect{137, 289, 66, 15}));
    hud_->setMinSize({});
    hud_->setSquare(true);
    layOut();
    EXPECT_EQ(hud_->size(), (Size{120, 120}));
}

TEST_F(ProgressHudTest, LongTextsAreHeldToTheHostWidthLessFourMargins) {
    ScopedTextMeasurer metrics;
    hud_->setLabelText(std::string(40, 'W'));  // 320 points on one line
    hud_->setDetailsLabelText("the share service is talking to the platform, back in a moment");
    layOut();
    EXPECT_EQ(hud_->label().frame().width(), 240);
    EXPECT_LE(hud_->detailsLabel().frame().width(), 240);
    EXPECT_GT(hud_->detailsLabel().frame().height(), 15);  // wrapped
    EXPECT_EQ(hud_->size().width, 280);

    // In a narrow host the square panel cannot widen to its height.
    hud_->setLabelText("Hi");
    hud_->setDetailsLabelText("");
    hud_->setSquare(true);
    auto narrow = std::make_shared<View>(Rect{0, 0, 110, 400});
    window_->addSubview(narrow);
    narrow->addSubview(hud_);
    layOut();
    EXPECT_EQ(hud_->frame(), (Rect{0, 0, 110, 400}));
    EXPECT_EQ(hud_->size(), (Size{70, 101}));  // spinner clipped to 30, height kept
}

TEST_F(ProgressHudTest, FadeAndZoomOnTheClock) {
    hud_->hide(true);  // never shown: at once, and still reported
    EXPECT_EQ(hidden_->calls, 1);

    hud_->show(true);
    EXPECT_EQ(hud_->alpha(), 1);
    hud_->hide(true);
    EXPECT_DOUBLE_EQ(hud_->alpha(), 0.02);
    advance(0.29);
    EXPECT_EQ(hidden_->calls, 1);
    advance(0.02);
    EXPECT_EQ(hidden_->calls, 2);
    EXPECT_EQ(hud_->alpha(), 0);

    hud_->setAnimationType(kRAZududeTkProgressHUDAnimationZoomIn);
    hud_->show(true);
    hud_->hide(true);
    EXPECT_EQ(hud_->transform(), AffineTransform::scale(0.5, 0.5));
    hud_->setAnimationType(kRAZududeTkProgressHUDAnimationZoomOut);
    hud_->show(true);
    EXPECT_TRUE(hud_->transform().isIdentity());
    hud_->hide(true);
    EXPECT_EQ(hud_->transform(), AffineTransform::scale(1.5, 1.5));
    advance(0.3);
    hud_->show(false);  // back at full size
    EXPECT_TRUE(hud_->transform().isIdentity());

    hud_->setRemoveFromSuperViewOnHide(true);
    hud_->hide(false);
    EXPECT_EQ(hud_->superview(), nullptr);
}

TEST_F(ProgressHudTest, ASupersededHideDoesNotTakeDownTheNextShow) {
    hud_->show(false);
    hud_->hide(true);
    advance(0.1);
    hud_->show(true);
    advance(1);
    EXPECT_EQ(hud_->alpha(), 1);
    EXPECT_EQ(hidden_->calls, 0);

    hud_->hide(true);
    hud_->hide(false);  // two hides report once
    advance(1);
    EXPECT_EQ(hidden_->calls, 1);
}

TEST_F(ProgressHudTest, AShowFromTheDelegateIsAShowLikeAnyOther) {
    auto again = std::make_shared<ShowsAgain>();
    hud_->setDelegate(again);
    hud_->setMinShowTime(std::chrono::seconds(1));
    hud_->hide(false);  // never shown: the delegate hears of it and shows the HUD
    ASSERT_EQ(again->calls, 1);
    EXPECT_EQ(hud_->alpha(), 1);
    EXPECT_TRUE(hud_->showStarted());

    // It is held for its minimum time and then fades out.
    hud_->hide(true);
    EXPECT_EQ(hud_->alpha(), 1);
    advance(1);
    EXPECT_DOUBLE_EQ(hud_->alpha(), 0.02);
    EXPECT_EQ(again->calls, 1);
    advance(0.3);
    EXPECT_EQ(again->calls, 2);
    EXPECT_EQ(hud_->alpha(), 0);
}

TEST_F(ProgressHudTest, GraceAndMinimumShowTimersGiveWayToEachOther) {
    hud_->setGraceTime(std::chrono::milliseconds(500));
    hud_->show(false);
    advance(0.49);
    EXPECT_EQ(hud_->alpha(), 0);
    advance(0.02);
    EXPECT_EQ(hud_->alpha(), 1);
    hud_->hide(false);

    // Done before the grace time: never shown.
    hud_->show(false);
    hud_->hide(false);
    EXPECT_FALSE(hud_->graceTimer());
    advance(1);
    EXPECT_EQ(hud_->alpha(), 0);

    hud_->setGraceTime(platform::Seconds::zero());
    hud_->setMinShowTime(std::chrono::seconds(1));
    hud_->show(false);
    advance(0.25);
    hud_->hide(false);
    advance(0.74);
    EXPECT_EQ(hud_->alpha(), 1);
    advance(0.02);
    EXPECT_EQ(hud_->alpha(), 0);

    // Shown again while a held hide waits: it stays up.
    hud_->show(false);
    hud_->hide(false);
    hud_->show(false);
    EXPECT_FALSE(hud_->minShowTimer());
    advance(2);
    EXPECT_EQ(hud_->alpha(), 1);
}

TEST_F(ProgressHudTest, TaskRunsOnItsOwnThreadAndTheMainThreadCleansUp) {
    ScopedTextMeasurer metrics;
    auto spinner = hud_->indicator();
    std::atomic<bool> ranOnMain{true};
    auto held = std::make_shared<int>(7);
    std::weak_ptr<int> heldWatch = held;
    hud_->showWhileExecuting(
        [&ranOnMain, mainId = std::this_thread::get_id(), held = std::move(held)] {
            ranOnMain = std::this_thread::get_id() == mainId;
        },
        true);
    EXPECT_TRUE(hud_->taskInProgress());
    EXPECT_EQ(hud_->alpha(), 1);

    ASSERT_TRUE(MainLoop::main().runUntil([&] { return !hud_->taskInProgress(); }, 10));
    EXPECT_FALSE(ranOnMain);
    EXPECT_TRUE(heldWatch.expired());
    advance(0.3);
    EXPECT_EQ(hidden_->calls, 1);  // hidden with the show's animation

    // The spinner is still the HUD's and still has its place in the layout.
    EXPECT_EQ(hud_->indicator(), spinner);
    hud_->show(false);
    layOut();
    EXPECT_EQ(hud_->size(), (Size{77, 77}));
    EXPECT_EQ(spinner->frame(), (Rect{142, 266, 37, 37}));
    EXPECT_THROW(hud_->showWhileExecuting({}, false), std::invalid_argument);
}

TEST_F(ProgressHudTest, PictureShowsTheBlackRoundedPanelCentred) {
    window_->setBackgroundColor(Color::white());
    hud_->setLabelText("正在加载");
    hud_->setDetailsLabelText("请稍等");
    hud_->show(false);
    auto png = ui_test::windowPicture(*window_, "progress_hud.png");
    ASSERT_TRUE(png);

    Size size = hud_->size();
    Rect panel{std::round((320 - size.width) / 2), std::round((568 - size.height) / 2), size.width,
               size.height};
    // Across the top margin and down the left margin: black from edge to edge, centred.
    auto [left, right] = ui_test::spanOf(*png, panel.minY() + 14, Color::black());
    EXPECT_NEAR(left, panel.minX(), 1);
    EXPECT_NEAR(right, panel.maxX(), 1);
    EXPECT_NEAR((left + right) / 2, 160, 1);
    auto [top, bottom] = ui_test::spanOf(*png, panel.minX() + 12, Color::black(), true);
    EXPECT_NEAR(top, panel.minY(), 1);
    EXPECT_NEAR(bottom, panel.maxY(), 1);
    EXPECT_NEAR((top + bottom) / 2, 284, 1);
    // Rounded corners; white text.
    EXPECT_TRUE(ui_test::near(ui_test::pixelAt(*png, panel.minX() + 1, panel.minY() + 1),
                              Color::white(), 0.1));
    EXPECT_GT(ui_test::countIn(*png, hud_->label().frame(),
                               [](Color c) { return ui_test::near(c, Color::white(), 0.3); }),
              20);
}

}  // namespace
