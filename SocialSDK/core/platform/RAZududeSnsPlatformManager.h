// The registry of share platforms: every registered platform by name, the four the registry
// builds itself (qzone, tencent, renren, douban), those the handlers and the app add, and
// look-ups by name, type and position. The shared instance is made on first use; the handler
// classes the registry asks for platforms must be registered before that.
//
// Main thread only, like the flows that read it.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "SocialSDK/core/platform/RAZududeSnsPlatform.h"
#include "platform/NoDestructor.h"
#include "platform/Value.h"

class RAZududeSnsPlatformManager {
  public:
    using PlatformDictionary = std::map<std::string, std::shared_ptr<RAZududeSnsPlatform>>;

    static RAZududeSnsPlatformManager& sharedInstance();

    RAZududeSnsPlatformManager(const RAZududeSnsPlatformManager&) = delete;
    RAZududeSnsPlatformManager& operator=(const RAZududeSnsPlatformManager&) = delete;

    // ---- look-ups that write a console line when they find nothing
    static std::shared_ptr<RAZududeSnsPlatform> getSocialPlatformWithName(std::string_view name);
    // 0 for a name nobody registered.
    static int getSnsPlatformType(std::string_view name);
    static std::optional<std::string> getSnsPlatformString(int type);
    // The name at the position of socialSnsArray.
    static std::optional<std::string> getSnsPlatformStringFromIndex(int index);

    std::shared_ptr<RAZududeSnsPlatform> getSnsPlatformWithName(std::string_view name) const;
    std::shared_ptr<RAZududeSnsPlatform> getSnsPlatformWithType(int type) const;
    std::shared_ptr<RAZududeSnsPlatform> getSnsPlatformWithIndex(int index) const;

    // The configured list of names; an element may be an array of names.
    const platform::Array& allSnsArray() const;
    // That list flattened one level, rebuilt on each call.
    std::vector<std::string> allSnsValuesArray() const;
    // The names of allSnsValuesArray that the registry built itself, in that order.
    std::vector<std::string> socialSnsArray() const;

    const PlatformDictionary& allSnsPlatformDictionary() const { return allSnsPlatformDictionary_; }
    // Registers the platform under its name unless one of that name is registered already:
    // false then, and the registry stays as it was.
    bool addSnsPlatform(const std::shared_ptr<RAZududeSnsPlatform>& platform);
    void setAllSnsPlatformDictionary(PlatformDictionary dictionary) {
        allSnsPlatformDictionary_ = std::move(dictionary);
    }

    // The waiting mask: a long toast asking the user to wait while an account request runs.
    // Adding it again replaces the one shown; removing takes it out of its window at once.
    void addMaskView();
    void removeMaskView();

    // The blocks the registry installs: a tap runs the companion's click flow (a share), the
    // login block its login flow. Handlers whose platforms take these flows install them too.
    static void installClickHandler(const std::shared_ptr<RAZududeSnsPlatform>& platform);
    static void installLoginHandler(const std::shared_ptr<RAZududeSnsPlatform>& platform);

    // The platform of a type the registry builds (10 to 13); a bare platform otherwise.
    static std::shared_ptr<RAZududeSnsPlatform> makeSNSDescriptorWithType(int type);

  private:
    friend class platform::NoDestructor<RAZududeSnsPlatformManager>;
    RAZududeSnsPlatformManager();

    PlatformDictionary allSnsPlatformDictionary_;
    PlatformDictionary ownPlatforms_;
    // Takes the waiting mask away; empty while none is shown.
    std::function<void()> removeMask_;
};

class RAZududeSnsPlatformManagerInternal {
  public:
    RAZududeSnsPlatformManagerInternal() = delete;
    // The type of the registered platform, 0 when unknown; silent.
    static int getSnsPlatformType(std::string_view name);
};
