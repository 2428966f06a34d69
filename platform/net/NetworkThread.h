// The process's one network thread: every connection runs on it, driven by libcurl's multi
// interface, and every connection delegate is called on it, one call at a time.
//
// Made and started on first use, never stopped. Any thread may post work to it; work runs in
// the order posted, between transfers' callbacks, never inside one.
//
// It is a ThreadLoop (platform/ThreadLoop.h): what its callbacks post to the main loop is
// posted together at the end of each turn, and an operation queue whose operation ends here
// starts the next one from here, in the same turn. Code running on it must not block it
// without calling beforeLoopThreadWaits() first (the platform's own waits do).
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>

namespace platform {

class TimerHandle;

class NetworkThread {
  public:
    static NetworkThread& shared();

    // The thread's name; the operating system sees its first 15 bytes.
    static constexpr const char* kName = "RAZududeNetworking";

    void post(std::function<void()> task);
    // A call `seconds` from now (real time) on the network thread.
    std::shared_ptr<TimerHandle> after(double seconds, std::function<void()> task);
    bool isCurrent() const;
    // A post is coming within `seconds`, such as a load that starts on the caller's next
    // turn: an idle thread wakes now and looks for it until then without sleeping, so that
    // the post does not wait for a sleeping processor to come back (some 50 us on a VM). The
    // first post, a timer falling due or the end of that time ends the watch; a thread with
    // transfers in flight ignores it, and so does this thread when it gives the hint itself.
    void expectPost(double seconds);
    // The timers still waiting to fire; a cancelled one is not among them.
    std::size_t pendingTimers() const;

    NetworkThread(const NetworkThread&) = delete;
    NetworkThread& operator=(const NetworkThread&) = delete;

    struct State;  // the loop and libcurl's multi handle; the connection code drives it

    // The jar of cookies the connections share (a libcurl share handle). Any thread.
    static void* sharedCookieShare();

  private:
    NetworkThread();
    friend class UrlConnection;
    State& state() { return *state_; }
    State* state_;
};

}  // namespace platform
