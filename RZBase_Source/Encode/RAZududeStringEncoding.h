// A table-driven base-2^n encoder (Base64, Base32, hex, ...): n bits per output symbol, most
// significant bits first, optionally padded to whole groups. It encodes only.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

class RAZududeStringEncoding {
  public:
    // "A"-"Z", "a"-"z", "0"-"9", "+", "/" with "=" padding.
    static RAZududeStringEncoding rfc4648Base64StringEncoding();

    // An encoder for the alphabet, or nothing when the alphabet is not ASCII, holds a
    // character twice, or its length is not a power of two from 2 to 128.
    static std::optional<RAZududeStringEncoding> stringEncodingWithString(
        std::string_view alphabet);

    std::string encode(std::span<const std::uint8_t> data) const;
    std::string encodeString(std::string_view text) const;

    // Marks characters that a decoder of this alphabet would skip. Throws
    // std::invalid_argument when one of them is already mapped or is not ASCII.
    void ignoreCharacters(std::string_view characters);

    bool doPad() const { return doPad_; }
    void setDoPad(bool doPad) { doPad_ = doPad; }
    void setPaddingChar(char c);

    std::string description() const;

  private:
    explicit RAZududeStringEncoding(std::string_view alphabet);

    // Reverse map entries besides an alphabet index.
    static constexpr int kUnmapped = -1;
    static constexpr int kPadding = -2;
    static constexpr int kIgnored = -3;

    std::string charMap_;
    std::array<int, 128> reverseCharMap_{};
    int shift_ = 0;
    int mask_ = 0;
    int padLen_ = 0;
    bool doPad_ = false;
    char paddingChar_ = '=';
};
