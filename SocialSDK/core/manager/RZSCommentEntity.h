// One comment on a shared item: who wrote it, what, where and when (milliseconds since 1970),
// with its age as display text. Archived with keyed coding.
//
// Made on the main thread from a reply and read there.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/KeyedArchive.h"
#include "platform/Location.h"

class RZSCommentEntity : public platform::Archivable {
  public:
    using Text = std::optional<std::string>;
    static constexpr const char* kClassName = "RZSCommentEntity";

    RZSCommentEntity() = default;
    explicit RZSCommentEntity(platform::KeyedUnarchiver& coder);
    static void registerArchiveClass();
    std::string archiveClassName() const override { return kClassName; }
    void encode(platform::KeyedArchiver& coder) const override;

    const Text& uid() const { return uid_; }
    void setUid(Text v) { uid_ = std::move(v); }
    const Text& content() const { return content_; }
    void setContent(Text v) { content_ = std::move(v); }
    const Text& nickName() const { return nickName_; }
    void setNickName(Text v) { nickName_ = std::move(v); }
    const Text& userAvatar() const { return userAvatar_; }
    void setUserAvatar(Text v) { userAvatar_ = std::move(v); }
    const std::optional<platform::Location>& location() const { return location_; }
    void setLocation(std::optional<platform::Location> v) { location_ = v; }
    std::int64_t dateInterval() const { return dateInterval_; }
    void setDateInterval(std::int64_t v) { dateInterval_ = v; }

    // The comment's age: "%d 秒前", "%d 分钟前", "%d 小时前" or "%d 天前".
    std::string getDateString() const;
    // The age at a given time (seconds since 1970).
    std::string getDateString(std::int64_t nowSeconds) const;
    std::string description() const;

  private:
    Text uid_;
    Text content_;
    Text nickName_;
    Text userAvatar_;
    std::optional<platform::Location> location_;
    std::int64_t dateInterval_ = 0;
};
