#include "SocialSDK/core/manager/RZSPersistence.h"

#include <mutex>

#include "SocialSDK/core/cache/RZSCacheManager.h"

namespace rzs_persistence {
namespace {

constexpr const char* kAppInfoName = "appInfo";
constexpr const char* kAccountsName = "RAZududeAccountEntity";

RZSCacheManager& cache() {
    static std::once_flag registered;
    std::call_once(registered, [] { RAZududeAccountEntity::registerArchiveClass(); });
    return RZSCacheManager::shareInstance();
}

}  // namespace

std::optional<platform::Map> loadAppInfo() {
    std::optional<platform::Value> appInfo;
    cache().changeVariableFromCache(appInfo, kAppInfoName);
    if (appInfo && appInfo->map()) {
        return *appInfo->map();
    }
    return std::nullopt;
}

void storeAppInfo(const platform::Map& appInfo) {
    std::optional<platform::Value> variable;
    cache().setCacheToVariable(variable, std::optional<platform::Value>(appInfo), kAppInfoName);
}

std::optional<RAZududeAccountDictionary> loadAccounts() {
    platform::ArchiveObject archived;
    cache().changeVariableFromCache(archived, kAccountsName);
    const auto* entries = archived.dictionary();
    if (!entries) {
        return std::nullopt;
    }
    RAZududeAccountDictionary accounts;
    for (const auto& [name, entry] : *entries) {
        if (auto account = entry.as<RAZududeAccountEntity>()) {
            accounts.emplace(name, std::move(account));
        }
    }
    return accounts;
}

void storeAccounts(const RAZududeAccountDictionary& accounts) {
    platform::ArchiveObject::Dictionary entries;
    for (const auto& [name, account] : accounts) {
        entries.emplace_back(name, platform::ArchiveObject(account));
    }
    platform::ArchiveObject variable;
    cache().setCacheToVariable(variable, platform::ArchiveObject(std::move(entries)),
                               kAccountsName);
}

std::optional<std::string> documentValue(std::string_view key) {
    return cache().getValueFromDocument(key);
}

void setDocumentValue(std::string_view key, std::optional<std::string> value) {
    cache().setValueInDocument(value, key);
}

}  // namespace rzs_persistence
