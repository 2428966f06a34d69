// A sample screen drawn to PNG and read back pixel by pixel: a navigation bar, a table of
// platforms with their icons, and a label in Chinese.
#include "platform/render/Renderer.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>

#include "platform/ui/Alert.h"
#include "platform/ui/Button.h"
#include "platform/ui/Label.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/ScrollView.h"
#include "platform/ui/TableView.h"
#include "tests/platform_ui/UiTest.h"
#include "tests/support/TempDir.h"

using namespace platform;

namespace {

constexpr Color kBadge = Color::rgb255(0, 122, 255);

class PlatformList : public TableViewController {
  public:
    void viewDidLoad() override {
        setTitle("分享至");
        tableView().setBackgroundColor(Color::white());
        auto footer = std::make_shared<Label>(Rect{20, 330, 280, 60});
        footer->setText("正在连接授权页面，请稍等...");
        footer->setFont(Font::system(16));
        footer->setTextAlignment(TextAlignment::kCenter);
        footer->setBackgroundColor(kBadge);
        footer->setTextColor(Color::white());
        footer->setNumberOfLines(2);
        footer->setTag(77);
        view()->addSubview(footer);
    }
    int numberOfRowsInSection(TableView&, int) override { return 4; }
    std::shared_ptr<TableViewCell> cellForRowAtIndexPath(TableView& table,
                                                         const IndexPath& path) override {
        static const char* names[][2] = {
            {"sina", "新浪微博"}, {"tencent", "腾讯微博"}, {"qzone", "QQ空间"}, {"douban", "豆瓣"}};
        auto cell = table.dequeueReusableCellWithIdentifier("RAZududeListCell");
        if (!cell) {
            cell = std::make_shared<TableViewCell>(TableViewCellStyle::kValue1, "RAZududeListCell");
        }
        auto icon = Image::named(std::string("RAZududeSDKResourcesNew.bundle/SnsPlatform/RZS_") +
                                 names[path.row][0] + "_icon");
        cell->imageView().setImage(icon ? icon->scaledTo({25, 25}, 2) : nullptr);
        cell->textLabel().setText(names[path.row][1]);
        return cell;
    }
    std::optional<double> heightForRowAtIndexPath(TableView&, const IndexPath&) override {
        return 43;
    }
};

class RenderTest : public ui_test::UiTest {};

// Pixels of `image` (at scale 2) inside the point rectangle that differ from `background`.
int pixelsUnlike(const Image& image, const Rect& points, Color background) {
    int count = 0;
    for (int y = static_cast<int>(points.minY() * 2); y < static_cast<int>(points.maxY() * 2);
         ++y) {
        for (int x = static_cast<int>(points.minX() * 2); x < static_cast<int>(points.maxX() * 2);
             ++x) {
            Color c = image.pixel(x, y);
            double d = std::abs(c.r - background.r) + std::abs(c.g - background.g) +
                       std::abs(c.b - background.b);
            if (d > 0.3) {
                ++count;
            }
        }
    }
    return count;
}

TEST_F(RenderTest, SampleWindowWithBarTableAndChineseLabelReadsBackFromPng) {
    auto window = keyWindow();
    auto list = std::make_shared<PlatformList>();
    auto nav = std::make_shared<NavigationController>(list);
    nav->navigationBar().setTranslucent(false);
    nav->navigationBar().setBackgroundImage(
        Image::named("RAZududeSDKResourcesNew.bundle/Buttons/RZS_nav_bar_bg"));
    nav->navigationBar().setTitleTextAttributes(
        TitleTextAttributes{Color::white(), Font::system(18)});
    window->setRootViewController(nav);

    testing_support::TempDir dir;
    auto path = dir.path() / "sample.png";
    platform::Error error;
    ASSERT_TRUE(Renderer::writeWindowPng(*window, path, &error)) << error.description();
    if (const char* keep = std::getenv("RZ_SCREENSHOT_DIR")) {
        std::filesystem::copy_file(path, std::filesystem::path(keep) / "sample_window.png",
                                   std::filesystem::copy_options::overwrite_existing);
    }

    ImagePtr png = Image::fromFile(path, &error);
    ASSERT_TRUE(png) << error.description();
    ASSERT_EQ(png->pixelWidth(), 640);
    ASSERT_EQ(png->pixelHeight(), 1136);

    // The bar sits under the status bar, with its dark background reaching up behind it.
    Rect bar = nav->navigationBar().frame();
    EXPECT_EQ(bar, (Rect{0, 20, 320, 44}));
    Color barPixel = png->pixel(2 * 5, 2 * 40);
    EXPECT_LT(barPixel.r + barPixel.g + barPixel.b, 1.2) << barPixel.description();
    EXPECT_LT(png->pixel(2 * 5, 2 * 5).r, 0.4);
    // Its title is drawn in white on it.
    EXPECT_GT(pixelsUnlike(*png, nav->navigationBar().titleViewShown()->frame(), barPixel), 40);

    // Table rows: the first row's icon shows the platform's red, its name shows ink.
    auto cell = list->tableView().cellForRowAtIndexPath({0, 0});
    ASSERT_TRUE(cell);
    Rect icon = cell->imageView().convertRectTo(cell->imageView().bounds(), nullptr);
    Color red =
        png->pixel(static_cast<int>(icon.midX() * 2), static_cast<int>(icon.midY() * 2 - 14));
    EXPECT_GT(red.r, 0.7);
    EXPECT_LT(red.g, 0.3);
    Rect name = cell->textLabel().convertRectTo(cell->textLabel().bounds(), nullptr);
    EXPECT_GT(pixelsUnlike(*png, name, Color::white()), 100);

    // Background where nothing is drawn: the table's white below the rows.
    EXPECT_EQ(png->pixelRgba8(2 * 160, 2 * 300), 0xFFFFFFFFu);

    // The Chinese label: its colour around the text, and glyphs inside.
    auto label = list->view()->viewWithTag(77);
    Rect frame = label->convertRectTo(label->bounds(), nullptr);
    EXPECT_EQ(png->pixelRgba8(static_cast<int>(frame.minX() * 2) + 2,
                              static_cast<int>(frame.minY() * 2) + 2),
              kBadge.rgba8());
    int ink = pixelsUnlike(*png, frame, kBadge);
    EXPECT_GT(ink, 800) << "the Chinese text left too few pixels";
}

TEST_F(RenderTest, AlphaCornersClippingAndHiddenViewsShowAsTheModelSays) {
    auto root = std::make_shared<View>(Rect{0, 0, 100, 100});
    root->setBackgroundColor(Color::white());
    auto rounded = std::make_shared<View>(Rect{10, 10, 40, 40});
    rounded->setBackgroundColor(Color::red());
    rounded->layer().setCornerRadius(20);
    root->addSubview(rounded);
    auto faint = std::make_shared<View>(Rect{60, 10, 30, 30});
    faint->setBackgroundColor(Color::black());
    faint->setAlpha(0.5);
    root->addSubview(faint);
    auto hidden = std::make_shared<View>(Rect{60, 60, 30, 30});
    hidden->setBackgroundColor(Color::black());
    hidden->setHidden(true);
    root->addSubview(hidden);
    auto clipper = std::make_shared<View>(Rect{10, 60, 20, 20});
    clipper->setClipsToBounds(true);
    auto overflow = std::make_shared<View>(Rect{0, 0, 40, 40});
    overflow->setBackgroundColor(Color::blue());
    clipper->addSubview(overflow);
    root->addSubview(clipper);

    ImagePtr image = Renderer::renderView(*root, 1);
    EXPECT_EQ(image->pixelRgba8(30, 30), 0xFF0000FFu);  // inside the circle
    EXPECT_EQ(image->pixelRgba8(11, 11), 0xFFFFFFFFu);  // outside its rounded corner
    EXPECT_NEAR(image->pixel(75, 25).r, 0.5, 0.01);     // half black over white
    EXPECT_EQ(image->pixelRgba8(75, 75), 0xFFFFFFFFu);  // hidden
    EXPECT_EQ(image->pixelRgba8(15, 65), 0x0000FFFFu);  // inside the clip
    EXPECT_EQ(image->pixelRgba8(40, 75), 0xFFFFFFFFu);  // clipped away
}

// Paints a red square twice its size, from its own origin.
class Spilling : public View {
  public:
    using View::View;
    void draw(GraphicsContext& context, const Rect&) override {
        context.setFillColor(Color::red());
        context.fillRect({0, 0, 2 * bounds().width(), 2 * bounds().height()});
    }
};

TEST_F(RenderTest, ViewsDrawWithinTheirFramesAndScrollViewsClipTheirContent) {
    auto root = std::make_shared<View>(Rect{0, 0, 100, 100});
    root->setBackgroundColor(Color::white());
    ImageContext square({20, 20});
    square.context().setFillColor(Color::red());
    square.context().fillRect({0, 0, 20, 20});
    ImagePtr red = square.makeImage();
    // A button of no size shows no image; a small one shrinks its image to its own size.
    auto none = std::make_shared<Button>(Rect{30, 30, 0, 0});
    none->setImage(red);
    root->addSubview(none);
    auto small = std::make_shared<Button>(Rect{70, 10, 10, 10});
    small->setImage(red);
    root->addSubview(small);
    // A label squeezed to no width shows no text, a small one none past its edges.
    auto squeezed = std::make_shared<Label>(Rect{10, 60, 0, 20});
    squeezed->setText("关闭");
    root->addSubview(squeezed);
    auto narrow = std::make_shared<Label>(Rect{60, 60, 10, 6});
    narrow->setText("关闭关闭");
    narrow->setLineBreakMode(LineBreakMode::kClip);
    root->addSubview(narrow);
    auto drawn = std::make_shared<Spilling>(Rect{40, 80, 10, 10});
    root->addSubview(drawn);
    // A scroll view shows only what lies within it.
    auto scroll = std::make_shared<ScrollView>(Rect{10, 10, 20, 20});
    EXPECT_TRUE(scroll->clipsToBounds());
    auto content = std::make_shared<View>(Rect{-10, -10, 60, 60});
    content->setBackgroundColor(Color::red());
    scroll->addSubview(content);
    root->addSubview(scroll);

    ImagePtr image = Renderer::renderView(*root, 2);
    const std::vector<Rect> allowed = {
        {70, 10, 10, 10}, {60, 60, 10, 6}, {40, 80, 10, 10}, {10, 10, 20, 20}};
    int inkInside = 0;
    for (int y = 0; y < 200; ++y) {
        for (int x = 0; x < 200; ++x) {
            Point p{x / 2.0 + 0.25, y / 2.0 + 0.25};
            bool inside = std::any_of(allowed.begin(), allowed.end(),
                                      [&](const Rect& r) { return r.contains(p); });
            bool ink = image->pixelRgba8(x, y) != 0xFFFFFFFFu;
            ASSERT_TRUE(inside || !ink) << "ink at " << p.x << ", " << p.y;
            inkInside += ink;
        }
    }
    EXPECT_EQ(image->pixelRgba8(2 * 75, 2 * 15), 0xFF0000FFu);  // the shrunk image
    EXPECT_EQ(image->pixelRgba8(2 * 45, 2 * 85), 0xFF0000FFu);  // the drawing
    EXPECT_EQ(image->pixelRgba8(2 * 29, 2 * 29), 0xFF0000FFu);  // the scrolled content
    EXPECT_GT(inkInside, 4 * (100 + 100 + 400));
}

TEST_F(RenderTest, LinesOfNoWidthAreHairlinesOfOnePixel) {
    for (double scale : {1.0, 2.0}) {
        SCOPED_TRACE("scale " + std::to_string(scale));
        ImageContext image({20, 20}, false, scale);
        GraphicsContext& g = image.context();
        g.setStrokeColor(Color::black());
        g.setShouldAntialias(false);
        g.setLineWidth(0);
        EXPECT_EQ(g.lineWidth(), 0);
        g.beginPath();
        g.moveTo({0, 10});
        g.lineTo({20, 10});
        g.moveTo({10, 0});
        g.lineTo({10, 5});
        g.strokePath();
        ImagePtr drawn = image.makeImage();
        int rows = 0, columns = 0;
        for (int y = 0; y < drawn->pixelHeight(); ++y) {
            rows += drawn->pixel(drawn->pixelWidth() - 1, y).a > 0.5;
        }
        for (int x = 0; x < drawn->pixelWidth(); ++x) {
            columns += drawn->pixel(x, 1).a > 0.5;
        }
        EXPECT_EQ(rows, 1);
        EXPECT_EQ(columns, 1);
        // The width of 0 stays for the next path, and goes with the state it was set in.
        g.save();
        g.setLineWidth(3);
        g.restore();
        EXPECT_EQ(g.lineWidth(), 0);
    }
}

}  // namespace
