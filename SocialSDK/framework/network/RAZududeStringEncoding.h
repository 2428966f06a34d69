// Text encodings of response bodies, numbered as the platform numbers its string encodings, so
// that a number read from a response or kept by a caller compares the same everywhere.
//
// Charset names are those a server writes in a Content-Type ("ISO-8859-1", "utf-8",
// "Shift_JIS"); ICU knows their aliases and converts the bytes. Every function here is pure
// and safe from any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/Value.h"

using RAZududeStringEncoding = std::uint64_t;

inline constexpr RAZududeStringEncoding kRAZududeASCIIStringEncoding = 1;
inline constexpr RAZududeStringEncoding kRAZududeJapaneseEUCStringEncoding = 3;
inline constexpr RAZududeStringEncoding kRAZududeUTF8StringEncoding = 4;
inline constexpr RAZududeStringEncoding kRAZududeISOLatin1StringEncoding = 5;
inline constexpr RAZududeStringEncoding kRAZududeShiftJISStringEncoding = 8;
inline constexpr RAZududeStringEncoding kRAZududeISOLatin2StringEncoding = 9;
inline constexpr RAZududeStringEncoding kRAZududeUnicodeStringEncoding = 10;  // UTF-16
inline constexpr RAZududeStringEncoding kRAZududeWindowsCP1251StringEncoding = 11;
inline constexpr RAZududeStringEncoding kRAZududeWindowsCP1252StringEncoding = 12;
inline constexpr RAZududeStringEncoding kRAZududeWindowsCP1253StringEncoding = 13;
inline constexpr RAZududeStringEncoding kRAZududeWindowsCP1254StringEncoding = 14;
inline constexpr RAZududeStringEncoding kRAZududeWindowsCP1250StringEncoding = 15;
inline constexpr RAZududeStringEncoding kRAZududeISO2022JPStringEncoding = 21;
inline constexpr RAZududeStringEncoding kRAZududeMacOSRomanStringEncoding = 30;
inline constexpr RAZududeStringEncoding kRAZududeUTF16BigEndianStringEncoding = 0x90000100;
inline constexpr RAZududeStringEncoding kRAZududeUTF16LittleEndianStringEncoding = 0x94000100;
inline constexpr RAZududeStringEncoding kRAZududeUTF32StringEncoding = 0x8c000100;
inline constexpr RAZududeStringEncoding kRAZududeUTF32BigEndianStringEncoding = 0x98000100;
inline constexpr RAZududeStringEncoding kRAZududeUTF32LittleEndianStringEncoding = 0x9c000100;
// Encodings the platform numbers through its wider table (0x80000000 and the table's number).
inline constexpr RAZududeStringEncoding kRAZududeGB18030StringEncoding = 0x80000632;
inline constexpr RAZududeStringEncoding kRAZududeGBKStringEncoding = 0x80000631;
inline constexpr RAZududeStringEncoding kRAZududeEUCCNStringEncoding = 0x80000930;  // GB2312
inline constexpr RAZududeStringEncoding kRAZududeEUCKRStringEncoding = 0x80000940;
inline constexpr RAZududeStringEncoding kRAZududeBig5StringEncoding = 0x80000A03;
inline constexpr RAZududeStringEncoding kRAZududeKOI8RStringEncoding = 0x80000A02;

// The encoding a charset name stands for; nullopt for an empty name, a name ICU does not know,
// or a charset without a number here.
std::optional<RAZududeStringEncoding> RAZududeStringEncodingForIANACharsetName(
    std::string_view name);

// The bytes read as text in the encoding, as UTF-8; nullopt when they are not valid text in
// it (a malformed sequence, a byte the charset does not define) or the encoding is unknown.
std::optional<std::string> RAZududeStringFromBytes(const platform::Bytes& bytes,
                                                   RAZududeStringEncoding encoding);
