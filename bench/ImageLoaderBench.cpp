// A hundred image views of one picture URL over loopback: one download for all of them, and
// the time until the last view shows the picture (its delegate hears of it), set against a plain
// libcurl download of the same bytes in the same iterations (ratio = libcurl's time / ours, so 1
// means as fast).
//
//   image/hundred_views/<side>        the views, against libcurl alone (ratio) and against
//                                     libcurl plus decoding the picture (ratio_with_decode),
//                                     the least any client does before it can show it
//   image/hundred_observers_raw/<side>  a hundred observers asking for the bytes in GIF mode,
//                                     where nothing is decoded: the loader's own cost
//   image/hundred_registrations       the main thread's part before the download starts:
//                                     the hundred views registering, timed alone
//
// The picture is a side × side PNG of a gradient with grain, as photographs compress.
#include <benchmark/benchmark.h>
#include <curl/curl.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "LoopbackServer.h"
#include "ServerPlacement.h"
#include "SocialSDK/core/image/RAZududeImageLoader.h"
#include "SocialSDK/ui/image/RAZududeImageView.h"
#include "platform/AppFolders.h"
#include "platform/MainLoop.h"
#include "platform/graphics/Image.h"

namespace {

constexpr int kViews = 100;
constexpr double kWait = 30;

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

LoopbackServer& server() {
    static auto* s = new LoopbackServer;
    return *s;
}

struct Served {
    std::string path;
    std::size_t bytes;
};

Served servePicture(int side) {
    platform::Image image(side, side);
    std::mt19937 random(static_cast<unsigned>(side));
    std::uint32_t* pixels = image.mutableData();
    for (int i = 0; i < side * side; ++i) {
        const auto x = static_cast<std::uint32_t>(i % side);
        const auto y = static_cast<std::uint32_t>(i / side);
        const std::uint32_t grain = random() & 0x0F;
        pixels[i] =
            0xFF000000u | ((x + grain) & 0xFF) << 16 | ((y + grain) & 0xFF) << 8 | ((x ^ y) & 0xFF);
    }
    const platform::Bytes png = image.encodePng();
    const std::string path = "/picture-" + std::to_string(side) + ".png";
    server().setBody(path, std::string(png.begin(), png.end()), "image/png");
    return {path, png.size()};
}

std::size_t collect(char* data, std::size_t size, std::size_t count, void* user) {
    auto* body = static_cast<platform::Bytes*>(user);
    body->insert(body->end(), data, data + size * count);
    return size * count;
}

// A plain libcurl download: one easy handle, kept between downloads as a client keeps it.
class PlainDownload {
  public:
    explicit PlainDownload(const std::string& url) : easy_(curl_easy_init()) {
        curl_easy_setopt(easy_, CURLOPT_URL, url.c_str());
        curl_easy_setopt(easy_, CURLOPT_WRITEFUNCTION, &collect);
        curl_easy_setopt(easy_, CURLOPT_WRITEDATA, &body_);
        curl_easy_setopt(easy_, CURLOPT_NOSIGNAL, 1L);
    }
    ~PlainDownload() { curl_easy_cleanup(easy_); }
    PlainDownload(const PlainDownload&) = delete;
    PlainDownload& operator=(const PlainDownload&) = delete;

    bool run() {
        body_.clear();
        return curl_easy_perform(easy_) == CURLE_OK && !body_.empty();
    }
    const platform::Bytes& body() const { return body_; }

  private:
    CURL* easy_;
    platform::Bytes body_;
};

// What the hundred heard, and when the last of them heard it.
struct Tally {
    void heard(bool picture) {
        ++(picture ? loaded : failed);
        if (all()) {
            last = Clock::now();
        }
    }
    bool all() const { return loaded + failed == kViews; }
    // Negative when not all heard, or not all of the picture.
    double secondsFrom(Clock::time_point start, bool done) const {
        return done && failed == 0 ? std::chrono::duration<double>(last - start).count() : -1;
    }

    int loaded = 0;
    int failed = 0;
    Clock::time_point last;
};

class ViewCounter : public RZImageViewDelegate {
  public:
    void imageViewLoadedImage(RAZududeImageView&) override { tally.heard(true); }
    void imageViewFailedToLoadImage(RAZududeImageView&, const platform::Error&) override {
        tally.heard(false);
    }
    Tally tally;
};

// Seconds from giving the views the URL to the last one showing the picture (as its delegate
// hears it, whatever the loader does after); negative when it did not come.
double hundredViews(const std::string& url, const platform::ImagePtr& placeholder) {
    auto counter = std::make_shared<ViewCounter>();
    std::vector<std::shared_ptr<RAZududeImageView>> views;
    views.reserve(kViews);
    for (int i = 0; i < kViews; ++i) {
        views.push_back(std::make_shared<RAZududeImageView>(placeholder, counter));
    }
    const auto start = Clock::now();
    for (const auto& view : views) {
        view->setImageURL(url);
    }
    const bool done =
        platform::MainLoop::main().runUntil([&] { return counter->tally.all(); }, kWait);
    return counter->tally.secondsFrom(start, done);
}

class BytesCounter : public RZImageLoaderObserver {
  public:
    unsigned imageLoaderMethods() const override { return kDidLoad | kDidFailToLoad; }
    void imageLoaderDidLoad(const RZImageLoaderNotification&) override { tally->heard(true); }
    void imageLoaderDidFailToLoad(const RZImageLoaderNotification&) override {
        tally->heard(false);
    }
    Tally* tally = nullptr;
};

// The same with observers that take the bytes as they are (GIF mode).
double hundredRawObservers(const std::string& url) {
    auto& loader = RAZududeImageLoader::sharedImageLoader();
    Tally tally;
    std::vector<std::shared_ptr<BytesCounter>> observers;
    for (int i = 0; i < kViews; ++i) {
        observers.push_back(std::make_shared<BytesCounter>());
        observers.back()->tally = &tally;
    }
    const auto start = Clock::now();
    for (const auto& observer : observers) {
        loader.dataForURL(url, observer, true);
    }
    const bool done = platform::MainLoop::main().runUntil([&] { return tally.all(); }, kWait);
    for (const auto& observer : observers) {
        loader.removeObserver(*observer);
    }
    loader.setIsGif(false);
    return tally.secondsFrom(start, done);
}

void BM_HundredViews(benchmark::State& state) {
    const int side = static_cast<int>(state.range(0));
    const auto [path, bytes] = servePicture(side);
    const std::string url = server().url(path);
    const auto placeholder = std::make_shared<const platform::Image>(4, 4);
    auto& loader = RAZududeImageLoader::sharedImageLoader();
    PlainDownload plain(url);
    // Both sides start with a connection to the server.
    loader.clearCacheForURL(url);
    if (!plain.run() || hundredViews(url, placeholder) < 0) {
        state.SkipWithError("no picture");
        return;
    }

    double ours = 0;
    double curl = 0;
    double curlAndDecode = 0;
    const std::uint64_t requestsBefore = server().requestsFor(path);
    for (auto _ : state) {
        loader.clearCacheForURL(url);
        const double views = hundredViews(url, placeholder);
        const auto start = Clock::now();
        const bool downloaded = plain.run();
        const double download = secondsSince(start);
        const bool decoded = platform::Image::decode(plain.body()) != nullptr;
        const double downloadAndDecode = secondsSince(start);
        if (views < 0 || !downloaded || !decoded) {
            state.SkipWithError("a download failed");
            return;
        }
        ours += views;
        curl += download;
        curlAndDecode += downloadAndDecode;
        state.SetIterationTime(views);
    }
    const auto iterations = static_cast<double>(state.iterations());
    // Each iteration makes the views' download and libcurl's.
    state.counters["downloads_per_100_views"] =
        static_cast<double>(server().requestsFor(path) - requestsBefore) / iterations - 1;
    state.counters["png_KiB"] = static_cast<double>(bytes) / 1024;
    state.counters["libcurl_us"] = curl / iterations * 1e6;
    state.counters["libcurl_decode_us"] = curlAndDecode / iterations * 1e6;
    state.counters["views_us"] = ours / iterations * 1e6;
    state.counters["ratio"] = curl / ours;
    state.counters["ratio_with_decode"] = curlAndDecode / ours;
}
BENCHMARK(BM_HundredViews)
    ->Name("image/hundred_views")
    ->Arg(64)
    ->Arg(256)
    ->Arg(1024)
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond);

void BM_HundredRawObservers(benchmark::State& state) {
    const int side = static_cast<int>(state.range(0));
    const auto [path, bytes] = servePicture(side);
    const std::string url = server().url(path);
    auto& loader = RAZududeImageLoader::sharedImageLoader();
    PlainDownload plain(url);
    loader.clearCacheForURL(url);
    if (!plain.run() || hundredRawObservers(url) < 0) {
        state.SkipWithError("no bytes");
        return;
    }

    double ours = 0;
    double curl = 0;
    const std::uint64_t requestsBefore = server().requestsFor(path);
    for (auto _ : state) {
        loader.clearCacheForURL(url);
        const double observers = hundredRawObservers(url);
        const auto start = Clock::now();
        const bool downloaded = plain.run();
        const double download = secondsSince(start);
        if (observers < 0 || !downloaded) {
            state.SkipWithError("a download failed");
            return;
        }
        ours += observers;
        curl += download;
        state.SetIterationTime(observers);
    }
    const auto iterations = static_cast<double>(state.iterations());
    state.counters["downloads_per_100_observers"] =
        static_cast<double>(server().requestsFor(path) - requestsBefore) / iterations - 1;
    state.counters["png_KiB"] = static_cast<double>(bytes) / 1024;
    state.counters["libcurl_us"] = curl / iterations * 1e6;
    state.counters["observers_us"] = ours / iterations * 1e6;
    state.counters["ratio"] = curl / ours;
}
BENCHMARK(BM_HundredRawObservers)
    ->Name("image/hundred_observers_raw")
    ->Arg(64)
    ->Arg(256)
    ->Arg(1024)
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond);

// The main thread's own part of a hundred views given one URL whose download has not started:
// each view registers with the loader, the first looks in the cache and makes the download.
// Nothing is sent: the download is cancelled before its start, on the next turn of the loop.
void BM_HundredRegistrations(benchmark::State& state) {
    const std::string url = server().url("/picture-registered.png");
    const auto placeholder = std::make_shared<const platform::Image>(4, 4);
    auto& loader = RAZududeImageLoader::sharedImageLoader();
    loader.clearCacheForURL(url);
    auto counter = std::make_shared<ViewCounter>();
    for (auto _ : state) {
        state.PauseTiming();
        std::vector<std::shared_ptr<RAZududeImageView>> views;
        views.reserve(kViews);
        for (int i = 0; i < kViews; ++i) {
            views.push_back(std::make_shared<RAZududeImageView>(placeholder, counter));
        }
        state.ResumeTiming();
        for (const auto& view : views) {
            view->setImageURL(url);
        }
        state.PauseTiming();
        loader.cancelLoadForURL(url);
        views.clear();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * kViews);
}
BENCHMARK(BM_HundredRegistrations)
    ->Name("image/hundred_registrations")
    ->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
    // The picture cache goes to a folder of this run, not to the user's caches.
    const auto root =
        std::filesystem::temp_directory_path() / ("rz-image-bench-" + std::to_string(getpid()));
    platform::AppFolders::setRoot(root);
    curl_global_init(CURL_GLOBAL_DEFAULT);
    const int status = bench::runBenchmarks(argc, argv);
    std::error_code ignored;
    std::filesystem::remove_all(root, ignored);
    return status;
}
