#include "SocialSDK/core/data/RAZududeResponseEntity.h"

std::string RAZududeResponseEntity::description() const {
    platform::Map fields;
    if (responseCode_ != 0) {
        fields.append("responseCode", responseCode_);
    }
    if (data_) {
        fields.append("data", *data_);
    }
    if (message_) {
        fields.append("message", *message_);
    }
    if (responseType_ != 0) {
        fields.append("responseType", responseType_);
    }
    if (viewControllerType_ != 0) {
        fields.append("viewControllerType", viewControllerType_);
    }
    if (error_) {
        fields.append("error", error_->description());
    }
    if (!platformResponse_.isNull()) {
        fields.append("thirdPlatformResponse", platformResponse_);
    }
    if (!userProfile_.isNull()) {
        fields.append("thirdPlatformUserProfile", userProfile_);
    }
    return platform::Value(std::move(fields)).description();
}

RAZududeResponsePtr makeRAZududeResponse(int code, std::optional<std::string> message) {
    auto response = std::make_shared<RAZududeResponseEntity>();
    response->setResponseCode(code);
    response->setMessage(std::move(message));
    return response;
}
