// Dispatch queues and groups: where work runs off (or back on) the main thread.
//
// A serial queue runs its tasks one at a time in the order they were submitted; a concurrent
// queue starts them in that order and lets them overlap. Both run on the shared ThreadPool.
// The main queue is a view of MainLoop::main(). Queues and groups are shared objects: a
// pending task keeps its queue alive, so dropping the last handle loses no work.
// A once helper is std::call_once.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <utility>

#include "platform/MainLoop.h"

namespace platform {

class DispatchQueue : public std::enable_shared_from_this<DispatchQueue> {
  public:
    static std::shared_ptr<DispatchQueue> serial(std::string label);
    static std::shared_ptr<DispatchQueue> concurrent(std::string label);
    // The main loop's queue: async posts to it, after uses its clock (manual in tests).
    static const std::shared_ptr<DispatchQueue>& main();
    // The process-wide concurrent queue for background work. Priorities are not modelled:
    // every global queue the callers name is this one.
    static const std::shared_ptr<DispatchQueue>& global();

    virtual ~DispatchQueue() = default;
    DispatchQueue(const DispatchQueue&) = delete;
    DispatchQueue& operator=(const DispatchQueue&) = delete;

    const std::string& label() const { return label_; }

    // Runs the task later on the queue. An exception escaping it is logged.
    virtual void async(std::function<void()> task) = 0;
    // Runs the task as part of the queue and returns when it is done; its exception reaches
    // the caller. On a serial or concurrent queue the task runs on the calling thread once its
    // turn comes (a serial queue runs nothing else meanwhile), so one queue's task may sync
    // onto another, and back, without a deadlock. Called from a task that the queue itself is
    // running (for the main queue: on the main thread), the task runs at once instead of
    // waiting for itself for ever. Syncing onto the main queue from another thread waits for
    // the main loop to be pumped.
    virtual void sync(const std::function<void()>& task) = 0;
    // On a concurrent queue: runs once every task submitted before it has finished, alone,
    // and the tasks submitted after it start once it is done. Elsewhere the same as async.
    virtual void barrierAsync(std::function<void()> task) { async(std::move(task)); }
    // Submits the task to the queue `seconds` from now (real time; the main queue's clock for
    // the main queue). Cancelling before that drops it.
    virtual std::shared_ptr<TimerHandle> after(double seconds, std::function<void()> task);
    std::shared_ptr<TimerHandle> after(Seconds delay, std::function<void()> task) {
        return after(delay.count(), std::move(task));
    }

    // Whether the calling thread is running a task of this queue.
    virtual bool isCurrent() const = 0;

  protected:
    explicit DispatchQueue(std::string label) : label_(std::move(label)) {}

  private:
    std::string label_;
};

// A count of work in flight with callbacks for when it drops to zero.
class DispatchGroup : public std::enable_shared_from_this<DispatchGroup> {
  public:
    static std::shared_ptr<DispatchGroup> create();

    ~DispatchGroup();
    DispatchGroup(const DispatchGroup&) = delete;
    DispatchGroup& operator=(const DispatchGroup&) = delete;

    void enter();
    // Throws std::logic_error when it does not match an enter().
    void leave();

    // Submits the task to the queue as part of the group (enter now, leave after it ran).
    void async(const std::shared_ptr<DispatchQueue>& queue, std::function<void()> task);
    // Submits the task to the queue once the group is empty; at once when it is empty now.
    void notify(const std::shared_ptr<DispatchQueue>& queue, std::function<void()> task);
    // Waits until the group is empty: true, or false when the timeout (real seconds, infinity
    // for ever) ran out.
    bool wait(double timeoutSeconds);
    bool wait(Seconds timeout) { return wait(timeout.count()); }

  private:
    DispatchGroup();
    struct State;
    std::unique_ptr<State> state_;
};

// Submits the task to the queue, as part of the group when there is one. Without one nothing
// waits for the task, so it costs no count to keep.
void asyncInGroup(const std::shared_ptr<DispatchGroup>& group,
                  const std::shared_ptr<DispatchQueue>& queue, std::function<void()> task);

}  // namespace platform
