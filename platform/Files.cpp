#include "platform/Files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstring>

namespace platform::Files {

namespace {

long codeFor(int errnoValue, bool writing) {
    switch (errnoValue) {
        case ENOENT:
        case ENOTDIR:
            return writing ? kFileNoSuchFileError : kFileReadNoSuchFileError;
        case EACCES:
        case EPERM:
            return writing ? kFileWriteNoPermissionError : kFileReadNoPermissionError;
        case EROFS:
            return writing ? kFileWriteVolumeReadOnlyError : kFileReadUnknownError;
        case ENOSPC:
        case EDQUOT:
            return writing ? kFileWriteOutOfSpaceError : kFileReadUnknownError;
        default:
            return writing ? kFileWriteUnknownError : kFileReadUnknownError;
    }
}

// Closes a descriptor on every road out of a function.
class Descriptor {
  public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() { close(); }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return fd_; }
    int close() {
        int result = 0;
        if (fd_ >= 0) {
            result = ::close(fd_);
            fd_ = -1;
        }
        return result;
    }

  private:
    int fd_;
};

bool writeAll(int fd, std::span<const std::uint8_t> data) {
    std::size_t done = 0;
    while (done < data.size()) {
        ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace

Error errorFromErrno(int errnoValue, bool writing, const std::filesystem::path& path,
                     const std::string& what) {
    Error error(kCocoaErrorDomain, codeFor(errnoValue, writing),
                Map{{kLocalizedDescriptionKey,
                     what + " \"" + path.string() + "\": " + std::strerror(errnoValue)},
                    {kFilePathErrorKey, path.string()}});
    error.setUnderlyingError(Error(kPosixErrorDomain, errnoValue));
    return error;
}

std::optional<Bytes> read(const std::filesystem::path& path, Error* error) {
    auto fail = [&](int err) -> std::optional<Bytes> {
        if (error) {
            *error = errorFromErrno(err, false, path, "Cannot read");
        }
        return std::nullopt;
    };
    Descriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0) {
        return fail(errno);
    }
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0) {
        return fail(errno);
    }
    if (S_ISDIR(info.st_mode)) {
        return fail(EISDIR);
    }
    Bytes bytes;
    if (info.st_size > 0) {
        bytes.reserve(static_cast<std::size_t>(info.st_size));
    }
    std::uint8_t buffer[65536];
    while (true) {
        ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return fail(errno);
        }
        if (n == 0) {
            break;
        }
        bytes.insert(bytes.end(), buffer, buffer + n);
    }
    return bytes;
}

bool writeAtomically(const std::filesystem::path& path, std::span<const std::uint8_t> data,
                     Error* error, Access access, Durability durability) {
    const std::filesystem::path folder = path.has_parent_path() ? path.parent_path() : ".";
    std::string temporary = (folder / ("." + path.filename().string() + ".tmp-XXXXXX")).string();
    auto fail = [&](int err, const char* what) {
        if (error) {
            *error = errorFromErrno(err, true, path, what);
        }
        return false;
    };

    Descriptor fd(::mkostemp(temporary.data(), O_CLOEXEC));
    if (fd.get() < 0) {
        return fail(errno, "Cannot write");
    }
    // From here on the temporary file goes away on any failure; the old file is untouched.
    auto abandon = [&](int err, const char* what) {
        fd.close();
        ::unlink(temporary.c_str());
        return fail(err, what);
    };
    const mode_t mode = access == Access::kOwnerOnly ? 0600 : 0644;
    if (::fchmod(fd.get(), mode) != 0) {
        return abandon(errno, "Cannot write");
    }
    if (!writeAll(fd.get(), data)) {
        return abandon(errno, "Cannot write");
    }
    if (durability == Durability::kSynced && ::fsync(fd.get()) != 0) {
        return abandon(errno, "Cannot flush");
    }
    if (fd.close() != 0) {
        return abandon(errno, "Cannot write");
    }
    if (::rename(temporary.c_str(), path.c_str()) != 0) {
        return abandon(errno, "Cannot replace");
    }
    if (durability == Durability::kUnsynced) {
        return true;
    }
    // The rename itself must reach the disk too, or a crash could bring the old file back.
    Descriptor dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.get() >= 0) {
        ::fsync(dir.get());
    }
    return true;
}

}  // namespace platform::Files
