// Requests per second over loopback keep-alive: raw libcurl multi, the platform's URL
// connection, and the network layer's HTTP request operations, all doing the same requests
// with the same number in flight. And the peak memory of a 1 GiB upload and download.
#include <benchmark/benchmark.h>
#include <curl/curl.h>
#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <thread>

#include "LoopbackServer.h"
#include "platform/MainLoop.h"
#include "platform/Operation.h"
#include "platform/net/UrlConnection.h"

#if __has_include("SocialSDK/framework/network/RAZududeHTTPRequestOperation.h")
#define RZ_HAVE_NETWORK_LAYER 1
#include "SocialSDK/framework/network/RAZududeHTTPRequestOperation.h"
#include "SocialSDK/framework/network/RAZududeURLRequestSerialization.h"
#include "SocialSDK/framework/network/RAZududeURLSessionManager.h"
#endif

namespace {

constexpr int kBatch = 256;  // requests per iteration
// At once, for every contender (RZ_IN_FLIGHT changes it, to see latency against throughput).
const int kInFlight = getenv("RZ_IN_FLIGHT") ? std::max(1, atoi(getenv("RZ_IN_FLIGHT"))) : 8;
constexpr std::uint64_t kGiB = 1ull << 30;

LoopbackServer& server() {
    static auto* s = new LoopbackServer;
    return *s;
}

// The resident set size now, in bytes.
std::uint64_t residentBytes() {
    std::ifstream statm("/proc/self/statm");
    std::uint64_t pages = 0, resident = 0;
    statm >> pages >> resident;
    return resident * static_cast<std::uint64_t>(sysconf(_SC_PAGESIZE));
}

// Samples the resident set while it lives; peakGrowth() is the most it rose above the start.
class MemoryWatch {
  public:
    MemoryWatch() : baseline_(residentBytes()), peak_(baseline_) {
        thread_ = std::thread([this] {
            while (!done_) {
                peak_ = std::max<std::uint64_t>(peak_, residentBytes());
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
            }
        });
    }
    ~MemoryWatch() { stop(); }
    void stop() {
        if (!done_.exchange(true)) {
            thread_.join();
        }
    }
    double peakGrowthMiB() const {
        return static_cast<double>(peak_ - std::min(peak_.load(), baseline_)) / (1 << 20);
    }

  private:
    std::uint64_t baseline_;
    std::atomic<std::uint64_t> peak_;
    std::atomic<bool> done_{false};
    std::thread thread_;
};

// CPU seconds the network thread has used so far (0 before it exists): the thread every
// request crosses, whose time per request bounds the rate whatever the machine's load.
double networkThreadCpuSeconds() {
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
        std::ifstream comm(task.path() / "comm");
        std::string name;
        std::getline(comm, name);
        if (name != "RAZududeNetwork") {
            continue;
        }
        std::ifstream stat(task.path() / "stat");
        const std::string text((std::istreambuf_iterator<char>(stat)),
                               std::istreambuf_iterator<char>());
        std::istringstream fields(text.substr(text.rfind(')') + 2));
        std::string field;
        double ticks = 0;
        for (int i = 3; i <= 15 && fields >> field; ++i) {
            if (i == 14 || i == 15) {  // user and system time
                ticks += std::stod(field);
            }
        }
        return ticks / static_cast<double>(sysconf(_SC_CLK_TCK));
    }
    return 0;
}

// Reports the network thread's CPU time per request over the benchmark's run.
class NetworkThreadCpu {
  public:
    NetworkThreadCpu() : start_(networkThreadCpuSeconds()) {}
    void report(benchmark::State& state) const {
        const double requests = static_cast<double>(state.iterations() * kBatch);
        if (requests > 0) {
            state.counters["net_thread_us_per_request"] =
                (networkThreadCpuSeconds() - start_) * 1e6 / requests;
        }
    }

  private:
    double start_;
};

std::size_t discard(char*, std::size_t size, std::size_t count, void*) {
    return size * count;
}

void BM_RawLibcurlMulti(benchmark::State& state) {
    curl_global_init(CURL_GLOBAL_DEFAULT);
    CURLM* multi = curl_multi_init();
    std::vector<CURL*> handles;
    const std::string url = server().url("/small");
    for (int i = 0; i < kInFlight; ++i) {
        CURL* easy = curl_easy_init();
        curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
        curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &discard);
        curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
        handles.push_back(easy);
    }
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
    }
    for (CURL* easy : handles) {
        curl_easy_cleanup(easy);
    }
    curl_multi_cleanup(multi);
    state.SetItemsProcessed(state.iterations() * kBatch);
}
BENCHMARK(BM_RawLibcurlMulti)->Name("requests/raw_libcurl_multi")->UseRealTime();

// Counts loads to their end; starts the next one while there are some to start.
class Relay : public platform::UrlConnectionDelegate {
  public:
    explicit Relay(std::function<void()> done) : done_(std::move(done)) {}
    void didFinishLoading(platform::UrlConnection&) override { done_(); }
    void didFailWithError(platform::UrlConnection&, const platform::Error&) override { done_(); }

  private:
    std::function<void()> done_;
};

void BM_UrlConnection(benchmark::State& state) {
    const NetworkThreadCpu cpu;
    const platform::UrlRequest request(*platform::Url::parse(server().url("/small")));
    for (auto _ : state) {
        std::mutex mutex;
        std::condition_variable changed;
        int started = 0, finished = 0;
        std::vector<std::shared_ptr<platform::UrlConnection>> connections;
        connections.reserve(kBatch);
        auto relay = std::make_shared<Relay>([&] {
            std::lock_guard lock(mutex);
            ++finished;
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
        changed.wait(lock, [&] { return finished == kBatch; });
    }
    state.SetItemsProcessed(state.iterations() * kBatch);
    cpu.report(state);
}
BENCHMARK(BM_UrlConnection)->Name("requests/url_connection")->UseRealTime();

#ifdef RZ_HAVE_NETWORK_LAYER

// What the share service does for each request: an HTTP request operation on an operation
// queue, its success block on the main queue.
void BM_HttpRequestOperation(benchmark::State& state) {
    platform::OperationQueue queue;
    queue.setMaxConcurrentOperationCount(kInFlight);
    const platform::UrlRequest request(*platform::Url::parse(server().url("/small")));
    auto& loop = platform::MainLoop::main();
    const NetworkThreadCpu cpu;
    for (auto _ : state) {
        int succeeded = 0;
        int failed = 0;
        std::vector<std::shared_ptr<platform::Operation>> operations;
        operations.reserve(kBatch);
        for (int i = 0; i < kBatch; ++i) {
            auto operation = RAZududeHTTPRequestOperation::create(request);
            operation->setCompletionBlockWithSuccess([&](const auto&, const auto&) { ++succeeded; },
                                                     [&](const auto&, const auto&) { ++failed; });
            operations.push_back(operation);
        }
        queue.addOperations(operations, false);
        if (!loop.runUntil([&] { return succeeded + failed == kBatch; }, 60) || failed > 0) {
            state.SkipWithError("requests failed or timed out");
            break;
        }
    }
    state.SetItemsProcessed(state.iterations() * kBatch);
    cpu.report(state);
}
BENCHMARK(BM_HttpRequestOperation)->Name("requests/http_request_operation")->UseRealTime();

// The session layer's way: data tasks of a session manager, each completion on the main queue
// resuming the next task while there are some to start.
void BM_SessionDataTask(benchmark::State& state) {
    auto manager = RAZududeURLSessionManager::create();
    manager->setResponseSerializer(RAZududeHTTPResponseSerializer::serializer());
    const platform::UrlRequest request(*platform::Url::parse(server().url("/small")));
    auto& loop = platform::MainLoop::main();
    const NetworkThreadCpu cpu;
    for (auto _ : state) {
        int started = 0;
        int succeeded = 0;
        int failed = 0;
        std::function<void()> startOne = [&] {
            ++started;
            manager
                ->dataTaskWithRequest(request,
                                      [&](const auto&, const auto&, const auto& error) {
                                          ++(error ? failed : succeeded);
                                          if (started < kBatch) {
                                              startOne();
                                          }
                                      })
                ->resume();
        };
        while (started < kInFlight) {
            startOne();
        }
        if (!loop.runUntil([&] { return succeeded + failed == kBatch; }, 60) || failed > 0) {
            state.SkipWithError("requests failed or timed out");
            break;
        }
    }
    manager->invalidateSessionCancelingTasks(true);
    state.SetItemsProcessed(state.iterations() * kBatch);
    cpu.report(state);
}
BENCHMARK(BM_SessionDataTask)->Name("requests/session_data_task")->UseRealTime();

// A sparse file of the size: its blocks read as zeros without taking the disk.
std::filesystem::path sparseFile(std::uint64_t size) {
    auto path = std::filesystem::temp_directory_path() / "rz-network-bench-upload";
    const int fd = ::open(path.c_str(), O_CREAT | O_TRUNC | O_WRONLY, 0600);
    if (fd < 0 || ftruncate(fd, static_cast<off_t>(size)) != 0) {
        throw std::runtime_error("cannot make the upload file");
    }
    ::close(fd);
    return path;
}

bool runOperation(const std::shared_ptr<RAZududeHTTPRequestOperation>& operation) {
    bool done = false;
    bool ok = false;
    operation->setCompletionBlockWithSuccess([&](const auto&, const auto&) { done = ok = true; },
                                             [&](const auto&, const auto&) { done = true; });
    platform::OperationQueue queue;
    queue.addOperation(operation);
    platform::MainLoop::main().runUntil([&] { return done; }, 600);
    return ok;
}

void BM_MultipartUploadFromFile(benchmark::State& state) {
    const auto file = sparseFile(kGiB);
    for (auto _ : state) {
        const std::uint64_t before = server().bytesReceived();
        MemoryWatch memory;
        platform::Error error;
        auto request = RAZududeHTTPRequestSerializer::serializer()->multipartFormRequestWithMethod(
            "POST", server().url("/sink"), platform::Value(platform::Map{{"kind", "bench"}}),
            [&](RAZududeMultipartFormData& form) {
                form.appendPartWithFileURL(platform::Url::fileUrl(file), "pic", "pic.jpg",
                                           "file-data", &error);
            },
            &error);
        if (!request || !runOperation(RAZududeHTTPRequestOperation::create(*request))) {
            state.SkipWithError("the upload failed");
            break;
        }
        memory.stop();
        state.counters["peak_rss_growth_MiB"] = memory.peakGrowthMiB();
        state.counters["body_MiB"] =
            static_cast<double>(server().bytesReceived() - before) / (1 << 20);
    }
    std::filesystem::remove(file);
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(kGiB));
}
BENCHMARK(BM_MultipartUploadFromFile)
    ->Name("memory/multipart_upload_1GiB_from_file")
    ->Iterations(1)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

void BM_DownloadToFile(benchmark::State& state) {
    const auto file = std::filesystem::temp_directory_path() / "rz-network-bench-download";
    for (auto _ : state) {
        MemoryWatch memory;
        auto operation = RAZududeHTTPRequestOperation::create(platform::UrlRequest(
            *platform::Url::parse(server().url("/big/" + std::to_string(kGiB)))));
        operation->setOutputStream(platform::OutputStream::toFile(file, false));
        if (!runOperation(operation) || std::filesystem::file_size(file) != kGiB) {
            state.SkipWithError("the download failed");
            break;
        }
        memory.stop();
        state.counters["peak_rss_growth_MiB"] = memory.peakGrowthMiB();
    }
    std::filesystem::remove(file);
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(kGiB));
}
BENCHMARK(BM_DownloadToFile)
    ->Name("memory/download_1GiB_to_file")
    ->Iterations(1)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

#endif

}  // namespace

BENCHMARK_MAIN();
