// The companion of one platform: what a tap on it means. A share tap either hands the share to
// the platform's handler, or makes sure the user is logged in to the platform (through the
// platform's own application or the OAuth page) and then opens the share editor. While a login
// runs the companion stands in for the app's UI delegate on the screen host, so that it
// sees the screens close and the login result, and passes on what concerns the app.
//
// The companion is itself a platform: it carries the platform's properties, of which it sets
// only the name (copied from its platform); its type is the registry's for that name.
//
// Main thread only: taps, logins, results and closes all arrive there.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "SocialSDK/core/data/RAZududeResponseEntity.h"
#include "SocialSDK/core/handler/RAZududeSnsHandlerDelegate.h"
#include "SocialSDK/core/handler/RAZududeUIDelegate.h"
#include "SocialSDK/core/platform/RAZududeSnsPlatform.h"

namespace platform {
class ViewController;
}

class RAZududeSnsPlatformInternal : public RAZududeSnsPlatform, public RAZududeUIDelegate {
  public:
    // Serves the platform and takes its name; "0" as share status, not hidden.
    explicit RAZududeSnsPlatformInternal(std::weak_ptr<RAZududeSnsPlatform> platform);

    // Looked up by name in the registry.
    int shareToType() const override;
    std::shared_ptr<RAZududeSnsPlatform> snsPlatform() const { return snsPlatform_.lock(); }

    // "1" while a tap means share, "0" while it means login only.
    const std::string& shareStatus() const { return shareStatus_; }
    void setShareStatus(std::string status) { shareStatus_ = std::move(status); }
    bool isHidden() const { return isHidden_; }
    void setIsHidden(bool hidden) { isHidden_ = hidden; }
    // The platform's handler; the handler sets it.
    std::shared_ptr<RAZududeSnsHandlerDelegate> socialLoginDelegate() const {
        return socialLoginDelegate_.lock();
    }
    void setSocialLoginDelegate(std::weak_ptr<RAZududeSnsHandlerDelegate> handler) {
        socialLoginDelegate_ = std::move(handler);
    }
    // The app's delegate, kept while this companion stands in for it.
    const std::shared_ptr<RAZududeUIDelegate>& socialUIDelegate() const {
        return socialUIDelegate_;
    }
    void setSocialUIDelegate(std::shared_ptr<RAZududeUIDelegate> d) {
        socialUIDelegate_ = std::move(d);
    }
    // Called once when the web login ends.
    const RAZududeResponseCompletion& loginCompletion() const { return loginCompletion_; }
    void setLoginCompletion(RAZududeResponseCompletion c) { loginCompletion_ = std::move(c); }

    // A share tap: tells the app and records it, then the handler, the editor or a login first.
    void snsClickHandlerWithController(const std::shared_ptr<platform::ViewController>& controller,
                                       const std::shared_ptr<RAZududeScreenHost>& service,
                                       bool isPresent, std::optional<std::string> sourceOpType);
    // A login, through the platform's application when its handler can, else the OAuth page.
    void snsLoginHandlerrWithController(const std::shared_ptr<platform::ViewController>& controller,
                                        const std::shared_ptr<RAZududeScreenHost>& service,
                                        bool isPresent, RAZududeResponseCompletion loginCompletion,
                                        std::optional<std::string> sourceOpType);

    // ---- standing in for the app's delegate
    // The OAuth page's result ends the login half a second later; the editor's goes to the app.
    void didFinishGetRAZududeDataInViewController(const RAZududeResponsePtr& response) override;
    void didCloseUIViewController(int viewControllerType) override;
    // After a login that a share tap started, the editor follows the OAuth page.
    std::optional<bool> closeOauthWebViewController(
        const std::shared_ptr<platform::NavigationController>& navigationController,
        const std::shared_ptr<RAZududeScreenHost>& service) override;

    // Calls the login completion once, then forgets it.
    void performLoginCompletion(const RAZududeResponsePtr& response);

    // The delay between the OAuth page's result and the login completion.
    static constexpr std::chrono::milliseconds kLoginCompletionDelay{500};

  private:
    std::weak_ptr<RAZududeSnsPlatformInternal> weakSelf();
    void standIn(const std::shared_ptr<RAZududeScreenHost>& service);
    void handBack(const std::shared_ptr<RAZududeScreenHost>& service);
    void openEditor(const std::shared_ptr<platform::ViewController>& controller,
                    const std::shared_ptr<RAZududeScreenHost>& service, bool isPresent,
                    const std::string& sourceOpType);

    std::weak_ptr<RAZududeSnsPlatform> snsPlatform_;
    std::string shareStatus_ = "0";
    bool isHidden_ = false;
    std::weak_ptr<RAZududeSnsHandlerDelegate> socialLoginDelegate_;
    std::shared_ptr<RAZududeUIDelegate> socialUIDelegate_;
    RAZududeResponseCompletion loginCompletion_;
    // Counts the logins started, so that a result that comes late cannot reach a later login.
    std::uint64_t loginGeneration_ = 0;
};
