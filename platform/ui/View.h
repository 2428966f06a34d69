// The view tree: rectangles that hold subviews in order, with geometry, appearance, layout,
// drawing, hit-testing and touches. It is a headless model: tests read and tap it, the
// renderer draws it.
//
// Views are shared: make them with std::make_shared, add them with addSubview; a superview
// holds its subviews, a subview knows its superview without holding it. Everything here runs
// on the main thread.
//
// Geometry follows the usual model: a view has bounds (its own coordinate space, whose origin
// is what it scrolls to), a centre in its superview's bounds space and a transform about that
// centre; its frame is derived from the three. When the bounds change size, subviews are
// resized by their autoresizing masks and the view is marked for layout.
//
// Layout and drawing are deferred: setNeedsLayout and setNeedsDisplay mark a view, and the next
// update pass (posted on the main loop, or run at once through layoutIfNeeded and
// displayIfNeeded, or by the renderer) calls layoutSubviews and draw on the views so marked.
// What draw paints is recorded and played back by the renderer, stretched when the bounds
// have changed size since. The built-in content of controls (a label's text, an image view's
// image) is painted by drawContent at render time instead.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/MainLoop.h"
#include "platform/graphics/Color.h"
#include "platform/graphics/Geometry.h"
#include "platform/graphics/GraphicsContext.h"

namespace platform {

class GestureRecognizer;
class View;
class ViewController;
class Window;

enum AutoresizingMask : unsigned {
    kAutoresizingNone = 0,
    kFlexibleLeftMargin = 1 << 0,
    kFlexibleWidth = 1 << 1,
    kFlexibleRightMargin = 1 << 2,
    kFlexibleTopMargin = 1 << 3,
    kFlexibleHeight = 1 << 4,
    kFlexibleBottomMargin = 1 << 5,
};

enum class ContentMode {
    kScaleToFill = 0,
    kScaleAspectFit = 1,
    kScaleAspectFill = 2,
    kRedraw = 3,
    kCenter = 4,
    kTop = 5,
    kBottom = 6,
    kLeft = 7,
    kRight = 8,
    kTopLeft = 9,
    kTopRight = 10,
    kBottomLeft = 11,
    kBottomRight = 12,
};

// Where `content` of the given size goes in `bounds` under a content mode.
Rect placeContent(ContentMode mode, Size content, const Rect& bounds);

// One finger's tap as a view sees it.
struct Touch {
    Point windowLocation;
    Window* window = nullptr;
    // The point in the coordinates of `view` (the window's when null).
    Point locationIn(const View* view) const;
};

// The compositing properties of a view that are set through its layer.
class Layer {
  public:
    double cornerRadius() const { return cornerRadius_; }
    void setCornerRadius(double radius) { cornerRadius_ = radius < 0 ? 0 : radius; }
    bool masksToBounds() const { return masksToBounds_; }
    void setMasksToBounds(bool masks) { masksToBounds_ = masks; }

  private:
    double cornerRadius_ = 0;
    bool masksToBounds_ = false;
};

class View : public std::enable_shared_from_this<View> {
  public:
    explicit View(const Rect& frame = {});
    virtual ~View();
    View(const View&) = delete;
    View& operator=(const View&) = delete;

    // ---- geometry
    // A view made with (or given) the null rectangle answers it as its frame, with empty
    // bounds at the origin, until its geometry is set again.
    Rect frame() const;
    void setFrame(const Rect& frame);
    const Rect& bounds() const { return bounds_; }
    void setBounds(const Rect& bounds);
    Point center() const { return center_; }
    void setCenter(Point center);
    const AffineTransform& transform() const { return transform_; }
    void setTransform(const AffineTransform& transform);

    // ---- appearance
    double alpha() const { return alpha_; }
    void setAlpha(double alpha);
    bool isHidden() const { return hidden_; }
    virtual void setHidden(bool hidden);
    // No colour (the default) draws nothing behind the content.
    const std::optional<Color>& backgroundColor() const { return backgroundColor_; }
    void setBackgroundColor(std::optional<Color> color);
    bool isOpaque() const { return opaque_; }
    void setOpaque(bool opaque) { opaque_ = opaque; }
    Layer& layer() { return layer_; }
    const Layer& layer() const { return layer_; }
    bool clipsToBounds() const { return layer_.masksToBounds(); }
    void setClipsToBounds(bool clips) { layer_.setMasksToBounds(clips); }
    ContentMode contentMode() const { return contentMode_; }
    void setContentMode(ContentMode mode);

    int tag() const { return tag_; }
    void setTag(int tag) { tag_ = tag; }
    // This view or the first descendant, depth first, with the tag.
    std::shared_ptr<View> viewWithTag(int tag);
    template <class T>
    std::shared_ptr<T> viewWithTagAs(int tag) {
        return std::dynamic_pointer_cast<T>(viewWithTag(tag));
    }

    bool isUserInteractionEnabled() const { return userInteractionEnabled_; }
    void setUserInteractionEnabled(bool enabled) { userInteractionEnabled_ = enabled; }

    unsigned autoresizingMask() const { return autoresizingMask_; }
    void setAutoresizingMask(unsigned mask) { autoresizingMask_ = mask; }
    bool autoresizesSubviews() const { return autoresizesSubviews_; }
    void setAutoresizesSubviews(bool autoresizes) { autoresizesSubviews_ = autoresizes; }

    // ---- the tree
    View* superview() const { return superview_; }
    const std::vector<std::shared_ptr<View>>& subviews() const { return subviews_; }
    // Adding a view that has another superview moves it; adding it again brings it to the front.
    void addSubview(std::shared_ptr<View> view);
    void insertSubview(std::shared_ptr<View> view, std::size_t index);
    void insertSubviewBelow(std::shared_ptr<View> view, const View* sibling);
    void insertSubviewAbove(std::shared_ptr<View> view, const View* sibling);
    void bringSubviewToFront(const View* view);
    void sendSubviewToBack(const View* view);
    void removeFromSuperview();
    bool isDescendantOf(const View* view) const;
    Window* window() const;
    // The controller whose view this is, if any.
    ViewController* viewController() const { return controller_; }

    // ---- coordinates
    Point convertPointTo(Point p, const View* view) const;    // null: to the window
    Point convertPointFrom(Point p, const View* view) const;  // null: from the window
    Rect convertRectTo(const Rect& r, const View* view) const;
    Rect convertRectFrom(const Rect& r, const View* view) const;

    // ---- layout
    void setNeedsLayout();
    bool needsLayout() const { return needsLayout_; }
    // Lays out this view if marked, then its subviews, depth first.
    void layoutIfNeeded();
    virtual void layoutSubviews() {}
    // The size that suits the view's content within `size`; the current size by default.
    virtual Size sizeThatFits(Size size) const;
    void sizeToFit();

    // ---- drawing
    void setNeedsDisplay();
    bool needsDisplay() const { return needsDisplay_; }
    // Runs draw for this view and its visible descendants where marked.
    void displayIfNeeded();
    // Custom drawing, in the view's bounds coordinates. Recorded by the display pass.
    virtual void draw(GraphicsContext& context, const Rect& rect);
    // What the last display pass recorded; null when draw painted nothing.
    const std::shared_ptr<const Drawing>& drawing() const { return drawing_; }
    Size drawingSize() const { return drawingSize_; }
    // The built-in content of a control, painted by the renderer over the background and the
    // recorded drawing, under the subviews.
    virtual void drawContent(GraphicsContext& context) const;

    // ---- hit-testing and touches
    // The deepest visible, interactive view under the point (in this view's coordinates):
    // hidden views, views with alpha below 0.01 and views that take no interaction are skipped
    // with their subviews.
    virtual std::shared_ptr<View> hitTest(Point p);
    virtual bool pointInside(Point p) const;

    void addGestureRecognizer(std::shared_ptr<GestureRecognizer> recognizer);
    void removeGestureRecognizer(const GestureRecognizer* recognizer);
    const std::vector<std::shared_ptr<GestureRecognizer>>& gestureRecognizers() const {
        return recognizers_;
    }

    // A touch that no recognizer took; unhandled touches go up to the superview.
    virtual void touchesBegan(const Touch& touch);
    virtual void touchesEnded(const Touch& touch);
    virtual void touchesCancelled(const Touch& touch);

    // ---- first responder and keyboard
    virtual bool canBecomeFirstResponder() const { return false; }
    // Text inputs bring the keyboard up while they are first responder.
    virtual bool showsKeyboard() const { return false; }
    // Answers false when the view cannot take it or is not in a window.
    virtual bool becomeFirstResponder();
    virtual bool resignFirstResponder();
    bool isFirstResponder() const;
    // Makes the first responder inside this view resign.
    bool endEditing(bool force);

    // ---- animations
    // Runs `changes` at once, so that the model holds the end state, and calls `completion`
    // on the main loop when the animation would have ended: after delay + duration with true,
    // or with false once a later animation has taken over a property this one animated.
    // An animation that changes nothing completes at the next turn of the loop.
    static void animate(double duration, const std::function<void()>& changes,
                        std::function<void(bool finished)> completion = {}, double delay = 0);
    static void animate(Seconds duration, const std::function<void()>& changes,
                        std::function<void(bool finished)> completion = {},
                        Seconds delay = Seconds::zero()) {
        animate(duration.count(), changes, std::move(completion), delay.count());
    }
    static constexpr std::chrono::milliseconds kDefaultAnimationDuration{200};

  protected:
    // Hooks for subclasses, called around changes of the tree.
    virtual void willMoveToWindow(Window*) {}
    virtual void didMoveToWindow() {}
    virtual void didAddSubview(View*) {}
    virtual void willRemoveSubview(View*) {}
    virtual void boundsSizeChanged(Size /*old*/) {}

  private:
    friend class ViewController;
    friend class Window;

    void attach(std::shared_ptr<View> view, std::size_t index);
    void detach(View* view);
    void resizeSubviews(Size oldSize);
    void autoresize(Size oldSuperSize, Size newSuperSize);
    void notifyWindowChange(Window* from, Window* to);
    // Maps a point of this view to its superview's bounds space.
    Point toSuperview(Point p) const;
    Point fromSuperview(Point p) const;
    void scheduleUpdate();

    Rect bounds_;
    Point center_;
    bool nullFrame_ = false;
    AffineTransform transform_;
    double alpha_ = 1;
    bool hidden_ = false;
    bool opaque_ = true;
    std::optional<Color> backgroundColor_;
    Layer layer_;
    ContentMode contentMode_ = ContentMode::kScaleToFill;
    int tag_ = 0;
    bool userInteractionEnabled_ = true;
    unsigned autoresizingMask_ = kAutoresizingNone;
    bool autoresizesSubviews_ = true;
    bool needsLayout_ = true;
    bool needsDisplay_ = true;
    std::shared_ptr<const Drawing> drawing_;
    Size drawingSize_;

    View* superview_ = nullptr;
    // Set by Window: finding a view's window is asked on every change of every view, and a
    // failed dynamic_cast walks the whole class tree each time.
    bool isWindow_ = false;
    ViewController* controller_ = nullptr;
    std::vector<std::shared_ptr<View>> subviews_;
    std::vector<std::shared_ptr<GestureRecognizer>> recognizers_;
};

}  // namespace platform
