// The device and time facts that the share service puts into every request and log line:
// model, hardware address, network kind, system, orientation, identifiers and time stamps.
//
// The device itself is platform::currentDevice() (tests inject one with ScopedDeviceProfile);
// the network facts come from the kernel's interface list. Linux names no interface "en0", so
// the interface that stands for the device's Wi-Fi is settable.
//
// Any thread: the one setting it keeps (the Wi-Fi interface) is guarded.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

class RAZududeProtocolData {
  public:
    // Now, in the default time zone: "yyyy-MM-dd", "HH:mm:ss", "HH:mm:ss.SSS".
    static std::string dateString();
    static std::string timeString();
    static std::string timeMSString();

    // Never known here: always empty.
    static std::string latString() { return {}; }
    static std::string lngString() { return {}; }
    static std::string cpuString() { return {}; }

    // The device's identifier for vendor; empty when it offers none.
    static std::string deviceIDVendorString();

    // The hardware address of the Wi-Fi interface as "%02X:%02X:%02X:%02X:%02X:%02X"; nothing
    // (after a line on standard output saying why) when the interface or its address is missing.
    static std::optional<std::string> deviceMacString();

    // The DeviceUDID identifier; empty when it cannot be had.
    static std::string deviceUDIDString();

    // A new UUID's text (36 characters, uppercase), and its MD5 text.
    static std::string UUIDString();
    static std::string UUIDMD5String();

    // The kernel's hardware name of the device ("x86_64" on this host).
    static std::string deviceModelString();
    static std::string osString() { return "iOS"; }
    static std::string osVersionString();
    // "0" in either portrait orientation, "1" in every other one, unknown included.
    static std::string orientationString();
    static bool isPad();

    // "WiFi" when the Wi-Fi interface has an IPv4 address (and always on a simulator or a
    // desktop machine), "CellNetwork" when only others do, else "".
    static std::string accessString();

    // MD5 of the text as 32 uppercase hexadecimal digits.
    static std::string md5Value(std::string_view text);

    // The interface that counts as Wi-Fi, "en0" unless set.
    static void setWifiInterfaceName(std::string name);
    static std::string wifiInterfaceName();

    // The non-loopback interfaces that have an IPv4 address, each once, as the kernel lists them.
    static std::vector<std::string> ipv4InterfaceNames();
    // accessString for these interfaces on a device that is neither simulator nor desktop.
    static std::string accessStringForInterfaces(const std::vector<std::string>& ipv4Interfaces);
};
