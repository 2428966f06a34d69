// How an app tunes the share service. RAZududeConfig is what the app calls (its class methods)
// and the few switches the widgets read; RAZududeConfigInternal holds the values that the
// screens, the platform registry and the handlers read. Both are shared instances made on first
// use and kept for the process; everything here runs on the main thread.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/NoDestructor.h"
#include "platform/ScopedStateForTesting.h"
#include "platform/Value.h"
#include "platform/graphics/Color.h"
#include "platform/graphics/Geometry.h"

namespace platform {
class Button;
class GraphicsContext;
class Label;
class NavigationBar;
class NavigationItem;
class TableViewCell;
class View;
}  // namespace platform

class RAZududeSnsPlatform;

// Restyles the icon sheet: called with the drawing context, the background view and the
// template label of the names (any of them may be null).
using RAZududeGridViewConfig = std::function<void(
    platform::GraphicsContext* context, platform::View* backgroundView, platform::Label* label)>;
// Restyles a navigation bar and its buttons; any argument may be null. The second one is the
// close button.
using RAZududeNavigationBarConfig = std::function<void(
    platform::NavigationBar* bar, platform::Button* closeButton, platform::Button* backButton,
    platform::Button* postButton, platform::Button* otherButton, platform::NavigationItem* item)>;
using RAZududeTableViewCellConfig = std::function<void(platform::TableViewCell* cell)>;

class RAZududeConfig {
  public:
    static RAZududeConfig& shareInstance();

    // Tests: what a test changes here goes back at the end of the scope.
    using ScopedStateForTesting =
        platform::ScopedStateForTesting<RAZududeConfig, &RAZududeConfig::shareInstance>;

    // ---- switches read by the widgets, the data service, the handlers and the requests
    bool hiddenLoadingHUD() const { return hiddenLoadingHUD_; }
    void setHiddenLoadingHUD(bool hidden) { hiddenLoadingHUD_ = hidden; }
    bool hiddenStatusTip() const { return hiddenStatusTip_; }
    void setHiddenStatusTip(bool hidden) { hiddenStatusTip_ = hidden; }
    bool isGetInverseFlowUrl() const { return isGetInverseFlowUrl_; }
    void setIsGetInverseFlowUrl(bool get) { isGetInverseFlowUrl_ = get; }
    bool statisticsAfterShareEventReturned() const { return statisticsAfterShareEventReturned_; }
    void setStatisticsAfterShareEventReturned(bool report) {
        statisticsAfterShareEventReturned_ = report;
    }
    bool forCocos2dx() const { return forCocos2dx_; }
    void setForCocos2dx(bool cocos) { forCocos2dx_ = cocos; }

    // ---- what the app calls; each records its usage operation
    // The names shown by the sheet and the list; an element may be an array of names.
    static void setSnsPlatformNames(platform::Array names);
    // A mask of interface orientations (bit number = orientation).
    static void setSupportedInterfaceOrientations(unsigned mask);
    static void setFollowWeiboUids(platform::Map uids);
    // Registers the app's own platforms; one of type 0 gets the next free type from 34 up.
    static void addSocialSnsPlatform(const std::vector<std::shared_ptr<RAZududeSnsPlatform>>& list);
    static void setDefaultColor(platform::Color color);
    static void setBoundsSizeForiPad(platform::Size size);
    static void setShouldShareSynchronous(bool synchronous);
    static void setShouldCommentWithShare(bool comment);
    static void setShouldCommentWithLocation(bool location);
    // The class the app names is not needed here.
    static void setSupportTencentSSO(bool support, std::string_view importClass = {});

    // Theme 0 is the dark one, any other value the light one.
    static void setTheme(int theme);
    static void setShareGridViewTheme(RAZududeGridViewConfig config);
    static void setNavigationBarConfig(RAZududeNavigationBarConfig config);
    static void setTableViewCellConfig(RAZududeTableViewCellConfig config);

    // Platforms whose application is missing: shown, or hidden (nothing stands for the usual
    // list of platforms that need their own application).
    static void showNotInstallPlatforms(std::optional<std::vector<std::string>> names);
    static void hiddenNotInstallPlatforms(std::optional<std::vector<std::string>> names);

    // Silences the toasts that `show` would show, or lets them be shown again, and sets where
    // they go (a gravity of the shared toast settings).
    static void setFinishToastIsHidden(bool hidden, std::int32_t gravity);

    // Set the switches above on the shared instance.
    static void hiddenLoadingHUD(bool hidden) { shareInstance().setHiddenLoadingHUD(hidden); }
    static void hiddenStatusTip(bool hidden) { shareInstance().setHiddenStatusTip(hidden); }
    static void webUrlShareGetInverseFlowUrl(bool get) {
        shareInstance().setIsGetInverseFlowUrl(get);
    }

  private:
    friend class platform::NoDestructor<RAZududeConfig>;
    RAZududeConfig();
    template <class, auto>
    friend class platform::ScopedStateForTesting;
    // Copies are for ScopedStateForTesting only.
    RAZududeConfig(const RAZududeConfig&) = default;
    RAZududeConfig& operator=(const RAZududeConfig&) = default;

    bool hiddenLoadingHUD_ = false;
    bool hiddenStatusTip_ = false;
    bool isGetInverseFlowUrl_ = false;
    bool statisticsAfterShareEventReturned_ = true;
    bool forCocos2dx_ = false;
};

class RAZududeConfigInternal {
  public:
    static RAZududeConfigInternal& shareInstance();

    // Tests: what a test changes here goes back at the end of the scope.
    using ScopedStateForTesting =
        platform::ScopedStateForTesting<RAZududeConfigInternal,
                                        &RAZududeConfigInternal::shareInstance>;

    // Whether a platform whose application is missing is shown: yes while the list is nothing,
    // no while it is empty, else whether it names the platform. The same rule for hiding.
    static bool showTheNotInstalledPlatform(std::string_view name);
    static bool hiddenTheNotInstalledPlatform(std::string_view name);

    // Whether the share screens turn to the orientation (bit number `orientation` of the mask).
    bool shouldAutorotateToInterfaceOrientation(int orientation) const;

    const platform::Rect& boundsForiPad() const { return boundsForiPad_; }
    void setBoundsForiPad(const platform::Rect& bounds) { boundsForiPad_ = bounds; }
    // (0, 0, width, height).
    void setBoundsSizeForiPad(platform::Size size);

    const platform::Array& snsPlatformNames() const { return snsPlatformNames_; }
    platform::Array& snsPlatformNames() { return snsPlatformNames_; }
    void setSnsPlatformNames(platform::Array names) { snsPlatformNames_ = std::move(names); }

    unsigned socialInterfaceOrientations() const { return socialInterfaceOrientations_; }
    void setSocialInterfaceOrientations(unsigned mask) { socialInterfaceOrientations_ = mask; }

    const std::optional<platform::Map>& followSnsUids() const { return followSnsUids_; }
    void setFollowSnsUids(std::optional<platform::Map> uids) { followSnsUids_ = std::move(uids); }

    bool shouldCommentWithShare() const { return shouldCommentWithShare_; }
    void setShouldCommentWithShare(bool v) { shouldCommentWithShare_ = v; }
    bool shouldCommentWithLocation() const { return shouldCommentWithLocation_; }
    void setShouldCommentWithLocation(bool v) { shouldCommentWithLocation_ = v; }
    bool shouldShareSynchronous() const { return shouldShareSynchronous_; }
    void setShouldShareSynchronous(bool v) { shouldShareSynchronous_ = v; }

    const platform::Color& defaultColor() const { return defaultColor_; }
    void setDefaultColor(platform::Color color) { defaultColor_ = color; }

    bool supportSinaSSO() const { return supportSinaSSO_; }
    void setSupportSinaSSO(bool v) { supportSinaSSO_ = v; }
    bool supportTencentSSO() const { return supportTencentSSO_; }
    void setSupportTencentSSO(bool v) { supportTencentSSO_ = v; }
    bool supportQzoneSSO() const { return supportQzoneSSO_; }
    void setSupportQzoneSSO(bool v) { supportQzoneSSO_ = v; }

    // 0 after a login tap, 1 after a share tap.
    int qqType() const { return qqType_; }
    void setQqType(int type) { qqType_ = type; }
    bool shareQzoneWithQQSDK() const { return shareQzoneWithQQSDK_; }
    void setShareQzoneWithQQSDK(bool v) { shareQzoneWithQQSDK_ = v; }

    int socialTheme() const { return socialTheme_; }
    // Stores the theme and installs its blocks: theme 0 the dark bar and grid, any other the
    // light bar and cells; the block the theme does not name is left as it was.
    void setSocialTheme(int theme);

    const RAZududeGridViewConfig& gridViewConfig() const { return gridViewConfig_; }
    void setGridViewConfig(RAZududeGridViewConfig config) { gridViewConfig_ = std::move(config); }
    const RAZududeNavigationBarConfig& navigationbarConfig() const { return navigationbarConfig_; }
    void setNavigationbarConfig(RAZududeNavigationBarConfig config) {
        navigationbarConfig_ = std::move(config);
    }
    const RAZududeTableViewCellConfig& tableViewCellConfig() const { return tableViewCellConfig_; }
    void setTableViewCellConfig(RAZududeTableViewCellConfig config) {
        tableViewCellConfig_ = std::move(config);
    }

    bool shouldShowAllPlatforms() const { return shouldShowAllPlatforms_; }
    void setShouldShowAllPlatforms(bool v) { shouldShowAllPlatforms_ = v; }

    const std::optional<std::vector<std::string>>& showSnsPlatforms() const {
        return showSnsPlatforms_;
    }
    void setShowSnsPlatforms(std::optional<std::vector<std::string>> names) {
        showSnsPlatforms_ = std::move(names);
    }
    const std::optional<std::vector<std::string>>& hiddenSnsPlatforms() const {
        return hiddenSnsPlatforms_;
    }
    void setHiddenSnsPlatforms(std::optional<std::vector<std::string>> names) {
        hiddenSnsPlatforms_ = std::move(names);
    }

    // The theme blocks, for those who install them by hand; empty until the screens installed
    // their theme maker (RAZududeScreenHooks).
    static RAZududeNavigationBarConfig darkNavigationBarConfig();   // theme 0
    static RAZududeGridViewConfig darkGridViewConfig();             // theme 0
    static RAZududeNavigationBarConfig lightNavigationBarConfig();  // other themes
    static RAZududeTableViewCellConfig lightTableViewCellConfig();  // other themes

    // The screens' theme maker came: a theme installed before it gets its blocks now.
    static void themeMakerInstalled();

  private:
    friend class platform::NoDestructor<RAZududeConfigInternal>;
    RAZududeConfigInternal();
    template <class, auto>
    friend class platform::ScopedStateForTesting;
    // Copies are for ScopedStateForTesting only.
    RAZududeConfigInternal(const RAZududeConfigInternal&) = default;
    RAZududeConfigInternal& operator=(const RAZududeConfigInternal&) = default;
    void installTheme(int theme);

    inline static bool instanceMade_ = false;

    platform::Rect boundsForiPad_;
    platform::Array snsPlatformNames_;
    unsigned socialInterfaceOrientations_ = 0;
    std::optional<platform::Map> followSnsUids_;
    bool shouldCommentWithShare_ = false;
    bool shouldCommentWithLocation_ = false;
    bool shouldShareSynchronous_ = false;
    platform::Color defaultColor_;
    bool supportSinaSSO_ = false;
    bool supportTencentSSO_ = false;
    bool supportQzoneSSO_ = false;
    int qqType_ = 0;
    bool shareQzoneWithQQSDK_ = false;
    int socialTheme_ = 0;
    // The theme was installed while no theme maker was there to give its blocks.
    bool themePending_ = false;
    RAZududeGridViewConfig gridViewConfig_;
    RAZududeNavigationBarConfig navigationbarConfig_;
    RAZududeTableViewCellConfig tableViewCellConfig_;
    bool shouldShowAllPlatforms_ = false;
    std::optional<std::vector<std::string>> showSnsPlatforms_;
    std::optional<std::vector<std::string>> hiddenSnsPlatforms_;
};
