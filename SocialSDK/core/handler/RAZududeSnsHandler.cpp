#include "SocialSDK/core/handler/RAZududeSnsHandler.h"

#include "SocialSDK/core/platform/RAZududeSnsPlatformManager.h"

#include <chrono>
#include <cmath>
#include <condition_variable>
#include <exception>
#include <mutex>

#include "RZBase_Source/Encode/RAZududeUtils.h"
#include "SocialSDK/core/account/RAZududeAccountManager.h"
#include "SocialSDK/core/analytics/RAZududeOpAnalytics.h"
#include "SocialSDK/core/config/RAZududeLocalizable.h"
#include "SocialSDK/core/data/RAZududeData.h"
#include "SocialSDK/core/image/RAZududeImageLoader.h"
#include "SocialSDK/core/manager/RAZududeDataService.h"
#include "SocialSDK/core/manager/RZSDataManager.h"
#include "SocialSDK/core/manager/RZSPersistence.h"
#include "SocialSDK/core/manager/RZSUserManager.h"
#include "SocialSDK/core/platform/RAZududeSnsPlatformNames.h"
#include "SocialSDK/core/screen/RAZududeScreenHooks.h"
#include "SocialSDK/core/screen/RAZududeScreenHost.h"
#include "platform/Bundle.h"
#include "platform/Format.h"
#include "platform/Log.h"
#include "platform/MainLoop.h"
#include "platform/NoDestructor.h"
#include "platform/PropertyList.h"
#include "platform/TaskGuard.h"
#include "platform/Text.h"
#include "platform/ThreadCheck.h"
#include "platform/Utf8.h"

namespace {

void warnMissingUrlScheme() {
    platform::consoleLog(
        "--------------------------------------------------------------------------\n"
        "Single sign-on of the platform needs its URL scheme set in the project's Info "
        "property list (CFBundleURLTypes).\n"
        "--------------------------------------------------------------------------");
}

// The URL types of the app's Info property list; nothing when there is no property list.
std::optional<platform::Array> appUrlTypes() {
    auto path = platform::Bundle::mainBundle().pathForResource("Info", "plist");
    if (!path) {
        return std::nullopt;
    }
    auto info = platform::PropertyList::readFile(*path);
    if (!info || !info->isMap()) {
        return std::nullopt;
    }
    const auto* types = (*info)["CFBundleURLTypes"].array();
    return types ? *types : platform::Array{};
}

// How long a share waits for a remote picture: the loader's own time-out without progress,
// and then some for a picture that arrives slowly.
constexpr auto kRemotePictureWait = 2 * RAZududeImageLoadConnection::kDefaultTimeoutInterval;

// Hears the loader's word on one picture, on the main thread; whoever waits may be elsewhere.
class PictureWait : public RZImageLoaderObserver {
  public:
    unsigned imageLoaderMethods() const override { return kDidLoad | kDidFailToLoad; }
    void imageLoaderDidLoad(const RZImageLoaderNotification& notification) override {
        finish(notification.picture());  // of a download started in GIF mode too
    }
    void imageLoaderDidFailToLoad(const RZImageLoaderNotification&) override { finish(nullptr); }

    bool isDone() const {
        std::lock_guard lock(mutex_);
        return done_;
    }
    // The picture, once the loader spoke within the time; nothing otherwise.
    platform::ImagePtr wait(platform::Seconds timeout) {
        if (platform::MainLoop::main().isMainThread()) {
            platform::MainLoop::main().runUntil([this] { return isDone(); }, timeout);
        } else {
            std::unique_lock lock(mutex_);
            changed_.wait_for(lock, timeout, [this] { return done_; });
        }
        std::lock_guard lock(mutex_);
        return image_;
    }

  private:
    void finish(platform::ImagePtr image) {
        std::lock_guard lock(mutex_);
        image_ = std::move(image);
        done_ = true;
        changed_.notify_all();
    }

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    bool done_ = false;
    platform::ImagePtr image_;
};

// A picture on the web: the cached one, else loaded through the image loader, which also
// keeps it for the next share. Waits for it, as a share needs its picture now.
platform::ImagePtr loadRemoteImage(const std::string& address) {
    auto& loader = RAZududeImageLoader::sharedImageLoader();
    auto wait = std::make_shared<PictureWait>();
    platform::ImagePtr image = loader.imageForURL(address, wait, true);
    if (!image) {
        image = wait->wait(kRemotePictureWait);
        if (!wait->isDone()) {
            platform::consoleLog("RAZudude: the picture at %@ did not come in time", address);
        }
    }
    loader.removeObserver(*wait);
    return image;
}

// Images the share names by URL: local files are read here, pictures on the web come through
// the image loader.
platform::ImagePtr loadImageAt(const std::string& address) {
    auto url = platform::Url::parse(address);
    if (url && url->isFileUrl()) {
        return platform::Image::fromFile(url->path());
    }
    const std::string scheme = url ? platform::text::toLower(url->scheme()) : std::string();
    if (scheme == "http" || scheme == "https") {
        return loadRemoteImage(address);
    }
    RAZududeUtils::outLog([&] {
        return platform::format("image at %@ not loaded: neither a local file nor on the web",
                                address);
    });
    return nullptr;
}

}  // namespace

RAZududeSnsHandler& RAZududeSnsHandler::shareInstance() {
    static platform::NoDestructor<RAZududeSnsHandler> instance;
    return *instance;
}

// ---- URL routing -----------------------------------------------------------------------

bool RAZududeSnsHandler::handleOpenURL(const platform::Url& url, const std::shared_ptr<void>&) {
    RZ_CHECK_MAIN_THREAD();
    auto handler = currentSnsHandler_.lock();
    if (!handler) {
        return false;
    }
    // Cleared before the handler is asked, so that a second delivery of the same URL finds
    // nobody; a URL the handler does not take gives it back its wait.
    currentSnsHandler_.reset();
    bool taken = false;
    platform::runGuarded("a platform handler's handleOpenURL",
                         [&] { taken = handler->handleOpenURL(url); });
    if (!taken && currentSnsHandler_.expired()) {
        currentSnsHandler_ = handler;
    }
    return taken;
}

// ---- app information -------------------------------------------------------------------

void RAZududeSnsHandler::requestAppInfo(RAZududeResponseCompletion completion) {
    RZ_CHECK_MAIN_THREAD();
    RZSUserManager::shareInstance().requestAppInfo(std::move(completion));
}

void RAZududeSnsHandler::setAppInfo(std::optional<platform::Map> appInfo) {
    RZ_CHECK_MAIN_THREAD();
    if (!appInfo) {
        return;
    }
    rzs_persistence::storeAppInfo(*appInfo);
    appInfo_ = std::move(appInfo);
}

platform::Map RAZududeSnsHandler::appInfo() {
    RZ_CHECK_MAIN_THREAD();
    if (!appInfo_) {
        appInfo_ = rzs_persistence::loadAppInfo();
    }
    return appInfo_.value_or(platform::Map{});
}

// ---- handlers by name ------------------------------------------------------------------

std::shared_ptr<RAZududePlatformHandler> RAZududeSnsHandler::getSocialSnsHandler(
    std::string_view name) {
    const char* className = nullptr;
    if (name == RZShareToWechatSession || name == RZShareToWechatTimeline) {
        className = "RAZududeWechatHandler";
    } else if (name == RZShareToEmail || name == RZShareToSms) {
        className = "RAZududeMailHandler";
    } else if (name == RZShareToFacebook || name == RZShareToTwitter) {
        className = "RAZududeFacebookSnsHandler";
    } else if (name == RZShareToQQ) {
        className = "RAZududeQQHandler";
    }
    return className ? RAZududeHandlerRegistry::shareInstanceOf(className) : nullptr;
}

void RAZududeSnsHandler::clickHandlerWithSnsName(
    const std::string& name, const std::shared_ptr<platform::ViewController>& controller,
    const std::shared_ptr<RAZududeScreenHost>& service) {
    RZ_CHECK_MAIN_THREAD();
    if (auto handler = getSocialSnsHandler(name)) {
        handler->clickHandlerWithSnsName(name, controller, service);
    }
}

// ---- reporting to the app --------------------------------------------------------------

void RAZududeSnsHandler::handleClickHandler(const std::shared_ptr<RAZududeScreenHost>& service,
                                            const std::string& name) {
    RZ_CHECK_MAIN_THREAD();
    if (!service) {
        return;
    }
    if (auto delegate = service->socialUIDelegate()) {
        rz_ui_delegate::didSelectSocialPlatform(delegate, name, service->socialData());
    }
}

void RAZududeSnsHandler::handleClickHandler(const std::shared_ptr<RAZududeScreenHost>& service,
                                            const std::string& name,
                                            const std::optional<std::string>& sourceOpType) {
    RZ_CHECK_MAIN_THREAD();
    handleClickHandler(service, name);
    RAZududeOpAnalytics::postSocialAnalyticsFromSourceOpType(RZUsageCode::kPlatformChosen,
                                                             sourceOpType, name);
}

void RAZududeSnsHandler::handleUIDelegate(const std::shared_ptr<RAZududeUIDelegate>& delegate,
                                          const std::string& name, int responseCode,
                                          std::optional<std::string> errorString,
                                          std::optional<platform::Error> error,
                                          platform::Value context) {
    RZ_CHECK_MAIN_THREAD();
    if (!delegate) {
        return;
    }
    auto response = makeRAZududeResponse(responseCode, std::move(errorString));
    response->setViewControllerType(kRAZududeViewControllerShareEdit);
    response->setResponseType(kRAZududeResponseTypeShare);
    response->setData(platform::Map{{name, ""}});
    response->setError(std::move(error));
    response->setThirdPlatformResponse(std::move(context));
    rz_ui_delegate::didFinishGetRAZududeDataInViewController(delegate, response);
}

// ---- operation records -----------------------------------------------------------------

void RAZududeSnsHandler::postOpWithSnsName(const std::string& name) {
    RAZududeOpAnalytics::postSocialAnalyticsFromSourceOpType(RZUsageCode::kPlatformChosen,
                                                             std::nullopt, name);
}

void RAZududeSnsHandler::postOpWithText(std::optional<std::string> text, const std::string& name) {
    RAZududeSnsPostContent content;
    content.content = std::move(text);
    if (!content.content) {
        content.content.emplace();
    }
    content.sourceOpType.emplace("3");
    RAZududeDataService::defaultDataService()->postSNSWithTypesInternal({name}, std::move(content));
}

// ---- account upload --------------------------------------------------------------------

void RAZududeSnsHandler::upLoadSnsAccount(const std::shared_ptr<RAZududeAccountEntity>& account,
                                          RAZududeResponseCompletion completion) {
    RZ_CHECK_MAIN_THREAD();
    RAZududeUtils::outLog([&] {
        return platform::format("snsAccount is %@",
                                account ? account->description() : std::string("(null)"));
    });
    RAZududeAccountManager::postSnsAccountInternal(
        account,
        [account, completion](const RAZududeResponsePtr& reply) {
            if (!reply || reply->responseCode() != kRAZududeResponseSuccess) {
                if (completion) {
                    auto failure =
                        makeRAZududeResponse(kRAZududeResponseAccountFailed, "post sns info fail!");
                    failure->setResponseType(kRAZududeResponseTypeOauth);
                    failure->setViewControllerType(kRAZududeViewControllerOauth);
                    completion(failure);
                }
                RAZududeScreenHooks::showAlert(
                    RAZududeLocalizedString("oauth_error_title", "授权失败"),
                    RAZududeLocalizedString("oauth_error_message",
                                            "服务器繁忙，授权失败，请稍后再试"),
                    RAZududeLocalizedString("button_ok", "好"));
                return;
            }
            reply->setMessage("no error");
            RAZududeAccountManager::setSnsAccount(account);
            if (!completion) {
                return;
            }
            RAZududeDataService::defaultDataService()->requestSocialAccountWithCompletionInternal(
                [reply, account, completion](const RAZududeResponsePtr&) {
                    std::string name =
                        account && account->platformName() ? *account->platformName() : "";
                    auto& accounts = RAZududeAccountManager::socialAccountDictionary();
                    platform::Map entry;
                    if (auto it = accounts.find(name); it != accounts.end() && it->second) {
                        const auto& stored = *it->second;
                        entry.append("usid", stored.usid().value_or(""));
                        entry.append("accessToken", stored.accessToken().value_or(""));
                        entry.append("username", stored.userName().value_or(""));
                    }
                    reply->setResponseType(kRAZududeResponseTypeOauth);
                    reply->setViewControllerType(kRAZududeViewControllerOauth);
                    reply->setData(platform::Map{{name, std::move(entry)}});
                    completion(reply);
                });
        },
        "4");
}

// ---- URL schemes -----------------------------------------------------------------------

bool RAZududeSnsHandler::searchForURLSchemeWithURLName(std::string_view urlName) {
    auto types = appUrlTypes();
    if (!types) {
        return false;
    }
    for (const auto& entry : *types) {
        if (const auto* name = entry["CFBundleURLName"].string(); name && *name == urlName) {
            return true;
        }
    }
    warnMissingUrlScheme();
    return false;
}

std::optional<std::string> RAZududeSnsHandler::searchForURLSchemeWithPrefix(
    std::string_view prefix, const platform::Array& urlTypes) {
    std::optional<std::string> found;
    for (const auto& entry : urlTypes) {
        const auto* schemes = entry["CFBundleURLSchemes"].array();
        if (!schemes) {
            continue;
        }
        for (const auto& scheme : *schemes) {
            const auto* text = scheme.string();
            if (text && text->starts_with(prefix)) {
                found = platform::format("%@://", *text);
                break;
            }
        }
    }
    return found;
}

std::optional<std::string> RAZududeSnsHandler::getUrlSchemeWithPrefix(std::string_view prefix) {
    auto types = appUrlTypes();
    auto found = types ? searchForURLSchemeWithPrefix(prefix, *types) : std::nullopt;
    if (!found) {
        warnMissingUrlScheme();
    }
    return found;
}

bool RAZududeSnsHandler::searchForURLSchemeWithPrefix(std::string_view prefix) {
    return getUrlSchemeWithPrefix(prefix).has_value();
}

// ---- helpers ---------------------------------------------------------------------------

platform::ImagePtr RAZududeSnsHandler::scaleImage(const platform::ImagePtr& image,
                                                  platform::Size size) {
    if (!image) {
        return nullptr;
    }
    double width = image->pixelWidth();
    double height = image->pixelHeight();
    if (width < size.width && height < size.height) {
        return image;
    }
    // Single precision throughout, so that 0.8 of 100 pixels is 80, not a hair above.
    float factor = std::min(static_cast<float>(size.height) / static_cast<float>(height),
                            static_cast<float>(size.width) / static_cast<float>(width));
    float scaledWidth = factor * static_cast<float>(width);
    float scaledHeight = factor * static_cast<float>(height);
    return image->scaledTo({scaledWidth, scaledHeight}, 1);
}

platform::Bytes RAZududeSnsHandler::scaleAndComplessImage(const platform::ImagePtr& image,
                                                          platform::Size size) {
    auto scaled = scaleImage(image, size);
    return scaled ? scaled->encodeJpeg(0.8) : platform::Bytes{};
}

std::optional<std::string> RAZududeSnsHandler::subString(std::string_view text,
                                                         StringEncoding encoding,
                                                         std::size_t bytesLength) {
    if (text.empty()) {
        return std::nullopt;
    }
    auto lengthOf = [&](std::string_view piece) -> std::size_t {
        switch (encoding) {
            case StringEncoding::kUtf16:
                return platform::text::utf16Length(piece) * 2;
            case StringEncoding::kGb18030:
                return platform::text::gb18030Length(piece);
            case StringEncoding::kUtf8:
                break;
        }
        return piece.size();
    };
    if (bytesLength == 0 || lengthOf(text) <= bytesLength) {
        return std::string(text);
    }
    const auto* begin = reinterpret_cast<const unsigned char*>(text.data());
    const auto* end = begin + text.size();
    std::size_t used = 0;
    std::size_t cut = 0;
    while (cut < text.size()) {
        std::size_t step = platform::utf8::sequenceAt(begin + cut, end);
        if (step == 0) {
            step = 1;  // a byte that starts no character stands for itself
        }
        std::size_t bytes = lengthOf(text.substr(cut, step));
        if (used + bytes > bytesLength) {
            break;
        }
        used += bytes;
        cut += step;
    }
    return std::string(text.substr(0, cut));
}

RAZududeShareImage RAZududeSnsHandler::getShareImage(const std::shared_ptr<RAZududeData>& data,
                                                     const std::string& snsType) {
    auto snsData = RZSDataManager::currentDataManager()->barEntity()->getSnsData(snsType);
    auto resource = snsData ? snsData->urlResource() : nullptr;
    bool ownResourceEmpty =
        !resource || resource->resourceType() == kRAZududeUrlResourceTypeDefault;
    if (ownResourceEmpty && data) {
        resource = data->urlResource();
    }
    RAZududeShareImage found;
    if (resource && resource->resourceType() == kRAZududeUrlResourceTypeImage && resource->url()) {
        found = loadImageAt(*resource->url());
    }
    if (ownResourceEmpty && snsData && snsData->shareImage()) {
        found = snsData->shareImage();
    }
    if (!found) {
        if (snsData && snsData->shareImage()) {
            found = snsData->shareImage();
        } else if (data) {
            found = data->shareImage();
        }
    }
    return found;
}

void RAZududeSnsHandler::removeMaskView() {
    RAZududeSnsPlatformManager::sharedInstance().removeMaskView();
}
