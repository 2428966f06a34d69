#include "SocialSDK/ui/oauth/RZSOauthViewController.h"

#include <algorithm>
#include <cmath>
#include <exception>
#include <limits>

#include "RZBase_Source/Encode/RAZududeCryptor.h"
#include "RZBase_Source/Encode/RAZududeUtils.h"
#include "SocialSDK/core/account/RAZududeAccountEntity.h"
#include "SocialSDK/core/config/RAZududeConfig.h"
#include "SocialSDK/core/config/RAZududeLocalizable.h"
#include "SocialSDK/core/manager/RAZududeDataService.h"
#include "SocialSDK/core/manager/RZSUserManager.h"
#include "SocialSDK/core/platform/RAZududeSnsPlatform.h"
#include "SocialSDK/core/platform/RAZududeSnsPlatformManager.h"
#include "SocialSDK/core/protocol/RAZududeHttpClient.h"
#include "SocialSDK/core/protocol/RAZududeJobFactory.h"
#include "SocialSDK/ui/controller/RAZududeControllerService.h"
#include "SocialSDK/ui/helper/RAZududeUIHelper.h"
#include "SocialSDK/ui/helper/RZMaskView.h"
#include "platform/Device.h"
#include "platform/Format.h"
#include "platform/MainLoop.h"
#include "platform/Text.h"
#include "platform/ThreadCheck.h"
#include "platform/UserDefaults.h"
#include "platform/graphics/Image.h"
#include "platform/net/CookieJar.h"
#include "platform/ui/Application.h"
#include "platform/ui/Button.h"
#include "platform/ui/ImageView.h"
#include "platform/ui/Label.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/Screen.h"
#include "platform/ui/Window.h"

namespace {

constexpr const char* kFollowBarImage =
    "RAZududeSDKResourcesNew.bundle/Buttons/RZS_comment_bar_background";
constexpr const char* kFollowOnImage = "RAZududeSDKResourcesNew.bundle/Buttons/RZS_add_friend_on";
constexpr const char* kFollowOffImage = "RAZududeSDKResourcesNew.bundle/Buttons/RZS_add_friend_off";
constexpr const char* kCipherQueryPrefix = "ud_get=";

int effectivePort(const platform::Url& url) {
    if (url.port()) {
        return *url.port();
    }
    return platform::text::toLower(url.scheme()) == "https" ? 443 : 80;
}

}  // namespace

RZSOauthViewController::PlatformPages& RZSOauthViewController::platformPages() {
    static auto* pages = new PlatformPages();
    return *pages;
}

RZSOauthViewController::RZSOauthViewController() = default;

RZSOauthViewController::~RZSOauthViewController() {
    if (webView_) {
        webView_->stopLoading();
    }
}

std::weak_ptr<RZSOauthViewController> RZSOauthViewController::weakSelf() {
    return std::static_pointer_cast<RZSOauthViewController>(shared_from_this());
}

std::string RZSOauthViewController::platformName() const {
    return socialControllerService_
               ? socialControllerService_->currentSnsPlatformName().value_or(std::string())
               : std::string();
}

bool RZSOauthViewController::isFirstScreen() const {
    auto* navigation = navigationController();
    return !navigation || navigation->viewControllers().empty() ||
           navigation->viewControllers().front().get() == this;
}

// ---- set-up ------------------------------------------------------------------------------

void RZSOauthViewController::viewDidLoad() {
    RZ_CHECK_MAIN_THREAD();
    if (isFirstScreen()) {
        showCloseButton();
    } else {
        showBackButton();
    }
    haveOauth_ = false;
    isAddFollow_ = true;
    setTitle(RAZududeLocalizedString("oauth_title", "授权"));
    followUsid_.reset();

    const std::string name = platformName();
    followBarHeight_ = 0;
    if (name == "sina" || name == "tencent") {
        const auto& uids = RAZududeConfigInternal::shareInstance().followSnsUids();
        if (const platform::Value* uid = uids ? uids->find(name) : nullptr; uid && !uid->isNull()) {
            followUsid_ = uid->stringValue();
            followBarHeight_ = kFollowBarHeight;
        }
    }

    // The page sits under the container's bar: its height is the application frame's (the
    // screen less the status bar) less the bar, whose height depends on the orientation. The
    // platform's bounds already turn with the interface, in every system version.
    auto& root = *view();
    platform::Rect frame;
    if (platform::currentDevice().isPad()) {
        auto* navigation = navigationController();
        auto* holder =
            navigation && navigation->isViewLoaded() ? navigation->view()->superview() : nullptr;
        frame = holder ? holder->bounds() : root.bounds();
    } else {
        platform::Size size = platform::Screen::main().applicationFrame().size;
        size.height -= platform::isLandscape(interfaceOrientation()) ? 30 : 44;
        // The page is laid out at the size the container gives it, so that the follow bar
        // stays at its bottom edge.
        root.setFrame({0, 0, size.width, size.height});
        frame = platform::Rect(0, 0, size.width, size.height - followBarHeight_);
    }
    webView_ = std::make_shared<platform::WebView>(frame);
    webView_->setAutoresizingMask(platform::kFlexibleLeftMargin | platform::kFlexibleWidth |
                                  platform::kFlexibleRightMargin);
    webView_->setDelegate(selfAs<platform::WebViewDelegate>());
    root.addSubview(webView_);

    makeAddFollowView();
    styleNavigationBar();

    auto* navigation = navigationController();
    platform::Rect maskFrame =
        navigation && navigation->isViewLoaded() ? navigation->view()->frame() : root.bounds();
    maskView_ = std::make_shared<RZMaskView>(maskFrame);
    maskView_->setBackgroundColor(platform::Color::white());
    webView_->addSubview(maskView_);
    maskView_->setIsActivity(true);

    if (RZSUserManager::isUidAvailable(RZSUserManager::shareInstance().uid())) {
        loadLoginPage();
    } else {
        std::weak_ptr<RZSOauthViewController> weakThis = weakSelf();
        RAZududeDataService::defaultDataService()->requestSocialDataWithCompletionInternal(
            [weakThis](const RAZududeResponsePtr&) {
                if (auto self = weakThis.lock()) {
                    self->loadLoginPage();
                }
            });
    }

    if (name == "renren") {
        auto& jar = platform::CookieJar::shared();
        auto cookies = jar.cookies();
        RAZududeUtils::outLog([&] {
            std::string text;
            for (const auto& cookie : cookies) {
                text += platform::format("%@=%@ (%@) ", cookie.name, cookie.value, cookie.domain);
            }
            return platform::format("cookies is %@", text);
        });
        const auto& domains = platformPages().renrenCookieDomains;
        for (const auto& cookie : cookies) {
            if (std::find(domains.begin(), domains.end(), cookie.domain) != domains.end()) {
                jar.deleteCookie(cookie);
            }
        }
    }

    if (const auto& delegate = platform::Application::shared().delegate()) {
        if (auto window = delegate->window()) {
            window->makeKeyAndVisible();
        }
    }
}

void RZSOauthViewController::loadLoginPage() {
    if (!webView_) {
        return;
    }
    RZSJobParameters params;
    params.values.set("displayName", platformName());
    auto job =
        RAZududeJobFactory::sharedInstance().createSocialJob(kRAZududeResponseTypeOauth, params);
    const auto& base = RAZududeHttpClient::sharedInstance()->baseURL();
    std::optional<std::string> address;
    if (job && job->pathString()) {
        address = job->encryPathString(platform::format(
            "%@%@", base ? base->absoluteString() : std::string(), *job->pathString()));
    }
    auto url = address ? platform::Url::parse(*address) : std::nullopt;
    if (!url) {
        // Without an AppKey nothing can be enciphered: the user learns that the page cannot
        // come, and the alert's button closes the flow.
        RAZududeUtils::outLog("the login page cannot be loaded: no AppKey or no base URL");
        maskView_->setIsActivity(false);
        showAlert("network_fail_title", "温馨提示", "network_fail_message", "网络不给力", true);
        return;
    }
    webView_->loadRequest(platform::UrlRequest(*url));
}

void RZSOauthViewController::styleNavigationBar() {
    RAZududeUIHelper::customNavigationItem(navigationItem());
    if (const auto& config = RAZududeConfigInternal::shareInstance().navigationbarConfig()) {
        auto* navigation = navigationController();
        config(navigation ? &navigation->navigationBar() : nullptr, nullptr, nullptr, nullptr,
               nullptr, &navigationItem());
    }
}

void RZSOauthViewController::showCloseButton() {
    if (socialControllerService_) {
        socialControllerService_->addCloseButton(shared_from_this());
    }
}

void RZSOauthViewController::showBackButton() {
    auto button = platform::Button::withType(platform::ButtonType::kCustom);
    std::string title = RAZududeLocalizedString("button_back", "返回");
    button->setTitle(title);
    RAZududeUIHelper::customNavBackButton(*button, title);
    if (const auto& config = RAZududeConfigInternal::shareInstance().navigationbarConfig()) {
        auto* navigation = navigationController();
        config(navigation ? &navigation->navigationBar() : nullptr, nullptr, button.get(), nullptr,
               nullptr, nullptr);
    }
    std::weak_ptr<RZSOauthViewController> weakThis = weakSelf();
    button->addTarget(
        [weakThis](platform::Control&) {
            if (auto self = weakThis.lock()) {
                self->closeDirectly();
            }
        },
        platform::kControlEventTouchUpInside);
    navigationItem().setLeftBarButtonItem(
        std::make_shared<platform::BarButtonItem>(std::move(button)));
}

void RZSOauthViewController::makeAddFollowView() {
    isAddFollow_ = true;
    if (!followUsid_ || !webView_) {
        return;
    }
    platform::Rect page = webView_->frame();
    auto bar = std::make_shared<platform::ImageView>(
        platform::Rect(0, page.maxY(), page.width(), kFollowBarHeight));
    bar->setImage(platform::Image::named(kFollowBarImage));
    bar->setUserInteractionEnabled(true);
    bar->setAutoresizingMask(platform::kFlexibleLeftMargin | platform::kFlexibleRightMargin |
                             platform::kFlexibleTopMargin | platform::kFlexibleBottomMargin |
                             platform::kFlexibleWidth);
    view()->addSubview(bar);

    auto check = platform::Button::withType(platform::ButtonType::kCustom);
    check->setFrame({0, 0, 40, 38});
    check->setImage(platform::Image::named(kFollowOnImage));
    std::weak_ptr<RZSOauthViewController> weakThis = weakSelf();
    check->addTarget(
        [weakThis](platform::Control&) {
            if (auto self = weakThis.lock()) {
                self->addFollow();
            }
        },
        platform::kControlEventTouchUpInside);
    check->setCenter({check->center().x + 20, kFollowBarHeight / 2 + 5});
    bar->addSubview(check);

    platform::Rect box = check->frame();
    auto label =
        std::make_shared<platform::Label>(platform::Rect(box.minX() + 40, box.minY(), 200, 38));
    label->setText(RAZududeLocalizedString("oauth_follow", "关注官方微博"));
    label->setTextColor(platform::Color::gray(2.0 / 3));
    label->setBackgroundColor(platform::Color::clear());
    bar->addSubview(label);

    followView_ = bar;
    addFollowCheckButton_ = check;
}

void RZSOauthViewController::addFollow() {
    isAddFollow_ = !isAddFollow_;
    if (auto check = addFollowCheckButton()) {
        check->setImage(platform::Image::named(isAddFollow_ ? kFollowOnImage : kFollowOffImage));
    }
}

// ---- watching the navigations ------------------------------------------------------------

bool RZSOauthViewController::isCallback(const platform::Url& url) const {
    auto platform = RAZududeSnsPlatformManager::getSocialPlatformWithName(platformName());
    if (!platform || platform->oauthCallBackPath().empty() ||
        url.path() != platform->oauthCallBackPath()) {
        return false;
    }
    // Only the share service hands out tokens: a page elsewhere that sends the browser to a
    // path of the same name must not plant an account.
    const auto& base = RAZududeHttpClient::sharedInstance()->baseURL();
    return base && platform::text::toLower(base->host()) == platform::text::toLower(url.host()) &&
           effectivePort(*base) == effectivePort(url);
}

bool RZSOauthViewController::webViewShouldStartLoadWithRequest(platform::WebView&,
                                                               const platform::UrlRequest& request,
                                                               platform::WebNavigationType type) {
    RZ_CHECK_MAIN_THREAD();
    if (maskView_) {
        maskView_->setIsActivity(true);
    }
    const platform::Url& url = request.url();
    if (isCallback(url)) {
        std::string query = url.query().value_or(std::string());
        if (std::size_t at = query.find(kCipherQueryPrefix); at != std::string::npos) {
            std::string cipher = platform::percentDecode(
                std::string_view(query).substr(at + std::string_view(kCipherQueryPrefix).size()));
            query = RAZududeCryptor::sharedInstance().AES128Decrypt(cipher).value_or(std::string());
        }
        platform::Map values = parseUrl(query);
        platform::Application::shared().setNetworkActivityIndicatorVisible(false);
        saveOauthInfoObjects(values);
        if (values.contains("uid")) {
            handleOauth(true);
            return false;
        }
        return true;
    }
    if (type == platform::WebNavigationType::kLinkClicked ||
        platform::text::toLower(url.host()) ==
            platform::text::toLower(platformPages().weiboMobileWebHost)) {
        if (maskView_) {
            maskView_->setIsActivity(false);
        }
    }
    return true;
}

platform::Map RZSOauthViewController::parseUrl(const std::string& query) {
    platform::Map values;
    std::size_t start = 0;
    while (start <= query.size()) {
        std::size_t end = query.find('&', start);
        if (end == std::string::npos) {
            end = query.size();
        }
        std::string_view pair(query.data() + start, end - start);
        if (std::size_t equals = pair.find('='); equals != std::string_view::npos) {
            std::string_view value = pair.substr(equals + 1);
            while (!value.empty() && value.back() == '\0') {
                value.remove_suffix(1);
            }
            values.set(pair.substr(0, equals), std::string(value));
        }
        start = end + 1;
    }
    return values;
}

void RZSOauthViewController::saveOauthInfoObjects(const platform::Map& values) {
    const platform::Value* uid = values.find("uid");
    if (!uid || uid->stringValue().empty()) {
        RAZududeUtils::outLog("a login callback without uid: the stored account stays");
        return;
    }
    const std::string name = platformName();
    auto& users = RZSUserManager::shareInstance();
    auto accounts = users.snsAccountDictionary();
    auto& entry = accounts[name];
    if (!entry) {
        entry = std::make_shared<RAZududeAccountEntity>(name);
    }
    entry->setAccessToken(values["access_key"].stringValue());
    entry->setUsid(uid->stringValue());
    if (const platform::Value* expiresIn = values.find("expires_in")) {
        // Whole seconds, held as a 64-bit count: a token that lives past 2038 keeps its date.
        const double now = std::floor(platform::Date::now().timeIntervalSince1970());
        const double limit = static_cast<double>(std::numeric_limits<std::int64_t>::max());
        entry->setExpirationDate(
            platform::Date(std::min(now + static_cast<double>(expiresIn->integerValue()), limit)));
    } else {
        entry->setExpirationDate(std::nullopt);
    }
    RAZududeUtils::outLog([&] {
        return platform::format(
            "new snsAccount expiration is %@",
            entry->expirationDate()
                ? platform::format("%lld", static_cast<long long>(
                                               entry->expirationDate()->timeIntervalSince1970()))
                : std::string("(null)"));
    });
    users.setSnsAccountDictionary(std::move(accounts));
    users.forgetFriendsOfSnsName(name);
}

// ---- after the callback ------------------------------------------------------------------

void RZSOauthViewController::handleOauth(bool success) {
    haveOauth_ = true;
    auto response =
        makeRAZududeResponse(success ? kRAZududeResponseSuccess : kRAZududeResponseNoUidAfterOauth,
                             success ? "no error" : "havent't get uid after oauth");
    response->setResponseType(kRAZududeResponseTypeOauth);
    if (success && followUsid_ && isAddFollow_) {
        const std::string name = platformName();
        if (auto data = socialControllerService_ ? socialControllerService_->socialDataService()
                                                 : nullptr) {
            data->requestAddFollowInternal(
                name, {*followUsid_}, [name](const RAZududeResponsePtr&) {
                    platform::UserDefaults::standardUserDefaults().setBool(
                        true, platform::format("RAZudude_Follow_%@", name));
                });
        }
    }
    response->setData(platform::Map{});
    handleFinishOauth(response);
}

void RZSOauthViewController::handleFinishOauth(const RAZududeResponsePtr& response) {
    RAZududeUtils::outLog([&] {
        return platform::format("finishOauthInSDKWithResponse response is %@",
                                response->description());
    });
    if (!socialControllerService_ || !socialControllerService_->socialDataService()) {
        return;
    }
    std::weak_ptr<RZSOauthViewController> weakThis = weakSelf();
    socialControllerService_->socialDataService()->requestSocialAccountWithCompletionInternal(
        [weakThis, response](const RAZududeResponsePtr& account) {
            auto self = weakThis.lock();
            if (!self || !account || account->responseCode() == kRAZududeResponseCancel) {
                return;
            }
            if (account->responseCode() != kRAZududeResponseSuccess) {
                self->showAlert("oauth_error_title", "授权失败", "oauth_error_message",
                                "服务器繁忙，授权失败，请稍后再试", true);
                return;
            }
            try {
                const std::string name = self->platformName();
                const platform::Value* entry = nullptr;
                if (account->data()) {
                    if (const platform::Value* accounts = account->data()->find("accounts")) {
                        entry = accounts->map() ? accounts->map()->find(name) : nullptr;
                    }
                }
                if (entry) {
                    response->setData(platform::Map{{name, *entry}});
                } else {
                    response->setResponseCode(kRAZududeResponseAccountFailed);
                    response->setMessage("get user profile data failed!");
                    self->showAlert("oauth_error_title", "授权失败", "oauth_error_not_approved",
                                    "由于没有在开放平台添加此账号作为测试账号或者没有通过审核等原因"
                                    "授权失败",
                                    false);
                }
                auto service = self->socialControllerService_;
                if (service && service->nextViewController() != kRAZududeViewControllerNone) {
                    platform::MainLoop::main().after(kNextScreenDelay, [weakThis, response] {
                        if (auto page = weakThis.lock()) {
                            page->showNextViewController(response);
                        }
                    });
                } else {
                    response->setViewControllerType(kRAZududeViewControllerOauth);
                    self->closeWithResponse(response);
                }
            } catch (const std::exception&) {
                RAZududeUtils::outLog("handleGetAccount exception");
            }
        });
}

void RZSOauthViewController::showNextViewController(const RAZududeResponsePtr& response) {
    auto service = socialControllerService_;
    if (!service) {
        return;
    }
    const int next = service->nextViewController();
    RAZududeUtils::outLog([&] { return platform::format("nextViewType is %d", next); });
    try {
        // The page may have been closed while the accounts came: a screen that is no longer up
        // must not bring the next one up after it.
        auto* navigation = navigationController();
        if (!navigation || !view()->window()) {
            return;
        }
        if (next != kRAZududeViewControllerNone && response &&
            response->responseCode() == kRAZududeResponseSuccess) {
            auto screen = service->getSocialViewController(next, service->currentSnsPlatformName());
            if (screen) {
                navigation->pushViewController(screen, true);
            }
            service->setCurrentNavigationController(
                std::static_pointer_cast<platform::NavigationController>(
                    navigation->shared_from_this()));
        } else {
            service->close();
        }
    } catch (const std::exception&) {
        RAZududeUtils::outLog("show share edit view fail!");
    }
}

// ---- closing -----------------------------------------------------------------------------

void RZSOauthViewController::closeWithResponse(const RAZududeResponsePtr& response) {
    auto service = socialControllerService_;
    auto delegate = service ? service->socialUIDelegate() : nullptr;
    if (delegate) {
        auto* navigation = navigationController();
        auto container = navigation ? std::static_pointer_cast<platform::NavigationController>(
                                          navigation->shared_from_this())
                                    : nullptr;
        if (delegate->closeOauthWebViewController(container, service).value_or(false)) {
            return;
        }
    }
    closeDirectly(response);
}

void RZSOauthViewController::closeDirectly(const RAZududeResponsePtr& response) {
    auto service = socialControllerService_;
    auto* navigation = navigationController();
    if (!navigation || navigation->viewControllers().size() < 2) {
        if (service) {
            service->closeWithResponse(response);
        }
        return;
    }
    auto keep = shared_from_this();
    navigation->popViewControllerAnimated(true);
    rz_ui_delegate::didFinishGetRAZududeDataInViewController(
        service ? service->socialUIDelegate() : nullptr, response);
}

void RZSOauthViewController::closeDirectly() {
    auto service = socialControllerService_;
    auto* navigation = navigationController();
    if (!navigation || navigation->viewControllers().size() < 2) {
        if (service) {
            service->closeWithCancelResponse();
        }
        return;
    }
    auto keep = shared_from_this();
    navigation->popViewControllerAnimated(true);
    if (auto delegate = service ? service->socialUIDelegate() : nullptr) {
        auto response = makeRAZududeResponse(kRAZududeResponseCancel, "user cancel the operation");
        response->setViewControllerType(kRAZududeViewControllerOauth);
        response->setData(platform::Map{{platformName(), ""}});
        rz_ui_delegate::didFinishGetRAZududeDataInViewController(delegate, response);
    }
}

void RZSOauthViewController::closeWithCancel() {
    if (socialControllerService_) {
        socialControllerService_->closeWithCancelResponse();
    }
}

void RZSOauthViewController::closeWithoutDelegate() {
    if (socialControllerService_) {
        socialControllerService_->close();
    }
}

// ---- loads -------------------------------------------------------------------------------

void RZSOauthViewController::webViewDidFailLoadWithError(platform::WebView&,
                                                         const platform::Error& error) {
    RZ_CHECK_MAIN_THREAD();
    std::string failing =
        error.userInfo()[platform::kUrlErrorFailingUrlStringErrorKey].stringValue();
    RAZududeUtils::outLog([&] {
        return platform::format("webView didFailLoadWithError error is %@", error.description());
    });
    if (maskView_) {
        maskView_->setIsActivity(false);
    }
    if (platform::text::containsCaseInsensitive(failing, "mutelogout")) {
        return;
    }
    if (platform::text::containsCaseInsensitive(failing, "sms:")) {
        dismissModalViewControllerAnimated(true);
        std::weak_ptr<RZSOauthViewController> weakThis = weakSelf();
        platform::MainLoop::main().after(kSendSmsDelay, [weakThis, failing] {
            if (auto self = weakThis.lock()) {
                self->sendSMS(failing);
            }
        });
        return;
    }
    if (error.code() != platform::kWebErrorFrameLoadInterrupted &&
        error.code() != platform::kUrlErrorCancelled) {
        RAZududeUtils::outLog([&] {
            return platform::format("didFailLoadWithError !!! error is %@", error.description());
        });
        showAlert("network_fail_title", "温馨提示", "network_fail_message", "网络不给力", true);
    }
    if (error.code() == platform::kWebErrorFrameLoadInterrupted && platformName() == "tencent" &&
        maskView_) {
        maskView_->setIsActivity(true);
    }
}

void RZSOauthViewController::webViewDidStartLoad(platform::WebView&) {
    platform::Application::shared().setNetworkActivityIndicatorVisible(true);
}

void RZSOauthViewController::webViewDidFinishLoad(platform::WebView& webView) {
    RZ_CHECK_MAIN_THREAD();
    RAZududeUtils::outLog([&] {
        return platform::format(
            "oauth webViewDidFinishLoad urlString is %@",
            webView.request() ? webView.request()->url().absoluteString() : std::string("(null)"));
    });
    setInActivity();
    setContentOffset();
    platform::Application::shared().setNetworkActivityIndicatorVisible(false);
}

void RZSOauthViewController::setInActivity() {
    if (maskView_ && maskView_->isActivity()) {
        maskView_->setIsActivity(false);
    }
}

void RZSOauthViewController::setContentOffset() {
    if (!webView_ || !webView_->scrollView()) {
        return;
    }
    const std::string name = platformName();
    std::string loaded = webView_->request() ? webView_->request()->url().absoluteString() : "";
    bool centre = platform::currentDevice().isPad() || name == "sina" ||
                  (name == "tencent" && loaded.rfind(platformPages().qqLoginPagePrefix, 0) == 0);
    if (!centre) {
        return;
    }
    auto& scroll = *webView_->scrollView();
    scroll.setContentOffset({(scroll.contentSize().width - webView_->frame().width()) / 2, 0},
                            true);
}

void RZSOauthViewController::sendSMS(const std::string& url) {
    platform::Application::shared().openUrl(url);
}

void RZSOauthViewController::showAlert(const char* titleKey, const char* titleDefault,
                                       const char* messageKey, const char* messageDefault,
                                       bool pageIsDelegate) {
    std::weak_ptr<platform::AlertViewDelegate> delegate;
    if (pageIsDelegate) {
        delegate = selfAs<platform::AlertViewDelegate>();
    }
    platform::AlertView::make(RAZududeLocalizedString(titleKey, titleDefault),
                              RAZududeLocalizedString(messageKey, messageDefault), delegate,
                              RAZududeLocalizedString("button_ok", "好"))
        ->show();
}

void RZSOauthViewController::alertViewClickedButtonAtIndex(platform::AlertView&, int) {
    RZ_CHECK_MAIN_THREAD();
    closeWithoutDelegate();
}

// ---- life cycle and rotation -------------------------------------------------------------

void RZSOauthViewController::fitToPadBounds(bool webViewGetsExtraWidth) {
    auto* navigation = navigationController();
    auto* holder =
        navigation && navigation->isViewLoaded() ? navigation->view()->superview() : nullptr;
    if (!holder) {
        return;
    }
    if (webViewGetsExtraWidth) {
        const platform::Rect& pad = RAZududeConfigInternal::shareInstance().boundsForiPad();
        if (!pad.isNull()) {
            holder->setBounds(pad);
            if (webView_) {
                webView_->setFrame({0, 0, pad.width() + 20, pad.height()});
            }
        }
    } else if (webView_) {
        webView_->setFrame(holder->bounds());
    }
    if (maskView_) {
        maskView_->setFrame(holder->bounds());
    }
}

void RZSOauthViewController::viewWillAppear(bool animated) {
    ViewController::viewWillAppear(animated);
    auto* navigation = navigationController();
    if (platform::currentDevice().isPad() && navigation &&
        navigation->viewControllers().size() == 1) {
        fitToPadBounds(true);
    }
}

void RZSOauthViewController::viewDidAppear(bool animated) {
    ViewController::viewDidAppear(animated);
    // Back on the page after the login went on without it: the flow is over. Only a return
    // counts: a login finished before the page's first appearance ended goes on.
    if (haveOauth_ && hasAppeared_) {
        closeWithoutDelegate();
    }
    hasAppeared_ = true;
}

void RZSOauthViewController::viewWillDisappear(bool animated) {
    // The bar gets its translucency back when the page leaves, not when the editor is pushed
    // over it after the login: that screen styled the bar opaque already, and under a
    // translucent bar its text would lie hidden.
    auto* navigation = navigationController();
    if (navigation && navigation->topViewController() == this) {
        RAZududeUIHelper::setNavigationBarTranslucent(navigation->navigationBar());
    }
    ViewController::viewWillDisappear(animated);
}

void RZSOauthViewController::viewDidDisappear(bool animated) {
    ViewController::viewDidDisappear(animated);
    platform::Application::shared().setNetworkActivityIndicatorVisible(false);
}

bool RZSOauthViewController::shouldAutorotateToInterfaceOrientation(int orientation) {
    return RAZududeConfigInternal::shareInstance().shouldAutorotateToInterfaceOrientation(
        orientation);
}

void RZSOauthViewController::willRotateToInterfaceOrientation(int, double) {
    if (!platform::currentDevice().isPad()) {
        return;
    }
    fitToPadBounds(false);
    if (auto* navigation = navigationController()) {
        RAZududeUIHelper::customNavBar(navigation->navigationBar());
    }
    styleNavigationBar();
}

void RZSOauthViewController::didRotateFromInterfaceOrientation(int) {
    if (!platform::currentDevice().isPad() && webView_) {
        platform::Rect page = view()->bounds();
        webView_->setFrame({0, 0, page.width(), page.height() - followBarHeight_});
    }
}
