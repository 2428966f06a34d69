// What an app calls: fill the share, show the platform icon sheet or the share list, and hand
// over the URL with which a platform application returns. A thin layer over the controller
// service and the handler base. Main thread only.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "SocialSDK/core/data/RAZududeShareImage.h"
#include "SocialSDK/core/handler/RAZududeUIDelegate.h"
#include "platform/NoDestructor.h"
#include "platform/Url.h"

namespace platform {
class ViewController;
}

class RAZududeControllerService;

class RAZududeSnsService {
  public:
    using Names = std::optional<std::vector<std::string>>;

    static RAZududeSnsService& sharedInstance();

    RAZududeSnsService(const RAZududeSnsService&) = delete;
    RAZududeSnsService& operator=(const RAZududeSnsService&) = delete;

    // ---- what the app calls
    // Fills the default share and slides the icon sheet up over the controller's screen. No
    // names keeps the configured list; the delegate hears the selection, closes and results.
    static void presentSnsIconSheetView(const std::shared_ptr<platform::ViewController>& controller,
                                        std::optional<std::string> appKey,
                                        std::optional<std::string> shareText,
                                        RAZududeShareImage shareImage, Names shareToSnsNames,
                                        std::weak_ptr<RAZududeUIDelegate> delegate);
    // The same with the share list, presented modally.
    static void presentSnsController(const std::shared_ptr<platform::ViewController>& controller,
                                     std::optional<std::string> appKey,
                                     std::optional<std::string> shareText,
                                     RAZududeShareImage shareImage, Names shareToSnsNames,
                                     std::weak_ptr<RAZududeUIDelegate> delegate);
    // The URL with which a platform application returned: true when a waiting handler took it.
    static bool handleOpenURL(const platform::Url& url);
    static bool handleOpenURL(const platform::Url& url, const std::shared_ptr<void>& wxApiDelegate);
    static void applicationDidBecomeActive() {}

    // ---- the steps behind them
    void setSocialDataWithController(const std::shared_ptr<platform::ViewController>& controller,
                                     std::optional<std::string> appKey,
                                     std::optional<std::string> shareText,
                                     RAZududeShareImage shareImage,
                                     std::weak_ptr<RAZududeUIDelegate> delegate);
    void showSnsIconSheetView(const std::shared_ptr<platform::ViewController>& controller,
                              std::optional<std::string> appKey,
                              std::optional<std::string> shareText, RAZududeShareImage shareImage,
                              Names shareToSnsStrings, std::weak_ptr<RAZududeUIDelegate> delegate);
    // The instance side of presentSnsController (its selector ends in shareToSnsStrings:).
    void presentSnsControllerWithSnsStrings(
        const std::shared_ptr<platform::ViewController>& controller,
        std::optional<std::string> appKey, std::optional<std::string> shareText,
        RAZududeShareImage shareImage, Names shareToSnsStrings,
        std::weak_ptr<RAZududeUIDelegate> delegate);

    // The controller service of every call; the default one from the first call on.
    const std::shared_ptr<RAZududeControllerService>& socialControllerService() const {
        return socialControllerService_;
    }
    void setSocialControllerService(std::shared_ptr<RAZududeControllerService> service) {
        socialControllerService_ = std::move(service);
    }
    // The controller of the last call, while it lives.
    std::shared_ptr<platform::ViewController> presentingViewController() const {
        return presentingViewController_.lock();
    }

  private:
    friend class platform::NoDestructor<RAZududeSnsService>;
    RAZududeSnsService() = default;

    std::shared_ptr<RAZududeControllerService> socialControllerService_;
    std::weak_ptr<platform::ViewController> presentingViewController_;
};
