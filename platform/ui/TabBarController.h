// Screens side by side, one shown at a time above a tab bar along the bottom. The selected
// screen's view fills the space above the bar and hears appearance calls while the container
// is on screen; the others wait, their views out of the tree.
#pragma once

#include <cstddef>
#include <memory>
#include <vector>

#include "platform/ui/ViewController.h"

namespace platform {

class TabBarController : public ViewController {
  public:
    static constexpr double kBarHeight = 49;

    // Controllers that already have a parent or a presenter are left out.
    explicit TabBarController(std::vector<std::shared_ptr<ViewController>> controllers);
    ~TabBarController() override;

    const std::vector<std::shared_ptr<ViewController>>& viewControllers() const {
        return childViewControllers();
    }
    // The first screen until another is selected; null when there is none.
    ViewController* selectedViewController() const;
    std::size_t selectedIndex() const { return selected_; }
    // Shows the screen at the index; an index past the end changes nothing.
    void setSelectedIndex(std::size_t index);

    // The bar along the bottom of the container's view.
    View& tabBar() { return *bar_; }

    void loadView() override;

  protected:
    std::vector<ViewController*> appearanceChildren() override;

  private:
    void showSelected(ViewController* previous);

    std::shared_ptr<View> bar_;
    std::size_t selected_ = 0;
};

}  // namespace platform
