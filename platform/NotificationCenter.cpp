#include "platform/NotificationCenter.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <utility>
#include <vector>

#include "platform/Dispatch.h"
#include "platform/NoDestructor.h"
#include "platform/TaskGuard.h"

namespace platform {

namespace detail {

struct ObserverRegistration {
    ObserverRegistration(std::weak_ptr<NotificationCenterState> c, std::optional<std::string> n,
                         const void* s, std::shared_ptr<DispatchQueue> q,
                         NotificationCenter::Callback cb)
        : center(std::move(c)),
          name(std::move(n)),
          sender(s),
          queue(std::move(q)),
          callback(std::move(cb)) {}

    bool matches(const Notification& notification) const {
        return (!name || *name == notification.name) &&
               (sender == nullptr || sender == notification.object);
    }

    // Set at registration, never changed.
    const std::weak_ptr<NotificationCenterState> center;
    const std::optional<std::string> name;
    const void* const sender;
    const std::shared_ptr<DispatchQueue> queue;  // null: called on the posting thread
    const NotificationCenter::Callback callback;

    std::mutex mutex;
    std::condition_variable left;  // a caller left the callback
    bool active = true;
    std::vector<std::thread::id> callers;  // threads inside the callback now, one per call
};

struct NotificationCenterState {
    std::mutex mutex;
    std::vector<std::shared_ptr<ObserverRegistration>> registrations;  // in registration order
};

}  // namespace detail

namespace {

// Stops the registration: no call starts after this, and calls running on other threads are
// waited for. Calls on this thread (an observer removing itself) are not.
void deactivate(detail::ObserverRegistration& registration) {
    std::unique_lock lock(registration.mutex);
    registration.active = false;
    const auto self = std::this_thread::get_id();
    registration.left.wait(lock, [&] {
        return std::all_of(registration.callers.begin(), registration.callers.end(),
                           [&](const std::thread::id& id) { return id == self; });
    });
}

// Calls the callback unless the registration was removed, so that removal can wait for it.
void deliver(detail::ObserverRegistration& registration, const Notification& notification) {
    const auto self = std::this_thread::get_id();
    {
        std::lock_guard lock(registration.mutex);
        if (!registration.active) {
            return;
        }
        registration.callers.push_back(self);
    }
    detail::runGuarded("an observer of " + notification.name,
                       [&] { registration.callback(notification); });
    std::lock_guard lock(registration.mutex);
    auto& callers = registration.callers;
    callers.erase(std::find(callers.begin(), callers.end(), self));
    registration.left.notify_all();
}

}  // namespace

ObserverToken::ObserverToken(std::shared_ptr<detail::ObserverRegistration> registration)
    : registration_(std::move(registration)) {}

ObserverToken::ObserverToken(ObserverToken&& other) noexcept
    : registration_(std::move(other.registration_)) {}

ObserverToken& ObserverToken::operator=(ObserverToken&& other) noexcept {
    if (this != &other) {
        remove();
        registration_ = std::move(other.registration_);
    }
    return *this;
}

ObserverToken::~ObserverToken() {
    remove();
}

void ObserverToken::remove() {
    auto registration = std::move(registration_);
    registration_.reset();
    if (!registration) {
        return;
    }
    deactivate(*registration);
    if (auto center = registration->center.lock()) {
        std::lock_guard lock(center->mutex);
        auto& list = center->registrations;
        list.erase(std::remove(list.begin(), list.end(), registration), list.end());
    }
    // The callback itself goes when the last post holding the registration lets it go.
}

bool ObserverToken::isRegistered() const {
    if (!registration_) {
        return false;
    }
    std::lock_guard lock(registration_->mutex);
    return registration_->active;
}

NotificationCenter& NotificationCenter::defaultCenter() {
    static NoDestructor<NotificationCenter> center;
    return *center;
}

NotificationCenter::NotificationCenter()
    : state_(std::make_shared<detail::NotificationCenterState>()) {}

NotificationCenter::~NotificationCenter() {
    std::vector<std::shared_ptr<detail::ObserverRegistration>> registrations;
    {
        std::lock_guard lock(state_->mutex);
        registrations.swap(state_->registrations);
    }
    for (const auto& registration : registrations) {
        deactivate(*registration);
    }
}

ObserverToken NotificationCenter::addObserver(std::optional<std::string> name, const void* sender,
                                              Callback callback) {
    return addObserver(std::move(name), sender, nullptr, std::move(callback));
}

ObserverToken NotificationCenter::addObserver(std::optional<std::string> name, const void* sender,
                                              std::shared_ptr<DispatchQueue> queue,
                                              Callback callback) {
    if (!callback) {
        throw std::invalid_argument("NotificationCenter: an observer needs a callback");
    }
    auto registration = std::make_shared<detail::ObserverRegistration>(
        state_, std::move(name), sender, std::move(queue), std::move(callback));
    std::lock_guard lock(state_->mutex);
    state_->registrations.push_back(registration);
    return ObserverToken(std::move(registration));
}

void NotificationCenter::post(std::string_view name, const void* object, Map userInfo) {
    post(Notification{std::string(name), object, std::move(userInfo)});
}

void NotificationCenter::post(const Notification& notification) {
    std::vector<std::shared_ptr<detail::ObserverRegistration>> matching;
    {
        std::lock_guard lock(state_->mutex);
        for (const auto& registration : state_->registrations) {
            if (registration->matches(notification)) {
                matching.push_back(registration);
            }
        }
    }
    std::shared_ptr<const Notification> copy;  // one for every queued delivery
    for (const auto& registration : matching) {
        if (registration->queue) {
            if (!copy) {
                copy = std::make_shared<const Notification>(notification);
            }
            registration->queue->async([registration, copy] { deliver(*registration, *copy); });
        } else {
            deliver(*registration, notification);
        }
    }
}

bool NotificationCenter::hasObservers(std::string_view name) const {
    std::lock_guard lock(state_->mutex);
    return std::any_of(state_->registrations.begin(), state_->registrations.end(),
                       [&](const auto& registration) {
                           return !registration->name || *registration->name == name;
                       });
}

}  // namespace platform
