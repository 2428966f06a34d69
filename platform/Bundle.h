// Bundles: a folder of resources with an "Info.plist" and strings tables, either at the top or
// in language folders ("zh-Hans.lproj", "en.lproj"). The main bundle is the program's resource
// folder; resource bundles ("X.bundle") are folders inside it, found with pathForResource.
#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Value.h"

namespace platform {

class Bundle {
  public:
    // The program's resources: the folder set with setMainBundlePath, else the folder of the
    // executable.
    static Bundle mainBundle();
    static void setMainBundlePath(const std::filesystem::path& path);
    // The folder of the executable, whatever setMainBundlePath says.
    static std::filesystem::path programFolder();

    // The bundle at a folder, or nothing when there is no folder there.
    static std::optional<Bundle> bundleWithPath(const std::filesystem::path& path);

    // The user's languages, most preferred first ("zh-Hans", "en"). By default they come from
    // the environment's locale settings.
    static std::vector<std::string> preferredLanguages();
    static void setPreferredLanguages(std::vector<std::string> languages);

    explicit Bundle(std::filesystem::path path);

    const std::filesystem::path& bundlePath() const { return path_; }

    // The contents of "Info.plist"; empty when it is missing or unreadable (which is logged).
    Map infoDictionary() const;
    Value objectForInfoDictionaryKey(std::string_view key) const;

    // The resource "<name>.<type>" (or "<name>" when the type is empty) in the subfolder:
    // first at the top, then in the language folders in order of preference. The name may
    // hold folders of its own ("X.bundle/Buttons/icon"); nothing outside the bundle is found.
    std::optional<std::filesystem::path> pathForResource(std::string_view name,
                                                         std::string_view type,
                                                         std::string_view subfolder = {}) const;
    // Every file with the extension in the subfolder (not below it), sorted by name.
    std::vector<std::filesystem::path> pathsForResourcesOfType(std::string_view type,
                                                               std::string_view subfolder) const;

    // The text for the key in the strings table ("Localizable" when the table is empty). When
    // the table or the key is missing: the value, or the key itself when the value is empty.
    std::string localizedString(std::string_view key, std::string_view value,
                                std::string_view table) const;

  private:
    struct Cache;

    std::filesystem::path path_;
    std::shared_ptr<Cache> cache_;  // shared by copies of one bundle
};

}  // namespace platform
