// The least an app does to share: it sets the SDK up, shows its own screen, slides the
// platform icon sheet up over it and writes what the window shows to a PNG.
//
//     share_app [PNG]     (default: share_app.png)
#include <cstdio>
#include <memory>
#include <string>

#include "SocialSDK/core/config/RAZududeConfig.h"
#include "SocialSDK/core/data/RAZududeData.h"
#include "SocialSDK/core/handler/RAZududeUIDelegate.h"
#include "SocialSDK/ui/service/RAZududeSnsService.h"
#include "SocialSDK/ui/sheet/RAZududeIconActionSheet.h"
#include "SocialSDK/ui/startup/SocialUI.h"
#include "platform/MainLoop.h"
#include "platform/render/Renderer.h"
#include "platform/ui/Application.h"
#include "platform/ui/Label.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/Window.h"
#include "share_handlers/ShareHandlers.h"

namespace {

// The key the share service gave the app.
constexpr const char* kAppKey = "your-appkey";

class Delegate : public RAZududeUIDelegate {
  public:
    void didSelectSocialPlatform(const std::string& platformName,
                                 const std::shared_ptr<RAZududeData>&) override {
        std::printf("selected %s\n", platformName.c_str());
    }
};

class HomeScreen : public platform::ViewController {
  public:
    HomeScreen() { setTitle("My App"); }

    void viewDidLoad() override {
        view()->setBackgroundColor(platform::Color::white());
        auto label = std::make_shared<platform::Label>(
            platform::Rect(20, 100, view()->bounds().width() - 40, 30));
        label->setText("Something worth sharing");
        view()->addSubview(label);
    }
};

void settle(double seconds) {
    platform::MainLoop::main().advance(seconds);
    platform::Application::shared().updateDisplay();
}

}  // namespace

int main(int argc, char** argv) {
    const std::string png = argc > 1 ? argv[1] : "share_app.png";

    // Once, at start-up: the app's key, the screens, the platform handlers, the platforms to
    // offer.
    RAZududeData::setAppKey(kAppKey);
    installSocialUI();
    registerShareHandlers();
    RAZududeConfig::setSnsPlatformNames(
        {"qzone", "tencent", "renren", "douban", "email", "sms", "facebook", "twitter"});

    platform::MainLoop::main().setManualClock(true);
    auto window = platform::Window::make();
    auto home = std::make_shared<HomeScreen>();
    window->setRootViewController(std::make_shared<platform::NavigationController>(home));
    window->makeKeyAndVisible();
    settle(0);

    auto delegate = std::make_shared<Delegate>();
    RAZududeSnsService::presentSnsIconSheetView(home, kAppKey, "Something worth sharing", nullptr,
                                                std::nullopt, delegate);
    settle(platform::ViewController::kTransitionDuration + 0.1);
    if (!window->viewWithTagAs<RAZududeIconActionSheet>(1013)) {
        std::fprintf(stderr, "share_app: the icon sheet did not show\n");
        return 1;
    }

    platform::Error error;
    if (!platform::Renderer::writeWindowPng(*window, png, &error)) {
        std::fprintf(stderr, "share_app: cannot write %s: %s\n", png.c_str(),
                     error.localizedDescription().c_str());
        return 1;
    }
    std::printf("wrote %s\n", png.c_str());
    return 0;
}
