// A URL request: what to fetch and how. A plain value: copies are independent, except that
// a body stream is shared by the copies (it can be read only once, by whoever sends it).
//
// Any thread may build one; a connection copies the request it is given.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/Url.h"
#include "platform/Value.h"

namespace platform {

class InputStream;

// HTTP header fields in the order they were set. Names compare without regard to case; a
// field set again keeps its place and takes the new value.
class HeaderFields {
  public:
    using Field = std::pair<std::string, std::string>;

    HeaderFields() = default;
    HeaderFields(std::initializer_list<Field> fields);

    std::optional<std::string> value(std::string_view name) const;
    bool contains(std::string_view name) const { return value(name).has_value(); }
    // Replaces the value of an existing field (keeping its place and its first spelling), or
    // appends the field.
    void set(std::string_view name, std::string value);
    // Adds to an existing field as the platform does: "old,new".
    void add(std::string_view name, std::string_view value);
    void remove(std::string_view name);

    const std::vector<Field>& fields() const { return fields_; }
    std::size_t size() const { return fields_.size(); }
    bool empty() const { return fields_.empty(); }
    // As a map of name to value, for user information and descriptions.
    Map toMap() const;

    bool operator==(const HeaderFields& other) const = default;

    // Header names are ASCII tokens: they compare by ASCII letters, whatever the case.
    static bool sameName(std::string_view a, std::string_view b);

  private:
    std::vector<Field> fields_;
};

enum class UrlRequestCachePolicy : unsigned {
    kUseProtocolCachePolicy = 0,
    kReloadIgnoringLocalCacheData = 1,
    kReturnCacheDataElseLoad = 2,
    kReturnCacheDataDontLoad = 3,
};

enum class NetworkServiceType : unsigned {
    kDefault = 0,
    kVoip = 1,
    kVideo = 2,
    kBackground = 3,
    kVoice = 4,
};

class UrlRequest {
  public:
    static constexpr double kDefaultTimeoutInterval = 60.0;

    explicit UrlRequest(
        Url url, UrlRequestCachePolicy cachePolicy = UrlRequestCachePolicy::kUseProtocolCachePolicy,
        double timeoutInterval = kDefaultTimeoutInterval);

    const Url& url() const { return url_; }
    void setUrl(Url url) { url_ = std::move(url); }

    // "GET" unless set; kept as given (the wire sends it as it is).
    const std::string& httpMethod() const { return method_; }
    void setHttpMethod(std::string method) { method_ = std::move(method); }

    const HeaderFields& allHttpHeaderFields() const { return headers_; }
    void setAllHttpHeaderFields(HeaderFields headers) { headers_ = std::move(headers); }
    std::optional<std::string> valueForHttpHeaderField(std::string_view name) const {
        return headers_.value(name);
    }
    // nullopt removes the field.
    void setValue(std::optional<std::string> value, std::string_view field);
    void addValue(std::string_view value, std::string_view field) { headers_.add(field, value); }

    // The body, as bytes or as a stream; setting one clears the other.
    const std::optional<Bytes>& httpBody() const { return body_; }
    void setHttpBody(std::optional<Bytes> body);
    const std::shared_ptr<InputStream>& httpBodyStream() const { return bodyStream_; }
    void setHttpBodyStream(std::shared_ptr<InputStream> stream);

    // Seconds without progress after which the load fails with a time-out.
    double timeoutInterval() const { return timeout_; }
    void setTimeoutInterval(double seconds) { timeout_ = seconds; }

    UrlRequestCachePolicy cachePolicy() const { return cachePolicy_; }
    void setCachePolicy(UrlRequestCachePolicy policy) { cachePolicy_ = policy; }

    bool httpShouldHandleCookies() const { return handleCookies_; }
    void setHttpShouldHandleCookies(bool handle) { handleCookies_ = handle; }
    bool httpShouldUsePipelining() const { return pipelining_; }
    void setHttpShouldUsePipelining(bool pipelining) { pipelining_ = pipelining; }
    bool allowsCellularAccess() const { return cellular_; }
    void setAllowsCellularAccess(bool allows) { cellular_ = allows; }
    NetworkServiceType networkServiceType() const { return serviceType_; }
    void setNetworkServiceType(NetworkServiceType type) { serviceType_ = type; }

    // "<UrlRequest: URL>" as logs show it.
    std::string description() const;

  private:
    Url url_;
    std::string method_ = "GET";
    HeaderFields headers_;
    std::optional<Bytes> body_;
    std::shared_ptr<InputStream> bodyStream_;
    double timeout_;
    UrlRequestCachePolicy cachePolicy_;
    bool handleCookies_ = true;
    bool pipelining_ = false;
    bool cellular_ = true;
    NetworkServiceType serviceType_ = NetworkServiceType::kDefault;
};

}  // namespace platform
