// The share-service emulator of a test process (tests/peers/share_service.py), with the SDK
// pointed at it through the main bundle's "SocialSDK-config". Made on first use, before anything
// else makes the protocol (which reads the base URL once), and kept for the process.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "RZBase_Source/Encode/RAZududeUtils.h"
#include "platform/Bundle.h"
#include "platform/PropertyList.h"
#include "tests/support/PeerProcess.h"
#include "tests/support/TempDir.h"

namespace social_test {

class ShareEmulator {
  public:
    static ShareEmulator& shared(const std::string& appKey) {
        static auto* emulator = new ShareEmulator(appKey);
        return *emulator;
    }

    const std::string& baseUrl() const { return baseUrl_; }

    // From now on, only later requests are looked at.
    void mark() { seen_ = process_.lines().size(); }

    // The decoded requests of the kind since the mark, oldest first.
    std::vector<platform::Value> requestsOfKind(int kind) {
        std::vector<platform::Value> found;
        auto lines = process_.lines();
        for (std::size_t i = seen_; i < lines.size(); ++i) {
            const std::string& line = lines[i];
            if (line.rfind("REQ ", 0) != 0) {
                continue;
            }
            auto entry = RAZududeUtils::JSONValue(line.substr(4));
            if (entry && (*entry)["kind"].isNumber() && (*entry)["kind"].intValue() == kind) {
                found.push_back(*entry);
            }
        }
        return found;
    }

    // Posts the JSON body to a control path ("/__emu/fail", "/__emu/oauth"...).
    void control(const std::string& path, const std::string& body) {
        const std::string script =
            "import sys, urllib.request\n"
            "req = urllib.request.Request(sys.argv[1], data=sys.argv[2].encode(), "
            "headers={'Content-Type': 'application/json'})\n"
            "urllib.request.urlopen(req, timeout=20).read()\n";
        auto result = testing_support::runCommand({"python3", "-c", script, baseUrl_ + path, body});
        ASSERT_EQ(result.status, 0) << result.output;
    }

    // The next reply of the kind fails; `extra` adds members to the control request.
    void failNext(int kind, const std::string& mode, const std::string& extra = "") {
        std::string body = "{\"kind\": " + std::to_string(kind) + ", \"mode\": \"" + mode + "\"";
        body += extra.empty() ? "}" : ", " + extra + "}";
        control("/__emu/fail", body);
    }

  private:
    explicit ShareEmulator(const std::string& appKey)
        : process_(testing_support::PeerProcess::python("share_service.py", {"--appkey", appKey})),
          baseUrl_(process_.baseUrl()) {
        auto folder = bundle_.path() / "App";
        std::filesystem::create_directories(folder);
        EXPECT_TRUE(platform::PropertyList::writeFile(
            platform::Value(platform::Map{{"baseURL", baseUrl_ + "/"}}),
            folder / "SocialSDK-config.plist", platform::PropertyList::Format::kXml));
        platform::Bundle::setMainBundlePath(folder);
    }

    testing_support::PeerProcess process_;
    std::string baseUrl_;
    std::size_t seen_ = 0;
    testing_support::TempDir bundle_;
};

}  // namespace social_test
