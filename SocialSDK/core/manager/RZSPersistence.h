// Values the share service keeps across launches, through the entity archive cache: the app
// information ("appInfo"), the platform accounts ("RAZududeAccountEntity") and the small values
// of the SDK's value file.
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
