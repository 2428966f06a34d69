// The host program: starts the share-service emulator on loopback, points the share SDK at it
// through the bundle's "SocialSDK-config.plist", and walks the road of a share as a user does,
// telling each step and drawing each screen.
#include <signal.h>
#include <stdlib.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "examples/share_demo/ServiceProcess.h"
#include "examples/share_demo/ShareRoad.h"
#include "platform/AppFolders.h"
#include "platform/Bundle.h"

namespace {

constexpr const char* kDefaultPlatform = "tencent";

std::atomic<int> gInterrupts{0};

void onInterrupt(int) {
    share_demo::ServiceProcess::stopAllFromSignal();
    if (gInterrupts.fetch_add(1) > 0) {
        _exit(130);
    }
}

std::string joined(const std::vector<std::string>& names) {
    std::string text;
    for (const auto& name : names) {
        text += (text.empty() ? "" : ", ") + name;
    }
    return text;
}

void printUsage() {
    std::printf(
        "usage: share_demo [--help] [--screenshots DIR] [--installed APP]... [--account NAME]...\n"
        "                  [PLATFORM|all]\n"
        "\n"
        "Starts the share-service emulator on 127.0.0.1, points the share SDK at it, and walks\n"
        "the road of one share as a user would: the app's screen, the icon sheet, the tap, the\n"
        "login, the share, and what the app's UI delegate hears. Each step is printed with the\n"
        "names of its numbers (screen types, response types and codes).\n"
        "\n"
        "  PLATFORM           one of: %s\n"
        "                     (default: %s); \"all\" walks them all, one after the other\n"
        "  --screenshots DIR  write a PNG of each screen the user saw into DIR, named by step\n"
        "                     and screen (01-app.png, 02-icon-sheet.png, ...); the last one\n"
        "                     shows the result\n"
        "  --installed APP    a stand-in of the platform application APP is installed (%s):\n"
        "                     it answers a share or login at once, as if the user had\n"
        "                     confirmed it; without it the share says the application is\n"
        "                     missing\n"
        "  --account NAME     the user authorised the share-service platform NAME (tencent,\n"
        "                     renren, douban, qzone, sina) before, with a few friends fetched\n"
        "                     then: a tap opens the share editor at once, and the user looks\n"
        "                     into its friend picker\n"
        "  --help             this text\n"
        "\n"
        "The exit status is 0 when the app's delegate heard how every share ended.\n",
        joined(share_demo::sheetPlatforms()).c_str(), kDefaultPlatform,
        joined(share_demo::knownApplications()).c_str());
}

struct Options {
    std::optional<std::filesystem::path> screenshots;
    std::vector<std::string> installed;
    std::vector<std::string> accounts;
    std::vector<std::string> platforms;
};

// Parses the command line; prints one line and answers nothing on a mistake.
std::optional<Options> parse(int argc, char** argv, bool& help) {
    Options options;
    std::optional<std::string> platform;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            help = true;
            return std::nullopt;
        }
        if (arg == "--screenshots" || arg == "--installed" || arg == "--account") {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "share_demo: %s needs a value (see --help)\n", arg.c_str());
                return std::nullopt;
            }
            std::string value = argv[++i];
            if (arg == "--screenshots") {
                // Relative to where the user stands.
                options.screenshots = std::filesystem::absolute(value);
                continue;
            }
            if (arg == "--account") {
                const std::vector<std::string> known{"tencent", "renren", "douban", "qzone",
                                                     "sina"};
                if (std::find(known.begin(), known.end(), value) == known.end()) {
                    std::fprintf(stderr,
                                 "share_demo: unknown platform \"%s\" for --account; known: %s\n",
                                 value.c_str(), joined(known).c_str());
                    return std::nullopt;
                }
                options.accounts.push_back(value);
                continue;
            }
            const auto& known = share_demo::knownApplications();
            if (std::find(known.begin(), known.end(), value) == known.end()) {
                std::fprintf(stderr,
                             "share_demo: unknown application \"%s\" for --installed; "
                             "known: %s\n",
                             value.c_str(), joined(known).c_str());
                return std::nullopt;
            }
            options.installed.push_back(value);
        } else if (!arg.empty() && arg[0] == '-') {
            std::fprintf(stderr, "share_demo: unknown option %s (see --help)\n", arg.c_str());
            return std::nullopt;
        } else if (platform) {
            std::fprintf(stderr, "share_demo: one platform at a time, or \"all\" (see --help)\n");
            return std::nullopt;
        } else {
            platform = arg;
        }
    }
    const auto& sheet = share_demo::sheetPlatforms();
    if (!platform) {
        options.platforms = {kDefaultPlatform};
    } else if (*platform == "all") {
        options.platforms = sheet;
    } else if (std::find(sheet.begin(), sheet.end(), *platform) != sheet.end()) {
        options.platforms = {*platform};
    } else {
        std::fprintf(stderr, "share_demo: unknown platform \"%s\"; known: %s\n", platform->c_str(),
                     joined(sheet).c_str());
        return std::nullopt;
    }
    return options;
}

// A folder of the demo's own for one run: the app's bundle and its data. Removed at the end.
class RunFolder {
  public:
    RunFolder() {
        std::string pattern = (std::filesystem::temp_directory_path() / "share_demo.XXXXXX");
        if (!mkdtemp(pattern.data())) {
            throw std::runtime_error("cannot make a temporary folder");
        }
        path_ = pattern;
    }
    ~RunFolder() {
        std::error_code error;
        std::filesystem::remove_all(path_, error);
    }
    const std::filesystem::path& path() const { return path_; }

  private:
    std::filesystem::path path_;
};

int run(const Options& options) {
    if (options.screenshots) {
        std::error_code error;
        std::filesystem::create_directories(*options.screenshots, error);
        if (error) {
            std::fprintf(stderr, "share_demo: cannot make %s: %s\n", options.screenshots->c_str(),
                         error.message().c_str());
            return 1;
        }
    }
    RunFolder folder;
    share_demo::ServiceProcess service(SHARE_DEMO_EMULATOR, share_demo::kDemoAppKey);
    std::printf("share service: the emulator runs at %s (process %d)\n", service.baseUrl().c_str(),
                service.pid());
    auto bundle = folder.path() / "ShareDemo.app";
    share_demo::makeBundleFolder(bundle, service.baseUrl(),
                                 platform::Bundle::mainBundle().bundlePath());
    platform::Bundle::setMainBundlePath(bundle);
    platform::AppFolders::setRoot(folder.path() / "home");

    share_demo::ShareApp::Settings settings;
    settings.installed = options.installed;
    settings.accounts = options.accounts;
    settings.screenshots = options.screenshots;
    settings.say = [](const std::string& line) {
        std::printf("%s\n", line.c_str());
        std::fflush(stdout);
    };
    settings.serviceRequests = [&service](double seconds) {
        return service.takeRequests(0, seconds);
    };
    settings.interrupted = [] { return gInterrupts.load() > 0; };
    // The user sees the service's login page and taps through it.
    settings.askForLoginPage = [&service] {
        try {
            service.control("POST", "/__emu/oauth", "{\"page\": true}");
        } catch (const std::exception&) {
            // Ctrl-C stops the service first: the road ends as interrupted, not as failed.
            if (gInterrupts.load() > 0) {
                throw share_demo::Interrupted{};
            }
            throw;
        }
    };
    share_demo::ShareApp app(std::move(settings));
    int unanswered = 0;
    for (const auto& platform : options.platforms) {
        if (!app.share(platform).result) {
            ++unanswered;
        }
    }
    return unanswered == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    bool help = false;
    auto options = parse(argc, argv, help);
    if (help) {
        printUsage();
        return 0;
    }
    if (!options) {
        return 2;
    }
    struct sigaction action {};
    action.sa_handler = onInterrupt;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    try {
        return run(*options);
    } catch (const share_demo::Interrupted&) {
        std::fprintf(stderr, "share_demo: interrupted; the share service is stopped\n");
        return 130;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "share_demo: %s\n", error.what());
        return 1;
    }
}
