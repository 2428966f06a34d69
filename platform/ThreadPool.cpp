#include "platform/ThreadPool.h"

#include <pthread.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <thread>

#include "platform/NoDestructor.h"
#include "platform/TaskGuard.h"
#include "platform/ThreadLoop.h"

namespace platform {

namespace {

// Threads started at once when work waits and none is free: enough to keep the processors
// busy.
std::size_t coreThreads() {
    return std::max<std::size_t>(4, std::thread::hardware_concurrency());
}
// Beyond the core, a thread is added only when queued work has not moved for this long:
// every thread is then blocked, most likely waiting for work still in the queue.
constexpr auto kStallTime = std::chrono::milliseconds(20);
constexpr std::size_t kMaximumThreads = 64;
constexpr std::size_t kKeptThreads = 2;
constexpr auto kIdleLifetime = std::chrono::seconds(15);

}  // namespace

struct ThreadPool::State {
    mutable std::mutex mutex;
    std::condition_variable ready;    // a job was queued
    std::condition_variable backlog;  // a job came that no free thread was there to take
    std::condition_variable never;    // the overseer's timed sleep; nobody signals it
    std::deque<std::function<void()>> jobs;
    std::uint64_t taken = 0;  // jobs handed to threads so far: the queue's progress
    std::size_t threads = 0;
    std::size_t waiting = 0;   // threads inside ready.wait, free to take a job
    std::size_t starting = 0;  // threads made but not yet running, as good as waiting
    bool overseerStarted = false;
    const std::size_t core = coreThreads();

    void startThreadLocked() {
        ++threads;
        ++starting;
        std::thread([this] { work(); }).detach();
    }

    void work() {
        pthread_setname_np(pthread_self(), "platform-pool");
        std::unique_lock lock(mutex);
        --starting;
        for (;;) {
            if (jobs.empty()) {
                ++waiting;
                const bool woken =
                    ready.wait_for(lock, kIdleLifetime, [this] { return !jobs.empty(); });
                --waiting;
                if (!woken && threads > kKeptThreads) {
                    --threads;
                    return;
                }
                continue;
            }
            std::function<void()> job = std::move(jobs.front());
            jobs.pop_front();
            ++taken;
            lock.unlock();
            detail::runGuarded("a pool job", job);
            job = nullptr;  // captures die before the lock is taken again
            lock.lock();
        }
    }

    // Adds a thread when work waits, no thread is free and the queue has stopped moving.
    void oversee() {
        pthread_setname_np(pthread_self(), "platform-pool-watch");
        std::unique_lock lock(mutex);
        for (;;) {
            backlog.wait(lock, [this] { return !jobs.empty(); });
            const std::uint64_t before = taken;
            // A plain timed sleep: waiting on `backlog` would wake the overseer for every
            // job queued meanwhile, a context switch per job for nothing.
            never.wait_for(lock, kStallTime);
            if (!jobs.empty() && taken == before && waiting + starting == 0 &&
                threads < kMaximumThreads) {
                startThreadLocked();
            }
        }
    }
};

ThreadPool& ThreadPool::shared() {
    static NoDestructor<ThreadPool> pool;
    return *pool;
}

// The state is never freed: detached threads use it until the process ends.
ThreadPool::ThreadPool() : state_(new State()) {}

void ThreadPool::submit(std::function<void()> job) {
    beforeLoopThreadHandsOff();
    if (!job) {
        return;
    }
    bool wakeWorker = false;
    bool wakeOverseer = false;
    {
        std::lock_guard lock(state_->mutex);
        state_->jobs.push_back(std::move(job));
        if (!state_->overseerStarted) {
            state_->overseerStarted = true;
            std::thread([state = state_] { state->oversee(); }).detach();
        }
        if (state_->jobs.size() > state_->waiting + state_->starting &&
            state_->threads < state_->core) {
            state_->startThreadLocked();
        }
        wakeWorker = state_->waiting > 0;
        // Only such a job can stall: waking the overseer for every job would cost each
        // submission a second wake-up, and the overseer a context switch.
        wakeOverseer = state_->jobs.size() > state_->waiting + state_->starting;
    }
    // Woken under the lock, a thread would find it held, sleep on it and need a second wake.
    // The state lives for ever, so signalling after letting go is safe.
    if (wakeWorker) {
        state_->ready.notify_one();
    }
    if (wakeOverseer) {
        state_->backlog.notify_one();
    }
}

std::size_t ThreadPool::threadCount() const {
    std::lock_guard lock(state_->mutex);
    return state_->threads;
}

}  // namespace platform
