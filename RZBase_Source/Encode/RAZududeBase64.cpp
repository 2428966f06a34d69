#include "RZBase_Source/Encode/RAZududeBase64.h"

#include <array>

namespace {

constexpr auto kStandardCharset = [] {
    std::array<std::int8_t, 256> table{};
    table.fill(-1);
    constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    for (int i = 0; i < 64; ++i) {
        table[static_cast<unsigned char>(kAlphabet[i])] = static_cast<std::int8_t>(i);
    }
    return table;
}();

// Besides the C whitespace, 0xA0 (no-break space in Latin-1) and 0xFF are skipped: texts
// that went through a Latin-1 round trip carry them.
bool isSkipped(std::uint8_t byte) {
    return (byte >= 0x09 && byte <= 0x0D) || byte == 0x20 || byte == 0xA0 || byte == 0xFF;
}

}  // namespace

const RAZududeBase64::Charset& RAZududeBase64::standardCharset() {
    return *reinterpret_cast<const Charset*>(kStandardCharset.data());
}

std::optional<platform::Bytes> RAZududeBase64::decodeString(std::string_view text) {
    for (char c : text) {
        if (static_cast<unsigned char>(c) >= 0x80) {
            return std::nullopt;  // a text with no ASCII form
        }
    }
    return decodeBytes(text.data(), text.size());
}

std::optional<platform::Bytes> RAZududeBase64::decodeData(const platform::Bytes& data) {
    return decodeBytes(data.data(), data.size());
}

std::optional<platform::Bytes> RAZududeBase64::decodeBytes(const void* bytes, std::size_t length) {
    return baseDecode(bytes, length, standardCharset(), true);
}

std::optional<platform::Bytes> RAZududeBase64::baseDecode(const void* src, std::size_t length,
                                                          const Charset& charset,
                                                          bool requirePadding) {
    if (!src || length == 0) {
        return std::nullopt;
    }
    platform::Bytes out(((length + 3) / 4) * 3);
    const std::size_t written = baseDecode(static_cast<const std::uint8_t*>(src), length,
                                           out.data(), out.size(), charset, requirePadding);
    if (written == 0) {
        return std::nullopt;
    }
    out.resize(written);
    return out;
}

std::size_t RAZududeBase64::baseDecode(const std::uint8_t* src, std::size_t srcLen,
                                       std::uint8_t* dest, std::size_t destLen,
                                       const Charset& charset, bool requirePadding) {
    if (!src || srcLen == 0 || !dest || destLen == 0) {
        return 0;
    }
    int state = 0;
    std::size_t written = 0;
    // The bits of the byte being filled, already in place. They live here rather than in
    // the destination, so the final check looks at bits that were actually decoded.
    unsigned partial = 0;
    bool padded = false;
    std::size_t i = 0;
    for (; i < srcLen && src[i] != 0; ++i) {
        const std::uint8_t byte = src[i];
        if (isSkipped(byte)) {
            continue;
        }
        if (byte == '=') {
            padded = true;
            ++i;
            break;
        }
        const int symbol = charset[byte];
        if (symbol < 0) {
            return 0;
        }
        if (state != 0 && written >= destLen) {
            return 0;
        }
        switch (state) {
            case 0:
                partial = static_cast<unsigned>(symbol) << 2;
                break;
            case 1:
                dest[written++] = static_cast<std::uint8_t>(partial | (symbol >> 4));
                partial = (static_cast<unsigned>(symbol) & 0x0F) << 4;
                break;
            case 2:
                dest[written++] = static_cast<std::uint8_t>(partial | (symbol >> 2));
                partial = (static_cast<unsigned>(symbol) & 0x03) << 6;
                break;
            default:
                dest[written++] = static_cast<std::uint8_t>(partial | symbol);
                partial = 0;
                break;
        }
        state = (state + 1) % 4;
    }

    auto atEnd = [&] { return i >= srcLen || src[i] == 0; };
    if (padded) {
        if (state < 2) {
            return 0;
        }
        if (state == 2) {
            while (!atEnd() && isSkipped(src[i])) {
                ++i;
            }
            if (atEnd() || src[i] != '=') {
                return 0;
            }
            ++i;
        }
        for (; !atEnd(); ++i) {
            if (!isSkipped(src[i])) {
                return 0;
            }
        }
    } else if (state != 0 && (requirePadding || state == 1)) {
        return 0;
    }
    if (partial != 0) {
        return 0;  // trailing bits must be zero
    }
    return written;
}
