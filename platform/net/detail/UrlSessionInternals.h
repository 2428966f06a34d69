// What a URL session keeps about each of its tasks, shared by the session and the task code.
// Every member is guarded by `mutex`; the lock is never held while the delegate, a handler or
// the notification centre runs, and the session's event queue lock may be taken under it
// (never the other way round).
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "platform/net/UrlConnection.h"
#include "platform/net/UrlSession.h"
#include "platform/net/UrlSessionTask.h"
#include "platform/net/detail/UrlErrors.h"

namespace platform {

namespace detail {

// Downloads in progress are files of this name in downloadFolder().
inline constexpr const char* kDownloadFilePrefix = "UrlSessionDownload-";
inline constexpr const char* kDownloadFileSuffix = ".tmp";

// The keys of a download's resume data.
inline constexpr const char* kResumeVersionKey = "NSURLSessionResumeInfoVersion";
inline constexpr const char* kResumeUrlKey = "NSURLSessionDownloadURL";
inline constexpr const char* kResumeBytesKey = "NSURLSessionResumeBytesReceived";
inline constexpr const char* kResumePathKey = "NSURLSessionResumeInfoLocalPath";
inline constexpr const char* kResumeEntityTagKey = "NSURLSessionResumeEntityTag";
inline constexpr const char* kResumeDateKey = "NSURLSessionResumeServerDownloadDate";
inline constexpr std::int64_t kResumeVersion = 1;

// A decimal count without sign, or nullopt.
std::optional<std::int64_t> parseCount(std::string_view text);
// The folder of downloads in progress.
std::filesystem::path downloadFolder();
// Whether the path is a download file of ours: a plain file with our name, right in the
// folder of downloads.
bool isOurDownloadFile(const std::filesystem::path& path);
void removeFile(const std::filesystem::path& path);
// Runs a delegate's or handler's code, which must not take the session down.
void runCallback(const std::function<void()>& call);

// Something the network thread waits for, which cancelling the task must cut short.
class Abandonable {
  public:
    virtual ~Abandonable() = default;
    virtual void abandon() = 0;
};

}  // namespace detail

struct UrlSessionTask::Inner {
    explicit Inner(const std::shared_ptr<UrlSession>& owner) : session(owner) {}

    // Where the body of an upload comes from.
    enum class Body { kRequest, kData, kFile, kStream };

    // A download made from resume data, as read when the task was made.
    struct Resume {
        Bytes resumeData;
        std::int64_t offset = 0;               // 0: start again from zero
        std::filesystem::path file;            // set when it names a download file of ours
        std::optional<std::string> entityTag;  // validators for "If-Range"
        std::optional<std::string> lastModified;
    };

    const std::weak_ptr<UrlSession> session;

    mutable std::mutex mutex;
    std::optional<std::string> description;
    // Unset until the task starts: the original request is the current one till then.
    std::optional<UrlRequest> currentRequest;
    const UrlRequest& current(const UrlRequest& original) const {
        return currentRequest ? *currentRequest : original;
    }
    std::shared_ptr<const UrlResponse> response;
    UrlSessionTaskState state = UrlSessionTaskState::kSuspended;
    std::optional<Error> error;
    std::int64_t sent = 0;
    std::int64_t expectedToSend = 0;
    std::int64_t received = 0;
    std::int64_t expectedToReceive = kUrlSessionTransferSizeUnknown;

    bool started = false;  // resumed once: its load was set going
    bool ended = false;    // its completion is decided: no further event is queued for it
    bool awaitingDisposition = false;
    bool connectionPaused = false;
    std::shared_ptr<UrlConnection> connection;
    std::shared_ptr<detail::SessionTransfer> transfer;
    std::shared_ptr<detail::Abandonable> waiting;  // an answer the network thread waits for

    Body body = Body::kRequest;
    Bytes uploadData;
    std::filesystem::path uploadFile;
    std::optional<Resume> resume;
    std::optional<Error> creationError;  // fails the task as soon as it is resumed

    UrlSessionDataCompletion dataCompletion;
    UrlSessionDownloadCompletion downloadCompletion;

    bool hasCompletionHandler() const {
        return static_cast<bool>(dataCompletion) || static_cast<bool>(downloadCompletion);
    }
};

namespace detail {

// Pauses the task's transfer while it is suspended or waits for a response disposition.
// Under the task's lock.
void applyPause(UrlSessionTask::Inner& inner);

}  // namespace detail

}  // namespace platform
