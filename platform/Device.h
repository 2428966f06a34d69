// The device the program believes it runs on: what the share service reads to describe the
// device to its server (model, system, screen scale), to lay out its screens (idiom, screen size,
// orientation) and to identify the app's installation. There is one current profile for the
// process; tests replace it with ScopedDeviceProfile and get the old one back at scope end.
#pragma once

#include <optional>
#include <string>

namespace platform {

enum class InterfaceIdiom : int {
    kUnspecified = -1,
    kPhone = 0,
    kPad = 1,
};

// Numbered as the share service's orientation masks and logs number them.
enum class DeviceOrientation : int {
    kUnknown = 0,
    kPortrait = 1,
    kPortraitUpsideDown = 2,
    kLandscapeLeft = 3,
    kLandscapeRight = 4,
    kFaceUp = 5,
    kFaceDown = 6,
};

constexpr bool isPortrait(DeviceOrientation o) {
    return o == DeviceOrientation::kPortrait || o == DeviceOrientation::kPortraitUpsideDown;
}
constexpr bool isLandscape(DeviceOrientation o) {
    return o == DeviceOrientation::kLandscapeLeft || o == DeviceOrientation::kLandscapeRight;
}

// The hardware name this host's kernel reports ("x86_64", "aarch64").
std::string hostMachine();

struct DeviceProfile {
    std::string model = "iPhone";         // the kind of device, as its owner calls it
    std::string machine = hostMachine();  // the kernel's hardware name
    std::string systemName = "iOS";
    std::string systemVersion = "9.3";
    InterfaceIdiom idiom = InterfaceIdiom::kPhone;
    // The main screen's bounds in points, portrait, and the pixels per point.
    double screenWidth = 320;
    double screenHeight = 568;
    double screenScale = 2;
    DeviceOrientation orientation = DeviceOrientation::kPortrait;
    // Stable per app vendor on a real device; this host offers none unless one is set.
    std::optional<std::string> identifierForVendor;

    bool isPad() const { return idiom == InterfaceIdiom::kPad; }

    bool operator==(const DeviceProfile&) const = default;
};

// A copy of the current profile; safe from any thread.
DeviceProfile currentDevice();
void setCurrentDevice(DeviceProfile profile);

// Makes a profile current for its lifetime, then puts back the one it found.
class ScopedDeviceProfile {
  public:
    explicit ScopedDeviceProfile(DeviceProfile profile);
    ~ScopedDeviceProfile();
    ScopedDeviceProfile(const ScopedDeviceProfile&) = delete;
    ScopedDeviceProfile& operator=(const ScopedDeviceProfile&) = delete;

  private:
    DeviceProfile previous_;
};

}  // namespace platform
