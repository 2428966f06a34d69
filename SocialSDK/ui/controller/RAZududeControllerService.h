// The share service's screen coordinator. It holds the data service (and through it the share
// record), builds the share screens by view type and wraps them in the navigation container,
// keeps the stack of the view types it opened, reports closing screens and results to the app's
// UI delegate, and makes the icon sheet whose taps start a share. It is the screen host of the
// core's share flows. Main thread only.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "SocialSDK/core/data/RAZududeResponseEntity.h"
#include "SocialSDK/core/data/RAZududeShareImage.h"
#include "SocialSDK/core/handler/RAZududeUIDelegate.h"
#include "SocialSDK/core/screen/RAZududeScreenHost.h"
#include "platform/graphics/Color.h"

namespace platform {
class NavigationController;
class ViewController;
}  // namespace platform

class RAZududeData;
class RAZududeDataService;
class RAZududeIconActionSheet;
class RAZududeNavigationController;

class RAZududeControllerService : public RAZududeScreenHost,
                                  public std::enable_shared_from_this<RAZududeControllerService> {
  public:
    // The shared service, on the default record.
    static std::shared_ptr<RAZududeControllerService> defaultControllerService();

    // A service on the record (initWithRAZududeData).
    explicit RAZududeControllerService(std::shared_ptr<RAZududeData> data);
    // A service on the default record.
    RAZududeControllerService();
    ~RAZududeControllerService() override = default;
    RAZududeControllerService(const RAZududeControllerService&) = delete;
    RAZududeControllerService& operator=(const RAZududeControllerService&) = delete;

    const std::shared_ptr<RAZududeDataService>& socialDataService() const { return dataService_; }
    void setSocialDataService(std::shared_ptr<RAZududeDataService> service) {
        dataService_ = std::move(service);
    }
    // The data service's record.
    std::shared_ptr<RAZududeData> socialData() const override;
    void setSocialData(std::shared_ptr<RAZududeData> data);

    // Background of the containers this service makes.
    const platform::Color& defaultColor() const { return defaultColor_; }
    void setDefaultColor(platform::Color color) { defaultColor_ = color; }
    // The platform of the current flow.
    const std::optional<std::string>& currentSnsPlatformName() const override {
        return currentSnsPlatformName_;
    }
    void setCurrentSnsPlatformName(std::optional<std::string> name) {
        currentSnsPlatformName_ = std::move(name);
    }
    // The screen to follow an OAuth page; kRAZududeViewControllerNone when none.
    RAZududeViewControllerType nextViewController() const { return nextViewController_; }
    void setNextViewController(RAZududeViewControllerType type) override {
        nextViewController_ = type;
    }
    int currentViewControllerType() const { return currentViewControllerType_; }
    void setCurrentViewControllerType(int type) { currentViewControllerType_ = type; }
    // The view types opened through this service, the last one on top.
    const std::vector<int>& currentViewControllerArray() const { return viewTypeStack_; }

    // The app's delegate; not kept alive by the service.
    std::shared_ptr<RAZududeUIDelegate> socialUIDelegate() const override {
        return uiDelegate_.lock();
    }
    void setSocialUIDelegate(std::weak_ptr<RAZududeUIDelegate> delegate) override {
        uiDelegate_ = std::move(delegate);
    }
    std::shared_ptr<platform::NavigationController> currentNavigationController() const {
        return currentNavigationController_.lock();
    }
    void setCurrentNavigationController(std::weak_ptr<platform::NavigationController> c) {
        currentNavigationController_ = std::move(c);
    }
    // The screen now shown, or the app's presenting screen for the icon sheet.
    std::shared_ptr<platform::ViewController> currentViewController() const override {
        return currentViewController_.lock();
    }
    void setCurrentViewController(std::weak_ptr<platform::ViewController> c) {
        currentViewController_ = std::move(c);
    }

    // Sets the record's text and picture and the delegate.
    void setShareText(std::optional<std::string> text, RAZududeShareImage image,
                      std::weak_ptr<RAZududeUIDelegate> delegate);

    // ---- screens: each public getter records its use, then asks for the internal variant
    std::shared_ptr<platform::NavigationController> getSocialShareListController();
    std::shared_ptr<platform::NavigationController> getSocialShareListControllerInternal();
    std::shared_ptr<RAZududeIconActionSheet> getSocialIconActionSheetInController(
        const std::shared_ptr<platform::ViewController>& controller);
    std::shared_ptr<RAZududeIconActionSheet> getSocialIconActionSheetInControllerInternal(
        const std::shared_ptr<platform::ViewController>& controller);
    // The editor in its container ("email" and "sms": bare); null when there is no editor.
    std::shared_ptr<platform::ViewController> getSocialShareEditController(
        const std::string& platformName);
    std::shared_ptr<platform::ViewController> getSocialShareEditControllerInternal(
        const std::string& platformName, std::optional<std::string> sourceOpType);
    // The OAuth page in its container; null when there is no page.
    std::shared_ptr<platform::NavigationController> getSocialOauthController(
        const std::string& platformName);
    std::shared_ptr<platform::NavigationController> getSocialOauthControllerInternal(
        const std::string& platformName, std::optional<std::string> sourceOpType);
    // No account screen exists: always null.
    std::shared_ptr<platform::NavigationController> getSocialAccountControllerInternal();

    // A new screen of the view type for the platform; null when there is none. An editor is
    // made only for the platforms that have one, and an editor asked for a platform without a
    // valid token becomes the OAuth page, with the editor to follow.
    std::shared_ptr<platform::ViewController> getSocialViewController(
        int viewType, std::optional<std::string> platformName = std::nullopt) override;
    RAZududeViewControllerType transformViewControllerType(RAZududeViewControllerType viewType,
                                                           int platformType);

    std::shared_ptr<RAZududeNavigationController> makeNavigationControllerWithContorller(
        const std::shared_ptr<platform::ViewController>& controller);
    // A close button as the screen's left bar button; a tap cancels.
    void addCloseButton(const std::shared_ptr<platform::ViewController>& screen);

    // ---- the rest of the screen host
    std::shared_ptr<platform::ViewController> makeShareEditScreen(
        const std::string& platformName, std::optional<std::string> sourceOpType) override;
    std::shared_ptr<platform::ViewController> makeOauthScreen(
        const std::string& platformName, std::optional<std::string> sourceOpType) override;
    void presentScreen(const std::shared_ptr<platform::ViewController>& screen,
                       const std::shared_ptr<platform::ViewController>& from) override;
    bool pushScreen(const std::shared_ptr<platform::ViewController>& screen,
                    const std::shared_ptr<platform::ViewController>& from) override;
    void pushScreenOn(const std::shared_ptr<platform::NavigationController>& navigation,
                      const std::shared_ptr<platform::ViewController>& screen) override;

    // ---- closing
    // Tells the delegate of a cancelled editor or login, then closes.
    void closeWithCancelResponse();
    // Gives the delegate the response, then closes; nothing is a cancel.
    void closeWithResponse(const RAZududeResponsePtr& response);
    void close() override;
    void closeInternal();
    // Tells the delegate that the current screen closed.
    void didFinishedDismissViewController();

  private:
    void reportClosed(int closedType);
    void pushViewType(RAZududeViewControllerType type);
    void undoViewType();
    std::shared_ptr<platform::NavigationController> wrapAsCurrent(
        const std::shared_ptr<platform::ViewController>& screen);

    std::shared_ptr<RAZududeDataService> dataService_;
    platform::Color defaultColor_;
    std::vector<int> viewTypeStack_;
    std::optional<std::string> currentSnsPlatformName_;
    RAZududeViewControllerType nextViewController_ = kRAZududeViewControllerNone;
    int currentViewControllerType_ = 0;
    std::weak_ptr<RAZududeUIDelegate> uiDelegate_;
    std::weak_ptr<platform::NavigationController> currentNavigationController_;
    std::weak_ptr<platform::ViewController> currentViewController_;
    // Held while a bare e-mail or SMS screen is up, which knows no container to close.
    std::shared_ptr<RAZududeControllerService> selfWhileComposing_;
};
