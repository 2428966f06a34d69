#include "SocialSDK/core/manager/RAZududeDataService.h"

#include "SocialSDK/core/data/RAZududeData.h"
#include "SocialSDK/core/manager/RZSDataManager.h"
#include "SocialSDK/core/manager/RZSRequestGate.h"
#include "SocialSDK/core/manager/RZSUserManager.h"

std::shared_ptr<RAZududeDataService> RAZududeDataService::defaultDataService() {
    static auto* instance =
        new std::shared_ptr<RAZududeDataService>(std::make_shared<RAZududeDataService>());
    return *instance;
}

RAZududeDataService::RAZududeDataService(std::shared_ptr<RAZududeData> socialData)
    : socialData_(std::move(socialData)) {}

RAZududeDataService::RAZududeDataService() : socialData_(RAZududeData::defaultData()) {}

void RAZududeDataService::setRAZududeDelegate(std::weak_ptr<RAZududeDataDelegate> delegate) {
    if (!socialData_) {
        return;
    }
    if (auto manager = RZSDataManager::getDataManager(socialData_->identifier())) {
        manager->setSocialDelegate(std::move(delegate));
    }
}

void RAZududeDataService::cancelAllRequestInQueueInternal() {
    // The request queue comes with the request pipeline; nothing waits in one yet.
}

void RAZududeDataService::requestSocialAccountWithCompletionInternal(
    RAZududeResponseCompletion completion) {
    if (socialData_) {
        if (auto manager = RZSDataManager::getDataManager(socialData_->identifier())) {
            manager->setCompletion(completion);
        }
    }
    RZSUserManager::shareInstance().requestSnsAccount(std::move(completion));
}

// Until the share decisions of the data service are built, a share goes to the share service
// as it stands and is answered by the request gate.
void RAZududeDataService::postSnsWithDictionary(RAZududeSnsPostContent content) {
    std::vector<std::string> names;
    if (content.snsType) {
        names.push_back(*content.snsType);
    }
    postSNSWithTypesInternal(names, std::move(content));
}

void RAZududeDataService::postSNSWithTypesInternal(const std::vector<std::string>& platformNames,
                                                   RAZududeSnsPostContent content) {
    RZSRequest request;
    request.kind = kRZSRequestShareToMultiSns;
    platform::Array names;
    for (const auto& name : platformNames) {
        names.emplace_back(name);
    }
    request.parameters.append("snsNames", std::move(names));
    if (content.content) {
        request.parameters.append("content", *content.content);
    }
    request.completion = std::move(content.completion);
    RZSRequestGate::send(std::move(request));
}
