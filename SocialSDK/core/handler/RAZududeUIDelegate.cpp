#include "SocialSDK/core/handler/RAZududeUIDelegate.h"

#include "platform/TaskGuard.h"

namespace rz_ui_delegate {

std::optional<bool> closeOauthWebViewController(
    const std::shared_ptr<RAZududeUIDelegate>& delegate,
    const std::shared_ptr<platform::NavigationController>& navigationController,
    const std::shared_ptr<RAZududeScreenHost>& service) {
    std::optional<bool> answer;
    if (delegate) {
        platform::runGuarded("the UI delegate's closeOauthWebViewController", [&] {
            answer = delegate->closeOauthWebViewController(navigationController, service);
        });
    }
    return answer;
}

void didCloseUIViewController(const std::shared_ptr<RAZududeUIDelegate>& delegate,
                              int viewControllerType) {
    if (delegate) {
        platform::runGuarded("the UI delegate's didCloseUIViewController",
                             [&] { delegate->didCloseUIViewController(viewControllerType); });
    }
}

void didFinishGetRAZududeDataInViewController(const std::shared_ptr<RAZududeUIDelegate>& delegate,
                                              const RAZududeResponsePtr& response) {
    if (delegate) {
        platform::runGuarded("the UI delegate's didFinishGetRAZududeDataInViewController",
                             [&] { delegate->didFinishGetRAZududeDataInViewController(response); });
    }
}

void didSelectSocialPlatform(const std::shared_ptr<RAZududeUIDelegate>& delegate,
                             const std::string& platformName,
                             const std::shared_ptr<RAZududeData>& socialData) {
    if (delegate) {
        platform::runGuarded("the UI delegate's didSelectSocialPlatform",
                             [&] { delegate->didSelectSocialPlatform(platformName, socialData); });
    }
}

bool isDirectShareInIconActionSheet(const std::shared_ptr<RAZududeUIDelegate>& delegate) {
    bool direct = false;
    if (delegate) {
        platform::runGuarded("the UI delegate's isDirectShareInIconActionSheet",
                             [&] { direct = delegate->isDirectShareInIconActionSheet(); });
    }
    return direct;
}

}  // namespace rz_ui_delegate
