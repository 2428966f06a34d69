#include "share_handlers/RAZududeSinaSSOHandler.h"

#include <charconv>

#include "RZBase_Source/Encode/RAZududeUtils.h"
#include "SocialSDK/core/account/RAZududeAccountEntity.h"
#include "SocialSDK/core/config/RAZududeConfig.h"
#include "SocialSDK/core/handler/RAZududeSnsHandler.h"
#include "SocialSDK/core/manager/RZSUserManager.h"
#include "SocialSDK/core/platform/RAZududeSnsPlatformInternal.h"
#include "SocialSDK/core/platform/RAZududeSnsPlatformManager.h"
#include "SocialSDK/core/platform/RAZududeSnsPlatformNames.h"
#include "platform/Format.h"
#include "platform/NoDestructor.h"
#include "platform/ui/Application.h"
#include "share_handlers/HandlerPlatforms.h"

namespace {

RAZududeResponsePtr loginResponse(int code, const char* message) {
    auto response = makeRAZududeResponse(code, message);
    response->setResponseType(kRAZududeResponseTypeOauth);
    response->setViewControllerType(kRAZududeViewControllerOauth);
    return response;
}

}  // namespace

RAZududeSinaSSOHandler::RAZududeSinaSSOHandler()
    : PlatformAppHandler("weibo", "sina_not_installed", "你还没有安装微博，无法登录新浪微博") {}

std::shared_ptr<RAZududeSinaSSOHandler> RAZududeSinaSSOHandler::shareInstance() {
    static platform::NoDestructor<std::shared_ptr<RAZududeSinaSSOHandler>> instance(
        std::make_shared<RAZududeSinaSSOHandler>());
    return *instance;
}

void RAZududeSinaSSOHandler::setSinaSSOWithAppKey(std::string appKey,
                                                  std::optional<std::string> appSecret,
                                                  std::optional<std::string> redirectUrl) {
    auto self = shareInstance();
    self->appkey_ = std::move(appKey);
    self->appSecret_ = std::move(appSecret);
    self->redirectUrl_ = std::move(redirectUrl);

    auto sina = makeHandlerPlatform(RZShareToSina, kRAZududeSnsPlatformSina, "sina", "新浪微博",
                                    "RZS_sina");
    sina->setNeedLogin(true);
    sina->setHaveWebViewAuth(true);
    sina->setOauthBaseURLString("share/auth");
    sina->setOauthCallBackPath("/sina2/main");
    RAZududeSnsPlatformManager::installClickHandler(sina);
    RAZududeSnsPlatformManager::installLoginHandler(sina);
    RAZududeConfig::addSocialSnsPlatform({sina});

    const auto& registry = RAZududeSnsPlatformManager::sharedInstance().allSnsPlatformDictionary();
    if (auto it = registry.find(RZShareToSina); it != registry.end() && it->second) {
        it->second->platformInternal()->setSocialLoginDelegate(
            std::weak_ptr<RAZududeSinaSSOHandler>(self));
    }
    RAZududeSnsHandler::shareInstance().setSinaType(1);
}

void RAZududeSinaSSOHandler::loginWithController(const std::shared_ptr<platform::ViewController>&,
                                                 RAZududeResponseCompletion completion,
                                                 const std::string&) {
    if (!appInstalled()) {
        showNotInstalledNotice();
        if (completion) {
            completion(loginResponse(kNotInstalledCode, kNotInstalledMessage));
        }
        return;
    }
    pendingLogin_ = std::move(completion);
    RAZududeSnsHandler::shareInstance().setCurrentSnsHandler(weak_from_this());
    platform::Application::shared().openUrl(platform::format(
        "%@://login?from=%@", appScheme(), RAZududeUtils::urlEncode(returnScheme())));
}

bool RAZududeSinaSSOHandler::handleReply(const std::string& kind,
                                         const std::map<std::string, std::string>& query) {
    if (kind != "login" || !pendingLogin_) {
        return false;
    }
    auto completion = std::move(pendingLogin_);
    pendingLogin_ = nullptr;
    auto result = query.find("result");
    auto uid = query.find("uid");
    if (result == query.end() || result->second != "ok" || uid == query.end()) {
        bool cancelled = result != query.end() && result->second == "cancel";
        completion(cancelled ? loginResponse(kRAZududeResponseCancel, "user cancel the operation")
                             : loginResponse(kRAZududeResponseLoginFailed, "login failed."));
        return true;
    }
    auto account = std::make_shared<RAZududeAccountEntity>(RZShareToSina);
    account->setUsid(uid->second);
    if (auto token = query.find("token"); token != query.end()) {
        account->setAccessToken(token->second);
    }
    if (auto expires = query.find("expires_in"); expires != query.end()) {
        long seconds = 0;
        const auto& text = expires->second;
        auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), seconds);
        if (error == std::errc() && end == text.data() + text.size()) {
            account->setExpirationDate(platform::Date::now().addingTimeInterval(double(seconds)));
        }
    }
    account->setAppId(appkey_);
    RAZududeSnsHandler::shareInstance().upLoadSnsAccount(account, std::move(completion));
    return true;
}

bool RAZududeSinaSSOHandler::unOauth(RAZududeResponseCompletion completion) {
    auto& users = RZSUserManager::shareInstance();
    RAZududeAccountDictionary accounts = users.snsAccountDictionary();
    auto it = accounts.find(RZShareToSina);
    if (it == accounts.end()) {
        if (completion) {
            completion(makeRAZududeResponse(kRAZududeResponseLoginFailed));
        }
        return true;
    }
    // The Weibo application keeps no session of ours on this machine to log out of.
    accounts.erase(it);
    users.setSnsAccountDictionary(std::move(accounts));
    if (completion) {
        completion(makeRAZududeResponse(kRAZududeResponseSuccess));
    }
    return true;
}
