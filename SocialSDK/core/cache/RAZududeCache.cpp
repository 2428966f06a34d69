#include "SocialSDK/core/cache/RAZududeCache.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <map>
#include <set>
#include <stdexcept>
#include <system_error>
#include <unordered_map>
#include <utility>

#include <sys/stat.h>

#include "RZBase_Source/Encode/RAZududeUtils.h"
#include "platform/AppFolders.h"
#include "platform/Dispatch.h"
#include "platform/Files.h"
#include "platform/Log.h"
#include "platform/MainLoop.h"
#include "platform/Mutex.h"
#include "platform/NoDestructor.h"
#include "platform/PropertyList.h"
#include "platform/Text.h"
#include "platform/Url.h"

using platform::Bytes;
using platform::Date;

namespace {

// Escaped names longer than this keep a readable head and end in "~" and the MD5 of the
// whole escaped name; the limit leaves room for the atomic writer's temporary-name suffix.
constexpr std::size_t kMaxFileName = 200;
constexpr std::size_t kHashedHead = 180;
// Expiry dates stay within the years that a property-list date holds here (1933 to 2069), so
// that no entry can keep the index from being written.
const Date kLatestExpiry = Date::fromReferenceInterval(2147483000.0);
const Date kEarliestExpiry = Date::fromReferenceInterval(-2147483000.0);

// The index is a property list, whose keys are UTF-8 text without NUL; a key that it cannot
// hold would keep every later index write from happening.
bool storableKey(std::string_view key) {
    return key.find('\0') == std::string_view::npos && platform::text::isValidUtf8(key);
}

// Empty contents are no entry: they are what a power cut leaves of a write that had not
// reached the disk, and a miss is always a cache's right answer where the bytes may be wrong.
bool isEntry(const Bytes* contents) {
    return contents != nullptr && !contents->empty();
}

bool needsEscape(unsigned char c) {
    return c == '/' || c == '%' || c == '\0';
}

// The bytes that an escaped file name holds as they are; "." only where asked.
std::string keptBytes(bool dot) {
    std::string bytes;
    for (int c = 1; c < 256; ++c) {
        if (!needsEscape(static_cast<unsigned char>(c)) && (dot || c != '.')) {
            bytes += static_cast<char>(c);
        }
    }
    return bytes;
}

}  // namespace

struct RAZududeCache::State : std::enable_shared_from_this<State> {
    struct Pending {
        std::uint64_t generation = 0;
        std::shared_ptr<const Bytes> data;  // null: a removal
    };

    std::filesystem::path directory;
    std::atomic<double> defaultTimeout{kDefaultTimeoutInterval};
    std::shared_ptr<platform::DispatchQueue> diskQueue =
        platform::DispatchQueue::serial("RZCache.disk");

    mutable platform::Mutex mutex;
    std::map<std::string, Date, std::less<>> index RZ_GUARDED_BY(mutex);
    // Disk work not yet done, by key.
    std::unordered_map<std::string, Pending> pending RZ_GUARDED_BY(mutex);
    std::uint64_t nextGeneration RZ_GUARDED_BY(mutex) = 0;
    bool indexChanged RZ_GUARDED_BY(mutex) = false;  // since the last index write
    // An index write after stores waits for a pause in them: one timer for a whole burst,
    // which looks at the time of the latest store when it fires and waits on for the rest of
    // the pause. So a store costs the main loop nothing while the timer is set; writes made
    // meanwhile (removals, saveCacheDictionary) leave the timer be, and it may find nothing
    // left to write.
    bool saveTimerSet RZ_GUARDED_BY(mutex) = false;  // or on its way to the main loop
    double lastStore RZ_GUARDED_BY(mutex) = 0;       // on the main loop's clock
    // Files of entries that expired up to here are gone; later expiries are removed by the next
    // index write, so that a long-running process does not keep dead files until its next start.
    Date sweptUpTo RZ_GUARDED_BY(mutex) = Date::now();
    // May expire before sweptUpTo.
    std::set<std::string, std::less<>> storedSinceSweep RZ_GUARDED_BY(mutex);

    platform::Mutex saveMutex;  // one index write at a time, each with the latest snapshot

    std::filesystem::path pathFor(std::string_view key) const {
        return directory / fileNameForKey(key);
    }

    // Asks for the write (data) or removal (null) of the key's file; the disk work that puts
    // it there is queued by startDiskWork(), at once or when the caller is ready.
    void stageLocked(const std::string& key, std::shared_ptr<const Bytes> data) RZ_REQUIRES(mutex) {
        pending[key] = Pending{++nextGeneration, std::move(data)};
    }

    // Every staged change is followed by one of these. Each puts the file in the state last
    // staged for the key, so the order in which they are queued does not matter, and one that
    // finds the key's work done already does nothing.
    void startDiskWork(std::string key) {
        diskQueue->async([self = shared_from_this(), key = std::move(key)] {
            std::uint64_t generation = 0;
            std::shared_ptr<const Bytes> data;
            {
                platform::MutexLock lock(self->mutex);
                auto it = self->pending.find(key);
                if (it == self->pending.end()) {
                    return;
                }
                generation = it->second.generation;
                data = it->second.data;
            }
            const std::filesystem::path path = self->pathFor(key);
            if (data) {
                self->writeFile(path, *data);
            } else {
                std::error_code ignored;
                std::filesystem::remove(path, ignored);
            }
            platform::MutexLock lock(self->mutex);
            auto it = self->pending.find(key);
            if (it != self->pending.end() && it->second.generation == generation) {
                self->pending.erase(it);
            }
        });
    }

    void queueRemovalLocked(const std::string& key) RZ_REQUIRES(mutex) {
        stageLocked(key, nullptr);
        startDiskWork(key);
    }

    // Disk errors are not reported: a failed write shows up as a missing entry. A folder that
    // someone removed (a caches clean-up) is made again, so later stores still land. Nothing
    // waits for the disk to hold what is written: a cache may lose entries, and a wait per
    // entry would cost a flush of the disk for every picture shown. A power cut may undo the
    // latest writes or leave an entry's file empty, which reads as a miss; a damaged index
    // only starts an empty cache.
    void writeFile(const std::filesystem::path& path, const Bytes& data) const {
        constexpr auto kAccess = platform::Files::Access::kOwnerOnly;
        constexpr auto kDurability = platform::Files::Durability::kUnsynced;
        platform::Error error;
        if (platform::Files::writeAtomically(path, data, &error, kAccess, kDurability)) {
            return;
        }
        const auto& posix = error.underlyingError();
        if (posix && posix->code() == ENOENT) {
            std::error_code ignored;
            std::filesystem::create_directories(directory, ignored);
            platform::Files::writeAtomically(path, data, nullptr, kAccess, kDurability);
        }
    }

    void removeItemLocked(const std::string& key) RZ_REQUIRES(mutex) {
        queueRemovalLocked(key);
        index.erase(key);
    }

    // Removes the files of the entries that expired since the last sweep. Their index entries
    // stay, as a new cache leaves them: an expired entry is a miss either way. A store that
    // comes later gives the key a new expiry and queues its write after this removal.
    void sweepExpiredLocked() RZ_REQUIRES(mutex) {
        const Date now = Date::now();
        for (const auto& [key, expiry] : index) {
            if (expiry <= now && (sweptUpTo < expiry || storedSinceSweep.count(key))) {
                queueRemovalLocked(key);
            }
        }
        sweptUpTo = now;
        storedSinceSweep.clear();
    }

    void saveIndex() {
        platform::MutexLock saving(saveMutex);
        platform::Map snapshot;
        {
            platform::MutexLock lock(mutex);
            sweepExpiredLocked();
            indexChanged = false;
            snapshot.reserve(index.size());
            for (const auto& [key, expiry] : index) {
                snapshot.append(key, expiry);
            }
        }
        platform::Error error;
        const std::optional<Bytes> data = platform::PropertyList::write(
            platform::Value(std::move(snapshot)), platform::PropertyList::Format::kXml, &error);
        if (data) {
            writeFile(directory / kIndexFileName, *data);
        } else {
            platform::consoleLog("RZCache: the index cannot be written: %@",
                                 error.localizedDescription());
        }
    }

    // Notes a store made at `when` (the main loop's clock). True for the first store of a
    // burst, whose caller then sets the timer with armSaveTimer().
    bool noteStoreLocked(double when) RZ_REQUIRES(mutex) {
        indexChanged = true;
        lastStore = std::max(lastStore, when);
        return !std::exchange(saveTimerSet, true);
    }

    // On the main loop, which owns the timer.
    void armSaveTimer() {
        auto arm = [weak = weak_from_this()] {
            if (auto self = weak.lock()) {
                platform::MutexLock lock(self->mutex);
                self->armSaveTimerLocked();
            }
        };
        platform::MainLoop& loop = platform::MainLoop::main();
        if (loop.isMainThread()) {
            arm();
        } else {
            loop.post(std::move(arm));
        }
    }

    // The main loop's clock, in seconds, at which the index falls due after the last store.
    double indexDueLocked() const RZ_REQUIRES(mutex) {
        return lastStore + platform::Seconds(kIndexSaveDelay).count();
    }

    void armSaveTimerLocked() RZ_REQUIRES(mutex) {
        platform::MainLoop& loop = platform::MainLoop::main();
        loop.after(indexDueLocked() - loop.now(), [weak = weak_from_this()] {
            auto self = weak.lock();
            if (!self) {
                return;
            }
            {
                platform::MutexLock lock(self->mutex);
                // The clock's rounding must not keep a due write waiting for ever.
                constexpr double kSlack = 1e-6;
                if (platform::MainLoop::main().now() + kSlack < self->indexDueLocked()) {
                    self->armSaveTimerLocked();  // stores came meanwhile
                    return;
                }
                self->saveTimerSet = false;
                if (!self->indexChanged) {
                    return;
                }
            }
            // Off the main thread: a cache of a few thousand entries takes milliseconds to
            // write out, and the rename that puts the index in place can wait on the disk.
            self->diskQueue->async([self] { self->saveIndex(); });
        });
    }
};

RAZududeCache& RAZududeCache::currentCache() {
    static platform::NoDestructor<RAZududeCache> instance(defaultDirectory());
    return *instance;
}

std::filesystem::path RAZududeCache::defaultDirectory() {
    return platform::AppFolders::caches() / platform::AppFolders::processName() / "RZCache";
}

RAZududeCache::RAZududeCache(std::filesystem::path directory, double defaultTimeoutInterval)
    : state_(std::make_shared<State>()) {
    state_->directory = std::move(directory);
    state_->defaultTimeout = defaultTimeoutInterval;

    if (auto stored = platform::PropertyList::readFile(state_->directory / kIndexFileName);
        stored && stored->isMap()) {
        for (const auto& [key, expiry] : *stored->map()) {
            if (expiry.isDate() && key != kIndexFileName) {
                state_->index.emplace(key, *expiry.date());
            }
        }
    }
    std::error_code ignored;
    std::filesystem::create_directories(state_->directory, ignored);

    const Date now = Date::now();
    for (const auto& [key, expiry] : state_->index) {
        if (expiry <= now) {
            std::filesystem::remove(state_->pathFor(key), ignored);
        }
    }
}

RAZududeCache::~RAZududeCache() {
    bool savePending = false;
    {
        platform::MutexLock lock(state_->mutex);
        savePending = state_->indexChanged;
    }
    waitForDiskOperations();
    if (savePending) {
        state_->saveIndex();
    }
}

const std::filesystem::path& RAZududeCache::directory() const {
    return state_->directory;
}

double RAZududeCache::defaultTimeoutInterval() const {
    return state_->defaultTimeout;
}

void RAZududeCache::setDefaultTimeoutInterval(double seconds) {
    state_->defaultTimeout = seconds;
}

bool RAZududeCache::hasCacheForKey(std::string_view key) const {
    platform::MutexLock lock(state_->mutex);
    auto expiry = state_->index.find(key);
    if (expiry == state_->index.end() || expiry->second <= Date::now()) {
        return false;
    }
    if (auto it = state_->pending.find(std::string(key)); it != state_->pending.end()) {
        return isEntry(it->second.data.get());
    }
    struct stat info {};
    return ::stat(state_->pathFor(key).c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
           info.st_size > 0;
}

std::optional<Bytes> RAZududeCache::dataForKey(std::string_view key) const {
    if (!hasCacheForKey(key)) {
        return std::nullopt;
    }
    return entryData(key);
}

std::optional<Bytes> RAZududeCache::entryData(std::string_view key) const {
    {
        platform::MutexLock lock(state_->mutex);
        if (auto it = state_->pending.find(std::string(key)); it != state_->pending.end()) {
            if (!isEntry(it->second.data.get())) {
                return std::nullopt;
            }
            return *it->second.data;
        }
    }
    // A queued write replaces the file whole, so this reads the old or the new contents.
    std::optional<Bytes> data = platform::Files::read(state_->pathFor(key));
    if (!data || !isEntry(&*data)) {
        return std::nullopt;
    }
    return data;
}

void RAZududeCache::setData(Bytes data, std::string_view key) {
    setData(std::move(data), key, defaultTimeoutInterval());
}

void RAZududeCache::setData(Bytes data, std::string_view key, double timeoutInterval) {
    stageData(std::move(data), key, timeoutInterval).start();
}

RAZududeCache::DeferredWrite RAZududeCache::stageData(Bytes data, std::string_view key,
                                                      double timeoutInterval) {
    if (std::isnan(timeoutInterval)) {
        throw std::invalid_argument("Invalid parameter not satisfying: !isnan(timeoutInterval)");
    }
    if (key == kIndexFileName) {
        return {};
    }
    if (!storableKey(key)) {
        platform::consoleLog("RZCache: nothing stored: a key must be UTF-8 text without NUL");
        return {};
    }
    const Date expiry =
        std::clamp(Date::now().addingTimeInterval(timeoutInterval), kEarliestExpiry, kLatestExpiry);
    const double storedAt = platform::MainLoop::main().now();
    std::string name(key);
    bool firstOfBurst = false;
    {
        platform::MutexLock lock(state_->mutex);
        state_->stageLocked(name, std::make_shared<const Bytes>(std::move(data)));
        state_->storedSinceSweep.insert(name);
        state_->index.insert_or_assign(name, expiry);
        firstOfBurst = state_->noteStoreLocked(storedAt);
    }
    if (firstOfBurst) {
        state_->armSaveTimer();
    }
    return DeferredWrite(state_, std::move(name));
}

RAZududeCache::DeferredWrite& RAZududeCache::DeferredWrite::operator=(
    DeferredWrite&& other) noexcept {
    if (this != &other) {
        start();
        cache_ = std::move(other.cache_);
        key_ = std::move(other.key_);
    }
    return *this;
}

void RAZududeCache::DeferredWrite::start() {
    if (auto cache = std::exchange(cache_, nullptr)) {
        cache->startDiskWork(std::move(key_));
    }
}

bool RAZududeCache::copyFilePath(const std::filesystem::path& source, std::string_view key) {
    return copyFilePath(source, key, defaultTimeoutInterval());
}

bool RAZududeCache::copyFilePath(const std::filesystem::path& source, std::string_view key,
                                 double timeoutInterval) {
    if (key == kIndexFileName) {
        return false;
    }
    // Read now: the caller may change or remove the file as soon as this returns.
    std::optional<Bytes> contents = platform::Files::read(source);
    if (!contents) {
        return false;
    }
    setData(std::move(*contents), key, timeoutInterval);
    return true;
}

std::optional<platform::Value> RAZududeCache::plistForKey(std::string_view key) const {
    std::optional<Bytes> data = dataForKey(key);
    if (!data) {
        return std::nullopt;
    }
    return platform::PropertyList::read(*data);
}

void RAZududeCache::setPlist(const platform::Value& plist, std::string_view key) {
    setPlist(plist, key, defaultTimeoutInterval());
}

void RAZududeCache::setPlist(const platform::Value& plist, std::string_view key,
                             double timeoutInterval) {
    platform::Error error;
    std::optional<Bytes> data =
        platform::PropertyList::write(plist, platform::PropertyList::Format::kBinary, &error);
    if (!data) {
        platform::consoleLog("RZCache: nothing stored for \"%@\": %@", key,
                             error.localizedDescription());
        return;
    }
    setData(std::move(*data), key, timeoutInterval);
}

void RAZududeCache::removeCacheForKey(std::string_view key) {
    if (key == kIndexFileName) {
        return;
    }
    {
        platform::MutexLock lock(state_->mutex);
        state_->removeItemLocked(std::string(key));
    }
    state_->saveIndex();
}

void RAZududeCache::clearCache() {
    {
        platform::MutexLock lock(state_->mutex);
        while (!state_->index.empty()) {
            state_->removeItemLocked(state_->index.begin()->first);
        }
    }
    state_->saveIndex();
}

void RAZududeCache::saveCacheDictionary() {
    state_->saveIndex();
}

void RAZududeCache::waitForDiskOperations() const {
    state_->diskQueue->sync([] {});
}

std::string RAZududeCache::fileNameForKey(std::string_view key) {
    if (key.empty()) {
        return "%";  // no escape spells this
    }
    const bool isIndex = key == kIndexFileName;
    const bool plain = !isIndex && key.front() != '.' && key.size() <= kMaxFileName &&
                       std::none_of(key.begin(), key.end(), [](char c) {
                           return needsEscape(static_cast<unsigned char>(c));
                       });
    if (plain) {
        return std::string(key);
    }
    // A leading "." would hide the file or name the folder itself; the index's own name loses
    // every ".", so that no key can be stored over it.
    // Never destroyed: the disk queue's thread names files while the process may be exiting.
    static const platform::NoDestructor<std::string> kKeep(keptBytes(true));
    static const platform::NoDestructor<std::string> kKeepButDot(keptBytes(false));
    std::string name = platform::percentEncode(key.substr(0, 1), *kKeepButDot) +
                       platform::percentEncode(key.substr(1), isIndex ? *kKeepButDot : *kKeep);
    if (name.size() > kMaxFileName) {
        std::size_t cut = kHashedHead;
        while (cut > 2 && (name[cut - 1] == '%' || name[cut - 2] == '%')) {
            --cut;  // do not split an escape
        }
        name = name.substr(0, cut) + "~" + RAZududeUtils::md5Value(name);
    }
    return name;
}
