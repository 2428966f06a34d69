#include "platform/net/NetworkThread.h"

#include <pthread.h>
#include <sched.h>
#include <sys/eventfd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <initializer_list>
#include <optional>
#include <stdexcept>

#include "platform/TaskGuard.h"
#include "platform/net/NetworkThreadAllocator.h"
#include "platform/net/detail/NetworkLoop.h"

namespace platform {

namespace {

// Easy handles kept for later loads, of each kind.
constexpr std::size_t kSpareLimit = 32;

// How long the loop, with no transfer under way, looks for the next post before it sleeps,
// once a post has ended its last idle wait within that time. Waking the sleeping thread costs
// the poster a system call of 13 us on a virtual machine's idle processor, and the thread tens
// of microseconds more before it runs. A client commonly makes its next request once it has
// handled the reply to the last one (a picture decoded and shown, a document parsed), a few
// hundred microseconds after the transfer's end. A loop whose posts come further apart sleeps
// at once, so that an idle app spends nothing on it.
constexpr double kPostLookInterval = 0.001;

double monotonicSeconds() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

// libcurl's global set-up is not safe against a concurrent first use, so it happens once,
// before the thread that uses it exists.
void initializeCurlOnce() {
    static std::once_flag once;
    std::call_once(once, [] {
        if (curl_global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK) {
            throw std::runtime_error("libcurl could not be initialised");
        }
    });
}

// The first of the variables that is set and not empty, or empty.
std::string environmentValue(std::initializer_list<const char*> names) {
    for (const char* name : names) {
        const char* value = std::getenv(name);
        if (value && *value) {
            return value;
        }
    }
    return {};
}

}  // namespace

// A cancelled timer leaves the table at once: a load cancels its idle check when it ends,
// and the check would otherwise stay queued, with what it holds, until it fell due.
class NetworkThread::State::Timer final : public TimerHandle {
  public:
    Timer(State& loop, std::function<void()> task) : loop_(loop), task_(std::move(task)) {}

    void cancel() override {
        std::function<void()> dropped;  // destroyed outside the locks
        {
            std::lock_guard lock(mutex_);
            valid_ = false;
            dropped = std::move(task_);
        }
        loop_.dropTimer(*this);
    }
    bool isValid() const override {
        std::lock_guard lock(mutex_);
        return valid_;
    }
    // The task, once; nothing after a cancel.
    std::function<void()> take() {
        std::lock_guard lock(mutex_);
        if (!valid_) {
            return {};
        }
        valid_ = false;
        return std::move(task_);
    }

    // Its place in the loop's table while it is there; guarded by the loop's mutex.
    std::optional<Timers::iterator> place;

  private:
    State& loop_;
    mutable std::mutex mutex_;
    bool valid_ = true;
    std::function<void()> task_;
};

NetworkThread::State::State() {
    initializeCurlOnce();
    multi_ = curl_multi_init();
    share_ = curl_share_init();
    // libcurl's own wake-up is a socket pair, a send to wake and two reads to drain; an
    // eventfd takes one write and one read, and the write is the cheaper system call.
    wakeFd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (!multi_ || !share_ || wakeFd_ < 0) {
        throw std::runtime_error("the network thread could not make its handles");
    }
    // The variables libcurl would read. Only http's is not read in capitals: a web server
    // running a program sets HTTP_PROXY from its request's "Proxy" header.
    httpProxy_ = environmentValue({"http_proxy", "all_proxy", "ALL_PROXY"});
    httpsProxy_ = environmentValue({"https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"});
    noProxy_ = environmentValue({"no_proxy", "NO_PROXY"});
    curl_share_setopt(share_, CURLSHOPT_SHARE, CURL_LOCK_DATA_COOKIE);
    curl_share_setopt(share_, CURLSHOPT_USERDATA, this);
    curl_share_setopt(
        share_, CURLSHOPT_LOCKFUNC, +[](CURL*, curl_lock_data data, curl_lock_access, void* user) {
            static_cast<State*>(user)->shareLocks_[data].lock();
        });
    curl_share_setopt(
        share_, CURLSHOPT_UNLOCKFUNC, +[](CURL*, curl_lock_data data, void* user) {
            static_cast<State*>(user)->shareLocks_[data].unlock();
        });
    // Connections to one host are reused (keep-alive) but not multiplied without bound.
    curl_multi_setopt(multi_, CURLMOPT_MAX_HOST_CONNECTIONS, 16L);
    // The cache of idle connections would otherwise follow the number of transfers under way,
    // and close kept-alive connections whenever few loads happen to be running.
    curl_multi_setopt(multi_, CURLMOPT_MAXCONNECTS, 64L);
    thread_ = std::thread([this] { run(); });
    threadId = thread_.get_id();
    pthread_setname_np(thread_.native_handle(),
                       std::string(NetworkThread::kName).substr(0, 15).c_str());
    thread_.detach();
}

void NetworkThread::State::post(std::function<void()> task) {
    {
        std::lock_guard lock(mutex_);
        tasks_.push_back(std::move(task));
    }
    wake();
}

std::shared_ptr<TimerHandle> NetworkThread::State::after(double seconds,
                                                         std::function<void()> task) {
    auto timer = std::make_shared<Timer>(*this, std::move(task));
    {
        std::lock_guard lock(mutex_);
        timer->place = timers_.emplace(monotonicSeconds() + std::max(0.0, seconds), timer);
    }
    wake();
    return timer;
}

void NetworkThread::State::expectPost(double seconds) {
    // From the thread itself the post could only come after the watch.
    if (std::this_thread::get_id() != threadId) {
        postExpectedUntil_.store(monotonicSeconds() + seconds, std::memory_order_relaxed);
        wake();
    }
}

void NetworkThread::State::dropTimer(Timer& timer) {
    std::shared_ptr<Timer> dropped;  // the last owner may be the table: released unlocked
    std::lock_guard lock(mutex_);
    if (timer.place) {
        dropped = std::move((*timer.place)->second);
        timers_.erase(*timer.place);
        timer.place.reset();
    }
}

std::size_t NetworkThread::State::pendingTimers() {
    std::lock_guard lock(mutex_);
    return timers_.size();
}

// The loop looks at its tasks and timers before it waits again, so it need not be woken by
// itself, nor more than once by others before it looks (each wake is a system call).
void NetworkThread::State::wake() {
    if (std::this_thread::get_id() != threadId && !wakePending_.exchange(true)) {
        eventfd_write(wakeFd_, 1);
    }
}

bool NetworkThread::State::awaitPost(double until) {
    while (!wakePending_.load(std::memory_order_acquire)) {
        if (monotonicSeconds() >= until) {
            return false;
        }
        sched_yield();
    }
    return true;
}

void NetworkThread::State::addTransfer(CURL* easy, Transfer& transfer) {
    curl_easy_setopt(easy, CURLOPT_PRIVATE, &transfer);
    curl_multi_add_handle(multi_, easy);
}

void NetworkThread::State::removeTransfer(CURL* easy) {
    curl_multi_remove_handle(multi_, easy);
}

void NetworkThread::State::destroyEasyHandle(EasyHandle handle) {
    curl_easy_cleanup(handle.easy);
    curl_url_cleanup(handle.url);
}

NetworkThread::State::EasyHandle NetworkThread::State::takeEasyHandle(bool withCookies) {
    auto& spares = spareHandles_[withCookies ? 1 : 0];
    if (spares.empty()) {
        EasyHandle made{curl_easy_init(), curl_url()};
        if (!made.easy || !made.url) {
            destroyEasyHandle(made);
            return {};
        }
        return made;
    }
    const EasyHandle handle = spares.back();
    spares.pop_back();
    return handle;
}

NetworkThread::State::ConfiguredHandle NetworkThread::State::takeConfiguredHandle(bool withCookies,
                                                                                  bool https,
                                                                                  const Url& url) {
    auto& kept = configuredHandles_[(withCookies ? 2 : 0) + (https ? 1 : 0)];
    if (kept.empty()) {
        return {};
    }
    // The most recently kept first: its connection and its memory are the warmest.
    auto chosen = std::find_if(kept.rbegin(), kept.rend(),
                               [&](const KeptHandle& handle) { return handle.url == url; });
    const bool hasUrl = chosen != kept.rend();
    if (!hasUrl) {
        chosen = kept.rbegin();
    }
    ConfiguredHandle taken{chosen->handle, hasUrl, std::move(chosen->acceptEncoding)};
    std::swap(*chosen, kept.back());
    kept.pop_back();
    return taken;
}

void NetworkThread::State::keepConfiguredHandle(EasyHandle handle, bool withCookies, bool https,
                                                Url url,
                                                std::optional<std::string> acceptEncoding) {
    auto& kept = configuredHandles_[(withCookies ? 2 : 0) + (https ? 1 : 0)];
    if (kept.size() >= kSpareLimit) {
        giveBackEasyHandle(handle, withCookies);
        return;
    }
    kept.push_back({handle, std::move(url), std::move(acceptEncoding)});
}

void NetworkThread::State::giveBackEasyHandle(EasyHandle handle, bool withCookies) {
    auto& spares = spareHandles_[withCookies ? 1 : 0];
    if (spares.size() >= kSpareLimit) {
        destroyEasyHandle(handle);
        return;
    }
    if (withCookies) {
        // A reset forgets the list of cookie files to read without freeing it.
        curl_easy_setopt(handle.easy, CURLOPT_COOKIEFILE, nullptr);
    }
    // The parsed URL stays ours through the reset, to be given the next load's URL.
    curl_easy_reset(handle.easy);
    spares.push_back(handle);
}

void NetworkThread::State::watch(const std::shared_ptr<Timed>& load) {
    if (load->watchedAt_ == Timed::kUnwatched) {
        load->watchedAt_ = timed_.size();
        timed_.push_back(load);
    }
    armSweep(load->idleDue());
}

void NetworkThread::State::unwatch(Timed* load) {
    if (load->watchedAt_ != Timed::kUnwatched) {
        dropWatched(load->watchedAt_);
        load->watchedAt_ = Timed::kUnwatched;
    }
    if (timed_.empty() && sweepTimer_) {
        sweepTimer_->cancel();
        sweepTimer_.reset();
    }
}

void NetworkThread::State::dropWatched(std::size_t index) {
    if (index + 1 != timed_.size()) {
        timed_[index] = std::move(timed_.back());
        if (const auto moved = timed_[index].lock()) {
            moved->watchedAt_ = index;
        }
    }
    timed_.pop_back();
}

// The sweep is due at the earliest time-out, but not sooner than shortly after the last one:
// loads that time out together are looked at together.
void NetworkThread::State::armSweep(double due) {
    constexpr double kLeastGap = 0.01;
    if (sweepTimer_ && sweepTimer_->isValid() && sweepDue_ <= due) {
        return;
    }
    if (sweepTimer_) {
        sweepTimer_->cancel();
    }
    const double now = monotonicSeconds();
    sweepDue_ = std::max(due, now + kLeastGap);
    sweepTimer_ = after(sweepDue_ - now, [this] { sweep(); });
}

void NetworkThread::State::sweep() {
    sweepTimer_.reset();
    const double now = monotonicSeconds();
    std::vector<std::shared_ptr<Timed>> due;
    for (std::size_t i = 0; i < timed_.size();) {
        auto load = timed_[i].lock();
        if (!load) {
            dropWatched(i);  // brings the last one here
            continue;
        }
        if (load->idleDue() <= now) {
            due.push_back(std::move(load));
        }
        ++i;
    }
    // Checked outside the walk: a check may end its load, which leaves the table.
    for (const auto& load : due) {
        detail::runGuarded("a load's time-out", [&] { load->idleCheck(); });
    }
    double next = 0;
    for (const auto& weak : timed_) {
        if (auto load = weak.lock()) {
            next = next == 0 ? load->idleDue() : std::min(next, load->idleDue());
        }
    }
    if (next != 0) {
        armSweep(next);
    }
}

void NetworkThread::State::run() {
    ThreadLoop::install(this);
    detail::NetworkThreadBlocks::adoptCurrentThread();
    for (;;) {
        runTasks();
        fireTimers();
        int running = 0;
        curl_multi_perform(multi_, &running);
        finishedTransfers();
        // What the ends of loads set going (the next loads of their queues) starts in this
        // turn, as a client of libcurl re-adds a handle as soon as one is done.
        runTasks();
        // Everything this turn produced for the main thread, in one post.
        flushMain();
        // Timers set by the transfers' callbacks just now count too: they woke nothing.
        const double nextTimer = secondsToNextTimer();

        long curlTimeout = -1;
        curl_multi_timeout(multi_, &curlTimeout);
        long wait = 1000;
        if (curlTimeout >= 0) {
            wait = std::min(wait, curlTimeout);
        }
        wait = std::min(wait, static_cast<long>(std::ceil(nextTimer * 1000)));
        wakePending_ = false;  // before looking: a post after this wakes the poll
        {
            std::lock_guard lock(mutex_);
            if (!tasks_.empty() || hasJobs()) {
                wait = 0;
            }
        }
        // With no transfer whose sockets need the poll (one added since the perform above
        // left libcurl's time-out at 0), look for a post rather than sleep, up to the next
        // timer: until an announced post comes, or for a moment after an idle wait that a post
        // ended soon (kPostLookInterval). Read before it is taken: the turns with no
        // announcement spare the exchange.
        const double expectedUntil = postExpectedUntil_.load(std::memory_order_relaxed) != 0
                                         ? postExpectedUntil_.exchange(0, std::memory_order_relaxed)
                                         : 0;
        const bool idleWait = wait > 0 && running == 0;
        double idleSince = 0;
        bool posted = false;
        if (idleWait) {
            idleSince = monotonicSeconds();
            const double lookUntil =
                std::max(expectedUntil, spins_ ? idleSince + kPostLookInterval : 0);
            const double pollUntil = idleSince + static_cast<double>(wait) / 1000;
            if (lookUntil > idleSince) {
                posted = awaitPost(std::min(lookUntil, pollUntil));
                wait = posted ? 0
                              : static_cast<long>(std::ceil(
                                    std::max(0.0, pollUntil - monotonicSeconds()) * 1000));
            }
        }
        curl_waitfd woken{wakeFd_, CURL_WAIT_POLLIN, 0};
        curl_multi_poll(multi_, &woken, 1, static_cast<int>(std::max(0L, wait)), nullptr);
        // Awake until the next turn looks at its tasks before it waits: what is posted
        // meanwhile is found then, and costs neither side a system call.
        wakePending_ = true;
        if (idleWait) {
            // A timer's deadline is not work handed over: only a post keeps the loop looking.
            posted = posted || (woken.revents & CURL_WAIT_POLLIN) != 0;
            spins_ = posted && monotonicSeconds() - idleSince <= kPostLookInterval;
        }
        if (woken.revents & CURL_WAIT_POLLIN) {
            eventfd_t count = 0;
            eventfd_read(wakeFd_, &count);
        }
    }
}

// Runs the tasks posted and the jobs handed to the loop, and those they post and hand in
// turn, a few rounds deep: a chain of hand-offs (a queue's pump, the operation it starts, the
// connection that starts) completes in one turn, while work that keeps posting itself still
// lets the transfers move.
void NetworkThread::State::runTasks() {
    constexpr int kRounds = 8;
    for (int round = 0; round < kRounds; ++round) {
        {
            std::lock_guard lock(mutex_);
            running_.swap(tasks_);
        }
        if (running_.empty() && !hasJobs()) {
            return;
        }
        // What was announced may be among them: the loop need not look for it any more.
        if (!running_.empty() && postExpectedUntil_.load(std::memory_order_relaxed) != 0) {
            postExpectedUntil_.store(0, std::memory_order_relaxed);
        }
        for (auto& task : running_) {
            detail::runGuarded("a network-thread task", task);
        }
        running_.clear();
        takeJobs(runningJobs_);
        for (auto& job : runningJobs_) {
            detail::runGuarded("a network-thread job", job);
        }
        runningJobs_.clear();
    }
}

void NetworkThread::State::fireTimers() {
    for (;;) {
        std::shared_ptr<Timer> due;
        {
            std::lock_guard lock(mutex_);
            if (timers_.empty() || timers_.begin()->first > monotonicSeconds()) {
                return;
            }
            const auto first = timers_.begin();
            due = std::move(first->second);
            due->place.reset();
            timers_.erase(first);
        }
        if (auto task = due->take()) {
            detail::runGuarded("a network-thread timer", task);
        }
    }
}

double NetworkThread::State::secondsToNextTimer() {
    std::lock_guard lock(mutex_);
    return timers_.empty() ? 1e9 : std::max(0.0, timers_.begin()->first - monotonicSeconds());
}

void NetworkThread::State::finishedTransfers() {
    int left = 0;
    while (CURLMsg* message = curl_multi_info_read(multi_, &left)) {
        if (message->msg != CURLMSG_DONE) {
            continue;
        }
        CURL* easy = message->easy_handle;
        const CURLcode result = message->data.result;
        void* transfer = nullptr;
        curl_easy_getinfo(easy, CURLINFO_PRIVATE, &transfer);
        curl_multi_remove_handle(multi_, easy);  // frees the message
        if (transfer) {
            detail::runGuarded("a finished transfer",
                               [&] { static_cast<Transfer*>(transfer)->transferEnded(result); });
        }
    }
}

NetworkThread::NetworkThread() : state_(new State) {}

NetworkThread& NetworkThread::shared() {
    static auto* thread = new NetworkThread;
    return *thread;
}

void NetworkThread::post(std::function<void()> task) {
    state_->post(std::move(task));
}

std::shared_ptr<TimerHandle> NetworkThread::after(double seconds, std::function<void()> task) {
    return state_->after(seconds, std::move(task));
}

void* NetworkThread::sharedCookieShare() {
    return shared().state_->cookieShare();
}

std::size_t NetworkThread::pendingTimers() const {
    return state_->pendingTimers();
}

void NetworkThread::expectPost(double seconds) {
    state_->expectPost(seconds);
}

bool NetworkThread::isCurrent() const {
    return std::this_thread::get_id() == state_->threadId;
}

}  // namespace platform
