// Blocks that the network thread makes and other threads free go back to it and serve its next
// ones; given back from several threads at once, each is handed out again once, whole.
#include "platform/net/NetworkThreadAllocator.h"

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <cstring>
#include <future>
#include <memory>
#include <set>
#include <thread>
#include <vector>

#include "platform/net/NetworkThread.h"

namespace platform {
namespace {

constexpr auto kBound = std::chrono::seconds(10);

struct Payload {
    std::array<unsigned char, 200> bytes;
};

using Allocator = NetworkThreadAllocator<Payload>;

// Runs `work` on the network thread and returns what it returned.
template <typename F>
auto onNetworkThread(F work) -> decltype(work()) {
    auto done = std::make_shared<std::promise<decltype(work())>>();
    auto result = done->get_future();
    NetworkThread::shared().post([done, work] { done->set_value(work()); });
    EXPECT_EQ(result.wait_for(kBound), std::future_status::ready);
    return result.get();
}

// Whether the network thread, making blocks, comes to `block` before it has made `limit`; it
// frees them all again.
bool networkThreadReuses(Payload* block, int limit) {
    return onNetworkThread([block, limit] {
        std::vector<Payload*> made;
        for (int i = 0; i < limit && (made.empty() || made.back() != block); ++i) {
            made.push_back(Allocator().allocate(1));
        }
        const bool found = made.back() == block;
        for (Payload* each : made) {
            Allocator().deallocate(each, 1);
        }
        return found;
    });
}

TEST(NetworkThreadAllocator, ABlockFreedElsewhereServesTheNetworkThreadsNextOnes) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "every block is an ordinary one under AddressSanitizer";
#endif
    // Past those it keeps of its own, the network thread takes those given back.
    constexpr int kLimit = 500;
    Payload* made = onNetworkThread([] { return Allocator().allocate(1); });
    std::memset(made, 0xAB, sizeof(Payload));
    Allocator().deallocate(made, 1);  // on this thread, not the network thread
    EXPECT_TRUE(networkThreadReuses(made, kLimit));

    // A smaller block of the same size class has the class's whole size, and serves a larger.
    using Smaller = std::array<unsigned char, 193>;
    Smaller* small = onNetworkThread([] { return NetworkThreadAllocator<Smaller>().allocate(1); });
    NetworkThreadAllocator<Smaller>().deallocate(small, 1);
    EXPECT_TRUE(networkThreadReuses(reinterpret_cast<Payload*>(small), kLimit));
}

TEST(NetworkThreadAllocator, BlocksGivenBackFromManyThreadsAtOnceAreEachHandedOutOnce) {
    constexpr int kThreads = 4;
    constexpr int kBlocks = 50;  // each thread's; together more than a size class keeps
    for (int round = 0; round < 20; ++round) {
        std::vector<Payload*> made = onNetworkThread([] {
            std::vector<Payload*> blocks;
            for (int i = 0; i < kThreads * kBlocks; ++i) {
                blocks.push_back(Allocator().allocate(1));
            }
            return blocks;
        });
        // The network thread makes blocks while the others give theirs back.
        auto meanwhile = std::async(std::launch::async, [] {
            return onNetworkThread([] {
                std::vector<Payload*> blocks;
                for (int i = 0; i < kBlocks; ++i) {
                    blocks.push_back(Allocator().allocate(1));
                    std::memset(blocks.back(), 0x11, sizeof(Payload));
                }
                return blocks;
            });
        });
        std::vector<std::thread> freeing;
        for (int t = 0; t < kThreads; ++t) {
            freeing.emplace_back([&made, t] {
                for (int i = t * kBlocks; i < (t + 1) * kBlocks; ++i) {
                    std::memset(made[static_cast<std::size_t>(i)], 0x22, sizeof(Payload));
                    Allocator().deallocate(made[static_cast<std::size_t>(i)], 1);
                }
            });
        }
        for (auto& thread : freeing) {
            thread.join();
        }
        std::vector<Payload*> held = meanwhile.get();
        std::vector<Payload*> after = onNetworkThread([] {
            std::vector<Payload*> blocks;
            for (int i = 0; i < kThreads * kBlocks; ++i) {
                blocks.push_back(Allocator().allocate(1));
            }
            return blocks;
        });
        held.insert(held.end(), after.begin(), after.end());
        const std::set<Payload*> distinct(held.begin(), held.end());
        ASSERT_EQ(distinct.size(), held.size()) << "a block was handed out twice";
        for (Payload* block : held) {
            std::memset(block, 0x33, sizeof(Payload));
        }
        onNetworkThread([held] {
            for (Payload* block : held) {
                Allocator().deallocate(block, 1);
            }
            return true;
        });
    }
}

}  // namespace
}  // namespace platform
