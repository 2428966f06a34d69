// The platform handlers the share service finds by class name. A handler library registers its
// classes at start-up; the share service never includes their headers. A name nobody registered
// finds nothing, and the share service then goes on as a program without that handler would.
//
// Any thread: the registry is guarded; handler libraries fill it before the share service asks.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "SocialSDK/core/data/RAZududeShareImage.h"
#include "SocialSDK/core/handler/RAZududeSnsHandlerDelegate.h"

namespace platform {
class ViewController;
}

class RAZududeScreenHost;
class RAZududeSnsPlatform;

// A handler as the share service reaches it by name: the delegate protocol, and the messages
// sent to particular handler classes. The defaults do nothing and build nothing.
class RAZududePlatformHandler : public RAZududeSnsHandlerDelegate {
  public:
    // Hands the current share to the platform.
    virtual void clickHandlerWithSnsName(
        const std::string& /*platformName*/,
        const std::shared_ptr<platform::ViewController>& /*controller*/,
        const std::shared_ptr<RAZududeScreenHost>& /*service*/) {}
    // The platforms the registry takes from the system-service handlers while it builds itself.
    virtual std::shared_ptr<RAZududeSnsPlatform> getFacebookTwitterPlatform(
        const std::string& /*platformName*/) {
        return nullptr;
    }
    virtual std::shared_ptr<RAZududeSnsPlatform> getEmailSmsPlatform(
        const std::string& /*platformName*/) {
        return nullptr;
    }
    // Forgets the platform's account here and at the platform; false when the handler does
    // not un-authorise (the completion is then not called).
    virtual bool unOauth(RAZududeResponseCompletion /*completion*/) { return false; }
    // The system-service handlers (facebook, twitter): whether they are set up to share at
    // once, and the share itself, whose completion they call once with the result.
    virtual bool isReadyToShareDirectly() { return false; }
    virtual void clickShareButton(std::optional<std::string> /*content*/,
                                  RAZududeShareImage /*image*/,
                                  RAZududeResponseCompletion /*completion*/) {}
    // The platform application's id and secret that go with an uploaded token, when the
    // handler was set up with them.
    virtual std::optional<std::string> tokenAppId() const { return std::nullopt; }
    virtual std::optional<std::string> tokenAppSecret() const { return std::nullopt; }
};

class RAZududeHandlerRegistry {
  public:
    // Answers the class's one instance, made on first use.
    using ShareInstance = std::function<std::shared_ptr<RAZududePlatformHandler>()>;

    RAZududeHandlerRegistry() = delete;

    // A second registration of a name replaces the first.
    static void registerHandlerClass(std::string className, ShareInstance shareInstance);
    static bool hasHandlerClass(std::string_view className);
    // The class's shared instance, or null when no class of that name is registered.
    static std::shared_ptr<RAZududePlatformHandler> shareInstanceOf(std::string_view className);

    // Tests: the class under the name for the scope; afterwards the name finds what it found
    // before, or nothing again.
    class ScopedClassForTesting {
      public:
        ScopedClassForTesting(std::string className, ShareInstance shareInstance);
        ~ScopedClassForTesting();
        ScopedClassForTesting(const ScopedClassForTesting&) = delete;
        ScopedClassForTesting& operator=(const ScopedClassForTesting&) = delete;

      private:
        std::string className_;
        std::optional<ShareInstance> previous_;
    };
};
