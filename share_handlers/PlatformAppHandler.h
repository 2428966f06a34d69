// What the handlers of platforms with their own application share: whether the application is
// installed, a share handed to it, and the reply with which it returns.
//
// No platform application exists on this machine. The application stand-in lists the URL
// schemes of the installed applications (none but the system's by default); a handler whose
// application is installed opens its scheme with the share and waits for the return URL:
//
//     <app scheme>://share?from=<return scheme>&platform=<name>&text=...&url=...
//     <return scheme>://<name>/share?result=ok|cancel|fail
//
// The return scheme is the app id the app registered for the platform. A share to a platform
// whose application is missing ends at once with code 5054 for the app's delegate, and the
// user sees an alert that says the application is not installed.
//
// Main thread only: the share, the application's return URL and the reply to the app's
// delegate all happen there.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>

#include "SocialSDK/core/handler/RAZududeHandlerRegistry.h"
#include "platform/Url.h"

class PlatformAppHandler : public RAZududePlatformHandler,
                           public std::enable_shared_from_this<PlatformAppHandler> {
  public:
    bool isClientInstall(const std::string& platformName) override;
    bool checkUrlSchema() override;
    bool handleOpenURL(const platform::Url& url) override;

    // The platform application's own scheme.
    const std::string& appScheme() const { return appScheme_; }
    // The scheme the platform application returns to; empty until the app id is set.
    virtual std::string returnScheme() const = 0;

    // The query of a URL as a dictionary, values percent-decoded.
    static std::map<std::string, std::string> queryItems(const platform::Url& url);

  protected:
    PlatformAppHandler(std::string appScheme, std::string noticeKey, std::string noticeText);

    bool appInstalled() const;
    // Tells the user the application is missing.
    void showNotInstalledNotice() const;
    // Hands the share to the application, or reports that it is missing.
    void shareThroughApp(const std::string& platformName,
                         const std::shared_ptr<RAZududeScreenHost>& service);
    // A reply the base does not know (a login); false when it is not one either.
    virtual bool handleReply(const std::string& /*kind*/,
                             const std::map<std::string, std::string>& /*query*/) {
        return false;
    }

    static constexpr int kNotInstalledCode = 5054;
    static constexpr const char* kNotInstalledMessage = "the platform application is not installed";

  private:
    struct PendingShare {
        std::string platformName;
        std::weak_ptr<RAZududeScreenHost> service;
        std::optional<std::string> text;
    };

    std::string appScheme_;
    std::string noticeKey_;
    std::string noticeText_;
    std::optional<PendingShare> pending_;
};
