// A session manager: owns one URL session and is its delegate. Each task it makes gets a task
// delegate that gathers the body and the progress and, when the task completes, runs the
// manager's response serializer and calls the task's completion handler. Server trust is
// judged by the manager's security policy; every callback can be taken over by a block.
//
// Making one
//   create() makes the manager and its session; the session keeps the manager (its delegate)
//   until it is invalidated, as the platform's sessions do, so a manager lives until
//   invalidateSessionCancelingTasks() has run and the session has let it go.
//
// Threads
//   - Any thread may make tasks (the session calls run one at a time on a serial creation
//     queue), set blocks and settings, and invalidate.
//   - Session callbacks, the blocks that override them, and the task delegates run on
//     operationQueue(), one at a time. Serialization runs on a shared concurrent processing
//     queue (on completionQueue(), just before the handler, for a serializer that only checks
//     the response and hands the body on, handsBodyOnAsIs()); completion handlers on
//     completionQueue() (the main queue when none) inside completionGroup() (a shared group
//     when none).
//   - tasks() and its kin block their caller until the session answers: never read them on
//     operationQueue().
//
// Notifications (names in http_client/RAZTaskNotifications.h)
//   - "com.razudude.networking.task.resume" / ".suspend", on the main queue, object = the task,
//     for the manager's own tasks only (their taskDescription is the manager's "%p" address),
//     re-posted from the tasks' own resume and suspend notifications; none for a task that has
//     finished or is being cancelled by the time the main queue gets to it.
//   - "com.razudude.networking.task.complete", on the main queue after the completion handler,
//     when someone observes it by then.
//     A notification carries values only, so its user information holds the serializer's
//     class name, the body (Bytes), the serialized response as a value (an image or an XML
//     parser by its description), a download's destination as URL text, and the error as a
//     map with "domain", "code", "userInfo" and "description".
//   - "com.razudude.networking.session.invalidate" and
//     "com.razudude.networking.session.download.file-manager-error", on the delegate queue.
//
// Failures
//   - A finished download that cannot be moved to its destination posts the file-manager
//     notification, and its completion handler gets the move's error and no response object.
//   - Null arguments where the text below says "non-null" throw std::invalid_argument.
#pragma once

#include <atomic>
#include <cstdint>
#include <exception>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "SocialSDK/framework/network/RAZududeHTTPManagerShell.h"
#include "SocialSDK/framework/network/RAZududeURLResponseSerialization.h"
#include "platform/Dispatch.h"
#include "platform/Error.h"
#include "platform/KeyedArchive.h"
#include "platform/Mutex.h"
#include "platform/NotificationCenter.h"
#include "platform/Operation.h"
#include "platform/Url.h"
#include "platform/net/UrlSession.h"

class RAZududeNetworkReachabilityManager;
class RAZududeSecurityPolicy;
class RAZududeURLSessionManager;

// How far a task's transfer is, in bytes, and how to pause or cancel it. Safe from any thread.
class RAZududeProgress {
  public:
    explicit RAZududeProgress(std::int64_t totalUnitCount = 0) : total_(totalUnitCount) {}

    std::int64_t totalUnitCount() const;
    void setTotalUnitCount(std::int64_t total);
    std::int64_t completedUnitCount() const;
    void setCompletedUnitCount(std::int64_t completed);
    // 0 while the total is not positive.
    double fractionCompleted() const;

    bool isPaused() const;
    bool isCancelled() const;
    // pause() runs the pausing handler; cancel() the cancellation handler, once.
    void setPausingHandler(std::function<void()> handler);
    void setCancellationHandler(std::function<void()> handler);
    void pause();
    void cancel();

  private:
    mutable platform::Mutex mutex_;
    std::int64_t total_ RZ_GUARDED_BY(mutex_);
    std::int64_t completed_ RZ_GUARDED_BY(mutex_) = 0;
    bool paused_ RZ_GUARDED_BY(mutex_) = false;
    bool cancelled_ RZ_GUARDED_BY(mutex_) = false;
    std::function<void()> pausingHandler_ RZ_GUARDED_BY(mutex_);
    std::function<void()> cancellationHandler_ RZ_GUARDED_BY(mutex_);
};

// One per task: what the task's completion needs. Its methods run on the delegate queue; it
// is made shared (std::make_shared), and is read, not changed, once its task completed.
class RAZududeURLSessionManagerTaskDelegate
    : public std::enable_shared_from_this<RAZududeURLSessionManagerTaskDelegate> {
  public:
    using CompletionHandler = std::function<void(
        const std::shared_ptr<const platform::UrlResponse>& response,
        const RAZududeResponseObject& responseObject, const std::optional<platform::Error>& error)>;
    using DestinationBlock = std::function<std::optional<platform::Url>(
        const std::shared_ptr<platform::UrlSession>& session,
        const std::shared_ptr<platform::UrlSessionDownloadTask>& task,
        const platform::Url& location)>;

    explicit RAZududeURLSessionManagerTaskDelegate(std::weak_ptr<RAZududeURLSessionManager> manager)
        : manager_(std::move(manager)) {}

    const std::shared_ptr<RAZududeProgress>& progress() const { return progress_; }
    const platform::Bytes& mutableData() const { return data_; }
    const std::optional<platform::Url>& downloadFileURL() const { return downloadFileURL_; }
    void setDownloadFileURL(std::optional<platform::Url> url) { downloadFileURL_ = std::move(url); }
    void setDownloadTaskDidFinishDownloading(DestinationBlock block) {
        destination_ = std::move(block);
    }
    void setCompletionHandler(CompletionHandler handler) { completion_ = std::move(handler); }

    void taskDidComplete(const std::shared_ptr<platform::UrlSession>& session,
                         const std::shared_ptr<platform::UrlSessionTask>& task,
                         std::optional<platform::Error> error);
    void dataTaskDidReceiveData(const platform::Bytes& data);
    void downloadTaskDidFinishDownloading(
        const std::shared_ptr<platform::UrlSession>& session,
        const std::shared_ptr<platform::UrlSessionDownloadTask>& task,
        const platform::Url& location);
    // The file is at its destination, or the move's error.
    void setMoveError(platform::Error error) { moveError_ = std::move(error); }

  private:
    struct Outcome;

    std::weak_ptr<RAZududeURLSessionManager> manager_;
    platform::Bytes data_;
    std::shared_ptr<RAZududeProgress> progress_ = std::make_shared<RAZududeProgress>(0);
    std::optional<platform::Url> downloadFileURL_;
    DestinationBlock destination_;
    CompletionHandler completion_;
    std::optional<platform::Error> moveError_;
};

class RAZududeURLSessionManager : public platform::UrlSessionDelegate,
                                  public platform::Archivable,
                                  public std::enable_shared_from_this<RAZududeURLSessionManager> {
  protected:
    struct Key {};  // only create() and subclasses' factories make managers

  public:
    using Session = std::shared_ptr<platform::UrlSession>;
    using Task = std::shared_ptr<platform::UrlSessionTask>;
    using DataTask = std::shared_ptr<platform::UrlSessionDataTask>;
    using DownloadTask = std::shared_ptr<platform::UrlSessionDownloadTask>;
    using Disposition = platform::UrlSessionAuthChallengeDisposition;
    using CompletionHandler = RAZududeURLSessionManagerTaskDelegate::CompletionHandler;
    // Where a download goes: from the temporary file and the response; nullopt leaves it.
    using DestinationBlock = std::function<std::optional<platform::Url>(
        const platform::Url& targetPath,
        const std::shared_ptr<const platform::UrlResponse>& response)>;

    using SessionDidBecomeInvalidBlock =
        std::function<void(const Session&, const std::optional<platform::Error>&)>;
    using SessionDidReceiveAuthenticationChallengeBlock =
        std::function<Disposition(const Session&, const platform::AuthenticationChallenge&,
                                  std::optional<platform::Credential>& credential)>;
    using DidFinishEventsForBackgroundURLSessionBlock = std::function<void(const Session&)>;
    using TaskWillPerformHTTPRedirectionBlock = std::function<std::optional<platform::UrlRequest>(
        const Session&, const Task&, const std::shared_ptr<const platform::HttpUrlResponse>&,
        const platform::UrlRequest&)>;
    using TaskDidReceiveAuthenticationChallengeBlock = std::function<Disposition(
        const Session&, const Task&, const platform::AuthenticationChallenge&,
        std::optional<platform::Credential>& credential)>;
    using TaskNeedNewBodyStreamBlock =
        std::function<std::shared_ptr<platform::InputStream>(const Session&, const Task&)>;
    using TaskDidSendBodyDataBlock =
        std::function<void(const Session&, const Task&, std::int64_t bytesSent,
                           std::int64_t totalBytesSent, std::int64_t totalBytesExpectedToSend)>;
    using TaskDidCompleteBlock =
        std::function<void(const Session&, const Task&, const std::optional<platform::Error>&)>;
    using DataTaskDidReceiveResponseBlock = std::function<platform::UrlSessionResponseDisposition(
        const Session&, const DataTask&, const std::shared_ptr<const platform::UrlResponse>&)>;
    using DataTaskDidBecomeDownloadTaskBlock =
        std::function<void(const Session&, const DataTask&, const DownloadTask&)>;
    using DataTaskDidReceiveDataBlock =
        std::function<void(const Session&, const DataTask&, const platform::Bytes&)>;
    using DataTaskWillCacheResponseBlock = std::function<std::optional<platform::CachedUrlResponse>(
        const Session&, const DataTask&, const platform::CachedUrlResponse&)>;
    using DownloadTaskDidFinishDownloadingBlock = std::function<std::optional<platform::Url>(
        const Session&, const DownloadTask&, const platform::Url& location)>;
    using DownloadTaskDidWriteDataBlock =
        std::function<void(const Session&, const DownloadTask&, std::int64_t bytesWritten,
                           std::int64_t totalBytesWritten, std::int64_t totalBytesExpectedToWrite)>;
    using DownloadTaskDidResumeBlock = std::function<void(
        const Session&, const DownloadTask&, std::int64_t fileOffset, std::int64_t expectedTotal)>;

    static constexpr const char* kClassName = "RAZududeURLSessionManager";

    // nullopt: the default session configuration. JSON responses, the default security
    // policy, the shared reachability manager (not started), a delegate queue of width 1.
    static std::shared_ptr<RAZududeURLSessionManager> create(
        std::optional<platform::UrlSessionConfiguration> configuration = std::nullopt);
    RAZududeURLSessionManager(Key, std::optional<platform::UrlSessionConfiguration> configuration);
    // With the base URL that the HTTP subclass resolves its URL strings against.
    RAZududeURLSessionManager(Key, std::optional<platform::UrlSessionConfiguration> configuration,
                              std::optional<platform::Url> baseURL);
    ~RAZududeURLSessionManager() override;

    const Session& session() const { return session_; }
    const std::shared_ptr<platform::OperationQueue>& operationQueue() const {
        return operationQueue_;
    }
    const platform::UrlSessionConfiguration& sessionConfiguration() const { return configuration_; }

    std::shared_ptr<RAZududeURLResponseSerialization> responseSerializer() const;
    // Non-null.
    void setResponseSerializer(std::shared_ptr<RAZududeURLResponseSerialization> serializer);
    std::shared_ptr<RAZududeSecurityPolicy> securityPolicy() const;
    void setSecurityPolicy(std::shared_ptr<RAZududeSecurityPolicy> policy);
    std::shared_ptr<RAZududeNetworkReachabilityManager> reachabilityManager() const;
    void setReachabilityManager(std::shared_ptr<RAZududeNetworkReachabilityManager> manager);
    // Null: the main queue; the shared completion group.
    std::shared_ptr<platform::DispatchQueue> completionQueue() const;
    void setCompletionQueue(std::shared_ptr<platform::DispatchQueue> queue);
    std::shared_ptr<platform::DispatchGroup> completionGroup() const;
    void setCompletionGroup(std::shared_ptr<platform::DispatchGroup> group);
    // Only background sessions, which do not exist here, need it; kept for those who set it.
    bool attemptsToRecreateUploadTasksForBackgroundSessions() const;
    void setAttemptsToRecreateUploadTasksForBackgroundSessions(bool attempts);

    // The session's unfinished tasks; block until the session answers (see above).
    std::vector<Task> tasks() const;
    std::vector<DataTask> dataTasks() const;
    std::vector<std::shared_ptr<platform::UrlSessionUploadTask>> uploadTasks() const;
    std::vector<DownloadTask> downloadTasks() const;

    // On the main queue: cancels the tasks too, or lets them finish, then the session ends.
    void invalidateSessionCancelingTasks(bool cancelPendingTasks);

    // Tasks, not resumed, each with a task delegate and this manager's taskDescription. Every
    // one throws std::logic_error once the session is invalid. The progress out-parameters
    // may be null.
    DataTask dataTaskWithRequest(const platform::UrlRequest& request, CompletionHandler completion);
    std::shared_ptr<platform::UrlSessionUploadTask> uploadTaskWithRequest(
        const platform::UrlRequest& request, const platform::Url& fromFile,
        std::shared_ptr<RAZududeProgress>* progress, CompletionHandler completion);
    std::shared_ptr<platform::UrlSessionUploadTask> uploadTaskWithRequest(
        const platform::UrlRequest& request, platform::Bytes fromData,
        std::shared_ptr<RAZududeProgress>* progress, CompletionHandler completion);
    std::shared_ptr<platform::UrlSessionUploadTask> uploadTaskWithStreamedRequest(
        const platform::UrlRequest& request, std::shared_ptr<RAZududeProgress>* progress,
        CompletionHandler completion);
    DownloadTask downloadTaskWithRequest(const platform::UrlRequest& request,
                                         std::shared_ptr<RAZududeProgress>* progress,
                                         DestinationBlock destination,
                                         CompletionHandler completion);
    DownloadTask downloadTaskWithResumeData(const platform::Bytes& resumeData,
                                            std::shared_ptr<RAZududeProgress>* progress,
                                            DestinationBlock destination,
                                            CompletionHandler completion);

    // Null when the task has no delegate (not this manager's, or finished).
    std::shared_ptr<RAZududeProgress> uploadProgressForTask(const Task& task) const;
    std::shared_ptr<RAZududeProgress> downloadProgressForTask(const Task& task) const;

    // The task delegates, by task identifier. Non-null arguments.
    std::shared_ptr<RAZududeURLSessionManagerTaskDelegate> delegateForTask(const Task& task) const;
    void setDelegate(std::shared_ptr<RAZududeURLSessionManagerTaskDelegate> delegate,
                     const Task& task);
    void removeDelegateForTask(const Task& task);
    void removeAllDelegates();

    void setSessionDidBecomeInvalidBlock(SessionDidBecomeInvalidBlock block);
    void setSessionDidReceiveAuthenticationChallengeBlock(
        SessionDidReceiveAuthenticationChallengeBlock block);
    void setDidFinishEventsForBackgroundURLSessionBlock(
        DidFinishEventsForBackgroundURLSessionBlock block);
    void setTaskWillPerformHTTPRedirectionBlock(TaskWillPerformHTTPRedirectionBlock block);
    void setTaskDidReceiveAuthenticationChallengeBlock(
        TaskDidReceiveAuthenticationChallengeBlock block);
    void setTaskNeedNewBodyStreamBlock(TaskNeedNewBodyStreamBlock block);
    void setTaskDidSendBodyDataBlock(TaskDidSendBodyDataBlock block);
    void setTaskDidCompleteBlock(TaskDidCompleteBlock block);
    void setDataTaskDidReceiveResponseBlock(DataTaskDidReceiveResponseBlock block);
    void setDataTaskDidBecomeDownloadTaskBlock(DataTaskDidBecomeDownloadTaskBlock block);
    void setDataTaskDidReceiveDataBlock(DataTaskDidReceiveDataBlock block);
    void setDataTaskWillCacheResponseBlock(DataTaskWillCacheResponseBlock block);
    void setDownloadTaskDidFinishDownloadingBlock(DownloadTaskDidFinishDownloadingBlock block);
    void setDownloadTaskDidWriteDataBlock(DownloadTaskDidWriteDataBlock block);
    void setDownloadTaskDidResumeBlock(DownloadTaskDidResumeBlock block);

    // The manager's address as "%p": the taskDescription of its tasks.
    const std::string& taskDescriptionForSessionTasks() const;
    // "<RAZududeURLSessionManager: 0x…, session: …, operationQueue: …>"
    virtual std::string description() const;

    // A new manager of the same configuration.
    std::shared_ptr<RAZududeURLSessionManager> copy() const;

    static constexpr bool supportsSecureCoding() { return true; }
    std::string archiveClassName() const override { return kClassName; }
    void encode(platform::KeyedArchiver& coder) const override;
    static std::shared_ptr<RAZududeURLSessionManager> decode(platform::KeyedUnarchiver& coder);
    // Also registers the session configuration's class.
    static void registerArchiveClass();

    // platform::UrlSessionDelegate
    bool respondsTo(platform::UrlSessionDelegateCallback callback) const override;
    // Received bytes and a task's end only hand work on (to the task's delegate, the
    // completion queue), unless the app set a block of its own for them.
    bool callbackReturnsAtOnce(platform::UrlSessionDelegateCallback callback) const override;
    void sessionDidBecomeInvalid(const Session& session,
                                 const std::optional<platform::Error>& error) override;
    void sessionDidReceiveChallenge(const Session& session,
                                    const platform::AuthenticationChallenge& challenge,
                                    platform::UrlSessionChallengeCompletion completion) override;
    // The security policy's, unless a block answers the session's challenges.
    std::optional<std::string> serverTrustJudgement(const Session& session) const override;
    void didFinishEventsForBackgroundUrlSession(const Session& session) override;
    void taskWillPerformHttpRedirection(
        const Session& session, const Task& task,
        const std::shared_ptr<const platform::HttpUrlResponse>& response,
        const platform::UrlRequest& newRequest,
        platform::UrlSessionRedirectCompletion completion) override;
    void taskDidReceiveChallenge(const Session& session, const Task& task,
                                 const platform::AuthenticationChallenge& challenge,
                                 platform::UrlSessionChallengeCompletion completion) override;
    void taskNeedNewBodyStream(const Session& session, const Task& task,
                               platform::UrlSessionBodyStreamCompletion completion) override;
    void taskDidSendBodyData(const Session& session, const Task& task, std::int64_t bytesSent,
                             std::int64_t totalBytesSent,
                             std::int64_t totalBytesExpectedToSend) override;
    void taskDidComplete(const Session& session, const Task& task,
                         const std::optional<platform::Error>& error) override;
    void dataTaskDidReceiveResponse(const Session& session, const DataTask& task,
                                    const std::shared_ptr<const platform::UrlResponse>& response,
                                    platform::UrlSessionResponseCompletion completion) override;
    void dataTaskDidBecomeDownloadTask(const Session& session, const DataTask& task,
                                       const DownloadTask& downloadTask) override;
    void dataTaskDidReceiveData(const Session& session, const DataTask& task,
                                const platform::Bytes& data) override;
    void dataTaskWillCacheResponse(const Session& session, const DataTask& task,
                                   const platform::CachedUrlResponse& proposed,
                                   platform::UrlSessionCacheCompletion completion) override;
    void downloadTaskDidFinishDownloading(const Session& session, const DownloadTask& task,
                                          const platform::Url& location) override;
    void downloadTaskDidWriteData(const Session& session, const DownloadTask& task,
                                  std::int64_t bytesWritten, std::int64_t totalBytesWritten,
                                  std::int64_t totalBytesExpectedToWrite) override;
    void downloadTaskDidResume(const Session& session, const DownloadTask& task,
                               std::int64_t fileOffset, std::int64_t expectedTotalBytes) override;

  protected:
    // Makes the session with this manager as its delegate and starts observing the tasks;
    // factories call it once the manager is owned by a shared_ptr.
    void start();

    // The base URL, the serializers and the settings that the HTTP subclass shares with the
    // operation manager.
    const RAZududeHTTPManagerShell& shell() const { return shell_; }
    RAZududeHTTPManagerShell& shell() { return shell_; }

  private:
    friend class RAZududeURLSessionManagerTaskDelegate;

    template <class T>
    std::shared_ptr<T> makeTask(const std::function<std::shared_ptr<T>()>& create);
    // `adopting`: a task found in the session, which gets a delegate only when it has none
    // (the table is checked and filled under one hold of the lock, so a task made meanwhile
    // keeps its completion handler).
    void addDelegateForDataTask(const Task& task, CompletionHandler completion,
                                bool adopting = false);
    std::shared_ptr<RAZududeProgress> addDelegateForUploadTask(const Task& task,
                                                               CompletionHandler completion,
                                                               bool adopting = false);
    std::shared_ptr<RAZududeProgress> addDelegateForDownloadTask(const DownloadTask& task,
                                                                 DestinationBlock destination,
                                                                 CompletionHandler completion,
                                                                 bool adopting = false);
    // Removes the task's delegate from the table and hands it back (null when none).
    std::shared_ptr<RAZududeURLSessionManagerTaskDelegate> takeDelegateForTask(const Task& task);
    // False when adopting and the task has a delegate already.
    bool install(std::shared_ptr<RAZududeURLSessionManagerTaskDelegate> delegate, const Task& task,
                 bool adopting);
    void taskChangedState(const platform::Notification& notification, const char* name);
    // Server trust under the security policy; any other challenge gets the default handling.
    Disposition judgeChallenge(const platform::AuthenticationChallenge& challenge,
                               std::optional<platform::Credential>& credential) const;

    const platform::UrlSessionConfiguration configuration_;
    const std::shared_ptr<platform::OperationQueue> operationQueue_;
    Session session_;
    const std::string taskDescription_;  // every task's: the manager's address, made once

    mutable platform::Mutex lock_;  // the task delegates' table, and nothing else
    std::map<std::uint64_t, std::shared_ptr<RAZududeURLSessionManagerTaskDelegate>> delegates_
        RZ_GUARDED_BY(lock_);

    RAZududeHTTPManagerShell shell_;

    // A block the app may set from any thread, while the network thread asks for every event
    // whether it is set: most never are, and that answer takes no lock.
    template <class Block>
    class BlockSlot {
      public:
        void set(Block block) {
            value_.with([&](Block& value) {
                value = std::move(block);
                isSet_.store(static_cast<bool>(value), std::memory_order_release);
            });
        }
        Block get() const { return isSet() ? value_.get() : Block(); }
        bool isSet() const { return isSet_.load(std::memory_order_acquire); }

      private:
        platform::Guarded<Block> value_;
        std::atomic<bool> isSet_{false};
    };

    std::atomic<bool> recreateUploads_{false};
    BlockSlot<SessionDidBecomeInvalidBlock> sessionDidBecomeInvalid_;
    BlockSlot<SessionDidReceiveAuthenticationChallengeBlock> sessionDidReceiveChallenge_;
    BlockSlot<DidFinishEventsForBackgroundURLSessionBlock> didFinishEventsForBackground_;
    BlockSlot<TaskWillPerformHTTPRedirectionBlock> taskWillPerformRedirection_;
    BlockSlot<TaskDidReceiveAuthenticationChallengeBlock> taskDidReceiveChallenge_;
    BlockSlot<TaskNeedNewBodyStreamBlock> taskNeedNewBodyStream_;
    BlockSlot<TaskDidSendBodyDataBlock> taskDidSendBodyData_;
    BlockSlot<TaskDidCompleteBlock> taskDidComplete_;
    BlockSlot<DataTaskDidReceiveResponseBlock> dataTaskDidReceiveResponse_;
    BlockSlot<DataTaskDidBecomeDownloadTaskBlock> dataTaskDidBecomeDownloadTask_;
    BlockSlot<DataTaskDidReceiveDataBlock> dataTaskDidReceiveData_;
    BlockSlot<DataTaskWillCacheResponseBlock> dataTaskWillCacheResponse_;
    BlockSlot<DownloadTaskDidFinishDownloadingBlock> downloadTaskDidFinishDownloading_;
    BlockSlot<DownloadTaskDidWriteDataBlock> downloadTaskDidWriteData_;
    BlockSlot<DownloadTaskDidResumeBlock> downloadTaskDidResume_;

    platform::ObserverToken resumeObserver_;
    platform::ObserverToken suspendObserver_;
};
