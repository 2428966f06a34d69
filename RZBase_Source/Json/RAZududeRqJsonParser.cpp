#include "RZBase_Source/Json/RAZududeRqJsonParser.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <limits>
#include <memory>
#include <optional>
#include <tuple>
#include <utility>

#include "RZBase_Source/Encode/Utf8.h"

using platform::Value;

namespace {

// Whitespace is what isspace accepts in the C locale.
constexpr auto kWhitespace = [] {
    std::array<bool, 256> table{};
    for (unsigned char c : {' ', '\t', '\n', '\v', '\f', '\r'}) {
        table[c] = true;
    }
    return table;
}();

// How the string scanner treats a byte: 0 part of a plain run, 1 ends the run (quote,
// backslash, control byte), 2 starts a multi-byte sequence to check.
constexpr auto kStringClass = [] {
    std::array<std::uint8_t, 256> table{};
    for (int c = 0; c < 0x20; ++c) {
        table[static_cast<std::size_t>(c)] = 1;
    }
    table['"'] = 1;
    table['\\'] = 1;
    for (int c = 0x80; c < 0x100; ++c) {
        table[static_cast<std::size_t>(c)] = 2;
    }
    return table;
}();

// The scanners fill slots that hold null, whose destruction does nothing: the value is made
// in place rather than assigned through a temporary.
template <typename T>
void fill(Value& fresh, T&& content) {
    std::construct_at(&fresh, std::forward<T>(content));
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// Steps over eight bytes at a time while none of them is a quote, a backslash, a control
// byte or non-ASCII.
const unsigned char* skipPlainAscii(const unsigned char* p, const unsigned char* end) {
    constexpr std::uint64_t kOnes = 0x0101010101010101ULL;
    constexpr std::uint64_t kHigh = 0x8080808080808080ULL;
    while (end - p >= 8) {
        std::uint64_t word;
        std::memcpy(&word, p, sizeof word);
        const std::uint64_t quote = word ^ (kOnes * '"');
        const std::uint64_t backslash = word ^ (kOnes * '\\');
        const std::uint64_t special = (word - kOnes * 0x20) | (quote - kOnes) | (backslash - kOnes);
        // A byte is special when its subtraction borrowed (or it was non-ASCII to begin with).
        if ((special | word) & kHigh) {
            break;
        }
        p += 8;
    }
    return p;
}

std::string withByte(const char* text, unsigned byte) {
    char buffer[96];
    std::snprintf(buffer, sizeof buffer, text, byte);
    return buffer;
}

}  // namespace

std::optional<Value> RAZududeRqJsonParser::objectWithString(std::optional<std::string_view> text) {
    auto value = fragmentWithString(text);
    if (value && !value->isMap() && !value->isArray()) {
        addErrorWithCode(kRAZududeJsonErrorTopLevel, "Valid fragment, but not JSON");
        return std::nullopt;
    }
    return value;
}

std::optional<Value> RAZududeRqJsonParser::fragmentWithString(
    std::optional<std::string_view> text) {
    clearErrorTrace();
    if (!text) {
        addErrorWithCode(kRAZududeJsonErrorNilInput, "Input was 'nil'");
        return std::nullopt;
    }
    c_ = text->data();
    end_ = c_ + text->size();
    if (const void* zero = std::memchr(c_, 0, text->size())) {
        end_ = static_cast<const char*>(zero);
    }
    resetNesting();
    members_.clear();

    Value value;
    if (!scanValue(value)) {
        return std::nullopt;
    }
    if (!scanIsAtEnd()) {
        addErrorWithCode(kRAZududeJsonErrorGarbage, "Garbage after JSON");
        return std::nullopt;
    }
    return value;
}

void RAZududeRqJsonParser::skipWhitespace() {
    while (c_ < end_ && kWhitespace[static_cast<unsigned char>(*c_)]) {
        ++c_;
    }
}

bool RAZududeRqJsonParser::scanIsAtEnd() {
    skipWhitespace();
    return c_ == end_;
}

bool RAZududeRqJsonParser::scanValue(Value& value) {
    skipWhitespace();
    if (c_ == end_) {
        addErrorWithCode(kRAZududeJsonErrorEndOfInput, "Unexpected end of string");
        return false;
    }
    switch (*c_++) {
        case '{':
            return scanRestOfDictionary(value);
        case '[':
            return scanRestOfArray(value);
        case '"': {
            std::string text;
            if (!scanRestOfString(text)) {
                return false;
            }
            fill(value, std::move(text));
            return true;
        }
        case 'f':
            return scanRestOfFalse(value);
        case 't':
            return scanRestOfTrue(value);
        case 'n':
            return scanRestOfNull(value);
        case '-':
        case '0':
        case '1':
        case '2':
        case '3':
        case '4':
        case '5':
        case '6':
        case '7':
        case '8':
        case '9':
            --c_;
            return scanNumber(value);
        case '+':
            addErrorWithCode(kRAZududeJsonErrorBadNumber, "Leading + disallowed in number");
            return false;
        default:
            addErrorWithCode(kRAZududeJsonErrorSyntax, "Unrecognised leading character");
            return false;
    }
}

bool RAZududeRqJsonParser::scanLiteral(std::string_view rest) {
    if (static_cast<std::size_t>(end_ - c_) >= rest.size() &&
        std::memcmp(c_, rest.data(), rest.size()) == 0) {
        c_ += rest.size();
        return true;
    }
    return false;
}

bool RAZududeRqJsonParser::scanRestOfTrue(Value& value) {
    if (!scanLiteral("rue")) {
        addErrorWithCode(kRAZududeJsonErrorSyntax, "Expected 'true'");
        return false;
    }
    fill(value, true);
    return true;
}

bool RAZududeRqJsonParser::scanRestOfFalse(Value& value) {
    if (!scanLiteral("alse")) {
        addErrorWithCode(kRAZududeJsonErrorSyntax, "Expected 'false'");
        return false;
    }
    fill(value, false);
    return true;
}

// The slot holds null already.
bool RAZududeRqJsonParser::scanRestOfNull(Value& /*value*/) {
    if (!scanLiteral("ull")) {
        addErrorWithCode(kRAZududeJsonErrorSyntax, "Expected 'null'");
        return false;
    }
    return true;
}

// Each array is read into its own vector, every element made in its final place. The first
// element reserves room for a few, which spares small arrays (most of them) a regrowth.
constexpr std::size_t kInitialElements = 4;

// Elements need no comma between them: "[1 2]" holds two numbers.
bool RAZududeRqJsonParser::scanRestOfArray(Value& value) {
    if (!enterNesting()) {
        return false;
    }
    platform::Array elements;
    while (c_ < end_) {
        skipWhitespace();
        if (c_ < end_ && *c_ == ']') {
            ++c_;
            leaveNesting();
            fill(value, std::move(elements));
            return true;
        }
        if (elements.empty()) {
            elements.reserve(kInitialElements);
        }
        if (!scanValue(elements.emplace_back())) [[unlikely]] {
            addErrorWithCode(kRAZududeJsonErrorSyntax, "Expected value while parsing array");
            return false;
        }
        skipWhitespace();
        if (c_ < end_ && *c_ == ',') {
            ++c_;
            skipWhitespace();
            if (c_ < end_ && *c_ == ']') {
                addErrorWithCode(kRAZududeJsonErrorTrailingComma,
                                 "Trailing comma disallowed in array");
                return false;
            }
        }
    }
    addErrorWithCode(kRAZududeJsonErrorEndOfInput, "End of input while parsing array");
    return false;
}

// Members need no comma between them either; a later duplicate key replaces the earlier
// value. Members gather on a stack shared by all levels, so that each map is made with one
// allocation of its final size.
bool RAZududeRqJsonParser::scanRestOfDictionary(Value& value) {
    if (!enterNesting()) {
        return false;
    }
    if (c_ == end_) {
        addErrorWithCode(kRAZududeJsonErrorEndOfInput, "End of input while parsing object");
        return false;
    }
    const std::size_t base = members_.size();
    auto fail = [&] {
        members_.erase(members_.begin() + static_cast<std::ptrdiff_t>(base), members_.end());
        return false;
    };
    while (c_ < end_) {
        skipWhitespace();
        if (c_ < end_ && *c_ == '}') {
            ++c_;
            leaveNesting();
            const auto first = members_.begin() + static_cast<std::ptrdiff_t>(base);
            fill(value,
                 platform::Map(std::vector<platform::Map::Entry>(
                     std::make_move_iterator(first), std::make_move_iterator(members_.end()))));
            members_.erase(first, members_.end());
            return true;
        }
        if (c_ == end_ || *c_ != '"') {
            addErrorWithCode(kRAZududeJsonErrorSyntax, "Object key string expected");
            return fail();
        }
        ++c_;
        std::string key;
        if (!scanRestOfString(key)) {
            addErrorWithCode(kRAZududeJsonErrorSyntax, "Object key string expected");
            return fail();
        }
        skipWhitespace();
        if (c_ == end_ || *c_ != ':') {
            addErrorWithCode(kRAZududeJsonErrorSyntax, "Expected ':' separating key and value");
            return fail();
        }
        ++c_;
        // A container may push members of its own while it is read, so it is read aside;
        // any other value goes straight into its place.
        skipWhitespace();
        bool read;
        if (c_ < end_ && (*c_ == '{' || *c_ == '[')) {
            Value member;
            read = scanValue(member);
            if (read) {
                members_.emplace_back(std::move(key), std::move(member));
            }
        } else {
            auto& member = members_.emplace_back(
                std::piecewise_construct, std::forward_as_tuple(std::move(key)), std::tuple<>());
            read = scanValue(member.second);
            if (!read) {
                key = std::move(member.first);
            }
        }
        if (!read) [[unlikely]] {
            addErrorWithCode(kRAZududeJsonErrorSyntax, "Object value expected for key: " + key);
            return fail();
        }
        skipWhitespace();
        if (c_ < end_ && *c_ == ',') {
            ++c_;
            skipWhitespace();
            if (c_ < end_ && *c_ == '}') {
                addErrorWithCode(kRAZududeJsonErrorTrailingComma,
                                 "Trailing comma disallowed in object");
                return fail();
            }
        }
    }
    addErrorWithCode(kRAZududeJsonErrorEndOfInput, "End of input while parsing object");
    return fail();
}

bool RAZududeRqJsonParser::scanRestOfString(std::string& out) {
    const auto* end = reinterpret_cast<const unsigned char*>(end_);
    while (true) {
        // The longest run that needs no decoding, checked for well-formed UTF-8 on the way.
        const char* run = c_;
        auto p = reinterpret_cast<const unsigned char*>(c_);
        while (p < end) {
            p = skipPlainAscii(p, end);
            if (p == end) {
                break;
            }
            const std::uint8_t kind = kStringClass[*p];
            if (kind == 0) {
                ++p;
            } else if (kind == 2) {
                const std::size_t length = rzbase::utf8SequenceAt(p, end);
                if (length == 0) {
                    break;
                }
                p += length;
            } else {
                break;
            }
        }
        c_ = reinterpret_cast<const char*>(p);
        out.append(run, c_);

        if (c_ == end_) {
            addErrorWithCode(kRAZududeJsonErrorEndOfInput, "Unexpected EOF while parsing string");
            return false;
        }
        const auto byte = static_cast<unsigned char>(*c_);
        if (byte == '"') {
            ++c_;
            return true;
        }
        if (byte == '\\') {
            ++c_;
            const unsigned escape = c_ < end_ ? static_cast<unsigned char>(*c_) : 0;
            switch (escape) {
                case '"':
                case '\\':
                case '/':
                    out += static_cast<char>(escape);
                    break;
                case 'b':
                    out += '\b';
                    break;
                case 'f':
                    out += '\f';
                    break;
                case 'n':
                    out += '\n';
                    break;
                case 'r':
                    out += '\r';
                    break;
                case 't':
                    out += '\t';
                    break;
                case 'u':
                    ++c_;
                    if (!scanUnicodeChar(out)) {
                        addErrorWithCode(kRAZududeJsonErrorUnicode, "Broken unicode character");
                        return false;
                    }
                    continue;
                default:
                    addErrorWithCode(kRAZududeJsonErrorIllegalEscape,
                                     withByte("Illegal escape sequence '0x%x'", escape));
                    return false;
            }
            ++c_;
            continue;
        }
        if (byte < 0x20) {
            addErrorWithCode(kRAZududeJsonErrorControlCharacter,
                             withByte("Unescaped control character '0x%x'", byte));
            return false;
        }
        // A byte that starts no well-formed UTF-8 sequence.
        addErrorWithCode(kRAZududeJsonErrorUnicode, "Broken unicode character");
        return false;
    }
}

bool RAZududeRqJsonParser::scanUnicodeChar(std::string& out) {
    std::uint32_t high = 0;
    if (!scanHexQuad(high)) {
        addErrorWithCode(kRAZududeJsonErrorUnicode, "Missing hex quad");
        return false;
    }
    if (high < 0xD800 || high >= 0xE000) {
        rzbase::appendUtf8(out, high);
        return true;
    }
    if (high >= 0xDC00) {
        addErrorWithCode(kRAZududeJsonErrorUnicode, "Invalid high character in surrogate pair");
        return false;
    }
    if (end_ - c_ < 2 || c_[0] != '\\' || c_[1] != 'u') {
        addErrorWithCode(kRAZududeJsonErrorUnicode, "Missing low character in surrogate pair");
        return false;
    }
    c_ += 2;
    std::uint32_t low = 0;
    if (!scanHexQuad(low)) {
        addErrorWithCode(kRAZududeJsonErrorUnicode, "Missing hex quad");
        return false;
    }
    if (low < 0xDC00 || low > 0xDFFF) {
        addErrorWithCode(kRAZududeJsonErrorUnicode, "Invalid low surrogate char");
        return false;
    }
    rzbase::appendUtf8(out, 0x10000 + ((high - 0xD800) << 10) + (low - 0xDC00));
    return true;
}

bool RAZududeRqJsonParser::scanHexQuad(std::uint32_t& quad) {
    quad = 0;
    for (int i = 0; i < 4; ++i) {
        const char c = c_ < end_ ? *c_ : '\0';
        std::uint32_t digit;
        if (c >= '0' && c <= '9') {
            digit = static_cast<std::uint32_t>(c - '0');
        } else if (c >= 'a' && c <= 'f') {
            digit = static_cast<std::uint32_t>(c - 'a' + 10);
        } else if (c >= 'A' && c <= 'F') {
            digit = static_cast<std::uint32_t>(c - 'A' + 10);
        } else {
            addErrorWithCode(kRAZududeJsonErrorUnicode, "Missing hex digit in quad");
            return false;
        }
        quad = quad * 16 + digit;
        ++c_;
    }
    return true;
}

// Reads a run of digits into the significand while it holds at most 19 of them (so that it
// fits 64 bits exactly); digits beyond that only mark it as inexact. Fractions are long
// (coordinates carry 15 digits and more), so eight digits are taken at a time.
void RAZududeRqJsonParser::scanDigits(Significand& significand) {
    static constexpr std::uint64_t kPowersOfTen[] = {1,      10,      100,      1000,     10000,
                                                     100000, 1000000, 10000000, 100000000};
    // Locals, so that the loops keep them in registers.
    const char* p = c_;
    std::uint64_t value = significand.value;
    int held = significand.digits;
    bool inexact = significand.inexact;
    auto takeOne = [&](char digit) {
        if (held < 19) {
            value = value * 10 + static_cast<std::uint64_t>(digit - '0');
            ++held;
        } else {
            inexact = true;
        }
    };
    while (end_ - p >= 8) {
        std::uint64_t word;
        std::memcpy(&word, p, sizeof word);
        // A non-zero byte for each byte that is no digit; the first one ends the run.
        const std::uint64_t nonDigits =
            ((word & 0xF0F0F0F0F0F0F0F0ULL) ^ 0x3030303030303030ULL) |
            (((word + 0x0606060606060606ULL) & 0xF0F0F0F0F0F0F0F0ULL) ^ 0x3030303030303030ULL);
        const int count = nonDigits == 0 ? 8 : std::countr_zero(nonDigits) / 8;
        if (count == 0) {
            break;
        }
        if (held + count <= 19) {
            // The digits as one number: moved to the top bytes, below them zeros.
            std::uint64_t digits = word - 0x3030303030303030ULL;
            if (count < 8) {
                digits = (digits & ((std::uint64_t{1} << (8 * count)) - 1)) << (8 * (8 - count));
            }
            digits = digits * 10 + (digits >> 8);
            digits = (((digits & 0x000000FF000000FFULL) * 0x000F424000000064ULL) +
                      (((digits >> 16) & 0x000000FF000000FFULL) * 0x0000271000000001ULL)) >>
                     32;
            value = value * kPowersOfTen[count] + (digits & 0xFFFFFFFFULL);
            held += count;
        } else {
            for (int i = 0; i < count; ++i) {
                takeOne(p[i]);
            }
        }
        p += count;
        if (count < 8) {
            break;
        }
    }
    for (; p < end_ && isDigit(*p); ++p) {
        takeOne(*p);
    }
    significand.scanned += static_cast<std::size_t>(p - c_);
    significand.value = value;
    significand.digits = held;
    significand.inexact = inexact;
    c_ = p;
}

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

// The significand times 10^exponent10, correctly rounded to a double, by one 64 x 128-bit
// multiplication (the Eisel-Lemire method); nothing for exponents outside the table, results
// that are subnormal, and the rare products too close to call. Those go the slow way.
std::optional<double> quickScale(std::uint64_t significand, int exponent10) {
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

}  // namespace

bool RAZududeRqJsonParser::scanNumber(Value& value) {
    const char* start = c_;
    const bool negative = *c_ == '-';
    if (negative) {
        ++c_;
    }
    Significand significand;
    if (c_ < end_ && *c_ == '0') {
        ++c_;
        if (c_ < end_ && isDigit(*c_)) {
            addErrorWithCode(kRAZududeJsonErrorBadNumber, "Leading 0 disallowed in number");
            return false;
        }
    } else {
        if (c_ == end_ || !isDigit(*c_)) {
            addErrorWithCode(kRAZududeJsonErrorBadNumber, "No digits after initial minus");
            return false;
        }
        scanDigits(significand);
    }
    bool integral = true;
    int exponent10 = 0;
    if (c_ < end_ && *c_ == '.') {
        ++c_;
        if (c_ == end_ || !isDigit(*c_)) {
            addErrorWithCode(kRAZududeJsonErrorBadNumber, "No digits after decimal point");
            return false;
        }
        const std::size_t before = significand.scanned;
        scanDigits(significand);
        exponent10 -= static_cast<int>(std::min<std::size_t>(significand.scanned - before, 100000));
        integral = false;
    }
    if (c_ < end_ && (*c_ == 'e' || *c_ == 'E')) {
        ++c_;
        bool negativeExponent = false;
        if (c_ < end_ && (*c_ == '+' || *c_ == '-')) {
            negativeExponent = *c_ == '-';
            ++c_;
        }
        if (c_ == end_ || !isDigit(*c_)) {
            addErrorWithCode(kRAZududeJsonErrorBadNumber, "No digits after exponent");
            return false;
        }
        int exponent = 0;
        for (; c_ < end_ && isDigit(*c_); ++c_) {
            exponent = std::min(exponent * 10 + (*c_ - '0'), 100000);
        }
        exponent10 += negativeExponent ? -exponent : exponent;
        integral = false;
    }

    // Integers keep every digit while they fit 64 bits; the rest are reals.
    if (integral && !significand.inexact) {
        constexpr std::uint64_t kLargest = 9223372036854775807ULL;
        if (significand.value <= kLargest) {
            const auto magnitude = static_cast<std::int64_t>(significand.value);
            fill(value, negative ? -magnitude : magnitude);
            return true;
        }
        if (negative && significand.value == kLargest + 1) {
            fill(value, std::int64_t{INT64_MIN});
            return true;
        }
    }
    if (!significand.inexact) {
        if (significand.value == 0) {
            fill(value, negative ? -0.0 : 0.0);
            return true;
        }
        if (const auto quick = quickScale(significand.value, exponent10)) {
            fill(value, negative ? -*quick : *quick);
            return true;
        }
    }
    double real = 0;
    const auto [end, error] = std::from_chars(start, c_, real);
    if (error == std::errc::result_out_of_range) {
        // Too small comes out as zero or a subnormal; too large has no value at all.
        const std::string copy(start, c_);
        real = std::strtod(copy.c_str(), nullptr);
        if (std::isinf(real)) {
            addErrorWithCode(kRAZududeJsonErrorBadNumber, "Failed creating decimal instance");
            return false;
        }
    } else if (error != std::errc() || end != c_) {
        addErrorWithCode(kRAZududeJsonErrorBadNumber, "Failed creating decimal instance");
        return false;
    }
    fill(value, real);
    return true;
}
