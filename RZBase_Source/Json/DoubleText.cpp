#include "RZBase_Source/Json/DoubleText.h"

#include <array>
#include <charconv>
#include <cstdint>
#include <cstring>

#include "platform/DigitText.h"

namespace rzbase::json {

namespace {

constexpr auto kPowersOfFive64 = [] {
    std::array<std::uint64_t, 28> powers{};
    std::uint64_t power = 1;
    for (auto& entry : powers) {
        entry = power;
        power *= 5;
    }
    return powers;
}();

constexpr std::uint64_t kPowersOfTen[] = {1ULL,
                                          10ULL,
                                          100ULL,
                                          1000ULL,
                                          10000ULL,
                                          100000ULL,
                                          1000000ULL,
                                          10000000ULL,
                                          100000000ULL,
                                          1000000000ULL,
                                          10000000000ULL,
                                          100000000000ULL,
                                          1000000000000ULL,
                                          10000000000000ULL,
                                          100000000000000ULL,
                                          1000000000000000ULL,
                                          10000000000000000ULL,
                                          100000000000000000ULL};

using platform::digits::kPairs;
using platform::digits::writeEndingAt;

// Exactly eight digits of a number below 10^8: halves, then pairs, all independent.
void writeEightDigits(std::uint32_t number, char* at) {
    const std::uint32_t high = number / 10000;
    const std::uint32_t low = number % 10000;
    std::memcpy(at, &kPairs[2 * (high / 100)], 2);
    std::memcpy(at + 2, &kPairs[2 * (high % 100)], 2);
    std::memcpy(at + 4, &kPairs[2 * (low / 100)], 2);
    std::memcpy(at + 6, &kPairs[2 * (low % 100)], 2);
}

// The `count` digits of the number (at most 17) at `at`.
void writeDigits(std::uint64_t number, int count, char* at) {
    if (count == 17) {  // the common case of measured values
        const std::uint64_t top = number / 100000000;
        *at = static_cast<char>('0' + top / 100000000);
        writeEightDigits(static_cast<std::uint32_t>(top % 100000000), at + 1);
        writeEightDigits(static_cast<std::uint32_t>(number % 100000000), at + 9);
    } else if (count > 8) {
        writeEndingAt(static_cast<std::uint32_t>(number / 100000000), count - 8, at + count - 8);
        writeEightDigits(static_cast<std::uint32_t>(number % 100000000), at + count - 8);
    } else {
        writeEndingAt(static_cast<std::uint32_t>(number), count, at + count);
    }
}

}  // namespace

// Values from about 10^-11 to 10^16 (where the numbers of replies live) are done with exact
// integer arithmetic. The value is m x 2^q, so m x 5^s x 2^(s+q) is the value times 10^s:
// it is held as 64.64 fixed point with 17 digits before the point. From it come the nearest
// 17-, 16- and 15-digit decimals (ties to even) and, for the shorter ones, whether they lie
// within half a last place of the value and so read back as it. The nearest 17-digit decimal
// always does. Other values, and powers of two (whose rounding interval is lopsided), go to
// the standard library.
char* writeShortest(double value, char* out) {
    __extension__ using Wide = unsigned __int128;
    std::uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    const int biased = static_cast<int>((bits >> 52) & 0x7FF);
    const std::uint64_t fraction = bits & ((std::uint64_t{1} << 52) - 1);
    const int binaryExponent = biased - 1023;
    if (biased == 0 || biased == 0x7FF || fraction == 0 || binaryExponent < -36 ||
        binaryExponent > 53) {
        return std::to_chars(out, out + 40, value).ptr;
    }
    const std::uint64_t mantissa = fraction | (std::uint64_t{1} << 52);
    const int q = binaryExponent - 52;  // value = mantissa x 2^q

    int exponent10 = (binaryExponent * 78913) >> 18;  // floor(log10(value)), or one less
    int shift = 16 - exponent10;                      // 1 to 27
    Wide scaled = 0;
    Wide unit = 0;
    std::uint64_t whole = 0;
    auto scale = [&] {
        const Wide product =
            static_cast<Wide>(mantissa) * kPowersOfFive64[static_cast<std::size_t>(shift)];
        const int left = 64 + shift + q;  // 3 to 66: nothing is lost
        scaled = product << left;
        unit = static_cast<Wide>(kPowersOfFive64[static_cast<std::size_t>(shift)]) << left;
        whole = static_cast<std::uint64_t>(scaled >> 64);
    };
    scale();
    if (whole >= kPowersOfTen[17]) {  // the estimate was one short
        ++exponent10;
        --shift;
        scale();
    }
    const auto fractionPart = static_cast<std::uint64_t>(scaled);
    constexpr std::uint64_t kHalf = std::uint64_t{1} << 63;
    std::uint64_t digits =
        whole + (fractionPart > kHalf || (fractionPart == kHalf && (whole & 1)) ? 1 : 0);
    if (whole < kPowersOfTen[16] || digits >= kPowersOfTen[17]) {
        return std::to_chars(out, out + 40, value).ptr;
    }
    int count = 17;

    const bool evenMantissa = (mantissa & 1) == 0;
    // Called with constant steps, so that the divisions become multiplications.
    auto shorter = [&](std::uint64_t step, std::uint64_t& candidate) {
        candidate = whole / step;
        const Wide below = (static_cast<Wide>(whole % step) << 64) | fractionPart;
        const Wide stepScaled = static_cast<Wide>(step) << 64;
        const Wide half = stepScaled >> 1;
        const bool up = below > half || (below == half && (candidate & 1));
        if (up) {
            ++candidate;
        }
        const Wide distance = up ? stepScaled - below : below;
        return 2 * distance < unit || (2 * distance == unit && evenMantissa);
    };
    std::uint64_t candidate = 0;
    if (shorter(10, candidate)) {
        digits = candidate;
        count = 16;
        if (shorter(100, candidate)) {
            digits = candidate;
            count = 15;
        }
        if (digits >= kPowersOfTen[count]) {  // rounding carried into a new digit
            digits /= 10;
            ++exponent10;
        }
        while (digits % 10 == 0) {
            digits /= 10;
            --count;
        }
    }

    if (bits >> 63) {
        *out++ = '-';
    }
    // printf's %f or %e, whichever is shorter (%f on a tie); the exponent has two digits here.
    const int scientific = count + (count > 1 ? 1 : 0) + 4;
    const int fixed = exponent10 >= 0 ? (count <= exponent10 + 1 ? exponent10 + 1 : count + 1)
                                      : 1 - exponent10 + count;
    if (fixed <= scientific) {
        if (exponent10 < 0) {
            const int zeros = -exponent10 - 1;
            out[0] = '0';
            out[1] = '.';
            std::memset(out + 2, '0', 16);
            writeDigits(digits, count, out + 2 + zeros);
            return out + 2 + zeros + count;
        }
        if (count <= exponent10 + 1) {
            writeDigits(digits, count, out);
            std::memset(out + count, '0', 16);
            return out + exponent10 + 1;
        }
        // The digits in place, then the fraction moved one place on to make room for the
        // point (sixteen bytes at most, moved as two words).
        writeDigits(digits, count, out);
        char moved[16];
        std::memcpy(moved, out + exponent10 + 1, sizeof moved);
        std::memcpy(out + exponent10 + 2, moved, sizeof moved);
        out[exponent10 + 1] = '.';
        return out + count + 1;
    }
    writeDigits(digits, count, out + 1);
    out[0] = out[1];
    char* end = out + 1;
    if (count > 1) {
        out[1] = '.';
        end = out + count + 1;
    }
    const int magnitude = exponent10 < 0 ? -exponent10 : exponent10;
    end[0] = 'e';
    end[1] = exponent10 < 0 ? '-' : '+';
    std::memcpy(end + 2, &kPairs[2 * static_cast<std::size_t>(magnitude)], 2);
    return end + 4;
}

}  // namespace rzbase::json
