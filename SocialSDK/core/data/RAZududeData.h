// The share record: what a share carries (text, picture, URL resource, per-platform content,
// title) and the counters of the shared item. Only the identifier and the title live in the
// record itself; the content lives in the bar entity of the identifier's data manager, so two
// records with one identifier share one content.
//
// The class side holds the settings to make first: the AppKey and the log switch.
//
// Main thread only, like the data managers that keep its content.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "SocialSDK/core/account/RAZududeAccountEntity.h"
#include "SocialSDK/core/data/RAZududeExtConfig.h"
#include "SocialSDK/core/data/RAZududeResponseEntity.h"
#include "SocialSDK/core/data/RAZududeShareImage.h"
#include "SocialSDK/core/data/RAZududeUrlResource.h"
#include "platform/Value.h"
#include "platform/graphics/Image.h"

class RZSBarEntity;

class RAZududeData {
  public:
    // The shared record, identifier "RAZududeDefault".
    static std::shared_ptr<RAZududeData> defaultData();
    static constexpr const char* kDefaultIdentifier = "RAZududeDefault";

    // Keeps the AppKey, re-keys the cryptor and fetches the app information.
    static void setAppKey(std::optional<std::string> appKey);
    static std::optional<std::string> appKey();
    // Switches the share service's debug log.
    static void openLog(bool open);

    // initWithIdentifier: and initWithIdentifier:withTitle:.
    explicit RAZududeData(std::string identifier);
    RAZududeData(std::string identifier, std::string title);
    RAZududeData(const RAZududeData&) = delete;
    RAZududeData& operator=(const RAZududeData&) = delete;

    const std::string& identifier() const { return identifier_; }
    // Registers the identifier's data manager, gives it a bar entity, and asks the share
    // service for the bar information unless it is known.
    void setIdentifier(std::string identifier);
    const std::optional<std::string>& title() const { return title_; }
    void setTitle(std::optional<std::string> title);

    std::optional<std::string> shareText() const;
    void setShareText(std::optional<std::string> text);
    std::optional<std::string> commentText() const;
    void setCommentText(std::optional<std::string> text);
    RAZududeShareImage shareImage() const;
    // Refuses (and logs) anything that is neither an image nor image bytes.
    void setShareImage(RAZududeShareImage image);
    platform::ImagePtr commentImage() const;
    void setCommentImage(platform::ImagePtr image);
    bool isLike() const;
    // The user manager's accounts.
    const RAZududeAccountDictionary& socialAccount() const;
    std::shared_ptr<RAZududeUrlResource> urlResource() const;
    // Refuses nothing and a resource without a URL.
    void setUrlResource(std::shared_ptr<RAZududeUrlResource> resource);
    std::shared_ptr<RAZududeExtConfig> extConfig() const;
    void setExtConfig(std::shared_ptr<RAZududeExtConfig> config);
    std::optional<std::string> hashIdentifier() const;

    // Asks for the bar information when the item has no key yet.
    void refresh();
    // 0: likes, 1: shares, 2: comments; 0 for anything else.
    int getNumber(int which) const;
    // The host framework's name and version.
    static void setSdkType(std::optional<std::string> type, std::optional<std::string> version);

    // The app information of a reply merged over the current one: a Sina key configured here
    // wins over the reply's. Nothing when the reply brings none.
    static std::optional<platform::Map> mergedAppInfo(const platform::Map& current,
                                                      const RAZududeResponsePtr& reply);

  private:
    // The bar entity of the identifier's data manager; null only when it has no manager.
    std::shared_ptr<RZSBarEntity> bar() const;
    void commonSetUp(std::string identifier);

    std::string identifier_;
    std::optional<std::string> title_;
};
