#include "platform/Decimal.h"

#include <gtest/gtest.h>

#include <charconv>
#include <climits>
#include <random>
#include <sstream>
#include <string>

#include "platform/PropertyList.h"
#include "platform/Value.h"
#include "tests/support/TempDir.h"

using platform::Decimal;
using platform::Value;

namespace {

std::string textOf(std::string_view number) {
    const auto decimal = Decimal::fromString(number);
    return decimal ? decimal->stringValue() : "none";
}

// Number texts that reach every corner: long runs of digits, leading zeros, nines that carry,
// halfway cases, and exponents at both ends of the range and far beyond.
std::string numberTexts() {
    std::mt19937_64 random(2024);
    auto pick = [&](std::uint64_t n) { return static_cast<int>(random() % n); };
    auto digits = [&](int count) {
        std::string out;
        const int pattern = pick(6);
        for (int i = 0; i < count; ++i) {
            char c = static_cast<char>('0' + pick(10));
            if (pattern == 0) {
                c = '9';
            } else if (pattern == 1) {
                c = i == 0 ? '5' : '0';  // a tie once the digits before it are cut
            } else if (pattern == 2 && i > 0) {
                c = i == 1 ? '4' : '9';
            }
            out += c;
        }
        return out;
    };
    std::string texts;
    for (int i = 0; i < 20000; ++i) {
        std::string text = pick(3) == 0 ? "-" : pick(10) == 0 ? "+" : "";
        const int wholeDigits = pick(4) == 0 ? 0 : 1 + pick(pick(2) ? 45 : 20);
        std::string whole = digits(wholeDigits);
        if (pick(5) == 0) {
            whole = std::string(static_cast<std::size_t>(pick(4)), '0') + whole;
        }
        text += whole;
        if (wholeDigits == 0 || pick(2) == 0) {
            std::string fraction = digits(1 + pick(pick(2) ? 45 : 20));
            if (pick(4) == 0) {
                fraction = std::string(static_cast<std::size_t>(pick(30)), '0') + fraction;
            }
            text += "." + fraction;
        }
        switch (pick(5)) {
            case 0:
                break;
            case 1:
                text += "e" + std::to_string(pick(500) - 250);
                break;
            case 2:  // around the bottom of the range, as the digits place it
                text += "E" + std::to_string(-128 - pick(50) + pick(10));
                break;
            case 3:  // around the top
                text += "e+" + std::to_string(127 + pick(40) - pick(60));
                break;
            default:
                text += pick(2) ? "e-99999999999999999999999" : "e99999999999999999999999";
        }
        texts += text + "\n";
    }
    for (const char* edge : {"1e164",
                             "1e165",
                             "9.9999999999999999999999999999999999999e164",
                             "9.99999999999999999999999999999999999995e164",
                             "0e999",
                             "-0e-999",
                             "0.5e-128",
                             "0.51e-128",
                             "1.5e-128",
                             "2.5e-128",
                             "99999999999999999999999999999999999999.5",
                             "12345678901234567890123456789012345678.5",
                             "12345678901234567890123456789012345677.5",
                             "9223372036854775807",
                             "9223372036854775808",
                             "-9223372036854775808",
                             "-9223372036854775809",
                             "123456789012345678901",
                             "0.000",
                             "-0.0",
                             "1.",
                             ".5"}) {
        texts += std::string(edge) + "\n";
    }
    return texts;
}

}  // namespace

// Python's decimal module in a context with the same precision and exponent range (38 digits,
// exponents of the coefficient from -128 to 127, rounding half to even) is the reference: the
// value (as plain text), the nearest double, the truncated integer and the exact integer.
TEST(Decimal, ReadsAndConvertsAsPythonsDecimalContext) {
    const std::string texts = numberTexts();
    const std::string expected = testing_support::runPython(R"(
import decimal, sys
context = decimal.Context(prec=38, Emin=-91, Emax=164, clamp=1,
                          rounding=decimal.ROUND_HALF_EVEN)
for text in sys.stdin.read().split():
    try:
        d = context.create_decimal(text)
    except decimal.Overflow:
        print("none")
        continue
    whole = int(d)
    exact = whole if d == whole and -2**63 <= whole < 2**63 else "none"
    print(format(d, "f"), repr(float(d)), max(-2**63, min(2**63 - 1, whole)), exact)
)",
                                                            texts);
    const auto inputs = testing_support::lines(texts);
    const auto answers = testing_support::lines(expected);
    ASSERT_EQ(inputs.size(), answers.size());
    int overflows = 0;
    for (std::size_t i = 0; i < inputs.size(); ++i) {
        const auto decimal = Decimal::fromString(inputs[i]);
        if (answers[i] == "none") {
            EXPECT_FALSE(decimal) << inputs[i];
            ++overflows;
            continue;
        }
        ASSERT_TRUE(decimal) << inputs[i];
        std::istringstream fields(answers[i]);
        std::string text, real, truncated, exact;
        fields >> text >> real >> truncated >> exact;
        ASSERT_EQ(decimal->stringValue(), text) << inputs[i];
        double nearest = 0;
        std::from_chars(real.data(), real.data() + real.size(), nearest);
        ASSERT_EQ(decimal->doubleValue(), nearest) << inputs[i];
        ASSERT_EQ(decimal->integerValue(), std::stoll(truncated)) << inputs[i];
        const auto integer = decimal->toInteger();
        ASSERT_EQ(integer ? std::to_string(*integer) : "none", exact) << inputs[i];
        ASSERT_EQ(Decimal::fromString(text), decimal) << inputs[i];  // the text reads back
    }
    EXPECT_GT(overflows, 100);
}

TEST(Decimal, RangeAndPrecisionAtTheirEdges) {
    EXPECT_EQ(textOf("123456789012345678901"), "123456789012345678901");
    EXPECT_EQ(textOf("1.50"), "1.50");  // the digits as written
    EXPECT_EQ(textOf("1.5e3"), "1500");
    EXPECT_EQ(textOf("0e5"), "0");
    EXPECT_EQ(textOf("-0.0"), "-0.0");
    EXPECT_EQ(textOf("1e-5"), "0.00001");
    // 38 digits are kept; the 39th rounds half to even.
    EXPECT_EQ(textOf("1234567890123456789012345678901234567.85"),
              "1234567890123456789012345678901234567.8");
    EXPECT_EQ(textOf("1234567890123456789012345678901234567.95"),
              "1234567890123456789012345678901234568.0");
    EXPECT_EQ(textOf("99999999999999999999999999999999999999.5"),
              "100000000000000000000000000000000000000");
    // The top: zeros fill the coefficient, then nothing is left.
    EXPECT_EQ(textOf("1e164"), "1" + std::string(164, '0'));
    EXPECT_EQ(textOf("1e165"), "none");
    EXPECT_EQ(textOf(std::string(38, '9') + "5e127"), "none");  // rounding carries over the top
    EXPECT_EQ(textOf("1e99999999999999999999"), "none");
    // The bottom: the last digits go, down to zero.
    EXPECT_EQ(textOf("1e-128"), "0." + std::string(127, '0') + "1");
    EXPECT_EQ(textOf("1.26e-127"), "0." + std::string(126, '0') + "13");
    EXPECT_EQ(textOf("0.5e-128"), "0." + std::string(128, '0'));
    EXPECT_EQ(textOf("-1e-400"), "-0." + std::string(128, '0'));
    const auto text = Decimal::fromString("-" + std::string(38, '9') + "e127")->stringValue();
    EXPECT_EQ(text.size(), Decimal::kMaxTextLength);
    for (std::string_view bad : {"", "-", ".", "e5", "1e", "1e+", "1x", "1.2.3", " 1", "0x10"}) {
        EXPECT_FALSE(Decimal::fromString(bad)) << bad;
    }
}

TEST(Decimal, EqualityIsByValue) {
    auto decimal = [](std::string_view text) { return *Decimal::fromString(text); };
    EXPECT_EQ(decimal("1.50"), decimal("1.5"));
    EXPECT_EQ(decimal("1e2"), decimal("100.000"));
    EXPECT_EQ(decimal("-0"), decimal("0e-50"));
    EXPECT_EQ(decimal("1e127"), decimal("1" + std::string(38, '0') + "e89"));
    EXPECT_NE(decimal("1"), decimal("-1"));
    EXPECT_NE(decimal("1e-100"), decimal("1e-60"));
    EXPECT_NE(decimal("15"), decimal("1.5"));
    EXPECT_EQ(Decimal(INT64_MIN), decimal("-9223372036854775808"));
}

// A decimal is a number among numbers: the lenient accessors answer for it, it equals an
// integer or real of its value, and a property list stores it as one of those.
TEST(Decimal, ValuesHoldingDecimalsAnswerAsNumbers) {
    const Value big(*Decimal::fromString("123456789012345678901.5"));
    EXPECT_TRUE(big.isNumber() && big.isDecimal());
    EXPECT_FALSE(big.isInteger() || big.isReal());
    EXPECT_EQ(big.stringValue(), "123456789012345678901.5");
    EXPECT_EQ(big.integerValue(), INT64_MAX);
    EXPECT_EQ(big.intValue(), INT_MAX);
    EXPECT_DOUBLE_EQ(big.doubleValue(), 1.2345678901234568e20);
    EXPECT_TRUE(big.boolValue());
    EXPECT_FALSE(Value(*Decimal::fromString("0.000")).boolValue());
    EXPECT_EQ(big.description(), "123456789012345678901.5");

    EXPECT_EQ(Value(*Decimal::fromString("1500.0")), Value(1500));
    EXPECT_EQ(Value(*Decimal::fromString("0.25")), Value(0.25));
    EXPECT_EQ(Value(*Decimal::fromString("1")), Value(true));
    EXPECT_NE(Value(*Decimal::fromString("9223372036854775808")), Value(INT64_MAX));
    EXPECT_NE(big, Value(*Decimal::fromString("123456789012345678901.50001")));

    namespace PropertyList = platform::PropertyList;
    const Value numbers(platform::Array{Value(*Decimal::fromString("-4200e-2")),
                                        Value(*Decimal::fromString("2.5"))});
    for (auto format : {PropertyList::Format::kXml, PropertyList::Format::kBinary}) {
        auto data = PropertyList::write(numbers, format);
        ASSERT_TRUE(data);
        const auto back = PropertyList::read(*data);
        ASSERT_TRUE(back);
        EXPECT_TRUE((*back)[0].isInteger());
        EXPECT_EQ((*back)[0].integerValue(), -42);
        EXPECT_TRUE((*back)[1].isReal());
        EXPECT_EQ((*back)[1].doubleValue(), 2.5);
    }
}
