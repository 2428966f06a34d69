// The whole share road over loopback, as the demo walks it (examples/share_demo/ShareRoad.*):
// the icon sheet, the tap on renren, the share editor, the post enciphered to the share-service
// emulator (tests/peers/share_service.py) and the result the app's delegate hears. The user
// logs in to renren once, before the first measured share; every share after it opens the
// editor at once with the stored token.
//
//   share/one             one whole share per iteration: its wall time, the requests the
//                         service decoded for it, and the open files and resident memory of
//                         the process after the run
//   share/in_a_row/<n>    n shares one after the other per iteration (1, 10 and 100): the time
//                         and requests per share, and how the open files, resident memory and
//                         allocated heap grew per share over the run (0 when nothing is kept
//                         per share)
//
// The road runs the main loop on its manual clock: the screens' transitions take no real time,
// so the figures are the SDK's work, its writes to the app's folders (under TMPDIR) and the
// service's replies.
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <stdlib.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>

#include "SocialSDK/core/data/RAZududeResponseEntity.h"
#include "examples/share_demo/ServiceProcess.h"
#include "examples/share_demo/ShareRoad.h"
#include "platform/AppFolders.h"
#include "platform/Bundle.h"

namespace {

constexpr const char* kPlatform = "renren";
constexpr int kLoginKind = 9;

using Clock = std::chrono::steady_clock;

double openFiles() {
    return static_cast<double>(std::distance(std::filesystem::directory_iterator("/proc/self/fd"),
                                             std::filesystem::directory_iterator()));
}

double residentKilobytes() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmRSS:", 0) == 0) {
            return std::stod(line.substr(6));
        }
    }
    return 0;
}

// Bytes the allocator has handed out and not had back: what the process holds, without the
// pages the allocator keeps for later that resident memory also counts.
double heapInUse() {
    return static_cast<double>(mallinfo2().uordblks);
}

// The emulator, the app's bundle folder pointing at it, and the app, for the whole run: the
// SDK keeps its set-up in shared instances, so there is one of each per process.
class Road {
  public:
    explicit Road(const std::filesystem::path& folder)
        : service_(SHARE_DEMO_EMULATOR, share_demo::kDemoAppKey) {
        share_demo::makeBundleFolder(folder / "App", service_.baseUrl(),
                                     platform::Bundle::mainBundle().bundlePath());
        platform::Bundle::setMainBundlePath(folder / "App");
        platform::AppFolders::setRoot(folder / "home");
        share_demo::ShareApp::Settings settings;
        settings.serviceRequests = [this](double seconds) {
            return service_.takeRequests(0, seconds);
        };
        settings.waitSeconds = 10;
        app_ = std::make_unique<share_demo::ShareApp>(std::move(settings));
        std::string error;
        if (share(error) < 0) {
            throw std::runtime_error("the login share failed: " + error);
        }
    }
    Road(const Road&) = delete;
    Road& operator=(const Road&) = delete;

    // One whole share: the requests it sent, or -1 with the reason when it did not go through
    // or had to log in again (then it is not the road measured).
    long share(std::string& error) {
        share_demo::ShareOutcome outcome;
        try {
            outcome = app_->share(kPlatform);
        } catch (const std::exception& e) {
            error = e.what();
            return -1;
        }
        if (!outcome.result) {
            error = "the app's delegate heard no result";
            return -1;
        }
        if (outcome.result->responseCode() != kRAZududeResponseSuccess) {
            error = "the share failed with code " + std::to_string(outcome.result->responseCode());
            return -1;
        }
        if (loggedIn_) {
            for (const auto& request : outcome.requests) {
                if (request["kind"].isNumber() && request["kind"].intValue() == kLoginKind) {
                    error = "the share logged in again: the stored token was not used";
                    return -1;
                }
            }
        }
        loggedIn_ = true;
        return static_cast<long>(outcome.requests.size());
    }

  private:
    share_demo::ServiceProcess service_;
    std::unique_ptr<share_demo::ShareApp> app_;  // goes before the service stops
    bool loggedIn_ = false;
};

Road* gRoad = nullptr;

// Runs `count` shares; their requests, or -1 after reporting the failure to the benchmark.
long shares(benchmark::State& state, long count) {
    long requests = 0;
    for (long i = 0; i < count; ++i) {
        std::string error;
        long sent = gRoad->share(error);
        if (sent < 0) {
            state.SkipWithError(error.c_str());
            return -1;
        }
        requests += sent;
    }
    return requests;
}

void BM_OneShare(benchmark::State& state) {
    long requests = 0;
    for (auto _ : state) {
        long sent = shares(state, 1);
        if (sent < 0) {
            return;
        }
        requests += sent;
    }
    state.counters["requests_per_share"] =
        benchmark::Counter(static_cast<double>(requests), benchmark::Counter::kAvgIterations);
    state.counters["open_files"] = openFiles();
    state.counters["resident_kB"] = residentKilobytes();
}
BENCHMARK(BM_OneShare)->Name("share/one")->UseRealTime()->Unit(benchmark::kMillisecond);

void BM_SharesInARow(benchmark::State& state) {
    const long row = state.range(0);
    long requests = 0;
    double seconds = 0;
    const double filesBefore = openFiles();
    const double memoryBefore = residentKilobytes();
    const double heapBefore = heapInUse();
    for (auto _ : state) {
        const auto start = Clock::now();
        long sent = shares(state, row);
        seconds += std::chrono::duration<double>(Clock::now() - start).count();
        if (sent < 0) {
            return;
        }
        requests += sent;
    }
    const double total = static_cast<double>(row * state.iterations());
    state.counters["ms_per_share"] = seconds * 1e3 / total;
    state.counters["requests_per_share"] = static_cast<double>(requests) / total;
    state.counters["open_files_growth_per_share"] = (openFiles() - filesBefore) / total;
    state.counters["resident_kB_growth_per_share"] = (residentKilobytes() - memoryBefore) / total;
    state.counters["heap_bytes_growth_per_share"] = (heapInUse() - heapBefore) / total;
}
BENCHMARK(BM_SharesInARow)
    ->Name("share/in_a_row")
    ->RangeMultiplier(10)
    ->Range(1, 100)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    // The app's folders and bundle are this run's, not the user's.
    std::string pattern =
        (std::filesystem::temp_directory_path() / "rz-share-road-bench-XXXXXX").string();
    if (!mkdtemp(pattern.data())) {
        std::fprintf(stderr, "share_road_bench: cannot make a temporary folder\n");
        return 1;
    }
    const std::filesystem::path folder = pattern;
    int status = 0;
    try {
        Road road(folder);
        gRoad = &road;
        benchmark::RunSpecifiedBenchmarks();
        gRoad = nullptr;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "share_road_bench: %s\n", error.what());
        status = 1;
    }
    benchmark::Shutdown();
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
    return status;
}
