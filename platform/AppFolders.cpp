#include "platform/AppFolders.h"

#include <cstdlib>
#include <fstream>
#include <mutex>

namespace platform::AppFolders {

namespace {
std::mutex gMutex;
std::filesystem::path gRoot;
}  // namespace

std::string processName() {
    std::ifstream comm("/proc/self/comm");
    std::string name;
    std::getline(comm, name);
    return name.empty() ? std::string("app") : name;
}

std::filesystem::path root() {
    std::lock_guard lock(gMutex);
    if (gRoot.empty()) {
        if (const char* env = std::getenv("RZ_APP_ROOT"); env && *env) {
            gRoot = env;
        } else {
            const char* home = std::getenv("HOME");
            gRoot = std::filesystem::path(home && *home ? home : "/tmp") / ".local" / "share" /
                    processName();
        }
    }
    return gRoot;
}

void setRoot(const std::filesystem::path& path) {
    std::lock_guard lock(gMutex);
    gRoot = path;
}

std::filesystem::path library() {
    return root() / "Library";
}
std::filesystem::path caches() {
    return library() / "Caches";
}
std::filesystem::path documents() {
    return root() / "Documents";
}
std::filesystem::path preferences() {
    return library() / "Preferences";
}
std::filesystem::path defaultsFile() {
    return preferences() / (processName() + ".plist");
}
std::filesystem::path temporary() {
    return root() / "tmp";
}

}  // namespace platform::AppFolders
