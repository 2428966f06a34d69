#include "platform/net/NetworkThreadAllocator.h"

#include <array>
#include <atomic>

namespace platform::detail {

namespace {

// Blocks are kept in sizes of 64 bytes up to 1 KiB; larger ones are ordinary blocks.
constexpr std::size_t kStep = 64;
constexpr std::size_t kClasses = 16;
// Blocks kept of each size, on the network thread's own list and on the list of those given
// back: enough for the loads in flight and their completions under way.
constexpr std::size_t kKept = 64;

struct FreeBlock {
    FreeBlock* next;
};

struct SizeClass {
    // The network thread's alone.
    FreeBlock* own = nullptr;
    std::size_t ownCount = 0;
    // Pushed by any thread; the network thread takes the whole list at once, so that a block
    // taken can never be pushed back under a reader's feet (no ABA).
    std::atomic<FreeBlock*> givenBack{nullptr};
    std::atomic<std::size_t> givenBackCount{0};
};

constinit std::array<SizeClass, kClasses> gClasses{};
constinit thread_local bool tIsNetworkThread = false;

// Under AddressSanitizer every block is an ordinary one, so that a use after free still shows.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kPooled = false;
#else
constexpr bool kPooled = true;
#endif

// The size class of a block of `bytes`, or kClasses when it is not kept.
std::size_t classOf(std::size_t bytes) {
    return bytes == 0 || bytes > kStep * kClasses ? kClasses : (bytes - 1) / kStep;
}

}  // namespace

void* NetworkThreadBlocks::allocate(std::size_t bytes) {
    const std::size_t index = classOf(bytes);
    if (!kPooled || index == kClasses) {
        return ::operator new(bytes);
    }
    // Every block of a class has the class's whole size, wherever it was made: any of them
    // can serve the next request of that class.
    if (tIsNetworkThread) {
        SizeClass& sizes = gClasses[index];
        if (!sizes.own) {
            sizes.own = sizes.givenBack.exchange(nullptr, std::memory_order_acquire);
            sizes.ownCount = sizes.givenBackCount.exchange(0, std::memory_order_relaxed);
        }
        if (FreeBlock* block = sizes.own) {
            sizes.own = block->next;
            sizes.ownCount -= sizes.ownCount > 0 ? 1 : 0;
            return block;
        }
    }
    return ::operator new((index + 1) * kStep);
}

void NetworkThreadBlocks::deallocate(void* block, std::size_t bytes) noexcept {
    const std::size_t index = classOf(bytes);
    if (!kPooled || index == kClasses || !block) {
        ::operator delete(block);
        return;
    }
    SizeClass& sizes = gClasses[index];
    auto* freed = static_cast<FreeBlock*>(block);
    if (tIsNetworkThread) {
        if (sizes.ownCount >= kKept) {
            ::operator delete(block);
            return;
        }
        freed->next = sizes.own;
        sizes.own = freed;
        ++sizes.ownCount;
        return;
    }
    // The count may run a little ahead of the list or behind it while the network thread
    // takes the list; it only bounds what is kept.
    if (sizes.givenBackCount.fetch_add(1, std::memory_order_relaxed) >= kKept) {
        sizes.givenBackCount.fetch_sub(1, std::memory_order_relaxed);
        ::operator delete(block);
        return;
    }
    freed->next = sizes.givenBack.load(std::memory_order_relaxed);
    while (!sizes.givenBack.compare_exchange_weak(freed->next, freed, std::memory_order_release,
                                                  std::memory_order_relaxed)) {
    }
}

void NetworkThreadBlocks::adoptCurrentThread() {
    tIsNetworkThread = true;
}

}  // namespace platform::detail
