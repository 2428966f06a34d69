// Streams over memory and files: what the connection reads bodies from and writes them to.
#include <gtest/gtest.h>

#include <cerrno>
#include <fstream>

#include "platform/net/Stream.h"
#include "platform/net/UrlRequest.h"
#include "platform/net/UrlResponse.h"
#include "tests/support/TempDir.h"

namespace {

using platform::Bytes;
using platform::StreamStatus;

std::string readAll(platform::InputStream& stream, std::size_t chunk) {
    std::string out;
    std::vector<std::uint8_t> buffer(chunk);
    for (long n; (n = stream.read(buffer.data(), buffer.size())) > 0;) {
        out.append(buffer.begin(), buffer.begin() + n);
    }
    return out;
}

TEST(StreamTest, InputStreamsReadTheirBytesInAnyChunkSizeThenEnd) {
    for (std::size_t chunk : {1u, 3u, 4096u}) {
        auto data = platform::InputStream::withData(platform::toBytes("hello, stream"));
        EXPECT_EQ(data->streamStatus(), StreamStatus::kNotOpen);
        std::uint8_t byte;
        EXPECT_EQ(data->read(&byte, 1), -1);  // not open yet
        data->open();
        EXPECT_TRUE(data->hasBytesAvailable());
        EXPECT_EQ(readAll(*data, chunk), "hello, stream");
        EXPECT_EQ(data->streamStatus(), StreamStatus::kAtEnd);
        EXPECT_FALSE(data->hasBytesAvailable());
    }

    // Its end comes with its last byte, not one before.
    auto exact = platform::InputStream::withData(platform::toBytes("ab"));
    exact->open();
    std::uint8_t one = 0;
    EXPECT_EQ(exact->read(&one, 1), 1);
    EXPECT_TRUE(exact->hasBytesAvailable());
    EXPECT_EQ(exact->streamStatus(), StreamStatus::kOpen);
    EXPECT_EQ(exact->read(&one, 1), 1);
    EXPECT_EQ(one, 'b');
    EXPECT_FALSE(exact->hasBytesAvailable());
    EXPECT_EQ(exact->read(&one, 1), 0);

    testing_support::TempDir dir;
    std::ofstream(dir.path() / "f", std::ios::binary) << "file bytes";
    auto file = platform::InputStream::withFile(dir.path() / "f");
    file->open();
    EXPECT_EQ(readAll(*file, 4), "file bytes");
    EXPECT_EQ(file->propertyForKey(platform::kStreamFileCurrentOffsetKey).integerValue(), 10);

    auto missing = platform::InputStream::withFile(dir.path() / "nothing");
    missing->open();
    EXPECT_EQ(missing->streamStatus(), StreamStatus::kError);
    ASSERT_TRUE(missing->streamError());
    EXPECT_EQ(missing->streamError()->domain(), platform::kPosixErrorDomain);
    std::uint8_t byte;
    EXPECT_EQ(missing->read(&byte, 1), -1);
}

TEST(StreamTest, OutputStreamsKeepWhatTheyTookAndSayWhenTheyCannot) {
    auto memory = platform::OutputStream::toMemory();
    memory->open();
    const Bytes chunk = platform::toBytes("abc");
    EXPECT_EQ(memory->write(chunk.data(), chunk.size()), 3);
    EXPECT_EQ(memory->write(chunk.data(), chunk.size()), 3);
    memory->close();
    EXPECT_EQ(memory->propertyForKey(platform::kStreamDataWrittenToMemoryStreamKey),
              platform::Value(platform::toBytes("abcabc")));
    EXPECT_EQ(memory->write(chunk.data(), chunk.size()), -1);  // closed

    std::uint8_t room[4];
    auto buffer = platform::OutputStream::toBuffer(room, sizeof room);
    buffer->open();
    EXPECT_EQ(buffer->write(chunk.data(), chunk.size()), 3);
    EXPECT_EQ(buffer->write(chunk.data(), chunk.size()), 1);  // only what fits
    EXPECT_FALSE(buffer->hasSpaceAvailable());
    EXPECT_EQ(buffer->write(chunk.data(), chunk.size()), -1);
    EXPECT_EQ(buffer->streamStatus(), StreamStatus::kError);

    testing_support::TempDir dir;
    auto file = platform::OutputStream::toFile(dir.path() / "out", false);
    file->open();
    EXPECT_EQ(file->write(chunk.data(), chunk.size()), 3);
    file->close();
    auto appended = platform::OutputStream::toFile(dir.path() / "out", true);
    appended->open();
    EXPECT_EQ(appended->propertyForKey(platform::kStreamFileCurrentOffsetKey).integerValue(), 3);
    appended->write(chunk.data(), chunk.size());
    appended->close();
    auto back = platform::InputStream::withFile(dir.path() / "out");
    back->open();
    EXPECT_EQ(readAll(*back, 100), "abcabc");

    // A disk that is full: a write that does not go through is an error, now or when the
    // stream closes, never a quiet loss.
    auto full = platform::OutputStream::toFile("/dev/full", false);
    full->open();
    const Bytes large(1 << 20, 'x');
    EXPECT_EQ(full->write(large.data(), large.size()), -1);
    EXPECT_EQ(full->streamStatus(), StreamStatus::kError);
    ASSERT_TRUE(full->streamError());
    EXPECT_EQ(full->streamError()->code(), ENOSPC);
    auto fullAtClose = platform::OutputStream::toFile("/dev/full", false);
    fullAtClose->open();
    EXPECT_EQ(fullAtClose->write(chunk.data(), chunk.size()), 3);  // kept back by the buffer
    fullAtClose->close();
    EXPECT_EQ(fullAtClose->streamStatus(), StreamStatus::kError);

    auto nowhere = platform::OutputStream::toFile(dir.path() / "no" / "such" / "folder", false);
    nowhere->open();
    EXPECT_EQ(nowhere->streamStatus(), StreamStatus::kError);
    EXPECT_EQ(nowhere->write(chunk.data(), chunk.size()), -1);
}

TEST(UrlRequestTest, HeaderFieldsKeepOrderAndIgnoreCase) {
    platform::HeaderFields fields{{"Content-Type", "a"}, {"X-One", "1"}};
    fields.set("content-type", "b");
    fields.add("x-one", "2");
    fields.set("X-Two", "3");
    EXPECT_EQ(fields.fields(), (std::vector<platform::HeaderFields::Field>{
                                   {"Content-Type", "b"}, {"X-One", "1,2"}, {"X-Two", "3"}}));
    fields.remove("X-ONE");
    EXPECT_FALSE(fields.contains("x-one"));

    platform::UrlRequest request(*platform::Url::parse("http://127.0.0.1/"));
    request.setHttpBody(platform::toBytes("x"));
    request.setHttpBodyStream(platform::InputStream::withData({}));
    EXPECT_FALSE(request.httpBody());  // one body at a time
    request.setValue("v", "A");
    request.setValue(std::nullopt, "a");
    EXPECT_TRUE(request.allHttpHeaderFields().empty());
}

TEST(UrlResponseTest, MetadataComesFromTheHeaders) {
    const platform::HttpUrlResponse response(
        *platform::Url::parse("http://127.0.0.1/a/pic.png"), 404, "HTTP/1.1",
        {{"Content-Type", "Text/HTML; Charset=\"ISO-8859-1\""}, {"Content-Length", "12"}});
    EXPECT_EQ(response.mimeType(), "text/html");
    EXPECT_EQ(response.textEncodingName(), "ISO-8859-1");
    EXPECT_EQ(response.expectedContentLength(), 12);
    EXPECT_EQ(response.suggestedFilename(), "pic.png");
    EXPECT_EQ(platform::HttpUrlResponse::localizedStringForStatusCode(404), "not found");
    EXPECT_EQ(platform::HttpUrlResponse::localizedStringForStatusCode(599), "server error");

    const platform::HttpUrlResponse odd(*platform::Url::parse("http://127.0.0.1/"), 200, "HTTP/1.1",
                                        {{"Content-Length", "-5"}});
    EXPECT_EQ(odd.expectedContentLength(), -1);
    for (const char* length : {"12x", "1 2", "", "0x10"}) {
        const platform::HttpUrlResponse bad(*platform::Url::parse("http://127.0.0.1/"), 200,
                                            "HTTP/1.1", {{"Content-Length", length}});
        EXPECT_EQ(bad.expectedContentLength(), -1) << length;
    }
    EXPECT_EQ(odd.mimeType(), "");
    EXPECT_FALSE(odd.textEncodingName());
}

}  // namespace
