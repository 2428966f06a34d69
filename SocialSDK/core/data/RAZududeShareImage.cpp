#include "SocialSDK/core/data/RAZududeShareImage.h"

#include "platform/Format.h"

RAZududeShareImage::RAZududeShareImage(platform::ImagePtr image) {
    if (image) {
        value_ = std::move(image);
    }
}

RAZududeShareImage RAZududeShareImage::fromValue(const platform::Value& value) {
    RAZududeShareImage result;
    if (const auto* bytes = value.bytes()) {
        result.value_ = *bytes;
    } else if (!value.isNull()) {
        result.value_ = value;
    }
    return result;
}

platform::ImagePtr RAZududeShareImage::image() const {
    const auto* image = std::get_if<platform::ImagePtr>(&value_);
    return image ? *image : nullptr;
}

platform::ImagePtr RAZududeShareImage::decodedImage() const {
    if (auto shown = image()) {
        return shown;
    }
    if (const auto* bytes = data()) {
        return platform::Image::decode(*bytes);
    }
    return nullptr;
}

std::string RAZududeShareImage::description() const {
    if (auto shown = image()) {
        return platform::format("<image %gx%g>", shown->size().width, shown->size().height);
    }
    if (const auto* bytes = data()) {
        return platform::format("<%d bytes>", bytes->size());
    }
    if (const auto* other = std::get_if<platform::Value>(&value_)) {
        return other->description();
    }
    return "(null)";
}

bool RAZududeShareImage::operator==(const RAZududeShareImage& other) const {
    return value_ == other.value_;
}
