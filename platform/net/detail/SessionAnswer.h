// An answer the network thread waits for from a URL session's delegate, shared by the session
// and its transfers.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

#include "platform/ThreadLoop.h"
#include "platform/net/detail/UrlSessionInternals.h"

namespace platform::detail {

// One answer from the delegate: the first one given counts.
template <class T>
class Answer final : public Abandonable {
  public:
    explicit Answer(T fallback) : fallback_(std::move(fallback)) {}

    void give(T value) {
        std::function<void(const T&)> then;
        {
            std::lock_guard lock(mutex_);
            if (value_) {
                return;
            }
            value_ = std::move(value);
            then = std::move(then_);
        }
        changed_.notify_all();
        if (then) {
            runCallback([&] { then(*value_); });
        }
    }
    void giveFallback() { give(fallback_); }

    // Runs `then` with the answer once it is given (at once when it was).
    void onAnswer(std::function<void(const T&)> then) {
        {
            std::lock_guard lock(mutex_);
            if (!value_) {
                then_ = std::move(then);
                return;
            }
        }
        runCallback([&] { then(*value_); });
    }

    // The answer, or nullopt when the time ran out or the wait was abandoned first; either
    // way nobody waits for it any more.
    std::optional<T> wait(double seconds) {
        beforeLoopThreadWaits();  // the question may still be in the network thread's hands
        std::unique_lock lock(mutex_);
        changed_.wait_for(lock, std::chrono::duration<double>(seconds),
                          [&] { return value_.has_value() || abandoned_; });
        abandoned_ = true;
        return value_;
    }

    // Whether someone still waits for the answer: a question whose wait is over is not put.
    bool wanted() {
        std::lock_guard lock(mutex_);
        return !abandoned_ && !value_;
    }

    void abandon() override {
        {
            std::lock_guard lock(mutex_);
            abandoned_ = true;
        }
        changed_.notify_all();
    }

  private:
    const T fallback_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::optional<T> value_;
    bool abandoned_ = false;
    std::function<void(const T&)> then_;
};

// Kept by every copy of a completion handler: when the last copy goes without having been
// called, the handler counts as answered with the default.
template <class T>
struct Fallback {
    explicit Fallback(std::shared_ptr<Answer<T>> a) : answer(std::move(a)) {}
    ~Fallback() { answer->giveFallback(); }
    Fallback(const Fallback&) = delete;
    Fallback& operator=(const Fallback&) = delete;
    std::shared_ptr<Answer<T>> answer;
};

}  // namespace platform::detail
