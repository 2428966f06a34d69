// The tasks of a URL session: one load each, of a request into memory (data task), of a body
// to a server (upload task, a kind of data task) or of a response body into a file (download
// task). A UrlSession makes them (UrlSession.h); nothing else can.
//
// Threads: every method may be called from any thread. A task does its loading on the
// NetworkThread and reports to its session's delegate, or to its completion handler, on the
// session's delegate queue (see UrlSession.h for the order).
//
// Ownership: tasks are shared objects. The session keeps each task until its completion has
// been delivered; a started task keeps its session alive until then. A task keeps its session
// only weakly otherwise: resume() on a task whose session is gone does nothing.
//
// States: a task starts suspended. resume() sets it running (the first resume starts the
// load), suspend() pauses the transfer (the network stays quiet and the request's time-out
// does not count), cancel() makes it canceling until its completion is delivered. A load that
// ends by itself makes the task completed at once, before the delegate hears of it; a
// cancelled task becomes completed just before its completion is delivered. resume(),
// suspend() and cancel() on a completed or canceling task do nothing.
//
// Notifications: resume() posts kUrlSessionTaskDidResumeNotification, and suspend()
// kUrlSessionTaskDidSuspendNotification, to NotificationCenter::defaultCenter(), synchronously
// on the calling thread, once per real change of state: resume() only when it moves the task
// into running from another state, suspend() only when it moves it into suspended. Nothing
// else posts these names, so the object is always a task, as a `const UrlSessionTask*`; an
// observer may read it (and take shared_from_this()) while the post runs.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/Error.h"
#include "platform/Url.h"
#include "platform/Value.h"
#include "platform/net/UrlRequest.h"
#include "platform/net/UrlResponse.h"

namespace platform {

class UrlSession;
namespace detail {
class SessionTransfer;
}  // namespace detail

// The platform's own notification names for a session task's resume and suspend (these are
// the platform's notifications in this world). The app HTTP client's neighbour names, which
// the session managers observe, are the same strings.
inline constexpr const char* kUrlSessionTaskDidResumeNotification =
    "com.razudude.networking.nsurlsessiontask.resume";
inline constexpr const char* kUrlSessionTaskDidSuspendNotification =
    "com.razudude.networking.nsurlsessiontask.suspend";

// A byte count that is not known (no "Content-Length", a streamed body).
inline constexpr std::int64_t kUrlSessionTransferSizeUnknown = -1;

// The user-information key of a cancelled download's error that holds its resume data
// (Bytes), when the download can be resumed.
inline constexpr const char* kUrlSessionDownloadTaskResumeData =
    "NSURLSessionDownloadTaskResumeData";

// URL error codes of the session's own failures, beside those of UrlConnection.h.
enum UrlSessionErrorCode : long {
    kUrlErrorRequestBodyStreamExhausted = -1021,  // a streamed upload got no stream
    kUrlErrorFileDoesNotExist = -1100,            // an upload's file cannot be read
    kUrlErrorDataLengthExceedsMaximum = -1103,    // a body past its ceiling in memory
    kUrlErrorCannotCreateFile = -3000,            // a download's temporary file
    kUrlErrorCannotWriteToFile = -3003,
};

enum class UrlSessionTaskState : long {
    kRunning = 0,
    kSuspended = 1,
    kCanceling = 2,
    kCompleted = 3,
};

// A data or upload task's completion: the whole body (nullopt on an error), the response
// (null when none came) and the error.
using UrlSessionDataCompletion =
    std::function<void(std::optional<Bytes> data, std::shared_ptr<const UrlResponse> response,
                       std::optional<Error> error)>;
// A download task's completion: the temporary file (nullopt on an error), which is removed
// when the handler returns, so move or read it there; the response; the error.
using UrlSessionDownloadCompletion =
    std::function<void(std::optional<Url> location, std::shared_ptr<const UrlResponse> response,
                       std::optional<Error> error)>;

class UrlSessionTask : public std::enable_shared_from_this<UrlSessionTask> {
  public:
    virtual ~UrlSessionTask();
    UrlSessionTask(const UrlSessionTask&) = delete;
    UrlSessionTask& operator=(const UrlSessionTask&) = delete;

    // Unique among the tasks of its session, counting from 1 in the order they were made.
    std::uint64_t taskIdentifier() const { return identifier_; }

    // Free text for the task's owner; nullopt until set.
    std::optional<std::string> taskDescription() const;
    void setTaskDescription(std::optional<std::string> description);

    // The request as the task was made with it. For a download from resume data: a GET of
    // the URL the resume data names.
    const UrlRequest& originalRequest() const { return originalRequest_; }
    // The request of the current hop, as sent (the session's settings applied, redirects
    // followed).
    UrlRequest currentRequest() const;
    // The final response, once it came; null before.
    std::shared_ptr<const UrlResponse> response() const;

    UrlSessionTaskState state() const;
    // Set once the task completed with an error (cancelled: -999).
    std::optional<Error> error() const;

    // Body bytes sent, and the body's size (0 without a body, kUrlSessionTransferSizeUnknown
    // for a stream of unknown length).
    std::int64_t countOfBytesSent() const;
    std::int64_t countOfBytesExpectedToSend() const;
    // Body bytes received by this task, and the response's "Content-Length"
    // (kUrlSessionTransferSizeUnknown until a response says it).
    std::int64_t countOfBytesReceived() const;
    std::int64_t countOfBytesExpectedToReceive() const;

    // See the header comment.
    void resume();
    void suspend();
    // Stops the load; the completion follows with the error -999 (kUrlErrorCancelled). After
    // cancel() returns the delegate hears nothing more of this task but that completion.
    void cancel();

    // "<UrlSessionDataTask: 0x…> { taskIdentifier: 1, state: running }", for logs.
    std::string description() const;

    struct Inner;  // the session's bookkeeping, guarded by its own lock

  protected:
    enum class Kind { kData, kUpload, kDownload };
    UrlSessionTask(Kind kind, std::uint64_t identifier, UrlRequest originalRequest,
                   const std::shared_ptr<UrlSession>& session);

  private:
    friend class UrlSession;
    friend class UrlSessionDownloadTask;
    friend class detail::SessionTransfer;

    const Kind kind_;
    const std::uint64_t identifier_;
    const UrlRequest originalRequest_;
    std::unique_ptr<Inner> inner_;
};

// Loads a response body into memory: delivered piece by piece to the delegate's
// dataTaskDidReceiveData, or whole to the completion handler.
class UrlSessionDataTask : public UrlSessionTask {
  protected:
    using UrlSessionTask::UrlSessionTask;

  private:
    friend class UrlSession;
};

// Sends a body from a file, from bytes or from a stream the delegate gives
// (taskNeedNewBodyStream), and loads the response body like a data task.
class UrlSessionUploadTask : public UrlSessionDataTask {
  protected:
    using UrlSessionDataTask::UrlSessionDataTask;

  private:
    friend class UrlSession;
};

// Loads a response body into a temporary file, handed to the delegate's
// downloadTaskDidFinishDownloading (or to the completion handler) and removed when that call
// returns.
class UrlSessionDownloadTask : public UrlSessionTask {
  public:
    // Cancels the task like cancel(), and hands the completion handler, on the delegate queue
    // before the task's own completion, the data to resume it with
    // (UrlSession::downloadTaskWithResumeData), or nullopt when it cannot be resumed: the
    // response carried no validator (a strong "ETag" or a "Last-Modified"), was not 200 or
    // 206, no byte had arrived, or the request was not a GET. Resume data is a binary property
    // list with the keys "NSURLSessionDownloadURL", "NSURLSessionResumeBytesReceived",
    // "NSURLSessionResumeInfoLocalPath" (the temporary file, kept for the resumed task),
    // "NSURLSessionResumeEntityTag" and/or "NSURLSessionResumeServerDownloadDate" (the
    // "Last-Modified" text) and "NSURLSessionResumeInfoVersion". The same bytes go under
    // kUrlSessionDownloadTaskResumeData in the task's error. On a task that has completed or is
    // canceling, the handler gets nullopt.
    void cancelByProducingResumeData(std::function<void(std::optional<Bytes> resumeData)> handler);

  protected:
    using UrlSessionTask::UrlSessionTask;

  private:
    friend class UrlSession;
};

}  // namespace platform
