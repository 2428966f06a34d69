#include "platform/graphics/PangoText.h"

#include <algorithm>
#include <climits>
#include <cmath>

namespace platform::pango {

namespace {

struct FontDescriptionDeleter {
    void operator()(PangoFontDescription* d) const { pango_font_description_free(d); }
};

bool truncates(LineBreakMode mode) {
    return mode == LineBreakMode::kHeadTruncation || mode == LineBreakMode::kTailTruncation ||
           mode == LineBreakMode::kMiddleTruncation;
}

PangoEllipsizeMode ellipsizeMode(LineBreakMode mode) {
    switch (mode) {
        case LineBreakMode::kHeadTruncation:
            return PANGO_ELLIPSIZE_START;
        case LineBreakMode::kMiddleTruncation:
            return PANGO_ELLIPSIZE_MIDDLE;
        case LineBreakMode::kTailTruncation:
            return PANGO_ELLIPSIZE_END;
        default:
            return PANGO_ELLIPSIZE_NONE;
    }
}

// Text is laid out in points, whatever the scale or transform of the context it is drawn on:
// glyph positions are rounded and metrics taken in the space of the layout's matrix, so a
// layout made under a scale of 2 would break its lines elsewhere than the measurement did.
void applyFontOptions(cairo_t* cr, PangoContext* context) {
    cairo_font_options_t* options = cairo_font_options_create();
    cairo_font_options_set_hint_metrics(options, CAIRO_HINT_METRICS_OFF);
    cairo_font_options_set_hint_style(options, CAIRO_HINT_STYLE_NONE);
    cairo_font_options_set_antialias(options, CAIRO_ANTIALIAS_GRAY);
    pango_cairo_context_set_font_options(context, options);
    cairo_font_options_destroy(options);
    pango_cairo_update_context(cr, context);
    pango_context_set_matrix(context, nullptr);
}

std::unique_ptr<PangoFontDescription, FontDescriptionDeleter> description(const Font& font) {
    std::unique_ptr<PangoFontDescription, FontDescriptionDeleter> d(pango_font_description_new());
    pango_font_description_set_family(d.get(), font.resolvedFamilies().c_str());
    pango_font_description_set_absolute_size(d.get(),
                                             std::max(font.pointSize(), 0.0) * PANGO_SCALE);
    pango_font_description_set_weight(d.get(),
                                      font.isBold() ? PANGO_WEIGHT_BOLD : PANGO_WEIGHT_NORMAL);
    return d;
}

int allowedLines(const TextStyle& style, Size box, double lineHeight) {
    int allowed = style.numberOfLines > 0 ? style.numberOfLines : INT_MAX;
    if (box.height > 0 && lineHeight > 0) {
        double fit = std::floor(box.height / lineHeight + 1e-6);
        allowed = std::min<double>(allowed, std::max(1.0, fit));
    }
    return allowed;
}

}  // namespace

void GObjectUnref::operator()(void* object) const {
    g_object_unref(object);
}

LayoutPtr makeLayout(cairo_t* cr, const PangoFontDescription* font) {
    LayoutPtr layout(pango_cairo_create_layout(cr));
    applyFontOptions(cr, pango_layout_get_context(layout.get()));
    pango_layout_context_changed(layout.get());
    pango_layout_set_font_description(layout.get(), font);
    return layout;
}

LayoutPtr makeLayout(cairo_t* cr, std::string_view text, const TextStyle& style, Size box) {
    auto font = description(style.font);
    LayoutPtr layout = makeLayout(cr, font.get());
    pango_layout_set_text(layout.get(), text.data(), static_cast<int>(text.size()));
    switch (style.alignment) {
        case TextAlignment::kCenter:
            pango_layout_set_alignment(layout.get(), PANGO_ALIGN_CENTER);
            break;
        case TextAlignment::kRight:
            pango_layout_set_alignment(layout.get(), PANGO_ALIGN_RIGHT);
            break;
        default:
            pango_layout_set_alignment(layout.get(), PANGO_ALIGN_LEFT);
    }
    bool singleLine = style.numberOfLines == 1;
    pango_layout_set_single_paragraph_mode(layout.get(), singleLine);
    if (singleLine) {
        if (truncates(style.lineBreakMode) && box.width > 0) {
            pango_layout_set_width(layout.get(), static_cast<int>(box.width * PANGO_SCALE));
            pango_layout_set_ellipsize(layout.get(), ellipsizeMode(style.lineBreakMode));
        } else {
            pango_layout_set_width(layout.get(), -1);
        }
        return layout;
    }
    if (box.width > 0) {
        pango_layout_set_width(layout.get(), static_cast<int>(box.width * PANGO_SCALE));
        pango_layout_set_wrap(layout.get(), style.lineBreakMode == LineBreakMode::kCharWrap
                                                ? PANGO_WRAP_CHAR
                                                : PANGO_WRAP_WORD_CHAR);
        if (truncates(style.lineBreakMode)) {
            int allowed = allowedLines(style, box, lineHeight(cr, style.font));
            if (allowed != INT_MAX) {
                pango_layout_set_ellipsize(layout.get(), ellipsizeMode(style.lineBreakMode));
                pango_layout_set_height(layout.get(), -allowed);
            }
        }
    }
    return layout;
}

Extent shownExtent(PangoLayout* layout, const TextStyle& style, Size box) {
    Extent extent;
    if (pango_layout_get_character_count(layout) == 0) {
        return extent;
    }
    PangoContext* context = pango_layout_get_context(layout);
    auto font = description(style.font);
    PangoFontMetrics* metrics = pango_context_get_metrics(context, font.get(), nullptr);
    double lh = (pango_font_metrics_get_ascent(metrics) + pango_font_metrics_get_descent(metrics)) /
                double(PANGO_SCALE);
    pango_font_metrics_unref(metrics);
    int allowed = allowedLines(style, box, lh);

    PangoLayoutIter* iter = pango_layout_get_iter(layout);
    double width = 0;
    double bottom = 0;
    int lines = 0;
    do {
        if (lines == allowed) {
            break;
        }
        PangoRectangle logical;
        pango_layout_iter_get_line_extents(iter, nullptr, &logical);
        width = std::max(width, logical.width / double(PANGO_SCALE));
        bottom = (logical.y + logical.height) / double(PANGO_SCALE);
        ++lines;
    } while (pango_layout_iter_next_line(iter));
    pango_layout_iter_free(iter);

    if (box.width > 0) {
        width = std::min(width, box.width);
    }
    extent.lines = lines;
    extent.size = {width, bottom};
    return extent;
}

double lineHeight(cairo_t* cr, const Font& font) {
    LayoutPtr layout(pango_cairo_create_layout(cr));
    applyFontOptions(cr, pango_layout_get_context(layout.get()));
    auto d = description(font);
    PangoFontMetrics* metrics =
        pango_context_get_metrics(pango_layout_get_context(layout.get()), d.get(), nullptr);
    double lh = (pango_font_metrics_get_ascent(metrics) + pango_font_metrics_get_descent(metrics)) /
                double(PANGO_SCALE);
    pango_font_metrics_unref(metrics);
    return lh;
}

}  // namespace platform::pango
