// The ring keeps its items in order as it wraps round and grows, releases an item when it is
// popped, and lets its storage go once a burst is over.
#include "platform/RingQueue.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace platform {
namespace {

TEST(RingQueue, KeepsItsOrderWhileItWrapsRoundAndGrows) {
    RingQueue<int> queue;
    std::vector<int> out;
    int next = 0;
    // Pushes outrun pops by one in each round, so that the front wanders round the storage
    // before every growth.
    for (int round = 0; round < 300; ++round) {
        queue.push_back(next++);
        queue.push_back(next++);
        out.push_back(queue.front());
        queue.pop_front();
    }
    while (!queue.empty()) {
        out.push_back(queue.front());
        queue.pop_front();
    }
    ASSERT_EQ(out.size(), static_cast<std::size_t>(next));
    for (int i = 0; i < next; ++i) {
        ASSERT_EQ(out[static_cast<std::size_t>(i)], i);
    }

    RingQueue<int> other;
    other.push_back(7);
    queue.push_back(1);
    queue.push_back(2);
    queue.swap(other);
    EXPECT_EQ(queue.size(), 1u);
    EXPECT_EQ(queue.front(), 7);
    EXPECT_EQ(other.size(), 2u);
    EXPECT_EQ(other.front(), 1);
}

// Counts the values alive, the ring's empty slots among them: what its storage holds shows.
struct Counted {
    static inline int alive = 0;
    Counted() { ++alive; }
    explicit Counted(int v) : value(v) { ++alive; }
    Counted(const Counted& other) : value(other.value) { ++alive; }
    Counted& operator=(const Counted&) = default;
    ~Counted() { --alive; }
    int value = -1;
};

TEST(RingQueue, APoppedItemIsReleasedAtOnceAndABurstsStorageGoesWhenItEnds) {
    RingQueue<std::shared_ptr<int>> pointers;
    auto held = std::make_shared<int>(1);
    pointers.push_back(held);
    pointers.pop_front();
    EXPECT_EQ(held.use_count(), 1) << "the popped slot still holds its item";

    {
        RingQueue<Counted> queue;
        for (int i = 0; i < 5000; ++i) {
            queue.push_back(Counted(i));
        }
        EXPECT_GE(Counted::alive, 5000);
        for (int i = 0; i < 5000; ++i) {
            ASSERT_EQ(queue.front().value, i);
            queue.pop_front();
        }
        EXPECT_TRUE(queue.empty());
        EXPECT_EQ(Counted::alive, 0) << "the burst's storage stayed";

        // It works on as before, and a queue that never grew past what it keeps keeps it.
        for (int i = 0; i < 40; ++i) {
            queue.push_back(Counted(i));
            EXPECT_EQ(queue.front().value, 0);
        }
        for (int i = 0; i < 40; ++i) {
            queue.pop_front();
        }
        EXPECT_GT(Counted::alive, 0) << "a small queue gave up its storage";
    }
    EXPECT_EQ(Counted::alive, 0);
}

}  // namespace
}  // namespace platform
