#include "SocialSDK/ui/toast/RAZududeToastSettings.h"
#include "platform/NoDestructor.h"

RAZududeToastSettings& RAZududeToastSettings::getSharedSettings() {
    static platform::NoDestructor<RAZududeToastSettings> shared;
    return *shared;
}

std::unique_ptr<RAZududeToastSettings> RAZududeToastSettings::copy() const {
    auto copied = std::make_unique<RAZududeToastSettings>();
    copied->gravity_ = gravity_;
    copied->duration_ = duration_;
    copied->postition_ = postition_;
    copied->isHidden_ = isHidden_;
    return copied;
}
