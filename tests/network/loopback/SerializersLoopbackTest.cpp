// Requests made by the serializers, sent by the platform's connection to the loopback HTTP peer
// that echoes what it received, and the echo read back by the JSON response serializer.
#include <gtest/gtest.h>

#include <condition_variable>
#include <fstream>
#include <mutex>

#include "RZBase_Source/Encode/RAZududeBase64.h"
#include "SocialSDK/framework/network/RAZududeURLRequestSerialization.h"
#include "SocialSDK/framework/network/RAZududeURLResponseSerialization.h"
#include "platform/Bundle.h"
#include "platform/net/UrlConnection.h"
#include "tests/network/NetworkTestSupport.h"
#include "tests/support/PeerProcess.h"

namespace {

using platform::Bytes;
using platform::Map;
using platform::Value;

// Collects one load: the response, its body, and how it ended.
class Load : public platform::UrlConnectionDelegate {
  public:
    void didReceiveResponse(platform::UrlConnection&,
                            const std::shared_ptr<const platform::UrlResponse>& r) override {
        std::lock_guard lock(mutex_);
        response = r;
    }
    void didReceiveData(platform::UrlConnection&, std::span<const std::uint8_t> bytes) override {
        std::lock_guard lock(mutex_);
        data.insert(data.end(), bytes.begin(), bytes.end());
    }
    void didFinishLoading(platform::UrlConnection&) override { end(std::nullopt); }
    void didFailWithError(platform::UrlConnection&, const platform::Error& e) override { end(e); }

    bool wait() {
        std::unique_lock lock(mutex_);
        return ended_.wait_for(lock, std::chrono::seconds(30), [&] { return done_; });
    }

    std::shared_ptr<const platform::UrlResponse> response;
    Bytes data;
    std::optional<platform::Error> error;

  private:
    void end(std::optional<platform::Error> e) {
        std::lock_guard lock(mutex_);
        error = std::move(e);
        done_ = true;
        ended_.notify_all();
    }
    std::mutex mutex_;
    std::condition_variable ended_;
    bool done_ = false;
};

std::shared_ptr<Load> send(const platform::UrlRequest& request) {
    auto load = std::make_shared<Load>();
    platform::UrlConnection::create(request, load)->start();
    EXPECT_TRUE(load->wait());
    return load;
}

// The echo as a value: method, path, headers and the body (decoded).
Value echoOf(const Load& load, Bytes& body) {
    std::optional<platform::Error> error;
    const RAZududeResponseObject object =
        RAZududeJSONResponseSerializer::serializer()->responseObjectForResponse(load.response,
                                                                                load.data, &error);
    EXPECT_FALSE(error) << error->description();
    if (!object.value()) {
        ADD_FAILURE() << "no echo";
        return {};
    }
    body = RAZududeBase64::decodeString((*object.value())["body"].stringValue()).value_or(Bytes());
    return *object.value();
}

std::string headerOf(const Value& echo, std::string_view name) {
    for (const Value& pair :
         echo["headers"].array() ? *echo["headers"].array() : platform::Array()) {
        if (pair[0].stringValue() == name) {
            return pair[1].stringValue();
        }
    }
    return {};
}

}  // namespace

TEST(SerializersLoopback, AMultipartUploadArrivesWholeAndParsesBack) {
    auto peer = testing_support::PeerProcess::python("http_peer.py");
    testing_support::TempDir dir;
    Bytes photo(300000);
    for (std::size_t i = 0; i < photo.size(); ++i) {
        photo[i] = static_cast<std::uint8_t>(i * 7);
    }
    std::ofstream(dir.path() / "photo.jpg", std::ios::binary) << network_test::textOf(photo);

    auto serializer = RAZududeHTTPRequestSerializer::serializer();
    const auto request = serializer->multipartFormRequestWithMethod(
        "POST", peer.baseUrl() + "/echo", Map{{"ud_post", "cipher text"}},
        [&](RAZududeMultipartFormData& form) {
            platform::Error error;
            ASSERT_TRUE(form.appendPartWithFileURL(platform::Url::fileUrl(dir.path() / "photo.jpg"),
                                                   "pic", "pic.jpg", "file-data", &error));
            form.appendPartWithInputStream(platform::InputStream::withData(Bytes(5000, 's')),
                                           "stream", "s.bin", 5000, "application/octet-stream");
        });
    ASSERT_TRUE(request);
    const auto load = send(*request);
    ASSERT_FALSE(load->error) << load->error->description();
    Bytes body;
    const Value echo = echoOf(*load, body);
    EXPECT_EQ(headerOf(echo, "Content-Length"),
              *request->valueForHttpHeaderField("Content-Length"));
    EXPECT_EQ(std::to_string(body.size()), *request->valueForHttpHeaderField("Content-Length"));

    const auto parsed = network_test::parseMultipart(headerOf(echo, "Content-Type"), body);
    ASSERT_EQ(parsed.parts.size(), 3u);
    EXPECT_EQ(network_test::textOf(parsed.parts[0].payload), "cipher text");
    EXPECT_EQ(parsed.parts[1].filename.stringValue(), "pic.jpg");
    EXPECT_EQ(parsed.parts[1].payload, photo);
    EXPECT_EQ(parsed.parts[2].payload, Bytes(5000, 's'));
}

TEST(SerializersLoopback, APartThatFallsShortFailsTheUploadInsteadOfSendingLess) {
    auto peer = testing_support::PeerProcess::python("http_peer.py");
    auto serializer = RAZududeHTTPRequestSerializer::serializer();
    const auto request = serializer->multipartFormRequestWithMethod(
        "POST", peer.baseUrl() + "/echo", std::nullopt, [&](RAZududeMultipartFormData& form) {
            form.appendPartWithInputStream(platform::InputStream::withData(Bytes(100, 's')),
                                           "stream", "s.bin", 1000, "application/octet-stream");
        });
    const auto load = send(*request);
    ASSERT_TRUE(load->error);
    EXPECT_EQ(load->error->domain(), platform::kUrlErrorDomain);
    EXPECT_EQ(load->error->code(), -1021);
}

TEST(SerializersLoopback, QueriesReachTheServerAndFragmentsStayHome) {
    auto peer = testing_support::PeerProcess::python("http_peer.py");
    auto serializer = RAZududeHTTPRequestSerializer::serializer();
    const auto request = serializer->requestWithMethod("GET", peer.baseUrl() + "/echo?x=1#frag",
                                                       Map{{"b", "x y"}, {"a", 1}});
    ASSERT_TRUE(request);
    const auto load = send(*request);
    ASSERT_FALSE(load->error);
    Bytes body;
    const Value echo = echoOf(*load, body);
    EXPECT_EQ(echo["path"].stringValue(), "/echo?x=1&a=1&b=x%20y");
    EXPECT_FALSE(headerOf(echo, "User-Agent").empty());
    if (!platform::Bundle::preferredLanguages().empty()) {
        EXPECT_EQ(headerOf(echo, "Accept-Language"),
                  *serializer->valueForHTTPHeaderField("Accept-Language"));
    }
}
