// Pango layouts shared by measurement and drawing, so that text is set the same way in both.
// Internal to the graphics layer and the renderer.
#pragma once

#include <cairo.h>
#include <pango/pangocairo.h>

#include <memory>
#include <string_view>

#include "platform/graphics/Font.h"

namespace platform::pango {

struct GObjectUnref {
    void operator()(void* object) const;
};
using LayoutPtr = std::unique_ptr<PangoLayout, GObjectUnref>;

// A layout of the text in the style for the box (non-positive sides are unlimited), made for
// `cr` with hinting off and in points, so that its lines and sizes do not depend on the scale
// or transform it is drawn at: measured and drawn, a text is set alike.
LayoutPtr makeLayout(cairo_t* cr, std::string_view text, const TextStyle& style, Size box);
// An empty single-paragraph layout in a font described by the caller, set up alike, for text
// whose fonts come from elsewhere (a web page's styles).
LayoutPtr makeLayout(cairo_t* cr, const PangoFontDescription* font);

// How many lines of the layout are shown within the box and style, and the size they take
// (not rounded).
struct Extent {
    int lines = 0;
    Size size;
};
Extent shownExtent(PangoLayout* layout, const TextStyle& style, Size box);

double lineHeight(cairo_t* cr, const Font& font);

}  // namespace platform::pango
