// Reads JSON text into values: objects become insertion-ordered maps, numbers 64-bit
// integers when they are integers that fit, else decimals that keep their digits (up to 38).
// The text ends at its end or at its first zero byte, whichever comes first.
//
// One parser per thread at a time; parsers share nothing.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "RZBase_Source/Json/RAZududeRqJsonBase.h"
#include "platform/Value.h"

class RAZududeRqJsonParser : public RAZududeRqJsonBase {
  public:
    // An object or an array; nothing otherwise, with the reasons in errorTrace().
    std::optional<platform::Value> objectWithString(std::optional<std::string_view> text);
    // Any JSON value.
    std::optional<platform::Value> fragmentWithString(std::optional<std::string_view> text);

  private:
    bool scanValue(platform::Value& value);
    bool scanRestOfTrue(platform::Value& value);
    bool scanRestOfFalse(platform::Value& value);
    bool scanRestOfNull(platform::Value& value);
    bool scanRestOfArray(platform::Value& value);
    bool scanRestOfDictionary(platform::Value& value);
    bool scanRestOfString(std::string& out);
    bool scanUnicodeChar(std::string& out);
    bool scanHexQuad(std::uint32_t& quad);
    bool scanNumber(platform::Value& value);
    bool scanIsAtEnd();
    bool scanLiteral(std::string_view rest);
    void skipWhitespace();
    // The digits of a number as one integer, while they fit.
    struct Significand {
        std::uint64_t value = 0;
        int digits = 0;           // digits held in value, at most 19
        std::size_t scanned = 0;  // digits read
        bool inexact = false;     // more digits than value holds
    };
    void scanDigits(Significand& significand);

    const char* c_ = nullptr;
    const char* end_ = nullptr;
    // Members of the maps being read, innermost last.
    std::vector<platform::Map::Entry> members_;
};
