#include "SocialSDK/core/platform/RAZududeSnsPlatform.h"

#include "RZBase_Source/Encode/RAZududeUtils.h"
#include "SocialSDK/core/platform/RAZududeSnsPlatformInternal.h"

std::shared_ptr<RAZududeSnsPlatform> RAZududeSnsPlatform::initWithPlatformName(
    std::string platformName) {
    auto platform = std::make_shared<RAZududeSnsPlatform>();
    platform->shareToType_ = 0;
    platform->platformName_ = std::move(platformName);
    platform->platformInternal();
    platform->loginClickHandler_ = [](const std::shared_ptr<platform::ViewController>&,
                                      const std::shared_ptr<RAZududeScreenHost>&, bool,
                                      RAZududeResponseCompletion) {
        RAZududeUtils::outLog("the platform is not support login!");
    };
    return platform;
}

std::shared_ptr<RAZududeSnsPlatformInternal> RAZududeSnsPlatform::platformInternal() {
    if (!platformInternal_) {
        platformInternal_ = std::make_shared<RAZududeSnsPlatformInternal>(weak_from_this());
    }
    return platformInternal_;
}
