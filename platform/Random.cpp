#include "platform/Random.h"

#include <cstdlib>

namespace platform {

std::uint32_t random32() {
    return arc4random();
}

std::uint32_t randomBelow(std::uint32_t bound) {
    return bound == 0 ? 0 : arc4random_uniform(bound);
}

std::string newUuidString() {
    std::uint8_t bytes[16];
    arc4random_buf(bytes, sizeof bytes);
    bytes[6] = static_cast<std::uint8_t>((bytes[6] & 0x0F) | 0x40);  // version 4
    bytes[8] = static_cast<std::uint8_t>((bytes[8] & 0x3F) | 0x80);  // RFC 4122 variant
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(36);
    for (int i = 0; i < 16; ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10) {
            text += '-';
        }
        text += kHex[bytes[i] >> 4];
        text += kHex[bytes[i] & 0x0F];
    }
    return text;
}

}  // namespace platform
