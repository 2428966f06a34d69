#include "SocialSDK/ui/helper/RAZududeUIHelper.h"

#include <algorithm>

#include "SocialSDK/core/config/RAZududeConfig.h"
#include "platform/Bundle.h"
#include "platform/NoDestructor.h"
#include "platform/graphics/Font.h"
#include "platform/graphics/Image.h"
#include "platform/ui/Application.h"
#include "platform/ui/Label.h"
#include "platform/ui/Window.h"

using platform::Button;
using platform::Color;
using platform::Font;
using platform::ImagePtr;
using platform::NavigationBar;
using platform::Rect;

namespace {

constexpr Rect kButtonFrame{0, 0, 50, 30};
constexpr double kTitleFontSize = 18;

constexpr const char* kBarBackground = "RAZududeSDKResourcesNew.bundle/Buttons/RZS_nav_bar_bg";
constexpr const char* kBarBackgroundWhite =
    "RAZududeSDKResourcesNew.bundle/Buttons/RZS_nav_bar_bg_white";
constexpr const char* kBackImage = "RAZududeSDKResourcesNew.bundle/Buttons/RZS_nav_button_back";
constexpr const char* kBackNormal =
    "RAZududeSDKResourcesNew.bundle/OtherTheme/RZS_nav_back_button_normal";
constexpr const char* kBackTap =
    "RAZududeSDKResourcesNew.bundle/OtherTheme/RZS_nav_back_button_tap";
constexpr const char* kSendImage = "RAZududeSDKResourcesNew.bundle/Buttons/RZS_nav_button_send";
constexpr const char* kRefreshImage =
    "RAZududeSDKResourcesNew.bundle/Buttons/RZS_nav_button_refresh";
constexpr const char* kCloseImage = "RAZududeSDKResourcesNew.bundle/Buttons/RZS_nav_button_close";

bool defaultTheme() {
    return RAZududeConfigInternal::shareInstance().socialTheme() == 1;
}

// A png of the main bundle read from its file; null when it is missing.
ImagePtr bundleImage(const char* name) {
    auto path = platform::Bundle::mainBundle().pathForResource(name, "png");
    return path ? platform::Image::fromFile(*path) : nullptr;
}

// A button styled with one image for the normal state (theme 1 only).
void imageButton(Button& button, const char* image) {
    button.setFrame(kButtonFrame);
    if (defaultTheme()) {
        button.setImage(bundleImage(image), platform::kControlStateNormal);
    }
}

}  // namespace

RAZududeUIHelper& RAZududeUIHelper::shareInstance() {
    static platform::NoDestructor<RAZududeUIHelper> helper;
    return *helper;
}

// ---- navigation bars -------------------------------------------------------------------

void RAZududeUIHelper::customNavBar(NavigationBar& bar) {
    setTranslucent(bar);
    if (defaultTheme()) {
        platform::TitleTextAttributes attributes;
        attributes.textColor = kTitleColor;
        attributes.font = Font::system(kTitleFontSize);
        attributes.textShadowOffset = platform::Size{0, 0};
        bar.setTitleTextAttributes(attributes);
        bar.setBackgroundImage(platform::Image::named(kBarBackgroundWhite),
                               platform::BarMetrics::kDefault);
    } else {
        bar.setBackgroundImage(bundleImage(kBarBackground), platform::BarMetrics::kDefault);
    }
}

void RAZududeUIHelper::forgetGoneBars() {
    std::erase_if(records_, [](const Record& r) { return r.tracked && r.alive.expired(); });
}

RAZududeUIHelper::Record* RAZududeUIHelper::recordFor(const NavigationBar& bar) {
    forgetGoneBars();
    auto it = std::find_if(records_.begin(), records_.end(),
                           [&](const Record& r) { return r.bar == &bar; });
    return it == records_.end() ? nullptr : &*it;
}

const RAZududeUIHelper::Record* RAZududeUIHelper::recordFor(const NavigationBar& bar) const {
    auto it = std::find_if(records_.begin(), records_.end(), [&](const Record& r) {
        return r.bar == &bar && !(r.tracked && r.alive.expired());
    });
    return it == records_.end() ? nullptr : &*it;
}

bool RAZududeUIHelper::isSetTranslucent(const NavigationBar& bar) const {
    return recordFor(bar) != nullptr;
}

void RAZududeUIHelper::setTranslucent(NavigationBar& bar) {
    auto& helper = shareInstance();
    Record* record = helper.recordFor(bar);
    if (!record) {
        // Only the first styling sees the bar's own value: later ones find it opaque already.
        Record fresh;
        fresh.bar = &bar;
        fresh.alive = bar.weak_from_this();
        fresh.tracked = !fresh.alive.expired();
        fresh.translucent = bar.isTranslucent();
        helper.records_.push_back(fresh);
        record = &helper.records_.back();
    }
    helper.isTranslucent_ = record->translucent;
    bar.setTranslucent(false);
}

void RAZududeUIHelper::setNavigationBarTranslucent(NavigationBar& bar) {
    auto& helper = shareInstance();
    Record* record = helper.recordFor(bar);
    if (!record) {
        return;
    }
    bool translucent = record->translucent;
    std::erase_if(helper.records_, [&](const Record& r) { return r.bar == &bar; });
    if (translucent) {
        bar.setTranslucent(true);
        bar.setBackgroundImage(nullptr, platform::BarMetrics::kDefault);
    }
}

void RAZududeUIHelper::customNavigationItem(platform::NavigationItem& item) {
    auto label = std::make_shared<platform::Label>(Rect{0, 0, 150, 30});
    label->setTextColor(kTitleColor);
    const Font font = Font::system(kTitleFontSize);
    label->setFont(font);
    label->setBackgroundColor(Color::clear());
    label->setFrame({{0, 0}, platform::measureText(item.title(), font)});
    label->setText(item.title());
    item.setTitleView(label);
}

// ---- buttons ---------------------------------------------------------------------------

void RAZududeUIHelper::customNavBackButton(Button& button, const std::string& title) {
    button.setFrame(kButtonFrame);
    if (defaultTheme()) {
        button.setImage(bundleImage(kBackImage), platform::kControlStateNormal);
        return;
    }
    auto stretch = [](ImagePtr image) { return image ? image->stretchable(16, 10) : nullptr; };
    button.setBackgroundImage(stretch(bundleImage(kBackNormal)), platform::kControlStateNormal);
    button.setBackgroundImage(stretch(bundleImage(kBackTap)), platform::kControlStateHighlighted);
    button.titleLabel().setFont(Font::boldSystem(13));
    button.setTitle(title, platform::kControlStateNormal);
    button.setTitle(title, platform::kControlStateHighlighted);
    button.setTitleEdgeInsets({0, 6, 0, 0});
}

void RAZududeUIHelper::customNavPostButton(Button& button) {
    if (defaultTheme()) {
        imageButton(button, kSendImage);
    } else {
        customNavButton(button, {});
    }
}

void RAZududeUIHelper::customNavRefreshButton(Button& button) {
    if (defaultTheme()) {
        imageButton(button, kRefreshImage);
    } else {
        customNavButton(button, {});
    }
}

void RAZududeUIHelper::customNavButton(Button& button, const std::string& title) {
    (void)title;  // the close button shows its image only
    imageButton(button, kCloseImage);
}

// ---- the shared HUD --------------------------------------------------------------------

void RAZududeUIHelper::showHUD() {
    if (RAZududeConfig::shareInstance().hiddenLoadingHUD()) {
        hideHUD();
        return;
    }
    auto windows = platform::Application::shared().windows();
    if (windows.empty()) {
        return;
    }
    const auto& window = windows.front();
    auto& helper = shareInstance();
    if (!helper.hud_) {
        helper.hud_ = RAZududeTkProgressHUD::withWindow(window.get());
    }
    window->addSubview(helper.hud_);
    helper.hud_->show(true);
}

void RAZududeUIHelper::hideHUD() {
    if (auto& hud = shareInstance().hud_) {
        hud->hide(true);
    }
}
