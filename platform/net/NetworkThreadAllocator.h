// Memory for what the network thread makes and other threads let go of: a response, a task's
// outcome. glibc gives a freed block back to the arena of the thread that made it, under that
// arena's lock. With the network thread making such blocks and the main thread freeing them at
// the same pace, the two threads met at that lock about once every two requests, and each
// meeting put one of them to sleep in the kernel. Blocks made through this allocator go back to
// the network thread instead, through a list that takes no lock, and it makes its next ones of
// them; a block made elsewhere is an ordinary one that may end up there too.
//
// Threads: any. Only the network thread takes blocks from the lists.
#pragma once

#include <cstddef>
#include <new>

namespace platform {

namespace detail {

class NetworkThreadBlocks {
  public:
    static void* allocate(std::size_t bytes);
    static void deallocate(void* block, std::size_t bytes) noexcept;
    // Called once by the network thread when it starts.
    static void adoptCurrentThread();
};

}  // namespace detail

template <typename T>
class NetworkThreadAllocator {
  public:
    using value_type = T;

    NetworkThreadAllocator() = default;
    template <typename U>
    NetworkThreadAllocator(const NetworkThreadAllocator<U>&) noexcept {}  // NOLINT: rebinding

    T* allocate(std::size_t count) {
        if (count > static_cast<std::size_t>(-1) / sizeof(T)) {
            throw std::bad_array_new_length();
        }
        return static_cast<T*>(detail::NetworkThreadBlocks::allocate(count * sizeof(T)));
    }
    void deallocate(T* block, std::size_t count) noexcept {
        detail::NetworkThreadBlocks::deallocate(block, count * sizeof(T));
    }

    template <typename U>
    bool operator==(const NetworkThreadAllocator<U>&) const noexcept {
        return true;
    }
};

}  // namespace platform
