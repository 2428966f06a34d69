// Conversions between doubles and decimal text for JSON numbers, fast for the numbers that
// replies usually carry and exact for all.
#pragma once

#include <cstdint>
#include <optional>

namespace rzbase::json {

// significand x 10^exponent10, correctly rounded; nothing when the quick method cannot tell.
std::optional<double> decimalToDouble(std::uint64_t significand, int exponent10);

// The shortest text that reads back as the value (which must be finite), laid out as
// std::to_chars lays it out: fixed or scientific, whichever is shorter. Needs room for 40
// characters at `out`; returns the end of the text.
char* writeShortest(double value, char* out);

}  // namespace rzbase::json
