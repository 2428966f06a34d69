// The worker threads behind the dispatch queues and operation queues.
//
// Work on these threads may block (a synchronous call to a serial queue, a wait on a group),
// so a job never waits for a thread that is itself waiting: when every thread is busy, the
// pool starts another, up to a generous ceiling. Threads idle for a while go away again.
#pragma once

#include <cstddef>
#include <functional>

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
    ThreadPool();
    struct State;
    State* state_;
};

}  // namespace platform
