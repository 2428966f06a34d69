#include "SocialSDK/core/config/RAZududeConfig.h"

#include <algorithm>

#include "RZBase_Source/Encode/RAZududeUtils.h"
#include "SocialSDK/core/analytics/RAZududeOpAnalytics.h"
#include "SocialSDK/core/platform/RAZududeSnsPlatformInternal.h"
#include "SocialSDK/core/platform/RAZududeSnsPlatformManager.h"
#include "SocialSDK/ui/toast/RAZududeToastSettings.h"
#include "platform/Device.h"
#include "platform/Format.h"
#include "platform/graphics/Image.h"
#include "platform/ui/Application.h"
#include "platform/ui/Button.h"
#include "platform/ui/Label.h"
#include "platform/ui/NavigationBar.h"
#include "platform/ui/TableView.h"

namespace {

using platform::Button;
using platform::Color;
using platform::Font;
using platform::Image;

constexpr const char* kButtonBackground =
    "RAZududeSDKResourcesNew.bundle/OtherTheme/RZS_nav_button_normal";
constexpr const char* kBackButtonBackground =
    "RAZududeSDKResourcesNew.bundle/OtherTheme/RZS_nav_back_button_normal";
constexpr const char* kDarkBarBackground =
    "RAZududeSDKResourcesNew.bundle/OtherTheme/RZS_nav_bar_bg_black";

platform::ImagePtr stretchedButtonBackground() {
    auto image = Image::named(kButtonBackground);
    return image ? image->stretchable(8, 10) : nullptr;
}

void styleDarkButton(Button& button, platform::ImagePtr background, std::string title) {
    button.setBackgroundImage(std::move(background));
    button.setImage(nullptr);
    button.setTitle(std::move(title));
    button.titleLabel().setFont(Font::boldSystem(13));
}

// The title of the item in a label of its own, sized to the text.
void setTitleLabel(platform::NavigationItem& item, Color color) {
    auto label = std::make_shared<platform::Label>();
    label->setFont(Font::system(18));
    label->setTextColor(color);
    label->setBackgroundColor(Color::clear());
    label->setText(item.title());
    label->sizeToFit();
    item.setTitleView(std::move(label));
}

}  // namespace

// ---- RAZududeConfig --------------------------------------------------------------------

RAZududeConfig::RAZududeConfig() {
    // Toasts of the share service go to the top of the window unless the app says otherwise.
    RAZududeToastSettings::getSharedSettings().setGravity(kRAZududeToastGravityTop);
}

RAZududeConfig& RAZududeConfig::shareInstance() {
    static auto* instance = new RAZududeConfig();
    return *instance;
}

void RAZududeConfig::setSnsPlatformNames(platform::Array names) {
    RAZududeConfigInternal::shareInstance().setSnsPlatformNames(std::move(names));
    RAZududeOpAnalytics::postSocialAnalytics("29");
}

void RAZududeConfig::setSupportedInterfaceOrientations(unsigned mask) {
    RAZududeConfigInternal::shareInstance().setSocialInterfaceOrientations(mask);
    RAZududeOpAnalytics::postSocialAnalytics("30");
}

void RAZududeConfig::setFollowWeiboUids(platform::Map uids) {
    RAZududeConfigInternal::shareInstance().setFollowSnsUids(std::move(uids));
    RAZududeOpAnalytics::postSocialAnalytics("31");
}

// A platform of type 0 gets the first type from 34 up that no registered platform has, so
// that platforms added by separate calls never share a type.
void RAZududeConfig::addSocialSnsPlatform(
    const std::vector<std::shared_ptr<RAZududeSnsPlatform>>& list) {
    auto& registry = RAZududeSnsPlatformManager::sharedInstance().allSnsPlatformDictionary();
    auto taken = [&](int type) {
        return std::any_of(registry.begin(), registry.end(), [&](const auto& entry) {
            return entry.second && entry.second->shareToType() == type;
        });
    };
    int counter = 34;
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
        registry.emplace(platform->platformName(), platform);
    }
    RAZududeOpAnalytics::postSocialAnalytics("32");
}

void RAZududeConfig::setDefaultColor(platform::Color color) {
    RAZududeConfigInternal::shareInstance().setDefaultColor(color);
    RAZududeOpAnalytics::postSocialAnalytics("33");
}

void RAZududeConfig::setBoundsSizeForiPad(platform::Size size) {
    RAZududeConfigInternal::shareInstance().setBoundsSizeForiPad(size);
    RAZududeOpAnalytics::postSocialAnalytics("34");
}

void RAZududeConfig::setShouldShareSynchronous(bool synchronous) {
    RAZududeConfigInternal::shareInstance().setShouldShareSynchronous(synchronous);
    RAZududeOpAnalytics::postSocialAnalytics("35");
}

void RAZududeConfig::setShouldCommentWithShare(bool comment) {
    RAZududeConfigInternal::shareInstance().setShouldCommentWithShare(comment);
    RAZududeOpAnalytics::postSocialAnalytics("36");
}

void RAZududeConfig::setShouldCommentWithLocation(bool location) {
    RAZududeConfigInternal::shareInstance().setShouldCommentWithLocation(location);
    RAZududeOpAnalytics::postSocialAnalytics("37");
}

void RAZududeConfig::setSupportTencentSSO(bool support, std::string_view) {
    RAZududeConfigInternal::shareInstance().setSupportTencentSSO(support);
    RAZududeOpAnalytics::postSocialAnalytics("42");
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
    auto& settings = RAZududeToastSettings::getSharedSettings();
    settings.setIsHidden(hidden);
    settings.setGravity(gravity);
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
    defaultColor_ = Color::white();
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
    static auto* instance = new RAZududeConfigInternal();
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
    if (theme == 0) {
        navigationbarConfig_ = darkNavigationBarConfig();
        gridViewConfig_ = darkGridViewConfig();
    } else {
        navigationbarConfig_ = lightNavigationBarConfig();
        tableViewCellConfig_ = lightTableViewCellConfig();
    }
}

RAZududeNavigationBarConfig RAZududeConfigInternal::darkNavigationBarConfig() {
    return [](platform::NavigationBar* bar, Button* closeButton, Button* backButton,
              Button* postButton, Button*, platform::NavigationItem* item) {
        if (closeButton) {
            styleDarkButton(*closeButton, stretchedButtonBackground(), "关 闭");
        }
        if (backButton) {
            styleDarkButton(*backButton, Image::named(kBackButtonBackground), "返 回");
            backButton->setTitleEdgeInsets({0, 6, 0, 0});
        }
        if (bar) {
            bar->setBackgroundImage(Image::named(kDarkBarBackground),
                                    platform::BarMetrics::kDefault);
            bar->setTitleTextAttributes(std::nullopt);
        }
        if (postButton) {
            styleDarkButton(*postButton, stretchedButtonBackground(), "发 布");
            postButton->setTitleEdgeInsets({});
        }
        if (item) {
            setTitleLabel(*item, Color::white());
        }
    };
}

// White hairlines on dark grey. The names take white too: in the template's dark grey they
// would vanish into the panel.
RAZududeGridViewConfig RAZududeConfigInternal::darkGridViewConfig() {
    return [](platform::GraphicsContext* context, platform::View* view, platform::Label* label) {
        if (context) {
            context->setStrokeColor(Color::white());
            context->setLineWidth(0);
        }
        if (view) {
            view->setBackgroundColor(Color::darkGray());
        }
        if (label) {
            label->setTextColor(Color::white());
        }
    };
}

RAZududeNavigationBarConfig RAZududeConfigInternal::lightNavigationBarConfig() {
    return [](platform::NavigationBar*, Button*, Button*, Button*, Button*,
              platform::NavigationItem* item) {
        if (item) {
            setTitleLabel(*item, Color(70 / 255.0, 79 / 255.0, 97 / 255.0, 1));
        }
    };
}

RAZududeTableViewCellConfig RAZududeConfigInternal::lightTableViewCellConfig() {
    return [](platform::TableViewCell* cell) {
        if (cell) {
            cell->textLabel().setTextColor(Color::gray(0.353));
        }
    };
}
