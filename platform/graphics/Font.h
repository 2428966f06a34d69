// Fonts and the measurement of text set in them.
//
// Sizes are in points. The system font is a sans-serif face that also carries the CJK
// ideographs, so that the Chinese texts of the screens measure and draw with real glyphs.
// Measurement goes through the current TextMeasurer: Pango by default, or fixed metrics that
// tests install to get figures they can work out by hand.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "platform/graphics/Geometry.h"

namespace platform {

enum class LineBreakMode {
    kWordWrap = 0,
    kCharWrap = 1,
    kClip = 2,
    kHeadTruncation = 3,
    kTailTruncation = 4,
    kMiddleTruncation = 5,
};

enum class TextAlignment { kLeft = 0, kCenter = 1, kRight = 2 };

class Font {
  public:
    Font() = default;  // the system font at 17 points

    static Font system(double pointSize) { return Font({}, pointSize, false); }
    static Font boldSystem(double pointSize) { return Font({}, pointSize, true); }
    // A font by family name ("Helvetica"); the font system picks the nearest face it has.
    static Font named(std::string family, double pointSize) {
        return Font(std::move(family), pointSize, false);
    }

    // Empty for the system font.
    const std::string& family() const { return family_; }
    double pointSize() const { return pointSize_; }
    bool isBold() const { return bold_; }
    bool isSystem() const { return family_.empty(); }
    Font withSize(double pointSize) const { return Font(family_, pointSize, bold_); }

    // The distance between two baselines, from the current measurer.
    double lineHeight() const;

    // The family list handed to the font system ("Noto Sans CJK SC,DejaVu Sans,sans-serif"
    // for the system font).
    std::string resolvedFamilies() const;

    bool operator==(const Font&) const = default;

  private:
    Font(std::string family, double pointSize, bool bold)
        : family_(std::move(family)), pointSize_(pointSize), bold_(bold) {}

    std::string family_;
    double pointSize_ = 17;
    bool bold_ = false;
};

// How a block of text is set: wrapping, truncation and a line limit (0 = no limit).
struct TextStyle {
    Font font;
    LineBreakMode lineBreakMode = LineBreakMode::kWordWrap;
    TextAlignment alignment = TextAlignment::kLeft;
    int numberOfLines = 0;
};

class TextMeasurer {
  public:
    virtual ~TextMeasurer() = default;

    // The size the text takes when set within `box`: a single line when numberOfLines is 1
    // (its width capped by the box), otherwise wrapped at the box's width and cut to the whole
    // lines that fit its height (at least one) and to numberOfLines. Sizes are rounded up to
    // whole points. An empty text measures zero.
    virtual Size measure(std::string_view text, const TextStyle& style, Size box) const = 0;
    virtual double lineHeight(const Font& font) const = 0;

    // The process's measurer; Pango unless a test installed another. Main thread only.
    static const TextMeasurer& current();
    // Installs a measurer; nullptr goes back to Pango.
    static void setCurrent(std::shared_ptr<const TextMeasurer> measurer);
};

// Metrics that tests can reckon with: every character narrower than the CJK block advances
// half the point size, every wide character a whole point size; a line is 1.2 point sizes
// high. Words wrap at spaces, wide characters anywhere, and an over-long word by character.
class FixedTextMeasurer : public TextMeasurer {
  public:
    Size measure(std::string_view text, const TextStyle& style, Size box) const override;
    double lineHeight(const Font& font) const override { return font.pointSize() * 1.2; }
    // The advance of one code point.
    static double advance(char32_t c, const Font& font);
};

// Measures with Pango and the installed fonts, exactly as the renderer sets the text.
class PangoTextMeasurer : public TextMeasurer {
  public:
    Size measure(std::string_view text, const TextStyle& style, Size box) const override;
    double lineHeight(const Font& font) const override;
};

// The measurements the screens ask for, through the current measurer: one line unbounded,
// and wrapped within a box.
Size measureText(std::string_view text, const Font& font);
Size measureText(std::string_view text, const Font& font, Size box,
                 LineBreakMode mode = LineBreakMode::kWordWrap);

// A scoped measurer for tests: installs fixed metrics (or the given measurer) and puts the
// former one back at the end of the scope.
class ScopedTextMeasurer {
  public:
    explicit ScopedTextMeasurer(
        std::shared_ptr<const TextMeasurer> measurer = std::make_shared<FixedTextMeasurer>());
    ~ScopedTextMeasurer();
    ScopedTextMeasurer(const ScopedTextMeasurer&) = delete;
    ScopedTextMeasurer& operator=(const ScopedTextMeasurer&) = delete;

  private:
    std::shared_ptr<const TextMeasurer> previous_;
};

}  // namespace platform
