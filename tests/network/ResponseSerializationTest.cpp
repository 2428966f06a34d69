// Response serializers: validation errors with their texts, keys and codes, and bodies written
// by Python's json and plistlib and by our image encoder.
#include <gtest/gtest.h>

#include "RZBase_Source/Json/RAZududeRqJsonWriter.h"
#include "SocialSDK/framework/network/RAZududeURLResponseSerialization.h"
#include "platform/KeyedArchive.h"
#include "tests/network/NetworkTestSupport.h"

using network_test::httpResponse;
using network_test::pythonJson;
using platform::Bytes;
using platform::Map;
using platform::Value;

namespace {

using OptionalError = std::optional<platform::Error>;

Bytes pythonBytes(const std::string& expression) {
    return network_test::fromHex(
        testing_support::runPython("import json, plistlib\nprint((" + expression + ").hex())\n"));
}

Bytes pngOf(int width, int height) {
    platform::Image image(width, height);
    image.mutableData()[0] = 0xff00ff00;
    return image.encodePng();
}

}  // namespace

TEST(ResponseSerializer, StatusAndContentTypeErrorsSayWhatFailed) {
    auto base = RAZududeHTTPResponseSerializer::serializer();
    const Bytes body = platform::toBytes("gone");
    OptionalError error;
    RAZududeResponseObject object =
        base->responseObjectForResponse(httpResponse(404, "text/html"), body, &error);
    ASSERT_TRUE(object.data());
    EXPECT_EQ(*object.data(), body);
    ASSERT_TRUE(error);
    EXPECT_EQ(error->domain(), "com.razudude.error.serialization.response");
    EXPECT_EQ(error->code(), -1011);
    EXPECT_EQ(error->localizedDescription(), "Request failed: not found (404)");
    EXPECT_EQ(error->userInfo()[platform::kUrlErrorFailingUrlErrorKey].stringValue(),
              "http://127.0.0.1/resource");
    EXPECT_TRUE(error->userInfo().contains("com.razudude.serialization.response.error.response"));
    EXPECT_EQ(*error->userInfo()["com.razudude.serialization.response.error.data"].bytes(), body);
    EXPECT_FALSE(error->underlyingError());

    auto json = RAZududeJSONResponseSerializer::serializer();
    error.reset();
    EXPECT_FALSE(json->responseObjectForResponse(httpResponse(200, "text/html"), body, &error));
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code(), -1016);
    EXPECT_EQ(error->localizedDescription(),
              "Request failed: unacceptable content-type: text/html");

    // Both wrong: the status error, over the content-type one; nothing is parsed.
    error.reset();
    EXPECT_FALSE(json->responseObjectForResponse(httpResponse(500, "text/html"),
                                                 platform::toBytes("[1]"), &error));
    EXPECT_EQ(error->code(), -1011);
    ASSERT_TRUE(error->underlyingError());
    EXPECT_EQ(error->underlyingError()->code(), -1016);
    EXPECT_TRUE(RAZududeErrorChainHasCodeInDomain(*error));

    // An unacceptable type with an empty body is invalid without an error to tell.
    error.reset();
    EXPECT_FALSE(json->validateResponse(httpResponse(200, "text/html"), Bytes(), &error));
    EXPECT_FALSE(error);
    // What is not an HTTP response is not validated.
    auto file = std::make_shared<platform::UrlResponse>(*platform::Url::parse("file:///x"),
                                                        "text/html", 4, std::nullopt);
    EXPECT_TRUE(json->validateResponse(file, body, &error));
}

TEST(ResponseSerializer, JsonFromPythonParsesAndAFailedStatusStillHandsTheObjectOn) {
    const std::string document =
        pythonJson(
            "import json\nprint(json.dumps(json.dumps({'t': '\\u4e2d\\U0001F600\\n\"', "
            "'n': [0, -1, 2**53, 1.5e100, True, None], 'o': {}})))")
            .stringValue();
    auto json = RAZududeJSONResponseSerializer::serializer();
    OptionalError error;
    RAZududeResponseObject object = json->responseObjectForResponse(
        httpResponse(500, "application/json"), platform::toBytes(document), &error);
    ASSERT_TRUE(object.value());
    EXPECT_EQ(error->code(), -1011);
    const std::string back = *RAZududeRqJsonWriter().stringWithObject(*object.value());
    // Numbers come back as decimals with every digit, so they are compared as decimals.
    EXPECT_TRUE(pythonJson("import sys, json, decimal\na, b = sys.stdin.read().split('\\n')\n"
                           "d = lambda t: json.loads(t, parse_float=decimal.Decimal, "
                           "parse_int=decimal.Decimal)\n"
                           "print(json.dumps(d(a) == d(b)))",
                           document + "\n" + back)
                    .boolValue());

    // Without an error out-parameter a failed validation stops the parsing.
    EXPECT_FALSE(json->responseObjectForResponse(httpResponse(500, "application/json"),
                                                 platform::toBytes(document), nullptr));
}

TEST(ResponseSerializer, JsonBodiesThatSayNothingOrCannotBeRead) {
    auto json = RAZududeJSONResponseSerializer::serializer();
    const auto ok = httpResponse(200, "application/json");
    OptionalError error;
    EXPECT_FALSE(json->responseObjectForResponse(ok, platform::toBytes(" "), &error));
    EXPECT_FALSE(json->responseObjectForResponse(ok, Bytes(), &error));
    EXPECT_FALSE(json->responseObjectForResponse(ok, std::nullopt, &error));
    EXPECT_FALSE(error);

    EXPECT_FALSE(json->responseObjectForResponse(ok, platform::toBytes("{\"a\":"), &error));
    ASSERT_TRUE(error);
    EXPECT_EQ(error->domain(), platform::kCocoaErrorDomain);
    EXPECT_EQ(error->code(), 3840);
    // The parse error comes over the status error.
    error.reset();
    EXPECT_FALSE(json->responseObjectForResponse(httpResponse(503, "text/json"),
                                                 platform::toBytes("nope"), &error));
    EXPECT_EQ(error->code(), 3840);
    EXPECT_EQ(error->underlyingError()->code(), -1011);
    // A NUL ends nothing: the whole body is JSON or it is not.
    error.reset();
    EXPECT_FALSE(json->responseObjectForResponse(ok, Bytes{'[', '1', ']', 0, 'x'}, &error));
    EXPECT_EQ(error->code(), 3840);

    // Bytes that are not text in the body's charset are a failure, not an empty answer.
    error.reset();
    EXPECT_FALSE(
        json->responseObjectForResponse(httpResponse(200, "application/json; charset=utf-8"),
                                        Bytes{'[', '"', 0xff, '"', ']'}, &error));
    ASSERT_TRUE(error);
    EXPECT_EQ(error->domain(), "com.razudude.error.serialization.response");
    EXPECT_EQ(error->code(), -1016);
    EXPECT_EQ(error->localizedDescription(), "Data failed decoding as a UTF-8 string");
    EXPECT_EQ(error->localizedFailureReason(), "Could not decode string: [\"\xef\xbf\xbd\"]");

    // The response's charset decides how the body reads; an unknown one falls back.
    RAZududeResponseObject latin =
        json->responseObjectForResponse(httpResponse(200, "application/json; charset=ISO-8859-1"),
                                        Bytes{'[', '"', 0xe9, '"', ']'}, &error);
    ASSERT_TRUE(latin.value());
    EXPECT_EQ((*latin.value())[0].stringValue(), "\xc3\xa9");
    RAZududeResponseObject unknown =
        json->responseObjectForResponse(httpResponse(200, "application/json; charset=x-nothing"),
                                        platform::toBytes("[\"\xc3\xa9\"]"), &error);
    EXPECT_EQ((*unknown.value())[0].stringValue(), "\xc3\xa9");

    // Fragments only when asked for.
    EXPECT_FALSE(json->responseObjectForResponse(ok, platform::toBytes("3"), nullptr));
    EXPECT_EQ(RAZududeJSONResponseSerializer::serializerWithReadingOptions(4)
                  ->responseObjectForResponse(ok, platform::toBytes("3"), nullptr)
                  .value()
                  ->integerValue(),
              3);
}

TEST(ResponseSerializer, NullMembersGoWhileNullElementsStay) {
    const Value object = *RAZududeRqJsonParser().objectWithString(
        R"({"a": [{"x": null, "y": 1}, null, [null]], "b": null, "c": {"d": {"e": null}}})");
    const Value cleaned = RAZududeRemoveNullValuesFromJSONObject(object, 0);
    EXPECT_EQ(*RAZududeRqJsonWriter().stringWithObject(cleaned),
              R"({"a":[{"y":1},null,[null]],"c":{"d":{}}})");

    auto json = RAZududeJSONResponseSerializer::serializer();
    json->setRemovesKeysWithNullValues(true);
    const auto parsed = json->responseObjectForResponse(httpResponse(200, "application/json"),
                                                        platform::toBytes("{\"k\":null}"), nullptr);
    EXPECT_EQ(parsed.value()->count(), 0u);
}

TEST(ResponseSerializer, PropertyListsFromPythonInEveryForm) {
    auto plist = RAZududePropertyListResponseSerializer::serializer();
    const auto ok = httpResponse(200, "application/x-plist");
    for (const char* format : {"plistlib.FMT_XML", "plistlib.FMT_BINARY"}) {
        const Bytes body = pythonBytes(std::string("plistlib.dumps({'a': [1, 'b', 2.5, True], "
                                                   "'d': b'\\x00\\x01'}, fmt=") +
                                       format + ")");
        OptionalError error;
        const auto object = plist->responseObjectForResponse(ok, body, &error);
        ASSERT_TRUE(object.value()) << format;
        EXPECT_FALSE(error);
        EXPECT_EQ((*object.value())["a"][1].stringValue(), "b");
        EXPECT_EQ(*(*object.value())["d"].bytes(), (Bytes{0, 1}));
    }
    OptionalError error;
    EXPECT_FALSE(plist->responseObjectForResponse(ok, platform::toBytes("<plist"), &error));
    ASSERT_TRUE(error);
    EXPECT_EQ(error->domain(), platform::kCocoaErrorDomain);
    EXPECT_FALSE(plist->responseObjectForResponse(ok, std::nullopt, &error));
}

TEST(ResponseSerializer, ImagesInflateUpToAMegapixel) {
    auto images = RAZududeImageResponseSerializer::serializer();
    images->setImageScale(2);
    const auto png = httpResponse(200, "image/png");
    OptionalError error;
    for (auto [width, height] : {std::pair{1024, 1024}, std::pair{2048, 1024}}) {
        const auto object = images->responseObjectForResponse(png, pngOf(width, height), &error);
        ASSERT_TRUE(object.image());
        EXPECT_EQ(object.image()->pixelWidth(), width);
        EXPECT_EQ(object.image()->pixelHeight(), height);
        EXPECT_EQ(object.image()->scale(), 2);
        EXPECT_EQ(object.image()->pixelRgba8(0, 0), 0x00ff00ffu);
    }
    EXPECT_FALSE(images->responseObjectForResponse(png, platform::toBytes("not a png"), &error));
    EXPECT_FALSE(error);
    EXPECT_FALSE(RAZududeInflatedImageFromResponseWithDataAtScale(png, Bytes(), 1));
    images->setAutomaticallyInflatesResponseImage(false);
    EXPECT_TRUE(images->responseObjectForResponse(png, pngOf(3, 3), &error).image());
    EXPECT_FALSE(
        images->responseObjectForResponse(httpResponse(200, "image/webp"), pngOf(3, 3), &error));
    EXPECT_EQ(error->code(), -1016);
}

TEST(ResponseSerializer, CompoundTakesTheFirstMemberThatMakesAnObject) {
    auto compound = RAZududeCompoundResponseSerializer::compoundSerializerWithResponseSerializers(
        {RAZududeJSONResponseSerializer::serializer(),
         RAZududeXMLParserResponseSerializer::serializer()});
    OptionalError error;
    const auto xml = compound->responseObjectForResponse(httpResponse(200, "text/xml"),
                                                         platform::toBytes("<a/>"), &error);
    ASSERT_TRUE(xml.XMLParser());
    EXPECT_EQ(network_test::textOf(xml.XMLParser()->data()), "<a/>");
    EXPECT_FALSE(error);

    const auto json = compound->responseObjectForResponse(httpResponse(200, "application/json"),
                                                          platform::toBytes("[7]"), &error);
    EXPECT_EQ((*json.value())[0].integerValue(), 7);

    // No member makes one: the body as it came.
    const auto raw = compound->responseObjectForResponse(httpResponse(200, "text/plain"),
                                                         platform::toBytes("plain"), &error);
    ASSERT_TRUE(raw.data());
    EXPECT_EQ(network_test::textOf(*raw.data()), "plain");
}

// Only the plain serializer may skip the processing queue: every other one, a subclass of it
// included, may do real work.
TEST(ResponseSerializer, OnlyThePlainSerializerHandsTheBodyOnAsIs) {
    struct Subclass : RAZududeHTTPResponseSerializer {};
    EXPECT_TRUE(RAZududeHTTPResponseSerializer::serializer()->handsBodyOnAsIs());
    EXPECT_FALSE(Subclass().handsBodyOnAsIs());
    EXPECT_FALSE(RAZududeJSONResponseSerializer::serializer()->handsBodyOnAsIs());
    EXPECT_FALSE(RAZududeImageResponseSerializer::serializer()->handsBodyOnAsIs());
    EXPECT_FALSE(RAZududeCompoundResponseSerializer::compoundSerializerWithResponseSerializers({})
                     ->handsBodyOnAsIs());
}

TEST(ResponseSerializer, ErrorChains) {
    const platform::Error top("top", 1);
    const platform::Error below("com.razudude.error.serialization.response", -1016);
    EXPECT_EQ(RAZududeChainUnderlyingError(std::nullopt, below)->domain(), below.domain());
    EXPECT_EQ(RAZududeChainUnderlyingError(top, std::nullopt)->domain(), "top");
    const auto chained = RAZududeChainUnderlyingError(top, below);
    EXPECT_EQ(chained->underlyingError()->code(), -1016);
    // An error that has an underlying one keeps it.
    EXPECT_EQ(RAZududeChainUnderlyingError(*chained, platform::Error("other", 2))
                  ->underlyingError()
                  ->domain(),
              below.domain());
    EXPECT_TRUE(RAZududeErrorChainHasCodeInDomain(*chained));
    EXPECT_FALSE(RAZududeErrorChainHasCodeInDomain(top));
}

TEST(ResponseSerializer, CopiesAndArchives) {
    RAZududeHTTPResponseSerializer::registerArchiveClasses();
    auto json = RAZududeJSONResponseSerializer::serializerWithReadingOptions(4);
    json->setRemovesKeysWithNullValues(true);
    json->setAcceptableContentTypes(RAZududeHTTPResponseSerializer::ContentTypes{"text/plain"});
    auto copy = std::dynamic_pointer_cast<RAZududeJSONResponseSerializer>(json->copy());
    EXPECT_EQ(copy->readingOptions(), 4u);
    EXPECT_TRUE(copy->removesKeysWithNullValues());
    EXPECT_TRUE(copy->acceptableContentTypes()->contains("application/json"));

    auto image = RAZududeImageResponseSerializer::serializer();
    image->setImageScale(3);
    image->setAutomaticallyInflatesResponseImage(false);
    auto base = RAZududeHTTPResponseSerializer::serializer();
    base->setAcceptableStatusCodes(std::nullopt);
    auto compound = RAZududeCompoundResponseSerializer::compoundSerializerWithResponseSerializers(
        {json, image, base});
    const auto archive = platform::KeyedArchiver::archivedData(platform::ArchiveObject(compound));
    ASSERT_TRUE(archive);
    const auto root = platform::KeyedUnarchiver::unarchiveObject(*archive);
    ASSERT_TRUE(root);
    auto restored = root->as<RAZududeCompoundResponseSerializer>();
    ASSERT_TRUE(restored);
    ASSERT_EQ(restored->responseSerializers().size(), 3u);
    auto restoredJson = std::dynamic_pointer_cast<RAZududeJSONResponseSerializer>(
        restored->responseSerializers()[0]);
    ASSERT_TRUE(restoredJson);
    EXPECT_EQ(restoredJson->readingOptions(), 4u);
    EXPECT_EQ(restoredJson->acceptableContentTypes(), json->acceptableContentTypes());
    auto restoredImage = std::dynamic_pointer_cast<RAZududeImageResponseSerializer>(
        restored->responseSerializers()[1]);
    EXPECT_EQ(restoredImage->imageScale(), 3);
    EXPECT_FALSE(restoredImage->automaticallyInflatesResponseImage());
    auto restoredBase = std::dynamic_pointer_cast<RAZududeHTTPResponseSerializer>(
        restored->responseSerializers()[2]);
    EXPECT_FALSE(restoredBase->acceptableStatusCodes());
    EXPECT_EQ(restored->acceptableStatusCodes()->size(), 100u);
}

namespace {

TEST(IndexSetTest, KeepsCodesAsMergedRanges) {
    RAZududeIndexSet set = RAZududeIndexSet::range(200, 100);
    EXPECT_TRUE(set.contains(200));
    EXPECT_TRUE(set.contains(299));
    EXPECT_FALSE(set.contains(300));
    EXPECT_FALSE(set.contains(199));
    EXPECT_EQ(set.size(), 100u);
    set.insert(301);
    set.insert(300);  // joins 200-299 and 301
    set.insert(404);
    set.insert(198);
    EXPECT_EQ(set.size(), 104u);
    EXPECT_FALSE(set.contains(199));
    set.insert(199);
    RAZududeIndexSet expected = RAZududeIndexSet::range(198, 104);
    expected.insert(404);
    EXPECT_EQ(set, expected);
    const std::vector<int> codes = set.codes();
    EXPECT_EQ(codes.front(), 198);
    EXPECT_EQ(codes[codes.size() - 2], 301);
    EXPECT_EQ(codes.back(), 404);
    EXPECT_EQ((RAZududeIndexSet{5, 3, 4, 9}).codes(), (std::vector<int>{3, 4, 5, 9}));
}

}  // namespace
