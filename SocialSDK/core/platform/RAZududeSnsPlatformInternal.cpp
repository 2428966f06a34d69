#include "SocialSDK/core/platform/RAZududeSnsPlatformInternal.h"

#include <exception>

#include "RZBase_Source/Encode/RAZududeUtils.h"
#include "SocialSDK/core/account/RAZududeAccountManager.h"
#include "SocialSDK/core/analytics/RAZududeOpAnalytics.h"
#include "SocialSDK/core/handler/RAZududeSnsHandler.h"
#include "SocialSDK/core/platform/RAZududeSnsPlatform.h"
#include "SocialSDK/core/platform/RAZududeSnsPlatformManager.h"
#include "SocialSDK/core/platform/RAZududeSnsPlatformNames.h"
#include "SocialSDK/core/screen/RAZududeScreenHost.h"
#include "platform/Format.h"
#include "platform/Log.h"
#include "platform/MainLoop.h"
#include "platform/TaskGuard.h"

RAZududeSnsPlatformInternal::RAZududeSnsPlatformInternal(
    std::weak_ptr<RAZududeSnsPlatform> platform)
    : snsPlatform_(std::move(platform)) {
    if (auto owner = snsPlatform_.lock()) {
        setPlatformName(owner->platformName());
    }
}

int RAZududeSnsPlatformInternal::shareToType() const {
    return RAZududeSnsPlatformManagerInternal::getSnsPlatformType(platformName());
}

std::weak_ptr<RAZududeSnsPlatformInternal> RAZududeSnsPlatformInternal::weakSelf() {
    return std::static_pointer_cast<RAZududeSnsPlatformInternal>(weak_from_this().lock());
}

// ---- standing in for the app's delegate ------------------------------------------------

// Takes the app's delegate aside and puts this companion in its place. When another companion
// stands in already, its kept delegate moves over, so a second login never loses the app's.
void RAZududeSnsPlatformInternal::standIn(const std::shared_ptr<RAZududeScreenHost>& service) {
    auto current = service->socialUIDelegate();
    if (current.get() != this) {
        if (auto other = std::dynamic_pointer_cast<RAZududeSnsPlatformInternal>(current)) {
            socialUIDelegate_ = std::move(other->socialUIDelegate_);
            other->socialUIDelegate_.reset();
        } else {
            socialUIDelegate_ = std::move(current);
        }
    }
    service->setSocialUIDelegate(weakSelf());
}

// Gives the kept delegate back, but only to a service on which this companion still stands in:
// a delegate the app set meanwhile stays. Either way the kept one is let go, so it can never
// come back later in place of a newer one.
void RAZududeSnsPlatformInternal::handBack(const std::shared_ptr<RAZududeScreenHost>& service) {
    if (!socialUIDelegate_) {
        return;
    }
    if (service && service->socialUIDelegate().get() == this) {
        service->setSocialUIDelegate(socialUIDelegate_);
    }
    socialUIDelegate_.reset();
}

// ---- the click flow --------------------------------------------------------------------

void RAZududeSnsPlatformInternal::openEditor(
    const std::shared_ptr<platform::ViewController>& controller,
    const std::shared_ptr<RAZududeScreenHost>& service, bool isPresent,
    const std::string& sourceOpType) {
    std::shared_ptr<platform::ViewController> editor;
    if (!isPresent) {
        editor = service->getSocialViewController(kRAZududeViewControllerShareEdit, platformName());
        if (editor && !service->pushScreen(editor, controller)) {
            platform::consoleLog("the share editor needs a navigation controller to be pushed on");
        }
    } else {
        editor = service->makeShareEditScreen(platformName(), sourceOpType);
        if (editor) {
            service->presentScreen(editor, controller);
        }
    }
    if (!editor) {
        platform::consoleLog("no share editor for %@: the share stops here", platformName());
    }
    handBack(service);
}

void RAZududeSnsPlatformInternal::snsClickHandlerWithController(
    const std::shared_ptr<platform::ViewController>& controller,
    const std::shared_ptr<RAZududeScreenHost>& service, bool isPresent,
    std::optional<std::string> sourceOpType) {
    if (!service) {
        platform::consoleLog("a tap on %@ needs a screen host", platformName());
        return;
    }
    RAZududeSnsHandler::handleClickHandler(service, platformName(), sourceOpType);

    std::weak_ptr<RAZududeSnsPlatformInternal> weakThis = weakSelf();
    std::weak_ptr<RAZududeScreenHost> weakService = service;
    std::weak_ptr<platform::ViewController> weakController = controller;
    auto loginDone = [weakThis, weakService, weakController,
                      isPresent](const RAZududeResponsePtr& response) {
        auto self = weakThis.lock();
        auto owner = weakService.lock();
        if (!self || !owner) {
            return;
        }
        if (response && response->responseCode() == kRAZududeResponseSuccess) {
            self->openEditor(weakController.lock(), owner, isPresent, RZUsageCode::kPlatformLogin);
            return;
        }
        rz_ui_delegate::didFinishGetRAZududeDataInViewController(self->socialUIDelegate_, response);
        // The login is over: the app's delegate goes back in place.
        self->handBack(owner);
    };

    if (shareToType() == kRAZududeSnsPlatformQzone) {
        platform::consoleLog("你需要按照文档要求添加qq空间设置才能进行分享");
    }
    auto platform = snsPlatform();
    if (platform && platform->needLogin()) {
        if (RAZududeAccountManager::isOauthAndTokenNotExpired(platformName())) {
            openEditor(controller, service, isPresent, RZUsageCode::kPlatformChosen);
        } else {
            snsLoginHandlerrWithController(controller, service, isPresent, std::move(loginDone),
                                           RZUsageCode::kPlatformChosen);
        }
        return;
    }
    RAZududeSnsHandler::clickHandlerWithSnsName(platformName(), controller, service);
}

// ---- the login flow --------------------------------------------------------------------

void RAZududeSnsPlatformInternal::snsLoginHandlerrWithController(
    const std::shared_ptr<platform::ViewController>& controller,
    const std::shared_ptr<RAZududeScreenHost>& service, bool isPresent,
    RAZududeResponseCompletion loginCompletion, std::optional<std::string> sourceOpType) {
    RAZududeOpAnalytics::postSocialAnalyticsFromSourceOpType(RZUsageCode::kPlatformLogin,
                                                             sourceOpType, platformName());
    if (!service) {
        platform::consoleLog("a login on %@ needs a screen host", platformName());
        return;
    }
    standIn(service);
    // A new login: whatever an earlier one left behind can no longer answer.
    ++loginGeneration_;
    loginCompletion_ = nullptr;

    auto handler = socialLoginDelegate();
    bool appLogin =
        handler && handler->isClientInstall(platformName()) && handler->checkUrlSchema();
    if (platformName() == RZShareToSina && RAZududeSnsHandler::shareInstance().sinaType() == 1) {
        appLogin = true;
    }
    if (appLogin) {
        if (!handler) {
            platform::consoleLog("%@ logs in through its application, but has no handler",
                                 platformName());
            handBack(service);
            return;
        }
        RAZududeSnsHandler::shareInstance().setCurrentSnsHandler(handler);
        handler->loginWithController(controller, std::move(loginCompletion), platformName());
        return;
    }

    auto platform = snsPlatform();
    if (!platform || !platform->haveWebViewAuth()) {
        platform::consoleLog("%@ has no login here", platformName());
        handBack(service);
        return;
    }
    service->setNextViewController(kRAZududeViewControllerNone);
    if (loginCompletion) {
        loginCompletion_ = std::move(loginCompletion);
    }
    std::shared_ptr<platform::ViewController> page;
    if (isPresent) {
        page = service->makeOauthScreen(platformName(), RZUsageCode::kPlatformLogin);
        if (page) {
            service->presentScreen(page, controller);
        }
    } else {
        RAZududeOpAnalytics::postSocialAnalyticsFromSourceOpType(
            RZUsageCode::kOauthScreen, RZUsageCode::kPlatformLogin, platformName());
        page = service->getSocialViewController(kRAZududeViewControllerOauth, platformName());
        if (page && !service->pushScreen(page, controller)) {
            page = nullptr;
            platform::consoleLog("the OAuth page needs a navigation controller to be pushed on");
        }
    }
    if (!page) {
        platform::consoleLog("no OAuth page for %@: the login stops here", platformName());
        loginCompletion_ = nullptr;
        handBack(service);
    }
}

void RAZududeSnsPlatformInternal::didFinishGetRAZududeDataInViewController(
    const RAZududeResponsePtr& response) {
    if (response && response->viewControllerType() == kRAZududeViewControllerShareEdit) {
        rz_ui_delegate::didFinishGetRAZududeDataInViewController(socialUIDelegate_, response);
        return;
    }
    std::weak_ptr<RAZududeSnsPlatformInternal> weakThis = weakSelf();
    std::uint64_t generation = loginGeneration_;
    platform::MainLoop::main().after(kLoginCompletionDelay, [weakThis, generation, response] {
        auto self = weakThis.lock();
        if (self && self->loginGeneration_ == generation) {
            self->performLoginCompletion(response);
        }
    });
}

void RAZududeSnsPlatformInternal::performLoginCompletion(const RAZududeResponsePtr& response) {
    if (!loginCompletion_) {
        return;
    }
    auto completion = std::move(loginCompletion_);
    loginCompletion_ = nullptr;
    platform::runGuarded("a login completion", [&] { completion(response); });
}

void RAZududeSnsPlatformInternal::didCloseUIViewController(int viewControllerType) {
    rz_ui_delegate::didCloseUIViewController(socialUIDelegate_, viewControllerType);
}

std::optional<bool> RAZududeSnsPlatformInternal::closeOauthWebViewController(
    const std::shared_ptr<platform::NavigationController>& navigationController,
    const std::shared_ptr<RAZududeScreenHost>& service) {
    if (auto answer = rz_ui_delegate::closeOauthWebViewController(socialUIDelegate_,
                                                                  navigationController, service)) {
        return answer;
    }
    if (shareStatus_ != "1" || !service) {
        return false;
    }
    RAZududeOpAnalytics::postSocialAnalyticsFromSourceOpType(
        RZUsageCode::kShareEditScreen, RZUsageCode::kOauthScreen, platformName());
    auto editor = service->getSocialViewController(kRAZududeViewControllerShareEdit,
                                                   service->currentSnsPlatformName());
    if (!editor || !navigationController) {
        // Nothing to take over with: the page closes as it would without a share, and the
        // login's own completion still ends the flow and gives the app its delegate back.
        platform::consoleLog("no share editor for %@ after the login", platformName());
        return false;
    }
    loginCompletion_ = nullptr;
    shareStatus_ = std::string("0");
    service->pushScreenOn(navigationController, editor);
    return true;
}
