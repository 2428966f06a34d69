// Shares to QQ and Qzone through the QQ application.
//
// Main thread only, as PlatformAppHandler.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "share_handlers/PlatformAppHandler.h"

class RAZududeQQHandler : public PlatformAppHandler {
  public:
    static std::shared_ptr<RAZududeQQHandler> shareInstance();

    // Builds and registers "qq", gives "qzone" a tap that shares through the QQ application,
    // and gives the handler base the QQ app id. The URL is the web page a share links to by
    // default.
    static void setQQWithAppId(std::string appId, std::optional<std::string> appKey,
                               std::optional<std::string> url);

    const std::optional<std::string>& qqAppId() const { return qqAppId_; }
    const std::optional<std::string>& qqAppKey() const { return qqAppKey_; }
    std::optional<std::string> tokenAppId() const override { return qqAppId_; }
    std::optional<std::string> tokenAppSecret() const override { return qqAppKey_; }
    const std::optional<std::string>& qqUrl() const { return qqUrl_; }

    std::string returnScheme() const override { return qqAppId_.value_or(std::string()); }
    void clickHandlerWithSnsName(const std::string& platformName,
                                 const std::shared_ptr<platform::ViewController>& controller,
                                 const std::shared_ptr<RAZududeScreenHost>& service) override;

    RAZududeQQHandler();

  private:
    std::optional<std::string> qqAppId_;
    std::optional<std::string> qqAppKey_;
    std::optional<std::string> qqUrl_;
};
