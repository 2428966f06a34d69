#include "platform/ui/ViewController.h"

#include <algorithm>

#include "platform/Log.h"
#include "platform/MainLoop.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/Screen.h"
#include "platform/ui/TabBarController.h"
#include "platform/ui/Window.h"

namespace platform {

namespace {

void runAfterTransition(bool animated, std::function<void()> finish) {
    if (animated) {
        MainLoop::main().after(ViewController::kTransitionDuration, std::move(finish));
    } else {
        finish();
    }
}

}  // namespace

ViewController::ViewController() : navigationItem_(std::make_shared<NavigationItem>()) {}

ViewController::~ViewController() {
    for (auto& child : children_) {
        child->parent_ = nullptr;
    }
    if (view_ && view_->controller_ == this) {
        view_->controller_ = nullptr;
    }
}

const std::shared_ptr<View>& ViewController::view() {
    if (!view_ && !loading_) {
        loading_ = true;
        loadView();
        if (!view_) {
            ViewController::loadView();
        }
        loading_ = false;
        viewDidLoad();
    }
    return view_;
}

void ViewController::setView(std::shared_ptr<View> view) {
    if (view_ && view_->controller_ == this) {
        view_->controller_ = nullptr;
    }
    view_ = std::move(view);
    if (view_) {
        view_->controller_ = this;
    }
}

void ViewController::loadView() {
    auto v = std::make_shared<View>(Screen::main().bounds());
    v->setAutoresizingMask(kFlexibleWidth | kFlexibleHeight);
    setView(std::move(v));
}

void ViewController::setTitle(std::string title) {
    title_ = title;
    navigationItem_->setTitle(std::move(title));
}

NavigationController* ViewController::navigationController() const {
    for (ViewController* c = parent_; c; c = c->parent_) {
        if (auto* nav = dynamic_cast<NavigationController*>(c)) {
            return nav;
        }
    }
    return nullptr;
}

TabBarController* ViewController::tabBarController() const {
    for (ViewController* c = parent_; c; c = c->parent_) {
        if (auto* tabs = dynamic_cast<TabBarController*>(c)) {
            return tabs;
        }
    }
    return nullptr;
}

std::shared_ptr<ViewController> ViewController::presentingViewController() const {
    for (const ViewController* c = this; c; c = c->parent_) {
        if (auto p = c->presenting_.lock()) {
            return p;
        }
    }
    return nullptr;
}

ViewController* ViewController::outermost() {
    ViewController* c = this;
    while (c->parent_) {
        c = c->parent_;
    }
    return c;
}

std::vector<ViewController*> ViewController::appearanceChildren() {
    std::vector<ViewController*> out;
    for (auto& child : children_) {
        out.push_back(child.get());
    }
    return out;
}

void ViewController::addChild(std::shared_ptr<ViewController> child) {
    child->parent_ = this;
    children_.push_back(std::move(child));
}

void ViewController::removeChild(ViewController* child) {
    auto it = std::find_if(children_.begin(), children_.end(),
                           [&](const auto& c) { return c.get() == child; });
    if (it != children_.end()) {
        (*it)->parent_ = nullptr;
        children_.erase(it);
    }
}

void ViewController::beginAppearance(bool appearing, bool animated) {
    if (appearing) {
        if (appearance_ == Appearance::kAppeared || appearance_ == Appearance::kAppearing) {
            return;
        }
        view();
        appearance_ = Appearance::kAppearing;
        appearanceAnimated_ = animated;
        viewWillAppear(animated);
    } else {
        if (appearance_ == Appearance::kDisappeared || appearance_ == Appearance::kDisappearing) {
            return;
        }
        appearance_ = Appearance::kDisappearing;
        appearanceAnimated_ = animated;
        viewWillDisappear(animated);
    }
    for (ViewController* child : appearanceChildren()) {
        child->beginAppearance(appearing, animated);
    }
}

void ViewController::endAppearance() {
    if (appearance_ == Appearance::kAppearing) {
        appearance_ = Appearance::kAppeared;
        viewDidAppear(appearanceAnimated_);
    } else if (appearance_ == Appearance::kDisappearing) {
        appearance_ = Appearance::kDisappeared;
        viewDidDisappear(appearanceAnimated_);
    } else {
        return;
    }
    for (ViewController* child : appearanceChildren()) {
        child->endAppearance();
    }
}

void ViewController::presentViewController(std::shared_ptr<ViewController> controller,
                                           bool animated, std::function<void()> completion) {
    if (!controller || controller.get() == this) {
        return;
    }
    ViewController* presenter = outermost();
    if (presenter->presented_) {
        consoleLog("Cannot present a controller from one that already presents another");
        return;
    }
    if (controller->parent_ || controller->presenting_.lock()) {
        consoleLog("Cannot present a controller that is already shown elsewhere");
        return;
    }
    Window* window = presenter->isViewLoaded() ? presenter->view_->window() : nullptr;
    if (!window) {
        consoleLog("Cannot present a controller from one whose view is not in a window");
        return;
    }
    auto self = presenter->shared_from_this();
    presenter->presented_ = controller;
    controller->presenting_ = self;

    const auto& v = controller->view();
    Rect area = window->bounds();
    bool sheet = (controller->presentationStyle_ == ModalPresentationStyle::kFormSheet ||
                  controller->presentationStyle_ == ModalPresentationStyle::kPageSheet) &&
                 area.width() > kFormSheetSize.width;
    std::shared_ptr<View> container;
    if (sheet) {
        auto dim = std::make_shared<View>(area);
        dim->setBackgroundColor(Color::black().withAlpha(0.4));
        dim->setAutoresizingMask(kFlexibleWidth | kFlexibleHeight);
        double h = std::min(kFormSheetSize.height, area.height());
        auto holder = std::make_shared<View>(Rect{area.midX() - kFormSheetSize.width / 2,
                                                  area.midY() - h / 2, kFormSheetSize.width, h});
        holder->setAutoresizingMask(kFlexibleLeftMargin | kFlexibleRightMargin |
                                    kFlexibleTopMargin | kFlexibleBottomMargin);
        holder->setClipsToBounds(true);
        v->setFrame(holder->bounds());
        v->setAutoresizingMask(kFlexibleWidth | kFlexibleHeight);
        holder->addSubview(v);
        dim->addSubview(holder);
        container = dim;
    } else {
        v->setFrame(area);
        v->setAutoresizingMask(kFlexibleWidth | kFlexibleHeight);
        container = v;
    }
    controller->presentationContainer_ = container;
    controller->coversPresenter_ = !sheet;

    bool covers = !sheet;
    if (covers) {
        presenter->beginAppearance(false, animated);
    }
    controller->beginAppearance(true, animated);
    window->addSubview(container);
    runAfterTransition(animated, [controller, self, covers, completion = std::move(completion)] {
        controller->endAppearance();
        if (covers) {
            self->endAppearance();
        }
        if (completion) {
            completion();
        }
    });
}

void ViewController::dismissViewController(bool animated, std::function<void()> completion) {
    ViewController* top = outermost();
    std::shared_ptr<ViewController> target;
    if (presented_) {
        target = presented_;
    } else if (top->presented_) {
        target = top->presented_;
    } else if (top->presenting_.lock()) {
        target = top->shared_from_this();
    }
    if (!target) {
        return;
    }
    auto presenter = target->presenting_.lock();
    if (!presenter) {
        return;
    }

    // What is presented over the target goes first, at once.
    std::vector<std::shared_ptr<ViewController>> above;
    for (auto c = target->presented_; c; c = c->presented_) {
        above.push_back(c);
    }
    for (auto it = above.rbegin(); it != above.rend(); ++it) {
        auto& c = *it;
        auto under = c->presenting_.lock();
        c->beginAppearance(false, false);
        if (c->presentationContainer_) {
            c->presentationContainer_->removeFromSuperview();
            c->presentationContainer_.reset();
        }
        if (under) {
            under->presented_.reset();
        }
        c->presenting_.reset();
        c->endAppearance();
    }

    bool covers = target->coversPresenter_;
    target->beginAppearance(false, animated);
    if (covers) {
        presenter->beginAppearance(true, animated);
    }
    if (target->presentationContainer_) {
        target->presentationContainer_->removeFromSuperview();
        target->presentationContainer_.reset();
    }
    presenter->presented_.reset();
    target->presenting_.reset();
    runAfterTransition(animated, [target, presenter, covers, completion = std::move(completion)] {
        target->endAppearance();
        if (covers) {
            presenter->endAppearance();
        }
        if (completion) {
            completion();
        }
    });
}

}  // namespace platform
