#include "share_handlers/HandlerPlatforms.h"

#include "SocialSDK/core/config/RAZududeLocalizable.h"

std::shared_ptr<RAZududeSnsPlatform> makeHandlerPlatform(const std::string& name, int type,
                                                         const char* displayKey,
                                                         const char* displayText,
                                                         const char* iconStem) {
    auto platform = RAZududeSnsPlatform::initWithPlatformName(name);
    platform->setShareToType(type);
    platform->setDisplayName(RAZududeLocalizedString(displayKey, displayText));
    platform->setLoginName(platform->displayName());
    std::string folder = std::string("RAZududeSDKResourcesNew.bundle/SnsPlatform/") + iconStem;
    platform->setBigImageName(folder + "_icon");
    platform->setSmallImageName(folder + "_on");
    platform->setSmallImageOffName(folder + "_off");
    return platform;
}
