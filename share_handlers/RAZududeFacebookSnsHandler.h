// Facebook and Twitter through the system's share services. Those services need the user's
// account set up on the device; this machine has none, so a share ends with code 5053 and an
// alert asking the user to log in to the platform in the system settings.
//
// Main thread only.
#pragma once

#include <memory>
#include <string>

#include "SocialSDK/core/handler/RAZududeHandlerRegistry.h"

class RAZududeFacebookSnsHandler : public RAZududePlatformHandler {
  public:
    static std::shared_ptr<RAZududeFacebookSnsHandler> shareInstance();

    // A new "facebook" (type 20) or "twitter" (21) platform; nothing for other names.
    std::shared_ptr<RAZududeSnsPlatform> getFacebookTwitterPlatform(
        const std::string& platformName) override;
    void clickHandlerWithSnsName(const std::string& platformName,
                                 const std::shared_ptr<platform::ViewController>& controller,
                                 const std::shared_ptr<RAZududeScreenHost>& service) override;
};
