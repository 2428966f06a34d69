#include "SocialSDK/ui/controller/RAZududeControllerService.h"

#include <exception>

#include "RZBase_Source/Encode/RAZududeUtils.h"
#include "SocialSDK/core/account/RAZududeAccountManager.h"
#include "SocialSDK/core/analytics/RAZududeOpAnalytics.h"
#include "SocialSDK/core/config/RAZududeConfig.h"
#include "SocialSDK/core/config/RAZududeLocalizable.h"
#include "SocialSDK/core/data/RAZududeData.h"
#include "SocialSDK/core/manager/RAZududeDataService.h"
#include "SocialSDK/core/platform/RAZududeSnsPlatformManager.h"
#include "SocialSDK/core/platform/RAZududeSnsPlatformNames.h"
#include "SocialSDK/ui/controller/RAZududeNavigationController.h"
#include "SocialSDK/ui/controller/RZSViewControllerFactory.h"
#include "SocialSDK/ui/helper/RAZududeUIHelper.h"
#include "SocialSDK/ui/sheet/RAZududeIconActionSheet.h"
#include "SocialSDK/ui/startup/SocialUI.h"
#include "platform/Device.h"
#include "platform/Format.h"
#include "platform/NoDestructor.h"
#include "platform/ThreadCheck.h"
#include "platform/ui/Application.h"
#include "platform/ui/Button.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/Window.h"

namespace {

std::string delegateText(const std::shared_ptr<RAZududeUIDelegate>& delegate) {
    return delegate ? platform::format("<RAZududeUIDelegate %p>", delegate.get())
                    : std::string("(null)");
}

// Sina (9) is posted through the share service like the others once its login is done,
// whether that login went through the Weibo application or the OAuth page; without an editor
// its share would stop after the login with no word to the app.
bool isEditorPlatformType(int type) {
    return type == 20 || (type >= 9 && type <= 18);
}

}  // namespace

std::shared_ptr<RAZududeControllerService> RAZududeControllerService::defaultControllerService() {
    static platform::NoDestructor<std::shared_ptr<RAZududeControllerService>> instance(
        std::make_shared<RAZududeControllerService>(RAZududeData::defaultData()));
    return *instance;
}

RAZududeControllerService::RAZududeControllerService(std::shared_ptr<RAZududeData> data)
    : dataService_(std::make_shared<RAZududeDataService>(std::move(data))),
      defaultColor_(RAZududeConfigInternal::shareInstance().defaultColor()) {
    installSocialUI();
}

RAZududeControllerService::RAZududeControllerService()
    : RAZududeControllerService(RAZududeData::defaultData()) {}

std::shared_ptr<RAZududeData> RAZududeControllerService::socialData() const {
    return dataService_ ? dataService_->socialData() : nullptr;
}

void RAZududeControllerService::setSocialData(std::shared_ptr<RAZududeData> data) {
    RZ_CHECK_MAIN_THREAD();
    if (dataService_) {
        dataService_->setSocialData(std::move(data));
    }
}

void RAZududeControllerService::setShareText(std::optional<std::string> text,
                                             RAZududeShareImage image,
                                             std::weak_ptr<RAZududeUIDelegate> delegate) {
    RZ_CHECK_MAIN_THREAD();
    if (auto data = socialData()) {
        data->setShareText(std::move(text));
        data->setShareImage(std::move(image));
    }
    setSocialUIDelegate(std::move(delegate));
}

// ---- the view-type stack -----------------------------------------------------------------

void RAZududeControllerService::pushViewType(RAZududeViewControllerType type) {
    currentViewControllerType_ = type;
    viewTypeStack_.push_back(type);
}

// A screen that could not be made leaves no trace on the stack: the next close must pop the
// screen that is really up.
void RAZududeControllerService::undoViewType() {
    if (!viewTypeStack_.empty()) {
        viewTypeStack_.pop_back();
    }
    if (!viewTypeStack_.empty()) {
        currentViewControllerType_ = viewTypeStack_.back();
    }
}

std::shared_ptr<platform::NavigationController> RAZududeControllerService::wrapAsCurrent(
    const std::shared_ptr<platform::ViewController>& screen) {
    auto container = makeNavigationControllerWithContorller(screen);
    currentNavigationController_ = container;
    currentViewController_ = screen;
    return container;
}

// ---- screens -----------------------------------------------------------------------------

std::shared_ptr<platform::NavigationController>
RAZududeControllerService::getSocialShareListController() {
    RZ_CHECK_MAIN_THREAD();
    RAZududeOpAnalytics::postSocialAnalytics(RZUsageCode::kShareListScreen);
    return getSocialShareListControllerInternal();
}

std::shared_ptr<platform::NavigationController>
RAZududeControllerService::getSocialShareListControllerInternal() {
    RZ_CHECK_MAIN_THREAD();
    int previous = currentViewControllerType_;
    pushViewType(kRAZududeViewControllerShareList);
    auto screen = getSocialViewController(kRAZududeViewControllerShareList);
    if (!screen) {
        undoViewType();
        currentViewControllerType_ = previous;
        return nullptr;
    }
    if (auto list = std::dynamic_pointer_cast<RZSPlatformListScreen>(screen)) {
        list->setAllSnsArray(RAZududeConfigInternal::shareInstance().snsPlatformNames());
    }
    return wrapAsCurrent(screen);
}

std::shared_ptr<RAZududeIconActionSheet>
RAZududeControllerService::getSocialIconActionSheetInController(
    const std::shared_ptr<platform::ViewController>& controller) {
    RZ_CHECK_MAIN_THREAD();
    RAZududeOpAnalytics::postSocialAnalytics(RZUsageCode::kIconSheetScreen);
    return getSocialIconActionSheetInControllerInternal(controller);
}

std::shared_ptr<RAZududeIconActionSheet>
RAZududeControllerService::getSocialIconActionSheetInControllerInternal(
    const std::shared_ptr<platform::ViewController>& controller) {
    RZ_CHECK_MAIN_THREAD();
    currentViewController_ = controller;
    std::weak_ptr<RAZududeControllerService> weakSelf = weak_from_this();
    std::weak_ptr<platform::ViewController> presenting = controller;

    auto handler = [weakSelf, presenting](const std::string& name) {
        auto self = weakSelf.lock();
        if (!self) {
            return;
        }
        auto platform = RAZududeSnsPlatformManager::getSocialPlatformWithName(name);
        auto delegate = self->socialUIDelegate();
        auto controllerNow = presenting.lock();
        if (rz_ui_delegate::isDirectShareInIconActionSheet(delegate)) {
            auto post = self->socialDataService()
                            ? self->socialDataService()->snsPostContentForPlatform(name)
                            : RAZududeSnsPostContent{};
            post.controller = controllerNow;
            post.completion = [weakSelf](const RAZududeResponsePtr& response) {
                auto owner = weakSelf.lock();
                rz_ui_delegate::didFinishGetRAZududeDataInViewController(
                    owner ? owner->socialUIDelegate() : nullptr, response);
            };
            RAZududeDataService::defaultDataService()->postSnsWithDictionary(std::move(post));
            return;
        }
        if (platform && platform->snsClickHandler()) {
            platform->snsClickHandler()(controllerNow, self, true);
        } else {
            RAZududeUtils::outLog(
                [&] { return platform::format("no click handler for the platform %@", name); });
        }
    };

    auto sheet = std::make_shared<RAZududeIconActionSheet>(
        RAZududeSnsPlatformManager::sharedInstance().allSnsValuesArray(), std::move(handler));
    sheet->setTag(RAZududeIconActionSheet::kTag);
    sheet->setPresentingViewController(controller);
    sheet->setSocialControllerService(weakSelf);
    sheet->setDismissCompletion([weakSelf] {
        auto self = weakSelf.lock();
        rz_ui_delegate::didCloseUIViewController(self ? self->socialUIDelegate() : nullptr,
                                                 kRAZududeViewControllerIconActionSheet);
    });
    return sheet;
}

std::shared_ptr<platform::ViewController> RAZududeControllerService::getSocialShareEditController(
    const std::string& platformName) {
    RZ_CHECK_MAIN_THREAD();
    return getSocialShareEditControllerInternal(platformName, std::nullopt);
}

std::shared_ptr<platform::ViewController>
RAZududeControllerService::getSocialShareEditControllerInternal(
    const std::string& platformName, std::optional<std::string> sourceOpType) {
    RAZududeOpAnalytics::postSocialAnalyticsFromSourceOpType(RZUsageCode::kShareEditScreen,
                                                             std::move(sourceOpType), platformName);
    int previous = currentViewControllerType_;
    pushViewType(kRAZududeViewControllerShareEdit);
    auto screen = getSocialViewController(kRAZududeViewControllerShareEdit, platformName);
    if (!screen) {
        undoViewType();
        currentViewControllerType_ = previous;
        return nullptr;
    }
    if (platformName == "email" || platformName == "sms") {
        selfWhileComposing_ = shared_from_this();
        return screen;
    }
    return wrapAsCurrent(screen);
}

std::shared_ptr<platform::NavigationController> RAZududeControllerService::getSocialOauthController(
    const std::string& platformName) {
    RZ_CHECK_MAIN_THREAD();
    return getSocialOauthControllerInternal(platformName, std::nullopt);
}

std::shared_ptr<platform::NavigationController>
RAZududeControllerService::getSocialOauthControllerInternal(
    const std::string& platformName, std::optional<std::string> sourceOpType) {
    RAZududeOpAnalytics::postSocialAnalyticsFromSourceOpType(RZUsageCode::kOauthScreen,
                                                             std::move(sourceOpType), platformName);
    int previous = currentViewControllerType_;
    pushViewType(kRAZududeViewControllerOauth);
    auto screen = getSocialViewController(kRAZududeViewControllerOauth, platformName);
    if (!screen) {
        undoViewType();
        currentViewControllerType_ = previous;
        return nullptr;
    }
    return wrapAsCurrent(screen);
}

std::shared_ptr<platform::NavigationController>
RAZududeControllerService::getSocialAccountControllerInternal() {
    int previous = currentViewControllerType_;
    pushViewType(kRAZududeViewControllerAccount);
    auto screen = getSocialViewController(kRAZududeViewControllerAccount);
    if (!screen) {
        undoViewType();
        currentViewControllerType_ = previous;
        return nullptr;
    }
    return wrapAsCurrent(screen);
}

std::shared_ptr<platform::ViewController> RAZududeControllerService::getSocialViewController(
    int viewType, std::optional<std::string> platformName) {
    RZ_CHECK_MAIN_THREAD();
    try {
        int platformType =
            platformName ? RAZududeSnsPlatformManagerInternal::getSnsPlatformType(*platformName)
                         : 0;
        if (viewType == kRAZududeViewControllerShareEdit) {
            currentViewControllerType_ = kRAZududeViewControllerShareEdit;
            if (!isEditorPlatformType(platformType)) {
                return nullptr;
            }
            // The e-mail and SMS editors lie outside the types the transform names: without
            // this, their cancel would name the platform of an earlier flow.
            currentSnsPlatformName_ = platformName;
        }
        const auto type = transformViewControllerType(
            static_cast<RAZududeViewControllerType>(viewType), platformType);
        return RZSViewControllerFactory::sharedInstance().createSocialViewController(
            type, platformType, shared_from_this());
    } catch (const std::exception&) {
        RAZududeUtils::outLog("get SocialViewController fail!");
        return nullptr;
    }
}

RAZududeViewControllerType RAZududeControllerService::transformViewControllerType(
    RAZududeViewControllerType viewType, int platformType) {
    if (platformType == kRAZududeSnsPlatformFacebook ||
        (platformType >= 1 && platformType <= kRAZududeSnsPlatformWechatFavorite)) {
        auto name = RAZududeSnsPlatformManager::getSnsPlatformString(platformType);
        auto platform =
            name ? RAZududeSnsPlatformManager::getSocialPlatformWithName(*name) : nullptr;
        currentSnsPlatformName_ =
            platform ? std::optional<std::string>(platform->platformName()) : std::nullopt;
        if (viewType == kRAZududeViewControllerShareEdit &&
            !RAZududeAccountManager::isOauthAndTokenNotExpired(
                currentSnsPlatformName_.value_or(std::string()))) {
            nextViewController_ = kRAZududeViewControllerShareEdit;
            return kRAZududeViewControllerOauth;
        }
    }
    return viewType;
}

std::shared_ptr<RAZududeNavigationController>
RAZududeControllerService::makeNavigationControllerWithContorller(
    const std::shared_ptr<platform::ViewController>& controller) {
    if (!controller) {
        return nullptr;
    }
    auto container = std::make_shared<RAZududeNavigationController>(controller);
    container->view()->setBackgroundColor(defaultColor_);
    RAZududeUIHelper::customNavBar(container->navigationBar());
    if (platform::currentDevice().isPad()) {
        container->setModalPresentationStyle(platform::ModalPresentationStyle::kFormSheet);
        container->setModalTransitionStyle(platform::ModalTransitionStyle::kCoverVertical);
    }
    return container;
}

void RAZududeControllerService::addCloseButton(
    const std::shared_ptr<platform::ViewController>& screen) {
    if (!screen) {
        return;
    }
    auto button = platform::Button::withType(platform::ButtonType::kCustom);
    std::string title = RAZududeLocalizedString("button_close", "关闭");
    button->setTitle(title);
    RAZududeUIHelper::customNavButton(*button, title);
    if (const auto& config = RAZududeConfigInternal::shareInstance().navigationbarConfig()) {
        config(nullptr, button.get(), nullptr, nullptr, nullptr, nullptr);
    }
    std::weak_ptr<RAZududeControllerService> weakSelf = weak_from_this();
    button->addTarget(
        [weakSelf](platform::Control&) {
            if (auto self = weakSelf.lock()) {
                self->closeWithCancelResponse();
            }
        },
        platform::kControlEventTouchUpInside);
    screen->navigationItem().setLeftBarButtonItem(
        std::make_shared<platform::BarButtonItem>(std::move(button)));
}

// ---- the rest of the screen host ---------------------------------------------------------

std::shared_ptr<platform::ViewController> RAZududeControllerService::makeShareEditScreen(
    const std::string& platformName, std::optional<std::string> sourceOpType) {
    return getSocialShareEditControllerInternal(platformName, std::move(sourceOpType));
}

std::shared_ptr<platform::ViewController> RAZududeControllerService::makeOauthScreen(
    const std::string& platformName, std::optional<std::string> sourceOpType) {
    return getSocialOauthControllerInternal(platformName, std::move(sourceOpType));
}

void RAZududeControllerService::presentScreen(
    const std::shared_ptr<platform::ViewController>& screen,
    const std::shared_ptr<platform::ViewController>& from) {
    RZ_CHECK_MAIN_THREAD();
    if (screen && from) {
        from->presentViewController(screen, true);
    }
}

bool RAZududeControllerService::pushScreen(const std::shared_ptr<platform::ViewController>& screen,
                                           const std::shared_ptr<platform::ViewController>& from) {
    RZ_CHECK_MAIN_THREAD();
    auto* navigation = from ? from->navigationController() : nullptr;
    if (!screen || !navigation) {
        return false;
    }
    navigation->pushViewController(screen, true);
    return true;
}

void RAZududeControllerService::pushScreenOn(
    const std::shared_ptr<platform::NavigationController>& navigation,
    const std::shared_ptr<platform::ViewController>& screen) {
    RZ_CHECK_MAIN_THREAD();
    if (navigation && screen) {
        navigation->pushViewController(screen, true);
    }
}

// ---- closing -------------------------------------------------------------------------------

void RAZududeControllerService::closeWithCancelResponse() {
    RZ_CHECK_MAIN_THREAD();
    auto delegate = socialUIDelegate();
    RAZududeUtils::outLog([&] {
        return platform::format("closeWithCancelResponse delegate is %@", delegateText(delegate));
    });
    std::string name = currentSnsPlatformName_.value_or(std::string());
    bool cancelled = currentViewControllerType_ == kRAZududeViewControllerShareEdit ||
                     (currentViewControllerType_ == kRAZududeViewControllerOauth &&
                      !RAZududeAccountManager::isOauthWithPlatform(name));
    if (cancelled && delegate) {
        auto response = makeRAZududeResponse(kRAZududeResponseCancel, "user cancel the operation");
        response->setViewControllerType(currentViewControllerType_);
        response->setData(currentSnsPlatformName_ ? platform::Map{{name, ""}} : platform::Map{});
        rz_ui_delegate::didFinishGetRAZududeDataInViewController(delegate, response);
    }
    closeInternal();
}

void RAZududeControllerService::closeWithResponse(const RAZududeResponsePtr& response) {
    RZ_CHECK_MAIN_THREAD();
    if (!response) {
        closeWithCancelResponse();
        return;
    }
    rz_ui_delegate::didFinishGetRAZududeDataInViewController(socialUIDelegate(), response);
    closeInternal();
}

void RAZududeControllerService::close() {
    RZ_CHECK_MAIN_THREAD();
    try {
        closeInternal();
    } catch (const std::exception&) {
        RAZududeUtils::outLog("close exception");
    }
}

void RAZududeControllerService::closeInternal() {
    RZ_CHECK_MAIN_THREAD();
    // Released as this call returns, when nothing is left to dismiss; the service may go with it.
    std::shared_ptr<RAZududeControllerService> keepUntilReturn;
    bool dismissing = false;
    if (dataService_) {
        dataService_->setRAZududeDelegate({});
        if (currentViewControllerType_ != kRAZududeViewControllerShareEdit ||
            RAZududeConfigInternal::shareInstance().shouldShareSynchronous()) {
            dataService_->cancelAllRequestInQueueInternal();
        }
    }
    try {
        // The close is told with the type of the screen that closed, also when the dismissal
        // ends after the stack below has gone back one type.
        auto keep = shared_from_this();
        auto finish = [keep, closed = currentViewControllerType_] { keep->reportClosed(closed); };
        auto container = currentNavigationController();
        auto rootOfAppWindow = []() -> std::shared_ptr<platform::ViewController> {
            const auto& app = platform::Application::shared().delegate();
            auto window = app ? app->window() : nullptr;
            return window ? window->rootViewController() : nullptr;
        };
        if (container && container->presentingViewController()) {
            dismissing = true;
            container->dismissViewController(true, finish);
        } else if (container && container->parentViewController()) {
            container->dismissModalViewControllerAnimated(true);
            finish();
        } else if (auto root = rootOfAppWindow()) {
            root->dismissModalViewControllerAnimated(true);
            finish();
        }
    } catch (const std::exception&) {
        RAZududeUtils::outLog("close Internal error!");
    }
    if (!viewTypeStack_.empty()) {
        viewTypeStack_.pop_back();
    }
    if (!viewTypeStack_.empty()) {
        currentViewControllerType_ = viewTypeStack_.back();
    }
    if (!dismissing) {
        keepUntilReturn = std::move(selfWhileComposing_);
        selfWhileComposing_.reset();
    }
}

void RAZududeControllerService::didFinishedDismissViewController() {
    RZ_CHECK_MAIN_THREAD();
    reportClosed(currentViewControllerType_);
}

void RAZududeControllerService::reportClosed(int closedType) {
    RZ_CHECK_MAIN_THREAD();
    auto keep = std::move(selfWhileComposing_);
    selfWhileComposing_.reset();
    rz_ui_delegate::didCloseUIViewController(socialUIDelegate(), closedType);
    currentNavigationController_.reset();
    currentViewController_.reset();
}
