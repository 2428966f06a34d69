#include "platform/ui/NavigationController.h"

#include "platform/MainLoop.h"
#include "platform/ui/Screen.h"
#include "platform/ui/Window.h"

namespace platform {

// The container's view lays out the bar and the top screen whenever its size or window
// changes.
class NavigationController::ContainerView : public View {
  public:
    ContainerView(NavigationController* owner, const Rect& frame) : View(frame), owner_(owner) {}
    void layoutSubviews() override {
        if (owner_) {
            owner_->layoutContainer();
        }
    }
    void didMoveToWindow() override { setNeedsLayout(); }
    NavigationController* owner_;
};

NavigationController::NavigationController(std::shared_ptr<ViewController> root)
    : bar_(std::make_shared<NavigationBar>(
          Rect{0, 0, Screen::main().bounds().width(), NavigationBar::kHeight})) {
    bar_->setAutoresizingMask(kFlexibleWidth);
    bar_->setBackAction([this] { popViewControllerAnimated(true); });
    if (root && !root->parent_ && !root->presenting_.lock()) {
        bar_->pushNavigationItem(root->navigationItemPtr(), false);
        addChild(std::move(root));
    }
}

NavigationController::~NavigationController() {
    bar_->setBackAction(nullptr);
    if (isViewLoaded()) {
        if (auto* container = dynamic_cast<ContainerView*>(view().get())) {
            container->owner_ = nullptr;
        }
    }
}

ViewController* NavigationController::topViewController() const {
    return viewControllers().empty() ? nullptr : viewControllers().back().get();
}

ViewController* NavigationController::visibleViewController() const {
    ViewController* top = topViewController();
    if (top && top->presentedViewController()) {
        return top->presentedViewController().get();
    }
    return top;
}

NavigationBar& NavigationController::navigationBar() {
    return *bar_;
}

void NavigationController::setNavigationBarHidden(bool hidden, bool) {
    barHidden_ = hidden;
    bar_->setHidden(hidden);
    if (isViewLoaded()) {
        view()->setNeedsLayout();
    }
}

void NavigationController::loadView() {
    auto container = std::make_shared<ContainerView>(this, Screen::main().bounds());
    container->setAutoresizingMask(kFlexibleWidth | kFlexibleHeight);
    container->addSubview(bar_);
    setView(container);
    showTop(nullptr);
}

std::vector<ViewController*> NavigationController::appearanceChildren() {
    if (ViewController* top = topViewController()) {
        return {top};
    }
    return {};
}

bool NavigationController::shouldAutorotateToInterfaceOrientation(int orientation) {
    ViewController* top = topViewController();
    return top ? top->shouldAutorotateToInterfaceOrientation(orientation)
               : ViewController::shouldAutorotateToInterfaceOrientation(orientation);
}

void NavigationController::layoutContainer() {
    if (!isViewLoaded()) {
        return;
    }
    const auto& container = view();
    Rect b = container->bounds();
    double inset = 0;
    if (container->window() && !Application::shared().isStatusBarHidden()) {
        Point top = container->convertPointTo({b.minX(), b.minY()}, nullptr);
        if (top.y >= 0 && top.y < Screen::kStatusBarHeight) {
            inset = Screen::kStatusBarHeight - top.y;
        }
    }
    bar_->setFrame({b.minX(), b.minY() + inset, b.width(), NavigationBar::kHeight});
    bar_->setBackgroundExtension(inset);
    double contentTop = barHidden_ || bar_->isTranslucent() ? 0 : inset + NavigationBar::kHeight;
    ViewController* top = topViewController();
    if (top && top->isViewLoaded() && top->view()->superview() == container.get()) {
        top->view()->setFrame(
            {b.minX(), b.minY() + contentTop, b.width(), b.height() - contentTop});
    }
}

void NavigationController::showTop(ViewController* previous) {
    if (!isViewLoaded()) {
        return;
    }
    const auto& container = view();
    if (previous && previous->isViewLoaded() && previous->view()->superview() == container.get()) {
        previous->view()->removeFromSuperview();
    }
    if (ViewController* top = topViewController()) {
        const auto& v = top->view();
        v->setAutoresizingMask(kFlexibleWidth | kFlexibleHeight);
        container->insertSubviewBelow(v, bar_.get());
    }
    layoutContainer();
}

void NavigationController::pushViewController(std::shared_ptr<ViewController> controller,
                                              bool animated) {
    if (!controller || controller.get() == this || controller->parent_ ||
        controller->presenting_.lock()) {
        return;
    }
    ViewController* previous = topViewController();
    bool onScreen = appearance_ == Appearance::kAppeared || appearance_ == Appearance::kAppearing;
    auto pushed = controller;
    addChild(std::move(controller));
    bar_->pushNavigationItem(pushed->navigationItemPtr(), animated);
    if (!isViewLoaded()) {
        return;
    }
    std::shared_ptr<ViewController> before = previous ? previous->shared_from_this() : nullptr;
    if (onScreen) {
        pushed->view();
        if (before) {
            before->beginAppearance(false, animated);
        }
        pushed->beginAppearance(true, animated);
    }
    showTop(previous);
    if (onScreen) {
        auto self = shared_from_this();
        runTransition(animated, [self, before, pushed] {
            if (before) {
                before->endAppearance();
            }
            pushed->endAppearance();
        });
    }
}

std::shared_ptr<ViewController> NavigationController::popViewControllerAnimated(bool animated) {
    if (viewControllers().size() < 2) {
        return nullptr;
    }
    auto popped = viewControllers().back();
    auto below = viewControllers()[viewControllers().size() - 2];
    bool onScreen = appearance_ == Appearance::kAppeared || appearance_ == Appearance::kAppearing;
    if (onScreen) {
        popped->beginAppearance(false, animated);
        below->beginAppearance(true, animated);
    }
    children_.pop_back();
    bar_->popNavigationItem(animated);
    showTop(popped.get());
    auto self = std::static_pointer_cast<NavigationController>(shared_from_this());
    // The popped controller still knows its container until it has gone.
    runTransition(animated && onScreen, [self, popped, below, onScreen] {
        if (onScreen) {
            popped->endAppearance();
            below->endAppearance();
        }
        if (popped->parent_ == self.get()) {
            popped->parent_ = nullptr;
        }
    });
    return popped;
}

void NavigationController::runTransition(bool animated, std::function<void()> finish) {
    if (animated) {
        MainLoop::main().after(kTransitionDuration, std::move(finish));
    } else {
        finish();
    }
}

}  // namespace platform
