#include "RZBase_Source/Encode/RAZududeStringEncoding.h"

#include <bit>
#include <numeric>
#include <stdexcept>

#include "platform/Value.h"

RAZududeStringEncoding RAZududeStringEncoding::rfc4648Base64StringEncoding() {
    RAZududeStringEncoding encoding(
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/");
    encoding.setPaddingChar('=');
    encoding.setDoPad(true);
    return encoding;
}

std::optional<RAZududeStringEncoding> RAZududeStringEncoding::stringEncodingWithString(
    std::string_view alphabet) {
    const std::size_t length = alphabet.size();
    if (length < 2 || length > 128 || !std::has_single_bit(length)) {
        return std::nullopt;
    }
    std::array<bool, 128> seen{};
    for (char c : alphabet) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x80 || seen[byte]) {
            return std::nullopt;
        }
        seen[byte] = true;
    }
    return RAZududeStringEncoding(alphabet);
}

RAZududeStringEncoding::RAZududeStringEncoding(std::string_view alphabet) : charMap_(alphabet) {
    shift_ = std::countr_zero(alphabet.size());
    mask_ = (1 << shift_) - 1;
    padLen_ = std::lcm(shift_, 8) / shift_;
    reverseCharMap_.fill(kUnmapped);
    for (std::size_t i = 0; i < charMap_.size(); ++i) {
        reverseCharMap_[static_cast<unsigned char>(charMap_[i])] = static_cast<int>(i);
    }
}

std::string RAZududeStringEncoding::encode(std::span<const std::uint8_t> data) const {
    if (data.empty()) {
        return {};
    }
    std::size_t length =
        (data.size() * 8 + static_cast<std::size_t>(shift_) - 1) / static_cast<std::size_t>(shift_);
    if (doPad_) {
        const auto group = static_cast<std::size_t>(padLen_);
        length = (length + group - 1) / group * group;
    }
    std::string out;
    out.reserve(length);
    std::uint32_t buffer = 0;
    int bits = 0;
    for (std::uint8_t byte : data) {
        buffer = (buffer << 8) | byte;
        bits += 8;
        while (bits >= shift_) {
            bits -= shift_;
            out += charMap_[(buffer >> bits) & static_cast<std::uint32_t>(mask_)];
        }
    }
    if (bits > 0) {
        out += charMap_[(buffer << (shift_ - bits)) & static_cast<std::uint32_t>(mask_)];
    }
    if (doPad_) {
        out.append(length - out.size(), paddingChar_);
    }
    return out;
}

std::string RAZududeStringEncoding::encodeString(std::string_view text) const {
    return encode({reinterpret_cast<const std::uint8_t*>(text.data()), text.size()});
}

void RAZududeStringEncoding::ignoreCharacters(std::string_view characters) {
    for (char c : characters) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x80) {
            throw std::invalid_argument("Character is not ASCII");
        }
        if (reverseCharMap_[byte] != kUnmapped) {
            throw std::invalid_argument("Character already mapped");
        }
    }
    for (char c : characters) {
        reverseCharMap_[static_cast<unsigned char>(c)] = kIgnored;
    }
}

void RAZududeStringEncoding::setPaddingChar(char c) {
    paddingChar_ = c;
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x80) {
        reverseCharMap_[byte] = kPadding;
    }
}

std::string RAZududeStringEncoding::description() const {
    return "<Base" + std::to_string(1 << shift_) +
           " StringEncoder: " + platform::Value(platform::toBytes(charMap_)).description() + ">";
}
