// The user-defaults store: small values under string keys, kept as one binary property list.
// The file is read on first use and written whole after every change, so a fresh store on the
// same file sees every value set before; a failed write leaves the previous file in place and
// is tried again by the next change or synchronize().
//
// One store object per file and process: two objects on one file would each write back only
// what they hold.
//
// A file that cannot be read as a dictionary is not overwritten: it is logged, renamed aside
// with a ".corrupt-<time>" suffix, and the store starts empty.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "platform/Mutex.h"
#include "platform/NoDestructor.h"
#include "platform/Value.h"

namespace platform {

class UserDefaults {
  public:
    // The store of the app, kept at AppFolders::defaultsFile() (looked up on first use).
    static UserDefaults& standardUserDefaults();

    explicit UserDefaults(std::filesystem::path file);
    UserDefaults(const UserDefaults&) = delete;
    UserDefaults& operator=(const UserDefaults&) = delete;

    // Null when the key is absent.
    Value objectForKey(std::string_view key);
    // A string, or a number's text; nothing for other values.
    std::optional<std::string> stringForKey(std::string_view key);
    // Numbers, and strings read as their leading number; 0 or false otherwise.
    std::int64_t integerForKey(std::string_view key);
    bool boolForKey(std::string_view key);
    double doubleForKey(std::string_view key);
    std::optional<Date> dateForKey(std::string_view key);
    std::optional<Map> dictionaryForKey(std::string_view key);
    std::optional<Array> arrayForKey(std::string_view key);

    // Setting null removes the key. A value that no property list can hold (a null inside a
    // container, text that is not UTF-8) is refused and logged; the store stays as it was.
    void setObject(const Value& value, std::string_view key);
    void setInteger(std::int64_t value, std::string_view key) { setObject(Value(value), key); }
    void setBool(bool value, std::string_view key) { setObject(Value(value), key); }
    void setDouble(double value, std::string_view key) { setObject(Value(value), key); }
    void removeObjectForKey(std::string_view key);

    // Writes what is not yet on disk; false when the file could not be written.
    bool synchronize();

    // Every key and value.
    Map dictionaryRepresentation();

    std::filesystem::path file();

  private:
    friend class NoDestructor<UserDefaults>;
    UserDefaults();
    const std::filesystem::path& fileLocked() RZ_REQUIRES(mutex_);
    void loadLocked() RZ_REQUIRES(mutex_);
    bool saveLocked() RZ_REQUIRES(mutex_);

    Mutex mutex_;
    std::filesystem::path file_ RZ_GUARDED_BY(mutex_);
    bool pathIsLazy_ RZ_GUARDED_BY(mutex_) = false;
    bool loaded_ RZ_GUARDED_BY(mutex_) = false;
    bool dirty_ RZ_GUARDED_BY(mutex_) = false;
    // Set when a file exists that could be neither read nor moved aside: writing would
    // destroy it, so the store keeps its values in memory only.
    bool writeBlocked_ RZ_GUARDED_BY(mutex_) = false;
    Map values_ RZ_GUARDED_BY(mutex_);
};

}  // namespace platform
