#include "platform/net/UrlSessionConfiguration.h"

#include <cmath>
#include <mutex>

namespace platform {

namespace {

constexpr const char* kEphemeralKey = "ephemeral";
constexpr const char* kCachePolicyKey = "requestCachePolicy";
constexpr const char* kRequestTimeoutKey = "timeoutIntervalForRequest";
constexpr const char* kAdditionalHeadersKey = "HTTPAdditionalHeaders";
constexpr const char* kSetCookiesKey = "HTTPShouldSetCookies";
constexpr const char* kPipeliningKey = "HTTPShouldUsePipelining";
constexpr const char* kCellularKey = "allowsCellularAccess";
constexpr const char* kServiceTypeKey = "networkServiceType";
constexpr const char* kMaximumBodyKey = "maximumBodyBytesInMemory";

}  // namespace

UrlSessionConfiguration UrlSessionConfiguration::defaultSessionConfiguration() {
    return UrlSessionConfiguration();
}

UrlSessionConfiguration UrlSessionConfiguration::ephemeralSessionConfiguration() {
    UrlSessionConfiguration configuration;
    configuration.ephemeral_ = true;
    return configuration;
}

UrlSessionConfiguration::UrlSessionConfiguration(KeyedUnarchiver& coder) {
    ephemeral_ = coder.decodeBool(kEphemeralKey);
    const int policy = coder.decodeInt(kCachePolicyKey);
    const int service = coder.decodeInt(kServiceTypeKey);
    if (policy < 0 || policy > static_cast<int>(UrlRequestCachePolicy::kReturnCacheDataDontLoad) ||
        service < 0 || service > static_cast<int>(NetworkServiceType::kVoice)) {
        coder.failWithMessage(
            "UrlSessionConfiguration: a cache policy or service type out of range");
        return;
    }
    cachePolicy_ = static_cast<UrlRequestCachePolicy>(policy);
    serviceType_ = static_cast<NetworkServiceType>(service);
    if (coder.containsValue(kRequestTimeoutKey)) {
        requestTimeout_ = coder.decodeDouble(kRequestTimeoutKey);
        if (std::isnan(requestTimeout_)) {
            coder.failWithMessage("UrlSessionConfiguration: the request time-out is not a number");
            return;
        }
    }
    const Value headers = coder.decodeValue(kAdditionalHeadersKey);
    if (!headers.isNull() && !headers.isMap()) {
        coder.failWithMessage("UrlSessionConfiguration: the additional headers are not a map");
        return;
    }
    if (const Map* map = headers.map()) {
        for (const auto& [name, value] : *map) {
            if (!value.isString()) {
                coder.failWithMessage("UrlSessionConfiguration: a header value is not text");
                return;
            }
            additionalHeaders_.set(name, *value.string());
        }
    }
    setCookies_ = coder.containsValue(kSetCookiesKey) ? coder.decodeBool(kSetCookiesKey) : true;
    pipelining_ = coder.decodeBool(kPipeliningKey);
    cellular_ = coder.containsValue(kCellularKey) ? coder.decodeBool(kCellularKey) : true;
    if (coder.containsValue(kMaximumBodyKey)) {
        const std::int64_t most = coder.decodeInt64(kMaximumBodyKey);
        if (most < 0) {
            coder.failWithMessage("UrlSessionConfiguration: the body ceiling is negative");
            return;
        }
        maximumBodyBytesInMemory_ = static_cast<std::size_t>(most);
    }
}

void UrlSessionConfiguration::registerArchiveClass() {
    static std::once_flag once;
    std::call_once(
        once, [] { ArchiveRegistry::shared().add<UrlSessionConfiguration>(kArchiveClassName); });
}

void UrlSessionConfiguration::encode(KeyedArchiver& coder) const {
    coder.encodeBool(ephemeral_, kEphemeralKey);
    coder.encodeInt(static_cast<int>(cachePolicy_), kCachePolicyKey);
    coder.encodeDouble(requestTimeout_, kRequestTimeoutKey);
    coder.encodeObject(Value(additionalHeaders_.toMap()), kAdditionalHeadersKey);
    coder.encodeBool(setCookies_, kSetCookiesKey);
    coder.encodeBool(pipelining_, kPipeliningKey);
    coder.encodeBool(cellular_, kCellularKey);
    coder.encodeInt(static_cast<int>(serviceType_), kServiceTypeKey);
    coder.encodeInt64(static_cast<std::int64_t>(maximumBodyBytesInMemory_), kMaximumBodyKey);
}

UrlRequest UrlSessionConfiguration::applyTo(UrlRequest request) const {
    if (request.timeoutInterval() == UrlRequest::kDefaultTimeoutInterval) {
        request.setTimeoutInterval(requestTimeout_);
    }
    for (const auto& [name, value] : additionalHeaders_.fields()) {
        if (!request.allHttpHeaderFields().contains(name)) {
            request.setValue(value, name);
        }
    }
    if (!setCookies_) {
        request.setHttpShouldHandleCookies(false);
    }
    if (request.cachePolicy() == UrlRequestCachePolicy::kUseProtocolCachePolicy) {
        request.setCachePolicy(cachePolicy_);
    }
    if (request.networkServiceType() == NetworkServiceType::kDefault) {
        request.setNetworkServiceType(serviceType_);
    }
    request.setAllowsCellularAccess(request.allowsCellularAccess() && cellular_);
    request.setHttpShouldUsePipelining(request.httpShouldUsePipelining() || pipelining_);
    return request;
}

bool UrlSessionConfiguration::operator==(const UrlSessionConfiguration& other) const {
    return identifier_ == other.identifier_ && ephemeral_ == other.ephemeral_ &&
           cachePolicy_ == other.cachePolicy_ && requestTimeout_ == other.requestTimeout_ &&
           additionalHeaders_ == other.additionalHeaders_ && setCookies_ == other.setCookies_ &&
           pipelining_ == other.pipelining_ && cellular_ == other.cellular_ &&
           serviceType_ == other.serviceType_ &&
           maximumBodyBytesInMemory_ == other.maximumBodyBytesInMemory_;
}

}  // namespace platform
