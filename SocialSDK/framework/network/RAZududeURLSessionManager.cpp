#include "SocialSDK/framework/network/RAZududeURLSessionManager.h"

#include <cerrno>
#include <filesystem>
#include <future>
#include <stdexcept>
#include <system_error>
#include <utility>

#include "SocialSDK/framework/network/RAZududeNetworkReachabilityManager.h"
#include "SocialSDK/framework/network/RAZududeSecurityPolicy.h"
#include "http_client/RAZTaskNotifications.h"
#include "platform/Files.h"
#include "platform/Format.h"
#include "platform/Log.h"
#include "platform/TaskGuard.h"
#include "platform/net/NetworkThreadAllocator.h"

namespace {

const std::shared_ptr<platform::DispatchQueue>& processingQueue() {
    static const auto queue =
        platform::DispatchQueue::concurrent("com.razudude.networking.session.manager.processing");
    return queue;
}

const std::shared_ptr<platform::DispatchQueue>& creationQueue() {
    static const auto queue =
        platform::DispatchQueue::serial("com.razudude.networking.session.manager.creation");
    return queue;
}

void require(bool satisfied, const char* what) {
    if (!satisfied) {
        throw std::invalid_argument(std::string("Invalid parameter not satisfying: ") + what);
    }
}

// A notification holds values, not errors.
platform::Value valueOf(const platform::Error& error) {
    return platform::Map{{"domain", error.domain()},
                         {"code", error.code()},
                         {"userInfo", error.userInfo()},
                         {"description", error.description()}};
}

platform::Value valueOf(const RAZududeResponseObject& object) {
    if (const auto* value = object.value()) {
        return *value;
    }
    return object.description();
}

// Moves a finished download; the destination must not exist yet, as the platform's file
// manager wants it.
std::optional<platform::Error> moveFile(const platform::Url& from, const platform::Url& to) {
    const std::filesystem::path source = from.path();
    const std::filesystem::path target = to.path();
    std::error_code code;
    if (!to.isFileUrl()) {
        return platform::Files::errorFromErrno(EINVAL, true, target, "move a download to");
    }
    if (std::filesystem::exists(target, code)) {
        return platform::Files::errorFromErrno(EEXIST, true, target, "move a download to");
    }
    std::filesystem::rename(source, target, code);
    if (code == std::errc::cross_device_link) {
        code.clear();
        std::filesystem::copy_file(source, target, code);
        if (!code) {
            std::filesystem::remove(source, code);
            code.clear();
        }
    }
    if (code) {
        return platform::Files::errorFromErrno(code.value(), true, target, "move a download to");
    }
    return std::nullopt;
}

void postMoveError(const std::shared_ptr<platform::UrlSessionDownloadTask>& task,
                   const platform::Error& error) {
    platform::NotificationCenter::defaultCenter().post(
        RAZURLSessionDownloadTaskDidFailToMoveFileNotification, task.get(), error.userInfo());
}

}  // namespace

// --- progress ---

std::int64_t RAZududeProgress::totalUnitCount() const {
    platform::MutexLock lock(mutex_);
    return total_;
}

void RAZududeProgress::setTotalUnitCount(std::int64_t total) {
    platform::MutexLock lock(mutex_);
    total_ = total;
}

std::int64_t RAZududeProgress::completedUnitCount() const {
    platform::MutexLock lock(mutex_);
    return completed_;
}

void RAZududeProgress::setCompletedUnitCount(std::int64_t completed) {
    platform::MutexLock lock(mutex_);
    completed_ = completed;
}

double RAZududeProgress::fractionCompleted() const {
    platform::MutexLock lock(mutex_);
    return total_ > 0 ? static_cast<double>(completed_) / static_cast<double>(total_) : 0.0;
}

bool RAZududeProgress::isPaused() const {
    platform::MutexLock lock(mutex_);
    return paused_;
}

bool RAZududeProgress::isCancelled() const {
    platform::MutexLock lock(mutex_);
    return cancelled_;
}

void RAZududeProgress::setPausingHandler(std::function<void()> handler) {
    platform::MutexLock lock(mutex_);
    pausingHandler_ = std::move(handler);
}

void RAZududeProgress::setCancellationHandler(std::function<void()> handler) {
    platform::MutexLock lock(mutex_);
    cancellationHandler_ = std::move(handler);
}

void RAZududeProgress::pause() {
    std::function<void()> handler;
    {
        platform::MutexLock lock(mutex_);
        if (paused_ || cancelled_) {
            return;
        }
        paused_ = true;
        handler = pausingHandler_;
    }
    if (handler) {
        handler();
    }
}

void RAZududeProgress::cancel() {
    std::function<void()> handler;
    {
        platform::MutexLock lock(mutex_);
        if (cancelled_) {
            return;
        }
        cancelled_ = true;
        handler = std::move(cancellationHandler_);
    }
    if (handler) {
        handler();
    }
}

// --- task delegate ---

void RAZududeURLSessionManagerTaskDelegate::dataTaskDidReceiveData(const platform::Bytes& data) {
    data_.insert(data_.end(), data.begin(), data.end());
}

void RAZududeURLSessionManagerTaskDelegate::downloadTaskDidFinishDownloading(
    const std::shared_ptr<platform::UrlSession>& session,
    const std::shared_ptr<platform::UrlSessionDownloadTask>& task, const platform::Url& location) {
    if (!destination_) {
        return;
    }
    downloadFileURL_ = destination_(session, task, location);
    if (downloadFileURL_) {
        if (auto error = moveFile(location, *downloadFileURL_)) {
            postMoveError(task, *error);
            moveError_ = std::move(error);
        }
    }
}

// A task's end on its way to its completion handler and its complete notification.
struct RAZududeURLSessionManagerTaskDelegate::Outcome {
    std::shared_ptr<const RAZududeURLSessionManagerTaskDelegate> delegate;  // body, file, handler
    std::shared_ptr<platform::UrlSessionTask> task;
    std::shared_ptr<RAZududeURLResponseSerialization> serializer;
    std::optional<platform::Error> transportError;  // the serializer does not run then
    RAZududeResponseObject object;
    std::optional<platform::Error> serializationError;

    void serialize() {
        object = serializer->responseObjectForResponse(task->response(), delegate->data_,
                                                       &serializationError);
        if (delegate->downloadFileURL_) {
            object = RAZududeResponseObject(
                platform::Value(delegate->downloadFileURL_->absoluteString()));
        }
    }

    // On the completion queue.
    void deliver() const {
        const auto& error = transportError ? transportError : serializationError;
        if (const auto& completion = delegate->completion_) {
            platform::runGuarded("a task's completion handler",
                                 [&] { completion(task->response(), object, error); });
        }
        // The user information is made only for someone to read it.
        if (platform::NotificationCenter::defaultCenter().hasObservers(
                RAZNetworkingTaskDidCompleteNotification)) {
            platform::DispatchQueue::main()->async([task = task, info = userInfo(error)] {
                platform::NotificationCenter::defaultCenter().post(
                    RAZNetworkingTaskDidCompleteNotification, task.get(), info);
            });
        }
    }

    platform::Map userInfo(const std::optional<platform::Error>& error) const {
        platform::Map info{
            {RAZNetworkingTaskDidCompleteResponseSerializerKey, serializer->archiveClassName()}};
        if (delegate->downloadFileURL_) {
            info.set(RAZNetworkingTaskDidCompleteAssetPathKey,
                     delegate->downloadFileURL_->absoluteString());
        } else {
            info.set(RAZNetworkingTaskDidCompleteResponseDataKey, delegate->data_);
        }
        if (!transportError && object) {
            info.set(RAZNetworkingTaskDidCompleteSerializedResponseKey, valueOf(object));
        }
        if (error) {
            info.set(RAZNetworkingTaskDidCompleteErrorKey, valueOf(*error));
        }
        return info;
    }
};

void RAZududeURLSessionManagerTaskDelegate::taskDidComplete(
    const std::shared_ptr<platform::UrlSession>& /*session*/,
    const std::shared_ptr<platform::UrlSessionTask>& task, std::optional<platform::Error> error) {
    const auto manager = manager_.lock();
    if (!manager) {
        return;
    }
    auto settings = manager->shell_.completion();
    const auto queue = settings.queue ? settings.queue : platform::DispatchQueue::main();
    const auto group = settings.group;
    // A download that never reached its destination has not succeeded, whatever the
    // transfer said.
    if (!error && moveError_) {
        error = moveError_;
    }
    // Nothing changes this delegate any more: the outcome reads its body and file in place.
    // Made where the transfer ended, most often the network thread, and let go of on the
    // completion queue.
    auto outcome = std::allocate_shared<Outcome>(platform::NetworkThreadAllocator<Outcome>(),
                                                 Outcome{shared_from_this(),
                                                         task,
                                                         std::move(settings.serializer),
                                                         std::move(error),
                                                         {},
                                                         std::nullopt});
    // A serializer that only checks the response and hands the body on is not worth a hop:
    // it runs on the completion queue, just before the handler, as does everything else when
    // the load failed. That keeps it off the delegate queue, which the network thread runs.
    if (outcome->transportError || outcome->serializer->handsBodyOnAsIs()) {
        platform::asyncInGroup(group, queue, [outcome] {
            if (!outcome->transportError) {
                outcome->serialize();
            }
            outcome->deliver();
        });
        return;
    }
    processingQueue()->async([outcome, queue, group] {
        outcome->serialize();
        platform::asyncInGroup(group, queue, [outcome] { outcome->deliver(); });
    });
}

// --- manager: making and settings ---

std::shared_ptr<RAZududeURLSessionManager> RAZududeURLSessionManager::create(
    std::optional<platform::UrlSessionConfiguration> configuration) {
    auto manager = std::make_shared<RAZududeURLSessionManager>(Key{}, std::move(configuration));
    manager->start();
    return manager;
}

RAZududeURLSessionManager::RAZududeURLSessionManager(
    Key key, std::optional<platform::UrlSessionConfiguration> configuration)
    : RAZududeURLSessionManager(key, std::move(configuration), std::nullopt) {}

RAZududeURLSessionManager::RAZududeURLSessionManager(
    Key, std::optional<platform::UrlSessionConfiguration> configuration,
    std::optional<platform::Url> baseURL)
    : configuration_(configuration
                         ? *configuration
                         : platform::UrlSessionConfiguration::defaultSessionConfiguration()),
      operationQueue_(std::make_shared<platform::OperationQueue>()),
      taskDescription_(platform::format("%p", static_cast<const void*>(this))),
      shell_(std::move(baseURL)) {
    operationQueue_->setMaxConcurrentOperationCount(1);
}

void RAZududeURLSessionManager::start() {
    session_ = platform::UrlSession::create(configuration_, shared_from_this(), operationQueue_);
    session_->getTasksWithCompletionHandler(
        [weak = weak_from_this()](auto data, auto upload, auto download) {
            const auto self = weak.lock();
            if (!self) {
                return;
            }
            for (const auto& task : data) {
                self->addDelegateForDataTask(task, nullptr, true);
            }
            for (const auto& task : upload) {
                self->addDelegateForUploadTask(task, nullptr, true);
            }
            for (const auto& task : download) {
                self->addDelegateForDownloadTask(task, nullptr, nullptr, true);
            }
        });
    auto& center = platform::NotificationCenter::defaultCenter();
    resumeObserver_ = center.addObserver(
        RAZNSURLSessionTaskDidResumeNotification, nullptr, [this](const platform::Notification& n) {
            taskChangedState(n, RAZNetworkingTaskDidResumeNotification);
        });
    suspendObserver_ =
        center.addObserver(RAZNSURLSessionTaskDidSuspendNotification, nullptr,
                           [this](const platform::Notification& n) {
                               taskChangedState(n, RAZNetworkingTaskDidSuspendNotification);
                           });
}

RAZududeURLSessionManager::~RAZududeURLSessionManager() {
    resumeObserver_.remove();
    suspendObserver_.remove();
}

std::shared_ptr<RAZududeURLResponseSerialization> RAZududeURLSessionManager::responseSerializer()
    const {
    return shell_.responseSerializer();
}

void RAZududeURLSessionManager::setResponseSerializer(
    std::shared_ptr<RAZududeURLResponseSerialization> serializer) {
    shell_.setResponseSerializer(std::move(serializer));
}

std::shared_ptr<RAZududeSecurityPolicy> RAZududeURLSessionManager::securityPolicy() const {
    return shell_.securityPolicy();
}

void RAZududeURLSessionManager::setSecurityPolicy(std::shared_ptr<RAZududeSecurityPolicy> policy) {
    shell_.setSecurityPolicy(std::move(policy));
}

std::shared_ptr<RAZududeNetworkReachabilityManager> RAZududeURLSessionManager::reachabilityManager()
    const {
    return shell_.reachabilityManager();
}

void RAZududeURLSessionManager::setReachabilityManager(
    std::shared_ptr<RAZududeNetworkReachabilityManager> manager) {
    shell_.setReachabilityManager(std::move(manager));
}

std::shared_ptr<platform::DispatchQueue> RAZududeURLSessionManager::completionQueue() const {
    return shell_.completionQueue();
}

void RAZududeURLSessionManager::setCompletionQueue(std::shared_ptr<platform::DispatchQueue> queue) {
    shell_.setCompletionQueue(std::move(queue));
}

std::shared_ptr<platform::DispatchGroup> RAZududeURLSessionManager::completionGroup() const {
    return shell_.completionGroup();
}

void RAZududeURLSessionManager::setCompletionGroup(std::shared_ptr<platform::DispatchGroup> group) {
    shell_.setCompletionGroup(std::move(group));
}

bool RAZududeURLSessionManager::attemptsToRecreateUploadTasksForBackgroundSessions() const {
    return recreateUploads_.load();
}

void RAZududeURLSessionManager::setAttemptsToRecreateUploadTasksForBackgroundSessions(
    bool attempts) {
    recreateUploads_.store(attempts);
}

#define RAZ_BLOCK_SETTER(Setter, Type, member)           \
    void RAZududeURLSessionManager::Setter(Type block) { \
        member.set(std::move(block));                    \
    }

RAZ_BLOCK_SETTER(setSessionDidBecomeInvalidBlock, SessionDidBecomeInvalidBlock,
                 sessionDidBecomeInvalid_)
RAZ_BLOCK_SETTER(setSessionDidReceiveAuthenticationChallengeBlock,
                 SessionDidReceiveAuthenticationChallengeBlock, sessionDidReceiveChallenge_)
RAZ_BLOCK_SETTER(setDidFinishEventsForBackgroundURLSessionBlock,
                 DidFinishEventsForBackgroundURLSessionBlock, didFinishEventsForBackground_)
RAZ_BLOCK_SETTER(setTaskWillPerformHTTPRedirectionBlock, TaskWillPerformHTTPRedirectionBlock,
                 taskWillPerformRedirection_)
RAZ_BLOCK_SETTER(setTaskDidReceiveAuthenticationChallengeBlock,
                 TaskDidReceiveAuthenticationChallengeBlock, taskDidReceiveChallenge_)
RAZ_BLOCK_SETTER(setTaskNeedNewBodyStreamBlock, TaskNeedNewBodyStreamBlock, taskNeedNewBodyStream_)
RAZ_BLOCK_SETTER(setTaskDidSendBodyDataBlock, TaskDidSendBodyDataBlock, taskDidSendBodyData_)
RAZ_BLOCK_SETTER(setTaskDidCompleteBlock, TaskDidCompleteBlock, taskDidComplete_)
RAZ_BLOCK_SETTER(setDataTaskDidReceiveResponseBlock, DataTaskDidReceiveResponseBlock,
                 dataTaskDidReceiveResponse_)
RAZ_BLOCK_SETTER(setDataTaskDidBecomeDownloadTaskBlock, DataTaskDidBecomeDownloadTaskBlock,
                 dataTaskDidBecomeDownloadTask_)
RAZ_BLOCK_SETTER(setDataTaskDidReceiveDataBlock, DataTaskDidReceiveDataBlock,
                 dataTaskDidReceiveData_)
RAZ_BLOCK_SETTER(setDataTaskWillCacheResponseBlock, DataTaskWillCacheResponseBlock,
                 dataTaskWillCacheResponse_)
RAZ_BLOCK_SETTER(setDownloadTaskDidFinishDownloadingBlock, DownloadTaskDidFinishDownloadingBlock,
                 downloadTaskDidFinishDownloading_)
RAZ_BLOCK_SETTER(setDownloadTaskDidWriteDataBlock, DownloadTaskDidWriteDataBlock,
                 downloadTaskDidWriteData_)
RAZ_BLOCK_SETTER(setDownloadTaskDidResumeBlock, DownloadTaskDidResumeBlock, downloadTaskDidResume_)

#undef RAZ_BLOCK_SETTER

// --- tasks ---

std::vector<RAZududeURLSessionManager::Task> RAZududeURLSessionManager::tasks() const {
    std::vector<Task> all;
    for (const auto& task : dataTasks()) {
        all.push_back(task);
    }
    for (const auto& task : uploadTasks()) {
        all.push_back(task);
    }
    for (const auto& task : downloadTasks()) {
        all.push_back(task);
    }
    return all;
}

namespace {

template <class T, class Pick>
std::vector<std::shared_ptr<T>> listTasks(const std::shared_ptr<platform::UrlSession>& session,
                                          Pick pick) {
    auto answer = std::make_shared<std::promise<std::vector<std::shared_ptr<T>>>>();
    auto future = answer->get_future();
    session->getTasksWithCompletionHandler([answer, pick](auto data, auto upload, auto download) {
        answer->set_value(pick(data, upload, download));
    });
    return future.get();
}

}  // namespace

std::vector<RAZududeURLSessionManager::DataTask> RAZududeURLSessionManager::dataTasks() const {
    return listTasks<platform::UrlSessionDataTask>(session_,
                                                   [](auto& data, auto&, auto&) { return data; });
}

std::vector<std::shared_ptr<platform::UrlSessionUploadTask>>
RAZududeURLSessionManager::uploadTasks() const {
    return listTasks<platform::UrlSessionUploadTask>(
        session_, [](auto&, auto& upload, auto&) { return upload; });
}

std::vector<RAZududeURLSessionManager::DownloadTask> RAZududeURLSessionManager::downloadTasks()
    const {
    return listTasks<platform::UrlSessionDownloadTask>(
        session_, [](auto&, auto&, auto& download) { return download; });
}

void RAZududeURLSessionManager::invalidateSessionCancelingTasks(bool cancelPendingTasks) {
    platform::DispatchQueue::main()->async([session = session_, cancelPendingTasks] {
        if (cancelPendingTasks) {
            session->invalidateAndCancel();
        } else {
            session->finishTasksAndInvalidate();
        }
    });
}

template <class T>
std::shared_ptr<T> RAZududeURLSessionManager::makeTask(
    const std::function<std::shared_ptr<T>()>& create) {
    std::shared_ptr<T> task;
    creationQueue()->sync([&] { task = create(); });
    return task;
}

RAZududeURLSessionManager::DataTask RAZududeURLSessionManager::dataTaskWithRequest(
    const platform::UrlRequest& request, CompletionHandler completion) {
    auto task = makeTask<platform::UrlSessionDataTask>(
        [&] { return session_->dataTaskWithRequest(request); });
    addDelegateForDataTask(task, std::move(completion));
    return task;
}

std::shared_ptr<platform::UrlSessionUploadTask> RAZududeURLSessionManager::uploadTaskWithRequest(
    const platform::UrlRequest& request, const platform::Url& fromFile,
    std::shared_ptr<RAZududeProgress>* progress, CompletionHandler completion) {
    auto task = makeTask<platform::UrlSessionUploadTask>(
        [&] { return session_->uploadTaskWithRequest(request, fromFile); });
    if (!task && attemptsToRecreateUploadTasksForBackgroundSessions() &&
        configuration_.identifier()) {
        for (int attempt = 0; !task && attempt < 3; ++attempt) {
            task = session_->uploadTaskWithRequest(request, fromFile);
        }
    }
    auto made = addDelegateForUploadTask(task, std::move(completion));
    if (progress) {
        *progress = std::move(made);
    }
    return task;
}

std::shared_ptr<platform::UrlSessionUploadTask> RAZududeURLSessionManager::uploadTaskWithRequest(
    const platform::UrlRequest& request, platform::Bytes fromData,
    std::shared_ptr<RAZududeProgress>* progress, CompletionHandler completion) {
    auto task = makeTask<platform::UrlSessionUploadTask>(
        [&] { return session_->uploadTaskWithRequest(request, std::move(fromData)); });
    auto made = addDelegateForUploadTask(task, std::move(completion));
    if (progress) {
        *progress = std::move(made);
    }
    return task;
}

std::shared_ptr<platform::UrlSessionUploadTask>
RAZududeURLSessionManager::uploadTaskWithStreamedRequest(
    const platform::UrlRequest& request, std::shared_ptr<RAZududeProgress>* progress,
    CompletionHandler completion) {
    auto task = makeTask<platform::UrlSessionUploadTask>(
        [&] { return session_->uploadTaskWithStreamedRequest(request); });
    auto made = addDelegateForUploadTask(task, std::move(completion));
    if (progress) {
        *progress = std::move(made);
    }
    return task;
}

RAZududeURLSessionManager::DownloadTask RAZududeURLSessionManager::downloadTaskWithRequest(
    const platform::UrlRequest& request, std::shared_ptr<RAZududeProgress>* progress,
    DestinationBlock destination, CompletionHandler completion) {
    auto task = makeTask<platform::UrlSessionDownloadTask>(
        [&] { return session_->downloadTaskWithRequest(request); });
    auto made = addDelegateForDownloadTask(task, std::move(destination), std::move(completion));
    if (progress) {
        *progress = std::move(made);
    }
    return task;
}

RAZududeURLSessionManager::DownloadTask RAZududeURLSessionManager::downloadTaskWithResumeData(
    const platform::Bytes& resumeData, std::shared_ptr<RAZududeProgress>* progress,
    DestinationBlock destination, CompletionHandler completion) {
    auto task = makeTask<platform::UrlSessionDownloadTask>(
        [&] { return session_->downloadTaskWithResumeData(resumeData); });
    auto made = addDelegateForDownloadTask(task, std::move(destination), std::move(completion));
    if (progress) {
        *progress = std::move(made);
    }
    return task;
}

bool RAZududeURLSessionManager::install(
    std::shared_ptr<RAZududeURLSessionManagerTaskDelegate> delegate, const Task& task,
    bool adopting) {
    {
        platform::MutexLock lock(lock_);
        if (adopting) {
            if (!delegates_.try_emplace(task->taskIdentifier(), std::move(delegate)).second) {
                return false;
            }
        } else {
            delegates_[task->taskIdentifier()] = std::move(delegate);
        }
    }
    task->setTaskDescription(taskDescriptionForSessionTasks());
    return true;
}

void RAZududeURLSessionManager::addDelegateForDataTask(const Task& task,
                                                       CompletionHandler completion,
                                                       bool adopting) {
    auto delegate = std::make_shared<RAZududeURLSessionManagerTaskDelegate>(weak_from_this());
    delegate->setCompletionHandler(std::move(completion));
    install(std::move(delegate), task, adopting);
}

std::shared_ptr<RAZududeProgress> RAZududeURLSessionManager::addDelegateForUploadTask(
    const Task& task, CompletionHandler completion, bool adopting) {
    auto delegate = std::make_shared<RAZududeURLSessionManagerTaskDelegate>(weak_from_this());
    delegate->setCompletionHandler(std::move(completion));
    if (!install(delegate, task, adopting)) {
        return nullptr;
    }

    std::int64_t total = task->countOfBytesExpectedToSend();
    if (total == platform::kUrlSessionTransferSizeUnknown) {
        total = 0;
        if (auto length = task->originalRequest().valueForHttpHeaderField("Content-Length")) {
            try {
                total = std::stoll(*length);
            } catch (const std::exception&) {
                // A length that is no number tells nothing; the total stays unknown.
            }
        }
    }
    const auto& progress = delegate->progress();
    progress->setTotalUnitCount(total);
    const std::weak_ptr<platform::UrlSessionTask> weakTask = task;
    progress->setPausingHandler([weakTask] {
        if (auto t = weakTask.lock()) {
            t->suspend();
        }
    });
    progress->setCancellationHandler([weakTask] {
        if (auto t = weakTask.lock()) {
            t->cancel();
        }
    });
    return progress;
}

std::shared_ptr<RAZududeProgress> RAZududeURLSessionManager::addDelegateForDownloadTask(
    const DownloadTask& task, DestinationBlock destination, CompletionHandler completion,
    bool adopting) {
    auto delegate = std::make_shared<RAZududeURLSessionManagerTaskDelegate>(weak_from_this());
    delegate->setCompletionHandler(std::move(completion));
    if (destination) {
        delegate->setDownloadTaskDidFinishDownloading(
            [destination = std::move(destination)](const Session&, const DownloadTask& t,
                                                   const platform::Url& location) {
                return destination(location, t->response());
            });
    }
    if (!install(delegate, task, adopting)) {
        return nullptr;
    }
    return delegate->progress();
}

std::shared_ptr<RAZududeProgress> RAZududeURLSessionManager::uploadProgressForTask(
    const Task& task) const {
    auto delegate = delegateForTask(task);
    return delegate ? delegate->progress() : nullptr;
}

std::shared_ptr<RAZududeProgress> RAZududeURLSessionManager::downloadProgressForTask(
    const Task& task) const {
    return uploadProgressForTask(task);
}

// --- the delegate table ---

std::shared_ptr<RAZududeURLSessionManagerTaskDelegate> RAZududeURLSessionManager::delegateForTask(
    const Task& task) const {
    require(task != nullptr, "task");
    platform::MutexLock lock(lock_);
    const auto found = delegates_.find(task->taskIdentifier());
    return found == delegates_.end() ? nullptr : found->second;
}

void RAZududeURLSessionManager::setDelegate(
    std::shared_ptr<RAZududeURLSessionManagerTaskDelegate> delegate, const Task& task) {
    require(task != nullptr, "task");
    require(delegate != nullptr, "delegate");
    platform::MutexLock lock(lock_);
    delegates_[task->taskIdentifier()] = std::move(delegate);
}

void RAZududeURLSessionManager::removeDelegateForTask(const Task& task) {
    require(task != nullptr, "task");
    platform::MutexLock lock(lock_);
    delegates_.erase(task->taskIdentifier());
}

std::shared_ptr<RAZududeURLSessionManagerTaskDelegate>
RAZududeURLSessionManager::takeDelegateForTask(const Task& task) {
    platform::MutexLock lock(lock_);
    const auto found = delegates_.find(task->taskIdentifier());
    if (found == delegates_.end()) {
        return nullptr;
    }
    auto delegate = std::move(found->second);
    delegates_.erase(found);
    return delegate;
}

void RAZududeURLSessionManager::removeAllDelegates() {
    decltype(delegates_) gone;
    {
        platform::MutexLock lock(lock_);
        gone.swap(delegates_);
    }
    // Released outside the lock: a completion handler may hold the last reference to
    // anything, this manager's owner included.
}

// --- task state ---

void RAZududeURLSessionManager::taskChangedState(const platform::Notification& notification,
                                                 const char* name) {
    const auto* task = static_cast<const platform::UrlSessionTask*>(notification.object);
    // As for the complete notification: nobody to tell, no hop to the main queue (and no
    // need to learn whose task it is, which every manager would spell out for every task).
    if (!task || !platform::NotificationCenter::defaultCenter().hasObservers(name) ||
        task->taskDescription() != taskDescriptionForSessionTasks()) {
        return;
    }
    // Posted even when the task has ended by the time the main queue gets here: its complete
    // notification is queued behind this one, and observers that count running tasks need
    // both.
    platform::DispatchQueue::main()->async([task = task->shared_from_this(), name] {
        platform::NotificationCenter::defaultCenter().post(name, task.get());
    });
}

// --- session callbacks ---

bool RAZududeURLSessionManager::respondsTo(platform::UrlSessionDelegateCallback callback) const {
    using C = platform::UrlSessionDelegateCallback;
    switch (callback) {
        case C::kTaskWillPerformHttpRedirection:
            return taskWillPerformRedirection_.isSet();
        case C::kDataTaskDidReceiveResponse:
            return dataTaskDidReceiveResponse_.isSet();
        case C::kDataTaskWillCacheResponse:
            return dataTaskWillCacheResponse_.isSet();
        case C::kDidFinishEventsForBackgroundUrlSession:
            return didFinishEventsForBackground_.isSet();
        default:
            return true;
    }
}

bool RAZududeURLSessionManager::callbackReturnsAtOnce(
    platform::UrlSessionDelegateCallback callback) const {
    using C = platform::UrlSessionDelegateCallback;
    switch (callback) {
        case C::kDataTaskDidReceiveData:
            return !dataTaskDidReceiveData_.isSet();
        case C::kTaskDidComplete:
            return !taskDidComplete_.isSet();
        default:
            return false;
    }
}

void RAZududeURLSessionManager::sessionDidBecomeInvalid(
    const Session& session, const std::optional<platform::Error>& error) {
    if (auto invalid = sessionDidBecomeInvalid_.get()) {
        invalid(session, error);
    }
    removeAllDelegates();
    platform::NotificationCenter::defaultCenter().post(RAZURLSessionDidInvalidateNotification,
                                                       session.get());
}

RAZududeURLSessionManager::Disposition RAZududeURLSessionManager::judgeChallenge(
    const platform::AuthenticationChallenge& challenge,
    std::optional<platform::Credential>& credential) const {
    const auto& space = challenge.protectionSpace();
    if (space.authenticationMethod() != platform::kAuthenticationMethodServerTrust) {
        return Disposition::kPerformDefaultHandling;
    }
    const auto policy = securityPolicy();
    credential = policy ? policy->credentialForServerTrust(space) : std::nullopt;
    return credential ? Disposition::kUseCredential : Disposition::kCancelAuthenticationChallenge;
}

void RAZududeURLSessionManager::sessionDidReceiveChallenge(
    const Session& session, const platform::AuthenticationChallenge& challenge,
    platform::UrlSessionChallengeCompletion completion) {
    std::optional<platform::Credential> credential;
    Disposition disposition;
    if (auto custom = sessionDidReceiveChallenge_.get()) {
        disposition = custom(session, challenge, credential);
    } else {
        disposition = judgeChallenge(challenge, credential);
    }
    if (completion) {
        completion(disposition, std::move(credential));
    }
}

std::optional<std::string> RAZududeURLSessionManager::serverTrustJudgement(const Session&) const {
    if (sessionDidReceiveChallenge_.get()) {
        return std::nullopt;
    }
    const auto policy = securityPolicy();
    return policy ? std::optional(policy->serverTrustJudgement()) : std::nullopt;
}

void RAZududeURLSessionManager::taskDidReceiveChallenge(
    const Session& session, const Task& task, const platform::AuthenticationChallenge& challenge,
    platform::UrlSessionChallengeCompletion completion) {
    std::optional<platform::Credential> credential;
    Disposition disposition;
    if (auto custom = taskDidReceiveChallenge_.get()) {
        disposition = custom(session, task, challenge, credential);
    } else {
        disposition = judgeChallenge(challenge, credential);
    }
    if (completion) {
        completion(disposition, std::move(credential));
    }
}

void RAZududeURLSessionManager::didFinishEventsForBackgroundUrlSession(const Session& session) {
    if (auto finishedEvents = didFinishEventsForBackground_.get()) {
        platform::DispatchQueue::main()->async(
            [finishedEvents, session] { finishedEvents(session); });
    }
}

void RAZududeURLSessionManager::taskWillPerformHttpRedirection(
    const Session& session, const Task& task,
    const std::shared_ptr<const platform::HttpUrlResponse>& response,
    const platform::UrlRequest& newRequest, platform::UrlSessionRedirectCompletion completion) {
    std::optional<platform::UrlRequest> request = newRequest;
    if (auto redirect = taskWillPerformRedirection_.get()) {
        request = redirect(session, task, response, newRequest);
    }
    if (completion) {
        completion(std::move(request));
    }
}

void RAZududeURLSessionManager::taskNeedNewBodyStream(
    const Session& session, const Task& task, platform::UrlSessionBodyStreamCompletion completion) {
    std::shared_ptr<platform::InputStream> stream;
    if (auto need = taskNeedNewBodyStream_.get()) {
        stream = need(session, task);
    } else {
        // Streams cannot be copied; the request's own stream serves as long as nobody has
        // read from it, which is the first (and only) time a streamed upload asks.
        const auto& own = task->originalRequest().httpBodyStream();
        if (own && own->streamStatus() == platform::StreamStatus::kNotOpen) {
            stream = own;
        }
    }
    if (completion) {
        completion(std::move(stream));
    }
}

void RAZududeURLSessionManager::taskDidSendBodyData(const Session& session, const Task& task,
                                                    std::int64_t bytesSent,
                                                    std::int64_t totalBytesSent,
                                                    std::int64_t totalBytesExpectedToSend) {
    std::int64_t expected = totalBytesExpectedToSend;
    if (expected == platform::kUrlSessionTransferSizeUnknown) {
        if (auto length = task->originalRequest().valueForHttpHeaderField("Content-Length")) {
            try {
                expected = std::stoll(*length);
            } catch (const std::exception&) {
                // Not a number: still unknown.
            }
        }
    }
    if (auto delegate = delegateForTask(task)) {
        delegate->progress()->setTotalUnitCount(expected);
        delegate->progress()->setCompletedUnitCount(totalBytesSent);
    }
    if (auto sent = taskDidSendBodyData_.get()) {
        sent(session, task, bytesSent, totalBytesSent, expected);
    }
}

void RAZududeURLSessionManager::taskDidComplete(const Session& session, const Task& task,
                                                const std::optional<platform::Error>& error) {
    // Out of the table before the completion is handed on: the completion handler, on
    // another thread, must find the task without a delegate, as a completed task is.
    if (auto delegate = takeDelegateForTask(task)) {
        delegate->taskDidComplete(session, task, error);
    }
    if (auto completed = taskDidComplete_.get()) {
        completed(session, task, error);
    }
}

void RAZududeURLSessionManager::dataTaskDidReceiveResponse(
    const Session& session, const DataTask& task,
    const std::shared_ptr<const platform::UrlResponse>& response,
    platform::UrlSessionResponseCompletion completion) {
    auto disposition = platform::UrlSessionResponseDisposition::kAllow;
    if (auto received = dataTaskDidReceiveResponse_.get()) {
        disposition = received(session, task, response);
    }
    if (completion) {
        completion(disposition);
    }
}

void RAZududeURLSessionManager::dataTaskDidBecomeDownloadTask(const Session& session,
                                                              const DataTask& task,
                                                              const DownloadTask& downloadTask) {
    if (auto delegate = delegateForTask(task)) {
        removeDelegateForTask(task);
        setDelegate(delegate, downloadTask);
    }
    if (auto became = dataTaskDidBecomeDownloadTask_.get()) {
        became(session, task, downloadTask);
    }
}

void RAZududeURLSessionManager::dataTaskDidReceiveData(const Session& session, const DataTask& task,
                                                       const platform::Bytes& data) {
    if (auto delegate = delegateForTask(task)) {
        delegate->dataTaskDidReceiveData(data);
    }
    if (auto received = dataTaskDidReceiveData_.get()) {
        received(session, task, data);
    }
}

void RAZududeURLSessionManager::dataTaskWillCacheResponse(
    const Session& session, const DataTask& task, const platform::CachedUrlResponse& proposed,
    platform::UrlSessionCacheCompletion completion) {
    std::optional<platform::CachedUrlResponse> cached = proposed;
    if (auto willCache = dataTaskWillCacheResponse_.get()) {
        cached = willCache(session, task, proposed);
    }
    if (completion) {
        completion(std::move(cached));
    }
}

void RAZududeURLSessionManager::downloadTaskDidFinishDownloading(const Session& session,
                                                                 const DownloadTask& task,
                                                                 const platform::Url& location) {
    if (auto destination = downloadTaskDidFinishDownloading_.get()) {
        if (auto target = destination(session, task, location)) {
            auto delegate = delegateForTask(task);
            if (delegate) {
                delegate->setDownloadFileURL(target);
            }
            if (auto error = moveFile(location, *target)) {
                postMoveError(task, *error);
                if (delegate) {
                    delegate->setMoveError(std::move(*error));
                }
            }
            return;
        }
    }
    if (auto delegate = delegateForTask(task)) {
        delegate->downloadTaskDidFinishDownloading(session, task, location);
    }
}

void RAZududeURLSessionManager::downloadTaskDidWriteData(const Session& session,
                                                         const DownloadTask& task,
                                                         std::int64_t bytesWritten,
                                                         std::int64_t totalBytesWritten,
                                                         std::int64_t totalBytesExpectedToWrite) {
    if (auto delegate = delegateForTask(task)) {
        delegate->progress()->setTotalUnitCount(totalBytesExpectedToWrite);
        delegate->progress()->setCompletedUnitCount(totalBytesWritten);
    }
    if (auto wrote = downloadTaskDidWriteData_.get()) {
        wrote(session, task, bytesWritten, totalBytesWritten, totalBytesExpectedToWrite);
    }
}

void RAZududeURLSessionManager::downloadTaskDidResume(const Session& session,
                                                      const DownloadTask& task,
                                                      std::int64_t fileOffset,
                                                      std::int64_t expectedTotalBytes) {
    if (auto delegate = delegateForTask(task)) {
        delegate->progress()->setTotalUnitCount(expectedTotalBytes);
        delegate->progress()->setCompletedUnitCount(fileOffset);
    }
    if (auto resumed = downloadTaskDidResume_.get()) {
        resumed(session, task, fileOffset, expectedTotalBytes);
    }
}

// --- description, copying, archiving ---

const std::string& RAZududeURLSessionManager::taskDescriptionForSessionTasks() const {
    return taskDescription_;
}

std::string RAZududeURLSessionManager::description() const {
    const std::string queue =
        platform::format("<OperationQueue: %p>{name = '%@'}",
                         static_cast<const void*>(operationQueue_.get()), operationQueue_->name());
    return platform::format("<%@: %p, session: %@, operationQueue: %@>", archiveClassName(),
                            static_cast<const void*>(this), session_->description(), queue);
}

std::shared_ptr<RAZududeURLSessionManager> RAZududeURLSessionManager::copy() const {
    return create(session_->configuration());
}

void RAZududeURLSessionManager::encode(platform::KeyedArchiver& coder) const {
    coder.encodeObject(platform::ArchiveObject(std::make_shared<platform::UrlSessionConfiguration>(
                           session_->configuration())),
                       "sessionConfiguration");
}

std::shared_ptr<RAZududeURLSessionManager> RAZududeURLSessionManager::decode(
    platform::KeyedUnarchiver& coder) {
    auto configuration =
        coder.decodeObjectOf<platform::UrlSessionConfiguration>("sessionConfiguration");
    if (coder.failed()) {
        return nullptr;
    }
    return create(configuration ? std::optional(*configuration) : std::nullopt);
}

void RAZududeURLSessionManager::registerArchiveClass() {
    platform::UrlSessionConfiguration::registerArchiveClass();
    platform::ArchiveRegistry::shared().add(
        kClassName, [](platform::KeyedUnarchiver& coder) -> std::shared_ptr<platform::Archivable> {
            return decode(coder);
        });
}
