// Shares to WeChat friends, moments and favourites through the WeChat application.
//
// Main thread only, as PlatformAppHandler.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "share_handlers/PlatformAppHandler.h"

class RAZududeWechatHandler : public PlatformAppHandler {
  public:
    static std::shared_ptr<RAZududeWechatHandler> shareInstance();

    // Builds and registers "wxsession", "wxtimeline" and "wxfavorite", puts their names in
    // front of the configured list, and hides them when WeChat is missing and the configuration
    // hides such platforms. The URL is the web page a share links to by default.
    static void setWXAppId(std::string appId, std::optional<std::string> appSecret,
                           std::optional<std::string> url);

    const std::optional<std::string>& wxAppId() const { return wxAppId_; }
    const std::optional<std::string>& wxAppSecrete() const { return wxAppSecret_; }
    const std::optional<std::string>& wxUrl() const { return wxUrl_; }
    std::optional<std::string> tokenAppId() const override { return wxAppId_; }
    std::optional<std::string> tokenAppSecret() const override { return wxAppSecret_; }

    std::string returnScheme() const override { return wxAppId_.value_or(std::string()); }
    void clickHandlerWithSnsName(const std::string& platformName,
                                 const std::shared_ptr<platform::ViewController>& controller,
                                 const std::shared_ptr<RAZududeScreenHost>& service) override;

    RAZududeWechatHandler();

  private:
    std::optional<std::string> wxAppId_;
    std::optional<std::string> wxAppSecret_;
    std::optional<std::string> wxUrl_;
};
