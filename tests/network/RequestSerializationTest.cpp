// Request serializers against Python's urllib.parse, json, plistlib, base64 and email.
#include <gtest/gtest.h>

#include <fstream>

#include "RZBase_Source/Json/RAZududeRqJsonWriter.h"
#include "SocialSDK/framework/network/RAZududeURLRequestSerialization.h"
#include "platform/Bundle.h"
#include "platform/Device.h"
#include "platform/KeyedArchive.h"
#include "platform/MainLoop.h"
#include "platform/PropertyList.h"
#include "tests/network/NetworkTestSupport.h"

using network_test::pythonJson;
using network_test::textOf;
using platform::Bytes;
using platform::Map;
using platform::Value;

namespace {

std::string bodyText(const platform::UrlRequest& request) {
    return request.httpBody() ? textOf(*request.httpBody()) : std::string();
}

// Sets the main bundle and the languages for a test, and puts the defaults back after it.
class ScopedEnvironment {
  public:
    ScopedEnvironment() : languages_(platform::Bundle::preferredLanguages()) {}
    ~ScopedEnvironment() {
        platform::Bundle::setPreferredLanguages(languages_);
        platform::Bundle::setMainBundlePath({});
    }

  private:
    std::vector<std::string> languages_;
};

}  // namespace

TEST(QueryString, EscapingAndFlatteningReadBackThroughPython) {
    // Every ASCII character and some beyond, in fields and values.
    std::string ascii;
    for (int c = 1; c < 128; ++c) {
        ascii += static_cast<char>(c);
    }
    const Value parameters = Map{
        {"plain", ascii},
        {ascii, "key"},
        {"\xe5\x8c\x97\xe4\xba\xac", "caf\xc3\xa9 \xf0\x9f\x98\x80"},
        {"user", Map{{"name", "a&b=c"}, {"tags", platform::Array{"x", 2, 2.5, true}}}},
        {"flag", nullptr},
    };
    const auto query =
        RAZududeQueryStringFromParametersWithEncoding(parameters, rzs_network::kUTF8StringEncoding);
    ASSERT_TRUE(query);

    // Python quotes each side with the same literal sets, and reads the whole query back.
    platform::Array pairs;
    for (const auto& pair : RAZududeQueryStringPairsFromDictionary(parameters)) {
        pairs.push_back(platform::Array{
            *pair.field(), pair.value().isNull() ? Value() : Value(pair.value().description())});
    }
    const std::string input =
        *RAZududeRqJsonWriter().stringWithObject(Value(pairs)) + "\n" + *query;
    const Value result = pythonJson(R"(
import sys, json, urllib.parse
pairs_text, query = sys.stdin.read().split("\n", 1)
pairs = json.loads(pairs_text)
expected = "&".join(urllib.parse.quote(f, safe="-._~[]") +
                    ("" if v is None else "=" + urllib.parse.quote(v, safe="-._~"))
                    for f, v in pairs)
back = urllib.parse.parse_qsl(query, keep_blank_values=True)
print(json.dumps({"expected": expected,
                  "back": back == [(f, v or "") for f, v in pairs]}))
)",
                                    input);
    EXPECT_EQ(*query, result["expected"].stringValue());
    EXPECT_TRUE(result["back"].boolValue());
}

TEST(QueryString, FlattensMapsSortedArraysInOrderAndNullsBare) {
    auto query = [](const Value& parameters) {
        return *RAZududeQueryStringFromParametersWithEncoding(parameters,
                                                              rzs_network::kUTF8StringEncoding);
    };
    EXPECT_EQ(query(Map{{"b", 1}, {"a", Map{{"y", 2}, {"x", platform::Array{3, 4}}}}}),
              "a[x][]=3&a[x][]=4&a[y]=2&b=1");
    EXPECT_EQ(query(Map{{"b", 1}, {"B", 2}, {"a", 3}}), "B=2&a=3&b=1");
    EXPECT_EQ(query(Map{{"a.b[c]", "a.b[c]"}}), "a.b[c]=a.b%5Bc%5D");
    EXPECT_EQ(query(Map{{"flag", nullptr}}), "flag");
    EXPECT_EQ(query(Map{{"a", "x y+z/="}}), "a=x%20y%2Bz%2F%3D");

    // Other encodings escape their own bytes, and refuse what they cannot hold.
    EXPECT_EQ(*RAZududeQueryStringFromParametersWithEncoding(Map{{"k", "caf\xc3\xa9"}},
                                                             rzs_network::kISOLatin1StringEncoding),
              "k=caf%E9");
    EXPECT_FALSE(RAZududeQueryStringFromParametersWithEncoding(Map{{"k", "caf\xc3\xa9"}},
                                                               rzs_network::kASCIIStringEncoding));
}

TEST(RequestSerializer, ParametersGoIntoTheUrlOrTheFormBody) {
    RAZududeHTTPRequestSerializer serializer;
    auto get = [&](std::string_view url, const std::optional<Value>& parameters) {
        return serializer.requestWithMethod("GET", url, parameters)->url().absoluteString();
    };
    EXPECT_EQ(get("http://127.0.0.1/p", std::nullopt), "http://127.0.0.1/p");
    EXPECT_EQ(get("http://127.0.0.1/p", Map{}), "http://127.0.0.1/p?");
    EXPECT_EQ(get("http://127.0.0.1/p?x=1", Map{}), "http://127.0.0.1/p?x=1&");
    EXPECT_EQ(get("http://127.0.0.1/p?x=1", Map{{"a", 1}}), "http://127.0.0.1/p?x=1&a=1");
    // The query goes before a fragment, never after it.
    EXPECT_EQ(get("http://127.0.0.1/p#top", Map{{"a", 1}}), "http://127.0.0.1/p?a=1#top");
    EXPECT_EQ(get("http://127.0.0.1/p?x#top", Map{{"a", 1}}), "http://127.0.0.1/p?x&a=1#top");
    EXPECT_EQ(serializer.requestWithMethod("delete", "http://127.0.0.1/p", Map{{"a", 1}})
                  ->url()
                  .absoluteString(),
              "http://127.0.0.1/p?a=1");

    const auto post =
        serializer.requestWithMethod("POST", "http://127.0.0.1/p", Map{{"a", "x y+z/="}});
    EXPECT_EQ(post->httpMethod(), "POST");
    EXPECT_EQ(post->url().absoluteString(), "http://127.0.0.1/p");
    EXPECT_EQ(bodyText(*post), "a=x%20y%2Bz%2F%3D");
    EXPECT_EQ(*post->valueForHttpHeaderField("Content-Type"), "application/x-www-form-urlencoded");

    const auto bare = serializer.requestWithMethod("POST", "http://127.0.0.1/p", std::nullopt);
    EXPECT_FALSE(bare->httpBody());
    EXPECT_FALSE(bare->valueForHttpHeaderField("Content-Type"));
}

TEST(RequestSerializer, BadUrlsAndFailingQueryBlocksGiveErrorsNotRequests) {
    RAZududeHTTPRequestSerializer serializer;
    platform::Error error;
    EXPECT_FALSE(serializer.requestWithMethod("GET", "http://127.0.0.1/a b", Map{}, &error));
    EXPECT_EQ(error.domain(), "com.razudude.error.serialization.request");
    EXPECT_EQ(error.code(), -1000);
    EXPECT_EQ(error.userInfo()[platform::kUrlErrorFailingUrlStringErrorKey].stringValue(),
              "http://127.0.0.1/a b");
    EXPECT_FALSE(serializer.requestWithMethod("GET", "http://[::1", std::nullopt));

    serializer.setQueryStringSerializationWithBlock(
        [](const platform::UrlRequest& request, const Value& parameters,
           platform::Error& e) -> std::optional<std::string> {
            if (parameters["fail"].boolValue()) {
                e = platform::Error("test.query", 7);
                return std::nullopt;
            }
            return request.httpMethod() + "=" + parameters["v"].stringValue();
        });
    EXPECT_EQ(serializer.requestWithMethod("GET", "http://127.0.0.1/", Map{{"v", "1"}})
                  ->url()
                  .absoluteString(),
              "http://127.0.0.1/?GET=1");
    EXPECT_FALSE(
        serializer.requestWithMethod("GET", "http://127.0.0.1/", Map{{"fail", true}}, &error));
    EXPECT_EQ(error.domain(), "test.query");
    // A query that no URL can hold is refused too.
    EXPECT_FALSE(
        serializer.requestWithMethod("GET", "http://127.0.0.1/", Map{{"v", "a b"}}, &error));
    EXPECT_EQ(error.code(), -1000);

    serializer.setQueryStringSerializationWithStyle(
        RAZududeHTTPRequestSerializer::kRAZududeHTTPRequestQueryStringDefaultStyle);
    EXPECT_EQ(serializer.requestWithMethod("GET", "http://127.0.0.1/", Map{{"v", "a b"}})
                  ->url()
                  .absoluteString(),
              "http://127.0.0.1/?v=a%20b");
}

TEST(RequestSerializer, DefaultHeadersYieldToTheRequestsOwn) {
    ScopedEnvironment environment;
    platform::Bundle::setPreferredLanguages(
        {"en", "fr", "de", "ja", "zh-Hans", "ko", "it", "es", "pt", "ru"});
    RAZududeHTTPRequestSerializer serializer;
    EXPECT_EQ(*serializer.valueForHTTPHeaderField("Accept-Language"),
              "en;q=1, fr;q=0.9, de;q=0.8, ja;q=0.7, zh-Hans;q=0.6, ko;q=0.5");

    serializer.setValue("custom", "X-Custom");
    serializer.setValue("ours", "Content-Type");
    platform::UrlRequest own(*platform::Url::parse("http://127.0.0.1/"));
    own.setHttpMethod("POST");
    own.setValue("theirs", "content-type");
    own.setValue("agent/1", "User-Agent");
    const auto request = serializer.requestBySerializingRequest(own, Map{{"a", 1}});
    EXPECT_EQ(*request->valueForHttpHeaderField("Content-Type"), "theirs");
    EXPECT_EQ(*request->valueForHttpHeaderField("User-Agent"), "agent/1");
    EXPECT_EQ(*request->valueForHttpHeaderField("X-Custom"), "custom");
    serializer.setValue(std::nullopt, "X-Custom");
    EXPECT_FALSE(serializer.HTTPRequestHeaders().contains("X-Custom"));
}

TEST(RequestSerializer, UserAgentNamesTheAppAndDeviceInAscii) {
    ScopedEnvironment environment;
    testing_support::TempDir dir;
    ASSERT_TRUE(platform::PropertyList::writeFile(
        Map{{"CFBundleExecutable", "\xe5\x88\x86\xe4\xba\xab Caf\xc3\xa9"},
            {"CFBundleShortVersionString", "2.1"}},
        dir.path() / "Info.plist", platform::PropertyList::Format::kXml));
    platform::Bundle::setMainBundlePath(dir.path());
    platform::DeviceProfile device;
    device.model = "iPad";
    device.systemVersion = "8.4";
    device.screenScale = 3;
    platform::ScopedDeviceProfile profile(device);
    RAZududeHTTPRequestSerializer serializer;
    EXPECT_EQ(*serializer.valueForHTTPHeaderField("User-Agent"),
              "fen xiang Cafe/2.1 (iPad; iOS 8.4; Scale/3.00)");
}

TEST(RequestSerializer, RequestSettingsApplyOnlyOnceSet) {
    RAZududeHTTPRequestSerializer serializer;
    auto request = serializer.requestWithMethod("GET", "http://127.0.0.1/", std::nullopt);
    EXPECT_EQ(request->timeoutInterval(), platform::UrlRequest::kDefaultTimeoutInterval);
    EXPECT_TRUE(request->allowsCellularAccess());
    EXPECT_TRUE(request->httpShouldHandleCookies());

    serializer.setTimeoutInterval(60);
    serializer.setAllowsCellularAccess(false);
    serializer.setHTTPShouldHandleCookies(false);
    serializer.setCachePolicy(platform::UrlRequestCachePolicy::kReloadIgnoringLocalCacheData);
    request = serializer.requestWithMethod("GET", "http://127.0.0.1/", std::nullopt);
    EXPECT_EQ(request->timeoutInterval(), 60);
    EXPECT_FALSE(request->allowsCellularAccess());
    EXPECT_FALSE(request->httpShouldHandleCookies());
    EXPECT_EQ(request->cachePolicy(),
              platform::UrlRequestCachePolicy::kReloadIgnoringLocalCacheData);
    EXPECT_FALSE(request->httpShouldUsePipelining());
    EXPECT_EQ(serializer.observedChangedKeyPaths().size(), 4u);
}

TEST(RequestSerializer, AuthorizationHeaders) {
    RAZududeHTTPRequestSerializer serializer;
    serializer.setAuthorizationHeaderFieldWithUsername("\xe7\x94\xa8\xe6\x88\xb7", "p:ss w0rd");
    const Value expected = pythonJson(
        "import base64, json\n"
        "print(json.dumps('Basic ' + base64.b64encode('\\u7528\\u6237:p:ss "
        "w0rd'.encode()).decode()))\n");
    EXPECT_EQ(*serializer.valueForHTTPHeaderField("Authorization"), expected.stringValue());
    serializer.setAuthorizationHeaderFieldWithToken("abc");
    EXPECT_EQ(*serializer.valueForHTTPHeaderField("Authorization"), "Token token=\"abc\"");
    serializer.clearAuthorizationHeader();
    EXPECT_FALSE(serializer.valueForHTTPHeaderField("Authorization"));
}

TEST(RequestSerializer, JsonAndPropertyListBodiesReadBackInPython) {
    const Value parameters = Map{{"name", "\xe4\xb8\xad x"},
                                 {"n", 3},
                                 {"r", 2.5},
                                 {"ok", true},
                                 {"list", platform::Array{1, "two", Map{{"k", "v"}}}}};
    const std::string expected =
        R"({"name": "\u4e2d x", "n": 3, "r": 2.5, "ok": true, "list": [1, "two", {"k": "v"}]})";

    auto json = RAZududeJSONRequestSerializer::serializerWithWritingOptions(
        RAZududeJSONRequestSerializer::kJSONWritingPrettyPrinted);
    auto request = json->requestWithMethod("POST", "http://127.0.0.1/", parameters);
    EXPECT_EQ(*request->valueForHttpHeaderField("Content-Type"), "application/json");
    EXPECT_EQ(pythonJson("import sys, json\nprint(json.dumps(json.loads(sys.stdin.read()) == " +
                             std::string("json.loads('") + expected + "')))",
                         bodyText(*request))
                  .boolValue(),
              true);
    // GET still puts the parameters into the URL.
    EXPECT_EQ(json->requestWithMethod("GET", "http://127.0.0.1/", Map{{"a", 1}})->url().query(),
              "a=1");
    platform::Error error;
    EXPECT_FALSE(
        json->requestWithMethod("POST", "http://127.0.0.1/", Map{{"b", Bytes{1}}}, &error));
    EXPECT_FALSE(error.domain().empty());

    for (auto format : {RAZududePropertyListRequestSerializer::kPropertyListXMLFormat,
                        RAZududePropertyListRequestSerializer::kPropertyListBinaryFormat}) {
        auto plist = RAZududePropertyListRequestSerializer::serializerWithFormat(format, 0);
        request = plist->requestWithMethod("PUT", "http://127.0.0.1/", parameters);
        EXPECT_EQ(*request->valueForHttpHeaderField("Content-Type"), "application/x-plist");
        EXPECT_TRUE(pythonJson("import sys, json, plistlib\n"
                               "print(json.dumps(plistlib.loads(sys.stdin.buffer.read()) == "
                               "json.loads('" +
                                   expected + "')))",
                               bodyText(*request))
                        .boolValue());
    }
    // A property list holds no null.
    EXPECT_FALSE(RAZududePropertyListRequestSerializer::serializer()->requestWithMethod(
        "POST", "http://127.0.0.1/", Map{{"n", nullptr}}, &error));
    EXPECT_EQ(error.domain(), platform::kCocoaErrorDomain);
}

TEST(RequestSerializer, MultipartRequestsRefuseGetAndHead) {
    RAZududeHTTPRequestSerializer serializer;
    for (const char* method : {"GET", "HEAD"}) {
        try {
            serializer.multipartFormRequestWithMethod(method, "http://127.0.0.1/", std::nullopt,
                                                      nullptr);
            ADD_FAILURE() << method;
        } catch (const std::invalid_argument& e) {
            EXPECT_STREQ(e.what(),
                         "Invalid parameter not satisfying: ![method isEqualToString:@\"GET\"] && "
                         "![method isEqualToString:@\"HEAD\"]");
        }
    }
    // The parameters never reach the URL.
    const auto request = serializer.multipartFormRequestWithMethod(
        "POST", "http://127.0.0.1/up?x=1", Map{{"a", 1}}, nullptr);
    EXPECT_EQ(request->url().absoluteString(), "http://127.0.0.1/up?x=1");
}

TEST(RequestSerializer, CopiesAndArchivesCarryHeadersStyleAndOptions) {
    RAZududeHTTPRequestSerializer::registerArchiveClasses();
    auto json = RAZududeJSONRequestSerializer::serializerWithWritingOptions(3);
    json->setValue("v", "X-Kept");
    json->setStringEncoding(rzs_network::kISOLatin1StringEncoding);
    json->setTimeoutInterval(5);
    json->setQueryStringSerializationWithBlock(
        [](const platform::UrlRequest&, const Value&, platform::Error&) {
            return std::optional<std::string>("q");
        });

    auto copy = std::dynamic_pointer_cast<RAZududeJSONRequestSerializer>(json->copy());
    ASSERT_TRUE(copy);
    EXPECT_EQ(copy->writingOptions(), 3u);
    EXPECT_EQ(*copy->valueForHTTPHeaderField("X-Kept"), "v");
    EXPECT_EQ(copy->stringEncoding(), rzs_network::kUTF8StringEncoding);
    EXPECT_TRUE(copy->observedChangedKeyPaths().empty());
    EXPECT_EQ(copy->requestWithMethod("GET", "http://127.0.0.1/", Map{})->url().query(), "q");

    const auto archive = platform::KeyedArchiver::archivedData(platform::ArchiveObject(json));
    ASSERT_TRUE(archive);
    const auto root = platform::KeyedUnarchiver::unarchiveObject(*archive);
    ASSERT_TRUE(root);
    auto restored = root->as<RAZududeJSONRequestSerializer>();
    ASSERT_TRUE(restored);
    EXPECT_EQ(restored->writingOptions(), 3u);
    EXPECT_EQ(restored->HTTPRequestHeaders(), json->HTTPRequestHeaders());

    auto plist = RAZududePropertyListRequestSerializer::serializerWithFormat(200, 9);
    const auto plistRoot = platform::KeyedUnarchiver::unarchiveObject(
        *platform::KeyedArchiver::archivedData(platform::ArchiveObject(plist)));
    auto restoredPlist = plistRoot->as<RAZududePropertyListRequestSerializer>();
    ASSERT_TRUE(restoredPlist);
    EXPECT_EQ(restoredPlist->format(), 200u);
    EXPECT_EQ(restoredPlist->writeOptions(), 9u);
}

TEST(RequestSerializer, StreamsAMultipartBodyIntoAFileAndReportsOnTheMainQueue) {
    testing_support::TempDir dir;
    RAZududeHTTPRequestSerializer serializer;
    const Bytes picture(100000, 0x5a);
    auto multipart = serializer.multipartFormRequestWithMethod(
        "POST", "http://127.0.0.1/up", Map{{"ud_post", "cipher"}},
        [&](RAZududeMultipartFormData& form) {
            form.appendPartWithFileData(picture, "pic", "pic.jpg", "file-data");
        });
    ASSERT_TRUE(multipart);

    std::optional<std::optional<platform::Error>> outcome;
    const auto path = dir.path() / "body";
    const platform::UrlRequest stripped = serializer.requestWithMultipartFormRequest(
        *multipart, platform::Url::fileUrl(path),
        [&](const std::optional<platform::Error>& error) { outcome = error; });
    EXPECT_FALSE(stripped.httpBodyStream());
    ASSERT_TRUE(platform::MainLoop::main().runUntil([&] { return outcome.has_value(); }, 10));
    EXPECT_FALSE(*outcome);

    std::ifstream in(path, std::ios::binary);
    const std::string written((std::istreambuf_iterator<char>(in)), {});
    EXPECT_EQ(std::to_string(written.size()),
              *multipart->valueForHttpHeaderField("Content-Length"));
    const auto parsed = network_test::parseMultipart(
        *multipart->valueForHttpHeaderField("Content-Type"), platform::toBytes(written));
    ASSERT_EQ(parsed.parts.size(), 2u);
    EXPECT_EQ(parsed.parts[1].payload, picture);

    // A file that cannot be made, and a body that cannot be read, are failures.
    auto again = serializer.multipartFormRequestWithMethod("POST", "http://127.0.0.1/up",
                                                           Map{{"a", 1}}, nullptr);
    outcome.reset();
    serializer.requestWithMultipartFormRequest(
        *again, platform::Url::fileUrl(dir.path() / "no" / "such" / "folder"),
        [&](const std::optional<platform::Error>& error) { outcome = error; });
    ASSERT_TRUE(platform::MainLoop::main().runUntil([&] { return outcome.has_value(); }, 10));
    EXPECT_TRUE(*outcome);

    // A device that takes writes but cannot keep them: the bytes never land, and that is said.
    if (std::filesystem::exists("/dev/full")) {
        auto full = serializer.multipartFormRequestWithMethod("POST", "http://127.0.0.1/up",
                                                              Map{{"a", 1}}, nullptr);
        outcome.reset();
        serializer.requestWithMultipartFormRequest(
            *full, platform::Url::fileUrl("/dev/full"),
            [&](const std::optional<platform::Error>& error) { outcome = error; });
        ASSERT_TRUE(platform::MainLoop::main().runUntil([&] { return outcome.has_value(); }, 10));
        ASSERT_TRUE(*outcome);
        EXPECT_EQ((*outcome)->code(), ENOSPC);
    }

    std::ofstream(dir.path() / "gone") << "x";
    auto broken = serializer.multipartFormRequestWithMethod(
        "POST", "http://127.0.0.1/up", std::nullopt, [&](RAZududeMultipartFormData& form) {
            platform::Error error;
            ASSERT_TRUE(form.appendPartWithFileURL(platform::Url::fileUrl(dir.path() / "gone"), "f",
                                                   &error));
        });
    std::filesystem::remove(dir.path() / "gone");
    outcome.reset();
    serializer.requestWithMultipartFormRequest(
        *broken, platform::Url::fileUrl(dir.path() / "out"),
        [&](const std::optional<platform::Error>& error) { outcome = error; });
    ASSERT_TRUE(platform::MainLoop::main().runUntil([&] { return outcome.has_value(); }, 10));
    ASSERT_TRUE(*outcome);
    EXPECT_EQ((*outcome)->domain(), platform::kPosixErrorDomain);

    platform::UrlRequest plain(*platform::Url::parse("http://127.0.0.1/"));
    EXPECT_THROW(
        serializer.requestWithMultipartFormRequest(plain, platform::Url::fileUrl(path), nullptr),
        std::invalid_argument);
    EXPECT_THROW(serializer.requestWithMultipartFormRequest(
                     *multipart, *platform::Url::parse("http://127.0.0.1/f"), nullptr),
                 std::invalid_argument);
}
