#include "platform/Dispatch.h"

#include <pthread.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <deque>
#include <exception>
#include <map>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <utility>
#include <vector>

#include "platform/NoDestructor.h"
#include "platform/TaskGuard.h"
#include "platform/ThreadLoop.h"
#include "platform/ThreadPool.h"

namespace platform {

namespace {

// The queues whose tasks the calling thread is running, innermost last (a sync call that
// runs inline nests them).
thread_local std::vector<const DispatchQueue*> tCurrentQueues;

class CurrentQueueScope {
  public:
    explicit CurrentQueueScope(const DispatchQueue* queue) { tCurrentQueues.push_back(queue); }
    ~CurrentQueueScope() { tCurrentQueues.pop_back(); }
    CurrentQueueScope(const CurrentQueueScope&) = delete;
    CurrentQueueScope& operator=(const CurrentQueueScope&) = delete;
};

bool runningOn(const DispatchQueue* queue) {
    return std::find(tCurrentQueues.begin(), tCurrentQueues.end(), queue) != tCurrentQueues.end();
}

// Submits the task through `submit` and blocks until it ran; its exception is rethrown here.
void runAndWait(const std::function<void(std::function<void()>)>& submit,
                const std::function<void()>& task) {
    struct Waiter {
        std::mutex mutex;
        std::condition_variable done;
        bool finished = false;
        std::exception_ptr error;
    };
    auto waiter = std::make_shared<Waiter>();
    submit([waiter, &task] {
        std::exception_ptr error;
        try {
            task();
        } catch (...) {
            error = std::current_exception();
        }
        std::lock_guard lock(waiter->mutex);
        waiter->error = error;
        waiter->finished = true;
        waiter->done.notify_all();
    });
    std::unique_lock lock(waiter->mutex);
    waiter->done.wait(lock, [&] { return waiter->finished; });
    if (waiter->error) {
        std::rethrow_exception(waiter->error);
    }
}

// A place in a queue held for a synchronous caller: when the queue reaches it, the caller is
// told that it is its turn and runs its task on its own thread.
class SyncTicket {
  public:
    void grant() {
        std::lock_guard lock(mutex_);
        granted_ = true;
        turn_.notify_all();
    }
    void awaitTurn() {
        std::unique_lock lock(mutex_);
        turn_.wait(lock, [&] { return granted_; });
    }

  private:
    std::mutex mutex_;
    std::condition_variable turn_;
    bool granted_ = false;
};

// Runs the task as the queue's own and hands the queue back afterwards, also when it throws.
template <typename Release>
void runHeld(const DispatchQueue* queue, const std::function<void()>& task, Release release) {
    struct Guard {
        Release& release;
        ~Guard() { release(); }
    } guard{release};
    CurrentQueueScope scope(queue);
    task();
}

// How many tasks a serial queue runs before it hands its thread back to the pool and queues
// itself again, so that one busy queue cannot hold a thread for ever.
constexpr int kSerialBatch = 64;

// Longer waits are taken as for ever (and would overflow the clock's arithmetic).
constexpr double kLongestWait = 1e9;

class SerialQueue final : public DispatchQueue {
  public:
    explicit SerialQueue(std::string label) : DispatchQueue(std::move(label)) {}

    void async(std::function<void()> task) override {
        if (!task) {
            return;
        }
        beforeLoopThreadHandsOff();
        {
            std::lock_guard lock(mutex_);
            tasks_.push_back({std::move(task), nullptr});
            if (std::exchange(owned_, true)) {
                return;
            }
        }
        // Outside the lock, which the drain takes first thing.
        scheduleDrain();
    }

    // The task runs on the calling thread once everything submitted before it has run; the
    // queue is held meanwhile, so nothing else of it runs.
    void sync(const std::function<void()>& task) override {
        if (runningOn(this)) {
            task();
            return;
        }
        beforeLoopThreadWaits();
        std::shared_ptr<SyncTicket> ticket;
        {
            std::lock_guard lock(mutex_);
            if (owned_) {
                ticket = std::make_shared<SyncTicket>();
                tasks_.push_back({nullptr, ticket});
            } else {
                owned_ = true;  // idle: take it at once
            }
        }
        if (ticket) {
            ticket->awaitTurn();
        }
        runHeld(this, task, [this] { release(); });
    }

    bool isCurrent() const override { return runningOn(this); }

  private:
    struct Item {
        std::function<void()> task;
        std::shared_ptr<SyncTicket> ticket;  // set for a synchronous caller's place
    };

    // The caller owns the queue and holds no lock of it.
    void scheduleDrain() {
        ThreadPool::shared().submit(
            [self = std::static_pointer_cast<SerialQueue>(shared_from_this())] { self->drain(); });
    }

    // Gives up the queue: to the next drain when work is waiting, else to nobody.
    void release() {
        {
            std::lock_guard lock(mutex_);
            if (tasks_.empty()) {
                owned_ = false;
                return;
            }
        }
        scheduleDrain();
    }

    void drain() {
        CurrentQueueScope scope(this);
        for (int i = 0; i < kSerialBatch; ++i) {
            Item item;
            {
                std::lock_guard lock(mutex_);
                if (tasks_.empty()) {
                    owned_ = false;
                    return;
                }
                item = std::move(tasks_.front());
                tasks_.pop_front();
            }
            if (item.ticket) {
                item.ticket->grant();  // the queue now belongs to that caller until it releases
                return;
            }
            detail::runGuarded(label(), item.task);
        }
        release();
    }

    std::mutex mutex_;
    std::deque<Item> tasks_;
    bool owned_ = false;  // a drain is queued or running, or a synchronous caller holds it
};

class ConcurrentQueue final : public DispatchQueue {
  public:
    explicit ConcurrentQueue(std::string label) : DispatchQueue(std::move(label)) {}

    void async(std::function<void()> task) override {
        if (task) {
            enqueue({std::move(task), nullptr, false});
        }
    }
    void barrierAsync(std::function<void()> task) override {
        if (task) {
            enqueue({std::move(task), nullptr, true});
        }
    }

    // The task runs on the calling thread, alongside the queue's other tasks but after any
    // barrier submitted before it.
    void sync(const std::function<void()>& task) override {
        if (runningOn(this)) {
            task();
            return;
        }
        beforeLoopThreadWaits();
        auto ticket = std::make_shared<SyncTicket>();
        enqueue({nullptr, ticket, false});
        ticket->awaitTurn();
        runHeld(this, task, [this] { finished(false); });
    }

    bool isCurrent() const override { return runningOn(this); }

  private:
    struct Item {
        std::function<void()> task;
        std::shared_ptr<SyncTicket> ticket;  // set for a synchronous caller's place
        bool barrier;
    };

    void enqueue(Item item) {
        beforeLoopThreadHandsOff();
        std::vector<Item> starting;
        {
            std::lock_guard lock(mutex_);
            pending_.push_back(std::move(item));
            takeStartableLocked(starting);
        }
        start(starting);
    }

    // Moves to `out` what may start now: tasks up to the next barrier, or the barrier alone
    // once nothing else runs.
    void takeStartableLocked(std::vector<Item>& out) {
        while (!pending_.empty() && !barrierRunning_) {
            if (pending_.front().barrier) {
                if (running_ == 0) {
                    barrierRunning_ = true;
                    out.push_back(std::move(pending_.front()));
                    pending_.pop_front();
                }
                return;
            }
            ++running_;
            out.push_back(std::move(pending_.front()));
            pending_.pop_front();
        }
    }

    void start(std::vector<Item>& items) {
        if (items.empty()) {
            return;
        }
        auto self = std::static_pointer_cast<ConcurrentQueue>(shared_from_this());
        for (auto& item : items) {
            if (item.ticket) {
                item.ticket->grant();
                continue;
            }
            ThreadPool::shared().submit([self, item = std::move(item)] {
                {
                    CurrentQueueScope scope(self.get());
                    detail::runGuarded(self->label(), item.task);
                }
                self->finished(item.barrier);
            });
        }
    }

    void finished(bool barrier) {
        std::vector<Item> starting;
        {
            std::lock_guard lock(mutex_);
            if (barrier) {
                barrierRunning_ = false;
            } else {
                --running_;
            }
            takeStartableLocked(starting);
        }
        start(starting);
    }

    std::mutex mutex_;
    std::deque<Item> pending_;
    int running_ = 0;
    bool barrierRunning_ = false;
};

class MainQueue final : public DispatchQueue {
  public:
    MainQueue() : DispatchQueue("main") {}

    void async(std::function<void()> task) override { MainLoop::main().post(std::move(task)); }

    void sync(const std::function<void()>& task) override {
        if (MainLoop::main().isMainThread()) {
            task();
            return;
        }
        // A loop thread's held main tasks go first (they come before this one); this one is
        // posted at once, not held until the end of a turn that waits for it.
        beforeLoopThreadWaits();
        runAndWait([](std::function<void()> t) { MainLoop::main().postAll(std::span(&t, 1)); },
                   task);
    }

    std::shared_ptr<TimerHandle> after(double seconds, std::function<void()> task) override {
        return MainLoop::main().after(seconds, std::move(task));
    }

    bool isCurrent() const override { return MainLoop::main().isMainThread(); }
};

// One thread that hands delayed tasks to their queues when they fall due (real clock).
class DelayedCalls {
  public:
    static DelayedCalls& shared() {
        static NoDestructor<DelayedCalls> calls;
        return *calls;
    }

    class Call final : public TimerHandle {
      public:
        void cancel() override {
            std::shared_ptr<DispatchQueue> queue;
            std::function<void()> task;
            {
                std::lock_guard lock(owner_->mutex_);
                if (!scheduled_) {
                    return;
                }
                scheduled_ = false;
                owner_->calls_.erase(key_);
                queue = std::move(queue_);
                task = std::move(task_);
            }
        }
        bool isValid() const override {
            std::lock_guard lock(owner_->mutex_);
            return scheduled_;
        }

        DelayedCalls* owner_ = nullptr;
        std::pair<std::chrono::steady_clock::time_point, std::uint64_t> key_;
        std::shared_ptr<DispatchQueue> queue_;  // guarded by the owner's mutex
        std::function<void()> task_;
        bool scheduled_ = false;
    };

    std::shared_ptr<TimerHandle> add(std::shared_ptr<DispatchQueue> queue, double seconds,
                                     std::function<void()> task) {
        auto call = std::make_shared<Call>();
        call->owner_ = this;
        const auto delay = std::chrono::duration_cast<std::chrono::steady_clock::duration>(
            std::chrono::duration<double>(std::clamp(seconds, 0.0, kLongestWait)));
        std::lock_guard lock(mutex_);
        call->key_ = {std::chrono::steady_clock::now() + delay, nextSequence_++};
        call->queue_ = std::move(queue);
        call->task_ = std::move(task);
        call->scheduled_ = true;
        calls_.emplace(call->key_, call);
        if (!started_) {
            started_ = true;
            std::thread([this] { work(); }).detach();
        }
        changed_.notify_all();
        return call;
    }

  private:
    void work() {
        pthread_setname_np(pthread_self(), "platform-delay");
        std::unique_lock lock(mutex_);
        for (;;) {
            if (calls_.empty()) {
                changed_.wait(lock);
                continue;
            }
            auto first = calls_.begin();
            // A copy: the entry may be cancelled, and erased, while this thread waits.
            const auto due = first->first.first;
            if (due > std::chrono::steady_clock::now()) {
                changed_.wait_until(lock, due);
                continue;
            }
            auto call = std::move(first->second);
            calls_.erase(first);
            call->scheduled_ = false;
            auto queue = std::move(call->queue_);
            auto task = std::move(call->task_);
            lock.unlock();
            queue->async(std::move(task));
            queue.reset();
            lock.lock();
        }
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    std::map<std::pair<std::chrono::steady_clock::time_point, std::uint64_t>, std::shared_ptr<Call>>
        calls_;
    std::uint64_t nextSequence_ = 0;
    bool started_ = false;
};

}  // namespace

std::shared_ptr<DispatchQueue> DispatchQueue::serial(std::string label) {
    return std::make_shared<SerialQueue>(std::move(label));
}

std::shared_ptr<DispatchQueue> DispatchQueue::concurrent(std::string label) {
    return std::make_shared<ConcurrentQueue>(std::move(label));
}

const std::shared_ptr<DispatchQueue>& DispatchQueue::main() {
    static const NoDestructor<std::shared_ptr<DispatchQueue>> queue(new MainQueue());
    return *queue;
}

const std::shared_ptr<DispatchQueue>& DispatchQueue::global() {
    static const NoDestructor<std::shared_ptr<DispatchQueue>> queue(
        DispatchQueue::concurrent("global"));
    return *queue;
}

std::shared_ptr<TimerHandle> DispatchQueue::after(double seconds, std::function<void()> task) {
    if (std::isnan(seconds)) {
        throw std::invalid_argument("a delayed call needs a number of seconds");
    }
    return DelayedCalls::shared().add(shared_from_this(), seconds, std::move(task));
}

// ---------------------------------------------------------------------------------------

struct DispatchGroup::State {
    std::mutex mutex;
    std::condition_variable empty;
    long count = 0;
    std::vector<std::pair<std::shared_ptr<DispatchQueue>, std::function<void()>>> notifications;
};

DispatchGroup::DispatchGroup() : state_(std::make_unique<State>()) {}
DispatchGroup::~DispatchGroup() = default;

std::shared_ptr<DispatchGroup> DispatchGroup::create() {
    return std::shared_ptr<DispatchGroup>(new DispatchGroup());
}

void DispatchGroup::enter() {
    std::lock_guard lock(state_->mutex);
    ++state_->count;
}

void DispatchGroup::leave() {
    std::vector<std::pair<std::shared_ptr<DispatchQueue>, std::function<void()>>> due;
    {
        std::lock_guard lock(state_->mutex);
        if (state_->count == 0) {
            throw std::logic_error("DispatchGroup::leave without a matching enter");
        }
        if (--state_->count > 0) {
            return;
        }
        due.swap(state_->notifications);
        state_->empty.notify_all();
    }
    for (auto& [queue, task] : due) {
        queue->async(std::move(task));
    }
}

void DispatchGroup::async(const std::shared_ptr<DispatchQueue>& queue, std::function<void()> task) {
    enter();
    queue->async([self = shared_from_this(), task = std::move(task)] {
        detail::runGuarded("a group task", task);
        self->leave();
    });
}

void asyncInGroup(const std::shared_ptr<DispatchGroup>& group,
                  const std::shared_ptr<DispatchQueue>& queue, std::function<void()> task) {
    if (group) {
        group->async(queue, std::move(task));
    } else {
        queue->async(std::move(task));
    }
}

void DispatchGroup::notify(const std::shared_ptr<DispatchQueue>& queue,
                           std::function<void()> task) {
    {
        std::lock_guard lock(state_->mutex);
        if (state_->count > 0) {
            state_->notifications.emplace_back(queue, std::move(task));
            return;
        }
    }
    queue->async(std::move(task));
}

bool DispatchGroup::wait(double timeoutSeconds) {
    beforeLoopThreadWaits();
    std::unique_lock lock(state_->mutex);
    const auto isEmpty = [&] { return state_->count == 0; };
    if (std::isinf(timeoutSeconds) && timeoutSeconds > 0) {
        state_->empty.wait(lock, isEmpty);
        return true;
    }
    const double seconds =
        std::isnan(timeoutSeconds) ? 0.0 : std::clamp(timeoutSeconds, 0.0, kLongestWait);
    return state_->empty.wait_for(lock, std::chrono::duration<double>(seconds), isEmpty);
}

}  // namespace platform
