#include "SocialSDK/core/manager/RAZududeDataService.h"

#include "SocialSDK/core/data/RAZududeData.h"
#include "SocialSDK/core/manager/RZSBarEntity.h"
#include "SocialSDK/core/manager/RZSDataManager.h"

RAZududeSnsPostContent RAZududeDataService::snsPostContentForPlatform(
    const std::string& platformName) const {
    auto bar = RZSDataManager::currentDataManager()->barEntity();
    const auto& data = socialData_;
    RAZududeSnsPostContent post;
    post.content = bar->shareText(platformName);
    if (!post.content && data) {
        post.content = data->shareText();
    }
    post.image = bar->shareImage(platformName);
    if (!post.image && data) {
        post.image = data->shareImage();
    }
    post.snsType = platformName;
    auto resource = bar->urlResource(platformName);
    if ((!resource || resource->resourceType() == kRAZududeUrlResourceTypeDefault) && data) {
        resource = data->urlResource();
    }
    if (resource && resource->resourceType() != kRAZududeUrlResourceTypeDefault) {
        post.urlResource = resource;
    }
    return post;
}
