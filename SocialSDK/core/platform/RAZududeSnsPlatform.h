// One share platform: its name and number, how it is shown (display name, icons), whether it
// needs a login and how its web login goes, and the two blocks that run when the user taps it
// to share or to log in. Its companion (RAZududeSnsPlatformInternal) carries the flows.
//
// Main thread only; its blocks run there.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "SocialSDK/core/data/RAZududeResponseEntity.h"

namespace platform {
class ViewController;
}

class RAZududeScreenHost;
class RAZududeSnsPlatformInternal;

// (presenting controller, screen host, present modally)
using RAZududeSnsClickHandler =
    std::function<void(const std::shared_ptr<platform::ViewController>& controller,
                       const std::shared_ptr<RAZududeScreenHost>& service, bool isPresent)>;
// (presenting controller, screen host, present modally, login completion)
using RAZududeLoginClickHandler =
    std::function<void(const std::shared_ptr<platform::ViewController>& controller,
                       const std::shared_ptr<RAZududeScreenHost>& service, bool isPresent,
                       RAZududeResponseCompletion completion)>;

class RAZududeSnsPlatform : public std::enable_shared_from_this<RAZududeSnsPlatform> {
  public:
    // No field set.
    RAZududeSnsPlatform() = default;
    virtual ~RAZududeSnsPlatform() = default;
    RAZududeSnsPlatform(const RAZududeSnsPlatform&) = delete;
    RAZududeSnsPlatform& operator=(const RAZududeSnsPlatform&) = delete;

    // Type 0, the name, a companion, and a login block that only logs that the platform has
    // no login.
    static std::shared_ptr<RAZududeSnsPlatform> initWithPlatformName(std::string platformName);

    const std::string& platformName() const { return platformName_; }
    void setPlatformName(std::string v) { platformName_ = std::move(v); }
    const std::string& displayName() const { return displayName_; }
    void setDisplayName(std::string v) { displayName_ = std::move(v); }
    const std::string& loginName() const { return loginName_; }
    void setLoginName(std::string v) { loginName_ = std::move(v); }
    // The companion looks its type up by name instead.
    virtual int shareToType() const { return shareToType_; }
    void setShareToType(int type) { shareToType_ = type; }
    // Resource names of the sheet's icon and the small on and off icons.
    const std::string& bigImageName() const { return bigImageName_; }
    void setBigImageName(std::string v) { bigImageName_ = std::move(v); }
    const std::string& smallImageName() const { return smallImageName_; }
    void setSmallImageName(std::string v) { smallImageName_ = std::move(v); }
    const std::string& smallImageOffName() const { return smallImageOffName_; }
    void setSmallImageOffName(std::string v) { smallImageOffName_ = std::move(v); }
    const RAZududeSnsClickHandler& snsClickHandler() const { return snsClickHandler_; }
    void setSnsClickHandler(RAZududeSnsClickHandler handler) {
        snsClickHandler_ = std::move(handler);
    }
    const RAZududeLoginClickHandler& loginClickHandler() const { return loginClickHandler_; }
    void setLoginClickHandler(RAZududeLoginClickHandler handler) {
        loginClickHandler_ = std::move(handler);
    }
    bool needLogin() const { return needLogin_; }
    void setNeedLogin(bool v) { needLogin_ = v; }
    bool haveWebViewAuth() const { return haveWebViewAuth_; }
    void setHaveWebViewAuth(bool v) { haveWebViewAuth_ = v; }
    const std::string& oauthCallBackPath() const { return oauthCallBackPath_; }
    void setOauthCallBackPath(std::string v) { oauthCallBackPath_ = std::move(v); }
    const std::string& oauthBaseURLString() const { return oauthBaseURLString_; }
    void setOauthBaseURLString(std::string v) { oauthBaseURLString_ = std::move(v); }

    // The companion, made on first use.
    std::shared_ptr<RAZududeSnsPlatformInternal> platformInternal();
    void setPlatformInternal(std::shared_ptr<RAZududeSnsPlatformInternal> companion) {
        platformInternal_ = std::move(companion);
    }

  private:
    std::string platformName_;
    std::string displayName_;
    std::string loginName_;
    int shareToType_ = 0;
    std::string bigImageName_;
    std::string smallImageName_;
    std::string smallImageOffName_;
    RAZududeSnsClickHandler snsClickHandler_;
    RAZududeLoginClickHandler loginClickHandler_;
    bool needLogin_ = false;
    bool haveWebViewAuth_ = false;
    std::string oauthCallBackPath_;
    std::string oauthBaseURLString_;
    std::shared_ptr<RAZududeSnsPlatformInternal> platformInternal_;
};
