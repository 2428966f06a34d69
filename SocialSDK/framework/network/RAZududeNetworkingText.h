// Texts of the share service's HTTP library: its strings table, its message formats filled at
// run time, and the text encodings its serializers read and write.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "platform/Value.h"

namespace rzs_network {

// The strings table of the library's messages.
inline constexpr const char* kNetworkingStringsTable = "RAZududeNetworking";

// The message for the key in the main bundle's table; the key itself when the table lacks it.
std::string localizedString(std::string_view key);

// A message format looked up at run time, filled with texts in order: each "%@", "%d", "%ld",
// "%lu" or "%llu" takes the next argument ("(null)" once they run out), "%%" is "%", and any
// other "%" stays as it is. Only texts are substituted, so a format from a strings table can
// never read memory it was not given.
std::string fillFormat(std::string_view format, std::initializer_list<std::string_view> args);

// String encodings, numbered as the platform numbers them; a serializer's stringEncoding holds
// one of these.
using StringEncoding = std::uint64_t;
inline constexpr StringEncoding kASCIIStringEncoding = 1;
inline constexpr StringEncoding kJapaneseEUCStringEncoding = 3;
inline constexpr StringEncoding kUTF8StringEncoding = 4;
inline constexpr StringEncoding kISOLatin1StringEncoding = 5;
inline constexpr StringEncoding kShiftJISStringEncoding = 8;
inline constexpr StringEncoding kISOLatin2StringEncoding = 9;
inline constexpr StringEncoding kUnicodeStringEncoding = 10;  // UTF-16 with a byte-order mark
inline constexpr StringEncoding kWindowsCP1251StringEncoding = 11;
inline constexpr StringEncoding kWindowsCP1252StringEncoding = 12;
inline constexpr StringEncoding kWindowsCP1253StringEncoding = 13;
inline constexpr StringEncoding kWindowsCP1254StringEncoding = 14;
inline constexpr StringEncoding kWindowsCP1250StringEncoding = 15;
inline constexpr StringEncoding kISO2022JPStringEncoding = 21;
inline constexpr StringEncoding kMacOSRomanStringEncoding = 30;
inline constexpr StringEncoding kUTF16BigEndianStringEncoding = 0x90000100;
inline constexpr StringEncoding kUTF16LittleEndianStringEncoding = 0x94000100;
inline constexpr StringEncoding kUTF32StringEncoding = 0x8c000100;
inline constexpr StringEncoding kUTF32BigEndianStringEncoding = 0x98000100;
inline constexpr StringEncoding kUTF32LittleEndianStringEncoding = 0x9c000100;
inline constexpr StringEncoding kGB18030StringEncoding = 0x80000632;

// The UTF-8 text in the encoding; nothing when the encoding is unknown or cannot hold a
// character of the text (nothing is ever replaced or dropped).
std::optional<platform::Bytes> encodeText(std::string_view utf8, StringEncoding encoding);

// A text decoding: by a platform encoding, or by a charset name as a server writes it
// ("utf-8", "ISO-8859-1", "Shift_JIS"). Bytes that are not valid in it give nothing.
std::optional<std::string> decodeText(std::span<const std::uint8_t> bytes, StringEncoding encoding);
// Whether the charset name (IANA names and their aliases) is one the platform can decode.
bool isKnownCharset(std::string_view charsetName);
std::optional<std::string> decodeText(std::span<const std::uint8_t> bytes,
                                      std::string_view charsetName);
// For messages about bytes that do not decode: what does decode, with U+FFFD in place of the
// rest; the bytes as Latin-1 when the charset is unknown.
std::string decodeTextLossily(std::span<const std::uint8_t> bytes, std::string_view charsetName);

}  // namespace rzs_network
