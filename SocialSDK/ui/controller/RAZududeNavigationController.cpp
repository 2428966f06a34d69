#include "SocialSDK/ui/controller/RAZududeNavigationController.h"

#include "SocialSDK/core/config/RAZududeConfig.h"

unsigned RAZududeNavigationController::supportedInterfaceOrientations() {
    return RAZududeConfigInternal::shareInstance().socialInterfaceOrientations();
}
