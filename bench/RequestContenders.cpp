#include "RequestContenders.h"

#include <curl/curl.h>
#include <time.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <vector>

#include "ThreadCpuTime.h"
#include "platform/MainLoop.h"
#include "platform/Operation.h"
#include "platform/net/NetworkThread.h"
#include "platform/net/ServerTrust.h"
#include "platform/net/UrlConnection.h"

#ifdef RZ_HAVE_NETWORK_LAYER
#include "SocialSDK/framework/network/RAZududeHTTPRequestOperation.h"
#include "SocialSDK/framework/network/RAZududeSecurityPolicy.h"
#include "SocialSDK/framework/network/RAZududeURLResponseSerialization.h"
#include "SocialSDK/framework/network/RAZududeURLSessionManager.h"
#endif

namespace {

constexpr double kBound = 120;  // seconds a batch may take before it counts as failed

bool isHttps(const RequestTarget& target) {
    return !target.certificatePem.empty();
}

std::size_t discard(char*, std::size_t size, std::size_t count, void*) {
    return size * count;
}

// The handles are made once and re-added as each request ends, as a client of libcurl does;
// they keep their connections (and TLS sessions) between batches.
class RawLibcurlMulti final : public RequestContender {
  public:
    RawLibcurlMulti(const RequestTarget& target, int inFlight) : url_(target.url) {
        curl_global_init(CURL_GLOBAL_DEFAULT);
        multi_ = curl_multi_init();
        // The cache of idle connections would otherwise shrink with the handles removed at the
        // end of a batch, and close connections the next batch then makes again.
        curl_multi_setopt(multi_, CURLMOPT_MAXCONNECTS, static_cast<long>(inFlight));
        curl_blob anchor{const_cast<char*>(target.certificatePem.data()),
                         target.certificatePem.size(), CURL_BLOB_COPY};
        for (int i = 0; i < inFlight; ++i) {
            CURL* easy = curl_easy_init();
            curl_easy_setopt(easy, CURLOPT_URL, url_.c_str());
            curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &discard);
            curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
            if (isHttps(target)) {
                curl_easy_setopt(easy, CURLOPT_CAINFO_BLOB, &anchor);
                curl_easy_setopt(easy, CURLOPT_CAPATH, nullptr);
            }
            handles_.push_back(easy);
        }
    }
    ~RawLibcurlMulti() override {
        for (CURL* easy : handles_) {
            curl_easy_cleanup(easy);
        }
        curl_multi_cleanup(multi_);
    }

    bool run(int batch) override {
        int started = 0, finished = 0;
        bool failed = false;
        for (CURL* easy : handles_) {
            if (started < batch) {
                curl_multi_add_handle(multi_, easy);
                ++started;
            }
        }
        const auto deadline = std::chrono::steady_clock::now() +
                              std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                  std::chrono::duration<double>(kBound));
        while (finished < batch) {
            int running = 0;
            curl_multi_perform(multi_, &running);
            int left = 0;
            while (CURLMsg* message = curl_multi_info_read(multi_, &left)) {
                if (message->msg != CURLMSG_DONE) {
                    continue;
                }
                failed = failed || message->data.result != CURLE_OK;
                CURL* easy = message->easy_handle;
                curl_multi_remove_handle(multi_, easy);
                ++finished;
                if (started < batch) {
                    curl_multi_add_handle(multi_, easy);
                    ++started;
                }
            }
            if (finished < batch) {
                if (std::chrono::steady_clock::now() > deadline) {
                    return false;
                }
                curl_multi_poll(multi_, nullptr, 0, 100, nullptr);
            }
        }
        return !failed;
    }

  private:
    std::string url_;
    CURLM* multi_ = nullptr;
    std::vector<CURL*> handles_;
};

// Counts loads to their end and starts the next while there are some to start. Over HTTPS it
// anchors the server's certificate at each trust challenge.
class Relay final : public platform::UrlConnectionDelegate {
  public:
    Relay(platform::Bytes anchor, std::function<void(bool)> done)
        : anchor_(std::move(anchor)), done_(std::move(done)) {}
    void willSendRequestForAuthenticationChallenge(
        platform::UrlConnection&, const platform::AuthenticationChallenge& challenge) override {
        const auto& trust = challenge.protectionSpace().serverTrust();
        if (trust && !anchor_.empty()) {
            trust->setAnchorCertificates({anchor_});
            if (trust->evaluate() == platform::TrustResult::kUnspecified) {
                challenge.sender().useCredential(platform::Credential(trust), challenge);
                return;
            }
        }
        challenge.sender().cancelAuthenticationChallenge(challenge);
    }
    std::optional<std::string> serverTrustJudgement(platform::UrlConnection&) override {
        return "the benchmark server's certificate as the only anchor";
    }
    void didFinishLoading(platform::UrlConnection&) override { done_(true); }
    void didFailWithError(platform::UrlConnection&, const platform::Error&) override {
        done_(false);
    }

  private:
    platform::Bytes anchor_;
    std::function<void(bool)> done_;
};

// URL connections with their delegate called on the network thread, each end starting the
// next connection from there. The calling thread makes the batch's connections while the
// first of them are in flight, and lets the last batch's go once this one has started, as an
// app makes its requests while others are loading: made all before the first went out, they
// kept the network thread idle for the time it takes to make and free a batch of them, which
// raw libcurl, its handles made once, never pays.
class UrlConnections final : public RequestContender {
  public:
    UrlConnections(const RequestTarget& target, int inFlight)
        : request_(*platform::Url::parse(target.url)),
          anchor_(target.certificateDer),
          inFlight_(inFlight) {}

    bool run(int batch) override {
        std::mutex mutex;
        std::condition_variable changed;
        int made = 0, started = 0, finished = 0, failed = 0;
        std::vector<std::shared_ptr<platform::UrlConnection>> connections(
            static_cast<std::size_t>(batch));
        // Under the lock: starts those made while fewer than inFlight_ are loading.
        const auto startMade = [&] {
            for (; started < made && started - finished < inFlight_; ++started) {
                connections[static_cast<std::size_t>(started)]->start();
            }
        };
        // Called only while a connection of this batch loads, hence never after run returns,
        // although the last batch's connections, kept a while longer, still hold it.
        auto relay = std::make_shared<Relay>(anchor_, [&](bool ok) {
            std::lock_guard lock(mutex);
            ++finished;
            failed += ok ? 0 : 1;
            startMade();
            if (finished == batch) {
                changed.notify_all();
            }
        });
        for (int i = 0; i < batch; ++i) {
            auto connection = platform::UrlConnection::create(request_, relay);
            {
                std::lock_guard lock(mutex);
                connections[static_cast<std::size_t>(i)] = std::move(connection);
                ++made;
                startMade();
            }
            if (i + 1 == std::min(inFlight_, batch)) {
                lastBatch_.clear();
            }
        }
        std::unique_lock lock(mutex);
        const bool ended = changed.wait_for(lock, std::chrono::duration<double>(kBound),
                                            [&] { return finished == batch; });
        lock.unlock();
        if (ended) {
            lastBatch_ = std::move(connections);
        }
        return ended && failed == 0;
    }

  private:
    platform::UrlRequest request_;
    platform::Bytes anchor_;
    int inFlight_;
    std::vector<std::shared_ptr<platform::UrlConnection>> lastBatch_;
};

#ifdef RZ_HAVE_NETWORK_LAYER

// The server's certificate pinned: the chain must lead to it, for the host, and to nothing
// else. The machine's anchors do not know it, hence invalid certificates are let through to
// the pinning.
std::shared_ptr<RAZududeSecurityPolicy> pinningPolicy(const RequestTarget& target) {
    if (!isHttps(target)) {
        return nullptr;
    }
    auto policy =
        RAZududeSecurityPolicy::policyWithPinningMode(RAZududeSSLPinningMode::kCertificate);
    policy->setPinnedCertificates(std::vector<platform::Bytes>{target.certificateDer});
    policy->setAllowInvalidCertificates(true);
    return policy;
}

// What the share service does for each request: an HTTP request operation on an operation
// queue, its success block on the main queue.
class HttpRequestOperations final : public RequestContender {
  public:
    HttpRequestOperations(const RequestTarget& target, int inFlight)
        : request_(*platform::Url::parse(target.url)), policy_(pinningPolicy(target)) {
        queue_.setMaxConcurrentOperationCount(inFlight);
    }

    bool run(int batch) override {
        int succeeded = 0, failed = 0;
        std::vector<std::shared_ptr<platform::Operation>> operations;
        operations.reserve(static_cast<std::size_t>(batch));
        for (int i = 0; i < batch; ++i) {
            auto operation = RAZududeHTTPRequestOperation::create(request_);
            if (policy_) {
                operation->setSecurityPolicy(policy_);
            }
            operation->setCompletionBlockWithSuccess([&](const auto&, const auto&) { ++succeeded; },
                                                     [&](const auto&, const auto&) { ++failed; });
            operations.push_back(operation);
        }
        queue_.addOperations(operations, false);
        return platform::MainLoop::main().runUntil([&] { return succeeded + failed == batch; },
                                                   kBound) &&
               failed == 0;
    }

  private:
    platform::OperationQueue queue_;
    platform::UrlRequest request_;
    std::shared_ptr<RAZududeSecurityPolicy> policy_;
};

// The session layer's way: a session manager's data tasks, each completion on the main queue
// resuming the next task while there are some to start.
class SessionDataTasks final : public RequestContender {
  public:
    SessionDataTasks(const RequestTarget& target, int inFlight)
        : manager_(RAZududeURLSessionManager::create()),
          request_(*platform::Url::parse(target.url)),
          inFlight_(inFlight) {
        manager_->setResponseSerializer(RAZududeHTTPResponseSerializer::serializer());
        if (auto policy = pinningPolicy(target)) {
            manager_->setSecurityPolicy(policy);
        }
    }
    ~SessionDataTasks() override { manager_->invalidateSessionCancelingTasks(true); }

    bool run(int batch) override {
        int started = 0, finished = 0, failed = 0;
        std::function<void()> next = [&] {
            ++started;
            manager_
                ->dataTaskWithRequest(request_,
                                      [&](const auto&, const auto&, const auto& error) {
                                          ++finished;
                                          failed += error ? 1 : 0;
                                          if (started < batch) {
                                              next();
                                          }
                                      })
                ->resume();
        };
        while (started < std::min(inFlight_, batch)) {
            next();
        }
        return platform::MainLoop::main().runUntil([&] { return finished == batch; }, kBound) &&
               failed == 0;
    }

  private:
    std::shared_ptr<RAZududeURLSessionManager> manager_;
    platform::UrlRequest request_;
    int inFlight_;
};

#endif

double networkThreadCpuSeconds() {
    return testing_support::threadCpuSeconds(platform::NetworkThread::kName).value_or(0);
}

// Raw libcurl's batches run on the calling thread.
double callingThreadCpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

}  // namespace

std::unique_ptr<RequestContender> rawLibcurlMulti(const RequestTarget& target, int inFlight) {
    return std::make_unique<RawLibcurlMulti>(target, inFlight);
}

std::unique_ptr<RequestContender> urlConnections(const RequestTarget& target, int inFlight) {
    return std::make_unique<UrlConnections>(target, inFlight);
}

#ifdef RZ_HAVE_NETWORK_LAYER
std::unique_ptr<RequestContender> httpRequestOperations(const RequestTarget& target, int inFlight) {
    return std::make_unique<HttpRequestOperations>(target, inFlight);
}

std::unique_ptr<RequestContender> sessionDataTasks(const RequestTarget& target, int inFlight) {
    return std::make_unique<SessionDataTasks>(target, inFlight);
}
#endif

int requestsInFlight() {
    const char* set = getenv("RZ_IN_FLIGHT");
    return set ? std::max(1, atoi(set)) : 8;
}

namespace {

double secondsOf(const std::function<bool()>& batch, bool& ok) {
    const auto start = std::chrono::steady_clock::now();
    ok = batch() && ok;
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

void measureRawLibcurlAlone(benchmark::State& state, const RequestTarget& target) {
    auto raw = rawLibcurlMulti(target, requestsInFlight());
    bool ok = raw->run(kRequestBatch);
    for (auto _ : state) {
        state.SetIterationTime(secondsOf([&] { return raw->run(kRequestBatch); }, ok));
        if (!ok) {
            state.SkipWithError("requests failed or timed out");
            break;
        }
    }
    state.SetItemsProcessed(state.iterations() * kRequestBatch);
}

namespace {

// Raw libcurl and one of ours on the same target, one batch each behind them: connections, TLS
// sessions and verdicts are made there, before any timing.
struct Pairing {
    std::unique_ptr<RequestContender> raw;
    std::unique_ptr<RequestContender> ours;
    bool ok = false;
};

Pairing pairWithRawLibcurl(const RequestTarget& target, const ContenderFactory& ours) {
    const int inFlight = requestsInFlight();
    Pairing pairing{rawLibcurlMulti(target, inFlight), ours(target, inFlight)};
    pairing.ok = pairing.raw->run(kRequestBatch) && pairing.ours->run(kRequestBatch);
    return pairing;
}

}  // namespace

void measureSteadyAgainstRawLibcurl(benchmark::State& state, const RequestTarget& target,
                                    const ContenderFactory& ours) {
    Pairing pair = pairWithRawLibcurl(target, ours);
    double rawSeconds = 0, ourSeconds = 0, cpu = 0;
    // One contender's run of batches back to back, of which the first few are not timed.
    const auto steadyRun = [&](RequestContender& who, double& seconds, double* cpuSeconds) {
        for (int batch = 0; batch < kSteadyRun && pair.ok; ++batch) {
            const bool timed = batch >= kSteadyWarmUp;
            const double cpuBefore = timed && cpuSeconds ? networkThreadCpuSeconds() : 0;
            const double batchSeconds = secondsOf([&] { return who.run(kRequestBatch); }, pair.ok);
            if (timed) {
                seconds += batchSeconds;
                if (cpuSeconds) {
                    *cpuSeconds += networkThreadCpuSeconds() - cpuBefore;
                }
            }
        }
    };
    for (auto _ : state) {
        const double ourBefore = ourSeconds;
        steadyRun(*pair.raw, rawSeconds, nullptr);
        steadyRun(*pair.ours, ourSeconds, &cpu);
        state.SetIterationTime(ourSeconds - ourBefore);
        if (!pair.ok) {
            state.SkipWithError("requests failed or timed out");
            break;
        }
    }
    const std::int64_t requests =
        state.iterations() * (kSteadyRun - kSteadyWarmUp) * std::int64_t{kRequestBatch};
    state.SetItemsProcessed(requests);
    if (requests > 0 && ourSeconds > 0) {
        state.counters["ratio"] = rawSeconds / ourSeconds;
        state.counters["libcurl_per_second"] = static_cast<double>(requests) / rawSeconds;
        state.counters["net_thread_us_per_request"] = cpu * 1e6 / static_cast<double>(requests);
    }
}

void measureAgainstRawLibcurl(benchmark::State& state, const RequestTarget& target,
                              const ContenderFactory& ours) {
    Pairing pair = pairWithRawLibcurl(target, ours);
    double rawSeconds = 0, ourSeconds = 0, cpu = 0, rawCpu = 0;
    std::uint64_t handshakes = 0;
    for (auto _ : state) {
        const double rawCpuBefore = callingThreadCpuSeconds();
        rawSeconds += secondsOf([&] { return pair.raw->run(kRequestBatch); }, pair.ok);
        rawCpu += callingThreadCpuSeconds() - rawCpuBefore;
        const double cpuBefore = networkThreadCpuSeconds();
        const std::uint64_t handshakesBefore = target.handshakes ? target.handshakes() : 0;
        const double seconds = secondsOf([&] { return pair.ours->run(kRequestBatch); }, pair.ok);
        cpu += networkThreadCpuSeconds() - cpuBefore;
        handshakes += (target.handshakes ? target.handshakes() : 0) - handshakesBefore;
        ourSeconds += seconds;
        state.SetIterationTime(seconds);
        if (!pair.ok) {
            state.SkipWithError("requests failed or timed out");
            break;
        }
    }
    const double requests = static_cast<double>(state.iterations() * kRequestBatch);
    state.SetItemsProcessed(state.iterations() * kRequestBatch);
    if (requests > 0 && ourSeconds > 0) {
        state.counters["ratio"] = rawSeconds / ourSeconds;
        // Set against raw libcurl's row alone, this shows how far the pairing swayed it.
        state.counters["libcurl_per_second"] = requests / rawSeconds;
        // Where the scheduler put the server's threads sways what each request costs it.
        state.counters["libcurl_thread_us_per_request"] = rawCpu * 1e6 / requests;
        state.counters["net_thread_us_per_request"] = cpu * 1e6 / requests;
        if (target.handshakes) {
            state.counters["handshakes_per_request"] = static_cast<double>(handshakes) / requests;
        }
    }
}

bool registerRequestBenchmarks(const std::string& prefix, std::function<RequestTarget()> target) {
    benchmark::RegisterBenchmark(
        (prefix + "/raw_libcurl_multi").c_str(),
        [target](benchmark::State& state) { measureRawLibcurlAlone(state, target()); })
        ->UseManualTime();
    std::vector<std::pair<std::string, ContenderFactory>> ours = {
        {"url_connection", urlConnections}};
#ifdef RZ_HAVE_NETWORK_LAYER
    ours.emplace_back("http_request_operation", httpRequestOperations);
    ours.emplace_back("session_data_task", sessionDataTasks);
#endif
    // Named pairs, not bindings: clang 14 cannot capture a structured binding.
    for (const auto& contender : ours) {
        const ContenderFactory& make = contender.second;
        benchmark::RegisterBenchmark((prefix + "/" + contender.first).c_str(),
                                     [target, make](benchmark::State& state) {
                                         measureAgainstRawLibcurl(state, target(), make);
                                     })
            ->UseManualTime();
    }
    for (const auto& contender : ours) {
        const ContenderFactory& make = contender.second;
        benchmark::RegisterBenchmark((prefix + "/" + contender.first + "_sustained").c_str(),
                                     [target, make](benchmark::State& state) {
                                         measureSteadyAgainstRawLibcurl(state, target(), make);
                                     })
            ->UseManualTime();
    }
    return true;
}
