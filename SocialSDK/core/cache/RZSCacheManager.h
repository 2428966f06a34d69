// Keeps the share service's entities between launches: objects that archive themselves (the bar
// counters, friend lists, the comment accounts, the app information) go as keyed archives into
// the file cache under keys made from a class name, and a few small strings (the AppKey, the
// user name and id) live in the value file ".RAZududeData.plist" of the Library folder.
//
// A variable that the helpers fill and store is one of the kinds RZSArchiveCoding knows: a
// std::shared_ptr to an Archivable class, std::optional<platform::Value> (nullopt is nil, a null
// Value the null object), std::optional of a vector of Archivable pointers, or an
// ArchiveObject. Another kind joins by specialising RZSArchiveCoding.
//
// Any thread: the value file is read and written under a lock, and the file cache under it guards
// itself. The bar-counter keys name the current data manager, which the data managers hand in.
#pragma once

#include <concepts>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "SocialSDK/core/cache/RAZududeCache.h"
#include "platform/KeyedArchive.h"
#include "platform/Mutex.h"
#include "platform/Value.h"

// How a kind of variable is told nil, told the null object, archived and made again.
template <class T>
struct RZSArchiveCoding;

template <std::derived_from<platform::Archivable> E>
struct RZSArchiveCoding<std::shared_ptr<E>> {
    static bool isNil(const std::shared_ptr<E>& v) { return !v; }
    static bool isNull(const std::shared_ptr<E>&) { return false; }
    static platform::ArchiveObject encode(const std::shared_ptr<E>& v) { return v; }
    static std::optional<std::shared_ptr<E>> decode(const platform::ArchiveObject& o) {
        if (auto typed = o.as<E>()) {
            return typed;
        }
        return std::nullopt;
    }
};

template <>
struct RZSArchiveCoding<std::optional<platform::Value>> {
    static bool isNil(const std::optional<platform::Value>& v) { return !v; }
    static bool isNull(const std::optional<platform::Value>& v) { return v && v->isNull(); }
    static platform::ArchiveObject encode(const std::optional<platform::Value>& v) { return *v; }
    static std::optional<std::optional<platform::Value>> decode(const platform::ArchiveObject& o) {
        if (auto value = o.toValue()) {
            return std::optional<platform::Value>(std::move(*value));
        }
        return std::nullopt;
    }
};

template <std::derived_from<platform::Archivable> E>
struct RZSArchiveCoding<std::optional<std::vector<std::shared_ptr<E>>>> {
    using Variable = std::optional<std::vector<std::shared_ptr<E>>>;
    static bool isNil(const Variable& v) { return !v; }
    static bool isNull(const Variable&) { return false; }
    static platform::ArchiveObject encode(const Variable& v) {
        platform::ArchiveObject::Array items(v->begin(), v->end());
        return items;
    }
    static std::optional<Variable> decode(const platform::ArchiveObject& o) {
        if (!o.array()) {
            return std::nullopt;
        }
        std::vector<std::shared_ptr<E>> items;
        for (const platform::ArchiveObject& item : *o.array()) {
            auto typed = item.as<E>();
            if (!typed) {
                return std::nullopt;
            }
            items.push_back(std::move(typed));
        }
        return Variable(std::move(items));
    }
};

template <>
struct RZSArchiveCoding<platform::ArchiveObject> {
    static bool isNil(const platform::ArchiveObject& v) { return v.isNil(); }
    static bool isNull(const platform::ArchiveObject&) { return false; }
    static platform::ArchiveObject encode(const platform::ArchiveObject& v) { return v; }
    static std::optional<platform::ArchiveObject> decode(const platform::ArchiveObject& o) {
        return o;
    }
};

class RZSCacheManager {
  public:
    static constexpr const char* kValueFileName = ".RAZududeData.plist";
    static constexpr const char* kLegacyValueFileName = "RAZududeData.plist";
    static constexpr const char* kBarEntityClassName = "RZSBarEntity";
    // Set in the value file once the values of "RAZududeData.plist" are in it.
    static constexpr const char* kLegacyValuesMergedKey = "RZSLegacyValuesMerged";

    // The shared manager on the shared file cache; making it moves the value files (below)
    // and gives the file cache's entries seven times its default lifetime, once per process.
    static RZSCacheManager& shareInstance();

    // A manager on that cache. Moves an earlier value file from Documents to Library, and
    // takes over the values of the oldest one ("RAZududeData.plist" in Documents, which stays)
    // once.
    explicit RZSCacheManager(RAZududeCache& cache);
    RZSCacheManager(const RZSCacheManager&) = delete;
    RZSCacheManager& operator=(const RZSCacheManager&) = delete;

    // The identifier of the current data manager, which tells the bar counters of one shared
    // item from another's. The data managers sit above this class and hand it in whenever it
    // changes, so that no cache call reads their main-thread state; until then the key holds
    // "(null)".
    static void setCurrentDataManagerIdentifier(std::optional<std::string> identifier);

    // Makes the variable hold the value and, unless that is nil or the null object, stores its
    // archive under the class name's key. A failed archive is logged; the variable keeps the
    // value either way.
    template <class T>
    void setCacheToVariable(T& variable, const T& source, std::string_view className) {
        using Coding = RZSArchiveCoding<T>;
        variable = source;
        if (Coding::isNil(variable) || Coding::isNull(variable)) {
            return;
        }
        storeArchive(Coding::encode(variable), getKeyNameFromVariable(className));
    }

    // Fills a nil variable from the archive under the class name's key; a variable that holds
    // something is left alone. An archive that cannot be read, or holds another kind of
    // object, is logged and leaves the variable nil.
    template <class T>
    void changeVariableFromCache(T& variable, std::string_view className) {
        using Coding = RZSArchiveCoding<T>;
        if (!Coding::isNil(variable)) {
            return;
        }
        std::optional<platform::ArchiveObject> root =
            loadArchive(getKeyNameFromVariable(className));
        if (!root) {
            return;
        }
        if (auto decoded = Coding::decode(*root)) {
            variable = std::move(*decoded);
        } else {
            logUnarchiveError();
        }
    }

    // The cache key of a class name: the name itself, except "RZSBarEntity", which becomes
    // "RZSBarEntity-" and the current data manager's identifier.
    std::string getKeyNameFromVariable(std::string_view className) const;

    // Stores the object's archive under the key as it stands; false (and logged) on failure.
    bool setCacheData(const platform::ArchiveObject& object, std::string_view key);
    // Whether the file cache holds a live property list under the key as it stands.
    bool hasCacheForKey(std::string_view key) const;

    // The string under the key in the value file.
    std::optional<std::string> getValueFromDocument(std::string_view key);
    // Sets (or, with nothing, removes) the key's string in the value file.
    void setValueInDocument(const std::optional<std::string>& value, std::string_view key);

    // Moves ".RAZududeData.plist" from Documents to Library unless Library has one already;
    // then that is logged and both stay.
    void transterDataAtDocumentToLibrary();

    static std::filesystem::path valueFilePath();

  private:
    bool storeArchive(const platform::ArchiveObject& object, const std::string& key);
    std::optional<platform::ArchiveObject> loadArchive(const std::string& key) const;
    static void logUnarchiveError();
    void migrateLegacyValueFile();

    RAZududeCache& cache_;
    platform::Mutex valueFileMutex_;  // one reader or writer of the value file at a time
};
