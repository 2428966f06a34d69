#include "SocialSDK/ui/startup/SocialUI.h"

#include <memory>
#include <string>

#include "SocialSDK/core/data/RAZududeResponseEntity.h"
#include "SocialSDK/core/screen/RAZududeScreenHooks.h"
#include "SocialSDK/ui/controller/RAZududeControllerService.h"
#include "SocialSDK/ui/controller/RZSViewControllerFactory.h"
#include "SocialSDK/ui/editor/RZShareEditViewController.h"
#include "SocialSDK/ui/friend/RAZududeFriendViewController.h"
#include "SocialSDK/ui/list/RZSShareListController.h"
#include "SocialSDK/ui/oauth/RZSOauthViewController.h"
#include "SocialSDK/ui/startup/RAZududeThemeBlocks.h"
#include "SocialSDK/ui/toast/RAZududeToast.h"
#include "SocialSDK/ui/toast/RAZududeToastSettings.h"
#include "platform/Device.h"
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

    // The screens the factory makes by view type, each handed the service that asked.
    auto& factory = RZSViewControllerFactory::sharedInstance();
    factory.setMaker(kRAZududeViewControllerShareList,
                     [](int, const std::shared_ptr<RAZududeControllerService>& service) {
                         auto list = std::make_shared<RZSShareListController>();
                         list->setSocialControllerService(service);
                         return list;
                     });
    factory.setMaker(kRAZududeViewControllerOauth,
                     [](int, const std::shared_ptr<RAZududeControllerService>& service) {
                         auto page = std::make_shared<RZSOauthViewController>();
                         page->setSocialControllerService(service);
                         return page;
                     });
    factory.setMaker(kRAZududeViewControllerShareEdit,
                     [](int, const std::shared_ptr<RAZududeControllerService>& service) {
                         auto editor = std::make_shared<RZShareEditViewController>(
                             platform::currentDevice().isPad()
                                 ? RZShareEditViewController::kNibNamePad
                                 : RZShareEditViewController::kNibName);
                         editor->setSocialControllerService(service);
                         return std::static_pointer_cast<platform::ViewController>(editor);
                     });
    factory.setMaker(kRAZududeViewControllerFriend,
                     [](int, const std::shared_ptr<RAZududeControllerService>& service) {
                         auto picker = std::make_shared<RAZududeFriendViewController>();
                         picker->setSocialControllerService(service);
                         return std::static_pointer_cast<platform::ViewController>(picker);
                     });
}
