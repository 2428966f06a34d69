// A decimal number as the platform holds one: a coefficient of at most 38 digits, a sign and a
// power of ten from -128 to 127. JSON numbers are read into it, so that a number keeps every
// digit it was written with (up to 38) instead of the nearest double.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

class Decimal {
  public:
    static constexpr int kMaxDigits = 38;
    static constexpr int kMinExponent = -128;
    static constexpr int kMaxExponent = 127;
    // The longest text write() makes: a sign, 38 digits and 127 zeros.
    static constexpr std::size_t kMaxTextLength = 1 + kMaxDigits + kMaxExponent;

    Decimal() = default;  // zero
    explicit Decimal(std::int64_t integer);

    // coefficient x 10^exponent, for readers that have checked that the exponent lies within
    // kMinExponent..kMaxExponent (a 64-bit coefficient always has room).
    static Decimal fromParts(bool negative, std::uint64_t coefficient, int exponent) {
        Decimal result;
        result.low_ = coefficient;
        result.exponent_ = static_cast<std::int16_t>(exponent);
        result.negative_ = negative;
        return result;
    }

    // The text of a number: an optional sign, digits with an optional point (at least one
    // digit in all), an optional exponent. More than 38 significant digits are rounded, half to
    // even; a value too small for the exponent range loses its last digits, down to zero. Nothing
    // when the text is no number or the value is too large for the range.
    static std::optional<Decimal> fromString(std::string_view text);

    bool isNegative() const { return negative_; }
    bool isZero() const { return high_ == 0 && low_ == 0; }
    int exponent() const { return exponent_; }

    // The value when it is a whole number that fits 64 bits.
    std::optional<std::int64_t> toInteger() const;
    // Truncated towards zero, the largest or smallest integer when beyond them.
    std::int64_t integerValue() const;
    // The nearest double.
    double doubleValue() const;
    // Plain notation with every digit of the coefficient: no exponent, "1.50" stays "1.50".
    std::string stringValue() const;
    // The same text at `out`, which has room for kMaxTextLength characters; returns its end.
    char* write(char* out) const;

    // By value: 1.50 equals 1.5, and -0 equals 0.
    bool operator==(const Decimal& other) const;

  private:
    std::uint64_t low_ = 0;  // the coefficient, below 10^38, in two halves
    std::uint64_t high_ = 0;
    std::int16_t exponent_ = 0;
    bool negative_ = false;
};

}  // namespace platform
