#include "SocialSDK/ui/service/RAZududeSnsService.h"

#include <exception>

#include "RZBase_Source/Encode/RAZududeUtils.h"
#include "SocialSDK/core/analytics/RAZududeOpAnalytics.h"
#include "SocialSDK/core/data/RAZududeData.h"
#include "SocialSDK/core/handler/RAZududeSnsHandler.h"
#include "SocialSDK/ui/controller/RAZududeControllerService.h"
#include "SocialSDK/ui/controller/RZSViewControllerFactory.h"
#include "SocialSDK/ui/sheet/RAZududeIconActionSheet.h"
#include "SocialSDK/ui/startup/SocialUI.h"
#include "platform/Log.h"
#include "platform/NoDestructor.h"
#include "platform/ThreadCheck.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/TabBarController.h"

RAZududeSnsService& RAZududeSnsService::sharedInstance() {
    installSocialUI();
    static platform::NoDestructor<RAZududeSnsService> instance;
    return *instance;
}

void RAZududeSnsService::presentSnsIconSheetView(
    const std::shared_ptr<platform::ViewController>& controller, std::optional<std::string> appKey,
    std::optional<std::string> shareText, RAZududeShareImage shareImage, Names shareToSnsNames,
    std::weak_ptr<RAZududeUIDelegate> delegate) {
    RZ_CHECK_MAIN_THREAD();
    sharedInstance().showSnsIconSheetView(controller, std::move(appKey), std::move(shareText),
                                          std::move(shareImage), std::move(shareToSnsNames),
                                          std::move(delegate));
    RAZududeOpAnalytics::postSocialAnalytics(RZUsageCode::kPresentSnsIconSheet);
}

void RAZududeSnsService::presentSnsController(
    const std::shared_ptr<platform::ViewController>& controller, std::optional<std::string> appKey,
    std::optional<std::string> shareText, RAZududeShareImage shareImage, Names shareToSnsNames,
    std::weak_ptr<RAZududeUIDelegate> delegate) {
    RZ_CHECK_MAIN_THREAD();
    sharedInstance().presentSnsControllerWithSnsStrings(
        controller, std::move(appKey), std::move(shareText), std::move(shareImage),
        std::move(shareToSnsNames), std::move(delegate));
    RAZududeOpAnalytics::postSocialAnalytics(RZUsageCode::kPresentSnsController);
}

bool RAZududeSnsService::handleOpenURL(const platform::Url& url) {
    return handleOpenURL(url, nullptr);
}

bool RAZududeSnsService::handleOpenURL(const platform::Url& url,
                                       const std::shared_ptr<void>& wxApiDelegate) {
    RZ_CHECK_MAIN_THREAD();
    installSocialUI();
    return RAZududeSnsHandler::shareInstance().handleOpenURL(url, wxApiDelegate);
}

void RAZududeSnsService::setSocialDataWithController(
    const std::shared_ptr<platform::ViewController>& controller, std::optional<std::string> appKey,
    std::optional<std::string> shareText, RAZududeShareImage shareImage,
    std::weak_ptr<RAZududeUIDelegate> delegate) {
    RZ_CHECK_MAIN_THREAD();
    presentingViewController_ = controller;
    if (appKey) {
        RAZududeData::setAppKey(std::move(appKey));
    } else if (auto known = RAZududeData::appKey(); !known || known->empty()) {
        platform::consoleLog("you should set Zizoz Appkey!");
    }
    if (!socialControllerService_) {
        socialControllerService_ = RAZududeControllerService::defaultControllerService();
    }
    try {
        if (auto data = socialControllerService_->socialData()) {
            data->setShareText(std::move(shareText));
            data->setShareImage(std::move(shareImage));
        }
        socialControllerService_->setSocialUIDelegate(std::move(delegate));
    } catch (const std::exception&) {
        RAZududeUtils::outLog("set social content fail!");
    }
}

void RAZududeSnsService::showSnsIconSheetView(
    const std::shared_ptr<platform::ViewController>& controller, std::optional<std::string> appKey,
    std::optional<std::string> shareText, RAZududeShareImage shareImage, Names shareToSnsStrings,
    std::weak_ptr<RAZududeUIDelegate> delegate) {
    RZ_CHECK_MAIN_THREAD();
    setSocialDataWithController(controller, std::move(appKey), std::move(shareText),
                                std::move(shareImage), std::move(delegate));
    auto sheet = socialControllerService_->getSocialIconActionSheetInControllerInternal(controller);
    if (shareToSnsStrings) {
        sheet->setSnsNames(*shareToSnsStrings);
    }
    // The sheet covers the tab bar too, and a visible navigation bar.
    platform::ViewController* host = controller.get();
    if (controller) {
        auto* navigation = controller->navigationController();
        if (auto* tabs = controller->tabBarController()) {
            host = tabs;
        } else if (navigation && !navigation->isNavigationBarHidden()) {
            host = navigation;
        }
    }
    if (!controller) {
        RAZududeUtils::outLog("you must pass the controller !!");
        return;
    }
    sheet->showInView(*host->view());
}

void RAZududeSnsService::presentSnsControllerWithSnsStrings(
    const std::shared_ptr<platform::ViewController>& controller, std::optional<std::string> appKey,
    std::optional<std::string> shareText, RAZududeShareImage shareImage, Names shareToSnsStrings,
    std::weak_ptr<RAZududeUIDelegate> delegate) {
    RZ_CHECK_MAIN_THREAD();
    setSocialDataWithController(controller, std::move(appKey), std::move(shareText),
                                std::move(shareImage), std::move(delegate));
    auto container = socialControllerService_->getSocialShareListControllerInternal();
    if (!container) {
        platform::consoleLog("no share list: nothing is presented");
        return;
    }
    if (shareToSnsStrings) {
        auto* visible = container->visibleViewController();
        if (auto* list = dynamic_cast<RZSPlatformListScreen*>(visible)) {
            platform::Array names;
            for (const auto& name : *shareToSnsStrings) {
                names.emplace_back(name);
            }
            list->setAllSnsArray(names);
        }
    }
    if (controller) {
        controller->presentViewController(container, true);
    }
}
