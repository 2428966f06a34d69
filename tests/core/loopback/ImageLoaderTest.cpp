// The image loader and its views against a loopback HTTP peer that serves pictures and counts
// the requests of every path.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "SocialSDK/core/cache/RAZududeCache.h"
#include "SocialSDK/core/data/RAZududeData.h"
#include "SocialSDK/core/handler/RAZududeSnsHandler.h"
#include "SocialSDK/core/image/RAZududeImageLoader.h"
#include "SocialSDK/core/manager/RZSDataManager.h"
#include "SocialSDK/ui/image/RAZududeImageView.h"
#include "platform/MainLoop.h"
#include "platform/NotificationCenter.h"
#include "platform/PropertyList.h"
#include "platform/net/UrlSessionTask.h"
#include "tests/core/SocialTest.h"
#include "tests/support/LogCapture.h"
#include "tests/support/PeerProcess.h"
#include "tests/support/TempDir.h"

namespace {

using platform::Bytes;
using platform::ImagePtr;

constexpr double kWait = 20;

// One peer for the whole run; it goes when the program ends.
testing_support::PeerProcess& peer() {
    static testing_support::PeerProcess server =
        testing_support::PeerProcess::python("http_peer.py");
    return server;
}

std::string urlOf(const std::string& pathAndQuery) {
    return peer().baseUrl() + pathAndQuery;
}

// What the peer and Python's own libraries say, independently of the code under test.
int hits(const std::string& path) {
    return std::stoi(
        testing_support::runPython("import urllib.request\n"
                                   "print(urllib.request.urlopen('" +
                                   urlOf("/hits?path=" + path) + "').read().decode())"));
}

Bytes fetched(const std::string& url) {
    const std::string hex = testing_support::runPython(
        "import urllib.request\n"
        "print(urllib.request.urlopen('" +
        url + "').read().hex(), end='')");
    Bytes bytes;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
        bytes.push_back(static_cast<std::uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    }
    return bytes;
}

std::string md5Upper(const std::string& text) {
    return testing_support::runPython(
        "import hashlib, sys\nprint(hashlib.md5(sys.stdin.buffer.read())"
        ".hexdigest().upper(), end='')",
        text);
}

bool waitFor(const std::function<bool()>& done) {
    return platform::MainLoop::main().runUntil(done, kWait);
}

// Pixel (x, y) of the peer's pictures.
std::uint32_t peerPixel(int x, int y) {
    return static_cast<std::uint32_t>((x * 37 % 256) << 24 | (y * 53 % 256) << 16 |
                                      ((x + y) * 11 % 256) << 8 | 0xFF);
}

// Everything an observer hears, as short lines, each checked to arrive on the main thread.
class Recorder : public RZImageLoaderObserver {
  public:
    void imageLoaderDidLoadPercent(const RZImageLoaderNotification& note) override {
        check(note);
        percents.push_back(note.userInfo()[RAZududeImageLoader::kPercentKey].doubleValue());
    }
    void imageLoaderDidLoad(const RZImageLoaderNotification& note) override {
        check(note);
        image = note.image;
        if (const auto* gif = note.userInfo()[RAZududeImageLoader::kImageGifKey].bytes()) {
            gifBytes = *gif;
        }
        ++loaded;
    }
    void imageLoaderDidFailToLoad(const RZImageLoaderNotification& note) override {
        check(note);
        ASSERT_NE(note.error, nullptr);
        error = *note.error;
        errorValue = note.userInfo()[RAZududeImageLoader::kErrorKey];
        ++failed;
    }
    bool done() const { return loaded + failed > 0; }

    std::vector<double> percents;
    int loaded = 0;
    int failed = 0;
    ImagePtr image;
    std::optional<Bytes> gifBytes;
    platform::Error error;
    platform::Value errorValue;
    std::vector<std::string> urls;
    bool offMain = false;

  private:
    void check(const RZImageLoaderNotification& note) {
        offMain = offMain || !platform::MainLoop::main().isMainThread();
        urls.push_back(note.userInfo()[RAZududeImageLoader::kImageURLKey].stringValue());
        EXPECT_EQ(note.notification.object, &RAZududeImageLoader::sharedImageLoader());
    }
};

class CountingDelegate : public RZImageViewDelegate {
  public:
    void imageViewLoadedImage(RAZududeImageView&) override { ++loaded; }
    void imageViewFailedToLoadImage(RAZududeImageView&, const platform::Error& e) override {
        ++failed;
        error = e;
    }
    int loaded = 0;
    int failed = 0;
    platform::Error error;
};

class ImageLoaderTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { peer(); }
    RAZududeImageLoader& loader = RAZududeImageLoader::sharedImageLoader();
    ImagePtr placeholder = std::make_shared<platform::Image>(3, 3);
    std::shared_ptr<CountingDelegate> delegate = std::make_shared<CountingDelegate>();

    std::shared_ptr<RAZududeImageView> makeView() {
        return std::make_shared<RAZududeImageView>(placeholder, delegate);
    }
};

TEST_F(ImageLoaderTest, AHundredViewsOfOneUrlShareOneRequestThenTheCache) {
    const std::string path = "/picture/png/hundred";
    const std::string url = urlOf(path + "?w=40&h=30");
    std::vector<std::shared_ptr<RAZududeImageView>> views;
    for (int i = 0; i < 100; ++i) {
        views.push_back(makeView());
        views.back()->setImageURL(url);
        // The placeholder shows, the view stays hidden, until the picture is there.
        EXPECT_EQ(views.back()->image(), placeholder);
        EXPECT_TRUE(views.back()->isHidden());
        EXPECT_FALSE(views.back()->isCacheImage());
        EXPECT_EQ(views.back()->status(), RAZududeImageView::kNotLoaded);
    }
    EXPECT_TRUE(loader.isLoadingImageURL(url));
    EXPECT_EQ(loader.currentConnections()->count(url), 1u);

    ASSERT_TRUE(waitFor([&] { return delegate->loaded == 100; }));
    const ImagePtr shown = views.front()->image();
    ASSERT_TRUE(shown);
    EXPECT_EQ(shown->pixelWidth(), 40);
    EXPECT_EQ(shown->pixelRgba8(1, 2), peerPixel(1, 2));
    for (const auto& view : views) {
        EXPECT_EQ(view->image(), shown);  // one picture, decoded once
        EXPECT_EQ(view->status(), RAZududeImageView::kLoaded);
        EXPECT_FALSE(view->isHidden());
    }
    EXPECT_EQ(delegate->failed, 0);
    EXPECT_FALSE(loader.isLoadingImageURL(url));
    EXPECT_TRUE(loader.hasLoadedImageURL(url));
    EXPECT_EQ(hits(path), 1);

    // From the cache now: shown, and the delegate told, before setImageURL returns.
    auto late = makeView();
    late->setImageURL(url);
    EXPECT_TRUE(late->isCacheImage());
    EXPECT_FALSE(late->isHidden());
    EXPECT_EQ(late->status(), RAZududeImageView::kLoaded);
    EXPECT_EQ(late->image()->pixelRgba8(1, 2), peerPixel(1, 2));
    EXPECT_EQ(delegate->loaded, 101);
    EXPECT_FALSE(loader.isLoadingImageURL(url));
    EXPECT_EQ(hits(path), 1);
}

// Makes a view of the same URL from the delivery of its picture, as a table reloaded for
// the picture that came would.
class SameUrlFromTheDelivery : public RZImageViewDelegate {
  public:
    void imageViewLoadedImage(RAZududeImageView& view) override {
        if (late) {
            return;
        }
        late = std::make_shared<RAZududeImageView>(view.placeholderImage());
        late->setImageURL(view.imageURL());
    }
    std::shared_ptr<RAZududeImageView> late;
};

TEST_F(ImageLoaderTest, AViewMadeWhileThePictureIsToldFindsItInTheCache) {
    const std::string path = "/picture/png/told-then-asked";
    auto reloads = std::make_shared<SameUrlFromTheDelivery>();
    auto view = std::make_shared<RAZududeImageView>(placeholder, reloads);
    view->setImageURL(urlOf(path + "?w=6&h=5"));
    ASSERT_TRUE(waitFor([&] { return reloads->late != nullptr; }));
    EXPECT_TRUE(reloads->late->isCacheImage());
    EXPECT_EQ(reloads->late->status(), RAZududeImageView::kLoaded);
    EXPECT_EQ(reloads->late->image()->pixelWidth(), 6);
    EXPECT_FALSE(loader.isLoadingImageURL(*view->imageURL()));
    EXPECT_EQ(hits(path), 1);
}

TEST_F(ImageLoaderTest, ALargePictureIsDecodedAwayFromTheMainThreadAndShownAllTheSame) {
    const std::string path = "/picture/png/large-decoded-apart";
    const std::string url = urlOf(path + "?w=200&h=200");
    auto first = makeView();
    auto second = makeView();
    auto recorder = std::make_shared<Recorder>();
    first->setImageURL(url);
    second->setImageURL(url);
    loader.addObserver(recorder, url);
    ASSERT_TRUE(waitFor([&] { return delegate->loaded + delegate->failed == 2; }));
    EXPECT_EQ(delegate->loaded, 2);
    ASSERT_TRUE(recorder->image);
    EXPECT_FALSE(recorder->offMain);
    EXPECT_GT(RAZududeCache::currentCache().dataForKey(RAZududeImageLoader::cacheKey(url))->size(),
              RAZududeImageLoader::kLargestPictureDecodedInPlace);
    EXPECT_EQ(first->image(), second->image());
    EXPECT_EQ(first->image()->pixelRgba8(150, 120), peerPixel(150, 120));
    EXPECT_FALSE(loader.isLoadingImageURL(url));
    EXPECT_EQ(hits(path), 1);
    loader.removeObserver(*recorder);
}

TEST_F(ImageLoaderTest, TheBytesStayInTheCacheSevenDaysUnderTheUrlsKey) {
    const std::string url = urlOf("/picture/png/kept?w=5&h=4");
    const std::string key = "RZImageLoader-" + md5Upper(url);
    EXPECT_EQ(RAZududeImageLoader::cacheKey(url), key);
    EXPECT_EQ(RAZududeImageLoader::cacheKey(url, 77), key + "-77");
    // Asked for in turns, each URL keeps its own key; an extension of the URL is another URL.
    const std::string other = url + "&v=2";
    EXPECT_EQ(RAZududeImageLoader::cacheKey(other), "RZImageLoader-" + md5Upper(other));
    EXPECT_EQ(RAZududeImageLoader::cacheKey(url), key);
    EXPECT_EQ(RAZududeImageLoader::cacheKey(url.substr(0, url.size() - 1)),
              "RZImageLoader-" + md5Upper(url.substr(0, url.size() - 1)));
    EXPECT_EQ(RAZududeImageLoader::loadedNotificationName(url),
              "kRZImageLoaderNotificationLoaded-" + key);

    auto recorder = std::make_shared<Recorder>();
    EXPECT_FALSE(loader.imageForURL(url, recorder, true));
    ASSERT_TRUE(waitFor([&] { return recorder->done(); }));
    ASSERT_EQ(recorder->loaded, 1);
    const double stored = platform::Date::now().timeIntervalSince1970();

    auto& cache = RAZududeCache::currentCache();
    EXPECT_EQ(cache.dataForKey(key), fetched(url));
    cache.saveCacheDictionary();
    auto index =
        platform::PropertyList::readFile(cache.directory() / RAZududeCache::kIndexFileName);
    ASSERT_TRUE(index);
    const platform::Date* expiry = (*index)[key].date();
    ASSERT_NE(expiry, nullptr);
    EXPECT_NEAR(expiry->timeIntervalSince1970() - stored, 604800, 30);

    // A refused lifetime is logged and changes nothing; another one holds for later loads.
    auto view = makeView();
    {
        testing_support::LogCapture log;
        view->setCacheSecondes(0);
        view->setCacheSecondes(-5);
        EXPECT_TRUE(log.contains("[0.000000] is error"));
        EXPECT_TRUE(log.contains("[-5.000000] is error"));
    }
    EXPECT_EQ(loader.cache_seconds(), 604800);
    view->setCacheSecondes(3600);
    const std::string shortUrl = urlOf("/picture/png/short-lived");
    auto second = std::make_shared<Recorder>();
    loader.loadImageForURL(shortUrl, second);
    ASSERT_TRUE(waitFor([&] { return second->done(); }));
    loader.setCache_seconds(604800);
    cache.saveCacheDictionary();
    index = platform::PropertyList::readFile(cache.directory() / RAZududeCache::kIndexFileName);
    const platform::Date* shortExpiry = (*index)[RAZududeImageLoader::cacheKey(shortUrl)].date();
    ASSERT_NE(shortExpiry, nullptr);
    EXPECT_NEAR(shortExpiry->timeIntervalSinceNow(), 3600, 30);

    // Clearing takes the entry away; the next ask loads again.
    loader.clearCacheForURL(url);
    EXPECT_FALSE(loader.hasLoadedImageURL(url));
    EXPECT_FALSE(loader.imageForURL(url, nullptr, false));
}

TEST_F(ImageLoaderTest, ProgressIsToldOnTheMainThreadAsTheBytesArrive) {
    auto recorder = std::make_shared<Recorder>();
    const std::string url = urlOf("/picture/png/pieces?w=64&h=64&pieces=4&delay=0.05");
    loader.loadImageForURL(url, recorder);
    ASSERT_TRUE(waitFor([&] { return recorder->done(); }));
    EXPECT_EQ(recorder->loaded, 1);
    ASSERT_GE(recorder->percents.size(), 2u);
    for (std::size_t i = 1; i < recorder->percents.size(); ++i) {
        EXPECT_GT(recorder->percents[i], recorder->percents[i - 1]);
    }
    EXPECT_GT(recorder->percents.front(), 0);
    EXPECT_FLOAT_EQ(static_cast<float>(recorder->percents.back()), 1.0f);
    EXPECT_FALSE(recorder->offMain);
    for (const auto& told : recorder->urls) {
        EXPECT_EQ(told, url);
    }

    // Without a length the share is negative.
    auto unknown = std::make_shared<Recorder>();
    loader.loadImageForURL(urlOf("/picture/png/unsized?chunked=1&pieces=3&delay=0.02"), unknown);
    ASSERT_TRUE(waitFor([&] { return unknown->done(); }));
    EXPECT_EQ(unknown->loaded, 1);
    ASSERT_FALSE(unknown->percents.empty());
    for (double percent : unknown->percents) {
        EXPECT_LT(percent, 0);
    }
}

TEST_F(ImageLoaderTest, WhatIsNoPictureFailsWithCode406AndNothingIsKept) {
    struct Case {
        std::string path;
        const char* why;
    };
    const std::vector<Case> cases = {
        {"/picture/text/words", "not a picture"},
        {"/picture/damaged/cut?w=30&h=30&how=cut", "cut short"},
        {"/picture/damaged/garbled?w=30&h=30&how=garble", "garbled pixels"},
        {"/picture/png/missing?status=404", "an error page"},
        {"/picture/png/elsewhere?status=300", "a picture on a reply that is no success"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        const std::string url = urlOf(c.path);
        auto recorder = std::make_shared<Recorder>();
        auto view = makeView();
        const int failedBefore = delegate->failed;
        view->setImageURL(url);
        loader.addObserver(recorder, url);
        ASSERT_TRUE(waitFor([&] { return recorder->done() && delegate->failed > failedBefore; }));
        EXPECT_EQ(recorder->failed, 1);
        EXPECT_EQ(recorder->error.code(), 406);
        EXPECT_EQ(recorder->error.domain(), "127.0.0.1");
        EXPECT_EQ(recorder->errorValue["code"].intValue(), 406);
        EXPECT_EQ(recorder->errorValue["domain"].stringValue(), "127.0.0.1");
        EXPECT_EQ(view->status(), RAZududeImageView::kFailed);
        EXPECT_EQ(view->image(), placeholder);
        EXPECT_EQ(delegate->error.code(), 406);
        EXPECT_FALSE(loader.hasLoadedImageURL(url));
        EXPECT_FALSE(loader.isLoadingImageURL(url));
        loader.removeObserver(*recorder);
    }
}

TEST_F(ImageLoaderTest, APictureLargerThanTheCeilingIsRefusedAndNothingIsKept) {
    EXPECT_EQ(loader.maximumPictureBytes(), std::size_t{20} << 20);
    loader.setMaximumPictureBytes(4000);
    struct Restore {
        RAZududeImageLoader& loader;
        ~Restore() {
            loader.setMaximumPictureBytes(RAZududeImageLoadConnection::kDefaultMaximumBytes);
        }
    } restore{loader};
    // Announced by its length, or found out as the bytes come.
    for (const std::string path :
         {"/picture/png/large?w=200&h=200", "/picture/png/unsized-large?w=200&h=200&chunked=1"}) {
        SCOPED_TRACE(path);
        const std::string url = urlOf(path);
        ASSERT_GT(fetched(url).size(), 4000u);
        auto recorder = std::make_shared<Recorder>();
        loader.loadImageForURL(url, recorder);
        ASSERT_TRUE(waitFor([&] { return recorder->done(); }));
        EXPECT_EQ(recorder->failed, 1);
        EXPECT_EQ(recorder->error.code(), platform::kUrlErrorDataLengthExceedsMaximum);
        EXPECT_NE(recorder->error.localizedDescription().find("4000"), std::string::npos);
        EXPECT_FALSE(loader.hasLoadedImageURL(url));
        EXPECT_FALSE(loader.isLoadingImageURL(url));
    }
    auto small = std::make_shared<Recorder>();
    loader.loadImageForURL(urlOf("/picture/png/small-enough?w=4&h=4"), small);
    ASSERT_TRUE(waitFor([&] { return small->done(); }));
    EXPECT_EQ(small->loaded, 1);
}

TEST_F(ImageLoaderTest, UrlTextThatIsNoUrlFailsWithBadUrl) {
    for (const std::string text : {"http://exa mple.org/a b.png", "avatar.png", "%zz", ""}) {
        SCOPED_TRACE(text);
        auto recorder = std::make_shared<Recorder>();
        auto view = makeView();
        view->setImageURL(text);
        loader.addObserver(recorder, text);
        ASSERT_TRUE(waitFor([&] { return recorder->done(); }));
        EXPECT_EQ(recorder->failed, 1);
        EXPECT_EQ(recorder->error.domain(), platform::kUrlErrorDomain);
        EXPECT_EQ(recorder->error.code(), platform::kUrlErrorBadUrl);
        EXPECT_EQ(recorder->urls, std::vector<std::string>{text});
        EXPECT_EQ(view->status(), RAZududeImageView::kFailed);
        EXPECT_EQ(delegate->error.code(), platform::kUrlErrorBadUrl);
        loader.removeObserver(*recorder);
    }
    // A server that is not there is a network failure, told the same way.
    auto recorder = std::make_shared<Recorder>();
    loader.loadImageForURL(std::string("http://127.0.0.1:1/nobody.png"), recorder);
    ASSERT_TRUE(waitFor([&] { return recorder->done(); }));
    EXPECT_EQ(recorder->failed, 1);
    EXPECT_EQ(recorder->error.code(), platform::kUrlErrorCannotConnectToHost);
}

TEST_F(ImageLoaderTest, GifModeBelongsToTheDownloadItStarted) {
    const std::string gifUrl = urlOf("/picture/gif/moving?wait=0.2");
    const std::string pngUrl = urlOf("/picture/png/still");
    auto gif = std::make_shared<Recorder>();
    auto png = std::make_shared<Recorder>();
    EXPECT_FALSE(loader.dataForURL(gifUrl, gif, true));
    EXPECT_TRUE(loader.isGif());
    // A later ask in the other mode flips the loader's switch, not the download in flight.
    EXPECT_FALSE(loader.dataForURL(pngUrl, png, false));
    EXPECT_FALSE(loader.isGif());
    ASSERT_TRUE(waitFor([&] { return gif->done() && png->done(); }));

    ASSERT_EQ(gif->loaded, 1);
    EXPECT_FALSE(gif->image);
    ASSERT_TRUE(gif->gifBytes);
    EXPECT_EQ(*gif->gifBytes, fetched(gifUrl));
    ASSERT_EQ(png->loaded, 1);
    EXPECT_TRUE(png->image);
    EXPECT_FALSE(png->gifBytes);

    // The bytes come from the cache now, without another request.
    EXPECT_EQ(loader.dataForURL(gifUrl, gif, false), gif->gifBytes);
    EXPECT_EQ(hits("/picture/gif/moving"), 2);  // this test's own fetch is the second

    // Views that join a download made in GIF mode show its bytes as one picture, decoded once.
    const std::string joined = urlOf("/picture/png/joined?w=6&h=5&wait=0.1");
    auto raw = std::make_shared<Recorder>();
    EXPECT_FALSE(loader.dataForURL(joined, raw, true));
    loader.setIsGif(false);
    auto first = makeView();
    auto second = makeView();
    first->setImageURL(joined);
    second->setImageURL(joined);
    ASSERT_TRUE(waitFor([&] { return raw->done() && second->status() != 0; }));
    ASSERT_TRUE(raw->gifBytes);
    ASSERT_NE(first->image(), placeholder);
    EXPECT_EQ(first->image()->pixelWidth(), 6);
    EXPECT_EQ(first->image(), second->image());
    loader.removeObserver(*raw);

    // A view in GIF mode loads nothing.
    auto view = makeView();
    view->setIsGif(true);
    view->setImageURL(urlOf("/picture/gif/never"));
    EXPECT_FALSE(loader.isLoadingImageURL(urlOf("/picture/gif/never")));
}

TEST_F(ImageLoaderTest, AnObserverThatThrowsOrGoesAwayKeepsNoOtherFromHearing) {
    struct Thrower : RZImageLoaderObserver {
        void imageLoaderDidLoad(const RZImageLoaderNotification&) override {
            throw std::runtime_error("observer broke");
        }
    };
    const std::string url = urlOf("/picture/png/crowd?wait=0.1");
    auto thrower = std::make_shared<Thrower>();
    auto gone = std::make_shared<Recorder>();
    auto heard = std::make_shared<Recorder>();
    loader.loadImageForURL(url, thrower);
    loader.loadImageForURL(url, gone);
    loader.loadImageForURL(url, heard);
    loader.loadImageForURL(url, heard);  // twice changes nothing
    gone.reset();
    testing_support::LogCapture log;
    ASSERT_TRUE(waitFor([&] { return heard->done(); }));
    EXPECT_EQ(heard->loaded, 1);
    EXPECT_TRUE(log.contains("observer broke"));
    loader.removeObserver(*thrower);
    loader.removeObserver(*heard);
}

TEST_F(ImageLoaderTest, AViewGivenAnotherUrlLeavesTheOldDownloadToFillTheCache) {
    const std::string slow = urlOf("/picture/png/slow?wait=0.3");
    const std::string quick = urlOf("/picture/png/quick?w=7&h=7");
    auto view = makeView();
    view->setImageURL(slow);
    view->setImageURL(quick);
    EXPECT_EQ(view->imageURL(), quick);
    ASSERT_TRUE(waitFor([&] { return loader.hasLoadedImageURL(slow) && view->status() == 1; }));
    EXPECT_EQ(view->image()->pixelWidth(), 7);
    EXPECT_EQ(delegate->loaded, 1);

    // Given its own URL again, it keeps it and shows the picture from the cache.
    view->setImageURL(view->imageURL());
    EXPECT_EQ(view->imageURL(), quick);
    EXPECT_TRUE(view->isCacheImage());
    EXPECT_EQ(view->image()->pixelWidth(), 7);
    EXPECT_EQ(delegate->loaded, 2);

    // A view that lets its URL go shows the placeholder again.
    view->setImageURL(std::nullopt);
    EXPECT_EQ(view->image(), placeholder);
    EXPECT_FALSE(view->imageURL());
}

TEST_F(ImageLoaderTest, ACancelledDownloadTellsNobodyAndLeavesNoTrace) {
    const std::string path = "/picture/png/cancelled";
    const std::string url = urlOf(path + "?wait=0.2");
    auto recorder = std::make_shared<Recorder>();
    auto view = makeView();
    view->setImageURL(url);
    loader.addObserver(recorder, url);
    loader.cancelLoadForURL(url);
    view->cancelImageLoad();
    EXPECT_FALSE(loader.isLoadingImageURL(url));
    EXPECT_EQ(loader.currentConnections()->count(url), 0u);
    // Long enough for the picture to have come, had the download gone on.
    platform::MainLoop::main().runUntil([] { return false; }, 0.6);
    EXPECT_FALSE(recorder->done());
    EXPECT_EQ(view->status(), RAZududeImageView::kNotLoaded);
    EXPECT_FALSE(loader.hasLoadedImageURL(url));
    EXPECT_EQ(hits(path), 0);
    loader.removeObserver(*recorder);
}

TEST_F(ImageLoaderTest, AViewThatCancelsLeavesTheDownloadToTheOthersAndGoneObserversGo) {
    const std::string url = urlOf("/picture/png/shared-cancel?wait=0.2");
    auto stays = makeView();
    auto leaves = makeView();
    stays->setImageURL(url);
    leaves->setImageURL(url);
    leaves->cancelImageLoad();
    EXPECT_TRUE(loader.isLoadingImageURL(url));
    ASSERT_TRUE(waitFor([&] { return stays->status() == RAZududeImageView::kLoaded; }));
    EXPECT_NE(stays->image(), placeholder);
    EXPECT_EQ(leaves->status(), RAZududeImageView::kNotLoaded);
    EXPECT_EQ(leaves->image(), placeholder);
    EXPECT_EQ(delegate->loaded, 1);

    // The last one to cancel stops it.
    const std::string alone = urlOf("/picture/png/alone-cancel?wait=0.2");
    auto only = makeView();
    only->setImageURL(alone);
    only->cancelImageLoad();
    EXPECT_FALSE(loader.isLoadingImageURL(alone));

    // An observer that goes away without removing itself leaves nothing behind.
    const std::size_t before = loader.observedURLCountForTesting();
    auto forgetful = std::make_shared<Recorder>();
    loader.addObserver(forgetful, urlOf("/picture/png/never-asked"));
    EXPECT_EQ(loader.observedURLCountForTesting(), before + 1);
    forgetful.reset();
    EXPECT_EQ(loader.observedURLCountForTesting(), before);

    // Nor do many of them, as others keep coming: their registrations with the centre go too.
    const std::string first = urlOf("/picture/png/forgotten-0");
    for (int i = 0; i < 300; ++i) {
        loader.addObserver(std::make_shared<Recorder>(),
                           urlOf("/picture/png/forgotten-" + std::to_string(i)));
    }
    EXPECT_FALSE(platform::NotificationCenter::defaultCenter().hasObservers(
        RAZududeImageLoader::loadedNotificationName(first)));
    EXPECT_EQ(loader.observedURLCountForTesting(), before);
}

// What a connection tells its delegate, from its delegate queue.
class ConnectionLog : public RZImageLoadConnectionDelegate {
  public:
    void imageLoadConnectionDidReceivePercent(float, RAZududeImageLoadConnection&) override {
        ++percents;
    }
    void imageLoadConnectionDidFinishLoading(RAZududeImageLoadConnection&) override { ++finished; }
    void imageLoadConnection(RAZududeImageLoadConnection&, const platform::Error& e) override {
        std::lock_guard lock(mutex);
        error = e;
        ++failed;
    }
    std::atomic<int> percents{0};
    std::atomic<int> finished{0};
    std::atomic<int> failed{0};
    std::mutex mutex;
    platform::Error error;
};

TEST_F(ImageLoaderTest, AConnectionKeepsItsTimeOutAndSaysNothingAfterACancel) {
    // Its own time-out, not one of its own choosing.
    auto log = std::make_shared<ConnectionLog>();
    auto slow = RAZududeImageLoadConnection::create(urlOf("/picture/png/late?wait=8"), log);
    slow->setTimeoutInterval(std::chrono::milliseconds(500));
    slow->start();
    ASSERT_TRUE(waitFor([&] { return log->failed > 0; }));
    {
        std::lock_guard lock(log->mutex);
        EXPECT_EQ(log->error.code(), platform::kUrlErrorTimedOut);
    }
    slow->cancel();

    // Cancelled once the bytes flow: nothing more is told, however many were on their way.
    auto quiet = std::make_shared<ConnectionLog>();
    auto pieces = RAZududeImageLoadConnection::create(
        urlOf("/picture/png/told?w=64&h=64&pieces=8&delay=0.05"), quiet);
    pieces->start();
    ASSERT_TRUE(waitFor([&] { return quiet->percents > 0; }));
    pieces->cancel();
    const int told = quiet->percents;
    // Long enough for the picture to have come, had the download gone on.
    platform::MainLoop::main().runUntil([] { return false; }, 0.8);
    EXPECT_EQ(quiet->percents, told);
    EXPECT_EQ(quiet->finished, 0);
    EXPECT_EQ(quiet->failed, 0);
}

TEST_F(ImageLoaderTest, TheTableOfDownloadsHoldsUpUnderManyThreads) {
    // A connection let go late does not take the place of the one that followed it.
    const std::string url = urlOf("/picture/png/replaced?wait=5");
    auto first = loader.loadImageForURL(url);
    loader.cancelLoadForURL(url);
    auto second = loader.loadImageForURL(url);
    ASSERT_NE(first, second);
    loader.cleanUpConnection(*first);
    EXPECT_TRUE(loader.isLoadingImageURL(url));
    EXPECT_EQ(loader.currentConnections()->at(url), second);
    loader.cancelLoadForURL(url);

    // A server that takes connections and never answers: a download stays in flight until
    // it is cancelled.
    const int silent = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ASSERT_EQ(::bind(silent, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(silent, 1024), 0);
    ASSERT_EQ(::getsockname(silent, reinterpret_cast<sockaddr*>(&address), &length), 0);
    const std::string silentBase = "http://127.0.0.1:" + std::to_string(ntohs(address.sin_port));

    std::vector<std::thread> threads;
    std::atomic<bool> wrong{false};
    std::atomic<int> finished{0};
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 200; ++i) {
                const std::string mine =
                    silentBase + "/busy-" + std::to_string(i % 5) + "?t=" + std::to_string(t);
                auto connection = loader.loadImageForURL(mine);
                if (loader.loadImageForURL(mine) != connection ||
                    loader.currentConnections()->count(mine) == 0) {
                    wrong = true;
                }
                loader.isLoadingImageURL(mine);
                loader.cancelLoadForURL(mine);
            }
            ++finished;
        });
    }
    // The main thread goes on delivering meanwhile, as failures want it to.
    EXPECT_TRUE(waitFor([&] { return finished == 8; }));
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_FALSE(wrong);
    EXPECT_TRUE(loader.currentConnections()->empty());
    ::close(silent);
}

class ShareImageTest : public social_test::SocialTest {
  protected:
    static void SetUpTestSuite() { peer(); }
};

TEST_F(ShareImageTest, APictureOnTheWebIsLoadedOnceThroughTheLoader) {
    auto data = RAZududeData::defaultData();
    data->setShareImage(RAZududeShareImage(platform::Bytes{9}));
    auto qq = RZSDataManager::currentDataManager()->barEntity()->getSnsData("qq");
    ASSERT_TRUE(qq);
    const std::string path = "/picture/png/shared";
    qq->urlResource()->setResourceType(1, urlOf(path + "?w=12&h=9"));
    auto found = RAZududeSnsHandler::getShareImage(data, "qq");
    ASSERT_TRUE(found.isImage());
    EXPECT_EQ(found.image()->pixelWidth(), 12);
    EXPECT_EQ(found.image()->pixelRgba8(3, 4), peerPixel(3, 4));
    // The second share finds it in the cache.
    EXPECT_EQ(RAZududeSnsHandler::getShareImage(data, "qq").image()->pixelWidth(), 12);
    EXPECT_EQ(hits(path), 1);

    // A picture that does not come leaves the record's own.
    qq->urlResource()->setResourceType(1, urlOf("/picture/text/none"));
    EXPECT_EQ(RAZududeSnsHandler::getShareImage(data, "qq"), data->shareImage());
    qq->urlResource()->setResourceType(0);
    data->setShareImage({});
}

}  // namespace
