#include "platform/MainLoop.h"

#include <sched.h>
#include <semaphore.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <limits>
#include <map>
#include <stdexcept>
#include <thread>
#include <utility>

#include "platform/Mutex.h"
#include "platform/NoDestructor.h"
#include "platform/RingQueue.h"
#include "platform/TaskGuard.h"
#include "platform/ThreadLoop.h"

namespace platform {

namespace {

double steadySeconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// How long a waiting runUntil goes before looking at its condition again when nothing was
// posted: conditions that other threads change behind the loop's back are seen this late.
constexpr double kPollInterval = 0.005;
constexpr double kMinimumRepeatInterval = 0.0001;
// How long a loop that was just handed work soon after it fell idle looks for more before it
// sleeps. Waking a sleeping thread costs the poster a system call, and the woken thread tens
// of microseconds on a virtual machine's idle processor: a stream of replies pays that twice
// per reply unless the loop is still awake, and on a machine of many processors the replies of
// a busy session come 200 to 500 µs apart. A loop whose work comes further apart sleeps at
// once, so that an idle app spends nothing on it.
constexpr double kSpinInterval = 0.0005;
// How late a timer may be due and still fire in advance(): the clock starts where the steady
// clock stood, so that 0.9 + 0.1 seconds from there can land a bit short of 1.0 from there.
constexpr double kAdvanceSlack = 1e-6;
// Longer waits are cut to this (the clock's arithmetic would overflow); nothing waits that long.
constexpr double kLongestWait = 1e9;

// A timer's place in the schedule: its due time, then the order in which timers were made.
using TimerKey = std::pair<double, std::uint64_t>;

// What the loop sleeps on (one thread pumps it at a time). Not a condition variable: a thread
// woken from one takes the mutex back marked as contended, so that every hand-off to a
// sleeping loop cost it a second system call, to wake nobody, when it let the mutex go.
class Wakeup {
  public:
    Wakeup() { sem_init(&semaphore_, 0, 0); }
    ~Wakeup() { sem_destroy(&semaphore_); }
    Wakeup(const Wakeup&) = delete;
    Wakeup& operator=(const Wakeup&) = delete;

    void post() { sem_post(&semaphore_); }
    // Forgets a post that came after the wait it was meant for had timed out.
    void clear() {
        while (sem_trywait(&semaphore_) == 0) {
        }
    }
    // False when the deadline (steady clock, in seconds) came first. Until `spinUntil` it
    // looks for a post without sleeping, giving the processor to any other thread that wants
    // it, so that a post in that time costs neither side a system call nor the poster's wait
    // for a sleeping processor to come back.
    bool waitUntil(double deadline, double spinUntil) {
        for (double now = steadySeconds(); now < spinUntil && now < deadline;
             now = steadySeconds()) {
            if (sem_trywait(&semaphore_) == 0) {
                return true;
            }
            sched_yield();
        }
        const double whole = std::floor(deadline);
        timespec at{};
        at.tv_sec = static_cast<time_t>(whole);
        at.tv_nsec = static_cast<long>((deadline - whole) * 1e9);
        while (sem_clockwait(&semaphore_, CLOCK_MONOTONIC, &at) != 0) {
            if (errno != EINTR) {
                return false;
            }
        }
        return true;
    }

  private:
    sem_t semaphore_;
};

}  // namespace

struct MainLoop::State {
    mutable Mutex mutex;
    Wakeup wake;
    std::uint64_t generation RZ_GUARDED_BY(mutex) = 0;  // bumped by everything a waiting loop
                                                        // must look at

    RingQueue<std::function<void()>> tasks RZ_GUARDED_BY(mutex);
    std::map<TimerKey, std::shared_ptr<Timer>> timers RZ_GUARDED_BY(mutex);
    std::uint64_t nextTimerSequence RZ_GUARDED_BY(mutex) = 0;

    bool manual RZ_GUARDED_BY(mutex) = false;
    double manualNow RZ_GUARDED_BY(mutex) = 0;
    double offset RZ_GUARDED_BY(mutex) = 0;  // real clock = steady clock + offset

    bool stopRequested RZ_GUARDED_BY(mutex) = false;

    Origin origin = Origin::kCreator;  // set before the loop is shared
    std::thread::id owner RZ_GUARDED_BY(mutex);
    bool ownerKnown RZ_GUARDED_BY(mutex) = false;
    std::thread::id pumpingThread RZ_GUARDED_BY(mutex);
    int pumpingDepth RZ_GUARDED_BY(mutex) = 0;

    double nowLocked() const RZ_REQUIRES(mutex) {
        return manual ? manualNow : steadySeconds() + offset;
    }
    // A loop that waits is woken once; posts that come before it looks again need not wake
    // it again (each wake is a system call on the poster's thread).
    bool waiting RZ_GUARDED_BY(mutex) = false;
    bool woken RZ_GUARDED_BY(mutex) = false;
    // Whether the last wait ended in a post within kSpinInterval: the next one spins first.
    bool spins RZ_GUARDED_BY(mutex) = false;

    void signalLocked() RZ_REQUIRES(mutex) {
        ++generation;
        if (waiting && !woken) {
            woken = true;
            wake.post();
        }
    }
};

class MainLoop::Timer final : public TimerHandle {
  public:
    Timer(std::weak_ptr<State> loop, std::function<void()> task, double interval)
        : loop_(std::move(loop)), task_(std::move(task)), interval_(interval) {}

    void cancel() override {
        auto loop = loop_.lock();
        if (!loop) {
            return;
        }
        std::function<void()> dropped;
        {
            MutexLock lock(loop->mutex);
            if (cancelled_ || fired_) {
                return;
            }
            cancelled_ = true;
            if (scheduled_) {
                loop->timers.erase(key_);
                scheduled_ = false;
            }
            dropped = std::move(task_);
        }
        // The captures die here, outside the loop's lock: their destructors may use the loop.
    }

    bool isValid() const override {
        auto loop = loop_.lock();
        if (!loop) {
            return false;
        }
        MutexLock lock(loop->mutex);
        return !cancelled_ && !fired_;
    }

    // All below are guarded by the loop's mutex.
    std::weak_ptr<State> loop_;
    std::function<void()> task_;
    const double interval_;  // 0 for a one-shot timer
    double start_ = 0;       // a repeating timer's n-th due time is start_ + n * interval_
    std::uint64_t count_ = 0;
    TimerKey key_{};
    bool scheduled_ = false;
    bool cancelled_ = false;
    bool fired_ = false;  // one-shot only
};

// Marks the calling thread as the one pumping the loop for the duration of a pump.
class MainLoop::Pumping {
  public:
    explicit Pumping(State& state) : state_(state) {
        MutexLock lock(state_.mutex);
        const auto self = std::this_thread::get_id();
        if (state_.pumpingDepth > 0 && state_.pumpingThread != self) {
            throw std::logic_error("the main loop is already being run by another thread");
        }
        state_.pumpingThread = self;
        state_.owner = self;
        state_.ownerKnown = true;
        ++state_.pumpingDepth;
    }
    ~Pumping() {
        MutexLock lock(state_.mutex);
        --state_.pumpingDepth;
    }
    Pumping(const Pumping&) = delete;
    Pumping& operator=(const Pumping&) = delete;

  private:
    State& state_;
};

MainLoop& MainLoop::main() {
    static NoDestructor<MainLoop> loop(Origin::kProcess);
    return *loop;
}

MainLoop::MainLoop() : MainLoop(Origin::kCreator) {}

MainLoop::MainLoop(Origin origin) : state_(std::make_shared<State>()) {
    state_->origin = origin;
    if (origin == Origin::kCreator) {
        MutexLock lock(state_->mutex);
        state_->owner = std::this_thread::get_id();
        state_->ownerKnown = true;
    }
}

MainLoop::~MainLoop() {
    // Tasks and timers die with the state; handles still held then report invalid.
    RingQueue<std::function<void()>> tasks;
    std::map<TimerKey, std::shared_ptr<Timer>> timers;
    {
        MutexLock lock(state_->mutex);
        tasks.swap(state_->tasks);
        timers.swap(state_->timers);
    }
}

bool MainLoop::isMainThread() const {
    MutexLock lock(state_->mutex);
    if (state_->ownerKnown) {
        return state_->owner == std::this_thread::get_id();
    }
    return ::gettid() == ::getpid();
}

void MainLoop::post(std::function<void()> task) {
    if (!task) {
        return;
    }
    if (ThreadLoop* loop = ThreadLoop::current(); loop && this == &main()) {
        loop->holdForMain(std::move(task));
        return;
    }
    MutexLock lock(state_->mutex);
    state_->tasks.push_back(std::move(task));
    state_->signalLocked();
}

void MainLoop::postAll(std::span<std::function<void()>> tasks) {
    MutexLock lock(state_->mutex);
    bool added = false;
    for (auto& task : tasks) {
        if (task) {
            state_->tasks.push_back(std::move(task));
            added = true;
        }
    }
    if (added) {
        state_->signalLocked();
    }
}

std::shared_ptr<TimerHandle> MainLoop::after(double seconds, std::function<void()> task) {
    if (std::isnan(seconds)) {
        throw std::invalid_argument("a delayed call needs a number of seconds");
    }
    const double delay = std::max(0.0, seconds);  // infinity: never, until cancelled
    beforeLoopThreadHandsOff();                   // what a loop thread posted before comes first
    auto timer = std::make_shared<Timer>(state_, std::move(task), 0.0);
    MutexLock lock(state_->mutex);
    timer->start_ = state_->nowLocked();
    timer->key_ = {timer->start_ + delay, state_->nextTimerSequence++};
    timer->scheduled_ = true;
    state_->timers.emplace(timer->key_, timer);
    state_->signalLocked();
    return timer;
}

std::shared_ptr<TimerHandle> MainLoop::every(double seconds, std::function<void()> task) {
    if (std::isnan(seconds) || std::isinf(seconds)) {
        throw std::invalid_argument("a repeating timer needs a finite interval");
    }
    const double interval = std::max(kMinimumRepeatInterval, seconds);
    auto timer = std::make_shared<Timer>(state_, std::move(task), interval);
    MutexLock lock(state_->mutex);
    timer->start_ = state_->nowLocked();
    timer->count_ = 1;
    timer->key_ = {timer->start_ + interval, state_->nextTimerSequence++};
    timer->scheduled_ = true;
    state_->timers.emplace(timer->key_, timer);
    state_->signalLocked();
    return timer;
}

double MainLoop::now() const {
    MutexLock lock(state_->mutex);
    return state_->nowLocked();
}

void MainLoop::setManualClock(bool manual) {
    MutexLock lock(state_->mutex);
    if (manual == state_->manual) {
        return;
    }
    if (manual) {
        state_->manualNow = steadySeconds() + state_->offset;
    } else {
        state_->offset = state_->manualNow - steadySeconds();
    }
    state_->manual = manual;
    state_->signalLocked();
}

bool MainLoop::isManualClock() const {
    MutexLock lock(state_->mutex);
    return state_->manual;
}

// Runs up to `limit` tasks from the front of the queue, one at a time, so that a task that
// pumps the loop itself sees the rest of the queue in order.
bool MainLoop::runTasks(std::size_t limit) {
    bool ran = false;
    for (std::size_t i = 0; i < limit; ++i) {
        std::function<void()> task;
        {
            MutexLock lock(state_->mutex);
            if (state_->tasks.empty()) {
                break;
            }
            task = std::move(state_->tasks.front());
            state_->tasks.pop_front();
        }
        detail::runGuarded("a main loop task", task);
        ran = true;
    }
    return ran;
}

// Fires the earliest timer due at or before `limit` and made before timer number
// `sequenceLimit`, if any. With moveClock (manual clock), time first moves to its due time.
bool MainLoop::fireNextTimer(double limit, std::uint64_t sequenceLimit, bool moveClock) {
    std::shared_ptr<Timer> timer;
    std::function<void()> task;
    {
        MutexLock lock(state_->mutex);
        if (state_->timers.empty()) {
            return false;
        }
        // Timers made after the limit sort behind every older timer that is due by then.
        auto first = state_->timers.begin();
        if (first->first.first > limit || first->first.second >= sequenceLimit) {
            return false;
        }
        timer = std::move(first->second);
        state_->timers.erase(first);
        timer->scheduled_ = false;
        if (moveClock && state_->manual) {
            state_->manualNow = std::max(state_->manualNow, timer->key_.first);
        }
        if (timer->interval_ == 0) {
            timer->fired_ = true;
        }
        // The task leaves the timer while it runs, so that cancelling the timer from inside
        // the task does not destroy the function that is running.
        task = std::move(timer->task_);
    }
    detail::runGuarded("a main loop timer", task);
    if (timer->interval_ == 0) {
        return true;
    }
    {
        MutexLock lock(state_->mutex);
        if (timer->cancelled_) {
            return true;  // the task dies with `task`, after the lock is released
        }
        timer->task_ = std::move(task);
        const double now = state_->nowLocked();
        std::uint64_t next = timer->count_ + 1;
        if (timer->start_ + static_cast<double>(next) * timer->interval_ <= now) {
            // The loop fell behind the real clock: skip the firings that were missed.
            next = static_cast<std::uint64_t>((now - timer->start_) / timer->interval_) + 1;
            while (timer->start_ + static_cast<double>(next) * timer->interval_ <= now) {
                ++next;
            }
        }
        timer->count_ = next;
        timer->key_ = {timer->start_ + static_cast<double>(next) * timer->interval_,
                       state_->nextTimerSequence++};
        timer->scheduled_ = true;
        state_->timers.emplace(timer->key_, timer);
    }
    return true;
}

// One pass: the tasks posted before it, then the timers due at its start and made before it.
// What the pass itself posts or schedules waits for the next pass, so that a task or timer
// that keeps re-arming itself cannot hold a pass for ever.
bool MainLoop::pumpOnce() {
    std::size_t pending;
    std::uint64_t sequenceLimit;
    {
        MutexLock lock(state_->mutex);
        pending = state_->tasks.size();
        sequenceLimit = state_->nextTimerSequence;
    }
    bool ran = runTasks(pending);
    const double limit = now();
    while (fireNextTimer(limit, sequenceLimit, false)) {
        ran = true;
    }
    return ran;
}

void MainLoop::runOnce() {
    Pumping pumping(*state_);
    pumpOnce();
}

void MainLoop::advance(double seconds) {
    if (!(seconds >= 0) || std::isinf(seconds)) {
        throw std::invalid_argument("advance needs a finite, non-negative number of seconds");
    }
    Pumping pumping(*state_);
    double target;
    {
        MutexLock lock(state_->mutex);
        if (!state_->manual) {
            throw std::logic_error("advance needs the manual clock");
        }
        target = state_->manualNow + seconds;
    }
    for (;;) {
        runTasks(std::numeric_limits<std::size_t>::max());
        if (!fireNextTimer(target + kAdvanceSlack, std::numeric_limits<std::uint64_t>::max(),
                           true)) {
            MutexLock lock(state_->mutex);
            if (state_->tasks.empty()) {
                state_->manualNow = std::max(state_->manualNow, target);
                return;
            }
        }
    }
}

void MainLoop::waitForWork(double realDeadline, bool poll) {
    MutexLock lock(state_->mutex);
    if (!state_->tasks.empty() || state_->stopRequested) {
        return;
    }
    const double realNow = steadySeconds();
    double until = std::min(realDeadline, realNow + kLongestWait);
    if (poll) {
        until = std::min(until, realNow + kPollInterval);
    }
    if (!state_->manual && !state_->timers.empty()) {
        until = std::min(until, state_->timers.begin()->first.first - state_->offset);
    }
    if (until <= realNow) {
        return;
    }
    const std::uint64_t seen = state_->generation;
    state_->wake.clear();
    state_->waiting = true;
    state_->woken = false;
    const double spinUntil = state_->spins ? realNow + kSpinInterval : realNow;
    bool posted = true;
    while (state_->generation == seen && posted) {
        lock.unlock();
        posted = state_->wake.waitUntil(until, spinUntil);
        lock.lock();
    }
    state_->waiting = false;
    // A timer's deadline is not work handed over: only a post keeps the loop spinning.
    state_->spins = posted && steadySeconds() - realNow <= kSpinInterval;
}

bool MainLoop::runUntil(const std::function<bool()>& done, double timeoutSeconds) {
    Pumping pumping(*state_);
    const double deadline =
        steadySeconds() +
        (std::isnan(timeoutSeconds) ? 0.0 : std::clamp(timeoutSeconds, 0.0, kLongestWait));
    for (;;) {
        if (done()) {
            return true;
        }
        const bool ran = pumpOnce();
        if (ran && done()) {
            return true;
        }
        if (steadySeconds() >= deadline) {
            return done();
        }
        if (!ran) {
            waitForWork(deadline, true);
        }
    }
}

void MainLoop::run() {
    Pumping pumping(*state_);
    for (;;) {
        {
            MutexLock lock(state_->mutex);
            if (state_->stopRequested) {
                state_->stopRequested = false;
                return;
            }
        }
        if (!pumpOnce()) {
            waitForWork(std::numeric_limits<double>::infinity(), false);
        }
    }
}

void MainLoop::stop() {
    MutexLock lock(state_->mutex);
    state_->stopRequested = true;
    state_->signalLocked();
}

}  // namespace platform
