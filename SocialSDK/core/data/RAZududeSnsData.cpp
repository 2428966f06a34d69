#include "SocialSDK/core/data/RAZududeSnsData.h"

RAZududeSnsData::RAZududeSnsData() : urlResource_(std::make_shared<RAZududeUrlResource>()) {}

RAZududeSnsData::RAZududeSnsData(std::string snsName) : RAZududeSnsData() {
    snsName_ = std::move(snsName);
}
