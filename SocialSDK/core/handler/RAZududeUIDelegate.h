// What the share service tells the screen that asked for a share (the app's delegate) and its
// own stand-ins: selections, closed screens and results. Every method is optional: the defaults
// do nothing, and where the share service goes on differently when a delegate has no answer,
// the default says so.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "SocialSDK/core/data/RAZududeResponseEntity.h"

namespace platform {
class NavigationController;
}

class RAZududeScreenHost;
class RAZududeData;

class RAZududeUIDelegate {
  public:
    virtual ~RAZududeUIDelegate() = default;

    // The OAuth page closes after a login: true when the delegate takes over the next screen.
    // Nothing when it has no say.
    virtual std::optional<bool> closeOauthWebViewController(
        const std::shared_ptr<platform::NavigationController>& /*navigationController*/,
        const std::shared_ptr<RAZududeScreenHost>& /*service*/) {
        return std::nullopt;
    }
    // A screen of the share service closed (its view-controller type).
    virtual void didCloseUIViewController(int /*viewControllerType*/) {}
    // The result of a share, a login or a request.
    virtual void didFinishGetRAZududeDataInViewController(const RAZududeResponsePtr& /*response*/) {
    }
    // The user tapped a platform.
    virtual void didSelectSocialPlatform(const std::string& /*platformName*/,
                                         const std::shared_ptr<RAZududeData>& /*socialData*/) {}
    // True makes a tap in the icon sheet or the list share at once, without the editor.
    virtual bool isDirectShareInIconActionSheet() { return false; }
};
