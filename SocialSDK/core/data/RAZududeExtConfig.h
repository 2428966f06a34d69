// The per-platform content of one share record: one data object per platform, reachable by
// its own accessor and by platform name through the dictionary.
//
// Main thread only, with its share record.
#pragma once

#include <any>
#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "SocialSDK/core/data/RAZududeSnsData.h"

class RAZududeExtConfig {
  public:
    using SnsDataDictionary = std::map<std::string, std::shared_ptr<RAZududeSnsData>>;

    // One data object of each class, entered under its platform name.
    RAZududeExtConfig();
    RAZududeExtConfig(const RAZududeExtConfig&) = delete;
    RAZududeExtConfig& operator=(const RAZududeExtConfig&) = delete;

    const SnsDataDictionary& snsDataDictionary() const { return snsDataDictionary_; }
    void setSnsDataDictionary(SnsDataDictionary dictionary) {
        snsDataDictionary_ = std::move(dictionary);
    }
    // The entry for the platform name, or null.
    std::shared_ptr<RAZududeSnsData> snsData(const std::string& platformName) const;

#define RAZUDUDE_SNS_DATA(type, getter, setter)   \
    const std::shared_ptr<type>& getter() const { \
        return getter##_;                         \
    }                                             \
    void setter(std::shared_ptr<type> data) {     \
        getter##_ = std::move(data);              \
    }

    RAZUDUDE_SNS_DATA(RAZududeSinaData, sinaData, setSinaData)
    RAZUDUDE_SNS_DATA(RAZududeTencentData, tencentData, setTencentData)
    RAZUDUDE_SNS_DATA(RAZududeWechatSessionData, wechatSessionData, setWechatSessionData)
    RAZUDUDE_SNS_DATA(RAZududeWechatTimelineData, wechatTimelineData, setWechatTimelineData)
    RAZUDUDE_SNS_DATA(RAZududeWechatFavorite, wechatFavoriteData, setWechatFavoriteData)
    RAZUDUDE_SNS_DATA(RAZududeAlipaySessionData, alipaySessionData, setAlipaySessionData)
    RAZUDUDE_SNS_DATA(RAZududeQQData, qqData, setQqData)
    RAZUDUDE_SNS_DATA(RAZududeQzoneData, qzoneData, setQzoneData)
    RAZUDUDE_SNS_DATA(RAZududeRenrenData, renrenData, setRenrenData)
    RAZUDUDE_SNS_DATA(RAZududeDoubanData, doubanData, setDoubanData)
    RAZUDUDE_SNS_DATA(RAZududeEmailData, emailData, setEmailData)
    RAZUDUDE_SNS_DATA(RAZududeSmsData, smsData, setSmsData)
    RAZUDUDE_SNS_DATA(RAZududeFacebookData, facebookData, setFacebookData)
    RAZUDUDE_SNS_DATA(RAZududeTwitterData, twitterData, setTwitterData)
    RAZUDUDE_SNS_DATA(RAZududeYXSessionData, yxsessionData, setYxsessionData)
    RAZUDUDE_SNS_DATA(RAZududeYXTimelineData, yxtimelineData, setYxtimelineData)
    RAZUDUDE_SNS_DATA(RAZududeLWSessionData, lwsessionData, setLwsessionData)
    RAZUDUDE_SNS_DATA(RAZududeLWTimelineData, lwtimelineData, setLwtimelineData)
    RAZUDUDE_SNS_DATA(RAZududeInstagramData, instagramData, setInstagramData)
    RAZUDUDE_SNS_DATA(RAZududeTumblrData, tumblrData, setTumblrData)
#undef RAZUDUDE_SNS_DATA

    // The share title for every platform.
    const RAZududeOptionalText& title() const {
        return title_;
    }
    void setTitle(RAZududeOptionalText title) {
        title_ = std::move(title);
    }
    std::int32_t wxMessageType() const {
        return wxMessageType_;
    }
    void setWxMessageType(std::int32_t type) {
        wxMessageType_ = type;
    }
    // Whatever the app hands the WeChat handler as its media object.
    const std::any& wxMediaObject() const {
        return wxMediaObject_;
    }
    void setWxMediaObject(std::any object) {
        wxMediaObject_ = std::move(object);
    }

  private:
    SnsDataDictionary snsDataDictionary_;
    std::shared_ptr<RAZududeSinaData> sinaData_;
    std::shared_ptr<RAZududeTencentData> tencentData_;
    std::shared_ptr<RAZududeWechatSessionData> wechatSessionData_;
    std::shared_ptr<RAZududeWechatTimelineData> wechatTimelineData_;
    std::shared_ptr<RAZududeWechatFavorite> wechatFavoriteData_;
    std::shared_ptr<RAZududeAlipaySessionData> alipaySessionData_;
    std::shared_ptr<RAZududeQQData> qqData_;
    std::shared_ptr<RAZududeQzoneData> qzoneData_;
    std::shared_ptr<RAZududeRenrenData> renrenData_;
    std::shared_ptr<RAZududeDoubanData> doubanData_;
    std::shared_ptr<RAZududeEmailData> emailData_;
    std::shared_ptr<RAZududeSmsData> smsData_;
    std::shared_ptr<RAZududeFacebookData> facebookData_;
    std::shared_ptr<RAZududeTwitterData> twitterData_;
    std::shared_ptr<RAZududeYXSessionData> yxsessionData_;
    std::shared_ptr<RAZududeYXTimelineData> yxtimelineData_;
    std::shared_ptr<RAZududeLWSessionData> lwsessionData_;
    std::shared_ptr<RAZududeLWTimelineData> lwtimelineData_;
    std::shared_ptr<RAZududeInstagramData> instagramData_;
    std::shared_ptr<RAZududeTumblrData> tumblrData_;
    RAZududeOptionalText title_;
    std::int32_t wxMessageType_ = 0;
    std::any wxMediaObject_;
};
