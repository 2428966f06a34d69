// A stack of screens under a navigation bar. The top controller's view fills the space below
// the bar (or the whole view when the bar is translucent or hidden); the bar shows the
// navigation items of the stack. When the container's top is at the top of the screen, the
// bar sits below the status bar and its background reaches up behind it.
#pragma once

#include <functional>
#include <memory>
#include <vector>

#include "platform/ui/NavigationBar.h"
#include "platform/ui/ViewController.h"

namespace platform {

class NavigationController : public ViewController {
  public:
    explicit NavigationController(std::shared_ptr<ViewController> root);
    ~NavigationController() override;

    const std::vector<std::shared_ptr<ViewController>>& viewControllers() const {
        return childViewControllers();
    }
    ViewController* topViewController() const;
    // The top controller, or what it presents.
    ViewController* visibleViewController() const;

    // Pushing a controller that already has a parent or presenter does nothing.
    void pushViewController(std::shared_ptr<ViewController> controller, bool animated);
    // Answers the popped controller; the root is never popped (null).
    std::shared_ptr<ViewController> popViewControllerAnimated(bool animated);

    NavigationBar& navigationBar();
    bool isNavigationBarHidden() const { return barHidden_; }
    void setNavigationBarHidden(bool hidden, bool animated = false);

    void loadView() override;
    // The navigation container turns with its top controller.
    bool shouldAutorotateToInterfaceOrientation(int orientation) override;

  protected:
    std::vector<ViewController*> appearanceChildren() override;

  private:
    class ContainerView;
    void layoutContainer();
    void showTop(ViewController* previous);
    static void runTransition(bool animated, std::function<void()> finish);

    std::shared_ptr<NavigationBar> bar_;
    bool barHidden_ = false;
};

}  // namespace platform
