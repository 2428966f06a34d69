#include "SocialSDK/core/config/RAZududeLocalizable.h"

#include "platform/Bundle.h"

std::string RAZududeLocalizedString(std::string_view key, std::string_view defaultText) {
    return platform::Bundle::mainBundle().localizedString(key, defaultText, "RAZududeLocalizable");
}
