#include "platform/Operation.h"

#include <gtest/gtest.h>

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

// Counts how many operations run at once and the most that ever did.
struct Concurrency {
    std::atomic<int> active{0};
    std::atomic<int> peak{0};
    void enter() {
        const int now = ++active;
        int seen = peak;
        while (now > seen && !peak.compare_exchange_weak(seen, now)) {
        }
    }
    void leave() { --active; }
};

TEST(OperationQueue, NeverRunsMoreThanItsWidth) {
    OperationQueue queue;
    queue.setMaxConcurrentOperationCount(3);
    Concurrency concurrency;
    std::mutex mutex;
    std::condition_variable full;
    bool reachedWidth = false;
    for (int i = 0; i < 30; ++i) {
        queue.addOperation([&] {
            concurrency.enter();
            {
                // The first ones hold on until the queue is as wide as it may be.
                std::unique_lock lock(mutex);
                if (concurrency.active == 3) {
                    reachedWidth = true;
                    full.notify_all();
                }
                full.wait_for(lock, std::chrono::duration<double>(kBound),
                              [&] { return reachedWidth; });
            }
            concurrency.leave();
        });
    }
    queue.waitUntilAllOperationsAreFinished();
    EXPECT_TRUE(reachedWidth);
    EXPECT_EQ(concurrency.peak, 3);
    EXPECT_EQ(queue.operationCount(), 0u);
}

TEST(OperationQueue, WidthOneIsSerialUnderManyProducers) {
    OperationQueue queue;
    queue.setMaxConcurrentOperationCount(1);
    Concurrency concurrency;
    std::vector<std::pair<int, int>> seen;  // only touched by the queue's one operation
    std::vector<std::thread> producers;
    for (int p = 0; p < 4; ++p) {
        producers.emplace_back([&, p] {
            for (int i = 0; i < 250; ++i) {
                queue.addOperation([&, p, i] {
                    concurrency.enter();
                    seen.emplace_back(p, i);
                    concurrency.leave();
                });
            }
        });
    }
    for (auto& t : producers) {
        t.join();
    }
    queue.waitUntilAllOperationsAreFinished();
    EXPECT_EQ(concurrency.peak, 1);
    ASSERT_EQ(seen.size(), 1000u);
    std::vector<int> next(4, 0);
    for (const auto& [p, i] : seen) {
        ASSERT_EQ(i, next[p]);
        ++next[p];
    }
}

TEST(Operation, WaitsForItsDependenciesEvenInAnotherQueue) {
    MainLoop loop;
    OperationQueue held;  // suspended: its operation cannot run yet
    held.setSuspended(true);
    OperationQueue queue;
    queue.setMaxConcurrentOperationCount(1);

    std::mutex mutex;
    std::vector<std::string> order;
    auto record = [&](std::string what) {
        std::lock_guard lock(mutex);
        order.push_back(std::move(what));
    };
    auto first = BlockOperation::create([&] { record("first"); });
    auto second = BlockOperation::create([&] { record("second"); });
    second->addDependency(first);
    EXPECT_FALSE(second->isReady());

    bool otherDone = false;
    auto other = BlockOperation::create([&] { record("other"); });
    other->setCompletionBlock([&] { loop.post([&] { otherDone = true; }); });

    held.addOperation(first);
    queue.addOperation(second);
    queue.addOperation(other);  // added later, but ready: the serial queue runs it first
    // The completion runs just before the queue lets its operation go.
    ASSERT_TRUE(loop.runUntil([&] { return otherDone && queue.operationCount() == 1; }, kBound));
    EXPECT_FALSE(second->isExecuting() || second->isFinished());

    held.setSuspended(false);
    queue.waitUntilAllOperationsAreFinished();
    EXPECT_EQ(order, (std::vector<std::string>{"other", "first", "second"}));

    // A chain added backwards to a wide queue still runs front to back.
    OperationQueue wide;
    std::vector<std::shared_ptr<Operation>> chain;
    std::vector<int> ran;
    for (int i = 0; i < 10; ++i) {
        chain.push_back(BlockOperation::create([&, i] {
            std::lock_guard lock(mutex);
            ran.push_back(i);
        }));
        if (i > 0) {
            chain[i]->addDependency(chain[i - 1]);
        }
    }
    for (int i = 9; i >= 0; --i) {
        wide.addOperation(chain[i]);
    }
    wide.waitUntilAllOperationsAreFinished();
    EXPECT_EQ(ran, (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9}));
}

TEST(OperationQueue, CancelAllLetsEveryOperationGoWithoutRunningIt) {
    OperationQueue queue;
    queue.setSuspended(true);
    std::atomic<int> ran{0};
    std::atomic<int> completed{0};
    auto never = BlockOperation::create([] {});  // in no queue: never finishes
    std::vector<std::shared_ptr<Operation>> added;
    for (int i = 0; i < 20; ++i) {
        auto op = BlockOperation::create([&] { ++ran; });
        op->setCompletionBlock([&] { ++completed; });
        if (i % 2 == 0) {
            op->addDependency(never);  // cancelling makes it ready regardless
        }
        added.push_back(op);
    }
    queue.addOperations(added, false);
    EXPECT_EQ(queue.operationCount(), 20u);
    EXPECT_EQ(queue.operations(), added);

    queue.cancelAllOperations();
    queue.setSuspended(false);
    queue.waitUntilAllOperationsAreFinished();
    EXPECT_EQ(ran, 0);
    EXPECT_EQ(completed, 20);
    for (const auto& op : added) {
        EXPECT_TRUE(op->isCancelled());
        EXPECT_TRUE(op->isFinished());
    }
    EXPECT_TRUE(queue.operations().empty());
}

TEST(Operation, CompletionRunsOnceAfterFinishing) {
    OperationQueue queue;
    auto op = BlockOperation::create([] {});
    std::atomic<int> calls{0};
    std::atomic<bool> finishedWhenCalled{false};
    op->setCompletionBlock([&, raw = op.get()] {
        ++calls;
        finishedWhenCalled = raw->isFinished();
    });
    queue.addOperations({op}, true);
    EXPECT_EQ(calls, 1);
    EXPECT_TRUE(finishedWhenCalled);
    EXPECT_FALSE(op->completionBlock());  // let go after it ran

    op->setCompletionBlock([&] { ++calls; });  // too late: never runs
    op->start();
    op->cancel();
    EXPECT_EQ(calls, 1);
    EXPECT_FALSE(op->isCancelled());  // cancelling a finished operation does nothing
}

// Finishes when told to, from whatever thread tells it, as a network operation does.
class ExternallyFinished : public Operation {
  public:
    bool isAsynchronous() const override { return true; }
    void complete() { finish(); }
    std::atomic<bool> mainRan{false};

  protected:
    void main() override { mainRan = true; }
};

TEST(Operation, AnAsynchronousOperationHoldsItsSlotUntilItFinishes) {
    MainLoop loop;
    OperationQueue queue;
    queue.setMaxConcurrentOperationCount(1);
    auto async = std::make_shared<ExternallyFinished>();
    std::mutex mutex;
    std::vector<std::string> order;
    async->setCompletionBlock([&] {
        std::lock_guard lock(mutex);
        order.push_back("async done");
    });
    queue.addOperation(async);
    queue.addOperation([&] {
        std::lock_guard lock(mutex);
        order.push_back("next");
    });
    ASSERT_TRUE(loop.runUntil([&] { return async->mainRan.load(); }, kBound));
    EXPECT_TRUE(async->isExecuting());
    EXPECT_FALSE(async->isFinished());
    EXPECT_EQ(queue.operationCount(), 2u);

    std::thread([&] { async->complete(); }).join();
    queue.waitUntilAllOperationsAreFinished();
    EXPECT_TRUE(async->isFinished());
    EXPECT_FALSE(async->isExecuting());
    EXPECT_EQ(order, (std::vector<std::string>{"async done", "next"}));
}

TEST(Operation, AThrowingOperationIsLoggedAndFinishes) {
    OperationQueue queue;
    auto op = BlockOperation::create([] { throw std::runtime_error("operation exploded"); });
    testing::internal::CaptureStderr();
    queue.addOperations({op}, true);
    const std::string log = testing::internal::GetCapturedStderr();
    EXPECT_TRUE(op->isFinished());
    EXPECT_NE(log.find("operation exploded"), std::string::npos) << log;
}

TEST(OperationQueue, RefusesWhatItCannotRun) {
    OperationQueue queue;
    queue.setSuspended(true);
    auto op = BlockOperation::create([] {});
    queue.addOperation(op);
    EXPECT_THROW(queue.addOperation(op), std::invalid_argument);
    OperationQueue other;
    EXPECT_THROW(other.addOperation(op), std::invalid_argument);
    EXPECT_THROW(queue.addOperation(std::shared_ptr<Operation>()), std::invalid_argument);
    EXPECT_THROW(queue.setMaxConcurrentOperationCount(-2), std::invalid_argument);
    EXPECT_THROW(op->addDependency(op), std::invalid_argument);
    BlockOperation unshared([] {});
    EXPECT_THROW(unshared.addDependency(op), std::logic_error);

    auto done = BlockOperation::create([] {});
    done->start();
    EXPECT_THROW(other.addOperation(done), std::invalid_argument);

    queue.setSuspended(false);
    queue.waitUntilAllOperationsAreFinished();
}

TEST(OperationQueue, ReleasingTheQueueStrandsNothing) {
    MainLoop loop;
    std::atomic<int> ran{0};
    {
        OperationQueue queue;
        queue.setMaxConcurrentOperationCount(2);
        for (int i = 0; i < 50; ++i) {
            queue.addOperation([&] { ++ran; });
        }
    }
    EXPECT_TRUE(loop.runUntil([&] { return ran == 50; }, kBound));

    // A suspended queue that goes away lets its unstarted operations go, unrun.
    auto stranded = BlockOperation::create([&] { ++ran; });
    {
        OperationQueue suspended;
        suspended.setSuspended(true);
        suspended.addOperation(stranded);
    }
    EXPECT_EQ(stranded.use_count(), 1);  // nothing holds it any more
    EXPECT_FALSE(stranded->isFinished());
    OperationQueue again;  // and it may be queued elsewhere
    again.addOperations({stranded}, true);
    EXPECT_EQ(ran, 51);
}

// Work run in place takes the queue's one slot: what is added meanwhile waits for it, and so
// does a thread that waits for the queue to empty.
TEST(OperationQueue, WorkRunInPlaceHoldsItsSlotAndRunsOnlyWhenTheQueueIsIdle) {
    OperationQueue queue;
    queue.setMaxConcurrentOperationCount(1);
    std::mutex mutex;
    std::vector<std::string> order;
    bool waiterDone = false;
    std::thread waiter;
    const auto note = [&](const std::string& what) {
        std::lock_guard lock(mutex);
        order.push_back(what);
    };
    EXPECT_TRUE(queue.runNowIfIdle([&] {
        waiter = std::thread([&] {
            queue.waitUntilAllOperationsAreFinished();
            std::lock_guard lock(mutex);
            waiterDone = true;
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        queue.addOperation([&] { note("added meanwhile"); });
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        note("in place");
        std::lock_guard lock(mutex);
        EXPECT_FALSE(waiterDone);
    }));
    waiter.join();
    EXPECT_EQ(order, (std::vector<std::string>{"in place", "added meanwhile"}));

    // Not while an operation waits, nor while the queue is suspended.
    queue.setSuspended(true);
    queue.addOperation([&] { note("waiting"); });
    bool ran = false;
    EXPECT_FALSE(queue.runNowIfIdle([&] { ran = true; }));
    queue.setSuspended(false);
    queue.waitUntilAllOperationsAreFinished();
    queue.setSuspended(true);
    EXPECT_FALSE(queue.runNowIfIdle([&] { ran = true; }));
    EXPECT_FALSE(ran);

    // Work that throws is logged and gives its slot back.
    queue.setSuspended(false);
    testing::internal::CaptureStderr();
    EXPECT_TRUE(queue.runNowIfIdle([] { throw std::runtime_error("in place exploded"); }));
    EXPECT_NE(testing::internal::GetCapturedStderr().find("in place exploded"), std::string::npos);
    EXPECT_TRUE(queue.runNowIfIdle([&] { ran = true; }));
    EXPECT_TRUE(ran);
}

}  // namespace
}  // namespace platform
