// Values the share service keeps across launches, through the entity archive cache: the app
// information ("appInfo"), the platform accounts ("RAZududeAccountEntity"), the accounts that
// comments are also shared to ("CommentShareAccountDic"), the bar of each shared item
// ("RZSBarEntity-<identifier>"), friend lists, and the small values of the SDK's value file.
// Every file is written whole and readable by its owner only.
//
// Main thread only, as are the user manager and the data managers that call it.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "SocialSDK/core/account/RAZududeAccountEntity.h"
#include "SocialSDK/core/manager/RZSBarEntity.h"
#include "SocialSDK/core/manager/RZSFriendEntity.h"
#include "platform/Value.h"

namespace rzs_persistence {

std::optional<platform::Map> loadAppInfo();
void storeAppInfo(const platform::Map& appInfo);

std::optional<RAZududeAccountDictionary> loadAccounts();
void storeAccounts(const RAZududeAccountDictionary& accounts);

std::optional<platform::Map> loadCommentShareAccounts();
void storeCommentShareAccounts(const platform::Map& accounts);

// The bar of the shared item with the identifier.
std::shared_ptr<RZSBarEntity> loadBarEntity(std::string_view identifier);
void storeBarEntity(std::string_view identifier, const std::shared_ptr<RZSBarEntity>& bar);

// A friend list, under its whole key ("RZSFriendEntity-<platform>-<usid>", "…-at").
std::optional<RZSFriendDictionary> loadFriends(std::string_view key);
void storeFriends(std::string_view key, const RZSFriendDictionary& friends);
std::optional<std::vector<std::shared_ptr<RZSFriendEntity>>> loadFriendArray(std::string_view key);
void storeFriendArray(std::string_view key,
                      const std::vector<std::shared_ptr<RZSFriendEntity>>& friends);

std::optional<std::string> documentValue(std::string_view key);
void setDocumentValue(std::string_view key, std::optional<std::string> value);

}  // namespace rzs_persistence
