#include "platform/NotificationCenter.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "platform/Dispatch.h"
#include "platform/MainLoop.h"

namespace platform {
namespace {

constexpr double kBound = 10;  // seconds any wait may take before the test fails

TEST(NotificationCenter, DeliversByNameAndSenderInRegistrationOrder) {
    NotificationCenter center;
    int senderA = 0;
    int senderB = 0;
    std::vector<std::string> calls;
    auto log = [&](std::string who) {
        return [&calls, who](const Notification& n) {
            calls.push_back(who + ":" + n.name + ":" + n.userInfo["k"].stringValue());
        };
    };
    auto t1 = center.addObserver("change", nullptr, log("nameAny"));
    auto t2 = center.addObserver("change", &senderA, log("nameA"));
    auto t3 = center.addObserver(std::nullopt, nullptr, log("all"));
    auto t4 = center.addObserver(std::nullopt, &senderB, log("allB"));

    center.post("change", &senderA, Map{{"k", "1"}});
    center.post("change", &senderB, Map{{"k", "2"}});
    center.post("other", nullptr, Map{{"k", "3"}});
    EXPECT_EQ(calls, (std::vector<std::string>{"nameAny:change:1", "nameA:change:1", "all:change:1",
                                               "nameAny:change:2", "all:change:2", "allB:change:2",
                                               "all:other:3"}));

    const void* seenObject = nullptr;
    auto t5 = center.addObserver("object", nullptr,
                                 [&](const Notification& n) { seenObject = n.object; });
    center.post(Notification{"object", &senderB, {}});
    EXPECT_EQ(seenObject, &senderB);
    EXPECT_THROW((void)center.addObserver("x", nullptr, nullptr), std::invalid_argument);
}

TEST(NotificationCenter, TokensUnregisterWhenRemovedOrDestroyed) {
    NotificationCenter center;
    int calls = 0;
    auto count = [&](const Notification&) { ++calls; };
    {
        auto scoped = center.addObserver("n", nullptr, count);
        center.post("n");
    }
    center.post("n");
    EXPECT_EQ(calls, 1);

    auto explicitRemove = center.addObserver("n", nullptr, count);
    EXPECT_TRUE(explicitRemove.isRegistered());
    center.removeObserver(explicitRemove);
    EXPECT_FALSE(explicitRemove.isRegistered());
    explicitRemove.remove();  // twice: nothing
    center.post("n");
    EXPECT_EQ(calls, 1);

    auto first = center.addObserver("n", nullptr, count);
    ObserverToken moved = std::move(first);  // the registration travels with the token
    center.post("n");
    EXPECT_EQ(calls, 2);
    moved = center.addObserver("n", nullptr, [&](const Notification&) { calls += 10; });
    center.post("n");  // the replaced registration is gone
    EXPECT_EQ(calls, 12);
}

TEST(NotificationCenter, ObserversMayChangeRegistrationsWhileCalled) {
    NotificationCenter center;
    std::vector<std::string> calls;

    // Removes itself: called once, never again.
    std::optional<ObserverToken> self;
    self.emplace(center.addObserver("n", nullptr, [&](const Notification&) {
        calls.push_back("self");
        self.reset();  // destroys the registration whose callback is running
    }));
    // Removes one registered after it, which then is not called by this post.
    ObserverToken victim;
    auto remover = center.addObserver("n", nullptr, [&](const Notification&) {
        calls.push_back("remover");
        victim.remove();
    });
    victim =
        center.addObserver("n", nullptr, [&](const Notification&) { calls.push_back("victim"); });
    // Adds one, which is called from the next post on.
    std::optional<ObserverToken> added;
    auto adder = center.addObserver("n", nullptr, [&](const Notification&) {
        calls.push_back("adder");
        if (!added) {
            added.emplace(center.addObserver(
                "n", nullptr, [&](const Notification&) { calls.push_back("added"); }));
        }
    });
    // Posts from inside a post.
    auto nested =
        center.addObserver("n", nullptr, [&](const Notification&) { center.post("inner"); });
    auto inner = center.addObserver("inner", nullptr,
                                    [&](const Notification&) { calls.push_back("inner"); });

    center.post("n");
    EXPECT_EQ(calls, (std::vector<std::string>{"self", "remover", "adder", "inner"}));
    calls.clear();
    center.post("n");
    EXPECT_EQ(calls, (std::vector<std::string>{"remover", "adder", "inner", "added"}));
}

TEST(NotificationCenter, AThrowingObserverIsLoggedAndTheOthersAreCalled) {
    NotificationCenter center;
    bool second = false;
    auto t1 = center.addObserver(
        "n", nullptr, [](const Notification&) { throw std::runtime_error("observer exploded"); });
    auto t2 = center.addObserver("n", nullptr, [&](const Notification&) { second = true; });
    testing::internal::CaptureStderr();
    center.post("n");
    const std::string log = testing::internal::GetCapturedStderr();
    EXPECT_TRUE(second);
    EXPECT_NE(log.find("observer exploded"), std::string::npos) << log;
}

TEST(NotificationCenter, PostingAndRegisteringFromManyThreadsAtOnce) {
    NotificationCenter center;
    std::atomic<int> received{0};
    auto counter = center.addObserver("tick", nullptr, [&](const Notification&) { ++received; });
    std::atomic<bool> stop{false};
    std::thread churn([&] {
        // Observers come and go while the posts run.
        while (!stop) {
            auto token = center.addObserver("tick", nullptr, [](const Notification&) {});
            auto other = center.addObserver(std::nullopt, &center, [](const Notification&) {});
        }
    });
    std::vector<std::thread> posters;
    for (int p = 0; p < 6; ++p) {
        posters.emplace_back([&] {
            for (int i = 0; i < 2000; ++i) {
                center.post("tick", &center);
            }
        });
    }
    for (auto& t : posters) {
        t.join();
    }
    stop = true;
    churn.join();
    EXPECT_EQ(received, 6 * 2000);
}

TEST(NotificationCenter, RemovingWaitsForACallRunningOnAnotherThread) {
    NotificationCenter center;
    std::mutex mutex;
    std::condition_variable changed;
    bool entered = false;
    bool release = false;
    std::vector<std::string> events;
    auto token = center.addObserver("slow", nullptr, [&](const Notification&) {
        std::unique_lock lock(mutex);
        entered = true;
        changed.notify_all();
        changed.wait_for(lock, std::chrono::duration<double>(kBound), [&] { return release; });
        events.push_back("callback left");
    });
    std::thread poster([&] { center.post("slow"); });
    {
        std::unique_lock lock(mutex);
        ASSERT_TRUE(
            changed.wait_for(lock, std::chrono::duration<double>(kBound), [&] { return entered; }));
    }
    std::thread remover([&] {
        token.remove();
        std::lock_guard lock(mutex);
        events.push_back("removed");
        changed.notify_all();
    });
    {
        // Were removal not to wait, "removed" would come within this window.
        std::unique_lock lock(mutex);
        EXPECT_FALSE(
            changed.wait_for(lock, std::chrono::milliseconds(50), [&] { return !events.empty(); }));
        release = true;
        changed.notify_all();
    }
    remover.join();
    poster.join();
    EXPECT_EQ(events, (std::vector<std::string>{"callback left", "removed"}));
}

TEST(NotificationCenter, AQueuedObserverGetsACopyOnTheMainThread) {
    NotificationCenter center;
    MainLoop& loop = MainLoop::main();
    std::optional<std::thread::id> calledOn;
    std::string seen;
    auto onMain =
        center.addObserver("done", nullptr, DispatchQueue::main(), [&](const Notification& n) {
            calledOn = std::this_thread::get_id();
            seen = n.userInfo["k"].stringValue();
        });
    std::optional<std::thread::id> directOn;
    auto direct = center.addObserver(
        "done", nullptr, [&](const Notification&) { directOn = std::this_thread::get_id(); });

    std::thread poster([&] { center.post("done", nullptr, Map{{"k", "v"}}); });
    const auto posterId = poster.get_id();
    poster.join();
    EXPECT_EQ(directOn, posterId);
    EXPECT_FALSE(calledOn) << "called before the main loop ran";

    ASSERT_TRUE(loop.runUntil([&] { return calledOn.has_value(); }, kBound));
    EXPECT_EQ(calledOn, std::this_thread::get_id());
    EXPECT_EQ(seen, "v");  // the poster's notification is long gone
}

TEST(NotificationCenter, AQueuedDeliveryForARemovedObserverDoesNothing) {
    // Runs everything the main queue holds so far, since the loop runs its tasks in order.
    auto drainMain = [] {
        auto drained = std::make_shared<bool>(false);
        DispatchQueue::main()->async([drained] { *drained = true; });
        return MainLoop::main().runUntil([&] { return *drained; }, kBound);
    };
    std::optional<NotificationCenter> center;
    center.emplace();
    int calls = 0;
    auto count = [&](const Notification&) { ++calls; };

    auto removed = center->addObserver("n", nullptr, DispatchQueue::main(), count);
    std::optional<ObserverToken> destroyed;
    destroyed.emplace(center->addObserver("n", nullptr, DispatchQueue::main(), count));
    center->post("n");
    removed.remove();
    destroyed.reset();
    ASSERT_TRUE(drainMain());
    EXPECT_EQ(calls, 0);

    // Nor does one whose centre went away meanwhile.
    auto orphan = center->addObserver("n", nullptr, DispatchQueue::main(), count);
    center->post("n");
    center.reset();
    ASSERT_TRUE(drainMain());
    EXPECT_EQ(calls, 0);
}

TEST(NotificationCenter, EachQueuedObserverGetsThePostsInOrder) {
    NotificationCenter center;
    constexpr int kPosts = 500;
    std::vector<std::int64_t> onMain;
    auto mainToken = center.addObserver(
        "seq", nullptr, DispatchQueue::main(),
        [&](const Notification& n) { onMain.push_back(n.userInfo["i"].integerValue()); });
    std::mutex mutex;
    std::vector<std::int64_t> onSerial;
    auto serialToken = center.addObserver("seq", nullptr, DispatchQueue::serial("observer"),
                                          [&](const Notification& n) {
                                              std::lock_guard lock(mutex);
                                              onSerial.push_back(n.userInfo["i"].integerValue());
                                          });
    std::thread poster([&] {
        for (int i = 0; i < kPosts; ++i) {
            center.post("seq", nullptr, Map{{"i", i}});
        }
    });
    poster.join();
    ASSERT_TRUE(MainLoop::main().runUntil(
        [&] {
            std::lock_guard lock(mutex);
            return onMain.size() == kPosts && onSerial.size() == kPosts;
        },
        kBound));
    std::vector<std::int64_t> expected(kPosts);
    for (int i = 0; i < kPosts; ++i) {
        expected[static_cast<std::size_t>(i)] = i;
    }
    EXPECT_EQ(onMain, expected);
    std::lock_guard lock(mutex);
    EXPECT_EQ(onSerial, expected);
}

TEST(NotificationCenter, TokensOutliveTheirCentre) {
    std::optional<NotificationCenter> center;
    center.emplace();
    auto token = center->addObserver("n", nullptr, [](const Notification&) {});
    center.reset();
    EXPECT_FALSE(token.isRegistered());
    token.remove();
    EXPECT_EQ(&NotificationCenter::defaultCenter(), &NotificationCenter::defaultCenter());
}

TEST(NotificationCenter, KnowsWhetherANameHasObservers) {
    NotificationCenter center;
    EXPECT_FALSE(center.hasObservers("a"));
    int sender = 0;
    auto forSender = center.addObserver("a", &sender, [](const Notification&) {});
    EXPECT_TRUE(center.hasObservers("a"));  // a sender's observer may take it
    EXPECT_FALSE(center.hasObservers("b"));
    forSender.remove();
    EXPECT_FALSE(center.hasObservers("a"));
    auto everything = center.addObserver(std::nullopt, nullptr, [](const Notification&) {});
    EXPECT_TRUE(center.hasObservers("b"));
}

}  // namespace
}  // namespace platform
