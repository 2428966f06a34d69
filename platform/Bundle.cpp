#include "platform/Bundle.h"

#include <unistd.h>
#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <map>
#include <mutex>
#include <system_error>

#include "platform/Files.h"
#include "platform/PropertyList.h"
#include "platform/StorageLog.h"
#include "platform/TextPropertyList.h"

namespace platform {

namespace {

std::mutex gMainMutex;
std::optional<Bundle> gMain;

std::mutex gLanguagesMutex;
std::optional<std::vector<std::string>> gLanguages;
std::atomic<std::uint64_t> gLanguagesGeneration{0};

// A locale name from the environment ("zh_CN.UTF-8", "en_US") as a language tag ("zh-CN").
std::string languageTag(std::string name) {
    name = name.substr(0, name.find_first_of(".@"));
    std::replace(name.begin(), name.end(), '_', '-');
    return name;
}

std::vector<std::string> languagesFromEnvironment() {
    std::vector<std::string> result;
    auto add = [&](const std::string& tag) {
        if (!tag.empty() && tag != "C" && tag != "POSIX" &&
            std::find(result.begin(), result.end(), tag) == result.end()) {
            result.push_back(tag);
        }
    };
    if (const char* list = std::getenv("LANGUAGE"); list && *list) {
        std::string_view rest(list);
        while (!rest.empty()) {
            std::size_t colon = rest.find(':');
            add(languageTag(std::string(rest.substr(0, colon))));
            rest = colon == std::string_view::npos ? std::string_view() : rest.substr(colon + 1);
        }
    }
    for (const char* variable : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        if (const char* value = std::getenv(variable); value && *value) {
            add(languageTag(value));
            break;
        }
    }
    return result;
}

// Folder names to try for one language: the tag itself, Chinese with its script as the
// platform names those folders, and the bare language.
void addCandidates(const std::string& tag, std::vector<std::string>& out) {
    auto add = [&](const std::string& name) {
        if (!name.empty() && std::find(out.begin(), out.end(), name) == out.end()) {
            out.push_back(name);
        }
    };
    add(tag);
    const std::string language = tag.substr(0, tag.find('-'));
    if (language == "zh" && tag.find("-Han") == std::string::npos) {
        const bool traditional = tag.find("-TW") != std::string::npos ||
                                 tag.find("-HK") != std::string::npos ||
                                 tag.find("-MO") != std::string::npos;
        add(traditional ? "zh-Hant" : "zh-Hans");
    }
    for (std::size_t dash = tag.rfind('-'); dash != std::string::npos && dash > 0;
         dash = tag.rfind('-', dash - 1)) {
        add(tag.substr(0, dash));
    }
    add(language);
}

// A name given by a caller may reach into folders of the bundle, never out of it.
bool staysInside(std::string_view relative) {
    std::filesystem::path path(relative);
    if (path.is_absolute()) {
        return false;
    }
    for (const auto& part : path) {
        if (part == "..") {
            return false;
        }
    }
    return true;
}

}  // namespace

struct Bundle::Cache {
    std::mutex mutex;
    std::optional<Map> info;
    std::uint64_t generation = 0;
    std::map<std::string, Map, std::less<>> tables;
};

Bundle::Bundle(std::filesystem::path path)
    : path_(std::move(path)), cache_(std::make_shared<Cache>()) {}

Bundle Bundle::mainBundle() {
    std::lock_guard lock(gMainMutex);
    if (!gMain) {
        gMain.emplace(programFolder());
    }
    return *gMain;
}

std::filesystem::path Bundle::programFolder() {
    std::error_code error;
    auto executable = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::filesystem::current_path() : executable.parent_path();
}

void Bundle::setMainBundlePath(const std::filesystem::path& path) {
    std::lock_guard lock(gMainMutex);
    gMain.emplace(path);
}

std::optional<Bundle> Bundle::bundleWithPath(const std::filesystem::path& path) {
    std::error_code error;
    if (!std::filesystem::is_directory(path, error)) {
        return std::nullopt;
    }
    return Bundle(path);
}

std::vector<std::string> Bundle::preferredLanguages() {
    std::lock_guard lock(gLanguagesMutex);
    if (!gLanguages) {
        gLanguages = languagesFromEnvironment();
    }
    return *gLanguages;
}

void Bundle::setPreferredLanguages(std::vector<std::string> languages) {
    std::lock_guard lock(gLanguagesMutex);
    gLanguages = std::move(languages);
    ++gLanguagesGeneration;
}

Map Bundle::infoDictionary() const {
    std::lock_guard lock(cache_->mutex);
    if (!cache_->info) {
        cache_->info.emplace();
        const auto path = path_ / "Info.plist";
        Error error;
        auto value = PropertyList::readFile(path, &error);
        if (value && value->isMap()) {
            cache_->info = std::move(*value->map());
        } else if (value || error.code() != kFileReadNoSuchFileError) {
            detail::storageLog(
                "Bundle: cannot read " + path.string() + ": " +
                (value ? std::string("it holds no dictionary") : error.localizedDescription()));
        }
    }
    return *cache_->info;
}

Value Bundle::objectForInfoDictionaryKey(std::string_view key) const {
    return infoDictionary()[key];
}

namespace {

// Language folders of a bundle in the order they are searched.
std::vector<std::string> localizationFolders(const Bundle& bundle) {
    std::vector<std::string> names;
    for (const std::string& language : Bundle::preferredLanguages()) {
        addCandidates(languageTag(language), names);
    }
    const Value& development = bundle.objectForInfoDictionaryKey("CFBundleDevelopmentRegion");
    if (development.isString()) {
        addCandidates(*development.string(), names);
    }
    if (std::find(names.begin(), names.end(), "Base") == names.end()) {
        names.push_back("Base");
    }
    std::vector<std::string> folders;
    folders.reserve(names.size());
    for (const std::string& name : names) {
        folders.push_back(name + ".lproj");
    }
    return folders;
}

bool isFileOrFolder(const std::filesystem::path& path) {
    std::error_code error;
    return std::filesystem::exists(path, error);
}

}  // namespace

std::optional<std::filesystem::path> Bundle::pathForResource(std::string_view name,
                                                             std::string_view type,
                                                             std::string_view subfolder) const {
    if (name.empty() || !staysInside(name) || !staysInside(subfolder)) {
        return std::nullopt;
    }
    if (type.starts_with('.')) {
        type.remove_prefix(1);
    }
    std::string file(name);
    if (!type.empty()) {
        file += ".";
        file += type;
    }
    const std::filesystem::path folder = subfolder.empty() ? path_ : path_ / subfolder;
    if (auto path = folder / file; isFileOrFolder(path)) {
        return path;
    }
    for (const std::string& localized : localizationFolders(*this)) {
        if (auto path = folder / localized / file; isFileOrFolder(path)) {
            return path;
        }
    }
    return std::nullopt;
}

std::vector<std::filesystem::path> Bundle::pathsForResourcesOfType(
    std::string_view type, std::string_view subfolder) const {
    std::vector<std::filesystem::path> found;
    if (!staysInside(subfolder)) {
        return found;
    }
    if (type.starts_with('.')) {
        type.remove_prefix(1);
    }
    const std::string extension = "." + std::string(type);
    std::error_code error;
    const std::filesystem::path folder = subfolder.empty() ? path_ : path_ / subfolder;
    for (std::filesystem::directory_iterator it(folder, error), end; !error && it != end;
         it.increment(error)) {
        if (it->is_regular_file(error) && it->path().extension() == extension) {
            found.push_back(it->path());
        }
    }
    std::sort(found.begin(), found.end());
    return found;
}

namespace {

// A strings table in the old text form (UTF-8 or UTF-16 with a byte-order mark), or a
// dictionary property list in any form. A table that cannot be read is logged and empty.
Map readStringsTable(const std::filesystem::path& path) {
    Error error;
    auto data = Files::read(path, &error);
    if (data) {
        if (auto text = detail::decodeText(*data, &error)) {
            if (auto table = detail::parseStringsTable(*text, &error)) {
                return std::move(*table);
            }
        }
        Error plistError;
        auto value = PropertyList::read(*data, &plistError);
        if (value && value->isMap()) {
            return std::move(*value->map());
        }
    }
    detail::storageLog("Bundle: cannot read the strings table " + path.string() + ": " +
                       error.localizedDescription());
    return {};
}

}  // namespace

std::string Bundle::localizedString(std::string_view key, std::string_view value,
                                    std::string_view table) const {
    const std::string tableName = table.empty() ? std::string("Localizable") : std::string(table);
    const Value* text = nullptr;
    std::unique_lock lock(cache_->mutex);
    const std::uint64_t generation = gLanguagesGeneration.load();
    if (cache_->generation != generation) {
        cache_->tables.clear();
        cache_->generation = generation;
    }
    auto found = cache_->tables.find(tableName);
    if (found == cache_->tables.end()) {
        lock.unlock();  // the search below reads the info dictionary under the same lock
        Map entries;
        if (staysInside(tableName)) {
            const std::string file = tableName + ".strings";
            std::optional<std::filesystem::path> path;
            for (const std::string& localized : localizationFolders(*this)) {
                if (isFileOrFolder(path_ / localized / file)) {
                    path = path_ / localized / file;
                    break;
                }
            }
            if (!path && isFileOrFolder(path_ / file)) {
                path = path_ / file;
            }
            if (path) {
                entries = readStringsTable(*path);
            }
        }
        lock.lock();
        found = cache_->tables.insert_or_assign(tableName, std::move(entries)).first;
    }
    text = found->second.find(key);
    if (text && text->isString()) {
        return *text->string();
    }
    return std::string(value.empty() ? key : value);
}

}  // namespace platform
