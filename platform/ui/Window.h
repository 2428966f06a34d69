// Windows: the roots of view trees. A window holds its root view controller's view, knows its
// first responder, and takes injected taps. The application lists every live window in the
// order they were made.
#pragma once

#include <memory>
#include <vector>

#include "platform/ui/View.h"

namespace platform {

class ViewController;

class Window : public View {
  public:
    // Makes a window, hidden, with the given frame (the main screen's bounds by default), and
    // lists it with the application.
    static std::shared_ptr<Window> make();
    static std::shared_ptr<Window> make(const Rect& frame);

    ~Window() override;

    const std::shared_ptr<ViewController>& rootViewController() const { return root_; }
    // The controller's view fills the window; it appears when the window is visible.
    void setRootViewController(std::shared_ptr<ViewController> controller);

    void makeKeyWindow();
    void makeKeyAndVisible();
    bool isKeyWindow() const;

    std::shared_ptr<View> firstResponder() const { return firstResponder_.lock(); }

    // A finger taps the window at a point of its coordinates: the view under it (hit-testing
    // rules) gets the touch, unless a tap recognizer on it or an ancestor takes it first.
    // Answers the view that was hit, or null.
    std::shared_ptr<View> tap(Point p);
    // Taps the centre of a view inside this window; null when the view is elsewhere.
    std::shared_ptr<View> tapView(const View& view);

    // Runs the layout and display passes of this window now.
    void update();
    // Posts one update pass of all windows to the main loop, unless one is pending.
    static void scheduleUpdatePass();
    static void updateAll();

    void setHidden(bool hidden) override;

  protected:
    explicit Window(const Rect& frame);

  private:
    friend class View;
    void setFirstResponder(std::shared_ptr<View> responder);

    std::shared_ptr<ViewController> root_;
    std::weak_ptr<View> firstResponder_;
};

}  // namespace platform
