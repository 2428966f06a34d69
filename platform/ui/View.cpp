#include "platform/ui/View.h"

#include <algorithm>
#include <cmath>

#include "platform/ui/Animation.h"
#include "platform/ui/GestureRecognizer.h"
#include "platform/ui/Keyboard.h"
#include "platform/ui/Window.h"

namespace platform {

namespace {

using animation::noteChange;
using animation::Property;

// Springs and struts along one axis: the flexible parts (margin before, length, margin after)
// share the change of the superview's length in proportion to their sizes, or evenly when
// they have none.
void resizeAxis(double& position, double& length, double oldSuper, double newSuper, bool flexBefore,
                bool flexLength, bool flexAfter) {
    int flexible = int(flexBefore) + int(flexLength) + int(flexAfter);
    double delta = newSuper - oldSuper;
    if (flexible == 0 || delta == 0) {
        return;
    }
    double before = position;
    double after = oldSuper - position - length;
    double total = (flexBefore ? before : 0) + (flexLength ? length : 0) + (flexAfter ? after : 0);
    auto share = [&](double part) { return total > 0 ? delta * part / total : delta / flexible; };
    double newBefore = flexBefore ? before + share(before) : before;
    double newLength = flexLength ? length + share(length) : length;
    position = newBefore;
    length = std::max(0.0, newLength);
}

Point corner(const Rect& r, int i) {
    return {i & 1 ? r.maxX() : r.minX(), i & 2 ? r.maxY() : r.minY()};
}

}  // namespace

Rect placeContent(ContentMode mode, Size content, const Rect& bounds) {
    double w = content.width, h = content.height;
    double bw = bounds.width(), bh = bounds.height();
    double x0 = bounds.minX(), y0 = bounds.minY();
    switch (mode) {
        case ContentMode::kScaleToFill:
        case ContentMode::kRedraw:
            return bounds.standardized();
        case ContentMode::kScaleAspectFit:
        case ContentMode::kScaleAspectFill: {
            if (w <= 0 || h <= 0) {
                return bounds.standardized();
            }
            double sx = bw / w, sy = bh / h;
            double s = mode == ContentMode::kScaleAspectFit ? std::min(sx, sy) : std::max(sx, sy);
            return {x0 + (bw - w * s) / 2, y0 + (bh - h * s) / 2, w * s, h * s};
        }
        default:
            break;
    }
    double x = x0 + (bw - w) / 2;
    double y = y0 + (bh - h) / 2;
    switch (mode) {
        case ContentMode::kTop:
        case ContentMode::kTopLeft:
        case ContentMode::kTopRight:
            y = y0;
            break;
        case ContentMode::kBottom:
        case ContentMode::kBottomLeft:
        case ContentMode::kBottomRight:
            y = y0 + bh - h;
            break;
        default:
            break;
    }
    switch (mode) {
        case ContentMode::kLeft:
        case ContentMode::kTopLeft:
        case ContentMode::kBottomLeft:
            x = x0;
            break;
        case ContentMode::kRight:
        case ContentMode::kTopRight:
        case ContentMode::kBottomRight:
            x = x0 + bw - w;
            break;
        default:
            break;
    }
    return {x, y, w, h};
}

Point Touch::locationIn(const View* view) const {
    return view ? view->convertPointFrom(windowLocation, nullptr) : windowLocation;
}

View::View(const Rect& frame) : nullFrame_(frame.isNull()) {
    Rect f = frame.isNull() ? Rect{} : frame.standardized();
    bounds_ = {0, 0, f.size.width, f.size.height};
    center_ = f.center();
}

View::~View() {
    isWindow_ = false;  // what is left of a window is a view, as for dynamic_cast
    for (auto& sub : subviews_) {
        sub->superview_ = nullptr;
    }
    for (auto& recognizer : recognizers_) {
        recognizer->view_ = nullptr;
    }
    animation::forget(this);
}

// ---- geometry --------------------------------------------------------------------------

Rect View::frame() const {
    if (nullFrame_) {
        return Rect::null();
    }
    Rect local{-bounds_.size.width / 2, -bounds_.size.height / 2, bounds_.size.width,
               bounds_.size.height};
    if (!transform_.isIdentity()) {
        local = transform_.apply(local);
    }
    return local.offsetBy(center_.x, center_.y);
}

void View::setFrame(const Rect& frame) {
    if (frame.isNull()) {
        setCenter({});
        setBounds({});
        nullFrame_ = true;
        return;
    }
    Rect f = frame.standardized();
    setCenter(f.center());
    setBounds({bounds_.origin, f.size});
}

void View::setBounds(const Rect& bounds) {
    noteChange(this, Property::kBounds);
    Rect b = bounds.isNull() ? Rect{} : bounds;
    b.size = {std::fabs(b.size.width), std::fabs(b.size.height)};
    nullFrame_ = false;
    if (b == bounds_) {
        return;
    }
    Size old = bounds_.size;
    bounds_ = b;
    if (old != b.size) {
        if (autoresizesSubviews_) {
            resizeSubviews(old);
        }
        setNeedsLayout();
        if (contentMode_ == ContentMode::kRedraw) {
            setNeedsDisplay();
        }
        boundsSizeChanged(old);
    } else {
        setNeedsLayout();
    }
    scheduleUpdate();
}

void View::setCenter(Point center) {
    noteChange(this, Property::kCenter);
    center_ = center;
    nullFrame_ = false;
    scheduleUpdate();
}

void View::setTransform(const AffineTransform& transform) {
    noteChange(this, Property::kTransform);
    transform_ = transform;
    nullFrame_ = false;
    scheduleUpdate();
}

void View::resizeSubviews(Size oldSize) {
    auto subs = subviews_;
    for (auto& sub : subs) {
        sub->autoresize(oldSize, bounds_.size);
    }
}

void View::autoresize(Size oldSuper, Size newSuper) {
    if (autoresizingMask_ == kAutoresizingNone || nullFrame_) {
        return;
    }
    Rect f = frame();
    double x = f.origin.x, w = f.size.width, y = f.origin.y, h = f.size.height;
    resizeAxis(x, w, oldSuper.width, newSuper.width, autoresizingMask_ & kFlexibleLeftMargin,
               autoresizingMask_ & kFlexibleWidth, autoresizingMask_ & kFlexibleRightMargin);
    resizeAxis(y, h, oldSuper.height, newSuper.height, autoresizingMask_ & kFlexibleTopMargin,
               autoresizingMask_ & kFlexibleHeight, autoresizingMask_ & kFlexibleBottomMargin);
    setFrame({x, y, w, h});
}

// ---- appearance ------------------------------------------------------------------------

void View::setAlpha(double alpha) {
    noteChange(this, Property::kAlpha);
    alpha_ = std::clamp(alpha, 0.0, 1.0);
    scheduleUpdate();
}

void View::setHidden(bool hidden) {
    if (hidden_ == hidden) {
        return;
    }
    hidden_ = hidden;
    scheduleUpdate();
}

void View::setBackgroundColor(std::optional<Color> color) {
    noteChange(this, Property::kBackgroundColor);
    backgroundColor_ = color;
    scheduleUpdate();
}

void View::setContentMode(ContentMode mode) {
    contentMode_ = mode;
    scheduleUpdate();
}

std::shared_ptr<View> View::viewWithTag(int tag) {
    if (tag_ == tag) {
        return shared_from_this();
    }
    for (auto& sub : subviews_) {
        if (auto found = sub->viewWithTag(tag)) {
            return found;
        }
    }
    return nullptr;
}

// ---- the tree --------------------------------------------------------------------------

Window* View::window() const {
    const View* v = this;
    while (v->superview_) {
        v = v->superview_;
    }
    return v->isWindow_ ? static_cast<Window*>(const_cast<View*>(v)) : nullptr;
}

bool View::isDescendantOf(const View* view) const {
    for (const View* v = this; v; v = v->superview_) {
        if (v == view) {
            return true;
        }
    }
    return false;
}

void View::addSubview(std::shared_ptr<View> view) {
    if (view) {
        std::size_t end = subviews_.size();
        if (view->superview_ == this) {
            --end;
        }
        attach(std::move(view), end);
    }
}

void View::insertSubview(std::shared_ptr<View> view, std::size_t index) {
    if (view) {
        attach(std::move(view), index);
    }
}

void View::insertSubviewBelow(std::shared_ptr<View> view, const View* sibling) {
    if (!view) {
        return;
    }
    auto it = std::find_if(subviews_.begin(), subviews_.end(),
                           [&](const auto& s) { return s.get() == sibling; });
    if (it == subviews_.end()) {
        addSubview(std::move(view));
        return;
    }
    std::size_t index = static_cast<std::size_t>(it - subviews_.begin());
    if (view->superview_ == this) {
        auto own = std::find(subviews_.begin(), subviews_.end(), view);
        if (own - subviews_.begin() < it - subviews_.begin()) {
            --index;
        }
    }
    attach(std::move(view), index);
}

void View::insertSubviewAbove(std::shared_ptr<View> view, const View* sibling) {
    if (!view) {
        return;
    }
    auto it = std::find_if(subviews_.begin(), subviews_.end(),
                           [&](const auto& s) { return s.get() == sibling; });
    if (it == subviews_.end()) {
        addSubview(std::move(view));
        return;
    }
    std::size_t index = static_cast<std::size_t>(it - subviews_.begin()) + 1;
    if (view->superview_ == this) {
        auto own = std::find(subviews_.begin(), subviews_.end(), view);
        if (own - subviews_.begin() < it - subviews_.begin()) {
            --index;
        }
    }
    attach(std::move(view), index);
}

void View::bringSubviewToFront(const View* view) {
    auto it = std::find_if(subviews_.begin(), subviews_.end(),
                           [&](const auto& s) { return s.get() == view; });
    if (it != subviews_.end()) {
        std::rotate(it, it + 1, subviews_.end());
        scheduleUpdate();
    }
}

void View::sendSubviewToBack(const View* view) {
    auto it = std::find_if(subviews_.begin(), subviews_.end(),
                           [&](const auto& s) { return s.get() == view; });
    if (it != subviews_.end()) {
        std::rotate(subviews_.begin(), it, it + 1);
        scheduleUpdate();
    }
}

void View::removeFromSuperview() {
    if (superview_) {
        superview_->detach(this);
    }
}

void View::attach(std::shared_ptr<View> view, std::size_t index) {
    if (view.get() == this || isDescendantOf(view.get())) {
        return;  // a view cannot hold itself or an ancestor
    }
    if (view->superview_ == this) {
        auto it = std::find(subviews_.begin(), subviews_.end(), view);
        subviews_.erase(it);
        subviews_.insert(
            subviews_.begin() + static_cast<std::ptrdiff_t>(std::min(index, subviews_.size())),
            view);
        scheduleUpdate();
        return;
    }
    if (view->superview_) {
        view->superview_->detach(view.get());
    }
    Window* to = window();
    if (to) {
        view->notifyWindowChange(nullptr, to);
    }
    View* raw = view.get();
    raw->superview_ = this;
    subviews_.insert(
        subviews_.begin() + static_cast<std::ptrdiff_t>(std::min(index, subviews_.size())),
        std::move(view));
    if (to) {
        struct Walk {
            static void did(View* v) {
                v->didMoveToWindow();
                auto subs = v->subviews_;
                for (auto& s : subs) {
                    did(s.get());
                }
            }
        };
        Walk::did(raw);
    }
    didAddSubview(raw);
    raw->scheduleUpdate();
}

void View::detach(View* view) {
    auto it = std::find_if(subviews_.begin(), subviews_.end(),
                           [&](const auto& s) { return s.get() == view; });
    if (it == subviews_.end()) {
        return;
    }
    std::shared_ptr<View> keep = *it;  // alive until the end of the removal
    willRemoveSubview(view);
    Window* from = window();
    if (from) {
        if (auto responder = from->firstResponder(); responder && responder->isDescendantOf(view)) {
            responder->resignFirstResponder();
        }
        view->notifyWindowChange(from, nullptr);
    }
    it = std::find(subviews_.begin(), subviews_.end(), keep);
    if (it != subviews_.end()) {
        subviews_.erase(it);
    }
    view->superview_ = nullptr;
    if (from) {
        struct Walk {
            static void did(View* v) {
                v->didMoveToWindow();
                auto subs = v->subviews_;
                for (auto& s : subs) {
                    did(s.get());
                }
            }
        };
        Walk::did(view);
    }
    scheduleUpdate();
}

void View::notifyWindowChange(Window* from, Window* to) {
    (void)from;
    willMoveToWindow(to);
    auto subs = subviews_;
    for (auto& s : subs) {
        s->notifyWindowChange(from, to);
    }
}

// ---- coordinates -----------------------------------------------------------------------

Point View::toSuperview(Point p) const {
    Point local{p.x - bounds_.midX(), p.y - bounds_.midY()};
    if (!transform_.isIdentity()) {
        local = transform_.apply(local);
    }
    return local + center_;
}

Point View::fromSuperview(Point p) const {
    Point local = p - center_;
    if (!transform_.isIdentity()) {
        local = transform_.inverted().apply(local);
    }
    return {local.x + bounds_.midX(), local.y + bounds_.midY()};
}

Point View::convertPointTo(Point p, const View* view) const {
    for (const View* v = this; v->superview_; v = v->superview_) {
        p = v->toSuperview(p);
    }
    return view ? view->convertPointFrom(p, nullptr) : p;
}

Point View::convertPointFrom(Point p, const View* view) const {
    if (view) {
        p = view->convertPointTo(p, nullptr);
    }
    std::vector<const View*> chain;
    for (const View* v = this; v->superview_; v = v->superview_) {
        chain.push_back(v);
    }
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
        p = (*it)->fromSuperview(p);
    }
    return p;
}

Rect View::convertRectTo(const Rect& r, const View* view) const {
    Rect out = Rect::null();
    for (int i = 0; i < 4; ++i) {
        Point q = convertPointTo(corner(r, i), view);
        out = out.unionWith({q, {0, 0}});
    }
    return out;
}

Rect View::convertRectFrom(const Rect& r, const View* view) const {
    Rect out = Rect::null();
    for (int i = 0; i < 4; ++i) {
        Point q = convertPointFrom(corner(r, i), view);
        out = out.unionWith({q, {0, 0}});
    }
    return out;
}

// ---- layout and drawing ----------------------------------------------------------------

void View::scheduleUpdate() {
    if (window()) {
        Window::scheduleUpdatePass();
    }
}

void View::setNeedsLayout() {
    needsLayout_ = true;
    scheduleUpdate();
}

void View::layoutIfNeeded() {
    if (needsLayout_) {
        needsLayout_ = false;
        layoutSubviews();
    }
    auto subs = subviews_;
    for (auto& s : subs) {
        if (s->superview_ == this) {
            s->layoutIfNeeded();
        }
    }
}

Size View::sizeThatFits(Size) const {
    return bounds_.size;
}

void View::sizeToFit() {
    Size size = sizeThatFits(bounds_.size);
    setFrame({nullFrame_ ? Point{} : frame().origin, size});
}

void View::setNeedsDisplay() {
    needsDisplay_ = true;
    scheduleUpdate();
}

void View::displayIfNeeded() {
    if (hidden_) {
        return;  // drawn when shown again
    }
    if (needsDisplay_) {
        needsDisplay_ = false;
        Rect b = bounds_;
        auto recorded = Drawing::record(b.size, [&](GraphicsContext& context) {
            context.translate(-b.origin.x, -b.origin.y);
            draw(context, b);
        });
        drawingSize_ = b.size;
        drawing_ = recorded->isEmpty() ? nullptr : recorded;
    }
    auto subs = subviews_;
    for (auto& s : subs) {
        if (s->superview_ == this) {
            s->displayIfNeeded();
        }
    }
}

void View::draw(GraphicsContext&, const Rect&) {}

void View::drawContent(GraphicsContext&) const {}

// ---- hit-testing and touches -----------------------------------------------------------

std::shared_ptr<View> View::hitTest(Point p) {
    if (hidden_ || alpha_ < 0.01 || !userInteractionEnabled_ || !pointInside(p)) {
        return nullptr;
    }
    auto subs = subviews_;
    for (auto it = subs.rbegin(); it != subs.rend(); ++it) {
        if (auto hit = (*it)->hitTest((*it)->fromSuperview(p))) {
            return hit;
        }
    }
    return shared_from_this();
}

bool View::pointInside(Point p) const {
    return bounds_.contains(p);
}

void View::addGestureRecognizer(std::shared_ptr<GestureRecognizer> recognizer) {
    if (!recognizer) {
        return;
    }
    if (recognizer->view_ && recognizer->view_ != this) {
        recognizer->view_->removeGestureRecognizer(recognizer.get());
    }
    if (std::find(recognizers_.begin(), recognizers_.end(), recognizer) == recognizers_.end()) {
        recognizer->view_ = this;
        recognizers_.push_back(std::move(recognizer));
    }
}

void View::removeGestureRecognizer(const GestureRecognizer* recognizer) {
    auto it = std::find_if(recognizers_.begin(), recognizers_.end(),
                           [&](const auto& r) { return r.get() == recognizer; });
    if (it != recognizers_.end()) {
        (*it)->view_ = nullptr;
        recognizers_.erase(it);
    }
}

void View::touchesBegan(const Touch& touch) {
    if (superview_) {
        superview_->touchesBegan(touch);
    }
}

void View::touchesEnded(const Touch& touch) {
    if (superview_) {
        superview_->touchesEnded(touch);
    }
}

void View::touchesCancelled(const Touch& touch) {
    if (superview_) {
        superview_->touchesCancelled(touch);
    }
}

// ---- first responder -------------------------------------------------------------------

bool View::becomeFirstResponder() {
    Window* w = window();
    if (!canBecomeFirstResponder() || !w) {
        return false;
    }
    auto current = w->firstResponder();
    if (current.get() == this) {
        return true;
    }
    if (current) {
        Keyboard::Transfer transfer;  // the keyboard stays up between two text inputs
        if (!current->resignFirstResponder()) {
            return false;
        }
    }
    w->setFirstResponder(shared_from_this());
    Keyboard::shared().update();
    return true;
}

bool View::resignFirstResponder() {
    Window* w = window();
    if (!w || w->firstResponder().get() != this) {
        return true;
    }
    w->setFirstResponder(nullptr);
    Keyboard::shared().update();
    return true;
}

bool View::isFirstResponder() const {
    Window* w = window();
    return w && w->firstResponder().get() == this;
}

bool View::endEditing(bool) {
    Window* w = window();
    if (!w) {
        return true;
    }
    auto responder = w->firstResponder();
    if (responder && responder->isDescendantOf(this)) {
        return responder->resignFirstResponder();
    }
    return true;
}

}  // namespace platform
