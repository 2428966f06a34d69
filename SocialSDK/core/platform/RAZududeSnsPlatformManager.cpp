#include "SocialSDK/core/platform/RAZududeSnsPlatformManager.h"

#include <algorithm>

#include "RZBase_Source/Encode/RAZududeUtils.h"
#include "SocialSDK/core/config/RAZududeConfig.h"
#include "SocialSDK/core/config/RAZududeLocalizable.h"
#include "SocialSDK/core/handler/RAZududeHandlerRegistry.h"
#include "SocialSDK/core/platform/RAZududeSnsPlatformInternal.h"
#include "SocialSDK/core/platform/RAZududeSnsPlatformNames.h"
#include "SocialSDK/core/screen/RAZududeScreenHooks.h"
#include "platform/Log.h"
#include "platform/NoDestructor.h"
#include "platform/ThreadCheck.h"

namespace {

constexpr const char* kIconFolder = "RAZududeSDKResourcesNew.bundle/SnsPlatform/";

struct Descriptor {
    int type;
    const char* name;
    const char* displayKey;
    const char* displayDefault;
    const char* icon;  // the stem of the three icon names
    bool needLogin;
    const char* callbackPath;
};

constexpr Descriptor kOwnPlatforms[] = {
    {kRAZududeSnsPlatformQzone, RZShareToQzone, "qzone", "QQ空间", "RZS_qzone", false,
     "/qzone/main"},
    {kRAZududeSnsPlatformTencent, RZShareToTencent, "tencent", "腾讯微博", "RZS_tencent", true,
     "/tenc2/main"},
    {kRAZududeSnsPlatformRenren, RZShareToRenren, "renren", "人人网", "RZS_renren", true,
     "/renr2/main"},
    {kRAZududeSnsPlatformDouban, RZShareToDouban, "douban", "豆瓣", "RZS_douban", true,
     "/douban/main"},
};

std::string iconName(const char* stem, const char* suffix) {
    return std::string(kIconFolder) + stem + suffix;
}

}  // namespace

RAZududeSnsPlatformManager::RAZududeSnsPlatformManager() {
    RAZududeConfig::shareInstance();
    for (const auto& d : kOwnPlatforms) {
        auto platform = makeSNSDescriptorWithType(d.type);
        allSnsPlatformDictionary_.emplace(d.name, platform);
        ownPlatforms_.emplace(d.name, platform);
    }
    for (const auto& [name, platform] : allSnsPlatformDictionary_) {
        installLoginHandler(platform);
        installClickHandler(platform);
    }
    if (!ownPlatforms_.count(RZShareToFacebook)) {
        auto systemServices =
            RAZududeHandlerRegistry::shareInstanceOf("RAZududeFacebookSnsHandler");
        auto mail = RAZududeHandlerRegistry::shareInstanceOf("RAZududeMailHandler");
        auto enter = [&](std::shared_ptr<RAZududeSnsPlatform> platform, const char* name) {
            if (platform) {
                allSnsPlatformDictionary_[name] = std::move(platform);
            }
        };
        if (systemServices) {
            enter(systemServices->getFacebookTwitterPlatform(RZShareToFacebook), RZShareToFacebook);
            enter(systemServices->getFacebookTwitterPlatform(RZShareToTwitter), RZShareToTwitter);
        }
        if (mail) {
            enter(mail->getEmailSmsPlatform(RZShareToEmail), RZShareToEmail);
            enter(mail->getEmailSmsPlatform(RZShareToSms), RZShareToSms);
        }
        if (auto it = allSnsPlatformDictionary_.find(RZShareToFacebook);
            it != allSnsPlatformDictionary_.end()) {
            installLoginHandler(it->second);
        }
    }
}

RAZududeSnsPlatformManager& RAZududeSnsPlatformManager::sharedInstance() {
    static platform::NoDestructor<RAZududeSnsPlatformManager> instance;
    return *instance;
}

std::shared_ptr<RAZududeSnsPlatform> RAZududeSnsPlatformManager::makeSNSDescriptorWithType(
    int type) {
    auto platform = std::make_shared<RAZududeSnsPlatform>();
    auto it = std::find_if(std::begin(kOwnPlatforms), std::end(kOwnPlatforms),
                           [&](const Descriptor& d) { return d.type == type; });
    if (it == std::end(kOwnPlatforms)) {
        return platform;
    }
    const Descriptor& d = *it;
    platform->setPlatformName(d.name);
    platform->setShareToType(d.type);
    platform->setDisplayName(RAZududeLocalizedString(d.displayKey, d.displayDefault));
    platform->setLoginName(type == kRAZududeSnsPlatformQzone
                               ? RAZududeLocalizedString("qzone_login", "QQ账号")
                               : platform->displayName());
    platform->setBigImageName(iconName(d.icon, "_icon"));
    platform->setSmallImageOffName(iconName(d.icon, "_off"));
    platform->setSmallImageName(iconName(d.icon, "_on"));
    platform->setNeedLogin(d.needLogin);
    platform->setHaveWebViewAuth(true);
    platform->setOauthBaseURLString("share/auth");
    platform->setOauthCallBackPath(d.callbackPath);
    platform->platformInternal();
    return platform;
}

void RAZududeSnsPlatformManager::installLoginHandler(
    const std::shared_ptr<RAZududeSnsPlatform>& platform) {
    RZ_CHECK_MAIN_THREAD();
    if (!platform) {
        return;
    }
    std::weak_ptr<RAZududeSnsPlatform> weak = platform;
    platform->setLoginClickHandler(
        [weak](const std::shared_ptr<platform::ViewController>& controller,
               const std::shared_ptr<RAZududeScreenHost>& service, bool isPresent,
               RAZududeResponseCompletion completion) {
            auto self = weak.lock();
            if (!self) {
                return;
            }
            RAZududeConfigInternal::shareInstance().setQqType(0);
            auto companion = self->platformInternal();
            companion->setShareStatus("0");
            companion->snsLoginHandlerrWithController(controller, service, isPresent,
                                                      std::move(completion), std::nullopt);
        });
}

void RAZududeSnsPlatformManager::installClickHandler(
    const std::shared_ptr<RAZududeSnsPlatform>& platform) {
    RZ_CHECK_MAIN_THREAD();
    if (!platform) {
        return;
    }
    std::weak_ptr<RAZududeSnsPlatform> weak = platform;
    platform->setSnsClickHandler([weak](const std::shared_ptr<platform::ViewController>& controller,
                                        const std::shared_ptr<RAZududeScreenHost>& service,
                                        bool isPresent) {
        auto self = weak.lock();
        if (!self) {
            return;
        }
        RAZududeConfigInternal::shareInstance().setQqType(1);
        auto companion = self->platformInternal();
        companion->setShareStatus("1");
        companion->snsClickHandlerWithController(controller, service, isPresent, std::nullopt);
    });
}

std::shared_ptr<RAZududeSnsPlatform> RAZududeSnsPlatformManager::getSocialPlatformWithName(
    std::string_view name) {
    return sharedInstance().getSnsPlatformWithName(name);
}

std::shared_ptr<RAZududeSnsPlatform> RAZududeSnsPlatformManager::getSnsPlatformWithName(
    std::string_view name) const {
    RZ_CHECK_MAIN_THREAD();
    auto it = allSnsPlatformDictionary_.find(std::string(name));
    if (it != allSnsPlatformDictionary_.end()) {
        return it->second;
    }
    if (name != RZLoginAccountKey) {
        platform::consoleLog("RAZudude----%@, Error: displayName error!", std::string(name));
    }
    return nullptr;
}

int RAZududeSnsPlatformManager::getSnsPlatformType(std::string_view name) {
    const auto& all = sharedInstance().allSnsPlatformDictionary_;
    auto it = all.find(std::string(name));
    if (it == all.end() || !it->second) {
        platform::consoleLog("RAZudude----socialSnsString error!");
        return 0;
    }
    return it->second->shareToType();
}

std::optional<std::string> RAZududeSnsPlatformManager::getSnsPlatformString(int type) {
    if (auto platform = sharedInstance().getSnsPlatformWithType(type)) {
        return platform->platformName();
    }
    platform::consoleLog("RAZudude----socialSnsType error!");
    return std::nullopt;
}

std::optional<std::string> RAZududeSnsPlatformManager::getSnsPlatformStringFromIndex(int index) {
    auto names = sharedInstance().socialSnsArray();
    if (index < 0 || static_cast<std::size_t>(index) >= names.size()) {
        platform::consoleLog("RAZudude----sns index error!");
        return std::nullopt;
    }
    return names[static_cast<std::size_t>(index)];
}

bool RAZududeSnsPlatformManager::addSnsPlatform(
    const std::shared_ptr<RAZududeSnsPlatform>& platform) {
    RZ_CHECK_MAIN_THREAD();
    return allSnsPlatformDictionary_.emplace(platform->platformName(), platform).second;
}

std::shared_ptr<RAZududeSnsPlatform> RAZududeSnsPlatformManager::getSnsPlatformWithType(
    int type) const {
    RZ_CHECK_MAIN_THREAD();
    for (const auto& [name, platform] : allSnsPlatformDictionary_) {
        if (platform && platform->shareToType() == type) {
            return platform;
        }
    }
    return nullptr;
}

std::shared_ptr<RAZududeSnsPlatform> RAZududeSnsPlatformManager::getSnsPlatformWithIndex(
    int index) const {
    RZ_CHECK_MAIN_THREAD();
    auto names = socialSnsArray();
    if (index < 0 || static_cast<std::size_t>(index) >= names.size()) {
        return nullptr;
    }
    return getSnsPlatformWithName(names[static_cast<std::size_t>(index)]);
}

const platform::Array& RAZududeSnsPlatformManager::allSnsArray() const {
    return RAZududeConfigInternal::shareInstance().snsPlatformNames();
}

std::vector<std::string> RAZududeSnsPlatformManager::allSnsValuesArray() const {
    std::vector<std::string> names;
    auto take = [&](const platform::Value& value) {
        if (const auto* name = value.string()) {
            names.push_back(*name);
        } else {
            RAZududeUtils::outLog(
                "shareToSnsNames error!! You should set NSString in the snsNames, like "
                "@[RZShareToSina,RZShareToTencent,RZShareToQzone]");
        }
    };
    for (const auto& entry : allSnsArray()) {
        if (const auto* group = entry.array()) {
            for (const auto& name : *group) {
                take(name);
            }
        } else {
            take(entry);
        }
    }
    return names;
}

std::vector<std::string> RAZududeSnsPlatformManager::socialSnsArray() const {
    std::vector<std::string> names;
    for (auto& name : allSnsValuesArray()) {
        if (ownPlatforms_.count(name)) {
            names.push_back(std::move(name));
        }
    }
    return names;
}

int RAZududeSnsPlatformManagerInternal::getSnsPlatformType(std::string_view name) {
    const auto& all = RAZududeSnsPlatformManager::sharedInstance().allSnsPlatformDictionary();
    auto it = all.find(std::string(name));
    return it == all.end() || !it->second ? 0 : it->second->shareToType();
}

void RAZududeSnsPlatformManager::addMaskView() {
    RZ_CHECK_MAIN_THREAD();
    removeMaskView();
    removeMask_ = RAZududeScreenHooks::showToast(
        RAZududeLocalizedString("label_request_account", "请稍等......"), 30000);
}

void RAZududeSnsPlatformManager::removeMaskView() {
    RZ_CHECK_MAIN_THREAD();
    if (auto remove = std::move(removeMask_)) {
        removeMask_ = nullptr;
        remove();
    }
}
