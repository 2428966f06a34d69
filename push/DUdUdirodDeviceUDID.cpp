#include "push/DUdUdirodDeviceUDID.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <optional>
#include <system_error>
#include <utility>
#include <vector>

#include "RZBase_Source/Encode/RAZududeUtils.h"
#include "platform/Format.h"
#include "platform/KeyedArchive.h"
#include "platform/Mutex.h"
#include "platform/Random.h"
#include "platform/Text.h"
#include "platform/UserDefaults.h"

using platform::Date;
using platform::Map;
using platform::Pasteboard;
using platform::UserDefaults;
using platform::Value;

namespace {

platform::Mutex gMutex;  // one walk at a time in the process
std::optional<std::string> gCache RZ_GUARDED_BY(gMutex);

// Held while the store is read and written, so that processes started together do not each
// make an identifier of their own. Escaped pasteboard names never start with ".", so the
// lock file cannot be mistaken for a pasteboard. Without the file (read-only folder) the walk
// goes on unlocked: the store then cannot be written anyway.
class StoreLock {
  public:
    StoreLock() {
        std::error_code code;
        const std::filesystem::path folder = Pasteboard::folder();
        std::filesystem::create_directories(folder, code);
        fd_ = ::open((folder / ".org.DeviceUDID.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        while (fd_ >= 0 && ::flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
        }
    }
    ~StoreLock() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    StoreLock(const StoreLock&) = delete;
    StoreLock& operator=(const StoreLock&) = delete;

  private:
    int fd_ = -1;
};

std::string slotName(int slot) {
    return platform::format("%@%d", DUdUdirodDeviceUDID::kSlotPrefix, slot);
}

std::optional<std::string> stringIn(const Map& record, const char* key) {
    const Value* value = record.find(key);
    if (value && value->isString()) {
        return *value->string();
    }
    return std::nullopt;
}

// The identifier a record holds, whatever its form: other copies of the routine, older or
// newer, may write identifiers of another form, and their records are theirs to keep. Only an
// identifier that cannot be read as text (none, not a string, or empty) counts as none.
std::optional<std::string> identifierIn(const Map& record) {
    const Value* value = record.find(DUdUdirodDeviceUDID::kRecordKey);
    if (value && value->isString() && !value->string()->empty()) {
        return *value->string();
    }
    return std::nullopt;
}

std::optional<Date> dateIn(const Map& record, const char* key) {
    const Value* value = record.find(key);
    if (value && value->isDate()) {
        return *value->date();
    }
    return std::nullopt;
}

void setError(platform::Error* error, long code, std::string description) {
    if (error) {
        *error =
            platform::Error(DUdUdirodDeviceUDID::kErrorDomain, code,
                            Map{{DUdUdirodDeviceUDID::kDescriptionKey, std::move(description)}});
    }
}

// The walk over the store; the caller holds gMutex and the store lock.
std::string walkStore(platform::Error* error) RZ_REQUIRES(gMutex) {
    UserDefaults& defaults = UserDefaults::standardUserDefaults();
    // Kept only inside the record: a top-level value is set by other copies, if any.
    const std::string appUID =
        defaults.stringForKey(DUdUdirodDeviceUDID::kAppUIDKey).value_or(platform::newUuidString());

    std::optional<Map> local = defaults.dictionaryForKey(DUdUdirodDeviceUDID::kRecordKey);
    std::optional<std::string> localId;
    std::optional<std::string> mySlot;
    std::optional<Date> optOutDate;
    if (local) {
        localId = identifierIn(*local);
        mySlot = stringIn(*local, DUdUdirodDeviceUDID::kSlotKey);
        optOutDate = dateIn(*local, DUdUdirodDeviceUDID::kOptOutKey);
    }
    bool optedOut = optOutDate.has_value();

    std::optional<std::string> freeSlot;
    std::vector<std::pair<std::string, int>> counts;  // in the order first seen
    for (int slot = 0; slot < DUdUdirodDeviceUDID::kSlotCount; ++slot) {
        const std::string name = slotName(slot);
        const auto pasteboard = Pasteboard::pasteboardWithName(name, false);
        const Map record =
            pasteboard ? DUdUdirodDeviceUDID::getDictFromPasteboard(*pasteboard) : Map{};
        if (const auto id = identifierIn(record)) {
            auto it = std::find_if(counts.begin(), counts.end(),
                                   [&](const auto& entry) { return entry.first == *id; });
            if (it == counts.end()) {
                counts.emplace_back(*id, 1);
            } else {
                ++it->second;
            }
        } else if (!freeSlot) {
            freeSlot = name;
        }
        if (stringIn(record, DUdUdirodDeviceUDID::kAppUIDKey) == appUID) {
            mySlot = name;
            if (optedOut) {
                optOutDate = dateIn(record, DUdUdirodDeviceUDID::kOptOutKey);
                optedOut = optOutDate.has_value();
            }
        }
    }

    // The most frequent copy; of equally frequent ones, the one in the lowest slot.
    std::optional<std::string> mostReliable;
    int best = 0;
    for (const auto& [id, count] : counts) {
        if (count > best) {
            best = count;
            mostReliable = id;
        }
    }

    bool save = false;
    bool compromised = false;
    std::string identifier;
    if (!localId) {
        identifier = mostReliable ? *mostReliable : DUdUdirodDeviceUDID::generateFreshDeviceUDID();
        if (!local) {
            local = Map{{DUdUdirodDeviceUDID::kRecordKey, identifier},
                        {DUdUdirodDeviceUDID::kAppUIDKey, appUID},
                        {DUdUdirodDeviceUDID::kCreatedKey, Date::now()}};
        } else {
            // A record that lost its identifier keeps its other entries and gets this one,
            // rather than handing out whatever the copies say on every launch.
            local->set(DUdUdirodDeviceUDID::kRecordKey, identifier);
            if (!local->contains(DUdUdirodDeviceUDID::kAppUIDKey)) {
                local->set(DUdUdirodDeviceUDID::kAppUIDKey, appUID);
            }
            if (!dateIn(*local, DUdUdirodDeviceUDID::kCreatedKey)) {
                local->set(DUdUdirodDeviceUDID::kCreatedKey, Date::now());
            }
        }
        save = true;
    } else {
        identifier = *localId;
        compromised = mostReliable && *mostReliable != identifier;
    }

    if (freeSlot && (!mySlot || *mySlot == *freeSlot)) {
        if (const auto pasteboard = Pasteboard::pasteboardWithName(*freeSlot, true)) {
            pasteboard->setPersistent(true);
            local->set(DUdUdirodDeviceUDID::kSlotKey, *freeSlot);
            save = true;
            DUdUdirodDeviceUDID::setDictForPasteboard(*local, *pasteboard);
        }
    }

    if (save) {
        defaults.setObject(Value(*local), DUdUdirodDeviceUDID::kRecordKey);
    }

    if (optedOut) {
        setError(error, DUdUdirodDeviceUDID::kOptedOut,
                 platform::format("Application with unique id %@ is opted-out from DeviceUDID "
                                  "as of %@",
                                  appUID, Value(*optOutDate)));
        identifier = platform::format("%040x", 0);
    } else if (compromised) {
        setError(error, DUdUdirodDeviceUDID::kCompromised,
                 "Found a discrepancy between stored DeviceUDID (reliable) and redundant copies; "
                 "one of the apps on the device is most likely corrupting the DeviceUDID "
                 "protocol");
    } else {
        setError(error, DUdUdirodDeviceUDID::kDelivered, "DeviceUDID succesfully retrieved");
    }
    gCache = identifier;
    return identifier;
}

}  // namespace

std::string DUdUdirodDeviceUDID::value() {
    return valueWithError(nullptr);
}

std::string DUdUdirodDeviceUDID::valueWithError(platform::Error* error) {
    platform::MutexLock lock(gMutex);
    if (gCache) {
        setError(error, kDelivered, "DeviceUDID in cache from first call");
        return *gCache;
    }
    StoreLock storeLock;
    return walkStore(error);
}

void DUdUdirodDeviceUDID::setOptOut(bool optOut) {
    value();
    platform::MutexLock lock(gMutex);
    StoreLock storeLock;
    UserDefaults& defaults = UserDefaults::standardUserDefaults();
    Map record = defaults.dictionaryForKey(kRecordKey).value_or(Map{});
    if (optOut) {
        record.set(kOptOutKey, Date::now());
    } else {
        record.erase(kOptOutKey);
    }
    defaults.setObject(Value(record), kRecordKey);

    // The walk takes this app's opt-out from its shared copy once it finds that copy, so the
    // copy must say the same, or the opt-out would be forgotten by the next walk. A slot that
    // another app has taken over in the meantime is left alone.
    if (const auto slot = stringIn(record, kSlotKey); slot && slot->starts_with(kSlotPrefix)) {
        if (const auto pasteboard = Pasteboard::pasteboardWithName(*slot, false)) {
            const Map shared = getDictFromPasteboard(*pasteboard);
            if (!identifierIn(shared) ||
                stringIn(shared, kAppUIDKey) == stringIn(record, kAppUIDKey)) {
                setDictForPasteboard(record, *pasteboard);
            }
        }
    }
    gCache.reset();
}

Map DUdUdirodDeviceUDID::getDictFromPasteboard(const Pasteboard& pasteboard) {
    const auto data = pasteboard.dataForPasteboardType(kPasteboardType);
    if (!data) {
        return {};
    }
    const auto root = platform::KeyedUnarchiver::unarchiveObject(*data);
    if (!root) {
        return {};
    }
    const auto value = root->toValue();
    if (!value || !value->isMap()) {
        return {};
    }
    return *value->map();
}

bool DUdUdirodDeviceUDID::setDictForPasteboard(const Map& dict, Pasteboard& pasteboard) {
    const auto data = platform::KeyedArchiver::archivedData(platform::ArchiveObject(Value(dict)));
    return data && pasteboard.setData(*data, kPasteboardType);
}

std::string DUdUdirodDeviceUDID::generateFreshDeviceUDID() {
    return platform::text::toLower(RAZududeUtils::md5Value(platform::newUuidString())) +
           platform::format("%08x", platform::random32());
}

void DUdUdirodDeviceUDID::clearProcessCache() {
    platform::MutexLock lock(gMutex);
    gCache.reset();
}
