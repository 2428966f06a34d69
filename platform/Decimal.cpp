#include "platform/Decimal.h"

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <cstring>
#include <optional>

#include "platform/DigitText.h"

namespace platform {

namespace {

__extension__ using Wide = unsigned __int128;

constexpr auto kPowersOfTen = [] {
    std::array<Wide, Decimal::kMaxDigits + 1> powers{};
    Wide power = 1;
    for (auto& entry : powers) {
        entry = power;
        power *= 10;
    }
    return powers;
}();

constexpr Wide kCoefficientLimit = kPowersOfTen[Decimal::kMaxDigits];  // 10^38
constexpr Wide kHalfWord = static_cast<Wide>(1) << 64;
constexpr std::uint64_t kTenToNineteen = 10000000000000000000ULL;

constexpr auto kPowersOfTen64 = [] {
    std::array<std::uint64_t, 20> powers{};
    std::uint64_t power = 1;
    for (auto& entry : powers) {
        entry = power;
        power *= 10;
    }
    return powers;
}();

int digitsOf(std::uint64_t value) {
    const int bits = 64 - std::countl_zero(value | 1);
    const int estimate = (bits * 1233) >> 12;  // floor(log10(2^bits)), or one less
    return estimate + (value >= kPowersOfTen64[static_cast<std::size_t>(estimate)] ? 1 : 0);
}

// Exactly `count` digits of the value, zeros in front where it has fewer, ending at at+count.
void writeDigits(std::uint64_t value, int count, char* at) {
    digits::writeEndingAt(value, count, at + count);
}

// The digits of a coefficient below 10^38 at `at`; answers how many.
int writeCoefficient(Wide value, char* at) {
    if (value < kHalfWord) {
        const auto small = static_cast<std::uint64_t>(value);
        const int count = digitsOf(small);
        writeDigits(small, count, at);
        return count;
    }
    const auto top = static_cast<std::uint64_t>(value / kTenToNineteen);  // below 10^19
    const int count = digitsOf(top);
    writeDigits(top, count, at);
    writeDigits(static_cast<std::uint64_t>(value % kTenToNineteen), 19, at + count);
    return count + 19;
}

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

// The significand times 10^exponent10, correctly rounded to a double, by one 64 x 128-bit
// multiplication (the Eisel-Lemire method); nothing for exponents outside the table, results
// that are subnormal, and the rare products too close to call. Those go the slow way.
std::optional<double> decimalToDouble(std::uint64_t significand, int exponent10) {
    if (exponent10 < kSmallestPowerOfFive || exponent10 > kLargestPowerOfFive || significand == 0) {
        return std::nullopt;
    }
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

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

}  // namespace

Decimal::Decimal(std::int64_t integer) : negative_(integer < 0) {
    low_ =
        negative_ ? 0 - static_cast<std::uint64_t>(integer) : static_cast<std::uint64_t>(integer);
}

// Two passes: the first finds the digits and where the point stands, which tells how many of
// them the result can keep (38 at most, fewer near the bottom of the exponent range); the
// second takes those digits and rounds once on the rest, so that nothing is rounded twice.
std::optional<Decimal> Decimal::fromString(std::string_view text) {
    const char* p = text.data();
    const char* const end = p + text.size();
    const bool negative = p < end && *p == '-';
    if (p < end && (*p == '-' || *p == '+')) {
        ++p;
    }
    const char* const digitsStart = p;
    while (p < end && isDigit(*p)) {
        ++p;
    }
    const char* const integerEnd = p;
    const char* fractionStart = p;
    if (p < end && *p == '.') {
        fractionStart = ++p;
        while (p < end && isDigit(*p)) {
            ++p;
        }
    }
    const char* const digitsEnd = p;
    const auto fractionDigits = static_cast<std::int64_t>(digitsEnd - fractionStart);
    if ((integerEnd - digitsStart) + fractionDigits == 0) {
        return std::nullopt;
    }
    std::int64_t exponent = 0;
    if (p < end && (*p == 'e' || *p == 'E')) {
        ++p;
        const bool negativeExponent = p < end && *p == '-';
        if (p < end && (*p == '-' || *p == '+')) {
            ++p;
        }
        if (p == end || !isDigit(*p)) {
            return std::nullopt;
        }
        // Beyond a trillion the answer is zero or too large whatever the digits: no overflow.
        for (; p < end && isDigit(*p); ++p) {
            exponent = std::min<std::int64_t>(exponent * 10 + (*p - '0'), 1000000000000);
        }
        exponent = negativeExponent ? -exponent : exponent;
    }
    if (p != end) {
        return std::nullopt;
    }
    exponent -= fractionDigits;  // of the last digit written

    Decimal result;
    result.negative_ = negative;
    // The significant digits: from the first that is not zero to the last one written.
    auto next = [&](const char*& at) {
        if (at == integerEnd) {
            at = fractionStart;
        }
        return *at++;
    };
    const char* first = digitsStart;
    std::int64_t significant = (integerEnd - digitsStart) + fractionDigits;
    while (significant > 0) {
        const char* at = first;
        if (next(at) != '0') {
            break;
        }
        first = at;
        --significant;
    }
    if (significant == 0) {
        result.exponent_ = static_cast<std::int16_t>(
            std::clamp<std::int64_t>(exponent, kMinExponent, kMaxExponent));
        return result;
    }

    const std::int64_t kept =
        std::min<std::int64_t>({significant, kMaxDigits, significant + exponent - kMinExponent});
    if (kept < 0) {
        result.exponent_ = kMinExponent;  // less than half the smallest step
        return result;
    }
    Wide coefficient = 0;
    const char* at = first;
    for (std::int64_t i = 0; i < kept; ++i) {
        coefficient = coefficient * 10 + static_cast<Wide>(next(at) - '0');
    }
    std::int64_t finalExponent = exponent + (significant - kept);
    if (kept < significant) {
        const char roundingDigit = next(at);
        bool beyondHalf = roundingDigit > '5';
        if (roundingDigit == '5') {
            for (std::int64_t i = kept + 1; i < significant && !beyondHalf; ++i) {
                beyondHalf = next(at) != '0';
            }
        }
        if (beyondHalf || (roundingDigit == '5' && (coefficient & 1) != 0)) {
            ++coefficient;
            if (coefficient == kCoefficientLimit) {
                coefficient = kPowersOfTen[kMaxDigits - 1];
                ++finalExponent;
            }
        }
    }
    if (coefficient == 0) {
        result.exponent_ = kMinExponent;
        return result;
    }
    // Above the range, zeros move into the coefficient while it has room.
    while (finalExponent > kMaxExponent && coefficient < kPowersOfTen[kMaxDigits - 1]) {
        coefficient *= 10;
        --finalExponent;
    }
    if (finalExponent > kMaxExponent) {
        return std::nullopt;
    }
    result.low_ = static_cast<std::uint64_t>(coefficient);
    result.high_ = static_cast<std::uint64_t>(coefficient >> 64);
    result.exponent_ = static_cast<std::int16_t>(finalExponent);
    return result;
}

std::optional<std::int64_t> Decimal::toInteger() const {
    Wide magnitude = (static_cast<Wide>(high_) << 64) | low_;
    if (exponent_ < -kMaxDigits) {
        if (magnitude != 0) {
            return std::nullopt;  // a coefficient below 10^38 over more than 10^38
        }
    } else if (exponent_ < 0) {
        const Wide step = kPowersOfTen[static_cast<std::size_t>(-exponent_)];
        if (magnitude % step != 0) {
            return std::nullopt;
        }
        magnitude /= step;
    } else if (magnitude != 0) {
        if (exponent_ > 18 || magnitude > kHalfWord / kPowersOfTen[exponent_]) {
            return std::nullopt;
        }
        magnitude *= kPowersOfTen[exponent_];
    }
    const Wide limit = (static_cast<Wide>(1) << 63) - (negative_ ? 0 : 1);
    if (magnitude > limit) {
        return std::nullopt;
    }
    const auto bits = static_cast<std::uint64_t>(magnitude);
    return static_cast<std::int64_t>(negative_ ? 0 - bits : bits);
}

std::int64_t Decimal::integerValue() const {
    Wide magnitude = (static_cast<Wide>(high_) << 64) | low_;
    const Wide limit = (static_cast<Wide>(1) << 63) - (negative_ ? 0 : 1);
    if (exponent_ < -kMaxDigits) {
        magnitude = 0;
    } else if (exponent_ < 0) {
        magnitude /= kPowersOfTen[static_cast<std::size_t>(-exponent_)];
    } else if (magnitude != 0) {
        if (exponent_ > 18 || magnitude > limit / kPowersOfTen[exponent_]) {
            magnitude = limit;
        } else {
            magnitude *= kPowersOfTen[exponent_];
        }
    }
    magnitude = std::min(magnitude, limit);
    const auto bits = static_cast<std::uint64_t>(magnitude);
    return static_cast<std::int64_t>(negative_ ? 0 - bits : bits);
}

double Decimal::doubleValue() const {
    static constexpr double kExactPowers[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                              1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                              1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
    double result;
    if (isZero()) {
        result = 0;
    } else if (high_ == 0 && low_ <= (std::uint64_t{1} << 53) && exponent_ >= -22 &&
               exponent_ <= 22) {
        // Both operands are exact, so the one rounding of the product or quotient is correct.
        const auto coefficient = static_cast<double>(low_);
        result = exponent_ < 0 ? coefficient / kExactPowers[-exponent_]
                               : coefficient * kExactPowers[exponent_];
    } else if (const auto quick = high_ == 0 ? decimalToDouble(low_, exponent_) : std::nullopt) {
        result = *quick;
    } else {
        char text[64];
        char* end = text + writeCoefficient((static_cast<Wide>(high_) << 64) | low_, text);
        *end++ = 'e';
        end = std::to_chars(end, text + sizeof text, exponent_).ptr;
        std::from_chars(text, end, result);  // always within the range of doubles
    }
    return negative_ ? -result : result;
}

char* Decimal::write(char* out) const {
    if (negative_) {
        *out++ = '-';
    }
    const int exponent = exponent_;
    if (exponent >= 0 && isZero()) {
        *out = '0';
        return out + 1;
    }
    const int count = writeCoefficient((static_cast<Wide>(high_) << 64) | low_, out);
    if (exponent >= 0) {
        std::memset(out + count, '0', static_cast<std::size_t>(exponent));
        return out + count + exponent;
    }
    const int point = count + exponent;  // digits before the point
    if (point > 0) {
        std::memmove(out + point + 1, out + point, static_cast<std::size_t>(count - point));
        out[point] = '.';
        return out + count + 1;
    }
    const int shift = 2 - point;  // "0." and the zeros after it
    std::memmove(out + shift, out, static_cast<std::size_t>(count));
    out[0] = '0';
    out[1] = '.';
    std::memset(out + 2, '0', static_cast<std::size_t>(-point));
    return out + shift + count;
}

std::string Decimal::stringValue() const {
    char text[kMaxTextLength];
    return std::string(text, write(text));
}

bool Decimal::operator==(const Decimal& other) const {
    if (isZero() || other.isZero()) {
        return isZero() && other.isZero();
    }
    if (negative_ != other.negative_) {
        return false;
    }
    // The one with the larger exponent must be the other's coefficient with zeros removed.
    const bool mineLarger = exponent_ > other.exponent_;
    const Decimal& larger = mineLarger ? *this : other;
    const Decimal& smaller = mineLarger ? other : *this;
    const int difference = larger.exponent_ - smaller.exponent_;
    if (difference > kMaxDigits) {
        return false;
    }
    const Wide step = kPowersOfTen[static_cast<std::size_t>(difference)];
    const Wide small = (static_cast<Wide>(smaller.high_) << 64) | smaller.low_;
    const Wide large = (static_cast<Wide>(larger.high_) << 64) | larger.low_;
    return small % step == 0 && small / step == large;
}

}  // namespace platform
