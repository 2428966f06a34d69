#include "platform/net/Stream.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/Format.h"

namespace platform {

namespace {

Error posixError(int code, const std::string& what) {
    return Error(kPosixErrorDomain, code,
                 Map{{kLocalizedDescriptionKey, Value(what + ": " + std::strerror(code))}});
}

Error notOpenError() {
    return Error(kPosixErrorDomain, EBADF,
                 Map{{kLocalizedDescriptionKey, Value(std::string("The stream is not open."))}});
}

// Status and error bookkeeping shared by every stream here.
class StreamState {
  public:
    StreamStatus status = StreamStatus::kNotOpen;
    std::optional<Error> error;

    void fail(Error e) {
        status = StreamStatus::kError;
        error = std::move(e);
    }
    bool readable() const {
        return status == StreamStatus::kOpen || status == StreamStatus::kReading ||
               status == StreamStatus::kAtEnd;
    }
};

// A file a stream reads or writes, with the position it has reached.
struct OpenFile {
    explicit OpenFile(std::filesystem::path p) : path(std::move(p)) {}
    ~OpenFile() { close(); }
    OpenFile(const OpenFile&) = delete;
    OpenFile& operator=(const OpenFile&) = delete;

    // 0, or the error number of fclose (a write that could not be flushed).
    int close() {
        int result = 0;
        if (file && std::fclose(file) != 0) {
            result = errno ? errno : EIO;
        }
        file = nullptr;
        return result;
    }
    Value propertyForKey(std::string_view key) const {
        if (key == kStreamFileCurrentOffsetKey) {
            return Value(static_cast<long long>(offset));
        }
        return {};
    }

    std::filesystem::path path;
    std::FILE* file = nullptr;
    std::uint64_t offset = 0;
};

class DataInputStream final : public InputStream {
  public:
    explicit DataInputStream(Bytes data) : data_(std::move(data)) {}

    void open() override {
        if (state_.status == StreamStatus::kNotOpen) {
            state_.status = data_.empty() ? StreamStatus::kAtEnd : StreamStatus::kOpen;
        }
    }
    void close() override { state_.status = StreamStatus::kClosed; }
    StreamStatus streamStatus() const override { return state_.status; }
    std::optional<Error> streamError() const override { return state_.error; }

    long read(std::uint8_t* buffer, std::size_t maxLength) override {
        if (!state_.readable()) {
            state_.error = notOpenError();
            return -1;
        }
        const std::size_t count = std::min(maxLength, data_.size() - offset_);
        if (count > 0) {
            std::memcpy(buffer, data_.data() + offset_, count);
            offset_ += count;
        }
        if (offset_ == data_.size()) {
            state_.status = StreamStatus::kAtEnd;
        }
        return static_cast<long>(count);
    }
    bool hasBytesAvailable() const override {
        return state_.status == StreamStatus::kOpen && offset_ < data_.size();
    }

  private:
    Bytes data_;
    std::size_t offset_ = 0;
    StreamState state_;
};

class FileInputStream final : public InputStream {
  public:
    explicit FileInputStream(std::filesystem::path path) : file_(std::move(path)) {}

    void open() override {
        if (state_.status != StreamStatus::kNotOpen) {
            return;
        }
        file_.file = std::fopen(file_.path.c_str(), "rb");
        if (!file_.file) {
            state_.fail(posixError(errno, "Cannot open " + file_.path.string()));
            return;
        }
        state_.status = StreamStatus::kOpen;
    }
    void close() override {
        file_.close();
        if (state_.status != StreamStatus::kError) {
            state_.status = StreamStatus::kClosed;
        }
    }
    StreamStatus streamStatus() const override { return state_.status; }
    std::optional<Error> streamError() const override { return state_.error; }

    long read(std::uint8_t* buffer, std::size_t maxLength) override {
        if (state_.status == StreamStatus::kAtEnd) {
            return 0;
        }
        if (!file_.file || !state_.readable()) {
            if (!state_.error) {
                state_.error = notOpenError();
            }
            return -1;
        }
        const std::size_t count = std::fread(buffer, 1, maxLength, file_.file);
        if (count < maxLength) {
            if (std::ferror(file_.file)) {
                state_.fail(posixError(errno ? errno : EIO, "Cannot read " + file_.path.string()));
                return -1;
            }
            state_.status = StreamStatus::kAtEnd;
        }
        file_.offset += count;
        return static_cast<long>(count);
    }
    bool hasBytesAvailable() const override { return state_.status == StreamStatus::kOpen; }

    Value propertyForKey(std::string_view key) const override { return file_.propertyForKey(key); }

  private:
    OpenFile file_;
    StreamState state_;
};

class MemoryOutputStream final : public OutputStream {
  public:
    void open() override {
        if (state_.status == StreamStatus::kNotOpen) {
            state_.status = StreamStatus::kOpen;
        }
    }
    void close() override { state_.status = StreamStatus::kClosed; }
    StreamStatus streamStatus() const override { return state_.status; }
    std::optional<Error> streamError() const override { return state_.error; }

    long write(const std::uint8_t* buffer, std::size_t length) override {
        if (state_.status != StreamStatus::kOpen) {
            state_.error = notOpenError();
            return -1;
        }
        data_.insert(data_.end(), buffer, buffer + length);
        return static_cast<long>(length);
    }
    bool hasSpaceAvailable() const override { return state_.status == StreamStatus::kOpen; }

    std::optional<std::size_t> bytesHeldInMemory() const override { return data_.size(); }
    std::optional<Bytes> takeBytesHeldInMemory() override { return std::exchange(data_, Bytes()); }

    // The bytes stay readable after the stream is closed: that is when callers take them.
    Value propertyForKey(std::string_view key) const override {
        if (key == kStreamDataWrittenToMemoryStreamKey) {
            return Value(data_);
        }
        return {};
    }

  private:
    Bytes data_;
    StreamState state_;
};

class BufferOutputStream final : public OutputStream {
  public:
    BufferOutputStream(std::uint8_t* buffer, std::size_t capacity)
        : buffer_(buffer), capacity_(capacity) {}

    void open() override {
        if (state_.status == StreamStatus::kNotOpen) {
            state_.status = StreamStatus::kOpen;
        }
    }
    void close() override { state_.status = StreamStatus::kClosed; }
    StreamStatus streamStatus() const override { return state_.status; }
    std::optional<Error> streamError() const override { return state_.error; }

    long write(const std::uint8_t* buffer, std::size_t length) override {
        if (state_.status != StreamStatus::kOpen) {
            state_.error = notOpenError();
            return -1;
        }
        const std::size_t count = std::min(length, capacity_ - used_);
        if (count == 0 && length > 0) {
            state_.fail(posixError(ENOSPC, "The buffer is full"));
            return -1;
        }
        std::memcpy(buffer_ + used_, buffer, count);
        used_ += count;
        return static_cast<long>(count);
    }
    bool hasSpaceAvailable() const override {
        return state_.status == StreamStatus::kOpen && used_ < capacity_;
    }

  private:
    std::uint8_t* buffer_;
    std::size_t capacity_;
    std::size_t used_ = 0;
    StreamState state_;
};

class FileOutputStream final : public OutputStream {
  public:
    FileOutputStream(std::filesystem::path path, bool append)
        : file_(std::move(path)), append_(append) {}

    void open() override {
        if (state_.status != StreamStatus::kNotOpen) {
            return;
        }
        file_.file = std::fopen(file_.path.c_str(), append_ ? "ab" : "wb");
        if (!file_.file) {
            state_.fail(posixError(errno, "Cannot create " + file_.path.string()));
            return;
        }
        file_.offset = append_ ? static_cast<std::uint64_t>(std::ftell(file_.file)) : 0;
        state_.status = StreamStatus::kOpen;
    }
    // A write that could not be flushed is an error, not a quiet loss.
    void close() override {
        const int error = file_.close();
        if (error != 0 && state_.status != StreamStatus::kError) {
            state_.fail(posixError(error, "Cannot write " + file_.path.string()));
        }
        if (state_.status != StreamStatus::kError) {
            state_.status = StreamStatus::kClosed;
        }
    }
    StreamStatus streamStatus() const override { return state_.status; }
    std::optional<Error> streamError() const override { return state_.error; }

    long write(const std::uint8_t* buffer, std::size_t length) override {
        if (!file_.file || state_.status != StreamStatus::kOpen) {
            if (!state_.error) {
                state_.error = notOpenError();
            }
            return -1;
        }
        const std::size_t count = std::fwrite(buffer, 1, length, file_.file);
        if (count < length) {
            state_.fail(posixError(errno ? errno : EIO, "Cannot write " + file_.path.string()));
            return -1;
        }
        file_.offset += count;
        return static_cast<long>(count);
    }
    bool hasSpaceAvailable() const override { return state_.status == StreamStatus::kOpen; }

    Value propertyForKey(std::string_view key) const override { return file_.propertyForKey(key); }

  private:
    OpenFile file_;
    bool append_;
    StreamState state_;
};

}  // namespace

Value Stream::propertyForKey(std::string_view) const {
    return {};
}

bool Stream::setProperty(const Value&, std::string_view) {
    return false;
}

std::shared_ptr<InputStream> InputStream::withData(Bytes data) {
    return std::make_shared<DataInputStream>(std::move(data));
}

std::shared_ptr<InputStream> InputStream::withFile(const std::filesystem::path& path) {
    return std::make_shared<FileInputStream>(path);
}

std::shared_ptr<OutputStream> OutputStream::toMemory() {
    return std::make_shared<MemoryOutputStream>();
}

std::shared_ptr<OutputStream> OutputStream::toBuffer(std::uint8_t* buffer, std::size_t capacity) {
    return std::make_shared<BufferOutputStream>(buffer, capacity);
}

std::shared_ptr<OutputStream> OutputStream::toFile(const std::filesystem::path& path, bool append) {
    return std::make_shared<FileOutputStream>(path, append);
}

}  // namespace platform
