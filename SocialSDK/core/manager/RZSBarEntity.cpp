#include "SocialSDK/core/manager/RZSBarEntity.h"

#include <functional>
#include <map>

#include "SocialSDK/core/manager/RZSDataManager.h"
#include "platform/NoDestructor.h"

RZSBarEntity::RZSBarEntity(platform::KeyedUnarchiver& coder)
    : likeCount_(coder.decodeInt("likeCount")),
      commentCount_(coder.decodeInt("commentCount")),
      shareCount_(coder.decodeInt("shareCount")),
      entityKey_(coder.decodeString("entityKey")),
      isLike_(coder.decodeBool("isLike")),
      sessionId_(coder.decodeString("sessionId")) {}

void RZSBarEntity::registerArchiveClass() {
    platform::ArchiveRegistry::shared().add<RZSBarEntity>(kClassName);
}

void RZSBarEntity::encode(platform::KeyedArchiver& coder) const {
    coder.encodeInt(likeCount_, "likeCount");
    coder.encodeInt(commentCount_, "commentCount");
    coder.encodeInt(shareCount_, "shareCount");
    coder.encodeBool(isLike_, "isLike");
    coder.encodeObject(entityKey_ ? platform::Value(*entityKey_) : platform::Value(), "entityKey");
    coder.encodeObject(sessionId_ ? platform::Value(*sessionId_) : platform::Value(), "sessionId");
}

std::shared_ptr<RAZududeSnsData> RZSBarEntity::getSnsData(const std::string& platformName) const {
    if (!extConfig_) {
        return nullptr;
    }
    const RAZududeExtConfig& c = *extConfig_;
    using Getter = std::function<std::shared_ptr<RAZududeSnsData>(const RAZududeExtConfig&)>;
    static const platform::NoDestructor<std::map<std::string, Getter, std::less<>>> getters(
        std::map<std::string, Getter, std::less<>>{
            {"sina", [](const RAZududeExtConfig& e) { return e.sinaData(); }},
            {"tencent", [](const RAZududeExtConfig& e) { return e.tencentData(); }},
            {"wxsession", [](const RAZududeExtConfig& e) { return e.wechatSessionData(); }},
            {"wxtimeline", [](const RAZududeExtConfig& e) { return e.wechatTimelineData(); }},
            {"wxfavorite", [](const RAZududeExtConfig& e) { return e.wechatFavoriteData(); }},
            {"qzone", [](const RAZududeExtConfig& e) { return e.qzoneData(); }},
            {"renren", [](const RAZududeExtConfig& e) { return e.renrenData(); }},
            {"douban", [](const RAZududeExtConfig& e) { return e.doubanData(); }},
            {"email", [](const RAZududeExtConfig& e) { return e.emailData(); }},
            {"sms", [](const RAZududeExtConfig& e) { return e.smsData(); }},
            {"facebook", [](const RAZududeExtConfig& e) { return e.facebookData(); }},
            {"twitter", [](const RAZududeExtConfig& e) { return e.twitterData(); }},
            {"qq", [](const RAZududeExtConfig& e) { return e.qqData(); }},
            {"laiwang", [](const RAZududeExtConfig& e) { return e.lwsessionData(); }},
            {"laiwang_dynamic", [](const RAZududeExtConfig& e) { return e.lwtimelineData(); }},
            {"yixin", [](const RAZududeExtConfig& e) { return e.yxsessionData(); }},
            {"yixin_circle", [](const RAZududeExtConfig& e) { return e.yxtimelineData(); }},
            {"instagram", [](const RAZududeExtConfig& e) { return e.instagramData(); }},
            {"tumblr", [](const RAZududeExtConfig& e) { return e.tumblrData(); }},
        });
    auto it = getters->find(platformName);
    return it == getters->end() ? nullptr : it->second(c);
}

std::optional<std::string> RZSBarEntity::shareText(const std::string& platformName) const {
    auto holder = getSnsData(platformName);
    if (holder && holder->shareText()) {
        return holder->shareText();
    }
    return shareText_;
}

RAZududeShareImage RZSBarEntity::shareImage(const std::string& platformName) const {
    auto holder = getSnsData(platformName);
    if (holder && holder->shareImage()) {
        return holder->shareImage();
    }
    return shareImage_;
}

std::shared_ptr<RAZududeUrlResource> RZSBarEntity::urlResource(
    const std::string& platformName) const {
    auto holder = getSnsData(platformName);
    if (holder && holder->urlResource() &&
        holder->urlResource()->resourceType() != kRAZududeUrlResourceTypeDefault) {
        return holder->urlResource();
    }
    return urlResource_;
}

void RZSBarEntity::writeToCache() {
    auto manager = RZSDataManager::currentDataManager();
    manager->setBarEntity(manager->barEntity());
}
