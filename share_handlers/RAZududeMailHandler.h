// E-mail and SMS through the system composers. There is no composer here: the message is
// handed to the application stand-in, which records it, and the share reports success.
//
// Main thread only: the composers and their results live there.
#pragma once

#include <memory>
#include <string>

#include "SocialSDK/core/handler/RAZududeHandlerRegistry.h"

class RAZududeMailHandler : public RAZududePlatformHandler {
  public:
    static std::shared_ptr<RAZududeMailHandler> shareInstance();

    // A new "email" (type 17) or "sms" (18) platform; nothing for other names.
    std::shared_ptr<RAZududeSnsPlatform> getEmailSmsPlatform(
        const std::string& platformName) override;
    void clickHandlerWithSnsName(const std::string& platformName,
                                 const std::shared_ptr<platform::ViewController>& controller,
                                 const std::shared_ptr<RAZududeScreenHost>& service) override;
};
