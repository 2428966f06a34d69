// Screens. A controller owns one view, loaded on first use (loadView, then viewDidLoad), and
// hears when it appears and disappears. Controllers are shared: make them with
// std::make_shared. A container (the navigation controller) holds its children; a presenting
// controller holds what it presents.
//
// The life cycle calls come in the platform's order:
//   presenting B from A (full screen): B viewDidLoad, A viewWillDisappear, B viewWillAppear,
//     then B viewDidAppear, A viewDidDisappear, completion;
//   dismissing it: B viewWillDisappear, A viewWillAppear, then B viewDidDisappear,
//     A viewDidAppear, completion;
//   pushing B over A: B viewDidLoad, A viewWillDisappear, B viewWillAppear, then
//     A viewDidDisappear, B viewDidAppear; popping B: B viewWillDisappear, A viewWillAppear,
//     then B viewDidDisappear, A viewDidAppear.
// The "will" calls and the change of the view tree happen at once; with animation the "did"
// calls and the completion follow on the main loop after kTransitionDuration, without it
// before the call returns. A form or page sheet leaves the presenter on screen: it hears
// nothing.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/ui/Application.h"
#include "platform/ui/NavigationBar.h"
#include "platform/ui/View.h"

namespace platform {

class NavigationController;
class TabBarController;

enum class ModalPresentationStyle { kFullScreen = 0, kPageSheet = 1, kFormSheet = 2 };
enum class ModalTransitionStyle { kCoverVertical = 0, kFlipHorizontal = 1, kCrossDissolve = 2 };

class ViewController : public std::enable_shared_from_this<ViewController> {
  public:
    ViewController();
    virtual ~ViewController();
    ViewController(const ViewController&) = delete;
    ViewController& operator=(const ViewController&) = delete;

    // ---- the view
    // Loads the view on first use.
    const std::shared_ptr<View>& view();
    bool isViewLoaded() const { return view_ != nullptr; }
    void setView(std::shared_ptr<View> view);
    // Makes the view; by default a plain view of the screen's bounds that follows its
    // superview's size.
    virtual void loadView();
    virtual void viewDidLoad() {}
    virtual void viewWillAppear(bool /*animated*/) {}
    virtual void viewDidAppear(bool /*animated*/) {}
    virtual void viewWillDisappear(bool /*animated*/) {}
    virtual void viewDidDisappear(bool /*animated*/) {}
    // True between viewDidAppear and viewWillDisappear.
    bool isVisible() const { return appearance_ == Appearance::kAppeared; }

    // ---- title and navigation item
    const std::string& title() const { return title_; }
    // Also the navigation item's title.
    void setTitle(std::string title);
    NavigationItem& navigationItem() { return *navigationItem_; }
    const std::shared_ptr<NavigationItem>& navigationItemPtr() const { return navigationItem_; }

    // ---- relations
    ViewController* parentViewController() const { return parent_; }
    // The nearest navigation controller among this controller and its ancestors.
    NavigationController* navigationController() const;
    // The nearest tab bar controller among its ancestors.
    TabBarController* tabBarController() const;
    std::shared_ptr<ViewController> presentingViewController() const;
    const std::shared_ptr<ViewController>& presentedViewController() const { return presented_; }
    const std::vector<std::shared_ptr<ViewController>>& childViewControllers() const {
        return children_;
    }

    // ---- modal presentation
    // Presents over the window of this controller's outermost container. Nothing happens
    // (and the completion is not called) when that controller is not in a window, already
    // presents something, or the controller is presented or held elsewhere.
    void presentViewController(std::shared_ptr<ViewController> controller, bool animated,
                               std::function<void()> completion = {});
    // Dismisses what this controller presents, or, when it presents nothing, this controller
    // (or its outermost container) from its presenter; controllers presented over it go too.
    void dismissViewController(bool animated, std::function<void()> completion = {});
    void presentModalViewController(std::shared_ptr<ViewController> controller, bool animated) {
        presentViewController(std::move(controller), animated);
    }
    void dismissModalViewControllerAnimated(bool animated) { dismissViewController(animated); }
    ModalPresentationStyle modalPresentationStyle() const { return presentationStyle_; }
    void setModalPresentationStyle(ModalPresentationStyle style) { presentationStyle_ = style; }
    ModalTransitionStyle modalTransitionStyle() const { return transitionStyle_; }
    void setModalTransitionStyle(ModalTransitionStyle style) { transitionStyle_ = style; }
    static constexpr double kTransitionDuration = 0.3;
    // A form or page sheet is this size, centred, on a screen wider than it.
    static constexpr Size kFormSheetSize{540, 620};

    // ---- rotation
    int interfaceOrientation() const { return Application::shared().statusBarOrientation(); }
    virtual bool shouldAutorotateToInterfaceOrientation(int orientation) {
        return orientation == kOrientationPortrait;
    }
    virtual bool shouldAutorotate() { return true; }
    virtual unsigned supportedInterfaceOrientations() { return kOrientationMaskAll; }
    virtual void willRotateToInterfaceOrientation(int /*orientation*/, double /*duration*/) {}
    virtual void didRotateFromInterfaceOrientation(int /*from*/) {}

    // ---- helpers for subclasses
    // This controller as one of its other bases (a data source, a delegate).
    template <class T>
    std::shared_ptr<T> selfAs() {
        return std::dynamic_pointer_cast<T>(shared_from_this());
    }

  protected:
    // Appearance is forwarded to the children a container shows; by default all of them.
    virtual std::vector<ViewController*> appearanceChildren();
    void addChild(std::shared_ptr<ViewController> child);
    void removeChild(ViewController* child);

  private:
    friend class NavigationController;
    friend class TabBarController;
    friend class Window;
    friend class Application;

    enum class Appearance { kDisappeared, kAppearing, kAppeared, kDisappearing };
    void beginAppearance(bool appearing, bool animated);
    void endAppearance();
    ViewController* outermost();

    std::shared_ptr<View> view_;
    std::string title_;
    std::shared_ptr<NavigationItem> navigationItem_;
    ViewController* parent_ = nullptr;
    std::vector<std::shared_ptr<ViewController>> children_;
    std::weak_ptr<ViewController> presenting_;
    std::shared_ptr<ViewController> presented_;
    std::shared_ptr<View> presentationContainer_;  // the view added to the window
    ModalPresentationStyle presentationStyle_ = ModalPresentationStyle::kFullScreen;
    ModalTransitionStyle transitionStyle_ = ModalTransitionStyle::kCoverVertical;
    bool coversPresenter_ = true;
    Appearance appearance_ = Appearance::kDisappeared;
    bool appearanceAnimated_ = false;
    bool loading_ = false;
};

}  // namespace platform
