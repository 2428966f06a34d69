// The worker threads behind the dispatch queues and operation queues.
//
// As many threads as the machine has processors (at least four) start as soon as work waits.
// Work on them may block, though (a synchronous call to a serial queue, a wait on a group), so
// when queued work has not moved for a short while and no thread is free, the pool adds one,
// up to a generous ceiling: a job never waits for ever for a thread that waits for it.
// Threads idle for a while go away again.
#pragma once

#include <cstddef>
#include <functional>

#include "platform/NoDestructor.h"

namespace platform {

class ThreadPool {
  public:
    static ThreadPool& shared();  // made on first use, never destroyed

    // Runs the job on a worker thread; an exception escaping it is logged.
    void submit(std::function<void()> job);

    std::size_t threadCount() const;

    ThreadPool(const ThreadPool&) = delete;
    ThreadPool& operator=(const ThreadPool&) = delete;

  private:
    friend class NoDestructor<ThreadPool>;
    ThreadPool();
    struct State;
    State* state_;
};

}  // namespace platform
