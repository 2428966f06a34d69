// The share service's protocol settings (versions, the first-use flag, the base URL) and the
// base parameters that every request carries: device identity, versions, a timestamp, the
// AppKey, the entity key and the user id. RZSBaseEntity is the short-lived record that the
// protocol fills and prints for each set of base parameters.
//
// The base URL comes from the main bundle's property list "SocialSDK-config" (key
// "baseURL"), read once when the shared protocol is made; without that resource, or without
// that key, it is the vendor's share-service address. It always ends in "/".
//
// Main thread only; the shared instance is made on first use and kept for the process.
#pragma once

#include <optional>
#include <string>

#include "platform/NoDestructor.h"
#include "platform/Value.h"

class RZSBaseEntity {
  public:
    // Takes the device part (with its own timestamp) now.
    RZSBaseEntity();

    std::optional<std::string> type;        // "tp"
    std::optional<std::string> entityKey;   // "ek"
    std::optional<std::string> uid;         // "uid"
    std::optional<std::string> appkey;      // "ak"
    std::optional<std::string> cuid;        // "cuid", the query only
    std::optional<std::string> wid;         // "wid", the dictionary only
    std::optional<std::string> sdkVersion;  // "sdkv" of the query

    // The device part and then the set fields, as a query without escapes.
    std::string toString() const;
    // The device part (with "sdkv") and then the set fields.
    platform::Map toDictionary() const;

  private:
    platform::Map baseDic_;
    std::string baseString_;
};

class RZSProtocol {
  public:
    static constexpr const char* kConfigResource = "SocialSDK-config";
    static constexpr const char* kDefaultBaseURL = "http://share.razudude.com/";

    static RZSProtocol& sharedInstance();

    RZSProtocol(const RZSProtocol&) = delete;
    RZSProtocol& operator=(const RZSProtocol&) = delete;

    const std::string& protocolVersionStr() const { return protocolVersionStr_; }
    const std::string& sdkVersionStr() const { return sdkVersionStr_; }
    const std::string& baseURL() const { return baseURL_; }
    const std::string& typeString() const { return typeString_; }

    // "1" until it is read while the user has a uid; "0" from then on.
    std::string firstUse() { return getFirstUseFromUserDefault(); }
    std::string getFirstUseFromUserDefault();

    // One-shot extras: each goes into the next base parameters of its form and is cleared.
    const std::optional<std::string>& wid() const { return wid_; }
    void setWid(std::optional<std::string> v) { wid_ = std::move(v); }
    const std::optional<std::string>& cuid() const { return cuid_; }
    void setCuid(std::optional<std::string> v) { cuid_ = std::move(v); }

    // The base parameters as a query (GET kinds) and as a dictionary (POST bodies); each call
    // takes a fresh timestamp.
    std::string baseString();
    platform::Map baseDictionary();

    // Type, entity key ("-1" without one), uid, AppKey and SDK version, as they stand now.
    void setBaseEntity(RZSBaseEntity& entity) const;

    // The base URL a "SocialSDK-config" value stands for: a URL without a path gets "/".
    static std::string normalizedBaseURL(const std::string& configured);

  private:
    friend class platform::NoDestructor<RZSProtocol>;
    RZSProtocol();

    std::string protocolVersionStr_ = "2.0";
    std::string sdkVersionStr_ = "5.2";
    std::string firstUse_ = "1";
    std::string baseURL_;
    std::string typeString_ = "0";
    std::optional<std::string> wid_;
    std::optional<std::string> cuid_;
};
