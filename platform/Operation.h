// Operations and operation queues: units of work with states, dependencies and a completion
// block, run by a queue of bounded width.
//
// Operations are shared objects: make them with std::make_shared. A queue keeps its
// operations until they finish; an operation in a queue keeps the queue's machinery alive, so
// releasing the OperationQueue object does not strand work already added to it (unless the
// queue was suspended, or of width 0: then what had not started is let go unrun).
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/Mutex.h"

namespace platform {

class OperationQueueCore;

class Operation : public std::enable_shared_from_this<Operation> {
  public:
    Operation() = default;
    virtual ~Operation() = default;
    Operation(const Operation&) = delete;
    Operation& operator=(const Operation&) = delete;

    // Runs the operation on the calling thread (a queue calls it on a worker thread). Does
    // nothing unless the operation is ready and has not started. A cancelled operation
    // finishes without running main(). A synchronous operation has finished when start()
    // returns; an asynchronous one is executing until it calls finish().
    virtual void start();

    // Marks the operation cancelled (once; not after it finished). A cancelled operation is
    // ready whatever its dependencies, so that its queue can start it and let it go. Work
    // already running must look at isCancelled() itself.
    virtual void cancel();

    // Ready when every dependency has finished, or when cancelled. Subclasses that keep
    // conditions of their own add them, and call readinessChanged() when those change.
    virtual bool isReady() const;
    bool isExecuting() const;
    bool isFinished() const;
    bool isCancelled() const;
    // Asynchronous operations go on after main() returns and end with finish().
    virtual bool isAsynchronous() const { return false; }
    // Whether start() of this asynchronous operation only sets it going elsewhere and returns
    // at once, never waiting for another thread: its queue may then start it from a thread
    // that runs a loop of its own (ThreadLoop.h), such as the network thread, instead of
    // waking a worker for it. A subclass that overrides start() answers for its own.
    virtual bool startReturnsAtOnce() const { return false; }

    // The dependency is kept alive by this operation. Throws std::invalid_argument for a
    // null dependency or the operation itself, and std::logic_error for an operation that was
    // not made by std::make_shared (it could not learn when its dependencies finish).
    void addDependency(const std::shared_ptr<Operation>& dependency);
    void removeDependency(const std::shared_ptr<Operation>& dependency);
    std::vector<std::shared_ptr<Operation>> dependencies() const;

    // Runs once, on the thread that finished the operation, after the operation is finished
    // and before its queue lets it go; no lock is held meanwhile. Setting an empty block
    // clears it. A block set after the operation finished never runs.
    virtual void setCompletionBlock(std::function<void()> block);
    std::function<void()> completionBlock() const;

  protected:
    // The work. Runs on the thread that called start(); an exception escaping it is logged
    // and ends the operation.
    virtual void main() {}

    // For subclasses that drive their own run (an asynchronous operation, one that pauses):
    // enter or leave the executing state. Neither takes effect once finished.
    void setExecuting(bool executing);
    // Ends the operation (once, from any thread): it becomes finished, its completion block
    // runs, the operations that depend on it and its queue are told.
    void finish();
    // Tells the queue to ask isReady() again.
    void readinessChanged();

  private:
    friend class OperationQueueCore;

    enum class State { kPending, kExecuting, kFinished };

    mutable Mutex mutex_;
    State state_ RZ_GUARDED_BY(mutex_) = State::kPending;
    // Set under mutex_ with the state's checks; read without it, as often as work looks.
    std::atomic<bool> cancelled_{false};
    std::vector<std::shared_ptr<Operation>> dependencies_ RZ_GUARDED_BY(mutex_);
    std::vector<std::weak_ptr<Operation>> dependents_ RZ_GUARDED_BY(mutex_);
    std::function<void()> completion_ RZ_GUARDED_BY(mutex_);
    // While the operation is in a queue.
    std::shared_ptr<OperationQueueCore> queue_ RZ_GUARDED_BY(mutex_);
    std::uint64_t queueSequence_ RZ_GUARDED_BY(mutex_) = 0;  // its place in that queue
};

// An operation that runs one block.
class BlockOperation : public Operation {
  public:
    explicit BlockOperation(std::function<void()> block) : block_(std::move(block)) {}
    static std::shared_ptr<BlockOperation> create(std::function<void()> block) {
        return std::make_shared<BlockOperation>(std::move(block));
    }

  protected:
    void main() override;

  private:
    std::function<void()> block_;
};

class OperationQueue {
  public:
    // Let the queue decide how many operations run at once (several).
    static constexpr long kDefaultMaxConcurrentOperationCount = -1;

    OperationQueue();
    ~OperationQueue();
    OperationQueue(const OperationQueue&) = delete;
    OperationQueue& operator=(const OperationQueue&) = delete;

    // Throws std::invalid_argument for a null operation and for one that is already in a
    // queue, executing or finished.
    void addOperation(const std::shared_ptr<Operation>& operation);
    void addOperation(std::function<void()> block);
    // Adds them all; with waitUntilFinished, returns once each of them has finished.
    void addOperations(const std::vector<std::shared_ptr<Operation>>& operations,
                       bool waitUntilFinished);

    // The operations that have not finished yet, in the order they were added.
    std::vector<std::shared_ptr<Operation>> operations() const;
    std::size_t operationCount() const;

    void cancelAllOperations();
    // Blocks until the queue is empty (for ever when it is suspended with work in it), work
    // run by runNowIfIdle() included.
    void waitUntilAllOperationsAreFinished();

    // Runs `work` on the calling thread at once, as an operation of this queue would run,
    // when the queue could start one now and has nothing else to start (not suspended, no
    // operation waiting, room under its width); meanwhile it counts among the running
    // operations, so that none starts past the width. False, without running it, otherwise.
    // For a queue's owner that would otherwise wrap the work in an operation only to have it
    // started here; it cannot be cancelled and has no completion block.
    bool runNowIfIdle(const std::function<void()>& work);

    // 1 makes the queue serial; 0 runs nothing; kDefaultMaxConcurrentOperationCount lets the
    // queue choose. Anything below -1 throws std::invalid_argument.
    long maxConcurrentOperationCount() const;
    void setMaxConcurrentOperationCount(long count);

    // A suspended queue starts no operation; those already running go on.
    bool isSuspended() const;
    void setSuspended(bool suspended);

    std::string name() const;
    void setName(std::string name);

  private:
    std::shared_ptr<OperationQueueCore> core_;
};

}  // namespace platform
