#include "share_handlers/PlatformAppHandler.h"

#include <algorithm>

#include "RZBase_Source/Encode/RAZududeUtils.h"
#include "SocialSDK/core/config/RAZududeConfig.h"
#include "SocialSDK/core/config/RAZududeLocalizable.h"
#include "SocialSDK/core/data/RAZududeData.h"
#include "SocialSDK/core/handler/RAZududeSnsHandler.h"
#include "SocialSDK/core/manager/RZSDataManager.h"
#include "SocialSDK/core/screen/RAZududeScreenHost.h"
#include "platform/Format.h"
#include "platform/Text.h"
#include "platform/ui/Alert.h"
#include "platform/ui/Application.h"

namespace {

// "+" is a space in a form query; a malformed escape stays as it was written.
std::string decodeQueryPart(std::string_view part) {
    std::string spaced(part);
    std::replace(spaced.begin(), spaced.end(), '+', ' ');
    return platform::percentDecode(spaced);
}

}  // namespace

PlatformAppHandler::PlatformAppHandler(std::string appScheme, std::string noticeKey,
                                       std::string noticeText)
    : appScheme_(std::move(appScheme)),
      noticeKey_(std::move(noticeKey)),
      noticeText_(std::move(noticeText)) {}

std::map<std::string, std::string> PlatformAppHandler::queryItems(const platform::Url& url) {
    std::map<std::string, std::string> items;
    if (!url.query()) {
        return items;
    }
    std::string_view query = *url.query();
    while (!query.empty()) {
        auto amp = query.find('&');
        std::string_view pair = query.substr(0, amp);
        query = amp == std::string_view::npos ? std::string_view() : query.substr(amp + 1);
        if (pair.empty()) {
            continue;
        }
        auto eq = pair.find('=');
        std::string key = decodeQueryPart(pair.substr(0, eq));
        std::string value =
            eq == std::string_view::npos ? std::string() : decodeQueryPart(pair.substr(eq + 1));
        items.insert_or_assign(std::move(key), std::move(value));
    }
    return items;
}

bool PlatformAppHandler::appInstalled() const {
    return platform::Application::shared().canOpenUrl(appScheme_ + "://");
}

bool PlatformAppHandler::isClientInstall(const std::string&) {
    return appInstalled();
}

bool PlatformAppHandler::checkUrlSchema() {
    std::string scheme = returnScheme();
    return !scheme.empty() && RAZududeSnsHandler::searchForURLSchemeWithPrefix(scheme);
}

void PlatformAppHandler::showNotInstalledNotice() const {
    platform::AlertView::make(RAZududeLocalizedString("share_app_not_installed_title", "无法分享"),
                              RAZududeLocalizedString(noticeKey_, noticeText_), {},
                              RAZududeLocalizedString("button_ok", "好"))
        ->show();
}

void PlatformAppHandler::shareThroughApp(const std::string& platformName,
                                         const std::shared_ptr<RAZududeScreenHost>& service) {
    auto delegate = service ? service->socialUIDelegate() : nullptr;
    if (!appInstalled()) {
        showNotInstalledNotice();
        RAZududeSnsHandler::handleUIDelegate(delegate, platformName, kNotInstalledCode,
                                             kNotInstalledMessage, std::nullopt, {});
        return;
    }
    auto data = service ? service->socialData() : RAZududeData::defaultData();
    auto bar = RZSDataManager::currentDataManager()->barEntity();
    std::optional<std::string> text = bar->shareText(platformName);
    if (!text && data) {
        text = data->shareText();
    }
    std::string url = platform::format("%@://share?from=%@&platform=%@", appScheme_,
                                       RAZududeUtils::urlEncode(returnScheme()),
                                       RAZududeUtils::urlEncode(platformName));
    if (text) {
        url += "&text=" + RAZududeUtils::urlEncode(*text);
    }
    auto resource = bar->urlResource(platformName);
    if ((!resource || !resource->url()) && data) {
        resource = data->urlResource();
    }
    if (resource && resource->url()) {
        url += "&url=" + RAZududeUtils::urlEncode(*resource->url());
    }
    pending_ = PendingShare{platformName, service, text};
    RAZududeSnsHandler::shareInstance().setCurrentSnsHandler(weak_from_this());
    platform::Application::shared().openUrl(url);
}

bool PlatformAppHandler::handleOpenURL(const platform::Url& url) {
    std::string scheme = returnScheme();
    if (scheme.empty() ||
        platform::text::toLower(url.scheme()) != platform::text::toLower(scheme)) {
        return false;
    }
    std::string kind = url.lastPathComponent();
    auto query = queryItems(url);
    if (kind != "share") {
        return handleReply(kind, query);
    }
    if (!pending_) {
        return false;
    }
    PendingShare share = std::move(*pending_);
    pending_.reset();
    const std::string& result = query["result"];
    int code = result == "ok"       ? kRAZududeResponseSuccess
               : result == "cancel" ? kRAZududeResponseCancel
                                    : kRAZududeResponseLoginFailed;
    std::optional<std::string> message = result == "ok"       ? "no error"
                                         : result == "cancel" ? "user cancel the operation"
                                                              : "share failed.";
    platform::Map context;
    for (const auto& [key, value] : query) {
        context.append(key, value);
    }
    auto service = share.service.lock();
    RAZududeSnsHandler::handleUIDelegate(service ? service->socialUIDelegate() : nullptr,
                                         share.platformName, code, std::move(message), std::nullopt,
                                         platform::Value(std::move(context)));
    if (code == kRAZududeResponseSuccess &&
        RAZududeConfig::shareInstance().statisticsAfterShareEventReturned()) {
        RAZududeSnsHandler::postOpWithText(share.text, share.platformName);
    }
    return true;
}
