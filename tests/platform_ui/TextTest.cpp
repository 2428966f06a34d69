// Text measurement: the fixed metrics that layout tests reckon with, and Pango's real ones.
#include <gtest/gtest.h>

#include <cmath>

#include "platform/graphics/Font.h"
#include "platform/graphics/GraphicsContext.h"

using namespace platform;

namespace {

TEST(FixedMetrics, WidthsLinesAndCutsCanBeWorkedOutByHand) {
    ScopedTextMeasurer fixed;
    Font f = Font::system(10);  // narrow 5, wide 10, line 12
    EXPECT_EQ(measureText("Hello", f), (Size{25, 12}));
    EXPECT_EQ(measureText("分享至", f), (Size{30, 12}));
    EXPECT_EQ(measureText("", f), (Size{0, 0}));
    EXPECT_EQ(measureText("abc", Font::system(16)), (Size{24, 20}));  // 19.2 rounds up

    // Words wrap at spaces; the trailing space of a line takes no room.
    EXPECT_EQ(measureText("aaaa bbbb cc", f, {50, 0}), (Size{45, 24}));
    // A word longer than the box breaks between characters.
    EXPECT_EQ(measureText("abcdefghij", f, {30, 0}), (Size{30, 24}));
    // Wide characters break anywhere.
    EXPECT_EQ(measureText("一二三四五", f, {25, 0}), (Size{20, 36}));
    // Only whole lines that fit the height count, at least one.
    EXPECT_EQ(measureText("aaaa bbbb cc", f, {50, 30}), (Size{45, 24}));
    EXPECT_EQ(measureText("aaaa bbbb cc", f, {50, 5}), (Size{45, 12}));
    // A line limit, and forced line breaks.
    TextStyle two{f, LineBreakMode::kWordWrap, TextAlignment::kLeft, 2};
    EXPECT_EQ(TextMeasurer::current().measure("a\nb\nc", two, {}), (Size{5, 24}));
    // One line: capped by the box's width, never wrapped.
    TextStyle one{f, LineBreakMode::kTailTruncation, TextAlignment::kLeft, 1};
    EXPECT_EQ(TextMeasurer::current().measure("aaaa bbbb", one, {20, 0}), (Size{20, 12}));
}

TEST(FixedMetrics, ScopedMeasurerPutsThePreviousOneBack) {
    double pango = Font::system(10).lineHeight();
    {
        ScopedTextMeasurer fixed;
        EXPECT_DOUBLE_EQ(Font::system(10).lineHeight(), 12);
    }
    EXPECT_DOUBLE_EQ(Font::system(10).lineHeight(), pango);
}

TEST(PangoMetrics, RealTextWrapsAndCutsLikeTheFixedModel) {
    Font f = Font::system(16);
    Size latin = measureText("Share", f);
    Size chinese = measureText("分享至", f);
    EXPECT_GT(latin.width, 20);
    EXPECT_GT(chinese.width, 40);  // three full-width glyphs of a 16-point CJK face
    EXPECT_EQ(latin.height, chinese.height);
    EXPECT_EQ(latin.width, std::ceil(latin.width));

    // Bold is wider; a larger size is taller.
    EXPECT_GT(measureText("Share", Font::boldSystem(16)).width, latin.width);
    EXPECT_GT(measureText("Share", Font::system(24)).height, latin.height);

    std::string sentence = "对不起，因为违反了用户协议您已被禁言";
    Size one = measureText(sentence, f);
    Size wrapped = measureText(sentence, f, {120, 0});
    EXPECT_LE(wrapped.width, 120);
    EXPECT_GE(wrapped.height, 3 * f.lineHeight());
    Size cut = measureText(sentence, f, {120, one.height * 2 + 1});
    EXPECT_NEAR(cut.height, 2 * one.height, 2);
    EXPECT_EQ(measureText("", f), (Size{0, 0}));
}

TEST(PangoMetrics, DrawnTextStaysInItsBoxAndFollowsItsAlignment) {
    TextStyle style{Font::system(14), LineBreakMode::kTailTruncation, TextAlignment::kRight, 1};
    ImageContext context({200, 40});
    Size used = context.context().drawText("好", {0, 0, 200, 40}, style, Color::black());
    ImagePtr image = context.makeImage();
    int leftInk = 0, rightInk = 0;
    for (int y = 0; y < 40; ++y) {
        for (int x = 0; x < 200; ++x) {
            if (image->pixel(x, y).a > 0.5) {
                (x < 100 ? leftInk : rightInk)++;
            }
        }
    }
    EXPECT_EQ(leftInk, 0);
    EXPECT_GT(rightInk, 10);
    EXPECT_GT(used.width, 10);
}

// The lowest row (in points, from the top) with ink, or 0.
double inkBottom(const Image& image) {
    for (int y = image.pixelHeight() - 1; y >= 0; --y) {
        for (int x = 0; x < image.pixelWidth(); ++x) {
            if (image.pixel(x, y).a > 0.1) {
                return (y + 1) / image.scale();
            }
        }
    }
    return 0;
}

TEST(PangoMetrics, TextIsSetAtScaleTwoAsItWasMeasured) {
    // A long text in boxes of several widths, with room for two and a half lines: measured in
    // points and drawn at the screen's scale, it must break and cut at the same places.
    const std::string text =
        "分享失败：你还没有安装微信客户端，请先安装最新版本的微信再回来分享这条内容，谢谢你的支持";
    for (auto mode : {LineBreakMode::kWordWrap, LineBreakMode::kTailTruncation}) {
        for (double width : {150.0, 233.0, 280.0, 292.0}) {
            SCOPED_TRACE("width " + std::to_string(width));
            TextStyle style{Font::system(16), mode, TextAlignment::kCenter, 0};
            double lineHeight = style.font.lineHeight();
            Size box{width, std::floor(lineHeight * 2.5)};
            Size measured = TextMeasurer::current().measure(text, style, box);
            EXPECT_NEAR(measured.height, 2 * lineHeight, 1);

            ImageContext context({width, 200}, false, 2);
            Size drawn = context.context().drawText(text, {{0, 0}, box}, style, Color::black());
            EXPECT_EQ(std::ceil(drawn.width - 1e-9), measured.width);
            EXPECT_EQ(std::ceil(drawn.height - 1e-9), measured.height);
            EXPECT_LE(inkBottom(*context.makeImage()), measured.height);
            EXPECT_GT(inkBottom(*context.makeImage()), lineHeight);
        }
    }
}

}  // namespace
