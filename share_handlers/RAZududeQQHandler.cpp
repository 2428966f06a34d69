#include "share_handlers/RAZududeQQHandler.h"

#include "RZBase_Source/Encode/RAZududeUtils.h"
#include "SocialSDK/core/config/RAZududeConfig.h"
#include "SocialSDK/core/handler/RAZududeSnsHandler.h"
#include "SocialSDK/core/platform/RAZududeSnsPlatformInternal.h"
#include "SocialSDK/core/platform/RAZududeSnsPlatformManager.h"
#include "SocialSDK/core/platform/RAZududeSnsPlatformNames.h"
#include "platform/Format.h"
#include "platform/NoDestructor.h"
#include "share_handlers/HandlerPlatforms.h"

RAZududeQQHandler::RAZududeQQHandler()
    : PlatformAppHandler("qq", "qq_not_installed", "你还没有安装QQ，无法分享到QQ") {}

std::shared_ptr<RAZududeQQHandler> RAZududeQQHandler::shareInstance() {
    static platform::NoDestructor<std::shared_ptr<RAZududeQQHandler>> instance(
        std::make_shared<RAZududeQQHandler>());
    return *instance;
}

void RAZududeQQHandler::setQQWithAppId(std::string appId, std::optional<std::string> appKey,
                                       std::optional<std::string> url) {
    auto self = shareInstance();
    self->qqAppId_ = appId;
    self->qqAppKey_ = std::move(appKey);
    self->qqUrl_ = std::move(url);

    std::weak_ptr<RAZududeQQHandler> weak = self;
    auto tapFor = [weak](std::string name) {
        return [weak, name](const std::shared_ptr<platform::ViewController>& controller,
                            const std::shared_ptr<RAZududeScreenHost>& service, bool) {
            RAZududeSnsHandler::handleClickHandler(service, name, std::nullopt);
            if (auto handler = weak.lock()) {
                handler->clickHandlerWithSnsName(name, controller, service);
            }
        };
    };
    auto qq = makeHandlerPlatform(RZShareToQQ, kRAZududeSnsPlatformQQ, "mobile_qq", "QQ", "RZS_qq");
    qq->setSnsClickHandler(tapFor(RZShareToQQ));
    RAZududeConfig::addSocialSnsPlatform({qq});

    const auto& registry = RAZududeSnsPlatformManager::sharedInstance().allSnsPlatformDictionary();
    for (const char* name : {RZShareToQQ, RZShareToQzone}) {
        auto it = registry.find(name);
        if (it == registry.end() || !it->second) {
            continue;
        }
        it->second->setSnsClickHandler(tapFor(name));
        it->second->platformInternal()->setSocialLoginDelegate(weak);
    }

    auto& base = RAZududeSnsHandler::shareInstance();
    base.setQqAppId(std::move(appId));
    // Settings the share service keeps for the app's QQ platforms, when it has sent them.
    platform::Map appInfo = base.appInfo();
    if (const auto* settings = appInfo[RZShareToQQ].map()) {
        RAZududeUtils::outLog([&] {
            return platform::format("qq settings from the share service: %@",
                                    platform::Value(*settings));
        });
    }
}

void RAZududeQQHandler::clickHandlerWithSnsName(
    const std::string& platformName, const std::shared_ptr<platform::ViewController>&,
    const std::shared_ptr<RAZududeScreenHost>& service) {
    shareThroughApp(platformName, service);
}
