// The share screens' common look and their waiting HUD: every share screen styles its
// navigation bar, title and buttons here, according to the configured theme (1, the default,
// or any other value for the alternative theme), and the platform handlers show and hide the
// one shared HUD here while they talk to a platform. Main thread only.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "SocialSDK/ui/hud/RAZududeTkProgressHUD.h"
#include "platform/NoDestructor.h"
#include "platform/graphics/Color.h"
#include "platform/ui/Button.h"
#include "platform/ui/NavigationBar.h"

class RAZududeUIHelper {
  public:
    // The bar title's colour (70, 79, 97) and the bar tint without a background image.
    static constexpr platform::Color kTitleColor = platform::Color::rgb255(70, 79, 97);
    static constexpr platform::Color kFallbackTint = platform::Color::rgb255(238, 238, 238);

    static RAZududeUIHelper& shareInstance();

    // ---- navigation bars
    // Styles a share screen's bar: opaque (its translucency recorded first), its background
    // image and, in theme 1, its title attributes.
    static void customNavBar(platform::NavigationBar& bar);
    // Records the bar's translucency, the first time this bar is styled, and makes it opaque.
    static void setTranslucent(platform::NavigationBar& bar);
    // Gives the bar back the translucency it had before it was first styled: translucent
    // again, without the share background, when it was translucent. A bar never styled is
    // left as it is. The record is then dropped, so the next styling records afresh.
    static void setNavigationBarTranslucent(platform::NavigationBar& bar);
    // The item's title shown as a label in the title colour.
    static void customNavigationItem(platform::NavigationItem& item);

    // ---- buttons, all 50 x 30 points
    // Theme 1: the back image alone; other themes: the title over a stretchable background,
    // shifted 6 points to the right.
    static void customNavBackButton(platform::Button& button, const std::string& title);
    static void customNavPostButton(platform::Button& button);
    static void customNavRefreshButton(platform::Button& button);
    // The close button; the title is not shown.
    static void customNavButton(platform::Button& button, const std::string& title);

    // ---- the shared HUD
    // Shows the one HUD (made on first use) on the application's first window, in front,
    // fading in; without a window nothing happens. While the configuration hides the loading
    // HUD, hides it instead.
    static void showHUD();
    // Hides the HUD, fading out; before any showHUD nothing happens. There is no count.
    static void hideHUD();

    // Whether this bar's translucency before styling is recorded.
    bool isSetTranslucent(const platform::NavigationBar& bar) const;
    // The translucency recorded for the bar styled last.
    bool isTranslucent() const { return isTranslucent_; }
    const std::shared_ptr<RAZududeTkProgressHUD>& hud() const { return hud_; }

  private:
    friend class platform::NoDestructor<RAZududeUIHelper>;
    RAZududeUIHelper() = default;

    struct Record {
        const platform::NavigationBar* bar = nullptr;
        std::weak_ptr<const platform::View> alive;
        bool tracked = false;  // the bar is shared, so `alive` tells when it has gone
        bool translucent = false;
    };
    Record* recordFor(const platform::NavigationBar& bar);
    const Record* recordFor(const platform::NavigationBar& bar) const;
    void forgetGoneBars();

    std::vector<Record> records_;
    bool isTranslucent_ = false;
    std::shared_ptr<RAZududeTkProgressHUD> hud_;
};
