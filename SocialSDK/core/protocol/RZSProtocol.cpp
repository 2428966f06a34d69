#include "SocialSDK/core/protocol/RZSProtocol.h"

#include <cmath>

#include "RZBase_Source/Encode/RAZududeUtils.h"
#include "SocialSDK/core/device/RAZududeProtocolData.h"
#include "SocialSDK/core/manager/RZSDataManager.h"
#include "SocialSDK/core/manager/RZSUserManager.h"
#include "platform/Bundle.h"
#include "platform/Format.h"
#include "platform/Log.h"
#include "platform/NoDestructor.h"
#include "platform/PropertyList.h"
#include "platform/Url.h"

// ---- RZSBaseEntity ---------------------------------------------------------------------

RZSBaseEntity::RZSBaseEntity() {
    const std::string mac = platform::format("%@", RAZududeProtocolData::deviceMacString());
    const std::string udid = RAZududeProtocolData::deviceUDIDString();
    const std::string access = RAZududeProtocolData::accessString();
    const std::string model = RAZududeProtocolData::deviceModelString();
    const std::string os = RAZududeProtocolData::osString();
    const auto millis =
        static_cast<long long>(std::floor(platform::Date::now().timeIntervalSince1970()) * 1000);
    const std::string time = platform::format("%lld", millis);

    baseString_ =
        platform::format("%@=%@&%@=%@&%@=%@&%@=%@&%@=%@&%@=%@&%@=%@", "mac", mac, "deviceudid",
                         udid, "pcv", "2.0", "en", access, "de", model, "os", os, "dt", time);
    baseDic_.set("mac", mac);
    baseDic_.set("deviceudid", udid);
    baseDic_.set("pcv", "2.0");
    baseDic_.set("en", access);
    baseDic_.set("de", model);
    baseDic_.set("os", os);
    baseDic_.set("dt", time);
    baseDic_.set("sdkv", "5.2");
}

std::string RZSBaseEntity::toString() const {
    std::string query = platform::format("%@&%@=%@&%@=%@", baseString_, "tp", type, "ak", appkey);
    auto pair = [&query](const char* key, const std::optional<std::string>& value) {
        if (value) {
            query += platform::format("&%@=%@", key, *value);
        }
    };
    pair("ek", entityKey);
    pair("uid", uid);
    pair("cuid", cuid);
    pair("sdkv", sdkVersion);
    return query;
}

platform::Map RZSBaseEntity::toDictionary() const {
    platform::Map dictionary = baseDic_;
    auto pair = [&dictionary](const char* key, const std::optional<std::string>& value) {
        if (value) {
            dictionary.set(key, *value);
        }
    };
    pair("tp", type);
    pair("uid", uid);
    pair("ek", entityKey);
    pair("ak", appkey);
    pair("wid", wid);
    return dictionary;
}

// ---- RZSProtocol -----------------------------------------------------------------------

RZSProtocol::RZSProtocol() {
    baseURL_ = kDefaultBaseURL;
    auto path = platform::Bundle::mainBundle().pathForResource(kConfigResource, "plist");
    if (!path) {
        return;
    }
    std::optional<platform::Value> config = platform::PropertyList::readFile(*path);
    const std::string* configured = config ? (*config)["baseURL"].string() : nullptr;
    if (configured && platform::Url::parse(*configured)) {
        baseURL_ = normalizedBaseURL(*configured);
    } else {
        // The default keeps requests going somewhere sensible rather than to a broken URL.
        platform::consoleLog("RAZudude: SocialSDK-config has no usable \"baseURL\"; using %@",
                             baseURL_);
    }
}

RZSProtocol& RZSProtocol::sharedInstance() {
    static platform::NoDestructor<RZSProtocol> instance;
    return *instance;
}

std::string RZSProtocol::normalizedBaseURL(const std::string& configured) {
    auto url = platform::Url::parse(configured);
    if (url && url->path().empty() && !configured.ends_with('/')) {
        return configured + "/";
    }
    return configured;
}

std::string RZSProtocol::getFirstUseFromUserDefault() {
    if (firstUse_ == "1" && RZSUserManager::shareInstance().uid()) {
        firstUse_ = "0";
    }
    return firstUse_;
}

void RZSProtocol::setBaseEntity(RZSBaseEntity& entity) const {
    entity.wid.reset();
    entity.type = typeString_;
    auto key = RZSDataManager::currentDataManager()->barEntity()->entityKey();
    entity.entityKey = key ? *key : std::string("-1");
    entity.uid = RZSUserManager::shareInstance().uid();
    entity.appkey = RZSDataManagerSet::shareInstance().appkey();
    entity.sdkVersion = sdkVersionStr_;
}

std::string RZSProtocol::baseString() {
    RZSBaseEntity entity;
    setBaseEntity(entity);
    if (cuid_) {
        entity.cuid = std::exchange(cuid_, std::nullopt);
    }
    return entity.toString();
}

platform::Map RZSProtocol::baseDictionary() {
    RZSBaseEntity entity;
    setBaseEntity(entity);
    if (wid_) {
        entity.wid = std::exchange(wid_, std::nullopt);
    }
    return entity.toDictionary();
}
