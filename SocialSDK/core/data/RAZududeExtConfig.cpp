#include "SocialSDK/core/data/RAZududeExtConfig.h"

#include "SocialSDK/core/platform/RAZududeSnsPlatformNames.h"

namespace {

template <class T>
std::shared_ptr<T> enter(RAZududeExtConfig::SnsDataDictionary& dictionary, const char* name) {
    auto data = std::make_shared<T>();
    dictionary.emplace(name, data);
    return data;
}

}  // namespace

RAZududeExtConfig::RAZududeExtConfig() {
    auto& d = snsDataDictionary_;
    sinaData_ = enter<RAZududeSinaData>(d, RZShareToSina);
    tencentData_ = enter<RAZududeTencentData>(d, RZShareToTencent);
    wechatSessionData_ = enter<RAZududeWechatSessionData>(d, RZShareToWechatSession);
    wechatTimelineData_ = enter<RAZududeWechatTimelineData>(d, RZShareToWechatTimeline);
    wechatFavoriteData_ = enter<RAZududeWechatFavorite>(d, RZShareToWechatFavorite);
    alipaySessionData_ = enter<RAZududeAlipaySessionData>(d, RZShareToAlipaySession);
    qqData_ = enter<RAZududeQQData>(d, RZShareToQQ);
    qzoneData_ = enter<RAZududeQzoneData>(d, RZShareToQzone);
    lwsessionData_ = enter<RAZududeLWSessionData>(d, RZShareToLWSession);
    lwtimelineData_ = enter<RAZududeLWTimelineData>(d, RZShareToLWTimeline);
    yxsessionData_ = enter<RAZududeYXSessionData>(d, RZShareToYXSession);
    yxtimelineData_ = enter<RAZududeYXTimelineData>(d, RZShareToYXTimeline);
    renrenData_ = enter<RAZududeRenrenData>(d, RZShareToRenren);
    doubanData_ = enter<RAZududeDoubanData>(d, RZShareToDouban);
    emailData_ = enter<RAZududeEmailData>(d, RZShareToEmail);
    smsData_ = enter<RAZududeSmsData>(d, RZShareToSms);
    facebookData_ = enter<RAZududeFacebookData>(d, RZShareToFacebook);
    twitterData_ = enter<RAZududeTwitterData>(d, RZShareToTwitter);
    instagramData_ = enter<RAZududeInstagramData>(d, RZShareToInstagram);
    tumblrData_ = enter<RAZududeTumblrData>(d, RZShareToTumblr);
}

std::shared_ptr<RAZududeSnsData> RAZududeExtConfig::snsData(const std::string& platformName) const {
    auto it = snsDataDictionary_.find(platformName);
    return it == snsDataDictionary_.end() ? nullptr : it->second;
}
