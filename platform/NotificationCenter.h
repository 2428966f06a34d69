// Named notifications, posted synchronously to the observers registered for them, or queued
// for those that asked for a queue of their own.
//
// The sender ("object") of a notification is an identity: a `const void*` that is only ever
// compared, never dereferenced by the centre. It stays valid for the observers while post()
// runs, because the poster holds it; an observer may cast it back only when the notification
// name documents what it points to, and never in a delivery on a queue, which may run after
// the sender is gone. Whoever observes one sender should stop observing it before that sender
// dies, since another object may later live at the same address.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/Value.h"

namespace platform {

struct Notification {
    std::string name;
    const void* object = nullptr;
    Map userInfo;
};

namespace detail {
struct ObserverRegistration;
struct NotificationCenterState;
}  // namespace detail

class DispatchQueue;

// An observer's registration. Destroying the token, or calling remove(), unregisters it; once
// that returns the callback is not running on any other thread and will not be called again
// (it may still be running on the calling thread, when an observer removes itself).
// Deliveries already queued for it find it removed and do nothing.
class ObserverToken {
  public:
    ObserverToken() = default;
    ObserverToken(ObserverToken&& other) noexcept;
    ObserverToken& operator=(ObserverToken&& other) noexcept;
    ObserverToken(const ObserverToken&) = delete;
    ObserverToken& operator=(const ObserverToken&) = delete;
    ~ObserverToken();

    void remove();
    bool isRegistered() const;

  private:
    friend class NotificationCenter;
    explicit ObserverToken(std::shared_ptr<detail::ObserverRegistration> registration);
    std::shared_ptr<detail::ObserverRegistration> registration_;
};

class NotificationCenter {
  public:
    using Callback = std::function<void(const Notification&)>;

    static NotificationCenter& defaultCenter();  // made on first use, never destroyed

    NotificationCenter();
    ~NotificationCenter();
    NotificationCenter(const NotificationCenter&) = delete;
    NotificationCenter& operator=(const NotificationCenter&) = delete;

    // Observes notifications of that name (std::nullopt: every name) from that sender
    // (nullptr: any sender). Observers are called in the order they registered.
    [[nodiscard]] ObserverToken addObserver(std::optional<std::string> name, const void* sender,
                                            Callback callback);
    // The same, but post() only queues the call: the callback runs later on the queue, with a
    // copy of the notification (DispatchQueue::main(): on the main thread). On a serial queue
    // it gets each poster's notifications in the order they were posted. A null queue: called
    // on the posting thread.
    [[nodiscard]] ObserverToken addObserver(std::optional<std::string> name, const void* sender,
                                            std::shared_ptr<DispatchQueue> queue,
                                            Callback callback);
    void removeObserver(ObserverToken& token) { token.remove(); }

    // Calls the matching observers on the calling thread and returns when they are done
    // (those with a queue: once their deliveries are queued).
    // Observers added meanwhile are called from the next post on; observers removed
    // meanwhile and not yet called are not called. An exception escaping an observer is
    // logged and the others are still called. Safe from several threads at once.
    void post(std::string_view name, const void* object = nullptr, Map userInfo = {});
    void post(const Notification& notification);

    // Whether a notification of that name, from any sender, would reach an observer now: a
    // poster that would do work to make or deliver one can skip it when none would.
    bool hasObservers(std::string_view name) const;

  private:
    std::shared_ptr<detail::NotificationCenterState> state_;
};

}  // namespace platform
