#include "SocialSDK/core/manager/RZSFriendEntity.h"

namespace {

platform::Value textValue(const RZSFriendEntity::Text& text) {
    return text ? platform::Value(*text) : platform::Value();
}

}  // namespace

RZSFriendEntity::RZSFriendEntity(platform::KeyedUnarchiver& coder)
    : name_(coder.decodeString("name")),
      linkName_(coder.decodeString("linkName")),
      imageURL_(coder.decodeString("imageURL")),
      usid_(coder.decodeString("usid")),
      pinyin_(coder.decodeString("pinyin")) {}

void RZSFriendEntity::registerArchiveClass() {
    platform::ArchiveRegistry::shared().add<RZSFriendEntity>(kClassName);
}

void RZSFriendEntity::encode(platform::KeyedArchiver& coder) const {
    coder.encodeObject(textValue(linkName_), "linkName");
    coder.encodeObject(textValue(name_), "name");
    coder.encodeObject(textValue(imageURL_), "imageURL");
    coder.encodeObject(textValue(usid_), "usid");
    coder.encodeObject(textValue(pinyin_), "pinyin");
}
