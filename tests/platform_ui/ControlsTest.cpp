// Smaller controls and layouts: content modes, indicators, scroll paging, the navigation
// container's content area, and drawings that stretch with their view.
#include "platform/render/Renderer.h"
#include "platform/ui/Alert.h"
#include "platform/ui/Indicators.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/ScrollView.h"
#include "tests/platform_ui/UiTest.h"

using namespace platform;

namespace {

class ControlsTest : public ui_test::UiTest {};

TEST(ContentMode, PlacesContentAsEachModeSays) {
    Rect box{10, 10, 100, 50};
    Size content{20, 20};
    EXPECT_EQ(placeContent(ContentMode::kScaleToFill, content, box), box);
    EXPECT_EQ(placeContent(ContentMode::kScaleAspectFit, content, box), (Rect{35, 10, 50, 50}));
    EXPECT_EQ(placeContent(ContentMode::kScaleAspectFill, content, box), (Rect{10, -15, 100, 100}));
    EXPECT_EQ(placeContent(ContentMode::kCenter, content, box), (Rect{50, 25, 20, 20}));
    EXPECT_EQ(placeContent(ContentMode::kTopLeft, content, box), (Rect{10, 10, 20, 20}));
    EXPECT_EQ(placeContent(ContentMode::kBottomRight, content, box), (Rect{90, 40, 20, 20}));
    EXPECT_EQ(placeContent(ContentMode::kRight, content, box), (Rect{90, 25, 20, 20}));
    EXPECT_EQ(placeContent(ContentMode::kScaleAspectFit, Size{}, box), box);
}

TEST_F(ControlsTest, IndicatorsKeepTheirSizesAndStates) {
    ActivityIndicatorView large(ActivityIndicatorStyle::kWhiteLarge);
    ActivityIndicatorView grey(ActivityIndicatorStyle::kGray);
    EXPECT_EQ(large.bounds().size, (Size{37, 37}));
    EXPECT_EQ(grey.bounds().size, (Size{20, 20}));
    EXPECT_TRUE(grey.isHidden());  // stopped
    grey.startAnimating();
    EXPECT_TRUE(grey.isAnimating());
    EXPECT_FALSE(grey.isHidden());
    grey.stopAnimating();
    EXPECT_TRUE(grey.isHidden());
    grey.setHidesWhenStopped(false);
    EXPECT_FALSE(grey.isHidden());

    ProgressView bar(ProgressViewStyle::kBar);
    EXPECT_EQ(bar.bounds().size, (Size{150, 3}));
    bar.setProgress(0.3030303 * 3.3);
    EXPECT_NEAR(bar.progress(), 0.99999, 1e-4);
    bar.setProgress(7);
    EXPECT_EQ(bar.progress(), 1);
    bar.setProgress(-1);
    EXPECT_EQ(bar.progress(), 0);
}

TEST_F(ControlsTest, HorizontalPagingRestsOnWholePages) {
    auto scroll = std::make_shared<ScrollView>(Rect{0, 0, 320, 160});
    scroll->setContentSize({1000, 160});
    scroll->setPagingEnabled(true);
    scroll->dragBy({-200, 0});
    EXPECT_EQ(scroll->contentOffset(), (Point{320, 0}));
    // Held at the end (680), which is a page of its own: the last 40 points can be seen.
    scroll->dragBy({-500, 0});
    EXPECT_EQ(scroll->contentOffset(), (Point{680, 0}));
    scroll->dragBy({300, 0});
    EXPECT_EQ(scroll->contentOffset(), (Point{320, 0}));
    scroll->dragBy({-100, 0});  // short of half a page
    EXPECT_EQ(scroll->contentOffset(), (Point{320, 0}));

    // Content a little wider than one page: the drag reaches its end.
    scroll->setContentSize({350, 160});
    scroll->setContentOffset({0, 0});
    scroll->dragBy({-200, 0});
    EXPECT_EQ(scroll->contentOffset(), (Point{30, 0}));
    scroll->dragBy({200, 0});
    EXPECT_EQ(scroll->contentOffset(), (Point{0, 0}));
}

TEST_F(ControlsTest, NavigationContentSitsBelowAnOpaqueBarOnly) {
    auto window = keyWindow();
    auto screen = std::make_shared<ViewController>();
    auto nav = std::make_shared<NavigationController>(screen);
    window->setRootViewController(nav);
    nav->view()->layoutIfNeeded();
    EXPECT_EQ(screen->view()->frame(), (Rect{0, 0, 320, 568}));  // translucent by default
    EXPECT_EQ(nav->navigationBar().backgroundExtension(), 20);
    nav->navigationBar().setTranslucent(false);
    nav->view()->layoutIfNeeded();
    EXPECT_EQ(screen->view()->frame(), (Rect{0, 64, 320, 504}));
    nav->setNavigationBarHidden(true);
    nav->view()->layoutIfNeeded();
    EXPECT_EQ(screen->view()->frame(), (Rect{0, 0, 320, 568}));
    EXPECT_TRUE(nav->navigationBar().isHidden());
    Application::shared().setStatusBarHidden(true);
    nav->setNavigationBarHidden(false);
    nav->view()->layoutIfNeeded();
    EXPECT_EQ(nav->navigationBar().frame(), (Rect{0, 0, 320, 44}));
    EXPECT_EQ(screen->view()->frame(), (Rect{0, 44, 320, 524}));
}

// Paints its bounds' left half red.
class HalfRed : public View {
  public:
    using View::View;
    int draws = 0;
    void draw(GraphicsContext& context, const Rect& rect) override {
        ++draws;
        context.setFillColor(Color::red());
        context.fillRect({rect.minX(), rect.minY(), rect.width() / 2, rect.height()});
    }
};

TEST_F(ControlsTest, RecordedDrawingsStretchWithTheirViewUntilRedrawn) {
    auto root = std::make_shared<View>(Rect{0, 0, 100, 20});
    root->setBackgroundColor(Color::white());
    auto half = std::make_shared<HalfRed>(Rect{0, 0, 40, 20});
    root->addSubview(half);
    ImagePtr first = Renderer::renderView(*root);
    EXPECT_EQ(first->pixelRgba8(10, 10), 0xFF0000FFu);
    EXPECT_EQ(first->pixelRgba8(30, 10), 0xFFFFFFFFu);

    half->setFrame({0, 0, 80, 20});  // scale-to-fill: the old drawing stretches
    ImagePtr stretched = Renderer::renderView(*root);
    EXPECT_EQ(half->draws, 1);
    EXPECT_EQ(stretched->pixelRgba8(30, 10), 0xFF0000FFu);
    EXPECT_EQ(stretched->pixelRgba8(50, 10), 0xFFFFFFFFu);

    // A drawing done while scrolled keeps to the visible part of the bounds.
    half->setBounds({100, 0, 80, 20});
    half->setNeedsDisplay();
    ImagePtr scrolled = Renderer::renderView(*root);
    EXPECT_EQ(half->draws, 2);
    EXPECT_EQ(scrolled->pixelRgba8(30, 10), 0xFF0000FFu);
    EXPECT_EQ(scrolled->pixelRgba8(50, 10), 0xFFFFFFFFu);
}

TEST_F(ControlsTest, AlertsShowOverADimmedWindowInThePicture) {
    auto window = keyWindow();
    window->setBackgroundColor(Color::white());
    AlertView::make("温馨提示", "网络不给力", {}, "好")->show();
    RenderOptions options;
    options.scale = 1;
    ImagePtr shot = Renderer::renderWindow(*window, options);
    Color dimmed = shot->pixel(5, 300);
    EXPECT_NEAR(dimmed.r, 0.6, 0.02);
    Color panel = shot->pixel(160, 284);
    EXPECT_GT(panel.r, 0.9);
    ModalPanel::dismissAll();
    EXPECT_EQ(Renderer::renderWindow(*window, options)->pixelRgba8(5, 300), 0xFFFFFFFFu);
}

TEST_F(ControlsTest, TapsOnlyReachViewsOfTheirOwnWindow) {
    auto one = keyWindow();
    auto other = Window::make();
    auto view = std::make_shared<View>(Rect{0, 0, 10, 10});
    other->addSubview(view);
    EXPECT_EQ(one->tapView(*view), nullptr);
    EXPECT_EQ(other->tapView(*view), nullptr);  // a hidden window takes no taps
    other->setHidden(false);
    EXPECT_EQ(other->tapView(*view), view);
    EXPECT_EQ(Application::shared().windows().size(), 2u);
    other.reset();
    EXPECT_EQ(Application::shared().windows().size(), 1u);
}

}  // namespace
