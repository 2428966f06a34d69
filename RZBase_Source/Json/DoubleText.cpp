#include "RZBase_Source/Json/Decimal.h"

#include <array>
#include <bit>
#include <charconv>
#include <cstring>
#include <optional>

namespace rzbase::json {

namespace {

// The first 128 bits of 5^q for q from -27 to 27 (for negative q, of 2^b / 5^-q rounded up),
// most significant bit set.
constexpr int kSmallestPowerOfFive = -27;
constexpr int kLargestPowerOfFive = 27;
constexpr std::uint64_t kPowersOfFive[][2] = {
    {0x9E74D1B791E07E48ULL, 0x775EA264CF55347EULL},  // 5^-27
    {0xC612062576589DDAULL, 0x95364AFE032A819EULL},  // 5^-26
    {0xF79687AED3EEC551ULL, 0x3A83DDBD83F52205ULL},  // 5^-25
    {0x9ABE14CD44753B52ULL, 0xC4926A9672793543ULL},  // 5^-24
    {0xC16D9A0095928A27ULL, 0x75B7053C0F178294ULL},  // 5^-23
    {0xF1C90080BAF72CB1ULL, 0x5324C68B12DD6339ULL},  // 5^-22
    {0x971DA05074DA7BEEULL, 0xD3F6FC16EBCA5E04ULL},  // 5^-21
    {0xBCE5086492111AEAULL, 0x88F4BB1CA6BCF585ULL},  // 5^-20
    {0xEC1E4A7DB69561A5ULL, 0x2B31E9E3D06C32E6ULL},  // 5^-19
    {0x9392EE8E921D5D07ULL, 0x3AFF322E62439FD0ULL},  // 5^-18
    {0xB877AA3236A4B449ULL, 0x09BEFEB9FAD487C3ULL},  // 5^-17
    {0xE69594BEC44DE15BULL, 0x4C2EBE687989A9B4ULL},  // 5^-16
    {0x901D7CF73AB0ACD9ULL, 0x0F9D37014BF60A11ULL},  // 5^-15
    {0xB424DC35095CD80FULL, 0x538484C19EF38C95ULL},  // 5^-14
    {0xE12E13424BB40E13ULL, 0x2865A5F206B06FBAULL},  // 5^-13
    {0x8CBCCC096F5088CBULL, 0xF93F87B7442E45D4ULL},  // 5^-12
    {0xAFEBFF0BCB24AAFEULL, 0xF78F69A51539D749ULL},  // 5^-11
    {0xDBE6FECEBDEDD5BEULL, 0xB573440E5A884D1CULL},  // 5^-10
    {0x89705F4136B4A597ULL, 0x31680A88F8953031ULL},  // 5^-9
    {0xABCC77118461CEFCULL, 0xFDC20D2B36BA7C3EULL},  // 5^-8
    {0xD6BF94D5E57A42BCULL, 0x3D32907604691B4DULL},  // 5^-7
    {0x8637BD05AF6C69B5ULL, 0xA63F9A49C2C1B110ULL},  // 5^-6
    {0xA7C5AC471B478423ULL, 0x0FCF80DC33721D54ULL},  // 5^-5
    {0xD1B71758E219652BULL, 0xD3C36113404EA4A9ULL},  // 5^-4
    {0x83126E978D4FDF3BULL, 0x645A1CAC083126EAULL},  // 5^-3
    {0xA3D70A3D70A3D70AULL, 0x3D70A3D70A3D70A4ULL},  // 5^-2
    {0xCCCCCCCCCCCCCCCCULL, 0xCCCCCCCCCCCCCCCDULL},  // 5^-1
    {0x8000000000000000ULL, 0x0000000000000000ULL},  // 5^0
    {0xA000000000000000ULL, 0x0000000000000000ULL},  // 5^1
    {0xC800000000000000ULL, 0x0000000000000000ULL},  // 5^2
    {0xFA00000000000000ULL, 0x0000000000000000ULL},  // 5^3
    {0x9C40000000000000ULL, 0x0000000000000000ULL},  // 5^4
    {0xC350000000000000ULL, 0x0000000000000000ULL},  // 5^5
    {0xF424000000000000ULL, 0x0000000000000000ULL},  // 5^6
    {0x9896800000000000ULL, 0x0000000000000000ULL},  // 5^7
    {0xBEBC200000000000ULL, 0x0000000000000000ULL},  // 5^8
    {0xEE6B280000000000ULL, 0x0000000000000000ULL},  // 5^9
    {0x9502F90000000000ULL, 0x0000000000000000ULL},  // 5^10
    {0xBA43B74000000000ULL, 0x0000000000000000ULL},  // 5^11
    {0xE8D4A51000000000ULL, 0x0000000000000000ULL},  // 5^12
    {0x9184E72A00000000ULL, 0x0000000000000000ULL},  // 5^13
    {0xB5E620F480000000ULL, 0x0000000000000000ULL},  // 5^14
    {0xE35FA931A0000000ULL, 0x0000000000000000ULL},  // 5^15
    {0x8E1BC9BF04000000ULL, 0x0000000000000000ULL},  // 5^16
    {0xB1A2BC2EC5000000ULL, 0x0000000000000000ULL},  // 5^17
    {0xDE0B6B3A76400000ULL, 0x0000000000000000ULL},  // 5^18
    {0x8AC7230489E80000ULL, 0x0000000000000000ULL},  // 5^19
    {0xAD78EBC5AC620000ULL, 0x0000000000000000ULL},  // 5^20
    {0xD8D726B7177A8000ULL, 0x0000000000000000ULL},  // 5^21
    {0x878678326EAC9000ULL, 0x0000000000000000ULL},  // 5^22
    {0xA968163F0A57B400ULL, 0x0000000000000000ULL},  // 5^23
    {0xD3C21BCECCEDA100ULL, 0x0000000000000000ULL},  // 5^24
    {0x84595161401484A0ULL, 0x0000000000000000ULL},  // 5^25
    {0xA56FA5B99019A5C8ULL, 0x0000000000000000ULL},  // 5^26
    {0xCECB8F27F4200F3AULL, 0x0000000000000000ULL},  // 5^27
};

}  // namespace

// The significand times 10^exponent10, correctly rounded to a double, by one 64 x 128-bit
// multiplication (the Eisel-Lemire method); nothing for exponents outside the table, results
// that are subnormal, and the rare products too close to call. Those go the slow way.
std::optional<double> decimalToDouble(std::uint64_t significand, int exponent10) {
    if (exponent10 < kSmallestPowerOfFive || exponent10 > kLargestPowerOfFive || significand == 0) {
        return std::nullopt;
    }
    __extension__ using Wide = unsigned __int128;
    const auto& power = kPowersOfFive[exponent10 - kSmallestPowerOfFive];
    const int leadingZeros = std::countl_zero(significand);
    const std::uint64_t w = significand << leadingZeros;

    Wide product = static_cast<Wide>(w) * power[0];
    auto high = static_cast<std::uint64_t>(product >> 64);
    auto low = static_cast<std::uint64_t>(product);
    constexpr std::uint64_t kPrecisionMask = 0xFFFFFFFFFFFFFFFFULL >> 55;
    if ((high & kPrecisionMask) == kPrecisionMask) {
        // The truncated product may be short of the true one: add the next 64 bits.
        const Wide second = static_cast<Wide>(w) * power[1];
        const auto secondHigh = static_cast<std::uint64_t>(second >> 64);
        low += secondHigh;
        if (secondHigh > low) {
            ++high;
        }
        if (low == 0xFFFFFFFFFFFFFFFFULL) {
            return std::nullopt;  // still too close to call
        }
    }

    const int upperBit = static_cast<int>(high >> 63);
    std::uint64_t mantissa = high >> (upperBit + 9);
    int power2 = (((152170 + 65536) * exponent10) >> 16) + 63 + upperBit - leadingZeros + 1023;
    if (power2 <= 0) {
        return std::nullopt;
    }
    // Exactly halfway between two doubles (possible only for small exponents): round to even.
    if (low <= 1 && exponent10 >= -4 && exponent10 <= 23 && (mantissa & 3) == 1 &&
        (mantissa << (upperBit + 9)) == high) {
        mantissa &= ~std::uint64_t{1};
    }
    mantissa += mantissa & 1;
    mantissa >>= 1;
    if (mantissa >= (std::uint64_t{2} << 52)) {
        mantissa = std::uint64_t{1} << 52;
        ++power2;
    }
    mantissa &= ~(std::uint64_t{1} << 52);
    if (power2 >= 0x7FF) {
        return std::nullopt;
    }
    const std::uint64_t bits = mantissa | (static_cast<std::uint64_t>(power2) << 52);
    double result;
    std::memcpy(&result, &bits, sizeof result);
    return result;
}

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

constexpr auto kDigitPairs = [] {
    std::array<char, 200> pairs{};
    for (int i = 0; i < 100; ++i) {
        pairs[static_cast<std::size_t>(2 * i)] = static_cast<char>('0' + i / 10);
        pairs[static_cast<std::size_t>(2 * i + 1)] = static_cast<char>('0' + i % 10);
    }
    return pairs;
}();

// The `count` low digits of the number, two at a time, ending just before `end`.
void writeLowDigits(std::uint32_t number, int count, char* end) {
    while (count >= 2) {
        const std::uint32_t pair = number % 100;
        number /= 100;
        end -= 2;
        std::memcpy(end, &kDigitPairs[2 * pair], 2);
        count -= 2;
    }
    if (count == 1) {
        *--end = static_cast<char>('0' + number);
    }
}

// Exactly eight digits of a number below 10^8: halves, then pairs, all independent.
void writeEightDigits(std::uint32_t number, char* at) {
    const std::uint32_t high = number / 10000;
    const std::uint32_t low = number % 10000;
    std::memcpy(at, &kDigitPairs[2 * (high / 100)], 2);
    std::memcpy(at + 2, &kDigitPairs[2 * (high % 100)], 2);
    std::memcpy(at + 4, &kDigitPairs[2 * (low / 100)], 2);
    std::memcpy(at + 6, &kDigitPairs[2 * (low % 100)], 2);
}

// The `count` digits of the number (at most 17) at `at`.
void writeDigits(std::uint64_t number, int count, char* at) {
    if (count == 17) {  // the common case of measured values
        const std::uint64_t top = number / 100000000;
        *at = static_cast<char>('0' + top / 100000000);
        writeEightDigits(static_cast<std::uint32_t>(top % 100000000), at + 1);
        writeEightDigits(static_cast<std::uint32_t>(number % 100000000), at + 9);
    } else if (count > 8) {
        writeLowDigits(static_cast<std::uint32_t>(number / 100000000), count - 8, at + count - 8);
        writeEightDigits(static_cast<std::uint32_t>(number % 100000000), at + count - 8);
    } else {
        writeLowDigits(static_cast<std::uint32_t>(number), count, at + count);
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
    std::memcpy(end + 2, &kDigitPairs[2 * static_cast<std::size_t>(magnitude)], 2);
    return end + 4;
}

}  // namespace rzbase::json
