#include "SocialSDK/core/data/RAZududeUrlResource.h"

#include "RZBase_Source/Encode/RAZududeUtils.h"

std::shared_ptr<RAZududeUrlResource> RAZududeUrlResource::initWithSnsResourceType(
    int type, std::optional<std::string> url) {
    if (type == kRAZududeUrlResourceTypeDefault) {
        return nullptr;
    }
    auto resource = std::make_shared<RAZududeUrlResource>();
    resource->setResourceType(type);
    resource->setUrl(std::move(url));
    return resource;
}

void RAZududeUrlResource::setResourceType(int type) {
    if (type < 0 || type >= 5) {
        RAZududeUtils::outLog(
            "you must set the resourceType in "
            "RAZududeUrlResourceTypeImage,RAZududeUrlResourceTypeVideo,"
            "RAZududeUrlResourceTypeMusic");
        type = kRAZududeUrlResourceTypeDefault;
    }
    resourceType_ = type;
}

void RAZududeUrlResource::setResourceType(int type, std::optional<std::string> url) {
    setResourceType(type);
    if (resourceType_ != kRAZududeUrlResourceTypeDefault) {
        url_ = std::move(url);
    }
}
