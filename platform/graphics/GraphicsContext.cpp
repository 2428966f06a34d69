#include "platform/graphics/GraphicsContext.h"

#include <cairo.h>

#include <algorithm>
#include <cmath>
#include <numbers>

#include "platform/graphics/PangoText.h"

namespace platform {

namespace {

// A cairo surface over the image's pixels; the image must outlive it.
cairo_surface_t* surfaceOf(const Image& image) {
    auto* data = reinterpret_cast<unsigned char*>(const_cast<std::uint32_t*>(image.data()));
    return cairo_image_surface_create_for_data(data, CAIRO_FORMAT_ARGB32, image.pixelWidth(),
                                               image.pixelHeight(), image.stride());
}

// Paints the source rectangle (pixels) of `surface` into `dest` (points).
void paintPatch(cairo_t* cr, cairo_surface_t* surface, double sx, double sy, double sw, double sh,
                const Rect& dest) {
    if (sw <= 0 || sh <= 0 || dest.size.width <= 0 || dest.size.height <= 0) {
        return;
    }
    cairo_surface_t* sub = cairo_surface_create_for_rectangle(surface, sx, sy, sw, sh);
    cairo_save(cr);
    cairo_rectangle(cr, dest.origin.x, dest.origin.y, dest.size.width, dest.size.height);
    cairo_clip(cr);
    cairo_translate(cr, dest.origin.x, dest.origin.y);
    cairo_scale(cr, dest.size.width / sw, dest.size.height / sh);
    cairo_set_source_surface(cr, sub, 0, 0);
    cairo_pattern_set_extend(cairo_get_source(cr), CAIRO_EXTEND_PAD);
    cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_GOOD);
    cairo_paint(cr);
    cairo_restore(cr);
    cairo_surface_destroy(sub);
}

}  // namespace

GraphicsContext::GraphicsContext(_cairo* cr) : cr_(cr) {
    cairo_set_line_width(cr_, 1);
    cairo_set_antialias(cr_, CAIRO_ANTIALIAS_DEFAULT);
}

void GraphicsContext::save() {
    cairo_save(cr_);
    states_.push_back(states_.back());
}

void GraphicsContext::restore() {
    if (states_.size() > 1) {
        cairo_restore(cr_);
        states_.pop_back();
    }
}

void GraphicsContext::translate(double dx, double dy) {
    cairo_translate(cr_, dx, dy);
}

void GraphicsContext::scale(double sx, double sy) {
    if (sx != 0 && sy != 0) {
        cairo_scale(cr_, sx, sy);
    }
}

void GraphicsContext::concat(const AffineTransform& t) {
    cairo_matrix_t m;
    cairo_matrix_init(&m, t.a, t.b, t.c, t.d, t.tx, t.ty);
    double det = t.a * t.d - t.b * t.c;
    if (det != 0) {
        cairo_transform(cr_, &m);
    }
}

void GraphicsContext::clip(const Rect& rect) {
    cairo_new_path(cr_);
    cairo_rectangle(cr_, rect.minX(), rect.minY(), rect.width(), rect.height());
    cairo_clip(cr_);
}

void GraphicsContext::clipRounded(const Rect& rect, double radius) {
    cairo_new_path(cr_);
    addRoundedRect(rect, radius);
    cairo_clip(cr_);
}

void GraphicsContext::setFillColor(Color color) {
    states_.back().fill = color;
}
void GraphicsContext::setStrokeColor(Color color) {
    states_.back().stroke = color;
}
void GraphicsContext::setLineWidth(double width) {
    states_.back().lineWidth = std::max(width, 0.0);
    cairo_set_line_width(cr_, states_.back().lineWidth);
}

void GraphicsContext::setShouldAntialias(bool antialias) {
    cairo_set_antialias(cr_, antialias ? CAIRO_ANTIALIAS_DEFAULT : CAIRO_ANTIALIAS_NONE);
}

void GraphicsContext::setAlpha(double alpha) {
    states_.back().alpha = std::clamp(alpha, 0.0, 1.0);
}

void GraphicsContext::setSource(Color color) {
    cairo_set_source_rgba(cr_, color.r, color.g, color.b, color.a * state().alpha);
}

void GraphicsContext::beginPath() {
    cairo_new_path(cr_);
}
void GraphicsContext::moveTo(Point p) {
    cairo_move_to(cr_, p.x, p.y);
}
void GraphicsContext::lineTo(Point p) {
    cairo_line_to(cr_, p.x, p.y);
}
void GraphicsContext::closePath() {
    cairo_close_path(cr_);
}

void GraphicsContext::addRect(const Rect& rect) {
    cairo_rectangle(cr_, rect.minX(), rect.minY(), rect.width(), rect.height());
}

void GraphicsContext::addRoundedRect(const Rect& rect, double radius) {
    double r = std::clamp(radius, 0.0, std::min(rect.width(), rect.height()) / 2);
    if (r <= 0) {
        addRect(rect);
        return;
    }
    constexpr double kPi = std::numbers::pi;
    double x0 = rect.minX(), y0 = rect.minY(), x1 = rect.maxX(), y1 = rect.maxY();
    cairo_new_sub_path(cr_);
    cairo_arc(cr_, x1 - r, y0 + r, r, -kPi / 2, 0);
    cairo_arc(cr_, x1 - r, y1 - r, r, 0, kPi / 2);
    cairo_arc(cr_, x0 + r, y1 - r, r, kPi / 2, kPi);
    cairo_arc(cr_, x0 + r, y0 + r, r, kPi, 3 * kPi / 2);
    cairo_close_path(cr_);
}

void GraphicsContext::addArc(Point center, double radius, double startAngle, double endAngle,
                             bool clockwise) {
    if (clockwise) {
        cairo_arc(cr_, center.x, center.y, radius, startAngle, endAngle);
    } else {
        cairo_arc_negative(cr_, center.x, center.y, radius, startAngle, endAngle);
    }
}

void GraphicsContext::fillPath() {
    setSource(state().fill);
    cairo_fill(cr_);
}

void GraphicsContext::strokePath() {
    setSource(state().stroke);
    if (state().lineWidth > 0) {
        cairo_stroke(cr_);
        return;
    }
    // Cairo strokes nothing at width 0; a hairline is one pixel of the bitmap in any direction,
    // whatever scale or transform is current.
    double ax = 1, ay = 0, bx = 0, by = 1;
    cairo_device_to_user_distance(cr_, &ax, &ay);
    cairo_device_to_user_distance(cr_, &bx, &by);
    cairo_set_line_width(cr_, std::max(std::hypot(ax, ay), std::hypot(bx, by)));
    cairo_stroke(cr_);
    cairo_set_line_width(cr_, 0);
}

void GraphicsContext::fillRect(const Rect& rect) {
    cairo_new_path(cr_);
    addRect(rect);
    fillPath();
}

void GraphicsContext::fillRoundedRect(const Rect& rect, double radius) {
    cairo_new_path(cr_);
    addRoundedRect(rect, radius);
    fillPath();
}

void GraphicsContext::strokeRect(const Rect& rect) {
    cairo_new_path(cr_);
    addRect(rect);
    strokePath();
}

void GraphicsContext::clearRect(const Rect& rect) {
    cairo_save(cr_);
    cairo_set_operator(cr_, CAIRO_OPERATOR_CLEAR);
    cairo_new_path(cr_);
    addRect(rect);
    cairo_fill(cr_);
    cairo_restore(cr_);
}

void GraphicsContext::drawImage(const Image& image, const Rect& rect) {
    Rect dest = rect.standardized();
    if (dest.isEmpty() || image.pixelWidth() == 0 || image.pixelHeight() == 0) {
        return;
    }
    cairo_surface_t* surface = surfaceOf(image);
    bool translucent = state().alpha < 1;
    if (translucent) {
        cairo_push_group(cr_);
    }
    double s = image.scale();
    double pw = image.pixelWidth(), ph = image.pixelHeight();
    if (!image.hasCaps()) {
        paintPatch(cr_, surface, 0, 0, pw, ph, dest);
    } else {
        // Nine patches: caps keep their size (shrunk together when the target is smaller),
        // the middle row and column stretch.
        EdgeInsets caps = image.capInsets();
        double horizontal = caps.left + caps.right;
        double vertical = caps.top + caps.bottom;
        double fx = horizontal > dest.size.width ? dest.size.width / horizontal : 1;
        double fy = vertical > dest.size.height ? dest.size.height / vertical : 1;
        double dl = caps.left * fx, dr = caps.right * fx, dt = caps.top * fy, db = caps.bottom * fy;
        double sl = caps.left * s, sr = caps.right * s, st = caps.top * s, sb = caps.bottom * s;
        double sxs[3] = {0, sl, pw - sr};
        double sws[3] = {sl, pw - sl - sr, sr};
        double sys[3] = {0, st, ph - sb};
        double shs[3] = {st, ph - st - sb, sb};
        double dxs[3] = {dest.origin.x, dest.origin.x + dl, dest.maxX() - dr};
        double dws[3] = {dl, dest.size.width - dl - dr, dr};
        double dys[3] = {dest.origin.y, dest.origin.y + dt, dest.maxY() - db};
        double dhs[3] = {dt, dest.size.height - dt - db, db};
        for (int row = 0; row < 3; ++row) {
            for (int col = 0; col < 3; ++col) {
                paintPatch(cr_, surface, sxs[col], sys[row], sws[col], shs[row],
                           Rect{dxs[col], dys[row], dws[col], dhs[row]});
            }
        }
    }
    if (translucent) {
        cairo_pop_group_to_source(cr_);
        cairo_paint_with_alpha(cr_, state().alpha);
    }
    cairo_surface_destroy(surface);
}

Size GraphicsContext::drawText(std::string_view text, const Rect& rect, const TextStyle& style,
                               Color color, const std::optional<TextShadow>& shadow) {
    if (text.empty()) {
        return {};
    }
    Rect box = rect.standardized();
    auto layout = pango::makeLayout(cr_, text, style, box.size);
    pango::Extent extent = pango::shownExtent(layout.get(), style, box.size);

    double dx = 0;
    if (pango_layout_get_width(layout.get()) < 0 && box.size.width > 0) {
        // A layout without a width is not aligned by Pango: place its line ourselves.
        PangoRectangle logical;
        pango_layout_get_extents(layout.get(), nullptr, &logical);
        double lineWidth = logical.width / double(PANGO_SCALE);
        if (style.alignment == TextAlignment::kCenter) {
            dx = (box.size.width - lineWidth) / 2;
        } else if (style.alignment == TextAlignment::kRight) {
            dx = box.size.width - lineWidth;
        }
    }

    cairo_save(cr_);
    cairo_new_path(cr_);
    double clipWidth = box.size.width > 0 ? box.size.width : extent.size.width;
    cairo_rectangle(cr_, box.origin.x, box.origin.y, clipWidth, extent.size.height);
    if (shadow) {
        cairo_rectangle(cr_, box.origin.x + shadow->offset.width,
                        box.origin.y + shadow->offset.height, clipWidth, extent.size.height);
    }
    cairo_clip(cr_);
    if (shadow && !shadow->color.isClear()) {
        setSource(shadow->color);
        cairo_move_to(cr_, box.origin.x + dx + shadow->offset.width,
                      box.origin.y + shadow->offset.height);
        pango_cairo_show_layout(cr_, layout.get());
    }
    setSource(color);
    cairo_move_to(cr_, box.origin.x + dx, box.origin.y);
    pango_cairo_show_layout(cr_, layout.get());
    cairo_restore(cr_);
    return extent.size;
}

void GraphicsContext::drawDrawing(const Drawing& drawing, const Rect& rect) {
    if (drawing.isEmpty() || drawing.size().width <= 0 || drawing.size().height <= 0) {
        return;
    }
    cairo_save(cr_);
    cairo_translate(cr_, rect.origin.x, rect.origin.y);
    cairo_scale(cr_, rect.size.width / drawing.size().width,
                rect.size.height / drawing.size().height);
    cairo_set_source_surface(cr_, drawing.surface(), 0, 0);
    if (state().alpha < 1) {
        cairo_paint_with_alpha(cr_, state().alpha);
    } else {
        cairo_paint(cr_);
    }
    cairo_restore(cr_);
}

void GraphicsContext::beginTransparencyLayer() {
    save();
    cairo_push_group(cr_);
}

void GraphicsContext::endTransparencyLayer(double alpha) {
    cairo_pop_group_to_source(cr_);
    cairo_paint_with_alpha(cr_, std::clamp(alpha, 0.0, 1.0));
    restore();
}

// ---- ImageContext ------------------------------------------------------------------------

ImageContext::ImageContext(Size size, bool opaque, double scale)
    : size_(size), scale_(scale > 0 ? scale : 1) {
    int w = std::max(1, static_cast<int>(std::ceil(std::max(size.width, 0.0) * scale_)));
    int h = std::max(1, static_cast<int>(std::ceil(std::max(size.height, 0.0) * scale_)));
    surface_ = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w, h);
    cr_ = cairo_create(surface_);
    if (opaque) {
        cairo_set_source_rgb(cr_, 0, 0, 0);
        cairo_paint(cr_);
    }
    cairo_scale(cr_, scale_, scale_);
    context_ = std::make_unique<GraphicsContext>(cr_);
}

ImageContext::~ImageContext() {
    context_.reset();
    cairo_destroy(cr_);
    cairo_surface_destroy(surface_);
}

ImagePtr ImageContext::makeImage() const {
    cairo_surface_flush(surface_);
    int w = cairo_image_surface_get_width(surface_);
    int h = cairo_image_surface_get_height(surface_);
    int stride = cairo_image_surface_get_stride(surface_);
    auto image = std::make_shared<Image>(w, h, scale_);
    const unsigned char* src = cairo_image_surface_get_data(surface_);
    auto* dst = reinterpret_cast<unsigned char*>(image->mutableData());
    for (int y = 0; y < h; ++y) {
        std::copy_n(src + static_cast<std::size_t>(y) * stride, w * 4,
                    dst + static_cast<std::size_t>(y) * w * 4);
    }
    return image;
}

// ---- Drawing -----------------------------------------------------------------------------

std::shared_ptr<const Drawing> Drawing::record(Size size,
                                               const std::function<void(GraphicsContext&)>& paint) {
    std::shared_ptr<Drawing> drawing(new Drawing());
    drawing->size_ = size;
    drawing->surface_ = cairo_recording_surface_create(CAIRO_CONTENT_COLOR_ALPHA, nullptr);
    cairo_t* cr = cairo_create(drawing->surface_);
    {
        GraphicsContext context(cr);
        paint(context);
    }
    cairo_destroy(cr);
    double x, y, w, h;
    cairo_recording_surface_ink_extents(drawing->surface_, &x, &y, &w, &h);
    drawing->empty_ = w <= 0 || h <= 0;
    return drawing;
}

Drawing::~Drawing() {
    if (surface_) {
        cairo_surface_destroy(surface_);
    }
}

}  // namespace platform
