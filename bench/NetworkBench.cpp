// Requests over loopback HTTP keep-alive: raw libcurl multi, the platform's URL connection, and
// the network layer's HTTP request operations and session data tasks, each against raw
// libcurl in the same iterations (see RequestContenders.h). And the peak memory of a 1 GiB
// upload and download.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <thread>

#include "LoopbackServer.h"
#include "RequestContenders.h"
#include "ServerPlacement.h"
#include "platform/MainLoop.h"
#include "platform/Operation.h"

#ifdef RZ_HAVE_NETWORK_LAYER
#include "SocialSDK/framework/network/RAZududeHTTPRequestOperation.h"
#include "SocialSDK/framework/network/RAZududeURLRequestSerialization.h"
#endif

namespace {

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

RequestTarget target() {
    return {.url = server().url("/small")};
}

const bool registered = registerRequestBenchmarks("requests", target);

#ifdef RZ_HAVE_NETWORK_LAYER

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

int main(int argc, char** argv) {
    return bench::runBenchmarks(argc, argv);
}
