// The OAuth page (view type 7): logs the user in to a platform that has no application on the
// device, in a web view, through the share service. It loads the share service's login page for
// the current platform, watches every navigation for the platform's callback path on the share
// service's own host, deciphers and reads the callback's query, stores the token in the user's
// accounts, follows the platform's official account when asked, fetches the accounts from the
// share service and then shows the next screen (normally the editor) or closes with the result.
//
// Made by the view-controller factory with its controller service, and always shown inside a
// navigation container of that service.
//
// Threads: main thread only, checked at its entry points in debug builds. The web view asks
// about each navigation on the main thread, from inside the call that starts it (the load, a
// tap, a redirect's report), and tells of a load's start, end and failure later, from the main
// loop; the alerts' buttons, the account and follow replies and the delayed steps come from the
// main loop too.
//
// Ownership: the page keeps its controller service, its web view and its mask; the web view and
// the alerts hold the page weakly as their delegate, and so does every delayed step (the load
// that waits for the user id, the account reply, the next screen, the text-message link), so a
// page that went away is neither shown nor touched by a step that comes late.
//
// Order of a login: the page loads (mask up) → the login page shows (mask down) → the callback
// is seen (token stored, haveOauth) → the follow request, when one is due → the accounts are
// fetched → after kNextScreenDelay the next screen is pushed, or the page closes with the result.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "SocialSDK/core/data/RAZududeResponseEntity.h"
#include "platform/Value.h"
#include "platform/ui/Alert.h"
#include "platform/ui/ViewController.h"
#include "platform/ui/WebView.h"

namespace platform {
class Button;
class ImageView;
class NavigationController;
}  // namespace platform

class RAZududeControllerService;
class RZMaskView;

class RZSOauthViewController : public platform::ViewController,
                               public platform::WebViewDelegate,
                               public platform::AlertViewDelegate {
  public:
    RZSOauthViewController();
    ~RZSOauthViewController() override;

    // The follow bar's height when an official account is to be followed.
    static constexpr double kFollowBarHeight = 40;
    // Between the account reply and the next screen.
    static constexpr double kNextScreenDelay = 0.7;
    // Between dismissing the page for a text-message link and opening it.
    static constexpr double kSendSmsDelay = 2.5;
    // Kept once the follow request after a login has completed (%@: the platform name).
    static constexpr const char* kFollowDefaultsKey = "RAZudude_Follow_%@";

    // Hosts and addresses of the platforms' own login pages that the page treats specially.
    struct PlatformPages {
        // The mask goes down on any page of this host.
        std::string weiboMobileWebHost = "open.weibo.cn";
        // "tencent" pages under this address are centred horizontally.
        std::string qqLoginPagePrefix = "https://ui.ptlogin2.qq.com/";
        // The "renren" login's cookies, deleted before the page loads so that the user can log
        // in afresh.
        std::vector<std::string> renrenCookieDomains{".renren.com", "graph.renren.com",
                                                     "www.renren.com"};
    };
    static PlatformPages& platformPages();

    // ---- what the factory hands over
    const std::shared_ptr<RAZududeControllerService>& socialControllerService() const {
        return socialControllerService_;
    }
    void setSocialControllerService(std::shared_ptr<RAZududeControllerService> service) {
        socialControllerService_ = std::move(service);
    }

    // ---- state, for the screens and tests that look at the page
    const std::shared_ptr<RZMaskView>& maskView() const { return maskView_; }
    const std::shared_ptr<platform::WebView>& webView() const { return webView_; }
    const std::optional<std::string>& followUsid() const { return followUsid_; }
    bool haveOauth() const { return haveOauth_; }
    bool isAddFollow() const { return isAddFollow_; }
    std::shared_ptr<platform::ImageView> followView() const { return followView_.lock(); }
    std::shared_ptr<platform::Button> addFollowCheckButton() const {
        return addFollowCheckButton_.lock();
    }

    // ---- the web view's delegate
    // Answers NO only at an honoured callback: the callback page itself is not loaded.
    bool webViewShouldStartLoadWithRequest(platform::WebView& webView,
                                           const platform::UrlRequest& request,
                                           platform::WebNavigationType type) override;
    void webViewDidStartLoad(platform::WebView& webView) override;
    void webViewDidFinishLoad(platform::WebView& webView) override;
    void webViewDidFailLoadWithError(platform::WebView& webView,
                                     const platform::Error& error) override;
    // The network failure alert's button closes the flow without a word to the delegate.
    void alertViewClickedButtonAtIndex(platform::AlertView& alert, int buttonIndex) override;

    // ---- closing
    // The back button: cancels (pops the page, or closes the flow when it is the first screen).
    void closeDirectly();
    void closeDirectly(const RAZududeResponsePtr& response);
    void closeWithCancel();
    void closeWithoutDelegate();
    // Lets the app's delegate take over the next screen, else closes with the response.
    void closeWithResponse(const RAZududeResponsePtr& response);

    // ---- the steps of a login
    // The pairs of a callback query, each split at its first "=": Base64 values keep their
    // trailing "=". A piece without "=" is left out; trailing NULs of a value are dropped.
    static platform::Map parseUrl(const std::string& query);
    // Stores the callback's token as the current platform's account. A callback without a
    // "uid" stores nothing, so a valid stored token is never replaced by half an account.
    void saveOauthInfoObjects(const platform::Map& values);
    void handleOauth(bool success);
    void handleFinishOauth(const RAZududeResponsePtr& response);
    void showNextViewController(const RAZududeResponsePtr& response);

    // ---- view helpers
    void showBackButton();
    void showCloseButton();
    void makeAddFollowView();
    // Ticks or unticks the follow check box.
    void addFollow();
    void setContentOffset();
    void setInActivity();
    void sendSMS(const std::string& url);

    // ---- life cycle and rotation
    void viewDidLoad() override;
    void viewWillAppear(bool animated) override;
    void viewDidAppear(bool animated) override;
    void viewWillDisappear(bool animated) override;
    void viewDidDisappear(bool animated) override;
    bool shouldAutorotateToInterfaceOrientation(int orientation) override;
    void willRotateToInterfaceOrientation(int orientation, double duration) override;
    void didRotateFromInterfaceOrientation(int from) override;

  private:
    std::string platformName() const;
    // Loads the share service's login page for the current platform.
    void loadLoginPage();
    // Whether the URL is the platform's callback on the share service's own host.
    bool isCallback(const platform::Url& url) const;
    void showAlert(const char* titleKey, const char* titleDefault, const char* messageKey,
                   const char* messageDefault, bool pageIsDelegate);
    void styleNavigationBar();
    bool isFirstScreen() const;
    void fitToPadBounds(bool webViewGetsExtraWidth);
    std::weak_ptr<RZSOauthViewController> weakSelf();

    std::shared_ptr<RZMaskView> maskView_;
    std::shared_ptr<platform::WebView> webView_;
    std::optional<std::string> followUsid_;
    std::shared_ptr<RAZududeControllerService> socialControllerService_;
    bool haveOauth_ = false;
    bool isAddFollow_ = false;
    std::weak_ptr<platform::ImageView> followView_;
    std::weak_ptr<platform::Button> addFollowCheckButton_;
    double followBarHeight_ = 0;
    bool hasAppeared_ = false;
};
