// The share service's loader of remote pictures (avatars, the picture of a share given by
// URL): at most one download per URL however many ask, the bytes kept in the file cache for
// seven days, and the result told through notifications whose names end in the picture's
// cache key.
//
// Notifications, all with the loader as object, posted on the main thread while the poster
// waits for their delivery:
//   "kRZImageLoaderNotificationLoadedPercent-<key>"  "percent" (real), "imageURL"; progress
//                                                    the main thread has not taken yet is
//                                                    folded into the latest
//   "kRZImageLoaderNotificationLoaded-<key>"         "imageGif" (bytes, GIF mode), "imageURL"
//   "kRZImageLoaderNotificationLoadFailed-<key>"     "error" (errorValue()), "imageURL"
// The decoded picture of a loaded notification, and the failure's error itself, are more than
// user information can hold: observers get them in RZImageLoaderNotification, and anyone
// else reads them with announcedImage() and announcedError() while the notification is being
// delivered.
//
// URLs are taken as text: a text that is no absolute URL fails with the URL error -1000.
// Use from any thread.
#pragma once

#include <atomic>
#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <memory_resource>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "SocialSDK/core/image/RAZududeImageLoadConnection.h"
#include "platform/Error.h"
#include "platform/MainLoop.h"
#include "platform/NotificationCenter.h"
#include "platform/Url.h"
#include "platform/Value.h"
#include "platform/graphics/Image.h"

// A loader notification as its observers get it.
struct RZImageLoaderNotification {
    RZImageLoaderNotification(const platform::Notification& delivered, platform::ImagePtr picture,
                              const platform::Error* failure)
        : notification(delivered), image(std::move(picture)), error(failure) {}

    const platform::Notification& notification;
    // The picture of a loaded notification outside GIF mode.
    platform::ImagePtr image;
    // The error of a failed notification.
    const platform::Error* error = nullptr;

    const platform::Map& userInfo() const { return notification.userInfo; }
    // The picture to show: `image`, or for a download made in GIF mode its bytes decoded, once
    // for all the observers that ask during one delivery; nothing when they hold no picture.
    platform::ImagePtr picture() const;

  private:
    mutable std::optional<platform::ImagePtr> decodedGif_;
};

// Told about the pictures it asked for; every method is optional.
class RZImageLoaderObserver {
  public:
    enum Method : unsigned {
        kDidLoadPercent = 1u << 0,
        kDidLoad = 1u << 1,
        kDidFailToLoad = 1u << 2,
        kAllMethods = kDidLoadPercent | kDidLoad | kDidFailToLoad,
    };

    virtual ~RZImageLoaderObserver() = default;

    // The methods below that the observer implements: it is registered for those only.
    virtual unsigned imageLoaderMethods() const { return kAllMethods; }
    virtual void imageLoaderDidLoadPercent(const RZImageLoaderNotification& /*notification*/) {}
    virtual void imageLoaderDidLoad(const RZImageLoaderNotification& /*notification*/) {}
    virtual void imageLoaderDidFailToLoad(const RZImageLoaderNotification& /*notification*/) {}
};

class RAZududeImageLoader : public RZImageLoadConnectionDelegate,
                            public std::enable_shared_from_this<RAZududeImageLoader> {
  public:
    static constexpr const char* kLoadedPercentNotificationPrefix =
        "kRZImageLoaderNotificationLoadedPercent-";
    static constexpr const char* kLoadedNotificationPrefix = "kRZImageLoaderNotificationLoaded-";
    static constexpr const char* kLoadFailedNotificationPrefix =
        "kRZImageLoaderNotificationLoadFailed-";
    static constexpr const char* kPercentKey = "percent";
    static constexpr const char* kImageGifKey = "imageGif";
    static constexpr const char* kImageURLKey = "imageURL";
    static constexpr const char* kErrorKey = "error";
    // Seven days.
    static constexpr double kDefaultCacheSeconds = 604800;
    // The code of the error for a download that is not a picture; its domain is the host.
    static constexpr long kNotAPictureCode = 406;

    using Connections =
        std::map<std::string, std::shared_ptr<RAZududeImageLoadConnection>, std::less<>>;

    static RAZududeImageLoader& sharedImageLoader();

    RAZududeImageLoader(const RAZududeImageLoader&) = delete;
    RAZududeImageLoader& operator=(const RAZududeImageLoader&) = delete;

    // "RZImageLoader-" and the uppercase MD5 of the URL text; with a style, "-" and the
    // style's hash value after it.
    static std::string cacheKey(std::string_view imageURL);
    static std::string cacheKey(std::string_view imageURL, std::size_t styleHash);
    static std::string loadedPercentNotificationName(std::string_view imageURL);
    static std::string loadedNotificationName(std::string_view imageURL);
    static std::string loadFailedNotificationName(std::string_view imageURL);

    // An error as user information holds it: {"domain", "code", "userInfo"}.
    static platform::Value errorValue(const platform::Error& error);
    // What the loader notification being delivered on this thread carries beside its user
    // information; nothing for another notification, or once delivery is over.
    static platform::ImagePtr announcedImage(const platform::Notification& notification);
    static std::optional<platform::Error> announcedError(
        const platform::Notification& notification);

    // The download of the URL: the one in flight, or a new one that starts on the next turn of
    // the calling thread's loop (the network thread's when it is not the main thread).
    std::shared_ptr<RAZududeImageLoadConnection> loadImageForURL(std::string_view imageURL);
    // The same after registering the observer for the URL; nothing for no URL.
    void loadImageForURL(const std::optional<std::string>& imageURL,
                         const std::shared_ptr<RZImageLoaderObserver>& observer);
    // The cached picture, however old its entry; otherwise nothing, and with autoLoad the
    // download starts for the observer. While the URL's download is in flight, autoLoad joins
    // it without looking at the cache, which had nothing when the download began.
    platform::ImagePtr imageForURL(const std::optional<std::string>& imageURL,
                                   const std::shared_ptr<RZImageLoaderObserver>& observer,
                                   bool autoLoad);
    // Sets the GIF mode of the downloads that start from now on; then the cached bytes while
    // they have not expired, otherwise nothing, and the download starts (or is joined) for the
    // observer.
    std::optional<platform::Bytes> dataForURL(
        const std::optional<std::string>& imageURL,
        const std::shared_ptr<RZImageLoaderObserver>& observer, bool isGif);

    // Registers the observer (kept weakly) for the notifications of the URL that it implements;
    // observers of a URL are told in the order they came, and registering one twice for the
    // same URL changes nothing. An observer that throws is logged; the others are still told.
    void addObserver(const std::shared_ptr<RZImageLoaderObserver>& observer,
                     std::string_view imageURL);
    // Every registration of the observer with the loader, or those for the URL.
    void removeObserver(const RZImageLoaderObserver& observer);
    void removeObserver(const RZImageLoaderObserver& observer, std::string_view imageURL);

    bool isLoadingImageURL(std::string_view imageURL) const;
    // Whether the cache holds the URL's bytes and they have not expired.
    bool hasLoadedImageURL(std::string_view imageURL) const;
    // Stops the URL's download, started or not; nobody is told.
    void cancelLoadForURL(std::string_view imageURL);
    // Takes the observer off the URL; the download stops only when no other observer of the
    // URL remains, so that the others still get their picture.
    void cancelLoadForObserver(const RZImageLoaderObserver& observer, std::string_view imageURL);
    // How many URLs have observers registered; observers that went away without removing
    // themselves are let go first.
    std::size_t observedURLCountForTesting();
    void clearCacheForURL(std::string_view imageURL);
    void clearCacheForURL(std::string_view imageURL, std::size_t styleHash);
    // Lets the connection go: it tells this loader nothing more and leaves the downloads in
    // flight, unless another download of its URL has taken its place there.
    void cleanUpConnection(RAZududeImageLoadConnection& connection);

    // The downloads in flight by URL, as they stood at the last change.
    std::shared_ptr<const Connections> currentConnections() const;

    // Lifetime in the cache of the pictures downloaded from now on; values not above 0 are
    // ignored.
    double cache_seconds() const { return cacheSeconds_; }
    void setCache_seconds(double seconds);
    // The largest picture, in bytes, that downloads started from now on take: a larger one
    // fails with the URL error -1103 before anything decodes it (see
    // RAZududeImageLoadConnection::maximumBytes).
    std::size_t maximumPictureBytes() const { return maximumPictureBytes_; }
    void setMaximumPictureBytes(std::size_t bytes) { maximumPictureBytes_ = bytes; }
    // The GIF mode that downloads started from now on take.
    bool isGif() const { return isGif_; }
    void setIsGif(bool isGif) { isGif_ = isGif; }

    // Pictures of at most this many bytes are decoded where their download ends, on the main
    // thread, which shows them next: one takes a millisecond or so at most, and spares two
    // hand-offs between threads. Larger ones are decoded on a worker, so that the main thread
    // keeps drawing meanwhile.
    static constexpr std::size_t kLargestPictureDecodedInPlace = std::size_t{64} << 10;

    // RZImageLoadConnectionDelegate, on the connection's delegate queue (the main queue for
    // the connections the loader makes).
    void imageLoadConnectionDidReceivePercent(float percent,
                                              RAZududeImageLoadConnection& connection) override;
    void imageLoadConnectionDidFinishLoading(RAZududeImageLoadConnection& connection) override;
    void imageLoadConnection(RAZududeImageLoadConnection& connection,
                             const platform::Error& error) override;

  private:
    struct Download {
        std::shared_ptr<RAZududeImageLoadConnection> connection;
        std::shared_ptr<platform::TimerHandle> pendingStart;
    };
    RAZududeImageLoader() = default;

    // Drops the connection from the downloads in flight when it is still the one there.
    void forget(const RAZududeImageLoadConnection& connection);
    void refreshSnapshot();  // under connectionsLock_
    // Posts on the main thread and returns once it is delivered; `first` runs there just
    // before the post.
    void announce(const std::string& name, platform::Map userInfo, platform::ImagePtr image,
                  const platform::Error* error, const std::function<void()>& first = {});
    void fail(RAZududeImageLoadConnection& connection, const platform::Error& error);
    // Stores and announces the picture, or fails the download when it holds none.
    void finishLoading(RAZududeImageLoadConnection& connection, platform::Bytes bytes,
                       platform::ImagePtr image);

    mutable std::mutex connectionsLock_;  // guards the two below
    std::map<std::string, Download, std::less<>> connections_;
    std::shared_ptr<const Connections> snapshot_ = std::make_shared<const Connections>();

    // One observer's registration for one URL. Deliveries check `active` before each call.
    struct Listener {
        std::weak_ptr<RZImageLoaderObserver> observer;
        const RZImageLoaderObserver* identity;
        unsigned methods;
        std::atomic<bool> active{true};
    };
    // The observers of one URL, and the loader's own registrations with the notification
    // centre on their behalf: one for each notification that some of them implement, so that
    // however many observe a URL, the centre has at most three entries for it.
    struct Audience {
        std::vector<std::shared_ptr<Listener>> listeners;  // in registration order
        std::vector<platform::ObserverToken> tokens;
        unsigned registered = 0;  // the methods that have a token
    };
    struct Observed {
        explicit Observed(std::pmr::memory_resource* blocks) : imageURLs(blocks) {}
        std::weak_ptr<RZImageLoaderObserver> observer;
        // The keys of the audiences it is among: each lives while the observer is in it.
        std::pmr::vector<const std::string*> imageURLs;
    };

    void deliver(const std::string& imageURL, unsigned method,
                 const platform::Notification& notification);
    // Takes the observer's listeners for the URL (all URLs when none is given) out of the
    // audiences; what they leave behind dies outside the lock. Under observersLock_.
    void dropListeners(const RZImageLoaderObserver* identity, const std::string* imageURL,
                       std::vector<platform::ObserverToken>& leftTokens);
    // The same for every observer that went away without removing itself. Under
    // observersLock_.
    void dropGoneObservers(std::vector<platform::ObserverToken>& leftTokens);
    // dropGoneObservers once the observers have doubled since the last time, so that a
    // hundred views that register one after the other do not each look at all the others.
    // Under observersLock_.
    void sweepGoneObservers(std::vector<platform::ObserverToken>& leftTokens);
    static bool sameObserver(const std::weak_ptr<RZImageLoaderObserver>& registered,
                             const std::shared_ptr<RZImageLoaderObserver>& observer);

    // URLs are looked up as they come, without a copy.
    struct UrlHash {
        using is_transparent = void;
        std::size_t operator()(std::string_view url) const {
            return std::hash<std::string_view>()(url);
        }
    };
    static constexpr std::size_t kFirstSweep = 64;

    std::mutex observersLock_;  // guards the four below
    // A screen of views registers a hundred at once, each with blocks of its own that the
    // allocator would look for one by one: the observers' entries and their lists of URLs,
    // which never leave the lock, reuse theirs instead.
    std::pmr::unsynchronized_pool_resource registrationBlocks_;
    std::unordered_map<std::string, Audience, UrlHash, std::equal_to<>> audiences_;  // by URL
    std::pmr::unordered_map<const RZImageLoaderObserver*, Observed> observers_{
        &registrationBlocks_};
    std::size_t sweepAt_ = kFirstSweep;  // the size of observers_ that calls for a sweep

    std::atomic<double> cacheSeconds_{kDefaultCacheSeconds};
    std::atomic<bool> isGif_{false};
    std::atomic<std::size_t> maximumPictureBytes_{
        RAZududeImageLoadConnection::kDefaultMaximumBytes};
};
