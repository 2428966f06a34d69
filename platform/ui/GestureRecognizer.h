// Gesture recognizers attached to views. The screens use taps only: a tap recognizer fires its
// action when a tap lands on its view or inside it, before the view itself sees the touch.
#pragma once

#include <functional>
#include <memory>

#include "platform/graphics/Geometry.h"

namespace platform {

class View;

class GestureRecognizer {
  public:
    using Action = std::function<void(GestureRecognizer&)>;

    explicit GestureRecognizer(Action action) : action_(std::move(action)) {}
    virtual ~GestureRecognizer() = default;
    GestureRecognizer(const GestureRecognizer&) = delete;
    GestureRecognizer& operator=(const GestureRecognizer&) = delete;

    // The view it is attached to, or null.
    View* view() const { return view_; }
    bool isEnabled() const { return enabled_; }
    void setEnabled(bool enabled) { enabled_ = enabled; }
    // When it recognizes, the touch is taken from the view (no touch-up for a button).
    bool cancelsTouchesInView() const { return cancelsTouchesInView_; }
    void setCancelsTouchesInView(bool cancels) { cancelsTouchesInView_ = cancels; }
    // Where the last recognized touch was, in the coordinates of `view` (the window's when
    // null).
    Point locationInView(const View* view) const;

    // Delivers a recognized touch at a window point; used by the window's touch delivery.
    void recognize(Point windowLocation);

  private:
    friend class View;
    View* view_ = nullptr;
    bool enabled_ = true;
    bool cancelsTouchesInView_ = true;
    Point lastLocation_;
    Action action_;
};

class TapGestureRecognizer : public GestureRecognizer {
  public:
    using GestureRecognizer::GestureRecognizer;
};

}  // namespace platform
