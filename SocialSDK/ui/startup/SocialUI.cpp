#include "SocialSDK/ui/startup/SocialUI.h"

#include <memory>
#include <string>

#include "SocialSDK/core/screen/RAZududeScreenHooks.h"
#include "SocialSDK/ui/controller/RAZududeControllerService.h"
#include "SocialSDK/ui/startup/RAZududeThemeBlocks.h"
#include "SocialSDK/ui/toast/RAZududeToast.h"
#include "SocialSDK/ui/toast/RAZududeToastSettings.h"
#include "platform/ui/Alert.h"

void installSocialUI() {
    static bool installed = false;
    if (installed) {
        return;
    }
    installed = true;

    RAZududeScreenHooks::setScreenHostMaker([](const std::shared_ptr<RAZududeData>& data) {
        return std::static_pointer_cast<RAZududeScreenHost>(
            std::make_shared<RAZududeControllerService>(data));
    });
    RAZududeScreenHooks::setToastMaker([](const std::string& text, std::int64_t duration) {
        auto toast = RAZududeToast::makeText(text);
        if (duration > 0) {
            toast->setDuration(duration);
        }
        toast->show();
        return std::function<void()>([toast] { toast->removeToast(); });
    });
    RAZududeScreenHooks::setAlertMaker(
        [](const std::string& title, const std::string& message, const std::string& cancel) {
            platform::AlertView::make(title, message, {}, cancel)->show();
        });
    RAZududeScreenHooks::setToastPlacer([](std::optional<bool> hidden, std::int32_t gravity) {
        auto& settings = RAZududeToastSettings::getSharedSettings();
        if (hidden) {
            settings.setIsHidden(*hidden);
        }
        settings.setGravity(gravity);
    });
    RAZududeScreenHooks::setThemeMaker(RAZududeThemeBlocks);
}
