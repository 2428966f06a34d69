// Short, self-dismissing notices over the application's first window: the share finished, an
// account is being requested, the platform handlers' results.
//
//     RAZududeToast::makeText("发送成功")->setDuration(2000).show();
//
// A toast is a black, rounded, 60 % opaque button holding the text in white. At most one toast
// view lives in a window: showing another replaces it. It fades in, stays for its duration,
// then fades out and stays in the window, transparent, until removeToast or the next toast
// takes it away; a touch on it fades it out at once. Main thread only.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "SocialSDK/ui/toast/RAZududeToastSettings.h"
#include "platform/graphics/Geometry.h"
#include "platform/ui/Button.h"

class RAZududeToast {
  public:
    // The tag of the toast view in its window.
    static constexpr int kViewTag = 6984678;
    // The toast type that has no image; `show` shows this type.
    static constexpr std::int32_t kTypeNoImage = -99996;

    static std::shared_ptr<RAZududeToast> makeText(std::string text);
    explicit RAZududeToast(std::string text);
    RAZududeToast(const RAZududeToast&) = delete;
    RAZududeToast& operator=(const RAZududeToast&) = delete;

    const std::string& text() const { return text_; }

    // The toast's own settings: on first use a copy of the shared settings, kept from then on,
    // so that later changes of the shared settings do not reach this toast.
    RAZududeToastSettings& theSettings();

    // Each writes into the toast's own settings (the offsets into the toast) and answers the
    // toast, so that a caller can make, configure and show in one expression.
    RAZududeToast& setDuration(std::int64_t milliseconds);
    RAZududeToast& setGravity(std::int32_t gravity);
    RAZududeToast& setGravity(std::int32_t gravity, std::int64_t offsetLeft,
                              std::int64_t offsetTop);
    RAZududeToast& setPostion(platform::Point position);

    // Points added to the computed centre.
    std::int64_t offsetLeft() const { return offsetLeft_; }
    std::int64_t offsetTop() const { return offsetTop_; }

    // Shows nothing while the configuration hides status tips or the toast's settings are
    // hidden; otherwise shows the toast without an image.
    void show();
    // Builds the toast view, places it by the settings (the toast's own, else the shared
    // ones) in the application's first window, fades it in and starts its timer. Without a
    // window nothing is shown.
    void show(std::int32_t type);
    // Fades the toast view out; it stays in the window, transparent.
    void hideToast();
    // Takes the toast view out of its window at once.
    void removeToast();

    // The toast view once shown.
    const std::shared_ptr<platform::Button>& view() const { return view_; }

  private:
    std::string text_;
    std::unique_ptr<RAZududeToastSettings> settings_;
    std::int64_t offsetLeft_ = 0;
    std::int64_t offsetTop_ = 0;
    std::shared_ptr<platform::Button> view_;
};
