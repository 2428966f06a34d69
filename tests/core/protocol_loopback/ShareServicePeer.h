// The share-service emulator (tests/peers/share_service.py) as the protocol tests use it: one
// per test process, given to the SDK through the main bundle's "SocialSDK-config.plist" (a real
// file in a bundle folder of the test's own), read back through its plain control paths.
#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "SocialSDK/core/data/RAZududeResponseEntity.h"
#include "platform/Value.h"

namespace share_service_test {

inline constexpr const char* kAppKey = "5f1c2a9e7b3d40e8a6c1d2f3";
inline constexpr double kWait = 20;

class ShareServicePeer {
  public:
    // Starts the emulator and points the main bundle at a folder whose config names it (with
    // no path, so that the SDK must add the "/"); done before the SDK reads its settings.
    static ShareServicePeer& shared();

    // "http://127.0.0.1:<port>", as the config gives it.
    const std::string& baseUrl() const { return baseUrl_; }
    const std::filesystem::path& bundleFolder() const { return bundleFolder_; }

    // A control request with a JSON body; its JSON reply.
    platform::Value control(const std::string& method, const std::string& path,
                            const std::string& jsonBody = "{}") const;
    void reset() const { control("POST", "/__emu/reset"); }
    // The next reply of the kind fails that way; `extra` adds members ("\"seconds\": 3").
    void failNext(int kind, const std::string& mode, const std::string& extra = "") const;
    // The decoded requests so far, oldest first; of one kind.
    platform::Array log() const;
    std::vector<platform::Value> logOfKind(int kind) const;

  private:
    ShareServicePeer();
    std::string baseUrl_;
    std::filesystem::path bundleFolder_;
};

// Writes the config plist that names the server into the folder.
void writeConfig(const std::filesystem::path& folder, const std::string& baseUrl);

// Starts a request and pumps the main loop until its completion ran (null after kWait).
RAZududeResponsePtr await(const std::function<void(RAZududeResponseCompletion)>& start);
// Pumps the main loop until the condition holds (false after the bound).
bool pumpUntil(const std::function<bool()>& done, double seconds = kWait);
// Pumps for a while, to see that nothing more happens.
void pumpFor(double seconds);

}  // namespace share_service_test
