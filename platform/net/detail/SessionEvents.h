// The order in which a URL session's callbacks reach its delegate queue.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <span>

#include "platform/Operation.h"
#include "platform/Value.h"

namespace platform::detail {

// The session's callbacks in the order they happened, handed to the delegate queue by one
// operation at a time, so that they run one by one whatever the queue's width. A task's
// events can be held back (while its response waits for a disposition) without holding back
// the others'.
class SessionEvents : public std::enable_shared_from_this<SessionEvents> {
  public:
    explicit SessionEvents(std::shared_ptr<OperationQueue> queue) : queue_(std::move(queue)) {}

    // An event of the task (0: of the session). With holdAfter, the task's later events wait,
    // from the moment this one starts, until release().
    void push(std::uint64_t task, std::function<void()> run, bool holdAfter = false);

    // Received bytes of the task: joined to its previous bytes while those still wait at the
    // end of the queue, so that a slow delegate gets fewer, larger pieces.
    void pushData(std::uint64_t task, std::span<const std::uint8_t> bytes,
                  std::function<void(const Bytes&)> deliver);

    void release(std::uint64_t task);

    // Drops the task's waiting events (its handlers get their default answers, here, outside
    // the lock).
    void purge(std::uint64_t task);

  private:
    struct Event {
        std::uint64_t task;
        bool holdAfter;
        std::shared_ptr<Bytes> data;  // set for received bytes that more may join
        std::function<void()> run;
    };

    // Under the lock.
    std::deque<Event>::iterator firstRunnable();

    void schedule();
    void addOperation();
    void drain();

    const std::shared_ptr<OperationQueue> queue_;
    std::mutex mutex_;
    std::deque<Event> events_;
    std::set<std::uint64_t> held_;
    bool draining_ = false;  // an operation is on the delegate queue, or running
};

}  // namespace platform::detail
