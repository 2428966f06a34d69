#include "SocialSDK/core/image/RAZududeImageLoader.h"

#include <algorithm>
#include <exception>
#include <utility>

#include "RZBase_Source/Encode/RAZududeUtils.h"
#include "SocialSDK/core/cache/RAZududeCache.h"
#include "platform/Dispatch.h"
#include "platform/Format.h"
#include "platform/Log.h"
#include "platform/NoDestructor.h"
#include "platform/TaskGuard.h"
#include "platform/net/NetworkThread.h"
#include "platform/net/UrlResponse.h"

using platform::Bytes;
using platform::Error;
using platform::ImagePtr;
using platform::Map;
using platform::Value;

namespace {

// How long the network thread looks for a download's start once told of it: the rest of a
// turn of the main loop, which a screen of views showing pictures seldom outlasts. A longer
// turn only costs the start the wake it would have cost anyway.
constexpr double kStartExpectedWithin = 0.0005;

// A notification that this thread is delivering for a loader, with what its user information
// cannot hold. Deliveries nest when an observer makes the loader post again.
struct Announcement {
    const std::string* name;
    const void* loader;
    ImagePtr image;
    const Error* error;
    const Announcement* outer;
};

thread_local const Announcement* tAnnouncing = nullptr;

const Announcement* announcementOf(const platform::Notification& notification) {
    for (const Announcement* a = tAnnouncing; a != nullptr; a = a->outer) {
        if (a->loader == notification.object && *a->name == notification.name) {
            return a;
        }
    }
    return nullptr;
}

// The picture the bytes hold; nothing when they hold none, however they fail.
ImagePtr decodePicture(const Bytes& bytes) {
    if (bytes.empty()) {
        return nullptr;
    }
    try {
        return platform::Image::decode(bytes);
    } catch (const std::exception& e) {
        platform::consoleLog("RAZududeImageLoader: picture not decoded: %@", e.what());
        return nullptr;
    }
}

bool isSuccessStatus(const std::shared_ptr<const platform::UrlResponse>& response) {
    const auto* http = dynamic_cast<const platform::HttpUrlResponse*>(response.get());
    return http == nullptr || (http->statusCode() >= 200 && http->statusCode() < 300);
}

}  // namespace

ImagePtr RZImageLoaderNotification::picture() const {
    if (image) {
        return image;
    }
    if (!decodedGif_) {
        const Bytes* bytes = userInfo()[RAZududeImageLoader::kImageGifKey].bytes();
        decodedGif_ = bytes ? decodePicture(*bytes) : nullptr;
    }
    return *decodedGif_;
}

RAZududeImageLoader& RAZududeImageLoader::sharedImageLoader() {
    static platform::NoDestructor<std::shared_ptr<RAZududeImageLoader>> instance(
        new RAZududeImageLoader());
    return **instance;
}

std::string RAZududeImageLoader::cacheKey(std::string_view imageURL) {
    // A picture's key is asked for several times in a row, on the main thread: by its views
    // looking in the cache and registering, by its download's progress and by its end. The
    // last one made on this thread spares hashing the URL again each time.
    thread_local std::string lastURL;
    thread_local std::string lastKey;
    if (lastKey.empty() || imageURL != lastURL) {
        lastKey = "RZImageLoader-" + RAZududeUtils::md5Value(imageURL);
        lastURL = imageURL;
    }
    return lastKey;
}

std::string RAZududeImageLoader::cacheKey(std::string_view imageURL, std::size_t styleHash) {
    return platform::format("RZImageLoader-%@-%lu", RAZududeUtils::md5Value(imageURL), styleHash);
}

std::string RAZududeImageLoader::loadedPercentNotificationName(std::string_view imageURL) {
    return kLoadedPercentNotificationPrefix + cacheKey(imageURL);
}

std::string RAZududeImageLoader::loadedNotificationName(std::string_view imageURL) {
    return kLoadedNotificationPrefix + cacheKey(imageURL);
}

std::string RAZududeImageLoader::loadFailedNotificationName(std::string_view imageURL) {
    return kLoadFailedNotificationPrefix + cacheKey(imageURL);
}

Value RAZududeImageLoader::errorValue(const Error& error) {
    return Map{{"domain", error.domain()}, {"code", error.code()}, {"userInfo", error.userInfo()}};
}

ImagePtr RAZududeImageLoader::announcedImage(const platform::Notification& notification) {
    const Announcement* announcement = announcementOf(notification);
    return announcement ? announcement->image : nullptr;
}

std::optional<Error> RAZududeImageLoader::announcedError(
    const platform::Notification& notification) {
    const Announcement* announcement = announcementOf(notification);
    if (announcement == nullptr || announcement->error == nullptr) {
        return std::nullopt;
    }
    return *announcement->error;
}

// ---- downloads -----------------------------------------------------------------------------

std::shared_ptr<RAZududeImageLoadConnection> RAZududeImageLoader::loadImageForURL(
    std::string_view imageURL) {
    std::lock_guard lock(connectionsLock_);
    if (auto found = connections_.find(imageURL); found != connections_.end()) {
        return found->second.connection;
    }
    // Its news goes to the main thread, where the loader tells its observers anyway: straight
    // there, rather than through a queue of the connection's own and on from it.
    auto connection = RAZududeImageLoadConnection::create(std::string(imageURL), weak_from_this(),
                                                          isGif_, platform::DispatchQueue::main());
    connection->setMaximumBytes(maximumPictureBytes_);
    Download& download = connections_[std::string(imageURL)];
    download.connection = connection;
    refreshSnapshot();
    // On the next turn, so that whoever asked can still register observers or cancel.
    auto start = [weak = std::weak_ptr(connection)] {
        if (auto pending = weak.lock()) {
            pending->start();
        }
    };
    if (platform::MainLoop::main().isMainThread()) {
        // The network thread wakes meanwhile: the rest of this turn, often the other views
        // that show the same picture, hides the time a sleeping processor takes to come back.
        platform::NetworkThread::shared().expectPost(kStartExpectedWithin);
        download.pendingStart = platform::MainLoop::main().after(0, std::move(start));
    } else {
        download.pendingStart = platform::NetworkThread::shared().after(0, std::move(start));
    }
    return connection;
}

void RAZududeImageLoader::loadImageForURL(const std::optional<std::string>& imageURL,
                                          const std::shared_ptr<RZImageLoaderObserver>& observer) {
    if (!imageURL) {
        return;
    }
    addObserver(observer, *imageURL);
    loadImageForURL(*imageURL);
}

ImagePtr RAZududeImageLoader::imageForURL(const std::optional<std::string>& imageURL,
                                          const std::shared_ptr<RZImageLoaderObserver>& observer,
                                          bool autoLoad) {
    if (!imageURL) {
        return nullptr;
    }
    // A download in flight began because the cache had no picture: joining it spares a look
    // at the disk for every view that shows the same picture.
    if (autoLoad && isLoadingImageURL(*imageURL)) {
        loadImageForURL(imageURL, observer);
        return nullptr;
    }
    if (ImagePtr cached =
            RAZududeCache::currentCache().imageForKey<platform::Image>(cacheKey(*imageURL))) {
        return cached;
    }
    if (autoLoad) {
        loadImageForURL(imageURL, observer);
    }
    return nullptr;
}

std::optional<Bytes> RAZududeImageLoader::dataForURL(
    const std::optional<std::string>& imageURL,
    const std::shared_ptr<RZImageLoaderObserver>& observer, bool isGif) {
    isGif_ = isGif;
    if (!imageURL) {
        return std::nullopt;
    }
    if (isLoadingImageURL(*imageURL)) {
        loadImageForURL(imageURL, observer);
        return std::nullopt;
    }
    if (auto cached = RAZududeCache::currentCache().dataForKey(cacheKey(*imageURL))) {
        return cached;
    }
    loadImageForURL(imageURL, observer);
    return std::nullopt;
}

bool RAZududeImageLoader::isLoadingImageURL(std::string_view imageURL) const {
    std::lock_guard lock(connectionsLock_);
    return connections_.find(imageURL) != connections_.end();
}

bool RAZududeImageLoader::hasLoadedImageURL(std::string_view imageURL) const {
    return RAZududeCache::currentCache().hasCacheForKey(cacheKey(imageURL));
}

void RAZududeImageLoader::cancelLoadForURL(std::string_view imageURL) {
    std::shared_ptr<RAZududeImageLoadConnection> connection;
    {
        std::lock_guard lock(connectionsLock_);
        auto found = connections_.find(imageURL);
        if (found == connections_.end()) {
            return;
        }
        if (found->second.pendingStart) {
            found->second.pendingStart->cancel();
        }
        connection = found->second.connection;
    }
    connection->cancel();
    cleanUpConnection(*connection);
}

void RAZududeImageLoader::cancelLoadForObserver(const RZImageLoaderObserver& observer,
                                                std::string_view imageURL) {
    bool othersRemain = false;
    {
        std::vector<platform::ObserverToken> leftTokens;
        const std::string url(imageURL);
        std::lock_guard lock(observersLock_);
        dropListeners(&observer, &url, leftTokens);
        if (const auto audience = audiences_.find(url); audience != audiences_.end()) {
            for (const auto& listener : audience->second.listeners) {
                othersRemain = othersRemain || !listener->observer.expired();
            }
        }
    }
    if (!othersRemain) {
        cancelLoadForURL(imageURL);
    }
}

void RAZududeImageLoader::clearCacheForURL(std::string_view imageURL) {
    RAZududeCache::currentCache().removeCacheForKey(cacheKey(imageURL));
}

void RAZududeImageLoader::clearCacheForURL(std::string_view imageURL, std::size_t styleHash) {
    RAZududeCache::currentCache().removeCacheForKey(cacheKey(imageURL, styleHash));
}

void RAZududeImageLoader::cleanUpConnection(RAZududeImageLoadConnection& connection) {
    connection.setDelegate({});
    forget(connection);
}

void RAZududeImageLoader::forget(const RAZududeImageLoadConnection& connection) {
    std::lock_guard lock(connectionsLock_);
    auto found = connections_.find(connection.imageURL());
    if (found != connections_.end() && found->second.connection.get() == &connection) {
        connections_.erase(found);
        refreshSnapshot();
    }
}

void RAZududeImageLoader::refreshSnapshot() {
    auto snapshot = std::make_shared<Connections>();
    for (const auto& [url, download] : connections_) {
        snapshot->emplace(url, download.connection);
    }
    snapshot_ = std::move(snapshot);
}

std::shared_ptr<const RAZududeImageLoader::Connections> RAZududeImageLoader::currentConnections()
    const {
    std::lock_guard lock(connectionsLock_);
    return snapshot_;
}

void RAZududeImageLoader::setCache_seconds(double seconds) {
    if (seconds > 0) {
        cacheSeconds_ = seconds;
    }
}

// ---- what the connections tell -------------------------------------------------------------

void RAZududeImageLoader::imageLoadConnectionDidReceivePercent(
    float percent, RAZududeImageLoadConnection& connection) {
    const std::string& url = connection.imageURL();
    std::string name = loadedPercentNotificationName(url);
    // Progress that nobody listens for would cost the main thread a turn, and this queue a
    // wait that holds the end of the download behind it.
    if (!platform::NotificationCenter::defaultCenter().hasObservers(name)) {
        return;
    }
    announce(name, Map{{kPercentKey, static_cast<double>(percent)}, {kImageURLKey, url}}, nullptr,
             nullptr);
}

void RAZududeImageLoader::imageLoadConnectionDidFinishLoading(
    RAZududeImageLoadConnection& connection) {
    Bytes bytes = connection.responseData();
    // An error page is not the picture, whatever it holds.
    if (!isSuccessStatus(connection.response())) {
        finishLoading(connection, std::move(bytes), nullptr);
        return;
    }
    if (connection.isGif() || bytes.size() <= kLargestPictureDecodedInPlace) {
        ImagePtr image = connection.isGif() ? nullptr : decodePicture(bytes);
        finishLoading(connection, std::move(bytes), std::move(image));
        return;
    }
    // Decoded on a worker, so that the main thread keeps drawing meanwhile; the download stays
    // in flight until then, and whoever asks for the URL joins it.
    platform::DispatchQueue::global()->async([self = shared_from_this(),
                                              connection = connection.shared_from_this(),
                                              bytes = std::move(bytes)]() mutable {
        ImagePtr image = decodePicture(bytes);
        platform::DispatchQueue::main()->async(
            [self, connection, bytes = std::move(bytes), image = std::move(image)]() mutable {
                // Cancelled meanwhile: nobody is told.
                if (connection->delegate() == self) {
                    self->finishLoading(*connection, std::move(bytes), std::move(image));
                }
            });
    });
}

void RAZududeImageLoader::finishLoading(RAZududeImageLoadConnection& connection, Bytes bytes,
                                        ImagePtr image) {
    const std::string& url = connection.imageURL();
    const bool answered = isSuccessStatus(connection.response());
    if (!answered || (!connection.isGif() && !image)) {
        fail(connection,
             Error(connection.url() ? connection.url()->host() : std::string(), kNotAPictureCode));
        return;
    }
    const std::string key = cacheKey(url);
    Map userInfo;
    if (connection.isGif()) {
        userInfo.set(kImageGifKey, bytes);
    }
    userInfo.set(kImageURLKey, url);
    // Stored and out of the downloads in the turn of the main thread that tells the
    // observers: whoever asks for the URL before then joins the download, and from then on
    // finds the cache. The observers hear it before the disk thread is woken for the file.
    RAZududeCache::DeferredWrite write;
    announce(kLoadedNotificationPrefix + key, std::move(userInfo), std::move(image), nullptr, [&] {
        write = RAZududeCache::currentCache().stageData(std::move(bytes), key, cacheSeconds_);
        forget(connection);
    });
    cleanUpConnection(connection);
}

void RAZududeImageLoader::imageLoadConnection(RAZududeImageLoadConnection& connection,
                                              const Error& error) {
    fail(connection, error);
}

void RAZududeImageLoader::fail(RAZududeImageLoadConnection& connection, const Error& error) {
    const std::string& url = connection.imageURL();
    // Out of the downloads first, so that an observer that tries again starts a new one.
    forget(connection);
    announce(loadFailedNotificationName(url),
             Map{{kErrorKey, errorValue(error)}, {kImageURLKey, url}}, nullptr, &error);
    cleanUpConnection(connection);
}

void RAZududeImageLoader::announce(const std::string& name, Map userInfo, ImagePtr image,
                                   const Error* error, const std::function<void()>& first) {
    platform::DispatchQueue::main()->sync([&] {
        if (first) {
            first();
        }
        const Announcement announcement{&name, this, std::move(image), error, tAnnouncing};
        tAnnouncing = &announcement;
        struct Restore {
            const Announcement* outer;
            ~Restore() { tAnnouncing = outer; }
        } restore{announcement.outer};
        platform::NotificationCenter::defaultCenter().post(name, this, std::move(userInfo));
    });
}

// ---- observers -----------------------------------------------------------------------------

void RAZududeImageLoader::addObserver(const std::shared_ptr<RZImageLoaderObserver>& observer,
                                      std::string_view imageURL) {
    if (!observer) {
        return;
    }
    const unsigned methods = observer->imageLoaderMethods() & RZImageLoaderObserver::kAllMethods;
    std::vector<platform::ObserverToken> leftTokens;  // dies after the lock is let go
    std::lock_guard lock(observersLock_);
    sweepGoneObservers(leftTokens);
    auto [found, added] = observers_.try_emplace(observer.get(), &registrationBlocks_);
    if (!added && !sameObserver(found->second.observer, observer)) {
        // Left behind by an observer that lived at this address before.
        dropListeners(observer.get(), nullptr, leftTokens);
        found = observers_.try_emplace(observer.get(), &registrationBlocks_).first;
        added = true;
    }
    Observed& observed = found->second;
    auto audienceFound = audiences_.find(imageURL);
    if (added) {
        observed.observer = observer;
    } else if (audienceFound != audiences_.end() &&
               std::find(observed.imageURLs.begin(), observed.imageURLs.end(),
                         &audienceFound->first) != observed.imageURLs.end()) {
        return;
    }
    if (audienceFound == audiences_.end()) {
        audienceFound = audiences_.emplace(std::string(imageURL), Audience()).first;
    }
    observed.imageURLs.push_back(&audienceFound->first);
    Audience& audience = audienceFound->second;
    auto listener = std::make_shared<Listener>();
    listener->observer = observer;
    listener->identity = observer.get();
    listener->methods = methods;
    audience.listeners.push_back(std::move(listener));
    std::string key;  // worked out for the first observer of a notification only
    for (unsigned method : {RZImageLoaderObserver::kDidLoadPercent, RZImageLoaderObserver::kDidLoad,
                            RZImageLoaderObserver::kDidFailToLoad}) {
        if ((methods & method) == 0 || (audience.registered & method) != 0) {
            continue;
        }
        if (key.empty()) {
            key = cacheKey(imageURL);
        }
        const char* prefix =
            method == RZImageLoaderObserver::kDidLoadPercent ? kLoadedPercentNotificationPrefix
            : method == RZImageLoaderObserver::kDidLoad      ? kLoadedNotificationPrefix
                                                             : kLoadFailedNotificationPrefix;
        audience.tokens.push_back(platform::NotificationCenter::defaultCenter().addObserver(
            prefix + key, this,
            [this, url = std::string(imageURL),
             method](const platform::Notification& notification) {
                deliver(url, method, notification);
            }));
        audience.registered |= method;
    }
}

void RAZududeImageLoader::deliver(const std::string& imageURL, unsigned method,
                                  const platform::Notification& notification) {
    std::vector<std::shared_ptr<Listener>> listeners;
    {
        std::lock_guard lock(observersLock_);
        const auto found = audiences_.find(imageURL);
        if (found == audiences_.end()) {
            return;
        }
        listeners.reserve(found->second.listeners.size());
        for (const auto& listener : found->second.listeners) {
            if ((listener->methods & method) != 0) {
                listeners.push_back(listener);
            }
        }
    }
    const Announcement* announcement = announcementOf(notification);
    const RZImageLoaderNotification note{notification, announcement ? announcement->image : nullptr,
                                         announcement ? announcement->error : nullptr};
    // Made once for all the observers of the URL, however many there are.
    const std::string where = "an observer of " + notification.name;
    RZImageLoaderObserver* current = nullptr;
    const std::function<void()> tell = [&] {
        if (method == RZImageLoaderObserver::kDidLoadPercent) {
            current->imageLoaderDidLoadPercent(note);
        } else if (method == RZImageLoaderObserver::kDidLoad) {
            current->imageLoaderDidLoad(note);
        } else {
            current->imageLoaderDidFailToLoad(note);
        }
    };
    for (const auto& listener : listeners) {
        const std::shared_ptr<RZImageLoaderObserver> observer = listener->observer.lock();
        if (!observer || !listener->active) {
            continue;
        }
        current = observer.get();
        // One observer that throws keeps none of the others from hearing it.
        platform::runGuarded(where, tell);
    }
}

void RAZududeImageLoader::dropListeners(const RZImageLoaderObserver* identity,
                                        const std::string* imageURL,
                                        std::vector<platform::ObserverToken>& leftTokens) {
    auto found = observers_.find(identity);
    if (found == observers_.end()) {
        return;
    }
    auto& urls = found->second.imageURLs;
    for (auto url = urls.begin(); url != urls.end();) {
        if (imageURL != nullptr && **url != *imageURL) {
            ++url;
            continue;
        }
        // The audience's own key: *url dies with it.
        if (auto audience = audiences_.find(**url); audience != audiences_.end()) {
            auto& listeners = audience->second.listeners;
            for (auto listener = listeners.begin(); listener != listeners.end();) {
                if ((*listener)->identity == identity) {
                    (*listener)->active = false;
                    listener = listeners.erase(listener);
                } else {
                    ++listener;
                }
            }
            if (listeners.empty()) {
                std::move(audience->second.tokens.begin(), audience->second.tokens.end(),
                          std::back_inserter(leftTokens));
                audiences_.erase(audience);
            }
        }
        url = urls.erase(url);
    }
    if (urls.empty()) {
        observers_.erase(found);
    }
}

bool RAZududeImageLoader::sameObserver(const std::weak_ptr<RZImageLoaderObserver>& registered,
                                       const std::shared_ptr<RZImageLoaderObserver>& observer) {
    // One owner is one object while the observer lives; no count is touched to find out.
    return !registered.owner_before(observer) && !observer.owner_before(registered);
}

void RAZududeImageLoader::sweepGoneObservers(std::vector<platform::ObserverToken>& leftTokens) {
    if (observers_.size() < sweepAt_) {
        return;
    }
    dropGoneObservers(leftTokens);
    sweepAt_ = std::max(kFirstSweep, 2 * observers_.size());
}

void RAZududeImageLoader::dropGoneObservers(std::vector<platform::ObserverToken>& leftTokens) {
    std::vector<const RZImageLoaderObserver*> gone;
    for (const auto& [identity, observed] : observers_) {
        if (observed.observer.expired()) {
            gone.push_back(identity);
        }
    }
    for (const RZImageLoaderObserver* identity : gone) {
        dropListeners(identity, nullptr, leftTokens);
    }
}

std::size_t RAZududeImageLoader::observedURLCountForTesting() {
    std::vector<platform::ObserverToken> leftTokens;
    std::lock_guard lock(observersLock_);
    dropGoneObservers(leftTokens);
    return audiences_.size();
}

void RAZududeImageLoader::removeObserver(const RZImageLoaderObserver& observer) {
    // The tokens unregister as they die, outside the lock: an unregistration waits for a
    // delivery in progress on another thread, and that delivery takes the lock.
    std::vector<platform::ObserverToken> leftTokens;
    std::lock_guard lock(observersLock_);
    dropListeners(&observer, nullptr, leftTokens);
    sweepGoneObservers(leftTokens);
}

void RAZududeImageLoader::removeObserver(const RZImageLoaderObserver& observer,
                                         std::string_view imageURL) {
    std::vector<platform::ObserverToken> leftTokens;
    const std::string url(imageURL);
    std::lock_guard lock(observersLock_);
    dropListeners(&observer, &url, leftTokens);
}
