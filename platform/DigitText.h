// Decimal digits written two at a time from a table, for the number writers that run once per
// number of a large document (decimals, and the reals of JSON).
#pragma once

#include <array>
#include <cstddef>
#include <cstring>

namespace platform::digits {

// "00", "01", … "99", one after the other.
inline constexpr auto kPairs = [] {
    std::array<char, 200> pairs{};
    for (int i = 0; i < 100; ++i) {
        pairs[static_cast<std::size_t>(2 * i)] = static_cast<char>('0' + i / 10);
        pairs[static_cast<std::size_t>(2 * i + 1)] = static_cast<char>('0' + i % 10);
    }
    return pairs;
}();

// Exactly `count` low digits of the number, zeros in front where it has fewer, ending just
// before `end`. A 32-bit number where it fits keeps the divisions cheap.
template <typename Unsigned>
void writeEndingAt(Unsigned number, int count, char* end) {
    while (count >= 2) {
        const auto pair = static_cast<std::size_t>(number % 100);
        number /= 100;
        end -= 2;
        std::memcpy(end, &kPairs[2 * pair], 2);
        count -= 2;
    }
    if (count == 1) {
        *--end = static_cast<char>('0' + number);
    }
}

}  // namespace platform::digits
