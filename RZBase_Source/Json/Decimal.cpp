#include "RZBase_Source/Json/Decimal.h"

#include <bit>
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

}  // namespace rzbase::json
