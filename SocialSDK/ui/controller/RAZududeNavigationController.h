// The navigation container of every share screen: it turns as the configuration allows.
//
// Main thread only.
#pragma once

#include <memory>

#include "platform/ui/NavigationController.h"

class RAZududeNavigationController : public platform::NavigationController {
  public:
    explicit RAZududeNavigationController(std::shared_ptr<platform::ViewController> root)
        : NavigationController(std::move(root)) {}

    bool shouldAutorotate() override { return true; }
    unsigned supportedInterfaceOrientations() override;
};
