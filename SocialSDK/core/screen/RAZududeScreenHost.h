// What the share flows of the core need of the screens: the record being shared, the app's UI
// delegate, the platform of the current flow, the share screens (editor and OAuth page) and the
// way to put them up, and closing. The screens implement it (the controller service does); the
// core holds only this interface and never a header of the screens.
//
// Threads: main thread only, like everything that shows a screen.
// Ownership: callers hold the host through a shared_ptr for the length of a call, and through a
// weak_ptr across asynchronous steps (a login, a share reply); the host holds the UI delegate
// weakly. A screen a getter returns is owned by the caller until it is put up.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "SocialSDK/core/data/RAZududeResponseEntity.h"

namespace platform {
class NavigationController;
class ViewController;
}  // namespace platform

class RAZududeData;
class RAZududeUIDelegate;

class RAZududeScreenHost {
  public:
    virtual ~RAZududeScreenHost() = default;

    // ---- what is shared, and to whom the results go
    // The record of the share; may be null.
    virtual std::shared_ptr<RAZududeData> socialData() const = 0;
    // The app's delegate, or the stand-in that a login put in its place; null when none.
    virtual std::shared_ptr<RAZududeUIDelegate> socialUIDelegate() const = 0;
    virtual void setSocialUIDelegate(std::weak_ptr<RAZududeUIDelegate> delegate) = 0;
    // The platform of the current flow.
    virtual const std::optional<std::string>& currentSnsPlatformName() const = 0;
    // The screen now shown, or the app's presenting screen for the icon sheet.
    virtual std::shared_ptr<platform::ViewController> currentViewController() const = 0;
    // The view type of the screen to follow an OAuth page; kRAZududeViewControllerNone for none.
    virtual void setNextViewController(RAZududeViewControllerType viewType) = 0;

    // ---- the share screens
    // A new bare screen of the view type for the platform; null when there is none. An editor
    // asked for a platform without a valid token becomes the OAuth page, the editor to follow.
    virtual std::shared_ptr<platform::ViewController> getSocialViewController(
        int viewType, std::optional<std::string> platformName = std::nullopt) = 0;
    // The editor, in its container unless it is a bare e-mail or SMS screen, recorded as the
    // host's current screen; null when there is none. The source operation type goes to the
    // usage record.
    virtual std::shared_ptr<platform::ViewController> makeShareEditScreen(
        const std::string& platformName, std::optional<std::string> sourceOpType) = 0;
    // The OAuth page in its container, recorded as the host's current screen; null when none.
    virtual std::shared_ptr<platform::ViewController> makeOauthScreen(
        const std::string& platformName, std::optional<std::string> sourceOpType) = 0;

    // ---- putting screens up
    // Presents the screen modally over `from`, animated; nothing happens without `from`.
    virtual void presentScreen(const std::shared_ptr<platform::ViewController>& screen,
                               const std::shared_ptr<platform::ViewController>& from) = 0;
    // Pushes the screen on the navigation controller that holds `from`, animated; false when
    // `from` is null or in no navigation controller.
    virtual bool pushScreen(const std::shared_ptr<platform::ViewController>& screen,
                            const std::shared_ptr<platform::ViewController>& from) = 0;
    // Pushes the screen on the navigation controller itself, animated.
    virtual void pushScreenOn(const std::shared_ptr<platform::NavigationController>& navigation,
                              const std::shared_ptr<platform::ViewController>& screen) = 0;

    // ---- closing
    // Closes the share screens without a word to the delegate beyond the closed screen.
    virtual void close() = 0;
};
