#include "SocialSDK/core/manager/RZSPersistence.h"

#include <mutex>

#include "SocialSDK/core/cache/RZSCacheManager.h"
#include "SocialSDK/core/manager/RZSCommentEntity.h"

namespace rzs_persistence {
namespace {

constexpr const char* kAppInfoName = "appInfo";
constexpr const char* kAccountsName = "RAZududeAccountEntity";
constexpr const char* kCommentShareName = "CommentShareAccountDic";

RZSCacheManager& cache() {
    static std::once_flag registered;
    std::call_once(registered, [] {
        RAZududeAccountEntity::registerArchiveClass();
        RZSBarEntity::registerArchiveClass();
        RZSFriendEntity::registerArchiveClass();
        RZSCommentEntity::registerArchiveClass();
    });
    return RZSCacheManager::shareInstance();
}

std::optional<platform::Map> loadMap(std::string_view name) {
    std::optional<platform::Value> value;
    cache().changeVariableFromCache(value, name);
    if (value && value->map()) {
        return *value->map();
    }
    return std::nullopt;
}

void storeMap(std::string_view name, const platform::Map& map) {
    std::optional<platform::Value> variable;
    cache().setCacheToVariable(variable, std::optional<platform::Value>(map), name);
}

// Entries of the archived dictionary that are of the class; others are skipped.
template <class T>
std::optional<std::map<std::string, std::shared_ptr<T>>> loadDictionary(std::string_view name) {
    platform::ArchiveObject archived;
    cache().changeVariableFromCache(archived, name);
    const auto* entries = archived.dictionary();
    if (!entries) {
        return std::nullopt;
    }
    std::map<std::string, std::shared_ptr<T>> typed;
    for (const auto& [key, entry] : *entries) {
        if (auto object = entry.template as<T>()) {
            typed.emplace(key, std::move(object));
        }
    }
    return typed;
}

template <class T>
void storeDictionary(std::string_view name,
                     const std::map<std::string, std::shared_ptr<T>>& dictionary) {
    platform::ArchiveObject::Dictionary entries;
    for (const auto& [key, object] : dictionary) {
        if (object) {
            entries.emplace_back(key, platform::ArchiveObject(object));
        }
    }
    platform::ArchiveObject variable;
    cache().setCacheToVariable(variable, platform::ArchiveObject(std::move(entries)), name);
}

std::string barKey(std::string_view identifier) {
    return std::string(RZSBarEntity::kClassName) + "-" + std::string(identifier);
}

}  // namespace

std::optional<platform::Map> loadAppInfo() {
    return loadMap(kAppInfoName);
}

void storeAppInfo(const platform::Map& appInfo) {
    storeMap(kAppInfoName, appInfo);
}

std::optional<RAZududeAccountDictionary> loadAccounts() {
    return loadDictionary<RAZududeAccountEntity>(kAccountsName);
}

void storeAccounts(const RAZududeAccountDictionary& accounts) {
    storeDictionary(kAccountsName, accounts);
}

std::optional<platform::Map> loadCommentShareAccounts() {
    return loadMap(kCommentShareName);
}

void storeCommentShareAccounts(const platform::Map& accounts) {
    storeMap(kCommentShareName, accounts);
}

std::shared_ptr<RZSBarEntity> loadBarEntity(std::string_view identifier) {
    std::shared_ptr<RZSBarEntity> bar;
    cache().changeVariableFromCache(bar, barKey(identifier));
    return bar;
}

void storeBarEntity(std::string_view identifier, const std::shared_ptr<RZSBarEntity>& bar) {
    std::shared_ptr<RZSBarEntity> variable;
    cache().setCacheToVariable(variable, bar, barKey(identifier));
}

std::optional<RZSFriendDictionary> loadFriends(std::string_view key) {
    return loadDictionary<RZSFriendEntity>(key);
}

void storeFriends(std::string_view key, const RZSFriendDictionary& friends) {
    storeDictionary(key, friends);
}

std::optional<std::vector<std::shared_ptr<RZSFriendEntity>>> loadFriendArray(std::string_view key) {
    std::optional<std::vector<std::shared_ptr<RZSFriendEntity>>> friends;
    cache().changeVariableFromCache(friends, key);
    return friends;
}

void storeFriendArray(std::string_view key,
                      const std::vector<std::shared_ptr<RZSFriendEntity>>& friends) {
    std::optional<std::vector<std::shared_ptr<RZSFriendEntity>>> variable;
    cache().setCacheToVariable(variable, std::optional(friends), key);
}

std::optional<std::string> documentValue(std::string_view key) {
    return cache().getValueFromDocument(key);
}

void setDocumentValue(std::string_view key, std::optional<std::string> value) {
    cache().setValueInDocument(value, key);
}

}  // namespace rzs_persistence
