// What the share service tells the screen that asked for a share (the app's delegate) and its
// own stand-ins: selections, closed screens and results. Every method is optional: the defaults
// do nothing, and where the share service goes on differently when a delegate has no answer,
// the default says so.
//
// Threads: every call arrives on the main thread, from the main loop, with no lock of the share
// service held, so a delegate may call the share service back. The share service holds its
// delegate weakly and calls it through the functions of rz_ui_delegate below: a delegate that
// throws is logged with the message and the share service goes on as if it had returned.
//
// Order:
// - A tap on a platform: didSelectSocialPlatform, before the platform's handler or screen runs.
//   The icon sheet's own close (view type 10) comes when its slide-out ends, which may be
//   before or after the result of the share it started.
// - A screen that ends with a result: didFinishGetRAZududeDataInViewController first, then
//   didCloseUIViewController with the type of the screen that closed, once its dismissal ended.
// - A screen the user closes: a cancel result first when it was the share editor, or an OAuth
//   page without a login, then the close.
// - A direct share (isDirectShareInIconActionSheet true) and a share handed to a platform
//   application: the result alone, the latter once the platform application came back through
//   handleOpenURL. A result is delivered once.
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

// The calls into the app's delegate, each through the platform's guarded-call helper. A null
// delegate is not called; one that throws gives the default answer.
namespace rz_ui_delegate {
std::optional<bool> closeOauthWebViewController(
    const std::shared_ptr<RAZududeUIDelegate>& delegate,
    const std::shared_ptr<platform::NavigationController>& navigationController,
    const std::shared_ptr<RAZududeScreenHost>& service);
void didCloseUIViewController(const std::shared_ptr<RAZududeUIDelegate>& delegate,
                              int viewControllerType);
void didFinishGetRAZududeDataInViewController(const std::shared_ptr<RAZududeUIDelegate>& delegate,
                                              const RAZududeResponsePtr& response);
void didSelectSocialPlatform(const std::shared_ptr<RAZududeUIDelegate>& delegate,
                             const std::string& platformName,
                             const std::shared_ptr<RAZududeData>& socialData);
bool isDirectShareInIconActionSheet(const std::shared_ptr<RAZududeUIDelegate>& delegate);
}  // namespace rz_ui_delegate
