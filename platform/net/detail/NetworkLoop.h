// The network thread's insides, shared by the thread and the connections it runs. Network
// thread only, except where a member says otherwise.
#pragma once

#include <curl/curl.h>

#include <array>
#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/MainLoop.h"
#include "platform/ThreadLoop.h"
#include "platform/Url.h"
#include "platform/net/NetworkThread.h"

namespace platform {

struct NetworkThread::State final : ThreadLoop {
    class Timer;
    using Timers = std::multimap<double, std::shared_ptr<Timer>>;

    State();

    // Any thread.
    void post(std::function<void()> task);
    std::shared_ptr<TimerHandle> after(double seconds, std::function<void()> task);
    void dropTimer(Timer& timer);
    void expectPost(double seconds);
    std::size_t pendingTimers();

    // What hears of a transfer's end. The handle's private pointer names it, so that a
    // transfer costs the loop no table entry and no allocation.
    class Transfer {
      public:
        virtual void transferEnded(CURLcode result) = 0;

      protected:
        ~Transfer() = default;
    };
    // Hands an easy handle to the multi handle; `transfer` hears of its end on the network
    // thread, after the handle has left the multi handle, and must stay alive until then or
    // take the handle out first.
    void addTransfer(CURL* easy, Transfer& transfer);
    // Takes a transfer out before its end; its end is never told.
    void removeTransfer(CURL* easy);

    // An easy handle and the parsed URL that it is given. libcurl parses a URL given as text
    // again at every transfer, a sixth of a small request's work on loopback; one given
    // parsed it only copies. Both are null when the handle could not be made.
    struct EasyHandle {
        CURL* easy = nullptr;
        CURLU* url = nullptr;
    };
    // Any thread: the handle must be in no multi handle.
    static void destroyEasyHandle(EasyHandle handle);

    // Easy handles are kept for the next load rather than made anew: making one allocates
    // its buffers, which costs as much as a small request on loopback. A handle that once
    // shared the cookie jar keeps it through a reset, so handles with and without cookies
    // are kept apart.
    EasyHandle takeEasyHandle(bool withCookies);
    void giveBackEasyHandle(EasyHandle handle, bool withCookies);
    // A plain GET (no body, no option beyond those every load sets) leaves its handle set up:
    // the next plain GET of the same kind sets only what is its own, instead of a reset and
    // every option again, as a client of libcurl keeps its handles. A handle kept with the
    // URL it was given is handed out first to a load of the same URL, which need not give it
    // again. Null when none is kept.
    struct ConfiguredHandle {
        EasyHandle handle;
        bool hasUrl = false;  // the handle is set to the URL asked for
        // The encodings the handle asks for and decodes (CURLOPT_ACCEPT_ENCODING): none when
        // absent, every one libcurl decodes when empty.
        std::optional<std::string> acceptEncoding;
    };
    ConfiguredHandle takeConfiguredHandle(bool withCookies, bool https, const Url& url);
    void keepConfiguredHandle(EasyHandle handle, bool withCookies, bool https, Url url,
                              std::optional<std::string> acceptEncoding);

    // The proxy the environment names for a scheme's loads, and the hosts it leaves out;
    // empty for none. Read once, as the thread starts: libcurl would read the environment
    // at every transfer, five look-ups a request, racing any change to it.
    const std::string& proxyFor(bool https) const { return https ? httpsProxy_ : httpProxy_; }
    const std::string& noProxy() const { return noProxy_; }

    // The cookie jar every connection that handles cookies shares. Any thread.
    CURLSH* cookieShare() const { return share_; }

    // A load with a time-out. One sweep of the loop looks at them all when the earliest is
    // due, rather than each keeping a timer of its own: a load touches its clock at every
    // sign of life, which would move a timer every time.
    class Timed {
      public:
        virtual ~Timed() = default;
        // When the load would time out if nothing happened meanwhile (monotonic seconds).
        virtual double idleDue() const = 0;
        // Called by the sweep once idleDue() has passed; may end the load.
        virtual void idleCheck() = 0;

      private:
        friend struct State;
        static constexpr std::size_t kUnwatched = static_cast<std::size_t>(-1);
        std::size_t watchedAt_ = kUnwatched;  // its index in the loop's table
    };
    void watch(const std::shared_ptr<Timed>& load);
    void unwatch(Timed* load);  // nothing for a load not watched

    std::thread::id threadId;

  private:
    void wake();
    // Until `until` (monotonic seconds), whether a post came; the loop's thread gives the
    // processor to any other that wants it meanwhile.
    bool awaitPost(double until);
    void run();
    void runTasks();
    void fireTimers();            // runs those that are due
    double secondsToNextTimer();  // or a large number when there is none
    void finishedTransfers();
    void sweep();
    void armSweep(double due);

    CURLM* multi_ = nullptr;
    CURLSH* share_ = nullptr;
    std::array<std::mutex, CURL_LOCK_DATA_LAST> shareLocks_;

    int wakeFd_ = -1;  // an eventfd that others write to wake the loop's poll
    std::atomic<bool> wakePending_{false};
    std::atomic<double> postExpectedUntil_{0};  // monotonic seconds; 0 for none
    // Whether the last idle wait ended in a post soon: the next one looks for posts first.
    bool spins_ = false;
    std::mutex mutex_;  // guards tasks_ and timers_
    std::vector<std::function<void()>> tasks_;
    // The batch being run; kept with its room, which goes back and forth with tasks_. The
    // same for the loop's jobs (ThreadLoop), which are this thread's alone.
    std::vector<std::function<void()>> running_;
    std::vector<std::function<void()>> runningJobs_;
    Timers timers_;

    // The loads watched, each knowing its index: a load joins and leaves without an
    // allocation or a lookup. Weak, so that the table never reaches a load that is gone.
    std::vector<std::weak_ptr<Timed>> timed_;
    // Moves the last entry into the index's place; the entry there is forgotten.
    void dropWatched(std::size_t index);
    std::shared_ptr<TimerHandle> sweepTimer_;
    double sweepDue_ = 0;
    std::array<std::vector<EasyHandle>, 2> spareHandles_;  // without, with cookies
    // Set up for a plain GET, each with its URL: index 2 * withCookies + https.
    struct KeptHandle {
        EasyHandle handle;
        Url url;
        std::optional<std::string> acceptEncoding;
    };
    std::array<std::vector<KeptHandle>, 4> configuredHandles_;
    std::string httpProxy_;
    std::string httpsProxy_;
    std::string noProxy_;
    std::thread thread_;
};

}  // namespace platform
