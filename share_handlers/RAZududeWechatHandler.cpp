#include "share_handlers/RAZududeWechatHandler.h"

#include <algorithm>

#include "SocialSDK/core/analytics/RAZududeOpAnalytics.h"
#include "SocialSDK/core/config/RAZududeConfig.h"
#include "SocialSDK/core/handler/RAZududeSnsHandler.h"
#include "SocialSDK/core/platform/RAZududeSnsPlatformInternal.h"
#include "SocialSDK/core/platform/RAZududeSnsPlatformManager.h"
#include "SocialSDK/core/platform/RAZududeSnsPlatformNames.h"
#include "platform/NoDestructor.h"
#include "share_handlers/HandlerPlatforms.h"

RAZududeWechatHandler::RAZududeWechatHandler()
    : PlatformAppHandler("wechat", "wechat_not_installed", "你还没有安装微信，无法分享到微信") {}

std::shared_ptr<RAZududeWechatHandler> RAZududeWechatHandler::shareInstance() {
    static platform::NoDestructor<std::shared_ptr<RAZududeWechatHandler>> instance(
        std::make_shared<RAZududeWechatHandler>());
    return *instance;
}

void RAZududeWechatHandler::setWXAppId(std::string appId, std::optional<std::string> appSecret,
                                       std::optional<std::string> url) {
    auto self = shareInstance();
    self->wxAppId_ = std::move(appId);
    self->wxAppSecret_ = std::move(appSecret);
    self->wxUrl_ = std::move(url);

    struct Look {
        const char* name;
        int type;
        const char* key;
        const char* text;
        const char* icon;
    };
    const Look looks[] = {
        {RZShareToWechatSession, kRAZududeSnsPlatformWechatSession, "wechat_session", "微信好友",
         "RZS_wechat_session"},
        {RZShareToWechatTimeline, kRAZududeSnsPlatformWechatTimeline, "wechat_timeline",
         "微信朋友圈", "RZS_wechat_timeline"},
        {RZShareToWechatFavorite, kRAZududeSnsPlatformWechatFavorite, "wechat_favorite", "微信收藏",
         "RZS_wechat_favorite"},
    };
    std::vector<std::shared_ptr<RAZududeSnsPlatform>> platforms;
    std::weak_ptr<RAZududeWechatHandler> weak = self;
    for (const auto& look : looks) {
        auto platform = makeHandlerPlatform(look.name, look.type, look.key, look.text, look.icon);
        platform->setSnsClickHandler(
            [weak, name = std::string(look.name)](
                const std::shared_ptr<platform::ViewController>& controller,
                const std::shared_ptr<RAZududeScreenHost>& service, bool) {
                RAZududeSnsHandler::handleClickHandler(service, name, std::nullopt);
                if (auto handler = weak.lock()) {
                    handler->clickHandlerWithSnsName(name, controller, service);
                }
            });
        platforms.push_back(std::move(platform));
    }
    RAZududeConfig::addSocialSnsPlatform(platforms);

    platform::Array names = RAZududeConfigInternal::shareInstance().snsPlatformNames();
    for (auto it = std::rbegin(looks); it != std::rend(looks); ++it) {
        bool listed = std::any_of(names.begin(), names.end(), [&](const platform::Value& v) {
            const auto* s = v.string();
            return s && *s == it->name;
        });
        if (!listed) {
            names.insert(names.begin(), platform::Value(it->name));
        }
    }
    RAZududeConfig::setSnsPlatformNames(std::move(names));

    bool installed = self->appInstalled();
    for (const auto& look : looks) {
        auto platform =
            RAZududeSnsPlatformManager::sharedInstance().allSnsPlatformDictionary().at(look.name);
        auto companion = platform->platformInternal();
        companion->setSocialLoginDelegate(weak);
        if (!installed && RAZududeConfigInternal::hiddenTheNotInstalledPlatform(look.name)) {
            companion->setIsHidden(true);
        }
    }
    RAZududeOpAnalytics::postSocialAnalytics(RZUsageCode::kSetWXAppId);
}

void RAZududeWechatHandler::clickHandlerWithSnsName(
    const std::string& platformName, const std::shared_ptr<platform::ViewController>&,
    const std::shared_ptr<RAZududeScreenHost>& service) {
    shareThroughApp(platformName, service);
}
