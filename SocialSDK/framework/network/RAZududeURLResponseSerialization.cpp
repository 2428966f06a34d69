#include "SocialSDK/framework/network/RAZududeURLResponseSerialization.h"

#include <algorithm>
#include <cstring>
#include <typeinfo>

#include "RZBase_Source/Json/RAZududeRqJsonParser.h"
#include "platform/Device.h"
#include "platform/PropertyList.h"

namespace {

// The platform's code and text for data that is not JSON.
constexpr long kJsonReadCorruptError = 3840;

platform::Value statusCodesValue(const std::optional<RAZududeIndexSet>& codes) {
    if (!codes) {
        return {};
    }
    platform::Array array;
    array.reserve(codes->size());
    for (int code : codes->codes()) {
        array.emplace_back(code);
    }
    return platform::Value(std::move(array));
}

platform::Value contentTypesValue(const std::optional<std::set<std::string>>& types) {
    if (!types) {
        return {};
    }
    platform::Array array;
    array.reserve(types->size());
    for (const std::string& type : *types) {
        array.emplace_back(type);
    }
    return platform::Value(std::move(array));
}

// Index sets and sets are archived as arrays of their members, in order.
std::optional<RAZududeIndexSet> decodeStatusCodes(platform::KeyedUnarchiver& coder) {
    const platform::Value value = coder.decodeValue("acceptableStatusCodes");
    if (value.isNull()) {
        return std::nullopt;
    }
    RAZududeIndexSet codes;
    if (const platform::Array* array = value.array()) {
        for (const platform::Value& item : *array) {
            if (!item.isInteger()) {
                coder.failWithMessage("acceptableStatusCodes holds something that is no code");
                return std::nullopt;
            }
            codes.insert(item.intValue());
        }
        return codes;
    }
    coder.failWithMessage("acceptableStatusCodes is not an index set");
    return std::nullopt;
}

std::optional<std::set<std::string>> decodeContentTypes(platform::KeyedUnarchiver& coder) {
    const platform::Value value = coder.decodeValue("acceptableContentTypes");
    if (value.isNull()) {
        return std::nullopt;
    }
    std::set<std::string> types;
    if (const platform::Array* array = value.array()) {
        for (const platform::Value& item : *array) {
            if (!item.isString()) {
                coder.failWithMessage("acceptableContentTypes holds something that is no type");
                return std::nullopt;
            }
            types.insert(*item.string());
        }
        return types;
    }
    coder.failWithMessage("acceptableContentTypes is not a set");
    return std::nullopt;
}

RAZududeIndexSet successfulStatusCodes() {
    return RAZududeIndexSet::range(200, 100);
}

platform::Map validationUserInfo(const platform::UrlResponse& response,
                                 const std::optional<platform::Bytes>& data,
                                 std::string description) {
    platform::Map userInfo{
        {platform::kLocalizedDescriptionKey, std::move(description)},
        {platform::kUrlErrorFailingUrlErrorKey, response.url().absoluteString()},
        {kRAZududeNetworkingOperationFailingURLResponseErrorKey, response.description()},
    };
    if (data) {
        userInfo.set(kRAZududeNetworkingOperationFailingURLResponseDataErrorKey, *data);
    }
    return userInfo;
}

void chainInto(std::optional<platform::Error>* error, std::optional<platform::Error> made) {
    if (error) {
        *error = RAZududeChainUnderlyingError(std::move(made), std::move(*error));
    }
}

}  // namespace

// Response objects

RAZududeResponseObject::RAZududeResponseObject(platform::ImagePtr image) {
    if (image) {
        object_ = std::move(image);
    }
}

RAZududeResponseObject::RAZududeResponseObject(std::shared_ptr<const RAZududeXMLParser> parser) {
    if (parser) {
        object_ = std::move(parser);
    }
}

const platform::Bytes* RAZududeResponseObject::data() const {
    const platform::Value* v = value();
    return v ? v->bytes() : nullptr;
}

platform::ImagePtr RAZududeResponseObject::image() const {
    const auto* image = std::get_if<platform::ImagePtr>(&object_);
    return image ? *image : nullptr;
}

std::shared_ptr<const RAZududeXMLParser> RAZududeResponseObject::XMLParser() const {
    const auto* parser = std::get_if<std::shared_ptr<const RAZududeXMLParser>>(&object_);
    return parser ? *parser : nullptr;
}

std::string RAZududeResponseObject::description() const {
    if (const platform::Value* v = value()) {
        return v->description();
    }
    if (const platform::ImagePtr i = image()) {
        return "<Image: " + std::to_string(i->pixelWidth()) + "x" +
               std::to_string(i->pixelHeight()) + ">";
    }
    if (const auto parser = XMLParser()) {
        return "<XMLParser: " + std::to_string(parser->data().size()) + " bytes>";
    }
    return "(null)";
}

// Error chains

std::optional<platform::Error> RAZududeChainUnderlyingError(
    std::optional<platform::Error> error, std::optional<platform::Error> underlying) {
    if (!error) {
        return underlying;
    }
    if (!underlying || error->underlyingError()) {
        return error;
    }
    platform::Error chained(error->domain(), error->code(), error->userInfo());
    chained.setUnderlyingError(std::move(*underlying));
    return chained;
}

bool RAZududeErrorChainHasCodeInDomain(const platform::Error& error, long code,
                                       std::string_view domain) {
    for (const platform::Error* e = &error; e; e = e->underlyingError().get()) {
        if (e->code() == code && e->domain() == domain) {
            return true;
        }
    }
    return false;
}

platform::Value RAZududeRemoveNullValuesFromJSONObject(const platform::Value& object,
                                                       std::uint64_t readingOptions) {
    if (const platform::Array* array = object.array()) {
        platform::Array cleaned;
        cleaned.reserve(array->size());
        for (const platform::Value& item : *array) {
            cleaned.push_back(RAZududeRemoveNullValuesFromJSONObject(item, readingOptions));
        }
        return platform::Value(std::move(cleaned));
    }
    if (const platform::Map* map = object.map()) {
        platform::Map cleaned;
        for (const auto& [key, value] : *map) {
            if (value.isNull()) {
                continue;
            }
            cleaned.append(key, value.isArray() || value.isMap()
                                    ? RAZududeRemoveNullValuesFromJSONObject(value, readingOptions)
                                    : value);
        }
        return platform::Value(std::move(cleaned));
    }
    return object;
}

// Images

platform::ImagePtr RAZududeImageWithDataAtScale(const platform::Bytes& data, double scale) {
    return platform::Image::decode(data, scale);
}

// Decoding here is eager, so "inflating" cannot move work off the drawing path as it would
// for a lazily decoded image; it still gives a small image a bitmap of its own, and leaves a
// large one (over 1024 x 1024 pixels) as decoded rather than hold two copies of it.
platform::ImagePtr RAZududeInflatedImageFromResponseWithDataAtScale(
    const std::shared_ptr<const platform::UrlResponse>&, const platform::Bytes& data,
    double scale) {
    if (data.empty()) {
        return nullptr;
    }
    platform::ImagePtr image = RAZududeImageWithDataAtScale(data, scale);
    if (!image) {
        return nullptr;
    }
    constexpr std::uint64_t kMaxInflatedPixels = 1024 * 1024;
    const auto pixels = static_cast<std::uint64_t>(image->pixelWidth()) *
                        static_cast<std::uint64_t>(image->pixelHeight());
    if (pixels > kMaxInflatedPixels || pixels == 0) {
        return image;
    }
    auto inflated =
        std::make_shared<platform::Image>(image->pixelWidth(), image->pixelHeight(), scale);
    std::memcpy(
        inflated->mutableData(), image->data(),
        static_cast<std::size_t>(image->stride()) * static_cast<std::size_t>(image->pixelHeight()));
    return inflated;
}

// RAZududeHTTPResponseSerializer

std::shared_ptr<RAZududeHTTPResponseSerializer> RAZududeHTTPResponseSerializer::serializer() {
    return std::make_shared<RAZududeHTTPResponseSerializer>();
}

RAZududeIndexSet::RAZududeIndexSet(std::initializer_list<int> codes) {
    for (int code : codes) {
        insert(code);
    }
}

RAZududeIndexSet RAZududeIndexSet::range(int first, int length) {
    RAZududeIndexSet set;
    if (length > 0) {
        set.ranges_.emplace_back(first, first + length - 1);
    }
    return set;
}

bool RAZududeIndexSet::contains(int code) const {
    const auto it = std::lower_bound(ranges_.begin(), ranges_.end(), code,
                                     [](const auto& range, int c) { return range.second < c; });
    return it != ranges_.end() && it->first <= code;
}

void RAZududeIndexSet::insert(int code) {
    auto it = std::lower_bound(ranges_.begin(), ranges_.end(), code,
                               [](const auto& range, int c) { return range.second < c - 1; });
    if (it == ranges_.end() || it->first > code + 1) {
        ranges_.insert(it, {code, code});
        return;
    }
    it->first = std::min(it->first, code);
    it->second = std::max(it->second, code);
    // The grown range may now touch the next one.
    const auto next = std::next(it);
    if (next != ranges_.end() && next->first <= it->second + 1) {
        it->second = std::max(it->second, next->second);
        ranges_.erase(next);
    }
}

std::size_t RAZududeIndexSet::size() const {
    std::size_t count = 0;
    for (const auto& [first, last] : ranges_) {
        count += static_cast<std::size_t>(last - first) + 1;
    }
    return count;
}

std::vector<int> RAZududeIndexSet::codes() const {
    std::vector<int> out;
    out.reserve(size());
    for (const auto& [first, last] : ranges_) {
        for (int code = first; code <= last; ++code) {
            out.push_back(code);
        }
    }
    return out;
}

RAZududeHTTPResponseSerializer::RAZududeHTTPResponseSerializer()
    : statusCodes_(successfulStatusCodes()) {}

RAZududeHTTPResponseSerializer::RAZududeHTTPResponseSerializer(platform::KeyedUnarchiver& coder)
    : RAZududeHTTPResponseSerializer() {
    statusCodes_ = decodeStatusCodes(coder);
    contentTypes_ = decodeContentTypes(coder);
}

bool RAZududeHTTPResponseSerializer::validateResponse(
    const std::shared_ptr<const platform::UrlResponse>& response,
    const std::optional<platform::Bytes>& data, std::optional<platform::Error>* error) const {
    const auto* http = dynamic_cast<const platform::HttpUrlResponse*>(response.get());
    if (!http) {
        return true;
    }
    bool valid = true;
    std::optional<platform::Error> validationError;
    if (contentTypes_ && !contentTypes_->contains(http->mimeType())) {
        if (data && !data->empty()) {
            const std::string mimeType = http->mimeType().empty() ? "(null)" : http->mimeType();
            validationError = platform::Error(
                kRAZududeURLResponseSerializationErrorDomain,
                platform::kUrlErrorCannotDecodeContentData,
                validationUserInfo(
                    *http, data,
                    rzs_network::fillFormat(rzs_network::localizedString(
                                                "Request failed: unacceptable content-type: %@"),
                                            {mimeType})));
        }
        valid = false;
    }
    if (statusCodes_ && !statusCodes_->contains(http->statusCode())) {
        const std::string status = std::to_string(http->statusCode());
        platform::Error statusError(
            kRAZududeURLResponseSerializationErrorDomain, platform::kUrlErrorBadServerResponse,
            validationUserInfo(
                *http, data,
                rzs_network::fillFormat(
                    rzs_network::localizedString("Request failed: %@ (%ld)"),
                    {platform::HttpUrlResponse::localizedStringForStatusCode(http->statusCode()),
                     status})));
        validationError = RAZududeChainUnderlyingError(std::move(statusError), validationError);
        valid = false;
    }
    if (!valid && error) {
        *error = std::move(validationError);
    }
    return valid;
}

bool RAZududeHTTPResponseSerializer::shouldParse(
    const std::shared_ptr<const platform::UrlResponse>& response,
    const std::optional<platform::Bytes>& data, std::optional<platform::Error>* error) const {
    if (validateResponse(response, data, error)) {
        return true;
    }
    return error && !(*error && RAZududeErrorChainHasCodeInDomain(**error));
}

bool RAZududeHTTPResponseSerializer::handsBodyOnAsIs() const {
    return typeid(*this) == typeid(RAZududeHTTPResponseSerializer);
}

RAZududeResponseObject RAZududeHTTPResponseSerializer::responseObjectForResponse(
    const std::shared_ptr<const platform::UrlResponse>& response,
    const std::optional<platform::Bytes>& data, std::optional<platform::Error>* error) const {
    validateResponse(response, data, error);
    return data ? RAZududeResponseObject(platform::Value(*data)) : RAZududeResponseObject();
}

std::shared_ptr<RAZududeHTTPResponseSerializer> RAZududeHTTPResponseSerializer::copy() const {
    auto serializer = std::make_shared<RAZududeHTTPResponseSerializer>();
    serializer->statusCodes_ = statusCodes_;
    serializer->contentTypes_ = contentTypes_;
    return serializer;
}

void RAZududeHTTPResponseSerializer::registerArchiveClasses() {
    auto& registry = platform::ArchiveRegistry::shared();
    registry.add<RAZududeHTTPResponseSerializer>(RAZududeHTTPResponseSerializer::kClassName);
    registry.add<RAZududeJSONResponseSerializer>(RAZududeJSONResponseSerializer::kClassName);
    registry.add<RAZududeXMLParserResponseSerializer>(
        RAZududeXMLParserResponseSerializer::kClassName);
    registry.add<RAZududePropertyListResponseSerializer>(
        RAZududePropertyListResponseSerializer::kClassName);
    registry.add<RAZududeImageResponseSerializer>(RAZududeImageResponseSerializer::kClassName);
    registry.add<RAZududeCompoundResponseSerializer>(
        RAZududeCompoundResponseSerializer::kClassName);
}

void RAZududeHTTPResponseSerializer::encode(platform::KeyedArchiver& coder) const {
    coder.encodeObject(statusCodesValue(statusCodes_), "acceptableStatusCodes");
    coder.encodeObject(contentTypesValue(contentTypes_), "acceptableContentTypes");
}

// RAZududeJSONResponseSerializer

std::shared_ptr<RAZududeJSONResponseSerializer> RAZududeJSONResponseSerializer::serializer() {
    return serializerWithReadingOptions(0);
}

std::shared_ptr<RAZududeJSONResponseSerializer>
RAZududeJSONResponseSerializer::serializerWithReadingOptions(std::uint64_t readingOptions) {
    auto serializer = std::make_shared<RAZududeJSONResponseSerializer>();
    serializer->setReadingOptions(readingOptions);
    return serializer;
}

RAZududeJSONResponseSerializer::RAZududeJSONResponseSerializer() {
    setAcceptableContentTypes(ContentTypes{"application/json", "text/json", "text/javascript"});
}

RAZududeJSONResponseSerializer::RAZududeJSONResponseSerializer(platform::KeyedUnarchiver& coder)
    : RAZududeHTTPResponseSerializer(coder),
      readingOptions_(
          static_cast<std::uint64_t>(coder.decodeValue("readingOptions").integerValue())),
      removesKeysWithNullValues_(coder.decodeValue("removesKeysWithNullValues").boolValue()) {}

RAZududeResponseObject RAZududeJSONResponseSerializer::responseObjectForResponse(
    const std::shared_ptr<const platform::UrlResponse>& response,
    const std::optional<platform::Bytes>& data, std::optional<platform::Error>* error) const {
    if (!shouldParse(response, data, error) || !data) {
        return {};
    }
    const std::optional<std::string>& charset =
        response ? response->textEncodingName() : std::optional<std::string>();
    const bool byCharset = charset && rzs_network::isKnownCharset(*charset);
    const std::optional<std::string> text = byCharset
                                                ? rzs_network::decodeText(*data, *charset)
                                                : rzs_network::decodeText(*data, stringEncoding());
    if (!text) {
        // A body that does not decode is a failure, not an empty answer.
        const std::string lossy =
            rzs_network::decodeTextLossily(*data, byCharset ? *charset : "UTF-8");
        chainInto(
            error,
            platform::Error(
                kRAZududeURLResponseSerializationErrorDomain,
                platform::kUrlErrorCannotDecodeContentData,
                platform::Map{
                    {platform::kLocalizedDescriptionKey,
                     rzs_network::localizedString("Data failed decoding as a UTF-8 string")},
                    {platform::kLocalizedFailureReasonErrorKey,
                     rzs_network::fillFormat(
                         rzs_network::localizedString("Could not decode string: %@"), {lossy})}}));
        return {};
    }
    // A single space is what some servers send for "no content".
    if (text->empty() || *text == " ") {
        return {};
    }
    std::optional<platform::Value> object;
    std::optional<platform::Error> parseError;
    RAZududeRqJsonParser parser;
    // JSON has no raw NUL; the parser would stop there and take the rest for absent.
    if (text->find('\0') == std::string::npos) {
        object = (readingOptions_ & kJSONReadingAllowFragments) != 0
                     ? parser.fragmentWithString(*text)
                     : parser.objectWithString(*text);
    }
    if (!object) {
        platform::Map userInfo{
            {platform::kLocalizedDescriptionKey,
             "The data couldn\u2019t be read because it isn\u2019t in the correct format."}};
        if (!parser.errorTrace().empty()) {
            userInfo.set("NSDebugDescription", parser.errorTrace().back().localizedDescription());
        } else {
            userInfo.set("NSDebugDescription", "Unexpected NUL character.");
        }
        parseError = platform::Error(platform::kCocoaErrorDomain, kJsonReadCorruptError,
                                     std::move(userInfo));
    } else if (removesKeysWithNullValues_) {
        object = RAZududeRemoveNullValuesFromJSONObject(*object, readingOptions_);
    }
    chainInto(error, std::move(parseError));
    return object ? RAZududeResponseObject(std::move(*object)) : RAZududeResponseObject();
}

std::shared_ptr<RAZududeHTTPResponseSerializer> RAZududeJSONResponseSerializer::copy() const {
    auto serializer = std::make_shared<RAZududeJSONResponseSerializer>();
    serializer->readingOptions_ = readingOptions_;
    serializer->removesKeysWithNullValues_ = removesKeysWithNullValues_;
    return serializer;
}

void RAZududeJSONResponseSerializer::encode(platform::KeyedArchiver& coder) const {
    RAZududeHTTPResponseSerializer::encode(coder);
    coder.encodeObject(platform::Value(static_cast<long long>(readingOptions_)), "readingOptions");
    coder.encodeObject(platform::Value(removesKeysWithNullValues_), "removesKeysWithNullValues");
}

// RAZududeXMLParserResponseSerializer

std::shared_ptr<RAZududeXMLParserResponseSerializer>
RAZududeXMLParserResponseSerializer::serializer() {
    return std::make_shared<RAZududeXMLParserResponseSerializer>();
}

RAZududeXMLParserResponseSerializer::RAZududeXMLParserResponseSerializer() {
    setAcceptableContentTypes(ContentTypes{"application/xml", "text/xml"});
}

RAZududeXMLParserResponseSerializer::RAZududeXMLParserResponseSerializer(
    platform::KeyedUnarchiver& coder)
    : RAZududeHTTPResponseSerializer(coder) {}

RAZududeResponseObject RAZududeXMLParserResponseSerializer::responseObjectForResponse(
    const std::shared_ptr<const platform::UrlResponse>& response,
    const std::optional<platform::Bytes>& data, std::optional<platform::Error>* error) const {
    if (!shouldParse(response, data, error) || !data) {
        return {};
    }
    return RAZududeResponseObject(std::make_shared<const RAZududeXMLParser>(*data));
}

std::shared_ptr<RAZududeHTTPResponseSerializer> RAZududeXMLParserResponseSerializer::copy() const {
    return std::make_shared<RAZududeXMLParserResponseSerializer>();
}

void RAZududeXMLParserResponseSerializer::encode(platform::KeyedArchiver& coder) const {
    RAZududeHTTPResponseSerializer::encode(coder);
}

// RAZududePropertyListResponseSerializer

std::shared_ptr<RAZududePropertyListResponseSerializer>
RAZududePropertyListResponseSerializer::serializer() {
    return serializerWithFormat(100, 0);
}

std::shared_ptr<RAZududePropertyListResponseSerializer>
RAZududePropertyListResponseSerializer::serializerWithFormat(std::uint64_t format,
                                                             std::uint64_t readOptions) {
    auto serializer = std::make_shared<RAZududePropertyListResponseSerializer>();
    serializer->setFormat(format);
    serializer->setReadOptions(readOptions);
    return serializer;
}

RAZududePropertyListResponseSerializer::RAZududePropertyListResponseSerializer() {
    setAcceptableContentTypes(ContentTypes{"application/x-plist"});
}

RAZududePropertyListResponseSerializer::RAZududePropertyListResponseSerializer(
    platform::KeyedUnarchiver& coder)
    : RAZududeHTTPResponseSerializer(coder),
      format_(static_cast<std::uint64_t>(coder.decodeValue("format").integerValue())),
      readOptions_(static_cast<std::uint64_t>(coder.decodeValue("readOptions").integerValue())) {}

RAZududeResponseObject RAZududePropertyListResponseSerializer::responseObjectForResponse(
    const std::shared_ptr<const platform::UrlResponse>& response,
    const std::optional<platform::Bytes>& data, std::optional<platform::Error>* error) const {
    if (!shouldParse(response, data, error) || !data) {
        return {};
    }
    platform::Error readError;
    std::optional<platform::Value> object = platform::PropertyList::read(*data, &readError);
    chainInto(error, object ? std::nullopt : std::optional<platform::Error>(std::move(readError)));
    return object ? RAZududeResponseObject(std::move(*object)) : RAZududeResponseObject();
}

std::shared_ptr<RAZududeHTTPResponseSerializer> RAZududePropertyListResponseSerializer::copy()
    const {
    auto serializer = std::make_shared<RAZududePropertyListResponseSerializer>();
    serializer->format_ = format_;
    serializer->readOptions_ = readOptions_;
    return serializer;
}

void RAZududePropertyListResponseSerializer::encode(platform::KeyedArchiver& coder) const {
    RAZududeHTTPResponseSerializer::encode(coder);
    coder.encodeObject(platform::Value(static_cast<long long>(format_)), "format");
    coder.encodeObject(platform::Value(static_cast<long long>(readOptions_)), "readOptions");
}

// RAZududeImageResponseSerializer

std::shared_ptr<RAZududeImageResponseSerializer> RAZududeImageResponseSerializer::serializer() {
    return std::make_shared<RAZududeImageResponseSerializer>();
}

RAZududeImageResponseSerializer::RAZududeImageResponseSerializer()
    : imageScale_(platform::currentDevice().screenScale) {
    setAcceptableContentTypes(ContentTypes{"image/tiff", "image/jpeg", "image/gif", "image/png",
                                           "image/ico", "image/x-icon", "image/bmp", "image/x-bmp",
                                           "image/x-xbitmap", "image/x-win-bitmap"});
}

RAZududeImageResponseSerializer::RAZududeImageResponseSerializer(platform::KeyedUnarchiver& coder)
    : RAZududeHTTPResponseSerializer(coder),
      imageScale_(coder.decodeValue("imageScale").doubleValue()),
      inflates_(coder.decodeBool("automaticallyInflatesResponseImage")) {}

RAZududeResponseObject RAZududeImageResponseSerializer::responseObjectForResponse(
    const std::shared_ptr<const platform::UrlResponse>& response,
    const std::optional<platform::Bytes>& data, std::optional<platform::Error>* error) const {
    if (!shouldParse(response, data, error) || !data) {
        return {};
    }
    return inflates_
               ? RAZududeInflatedImageFromResponseWithDataAtScale(response, *data, imageScale_)
               : RAZududeImageWithDataAtScale(*data, imageScale_);
}

std::shared_ptr<RAZududeHTTPResponseSerializer> RAZududeImageResponseSerializer::copy() const {
    auto serializer = std::make_shared<RAZududeImageResponseSerializer>();
    serializer->imageScale_ = imageScale_;
    serializer->inflates_ = inflates_;
    return serializer;
}

void RAZududeImageResponseSerializer::encode(platform::KeyedArchiver& coder) const {
    RAZududeHTTPResponseSerializer::encode(coder);
    coder.encodeObject(platform::Value(imageScale_), "imageScale");
    coder.encodeBool(inflates_, "automaticallyInflatesResponseImage");
}

// RAZududeCompoundResponseSerializer

std::shared_ptr<RAZududeCompoundResponseSerializer>
RAZududeCompoundResponseSerializer::compoundSerializerWithResponseSerializers(
    Serializers serializers) {
    auto serializer = std::make_shared<RAZududeCompoundResponseSerializer>();
    serializer->setResponseSerializers(std::move(serializers));
    return serializer;
}

RAZududeCompoundResponseSerializer::RAZududeCompoundResponseSerializer(
    platform::KeyedUnarchiver& coder)
    : RAZududeHTTPResponseSerializer(coder),
      serializers_(coder.decodeArrayOf<RAZududeURLResponseSerialization>("responseSerializers")) {}

RAZududeResponseObject RAZududeCompoundResponseSerializer::responseObjectForResponse(
    const std::shared_ptr<const platform::UrlResponse>& response,
    const std::optional<platform::Bytes>& data, std::optional<platform::Error>* error) const {
    for (const auto& serializer : serializers_) {
        if (!dynamic_cast<const RAZududeHTTPResponseSerializer*>(serializer.get())) {
            continue;
        }
        std::optional<platform::Error> serializerError;
        RAZududeResponseObject object =
            serializer->responseObjectForResponse(response, data, &serializerError);
        if (object) {
            chainInto(error, std::move(serializerError));
            return object;
        }
    }
    return RAZududeHTTPResponseSerializer::responseObjectForResponse(response, data, error);
}

std::shared_ptr<RAZududeHTTPResponseSerializer> RAZududeCompoundResponseSerializer::copy() const {
    auto serializer = std::make_shared<RAZududeCompoundResponseSerializer>();
    serializer->serializers_ = serializers_;
    return serializer;
}

void RAZududeCompoundResponseSerializer::encode(platform::KeyedArchiver& coder) const {
    RAZududeHTTPResponseSerializer::encode(coder);
    platform::ArchiveObject::Array members;
    members.reserve(serializers_.size());
    for (const auto& serializer : serializers_) {
        members.emplace_back(serializer);
    }
    coder.encodeObject(platform::ArchiveObject(std::move(members)), "responseSerializers");
}
