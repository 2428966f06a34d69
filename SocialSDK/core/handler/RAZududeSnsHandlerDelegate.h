// What the share service asks of a platform handler: to log in through the platform's own
// application and to take the URL with which that application returns. Every method is
// optional; the defaults answer no and do nothing.
//
// Every method is called on the main thread.
#pragma once

#include <memory>
#include <string>

#include "SocialSDK/core/data/RAZududeResponseEntity.h"

namespace platform {
class Url;
class ViewController;
}  // namespace platform

class RAZududeSnsHandlerDelegate {
  public:
    virtual ~RAZududeSnsHandlerDelegate() = default;

    // Takes the URL with which the platform's application returned: true when it was its own.
    virtual bool handleOpenURL(const platform::Url& /*url*/) { return false; }
    // The platform's application is installed.
    virtual bool isClientInstall(const std::string& /*platformName*/) { return false; }
    // Logs in through the platform's application; the completion is called once.
    virtual void loginWithController(
        const std::shared_ptr<platform::ViewController>& /*controller*/,
        RAZududeResponseCompletion /*completion*/, const std::string& /*platformName*/) {}
    // The app declares the URL scheme the platform's application returns to.
    virtual bool checkUrlSchema() { return false; }
    virtual bool needAuthorize() { return false; }
};
