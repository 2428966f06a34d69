// The app's folders. Everything the SDK keeps lives under one root, as in an app sandbox:
// Library, Library/Caches, Documents and the user-defaults file. Tests point the root at a
// temporary folder.
#pragma once

#include <filesystem>
#include <string>

namespace platform::AppFolders {

// The root: set explicitly, else $RZ_APP_ROOT, else ~/.local/share/<process name>.
std::filesystem::path root();
void setRoot(const std::filesystem::path& root);

std::filesystem::path library();       // <root>/Library
std::filesystem::path caches();        // <root>/Library/Caches
std::filesystem::path documents();     // <root>/Documents
std::filesystem::path preferences();   // <root>/Library/Preferences
std::filesystem::path defaultsFile();  // <root>/Library/Preferences/<bundle id>.plist
std::filesystem::path temporary();     // <root>/tmp

// The program's name as the platform reports it (the executable's file name).
std::string processName();

}  // namespace platform::AppFolders
