// Byte streams: input streams that a connection reads request bodies from, output streams
// that received bytes are written to.
//
// A stream is used by one thread at a time (whoever holds it: the builder of a request, then
// the network thread that sends it); it is not locked. Reads and writes never block waiting
// for a peer: every stream here is over memory or a file. Status follows the platform's
// numbering, so that code written against it compares the same way.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string_view>

#include "platform/Error.h"
#include "platform/Value.h"

namespace platform {

enum class StreamStatus : unsigned {
    kNotOpen = 0,
    kOpening = 1,
    kOpen = 2,
    kReading = 3,
    kWriting = 4,
    kAtEnd = 5,
    kClosed = 6,
    kError = 7,
};

// The bytes written so far to a memory stream (Bytes).
inline constexpr const char* kStreamDataWrittenToMemoryStreamKey =
    "NSStreamDataWrittenToMemoryStreamKey";
// The position in a file stream (an integer).
inline constexpr const char* kStreamFileCurrentOffsetKey = "NSStreamFileCurrentOffsetKey";

class Stream {
  public:
    virtual ~Stream() = default;

    virtual void open() = 0;
    virtual void close() = 0;
    virtual StreamStatus streamStatus() const = 0;
    // Set when the status is kError.
    virtual std::optional<Error> streamError() const = 0;

    // Properties by the keys above; null when the stream has none of that name.
    virtual Value propertyForKey(std::string_view key) const;
    virtual bool setProperty(const Value& value, std::string_view key);
};

class InputStream : public Stream {
  public:
    static std::shared_ptr<InputStream> withData(Bytes data);
    // Opening a missing or unreadable file puts the stream in the error state.
    static std::shared_ptr<InputStream> withFile(const std::filesystem::path& path);

    // Up to maxLength bytes into the buffer: the count read, 0 at the end, -1 on an error
    // (then streamError() says which). Reading a stream that is not open returns -1.
    virtual long read(std::uint8_t* buffer, std::size_t maxLength) = 0;
    // Whether a read may return bytes (true until the end is seen; for an open stream).
    virtual bool hasBytesAvailable() const = 0;
    // A stream that paces its reader: seconds to wait before the next read, 0 when it may
    // come now. A reader that cannot wait (a connection on the one network thread) asks
    // first and comes back later; a read that comes early waits itself.
    virtual double secondsUntilReadable() const { return 0; }
};

class OutputStream : public Stream {
  public:
    // The written bytes are the kStreamDataWrittenToMemoryStreamKey property.
    static std::shared_ptr<OutputStream> toMemory();
    // Into a buffer of fixed capacity; writes beyond it fail.
    static std::shared_ptr<OutputStream> toBuffer(std::uint8_t* buffer, std::size_t capacity);
    // A file, made when opened; truncated unless appending.
    static std::shared_ptr<OutputStream> toFile(const std::filesystem::path& path, bool append);

    // Writes up to length bytes: the count written (possibly fewer), or -1 on an error.
    virtual long write(const std::uint8_t* buffer, std::size_t length) = 0;
    virtual bool hasSpaceAvailable() const = 0;

    // A stream to memory: how many bytes it holds, and its bytes handed over without a copy
    // (it holds none after). Any other stream: nullopt for both.
    virtual std::optional<std::size_t> bytesHeldInMemory() const { return std::nullopt; }
    virtual std::optional<Bytes> takeBytesHeldInMemory() { return std::nullopt; }
};

}  // namespace platform
