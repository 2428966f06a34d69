#include "platform/ui/Window.h"

#include "platform/MainLoop.h"
#include "platform/ui/Application.h"
#include "platform/ui/GestureRecognizer.h"
#include "platform/ui/Keyboard.h"
#include "platform/ui/Screen.h"
#include "platform/ui/ViewController.h"

namespace platform {

namespace {

bool& updatePosted() {
    static bool posted = false;
    return posted;
}

}  // namespace

Window::Window(const Rect& frame) : View(frame) {
    isWindow_ = true;
    setHidden(true);
}

std::shared_ptr<Window> Window::make() {
    return make(Screen::main().bounds());
}

std::shared_ptr<Window> Window::make(const Rect& frame) {
    std::shared_ptr<Window> window(new Window(frame));
    Application::shared().addWindow(window);
    return window;
}

Window::~Window() = default;

void Window::setRootViewController(std::shared_ptr<ViewController> controller) {
    if (controller == root_) {
        return;
    }
    auto keep = weak_from_this().lock();
    bool visible = !isHidden();
    if (root_) {
        if (visible) {
            root_->beginAppearance(false, false);
        }
        if (root_->isViewLoaded() && root_->view()->superview() == this) {
            root_->view()->removeFromSuperview();
        }
        if (visible) {
            root_->endAppearance();
        }
    }
    root_ = std::move(controller);
    if (!root_) {
        return;
    }
    if (visible) {
        root_->beginAppearance(true, false);
    }
    const auto& view = root_->view();
    view->setFrame(bounds());
    view->setAutoresizingMask(kFlexibleWidth | kFlexibleHeight);
    insertSubview(view, 0);
    if (visible) {
        root_->endAppearance();
    }
}

void Window::setHidden(bool hidden) {
    if (hidden == isHidden()) {
        return;
    }
    if (root_) {
        root_->beginAppearance(!hidden, false);
    }
    View::setHidden(hidden);
    if (root_) {
        root_->endAppearance();
    }
}

void Window::makeKeyWindow() {
    Application::shared().setKeyWindow(std::static_pointer_cast<Window>(shared_from_this()));
    Keyboard::shared().update();
}

void Window::makeKeyAndVisible() {
    makeKeyWindow();
    setHidden(false);
}

bool Window::isKeyWindow() const {
    return Application::shared().keyWindow().get() == this;
}

void Window::setFirstResponder(std::shared_ptr<View> responder) {
    firstResponder_ = responder;
}

std::shared_ptr<View> Window::tap(Point p) {
    auto keep = std::static_pointer_cast<Window>(shared_from_this());
    layoutIfNeeded();
    auto hit = hitTest(p);
    if (!hit) {
        return nullptr;
    }
    Touch touch{p, this};
    // Recognizers on the hit view come first, then those of its ancestors.
    std::shared_ptr<GestureRecognizer> recognizer;
    for (View* v = hit.get(); v && !recognizer; v = v->superview()) {
        for (const auto& candidate : v->gestureRecognizers()) {
            if (candidate->isEnabled()) {
                recognizer = candidate;
                break;
            }
        }
    }
    hit->touchesBegan(touch);
    if (recognizer) {
        recognizer->recognize(p);
        if (recognizer->cancelsTouchesInView()) {
            hit->touchesCancelled(touch);
        } else {
            hit->touchesEnded(touch);
        }
    } else {
        hit->touchesEnded(touch);
    }
    return hit;
}

std::shared_ptr<View> Window::tapView(const View& view) {
    if (view.window() != this) {
        return nullptr;
    }
    return tap(view.convertPointTo(view.bounds().center(), nullptr));
}

void Window::update() {
    auto keep = weak_from_this().lock();
    // Drawing may move views again (a view that lays itself out in draw): a few rounds settle it.
    for (int round = 0; round < 4; ++round) {
        layoutIfNeeded();
        displayIfNeeded();
        struct Walk {
            // Layout runs on hidden views too; drawing waits until they are shown.
            static bool dirty(const View& v, bool visible) {
                visible = visible && !v.isHidden();
                if (v.needsLayout() || (visible && v.needsDisplay())) {
                    return true;
                }
                for (const auto& s : v.subviews()) {
                    if (dirty(*s, visible)) {
                        return true;
                    }
                }
                return false;
            }
        };
        bool dirty = Walk::dirty(*this, true);
        if (!dirty) {
            break;
        }
    }
}

void Window::scheduleUpdatePass() {
    if (updatePosted()) {
        return;
    }
    updatePosted() = true;
    MainLoop::main().post([] {
        updatePosted() = false;
        updateAll();
    });
}

void Window::updateAll() {
    for (auto& window : Application::shared().windows()) {
        window->update();
    }
}

}  // namespace platform
