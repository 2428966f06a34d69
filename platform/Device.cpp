#include "platform/Device.h"
#include "platform/NoDestructor.h"

#include <sys/utsname.h>
#include <mutex>
#include <utility>

namespace platform {

namespace {

std::mutex& deviceMutex() {
    static NoDestructor<std::mutex> mutex;
    return *mutex;
}

DeviceProfile& currentSlot() {
    static NoDestructor<DeviceProfile> profile;
    return *profile;
}

}  // namespace

std::string hostMachine() {
    utsname names{};
    if (uname(&names) != 0) {
        return "unknown";
    }
    return names.machine;
}

DeviceProfile currentDevice() {
    std::lock_guard lock(deviceMutex());
    return currentSlot();
}

void setCurrentDevice(DeviceProfile profile) {
    std::lock_guard lock(deviceMutex());
    currentSlot() = std::move(profile);
}

ScopedDeviceProfile::ScopedDeviceProfile(DeviceProfile profile) {
    std::lock_guard lock(deviceMutex());
    previous_ = std::exchange(currentSlot(), std::move(profile));
}

ScopedDeviceProfile::~ScopedDeviceProfile() {
    std::lock_guard lock(deviceMutex());
    currentSlot() = std::move(previous_);
}

}  // namespace platform
