// The request facade of one share record: shares, the SDK account and the other requests of
// the share service for that record go through it, to the record's data manager or to the
// user manager.
//
// This build carries what the share road needs of it: the record it holds, the delegate of its
// data manager, the account request, the cancel, and the share entry points, which send the
// share to the share service as it stands until the share decisions come.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "SocialSDK/core/data/RAZududeResponseEntity.h"
#include "SocialSDK/core/data/RAZududeShareImage.h"
#include "SocialSDK/core/data/RAZududeUrlResource.h"

namespace platform {
class ViewController;
}

class RAZududeData;
class RAZududeDataDelegate;

// What a share hands the data service: the platform, the content, the screen to present any
// login or editor from, and the completion.
struct RAZududeSnsPostContent {
    std::optional<std::string> snsType;
    std::optional<std::string> content;
    RAZududeShareImage image;
    std::shared_ptr<RAZududeUrlResource> urlResource;
    std::shared_ptr<platform::ViewController> controller;
    RAZududeResponseCompletion completion;
    std::optional<std::string> sourceOpType;
};

class RAZududeDataService {
  public:
    static std::shared_ptr<RAZududeDataService> defaultDataService();

    // A service on the record (initWithRAZududeData).
    explicit RAZududeDataService(std::shared_ptr<RAZududeData> socialData);
    // A service on the default record.
    RAZududeDataService();

    const std::shared_ptr<RAZududeData>& socialData() const { return socialData_; }
    void setSocialData(std::shared_ptr<RAZududeData> data) { socialData_ = std::move(data); }

    // The delegate the record's data manager tells of every result.
    void setRAZududeDelegate(std::weak_ptr<RAZududeDataDelegate> delegate);
    // Empties the request queue of the current data manager.
    void cancelAllRequestInQueueInternal();

    // The user's platform accounts.
    void requestSocialAccountWithCompletionInternal(RAZududeResponseCompletion completion);

    // What a direct share to the platform carries: the text, picture and URL resource the
    // share service set for the platform, else the record's (a default URL resource is none),
    // and the platform's name; no screen and no completion. Built in
    // RAZududeDataServiceContent.cpp.
    RAZududeSnsPostContent snsPostContentForPlatform(const std::string& platformName) const;

    // A direct share from the icon sheet or the list.
    void postSnsWithDictionary(RAZududeSnsPostContent content);
    // A share to the platforms with the content.
    void postSNSWithTypesInternal(const std::vector<std::string>& platformNames,
                                  RAZududeSnsPostContent content);

  private:
    std::shared_ptr<RAZududeData> socialData_;
};
