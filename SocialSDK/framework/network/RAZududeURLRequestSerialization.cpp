#include "SocialSDK/framework/network/RAZududeURLRequestSerialization.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <stdexcept>

#include "RZBase_Source/Encode/RAZududeStringEncoding.h"
#include "RZBase_Source/Json/RAZududeRqJsonWriter.h"
#include "platform/Bundle.h"
#include "platform/Device.h"
#include "platform/Dispatch.h"
#include "platform/Format.h"
#include "platform/PropertyList.h"
#include "platform/Text.h"
#include "platform/net/Stream.h"

namespace {

// Escaping keeps ASCII letters, digits and these: what RFC 3986 calls unreserved, and for a
// field also the brackets of "a[b][]".
constexpr std::string_view kValueLiterals = "-._~";
constexpr std::string_view kFieldLiterals = "-._~[]";

std::optional<std::string> escaped(std::string_view text, std::string_view literals,
                                   rzs_network::StringEncoding encoding) {
    if (encoding == rzs_network::kUTF8StringEncoding) {
        return platform::percentEncode(text, literals);
    }
    const std::optional<platform::Bytes> bytes = rzs_network::encodeText(text, encoding);
    if (!bytes) {
        return std::nullopt;
    }
    return platform::percentEncode(
        std::string_view(reinterpret_cast<const char*>(bytes->data()), bytes->size()), literals);
}

platform::Error requestError(std::string_view reason, platform::Map extra = {}) {
    platform::Map userInfo{
        {platform::kLocalizedFailureReasonErrorKey, rzs_network::localizedString(reason)}};
    for (auto& [key, value] : extra) {
        userInfo.set(key, std::move(value));
    }
    return platform::Error(kRAZududeURLRequestSerializationErrorDomain, platform::kUrlErrorBadUrl,
                           std::move(userInfo));
}

void report(platform::Error* out, platform::Error error) {
    if (out) {
        *out = std::move(error);
    }
}

std::string upperAscii(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        }
    }
    return out;
}

// "en;q=1, fr;q=0.9": the preferred languages, q falling by 0.1 (in single precision, as
// browsers compute it) down to 0.5, so at most six.
std::string acceptLanguage() {
    std::string header;
    const std::vector<std::string> languages = platform::Bundle::preferredLanguages();
    for (std::size_t i = 0; i < languages.size(); ++i) {
        const float q = 1.0f - (static_cast<float>(i) * 0.1f);
        if (!header.empty()) {
            header += ", ";
        }
        header += platform::format("%@;q=%0.1g", languages[i], static_cast<double>(q));
        if (q <= 0.5f) {
            break;
        }
    }
    return header;
}

std::optional<std::string> infoText(const platform::Bundle& bundle, const char* key,
                                    const char* fallbackKey) {
    for (const char* k : {key, fallbackKey}) {
        const platform::Value& value = bundle.objectForInfoDictionaryKey(k);
        if (!value.isNull()) {
            return value.description();
        }
    }
    return std::nullopt;
}

std::string userAgent() {
    const platform::Bundle bundle = platform::Bundle::mainBundle();
    const platform::DeviceProfile device = platform::currentDevice();
    std::string agent =
        platform::format("%@/%@ (%@; iOS %@; Scale/%0.2f)",
                         infoText(bundle, "CFBundleExecutable", "CFBundleIdentifier"),
                         infoText(bundle, "CFBundleShortVersionString", "CFBundleVersion"),
                         device.model, device.systemVersion, device.screenScale);
    if (!platform::text::isAscii(agent)) {
        if (std::optional<std::string> ascii = platform::text::transliterateToAscii(agent)) {
            agent = std::move(*ascii);
        }
    }
    return agent;
}

// The URL with the query added: after the URL's own query ("&") or as its query ("?"), and
// always before a fragment, which is no part of what the server sees.
std::optional<platform::Url> urlWithQuery(const platform::Url& url, std::string_view query) {
    const std::string& text = url.absoluteString();
    const std::size_t fragmentStart =
        url.fragment() ? text.size() - url.fragment()->size() - 1 : text.size();
    std::string joined = text.substr(0, fragmentStart);
    joined += url.query() ? '&' : '?';
    joined += query;
    joined += text.substr(fragmentStart);
    return platform::Url::parse(joined);
}

platform::Error streamFailure(const platform::Stream& stream, int fallbackCode,
                              const char* fallbackText) {
    if (std::optional<platform::Error> error = stream.streamError()) {
        return *error;
    }
    return platform::Error(platform::kPosixErrorDomain, fallbackCode,
                           platform::Map{{platform::kLocalizedDescriptionKey, fallbackText}});
}

// Copies the stream into the file, 1 KiB at a time. Every byte read is written (a short write
// goes on with the rest); a stream that fails, a file that cannot be made or written, and a
// close that cannot flush all end in an error, never in a quietly short file.
std::optional<platform::Error> copyStreamToFile(platform::InputStream& input,
                                                const std::filesystem::path& path) {
    const std::shared_ptr<platform::OutputStream> output =
        platform::OutputStream::toFile(path, false);
    input.open();
    output->open();
    std::optional<platform::Error> error;
    std::array<std::uint8_t, 1024> buffer;
    while (!error && input.hasBytesAvailable() && output->hasSpaceAvailable()) {
        const long read = input.read(buffer.data(), buffer.size());
        if (read < 0) {
            error = streamFailure(input, EIO, "The body stream cannot be read.");
            break;
        }
        if (read == 0) {
            break;
        }
        std::size_t written = 0;
        while (written < static_cast<std::size_t>(read)) {
            const long n =
                output->write(buffer.data() + written, static_cast<std::size_t>(read) - written);
            if (n <= 0) {
                error = streamFailure(*output, EIO, "The file cannot be written.");
                break;
            }
            written += static_cast<std::size_t>(n);
        }
    }
    if (!error && input.streamStatus() != platform::StreamStatus::kAtEnd &&
        input.streamStatus() != platform::StreamStatus::kOpen) {
        error = streamFailure(input, EIO, "The body stream cannot be read.");
    }
    if (!error && output->streamStatus() != platform::StreamStatus::kOpen) {
        error = streamFailure(*output, EIO, "The file cannot be written.");
    }
    output->close();
    input.close();
    if (!error && output->streamStatus() == platform::StreamStatus::kError) {
        error = streamFailure(*output, EIO, "The file cannot be written.");
    }
    return error;
}

platform::HeaderFields headersFromValue(const platform::Value& value) {
    platform::HeaderFields headers;
    if (const platform::Map* map = value.map()) {
        for (const auto& [name, text] : *map) {
            headers.set(name, text.stringValue());
        }
    }
    return headers;
}

}  // namespace

// Query strings

RAZududeQueryStringPair::RAZududeQueryStringPair(std::optional<std::string> field,
                                                 platform::Value value)
    : field_(std::move(field)), value_(std::move(value)) {}

std::optional<std::string> RAZududeQueryStringPair::URLEncodedStringValueWithEncoding(
    rzs_network::StringEncoding encoding) const {
    std::optional<std::string> field =
        escaped(platform::format("%@", field_), kFieldLiterals, encoding);
    if (!field || value_.isNull()) {
        return field;
    }
    std::optional<std::string> value = escaped(value_.description(), kValueLiterals, encoding);
    if (!value) {
        return std::nullopt;
    }
    return *field + "=" + *value;
}

std::vector<RAZududeQueryStringPair> RAZududeQueryPairsForKeyAndValue(
    const std::optional<std::string>& key, const platform::Value& value) {
    std::vector<RAZududeQueryStringPair> pairs;
    struct Walk {
        std::vector<RAZududeQueryStringPair>& out;
        void operator()(const std::optional<std::string>& k, const platform::Value& v) {
            if (const platform::Map* map = v.map()) {
                std::vector<const platform::Map::Entry*> entries;
                entries.reserve(map->size());
                for (const auto& entry : *map) {
                    entries.push_back(&entry);
                }
                std::sort(entries.begin(), entries.end(),
                          [](const auto* a, const auto* b) { return a->first < b->first; });
                for (const auto* entry : entries) {
                    (*this)(k ? platform::format("%@[%@]", *k, entry->first) : entry->first,
                            entry->second);
                }
            } else if (const platform::Array* array = v.array()) {
                const std::string arrayKey = platform::format("%@[]", k);
                for (const platform::Value& item : *array) {
                    (*this)(arrayKey, item);
                }
            } else {
                out.emplace_back(k, v);
            }
        }
    };
    Walk{pairs}(key, value);
    return pairs;
}

std::vector<RAZududeQueryStringPair> RAZududeQueryStringPairsFromDictionary(
    const platform::Value& parameters) {
    return RAZududeQueryPairsForKeyAndValue(std::nullopt, parameters);
}

std::optional<std::string> RAZududeQueryStringFromParametersWithEncoding(
    const platform::Value& parameters, rzs_network::StringEncoding encoding) {
    std::string query;
    bool first = true;
    for (const RAZududeQueryStringPair& pair : RAZududeQueryStringPairsFromDictionary(parameters)) {
        std::optional<std::string> text = pair.URLEncodedStringValueWithEncoding(encoding);
        if (!text) {
            return std::nullopt;
        }
        if (!first) {
            query += '&';
        }
        query += *text;
        first = false;
    }
    return query;
}

// RAZududeHTTPRequestSerializer

std::shared_ptr<RAZududeHTTPRequestSerializer> RAZududeHTTPRequestSerializer::serializer() {
    return std::make_shared<RAZududeHTTPRequestSerializer>();
}

RAZududeHTTPRequestSerializer::RAZududeHTTPRequestSerializer()
    : methodsInURI_{"GET", "HEAD", "DELETE"} {
    headers_.set("Accept-Language", acceptLanguage());
    headers_.set("User-Agent", userAgent());
}

RAZududeHTTPRequestSerializer::RAZududeHTTPRequestSerializer(platform::KeyedUnarchiver& coder)
    : RAZududeHTTPRequestSerializer() {
    const platform::Value headers = coder.decodeValue("mutableHTTPRequestHeaders");
    if (!headers.isNull() && !headers.isMap()) {
        coder.failWithMessage("mutableHTTPRequestHeaders is not a dictionary");
    }
    headers_ = headersFromValue(headers);
    // One style is defined; an archive naming another falls back to it.
    style_ = kRAZududeHTTPRequestQueryStringDefaultStyle;
}

void RAZududeHTTPRequestSerializer::setAllowsCellularAccess(bool allows) {
    allowsCellularAccess_ = allows;
    markChanged("allowsCellularAccess");
}

void RAZududeHTTPRequestSerializer::setCachePolicy(platform::UrlRequestCachePolicy policy) {
    cachePolicy_ = policy;
    markChanged("cachePolicy");
}

void RAZududeHTTPRequestSerializer::setHTTPShouldHandleCookies(bool handle) {
    HTTPShouldHandleCookies_ = handle;
    markChanged("HTTPShouldHandleCookies");
}

void RAZududeHTTPRequestSerializer::setHTTPShouldUsePipelining(bool pipelining) {
    HTTPShouldUsePipelining_ = pipelining;
    markChanged("HTTPShouldUsePipelining");
}

void RAZududeHTTPRequestSerializer::setNetworkServiceType(platform::NetworkServiceType type) {
    networkServiceType_ = type;
    markChanged("networkServiceType");
}

void RAZududeHTTPRequestSerializer::setTimeoutInterval(double seconds) {
    timeoutInterval_ = seconds;
    markChanged("timeoutInterval");
}

void RAZududeHTTPRequestSerializer::setValue(std::optional<std::string> value,
                                             std::string_view field) {
    if (value) {
        headers_.set(field, std::move(*value));
    } else {
        headers_.remove(field);
    }
}

std::optional<std::string> RAZududeHTTPRequestSerializer::valueForHTTPHeaderField(
    std::string_view field) const {
    return headers_.value(field);
}

void RAZududeHTTPRequestSerializer::setAuthorizationHeaderFieldWithUsername(
    std::string_view username, std::string_view password) {
    const std::string credentials = platform::format("%@:%@", username, password);
    const std::string base64 =
        RAZududeStringEncoding::rfc4648Base64StringEncoding().encodeString(credentials);
    setValue(platform::format("Basic %@", base64), "Authorization");
}

void RAZududeHTTPRequestSerializer::setAuthorizationHeaderFieldWithToken(std::string_view token) {
    setValue(platform::format("Token token=\"%@\"", token), "Authorization");
}

void RAZududeHTTPRequestSerializer::clearAuthorizationHeader() {
    headers_.remove("Authorization");
}

void RAZududeHTTPRequestSerializer::setQueryStringSerializationWithStyle(
    QueryStringSerializationStyle style) {
    style_ = style;
    queryStringSerialization_ = nullptr;
}

void RAZududeHTTPRequestSerializer::setQueryStringSerializationWithBlock(
    QueryStringSerializationBlock block) {
    queryStringSerialization_ = std::move(block);
}

std::optional<std::string> RAZududeResolvedURLString(const std::optional<platform::Url>& baseURL,
                                                     const std::string& URLString,
                                                     platform::Error* error) {
    std::optional<platform::Url> url =
        baseURL ? platform::Url::parse(URLString, *baseURL) : platform::Url::parse(URLString);
    if (!url) {
        // Text that is no URL is the caller's data, not a programming error: it fails like
        // any request that cannot be built.
        report(error, platform::Error(platform::kUrlErrorDomain, platform::kUrlErrorBadUrl,
                                      platform::Map{
                                          {platform::kLocalizedDescriptionKey, "bad URL"},
                                          {platform::kUrlErrorFailingUrlStringErrorKey, URLString},
                                      }));
        return std::nullopt;
    }
    return url->absoluteString();
}

std::optional<platform::UrlRequest> RAZududeHTTPRequestSerializer::requestWithMethod(
    const std::string& method, std::string_view URLString,
    const std::optional<platform::Value>& parameters, platform::Error* error) const {
    std::optional<platform::Url> url = platform::Url::parse(URLString);
    if (!url) {
        report(error, requestError("Expected a valid URL",
                                   platform::Map{{platform::kUrlErrorFailingUrlStringErrorKey,
                                                  platform::Value(URLString)}}));
        return std::nullopt;
    }
    platform::UrlRequest request(std::move(*url));
    request.setHttpMethod(method);
    const auto changed = [this](const char* keyPath) { return changedKeyPaths_.contains(keyPath); };
    if (changed("allowsCellularAccess")) {
        request.setAllowsCellularAccess(allowsCellularAccess_);
    }
    if (changed("cachePolicy")) {
        request.setCachePolicy(cachePolicy_);
    }
    if (changed("HTTPShouldHandleCookies")) {
        request.setHttpShouldHandleCookies(HTTPShouldHandleCookies_);
    }
    if (changed("HTTPShouldUsePipelining")) {
        request.setHttpShouldUsePipelining(HTTPShouldUsePipelining_);
    }
    if (changed("networkServiceType")) {
        request.setNetworkServiceType(networkServiceType_);
    }
    if (changed("timeoutInterval")) {
        request.setTimeoutInterval(timeoutInterval_);
    }
    return requestBySerializingRequest(request, parameters, error);
}

std::optional<platform::UrlRequest> RAZududeHTTPRequestSerializer::multipartFormRequestWithMethod(
    const std::string& method, std::string_view URLString,
    const std::optional<platform::Value>& parameters, const ConstructingBodyBlock& block,
    platform::Error* error) const {
    if (method == "GET" || method == "HEAD") {
        throw std::invalid_argument(
            "Invalid parameter not satisfying: ![method isEqualToString:@\"GET\"] && "
            "![method isEqualToString:@\"HEAD\"]");
    }
    std::optional<platform::UrlRequest> request =
        requestWithMethod(method, URLString, std::nullopt, error);
    if (!request) {
        return std::nullopt;
    }
    RAZududeStreamingMultipartFormData formData(*request, rzs_network::kUTF8StringEncoding);
    if (parameters) {
        for (const RAZududeQueryStringPair& pair :
             RAZududeQueryStringPairsFromDictionary(*parameters)) {
            std::optional<platform::Bytes> data;
            if (const platform::Bytes* bytes = pair.value().bytes()) {
                data = *bytes;
            } else if (pair.value().isNull()) {
                data.emplace();
            } else {
                data = rzs_network::encodeText(pair.value().description(), stringEncoding_);
            }
            const std::string name = platform::format("%@", pair.field());
            if (!data) {
                report(error, requestError("A parameter cannot be written in the serializer's "
                                           "string encoding",
                                           platform::Map{{"field", platform::Value(name)}}));
                return std::nullopt;
            }
            formData.appendPartWithFormData(*data, name);
        }
    }
    if (block) {
        block(formData);
    }
    return formData.requestByFinalizingMultipartFormData();
}

platform::UrlRequest RAZududeHTTPRequestSerializer::requestWithMultipartFormRequest(
    const platform::UrlRequest& request, const platform::Url& fileURL,
    StreamCopyCompletionHandler handler) const {
    if (!request.httpBodyStream()) {
        throw std::invalid_argument("Invalid parameter not satisfying: request.HTTPBodyStream");
    }
    if (!fileURL.isFileUrl()) {
        throw std::invalid_argument("Invalid parameter not satisfying: [fileURL isFileURL]");
    }
    std::shared_ptr<platform::InputStream> input = request.httpBodyStream();
    std::filesystem::path path = fileURL.path();
    platform::UrlRequest mutableRequest = request;
    mutableRequest.setHttpBodyStream(nullptr);
    platform::DispatchQueue::global()->async(
        [input = std::move(input), path = std::move(path), handler = std::move(handler)] {
            std::optional<platform::Error> error = copyStreamToFile(*input, path);
            if (handler) {
                platform::DispatchQueue::main()->async(
                    [handler, error = std::move(error)] { handler(error); });
            }
        });
    return mutableRequest;
}

void RAZududeHTTPRequestSerializer::applyDefaultHeaders(platform::UrlRequest& request) const {
    for (const auto& [field, value] : headers_.fields()) {
        if (!request.valueForHttpHeaderField(field)) {
            request.setValue(value, field);
        }
    }
}

std::optional<platform::UrlRequest> RAZududeHTTPRequestSerializer::requestBySerializingRequest(
    const platform::UrlRequest& request, const std::optional<platform::Value>& parameters,
    platform::Error* error) const {
    platform::UrlRequest mutableRequest = request;
    applyDefaultHeaders(mutableRequest);
    if (!parameters) {
        return mutableRequest;
    }
    std::optional<std::string> query;
    if (queryStringSerialization_) {
        platform::Error blockError;
        query = queryStringSerialization_(request, *parameters, blockError);
        if (!query) {
            report(error, blockError.domain().empty()
                              ? requestError("The query string serialization failed")
                              : std::move(blockError));
            return std::nullopt;
        }
    } else {
        query = RAZududeQueryStringFromParametersWithEncoding(*parameters, stringEncoding_);
        if (!query) {
            report(error, requestError("A parameter cannot be written in the serializer's string "
                                       "encoding"));
            return std::nullopt;
        }
    }
    if (methodsInURI_.contains(upperAscii(request.httpMethod()))) {
        std::optional<platform::Url> url = urlWithQuery(mutableRequest.url(), *query);
        if (!url) {
            report(error, requestError("Expected a valid URL",
                                       platform::Map{{"query", platform::Value(*query)}}));
            return std::nullopt;
        }
        mutableRequest.setUrl(std::move(*url));
    } else {
        if (!mutableRequest.valueForHttpHeaderField("Content-Type")) {
            mutableRequest.setValue("application/x-www-form-urlencoded", "Content-Type");
        }
        std::optional<platform::Bytes> body = rzs_network::encodeText(*query, stringEncoding_);
        if (!body) {
            report(error, requestError("A parameter cannot be written in the serializer's string "
                                       "encoding"));
            return std::nullopt;
        }
        mutableRequest.setHttpBody(std::move(*body));
    }
    return mutableRequest;
}

void RAZududeHTTPRequestSerializer::copyInto(RAZududeHTTPRequestSerializer& target) const {
    target.headers_ = headers_;
    target.style_ = style_;
    target.queryStringSerialization_ = queryStringSerialization_;
}

std::shared_ptr<RAZududeHTTPRequestSerializer> RAZududeHTTPRequestSerializer::copy() const {
    auto serializer = std::make_shared<RAZududeHTTPRequestSerializer>();
    copyInto(*serializer);
    return serializer;
}

void RAZududeHTTPRequestSerializer::registerArchiveClasses() {
    auto& registry = platform::ArchiveRegistry::shared();
    registry.add<RAZududeHTTPRequestSerializer>(RAZududeHTTPRequestSerializer::kClassName);
    registry.add<RAZududeJSONRequestSerializer>(RAZududeJSONRequestSerializer::kClassName);
    registry.add<RAZududePropertyListRequestSerializer>(
        RAZududePropertyListRequestSerializer::kClassName);
}

void RAZududeHTTPRequestSerializer::encode(platform::KeyedArchiver& coder) const {
    coder.encodeObject(platform::Value(headers_.toMap()), "mutableHTTPRequestHeaders");
    coder.encodeInt64(static_cast<std::int64_t>(style_), "queryStringSerializationStyle");
}

// RAZududeJSONRequestSerializer

std::shared_ptr<RAZududeJSONRequestSerializer> RAZududeJSONRequestSerializer::serializer() {
    return serializerWithWritingOptions(0);
}

std::shared_ptr<RAZududeJSONRequestSerializer>
RAZududeJSONRequestSerializer::serializerWithWritingOptions(std::uint64_t writingOptions) {
    auto serializer = std::make_shared<RAZududeJSONRequestSerializer>();
    serializer->setWritingOptions(writingOptions);
    return serializer;
}

RAZududeJSONRequestSerializer::RAZududeJSONRequestSerializer(platform::KeyedUnarchiver& coder)
    : RAZududeHTTPRequestSerializer(coder),
      writingOptions_(static_cast<std::uint64_t>(coder.decodeInt64("writingOptions"))) {}

std::optional<platform::UrlRequest> RAZududeJSONRequestSerializer::requestBySerializingRequest(
    const platform::UrlRequest& request, const std::optional<platform::Value>& parameters,
    platform::Error* error) const {
    if (HTTPMethodsEncodingParametersInURI().contains(upperAscii(request.httpMethod()))) {
        return RAZududeHTTPRequestSerializer::requestBySerializingRequest(request, parameters,
                                                                          error);
    }
    platform::UrlRequest mutableRequest = request;
    applyDefaultHeaders(mutableRequest);
    if (!parameters) {
        return mutableRequest;
    }
    RAZududeRqJsonWriter writer;
    writer.setHumanReadable((writingOptions_ & kJSONWritingPrettyPrinted) != 0);
    writer.setSortKeys((writingOptions_ & kJSONWritingSortedKeys) != 0);
    const std::optional<std::string> text = (writingOptions_ & kJSONWritingFragmentsAllowed) != 0
                                                ? writer.stringWithFragment(*parameters)
                                                : writer.stringWithObject(*parameters);
    if (!text) {
        if (error) {
            *error = writer.errorTrace().empty()
                         ? requestError("The parameters cannot be written as JSON")
                         : writer.errorTrace().back();
        }
        return std::nullopt;
    }
    if (!mutableRequest.valueForHttpHeaderField("Content-Type")) {
        mutableRequest.setValue("application/json", "Content-Type");
    }
    mutableRequest.setHttpBody(platform::toBytes(*text));
    return mutableRequest;
}

std::shared_ptr<RAZududeHTTPRequestSerializer> RAZududeJSONRequestSerializer::copy() const {
    auto serializer = std::make_shared<RAZududeJSONRequestSerializer>();
    copyInto(*serializer);
    serializer->writingOptions_ = writingOptions_;
    return serializer;
}

void RAZududeJSONRequestSerializer::encode(platform::KeyedArchiver& coder) const {
    RAZududeHTTPRequestSerializer::encode(coder);
    coder.encodeInt64(static_cast<std::int64_t>(writingOptions_), "writingOptions");
}

// RAZududePropertyListRequestSerializer

std::shared_ptr<RAZududePropertyListRequestSerializer>
RAZududePropertyListRequestSerializer::serializer() {
    return serializerWithFormat(kPropertyListXMLFormat, 0);
}

std::shared_ptr<RAZududePropertyListRequestSerializer>
RAZududePropertyListRequestSerializer::serializerWithFormat(std::uint64_t format,
                                                            std::uint64_t writeOptions) {
    auto serializer = std::make_shared<RAZududePropertyListRequestSerializer>();
    serializer->setFormat(format);
    serializer->setWriteOptions(writeOptions);
    return serializer;
}

RAZududePropertyListRequestSerializer::RAZududePropertyListRequestSerializer(
    platform::KeyedUnarchiver& coder)
    : RAZududeHTTPRequestSerializer(coder),
      format_(static_cast<std::uint64_t>(coder.decodeInt64("format"))),
      writeOptions_(static_cast<std::uint64_t>(coder.decodeValue("writeOptions").integerValue())) {}

std::optional<platform::UrlRequest>
RAZududePropertyListRequestSerializer::requestBySerializingRequest(
    const platform::UrlRequest& request, const std::optional<platform::Value>& parameters,
    platform::Error* error) const {
    if (HTTPMethodsEncodingParametersInURI().contains(upperAscii(request.httpMethod()))) {
        return RAZududeHTTPRequestSerializer::requestBySerializingRequest(request, parameters,
                                                                          error);
    }
    platform::UrlRequest mutableRequest = request;
    applyDefaultHeaders(mutableRequest);
    if (!parameters) {
        return mutableRequest;
    }
    std::optional<platform::Bytes> body;
    platform::Error writeError;
    switch (format_) {
        case kPropertyListXMLFormat:
            body = platform::PropertyList::write(*parameters, platform::PropertyList::Format::kXml,
                                                 &writeError);
            break;
        case kPropertyListBinaryFormat:
            body = platform::PropertyList::write(
                *parameters, platform::PropertyList::Format::kBinary, &writeError);
            break;
        default:
            writeError = platform::Error(
                platform::kCocoaErrorDomain, platform::PropertyList::kWriteInvalidError,
                platform::Map{
                    {platform::kLocalizedDescriptionKey,
                     platform::format("The property-list format %@ cannot be written.", format_)}});
            break;
    }
    if (!body) {
        report(error, std::move(writeError));
        return std::nullopt;
    }
    if (!mutableRequest.valueForHttpHeaderField("Content-Type")) {
        mutableRequest.setValue("application/x-plist", "Content-Type");
    }
    mutableRequest.setHttpBody(std::move(*body));
    return mutableRequest;
}

std::shared_ptr<RAZududeHTTPRequestSerializer> RAZududePropertyListRequestSerializer::copy() const {
    auto serializer = std::make_shared<RAZududePropertyListRequestSerializer>();
    copyInto(*serializer);
    serializer->format_ = format_;
    serializer->writeOptions_ = writeOptions_;
    return serializer;
}

void RAZududePropertyListRequestSerializer::encode(platform::KeyedArchiver& coder) const {
    RAZududeHTTPRequestSerializer::encode(coder);
    coder.encodeInt64(static_cast<std::int64_t>(format_), "format");
    coder.encodeObject(platform::Value(static_cast<long long>(writeOptions_)), "writeOptions");
}
