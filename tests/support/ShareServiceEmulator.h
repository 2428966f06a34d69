// The share-service emulator (tests/peers/share_service.py) for a test process: started once,
// with the SDK pointed at it through the main bundle's "SocialSDK-config" plist, its decoded
// requests read back from its output, and its control requests (failures, seeded state) sent
// with Python's urllib. Make it before anything of the SDK reads its base URL.
//
// Header-only, so that it needs no more than the test programs that use it link already (the
// JSON reader of RZBase_Source).
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

namespace testing_support {

class ShareServiceEmulator {
  public:
    // The emulator of this process, serving the AppKey of the first call.
    static ShareServiceEmulator& shared(const std::string& appKey) {
        static auto* emulator = new ShareServiceEmulator(appKey);
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
            if (lines[i].rfind("REQ ", 0) != 0) {
                continue;
            }
            auto entry = RAZududeUtils::JSONValue(lines[i].substr(4));
            if (entry && (*entry)["kind"].isNumber() && (*entry)["kind"].intValue() == kind) {
                found.push_back(*entry);
            }
        }
        return found;
    }

    // Sends a control request ("/__emu/...") with the JSON body.
    void control(const std::string& path, const std::string& jsonBody) {
        const std::string script =
            "import sys, urllib.request\n"
            "req = urllib.request.Request(sys.argv[1], data=sys.argv[2].encode(), "
            "headers={'Content-Type': 'application/json'})\n"
            "urllib.request.urlopen(req, timeout=20).read()\n";
        auto result = runCommand({"python3", "-c", script, baseUrl_ + path, jsonBody});
        ASSERT_EQ(result.status, 0) << result.output;
    }

    // The next reply of the kind fails; `extra` adds members to the control request.
    void failNext(int kind, const std::string& mode, const std::string& extra = "") {
        std::string body = "{\"kind\": " + std::to_string(kind) + ", \"mode\": \"" + mode + "\"";
        control("/__emu/fail", body + (extra.empty() ? "}" : ", " + extra + "}"));
    }

  private:
    explicit ShareServiceEmulator(const std::string& appKey)
        : process_(PeerProcess::python("share_service.py", {"--appkey", appKey})),
          baseUrl_(process_.baseUrl()) {
        auto folder = bundle_.path() / "App";
        std::filesystem::create_directories(folder);
        EXPECT_TRUE(platform::PropertyList::writeFile(
            platform::Value(platform::Map{{"baseURL", baseUrl_ + "/"}}),
            folder / "SocialSDK-config.plist", platform::PropertyList::Format::kXml));
        platform::Bundle::setMainBundlePath(folder);
    }

    PeerProcess process_;
    std::string baseUrl_;
    std::size_t seen_ = 0;
    TempDir bundle_;
};

}  // namespace testing_support
