#include "platform/UserDefaults.h"

#include <cerrno>
#include <ctime>
#include <system_error>

#include "platform/AppFolders.h"
#include "platform/Files.h"
#include "platform/NoDestructor.h"
#include "platform/PropertyList.h"
#include "platform/StorageLog.h"

namespace platform {

namespace {

std::string timeStamp() {
    std::time_t now = std::time(nullptr);
    std::tm utc{};
    gmtime_r(&now, &utc);
    char buffer[32];
    std::strftime(buffer, sizeof buffer, "%Y%m%dT%H%M%SZ", &utc);
    return buffer;
}

}  // namespace

UserDefaults& UserDefaults::standardUserDefaults() {
    static NoDestructor<UserDefaults> standard;
    return *standard;
}

UserDefaults::UserDefaults() : pathIsLazy_(true) {}

UserDefaults::UserDefaults(std::filesystem::path file) : file_(std::move(file)) {}

std::filesystem::path UserDefaults::file() {
    MutexLock lock(mutex_);
    return fileLocked();
}

const std::filesystem::path& UserDefaults::fileLocked() {
    if (pathIsLazy_ && file_.empty()) {
        file_ = AppFolders::defaultsFile();
    }
    return file_;
}

void UserDefaults::loadLocked() {
    if (loaded_) {
        return;
    }
    loaded_ = true;
    const std::filesystem::path& path = fileLocked();
    Error error;
    auto data = Files::read(path, &error);
    if (!data && error.code() == kFileReadNoSuchFileError) {
        return;  // nothing stored yet
    }
    if (data) {
        auto stored = PropertyList::read(*data, &error);
        if (stored && stored->isMap()) {
            values_ = std::move(*stored->map());
            return;
        }
        if (stored) {
            error =
                Error(kCocoaErrorDomain, PropertyList::kReadCorruptError,
                      Map{{kLocalizedDescriptionKey, "The defaults file holds no dictionary."}});
        }
    }
    // Keep the unreadable file for whoever wants to look at it, and start afresh beside it.
    std::filesystem::path aside = path;
    aside += ".corrupt-" + timeStamp();
    for (int n = 2; std::filesystem::exists(aside); ++n) {
        aside = path;
        aside += ".corrupt-" + timeStamp() + "-" + std::to_string(n);
    }
    std::error_code renameError;
    std::filesystem::rename(path, aside, renameError);
    if (renameError) {
        writeBlocked_ = true;
        detail::storageLog("UserDefaults: cannot read " + path.string() + " (" +
                           error.localizedDescription() + ") nor move it aside (" +
                           renameError.message() + "); changes stay in memory");
        return;
    }
    detail::storageLog("UserDefaults: cannot read " + path.string() + " (" +
                       error.localizedDescription() + "); kept it as " + aside.string() +
                       " and started empty");
}

bool UserDefaults::saveLocked() {
    const std::filesystem::path& path = fileLocked();
    if (writeBlocked_) {
        detail::storageLog("UserDefaults: not writing " + path.string() +
                           ": the unreadable file there could not be moved aside");
        return false;
    }
    std::error_code folderError;
    std::filesystem::create_directories(path.parent_path(), folderError);
    Error error;
    if (folderError) {
        error = Files::errorFromErrno(folderError.value(), true, path.parent_path(),
                                      "Cannot create the folder");
    } else if (PropertyList::writeFile(Value(values_), path, PropertyList::Format::kBinary,
                                       &error)) {
        dirty_ = false;
        return true;
    }
    dirty_ = true;
    detail::storageLog("UserDefaults: cannot write " + path.string() + ": " +
                       error.localizedDescription());
    return false;
}

Value UserDefaults::objectForKey(std::string_view key) {
    MutexLock lock(mutex_);
    loadLocked();
    const Value* value = values_.find(key);
    return value ? *value : Value();
}

std::optional<std::string> UserDefaults::stringForKey(std::string_view key) {
    Value value = objectForKey(key);
    if (value.isString() || value.isNumber()) {
        return value.stringValue();
    }
    return std::nullopt;
}

std::int64_t UserDefaults::integerForKey(std::string_view key) {
    return objectForKey(key).integerValue();
}

bool UserDefaults::boolForKey(std::string_view key) {
    return objectForKey(key).boolValue();
}

double UserDefaults::doubleForKey(std::string_view key) {
    return objectForKey(key).doubleValue();
}

std::optional<Date> UserDefaults::dateForKey(std::string_view key) {
    Value value = objectForKey(key);
    return value.isDate() ? std::optional<Date>(*value.date()) : std::nullopt;
}

std::optional<Map> UserDefaults::dictionaryForKey(std::string_view key) {
    Value value = objectForKey(key);
    return value.isMap() ? std::optional<Map>(std::move(*value.map())) : std::nullopt;
}

std::optional<Array> UserDefaults::arrayForKey(std::string_view key) {
    Value value = objectForKey(key);
    return value.isArray() ? std::optional<Array>(std::move(*value.array())) : std::nullopt;
}

void UserDefaults::setObject(const Value& value, std::string_view key) {
    if (value.isNull()) {
        removeObjectForKey(key);
        return;
    }
    // Refuse what the file could not hold before it reaches the store.
    Error error;
    Map probe;
    probe.set(key, value);
    if (!PropertyList::write(Value(std::move(probe)), PropertyList::Format::kBinary, &error)) {
        detail::storageLog("UserDefaults: refused the value for \"" + std::string(key) +
                           "\": " + error.localizedDescription());
        return;
    }
    MutexLock lock(mutex_);
    loadLocked();
    values_.set(key, value);
    dirty_ = true;
    saveLocked();
}

void UserDefaults::removeObjectForKey(std::string_view key) {
    MutexLock lock(mutex_);
    loadLocked();
    if (values_.erase(key)) {
        dirty_ = true;
        saveLocked();
    }
}

bool UserDefaults::synchronize() {
    MutexLock lock(mutex_);
    loadLocked();
    if (writeBlocked_) {
        return false;
    }
    return !dirty_ || saveLocked();
}

Map UserDefaults::dictionaryRepresentation() {
    MutexLock lock(mutex_);
    loadLocked();
    return values_;
}

}  // namespace platform
