#include "platform/ui/Screen.h"

#include "platform/Device.h"
#include "platform/NoDestructor.h"
#include "platform/ui/Application.h"

namespace platform {

Screen& Screen::main() {
    static NoDestructor<Screen> screen;
    return *screen;
}

Size Screen::portraitSize() const {
    DeviceProfile device = currentDevice();
    return {device.screenWidth, device.screenHeight};
}

double Screen::scale() const {
    double s = currentDevice().screenScale;
    return s > 0 ? s : 1;
}

Rect Screen::bounds() const {
    Size size = portraitSize();
    if (isLandscape(Application::shared().statusBarOrientation())) {
        return {0, 0, size.height, size.width};
    }
    return {0, 0, size.width, size.height};
}

Rect Screen::applicationFrame() const {
    Rect b = bounds();
    if (Application::shared().isStatusBarHidden()) {
        return b;
    }
    return {0, kStatusBarHeight, b.size.width, b.size.height - kStatusBarHeight};
}

}  // namespace platform
