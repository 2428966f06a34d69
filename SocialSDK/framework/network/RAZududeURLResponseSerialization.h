// Response serializers: validate an HTTP response (status code and content type) and turn its
// body into an object: the bytes themselves, a JSON or property-list value, an image, or an
// XML parser's input.
//
// Errors come back through an out-parameter of type std::optional<platform::Error>*: nullptr
// when the caller does not want them, and then parsing after a failed validation stops (see
// responseObjectForResponse). A serializer may hand back both an object and an error (a JSON
// body of a 500 answer). No serializer throws.
//
// A serializer is configured before use and then only read, so one instance may serve several
// threads at once.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "SocialSDK/framework/network/RAZududeNetworkingText.h"
#include "platform/Error.h"
#include "platform/KeyedArchive.h"
#include "platform/Value.h"
#include "platform/graphics/Image.h"
#include "platform/net/UrlResponse.h"

inline constexpr const char* kRAZududeURLResponseSerializationErrorDomain =
    "com.razudude.error.serialization.response";
// User-information keys of validation errors: the response (its description) and the body.
inline constexpr const char* kRAZududeNetworkingOperationFailingURLResponseErrorKey =
    "com.razudude.serialization.response.error.response";
inline constexpr const char* kRAZududeNetworkingOperationFailingURLResponseDataErrorKey =
    "com.razudude.serialization.response.error.data";

// What the XML serializer returns. There is no XML parser here: this holds the body, checked
// for nothing, for a caller that brings its own parser.
class RAZududeXMLParser {
  public:
    explicit RAZududeXMLParser(platform::Bytes data) : data_(std::move(data)) {}
    const platform::Bytes& data() const { return data_; }

  private:
    platform::Bytes data_;
};

// The object a serializer makes of a body: nothing, a value (the body's bytes, or a parsed
// JSON or property-list value, null included), an image, or an XML parser.
class RAZududeResponseObject {
  public:
    RAZududeResponseObject() = default;
    RAZududeResponseObject(platform::Value value) : object_(std::move(value)) {}
    RAZududeResponseObject(platform::ImagePtr image);
    RAZududeResponseObject(std::shared_ptr<const RAZududeXMLParser> parser);

    bool isNil() const { return std::holds_alternative<std::monostate>(object_); }
    explicit operator bool() const { return !isNil(); }

    const platform::Value* value() const { return std::get_if<platform::Value>(&object_); }
    // The value's bytes, when the object is the raw body.
    const platform::Bytes* data() const;
    platform::ImagePtr image() const;
    std::shared_ptr<const RAZududeXMLParser> XMLParser() const;

    std::string description() const;

  private:
    std::variant<std::monostate, platform::Value, platform::ImagePtr,
                 std::shared_ptr<const RAZududeXMLParser>>
        object_;
};

// The error with the underlying one beneath it: either alone when the other is missing, the
// error unchanged when it has an underlying error already.
std::optional<platform::Error> RAZududeChainUnderlyingError(
    std::optional<platform::Error> error, std::optional<platform::Error> underlying);
// Whether the error, or one beneath it, has the code in the domain (by default: the response
// serializers' unacceptable content type).
bool RAZududeErrorChainHasCodeInDomain(
    const platform::Error& error, long code = platform::kUrlErrorCannotDecodeContentData,
    std::string_view domain = kRAZududeURLResponseSerializationErrorDomain);
// The JSON value with every null-valued member of every object removed, at any depth; nulls
// that are array elements stay. The reading options are taken for their mutability bit,
// which C++ values do not need.
platform::Value RAZududeRemoveNullValuesFromJSONObject(const platform::Value& object,
                                                       std::uint64_t readingOptions);

// The decoded image at the scale; nothing when the data is no image.
platform::ImagePtr RAZududeImageWithDataAtScale(const platform::Bytes& data, double scale);
// The same, drawn into a fresh bitmap when it has at most 1,048,576 pixels; a larger one is
// returned as decoded. Nothing for empty data or data that is no image.
platform::ImagePtr RAZududeInflatedImageFromResponseWithDataAtScale(
    const std::shared_ptr<const platform::UrlResponse>& response, const platform::Bytes& data,
    double scale);

// What every response serializer does.
class RAZududeURLResponseSerialization : public platform::Archivable {
  public:
    // The object for the body (nothing for a missing body), with the error, if any, in
    // *error.
    virtual RAZududeResponseObject responseObjectForResponse(
        const std::shared_ptr<const platform::UrlResponse>& response,
        const std::optional<platform::Bytes>& data,
        std::optional<platform::Error>* error) const = 0;

    // Whether responseObjectForResponse only checks the response and hands the body on as it
    // is: then it is cheap enough to run where the response arrives, without a hop to a
    // processing queue. False unless a serializer knows it of itself.
    virtual bool handsBodyOnAsIs() const { return false; }
};

// A set of status codes kept as sorted ranges, as the platform's index set keeps them: every
// operation starts with a copy of 200-299, which this makes one small allocation.
class RAZududeIndexSet {
  public:
    RAZududeIndexSet() = default;
    RAZududeIndexSet(std::initializer_list<int> codes);
    static RAZududeIndexSet range(int first, int length);

    bool contains(int code) const;
    void insert(int code);
    std::size_t size() const;
    bool empty() const { return ranges_.empty(); }
    // Every code, ascending.
    std::vector<int> codes() const;

    bool operator==(const RAZududeIndexSet&) const = default;

  private:
    std::vector<std::pair<int, int>> ranges_;  // [first, last], ascending, apart
};

// Validates and hands the body on as it is.
class RAZududeHTTPResponseSerializer : public RAZududeURLResponseSerialization {
  public:
    using StatusCodes = RAZududeIndexSet;
    using ContentTypes = std::set<std::string>;

    static std::shared_ptr<RAZududeHTTPResponseSerializer> serializer();

    // UTF-8, status codes 200 to 299, any content type.
    RAZududeHTTPResponseSerializer();
    explicit RAZududeHTTPResponseSerializer(platform::KeyedUnarchiver& coder);
    ~RAZududeHTTPResponseSerializer() override = default;

    rzs_network::StringEncoding stringEncoding() const { return stringEncoding_; }
    void setStringEncoding(rzs_network::StringEncoding encoding) { stringEncoding_ = encoding; }
    // Nothing accepts every status code.
    const std::optional<StatusCodes>& acceptableStatusCodes() const { return statusCodes_; }
    void setAcceptableStatusCodes(std::optional<StatusCodes> codes) {
        statusCodes_ = std::move(codes);
    }
    // Lower-case MIME types; nothing accepts every type.
    const std::optional<ContentTypes>& acceptableContentTypes() const { return contentTypes_; }
    void setAcceptableContentTypes(std::optional<ContentTypes> types) {
        contentTypes_ = std::move(types);
    }

    // True for a response that is not an HTTP response, or whose status code and MIME type
    // are acceptable. Otherwise false, and *error (when given) gets the status-code error
    // (-1011, over the content-type error when both failed), else the content-type error
    // (-1016, made only for a non-empty body), else nothing.
    bool validateResponse(const std::shared_ptr<const platform::UrlResponse>& response,
                          const std::optional<platform::Bytes>& data,
                          std::optional<platform::Error>* error) const;

    // True for this class itself; a subclass, which may do more, says so for itself.
    bool handsBodyOnAsIs() const override;

    // The body as it came (a bytes value), whether the response is valid or not.
    RAZududeResponseObject responseObjectForResponse(
        const std::shared_ptr<const platform::UrlResponse>& response,
        const std::optional<platform::Bytes>& data,
        std::optional<platform::Error>* error) const override;

    // A new serializer of the same class; the base carries the acceptable codes and types,
    // the subclasses only their own options (see each).
    virtual std::shared_ptr<RAZududeHTTPResponseSerializer> copy() const;

    static constexpr const char* kClassName = "RAZududeHTTPResponseSerializer";
    // Lets archives make the response serializers again.
    static void registerArchiveClasses();
    std::string archiveClassName() const override { return kClassName; }
    void encode(platform::KeyedArchiver& coder) const override;

  protected:
    // Whether a serializer that parses goes on after validation: when the response is valid,
    // or when the caller takes errors and the failure is not the content type.
    bool shouldParse(const std::shared_ptr<const platform::UrlResponse>& response,
                     const std::optional<platform::Bytes>& data,
                     std::optional<platform::Error>* error) const;

  private:
    rzs_network::StringEncoding stringEncoding_ = rzs_network::kUTF8StringEncoding;
    std::optional<StatusCodes> statusCodes_;
    std::optional<ContentTypes> contentTypes_;
};

// A subclass's archive entry: its class, then the base's.
#define RZS_RESPONSE_SERIALIZER_ARCHIVE(Name)                            \
    static constexpr const char* kClassName = #Name;                     \
    std::string archiveClassName() const override {                      \
        return kClassName;                                               \
    }                                                                    \
    std::vector<std::string> archiveSuperclassNames() const override {   \
        return {RAZududeHTTPResponseSerializer::kClassName, "NSObject"}; \
    }                                                                    \
    void encode(platform::KeyedArchiver& coder) const override;

// JSON bodies of "application/json", "text/json" and "text/javascript", read in the response's
// charset (else the serializer's encoding).
class RAZududeJSONResponseSerializer : public RAZududeHTTPResponseSerializer {
  public:
    // Reading options, numbered as the platform numbers them.
    enum ReadingOptions : std::uint64_t {
        kJSONReadingMutableContainers = 1,
        kJSONReadingMutableLeaves = 2,
        kJSONReadingAllowFragments = 4,
    };

    static std::shared_ptr<RAZududeJSONResponseSerializer> serializer();
    static std::shared_ptr<RAZududeJSONResponseSerializer> serializerWithReadingOptions(
        std::uint64_t readingOptions);

    RAZududeJSONResponseSerializer();
    explicit RAZududeJSONResponseSerializer(platform::KeyedUnarchiver& coder);

    std::uint64_t readingOptions() const { return readingOptions_; }
    void setReadingOptions(std::uint64_t options) { readingOptions_ = options; }
    bool removesKeysWithNullValues() const { return removesKeysWithNullValues_; }
    void setRemovesKeysWithNullValues(bool removes) { removesKeysWithNullValues_ = removes; }

    // The parsed value. An empty body or a single space gives nothing and no error of its
    // own; a body that does not decode in its charset gives -1016 "Data failed decoding as a
    // UTF-8 string"; text that is no JSON gives the parser's error (domain kCocoaErrorDomain,
    // 3840). Either comes over the validation error.
    RAZududeResponseObject responseObjectForResponse(
        const std::shared_ptr<const platform::UrlResponse>& response,
        const std::optional<platform::Bytes>& data,
        std::optional<platform::Error>* error) const override;

    // Carries the reading options and the null removal only.
    std::shared_ptr<RAZududeHTTPResponseSerializer> copy() const override;
    RZS_RESPONSE_SERIALIZER_ARCHIVE(RAZududeJSONResponseSerializer)

  private:
    std::uint64_t readingOptions_ = 0;
    bool removesKeysWithNullValues_ = false;
};

// "application/xml" and "text/xml" bodies, handed on unparsed in a RAZududeXMLParser.
class RAZududeXMLParserResponseSerializer : public RAZududeHTTPResponseSerializer {
  public:
    static std::shared_ptr<RAZududeXMLParserResponseSerializer> serializer();

    RAZududeXMLParserResponseSerializer();
    explicit RAZududeXMLParserResponseSerializer(platform::KeyedUnarchiver& coder);

    RAZududeResponseObject responseObjectForResponse(
        const std::shared_ptr<const platform::UrlResponse>& response,
        const std::optional<platform::Bytes>& data,
        std::optional<platform::Error>* error) const override;

    std::shared_ptr<RAZududeHTTPResponseSerializer> copy() const override;
    RZS_RESPONSE_SERIALIZER_ARCHIVE(RAZududeXMLParserResponseSerializer)
};

// "application/x-plist" bodies in any property-list form.
class RAZududePropertyListResponseSerializer : public RAZududeHTTPResponseSerializer {
  public:
    static std::shared_ptr<RAZududePropertyListResponseSerializer> serializer();
    static std::shared_ptr<RAZududePropertyListResponseSerializer> serializerWithFormat(
        std::uint64_t format, std::uint64_t readOptions);

    RAZududePropertyListResponseSerializer();
    explicit RAZududePropertyListResponseSerializer(platform::KeyedUnarchiver& coder);

    // Kept and archived; reading takes every form, whatever these say.
    std::uint64_t format() const { return format_; }
    void setFormat(std::uint64_t format) { format_ = format; }
    std::uint64_t readOptions() const { return readOptions_; }
    void setReadOptions(std::uint64_t options) { readOptions_ = options; }

    RAZududeResponseObject responseObjectForResponse(
        const std::shared_ptr<const platform::UrlResponse>& response,
        const std::optional<platform::Bytes>& data,
        std::optional<platform::Error>* error) const override;

    std::shared_ptr<RAZududeHTTPResponseSerializer> copy() const override;
    RZS_RESPONSE_SERIALIZER_ARCHIVE(RAZududePropertyListResponseSerializer)

  private:
    std::uint64_t format_ = 100;
    std::uint64_t readOptions_ = 0;
};

// Image bodies (PNG, JPEG, GIF and the other image types servers name). A body that is no
// image gives nothing and no error.
class RAZududeImageResponseSerializer : public RAZududeHTTPResponseSerializer {
  public:
    static std::shared_ptr<RAZududeImageResponseSerializer> serializer();

    RAZududeImageResponseSerializer();
    explicit RAZududeImageResponseSerializer(platform::KeyedUnarchiver& coder);

    // The main screen's scale by default.
    double imageScale() const { return imageScale_; }
    void setImageScale(double scale) { imageScale_ = scale; }
    bool automaticallyInflatesResponseImage() const { return inflates_; }
    void setAutomaticallyInflatesResponseImage(bool inflates) { inflates_ = inflates; }

    RAZududeResponseObject responseObjectForResponse(
        const std::shared_ptr<const platform::UrlResponse>& response,
        const std::optional<platform::Bytes>& data,
        std::optional<platform::Error>* error) const override;

    std::shared_ptr<RAZududeHTTPResponseSerializer> copy() const override;
    RZS_RESPONSE_SERIALIZER_ARCHIVE(RAZududeImageResponseSerializer)

  private:
    double imageScale_;
    bool inflates_ = true;
};

// Tries its serializers in order; the first that makes an object wins. Members that are not
// HTTP response serializers are skipped. When none makes one: validate and hand the body on.
class RAZududeCompoundResponseSerializer : public RAZududeHTTPResponseSerializer {
  public:
    using Serializers = std::vector<std::shared_ptr<RAZududeURLResponseSerialization>>;

    static std::shared_ptr<RAZududeCompoundResponseSerializer>
    compoundSerializerWithResponseSerializers(Serializers serializers);

    RAZududeCompoundResponseSerializer() = default;
    explicit RAZududeCompoundResponseSerializer(platform::KeyedUnarchiver& coder);

    const Serializers& responseSerializers() const { return serializers_; }
    void setResponseSerializers(Serializers serializers) { serializers_ = std::move(serializers); }

    RAZududeResponseObject responseObjectForResponse(
        const std::shared_ptr<const platform::UrlResponse>& response,
        const std::optional<platform::Bytes>& data,
        std::optional<platform::Error>* error) const override;

    // The same members (not copies of them).
    std::shared_ptr<RAZududeHTTPResponseSerializer> copy() const override;
    RZS_RESPONSE_SERIALIZER_ARCHIVE(RAZududeCompoundResponseSerializer)

  private:
    Serializers serializers_;
};

#undef RZS_RESPONSE_SERIALIZER_ARCHIVE
