#include "SocialSDK/core/manager/RAZududeDataService.h"

#include "SocialSDK/core/data/RAZududeData.h"
#include "SocialSDK/core/manager/RZSDataManager.h"
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
    RZSDataManager::currentDataManager()->cancelAllRequestInQueue();
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
// as it stands.
void RAZududeDataService::postSnsWithDictionary(RAZududeSnsPostContent content) {
    std::vector<std::string> names;
    if (content.snsType) {
        names.push_back(*content.snsType);
    }
    postSNSWithTypesInternal(names, std::move(content));
}

void RAZududeDataService::postSNSWithTypesInternal(const std::vector<std::string>& platformNames,
                                                   RAZududeSnsPostContent content) {
    auto manager = socialData_ ? RZSDataManager::getDataManager(socialData_->identifier())
                               : RZSDataManager::currentDataManager();
    if (!manager) {
        manager = RZSDataManager::currentDataManager();
    }
    manager->postSNSWithTypes(platformNames, std::move(content.content), std::move(content.image),
                              std::nullopt, std::move(content.urlResource),
                              std::move(content.completion), std::move(content.sourceOpType));
}
