// Per-platform share content: what a share says on one platform when it should differ from
// the share record's own text, picture and resource. One object of each class lives in the
// extended configuration of a share record; the platform handlers read the extras.
//
// Main thread only, with its share record.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "SocialSDK/core/data/RAZududeShareImage.h"
#include "SocialSDK/core/data/RAZududeUrlResource.h"
#include "platform/Value.h"

using RAZududeOptionalText = std::optional<std::string>;

class RAZududeSnsData {
  public:
    RAZududeSnsData();
    virtual ~RAZududeSnsData() = default;
    RAZududeSnsData(const RAZududeSnsData&) = delete;
    RAZududeSnsData& operator=(const RAZududeSnsData&) = delete;

    const RAZududeOptionalText& snsName() const { return snsName_; }
    void setSnsName(RAZududeOptionalText name) { snsName_ = std::move(name); }
    const RAZududeOptionalText& shareText() const { return shareText_; }
    void setShareText(RAZududeOptionalText text) { shareText_ = std::move(text); }
    const RAZududeShareImage& shareImage() const { return shareImage_; }
    void setShareImage(RAZududeShareImage image) { shareImage_ = std::move(image); }
    // A fresh resource of type 0 to begin with.
    const std::shared_ptr<RAZududeUrlResource>& urlResource() const { return urlResource_; }
    void setUrlResource(std::shared_ptr<RAZududeUrlResource> resource) {
        urlResource_ = std::move(resource);
    }

  protected:
    explicit RAZududeSnsData(std::string snsName);

  private:
    RAZududeOptionalText snsName_;
    RAZududeOptionalText shareText_;
    RAZududeShareImage shareImage_;
    std::shared_ptr<RAZududeUrlResource> urlResource_;
};

// Text properties of the extras, declared once.
#define RAZUDUDE_TEXT_PROPERTY(getter, setter)   \
  public:                                        \
    const RAZududeOptionalText& getter() const { \
        return getter##_;                        \
    }                                            \
    void setter(RAZududeOptionalText value) {    \
        getter##_ = std::move(value);            \
    }                                            \
                                                 \
  private:                                       \
    RAZududeOptionalText getter##_;

#define RAZUDUDE_VALUE_PROPERTY(type, getter, setter, initial) \
  public:                                                      \
    type getter() const {                                      \
        return getter##_;                                      \
    }                                                          \
    void setter(type value) {                                  \
        getter##_ = value;                                     \
    }                                                          \
                                                               \
  private:                                                     \
    type getter##_ = initial;

#define RAZUDUDE_BYTES_PROPERTY(getter, setter)            \
  public:                                                  \
    const std::optional<platform::Bytes>& getter() const { \
        return getter##_;                                  \
    }                                                      \
    void setter(std::optional<platform::Bytes> value) {    \
        getter##_ = std::move(value);                      \
    }                                                      \
                                                           \
  private:                                                 \
    std::optional<platform::Bytes> getter##_;

class RAZududeSinaData : public RAZududeSnsData {
  public:
    RAZududeSinaData() : RAZududeSnsData("sina") {}
};

class RAZududeTencentData : public RAZududeSnsData {
  public:
    RAZududeTencentData() : RAZududeSnsData("tencent") {}
    RAZUDUDE_TEXT_PROPERTY(title, setTitle)
    RAZUDUDE_TEXT_PROPERTY(author, setAuthor)
};

class RAZududeQzoneData : public RAZududeSnsData {
  public:
    RAZududeQzoneData() : RAZududeSnsData("qzone") {}
    RAZUDUDE_TEXT_PROPERTY(title, setTitle)
    RAZUDUDE_TEXT_PROPERTY(url, setUrl)
};

class RAZududeQQData : public RAZududeSnsData {
  public:
    RAZududeQQData() : RAZududeSnsData("qq") {}
    RAZUDUDE_TEXT_PROPERTY(url, setUrl)
    RAZUDUDE_TEXT_PROPERTY(title, setTitle)
    RAZUDUDE_VALUE_PROPERTY(std::int32_t, qqMessageType, setQqMessageType, 0)
};

class RAZududeWechatSessionData : public RAZududeSnsData {
  public:
    RAZududeWechatSessionData() : RAZududeSnsData("wxsession") {}
    RAZUDUDE_TEXT_PROPERTY(title, setTitle)
    RAZUDUDE_VALUE_PROPERTY(std::int32_t, wxMessageType, setWxMessageType, 0)
    RAZUDUDE_TEXT_PROPERTY(url, setUrl)
    RAZUDUDE_BYTES_PROPERTY(fileData, setFileData)
    RAZUDUDE_TEXT_PROPERTY(extInfo, setExtInfo)
};

class RAZududeWechatTimelineData : public RAZududeSnsData {
  public:
    RAZududeWechatTimelineData() : RAZududeSnsData("wxtimeline") {}
    RAZUDUDE_TEXT_PROPERTY(title, setTitle)
    RAZUDUDE_BYTES_PROPERTY(fileData, setFileData)
    RAZUDUDE_VALUE_PROPERTY(std::int32_t, wxMessageType, setWxMessageType, 0)
    RAZUDUDE_TEXT_PROPERTY(extInfo, setExtInfo)
    RAZUDUDE_TEXT_PROPERTY(url, setUrl)
};

// Its word is spelled "wxfavorate"; it is entered under "wxfavorite".
class RAZududeWechatFavorite : public RAZududeSnsData {
  public:
    RAZududeWechatFavorite() : RAZududeSnsData("wxfavorate") {}
    RAZUDUDE_TEXT_PROPERTY(title, setTitle)
    RAZUDUDE_BYTES_PROPERTY(fileData, setFileData)
    RAZUDUDE_VALUE_PROPERTY(std::int32_t, wxMessageType, setWxMessageType, 0)
    RAZUDUDE_TEXT_PROPERTY(extInfo, setExtInfo)
    RAZUDUDE_TEXT_PROPERTY(url, setUrl)
};

class RAZududeAlipaySessionData : public RAZududeSnsData {
  public:
    RAZududeAlipaySessionData() : RAZududeSnsData("alipay") {}
    RAZUDUDE_TEXT_PROPERTY(title, setTitle)
    RAZUDUDE_VALUE_PROPERTY(std::int64_t, alipayMessageType, setAlipayMessageType, 0)
    RAZUDUDE_TEXT_PROPERTY(url, setUrl)
};

class RAZududeRenrenData : public RAZududeSnsData {
  public:
    RAZududeRenrenData() : RAZududeSnsData("renren") {}
    RAZUDUDE_TEXT_PROPERTY(url, setUrl)
    RAZUDUDE_TEXT_PROPERTY(appName, setAppName)
};

class RAZududeDoubanData : public RAZududeSnsData {
  public:
    RAZududeDoubanData() : RAZududeSnsData("douban") {}
};

class RAZududeEmailData : public RAZududeSnsData {
  public:
    RAZududeEmailData() : RAZududeSnsData("email") {}
    RAZUDUDE_TEXT_PROPERTY(title, setTitle)
};

class RAZududeSmsData : public RAZududeSnsData {
  public:
    RAZududeSmsData() : RAZududeSnsData("sms") {}
};

class RAZududeFacebookData : public RAZududeSnsData {
  public:
    RAZududeFacebookData() : RAZududeSnsData("facebook") {}
    RAZUDUDE_TEXT_PROPERTY(title, setTitle)
    RAZUDUDE_TEXT_PROPERTY(linkDescription, setLinkDescription)
    RAZUDUDE_TEXT_PROPERTY(url, setUrl)
};

class RAZududeTwitterData : public RAZududeSnsData {
  public:
    RAZududeTwitterData() : RAZududeSnsData("twitter") {}
};

class RAZududeInstagramData : public RAZududeSnsData {
  public:
    RAZududeInstagramData() : RAZududeSnsData("instagram") {}
};

class RAZududeTumblrData : public RAZududeSnsData {
  public:
    RAZududeTumblrData() : RAZududeSnsData("tumblr") {}
    RAZUDUDE_TEXT_PROPERTY(title, setTitle)
    RAZUDUDE_TEXT_PROPERTY(link, setLink)
    RAZUDUDE_TEXT_PROPERTY(linkDescription, setLinkDescription)
    RAZUDUDE_TEXT_PROPERTY(callbackScheme, setCallbackScheme)

  public:
    const std::optional<std::vector<std::string>>& tags() const { return tags_; }
    void setTags(std::optional<std::vector<std::string>> tags) { tags_ = std::move(tags); }

  private:
    std::optional<std::vector<std::string>> tags_;
};

class RAZududeLWSessionData : public RAZududeSnsData {
  public:
    RAZududeLWSessionData() : RAZududeSnsData("lwsession") {}
    RAZUDUDE_TEXT_PROPERTY(url, setUrl)
};

class RAZududeLWTimelineData : public RAZududeSnsData {
  public:
    RAZududeLWTimelineData() : RAZududeSnsData("lwtimeline") {}
    RAZUDUDE_TEXT_PROPERTY(url, setUrl)
};

class RAZududeYXSessionData : public RAZududeSnsData {
  public:
    RAZududeYXSessionData() : RAZududeSnsData("yxsession") {}
    RAZUDUDE_VALUE_PROPERTY(std::int32_t, yxMessageType, setYxMessageType, 0)
    RAZUDUDE_TEXT_PROPERTY(url, setUrl)
};

class RAZududeYXTimelineData : public RAZududeSnsData {
  public:
    RAZududeYXTimelineData() : RAZududeSnsData("yxtimeline") {}
    RAZUDUDE_VALUE_PROPERTY(std::int32_t, yxMessageType, setYxMessageType, 0)
    RAZUDUDE_TEXT_PROPERTY(url, setUrl)
};

#undef RAZUDUDE_TEXT_PROPERTY
#undef RAZUDUDE_VALUE_PROPERTY
#undef RAZUDUDE_BYTES_PROPERTY
