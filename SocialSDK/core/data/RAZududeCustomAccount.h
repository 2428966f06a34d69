// An account the app defines for the share service, sent with the custom-account request.
//
// A value made by the app on the main thread and handed to the user manager there.
#pragma once

#include <optional>
#include <string>

#include "platform/Value.h"

class RAZududeCustomAccount {
  public:
    RAZududeCustomAccount() = default;
    explicit RAZududeCustomAccount(std::string userName) : userName_(std::move(userName)) {}

    const std::optional<std::string>& userName() const { return userName_; }
    void setUserName(std::optional<std::string> v) { userName_ = std::move(v); }
    const std::optional<std::string>& usid() const { return usid_; }
    void setUsid(std::optional<std::string> v) { usid_ = std::move(v); }
    const std::optional<std::string>& gender() const { return gender_; }
    void setGender(std::optional<std::string> v) { gender_ = std::move(v); }
    const std::optional<platform::Date>& birthday() const { return birthday_; }
    void setBirthday(std::optional<platform::Date> v) { birthday_ = v; }
    const std::optional<std::string>& profileUrl() const { return profileUrl_; }
    void setProfileUrl(std::optional<std::string> v) { profileUrl_ = std::move(v); }
    const std::optional<std::string>& iconUrl() const { return iconUrl_; }
    void setIconUrl(std::optional<std::string> v) { iconUrl_ = std::move(v); }
    const std::optional<platform::Map>& customData() const { return customData_; }
    void setCustomData(std::optional<platform::Map> v) { customData_ = std::move(v); }

  private:
    std::optional<std::string> userName_;
    std::optional<std::string> usid_;
    std::optional<std::string> gender_;
    std::optional<platform::Date> birthday_;
    std::optional<std::string> profileUrl_;
    std::optional<std::string> iconUrl_;
    std::optional<platform::Map> customData_;
};
