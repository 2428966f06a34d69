#include "platform/ui/TabBarController.h"

#include "platform/ui/Screen.h"

namespace platform {

TabBarController::TabBarController(std::vector<std::shared_ptr<ViewController>> controllers) {
    const Rect screen = Screen::main().bounds();
    bar_ =
        std::make_shared<View>(Rect{0, screen.height() - kBarHeight, screen.width(), kBarHeight});
    bar_->setAutoresizingMask(kFlexibleWidth | kFlexibleTopMargin);
    bar_->setBackgroundColor(Color::gray(0.1));
    for (auto& controller : controllers) {
        if (controller && controller.get() != this && !controller->parentViewController() &&
            !controller->presentingViewController()) {
            addChild(std::move(controller));
        }
    }
}

TabBarController::~TabBarController() = default;

ViewController* TabBarController::selectedViewController() const {
    return selected_ < viewControllers().size() ? viewControllers()[selected_].get() : nullptr;
}

void TabBarController::setSelectedIndex(std::size_t index) {
    if (index >= viewControllers().size() || index == selected_) {
        return;
    }
    ViewController* previous = selectedViewController();
    selected_ = index;
    ViewController* next = selectedViewController();
    const bool onScreen = isViewLoaded() && (isVisible() || appearance_ == Appearance::kAppearing);
    if (onScreen) {
        next->view();
        previous->beginAppearance(false, false);
        next->beginAppearance(true, false);
    }
    showSelected(previous);
    if (onScreen) {
        previous->endAppearance();
        next->endAppearance();
    }
}

void TabBarController::loadView() {
    auto container = std::make_shared<View>(Screen::main().bounds());
    container->setAutoresizingMask(kFlexibleWidth | kFlexibleHeight);
    const Rect b = container->bounds();
    bar_->setFrame({b.minX(), b.maxY() - kBarHeight, b.width(), kBarHeight});
    container->addSubview(bar_);
    setView(container);
    showSelected(nullptr);
}

std::vector<ViewController*> TabBarController::appearanceChildren() {
    if (ViewController* selected = selectedViewController()) {
        return {selected};
    }
    return {};
}

void TabBarController::showSelected(ViewController* previous) {
    if (!isViewLoaded()) {
        return;
    }
    const auto& container = view();
    if (previous && previous->isViewLoaded() && previous->view()->superview() == container.get()) {
        previous->view()->removeFromSuperview();
    }
    if (ViewController* selected = selectedViewController()) {
        const auto& v = selected->view();
        const Rect b = container->bounds();
        v->setFrame({b.minX(), b.minY(), b.width(), b.height() - kBarHeight});
        v->setAutoresizingMask(kFlexibleWidth | kFlexibleHeight);
        container->insertSubviewBelow(v, bar_.get());
    }
}

}  // namespace platform
