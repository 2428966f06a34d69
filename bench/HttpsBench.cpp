// Requests per second over loopback HTTPS keep-alive: raw libcurl multi reusing its
// connections, the platform's URL connection, the network layer's session data tasks and its
// HTTP request operations, all doing the same requests with the same number in flight against
// one OpenSSL server whose self-signed certificate each contender anchors its own way (libcurl
// with it as its CA file, ours through the trust challenge and the security policy).
#include <benchmark/benchmark.h>
#include <curl/curl.h>
#include <unistd.h>

#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>

#include "TlsLoopbackServer.h"
#include "platform/MainLoop.h"
#include "platform/Operation.h"
#include "platform/net/ServerTrust.h"
#include "platform/net/UrlConnection.h"

#if __has_include("SocialSDK/framework/network/RAZududeHTTPRequestOperation.h")
#define RZ_HAVE_NETWORK_LAYER 1
#include "SocialSDK/framework/network/RAZududeHTTPRequestOperation.h"
#include "SocialSDK/framework/network/RAZududeSecurityPolicy.h"
#include "SocialSDK/framework/network/RAZududeURLResponseSerialization.h"
#include "SocialSDK/framework/network/RAZududeURLSessionManager.h"
#endif

namespace {

constexpr int kBatch = 256;  // requests per iteration
const int kInFlight = getenv("RZ_IN_FLIGHT") ? std::max(1, atoi(getenv("RZ_IN_FLIGHT"))) : 8;
constexpr double kBound = 120;  // seconds an iteration may take before it counts as failed

TlsLoopbackServer& server() {
    static auto* s = new TlsLoopbackServer;  // never destroyed: loads may outlive the run
    return *s;
}

// CPU seconds used so far by the process's thread of that name (0 while there is none).
double threadCpuSeconds(const std::string& name) {
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
        std::ifstream comm(task.path() / "comm");
        std::string found;
        std::getline(comm, found);
        if (found != name) {
            continue;
        }
        std::ifstream stat(task.path() / "stat");
        std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
        std::istringstream fields(text.substr(text.rfind(')') + 2));
        std::string skipped;
        for (int field = 3; field < 14; ++field) {
            fields >> skipped;
        }
        double user = 0, system = 0;
        fields >> user >> system;
        return (user + system) / static_cast<double>(sysconf(_SC_CLK_TCK));
    }
    return 0;
}

// What one contender's run cost: the network thread's CPU time and the server's handshakes,
// per request.
class RunCost {
  public:
    RunCost() : cpu_(networkThread()), handshakes_(server().handshakes()) {}
    void report(benchmark::State& state) const {
        const double requests = static_cast<double>(state.iterations() * kBatch);
        state.SetItemsProcessed(state.iterations() * kBatch);
        if (requests > 0) {
            state.counters["net_thread_us_per_request"] = (networkThread() - cpu_) * 1e6 / requests;
            state.counters["handshakes_per_request"] =
                static_cast<double>(server().handshakes() - handshakes_) / requests;
        }
    }

  private:
    // The name is cut to the 15 characters a thread name holds.
    static double networkThread() { return threadCpuSeconds("RAZududeNetwork"); }
    double cpu_;
    std::uint64_t handshakes_;
};

std::size_t discard(char*, std::size_t size, std::size_t count, void*) {
    return size * count;
}

void BM_RawLibcurlMulti(benchmark::State& state) {
    curl_global_init(CURL_GLOBAL_DEFAULT);
    CURLM* multi = curl_multi_init();
    const std::string url = server().url("/small");
    curl_blob anchor{const_cast<char*>(server().certificatePem().data()),
                     server().certificatePem().size(), CURL_BLOB_COPY};
    std::vector<CURL*> handles;
    for (int i = 0; i < kInFlight; ++i) {
        CURL* easy = curl_easy_init();
        curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
        curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &discard);
        curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(easy, CURLOPT_CAINFO_BLOB, &anchor);
        curl_easy_setopt(easy, CURLOPT_CAPATH, nullptr);
        handles.push_back(easy);
    }
    const std::uint64_t handshakes = server().handshakes();
    bool failed = false;
    for (auto _ : state) {
        int started = 0, finished = 0;
        for (CURL* easy : handles) {
            curl_multi_add_handle(multi, easy);
            ++started;
        }
        while (finished < kBatch) {
            int running = 0;
            curl_multi_perform(multi, &running);
            int left = 0;
            while (CURLMsg* message = curl_multi_info_read(multi, &left)) {
                if (message->msg != CURLMSG_DONE) {
                    continue;
                }
                failed = failed || message->data.result != CURLE_OK;
                CURL* easy = message->easy_handle;
                curl_multi_remove_handle(multi, easy);
                ++finished;
                if (started < kBatch) {
                    curl_multi_add_handle(multi, easy);
                    ++started;
                }
            }
            if (finished < kBatch) {
                curl_multi_poll(multi, nullptr, 0, 100, nullptr);
            }
        }
        if (failed) {
            state.SkipWithError("requests failed");
            break;
        }
    }
    for (CURL* easy : handles) {
        curl_easy_cleanup(easy);
    }
    curl_multi_cleanup(multi);
    state.SetItemsProcessed(state.iterations() * kBatch);
    state.counters["handshakes_per_request"] =
        static_cast<double>(server().handshakes() - handshakes) /
        static_cast<double>(std::max<std::int64_t>(1, state.iterations() * kBatch));
}
BENCHMARK(BM_RawLibcurlMulti)->Name("https/raw_libcurl_multi")->UseRealTime();

// Anchors the server's certificate for each challenge; counts loads to their end and starts
// the next one while there are some to start.
class AnchoringRelay : public platform::UrlConnectionDelegate {
  public:
    explicit AnchoringRelay(std::function<void(bool)> done) : done_(std::move(done)) {}
    void willSendRequestForAuthenticationChallenge(
        platform::UrlConnection&, const platform::AuthenticationChallenge& challenge) override {
        const auto& trust = challenge.protectionSpace().serverTrust();
        if (trust) {
            trust->setAnchorCertificates({server().certificateDer()});
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
    std::function<void(bool)> done_;
};

void BM_UrlConnection(benchmark::State& state) {
    const RunCost cost;
    const platform::UrlRequest request(*platform::Url::parse(server().url("/small")));
    for (auto _ : state) {
        std::mutex mutex;
        std::condition_variable changed;
        int started = 0, finished = 0, failed = 0;
        std::vector<std::shared_ptr<platform::UrlConnection>> connections;
        connections.reserve(kBatch);
        auto relay = std::make_shared<AnchoringRelay>([&](bool ok) {
            std::lock_guard lock(mutex);
            ++finished;
            failed += ok ? 0 : 1;
            if (started < kBatch) {
                connections[static_cast<std::size_t>(started++)]->start();
            }
            if (finished == kBatch) {
                changed.notify_all();
            }
        });
        for (int i = 0; i < kBatch; ++i) {
            connections.push_back(platform::UrlConnection::create(request, relay));
        }
        {
            std::lock_guard lock(mutex);
            for (; started < kInFlight; ++started) {
                connections[static_cast<std::size_t>(started)]->start();
            }
        }
        std::unique_lock lock(mutex);
        if (!changed.wait_for(lock, std::chrono::duration<double>(kBound),
                              [&] { return finished == kBatch; }) ||
            failed > 0) {
            state.SkipWithError("requests failed or timed out");
            break;
        }
    }
    cost.report(state);
}
BENCHMARK(BM_UrlConnection)->Name("https/url_connection")->UseRealTime();

#ifdef RZ_HAVE_NETWORK_LAYER

// The server's certificate pinned: the chain must lead to it, for the host, and to nothing
// else. The machine's anchors do not know it, hence invalid certificates are let through to
// the pinning.
std::shared_ptr<RAZududeSecurityPolicy> pinnedPolicy() {
    auto policy =
        RAZududeSecurityPolicy::policyWithPinningMode(RAZududeSSLPinningMode::kCertificate);
    policy->setPinnedCertificates(std::vector<platform::Bytes>{server().certificateDer()});
    policy->setAllowInvalidCertificates(true);
    return policy;
}

// A session manager's data tasks, the next one resumed from the completion of the last, their
// completion handlers on the main queue.
void BM_SessionDataTask(benchmark::State& state) {
    auto manager = RAZududeURLSessionManager::create();
    manager->setResponseSerializer(RAZududeHTTPResponseSerializer::serializer());
    manager->setSecurityPolicy(pinnedPolicy());
    const platform::UrlRequest request(*platform::Url::parse(server().url("/small")));
    auto& loop = platform::MainLoop::main();
    const RunCost cost;
    for (auto _ : state) {
        int started = 0, finished = 0, failed = 0;
        std::function<void()> next = [&] {
            ++started;
            manager
                ->dataTaskWithRequest(request,
                                      [&](const auto&, const auto&, const auto& error) {
                                          ++finished;
                                          failed += error ? 1 : 0;
                                          if (started < kBatch) {
                                              next();
                                          }
                                      })
                ->resume();
        };
        while (started < kInFlight) {
            next();
        }
        if (!loop.runUntil([&] { return finished == kBatch; }, kBound) || failed > 0) {
            state.SkipWithError("requests failed or timed out");
            break;
        }
    }
    cost.report(state);
    manager->invalidateSessionCancelingTasks(true);
}
BENCHMARK(BM_SessionDataTask)->Name("https/session_data_task")->UseRealTime();

// HTTP request operations on an operation queue, their success blocks on the main queue.
void BM_HttpRequestOperation(benchmark::State& state) {
    platform::OperationQueue queue;
    queue.setMaxConcurrentOperationCount(kInFlight);
    const platform::UrlRequest request(*platform::Url::parse(server().url("/small")));
    const auto policy = pinnedPolicy();
    auto& loop = platform::MainLoop::main();
    const RunCost cost;
    for (auto _ : state) {
        int succeeded = 0;
        int failed = 0;
        std::vector<std::shared_ptr<platform::Operation>> operations;
        operations.reserve(kBatch);
        for (int i = 0; i < kBatch; ++i) {
            auto operation = RAZududeHTTPRequestOperation::create(request);
            operation->setSecurityPolicy(policy);
            operation->setCompletionBlockWithSuccess([&](const auto&, const auto&) { ++succeeded; },
                                                     [&](const auto&, const auto&) { ++failed; });
            operations.push_back(operation);
        }
        queue.addOperations(operations, false);
        if (!loop.runUntil([&] { return succeeded + failed == kBatch; }, kBound) || failed > 0) {
            state.SkipWithError("requests failed or timed out");
            break;
        }
    }
    cost.report(state);
}
BENCHMARK(BM_HttpRequestOperation)->Name("https/http_request_operation")->UseRealTime();

#endif

}  // namespace

BENCHMARK_MAIN();
