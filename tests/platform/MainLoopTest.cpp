#include "platform/MainLoop.h"

#include <gtest/gtest.h>
#include <time.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace platform {
namespace {

constexpr double kBound = 10;  // seconds any wait may take before the test fails

TEST(MainLoop, PostedTasksRunInOrderPerProducerOnTheLoopThread) {
    MainLoop loop;
    constexpr int kProducers = 8;
    constexpr int kEach = 500;
    std::vector<std::pair<int, int>> seen;  // touched by the loop's thread only
    bool allOnLoopThread = true;
    std::vector<std::thread> producers;
    for (int p = 0; p < kProducers; ++p) {
        producers.emplace_back([&, p] {
            for (int i = 0; i < kEach; ++i) {
                loop.post([&, p, i] {
                    allOnLoopThread = allOnLoopThread && loop.isMainThread();
                    seen.emplace_back(p, i);
                });
            }
        });
    }
    ASSERT_TRUE(loop.runUntil([&] { return seen.size() == kProducers * kEach; }, kBound));
    for (auto& t : producers) {
        t.join();
    }
    std::vector<int> next(kProducers, 0);
    for (const auto& [p, i] : seen) {
        ASSERT_EQ(i, next[p]) << "producer " << p;
        ++next[p];
    }
    EXPECT_TRUE(allOnLoopThread);
}

TEST(MainLoop, TasksPostedWhileRunningQueueBehindEarlierOnes) {
    MainLoop loop;
    std::string order;
    loop.post([&] {
        order += 'a';
        loop.post([&] { order += 'c'; });
    });
    loop.post([&] { order += 'b'; });
    loop.runOnce();  // runs what was posted before it started
    EXPECT_EQ(order, "ab");
    loop.runOnce();
    EXPECT_EQ(order, "abc");
}

TEST(MainLoop, AThrowingTaskIsLoggedAndTheLoopGoesOn) {
    MainLoop loop;
    bool after = false;
    testing::internal::CaptureStderr();
    loop.post([] { throw std::runtime_error("task exploded"); });
    loop.post([&] { after = true; });
    EXPECT_TRUE(loop.runUntil([&] { return after; }, kBound));
    const std::string log = testing::internal::GetCapturedStderr();
    EXPECT_NE(log.find("task exploded"), std::string::npos) << log;
}

TEST(MainLoop, ManualClockFiresTimersInTimeOrderEachAtItsOwnTime) {
    MainLoop loop;
    loop.setManualClock(true);
    const double t0 = loop.now();
    std::vector<std::pair<std::string, double>> fired;
    auto record = [&](std::string name) {
        return [&, name] { fired.emplace_back(name, loop.now() - t0); };
    };
    auto b = loop.after(0.3, record("b"));
    auto a = loop.after(0.1, record("a"));
    auto r = loop.every(0.25, record("r"));
    auto a2 = loop.after(0.1, record("a2"));  // same time as a, made later: fires after it

    loop.advance(1.0);

    const std::vector<std::pair<std::string, double>> expected = {
        {"a", 0.1}, {"a2", 0.1}, {"r", 0.25}, {"b", 0.3}, {"r", 0.5}, {"r", 0.75}, {"r", 1.0}};
    ASSERT_EQ(fired.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(fired[i].first, expected[i].first) << i;
        EXPECT_NEAR(fired[i].second, expected[i].second, 1e-9) << i;
    }
    EXPECT_NEAR(loop.now() - t0, 1.0, 1e-9);
    EXPECT_FALSE(a->isValid());
    EXPECT_TRUE(r->isValid());
}

TEST(MainLoop, ManualClockMovesOnlyThroughAdvance) {
    MainLoop loop;
    loop.setManualClock(true);
    const double t0 = loop.now();
    bool fired = false;
    loop.after(0.5, [&] { fired = true; });

    EXPECT_FALSE(loop.runUntil([&] { return fired; }, 0.02));
    loop.runOnce();
    EXPECT_EQ(loop.now(), t0);
    loop.advance(0.49);
    EXPECT_FALSE(fired);
    loop.advance(0.01);
    EXPECT_TRUE(fired);

    fired = false;
    loop.after(0, [&] { fired = true; });  // due now: pumping fires it without moving time
    loop.runOnce();
    EXPECT_TRUE(fired);
}

TEST(MainLoop, ATimerThatReArmsItselfCannotHoldAPassForEver) {
    MainLoop loop;
    loop.setManualClock(true);
    int fired = 0;
    std::function<void()> rearm = [&] {
        ++fired;
        loop.after(0, rearm);  // due again at once: at the same manual instant
    };
    loop.after(0, rearm);
    loop.runOnce();
    EXPECT_EQ(fired, 1);
    EXPECT_TRUE(loop.runUntil([&] { return fired >= 5; }, kBound));
}

TEST(MainLoop, AdvanceRunsWhatTimersPostAndTheTimersThoseMake) {
    MainLoop loop;
    loop.setManualClock(true);
    const double t0 = loop.now();
    double chainedAt = -1;
    bool late = false;
    loop.after(0.1, [&] {
        loop.post([&] {
            loop.after(0.2, [&] { chainedAt = loop.now() - t0; });
            loop.after(2.0, [&] { late = true; });
        });
    });
    loop.advance(1.0);
    EXPECT_NEAR(chainedAt, 0.3, 1e-9);
    EXPECT_FALSE(late);
    loop.advance(1.1);
    EXPECT_TRUE(late);
}

TEST(MainLoop, AdvanceFiresATimerDueAtATimeItReachesInOtherSteps) {
    // A loop's clock starts where the steady clock stands: from there, 0.7 + 0.2 + 0.1 seconds
    // lands a last bit short of 1.0 seconds on. How the sums round depends on the start, so
    // many starts are tried.
    int missed = 0;
    for (int start = 0; start < 200; ++start) {
        MainLoop loop;
        loop.setManualClock(true);
        bool fired = false;
        loop.after(1.0, [&] { fired = true; });
        loop.advance(0.7);
        loop.advance(0.2);
        loop.advance(0.1);
        missed += fired ? 0 : 1;
    }
    EXPECT_EQ(missed, 0);
}

TEST(MainLoop, CancelledTimersNeverFireAndLetTheirTaskGo) {
    MainLoop loop;
    loop.setManualClock(true);
    int fired = 0;

    // Two timers due at once: the first cancels the second, which then must not fire.
    std::shared_ptr<TimerHandle> second;
    auto first = loop.after(0.2, [&] {
        ++fired;
        second->cancel();
    });
    second = loop.after(0.2, [&] { fired += 100; });

    // A repeating timer that cancels itself on its third firing.
    int repeats = 0;
    std::shared_ptr<TimerHandle> repeating;
    repeating = loop.every(0.1, [&] {
        if (++repeats == 3) {
            repeating->cancel();
        }
    });

    // Cancelling drops the task and what it holds at once.
    auto held = std::make_shared<int>(7);
    auto dropped = loop.after(5, [held] {});
    EXPECT_EQ(held.use_count(), 2);
    dropped->cancel();
    EXPECT_EQ(held.use_count(), 1);
    EXPECT_FALSE(dropped->isValid());
    dropped->cancel();  // twice: nothing

    loop.advance(10);
    EXPECT_EQ(fired, 1);
    EXPECT_EQ(repeats, 3);
    EXPECT_FALSE(repeating->isValid());
    EXPECT_FALSE(first->isValid());
    first->cancel();  // after it ran: nothing
}

TEST(MainLoop, TimerHandlesOutliveTheirLoop) {
    std::shared_ptr<TimerHandle> handle;
    {
        MainLoop loop;
        handle = loop.after(1, [] {});
        EXPECT_TRUE(handle->isValid());
    }
    EXPECT_FALSE(handle->isValid());
    handle->cancel();
}

TEST(MainLoop, RealClockTimersFireWhileTheLoopIsPumped) {
    MainLoop loop;
    bool once = false;
    int repeats = 0;
    const double start = loop.now();
    loop.after(0.02, [&] { once = true; });
    auto repeating = loop.every(0.005, [&] { ++repeats; });
    EXPECT_TRUE(loop.runUntil([&] { return once && repeats >= 3; }, kBound));
    EXPECT_GE(loop.now() - start, 0.02);
    repeating->cancel();
}

TEST(MainLoop, ATaskOrTimerMayPumpTheLoopItself) {
    MainLoop loop;
    loop.setManualClock(true);
    std::string order;
    loop.post([&] {
        order += 'a';
        bool xRan = false;
        loop.post([&] {
            order += 'x';
            xRan = true;
        });
        EXPECT_TRUE(loop.runUntil([&] { return xRan; }, kBound));
        order += 'A';
    });
    loop.post([&] { order += 'b'; });
    loop.after(0.1, [&] {
        bool inner = false;
        loop.post([&] { inner = true; });
        EXPECT_TRUE(loop.runUntil([&] { return inner; }, kBound));
        order += 't';
    });
    loop.runOnce();
    EXPECT_EQ(order, "abxA");  // the nested pump kept the queue's order
    loop.advance(0.1);
    EXPECT_EQ(order, "abxAt");
}

TEST(MainLoop, RunReturnsOnStopFromAnyThread) {
    MainLoop loop;
    int ran = 0;
    loop.post([&] { ++ran; });
    loop.post([&] { loop.stop(); });
    loop.run();
    EXPECT_EQ(ran, 1);

    // A stop that comes before run() starts still ends it.
    std::thread stopper([&] { loop.stop(); });
    loop.run();
    stopper.join();
}

// Each round, the other thread lets the loop fall asleep in run() before it posts. A wake-up
// lost, or one that came before the loop slept and left it asleep after, leaves the task to
// the next pass of a slow timer, whose period the task's wait then reaches.
TEST(MainLoop, EveryPostWakesTheSleepingLoop) {
    using Clock = std::chrono::steady_clock;
    constexpr int kRounds = 1000;
    constexpr double kTimerPeriod = 1;
    MainLoop loop;
    std::atomic<int> ran{0};
    std::atomic<bool> over{false};
    double longestWait = 0;  // loop thread only
    const auto deadline = Clock::now() + std::chrono::duration<double>(kBound);
    auto watchdog = loop.every(kTimerPeriod, [&] {
        if (Clock::now() > deadline) {
            loop.stop();
        }
    });
    std::thread poster([&] {
        for (int round = 0; round < kRounds && !over; ++round) {
            while (ran.load() < round && !over) {
                std::this_thread::yield();
            }
            std::this_thread::sleep_for(std::chrono::microseconds(round % 3 == 0 ? 0 : 100));
            loop.post([&, posted = Clock::now()] {
                longestWait = std::max(
                    longestWait, std::chrono::duration<double>(Clock::now() - posted).count());
                if (++ran == kRounds) {
                    loop.stop();
                }
            });
        }
    });
    loop.run();
    over = true;
    poster.join();
    watchdog->cancel();
    EXPECT_EQ(ran.load(), kRounds);
    EXPECT_LT(longestWait, kTimerPeriod);
}

// A loop fed in quick succession stays awake a little between tasks; once the work stops
// coming it must sleep again, not keep the processor busy while the app is idle.
TEST(MainLoop, ALoopFedInQuickSuccessionSleepsOnceTheWorkStops) {
    constexpr int kTasks = 2000;
    constexpr double kIdle = 0.3;
    MainLoop loop;
    std::atomic<int> ran{0};
    std::thread poster([&] {
        for (int i = 0; i < kTasks; ++i) {
            std::this_thread::sleep_for(std::chrono::microseconds(20));
            loop.post([&] { ++ran; });
        }
    });
    EXPECT_TRUE(loop.runUntil([&] { return ran == kTasks; }, kBound));
    poster.join();

    const auto cpuSeconds = [] {
        timespec now{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
        return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
    };
    const double before = cpuSeconds();
    EXPECT_FALSE(loop.runUntil([] { return false; }, kIdle));
    EXPECT_LT(cpuSeconds() - before, kIdle / 4);
}

TEST(MainLoop, TheMainThreadIsTheOneThatRunsTheLoop) {
    MainLoop loop;
    EXPECT_TRUE(loop.isMainThread());  // the thread that made it, until another runs it
    bool otherSeesMain = true;
    std::thread([&] { otherSeesMain = loop.isMainThread(); }).join();
    EXPECT_FALSE(otherSeesMain);

    std::thread([&] { loop.runOnce(); }).join();
    EXPECT_FALSE(loop.isMainThread());

    // The process's loop belongs to the process's first thread until someone runs it.
    EXPECT_TRUE(MainLoop::main().isMainThread());
}

TEST(MainLoop, OnlyOneThreadPumpsAtATime) {
    MainLoop loop;
    bool threw = false;
    bool done = false;
    loop.post([&] {
        std::thread([&] {
            try {
                loop.runOnce();
            } catch (const std::logic_error&) {
                threw = true;
            }
        }).join();
        done = true;
    });
    EXPECT_TRUE(loop.runUntil([&] { return done; }, kBound));
    EXPECT_TRUE(threw);
}

TEST(MainLoop, ClockRulesAreEnforced) {
    MainLoop loop;
    EXPECT_THROW(loop.advance(1), std::logic_error);
    loop.setManualClock(true);
    EXPECT_THROW(loop.advance(-1), std::invalid_argument);
    loop.advance(100);
    const double manualEnd = loop.now();
    loop.setManualClock(false);
    EXPECT_GE(loop.now(), manualEnd);  // back on the real clock, time does not go back
    EXPECT_FALSE(loop.isManualClock());
}

}  // namespace
}  // namespace platform
