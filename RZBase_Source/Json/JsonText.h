// What the JSON parser and writer both need to know about the bytes of a string.
#pragma once

#include <array>
#include <cstdint>
#include <cstring>

#include "platform/Utf8.h"

namespace rzbase::json {

// How a byte inside a string is treated: 0 plain, 1 ends a plain run (quote, backslash,
// control byte), 2 starts a multi-byte UTF-8 sequence to check.
inline constexpr auto kStringClass = [] {
    std::array<std::uint8_t, 256> table{};
    for (int c = 0; c < 0x20; ++c) {
        table[static_cast<std::size_t>(c)] = 1;
    }
    table['"'] = 1;
    table['\\'] = 1;
    for (int c = 0x80; c < 0x100; ++c) {
        table[static_cast<std::size_t>(c)] = 2;
    }
    return table;
}();

// Steps over eight bytes at a time while none of them is a quote, a backslash, a control
// byte or non-ASCII.
inline const unsigned char* skipPlainAscii(const unsigned char* p, const unsigned char* end) {
    constexpr std::uint64_t kOnes = 0x0101010101010101ULL;
    constexpr std::uint64_t kHigh = 0x8080808080808080ULL;
    while (end - p >= 8) {
        std::uint64_t word;
        std::memcpy(&word, p, sizeof word);
        const std::uint64_t quote = word ^ (kOnes * '"');
        const std::uint64_t backslash = word ^ (kOnes * '\\');
        const std::uint64_t special = (word - kOnes * 0x20) | (quote - kOnes) | (backslash - kOnes);
        // A byte is special when its subtraction borrowed (or it was non-ASCII to begin with);
        // a borrow only spreads upwards from a special byte, so the first one is always seen.
        if ((special | word) & kHigh) {
            break;
        }
        p += 8;
    }
    return p;
}

// The end of the longest run from p that a string holds as it is: well-formed UTF-8 with no
// quote, backslash or control byte. What stops it is the end, such a byte, or (class 2) the
// start of a sequence that is not UTF-8.
inline const unsigned char* skipPlainRun(const unsigned char* p, const unsigned char* end) {
    while (p < end) {
        p = skipPlainAscii(p, end);
        if (p == end) {
            break;
        }
        const std::uint8_t kind = kStringClass[*p];
        if (kind == 0) {
            ++p;
        } else if (kind == 2) {
            const std::size_t length = platform::utf8::sequenceAt(p, end);
            if (length == 0) {
                break;
            }
            p += length;
        } else {
            break;
        }
    }
    return p;
}

}  // namespace rzbase::json
