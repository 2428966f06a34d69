#include "share_handlers/RAZududeFacebookSnsHandler.h"

#include "SocialSDK/core/config/RAZududeLocalizable.h"
#include "SocialSDK/core/handler/RAZududeSnsHandler.h"
#include "SocialSDK/core/platform/RAZududeSnsPlatformManager.h"
#include "SocialSDK/core/platform/RAZududeSnsPlatformNames.h"
#include "SocialSDK/core/screen/RAZududeScreenHost.h"
#include "platform/NoDestructor.h"
#include "platform/ui/Alert.h"
#include "share_handlers/HandlerPlatforms.h"

std::shared_ptr<RAZududeFacebookSnsHandler> RAZududeFacebookSnsHandler::shareInstance() {
    static platform::NoDestructor<std::shared_ptr<RAZududeFacebookSnsHandler>> instance(
        std::make_shared<RAZududeFacebookSnsHandler>());
    return *instance;
}

std::shared_ptr<RAZududeSnsPlatform> RAZududeFacebookSnsHandler::getFacebookTwitterPlatform(
    const std::string& platformName) {
    std::shared_ptr<RAZududeSnsPlatform> platform;
    if (platformName == RZShareToFacebook) {
        platform = makeHandlerPlatform(RZShareToFacebook, kRAZududeSnsPlatformFacebook, "facebook",
                                       "Facebook", "RZS_facebook");
    } else if (platformName == RZShareToTwitter) {
        platform = makeHandlerPlatform(RZShareToTwitter, kRAZududeSnsPlatformTwitter, "twitter",
                                       "Twitter", "RZS_twitter");
    }
    // A tap goes through the share service's click flow to this handler.
    RAZududeSnsPlatformManager::installClickHandler(platform);
    return platform;
}

void RAZududeFacebookSnsHandler::clickHandlerWithSnsName(
    const std::string& platformName, const std::shared_ptr<platform::ViewController>&,
    const std::shared_ptr<RAZududeScreenHost>& service) {
    bool facebook = platformName == RZShareToFacebook;
    platform::AlertView::make("",
                              facebook
                                  ? RAZududeLocalizedString("share_facebook_not_login",
                                                            "请先在系统设置中登录你的Facebook账号")
                                  : RAZududeLocalizedString("share_twitter_not_login",
                                                            "请先在系统设置中登录你的Twitter账号"),
                              {}, RAZududeLocalizedString("button_ok", "好"))
        ->show();
    RAZududeSnsHandler::handleUIDelegate(service ? service->socialUIDelegate() : nullptr,
                                         platformName, kRAZududeResponseNoPlatformAccount,
                                         "the platform account is not set up on the device",
                                         std::nullopt, {});
}
