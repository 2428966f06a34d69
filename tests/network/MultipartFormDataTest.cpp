// Multipart bodies as Python's email package reads them, byte for byte, and the body stream's
// behaviour when a part cannot deliver what it promised.
#include <gtest/gtest.h>

#include <fstream>
#include <random>
#include <regex>
#include <thread>

#include "SocialSDK/framework/network/RAZududeMultipartFormData.h"
#include "SocialSDK/framework/network/RAZududeURLRequestSerialization.h"
#include "tests/network/NetworkTestSupport.h"

using network_test::parseMultipart;
using network_test::readAll;
using network_test::textOf;
using platform::Bytes;

namespace {

Bytes randomBytes(std::size_t n, unsigned seed) {
    std::mt19937 generator(seed);
    Bytes bytes(n);
    for (auto& b : bytes) {
        b = static_cast<std::uint8_t>(generator());
    }
    return bytes;
}

platform::UrlRequest postRequest() {
    platform::UrlRequest request(*platform::Url::parse("http://127.0.0.1/upload"));
    request.setHttpMethod("POST");
    return request;
}

// A stream that hands out its data, then misbehaves as told: fails, or keeps reading nothing
// without ever reaching its end.
class ScriptedStream : public platform::InputStream {
  public:
    enum class Then { kEnd, kFail, kStall };
    ScriptedStream(Bytes data, Then then) : data_(std::move(data)), then_(then) {}

    void open() override { status_ = platform::StreamStatus::kOpen; }
    void close() override { status_ = platform::StreamStatus::kClosed; }
    platform::StreamStatus streamStatus() const override { return status_; }
    std::optional<platform::Error> streamError() const override { return error_; }
    bool hasBytesAvailable() const override { return status_ == platform::StreamStatus::kOpen; }
    long read(std::uint8_t* buffer, std::size_t maxLength) override {
        ++reads;
        if (offset_ < data_.size()) {
            const std::size_t n = std::min(maxLength, data_.size() - offset_);
            std::copy_n(data_.begin() + static_cast<long>(offset_), n, buffer);
            offset_ += n;
            return static_cast<long>(n);
        }
        switch (then_) {
            case Then::kEnd:
                status_ = platform::StreamStatus::kAtEnd;
                return 0;
            case Then::kFail:
                status_ = platform::StreamStatus::kError;
                error_ = platform::Error("test.stream", 42);
                return -1;
            case Then::kStall:
                return 0;
        }
        return 0;
    }

    int reads = 0;

  private:
    Bytes data_;
    Then then_;
    std::size_t offset_ = 0;
    platform::StreamStatus status_ = platform::StreamStatus::kNotOpen;
    std::optional<platform::Error> error_;
};

}  // namespace

TEST(MultipartFormData, PythonReadsEveryPartByteForByteWhateverTheReadSizes) {
    testing_support::TempDir dir;
    const Bytes fileBytes = randomBytes(70000, 1);
    std::ofstream(dir.path() / "photo.png", std::ios::binary) << textOf(fileBytes);
    const Bytes picture = randomBytes(5000, 2);

    auto serializer = RAZududeHTTPRequestSerializer::serializer();
    const auto request = serializer->multipartFormRequestWithMethod(
        "POST", "http://127.0.0.1/upload",
        platform::Map{{"ud_post", "x y+z"},
                      {"count", 42},
                      {"tags", platform::Array{"a", "\xe4\xb8\xad"}},
                      {"raw", Bytes{0, 1, 2, 255}},
                      {"none", nullptr}},
        [&](RAZududeMultipartFormData& form) {
            form.appendPartWithFileData(picture, "pic", "pic.jpg", "file-data");
            platform::Error error;
            ASSERT_TRUE(form.appendPartWithFileURL(platform::Url::fileUrl(dir.path() / "photo.png"),
                                                   "photo", &error));
        });
    ASSERT_TRUE(request);
    const std::string contentType = *request->valueForHttpHeaderField("Content-Type");
    auto stream = std::dynamic_pointer_cast<RAZududeMultipartBodyStream>(request->httpBodyStream());
    ASSERT_TRUE(stream);

    for (const std::vector<std::size_t>& sizes :
         std::vector<std::vector<std::size_t>>{{1}, {7, 64, 3}, {1024}, {1 << 20}}) {
        auto copy = stream->copy();
        const Bytes body = readAll(*copy, sizes);
        ASSERT_EQ(std::to_string(body.size()), *request->valueForHttpHeaderField("Content-Length"));

        const auto parsed = parseMultipart(contentType, body);
        EXPECT_TRUE(parsed.multipart);
        EXPECT_TRUE(parsed.defects.empty());
        ASSERT_EQ(parsed.parts.size(), 8u);
        const std::vector<std::pair<std::string, std::string>> texts = {
            {"count", "42"},
            {"none", ""},
            {"raw", std::string("\0\1\2\xff", 4)},
            {"tags[]", "a"},
            {"tags[]", "\xe4\xb8\xad"},
            {"ud_post", "x y+z"}};
        for (std::size_t i = 0; i < texts.size(); ++i) {
            EXPECT_EQ(parsed.parts[i].name.stringValue(), texts[i].first);
            EXPECT_TRUE(parsed.parts[i].filename.isNull());
            EXPECT_EQ(textOf(parsed.parts[i].payload), texts[i].second);
        }
        EXPECT_EQ(parsed.parts[6].name.stringValue(), "pic");
        EXPECT_EQ(parsed.parts[6].filename.stringValue(), "pic.jpg");
        EXPECT_EQ(parsed.parts[6].type.stringValue(), "file-data");
        EXPECT_EQ(parsed.parts[6].payload, picture);
        EXPECT_EQ(parsed.parts[7].name.stringValue(), "photo");
        EXPECT_EQ(parsed.parts[7].filename.stringValue(), "photo.png");
        EXPECT_EQ(parsed.parts[7].type.stringValue(), "");
        EXPECT_EQ(parsed.parts[7].payload, fileBytes);
    }
}

TEST(MultipartFormData, OnePartIsBoundaryHeadersDataAndTheClosingBoundary) {
    RAZududeStreamingMultipartFormData form(postRequest(), rzs_network::kUTF8StringEncoding);
    form.appendPartWithFormData(platform::toBytes("value"), "field");
    const platform::UrlRequest request = form.requestByFinalizingMultipartFormData();
    const std::string& b = form.boundary();
    const std::string expected = "--" + b +
                                 "\r\nContent-Disposition: form-data; name=\"field\"\r\n\r\n"
                                 "value\r\n--" +
                                 b + "--\r\n";
    EXPECT_EQ(textOf(readAll(*request.httpBodyStream(), {5})), expected);
    EXPECT_EQ(*request.valueForHttpHeaderField("Content-Length"), std::to_string(expected.size()));
    EXPECT_EQ(*request.valueForHttpHeaderField("Content-Type"),
              "multipart/form-data; boundary=" + b);

    // A second part opens with the encapsulation boundary; only the last one closes the body.
    RAZududeStreamingMultipartFormData two(postRequest(), rzs_network::kUTF8StringEncoding);
    two.appendPartWithFormData(platform::toBytes("1"), "a");
    two.appendPartWithFormData(platform::toBytes("2"), "b");
    const std::string body =
        textOf(readAll(*two.requestByFinalizingMultipartFormData().httpBodyStream()));
    const std::string& b2 = two.boundary();
    EXPECT_EQ(body, "--" + b2 + "\r\nContent-Disposition: form-data; name=\"a\"\r\n\r\n1\r\n--" +
                        b2 + "\r\nContent-Disposition: form-data; name=\"b\"\r\n\r\n2\r\n--" + b2 +
                        "--\r\n");
}

TEST(MultipartFormData, BuilderWithoutPartsLeavesTheRequestAloneAndBoundariesAreFresh) {
    platform::UrlRequest original = postRequest();
    original.setValue("text/plain", "Content-Type");
    RAZududeStreamingMultipartFormData form(original, rzs_network::kUTF8StringEncoding);
    const platform::UrlRequest request = form.requestByFinalizingMultipartFormData();
    EXPECT_FALSE(request.httpBodyStream());
    EXPECT_EQ(*request.valueForHttpHeaderField("Content-Type"), "text/plain");
    EXPECT_FALSE(request.valueForHttpHeaderField("Content-Length"));

    RAZududeStreamingMultipartFormData other(original, rzs_network::kUTF8StringEncoding);
    EXPECT_TRUE(std::regex_match(form.boundary(), std::regex("Boundary\\+[0-9A-F]{16}")));
    EXPECT_NE(form.boundary(), other.boundary());
}

TEST(MultipartFormData, FilePartsThatCannotBeReadAreRefusedWithTheirReason) {
    testing_support::TempDir dir;
    RAZududeStreamingMultipartFormData form(postRequest(), rzs_network::kUTF8StringEncoding);
    platform::Error error;
    EXPECT_FALSE(
        form.appendPartWithFileURL(*platform::Url::parse("http://127.0.0.1/a.png"), "f", &error));
    EXPECT_EQ(error.domain(), "com.razudude.error.serialization.request");
    EXPECT_EQ(error.code(), -1000);
    EXPECT_EQ(error.localizedFailureReason(), "Expected URL to be a file URL");

    EXPECT_FALSE(form.appendPartWithFileURL(platform::Url::fileUrl(dir.path() / "missing.png"), "f",
                                            "missing.png", "image/png", &error));
    EXPECT_EQ(error.code(), -1000);
    EXPECT_EQ(error.localizedFailureReason(), "File URL not reachable.");

    EXPECT_FALSE(form.appendPartWithFileURL(platform::Url::fileUrl(dir.path()), "f", &error));
    EXPECT_EQ(error.domain(), platform::kPosixErrorDomain);
    EXPECT_TRUE(form.bodyStream()->isEmpty());
}

TEST(MultipartFormData, APartThatCannotBeReadFailsTheBodyInsteadOfShorteningIt) {
    testing_support::TempDir dir;
    auto build = [](auto add) {
        RAZududeStreamingMultipartFormData form(postRequest(), rzs_network::kUTF8StringEncoding);
        form.appendPartWithFormData(platform::toBytes("before"), "a");
        add(form);
        form.appendPartWithFormData(platform::toBytes("after"), "z");
        return form.requestByFinalizingMultipartFormData().httpBodyStream();
    };
    auto readUntilFailure = [](platform::InputStream& stream) {
        stream.open();
        std::uint8_t buffer[100];
        long n = 0;
        for (int i = 0; i < 10000 && (n = stream.read(buffer, sizeof buffer)) > 0; ++i) {
        }
        return n;
    };

    // The part's stream fails: its error is the body's.
    auto failing = std::make_shared<ScriptedStream>(Bytes(300, 'x'), ScriptedStream::Then::kFail);
    auto body = build(
        [&](auto& form) { form.appendPartWithInputStream(failing, "s", "s.bin", 1000, "a/b"); });
    EXPECT_EQ(readUntilFailure(*body), -1);
    EXPECT_EQ(body->streamStatus(), platform::StreamStatus::kError);
    ASSERT_TRUE(body->streamError());
    EXPECT_EQ(body->streamError()->domain(), "test.stream");
    std::uint8_t byte;
    EXPECT_EQ(body->read(&byte, 1), -1);

    // It ends before its declared length.
    auto shortStream =
        std::make_shared<ScriptedStream>(Bytes(300, 'x'), ScriptedStream::Then::kEnd);
    body = build([&](auto& form) {
        form.appendPartWithInputStream(shortStream, "s", "s.bin", 1000, "a/b");
    });
    EXPECT_EQ(readUntilFailure(*body), -1);
    EXPECT_EQ(body->streamError()->domain(), platform::kUrlErrorDomain);
    EXPECT_EQ(body->streamError()->code(), -1021);

    // It reads nothing without ever ending: a failure, not a spin.
    auto stalling = std::make_shared<ScriptedStream>(Bytes(10, 'x'), ScriptedStream::Then::kStall);
    body = build(
        [&](auto& form) { form.appendPartWithInputStream(stalling, "s", "s.bin", 20, "a/b"); });
    EXPECT_EQ(readUntilFailure(*body), -1);
    EXPECT_EQ(body->streamError()->code(), -1021);
    EXPECT_LT(stalling->reads, 5);

    // The file went away after it was added.
    std::ofstream(dir.path() / "gone.bin") << "soon gone";
    body = build([&](auto& form) {
        platform::Error error;
        ASSERT_TRUE(form.appendPartWithFileURL(platform::Url::fileUrl(dir.path() / "gone.bin"), "f",
                                               &error));
    });
    std::filesystem::remove(dir.path() / "gone.bin");
    EXPECT_EQ(readUntilFailure(*body), -1);
    EXPECT_EQ(body->streamError()->domain(), platform::kPosixErrorDomain);
}

TEST(MultipartFormData, AStreamLongerThanDeclaredIsCutAtItsLength) {
    RAZududeStreamingMultipartFormData form(postRequest(), rzs_network::kUTF8StringEncoding);
    const Bytes data = randomBytes(5000, 3);
    form.appendPartWithInputStream(platform::InputStream::withData(data), "s", "s.bin", 1234,
                                   "application/octet-stream");
    form.appendPartWithFormData(platform::toBytes("tail"), "t");
    const platform::UrlRequest request = form.requestByFinalizingMultipartFormData();
    const Bytes body = readAll(*request.httpBodyStream(), {333});
    EXPECT_EQ(std::to_string(body.size()), *request.valueForHttpHeaderField("Content-Length"));
    const auto parsed = parseMultipart(*request.valueForHttpHeaderField("Content-Type"), body);
    ASSERT_EQ(parsed.parts.size(), 2u);
    EXPECT_EQ(parsed.parts[0].payload, Bytes(data.begin(), data.begin() + 1234));
    EXPECT_EQ(textOf(parsed.parts[1].payload), "tail");

    EXPECT_THROW(
        form.appendPartWithInputStream(platform::InputStream::withData(data), "s", "s", -1, "a/b"),
        std::invalid_argument);
}

TEST(MultipartFormData, NamesCannotEndTheirQuotesOrHeaderLines) {
    RAZududeStreamingMultipartFormData form(postRequest(), rzs_network::kUTF8StringEncoding);
    form.appendPartWithFormData(platform::toBytes("1"), "a\"; filename=\"evil.sh");
    form.appendPartWithFileData(platform::toBytes("2"), "x\r\nContent-Type: text/evil", "dir\\",
                                "image/png");
    const platform::UrlRequest request = form.requestByFinalizingMultipartFormData();
    const auto parsed = parseMultipart(*request.valueForHttpHeaderField("Content-Type"),
                                       readAll(*request.httpBodyStream()));
    EXPECT_TRUE(parsed.defects.empty());
    ASSERT_EQ(parsed.parts.size(), 2u);
    EXPECT_EQ(parsed.parts[0].name.stringValue(), "a%22; filename=%22evil.sh");
    EXPECT_TRUE(parsed.parts[0].filename.isNull());
    EXPECT_EQ(parsed.parts[1].name.stringValue(), "x%0D%0AContent-Type: text/evil");
    EXPECT_EQ(parsed.parts[1].filename.stringValue(), "dir%5C");
    EXPECT_EQ(parsed.parts[1].type.stringValue(), "image/png");

    // Header text the caller writes is code: line breaks in it are refused.
    EXPECT_THROW(form.appendPartWithHeaders({{"X-A", "1\r\nX-B: 2"}}, {}), std::invalid_argument);
    EXPECT_THROW(form.appendPartWithFileData({}, "n", "f", "a/b\r\nX: y"), std::invalid_argument);
    EXPECT_EQ(form.bodyStream()->HTTPBodyParts().size(), 2u);
}

TEST(MultipartFormData, TheBodyIsReadOnAnotherThreadWhileTheMainThreadWaits) {
    testing_support::TempDir dir;
    std::ofstream(dir.path() / "f.bin") << std::string(100000, 'f');
    RAZududeStreamingMultipartFormData form(postRequest(), rzs_network::kUTF8StringEncoding);
    platform::Error error;
    ASSERT_TRUE(
        form.appendPartWithFileURL(platform::Url::fileUrl(dir.path() / "f.bin"), "f", &error));
    form.appendPartWithInputStream(platform::InputStream::withData(Bytes(10, 's')), "s", "s", 10,
                                   "a/b");
    const platform::UrlRequest request = form.requestByFinalizingMultipartFormData();
    Bytes body;
    // The main loop is not pumped while the reader runs: a phase change that needed the main
    // thread would never finish.
    std::thread reader([&] { body = readAll(*request.httpBodyStream(), {16384}); });
    reader.join();
    EXPECT_EQ(std::to_string(body.size()), *request.valueForHttpHeaderField("Content-Length"));
}

TEST(MultipartFormData, ThrottlingStopsGatheringOnceAPacketIsFull) {
    RAZududeStreamingMultipartFormData form(postRequest(), rzs_network::kUTF8StringEncoding);
    for (int i = 0; i < 20; ++i) {
        form.appendPartWithFormData(Bytes(500, 'p'), "p");
    }
    form.throttleBandwidthWithPacketSize(1024, 0);
    const platform::UrlRequest request = form.requestByFinalizingMultipartFormData();
    auto& stream = *request.httpBodyStream();
    stream.open();
    std::vector<std::uint8_t> buffer(65536);
    const long first = stream.read(buffer.data(), buffer.size());
    EXPECT_GE(first, 1024);
    EXPECT_LT(first, 2048);
    EXPECT_EQ(std::to_string(first + static_cast<long>(readAll(stream).size())),
              *request.valueForHttpHeaderField("Content-Length"));
}
