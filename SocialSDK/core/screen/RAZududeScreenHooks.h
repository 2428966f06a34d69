// What the core asks of the screens: screen hosts for a share record, toasts, alerts, where
// toasts go, and the style blocks of the themes. The core cannot include the screens, so the
// screens install a maker for each at start-up (installSocialUI() does it for this SDK's own
// screens), as they register their makers with the view-controller factory.
//
// Threads: main thread only, both installing and asking.
// Until a maker is installed: no screen host is made, a toast or an alert is logged instead of
// shown, a toast placement is kept and handed to the placer once one is installed, and a theme has
// no blocks (the configuration installs them when the theme maker comes).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "SocialSDK/core/config/RAZududeConfig.h"

class RAZududeData;
class RAZududeScreenHost;

class RAZududeScreenHooks {
  public:
    RAZududeScreenHooks() = delete;

    // A new screen host (the controller service) on the record.
    using ScreenHostMaker =
        std::function<std::shared_ptr<RAZududeScreenHost>(const std::shared_ptr<RAZududeData>&)>;
    // Shows a toast of the text for the duration (milliseconds; 0 keeps the toast settings'
    // own) and answers what takes it away at once; the answer may be called after the toast
    // went by itself.
    using ToastMaker =
        std::function<std::function<void()>(const std::string& text, std::int64_t duration)>;
    // Shows an alert with the title, the message and one button that closes it.
    using AlertMaker = std::function<void(const std::string& title, const std::string& message,
                                          const std::string& cancelTitle)>;
    // Sets where the share service's toasts go (a toast gravity) and, when given, whether
    // `show` shows them.
    using ToastPlacer = std::function<void(std::optional<bool> hidden, std::int32_t gravity)>;
    // The style blocks of a theme; a block the theme does not name is empty.
    struct ThemeBlocks {
        RAZududeNavigationBarConfig navigationBar;
        RAZududeGridViewConfig gridView;
        RAZududeTableViewCellConfig tableViewCell;
    };
    using ThemeMaker = std::function<ThemeBlocks(int theme)>;

    // Each installs its maker (an empty one takes it away) and answers the one it replaces.
    static ScreenHostMaker setScreenHostMaker(ScreenHostMaker maker);
    static ToastMaker setToastMaker(ToastMaker maker);
    static AlertMaker setAlertMaker(AlertMaker maker);
    // A placement asked for before is handed to the new placer at once.
    static ToastPlacer setToastPlacer(ToastPlacer placer);
    // The configuration installs the blocks of its theme at once, when it had none to install.
    static ThemeMaker setThemeMaker(ThemeMaker maker);

    // What the core calls. A maker that throws is logged and treated as absent.
    // Null when no maker is installed.
    static std::shared_ptr<RAZududeScreenHost> makeScreenHost(
        const std::shared_ptr<RAZududeData>& data);
    static std::function<void()> showToast(const std::string& text, std::int64_t duration);
    static void showAlert(const std::string& title, const std::string& message,
                          const std::string& cancelTitle);
    static void placeToasts(std::optional<bool> hidden, std::int32_t gravity);
    // Nothing when no theme maker is installed.
    static std::optional<ThemeBlocks> themeBlocks(int theme);
};
