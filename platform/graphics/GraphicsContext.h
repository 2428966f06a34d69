// Drawing: a context to paint paths, images and text on, an image context that turns what was
// painted into an Image, and recorded drawings that can be played back at any size.
//
// Coordinates are points with y growing downwards. Angles are radians from the +x axis towards
// +y; an arc drawn "clockwise" runs with growing angles, which looks clockwise on screen.
// A new context fills and strokes in opaque black with lines 1 point wide, antialiased. A line
// width of 0 strokes the thinnest line the bitmap can show: one pixel wide.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

#include "platform/graphics/Color.h"
#include "platform/graphics/Font.h"
#include "platform/graphics/Geometry.h"
#include "platform/graphics/Image.h"

struct _cairo;
struct _cairo_surface;

namespace platform {

class Drawing;

struct TextShadow {
    Color color;
    Size offset;
};

class GraphicsContext {
  public:
    // Draws on a cairo context it does not own.
    explicit GraphicsContext(_cairo* cr);
    GraphicsContext(const GraphicsContext&) = delete;
    GraphicsContext& operator=(const GraphicsContext&) = delete;

    _cairo* cairo() const { return cr_; }

    void save();
    void restore();

    void translate(double dx, double dy);
    void scale(double sx, double sy);
    void concat(const AffineTransform& transform);

    void clip(const Rect& rect);
    void clipRounded(const Rect& rect, double radius);

    void setFillColor(Color color);
    void setStrokeColor(Color color);
    Color fillColor() const { return state().fill; }
    Color strokeColor() const { return state().stroke; }
    double lineWidth() const { return state().lineWidth; }
    void setLineWidth(double width);
    void setShouldAntialias(bool antialias);
    // Multiplies everything painted from now on.
    void setAlpha(double alpha);

    void beginPath();
    void moveTo(Point p);
    void lineTo(Point p);
    void addRect(const Rect& rect);
    void addRoundedRect(const Rect& rect, double radius);
    void addArc(Point center, double radius, double startAngle, double endAngle, bool clockwise);
    void closePath();
    void fillPath();
    void strokePath();

    void fillRect(const Rect& rect);
    void fillRoundedRect(const Rect& rect, double radius);
    void strokeRect(const Rect& rect);
    // Makes the rectangle transparent.
    void clearRect(const Rect& rect);

    // Draws the image into the rectangle; a stretchable image keeps its caps.
    void drawImage(const Image& image, const Rect& rect);

    // Sets the text in the rectangle from its top: wrapped at its width, cut to the lines that
    // fit its height and the style's line limit, aligned within its width. Answers the size
    // of what was set.
    Size drawText(std::string_view text, const Rect& rect, const TextStyle& style, Color color,
                  const std::optional<TextShadow>& shadow = std::nullopt);

    // Plays a recorded drawing back, stretched from its recorded size to the rectangle.
    void drawDrawing(const Drawing& drawing, const Rect& rect);

    // Everything painted until the matching end is composited at once with the given alpha.
    void beginTransparencyLayer();
    void endTransparencyLayer(double alpha);

  private:
    struct State {
        Color fill = Color::black();
        Color stroke = Color::black();
        double alpha = 1;
        double lineWidth = 1;
    };
    const State& state() const { return states_.back(); }
    void setSource(Color color);

    _cairo* cr_;
    std::vector<State> states_{State{}};
};

// A bitmap to draw in, then taken out as an Image. An opaque context starts black, another
// transparent.
class ImageContext {
  public:
    ImageContext(Size size, bool opaque = false, double scale = 1);
    ~ImageContext();
    ImageContext(const ImageContext&) = delete;
    ImageContext& operator=(const ImageContext&) = delete;

    GraphicsContext& context() { return *context_; }
    Size size() const { return size_; }
    // A snapshot of the pixels so far.
    ImagePtr makeImage() const;

  private:
    Size size_;
    double scale_;
    _cairo_surface* surface_ = nullptr;
    _cairo* cr_ = nullptr;
    std::unique_ptr<GraphicsContext> context_;
};

// What a draw call painted, kept as vector operations.
class Drawing {
  public:
    // Records `paint` on a canvas of the given size; paint outside the canvas is kept too.
    static std::shared_ptr<const Drawing> record(
        Size size, const std::function<void(GraphicsContext&)>& paint);
    ~Drawing();
    Drawing(const Drawing&) = delete;
    Drawing& operator=(const Drawing&) = delete;

    Size size() const { return size_; }
    // Nothing was painted.
    bool isEmpty() const { return empty_; }
    _cairo_surface* surface() const { return surface_; }

  private:
    Drawing() = default;
    Size size_;
    bool empty_ = true;
    _cairo_surface* surface_ = nullptr;
};

}  // namespace platform
