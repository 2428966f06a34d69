#include "platform/Operation.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <stdexcept>
#include <thread>
#include <utility>

#include "platform/TaskGuard.h"
#include "platform/ThreadLoop.h"
#include "platform/ThreadPool.h"

namespace platform {

// The queue's machinery, shared by the OperationQueue object, the operations it holds and the
// jobs it has handed to the pool.
//
// Readiness is asked of operations (a virtual call that may take the operation's own locks)
// only with no lock of the queue held, and always from the queue's pump job, never from the
// thread that reports a change: an operation that reports while holding its own lock cannot
// deadlock against the queue or against another operation.
class OperationQueueCore : public std::enable_shared_from_this<OperationQueueCore> {
  public:
    struct Entry {
        std::shared_ptr<Operation> operation;
        bool started = false;
    };

    void add(const std::shared_ptr<Operation>& operation) {
        if (!operation) {
            throw std::invalid_argument("OperationQueue: a null operation cannot be added");
        }
        const std::uint64_t sequence = ++lastSequence;
        {
            MutexLock lock(operation->mutex_);
            if (operation->queue_) {
                throw std::invalid_argument("OperationQueue: the operation is already in a queue");
            }
            if (operation->state_ != Operation::State::kPending) {
                throw std::invalid_argument(
                    "OperationQueue: the operation is executing or finished");
            }
            operation->queue_ = shared_from_this();
            operation->queueSequence_ = sequence;
        }
        {
            MutexLock lock(mutex);
            entries.emplace(sequence, Entry{operation, false});
        }
        requestPump();
    }

    // Asks the pump job to look at the queue again; starts one when none runs. A thread with
    // a loop of its own (the network thread, where loads finish) runs the job itself once it
    // is done with the work in hand: refilling the queue then costs no wake-up of a worker.
    void requestPump() {
        ThreadLoop* loop = ThreadLoop::current();
        MutexLock lock(mutex);
        pumpRequested = true;
        if (!pumping) {
            pumping = true;
            auto job = [self = shared_from_this()] { self->pumpJob(); };
            if (loop) {
                loop->runSoon(std::move(job));
            } else {
                ThreadPool::shared().submit(std::move(job));
            }
        }
    }

    void operationFinished(Operation& operation) {
        std::uint64_t sequence;
        {
            MutexLock lock(operation.mutex_);
            operation.queue_.reset();
            sequence = operation.queueSequence_;
        }
        std::shared_ptr<Operation> released;  // dies after the lock is released
        {
            MutexLock lock(mutex);
            auto it = entries.find(sequence);
            if (it == entries.end()) {
                return;
            }
            if (it->second.started) {
                --running;
            }
            released = std::move(it->second.operation);
            entries.erase(it);
            changed.notify_all();
        }
        requestPump();
    }

    bool runNowIfIdle(const std::function<void()>& work) {
        {
            MutexLock lock(mutex);
            if (suspended || running >= width() || !entries.empty()) {
                return false;
            }
            ++running;
            ++runningInPlace;
        }
        detail::runGuarded("an operation", work);
        {
            MutexLock lock(mutex);
            --running;
            --runningInPlace;
            changed.notify_all();
            if (entries.empty()) {
                return true;
            }
        }
        requestPump();  // what was added meanwhile waited for the room this took
        return true;
    }

    // Forgets the queue in an operation that left it without finishing.
    static void detach(Operation& operation) {
        MutexLock lock(operation.mutex_);
        operation.queue_.reset();
    }

    // Blocks until the operation, added to this queue, has left it (after its completion).
    void waitUntilGone(const Operation& operation) {
        beforeLoopThreadWaits();
        std::uint64_t sequence;
        {
            MutexLock lock(operation.mutex_);
            sequence = operation.queueSequence_;
        }
        MutexLock lock(mutex);
        while (entries.count(sequence) != 0) {
            lock.wait(changed);
        }
    }

    long width() const RZ_REQUIRES(mutex) {
        if (maxCount != OperationQueue::kDefaultMaxConcurrentOperationCount) {
            return maxCount;
        }
        return std::max(4L, static_cast<long>(std::thread::hardware_concurrency()));
    }

    mutable Mutex mutex;
    std::condition_variable changed;  // an operation left the queue
    // By sequence: in the order they were added.
    std::map<std::uint64_t, Entry> entries RZ_GUARDED_BY(mutex);
    std::atomic<std::uint64_t> lastSequence{0};
    long running RZ_GUARDED_BY(mutex) = 0;         // started and not finished
    long runningInPlace RZ_GUARDED_BY(mutex) = 0;  // of those, work of runNowIfIdle()
    long maxCount RZ_GUARDED_BY(mutex) = OperationQueue::kDefaultMaxConcurrentOperationCount;
    bool suspended RZ_GUARDED_BY(mutex) = false;
    std::string name RZ_GUARDED_BY(mutex);

  private:
    void pumpJob() {
        for (;;) {
            {
                MutexLock lock(mutex);
                if (!pumpRequested) {
                    pumping = false;
                    return;
                }
                pumpRequested = false;
            }
            startReadyOperations();
        }
    }

    // Starts ready operations in the order they were added while there is room. The pending
    // entries are looked at one by one, each asked for its readiness unlocked: most pumps
    // start the first one they look at, and a copy of more would touch operations that wait.
    void startReadyOperations() {
        const bool onLoopThread = ThreadLoop::current() != nullptr;
        std::uint64_t resumeAfter = 0;
        for (;;) {
            std::uint64_t sequence = 0;
            std::shared_ptr<Operation> candidate;
            {
                MutexLock lock(mutex);
                if (suspended || running >= width()) {
                    return;
                }
                auto it = entries.upper_bound(resumeAfter);
                while (it != entries.end() && it->second.started) {
                    ++it;
                }
                if (it == entries.end()) {
                    return;
                }
                sequence = it->first;
                candidate = it->second.operation;
            }
            resumeAfter = sequence;
            if (!candidate->isReady()) {
                continue;
            }
            {
                MutexLock lock(mutex);
                if (suspended || running >= width()) {
                    return;
                }
                auto it = entries.find(sequence);
                if (it == entries.end() || it->second.started) {
                    continue;
                }
                it->second.started = true;
                ++running;
            }
            // A cancelled one finishes inside start() and runs its completion block, which
            // may wait for this queue: that gets a thread of its own. So does one whose
            // start may take a while, when a loop thread pumps.
            if (candidate->isAsynchronous() && !candidate->isCancelled() &&
                (!onLoopThread || candidate->startReturnsAtOnce())) {
                // Starting one only sets it going elsewhere: no need for a thread of its
                // own, and the hand-over would cost as much as a small request.
                candidate->start();
            } else {
                ThreadPool::shared().submit([operation = candidate] { operation->start(); });
            }
        }
    }

    bool pumpRequested RZ_GUARDED_BY(mutex) = false;
    bool pumping RZ_GUARDED_BY(mutex) = false;
};

// ---------------------------------------------------------------------------------------

void Operation::start() {
    if (!isReady()) {
        return;
    }
    bool cancelled;
    {
        MutexLock lock(mutex_);
        if (state_ != State::kPending) {
            return;
        }
        cancelled = cancelled_;
        if (!cancelled) {
            state_ = State::kExecuting;
        }
    }
    if (cancelled) {
        finish();
        return;
    }
    const bool ran = detail::runGuarded("an operation", [this] { main(); });
    if (!ran || !isAsynchronous()) {
        finish();
    }
}

void Operation::cancel() {
    {
        MutexLock lock(mutex_);
        if (cancelled_ || state_ == State::kFinished) {
            return;
        }
        cancelled_ = true;
    }
    readinessChanged();
}

bool Operation::isReady() const {
    std::vector<std::shared_ptr<Operation>> dependencies;
    {
        MutexLock lock(mutex_);
        if (cancelled_) {
            return true;
        }
        dependencies = dependencies_;
    }
    return std::all_of(dependencies.begin(), dependencies.end(),
                       [](const auto& d) { return d->isFinished(); });
}

bool Operation::isExecuting() const {
    MutexLock lock(mutex_);
    return state_ == State::kExecuting;
}

bool Operation::isFinished() const {
    MutexLock lock(mutex_);
    return state_ == State::kFinished;
}

bool Operation::isCancelled() const {
    return cancelled_.load(std::memory_order_acquire);
}

void Operation::addDependency(const std::shared_ptr<Operation>& dependency) {
    if (!dependency || dependency.get() == this) {
        throw std::invalid_argument("Operation: a dependency must be another operation");
    }
    std::weak_ptr<Operation> self = weak_from_this();
    if (self.expired()) {
        throw std::logic_error("Operation: make operations with std::make_shared");
    }
    {
        MutexLock lock(mutex_);
        dependencies_.push_back(dependency);
    }
    MutexLock lock(dependency->mutex_);
    if (dependency->state_ != State::kFinished) {
        dependency->dependents_.push_back(std::move(self));
    }
}

void Operation::removeDependency(const std::shared_ptr<Operation>& dependency) {
    if (!dependency) {
        return;
    }
    {
        MutexLock lock(mutex_);
        auto it = std::find(dependencies_.begin(), dependencies_.end(), dependency);
        if (it == dependencies_.end()) {
            return;
        }
        dependencies_.erase(it);
    }
    {
        MutexLock lock(dependency->mutex_);
        auto& dependents = dependency->dependents_;
        auto it = std::find_if(dependents.begin(), dependents.end(),
                               [this](const auto& d) { return d.lock().get() == this; });
        if (it != dependents.end()) {
            dependents.erase(it);
        }
    }
    readinessChanged();
}

std::vector<std::shared_ptr<Operation>> Operation::dependencies() const {
    MutexLock lock(mutex_);
    return dependencies_;
}

void Operation::setCompletionBlock(std::function<void()> block) {
    std::function<void()> previous;  // its captures die outside the lock
    MutexLock lock(mutex_);
    if (state_ == State::kFinished) {
        previous = std::move(block);
        return;
    }
    previous = std::exchange(completion_, std::move(block));
}

std::function<void()> Operation::completionBlock() const {
    MutexLock lock(mutex_);
    return completion_;
}

void Operation::setExecuting(bool executing) {
    MutexLock lock(mutex_);
    if (state_ != State::kFinished) {
        state_ = executing ? State::kExecuting : State::kPending;
    }
}

void Operation::finish() {
    // The queue may hold the last reference; keep the operation alive until this returns.
    const auto self = weak_from_this().lock();
    std::function<void()> completion;
    std::vector<std::weak_ptr<Operation>> dependents;
    std::shared_ptr<OperationQueueCore> queue;
    {
        MutexLock lock(mutex_);
        if (state_ == State::kFinished) {
            return;
        }
        state_ = State::kFinished;
        completion = std::move(completion_);
        completion_ = nullptr;
        dependents.swap(dependents_);
        queue = queue_;
    }
    if (completion) {
        detail::runGuarded("an operation's completion block", completion);
        completion = nullptr;
    }
    for (const auto& dependent : dependents) {
        if (auto operation = dependent.lock()) {
            operation->readinessChanged();
        }
    }
    if (queue) {
        queue->operationFinished(*this);
    }
}

void Operation::readinessChanged() {
    std::shared_ptr<OperationQueueCore> queue;
    {
        MutexLock lock(mutex_);
        queue = queue_;
    }
    if (queue) {
        queue->requestPump();
    }
}

void BlockOperation::main() {
    auto block = std::move(block_);
    block_ = nullptr;
    if (block) {
        block();
    }
}

// ---------------------------------------------------------------------------------------

OperationQueue::OperationQueue() : core_(std::make_shared<OperationQueueCore>()) {}

// Operations already added keep the core alive and run to the end. A queue that can start
// nothing (suspended, or of width 0) never will once it is gone: its operations not yet
// started are let go, rather than kept alive by the core they keep alive.
OperationQueue::~OperationQueue() {
    std::vector<std::shared_ptr<Operation>> stranded;
    {
        MutexLock lock(core_->mutex);
        if (!core_->suspended && core_->maxCount != 0) {
            return;
        }
        for (auto it = core_->entries.begin(); it != core_->entries.end();) {
            if (it->second.started) {
                ++it;
                continue;
            }
            stranded.push_back(std::move(it->second.operation));
            it = core_->entries.erase(it);
        }
        core_->changed.notify_all();
    }
    for (const auto& operation : stranded) {
        core_->detach(*operation);
    }
}

void OperationQueue::addOperation(const std::shared_ptr<Operation>& operation) {
    core_->add(operation);
}

void OperationQueue::addOperation(std::function<void()> block) {
    core_->add(BlockOperation::create(std::move(block)));
}

void OperationQueue::addOperations(const std::vector<std::shared_ptr<Operation>>& operations,
                                   bool waitUntilFinished) {
    for (const auto& operation : operations) {
        core_->add(operation);
    }
    if (!waitUntilFinished) {
        return;
    }
    for (const auto& operation : operations) {
        core_->waitUntilGone(*operation);
    }
}

std::vector<std::shared_ptr<Operation>> OperationQueue::operations() const {
    MutexLock lock(core_->mutex);
    std::vector<std::shared_ptr<Operation>> result;
    result.reserve(core_->entries.size());
    for (const auto& [sequence, entry] : core_->entries) {
        result.push_back(entry.operation);
    }
    return result;
}

std::size_t OperationQueue::operationCount() const {
    MutexLock lock(core_->mutex);
    return core_->entries.size();
}

void OperationQueue::cancelAllOperations() {
    for (const auto& operation : operations()) {
        operation->cancel();
    }
}

void OperationQueue::waitUntilAllOperationsAreFinished() {
    beforeLoopThreadWaits();
    MutexLock lock(core_->mutex);
    while (!core_->entries.empty() || core_->runningInPlace != 0) {
        lock.wait(core_->changed);
    }
}

bool OperationQueue::runNowIfIdle(const std::function<void()>& work) {
    return core_->runNowIfIdle(work);
}

long OperationQueue::maxConcurrentOperationCount() const {
    MutexLock lock(core_->mutex);
    return core_->maxCount;
}

void OperationQueue::setMaxConcurrentOperationCount(long count) {
    if (count < kDefaultMaxConcurrentOperationCount) {
        throw std::invalid_argument("OperationQueue: the maximum concurrent count must be >= -1");
    }
    {
        MutexLock lock(core_->mutex);
        core_->maxCount = count;
    }
    core_->requestPump();
}

bool OperationQueue::isSuspended() const {
    MutexLock lock(core_->mutex);
    return core_->suspended;
}

void OperationQueue::setSuspended(bool suspended) {
    {
        MutexLock lock(core_->mutex);
        core_->suspended = suspended;
    }
    if (!suspended) {
        core_->requestPump();
    }
}

std::string OperationQueue::name() const {
    MutexLock lock(core_->mutex);
    return core_->name;
}

void OperationQueue::setName(std::string name) {
    MutexLock lock(core_->mutex);
    core_->name = std::move(name);
}

}  // namespace platform
