// A mutex that clang's -Wthread-safety can follow (see ThreadAnnotations.h), the lock that
// holds it for a scope, and a value that can only be reached with its mutex held.
//
//     platform::Mutex mutex_;
//     std::deque<Job> jobs_ RZ_GUARDED_BY(mutex_);
//     std::condition_variable wake_;
//     ...
//     platform::MutexLock lock(mutex_);
//     while (jobs_.empty()) lock.wait(wake_);
//
// Not recursive: locking it twice on one thread deadlocks, as std::mutex does.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <utility>

#include "platform/ThreadAnnotations.h"

namespace platform {

class RZ_CAPABILITY("mutex") Mutex {
  public:
    Mutex() = default;
    Mutex(const Mutex&) = delete;
    Mutex& operator=(const Mutex&) = delete;

    void lock() RZ_ACQUIRE() { mutex_.lock(); }
    void unlock() RZ_RELEASE() { mutex_.unlock(); }
    bool try_lock() RZ_TRY_ACQUIRE(true) { return mutex_.try_lock(); }

  private:
    friend class MutexLock;
    std::mutex mutex_;
};

// Holds the mutex from construction to destruction; may let go of it for a while in between
// (unlock() and lock(), or a wait on a condition variable).
class RZ_SCOPED_CAPABILITY MutexLock {
  public:
    explicit MutexLock(Mutex& mutex) RZ_ACQUIRE(mutex) : lock_(mutex.mutex_) {}
    ~MutexLock() RZ_RELEASE() {}
    MutexLock(const MutexLock&) = delete;
    MutexLock& operator=(const MutexLock&) = delete;

    // Around a call that must not run under the lock (a callback into the app, a blocking
    // call).
    void unlock() RZ_RELEASE() { lock_.unlock(); }
    void lock() RZ_ACQUIRE() { lock_.lock(); }

    // Let go of the mutex until woken (spuriously, too), then hold it again: callers loop on
    // their condition.
    void wait(std::condition_variable& condition) { condition.wait(lock_); }
    // As wait(), also returning at the deadline: false when it passed.
    template <class Clock, class Duration>
    bool waitUntil(std::condition_variable& condition,
                   const std::chrono::time_point<Clock, Duration>& deadline) {
        return condition.wait_until(lock_, deadline) == std::cv_status::no_timeout;
    }
    template <class Rep, class Period>
    bool waitFor(std::condition_variable& condition,
                 const std::chrono::duration<Rep, Period>& timeout) {
        return condition.wait_for(lock_, timeout) == std::cv_status::no_timeout;
    }

  private:
    std::unique_lock<std::mutex> lock_;
};

// A value with a mutex of its own: the only ways in are a copy, a replacement, or a call that
// runs with the mutex held. For state that other state does not depend on; a class whose
// members change together keeps one Mutex and annotates each member instead.
template <class T>
class Guarded {
  public:
    template <class... Args>
    explicit Guarded(Args&&... args) : value_(std::forward<Args>(args)...) {}
    Guarded(const Guarded&) = delete;
    Guarded& operator=(const Guarded&) = delete;

    T get() const {
        MutexLock lock(mutex_);
        return value_;
    }
    void set(T value) {
        MutexLock lock(mutex_);
        value_ = std::move(value);
    }
    // Runs `f` with a reference to the value and the mutex held; `f` must not keep the
    // reference, nor call anything that may come back to this value.
    template <class F>
    decltype(auto) with(F&& f) {
        MutexLock lock(mutex_);
        return std::forward<F>(f)(value_);
    }
    template <class F>
    decltype(auto) with(F&& f) const {
        MutexLock lock(mutex_);
        return std::forward<F>(f)(std::as_const(value_));
    }

  private:
    mutable Mutex mutex_;
    T value_ RZ_GUARDED_BY(mutex_);
};

}  // namespace platform
