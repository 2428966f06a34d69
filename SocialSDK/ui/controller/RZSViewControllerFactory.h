// Makes the share screens by view type. The screens plug in here with a maker per type, so that
// the factory needs none of their headers; a type without a maker builds nothing, and so do
// the types that have no screen (4, 5, 6, 8 and those outside 2 to 9).
//
// Main thread only: makers are registered at start-up and screens made there.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <vector>

#include "SocialSDK/core/data/RAZududeResponseEntity.h"
#include "platform/NoDestructor.h"
#include "platform/Value.h"

namespace platform {
class ViewController;
}

class RAZududeControllerService;

// A screen that lists platforms: the controller service hands it the configured names.
class RZSPlatformListScreen {
  public:
    virtual ~RZSPlatformListScreen() = default;
    virtual void setAllSnsArray(const platform::Array& names) = 0;
};

class RZSViewControllerFactory {
  public:
    // Makes the screen for the platform type, handing it the controller service.
    using Maker = std::function<std::shared_ptr<platform::ViewController>(
        int platformType, const std::shared_ptr<RAZududeControllerService>& service)>;

    static RZSViewControllerFactory& sharedInstance();

    RZSViewControllerFactory(const RZSViewControllerFactory&) = delete;
    RZSViewControllerFactory& operator=(const RZSViewControllerFactory&) = delete;

    // The screens this factory makes: the share list, the share editor, the OAuth page and the
    // friend picker. An empty maker takes the type's screen away; answers the maker it replaces.
    Maker setMaker(RAZududeViewControllerType viewType, Maker maker);
    static bool isScreenType(int viewType);

    // A new screen, or null when the type has none (or its maker failed, which is logged).
    std::shared_ptr<platform::ViewController> createSocialViewController(
        RAZududeViewControllerType viewType, int platformType,
        const std::shared_ptr<RAZududeControllerService>& service);

    // Every view type asked for, in order.
    const std::vector<int>& viewControllerStack() const { return viewControllerStack_; }

  private:
    friend class platform::NoDestructor<RZSViewControllerFactory>;
    RZSViewControllerFactory() = default;

    std::vector<int> viewControllerStack_;
    std::map<RAZududeViewControllerType, Maker> makers_;
};
