// The share in progress to one platform: the platform, the user's account there, the text,
// picture or link, the place, and how the share was started. A data manager keeps one as its
// current share; the share request reads it. Main thread only.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "SocialSDK/core/account/RAZududeAccountEntity.h"
#include "SocialSDK/core/data/RAZududeShareImage.h"
#include "SocialSDK/core/data/RAZududeUrlResource.h"
#include "platform/Location.h"

class RAZududeSnsPlatform;

class RZSSNSEntity {
  public:
    // The platform of the type code, the stored account for it and its login page on the
    // share service; nothing to send yet.
    explicit RZSSNSEntity(int snsType);

    const std::shared_ptr<RAZududeAccountEntity>& snsAccount() const { return snsAccount_; }
    void setSnsAccount(std::shared_ptr<RAZududeAccountEntity> v) { snsAccount_ = std::move(v); }
    const std::string& oauthURLString() const { return oauthURLString_; }
    const std::shared_ptr<RAZududeSnsPlatform>& scSnsDescriptor() const { return descriptor_; }
    int shareToType() const { return shareToType_; }
    void setShareToType(int v) { shareToType_ = v; }
    const std::optional<platform::Location>& location() const { return location_; }
    void setLocation(std::optional<platform::Location> v) { location_ = v; }
    bool isSendImage() const { return isSendImage_; }
    void setIsSendImage(bool v) { isSendImage_ = v; }
    bool isSendUrlResource() const { return isSendUrlResource_; }
    void setIsSendUrlResource(bool v) { isSendUrlResource_ = v; }
    bool isShake() const { return isShake_; }
    void setIsShake(bool v) { isShake_ = v; }
    const std::optional<std::string>& accessToken() const { return accessToken_; }
    void setAccessToken(std::optional<std::string> v) { accessToken_ = std::move(v); }
    const std::optional<std::string>& usid() const { return usid_; }
    void setUsid(std::optional<std::string> v) { usid_ = std::move(v); }
    const std::optional<std::string>& shareText() const { return shareText_; }
    void setShareText(std::optional<std::string> v) { shareText_ = std::move(v); }
    const RAZududeShareImage& shareImage() const { return shareImage_; }
    void setShareImage(RAZududeShareImage v) { shareImage_ = std::move(v); }
    const std::shared_ptr<RAZududeUrlResource>& urlResource() const { return urlResource_; }
    void setUrlResource(std::shared_ptr<RAZududeUrlResource> v) { urlResource_ = std::move(v); }

  private:
    std::shared_ptr<RAZududeAccountEntity> snsAccount_;
    std::string oauthURLString_;
    std::shared_ptr<RAZududeSnsPlatform> descriptor_;
    int shareToType_ = 0;
    std::optional<platform::Location> location_;
    bool isSendImage_ = false;
    bool isSendUrlResource_ = false;
    bool isShake_ = false;
    std::optional<std::string> accessToken_;
    std::optional<std::string> usid_;
    std::optional<std::string> shareText_;
    RAZududeShareImage shareImage_;
    std::shared_ptr<RAZududeUrlResource> urlResource_;
};
