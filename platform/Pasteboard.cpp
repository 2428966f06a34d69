#include "platform/Pasteboard.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#include <cerrno>
#include <cstdio>
#include <system_error>

#include "platform/AppFolders.h"
#include "platform/Files.h"
#include "platform/StorageLog.h"
#include "platform/Url.h"

namespace platform {

namespace {

constexpr std::size_t kMaxEscapedLength = 200;
constexpr const char* kLockFile = ".lock";
constexpr const char* kPersistentMarker = ".persistent";

std::uint64_t fnv1a(const std::string& text) {
    std::uint64_t hash = 14695981039346656037ull;
    for (unsigned char c : text) {
        hash = (hash ^ c) * 1099511628211ull;
    }
    return hash;
}

// One file name for any text: distinct texts give distinct names, none of which is empty, "."
// or "..", starts with "." or holds a "/". Names too long for the file system keep a readable
// head and end with "~" and a hash of the whole text ("~" itself is always escaped).
std::string escapeFileName(const std::string& text) {
    if (text.empty()) {
        return "%";
    }
    const std::string_view view = text;
    std::string out = percentEncode(view.substr(0, 1), "-_") + percentEncode(view.substr(1), "-_.");
    if (out.size() > kMaxEscapedLength) {
        std::size_t cut = kMaxEscapedLength - 20;
        // Do not split an escape.
        while (cut > 0 && (out[cut - 1] == '%' || (cut > 1 && out[cut - 2] == '%'))) {
            --cut;
        }
        char hash[17];
        std::snprintf(hash, sizeof hash, "%016llx", static_cast<unsigned long long>(fnv1a(text)));
        out = out.substr(0, cut) + "~" + hash;
    }
    return out;
}

// Holds an exclusive lock on the pasteboard's lock file while it lives.
class FileLock {
  public:
    explicit FileLock(const std::filesystem::path& path)
        : fd_(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600)) {
        if (fd_ < 0) {
            error_ = errno;
            return;
        }
        while (::flock(fd_, LOCK_EX) != 0) {
            if (errno != EINTR) {
                error_ = errno;
                break;
            }
        }
    }
    ~FileLock() {
        if (fd_ >= 0) {
            ::close(fd_);  // closing releases the lock
        }
    }
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

    int error() const { return error_; }

  private:
    int fd_;
    int error_ = 0;
};

bool ensureFolder(const std::filesystem::path& path, Error* error) {
    std::error_code code;
    std::filesystem::create_directories(path, code);
    if (code) {
        if (error) {
            *error = Files::errorFromErrno(code.value(), true, path, "Cannot create the folder");
        }
        return false;
    }
    return true;
}

}  // namespace

Pasteboard::Pasteboard(std::string name, std::filesystem::path path)
    : name_(std::move(name)), path_(std::move(path)) {}

std::filesystem::path Pasteboard::folder() {
    return AppFolders::root() / "Pasteboards";
}

std::shared_ptr<Pasteboard> Pasteboard::pasteboardWithName(const std::string& name, bool create) {
    const std::filesystem::path path = folder() / escapeFileName(name);
    if (create) {
        Error error;
        if (!ensureFolder(path, &error)) {
            detail::storageLog("Pasteboard: cannot create \"" + name +
                               "\": " + error.localizedDescription());
            return nullptr;
        }
    } else {
        std::error_code code;
        if (!std::filesystem::is_directory(path, code)) {
            return nullptr;
        }
    }
    return std::shared_ptr<Pasteboard>(new Pasteboard(name, path));
}

bool Pasteboard::persistent() const {
    std::error_code code;
    return std::filesystem::exists(path_ / kPersistentMarker, code);
}

bool Pasteboard::setPersistent(bool persistent, Error* error) {
    if (!persistent) {
        std::error_code code;
        std::filesystem::remove(path_ / kPersistentMarker, code);
        if (code && error) {
            *error = Files::errorFromErrno(code.value(), true, path_ / kPersistentMarker,
                                           "Cannot remove");
        }
        return !code;
    }
    return ensureFolder(path_, error) &&
           Files::writeAtomically(path_ / kPersistentMarker, Bytes{}, error);
}

std::optional<Bytes> Pasteboard::dataForPasteboardType(const std::string& type) const {
    Error error;
    auto data = Files::read(path_ / escapeFileName(type), &error);
    if (!data && error.code() != kFileReadNoSuchFileError) {
        detail::storageLog("Pasteboard: cannot read \"" + type + "\" of \"" + name_ +
                           "\": " + error.localizedDescription());
    }
    return data;
}

bool Pasteboard::setData(const Bytes& data, const std::string& type, Error* error) {
    // Another process may have removed the pasteboard meanwhile; this one still exists.
    if (!ensureFolder(path_, error)) {
        return false;
    }
    FileLock lock(path_ / kLockFile);
    if (lock.error() != 0) {
        if (error) {
            *error = Files::errorFromErrno(lock.error(), true, path_ / kLockFile, "Cannot lock");
        }
        return false;
    }
    return Files::writeAtomically(path_ / escapeFileName(type), data, error);
}

}  // namespace platform
