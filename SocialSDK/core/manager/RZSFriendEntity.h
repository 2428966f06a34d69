// One friend of the user on a platform, as the friend picker shows it: the name, the name used
// to @-mention, the avatar, the friend's platform user id and the romanised name that sorts
// and indexes the picker. Archived with keyed coding.
//
// Made on the main thread from a reply and read there.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>

#include "platform/KeyedArchive.h"

class RZSFriendEntity : public platform::Archivable {
  public:
    using Text = std::optional<std::string>;
    static constexpr const char* kClassName = "RZSFriendEntity";

    RZSFriendEntity() = default;
    explicit RZSFriendEntity(platform::KeyedUnarchiver& coder);
    static void registerArchiveClass();
    std::string archiveClassName() const override { return kClassName; }
    void encode(platform::KeyedArchiver& coder) const override;

    const Text& name() const { return name_; }
    void setName(Text v) { name_ = std::move(v); }
    const Text& linkName() const { return linkName_; }
    void setLinkName(Text v) { linkName_ = std::move(v); }
    const Text& imageURL() const { return imageURL_; }
    void setImageURL(Text v) { imageURL_ = std::move(v); }
    const Text& usid() const { return usid_; }
    void setUsid(Text v) { usid_ = std::move(v); }
    const Text& pinyin() const { return pinyin_; }
    void setPinyin(Text v) { pinyin_ = std::move(v); }

  private:
    Text name_;
    Text linkName_;
    Text imageURL_;
    Text usid_;
    Text pinyin_;
};

// Friend's platform user id to friend.
using RZSFriendDictionary = std::map<std::string, std::shared_ptr<RZSFriendEntity>>;
