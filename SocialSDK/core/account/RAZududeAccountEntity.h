// One authorisation of the user on one share platform: the platform's user id, token and
// expiry, display data and the permissions granted. A non-nil user id is what "authorised"
// means.
//
// Made per login or per stored account; main thread only, like the user manager that keeps it.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/KeyedArchive.h"
#include "platform/Value.h"

class RAZududeAccountEntity : public platform::Archivable {
  public:
    using Text = std::optional<std::string>;

    // Every field empty, not a first authorisation.
    RAZududeAccountEntity() = default;
    // A new authorisation: the name set, the texts empty (not nil), no expiry.
    explicit RAZududeAccountEntity(std::string platformName);
    // Read back from an archive: not a first authorisation, and without the open id and the
    // union id, which are not archived.
    explicit RAZududeAccountEntity(platform::KeyedUnarchiver& coder);

    static constexpr const char* kClassName = "RAZududeAccountEntity";
    // Lets archives make accounts again; done before the accounts are first read.
    static void registerArchiveClass();
    std::string archiveClassName() const override { return kClassName; }
    void encode(platform::KeyedArchiver& coder) const override;

    const Text& platformName() const { return platformName_; }
    void setPlatformName(Text v) { platformName_ = std::move(v); }
    const Text& userName() const { return userName_; }
    void setUserName(Text v) { userName_ = std::move(v); }
    const Text& usid() const { return usid_; }
    void setUsid(Text v) { usid_ = std::move(v); }
    const Text& iconURL() const { return iconURL_; }
    void setIconURL(Text v) { iconURL_ = std::move(v); }
    const Text& accessToken() const { return accessToken_; }
    void setAccessToken(Text v) { accessToken_ = std::move(v); }
    const Text& accessSecret() const { return accessSecret_; }
    void setAccessSecret(Text v) { accessSecret_ = std::move(v); }
    const Text& profileURL() const { return profileURL_; }
    void setProfileURL(Text v) { profileURL_ = std::move(v); }
    bool isFirstOauth() const { return isFirstOauth_; }
    void setIsFirstOauth(bool v) { isFirstOauth_ = v; }
    const Text& openId() const { return openId_; }
    void setOpenId(Text v) { openId_ = std::move(v); }
    // Nothing: the token does not expire.
    const std::optional<platform::Date>& expirationDate() const { return expirationDate_; }
    void setExpirationDate(std::optional<platform::Date> v) { expirationDate_ = v; }
    const std::optional<platform::Date>& refreshDate() const { return refreshDate_; }
    void setRefreshDate(std::optional<platform::Date> v) { refreshDate_ = v; }
    const Text& refreshToken() const { return refreshToken_; }
    void setRefreshToken(Text v) { refreshToken_ = std::move(v); }
    const Text& unionId() const { return unionId_; }
    void setUnionId(Text v) { unionId_ = std::move(v); }
    const Text& appId() const { return appId_; }
    void setAppId(Text v) { appId_ = std::move(v); }
    const std::optional<std::vector<std::string>>& permissions() const { return permissions_; }
    void setPermissions(std::optional<std::vector<std::string>> v) { permissions_ = std::move(v); }
    const std::optional<std::vector<std::string>>& dePermissions() const { return dePermissions_; }
    void setDePermissions(std::optional<std::vector<std::string>> v) {
        dePermissions_ = std::move(v);
    }

    // The fields that are set, as a dictionary's text.
    std::string description() const;

  private:
    Text platformName_;
    Text userName_;
    Text usid_;
    Text iconURL_;
    Text accessToken_;
    Text accessSecret_;
    Text profileURL_;
    bool isFirstOauth_ = false;
    Text openId_;
    std::optional<platform::Date> expirationDate_;
    std::optional<platform::Date> refreshDate_;
    Text refreshToken_;
    Text unionId_;
    Text appId_;
    std::optional<std::vector<std::string>> permissions_;
    std::optional<std::vector<std::string>> dePermissions_;
};

// Platform name (or "loginAccount", "defaultAccount") to account.
using RAZududeAccountDictionary = std::map<std::string, std::shared_ptr<RAZududeAccountEntity>>;
