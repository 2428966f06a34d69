#include "SocialSDK/core/protocol/RZSSNSEntity.h"

#include "SocialSDK/core/manager/RZSDataManager.h"
#include "SocialSDK/core/manager/RZSUserManager.h"
#include "SocialSDK/core/platform/RAZududeSnsPlatform.h"
#include "SocialSDK/core/platform/RAZududeSnsPlatformManager.h"
#include "SocialSDK/core/protocol/RZSProtocol.h"
#include "platform/Format.h"

RZSSNSEntity::RZSSNSEntity(int snsType) {
    auto name = RAZududeSnsPlatformManager::getSnsPlatformString(snsType);
    descriptor_ = name ? RAZududeSnsPlatformManager::getSocialPlatformWithName(*name) : nullptr;
    if (!descriptor_) {
        return;
    }
    shareToType_ = descriptor_->shareToType();
    const std::string& platformName = descriptor_->platformName();
    auto& accounts = RZSUserManager::shareInstance().snsAccountDictionary();
    if (auto it = accounts.find(platformName); it != accounts.end()) {
        snsAccount_ = it->second;
    }
    auto& protocol = RZSProtocol::sharedInstance();
    auto appkey = RZSDataManagerSet::shareInstance().appkey();
    auto uid = RZSUserManager::shareInstance().uid();
    oauthURLString_ =
        protocol.baseURL() + descriptor_->oauthBaseURLString() +
        platform::format("/%@/%@", appkey,
                         RZSDataManager::currentDataManager()->barEntity()->entityKey()) +
        platform::format("?%@=%@", "ak", appkey);
    if (uid) {
        oauthURLString_ += platform::format("&%@=%@", "uid", *uid);
    }
    oauthURLString_ += platform::format("&%@=%@", "via", platformName);
    oauthURLString_ += platform::format("&%@=%@", "sdkv", protocol.sdkVersionStr());
}
