// Requests made by the serializers, sent by the platform's connection to the loopback HTTP peer
// that echoes what it received, and the echo read back by the JSON response serializer.
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <fstream>
#include <mutex>

#include "RZBase_Source/Encode/RAZududeBase64.h"
#include "SocialSDK/framework/network/RAZududeURLRequestSerialization.h"
#include "SocialSDK/framework/network/RAZududeURLResponseSerialization.h"
#include "platform/Bundle.h"
#include "platform/MainLoop.h"
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
    void didSendBodyData(platform::UrlConnection&, std::int64_t, std::int64_t total,
                         std::int64_t) override {
        sent = total;
    }
    void didFinishLoading(platform::UrlConnection&) override { end(std::nullopt); }
    void didFailWithError(platform::UrlConnection&, const platform::Error& e) override { end(e); }

    bool wait() {
        std::unique_lock lock(mutex_);
        return ended_.wait_for(lock, std::chrono::seconds(30), [&] { return done_; });
    }

    std::atomic<std::int64_t> sent{0};
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

// Counts the reads of the bytes it gives.
class CountedStream : public platform::InputStream {
  public:
    explicit CountedStream(Bytes bytes)
        : inner_(platform::InputStream::withData(std::move(bytes))) {}
    void open() override { inner_->open(); }
    void close() override { inner_->close(); }
    platform::StreamStatus streamStatus() const override { return inner_->streamStatus(); }
    std::optional<platform::Error> streamError() const override { return inner_->streamError(); }
    long read(std::uint8_t* buffer, std::size_t maxLength) override {
        ++reads;
        return inner_->read(buffer, maxLength);
    }
    bool hasBytesAvailable() const override { return inner_->hasBytesAvailable(); }

    std::atomic<int> reads{0};

  private:
    std::shared_ptr<platform::InputStream> inner_;
};

TEST(SerializersLoopback, AThrottledUploadHoldsUpNoOtherLoad) {
    auto peer = testing_support::PeerProcess::python("http_peer.py");
    auto serializer = RAZududeHTTPRequestSerializer::serializer();
    auto throttled = [&](double delay, std::shared_ptr<platform::InputStream> part,
                         std::size_t length = 200000) {
        return *serializer->multipartFormRequestWithMethod(
            "POST", peer.baseUrl() + "/upload", std::nullopt, [&](RAZududeMultipartFormData& form) {
                form.appendPartWithInputStream(part, "slow", "slow.bin", length,
                                               "application/octet-stream");
                form.throttleBandwidthWithPacketSize(1000, delay);
            });
    };
    // A packet a minute: once the first is read, the upload waits, and nothing else does.
    auto part = std::make_shared<CountedStream>(Bytes(200000, 't'));
    auto slow = std::make_shared<Load>();
    auto connection = platform::UrlConnection::create(throttled(60, part), slow);
    connection->start();
    ASSERT_TRUE(platform::MainLoop::main().runUntil([&] { return part->reads > 0; }, 20));
    auto quick = std::make_shared<Load>();
    platform::UrlConnection::create(
        platform::UrlRequest(*platform::Url::parse(peer.baseUrl() + "/bytes/10")), quick)
        ->start();
    EXPECT_TRUE(quick->wait());
    EXPECT_FALSE(quick->error);
    connection->cancel();

    // Paced in small steps it arrives whole.
    const auto request = throttled(0.01, platform::InputStream::withData(Bytes(200000, 't')));
    const auto paced = send(request);
    ASSERT_FALSE(paced->error);
    Bytes body;
    const Value reply = echoOf(*paced, body);
    EXPECT_EQ(std::to_string(reply["length"].intValue()),
              *request.valueForHttpHeaderField("Content-Length"));

    // A pace slower than the time-out is no idleness.
    auto patient = throttled(1.5, platform::InputStream::withData(Bytes(100000, 't')), 100000);
    patient.setTimeoutInterval(1);
    const auto waited = send(patient);
    EXPECT_FALSE(waited->error) << waited->error->description();
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
