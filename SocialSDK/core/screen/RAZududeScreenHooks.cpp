#include "SocialSDK/core/screen/RAZududeScreenHooks.h"

#include <exception>
#include <utility>

#include "platform/Log.h"
#include "platform/NoDestructor.h"

namespace {

struct Hooks {
    RAZududeScreenHooks::ScreenHostMaker host;
    RAZududeScreenHooks::ToastMaker toast;
    RAZududeScreenHooks::AlertMaker alert;
    RAZududeScreenHooks::ToastPlacer placer;
    RAZududeScreenHooks::ThemeMaker theme;
    // The last placement asked for while no placer was installed.
    std::optional<std::pair<std::optional<bool>, std::int32_t>> pendingPlacement;
};

Hooks& hooks() {
    static platform::NoDestructor<Hooks> instance;
    return *instance;
}

template <typename Maker>
Maker replace(Maker& slot, Maker maker) {
    Maker previous = std::move(slot);
    slot = std::move(maker);
    return previous;
}

}  // namespace

RAZududeScreenHooks::ScreenHostMaker RAZududeScreenHooks::setScreenHostMaker(
    ScreenHostMaker maker) {
    return replace(hooks().host, std::move(maker));
}

RAZududeScreenHooks::ToastMaker RAZududeScreenHooks::setToastMaker(ToastMaker maker) {
    return replace(hooks().toast, std::move(maker));
}

RAZududeScreenHooks::AlertMaker RAZududeScreenHooks::setAlertMaker(AlertMaker maker) {
    return replace(hooks().alert, std::move(maker));
}

RAZududeScreenHooks::ToastPlacer RAZududeScreenHooks::setToastPlacer(ToastPlacer placer) {
    auto previous = replace(hooks().placer, std::move(placer));
    if (hooks().placer && hooks().pendingPlacement) {
        auto [hidden, gravity] = *hooks().pendingPlacement;
        hooks().pendingPlacement.reset();
        placeToasts(hidden, gravity);
    }
    return previous;
}

RAZududeScreenHooks::ThemeMaker RAZududeScreenHooks::setThemeMaker(ThemeMaker maker) {
    auto previous = replace(hooks().theme, std::move(maker));
    if (hooks().theme) {
        RAZududeConfigInternal::themeMakerInstalled();
    }
    return previous;
}

std::shared_ptr<RAZududeScreenHost> RAZududeScreenHooks::makeScreenHost(
    const std::shared_ptr<RAZududeData>& data) {
    if (!hooks().host) {
        platform::consoleLog("no screens to make a screen host");
        return nullptr;
    }
    try {
        return hooks().host(data);
    } catch (const std::exception& e) {
        platform::consoleLog("making a screen host failed: %@", std::string(e.what()));
        return nullptr;
    }
}

std::function<void()> RAZududeScreenHooks::showToast(const std::string& text,
                                                     std::int64_t duration) {
    if (!hooks().toast) {
        platform::consoleLog("no screens to show the toast \"%@\"", text);
        return {};
    }
    try {
        return hooks().toast(text, duration);
    } catch (const std::exception& e) {
        platform::consoleLog("the toast \"%@\" failed: %@", text, std::string(e.what()));
        return {};
    }
}

void RAZududeScreenHooks::showAlert(const std::string& title, const std::string& message,
                                    const std::string& cancelTitle) {
    if (!hooks().alert) {
        platform::consoleLog("no screens to show the alert \"%@\": %@", title, message);
        return;
    }
    try {
        hooks().alert(title, message, cancelTitle);
    } catch (const std::exception& e) {
        platform::consoleLog("the alert \"%@\" failed: %@", title, std::string(e.what()));
    }
}

void RAZududeScreenHooks::placeToasts(std::optional<bool> hidden, std::int32_t gravity) {
    if (!hooks().placer) {
        // A later placement wins, but a hidden flag asked for earlier still holds.
        if (!hidden && hooks().pendingPlacement) {
            hidden = hooks().pendingPlacement->first;
        }
        hooks().pendingPlacement = std::pair{hidden, gravity};
        return;
    }
    try {
        hooks().placer(hidden, gravity);
    } catch (const std::exception& e) {
        platform::consoleLog("placing the toasts failed: %@", std::string(e.what()));
    }
}

std::optional<RAZududeScreenHooks::ThemeBlocks> RAZududeScreenHooks::themeBlocks(int theme) {
    if (!hooks().theme) {
        return std::nullopt;
    }
    try {
        return hooks().theme(theme);
    } catch (const std::exception& e) {
        platform::consoleLog("the blocks of theme %d failed: %@", theme, std::string(e.what()));
        return std::nullopt;
    }
}
