#include "tests/core/protocol_loopback/ShareServicePeer.h"

#include <memory>
#include <stdexcept>

#include "RZBase_Source/Encode/RAZududeUtils.h"
#include "platform/Bundle.h"
#include "platform/MainLoop.h"
#include "platform/PropertyList.h"
#include "tests/support/PeerProcess.h"
#include "tests/support/TempDir.h"

namespace share_service_test {

void writeConfig(const std::filesystem::path& folder, const std::string& baseUrl) {
    std::filesystem::create_directories(folder);
    if (!platform::PropertyList::writeFile(platform::Value(platform::Map{{"baseURL", baseUrl}}),
                                           folder / "SocialSDK-config.plist",
                                           platform::PropertyList::Format::kXml)) {
        throw std::runtime_error("cannot write SocialSDK-config.plist");
    }
}

ShareServicePeer& ShareServicePeer::shared() {
    static auto* peer = new ShareServicePeer();
    return *peer;
}

ShareServicePeer::ShareServicePeer() {
    // Both go when the program ends: the emulator is stopped, the folder removed.
    static testing_support::PeerProcess process =
        testing_support::PeerProcess::python("share_service.py", {"--appkey", kAppKey});
    static testing_support::TempDir folder;
    baseUrl_ = "http://127.0.0.1:" + std::to_string(process.port());
    bundleFolder_ = folder.path() / "App";
    writeConfig(bundleFolder_, baseUrl_);
    platform::Bundle::setMainBundlePath(bundleFolder_);
}

platform::Value ShareServicePeer::control(const std::string& method, const std::string& path,
                                          const std::string& jsonBody) const {
    const std::string script =
        "import sys, urllib.request\n"
        "body = sys.stdin.buffer.read()\n"
        "req = urllib.request.Request('" +
        baseUrl_ + path + "', data=body if '" + method + "' == 'POST' else None, method='" +
        method +
        "', headers={'Content-Type': 'application/json'})\n"
        "sys.stdout.write(urllib.request.urlopen(req, timeout=20).read().decode())\n";
    auto reply = RAZududeUtils::JSONValue(testing_support::runPython(script, jsonBody));
    if (!reply) {
        throw std::runtime_error("the emulator's control reply is not JSON: " + path);
    }
    return *reply;
}

void ShareServicePeer::failNext(int kind, const std::string& mode, const std::string& extra) const {
    std::string body = "{\"kind\": " + std::to_string(kind) + ", \"mode\": \"" + mode + "\"";
    if (!extra.empty()) {
        body += ", " + extra;
    }
    control("POST", "/__emu/fail", body + "}");
}

platform::Array ShareServicePeer::log() const {
    platform::Value entries = control("GET", "/__emu/log");
    return entries.array() ? *entries.array() : platform::Array();
}

std::vector<platform::Value> ShareServicePeer::logOfKind(int kind) const {
    std::vector<platform::Value> found;
    for (const auto& entry : log()) {
        if (entry["kind"].isNumber() && entry["kind"].intValue() == kind) {
            found.push_back(entry);
        }
    }
    return found;
}

RAZududeResponsePtr await(const std::function<void(RAZududeResponseCompletion)>& start) {
    auto result = std::make_shared<RAZududeResponsePtr>();
    auto called = std::make_shared<bool>(false);
    start([result, called](const RAZududeResponsePtr& response) {
        *result = response;
        *called = true;
    });
    pumpUntil([called] { return *called; });
    return *result;
}

bool pumpUntil(const std::function<bool()>& done, double seconds) {
    return platform::MainLoop::main().runUntil(done, seconds);
}

void pumpFor(double seconds) {
    platform::MainLoop::main().runUntil([] { return false; }, seconds);
}

}  // namespace share_service_test
