// The main loop: the queue of work for the main thread, its timers and its clock.
//
// The main thread is whichever thread runs the loop (run, runUntil, runOnce, advance); one
// thread at a time: pumping it from a second thread while the first is inside it throws
// std::logic_error. The host program runs it for good; tests pump it until a condition holds
// and may put it on a manual clock, so that timers and animations fire exactly when the test
// moves time on.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <utility>
#include <vector>

#include "platform/NoDestructor.h"

namespace platform {

// A time-out or delay in any unit (std::chrono::milliseconds(300), std::chrono::seconds(30)),
// held as seconds of double precision, the loop's own unit. The overloads below that take bare
// seconds as a double remain for callers not yet moved to durations.
using Seconds = std::chrono::duration<double>;

// A scheduled call that can be cancelled; cancelling after it ran, or twice, does nothing.
class TimerHandle {
  public:
    virtual ~TimerHandle() = default;
    virtual void cancel() = 0;
    virtual bool isValid() const = 0;  // scheduled and neither fired (one-shot) nor cancelled
};

class MainLoop {
  public:
    // The process's main loop, made on first use and never destroyed. Until some thread runs
    // it, the process's initial thread counts as its main thread.
    static MainLoop& main();

    // A loop of its own: for tests, or as the run loop of a dedicated thread that calls run().
    // Until it runs, the thread that made it counts as its main thread.
    MainLoop();
    ~MainLoop();
    MainLoop(const MainLoop&) = delete;
    MainLoop& operator=(const MainLoop&) = delete;

    bool isMainThread() const;  // the thread that runs (or last ran) the loop

    // Any thread; tasks run in the order they were posted, also those posted while running.
    // A task that throws is logged and the loop goes on. On a thread that runs a loop of its
    // own (ThreadLoop), a task for the main loop is held until the end of that loop's turn and
    // posted with the others of the turn (see ThreadLoop.h).
    void post(std::function<void()> task);
    // The tasks, in order, with one wake-up of the loop; they are moved from.
    void postAll(std::span<std::function<void()>> tasks);

    // A call `seconds` from now on the loop's clock (0 or less: as soon as the loop looks at
    // its timers). Timers due at the same time fire in the order they were made. The loop
    // keeps the task until it fired or was cancelled, whether or not the handle is kept.
    // NaN seconds throw std::invalid_argument.
    std::shared_ptr<TimerHandle> after(Seconds delay, std::function<void()> task) {
        return after(delay.count(), std::move(task));
    }
    std::shared_ptr<TimerHandle> after(double seconds, std::function<void()> task);
    // A call every `seconds` (at least 0.1 ms; not finite: std::invalid_argument) until
    // cancelled. With the real clock, firings that were missed while the loop was busy are
    // skipped, not bunched up.
    std::shared_ptr<TimerHandle> every(Seconds interval, std::function<void()> task) {
        return every(interval.count(), std::move(task));
    }
    std::shared_ptr<TimerHandle> every(double seconds, std::function<void()> task);

    double now() const;  // the loop's clock, seconds (monotonic)

    // Tests: time moves only through advance(). Switching back to the real clock continues
    // from the manual time, so now() never goes backwards.
    void setManualClock(bool manual);
    bool isManualClock() const;
    // Manual clock only (throws std::logic_error otherwise): moves time on by `seconds`,
    // firing the timers that fall due on the way in time order, each seeing now() at its own
    // due time, and running the tasks posted meanwhile. Returns when nothing more is due
    // by the end time; now() is then the end time. A timer due within a microsecond after it
    // counts as due: a time reached in steps of decimal seconds may miss the same time reached
    // in other steps by its last bit.
    void advance(Seconds time) { advance(time.count()); }
    void advance(double seconds);

    // Runs the tasks posted so far and the timers due now, each once; what they post or
    // schedule waits for the next pass.
    void runOnce();
    // Pumps tasks and timers until done() holds (true) or timeoutSeconds of real time passed
    // (false). It waits for work on a condition variable; a condition changed by another
    // thread without posting to the loop is seen within a few milliseconds. On the manual
    // clock it never moves time itself: only timers already due fire.
    bool runUntil(const std::function<bool()>& done, Seconds timeout) {
        return runUntil(done, timeout.count());
    }
    bool runUntil(const std::function<bool()>& done, double timeoutSeconds);
    // Until stop(). A stop() that comes while no run() is active ends the next run().
    void run();
    void stop();  // any thread

  private:
    struct State;
    class Timer;
    class Pumping;
    enum class Origin { kProcess, kCreator };
    friend class NoDestructor<MainLoop>;
    explicit MainLoop(Origin origin);

    bool pumpOnce();
    bool runTasks(std::size_t limit);
    bool fireNextTimer(double limit, std::uint64_t sequenceLimit, bool moveClock);
    void waitForWork(double realDeadline, bool poll);

    std::shared_ptr<State> state_;
};

}  // namespace platform
