#include "share_handlers/ShareHandlers.h"

#include "SocialSDK/core/handler/RAZududeHandlerRegistry.h"
#include "share_handlers/RAZududeFacebookSnsHandler.h"
#include "share_handlers/RAZududeMailHandler.h"
#include "share_handlers/RAZududeQQHandler.h"
#include "share_handlers/RAZududeSinaSSOHandler.h"
#include "share_handlers/RAZududeWechatHandler.h"

void registerShareHandlers() {
    RAZududeHandlerRegistry::registerHandlerClass(
        "RAZududeWechatHandler", [] { return RAZududeWechatHandler::shareInstance(); });
    RAZududeHandlerRegistry::registerHandlerClass(
        "RAZududeQQHandler", [] { return RAZududeQQHandler::shareInstance(); });
    RAZududeHandlerRegistry::registerHandlerClass(
        "RAZududeSinaSSOHandler", [] { return RAZududeSinaSSOHandler::shareInstance(); });
    RAZududeHandlerRegistry::registerHandlerClass(
        "RAZududeFacebookSnsHandler", [] { return RAZududeFacebookSnsHandler::shareInstance(); });
    RAZududeHandlerRegistry::registerHandlerClass(
        "RAZududeMailHandler", [] { return RAZududeMailHandler::shareInstance(); });
}
