// The share service's expiring key-value store on disk: one file per key in a cache folder,
// and an index ("RZCache.plist" in the same folder) that maps each key to its expiry date.
// Archived entities, downloaded pictures and property lists live here between launches.
//
// Writes and removals go to one serial disk queue, each of which puts the key's file in the
// state last asked for, so that the disk ends where the calls ended; until a write is on disk,
// reads answer from it, so a store is seen at once. Nothing waits for the disk to hold what is
// written, so a power cut may lose the latest stores or leave an entry's file empty: an entry
// whose contents are empty is a miss, whether it was stored so or left so. The index is guarded
// by a lock; after a store it is written on the disk queue once the stores pause for 0.3 s on
// the main loop, after a removal at once on the caller's thread. Expired entries lose their
// files when a cache is made and at every index write after that, so that a long-running
// process does not keep them; their index entries stay, as misses.
//
// Keys are file names as they stand when they are safe ones; a key with "/", "%" or a NUL, a
// leading ".", the index's own name, or one too long for a file name is escaped, so that no
// key reaches outside the folder or touches the index. Use from any thread.
#pragma once

#include <chrono>
#include <concepts>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "platform/Value.h"

class RAZududeCache {
    struct State;

  public:
    static constexpr const char* kIndexFileName = "RZCache.plist";
    static constexpr double kDefaultTimeoutInterval = 86400;  // one day
    static constexpr std::chrono::milliseconds kIndexSaveDelay{300};

    // The shared cache in defaultDirectory(), made on first use and kept for the process.
    static RAZududeCache& currentCache();
    // <Caches>/<process name>/RZCache.
    static std::filesystem::path defaultDirectory();

    // A cache on the folder (made when missing). Entries that expired by now lose their files.
    explicit RAZududeCache(std::filesystem::path directory,
                           double defaultTimeoutInterval = kDefaultTimeoutInterval);
    // Lets the queued disk work finish and writes an index save that is still pending, so a
    // new cache on the same folder finds everything.
    ~RAZududeCache();
    RAZududeCache(const RAZududeCache&) = delete;
    RAZududeCache& operator=(const RAZududeCache&) = delete;

    const std::filesystem::path& directory() const;

    // Lifetime, in seconds, of entries stored without one.
    double defaultTimeoutInterval() const;
    void setDefaultTimeoutInterval(double seconds);

    // Whether the key has an entry that has not expired (its expiry is later than now) and
    // holds some bytes.
    bool hasCacheForKey(std::string_view key) const;
    // The entry's bytes while it has not expired.
    std::optional<platform::Bytes> dataForKey(std::string_view key) const;

    // Stores the bytes under the key for the interval (the default lifetime without one); an
    // interval of 0 or less stores an entry that has already expired; expiry dates end in 2069.
    // The key "RZCache.plist" is refused, and so is, with a console line, a key that is not
    // UTF-8 text or holds a NUL. A NaN interval throws std::invalid_argument.
    void setData(platform::Bytes data, std::string_view key);
    void setData(platform::Bytes data, std::string_view key, double timeoutInterval);

    // A store whose disk write is queued when this dies, or at start(): a caller that has more
    // to do at once (telling observers) does it before the cache wakes its disk thread. Reads
    // see the entry from the store on. Empty when the key was refused.
    class [[nodiscard]] DeferredWrite {
      public:
        DeferredWrite() = default;
        DeferredWrite(DeferredWrite&& other) noexcept = default;
        DeferredWrite& operator=(DeferredWrite&& other) noexcept;
        ~DeferredWrite() { start(); }
        void start();

      private:
        friend class RAZududeCache;
        DeferredWrite(std::shared_ptr<RAZududeCache::State> cache, std::string key)
            : cache_(std::move(cache)), key_(std::move(key)) {}
        std::shared_ptr<RAZududeCache::State> cache_;
        std::string key_;
    };
    // setData, with the disk write left to the returned object.
    DeferredWrite stageData(platform::Bytes data, std::string_view key, double timeoutInterval);

    // Stores a copy of the file's current contents under the key, replacing an entry there;
    // false (and nothing changed) when the file cannot be read or the key is refused.
    bool copyFilePath(const std::filesystem::path& source, std::string_view key);
    bool copyFilePath(const std::filesystem::path& source, std::string_view key,
                      double timeoutInterval);

    // Pictures, stored as PNG. Reading decodes whatever the entry's file holds without looking
    // at the expiry, so a picture stays on show until its file is removed. Any image class
    // with `Bytes encodePng() const` and `static decode(const Bytes&)` fits.
    template <class Image>
    requires requires(const platform::Bytes& data) { Image::decode(data); }
    auto imageForKey(std::string_view key) const
        -> decltype(Image::decode(std::declval<const platform::Bytes&>())) {
        std::optional<platform::Bytes> data = entryData(key);
        if (!data) {
            return {};
        }
        return Image::decode(*data);
    }
    template <class Image>
    requires requires(const Image& image) {
        { image.encodePng() } -> std::convertible_to<platform::Bytes>;
    }
    void setImage(const Image& image, std::string_view key) {
        setImage(image, key, defaultTimeoutInterval());
    }
    template <class Image>
    requires requires(const Image& image) {
        { image.encodePng() } -> std::convertible_to<platform::Bytes>;
    }
    void setImage(const Image& image, std::string_view key, double timeoutInterval) {
        platform::Bytes png = image.encodePng();
        if (!png.empty()) {
            setData(std::move(png), key, timeoutInterval);
        }
    }

    // Property lists: read in any form, stored in the binary one. A value that no property
    // list can hold is not stored, and a console line says so.
    std::optional<platform::Value> plistForKey(std::string_view key) const;
    void setPlist(const platform::Value& plist, std::string_view key);
    void setPlist(const platform::Value& plist, std::string_view key, double timeoutInterval);

    // Removes the entry and writes the index at once; the key "RZCache.plist" is refused.
    void removeCacheForKey(std::string_view key);
    // Removes every entry of the index and writes the index at once.
    void clearCache();

    // Writes the index now.
    void saveCacheDictionary();
    // Returns once every write, removal and index write asked for so far is on the disk (a
    // deferred write's once it has started).
    void waitForDiskOperations() const;

    // The name of the key's file in the folder.
    static std::string fileNameForKey(std::string_view key);

  private:
    // The entry's bytes (queued or on disk) whether or not it has expired.
    std::optional<platform::Bytes> entryData(std::string_view key) const;

    std::shared_ptr<State> state_;
};
