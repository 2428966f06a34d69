#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>

#include "SocialSDK/core/device/RAZududeProtocolData.h"
#include "platform/Device.h"
#include "push/DUdUdirodDeviceUDID.h"
#include "tests/support/TempDir.h"

using platform::DeviceOrientation;
using platform::DeviceProfile;
using platform::ScopedDeviceProfile;

namespace {

DeviceProfile phone() {
    DeviceProfile profile;
    profile.model = "iPhone";
    profile.machine = "iPhone9,1";
    profile.systemVersion = "10.3.1";
    return profile;
}

// The interface name that counts as Wi-Fi, put back after each test.
class ProtocolData : public testing::Test {
  protected:
    void TearDown() override { RAZududeProtocolData::setWifiInterfaceName("en0"); }
};

std::vector<std::string> words(const std::string& text) {
    std::istringstream in(text);
    std::vector<std::string> out;
    for (std::string word; in >> word;) {
        out.push_back(word);
    }
    return out;
}

}  // namespace

TEST_F(ProtocolData, DeviceFieldsComeFromTheDeviceProfile) {
    DeviceProfile profile = phone();
    profile.identifierForVendor = "6F9619FF-8B86-D011-B42D-00C04FC964FF";
    ScopedDeviceProfile scoped(profile);
    EXPECT_EQ(RAZududeProtocolData::deviceModelString(), "iPhone9,1");
    EXPECT_EQ(RAZududeProtocolData::osString(), "iOS");
    EXPECT_EQ(RAZududeProtocolData::osVersionString(), "10.3.1");
    EXPECT_EQ(RAZududeProtocolData::deviceIDVendorString(), "6F9619FF-8B86-D011-B42D-00C04FC964FF");
    EXPECT_FALSE(RAZududeProtocolData::isPad());
    EXPECT_EQ(RAZududeProtocolData::latString(), "");
    EXPECT_EQ(RAZududeProtocolData::lngString(), "");
    EXPECT_EQ(RAZududeProtocolData::cpuString(), "");

    profile.identifierForVendor.reset();
    profile.idiom = platform::InterfaceIdiom::kPad;
    platform::setCurrentDevice(profile);
    EXPECT_EQ(RAZududeProtocolData::deviceIDVendorString(), "");
    EXPECT_TRUE(RAZududeProtocolData::isPad());
    profile.idiom = platform::InterfaceIdiom::kUnspecified;
    platform::setCurrentDevice(profile);
    EXPECT_FALSE(RAZududeProtocolData::isPad());

    // The host's own profile reports the kernel's hardware name.
    platform::setCurrentDevice(DeviceProfile{});
    EXPECT_EQ(RAZududeProtocolData::deviceModelString(),
              testing_support::runPython("import os; print(os.uname().machine, end='')"));
}

TEST_F(ProtocolData, OrientationIsZeroOnlyInPortrait) {
    DeviceProfile profile = phone();
    ScopedDeviceProfile scoped(profile);
    const std::pair<DeviceOrientation, const char*> expected[] = {
        {DeviceOrientation::kUnknown, "1"},
        {DeviceOrientation::kPortrait, "0"},
        {DeviceOrientation::kPortraitUpsideDown, "0"},
        {DeviceOrientation::kLandscapeLeft, "1"},
        {DeviceOrientation::kLandscapeRight, "1"},
        {DeviceOrientation::kFaceUp, "1"},
        {DeviceOrientation::kFaceDown, "1"},
    };
    for (const auto& [orientation, text] : expected) {
        profile.orientation = orientation;
        platform::setCurrentDevice(profile);
        EXPECT_EQ(RAZududeProtocolData::orientationString(), text) << static_cast<int>(orientation);
    }
}

TEST_F(ProtocolData, TimesFollowTheLocalZone) {
    const char* previous = std::getenv("TZ");
    const std::string saved = previous ? previous : "";
    auto inZone = [](const char* zone) {
        ::setenv("TZ", zone, 1);
        ::tzset();
        return std::vector<std::string>{RAZududeProtocolData::dateString(),
                                        RAZududeProtocolData::timeString(),
                                        RAZududeProtocolData::timeMSString()};
    };
    const std::vector<std::string> utc = inZone("UTC0");
    const std::vector<std::string> east = inZone("XST-8");
    previous ? ::setenv("TZ", saved.c_str(), 1) : ::unsetenv("TZ");
    ::tzset();

    EXPECT_TRUE(std::regex_match(east[0], std::regex(R"(\d{4}-\d\d-\d\d)"))) << east[0];
    EXPECT_TRUE(std::regex_match(east[1], std::regex(R"(\d\d:\d\d:\d\d)"))) << east[1];
    EXPECT_TRUE(std::regex_match(east[2], std::regex(R"(\d\d:\d\d:\d\d\.\d{3})"))) << east[2];
    auto secondsOfDay = [](const std::string& t) {
        return std::stoi(t.substr(0, 2)) * 3600 + std::stoi(t.substr(3, 2)) * 60 +
               std::stoi(t.substr(6, 2));
    };
    const int ahead = ((secondsOfDay(east[2]) - secondsOfDay(utc[2])) % 86400 + 86400) % 86400;
    EXPECT_GE(ahead, 8 * 3600);
    EXPECT_LE(ahead, 8 * 3600 + 2) << utc[2] << " " << east[2];
}

TEST_F(ProtocolData, IdentifiersAndDigests) {
    const std::string uuid = RAZududeProtocolData::UUIDString();
    EXPECT_TRUE(std::regex_match(
        uuid, std::regex("[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}")))
        << uuid;
    EXPECT_NE(RAZududeProtocolData::UUIDString(), uuid);
    EXPECT_TRUE(
        std::regex_match(RAZududeProtocolData::UUIDMD5String(), std::regex("[0-9A-F]{32}")));
    EXPECT_EQ(RAZududeProtocolData::md5Value("设备 device"),
              testing_support::runPython(
                  "import hashlib; print(hashlib.md5('设备 device'.encode()).hexdigest().upper(), "
                  "end='')"));

    const std::string udid = RAZududeProtocolData::deviceUDIDString();
    EXPECT_TRUE(std::regex_match(udid, std::regex("[0-9a-f]{40}"))) << udid;
    EXPECT_EQ(udid, DUdUdirodDeviceUDID::value());
}

namespace {

// The kernel's view, read by an independent peer: every interface with its hardware address,
// and the non-loopback ones that have an IPv4 address.
struct HostInterfaces {
    std::vector<std::pair<std::string, std::string>> addresses;
    std::set<std::string> ipv4;
};

HostInterfaces hostInterfaces() {
    const std::string listing = testing_support::runPython(R"(
import fcntl, os, socket, struct
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
for _, name in socket.if_nameindex():
    try:
        address = open('/sys/class/net/%s/address' % name).read().strip()
    except OSError:
        address = ''
    request = struct.pack('256s', name.encode()[:15])
    flags = struct.unpack('H', fcntl.ioctl(s, 0x8913, request)[16:18])[0]
    try:
        fcntl.ioctl(s, 0x8915, request)
        ipv4 = not (flags & 0x8)
    except OSError:
        ipv4 = False
    print(name, address or '-', 'ipv4' if ipv4 else 'none')
)");
    HostInterfaces host;
    std::istringstream lines(listing);
    for (std::string line; std::getline(lines, line);) {
        const std::vector<std::string> parts = words(line);
        if (parts.size() != 3) {
            continue;
        }
        host.addresses.emplace_back(parts[0], parts[1]);
        if (parts[2] == "ipv4") {
            host.ipv4.insert(parts[0]);
        }
    }
    return host;
}

}  // namespace

TEST_F(ProtocolData, HardwareAddressOfTheNamedInterface) {
    testing::internal::CaptureStdout();
    EXPECT_FALSE(RAZududeProtocolData::deviceMacString());  // no "en0" here
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Error: if_nametoindex error\n");

    RAZududeProtocolData::setWifiInterfaceName("lo");
    EXPECT_EQ(RAZududeProtocolData::deviceMacString(), "00:00:00:00:00:00");

    int compared = 0;
    for (const auto& [name, address] : hostInterfaces().addresses) {
        if (address.size() != 17) {
            continue;  // no six-byte address (tunnels)
        }
        RAZududeProtocolData::setWifiInterfaceName(name);
        std::string upper = address;
        for (char& c : upper) {
            c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        }
        EXPECT_EQ(RAZududeProtocolData::deviceMacString(), upper) << name;
        ++compared;
    }
    EXPECT_GT(compared, 0);
}

TEST_F(ProtocolData, NetworkKind) {
    const HostInterfaces host = hostInterfaces();
    const std::vector<std::string> listed = RAZududeProtocolData::ipv4InterfaceNames();
    EXPECT_EQ(std::set<std::string>(listed.begin(), listed.end()), host.ipv4);

    // A simulator or a desktop machine always counts as Wi-Fi.
    DeviceProfile profile = phone();
    profile.model = "iPhone Simulator";
    ScopedDeviceProfile scoped(profile);
    EXPECT_EQ(RAZududeProtocolData::accessString(), "WiFi");
    for (const char* machine : {"x86_64", "i386"}) {
        profile = phone();
        profile.machine = machine;
        platform::setCurrentDevice(profile);
        EXPECT_EQ(RAZududeProtocolData::accessString(), "WiFi") << machine;
    }

    // On a device, the Wi-Fi interface decides.
    platform::setCurrentDevice(phone());
    EXPECT_EQ(RAZududeProtocolData::accessString(), host.ipv4.empty() ? "" : "CellNetwork");
    if (!host.ipv4.empty()) {
        RAZududeProtocolData::setWifiInterfaceName(*host.ipv4.begin());
        EXPECT_EQ(RAZududeProtocolData::accessString(), "WiFi");
    }
    EXPECT_EQ(RAZududeProtocolData::accessStringForInterfaces({}), "");
    RAZududeProtocolData::setWifiInterfaceName("en0");
    EXPECT_EQ(RAZududeProtocolData::accessStringForInterfaces({"pdp_ip0"}), "CellNetwork");
    EXPECT_EQ(RAZududeProtocolData::accessStringForInterfaces({"pdp_ip0", "en0"}), "WiFi");
}
