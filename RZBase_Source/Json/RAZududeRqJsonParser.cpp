#include "RZBase_Source/Json/RAZududeRqJsonParser.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <memory>
#include <optional>
#include <tuple>
#include <utility>

#include "RZBase_Source/Json/JsonText.h"
#include "platform/Utf8.h"

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

// The scanners fill slots that hold null, whose destruction does nothing: the value is made
// in place rather than assigned through a temporary.
template <typename T>
void fill(Value& fresh, T&& content) {
    std::construct_at(&fresh, std::forward<T>(content));
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
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
// element reserves room for two: pairs (coordinates, ranges) are the most common small arrays.
constexpr std::size_t kInitialElements = 2;

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
        auto p = rzbase::json::skipPlainRun(reinterpret_cast<const unsigned char*>(c_), end);
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
        platform::utf8::append(out, high);
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
    platform::utf8::append(out, 0x10000 + ((high - 0xD800) << 10) + (low - 0xDC00));
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

    // Integers keep every digit while they fit 64 bits; every other number is a decimal, read
    // straight from the digits when they fit 64 bits, else rounded from the text.
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
    if (!significand.inexact && exponent10 >= platform::Decimal::kMinExponent &&
        exponent10 <= platform::Decimal::kMaxExponent) {
        fill(value, platform::Decimal::fromParts(negative, significand.value, exponent10));
        return true;
    }
    const auto decimal = platform::Decimal::fromString(
        std::string_view(start, static_cast<std::size_t>(c_ - start)));
    if (!decimal) {
        addErrorWithCode(kRAZududeJsonErrorBadNumber, "Failed creating decimal instance");
        return false;
    }
    fill(value, *decimal);
    return true;
}
