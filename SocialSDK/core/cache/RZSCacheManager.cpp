#include "SocialSDK/core/cache/RZSCacheManager.h"

#include <fcntl.h>
#include <cerrno>
#include <cstdio>
#include <exception>
#include <system_error>

#include "RZBase_Source/Encode/RAZududeUtils.h"
#include "platform/AppFolders.h"
#include "platform/Files.h"
#include "platform/Format.h"
#include "platform/Log.h"
#include "platform/NoDestructor.h"
#include "platform/PropertyList.h"

using platform::ArchiveObject;
using platform::Map;
using platform::Value;

namespace {

platform::Guarded<std::optional<std::string>>& currentIdentifier() {
    static platform::NoDestructor<platform::Guarded<std::optional<std::string>>> identifier;
    return *identifier;
}

std::filesystem::path documentsValueFile() {
    return platform::AppFolders::documents() / RZSCacheManager::kValueFileName;
}

std::filesystem::path legacyValueFile() {
    return platform::AppFolders::documents() / RZSCacheManager::kLegacyValueFileName;
}

bool fileExists(const std::filesystem::path& path) {
    std::error_code ignored;
    return std::filesystem::exists(path, ignored);
}

// The value file as a dictionary; empty when it is missing or unreadable.
Map readValueFile(const std::filesystem::path& path) {
    if (auto stored = platform::PropertyList::readFile(path); stored && stored->isMap()) {
        return std::move(*stored->map());
    }
    return {};
}

bool writeValueFile(const Map& values) {
    std::error_code ignored;
    std::filesystem::create_directories(platform::AppFolders::library(), ignored);
    return platform::PropertyList::writeFile(Value(values), RZSCacheManager::valueFilePath(),
                                             platform::PropertyList::Format::kXml);
}

}  // namespace

RZSCacheManager& RZSCacheManager::shareInstance() {
    static RZSCacheManager* const instance = [] {
        RAZududeCache& cache = RAZududeCache::currentCache();
        auto* manager = new RZSCacheManager(cache);
        cache.setDefaultTimeoutInterval(cache.defaultTimeoutInterval() * 7);
        return manager;
    }();
    return *instance;
}

RZSCacheManager::RZSCacheManager(RAZududeCache& cache) : cache_(cache) {
    transterDataAtDocumentToLibrary();
    migrateLegacyValueFile();
}

void RZSCacheManager::setCurrentDataManagerIdentifier(std::optional<std::string> identifier) {
    currentIdentifier().set(std::move(identifier));
}

std::string RZSCacheManager::getKeyNameFromVariable(std::string_view className) const {
    if (className != kBarEntityClassName) {
        return std::string(className);
    }
    return platform::format("%@-%@", className, currentIdentifier().get());
}

bool RZSCacheManager::setCacheData(const ArchiveObject& object, std::string_view key) {
    return storeArchive(object, std::string(key));
}

bool RZSCacheManager::hasCacheForKey(std::string_view key) const {
    return cache_.plistForKey(key).has_value();
}

bool RZSCacheManager::storeArchive(const ArchiveObject& object, const std::string& key) {
    std::optional<platform::Bytes> archive;
    try {
        archive = platform::KeyedArchiver::archivedData(object);
    } catch (const std::exception&) {
        archive.reset();
    }
    if (!archive) {
        RAZududeUtils::outLog("using NSKeyedArchiver archivedDataWithRootObject error!!");
        return false;
    }
    cache_.setPlist(Value(std::move(*archive)), key);
    return true;
}

std::optional<ArchiveObject> RZSCacheManager::loadArchive(const std::string& key) const {
    const std::optional<Value> stored = cache_.plistForKey(key);
    if (!stored || stored->isNull()) {
        return std::nullopt;
    }
    std::optional<ArchiveObject> root;
    if (const platform::Bytes* archive = stored->bytes()) {
        try {
            root = platform::KeyedUnarchiver::unarchiveObject(*archive);
        } catch (const std::exception&) {
            root.reset();
        }
    }
    if (!root) {
        logUnarchiveError();
        return std::nullopt;
    }
    if (root->isNil()) {
        return std::nullopt;
    }
    return root;
}

void RZSCacheManager::logUnarchiveError() {
    RAZududeUtils::outLog("using NSKeyedUnarchiver NSKeyedUnarchiver error!! ");
}

std::filesystem::path RZSCacheManager::valueFilePath() {
    return platform::AppFolders::library() / kValueFileName;
}

std::optional<std::string> RZSCacheManager::getValueFromDocument(std::string_view key) {
    platform::MutexLock lock(valueFileMutex_);
    const Map values = readValueFile(valueFilePath());
    if (const Value* value = values.find(key); value && value->isString()) {
        return *value->string();
    }
    return std::nullopt;
}

void RZSCacheManager::setValueInDocument(const std::optional<std::string>& value,
                                         std::string_view key) {
    platform::MutexLock lock(valueFileMutex_);
    Map values = readValueFile(valueFilePath());
    if (value) {
        values.set(key, *value);
    } else {
        values.erase(key);
    }
    writeValueFile(values);
}

void RZSCacheManager::transterDataAtDocumentToLibrary() {
    platform::MutexLock lock(valueFileMutex_);
    const std::filesystem::path from = documentsValueFile();
    if (!fileExists(from)) {
        return;
    }
    const std::filesystem::path to = valueFilePath();
    std::error_code ignored;
    std::filesystem::create_directories(to.parent_path(), ignored);
    // A move never replaces: a value file already in Library is the newer one.
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) != 0) {
        const platform::Error error =
            platform::Files::errorFromErrno(errno, true, to, "Cannot move the value file to");
        platform::consoleLog("data transter error: %@", error.description());
    }
}

// The oldest value file is taken over once: its values fill the keys that the Library file
// lacks, and the Library file notes that it has them, so that the old values can never come
// back over newer ones or over keys removed since. The file itself stays, for an older build of
// the app that may still read it.
void RZSCacheManager::migrateLegacyValueFile() {
    platform::MutexLock lock(valueFileMutex_);
    const std::filesystem::path legacy = legacyValueFile();
    if (!fileExists(legacy)) {
        return;
    }
    Map values = readValueFile(valueFilePath());
    if (values.contains(kLegacyValuesMergedKey)) {
        return;
    }
    platform::Error error;
    const std::optional<Value> stored = platform::PropertyList::readFile(legacy, &error);
    if (!stored || !stored->isMap()) {
        platform::consoleLog(
            "data transter error: %@",
            stored ? std::string("the file holds no dictionary") : error.description());
        return;
    }
    for (const auto& [key, value] : *stored->map()) {
        if (!values.contains(key)) {
            values.set(key, value);
        }
    }
    values.set(kLegacyValuesMergedKey, "1");
    writeValueFile(values);
}
