// Request serializers: a method, a URL string and parameters become a URL request, with the
// serializer's default headers and request settings; parameters travel as a query string (in
// the URL or as a form body), as JSON, as a property list, or as a multipart form.
//
// A serializer is configured once, then only read: building requests is synchronous on the
// caller's thread. Requests it made are independent copies.
//
// Failures: a violated precondition is a programming error and throws std::invalid_argument
// ("Invalid parameter not satisfying: …"). Everything that depends on data (a URL string that
// is no URL, parameters that cannot be written in the chosen form or encoding, a failing query
// block) returns nothing and, when `error` is given, says why there; no request is ever made
// without the parameters it was asked to carry.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "SocialSDK/framework/network/RAZududeMultipartFormData.h"
#include "SocialSDK/framework/network/RAZududeNetworkingText.h"
#include "platform/Error.h"
#include "platform/KeyedArchive.h"
#include "platform/Url.h"
#include "platform/Value.h"
#include "platform/net/UrlRequest.h"

// One field/value pair of flattened parameters: "user[name]" and its leaf value.
class RAZududeQueryStringPair {
  public:
    // A missing field is written "(null)"; a null value means a field without a value.
    RAZududeQueryStringPair(std::optional<std::string> field, platform::Value value);

    const std::optional<std::string>& field() const { return field_; }
    const platform::Value& value() const { return value_; }

    // "field=value", both percent-escaped in the encoding (the field keeps "[", "]" literal);
    // the field alone for a null value. Nothing when the encoding cannot hold the text.
    std::optional<std::string> URLEncodedStringValueWithEncoding(
        rzs_network::StringEncoding encoding) const;

  private:
    std::optional<std::string> field_;
    platform::Value value_;
};

// Flattens parameters depth first: a map's keys in ascending byte order as "key[inner]", an
// array's elements in order as "key[]", anything else as one pair.
std::vector<RAZududeQueryStringPair> RAZududeQueryPairsForKeyAndValue(
    const std::optional<std::string>& key, const platform::Value& value);
std::vector<RAZududeQueryStringPair> RAZududeQueryStringPairsFromDictionary(
    const platform::Value& parameters);
// The escaped pairs joined with "&"; nothing when the encoding cannot hold a text.
std::optional<std::string> RAZududeQueryStringFromParametersWithEncoding(
    const platform::Value& parameters, rzs_network::StringEncoding encoding);

// The URL text both managers hand their serializer: URLString against the base URL when there
// is one. Text that is no URL gives nothing and, in `error`, the URL error "bad URL" naming it.
std::optional<std::string> RAZududeResolvedURLString(const std::optional<platform::Url>& baseURL,
                                                     const std::string& URLString,
                                                     platform::Error* error);

// What every request serializer does: complete a request with parameters.
class RAZududeURLRequestSerialization : public platform::Archivable {
  public:
    // The request with the serializer's headers and the parameters (nothing: no parameters).
    virtual std::optional<platform::UrlRequest> requestBySerializingRequest(
        const platform::UrlRequest& request, const std::optional<platform::Value>& parameters,
        platform::Error* error = nullptr) const = 0;
};

class RAZududeHTTPRequestSerializer : public RAZududeURLRequestSerialization {
  public:
    enum QueryStringSerializationStyle : std::uint64_t {
        kRAZududeHTTPRequestQueryStringDefaultStyle = 0,
    };
    // Replaces the built-in query string: gets the request as passed in and the parameters,
    // returns the query, or nothing after filling `error`.
    using QueryStringSerializationBlock = std::function<std::optional<std::string>(
        const platform::UrlRequest& request, const platform::Value& parameters,
        platform::Error& error)>;
    using ConstructingBodyBlock = std::function<void(RAZududeMultipartFormData& formData)>;
    using StreamCopyCompletionHandler = std::function<void(const std::optional<platform::Error>&)>;

    static std::shared_ptr<RAZududeHTTPRequestSerializer> serializer();

    // UTF-8, the default headers "Accept-Language" (the preferred languages) and "User-Agent"
    // (the main bundle and the device), parameters in the URL for GET, HEAD and DELETE.
    RAZududeHTTPRequestSerializer();
    // From an archive: a fresh serializer with the archived headers and style.
    explicit RAZududeHTTPRequestSerializer(platform::KeyedUnarchiver& coder);
    ~RAZududeHTTPRequestSerializer() override = default;

    rzs_network::StringEncoding stringEncoding() const { return stringEncoding_; }
    void setStringEncoding(rzs_network::StringEncoding encoding) { stringEncoding_ = encoding; }

    // Request settings that reach a request only once they have been set here; until then the
    // request keeps its own default.
    bool allowsCellularAccess() const { return allowsCellularAccess_; }
    void setAllowsCellularAccess(bool allows);
    platform::UrlRequestCachePolicy cachePolicy() const { return cachePolicy_; }
    void setCachePolicy(platform::UrlRequestCachePolicy policy);
    bool HTTPShouldHandleCookies() const { return HTTPShouldHandleCookies_; }
    void setHTTPShouldHandleCookies(bool handle);
    bool HTTPShouldUsePipelining() const { return HTTPShouldUsePipelining_; }
    void setHTTPShouldUsePipelining(bool pipelining);
    platform::NetworkServiceType networkServiceType() const { return networkServiceType_; }
    void setNetworkServiceType(platform::NetworkServiceType type);
    double timeoutInterval() const { return timeoutInterval_; }
    void setTimeoutInterval(double seconds);
    // The names of the settings above that have been set.
    const std::set<std::string>& observedChangedKeyPaths() const { return changedKeyPaths_; }

    // Default headers, copied onto every request that has no value of its own for the field.
    platform::HeaderFields HTTPRequestHeaders() const { return headers_; }
    // Nothing removes the field.
    void setValue(std::optional<std::string> value, std::string_view field);
    std::optional<std::string> valueForHTTPHeaderField(std::string_view field) const;

    // "Authorization: Basic <Base64 of user:password>" and "Token token=\"…\"".
    void setAuthorizationHeaderFieldWithUsername(std::string_view username,
                                                 std::string_view password);
    void setAuthorizationHeaderFieldWithToken(std::string_view token);
    void clearAuthorizationHeader();

    // Upper-case method names whose parameters go into the URL.
    const std::set<std::string>& HTTPMethodsEncodingParametersInURI() const {
        return methodsInURI_;
    }
    void setHTTPMethodsEncodingParametersInURI(std::set<std::string> methods) {
        methodsInURI_ = std::move(methods);
    }

    QueryStringSerializationStyle queryStringSerializationStyle() const { return style_; }
    // Sets the style and drops any block.
    void setQueryStringSerializationWithStyle(QueryStringSerializationStyle style);
    void setQueryStringSerializationWithBlock(QueryStringSerializationBlock block);

    // A request for the method and URL string, with the settings above and the parameters.
    std::optional<platform::UrlRequest> requestWithMethod(
        const std::string& method, std::string_view URLString,
        const std::optional<platform::Value>& parameters, platform::Error* error = nullptr) const;

    // A multipart request: the parameters as text parts (never in the URL), then what the
    // block adds. Throws std::invalid_argument for "GET" and "HEAD".
    std::optional<platform::UrlRequest> multipartFormRequestWithMethod(
        const std::string& method, std::string_view URLString,
        const std::optional<platform::Value>& parameters, const ConstructingBodyBlock& block,
        platform::Error* error = nullptr) const;

    // Returns the request without its body stream at once, and copies the stream into the
    // file on a background queue; the handler then runs on the main queue with the error, or
    // nothing when every byte was written. Throws std::invalid_argument when the request has
    // no body stream or the URL is not a file URL.
    platform::UrlRequest requestWithMultipartFormRequest(const platform::UrlRequest& request,
                                                         const platform::Url& fileURL,
                                                         StreamCopyCompletionHandler handler) const;

    std::optional<platform::UrlRequest> requestBySerializingRequest(
        const platform::UrlRequest& request, const std::optional<platform::Value>& parameters,
        platform::Error* error = nullptr) const override;

    // A new serializer with this one's headers, query style and block (and a subclass's
    // options); encoding, URI methods and request settings start afresh.
    virtual std::shared_ptr<RAZududeHTTPRequestSerializer> copy() const;

    static constexpr const char* kClassName = "RAZududeHTTPRequestSerializer";
    // Lets archives make the three request serializers again.
    static void registerArchiveClasses();
    std::string archiveClassName() const override { return kClassName; }
    void encode(platform::KeyedArchiver& coder) const override;

  protected:
    // The default headers onto the request, where it has no value of its own.
    void applyDefaultHeaders(platform::UrlRequest& request) const;
    // What copy() carries, into a serializer made fresh.
    void copyInto(RAZududeHTTPRequestSerializer& target) const;

  private:
    void markChanged(const char* keyPath) { changedKeyPaths_.insert(keyPath); }

    rzs_network::StringEncoding stringEncoding_ = rzs_network::kUTF8StringEncoding;
    bool allowsCellularAccess_ = false;
    platform::UrlRequestCachePolicy cachePolicy_ =
        platform::UrlRequestCachePolicy::kUseProtocolCachePolicy;
    bool HTTPShouldHandleCookies_ = false;
    bool HTTPShouldUsePipelining_ = false;
    platform::NetworkServiceType networkServiceType_ = platform::NetworkServiceType::kDefault;
    double timeoutInterval_ = 0;
    std::set<std::string> changedKeyPaths_;
    platform::HeaderFields headers_;
    std::set<std::string> methodsInURI_;
    QueryStringSerializationStyle style_ = kRAZududeHTTPRequestQueryStringDefaultStyle;
    QueryStringSerializationBlock queryStringSerialization_;
};

// Parameters as a JSON body (methods that put parameters in the URL still do).
class RAZududeJSONRequestSerializer : public RAZududeHTTPRequestSerializer {
  public:
    // Writing options, numbered as the platform numbers them.
    enum WritingOptions : std::uint64_t {
        kJSONWritingPrettyPrinted = 1,
        kJSONWritingSortedKeys = 2,
        kJSONWritingFragmentsAllowed = 4,
    };

    static std::shared_ptr<RAZududeJSONRequestSerializer> serializer();
    static std::shared_ptr<RAZududeJSONRequestSerializer> serializerWithWritingOptions(
        std::uint64_t writingOptions);

    RAZududeJSONRequestSerializer() = default;
    explicit RAZududeJSONRequestSerializer(platform::KeyedUnarchiver& coder);

    std::uint64_t writingOptions() const { return writingOptions_; }
    void setWritingOptions(std::uint64_t options) { writingOptions_ = options; }

    // "Content-Type: application/json" unless the request has one. Parameters that JSON
    // cannot hold give nothing and the writer's error.
    std::optional<platform::UrlRequest> requestBySerializingRequest(
        const platform::UrlRequest& request, const std::optional<platform::Value>& parameters,
        platform::Error* error = nullptr) const override;

    std::shared_ptr<RAZududeHTTPRequestSerializer> copy() const override;

    static constexpr const char* kClassName = "RAZududeJSONRequestSerializer";
    std::string archiveClassName() const override { return kClassName; }
    std::vector<std::string> archiveSuperclassNames() const override {
        return {RAZududeHTTPRequestSerializer::kClassName, "NSObject"};
    }
    void encode(platform::KeyedArchiver& coder) const override;

  private:
    std::uint64_t writingOptions_ = 0;
};

// Parameters as a property-list body.
class RAZududePropertyListRequestSerializer : public RAZududeHTTPRequestSerializer {
  public:
    // Formats, numbered as the platform numbers them.
    enum Format : std::uint64_t {
        kPropertyListOpenStepFormat = 1,  // read only: writing it fails
        kPropertyListXMLFormat = 100,
        kPropertyListBinaryFormat = 200,
    };

    static std::shared_ptr<RAZududePropertyListRequestSerializer> serializer();
    static std::shared_ptr<RAZududePropertyListRequestSerializer> serializerWithFormat(
        std::uint64_t format, std::uint64_t writeOptions);

    RAZududePropertyListRequestSerializer() = default;
    explicit RAZududePropertyListRequestSerializer(platform::KeyedUnarchiver& coder);

    std::uint64_t format() const { return format_; }
    void setFormat(std::uint64_t format) { format_ = format; }
    // Kept and archived; the writer has no options.
    std::uint64_t writeOptions() const { return writeOptions_; }
    void setWriteOptions(std::uint64_t options) { writeOptions_ = options; }

    // "Content-Type: application/x-plist" unless the request has one. Parameters that a
    // property list cannot hold (a null anywhere) give nothing and the writer's error.
    std::optional<platform::UrlRequest> requestBySerializingRequest(
        const platform::UrlRequest& request, const std::optional<platform::Value>& parameters,
        platform::Error* error = nullptr) const override;

    std::shared_ptr<RAZududeHTTPRequestSerializer> copy() const override;

    static constexpr const char* kClassName = "RAZududePropertyListRequestSerializer";
    std::string archiveClassName() const override { return kClassName; }
    std::vector<std::string> archiveSuperclassNames() const override {
        return {RAZududeHTTPRequestSerializer::kClassName, "NSObject"};
    }
    void encode(platform::KeyedArchiver& coder) const override;

  private:
    std::uint64_t format_ = kPropertyListXMLFormat;
    std::uint64_t writeOptions_ = 0;
};
