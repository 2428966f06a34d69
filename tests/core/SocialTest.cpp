#include "tests/core/SocialTest.h"

#include <mutex>

#include "SocialSDK/core/account/RAZududeAccountManager.h"
#include "SocialSDK/core/config/RAZududeConfig.h"
#include "SocialSDK/core/handler/RAZududeSnsHandler.h"
#include "SocialSDK/core/manager/RZSUserManager.h"
#include "SocialSDK/core/platform/RAZududeSnsPlatformInternal.h"
#include "SocialSDK/core/platform/RAZududeSnsPlatformManager.h"
#include "SocialSDK/ui/controller/RAZududeControllerService.h"
#include "SocialSDK/ui/service/RAZududeSnsService.h"
#include "SocialSDK/ui/startup/SocialUI.h"
#include "platform/ui/NavigationController.h"
#include "share_handlers/RAZududeQQHandler.h"
#include "share_handlers/RAZududeSinaSSOHandler.h"
#include "share_handlers/RAZududeWechatHandler.h"
#include "share_handlers/ShareHandlers.h"

namespace social_test {

// The screens install what the core asks of them as the test program starts, as an app's start-up
// does; before any test, and again in each process a death test starts.
[[maybe_unused]] const bool kSocialUIInstalled = (installSocialUI(), true);

void setUpHandlers() {
    static std::once_flag once;
    std::call_once(once, [] {
        registerShareHandlers();
        RAZududeWechatHandler::setWXAppId(kWechatAppId, "wx-secret", "https://example.org/s");
        RAZududeQQHandler::setQQWithAppId(kQQAppId, "qq-key", "https://example.org/s");
        RAZududeSinaSSOHandler::setSinaSSOWithAppKey(kSinaAppKey, "sina-secret",
                                                     "https://example.org/sina");
    });
}

RequestPeer::RequestPeer(Answer answerWith) : answer(std::move(answerWith)) {
    previous_ = RZSDataManager::setRequestSenderForTesting([this](RZSRequest request) {
        requests.push_back(request);
        if (!answer || !request.parameters.completion) {
            return;
        }
        if (auto reply = answer(request)) {
            request.parameters.completion(reply);
        }
    });
}

RequestPeer::~RequestPeer() {
    RZSDataManager::setRequestSenderForTesting(std::move(previous_));
}

std::vector<RZSRequest> RequestPeer::ofKind(int kind) const {
    std::vector<RZSRequest> found;
    for (const auto& r : requests) {
        if (r.kind == kind) {
            found.push_back(r);
        }
    }
    return found;
}

RAZududeResponsePtr response(int code, std::optional<platform::Map> data) {
    auto reply = makeRAZududeResponse(code);
    reply->setData(std::move(data));
    return reply;
}

ScreenMaker::ScreenMaker(RAZududeViewControllerType viewType) : viewType_(viewType) {
    previous_ = RZSViewControllerFactory::sharedInstance().setMaker(
        viewType,
        [this, viewType](int platformType, const std::shared_ptr<RAZududeControllerService>&) {
            auto screen = std::make_shared<StandInScreen>(viewType, platformType);
            made.push_back(screen);
            return screen;
        });
}

ScreenMaker::~ScreenMaker() {
    RZSViewControllerFactory::sharedInstance().setMaker(viewType_, std::move(previous_));
}

NoScreen::NoScreen(RAZududeViewControllerType viewType)
    : viewType_(viewType),
      previous_(RZSViewControllerFactory::sharedInstance().setMaker(viewType, {})) {}

NoScreen::~NoScreen() {
    RZSViewControllerFactory::sharedInstance().setMaker(viewType_, std::move(previous_));
}

SocialTest::SocialTest() {
    setUpHandlers();
    userState_.emplace();
    configState_.emplace();
    configInternalState_.emplace();
    resetShareState();
}

void SocialTest::TearDown() {
    ui_test::UiTest::TearDown();
    resetFlowState();
}

void SocialTest::resetShareState() {
    resetFlowState();
    RZSUserManager::shareInstance().setSnsAccountDictionary({});
    auto& config = RAZududeConfigInternal::shareInstance();
    config.setShowSnsPlatforms(std::vector<std::string>{});
    config.setHiddenSnsPlatforms(std::vector<std::string>{});
}

void SocialTest::resetFlowState() {
    RAZududeSnsHandler::shareInstance().setCurrentSnsHandler({});
    for (const auto& [name, platform] :
         RAZududeSnsPlatformManager::sharedInstance().allSnsPlatformDictionary()) {
        auto companion = platform->platformInternal();
        companion->setSocialUIDelegate(nullptr);
        companion->setLoginCompletion(nullptr);
        companion->setShareStatus("0");
        companion->setIsHidden(false);
    }
    RAZududeControllerService::defaultControllerService()->setSocialUIDelegate({});
}

void SocialTest::showAppScreen(bool navigationBarHidden) {
    window_ = keyWindow();
    screen_ = std::make_shared<platform::ViewController>();
    navigation_ = std::make_shared<platform::NavigationController>(screen_);
    navigation_->setNavigationBarHidden(navigationBarHidden);
    window_->setRootViewController(navigation_);
    drain();
}

bool SocialTest::presentOverAppScreen(const std::shared_ptr<platform::ViewController>& container) {
    if (!container) {
        return false;
    }
    screen_->presentViewController(container, false);
    drain();
    window_->update();
    return true;
}

void authorise(const std::string& platformName) {
    auto account = std::make_shared<RAZududeAccountEntity>(platformName);
    account->setUsid("uid-" + platformName);
    account->setAccessToken("token-" + platformName);
    RAZududeAccountManager::setSnsAccount(account);
}

}  // namespace social_test
