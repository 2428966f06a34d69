#include "SocialSDK/core/account/RAZududeAccountEntity.h"

RAZududeAccountEntity::RAZududeAccountEntity(std::string platformName)
    : platformName_(std::move(platformName)),
      userName_(""),
      usid_(""),
      iconURL_(""),
      accessToken_(""),
      accessSecret_(""),
      profileURL_(""),
      isFirstOauth_(true),
      refreshToken_("") {}

namespace {

platform::Value listValue(const std::vector<std::string>& list) {
    platform::Array array;
    for (const auto& s : list) {
        array.emplace_back(s);
    }
    return platform::Value(std::move(array));
}

}  // namespace

std::string RAZududeAccountEntity::description() const {
    platform::Map fields;
    auto text = [&](const char* key, const Text& value) {
        if (value) {
            fields.append(key, *value);
        }
    };
    auto date = [&](const char* key, const std::optional<platform::Date>& value) {
        if (value) {
            fields.append(key, *value);
        }
    };
    text("refreshToken", refreshToken_);
    text("platformName", platformName_);
    text("userName", userName_);
    text("usid", usid_);
    text("iconURL", iconURL_);
    text("accessToken", accessToken_);
    date("refreshDate", refreshDate_);
    text("appId", appId_);
    if (permissions_) {
        fields.append("permissions", listValue(*permissions_));
    }
    if (dePermissions_) {
        fields.append("dePermissions", listValue(*dePermissions_));
    }
    text("unionId", unionId_);
    text("profileURL", profileURL_);
    date("expirationDate", expirationDate_);
    return platform::Value(std::move(fields)).description();
}
