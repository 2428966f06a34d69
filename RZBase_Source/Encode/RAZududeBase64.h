// Strict Base64 decoding: the standard alphabet, "=" padding required, whitespace between
// symbols allowed, and the bits left over by the last symbol must be zero.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "platform/Value.h"

class RAZududeBase64 {
  public:
    // The decoded bytes, or nothing when the input is not valid Base64 or decodes to no
    // bytes at all.
    static std::optional<platform::Bytes> decodeString(std::string_view text);
    static std::optional<platform::Bytes> decodeData(const platform::Bytes& data);
    static std::optional<platform::Bytes> decodeBytes(const void* bytes, std::size_t length);

    // The alphabet table: symbol value for each byte, -1 where the byte is no symbol.
    using Charset = std::int8_t[256];
    static const Charset& standardCharset();

    static std::optional<platform::Bytes> baseDecode(const void* src, std::size_t length,
                                                     const Charset& charset, bool requirePadding);
    // Decodes into dest and returns the number of bytes written; 0 on any error, including
    // a destination too small for the result.
    static std::size_t baseDecode(const std::uint8_t* src, std::size_t srcLen, std::uint8_t* dest,
                                  std::size_t destLen, const Charset& charset, bool requirePadding);
};
