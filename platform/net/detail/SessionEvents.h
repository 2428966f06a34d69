// The order in which a URL session's callbacks reach its delegate queue.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <span>

#include "platform/Operation.h"
#include "platform/Value.h"

namespace platform::detail {

// The session's callbacks in the order they happened, handed to the delegate queue by one
// operation at a time, so that they run one by one whatever the queue's width. A task's
// events can be held back (while its response waits for a disposition) without holding back
// the others'.
//
// An event marked quick only hands work on and never waits for another thread (the delegate
// said so of its callback). Quick events that happen on a loop thread such as the network
// thread run there, still as work of the delegate queue and so one at a time with its other
// work, instead of waking a worker for each: in place while the queue is idle, else as its
// operation. The drain stops there at the first event that is not quick and hands the rest to
// a worker.
class SessionEvents : public std::enable_shared_from_this<SessionEvents> {
  public:
    explicit SessionEvents(std::shared_ptr<OperationQueue> queue) : queue_(std::move(queue)) {}

    // An event of the task (0: of the session). With holdAfter, the task's later events wait,
    // from the moment this one starts, until release().
    void push(std::uint64_t task, std::function<void()> run, bool holdAfter = false,
              bool quick = false);

    // Received bytes of the task: joined to its previous bytes while those still wait at the
    // end of the queue, so that a slow delegate gets fewer, larger pieces.
    void pushData(std::uint64_t task, std::span<const std::uint8_t> bytes,
                  std::function<void(const Bytes&)> deliver, bool quick = false);

    void release(std::uint64_t task);

    // Drops the task's waiting events (its handlers get their default answers, here, outside
    // the lock).
    void purge(std::uint64_t task);

  private:
    class Drain;

    struct Event {
        std::uint64_t task;
        bool holdAfter;
        bool quick;
        std::function<void()> run;
        // Received bytes, which more may join while they wait: `deliver` is set instead.
        std::function<void(const Bytes&)> deliver;
        Bytes data;
    };

    // Under the lock.
    std::deque<Event>::iterator firstRunnable();

    // Under the lock. When no drain is under way and an event can run, the caller is to
    // hand the events over (addOperation): set, with whether the first of them is quick.
    std::optional<bool> claimDrain();
    void schedule();
    // Hands the events to the delegate queue: in place on a loop thread when they are quick
    // and the queue is idle, else through an operation (enqueueDrain).
    void addOperation(bool quick);
    void enqueueDrain(bool quick);
    // With onlyQuick, stops before the first event that is not quick.
    void drain(bool onlyQuick);

    const std::shared_ptr<OperationQueue> queue_;
    std::mutex mutex_;
    std::deque<Event> events_;
    std::set<std::uint64_t> held_;
    bool draining_ = false;  // an operation is on the delegate queue, or running
};

}  // namespace platform::detail
