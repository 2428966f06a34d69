// A first-in, first-out queue that keeps its storage. A std::deque frees a block of its storage
// whenever its front leaves one and makes another whenever its back needs one; a queue that
// one thread fills and another empties at the same pace then hands a block from one thread's
// allocator to the other's every few items, and glibc takes the lock of the maker's arena to
// take it back. This one allocates only to grow, and lets its storage go once it empties after
// a burst.
//
// Threads: none of its own; guard it as a std::deque.
#pragma once

#include <cstddef>
#include <utility>
#include <vector>

namespace platform {

template <typename T>
class RingQueue {
  public:
    bool empty() const { return size_ == 0; }
    std::size_t size() const { return size_; }

    T& front() { return slots_[head_]; }

    void push_back(T value) {
        if (size_ == slots_.size()) {
            grow();
        }
        slots_[(head_ + size_) & (slots_.size() - 1)] = std::move(value);
        ++size_;
    }

    // What the front held is released here, not when its slot next fills.
    void pop_front() {
        slots_[head_] = T();
        head_ = (head_ + 1) & (slots_.size() - 1);
        if (--size_ == 0) {
            head_ = 0;
            if (slots_.size() > kKeptSlots) {
                std::vector<T>().swap(slots_);
            }
        }
    }

    void swap(RingQueue& other) noexcept {
        slots_.swap(other.slots_);
        std::swap(head_, other.head_);
        std::swap(size_, other.size_);
    }

  private:
    static constexpr std::size_t kFirstSlots = 16;
    // What an empty queue keeps; a burst beyond it lets its storage go once it is over.
    static constexpr std::size_t kKeptSlots = 256;

    // The slots stay a power of two, so that a place wraps with a mask.
    void grow() {
        std::vector<T> bigger(slots_.empty() ? kFirstSlots : 2 * slots_.size());
        for (std::size_t i = 0; i < size_; ++i) {
            bigger[i] = std::move(slots_[(head_ + i) & (slots_.size() - 1)]);
        }
        slots_.swap(bigger);
        head_ = 0;
    }

    std::vector<T> slots_;
    std::size_t head_ = 0;
    std::size_t size_ = 0;
};

}  // namespace platform
