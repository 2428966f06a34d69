#include "SocialSDK/core/device/RAZududeProtocolData.h"

#include <ifaddrs.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <exception>
#include <mutex>

#include "RZBase_Source/Encode/RAZududeUtils.h"
#include "platform/Device.h"
#include "platform/Format.h"
#include "platform/Log.h"
#include "platform/Random.h"
#include "push/DUdUdirodDeviceUDID.h"

namespace {

std::mutex gInterfaceMutex;
std::string gWifiInterface = "en0";

// The local time now, formatted; with milliseconds appended when asked.
std::string localTimeText(const char* pattern, bool milliseconds) {
    using namespace std::chrono;
    const auto now = system_clock::now();
    const std::time_t seconds = system_clock::to_time_t(now);
    std::tm local{};
    localtime_r(&seconds, &local);
    char buffer[32];
    const std::size_t length = std::strftime(buffer, sizeof buffer, pattern, &local);
    std::string text(buffer, length);
    if (milliseconds) {
        const auto millis = duration_cast<std::chrono::milliseconds>(now.time_since_epoch()) % 1000;
        text += platform::format(".%03d", static_cast<int>(millis.count()));
    }
    return text;
}

// Lines that go to standard output whatever the logs say, as the device code always wrote.
void printLine(const char* line) {
    std::fputs(line, stdout);
    std::fflush(stdout);
}

struct InterfaceList {
    ifaddrs* head = nullptr;
    ~InterfaceList() {
        if (head) {
            freeifaddrs(head);
        }
    }
};

}  // namespace

std::string RAZududeProtocolData::dateString() {
    return localTimeText("%Y-%m-%d", false);
}

std::string RAZududeProtocolData::timeString() {
    return localTimeText("%H:%M:%S", false);
}

std::string RAZududeProtocolData::timeMSString() {
    return localTimeText("%H:%M:%S", true);
}

std::string RAZududeProtocolData::deviceIDVendorString() {
    return platform::currentDevice().identifierForVendor.value_or("");
}

std::optional<std::string> RAZududeProtocolData::deviceMacString() {
    const std::string name = wifiInterfaceName();
    const unsigned index = if_nametoindex(name.c_str());
    if (index == 0) {
        printLine("Error: if_nametoindex error\n");
        return std::nullopt;
    }
    InterfaceList list;
    if (getifaddrs(&list.head) != 0) {
        printLine("Error: getifaddrs error\n");
        return std::nullopt;
    }
    for (const ifaddrs* entry = list.head; entry; entry = entry->ifa_next) {
        if (!entry->ifa_addr || entry->ifa_addr->sa_family != AF_PACKET) {
            continue;
        }
        const auto* link = reinterpret_cast<const sockaddr_ll*>(entry->ifa_addr);
        if (static_cast<unsigned>(link->sll_ifindex) != index || link->sll_halen < 6) {
            continue;
        }
        const unsigned char* a = link->sll_addr;
        return platform::format("%02X:%02X:%02X:%02X:%02X:%02X", a[0], a[1], a[2], a[3], a[4],
                                a[5]);
    }
    printLine("Error: no link-level address\n");
    return std::nullopt;
}

std::string RAZududeProtocolData::deviceUDIDString() {
    try {
        return DUdUdirodDeviceUDID::value();
    } catch (const std::exception& exception) {
        platform::consoleLog("Exception occurred: %@, %@", exception.what(),
                             std::optional<std::string>());
    } catch (...) {
        platform::consoleLog("Exception occurred: %@, %@", "unknown exception",
                             std::optional<std::string>());
    }
    return {};
}

std::string RAZududeProtocolData::UUIDString() {
    return platform::newUuidString();
}

std::string RAZududeProtocolData::UUIDMD5String() {
    return md5Value(UUIDString());
}

std::string RAZududeProtocolData::deviceModelString() {
    return platform::currentDevice().machine;
}

std::string RAZududeProtocolData::osVersionString() {
    return platform::currentDevice().systemVersion;
}

std::string RAZududeProtocolData::orientationString() {
    return platform::isPortrait(platform::currentDevice().orientation) ? "0" : "1";
}

bool RAZududeProtocolData::isPad() {
    return platform::currentDevice().isPad();
}

std::string RAZududeProtocolData::accessString() {
    const platform::DeviceProfile device = platform::currentDevice();
    if (device.model == "iPhone Simulator" || device.machine == "x86_64" ||
        device.machine == "i386") {
        return "WiFi";
    }
    return accessStringForInterfaces(ipv4InterfaceNames());
}

std::string RAZududeProtocolData::accessStringForInterfaces(
    const std::vector<std::string>& ipv4Interfaces) {
    if (std::find(ipv4Interfaces.begin(), ipv4Interfaces.end(), wifiInterfaceName()) !=
        ipv4Interfaces.end()) {
        return "WiFi";
    }
    return ipv4Interfaces.empty() ? "" : "CellNetwork";
}

std::vector<std::string> RAZududeProtocolData::ipv4InterfaceNames() {
    std::vector<std::string> names;
    InterfaceList list;
    if (getifaddrs(&list.head) != 0) {
        return names;
    }
    for (const ifaddrs* entry = list.head; entry; entry = entry->ifa_next) {
        if (!entry->ifa_addr || entry->ifa_addr->sa_family != AF_INET ||
            (entry->ifa_flags & IFF_LOOPBACK) != 0) {
            continue;
        }
        if (std::find(names.begin(), names.end(), entry->ifa_name) == names.end()) {
            names.emplace_back(entry->ifa_name);
        }
    }
    return names;
}

std::string RAZududeProtocolData::md5Value(std::string_view text) {
    return RAZududeUtils::md5Value(text);
}

void RAZududeProtocolData::setWifiInterfaceName(std::string name) {
    std::lock_guard lock(gInterfaceMutex);
    gWifiInterface = std::move(name);
}

std::string RAZududeProtocolData::wifiInterfaceName() {
    std::lock_guard lock(gInterfaceMutex);
    return gWifiInterface;
}
