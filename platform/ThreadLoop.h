// A thread that runs a loop of its own (the network thread) and takes over two kinds of
// hand-off that would otherwise cost a wake-up each:
//   - short jobs of the queues' machinery (an operation queue's pump), which the loop runs
//     itself after the work in hand, with no lock held, instead of waking a worker;
//   - tasks for the main loop, which it holds while a turn of its loop lasts and posts together
//     at the end of the turn, in the order they came, so that the main thread wakes once.
//
// Threads: install() and everything else are called on the loop's own thread only; current()
// on any thread (null off a loop thread).
//
// A loop thread must not wait for other threads while it holds either kind: the jobs could be
// what the other thread waits for, and the main tasks could be what comes before. Every wait
// of the platform (a synchronous dispatch, a group's wait, an operation queue's wait, a URL
// session's question to its delegate) calls beforeWaiting() first, and so must any other code
// that blocks a loop thread. Handing work to another thread flushes the main tasks too, so that
// what the loop posted before reaches the main thread before what it caused elsewhere.
#pragma once

#include <functional>
#include <vector>

namespace platform {

class ThreadLoop {
  public:
    virtual ~ThreadLoop() = default;

    // The calling thread's loop, or null.
    static ThreadLoop* current();
    // Makes `loop` the calling thread's loop for the thread's life (null: none).
    static void install(ThreadLoop* loop);

    // Runs the job on this thread after the work in hand (the current task or callback).
    void runSoon(std::function<void()> job);
    // Keeps the task for the main loop until the end of the turn, or the next flush.
    void holdForMain(std::function<void()> task);

    // Posts the main tasks held so far, in one post.
    void flushMain();
    // Before the thread blocks: the held main tasks go out, and the jobs waiting for this
    // thread go to the worker pool instead.
    void beforeWaiting();

    // For the loop: swaps the jobs to run now into `jobs`, which must be empty (those that
    // come meanwhile wait for the next call). Handing the same vector back each time keeps
    // the storage of both, so that a turn with jobs costs no allocation.
    void takeJobs(std::vector<std::function<void()>>& jobs);
    bool hasJobs() const { return !jobs_.empty(); }

  protected:
    ThreadLoop() = default;

  private:
    std::vector<std::function<void()>> jobs_;
    std::vector<std::function<void()>> mainTasks_;
    // Empty, with the storage of the last flush's tasks, for the turn after next.
    std::vector<std::function<void()>> spareMainTasks_;
};

// What every waiting or handing-off point calls: flushes and hands off (see above) when the
// calling thread runs a loop, nothing otherwise.
inline void beforeLoopThreadWaits() {
    if (ThreadLoop* loop = ThreadLoop::current()) {
        loop->beforeWaiting();
    }
}
inline void beforeLoopThreadHandsOff() {
    if (ThreadLoop* loop = ThreadLoop::current()) {
        loop->flushMain();
    }
}

}  // namespace platform
