// How a toast looks and where it goes. One shared settings object carries the application's
// defaults; every toast that is configured works on its own copy of it.
//
// Main thread only, like the toasts.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "SocialSDK/core/config/RAZududeToastGravity.h"
#include "platform/graphics/Geometry.h"
#include "platform/graphics/Image.h"

enum RAZududeToastImageLocation : std::int32_t {
    kRAZududeToastImageLocationTop = 0,
    kRAZududeToastImageLocationLeft = 1,
};

class RAZududeToastSettings {
  public:
    // Centred, one second, shown.
    RAZududeToastSettings() = default;
    RAZududeToastSettings(const RAZududeToastSettings&) = delete;
    RAZududeToastSettings& operator=(const RAZududeToastSettings&) = delete;

    // The application-wide defaults, made on first use; the same object ever after. Main
    // thread only.
    static RAZududeToastSettings& getSharedSettings();

    // A new settings object with this one's gravity, duration, position and hidden flag; it
    // has no images and the default image location.
    std::unique_ptr<RAZududeToastSettings> copy() const;

    // How long the toast stays fully visible, in milliseconds.
    std::int64_t duration() const { return duration_; }
    void setDuration(std::int64_t milliseconds) { duration_ = milliseconds; }
    std::int32_t gravity() const { return gravity_; }
    void setGravity(std::int32_t gravity) { gravity_ = gravity; }
    // The toast's centre when the gravity is none of the three known values.
    platform::Point postition() const { return postition_; }
    void setPostition(platform::Point position) { postition_ = position; }
    // Images by toast type ("%i" of the type). Nothing fills it: toasts show text only.
    const std::map<std::string, platform::ImagePtr>& images() const { return images_; }
    std::int32_t imageLocation() const { return imageLocation_; }
    void setImageLocation(std::int32_t location) { imageLocation_ = location; }
    // A hidden settings object makes `show` show nothing.
    bool isHidden() const { return isHidden_; }
    void setIsHidden(bool hidden) { isHidden_ = hidden; }

  private:
    std::int64_t duration_ = 1000;
    std::int32_t gravity_ = kRAZududeToastGravityCenter;
    platform::Point postition_;
    std::map<std::string, platform::ImagePtr> images_;
    std::int32_t imageLocation_ = kRAZududeToastImageLocationTop;
    bool isHidden_ = false;
};
