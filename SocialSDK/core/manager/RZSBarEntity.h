// The bar of one shared item (one share record's identifier): its counters, whether this user
// likes it, its key and session on the share service, and the share content itself, with the
// per-platform content that overrides it. The counters, the like state, the key and the
// session are archived (keyed coding); the views and the content are not.
//
// Main thread only, in its data manager.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "SocialSDK/core/data/RAZududeExtConfig.h"
#include "SocialSDK/core/data/RAZududeShareImage.h"
#include "SocialSDK/core/data/RAZududeUrlResource.h"
#include "platform/KeyedArchive.h"
#include "platform/graphics/Image.h"

class RZSBarEntity : public platform::Archivable {
  public:
    static constexpr const char* kClassName = "RZSBarEntity";

    RZSBarEntity() = default;
    // Read back: no views and no content.
    explicit RZSBarEntity(platform::KeyedUnarchiver& coder);
    static void registerArchiveClass();
    std::string archiveClassName() const override { return kClassName; }
    void encode(platform::KeyedArchiver& coder) const override;

    int viewCount() const { return viewCount_; }
    void setViewCount(int v) { viewCount_ = v; }
    int likeCount() const { return likeCount_; }
    void setLikeCount(int v) { likeCount_ = v; }
    int commentCount() const { return commentCount_; }
    void setCommentCount(int v) { commentCount_ = v; }
    int shareCount() const { return shareCount_; }
    void setShareCount(int v) { shareCount_ = v; }
    const std::optional<std::string>& entityKey() const { return entityKey_; }
    void setEntityKey(std::optional<std::string> v) { entityKey_ = std::move(v); }
    bool isLike() const { return isLike_; }
    void setIsLike(bool v) { isLike_ = v; }
    const std::optional<std::string>& sessionId() const { return sessionId_; }
    void setSessionId(std::optional<std::string> v) { sessionId_ = std::move(v); }

    const std::optional<std::string>& shareText() const { return shareText_; }
    void setShareText(std::optional<std::string> v) { shareText_ = std::move(v); }
    const std::optional<std::string>& commentText() const { return commentText_; }
    void setCommentText(std::optional<std::string> v) { commentText_ = std::move(v); }
    const RAZududeShareImage& shareImage() const { return shareImage_; }
    void setShareImage(RAZududeShareImage v) { shareImage_ = std::move(v); }
    const platform::ImagePtr& commentImage() const { return commentImage_; }
    void setCommentImage(platform::ImagePtr v) { commentImage_ = std::move(v); }
    const std::shared_ptr<RAZududeUrlResource>& urlResource() const { return urlResource_; }
    void setUrlResource(std::shared_ptr<RAZududeUrlResource> v) { urlResource_ = std::move(v); }
    const std::shared_ptr<RAZududeExtConfig>& extConfig() const { return extConfig_; }
    void setExtConfig(std::shared_ptr<RAZududeExtConfig> v) { extConfig_ = std::move(v); }

    // The per-platform content holder of the name, or null for a platform without one.
    std::shared_ptr<RAZududeSnsData> getSnsData(const std::string& platformName) const;
    // The platform's own text and picture when it has them, else the item's.
    std::optional<std::string> shareText(const std::string& platformName) const;
    RAZududeShareImage shareImage(const std::string& platformName) const;
    // The platform's resource when its type is not 0, else the item's.
    std::shared_ptr<RAZududeUrlResource> urlResource(const std::string& platformName) const;

    // Stores the current data manager's bar entity again.
    static void writeToCache();

  private:
    int viewCount_ = 0;
    int likeCount_ = 0;
    int commentCount_ = 0;
    int shareCount_ = 0;
    std::optional<std::string> entityKey_;
    bool isLike_ = false;
    std::optional<std::string> sessionId_;
    std::optional<std::string> shareText_;
    std::optional<std::string> commentText_;
    RAZududeShareImage shareImage_;
    platform::ImagePtr commentImage_;
    std::shared_ptr<RAZududeUrlResource> urlResource_;
    std::shared_ptr<RAZududeExtConfig> extConfig_;
};
