#include "platform/net/detail/SessionEvents.h"

#include <atomic>
#include <optional>

#include "platform/ThreadLoop.h"
#include "platform/net/detail/UrlSessionInternals.h"

namespace platform::detail {

namespace {

// Events one operation of the delegate queue runs before it makes way for the queue's other
// operations (a queue of width 1 shared with its owner's own work).
constexpr int kEventsPerOperation = 32;

}  // namespace

// Asynchronous only so that a loop thread may start it: it has finished when start() returns.
class SessionEvents::Drain final : public Operation {
  public:
    Drain(std::shared_ptr<SessionEvents> events, bool quick)
        : events_(std::move(events)), quick_(quick) {}
    bool isAsynchronous() const override { return true; }
    bool startReturnsAtOnce() const override { return quick_; }

    // Someone cancelled the queue's operations before this one ran: the events are still
    // due, so another operation takes them.
    static void ranOrNot(const std::weak_ptr<Drain>& weak) {
        const auto drain = weak.lock();
        const auto self = drain ? drain->events_ : nullptr;
        if (!self || drain->ran_) {
            return;
        }
        {
            std::lock_guard lock(self->mutex_);
            self->draining_ = false;
        }
        self->schedule();
    }

  protected:
    void main() override {
        ran_ = true;
        // On a loop thread only what returns at once; a worker takes anything.
        events_->drain(ThreadLoop::current() != nullptr);
        finish();
    }

  private:
    const std::shared_ptr<SessionEvents> events_;
    const bool quick_;
    std::atomic<bool> ran_{false};
};

void SessionEvents::push(std::uint64_t task, std::function<void()> run, bool holdAfter,
                         bool quick) {
    std::optional<bool> handOver;
    {
        std::lock_guard lock(mutex_);
        events_.push_back(Event{task, holdAfter, quick, std::move(run), {}, {}});
        handOver = claimDrain();
    }
    if (handOver) {
        addOperation(*handOver);
    }
}

void SessionEvents::pushData(std::uint64_t task, std::span<const std::uint8_t> bytes,
                             std::function<void(const Bytes&)> deliver, bool quick) {
    std::optional<bool> handOver;
    {
        std::lock_guard lock(mutex_);
        if (!events_.empty() && events_.back().task == task && events_.back().deliver &&
            events_.back().quick == quick) {
            Bytes& pending = events_.back().data;
            pending.insert(pending.end(), bytes.begin(), bytes.end());
            return;
        }
        events_.push_back(Event{task, false, quick, nullptr, std::move(deliver),
                                Bytes(bytes.begin(), bytes.end())});
        handOver = claimDrain();
    }
    if (handOver) {
        addOperation(*handOver);
    }
}

void SessionEvents::release(std::uint64_t task) {
    {
        std::lock_guard lock(mutex_);
        held_.erase(task);
    }
    schedule();
}

void SessionEvents::purge(std::uint64_t task) {
    std::vector<Event> dropped;
    {
        std::lock_guard lock(mutex_);
        held_.erase(task);
        for (auto it = events_.begin(); it != events_.end();) {
            if (it->task == task) {
                dropped.push_back(std::move(*it));
                it = events_.erase(it);
            } else {
                ++it;
            }
        }
    }
    dropped.clear();
    schedule();
}

std::deque<SessionEvents::Event>::iterator SessionEvents::firstRunnable() {
    if (held_.empty()) {
        return events_.begin();
    }
    for (auto it = events_.begin(); it != events_.end(); ++it) {
        if (it->task == 0 || !held_.contains(it->task)) {
            return it;
        }
    }
    return events_.end();
}

std::optional<bool> SessionEvents::claimDrain() {
    const auto first = firstRunnable();
    if (draining_ || first == events_.end()) {
        return std::nullopt;
    }
    draining_ = true;
    return first->quick;
}

void SessionEvents::schedule() {
    std::optional<bool> handOver;
    {
        std::lock_guard lock(mutex_);
        handOver = claimDrain();
    }
    if (handOver) {
        addOperation(*handOver);
    }
}

void SessionEvents::addOperation(bool quick) {
    // Quick events on a loop thread run there after the work in hand; while the delegate
    // queue has nothing else to do they need no operation of their own to keep them in turn
    // with its work.
    if (ThreadLoop* loop = quick ? ThreadLoop::current() : nullptr) {
        loop->runSoon([self = shared_from_this()] {
            if (!self->queue_->runNowIfIdle([&] { self->drain(true); })) {
                self->enqueueDrain(true);
            }
        });
        return;
    }
    enqueueDrain(quick);
}

void SessionEvents::enqueueDrain(bool quick) {
    auto operation = std::make_shared<Drain>(shared_from_this(), quick);
    operation->setCompletionBlock(
        [weak = std::weak_ptr<Drain>(operation)] { Drain::ranOrNot(weak); });
    queue_->addOperation(operation);
}

void SessionEvents::drain(bool onlyQuick) {
    bool quick = true;
    for (int n = 0; n < kEventsPerOperation; ++n) {
        Event event;
        {
            std::lock_guard lock(mutex_);
            const auto it = firstRunnable();
            if (it == events_.end()) {
                draining_ = false;
                return;
            }
            if (onlyQuick && !it->quick) {
                quick = false;
                break;
            }
            event = std::move(*it);
            events_.erase(it);
            if (event.holdAfter) {
                held_.insert(event.task);
            }
        }
        if (event.deliver) {
            runCallback([&] { event.deliver(event.data); });
        } else {
            runCallback(event.run);
        }
    }
    if (quick) {
        std::lock_guard lock(mutex_);
        const auto first = firstRunnable();
        if (first == events_.end()) {
            draining_ = false;
            return;
        }
        quick = first->quick;
    }
    addOperation(quick);
}

}  // namespace platform::detail
