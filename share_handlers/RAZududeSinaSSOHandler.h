// Logs in to Sina Weibo through the Weibo application (single sign-on). The "sina" platform
// needs a login: a tap runs the share service's click flow, which logs in through this handler
// and then opens the share editor.
//
// The Weibo application returns to the app key's scheme:
//     <app key>://sina/login?result=ok&uid=...&token=...&expires_in=<seconds>
// (result "cancel" or anything else ends the login without an account).
//
// Main thread only, as PlatformAppHandler.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "share_handlers/PlatformAppHandler.h"

class RAZududeSinaSSOHandler : public PlatformAppHandler {
  public:
    static std::shared_ptr<RAZududeSinaSSOHandler> shareInstance();

    // Builds and registers "sina" and makes its logins go through the Weibo application.
    static void setSinaSSOWithAppKey(std::string appKey, std::optional<std::string> appSecret,
                                     std::optional<std::string> redirectUrl);

    const std::optional<std::string>& appkey() const { return appkey_; }
    const std::optional<std::string>& appSecret() const { return appSecret_; }
    std::optional<std::string> tokenAppId() const override { return appkey_; }
    std::optional<std::string> tokenAppSecret() const override { return appSecret_; }
    const std::optional<std::string>& redirectUrl() const { return redirectUrl_; }

    std::string returnScheme() const override { return appkey_.value_or(std::string()); }
    // Missing application: the completion gets 5054 and the user a notice. Otherwise the
    // application is asked and the completion waits for its return.
    void loginWithController(const std::shared_ptr<platform::ViewController>& controller,
                             RAZududeResponseCompletion completion,
                             const std::string& platformName) override;
    // Removes the stored "sina" account and answers 200; without one, 510.
    bool unOauth(RAZududeResponseCompletion completion) override;

    RAZududeSinaSSOHandler();

  protected:
    bool handleReply(const std::string& kind,
                     const std::map<std::string, std::string>& query) override;

  private:
    std::optional<std::string> appkey_;
    std::optional<std::string> appSecret_;
    std::optional<std::string> redirectUrl_;
    RAZududeResponseCompletion pendingLogin_;
};
