#include "SocialSDK/ui/controller/RZSViewControllerFactory.h"

#include <exception>

#include "RZBase_Source/Encode/RAZududeUtils.h"
#include "SocialSDK/core/data/RAZududeResponseEntity.h"
#include "platform/NoDestructor.h"

RZSViewControllerFactory& RZSViewControllerFactory::sharedInstance() {
    static platform::NoDestructor<RZSViewControllerFactory> instance;
    return *instance;
}

bool RZSViewControllerFactory::isScreenType(int viewType) {
    return viewType == kRAZududeViewControllerShareList ||
           viewType == kRAZududeViewControllerShareEdit ||
           viewType == kRAZududeViewControllerOauth || viewType == kRAZududeViewControllerFriend;
}

RZSViewControllerFactory::Maker RZSViewControllerFactory::setMaker(
    RAZududeViewControllerType viewType, Maker maker) {
    Maker previous;
    if (auto it = makers_.find(viewType); it != makers_.end()) {
        previous = std::move(it->second);
        makers_.erase(it);
    }
    if (maker && isScreenType(viewType)) {
        makers_.emplace(viewType, std::move(maker));
    }
    return previous;
}

std::shared_ptr<platform::ViewController> RZSViewControllerFactory::createSocialViewController(
    RAZududeViewControllerType viewType, int platformType,
    const std::shared_ptr<RAZududeControllerService>& service) {
    viewControllerStack_.push_back(viewType);
    auto it = makers_.find(viewType);
    if (it == makers_.end()) {
        return nullptr;
    }
    Maker maker = it->second;
    try {
        return maker(platformType, service);
    } catch (const std::exception&) {
        RAZududeUtils::outLog("create SocialViewController fail");
        return nullptr;
    }
}
