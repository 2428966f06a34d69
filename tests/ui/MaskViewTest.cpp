// The OAuth page's waiting mask: label and spinner placement, the activity switch on the
// manual clock, and the mask as a picture.
#include "SocialSDK/ui/helper/RZMaskView.h"

#include "platform/ui/Animation.h"
#include "tests/platform_ui/UiTest.h"
#include "tests/ui/Pictures.h"

using namespace platform;

namespace {

class MaskViewTest : public ui_test::UiTest {};

TEST_F(MaskViewTest, LabelRightOfCentreWithTheSpinnerBesideIt) {
    ScopedTextMeasurer metrics;
    auto mask = std::make_shared<RZMaskView>(Rect{0, 0, 320, 480});
    EXPECT_EQ(mask->statusLabel().text(), "正在连接授权页面，请稍等...");
    mask->layoutIfNeeded();
    EXPECT_EQ(mask->statusLabel().frame(), (Rect{80, 229.5, 180, 21}));
    EXPECT_EQ(mask->activityIndicatorView().center(), (Point{70, 240}));

    mask->setStatusText("Loading page");  // 12 x 6.5 by 15.6 in Helvetica 13
    mask->layoutIfNeeded();
    EXPECT_EQ(mask->statusLabel().frame(), (Rect{131, 232, 78, 16}));
    EXPECT_EQ(mask->activityIndicatorView().center(), (Point{121, 240}));

    EXPECT_EQ(mask->layer().cornerRadius(), 7);
    EXPECT_TRUE(mask->layer().masksToBounds());
    EXPECT_DOUBLE_EQ(mask->alpha(), 0.8);

    // The small panel asks the user to wait, in white, a little more transparent.
    auto rounded = RZMaskView::roundedView();
    EXPECT_EQ(rounded->frame(), (Rect{60, 140, 200, 100}));
    EXPECT_EQ(rounded->statusLabel().text(), "请稍等......");
    EXPECT_EQ(rounded->statusLabel().textColor(), Color::white());
    EXPECT_DOUBLE_EQ(rounded->alpha(), 0.7);
    EXPECT_EQ(rounded->layer().cornerRadius(), 7);
    EXPECT_TRUE(rounded->isActivity());
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
    advance(0.29);
    EXPECT_EQ(animation::pendingCount(), 1u);
    advance(0.02);
    EXPECT_EQ(animation::pendingCount(), 0u);

    mask->setIsActivity(true);
    EXPECT_DOUBLE_EQ(mask->alpha(), 0.7);  // lighter than the 0.8 it starts with
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

    // Grey at 0.8 over white, rounded; the text's dark ink and the spinner's strokes on it.
    EXPECT_TRUE(ui_test::near(ui_test::pixelAt(*png, 30, 110), Color::gray(0.6), 0.03));
    EXPECT_TRUE(ui_test::near(ui_test::pixelAt(*png, 20.5, 100.5), Color::white(), 0.05));
    auto& label = mask->statusLabel();
    EXPECT_GT(ui_test::countIn(*png, label.convertRectTo(label.bounds(), nullptr),
                               [](Color c) { return c.r < 0.45; }),
              50);
    auto& spinner = mask->activityIndicatorView();
    EXPECT_GT(ui_test::countIn(*png, spinner.convertRectTo(spinner.bounds(), nullptr),
                               [](Color c) { return !ui_test::near(c, Color::gray(0.6), 0.05); }),
              10);
}

}  // namespace
