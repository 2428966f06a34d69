#include "platform/graphics/Font.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <mutex>
#include <vector>

#include "platform/NoDestructor.h"
#include "platform/Utf8.h"
#include "platform/graphics/PangoText.h"

#if defined(__SANITIZE_ADDRESS__)
// The font configuration library keeps the font patterns it matched in caches that it never
// frees; without this the leak checker would report them at the exit of every program that
// sets text. Nothing of ours is allocated there.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\n";
}
#endif

namespace platform {

namespace {

std::shared_ptr<const TextMeasurer>& installed() {
    static NoDestructor<std::shared_ptr<const TextMeasurer>> measurer;
    return *measurer;
}

const PangoTextMeasurer& pangoMeasurer() {
    static const NoDestructor<PangoTextMeasurer> measurer;
    return *measurer;
}

// Measurement runs on a private one-pixel surface; the lock keeps Pango's shared state safe
// should another thread measure too.
struct MeasuringContext {
    std::mutex mutex;
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 1, 1);
    cairo_t* cr = cairo_create(surface);
};

MeasuringContext& measuringContext() {
    static NoDestructor<MeasuringContext> context;
    return *context;
}

double roundUp(double v) {
    return std::ceil(v - 1e-9);
}

constexpr double kUnlimited = std::numeric_limits<double>::infinity();

}  // namespace

double Font::lineHeight() const {
    return TextMeasurer::current().lineHeight(*this);
}

std::string Font::resolvedFamilies() const {
    if (isSystem()) {
        return "Noto Sans CJK SC,DejaVu Sans,sans-serif";
    }
    return family_ + ",Noto Sans CJK SC,sans-serif";
}

const TextMeasurer& TextMeasurer::current() {
    const auto& m = installed();
    return m ? *m : static_cast<const TextMeasurer&>(pangoMeasurer());
}

void TextMeasurer::setCurrent(std::shared_ptr<const TextMeasurer> measurer) {
    installed() = std::move(measurer);
}

double FixedTextMeasurer::advance(char32_t c, const Font& font) {
    if (c == U'\n') {
        return 0;
    }
    return (utf8::isWide(c) ? 1.0 : 0.5) * font.pointSize();
}

Size FixedTextMeasurer::measure(std::string_view text, const TextStyle& style, Size box) const {
    if (text.empty()) {
        return {};
    }
    const Font& font = style.font;
    std::u32string chars = utf8::decode(text);
    double maxWidth = box.width > 0 ? box.width : kUnlimited;
    double lh = lineHeight(font);

    if (style.numberOfLines == 1) {
        double w = 0;
        for (char32_t c : chars) {
            w += advance(c, font);
        }
        return {roundUp(std::min(w, maxWidth)), roundUp(lh)};
    }

    // Greedy wrapping: a unit is a run of narrow non-space characters (a word), one space or
    // one wide character. Trailing spaces of a line take no room.
    std::vector<double> lineWidths;
    double line = 0;     // width of the current line, trailing spaces excluded
    double pending = 0;  // trailing spaces not yet followed by a unit
    bool lineHasUnit = false;
    auto breakLine = [&] {
        lineWidths.push_back(line);
        line = 0;
        pending = 0;
        lineHasUnit = false;
    };
    auto place = [&](double w) {
        if (lineHasUnit && line + pending + w > maxWidth + 1e-9) {
            breakLine();
        }
        line += pending + w;
        pending = 0;
        lineHasUnit = true;
    };
    std::size_t i = 0;
    while (i < chars.size()) {
        char32_t c = chars[i];
        if (c == U'\n') {
            breakLine();
            ++i;
        } else if (c == U' ') {
            if (lineHasUnit) {
                pending += advance(c, font);
            }
            ++i;
        } else if (utf8::isWide(c) || style.lineBreakMode == LineBreakMode::kCharWrap) {
            place(advance(c, font));
            ++i;
        } else {
            std::size_t end = i;
            double w = 0;
            while (end < chars.size() && chars[end] != U' ' && chars[end] != U'\n' &&
                   !utf8::isWide(chars[end])) {
                w += advance(chars[end], font);
                ++end;
            }
            if (w <= maxWidth || (lineHasUnit && line + pending + w <= maxWidth)) {
                place(w);
            } else {
                // A word wider than a whole line breaks between its characters.
                for (std::size_t k = i; k < end; ++k) {
                    place(advance(chars[k], font));
                }
            }
            i = end;
        }
    }
    if (lineHasUnit || lineWidths.empty() || chars.back() == U'\n') {
        lineWidths.push_back(line);
    }

    std::size_t allowed = lineWidths.size();
    if (style.numberOfLines > 0) {
        allowed = std::min<std::size_t>(allowed, style.numberOfLines);
    }
    if (box.height > 0) {
        auto fit = static_cast<std::size_t>(std::max(1.0, std::floor(box.height / lh + 1e-9)));
        allowed = std::min(allowed, fit);
    }
    double width = 0;
    for (std::size_t k = 0; k < allowed; ++k) {
        width = std::max(width, lineWidths[k]);
    }
    return {roundUp(std::min(width, maxWidth)), roundUp(lh * static_cast<double>(allowed))};
}

Size PangoTextMeasurer::measure(std::string_view text, const TextStyle& style, Size box) const {
    if (text.empty()) {
        return {};
    }
    auto& mc = measuringContext();
    std::lock_guard lock(mc.mutex);
    auto layout = pango::makeLayout(mc.cr, text, style, box);
    pango::Extent extent = pango::shownExtent(layout.get(), style, box);
    return {roundUp(extent.size.width), roundUp(extent.size.height)};
}

double PangoTextMeasurer::lineHeight(const Font& font) const {
    auto& mc = measuringContext();
    std::lock_guard lock(mc.mutex);
    return pango::lineHeight(mc.cr, font);
}

Size measureText(std::string_view text, const Font& font) {
    TextStyle style{font, LineBreakMode::kWordWrap, TextAlignment::kLeft, 1};
    return TextMeasurer::current().measure(text, style, {});
}

Size measureText(std::string_view text, const Font& font, Size box, LineBreakMode mode) {
    TextStyle style{font, mode, TextAlignment::kLeft, 0};
    return TextMeasurer::current().measure(text, style, box);
}

ScopedTextMeasurer::ScopedTextMeasurer(std::shared_ptr<const TextMeasurer> measurer)
    : previous_(installed()) {
    TextMeasurer::setCurrent(std::move(measurer));
}

ScopedTextMeasurer::~ScopedTextMeasurer() {
    TextMeasurer::setCurrent(std::move(previous_));
}

}  // namespace platform
