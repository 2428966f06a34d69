// A shared instance made on first use and never destroyed: the one spelling of it in the tree.
//
//     RZSProtocol& RZSProtocol::sharedInstance() {
//         static platform::NoDestructor<RZSProtocol> instance;
//         return *instance;
//     }
//
// The value lives in the static's own storage and its destructor never runs, so threads that
// are never joined (the pool's, the network thread) and code run by other exit-time clean-ups
// may still use it while the process ends; what it holds stays reachable for the leak check.
// C++ makes the first use thread-safe. A class whose constructor is private names
// `friend class platform::NoDestructor<Class>;`.
//
// Tests that need a shared instance in another state replace it for a scope through the
// class's own override (see ScopedDeviceProfile), never by destroying it.
#pragma once

#include <new>
#include <utility>

namespace platform {

template <class T>
class NoDestructor {
  public:
    template <class... Args>
    explicit NoDestructor(Args&&... args) {
        new (storage_) T(std::forward<Args>(args)...);
    }
    ~NoDestructor() = default;  // leaves the value alone
    NoDestructor(const NoDestructor&) = delete;
    NoDestructor& operator=(const NoDestructor&) = delete;

    T& operator*() { return *get(); }
    const T& operator*() const { return *get(); }
    T* operator->() { return get(); }
    const T* operator->() const { return get(); }
    T* get() { return std::launder(reinterpret_cast<T*>(storage_)); }
    const T* get() const { return std::launder(reinterpret_cast<const T*>(storage_)); }

  private:
    alignas(T) unsigned char storage_[sizeof(T)];
};

}  // namespace platform
