#include "platform/ThreadPool.h"

#include <pthread.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

#include "platform/TaskGuard.h"

namespace platform {

namespace {

constexpr std::size_t kMaximumThreads = 64;
constexpr std::size_t kKeptThreads = 2;
constexpr auto kIdleLifetime = std::chrono::seconds(15);

}  // namespace

struct ThreadPool::State {
    mutable std::mutex mutex;
    std::condition_variable ready;
    std::deque<std::function<void()>> jobs;
    std::size_t threads = 0;
    std::size_t waiting = 0;   // threads inside ready.wait, free to take a job
    std::size_t starting = 0;  // threads made but not yet running, as good as waiting

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
            lock.unlock();
            detail::runGuarded("a pool job", job);
            job = nullptr;  // captures die before the lock is taken again
            lock.lock();
        }
    }
};

ThreadPool& ThreadPool::shared() {
    static ThreadPool* const pool = new ThreadPool();
    return *pool;
}

// The state is never freed: detached workers use it until the process ends.
ThreadPool::ThreadPool() : state_(new State()) {}

void ThreadPool::submit(std::function<void()> job) {
    if (!job) {
        return;
    }
    std::lock_guard lock(state_->mutex);
    state_->jobs.push_back(std::move(job));
    // Every queued job needs a free thread of its own: the busy ones may be blocked waiting
    // for exactly this job.
    if (state_->jobs.size() > state_->waiting + state_->starting &&
        state_->threads < kMaximumThreads) {
        state_->startThreadLocked();
    }
    state_->ready.notify_one();
}

std::size_t ThreadPool::threadCount() const {
    std::lock_guard lock(state_->mutex);
    return state_->threads;
}

}  // namespace platform
