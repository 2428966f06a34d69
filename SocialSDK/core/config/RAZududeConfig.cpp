#include "SocialSDK/core/config/RAZududeConfig.h"

#include <algorithm>

#include "RZBase_Source/Encode/RAZududeUtils.h"
#include "SocialSDK/core/analytics/RAZududeOpAnalytics.h"
#include "SocialSDK/core/config/RAZududeToastGravity.h"
#include "SocialSDK/core/platform/RAZududeSnsPlatformInternal.h"
#include "SocialSDK/core/platform/RAZududeSnsPlatformManager.h"
#include "SocialSDK/core/platform/RAZududeSnsPlatformNames.h"
#include "SocialSDK/core/screen/RAZududeScreenHooks.h"
#include "platform/Device.h"
#include "platform/Format.h"
#include "platform/InterfaceOrientation.h"
#include "platform/NoDestructor.h"

// ---- RAZududeConfig --------------------------------------------------------------------

RAZududeConfig::RAZududeConfig() {
    // Toasts of the share service go to the top of the window unless the app says otherwise.
    RAZududeScreenHooks::placeToasts(std::nullopt, kRAZududeToastGravityTop);
}

RAZududeConfig& RAZududeConfig::shareInstance() {
    static platform::NoDestructor<RAZududeConfig> instance;
    return *instance;
}

void RAZududeConfig::setSnsPlatformNames(platform::Array names) {
    RAZududeConfigInternal::shareInstance().setSnsPlatformNames(std::move(names));
    RAZududeOpAnalytics::postSocialAnalytics(RZUsageCode::kSetSnsPlatformNames);
}

void RAZududeConfig::setSupportedInterfaceOrientations(unsigned mask) {
    RAZududeConfigInternal::shareInstance().setSocialInterfaceOrientations(mask);
    RAZududeOpAnalytics::postSocialAnalytics(RZUsageCode::kSetSupportedInterfaceOrientations);
}

void RAZududeConfig::setFollowWeiboUids(platform::Map uids) {
    RAZududeConfigInternal::shareInstance().setFollowSnsUids(std::move(uids));
    RAZududeOpAnalytics::postSocialAnalytics(RZUsageCode::kSetFollowWeiboUids);
}

// A platform of type 0 gets the first type from 34 up that no registered platform has, so
// that platforms added by separate calls never share a type.
void RAZududeConfig::addSocialSnsPlatform(
    const std::vector<std::shared_ptr<RAZududeSnsPlatform>>& list) {
    auto& manager = RAZududeSnsPlatformManager::sharedInstance();
    const auto& registry = manager.allSnsPlatformDictionary();
    auto taken = [&](int type) {
        return std::any_of(registry.begin(), registry.end(), [&](const auto& entry) {
            return entry.second && entry.second->shareToType() == type;
        });
    };
    int counter = kRAZududeSnsPlatformFirstAppType;
    for (const auto& platform : list) {
        if (!platform) {
            RAZududeUtils::outLog("you must set a RAZududeSnsPlatform in snsPlatformArray!");
            continue;
        }
        if (registry.count(platform->platformName())) {
            continue;
        }
        if (platform->shareToType() == 0) {
            while (taken(counter)) {
                ++counter;
            }
            platform->setShareToType(counter++);
        }
        manager.addSnsPlatform(platform);
    }
    RAZududeOpAnalytics::postSocialAnalytics(RZUsageCode::kAddSocialSnsPlatform);
}

void RAZududeConfig::setDefaultColor(platform::Color color) {
    RAZududeConfigInternal::shareInstance().setDefaultColor(color);
    RAZududeOpAnalytics::postSocialAnalytics(RZUsageCode::kSetDefaultColor);
}

void RAZududeConfig::setBoundsSizeForiPad(platform::Size size) {
    RAZududeConfigInternal::shareInstance().setBoundsSizeForiPad(size);
    RAZududeOpAnalytics::postSocialAnalytics(RZUsageCode::kSetBoundsSizeForiPad);
}

void RAZududeConfig::setShouldShareSynchronous(bool synchronous) {
    RAZududeConfigInternal::shareInstance().setShouldShareSynchronous(synchronous);
    RAZududeOpAnalytics::postSocialAnalytics(RZUsageCode::kSetShouldShareSynchronous);
}

void RAZududeConfig::setShouldCommentWithShare(bool comment) {
    RAZududeConfigInternal::shareInstance().setShouldCommentWithShare(comment);
    RAZududeOpAnalytics::postSocialAnalytics(RZUsageCode::kSetShouldCommentWithShare);
}

void RAZududeConfig::setShouldCommentWithLocation(bool location) {
    RAZududeConfigInternal::shareInstance().setShouldCommentWithLocation(location);
    RAZududeOpAnalytics::postSocialAnalytics(RZUsageCode::kSetShouldCommentWithLocation);
}

void RAZududeConfig::setSupportTencentSSO(bool support, std::string_view) {
    RAZududeConfigInternal::shareInstance().setSupportTencentSSO(support);
    RAZududeOpAnalytics::postSocialAnalytics(RZUsageCode::kSetSupportTencentSSO);
}

namespace {

void markRegistered(const std::vector<std::string>& names, bool hidden) {
    const auto& registry = RAZududeSnsPlatformManager::sharedInstance().allSnsPlatformDictionary();
    for (const auto& name : names) {
        if (auto it = registry.find(name); it != registry.end() && it->second) {
            it->second->platformInternal()->setIsHidden(hidden);
        }
    }
}

}  // namespace

void RAZududeConfig::showNotInstallPlatforms(std::optional<std::vector<std::string>> names) {
    RAZududeConfigInternal::shareInstance().setShowSnsPlatforms(names);
    if (names) {
        markRegistered(*names, false);
    }
}

void RAZududeConfig::hiddenNotInstallPlatforms(std::optional<std::vector<std::string>> names) {
    if (!names) {
        names =
            std::vector<std::string>{"qq",           "qzone",    "wxsession",       "wxtimeline",
                                     "wxfavorite",   "laiwang",  "laiwang_dynamic", "yixin",
                                     "yixin_circle", "whatsapp", "tumblr",          "line",
                                     "instagram"};
    }
    RAZududeConfigInternal::shareInstance().setHiddenSnsPlatforms(names);
    markRegistered(*names, true);
}

void RAZududeConfig::setFinishToastIsHidden(bool hidden, std::int32_t gravity) {
    // Made first, so that making it later cannot put its own gravity over the app's.
    shareInstance();
    RAZududeScreenHooks::placeToasts(hidden, gravity);
}

void RAZududeConfig::setTheme(int theme) {
    RAZududeConfigInternal::shareInstance().setSocialTheme(theme);
}

void RAZududeConfig::setShareGridViewTheme(RAZududeGridViewConfig config) {
    RAZududeConfigInternal::shareInstance().setGridViewConfig(std::move(config));
}

void RAZududeConfig::setNavigationBarConfig(RAZududeNavigationBarConfig config) {
    RAZududeConfigInternal::shareInstance().setNavigationbarConfig(std::move(config));
}

void RAZududeConfig::setTableViewCellConfig(RAZududeTableViewCellConfig config) {
    RAZududeConfigInternal::shareInstance().setTableViewCellConfig(std::move(config));
}

// ---- RAZududeConfigInternal ------------------------------------------------------------

RAZududeConfigInternal::RAZududeConfigInternal() {
    snsPlatformNames_ = {"sina",  "tencent", "qzone",    "renren", "douban",
                         "email", "sms",     "facebook", "twitter"};
    defaultColor_ = platform::Color::white();
    shouldCommentWithShare_ = true;
    shouldCommentWithLocation_ = true;
    shouldShareSynchronous_ = false;
    supportSinaSSO_ = false;
    supportTencentSSO_ = false;
    supportQzoneSSO_ = false;
    shareQzoneWithQQSDK_ = true;
    boundsForiPad_ = platform::Rect::null();
    // The shared instance is still being made: the theme goes straight onto this object.
    socialTheme_ = 1;
    installTheme(1);
    boundsForiPad_ = {0, 0, 533, 590};
    showSnsPlatforms_ = std::vector<std::string>{};
    hiddenSnsPlatforms_ = std::vector<std::string>{};
    socialInterfaceOrientations_ = platform::currentDevice().isPad()
                                       ? unsigned(platform::kOrientationMaskAll)
                                       : unsigned(platform::kOrientationMaskPortrait);
}

RAZududeConfigInternal& RAZududeConfigInternal::shareInstance() {
    static platform::NoDestructor<RAZududeConfigInternal> instance;
    instanceMade_ = true;
    return *instance;
}

namespace {

bool listAllows(const std::optional<std::vector<std::string>>& list, std::string_view name) {
    if (!list) {
        return true;
    }
    return std::find(list->begin(), list->end(), name) != list->end();
}

}  // namespace

bool RAZududeConfigInternal::showTheNotInstalledPlatform(std::string_view name) {
    return listAllows(shareInstance().showSnsPlatforms_, name);
}

bool RAZududeConfigInternal::hiddenTheNotInstalledPlatform(std::string_view name) {
    return listAllows(shareInstance().hiddenSnsPlatforms_, name);
}

bool RAZududeConfigInternal::shouldAutorotateToInterfaceOrientation(int orientation) const {
    if (orientation < 0 || orientation > 31) {
        return false;
    }
    unsigned bit = socialInterfaceOrientations_ & (1u << orientation);
    RAZududeUtils::outLog([&] { return platform::format("mask is %d", bit); });
    return bit != 0;
}

void RAZududeConfigInternal::setBoundsSizeForiPad(platform::Size size) {
    boundsForiPad_ = {0, 0, size.width, size.height};
}

void RAZududeConfigInternal::setSocialTheme(int theme) {
    socialTheme_ = theme;
    installTheme(theme);
}

void RAZududeConfigInternal::installTheme(int theme) {
    auto blocks = RAZududeScreenHooks::themeBlocks(theme);
    themePending_ = !blocks;
    if (!blocks) {
        return;
    }
    if (blocks->navigationBar) {
        navigationbarConfig_ = std::move(blocks->navigationBar);
    }
    if (blocks->gridView) {
        gridViewConfig_ = std::move(blocks->gridView);
    }
    if (blocks->tableViewCell) {
        tableViewCellConfig_ = std::move(blocks->tableViewCell);
    }
}

void RAZududeConfigInternal::themeMakerInstalled() {
    if (!instanceMade_) {
        return;
    }
    auto& config = shareInstance();
    if (!config.themePending_) {
        return;
    }
    // Blocks the app set meanwhile stay.
    auto bar = std::move(config.navigationbarConfig_);
    auto grid = std::move(config.gridViewConfig_);
    auto cell = std::move(config.tableViewCellConfig_);
    config.installTheme(config.socialTheme_);
    if (bar) {
        config.navigationbarConfig_ = std::move(bar);
    }
    if (grid) {
        config.gridViewConfig_ = std::move(grid);
    }
    if (cell) {
        config.tableViewCellConfig_ = std::move(cell);
    }
}

// The blocks come from the screens, which install a theme maker at start-up.

RAZududeNavigationBarConfig RAZududeConfigInternal::darkNavigationBarConfig() {
    auto blocks = RAZududeScreenHooks::themeBlocks(0);
    return blocks ? blocks->navigationBar : nullptr;
}

RAZududeGridViewConfig RAZududeConfigInternal::darkGridViewConfig() {
    auto blocks = RAZududeScreenHooks::themeBlocks(0);
    return blocks ? blocks->gridView : nullptr;
}

RAZududeNavigationBarConfig RAZududeConfigInternal::lightNavigationBarConfig() {
    auto blocks = RAZududeScreenHooks::themeBlocks(1);
    return blocks ? blocks->navigationBar : nullptr;
}

RAZududeTableViewCellConfig RAZududeConfigInternal::lightTableViewCellConfig() {
    auto blocks = RAZududeScreenHooks::themeBlocks(1);
    return blocks ? blocks->tableViewCell : nullptr;
}
