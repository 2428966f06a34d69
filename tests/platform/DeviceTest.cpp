#include "platform/Device.h"

#include <gtest/gtest.h>

#include "tests/support/TempDir.h"

using platform::DeviceOrientation;
using platform::DeviceProfile;
using platform::InterfaceIdiom;

TEST(Device, DefaultsDescribeAPortraitPhoneOnThisHostsHardware) {
    DeviceProfile device = platform::currentDevice();
    EXPECT_EQ(device.model, "iPhone");
    EXPECT_EQ(device.systemName, "iOS");
    EXPECT_FALSE(device.systemVersion.empty());
    EXPECT_EQ(device.idiom, InterfaceIdiom::kPhone);
    EXPECT_FALSE(device.isPad());
    EXPECT_EQ(device.orientation, DeviceOrientation::kPortrait);
    EXPECT_GT(device.screenWidth, 0);
    EXPECT_GT(device.screenHeight, device.screenWidth);
    EXPECT_EQ(device.screenScale, 2.0);
    EXPECT_FALSE(device.identifierForVendor.has_value());
    EXPECT_EQ(device.machine + "\n",
              testing_support::runPython("import platform\nprint(platform.machine())\n"));
}

TEST(Device, AScopedProfileIsCurrentUntilItEnds) {
    const DeviceProfile original = platform::currentDevice();
    {
        DeviceProfile pad;
        pad.model = "iPad";
        pad.idiom = InterfaceIdiom::kPad;
        pad.orientation = DeviceOrientation::kLandscapeLeft;
        pad.identifierForVendor = "5D2B1A64-0C43-4E2C-9B0C-6F1C8E6A2E11";
        platform::ScopedDeviceProfile scoped(pad);
        EXPECT_TRUE(platform::currentDevice().isPad());
        {
            DeviceProfile flat = pad;
            flat.orientation = DeviceOrientation::kFaceUp;
            platform::ScopedDeviceProfile nested(flat);
            EXPECT_EQ(platform::currentDevice().orientation, DeviceOrientation::kFaceUp);
        }
        EXPECT_EQ(platform::currentDevice(), pad);
    }
    EXPECT_EQ(platform::currentDevice(), original);
}
