// Decimal to double, fast for the numbers that replies usually carry; it answers nothing
// where it cannot be sure of the exact result, and the caller takes the slow way.
#pragma once

#include <cstdint>
#include <optional>

namespace rzbase::json {

// significand x 10^exponent10, correctly rounded; nothing when the quick method cannot tell.
std::optional<double> decimalToDouble(std::uint64_t significand, int exponent10);

}  // namespace rzbase::json
