// Under clang with -Wthread-safety -Werror, each case must stop compilation with the named
// finding; "fits" must compile. Run by CTest.
#include <condition_variable>
#include <deque>

#include "platform/Mutex.h"

class Inbox {
  public:
    void put(int item) {
        platform::MutexLock lock(mutex_);
        items_.push_back(item);
        arrived_.notify_one();
    }

    int take() {
#if defined(CASE_fits)
        platform::MutexLock lock(mutex_);
        while (items_.empty()) {
            lock.wait(arrived_);
        }
        return popLocked();
#elif defined(CASE_unlocked_read)
        return items_.front();
#elif defined(CASE_helper_without_lock)
        return popLocked();
#elif defined(CASE_read_after_unlock)
        platform::MutexLock lock(mutex_);
        lock.unlock();
        return static_cast<int>(items_.size());
#endif
    }

  private:
    int popLocked() RZ_REQUIRES(mutex_) {
        const int item = items_.front();
        items_.pop_front();
        return item;
    }

    platform::Mutex mutex_;
    std::condition_variable arrived_;
    std::deque<int> items_ RZ_GUARDED_BY(mutex_);
};

int use() {
    Inbox inbox;
    inbox.put(1);
    platform::Guarded<int> counter(0);
    counter.with([](int& value) { ++value; });
    return inbox.take() + counter.get();
}
