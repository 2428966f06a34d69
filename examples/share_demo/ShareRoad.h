// The road of one share as a user walks it, for the demo and its end-to-end test: an app that
// sets the share SDK up as apps do, its screen, the icon sheet, the tap, the login (through a
// platform application's stand-in or the OAuth page), the share editor, the post to the share
// service, and what the app's UI delegate hears. Each step is told in words (numbers with their
// names) and each screen the user sees can be drawn to a PNG.
//
// Threads: main thread only; the road pumps the main loop (on its manual clock) while it waits.
// Once per process: the SDK keeps its set-up in shared instances, so one ShareApp is made and
// any number of shares run through it, one after the other.
#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "SocialSDK/core/data/RAZududeResponseEntity.h"
#include "platform/Value.h"

namespace share_demo {

inline constexpr const char* kDemoAppKey = "5211818556240bc9ee01db2f";

// The platforms of the sheet, in its order.
const std::vector<std::string>& sheetPlatforms();
// The platform applications that can be "installed" beside the app (their URL schemes).
const std::vector<std::string>& knownApplications();

// The numbers of the share service with their names.
std::string responseCodeName(int code);
std::string requestKindName(int kind);  // also the response types, which are request kinds
std::string viewTypeName(int type);
// "200 (success)"
std::string named(int number, const std::string& name);

// Writes the "SocialSDK-config.plist" that points the SDK at the service into the folder, and
// links the resource bundle of `resources` (the program's folder) into it. Throws on failure.
void makeBundleFolder(const std::filesystem::path& folder, const std::string& baseUrl,
                      const std::filesystem::path& resources);

// What the app's UI delegate heard, in order.
struct Heard {
    enum class Kind { kSelect, kResult, kClose };
    Kind kind;
    std::string platform;          // kSelect
    RAZududeResponsePtr response;  // kResult
    int viewType = 0;              // kClose
};

struct ShareOutcome {
    std::string platform;
    std::vector<Heard> heard;
    // The first result the delegate received for the share; null when none came.
    RAZududeResponsePtr result;
    // The requests the service decoded during the share (the emulator's records).
    std::vector<platform::Value> requests;
    std::vector<std::filesystem::path> screenshots;
};

class ShareApp {
  public:
    struct Settings {
        std::string appKey = kDemoAppKey;
        std::vector<std::string> installed;  // from knownApplications()
        std::optional<std::filesystem::path> screenshots;
        // Share-service platforms the user authorised before, with friends fetched then: a tap
        // opens the editor at once, and the user looks into the editor's friend picker.
        std::vector<std::string> accounts;
        // One line per step; empty: silent.
        std::function<void(const std::string&)> say;
        // The requests the service decoded since the last call (waits at most the seconds).
        std::function<std::vector<platform::Value>(double)> serviceRequests;
        // Asks the service to answer the next login with its login page, whose link the user
        // then taps; empty: the service sends the OAuth page on to its callback at once.
        std::function<void()> askForLoginPage;
        // Checked while the road waits; true ends the road at once (an interrupted demo).
        std::function<bool()> interrupted;
        // Bound on each wait for the service or a screen.
        double waitSeconds = 30;
    };

    // Start-up as an app does it; the main bundle must already name the service.
    explicit ShareApp(Settings settings);
    ~ShareApp();
    ShareApp(const ShareApp&) = delete;
    ShareApp& operator=(const ShareApp&) = delete;

    // The app's screen (a PNG of it the first time).
    void showApp();
    // The whole road for one platform of the sheet. Throws std::runtime_error when a step
    // cannot be taken (the sheet did not show, the icon is missing, a screenshot failed).
    ShareOutcome share(const std::string& platform);

    // Installs or removes a platform application's stand-in between shares.
    void setInstalled(const std::string& application, bool installed);
    // Where the PNGs of the next shares go; nothing: none are drawn.
    void setScreenshots(std::optional<std::filesystem::path> folder);

  private:
    struct State;
    std::unique_ptr<State> state_;
};

// Thrown out of a wait when Settings::interrupted says so.
struct Interrupted {};

}  // namespace share_demo
