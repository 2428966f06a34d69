#include "platform/Dispatch.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "platform/MainLoop.h"

namespace platform {
namespace {

constexpr double kBound = 10;  // seconds any wait may take before the test fails

// Blocks until `count` parties arrived, or the bound ran out (false).
class Rendezvous {
  public:
    explicit Rendezvous(int count) : left_(count) {}
    bool arriveAndWait() {
        std::unique_lock lock(mutex_);
        if (--left_ <= 0) {
            all_.notify_all();
            return true;
        }
        return all_.wait_for(lock, std::chrono::duration<double>(kBound),
                             [&] { return left_ <= 0; });
    }

  private:
    std::mutex mutex_;
    std::condition_variable all_;
    int left_;
};

TEST(DispatchQueue, SerialQueueRunsOneAtATimeInSubmissionOrder) {
    auto queue = DispatchQueue::serial("test.serial");
    constexpr int kProducers = 8;
    constexpr int kEach = 1000;
    std::atomic<int> active{0};
    std::atomic<bool> overlapped{false};
    std::vector<std::pair<int, int>> seen;  // written by the queue's tasks only
    std::vector<std::thread> producers;
    for (int p = 0; p < kProducers; ++p) {
        producers.emplace_back([&, p] {
            for (int i = 0; i < kEach; ++i) {
                queue->async([&, p, i] {
                    if (active.fetch_add(1) != 0) {
                        overlapped = true;
                    }
                    seen.emplace_back(p, i);
                    active.fetch_sub(1);
                });
            }
        });
    }
    for (auto& t : producers) {
        t.join();
    }
    queue->sync([] {});  // behind everything submitted so far
    EXPECT_FALSE(overlapped);
    ASSERT_EQ(seen.size(), static_cast<std::size_t>(kProducers * kEach));
    std::vector<int> next(kProducers, 0);
    for (const auto& [p, i] : seen) {
        ASSERT_EQ(i, next[p]) << "producer " << p;
        ++next[p];
    }
}

TEST(DispatchQueue, SyncAcrossQueuesDoesNotDeadlock) {
    auto a = DispatchQueue::serial("test.a");
    auto b = DispatchQueue::serial("test.b");
    std::string order;
    a->sync([&] {
        order += 'a';
        b->sync([&] {
            order += 'b';
            a->sync([&] { order += 'A'; });  // a is busy running us: runs here, at once
        });
        EXPECT_TRUE(a->isCurrent());
        EXPECT_FALSE(b->isCurrent());
    });
    EXPECT_EQ(order, "abA");

    auto group = DispatchGroup::create();
    std::atomic<int> done{0};
    for (int i = 0; i < 16; ++i) {
        group->async(DispatchQueue::global(), [&] { a->sync([&] { b->sync([&] { ++done; }); }); });
    }
    EXPECT_TRUE(group->wait(kBound));
    EXPECT_EQ(done, 16);
}

TEST(DispatchQueue, SyncHandsTheTasksExceptionToTheCaller) {
    auto queue = DispatchQueue::serial("test.throw");
    EXPECT_THROW(queue->sync([] { throw std::runtime_error("no"); }), std::runtime_error);
    auto concurrent = DispatchQueue::concurrent("test.throw.c");
    EXPECT_THROW(concurrent->sync([] { throw std::out_of_range("no"); }), std::out_of_range);
    int ran = 0;
    queue->sync([&] { ++ran; });  // the queue goes on
    EXPECT_EQ(ran, 1);
}

TEST(DispatchQueue, ConcurrentQueueRunsTasksSideBySide) {
    auto queue = DispatchQueue::concurrent("test.concurrent");
    constexpr int kTasks = 4;
    Rendezvous all(kTasks);
    auto group = DispatchGroup::create();
    std::atomic<int> met{0};
    for (int i = 0; i < kTasks; ++i) {
        group->async(queue, [&] {
            if (all.arriveAndWait()) {
                ++met;
            }
        });
    }
    EXPECT_TRUE(group->wait(2 * kBound));
    EXPECT_EQ(met, kTasks);  // all were running at once, or none would have met
}

TEST(DispatchQueue, BarrierRunsAloneBetweenEarlierAndLaterTasks) {
    auto queue = DispatchQueue::concurrent("test.barrier");
    std::atomic<int> active{0};
    std::atomic<int> before{0};
    std::atomic<bool> barrierDone{false};
    std::atomic<int> wrong{0};
    auto group = DispatchGroup::create();
    for (int i = 0; i < 50; ++i) {
        group->async(queue, [&] {
            ++active;
            ++before;
            --active;
        });
    }
    group->enter();
    queue->barrierAsync([&] {
        if (before != 50 || active != 0) {
            ++wrong;
        }
        barrierDone = true;
        group->leave();
    });
    for (int i = 0; i < 50; ++i) {
        group->async(queue, [&] {
            if (!barrierDone) {
                ++wrong;
            }
        });
    }
    EXPECT_TRUE(group->wait(kBound));
    EXPECT_EQ(wrong, 0);
    EXPECT_TRUE(barrierDone);
}

TEST(DispatchGroup, NotifyRunsOnTheMainQueueOnceAllWorkLeft) {
    auto group = DispatchGroup::create();
    std::atomic<int> finished{0};
    for (int i = 0; i < 20; ++i) {
        group->async(DispatchQueue::global(), [&] { ++finished; });
    }
    bool notified = false;
    int seenFinished = -1;
    bool onMain = false;
    group->notify(DispatchQueue::main(), [&] {
        notified = true;
        seenFinished = finished;
        onMain = MainLoop::main().isMainThread();
    });
    EXPECT_TRUE(MainLoop::main().runUntil([&] { return notified; }, kBound));
    EXPECT_EQ(seenFinished, 20);
    EXPECT_TRUE(onMain);

    // An empty group notifies at once.
    bool immediate = false;
    group->notify(DispatchQueue::main(), [&] { immediate = true; });
    EXPECT_TRUE(MainLoop::main().runUntil([&] { return immediate; }, kBound));
}

TEST(DispatchGroup, WaitTimesOutWhileWorkIsOutstanding) {
    auto group = DispatchGroup::create();
    EXPECT_TRUE(group->wait(0));
    group->enter();
    EXPECT_FALSE(group->wait(0.01));
    group->leave();
    EXPECT_TRUE(group->wait(0));
    EXPECT_THROW(group->leave(), std::logic_error);
}

TEST(DispatchQueue, AfterSubmitsLaterAndCancelDropsTheTask) {
    MainLoop loop;
    auto queue = DispatchQueue::serial("test.after");
    bool kept = false;
    bool dropped = false;
    auto cancelled = queue->after(0.01, [&] { loop.post([&] { dropped = true; }); });
    auto keep = queue->after(0.02, [&] { loop.post([&] { kept = true; }); });
    EXPECT_TRUE(cancelled->isValid());
    cancelled->cancel();
    EXPECT_FALSE(cancelled->isValid());
    EXPECT_TRUE(loop.runUntil([&] { return kept; }, kBound));
    EXPECT_FALSE(dropped);
    EXPECT_FALSE(keep->isValid());
}

TEST(DispatchQueue, CancellingTheCallTheDelayThreadWaitsForIsSafe) {
    MainLoop loop;
    auto queue = DispatchQueue::serial("test.after.cancel");
    for (int round = 0; round < 50; ++round) {
        auto far = queue->after(60, [] {});
        bool marker = false;
        queue->after(0, [&] { loop.post([&] { marker = true; }); });
        ASSERT_TRUE(loop.runUntil([&] { return marker; }, kBound));
        far->cancel();  // the delay thread is now waiting for exactly this one
        EXPECT_FALSE(far->isValid());
    }
}

TEST(DispatchQueue, TheMainQueueIsTheMainLoop) {
    // sync from another thread waits for the loop to run the task on the main thread.
    bool ranOnMain = false;
    std::atomic<bool> returned{false};
    DispatchQueue::global()->async([&] {
        DispatchQueue::main()->sync([&] { ranOnMain = MainLoop::main().isMainThread(); });
        returned = true;
    });
    EXPECT_TRUE(MainLoop::main().runUntil([&] { return returned.load(); }, kBound));
    EXPECT_TRUE(ranOnMain);

    // On the main thread, sync runs at once.
    bool inline_ = false;
    DispatchQueue::main()->sync([&] { inline_ = true; });
    EXPECT_TRUE(inline_);
    EXPECT_TRUE(DispatchQueue::main()->isCurrent());

    // after follows the loop's clock, manual in tests.
    MainLoop::main().setManualClock(true);
    bool fired = false;
    DispatchQueue::main()->after(1.0, [&] { fired = true; });
    MainLoop::main().advance(0.9);
    EXPECT_FALSE(fired);
    MainLoop::main().advance(0.1);
    EXPECT_TRUE(fired);
    MainLoop::main().setManualClock(false);
}

// Pool tasks that each wait until a later task lets them go.
class HeldTasks {
  public:
    void start(int count) {
        for (int i = 0; i < count; ++i) {
            group_->async(DispatchQueue::global(), [this] {
                std::unique_lock lock(mutex_);
                ++running_;
                changed_.notify_all();
                if (changed_.wait_for(lock, std::chrono::duration<double>(kBound),
                                      [this] { return released_; })) {
                    ++freed_;
                }
            });
        }
    }
    bool allRunning(int count) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, std::chrono::duration<double>(kBound),
                                 [&] { return running_ == count; });
    }
    // The task that lets them go; false when they were not all done in time.
    bool release() {
        group_->async(DispatchQueue::global(), [this] {
            std::lock_guard lock(mutex_);
            released_ = true;
            changed_.notify_all();
        });
        return group_->wait(2 * kBound);
    }
    // How many were let go before their own wait ran out.
    int freed() {
        std::lock_guard lock(mutex_);
        return freed_;
    }

  private:
    std::shared_ptr<DispatchGroup> group_ = DispatchGroup::create();
    std::mutex mutex_;
    std::condition_variable changed_;
    int running_ = 0;
    bool released_ = false;
    int freed_ = 0;
};

int poolCore() {
    return static_cast<int>(std::max(4u, std::thread::hardware_concurrency()));
}

TEST(ThreadPool, GrowsWhenEveryThreadWaitsForQueuedWork) {
    // More waiting tasks than the pool starts at once, then the task they all wait for.
    HeldTasks held;
    held.start(poolCore() + 4);
    EXPECT_TRUE(held.release());
    EXPECT_EQ(held.freed(), poolCore() + 4);
}

TEST(ThreadPool, GrowsForALoneJobThatEveryBusyThreadWaitsFor) {
    // As many waiting tasks as the pool starts at once, all running, and only then the task
    // they wait for: no thread is free to take it, though the queue held nothing before it.
    HeldTasks held;
    held.start(poolCore());
    ASSERT_TRUE(held.allRunning(poolCore()));
    EXPECT_TRUE(held.release());
    EXPECT_EQ(held.freed(), poolCore());
}

TEST(DispatchQueue, PendingWorkKeepsItsQueueAlive) {
    MainLoop loop;
    std::atomic<int> ran{0};
    {
        auto queue = DispatchQueue::serial("test.orphan");
        for (int i = 0; i < 100; ++i) {
            queue->async([&] {
                if (++ran == 100) {
                    loop.post([] {});
                }
            });
        }
    }
    EXPECT_TRUE(loop.runUntil([&] { return ran == 100; }, kBound));
}

}  // namespace
}  // namespace platform
