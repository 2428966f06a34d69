// The OAuth page's waiting mask: its parts, its placement of label and spinner, and its
// activity switch on the manual clock.
#include "SocialSDK/ui/helper/RZMaskView.h"

#include "platform/ui/Animation.h"
#include "tests/platform_ui/UiTest.h"
#include "tests/ui/Pictures.h"

using namespace platform;

namespace {

class MaskViewTest : public ui_test::UiTest {};

TEST_F(MaskViewTest, OAuthMaskIsAGreyRoundedPanelWithTheConnectingText) {
    auto mask = std::make_shared<RZMaskView>(Rect{0, 0, 320, 480});
    EXPECT_EQ(mask->backgroundColor(), Color::midGray());
    EXPECT_EQ(mask->layer().cornerRadius(), 7);
    EXPECT_TRUE(mask->layer().masksToBounds());
    EXPECT_DOUBLE_EQ(mask->alpha(), 0.8);
    EXPECT_TRUE(mask->isActivity());

    EXPECT_EQ(mask->statusLabel().text(), "正在连接授权页面，请稍等...");
    EXPECT_EQ(mask->statusLabel().font(), Font::named("Helvetica", 13));
    EXPECT_EQ(mask->statusLabel().textAlignment(), TextAlignment::kCenter);
    EXPECT_DOUBLE_EQ(mask->statusLabel().alpha(), 0.8);
    EXPECT_EQ(mask->activityIndicatorView().style(), ActivityIndicatorStyle::kGray);
    EXPECT_TRUE(mask->activityIndicatorView().isAnimating());

    // The label a little right of the centre, the spinner's centre 10 points left of it.
    mask->layoutIfNeeded();
    EXPECT_EQ(mask->statusLabel().frame(), (Rect{80, 229.5, 180, 21}));
    EXPECT_EQ(mask->activityIndicatorView().center(), (Point{70, 240}));
}

TEST_F(MaskViewTest, RoundedPanelIsSmallWhiteTextedAndMoreTransparent) {
    auto mask = RZMaskView::roundedView();
    EXPECT_EQ(mask->frame(), (Rect{60, 140, 200, 100}));
    EXPECT_DOUBLE_EQ(mask->alpha(), 0.7);
    EXPECT_EQ(mask->statusLabel().text(), "请稍等......");
    EXPECT_EQ(mask->statusLabel().textColor(), Color::white());
}

TEST_F(MaskViewTest, StatusTextResizesTheLabelAndKeepsTheSpinnerBesideIt) {
    ScopedTextMeasurer metrics;
    auto mask = std::make_shared<RZMaskView>(Rect{0, 0, 320, 480});
    mask->layoutIfNeeded();
    mask->setStatusText("Loading page");  // 12 x 6.5 = 78 by 15.6
    EXPECT_EQ(mask->statusText(), "Loading page");
    EXPECT_EQ(mask->statusLabel().text(), "Loading page");
    mask->layoutIfNeeded();
    Rect label = mask->statusLabel().frame();
    EXPECT_EQ(label.size, (Size{78, 16}));
    EXPECT_EQ(label.midX(), 170);
    EXPECT_EQ(mask->activityIndicatorView().center(), (Point{170 - 10 - 39, 240}));
}

TEST_F(MaskViewTest, ActivitySwitchFadesOverThreeTenths) {
    auto window = keyWindow();
    auto mask = std::make_shared<RZMaskView>(Rect{0, 0, 320, 480});
    window->addSubview(mask);
    advance(1);
    ASSERT_EQ(animation::pendingCount(), 0u);

    mask->setIsActivity(false);
    EXPECT_FALSE(mask->isActivity());
    EXPECT_EQ(mask->alpha(), 0);
    EXPECT_TRUE(mask->isHidden());
    EXPECT_FALSE(mask->activityIndicatorView().isAnimating());
    EXPECT_EQ(animation::pendingCount(), 1u);
    advance(0.29);
    EXPECT_EQ(animation::pendingCount(), 1u);
    advance(0.02);
    EXPECT_EQ(animation::pendingCount(), 0u);

    mask->setIsActivity(true);
    EXPECT_TRUE(mask->isActivity());
    EXPECT_DOUBLE_EQ(mask->alpha(), 0.7);  // lighter than the 0.8 it started with
    EXPECT_FALSE(mask->isHidden());
    EXPECT_TRUE(mask->activityIndicatorView().isAnimating());
}

TEST_F(MaskViewTest, PictureShowsTheGreyPanelWithSpinnerAndText) {
    auto window = keyWindow();
    window->setBackgroundColor(Color::white());
    auto mask = std::make_shared<RZMaskView>(Rect{20, 100, 280, 120});
    window->addSubview(mask);
    auto png = ui_test::windowPicture(*window, "mask_view.png");
    ASSERT_TRUE(png);

    // Grey at 0.8 over white, with rounded corners.
    EXPECT_TRUE(ui_test::near(ui_test::pixelAt(*png, 30, 110), Color::gray(0.6), 0.03));
    EXPECT_TRUE(ui_test::near(ui_test::pixelAt(*png, 20.5, 100.5), Color::white(), 0.05));
    // The text's dark ink and the spinner's strokes on the grey.
    auto countIn = [&](const Rect& r, auto&& predicate) {
        int count = 0;
        for (double y = r.minY(); y < r.maxY(); y += 0.5) {
            for (double x = r.minX(); x < r.maxX(); x += 0.5) {
                count += predicate(ui_test::pixelAt(*png, x, y));
            }
        }
        return count;
    };
    auto& label = mask->statusLabel();
    EXPECT_GT(
        countIn(label.convertRectTo(label.bounds(), nullptr), [](Color c) { return c.r < 0.45; }),
        50);
    auto& spinner = mask->activityIndicatorView();
    EXPECT_GT(countIn(spinner.convertRectTo(spinner.bounds(), nullptr),
                      [](Color c) { return !ui_test::near(c, Color::gray(0.6), 0.05); }),
              10);
}

}  // namespace
