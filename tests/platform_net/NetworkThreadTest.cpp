// The network thread as a loop thread: what it posts to the main queue in one turn arrives in
// order and before what it caused elsewhere, it may call the main queue synchronously, an
// operation queue it refills never runs blocking work on it nor waits for it while it blocks,
// a post reaches it whether it sleeps, looks for posts or works, it sleeps once posts stop, and
// a post announced to it holds nothing back, whether it comes or not.
#include "platform/net/NetworkThread.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/Dispatch.h"
#include "platform/MainLoop.h"
#include "platform/Operation.h"
#include "tests/support/ThreadCpuTime.h"

namespace platform {
namespace {

constexpr double kBound = 10;  // seconds any wait may take before the test fails

class Journal {
  public:
    void add(std::string entry) {
        std::lock_guard lock(mutex_);
        entries_.push_back(std::move(entry));
    }
    std::vector<std::string> entries() const {
        std::lock_guard lock(mutex_);
        return entries_;
    }
    std::size_t size() const { return entries().size(); }

  private:
    mutable std::mutex mutex_;
    std::vector<std::string> entries_;
};

// The index of the entry, or the size when it is missing.
std::size_t position(const std::vector<std::string>& entries, const std::string& entry) {
    return static_cast<std::size_t>(std::find(entries.begin(), entries.end(), entry) -
                                    entries.begin());
}

TEST(NetworkThread, MainQueueTasksOfOneTurnArriveInOrderAndBeforeWhatTheyCausedElsewhere) {
    Journal journal;
    NetworkThread::shared().post([&] {
        DispatchQueue::main()->async([&] { journal.add("a"); });
        MainLoop::main().post([&] { journal.add("b"); });
        // Handed to a worker, which posts in turn: it must not overtake a and b.
        DispatchQueue::global()->async(
            [&] { DispatchQueue::main()->async([&] { journal.add("worker"); }); });
        DispatchQueue::main()->async([&] { journal.add("c"); });
    });
    ASSERT_TRUE(MainLoop::main().runUntil([&] { return journal.size() == 4; }, kBound));
    const auto entries = journal.entries();
    EXPECT_LT(position(entries, "a"), position(entries, "b"));
    EXPECT_LT(position(entries, "b"), position(entries, "c"));
    EXPECT_LT(position(entries, "b"), position(entries, "worker"));
}

TEST(NetworkThread, ASynchronousMainQueueCallReturnsAfterWhatTheThreadPostedBefore) {
    Journal journal;
    std::atomic<bool> returned{false};
    NetworkThread::shared().post([&] {
        DispatchQueue::main()->async([&] { journal.add("posted"); });
        DispatchQueue::main()->sync([&] { journal.add("sync"); });
        journal.add("returned");
        DispatchQueue::main()->async([&] { journal.add("after"); });
        returned = true;
    });
    ASSERT_TRUE(MainLoop::main().runUntil([&] { return returned && journal.size() == 4; }, kBound));
    EXPECT_EQ(journal.entries(), (std::vector<std::string>{"posted", "sync", "returned", "after"}));
}

// Finishes on the network thread, as a load does, and says that starting it never blocks.
class NetworkFinished : public Operation {
  public:
    explicit NetworkFinished(Journal& journal, std::string name)
        : journal_(journal), name_(std::move(name)) {}
    bool isAsynchronous() const override { return true; }
    bool startReturnsAtOnce() const override { return true; }

  protected:
    void main() override {
        journal_.add(name_ + (NetworkThread::shared().isCurrent() ? " on network" : " elsewhere"));
        NetworkThread::shared().post(
            [self = shared_from_this()] { static_cast<NetworkFinished&>(*self).finish(); });
    }

  private:
    Journal& journal_;
    std::string name_;
};

TEST(NetworkThread, AQueueRefilledThereRunsBlockingWorkElsewhereAndInOrder) {
    Journal journal;
    OperationQueue queue;
    queue.setMaxConcurrentOperationCount(1);
    queue.addOperation(std::make_shared<NetworkFinished>(journal, "first"));
    queue.addOperation(std::make_shared<NetworkFinished>(journal, "second"));
    queue.addOperation([&] {
        journal.add(NetworkThread::shared().isCurrent() ? "block on network" : "block elsewhere");
    });
    queue.addOperation(std::make_shared<NetworkFinished>(journal, "last"));
    ASSERT_TRUE(MainLoop::main().runUntil([&] { return queue.operationCount() == 0; }, kBound));
    // Where the quick ones start depends on which thread pumps first; the block never runs on
    // the network thread, and the order holds.
    const auto entries = journal.entries();
    ASSERT_EQ(entries.size(), 4u);
    EXPECT_EQ(entries[0].rfind("first ", 0), 0u);
    EXPECT_EQ(entries[1].rfind("second ", 0), 0u);
    EXPECT_EQ(entries[2], "block elsewhere");
    EXPECT_EQ(entries[3].rfind("last ", 0), 0u);
}

TEST(NetworkThread, WaitingThereForAQueueItFedLetsTheQueueRun) {
    OperationQueue queue;
    std::atomic<int> ran{0};
    std::atomic<bool> waited{false};
    NetworkThread::shared().post([&] {
        queue.addOperation([&] { ++ran; });
        queue.waitUntilAllOperationsAreFinished();
        queue.addOperation([&] { ++ran; });
        const auto group = DispatchGroup::create();
        group->async(DispatchQueue::global(), [&] { ++ran; });
        group->wait(kBound);
        waited = true;
    });
    ASSERT_TRUE(MainLoop::main().runUntil([&] { return waited.load(); }, kBound));
    queue.waitUntilAllOperationsAreFinished();
    EXPECT_EQ(ran, 3);
}

// Seconds from a post from this thread to its task's run, or a negative number when it did
// not run within five seconds.
double secondsToRunAPost() {
    using Clock = std::chrono::steady_clock;
    auto ran = std::make_shared<std::atomic<bool>>(false);  // may outlive a failed wait
    const auto posted = Clock::now();
    NetworkThread::shared().post([ran] { *ran = true; });
    while (!*ran && Clock::now() - posted < std::chrono::seconds(5)) {
        std::this_thread::yield();
    }
    return *ran ? std::chrono::duration<double>(Clock::now() - posted).count() : -1;
}

// The idle thread waits in its poll for up to a second; a post from elsewhere must end the
// wait, each time, rather than leave the task to the poll's time-out.
TEST(NetworkThread, APostFromAnotherThreadWakesItsIdleLoopEachTime) {
    double longestWait = 0;
    for (int round = 0; round < 50; ++round) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));  // the loop falls asleep
        const double wait = secondsToRunAPost();
        ASSERT_GE(wait, 0);
        longestWait = std::max(longestWait, wait);
    }
    EXPECT_LT(longestWait, 0.5);
}

// Posts that come soon after one another keep the idle loop looking for the next one rather
// than sleeping between them; once they stop, it must sleep, or an app that made a burst of
// requests would keep a processor busy.
TEST(NetworkThread, AStreamOfPostsRunsEachAndLeavesTheLoopAsleepOnceItEnds) {
    for (int post = 0; post < 200; ++post) {
        ASSERT_GE(secondsToRunAPost(), 0);
        std::this_thread::sleep_for(std::chrono::microseconds(100));
    }
    const auto before = testing_support::threadCpuSeconds(NetworkThread::kName);
    ASSERT_TRUE(before) << "no thread named " << NetworkThread::kName;
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_LT(*testing_support::threadCpuSeconds(NetworkThread::kName) - *before, 0.1)
        << "the thread kept looking for a post after the stream ended";
}

// A loop that is awake is not woken again: what is posted while it works must still be found
// before it next waits, even when its poll ended for something else than a post. Here its
// timer's time-out ends the poll, and the timer's main-queue task, which goes out at the end
// of that turn, posts to the loop just as it gets ready to wait again.
TEST(NetworkThread, APostWhileItsLoopIsAwakeRunsWithoutWaitingForThePoll) {
    using Clock = std::chrono::steady_clock;
    auto& thread = NetworkThread::shared();
    double longestWait = 0;
    for (int round = 0; round < 50; ++round) {
        // Shared with the tasks, which may outlive a failed round.
        struct Round {
            std::atomic<bool> ran{false};
            Clock::time_point postedAt;
        };
        auto state = std::make_shared<Round>();
        auto timer = thread.after(0.001, [&thread, state] {
            DispatchQueue::main()->async([&thread, state] {
                state->postedAt = Clock::now();
                thread.post([state] { state->ran = true; });
            });
        });
        ASSERT_TRUE(MainLoop::main().runUntil([&] { return state->ran.load(); }, kBound));
        longestWait = std::max(
            longestWait, std::chrono::duration<double>(Clock::now() - state->postedAt).count());
    }
    EXPECT_LT(longestWait, 0.5);
}

TEST(NetworkThread, ACancelledTimerLeavesTheTableAtOnceAndNeverRuns) {
    auto& thread = NetworkThread::shared();
    const std::size_t before = thread.pendingTimers();
    std::atomic<int> ran{0};
    auto holder = std::make_shared<int>(0);
    std::vector<std::shared_ptr<TimerHandle>> timers;
    for (int i = 0; i < 100; ++i) {
        timers.push_back(thread.after(60, [&ran, holder] { ++ran; }));
    }
    EXPECT_EQ(thread.pendingTimers(), before + 100);
    for (const auto& timer : timers) {
        timer->cancel();
        EXPECT_FALSE(timer->isValid());
    }
    EXPECT_EQ(thread.pendingTimers(), before);
    EXPECT_EQ(holder.use_count(), 1) << "a cancelled timer still holds its task";
    timers[0]->cancel();  // twice is harmless

    // One that fired leaves too, and cancelling it afterwards changes nothing.
    std::atomic<bool> fired{false};
    auto due = thread.after(0, [&] { fired = true; });
    ASSERT_TRUE(MainLoop::main().runUntil([&] { return fired.load(); }, kBound));
    ASSERT_TRUE(
        MainLoop::main().runUntil([&] { return thread.pendingTimers() == before; }, kBound));
    due->cancel();
    EXPECT_EQ(thread.pendingTimers(), before);
    EXPECT_EQ(ran, 0);
}

TEST(NetworkThread, APostAnnouncedHoldsNothingBackWhetherItComesOrNot) {
    auto& thread = NetworkThread::shared();
    thread.post([] {});  // the thread exists
    const auto settle = [] { std::this_thread::sleep_for(std::chrono::milliseconds(20)); };

    // Announced for a minute and never made: the watch ends at the thread's next timer, which
    // fires long before the minute is out.
    // The flags are shared with the tasks, which may outlive a failed assertion.
    settle();
    auto fired = std::make_shared<std::atomic<bool>>(false);
    auto timer = thread.after(0.03, [fired] { *fired = true; });
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    thread.expectPost(60);
    ASSERT_TRUE(MainLoop::main().runUntil([&] { return fired->load(); }, kBound));

    // Announced and made: the post runs, and ends the watch, so that the idle thread sleeps
    // rather than spend the minute looking for another.
    settle();
    thread.expectPost(60);
    auto ran = std::make_shared<std::atomic<bool>>(false);
    thread.post([ran] { *ran = true; });
    ASSERT_TRUE(MainLoop::main().runUntil([&] { return ran->load(); }, kBound));
    const auto before = testing_support::threadCpuSeconds(NetworkThread::kName);
    ASSERT_TRUE(before) << "no thread named " << NetworkThread::kName;
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_LT(*testing_support::threadCpuSeconds(NetworkThread::kName) - *before, 0.1)
        << "the thread kept looking for a post";
}

}  // namespace
}  // namespace platform
