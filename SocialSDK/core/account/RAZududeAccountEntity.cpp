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

platform::Value textValue(const RAZududeAccountEntity::Text& text) {
    return text ? platform::Value(*text) : platform::Value();
}

std::optional<std::vector<std::string>> decodeList(platform::KeyedUnarchiver& coder,
                                                   std::string_view key) {
    platform::Value value = coder.decodeValue(key);
    const auto* items = value.array();
    if (!items) {
        return std::nullopt;
    }
    std::vector<std::string> list;
    for (const auto& item : *items) {
        if (const auto* s = item.string()) {
            list.push_back(*s);
        }
    }
    return list;
}

platform::Value listValue(const std::vector<std::string>& list) {
    platform::Array array;
    for (const auto& s : list) {
        array.emplace_back(s);
    }
    return platform::Value(std::move(array));
}

}  // namespace

RAZududeAccountEntity::RAZududeAccountEntity(platform::KeyedUnarchiver& coder)
    : platformName_(coder.decodeString("platformName")),
      userName_(coder.decodeString("userName")),
      usid_(coder.decodeString("usid")),
      iconURL_(coder.decodeString("iconURL")),
      accessToken_(coder.decodeString("accessToken")),
      accessSecret_(coder.decodeString("accessSecret")),
      profileURL_(coder.decodeString("profileURL")),
      expirationDate_(coder.decodeDate("expirationDate")),
      refreshDate_(coder.decodeDate("refreshDate")),
      refreshToken_(coder.decodeString("refreshToken")),
      appId_(coder.decodeString("appId")),
      permissions_(decodeList(coder, "permissions")),
      dePermissions_(decodeList(coder, "dePermissions")) {}

void RAZududeAccountEntity::registerArchiveClass() {
    platform::ArchiveRegistry::shared().add<RAZududeAccountEntity>(kClassName);
}

void RAZududeAccountEntity::encode(platform::KeyedArchiver& coder) const {
    coder.encodeObject(textValue(platformName_), "platformName");
    coder.encodeObject(textValue(userName_), "userName");
    coder.encodeObject(textValue(usid_), "usid");
    coder.encodeObject(textValue(iconURL_), "iconURL");
    coder.encodeObject(textValue(accessToken_), "accessToken");
    coder.encodeObject(textValue(accessSecret_), "accessSecret");
    coder.encodeObject(textValue(profileURL_), "profileURL");
    coder.encodeObject(expirationDate_ ? platform::Value(*expirationDate_) : platform::Value(),
                       "expirationDate");
    coder.encodeObject(refreshDate_ ? platform::Value(*refreshDate_) : platform::Value(),
                       "refreshDate");
    coder.encodeObject(textValue(refreshToken_), "refreshToken");
    coder.encodeObject(textValue(appId_), "appId");
    coder.encodeObject(permissions_ ? listValue(*permissions_) : platform::Value(), "permissions");
    coder.encodeObject(dePermissions_ ? listValue(*dePermissions_) : platform::Value(),
                       "dePermissions");
}

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
