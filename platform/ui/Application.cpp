#include "platform/ui/Application.h"

#include <algorithm>
#include <cctype>

#include "platform/Device.h"
#include "platform/NoDestructor.h"
#include "platform/ui/Alert.h"
#include "platform/ui/Keyboard.h"
#include "platform/ui/Screen.h"
#include "platform/ui/ViewController.h"
#include "platform/ui/Window.h"

namespace platform {

namespace {

const std::set<std::string>& defaultSchemes() {
    static const NoDestructor<std::set<std::string>> schemes(
        std::set<std::string>{"http", "https", "sms", "mailto", "tel"});
    return *schemes;
}

std::string schemeOf(const std::string& url) {
    auto colon = url.find(':');
    if (colon == std::string::npos || colon == 0) {
        return {};
    }
    std::string scheme = url.substr(0, colon);
    bool valid = std::isalpha(static_cast<unsigned char>(scheme[0])) &&
                 std::all_of(scheme.begin(), scheme.end(), [](unsigned char c) {
                     return std::isalnum(c) || c == '+' || c == '-' || c == '.';
                 });
    if (!valid) {
        return {};
    }
    std::transform(scheme.begin(), scheme.end(), scheme.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return scheme;
}

}  // namespace

Application& Application::shared() {
    static NoDestructor<Application> app;
    return *app;
}

Application::Application() : schemes_(defaultSchemes()) {}

std::vector<std::shared_ptr<Window>> Application::windows() const {
    std::vector<std::shared_ptr<Window>> live;
    for (const auto& weak : windows_) {
        if (auto w = weak.lock()) {
            live.push_back(std::move(w));
        }
    }
    return live;
}

std::shared_ptr<Window> Application::keyWindow() const {
    return keyWindow_.lock();
}

void Application::addWindow(const std::shared_ptr<Window>& window) {
    std::erase_if(windows_, [](const auto& weak) { return weak.expired(); });
    windows_.push_back(window);
}

void Application::setKeyWindow(const std::shared_ptr<Window>& window) {
    keyWindow_ = window;
}

int Application::statusBarOrientation() const {
    // Device and interface orientations share their numbers (a device turned to the left
    // shows the interface turned to the right, both 3).
    int device = static_cast<int>(currentDevice().orientation);
    if (device >= kOrientationPortrait && device <= kOrientationLandscapeLeft) {
        orientation_ = device;
    }
    return orientation_;
}

void Application::setStatusBarOrientation(int orientation) {
    if (orientation >= kOrientationPortrait && orientation <= kOrientationLandscapeLeft) {
        orientation_ = orientation;
        DeviceProfile device = currentDevice();
        device.orientation = static_cast<DeviceOrientation>(orientation);
        setCurrentDevice(device);
    }
}

Rect Application::statusBarFrame() const {
    if (statusBarHidden_) {
        return {};
    }
    return {0, 0, Screen::main().bounds().size.width, Screen::kStatusBarHeight};
}

bool Application::rotateTo(int orientation) {
    if (orientation < kOrientationPortrait || orientation > kOrientationLandscapeLeft ||
        orientation == statusBarOrientation()) {
        return false;
    }
    auto key = keyWindow();
    std::shared_ptr<ViewController> root = key ? key->rootViewController() : nullptr;
    // The controller on top (the presented one, if any) decides.
    std::shared_ptr<ViewController> top = root;
    while (top && top->presentedViewController()) {
        top = top->presentedViewController();
    }
    if (top && (!top->shouldAutorotate() ||
                !(top->supportedInterfaceOrientations() & (1u << orientation)) ||
                !top->shouldAutorotateToInterfaceOrientation(orientation))) {
        return false;
    }
    int from = statusBarOrientation();
    std::vector<std::shared_ptr<ViewController>> chain;
    for (auto c = root; c; c = c->presentedViewController()) {
        chain.push_back(c);
    }
    for (auto& c : chain) {
        c->willRotateToInterfaceOrientation(orientation, ViewController::kTransitionDuration);
    }
    setStatusBarOrientation(orientation);
    for (auto& w : windows()) {
        w->setFrame(Screen::main().bounds());
    }
    Keyboard::shared().update();
    for (auto& c : chain) {
        c->didRotateFromInterfaceOrientation(from);
    }
    return true;
}

bool Application::canOpenUrl(const std::string& url) const {
    std::string scheme = schemeOf(url);
    return !scheme.empty() && schemes_.count(scheme) > 0;
}

bool Application::openUrl(const std::string& url) {
    openedUrls_.push_back(url);
    return canOpenUrl(url);
}

void Application::registerUrlScheme(const std::string& scheme) {
    std::string s = schemeOf(scheme + ":");
    if (!s.empty()) {
        schemes_.insert(s);
    }
}

void Application::unregisterUrlScheme(const std::string& scheme) {
    schemes_.erase(schemeOf(scheme + ":"));
}

std::shared_ptr<View> Application::tap(Point p) {
    auto key = keyWindow();
    return key ? key->tap(p) : nullptr;
}

void Application::updateDisplay() {
    Window::updateAll();
}

void Application::reset() {
    ModalPanel::dismissAll();
    for (auto& w : windows()) {
        if (auto responder = w->firstResponder()) {
            responder->resignFirstResponder();
        }
    }
    Keyboard::shared().reset();
    statusBarHidden_ = false;
    networkActivity_ = false;
    openedUrls_.clear();
    schemes_ = defaultSchemes();
    composedMessages_.clear();
    delegate_.reset();
    keyWindow_.reset();
}

}  // namespace platform
