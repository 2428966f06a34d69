#include "SocialSDK/core/manager/RZSPersistence.h"

#include <map>
#include <mutex>

namespace rzs_persistence {
namespace {

struct Store {
    std::mutex mutex;
    std::optional<platform::Map> appInfo;
    std::optional<RAZududeAccountDictionary> accounts;
    std::map<std::string, std::string, std::less<>> documents;
};

Store& store() {
    static auto* s = new Store;
    return *s;
}

}  // namespace

std::optional<platform::Map> loadAppInfo() {
    std::lock_guard lock(store().mutex);
    return store().appInfo;
}

void storeAppInfo(const platform::Map& appInfo) {
    std::lock_guard lock(store().mutex);
    store().appInfo = appInfo;
}

std::optional<RAZududeAccountDictionary> loadAccounts() {
    std::lock_guard lock(store().mutex);
    return store().accounts;
}

void storeAccounts(const RAZududeAccountDictionary& accounts) {
    std::lock_guard lock(store().mutex);
    store().accounts = accounts;
}

std::optional<std::string> documentValue(std::string_view key) {
    std::lock_guard lock(store().mutex);
    auto it = store().documents.find(key);
    if (it == store().documents.end()) {
        return std::nullopt;
    }
    return it->second;
}

void setDocumentValue(std::string_view key, std::optional<std::string> value) {
    std::lock_guard lock(store().mutex);
    if (value) {
        store().documents.insert_or_assign(std::string(key), std::move(*value));
    } else if (auto it = store().documents.find(key); it != store().documents.end()) {
        store().documents.erase(it);
    }
}

}  // namespace rzs_persistence
