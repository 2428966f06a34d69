// The shared base of the platform handlers: it remembers which handler waits for the URL with
// which a platform application returns, keeps the app information the share service gives,
// finds handlers by platform name, reports results to the app's delegate, records operations,
// uploads a platform account after a login, and offers image and text helpers to handlers.
// Runs on the main thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "SocialSDK/core/account/RAZududeAccountEntity.h"
#include "SocialSDK/core/data/RAZududeResponseEntity.h"
#include "SocialSDK/core/data/RAZududeShareImage.h"
#include "SocialSDK/core/handler/RAZududeHandlerRegistry.h"
#include "SocialSDK/core/handler/RAZududeSnsHandlerDelegate.h"
#include "SocialSDK/core/handler/RAZududeUIDelegate.h"
#include "platform/Error.h"
#include "platform/NoDestructor.h"
#include "platform/Url.h"
#include "platform/Value.h"
#include "platform/graphics/Image.h"

namespace platform {
class ViewController;
}

class RAZududeScreenHost;
class RAZududeData;

class RAZududeSnsHandler {
  public:
    static RAZududeSnsHandler& shareInstance();

    RAZududeSnsHandler(const RAZududeSnsHandler&) = delete;
    RAZududeSnsHandler& operator=(const RAZududeSnsHandler&) = delete;

    // ---- the URL with which a platform application returns
    // Asks the waiting handler; false when none waits. A URL the handler takes ends its wait;
    // one it does not know leaves it waiting. The second argument is not used.
    bool handleOpenURL(const platform::Url& url, const std::shared_ptr<void>& wxApiDelegate = {});
    std::shared_ptr<RAZududeSnsHandlerDelegate> currentSnsHandler() const {
        return currentSnsHandler_.lock();
    }
    // Set by the login flow and by handlers before they open their platform's application.
    void setCurrentSnsHandler(std::weak_ptr<RAZududeSnsHandlerDelegate> handler) {
        currentSnsHandler_ = std::move(handler);
    }

    // ---- app information: per-platform settings from the share service
    void requestAppInfo(RAZududeResponseCompletion completion);
    // Nothing is ignored; otherwise kept and stored.
    void setAppInfo(std::optional<platform::Map> appInfo);
    // Reloaded from the store while none is held; empty when nothing is known.
    platform::Map appInfo();

    const std::optional<std::string>& qqAppId() const { return qqAppId_; }
    void setQqAppId(std::optional<std::string> id) { qqAppId_ = std::move(id); }
    const std::optional<std::string>& appkey() const { return appkey_; }
    void setAppkey(std::optional<std::string> key) { appkey_ = std::move(key); }
    // 1: the Sina platform logs in through its own application.
    std::int64_t sinaType() const { return sinaType_; }
    void setSinaType(std::int64_t type) { sinaType_ = type; }

    // ---- handlers by platform name
    static std::shared_ptr<RAZududePlatformHandler> getSocialSnsHandler(std::string_view name);
    // Hands the share to the platform's handler; nothing happens when it has none.
    static void clickHandlerWithSnsName(const std::string& name,
                                        const std::shared_ptr<platform::ViewController>& controller,
                                        const std::shared_ptr<RAZududeScreenHost>& service);

    // ---- reporting to the app
    // Tells the service's delegate which platform was tapped.
    static void handleClickHandler(const std::shared_ptr<RAZududeScreenHost>& service,
                                   const std::string& name);
    // The same, and records the tap whatever the delegate did.
    static void handleClickHandler(const std::shared_ptr<RAZududeScreenHost>& service,
                                   const std::string& name,
                                   const std::optional<std::string>& sourceOpType);
    // Gives the delegate a share result for the platform (editor screen, share response type).
    static void handleUIDelegate(const std::shared_ptr<RAZududeUIDelegate>& delegate,
                                 const std::string& name, int responseCode,
                                 std::optional<std::string> errorString,
                                 std::optional<platform::Error> error, platform::Value context);

    // ---- operation records
    static void postOpWithSnsName(const std::string& name);
    // Tells the share service about a share a handler made.
    static void postOpWithText(std::optional<std::string> text, const std::string& name);

    // Uploads the account after a login; on success stores it and gives the completion the
    // account's platform data, on failure 5051 and an alert.
    void upLoadSnsAccount(const std::shared_ptr<RAZududeAccountEntity>& account,
                          RAZududeResponseCompletion completion);

    // Takes the waiting mask away: the registry's one toast of the waiting mask.
    static void removeMaskView();

    // ---- the URL types of the app's Info property list
    static bool searchForURLSchemeWithURLName(std::string_view urlName);
    // "<scheme>://" of the last entry with a scheme that starts with the prefix.
    static std::optional<std::string> searchForURLSchemeWithPrefix(std::string_view prefix,
                                                                   const platform::Array& urlTypes);
    static std::optional<std::string> getUrlSchemeWithPrefix(std::string_view prefix);
    static bool searchForURLSchemeWithPrefix(std::string_view prefix);

    // ---- helpers for handlers
    // Scaled by the factor that fits it into the size; as it is when already smaller.
    static platform::ImagePtr scaleImage(const platform::ImagePtr& image, platform::Size size);
    // JPEG at quality 0.8 of the scaled image.
    static platform::Bytes scaleAndComplessImage(const platform::ImagePtr& image,
                                                 platform::Size size);
    enum class StringEncoding { kUtf8, kUtf16, kGb18030 };
    // The whole characters that fit into the byte limit in the encoding (0: no limit);
    // nothing for an empty text.
    static std::optional<std::string> subString(std::string_view text, StringEncoding encoding,
                                                std::size_t bytesLength);
    // The picture a share to the platform carries: the platform's resource image or picture,
    // else the record's. A resource image on the web comes from the image loader's cache, or
    // is loaded through the loader while this waits, at most twice the loader's time-out.
    //
    // Called on the main thread, the wait is a nested run of the main loop: whatever is posted
    // to it or falls due meanwhile runs before this returns (timers and animations, other
    // loads' results, taps, a platform application's return URL through handleOpenURL). Such
    // work may close the screen that asked or change the share record, so callers keep what
    // they use alive and look at the state again after the call.
    static RAZududeShareImage getShareImage(const std::shared_ptr<RAZududeData>& data,
                                            const std::string& snsType);

  private:
    friend class platform::NoDestructor<RAZududeSnsHandler>;
    RAZududeSnsHandler() = default;

    std::optional<platform::Map> appInfo_;
    std::weak_ptr<RAZududeSnsHandlerDelegate> currentSnsHandler_;
    std::optional<std::string> qqAppId_;
    std::optional<std::string> appkey_;
    std::int64_t sinaType_ = 0;
};
