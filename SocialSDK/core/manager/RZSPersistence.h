// Values the share service keeps across launches: the app information, the platform accounts
// and the small values of the SDK's document store. Until the entity archive cache holds them
// they live for the life of the process; each has one pair of functions here, so that moving
// it to the cache is one change in one place.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "SocialSDK/core/account/RAZududeAccountEntity.h"
#include "platform/Value.h"

namespace rzs_persistence {

std::optional<platform::Map> loadAppInfo();
void storeAppInfo(const platform::Map& appInfo);

std::optional<RAZududeAccountDictionary> loadAccounts();
void storeAccounts(const RAZududeAccountDictionary& accounts);

std::optional<std::string> documentValue(std::string_view key);
void setDocumentValue(std::string_view key, std::optional<std::string> value);

}  // namespace rzs_persistence
