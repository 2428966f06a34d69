// A URL session: makes data, upload and download tasks (UrlSessionTask.h) that load over the
// NetworkThread with one configuration (UrlSessionConfiguration.h), and reports what they do
// to one delegate on one delegate queue.
//
// Threads. Any thread may make a session, make its tasks, list them and invalidate it. Every
// delegate callback, every task completion handler and the handler of
// getTasksWithCompletionHandler run on the delegate queue (an OperationQueue; when none is
// given, one of the session's own of width 1).
//
// Order. The callbacks of one session run one at a time, in the order their events happened,
// however wide the delegate queue is: the session keeps its events in one queue of its own
// and hands them to the delegate queue through a single operation at a time. Cancelling the
// delegate queue's operations loses none of them (the session hands them over again). For
// one task the order is:
//   1. taskNeedNewBodyStream, first, for a streamed upload;
//   2. sessionDidReceiveChallenge (or taskDidReceiveChallenge) for a server's trust, during
//      each TLS handshake the task makes, and before its request on a kept-alive connection
//      unless the delegate's serverTrustJudgement accepted it already (see UrlConnection.h);
//      taskDidReceiveChallenge for HTTP Basic on a 401;
//   3. taskDidSendBodyData, as the body goes out;
//   4. taskWillPerformHttpRedirection, once per redirect, before it is followed;
//   5. dataTaskDidReceiveResponse (data and upload tasks), or downloadTaskDidResume (a
//      download made from resume data), once the final response came;
//   6. dataTaskDidReceiveData or downloadTaskDidWriteData, zero or more times, in order;
//   7. dataTaskWillCacheResponse, after a successful load of a data task;
//   8. downloadTaskDidFinishDownloading, after a successful download;
//   9. taskDidComplete, last, exactly once (with the error -999 after cancel()).
// After everything of every task: sessionDidBecomeInvalid, once the session is invalidated
// (see below); then the session lets its delegate go.
//
// Answers. Callbacks that take a completion handler wait for its answer:
// - The challenge and redirect callbacks are answered on the network thread, which waits for
//   the handler for at most the request's time-out (60 s when it has none). No answer by then
//   fails the task with -1001 (kUrlErrorTimedOut). Meanwhile no other load of the process
//   moves, so answer promptly.
// - dataTaskDidReceiveResponse is answered asynchronously: the transfer pauses until the
//   answer, and the task's later events wait in the session's queue (other tasks' events go
//   on). kAllow goes on; kBecomeDownload is taken as kAllow (data tasks never turn into
//   download tasks here, so dataTaskDidBecomeDownloadTask is never sent); kCancel cancels the
//   task: nothing more reaches the delegate of it but taskDidComplete with -999.
// - taskNeedNewBodyStream is answered asynchronously; a null stream fails the task with -1021.
// - dataTaskWillCacheResponse: the answer is taken as the delegate's wish; nothing caches.
// The rule for every handler: call it exactly once (later calls are ignored), from any thread,
// and never wait in it, or before calling it, for the network thread (for instance, for
// another load to finish). A handler that is dropped without being called counts as the
// default answer that each callback names below. A question whose wait is over (the task was
// cancelled, or timed out) is not put to the delegate any more.
//
// Optional callbacks. UrlSessionDelegate::respondsTo() says which callbacks the delegate
// implements (all, by default). The session does not send a callback the delegate does not
// respond to, and uses the default answer at once: for a challenge or a redirect, with no
// wait on the network thread at all.
//
// Completion handlers. A task made with a completion handler reports its response, data,
// downloaded file and completion to the handler, not to the delegate: for it the session
// sends none of dataTaskDidReceiveResponse, dataTaskDidReceiveData, dataTaskWillCacheResponse,
// downloadTaskDidResume, downloadTaskDidWriteData, downloadTaskDidFinishDownloading and
// taskDidComplete. Challenges, redirects, taskNeedNewBodyStream and taskDidSendBodyData still
// go to the delegate. An empty std::function is no handler.
//
// Downloads write to a temporary file in AppFolders::temporary() and hand its URL to
// downloadTaskDidFinishDownloading (or to the completion handler), which must move or read it
// before returning: it is removed after the call. A download made from resume data asks for
// the rest ("Range: bytes=N-" and "If-Range" with the validator); a 206 that continues at N
// is appended, a 206 of another range fails the task with -1011 (kUrlErrorBadServerResponse)
// rather than glue the wrong bytes on, and any other response starts the file again from zero
// (downloadTaskDidResume then reports offset 0). Resume data that names a file outside the
// temporary folder, or a file that is gone or shorter than it says, starts from zero too.
//
// Invalidation. finishTasksAndInvalidate() lets the session's tasks run to their end (tasks
// never resumed included: resume or cancel them); invalidateAndCancel() cancels them all. No
// task can be made afterwards (std::logic_error). Once every task's completion has been
// delivered, sessionDidBecomeInvalid comes with no error (only background sessions, which do
// not exist here, report one), and the session lets its delegate go after that call.
//
// Ownership. The session keeps its delegate (strongly) until it is invalidated, as the
// platform does: a delegate that keeps the session forms a cycle that invalidation breaks.
// The session keeps its delegate queue. Started tasks keep the session alive until their
// completion has been delivered.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/Error.h"
#include "platform/Mutex.h"
#include "platform/Operation.h"
#include "platform/Url.h"
#include "platform/Value.h"
#include "platform/net/Authentication.h"
#include "platform/net/Stream.h"
#include "platform/net/UrlRequest.h"
#include "platform/net/UrlResponse.h"
#include "platform/net/UrlSessionConfiguration.h"
#include "platform/net/UrlSessionTask.h"

namespace platform {

enum class UrlSessionAuthChallengeDisposition : long {
    kUseCredential = 0,                  // the credential given (none: go on without one)
    kPerformDefaultHandling = 1,         // as if the delegate did not answer
    kCancelAuthenticationChallenge = 2,  // fail: -1202 for a server's trust, -1012 for Basic
    kRejectProtectionSpace = 3,          // go on without a credential
};

enum class UrlSessionResponseDisposition : long {
    kCancel = 0,
    kAllow = 1,
    kBecomeDownload = 2,  // taken as kAllow
};

using UrlSessionChallengeCompletion = std::function<void(
    UrlSessionAuthChallengeDisposition disposition, std::optional<Credential> credential)>;
using UrlSessionRedirectCompletion = std::function<void(std::optional<UrlRequest> request)>;
using UrlSessionBodyStreamCompletion = std::function<void(std::shared_ptr<InputStream> stream)>;
using UrlSessionResponseCompletion = std::function<void(UrlSessionResponseDisposition)>;
using UrlSessionCacheCompletion = std::function<void(std::optional<CachedUrlResponse> cached)>;

// The delegate's callbacks, for respondsTo().
enum class UrlSessionDelegateCallback {
    kSessionDidBecomeInvalid,
    kSessionDidReceiveChallenge,
    kDidFinishEventsForBackgroundUrlSession,
    kTaskWillPerformHttpRedirection,
    kTaskDidReceiveChallenge,
    kTaskNeedNewBodyStream,
    kTaskDidSendBodyData,
    kTaskDidComplete,
    kDataTaskDidReceiveResponse,
    kDataTaskDidBecomeDownloadTask,
    kDataTaskDidReceiveData,
    kDataTaskWillCacheResponse,
    kDownloadTaskDidFinishDownloading,
    kDownloadTaskDidWriteData,
    kDownloadTaskDidResume,
};

class UrlSession;

// What a session tells its owner. Every callback runs on the session's delegate queue, in the
// order of the header comment; the defaults do what the session does for a delegate that does
// not respond. The challenge given to a challenge callback is valid while its completion
// handler (or a copy of it) is kept; its sender answers the same way as the handler.
class UrlSessionDelegate {
  public:
    virtual ~UrlSessionDelegate() = default;

    // Whether the delegate implements the callback. Asked again for every event, on whichever
    // thread the event happens (the network thread, or the thread that resumed a task), so
    // the answer may change over the delegate's life but must be safe to give from any
    // thread, quickly, without waiting for anything.
    virtual bool respondsTo(UrlSessionDelegateCallback) const { return true; }
    // Whether the callback only hands its work on, quickly, never waiting for another thread
    // nor running code that might. The session may then call it on the network thread, still
    // as work of the delegate queue and one at a time with the rest of it, instead of waking
    // one of the queue's workers for it. Asked like respondsTo(). Default: false.
    virtual bool callbackReturnsAtOnce(UrlSessionDelegateCallback) const { return false; }

    // --- the session ---
    virtual void sessionDidBecomeInvalid(const std::shared_ptr<UrlSession>& /*session*/,
                                         const std::optional<Error>& /*error*/) {}
    // A server's trust, asked once for the session; when the delegate does not respond to
    // it, taskDidReceiveChallenge is asked. Default: kPerformDefaultHandling.
    virtual void sessionDidReceiveChallenge(const std::shared_ptr<UrlSession>& session,
                                            const AuthenticationChallenge& challenge,
                                            UrlSessionChallengeCompletion completion);
    // Names how the delegate judges a server's trust in its challenge callbacks, so that a
    // kept-alive connection it accepted is not asked about again for each task (see
    // UrlConnectionDelegate::serverTrustJudgement). Asked on the network thread: safe from any
    // thread, quick. Default: nullopt, and every task on a kept-alive connection is asked
    // about again.
    virtual std::optional<std::string> serverTrustJudgement(
        const std::shared_ptr<UrlSession>& /*session*/) const {
        return std::nullopt;
    }
    // Never sent: only background sessions have such events.
    virtual void didFinishEventsForBackgroundUrlSession(
        const std::shared_ptr<UrlSession>& /*session*/) {}

    // --- every task ---
    // Default: the proposed request. nullopt stops there: the redirect response becomes the
    // task's response, with its body.
    virtual void taskWillPerformHttpRedirection(
        const std::shared_ptr<UrlSession>& session, const std::shared_ptr<UrlSessionTask>& task,
        const std::shared_ptr<const HttpUrlResponse>& response, const UrlRequest& newRequest,
        UrlSessionRedirectCompletion completion);
    // Default: kPerformDefaultHandling.
    virtual void taskDidReceiveChallenge(const std::shared_ptr<UrlSession>& session,
                                         const std::shared_ptr<UrlSessionTask>& task,
                                         const AuthenticationChallenge& challenge,
                                         UrlSessionChallengeCompletion completion);
    // A streamed upload's body, asked once as it starts (a stream is read once, so a load
    // that would send it again, after a 307 or a 401, fails instead). Default: the body
    // stream of the task's original request when it has not been opened, else null.
    virtual void taskNeedNewBodyStream(const std::shared_ptr<UrlSession>& session,
                                       const std::shared_ptr<UrlSessionTask>& task,
                                       UrlSessionBodyStreamCompletion completion);
    // bytesSent since the last call; the expected total is kUrlSessionTransferSizeUnknown
    // for a stream without "Content-Length".
    virtual void taskDidSendBodyData(const std::shared_ptr<UrlSession>& /*session*/,
                                     const std::shared_ptr<UrlSessionTask>& /*task*/,
                                     std::int64_t /*bytesSent*/, std::int64_t /*totalBytesSent*/,
                                     std::int64_t /*totalBytesExpectedToSend*/) {}
    virtual void taskDidComplete(const std::shared_ptr<UrlSession>& /*session*/,
                                 const std::shared_ptr<UrlSessionTask>& /*task*/,
                                 const std::optional<Error>& /*error*/) {}

    // --- data and upload tasks ---
    // Default: kAllow.
    virtual void dataTaskDidReceiveResponse(const std::shared_ptr<UrlSession>& session,
                                            const std::shared_ptr<UrlSessionDataTask>& task,
                                            const std::shared_ptr<const UrlResponse>& response,
                                            UrlSessionResponseCompletion completion);
    // Never sent (see kBecomeDownload).
    virtual void dataTaskDidBecomeDownloadTask(
        const std::shared_ptr<UrlSession>& /*session*/,
        const std::shared_ptr<UrlSessionDataTask>& /*task*/,
        const std::shared_ptr<UrlSessionDownloadTask>& /*downloadTask*/) {}
    virtual void dataTaskDidReceiveData(const std::shared_ptr<UrlSession>& /*session*/,
                                        const std::shared_ptr<UrlSessionDataTask>& /*task*/,
                                        const Bytes& /*data*/) {}
    // Default: the proposed response.
    virtual void dataTaskWillCacheResponse(const std::shared_ptr<UrlSession>& session,
                                           const std::shared_ptr<UrlSessionDataTask>& task,
                                           const CachedUrlResponse& proposed,
                                           UrlSessionCacheCompletion completion);

    // --- download tasks ---
    // The file at `location` is removed when this returns.
    virtual void downloadTaskDidFinishDownloading(
        const std::shared_ptr<UrlSession>& /*session*/,
        const std::shared_ptr<UrlSessionDownloadTask>& /*task*/, const Url& /*location*/) {}
    // Totals count from the start of the file (a resumed download's offset included); the
    // expected total is kUrlSessionTransferSizeUnknown without "Content-Length".
    virtual void downloadTaskDidWriteData(const std::shared_ptr<UrlSession>& /*session*/,
                                          const std::shared_ptr<UrlSessionDownloadTask>& /*task*/,
                                          std::int64_t /*bytesWritten*/,
                                          std::int64_t /*totalBytesWritten*/,
                                          std::int64_t /*totalBytesExpectedToWrite*/) {}
    // A download made from resume data got its response: it goes on at fileOffset (0 when
    // the server sent the whole body again).
    virtual void downloadTaskDidResume(const std::shared_ptr<UrlSession>& /*session*/,
                                       const std::shared_ptr<UrlSessionDownloadTask>& /*task*/,
                                       std::int64_t /*fileOffset*/,
                                       std::int64_t /*expectedTotalBytes*/) {}
};

namespace detail {
class SessionEvents;
class SessionTransfer;
}  // namespace detail

class UrlSession : public std::enable_shared_from_this<UrlSession> {
  public:
    using TaskLists = std::function<void(std::vector<std::shared_ptr<UrlSessionDataTask>> data,
                                         std::vector<std::shared_ptr<UrlSessionUploadTask>> upload,
                                         std::vector<std::shared_ptr<UrlSessionDownloadTask>>)>;

    // A session with its own copy of the configuration. A null delegate: tasks report only to
    // their completion handlers. A null queue: a new queue of width 1.
    static std::shared_ptr<UrlSession> create(
        const UrlSessionConfiguration& configuration,
        std::shared_ptr<UrlSessionDelegate> delegate = nullptr,
        std::shared_ptr<OperationQueue> delegateQueue = nullptr);
    ~UrlSession();
    UrlSession(const UrlSession&) = delete;
    UrlSession& operator=(const UrlSession&) = delete;

    // A copy of the configuration the session was made with.
    UrlSessionConfiguration configuration() const;
    // Null once the session has become invalid.
    std::shared_ptr<UrlSessionDelegate> delegate() const;
    const std::shared_ptr<OperationQueue>& delegateQueue() const { return delegateQueue_; }

    // Tasks, each made suspended: resume() starts it. Every one throws std::logic_error once
    // the session was invalidated. A request whose URL has no scheme or no host gives a task
    // that completes with -1000 (kUrlErrorBadUrl) when resumed.
    std::shared_ptr<UrlSessionDataTask> dataTaskWithRequest(const UrlRequest& request);
    std::shared_ptr<UrlSessionDataTask> dataTaskWithRequest(const UrlRequest& request,
                                                            UrlSessionDataCompletion completion);
    // The body is the file's bytes, with "Content-Length" set to its size when the request
    // does not set it; a file that cannot be read fails the task with -1100. Throws
    // std::invalid_argument for a URL that is not a file URL.
    std::shared_ptr<UrlSessionUploadTask> uploadTaskWithRequest(const UrlRequest& request,
                                                                const Url& fromFile);
    std::shared_ptr<UrlSessionUploadTask> uploadTaskWithRequest(
        const UrlRequest& request, const Url& fromFile, UrlSessionDataCompletion completion);
    // The body is the bytes given (the request's own body is not sent).
    std::shared_ptr<UrlSessionUploadTask> uploadTaskWithRequest(const UrlRequest& request,
                                                                Bytes fromData);
    std::shared_ptr<UrlSessionUploadTask> uploadTaskWithRequest(
        const UrlRequest& request, Bytes fromData, UrlSessionDataCompletion completion);
    // The body comes from the delegate's taskNeedNewBodyStream; its length from the request's
    // "Content-Length" (else it goes out chunked).
    std::shared_ptr<UrlSessionUploadTask> uploadTaskWithStreamedRequest(const UrlRequest& request);
    std::shared_ptr<UrlSessionDownloadTask> downloadTaskWithRequest(const UrlRequest& request);
    std::shared_ptr<UrlSessionDownloadTask> downloadTaskWithRequest(
        const UrlRequest& request, UrlSessionDownloadCompletion completion);
    // Goes on with a download cancelled by cancelByProducingResumeData. Resume data that is
    // not a property list naming an http(s) URL gives a task that completes with -1000.
    std::shared_ptr<UrlSessionDownloadTask> downloadTaskWithResumeData(const Bytes& resumeData);
    std::shared_ptr<UrlSessionDownloadTask> downloadTaskWithResumeData(
        const Bytes& resumeData, UrlSessionDownloadCompletion completion);

    // The tasks that have not completed, by kind, each list in the order the tasks were made
    // (upload tasks are not listed among the data tasks). The handler runs on the delegate
    // queue, in turn with the callbacks.
    void getTasksWithCompletionHandler(TaskLists handler);

    // See the header comment. Calling either again, or after the other, does nothing more
    // (except that invalidateAndCancel() still cancels the tasks left).
    void finishTasksAndInvalidate();
    void invalidateAndCancel();

    // "<UrlSession: 0x…>", for logs.
    std::string description() const;

  private:
    friend class UrlSessionTask;
    friend class UrlSessionDownloadTask;
    friend class detail::SessionTransfer;

    enum class Validity { kValid, kFinishing, kInvalid };

    UrlSession(const UrlSessionConfiguration& configuration,
               std::shared_ptr<UrlSessionDelegate> delegate,
               std::shared_ptr<OperationQueue> delegateQueue);

    template <class T>
    std::shared_ptr<T> addTask(const UrlRequest& request,
                               const std::function<void(UrlSessionTask::Inner&)>& setUp);

    // What the tasks ask of their session. resumeTask and suspendTask answer whether the
    // state changed (and so whether the task posts its notification); `start` is set when the
    // task's load is to be set going (startTask), the first time.
    bool resumeTask(const std::shared_ptr<UrlSessionTask>& task, bool& start);
    bool suspendTask(const std::shared_ptr<UrlSessionTask>& task);
    void startTask(const std::shared_ptr<UrlSessionTask>& task);
    void cancelTask(const std::shared_ptr<UrlSessionTask>& task,
                    std::function<void(std::optional<Bytes>)> resumeDataHandler);
    // A data task's delegate answered its response with kCancel.
    void refuseResponse(const std::shared_ptr<UrlSessionTask>& task);

    void askForBodyStream(const std::shared_ptr<UrlSessionTask>& task, UrlRequest request);
    void startConnection(const std::shared_ptr<UrlSessionTask>& task, UrlRequest request);
    // Decides the task's end and queues its completion (after the downloaded file's delivery,
    // for a download); false when the end was decided already.
    bool finishTask(const std::shared_ptr<UrlSessionTask>& task, std::optional<Error> error,
                    std::optional<Bytes> body = std::nullopt,
                    std::optional<std::filesystem::path> downloadedFile = std::nullopt);
    // On the delegate queue.
    void deliverDownloadedFile(const std::shared_ptr<UrlSessionTask>& task,
                               const std::filesystem::path& file);
    void deliverCompletion(const std::shared_ptr<UrlSessionTask>& task, std::optional<Bytes> body,
                           const std::optional<std::filesystem::path>& downloadedFile);
    void becomeInvalidIfDone();
    // The same with mutex_ held, which it may release.
    void becomeInvalidIfDone(std::unique_lock<std::mutex>& held);
    // The delegate when it responds to the callback, else null.
    std::shared_ptr<UrlSessionDelegate> delegateFor(UrlSessionDelegateCallback callback) const;
    // Whether the delegate's callback, if it responds to it, returns at once.
    bool returnsAtOnce(UrlSessionDelegateCallback callback) const;

    const UrlSessionConfiguration configuration_;
    const std::shared_ptr<OperationQueue> delegateQueue_;
    const std::shared_ptr<detail::SessionEvents> events_;

    // Read on the network thread for every event: not behind the lock that the threads
    // making tasks take. Null once the session has become invalid. Not an atomic shared
    // pointer: the standard library's lets go of its inner lock with a relaxed store after a
    // load, so a reader's copy and the release at invalidation would be unordered.
    Guarded<std::shared_ptr<UrlSessionDelegate>> delegate_;

    mutable std::mutex mutex_;                                        // guards what follows
    std::map<std::uint64_t, std::shared_ptr<UrlSessionTask>> tasks_;  // not yet delivered
    std::uint64_t nextIdentifier_ = 1;
    Validity validity_ = Validity::kValid;
    bool invalidQueued_ = false;
};

}  // namespace platform
