// UTF-8, the one text encoding inside the SDK: well-formedness (no overlong forms, no
// surrogates, nothing above U+10FFFF), appending code points, and decoding for measurement
// and editing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace platform::utf8 {

// The length of the well-formed sequence that starts at p (1 to 4), or 0 when the bytes
// there are not one.
inline std::size_t sequenceAt(const unsigned char* p, const unsigned char* end) {
    const unsigned char lead = p[0];
    if (lead < 0x80) {
        return 1;
    }
    const std::size_t available = static_cast<std::size_t>(end - p);
    auto continuation = [](unsigned char byte) { return (byte & 0xC0) == 0x80; };
    if (lead >= 0xC2 && lead <= 0xDF) {
        return available >= 2 && continuation(p[1]) ? 2 : 0;
    }
    if (lead >= 0xE0 && lead <= 0xEF) {
        if (available < 3) {
            return 0;
        }
        const unsigned char low = lead == 0xE0 ? 0xA0 : 0x80;
        const unsigned char high = lead == 0xED ? 0x9F : 0xBF;
        return p[1] >= low && p[1] <= high && continuation(p[2]) ? 3 : 0;
    }
    if (lead >= 0xF0 && lead <= 0xF4) {
        if (available < 4) {
            return 0;
        }
        const unsigned char low = lead == 0xF0 ? 0x90 : 0x80;
        const unsigned char high = lead == 0xF4 ? 0x8F : 0xBF;
        return p[1] >= low && p[1] <= high && continuation(p[2]) && continuation(p[3]) ? 4 : 0;
    }
    return 0;
}

inline bool isValid(std::string_view text) {
    auto p = reinterpret_cast<const unsigned char*>(text.data());
    const auto end = p + text.size();
    while (p < end) {
        // Plain ASCII is by far the common case: step over it eight bytes at a time.
        while (end - p >= 8) {
            std::uint64_t word;
            std::memcpy(&word, p, sizeof word);
            if (word & 0x8080808080808080ULL) {
                break;
            }
            p += 8;
        }
        if (p == end) {
            break;
        }
        const std::size_t length = sequenceAt(p, end);
        if (length == 0) {
            return false;
        }
        p += length;
    }
    return true;
}

// Appends one code point; one that no UTF-8 text may hold (a surrogate, or past U+10FFFF)
// goes in as U+FFFD.
inline void append(std::string& out, std::uint32_t codePoint) {
    if (codePoint > 0x10FFFF || (codePoint >= 0xD800 && codePoint <= 0xDFFF)) {
        codePoint = 0xFFFD;
    }
    if (codePoint < 0x80) {
        out += static_cast<char>(codePoint);
    } else if (codePoint < 0x800) {
        out += static_cast<char>(0xC0 | (codePoint >> 6));
        out += static_cast<char>(0x80 | (codePoint & 0x3F));
    } else if (codePoint < 0x10000) {
        out += static_cast<char>(0xE0 | (codePoint >> 12));
        out += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (codePoint & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (codePoint >> 18));
        out += static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (codePoint & 0x3F));
    }
}

// Code points of the text; malformed bytes read as U+FFFD.
std::u32string decode(std::string_view text);
std::string encode(std::u32string_view text);
// Wide code points (East Asian wide and full-width forms, emoji) take two columns.
bool isWide(char32_t c);

}  // namespace platform::utf8
