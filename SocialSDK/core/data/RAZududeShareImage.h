// What a share carries as its picture: an image, or the bytes of an encoded image. Values read
// from dynamic data (a dictionary, a property list) may hold something else, which the share
// record refuses; such a value is kept only so that the refusal can say what it was.
//
// A value: copy it freely; the image it may hold is immutable.
#pragma once

#include <cstddef>
#include <string>
#include <variant>

#include "platform/Value.h"
#include "platform/graphics/Image.h"

class RAZududeShareImage {
  public:
    RAZududeShareImage() = default;
    RAZududeShareImage(std::nullptr_t) {}
    // A null image is no picture.
    RAZududeShareImage(platform::ImagePtr image);
    RAZududeShareImage(platform::Bytes data) : value_(std::move(data)) {}
    // Bytes give image bytes, null gives no picture, anything else a value that is neither.
    static RAZududeShareImage fromValue(const platform::Value& value);

    bool isNil() const { return std::holds_alternative<std::monostate>(value_); }
    bool isImage() const { return std::holds_alternative<platform::ImagePtr>(value_); }
    bool isData() const { return std::holds_alternative<platform::Bytes>(value_); }
    // Nothing, an image or image bytes: what a share may carry.
    bool isValid() const { return !std::holds_alternative<platform::Value>(value_); }
    explicit operator bool() const { return !isNil(); }

    platform::ImagePtr image() const;
    const platform::Bytes* data() const { return std::get_if<platform::Bytes>(&value_); }
    // The picture as an image: the image itself, or the bytes decoded (null when they are not
    // an image, or there is no picture).
    platform::ImagePtr decodedImage() const;

    std::string description() const;
    bool operator==(const RAZududeShareImage& other) const;

  private:
    std::variant<std::monostate, platform::ImagePtr, platform::Bytes, platform::Value> value_;
};
