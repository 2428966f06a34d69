#include "platform/net/detail/SessionEvents.h"

#include <atomic>

#include "platform/net/detail/UrlSessionInternals.h"

namespace platform::detail {

namespace {

// Events one operation of the delegate queue runs before it makes way for the queue's other
// operations (a queue of width 1 shared with its owner's own work).
constexpr int kEventsPerOperation = 32;

}  // namespace

void SessionEvents::push(std::uint64_t task, std::function<void()> run, bool holdAfter) {
    {
        std::lock_guard lock(mutex_);
        events_.push_back(Event{task, holdAfter, nullptr, std::move(run)});
    }
    schedule();
}

void SessionEvents::pushData(std::uint64_t task, std::span<const std::uint8_t> bytes,
                             std::function<void(const Bytes&)> deliver) {
    {
        std::lock_guard lock(mutex_);
        if (!events_.empty() && events_.back().task == task && events_.back().data) {
            Bytes& pending = *events_.back().data;
            pending.insert(pending.end(), bytes.begin(), bytes.end());
            return;
        }
        auto data = std::make_shared<Bytes>(bytes.begin(), bytes.end());
        events_.push_back(
            Event{task, false, data, [data, deliver = std::move(deliver)] { deliver(*data); }});
    }
    schedule();
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

void SessionEvents::schedule() {
    {
        std::lock_guard lock(mutex_);
        if (draining_ || firstRunnable() == events_.end()) {
            return;
        }
        draining_ = true;
    }
    addOperation();
}

void SessionEvents::addOperation() {
    auto ran = std::make_shared<std::atomic<bool>>(false);
    auto operation = BlockOperation::create([self = shared_from_this(), ran] {
        ran->store(true);
        self->drain();
    });
    // Someone cancelled the queue's operations before this one ran: the events are still
    // due, so another operation takes them.
    operation->setCompletionBlock([weak = weak_from_this(), ran] {
        const auto self = weak.lock();
        if (self && !ran->load()) {
            {
                std::lock_guard lock(self->mutex_);
                self->draining_ = false;
            }
            self->schedule();
        }
    });
    queue_->addOperation(operation);
}

void SessionEvents::drain() {
    for (int n = 0; n < kEventsPerOperation; ++n) {
        Event event;
        {
            std::lock_guard lock(mutex_);
            const auto it = firstRunnable();
            if (it == events_.end()) {
                draining_ = false;
                return;
            }
            event = std::move(*it);
            events_.erase(it);
            if (event.holdAfter) {
                held_.insert(event.task);
            }
        }
        runCallback(event.run);
    }
    {
        std::lock_guard lock(mutex_);
        if (firstRunnable() == events_.end()) {
            draining_ = false;
            return;
        }
    }
    addOperation();
}

}  // namespace platform::detail
