#include "SocialSDK/ui/toast/RAZududeToast.h"

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <numbers>

#include "SocialSDK/core/config/RAZududeConfig.h"
#include "platform/Device.h"
#include "platform/MainLoop.h"
#include "platform/ui/Application.h"
#include "platform/ui/Label.h"
#include "platform/ui/Window.h"

using platform::Color;
using platform::Point;
using platform::Rect;
using platform::Size;
using platform::View;

namespace {

constexpr double kFontSize = 16;
constexpr Size kTextBox{280, 60};
constexpr double kEdgeDistance = 45;
constexpr double kCornerRadius = 8;

void fadeOut(View& view) {
    View::animate(View::kDefaultAnimationDuration, [&view] { view.setAlpha(0); });
}

Point basePoint(std::int32_t gravity, Point top, Point bottom, Point centre, Point other) {
    switch (gravity) {
        case kRAZududeToastGravityTop:
            return top;
        case kRAZududeToastGravityBottom:
            return bottom;
        case kRAZududeToastGravityCenter:
            return centre;
        default:
            return other;
    }
}

}  // namespace

std::shared_ptr<RAZududeToast> RAZududeToast::makeText(std::string text) {
    return std::make_shared<RAZududeToast>(std::move(text));
}

RAZududeToast::RAZududeToast(std::string text) : text_(std::move(text)) {}

RAZududeToastSettings& RAZududeToast::theSettings() {
    if (!settings_) {
        settings_ = RAZududeToastSettings::getSharedSettings().copy();
    }
    return *settings_;
}

RAZududeToast& RAZududeToast::setDuration(std::int64_t milliseconds) {
    theSettings().setDuration(milliseconds);
    return *this;
}

RAZududeToast& RAZududeToast::setGravity(std::int32_t gravity) {
    theSettings().setGravity(gravity);
    return *this;
}

RAZududeToast& RAZududeToast::setGravity(std::int32_t gravity, std::int64_t offsetLeft,
                                         std::int64_t offsetTop) {
    theSettings().setGravity(gravity);
    offsetLeft_ = offsetLeft;
    offsetTop_ = offsetTop;
    return *this;
}

RAZududeToast& RAZududeToast::setPostion(Point position) {
    theSettings().setPostition(position);
    return *this;
}

void RAZududeToast::show() {
    // The configuration is asked first: making it sets the shared gravity that the toast's
    // own settings are then copied from.
    if (RAZududeConfig::shareInstance().hiddenStatusTip()) {
        hideToast();
        return;
    }
    if (theSettings().isHidden()) {
        return;
    }
    show(kTypeNoImage);
}

void RAZududeToast::show(std::int32_t type) {
    // The type picks an image from the settings' images; none are ever configured, so every
    // toast shows its text alone.
    (void)type;
    auto windows = platform::Application::shared().windows();
    if (windows.empty()) {
        return;  // nowhere to show it
    }
    const auto& window = windows.front();
    const RAZududeToastSettings& settings =
        settings_ ? *settings_ : RAZududeToastSettings::getSharedSettings();

    const platform::Font font = platform::Font::system(kFontSize);
    const Size textSize = platform::measureText(text_, font, kTextBox);

    auto label =
        std::make_shared<platform::Label>(Rect{0, 0, textSize.width + 20, textSize.height + 8});
    label->setBackgroundColor(Color::clear());
    label->setTextColor(Color::white());
    label->setFont(font);
    label->setText(text_);
    label->setNumberOfLines(0);
    label->setShadowColor(Color::darkGray());
    label->setShadowOffset({1, 1});
    label->setTextAlignment(platform::TextAlignment::kCenter);

    auto toast = platform::Button::withType(platform::ButtonType::kCustom);
    toast->setFrame({0, 0, textSize.width + 40, textSize.height + 16});
    label->setCenter({toast->bounds().width() / 2, toast->bounds().height() / 2});
    Rect placed = label->frame();
    label->setFrame(
        {std::ceil(placed.minX()), std::ceil(placed.minY()), placed.width(), placed.height()});
    toast->addSubview(label);
    toast->setBackgroundColor(Color::black().withAlpha(0.6));
    toast->layer().setCornerRadius(kCornerRadius);

    const int orientation = platform::Application::shared().statusBarOrientation();

    const Rect frame = window->frame();
    const double W = frame.width(), H = frame.height();
    const double L = static_cast<double>(offsetLeft_), T = static_cast<double>(offsetTop_);
    const Point P = settings.postition();
    const std::int32_t gravity = settings.gravity();
    const double systemVersion =
        std::strtod(platform::currentDevice().systemVersion.c_str(), nullptr);
    // Before 8.0 a window stays in portrait whatever the interface does, so the toast turns
    // with the interface and is placed in the window's portrait coordinates.
    Point centre;
    if (orientation == platform::kOrientationPortrait || systemVersion >= 8.0) {
        centre = basePoint(gravity, {W / 2, kEdgeDistance}, {W / 2, H - kEdgeDistance},
                           {W / 2, H / 2}, P) +
                 Point{L, T};
    } else if (orientation == platform::kOrientationPortraitUpsideDown) {
        toast->setTransform(platform::AffineTransform::rotation(std::numbers::pi));
        centre = basePoint(gravity, {W / 2, H - kEdgeDistance}, {W / 2, kEdgeDistance},
                           {W / 2, H / 2}, P) -
                 Point{L, T};
    } else if (orientation == platform::kOrientationLandscapeRight) {
        toast->setTransform(platform::AffineTransform::rotation(std::numbers::pi / 2));
        Point base = basePoint(gravity, {W - kEdgeDistance, H / 2}, {kEdgeDistance, H / 2},
                               {W / 2, H / 2}, P);
        centre = {base.x - T, base.y - L};
    } else {
        toast->setTransform(platform::AffineTransform::rotation(-std::numbers::pi / 2));
        Point base = basePoint(gravity, {kEdgeDistance, H / 2}, {W - kEdgeDistance, H / 2},
                               {W / 2, H / 2}, P);
        centre = {base.x + T, base.y + L};
    }
    toast->setCenter(centre);

    // The timer holds the view, not the toast: a toast let go after show still goes away.
    std::shared_ptr<View> shown = toast;
    platform::MainLoop::main().after(std::chrono::milliseconds(settings.duration()),
                                     [shown] { fadeOut(*shown); });

    toast->setTag(kViewTag);
    for (auto previous = window->viewWithTag(kViewTag); previous && previous != window;
         previous = window->viewWithTag(kViewTag)) {
        previous->removeFromSuperview();
    }
    toast->setAlpha(0);
    window->addSubview(toast);
    View::animate(View::kDefaultAnimationDuration, [&toast] { toast->setAlpha(1); });

    view_ = toast;
    toast->addTarget([](platform::Control& sender) { fadeOut(sender); },
                     platform::kControlEventTouchDown);
}

void RAZududeToast::hideToast() {
    if (view_) {
        fadeOut(*view_);
    }
}

void RAZududeToast::removeToast() {
    if (view_) {
        view_->removeFromSuperview();
    }
}
