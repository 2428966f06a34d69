// Random response metadata (status, MIME type, charset) and body through every response
// serializer: none crashes, a valid response never comes with an error, a parse that failed
// says why, and the JSON serializer's verdict agrees with the plain parser's.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "RZBase_Source/Json/RAZududeRqJsonParser.h"
#include "SocialSDK/framework/network/RAZududeURLResponseSerialization.h"

namespace {

const char* const kTypes[] = {"application/json", "text/json",  "text/javascript",
                              "application/xml",  "text/xml",   "application/x-plist",
                              "image/png",        "image/jpeg", "image/gif",
                              "text/html",        "",           "application/octet-stream"};
const char* const kCharsets[] = {"",       "utf-8",   "ISO-8859-1", "shift_jis",
                                 "utf-16", "gb18030", "x-unknown"};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const auto serializers = [] {
        auto json = RAZududeJSONResponseSerializer::serializer();
        auto fragments = RAZududeJSONResponseSerializer::serializerWithReadingOptions(
            RAZududeJSONResponseSerializer::kJSONReadingAllowFragments);
        fragments->setRemovesKeysWithNullValues(true);
        auto image = RAZududeImageResponseSerializer::serializer();
        std::vector<std::shared_ptr<RAZududeHTTPResponseSerializer>> all = {
            RAZududeHTTPResponseSerializer::serializer(),
            json,
            fragments,
            RAZududeXMLParserResponseSerializer::serializer(),
            RAZududePropertyListResponseSerializer::serializer(),
            image,
            RAZududeCompoundResponseSerializer::compoundSerializerWithResponseSerializers(
                {json, image, RAZududePropertyListResponseSerializer::serializer()}),
        };
        return all;
    }();

    FuzzedDataProvider input(data, size);
    const int status = input.ConsumeIntegralInRange(100, 599);
    std::string type =
        input.ConsumeBool()
            ? kTypes[input.ConsumeIntegralInRange<std::size_t>(0, std::size(kTypes) - 1)]
            : input.ConsumeRandomLengthString(32);
    const std::string charset =
        input.ConsumeBool()
            ? kCharsets[input.ConsumeIntegralInRange<std::size_t>(0, std::size(kCharsets) - 1)]
            : input.ConsumeRandomLengthString(16);
    platform::HeaderFields headers;
    if (!type.empty() || !charset.empty()) {
        headers.set("Content-Type", charset.empty() ? type : type + "; charset=" + charset);
    }
    const auto response = std::make_shared<platform::HttpUrlResponse>(
        *platform::Url::parse("http://127.0.0.1/r"), status, "HTTP/1.1", headers);
    const bool nilBody = input.ConsumeIntegralInRange(0, 15) == 0;
    const std::string rest = input.ConsumeRemainingBytesAsString();
    const std::optional<platform::Bytes> body =
        nilBody ? std::nullopt : std::optional<platform::Bytes>(platform::toBytes(rest));

    for (const auto& serializer : serializers) {
        std::optional<platform::Error> error;
        const bool valid = serializer->validateResponse(response, body, &error);
        if (valid && error) {
            std::abort();
        }
        error.reset();
        const RAZududeResponseObject object =
            serializer->responseObjectForResponse(response, body, &error);
        // Validation errors name the failing URL; a valid response gets none of them.
        for (const platform::Error* e = error ? &*error : nullptr; valid && e;
             e = e->underlyingError().get()) {
            if (e->userInfo().contains(platform::kUrlErrorFailingUrlErrorKey)) {
                std::abort();
            }
        }
        if (error && error->localizedDescription().empty()) {
            std::abort();
        }
        (void)object.description();
    }

    // UTF-8 text that the plain parser reads as an object is what the JSON serializer returns
    // for a valid response that names no other charset.
    if (body && status >= 200 && status < 300 && type == "application/json" &&
        (charset.empty() || charset == "utf-8") && rest.find('\0') == std::string::npos &&
        rest != " ") {
        std::optional<platform::Error> error;
        const RAZududeResponseObject object =
            serializers[1]->responseObjectForResponse(response, body, &error);
        RAZududeRqJsonParser parser;
        const auto expected = parser.objectWithString(rest);
        const bool isUtf8 =
            rzs_network::decodeText(*body, rzs_network::kUTF8StringEncoding).has_value();
        if (isUtf8 && !rest.empty()) {
            if (expected.has_value() != static_cast<bool>(object) ||
                (expected && !(*expected == *object.value())) ||
                expected.has_value() == bool(error)) {
                std::abort();
            }
        }
    }
    return 0;
}
