#include "SocialSDK/core/manager/RZSCommentEntity.h"

#include <cmath>

#include "platform/Format.h"

namespace {

platform::Value textValue(const RZSCommentEntity::Text& text) {
    return text ? platform::Value(*text) : platform::Value();
}

}  // namespace

RZSCommentEntity::RZSCommentEntity(platform::KeyedUnarchiver& coder)
    : uid_(coder.decodeString("uid")),
      content_(coder.decodeString("content")),
      nickName_(coder.decodeString("nickName")),
      userAvatar_(coder.decodeString("userAvatar")),
      dateInterval_(static_cast<std::int64_t>(coder.decodeDouble("dateInterval"))) {
    platform::Value place = coder.decodeValue("location");
    if (place["latitude"].isNumber() && place["longitude"].isNumber()) {
        location_ =
            platform::Location{place["latitude"].doubleValue(), place["longitude"].doubleValue()};
    }
}

void RZSCommentEntity::registerArchiveClass() {
    platform::ArchiveRegistry::shared().add<RZSCommentEntity>(kClassName);
}

void RZSCommentEntity::encode(platform::KeyedArchiver& coder) const {
    coder.encodeObject(textValue(uid_), "uid");
    coder.encodeObject(textValue(content_), "content");
    coder.encodeObject(textValue(nickName_), "nickName");
    coder.encodeObject(textValue(userAvatar_), "userAvatar");
    coder.encodeObject(location_
                           ? platform::Value(platform::Map{{"latitude", location_->latitude},
                                                           {"longitude", location_->longitude}})
                           : platform::Value(),
                       "location");
    coder.encodeDouble(static_cast<double>(dateInterval_), "dateInterval");
}

std::string RZSCommentEntity::getDateString() const {
    return getDateString(
        static_cast<std::int64_t>(std::floor(platform::Date::now().timeIntervalSince1970())));
}

std::string RZSCommentEntity::getDateString(std::int64_t nowSeconds) const {
    const auto age = static_cast<std::int32_t>(nowSeconds - dateInterval_ / 1000);
    if (age >= -59 && age < 60) {
        return platform::format("%d 秒前", age < 0 ? 0 : age);
    }
    if (age < 3660) {
        return platform::format("%d 分钟前", age / 60);
    }
    if (age < 90000) {
        return platform::format("%d 小时前", age / 3600);
    }
    return platform::format("%d 天前", age / 86400);
}

std::string RZSCommentEntity::description() const {
    platform::Map fields;
    if (content_) {
        fields.set("_content", *content_);
    }
    if (nickName_) {
        fields.set("_nickName", *nickName_);
    }
    fields.set("_dateInterval", static_cast<long long>(dateInterval_));
    return platform::Value(std::move(fields)).description();
}
