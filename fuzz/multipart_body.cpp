// A multipart body of random parts (form fields, files given as bytes, streams that deliver
// their declared length, more, less or nothing, or fail), read with random read sizes. A body
// whose parts all deliver is exactly the text the format prescribes and exactly
// "Content-Length" long; one whose part falls short or fails ends in a read error, never in a
// shorter body that passes for whole.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "SocialSDK/framework/network/RAZududeMultipartFormData.h"

namespace {

// A stream that delivers its bytes and then ends, fails, or reads nothing for ever.
class FuzzStream : public platform::InputStream {
  public:
    enum class Then { kEnd, kFail, kStall };
    FuzzStream(platform::Bytes data, Then then) : data_(std::move(data)), then_(then) {}
    void open() override { status_ = platform::StreamStatus::kOpen; }
    void close() override { status_ = platform::StreamStatus::kClosed; }
    platform::StreamStatus streamStatus() const override { return status_; }
    std::optional<platform::Error> streamError() const override { return error_; }
    bool hasBytesAvailable() const override { return status_ == platform::StreamStatus::kOpen; }
    long read(std::uint8_t* buffer, std::size_t maxLength) override {
        if (status_ != platform::StreamStatus::kOpen) {
            return -1;
        }
        if (offset_ < data_.size()) {
            const std::size_t n = std::min(maxLength, data_.size() - offset_);
            std::copy_n(data_.data() + offset_, n, buffer);
            offset_ += n;
            return static_cast<long>(n);
        }
        if (then_ == Then::kFail) {
            status_ = platform::StreamStatus::kError;
            error_ = platform::Error("fuzz", 1);
            return -1;
        }
        if (then_ == Then::kEnd) {
            status_ = platform::StreamStatus::kAtEnd;
        }
        return 0;
    }

  private:
    platform::Bytes data_;
    Then then_;
    std::size_t offset_ = 0;
    platform::StreamStatus status_ = platform::StreamStatus::kNotOpen;
    std::optional<platform::Error> error_;
};

std::string quoted(const std::string& text) {
    std::string out;
    for (char c : text) {
        switch (c) {
            case '"':
                out += "%22";
                break;
            case '\r':
                out += "%0D";
                break;
            case '\n':
                out += "%0A";
                break;
            case '\\':
                out += "%5C";
                break;
            default:
                out += c;
        }
    }
    return out;
}

std::string withoutLineBreaks(std::string text) {
    std::erase_if(text, [](char c) { return c == '\r' || c == '\n'; });
    return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    platform::UrlRequest request(*platform::Url::parse("http://127.0.0.1/upload"));
    request.setHttpMethod("POST");
    RAZududeStreamingMultipartFormData form(request, rzs_network::kUTF8StringEncoding);
    const std::string& boundary = form.boundary();

    // The parts as the format spells them, without their opening boundaries.
    std::vector<std::string> expected;
    bool mustFail = false;
    std::size_t shortfall = 0;  // declared bytes that streams will not deliver
    const int parts = input.ConsumeIntegralInRange(0, 6);
    for (int i = 0; i < parts; ++i) {
        const std::string name = input.ConsumeRandomLengthString(24);
        const auto bytes = input.ConsumeBytes<std::uint8_t>(input.ConsumeIntegralInRange(0, 3000));
        const std::string payload(bytes.begin(), bytes.end());
        switch (input.ConsumeIntegralInRange(0, 3)) {
            case 0:
                form.appendPartWithFormData(bytes, name);
                expected.push_back("Content-Disposition: form-data; name=\"" + quoted(name) +
                                   "\"\r\n\r\n" + payload);
                break;
            case 1: {
                const std::string file = input.ConsumeRandomLengthString(24);
                const std::string type = withoutLineBreaks(input.ConsumeRandomLengthString(16));
                form.appendPartWithFileData(bytes, name, file, type);
                expected.push_back("Content-Disposition: form-data; name=\"" + quoted(name) +
                                   "\"; filename=\"" + quoted(file) +
                                   "\"\r\nContent-Type: " + type + "\r\n\r\n" + payload);
                break;
            }
            case 2: {
                const auto declared =
                    static_cast<std::int64_t>(input.ConsumeIntegralInRange<std::size_t>(0, 3100));
                const auto then = static_cast<FuzzStream::Then>(input.ConsumeIntegralInRange(0, 2));
                form.appendPartWithInputStream(std::make_shared<FuzzStream>(bytes, then), name, "f",
                                               declared, "a/b");
                if (static_cast<std::size_t>(declared) > bytes.size()) {
                    mustFail = true;
                    shortfall += static_cast<std::size_t>(declared) - bytes.size();
                }
                expected.push_back("Content-Disposition: form-data; name=\"" + quoted(name) +
                                   "\"; filename=\"f\"\r\nContent-Type: a/b\r\n\r\n" +
                                   payload.substr(0, static_cast<std::size_t>(declared)));
                break;
            }
            default: {
                const std::string field = withoutLineBreaks(input.ConsumeRandomLengthString(12));
                const std::string value = withoutLineBreaks(input.ConsumeRandomLengthString(12));
                // Field names compare without regard to case: one header at most here.
                form.appendPartWithHeaders({{"X-F" + field, value}}, bytes);
                expected.push_back("X-F" + field + ": " + value + "\r\n\r\n" + payload);
                break;
            }
        }
    }
    const platform::UrlRequest finished = form.requestByFinalizingMultipartFormData();
    if (parts == 0) {
        if (finished.httpBodyStream()) {
            std::abort();
        }
        return 0;
    }
    std::string text;
    for (std::size_t i = 0; i < expected.size(); ++i) {
        text += (i == 0 ? "--" : "\r\n--") + boundary + "\r\n" + expected[i];
    }
    text += "\r\n--" + boundary + "--\r\n";
    if (*finished.valueForHttpHeaderField("Content-Length") !=
        std::to_string(text.size() + shortfall)) {
        std::abort();
    }

    platform::InputStream& stream = *finished.httpBodyStream();
    stream.open();
    std::string body;
    std::vector<std::uint8_t> buffer;
    for (int reads = 0;; ++reads) {
        // Every read makes progress, so no body takes more reads than it has bytes, plus one.
        if (reads > static_cast<int>(text.size()) + 1) {
            std::abort();
        }
        const std::size_t want =
            input.remaining_bytes() > 0 ? input.ConsumeIntegralInRange<std::size_t>(1, 5000) : 4096;
        buffer.resize(want);
        const long n = stream.read(buffer.data(), want);
        if (n < 0) {
            if (!mustFail || !stream.streamError() ||
                stream.streamStatus() != platform::StreamStatus::kError) {
                std::abort();
            }
            return 0;
        }
        if (static_cast<std::size_t>(n) > want) {
            std::abort();
        }
        if (n == 0) {
            break;
        }
        body.append(buffer.begin(), buffer.begin() + n);
    }
    if (mustFail || body != text) {
        std::abort();
    }
    return 0;
}
