#include "RZBase_Source/Json/RAZududeRqJsonWriter.h"

#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>

#include "RZBase_Source/Json/DoubleText.h"
#include "tests/support/TempDir.h"

using platform::Array;
using platform::Map;
using platform::Value;

namespace {

std::optional<std::string> write(const Value& value, bool humanReadable = false,
                                 bool sortKeys = false) {
    RAZududeRqJsonWriter writer;
    writer.setHumanReadable(humanReadable);
    writer.setSortKeys(sortKeys);
    return writer.stringWithFragment(value);
}

}  // namespace

TEST(RAZududeRqJsonWriter, CompactTextOfEveryKind) {
    EXPECT_EQ(write(Value(true)), "true");
    EXPECT_EQ(write(Value(false)), "false");
    EXPECT_EQ(write(Value(1)), "1");
    EXPECT_EQ(write(Value(INT64_MIN)), "-9223372036854775808");
    EXPECT_EQ(write(Value(UINT64_MAX)), "18446744073709551615");
    EXPECT_EQ(write(Value(1500.0)), "1500");
    EXPECT_EQ(write(Value(0.1)), "0.1");
    EXPECT_EQ(write(Value()), "null");
    EXPECT_EQ(write(Value("say \"hi\"")), R"("say \"hi\"")");
    EXPECT_EQ(write(Value(Map{{"b", Array{1, "x", Value()}}, {"a", Map{}}})),
              R"({"b":[1,"x",null],"a":{}})");
    EXPECT_EQ(write(Value(Map{{"b", 1}, {"a", 2}, {"c", 3}}), false, true),
              R"({"a":2,"b":1,"c":3})");
}

TEST(RAZududeRqJsonWriter, HumanReadableIndentsTwoSpacesPerLevel) {
    EXPECT_EQ(write(Value(Array{1, 2}), true), "[\n  1,\n  2\n]");
    EXPECT_EQ(write(Value(Array{}), true), "[]");
    EXPECT_EQ(write(Value(Map{}), true), "{}");
    EXPECT_EQ(write(Value(Map{{"a", Array{1}}, {"b", Map{{"c", true}}}}), true),
              "{\n  \"a\" : [\n    1\n  ],\n  \"b\" : {\n    \"c\" : true\n  }\n}");
}

TEST(RAZududeRqJsonWriter, OnlyObjectsAndArraysStandAsDocuments) {
    RAZududeRqJsonWriter writer;
    EXPECT_FALSE(writer.stringWithObject(Value("text")));
    ASSERT_EQ(writer.errorTrace().size(), 1u);
    EXPECT_EQ(writer.errorTrace()[0].code(), kRAZududeJsonErrorTopLevel);
    EXPECT_EQ(writer.errorTrace()[0].localizedDescription(), "Not valid type for JSON");
    EXPECT_EQ(writer.stringWithObject(Value(Array{})), "[]");
    EXPECT_TRUE(writer.errorTrace().empty());
}

// JSON has no text for NaN or the infinities: writing them would send a body no server
// reads.
TEST(RAZududeRqJsonWriter, RefusesNonFiniteNumbersBytesAndDates) {
    for (double bad : {std::nan(""), std::numeric_limits<double>::infinity(),
                       -std::numeric_limits<double>::infinity()}) {
        RAZududeRqJsonWriter writer;
        EXPECT_FALSE(writer.stringWithObject(Value(Map{{"n", bad}})));
        ASSERT_EQ(writer.errorTrace().size(), 2u);
        EXPECT_EQ(writer.errorTrace()[0].code(), kRAZududeJsonErrorUnsupported);
        EXPECT_EQ(writer.errorTrace()[0].localizedDescription(),
                  "JSON serialisation not supported for a number that is not finite");
        EXPECT_EQ(writer.errorTrace()[1].localizedDescription(),
                  "Unsupported value for key n in object");
        // Arrays write their numbers on a path of their own: it refuses them too.
        EXPECT_FALSE(writer.stringWithObject(Value(Array{1.5, bad, 2})));
        ASSERT_EQ(writer.errorTrace().size(), 1u);
        EXPECT_EQ(writer.errorTrace()[0].localizedDescription(),
                  "JSON serialisation not supported for a number that is not finite");
    }
    RAZududeRqJsonWriter writer;
    EXPECT_FALSE(writer.stringWithFragment(Value(platform::Bytes{1, 2})));
    EXPECT_EQ(writer.errorTrace()[0].localizedDescription(),
              "JSON serialisation not supported for Bytes");
    EXPECT_FALSE(writer.stringWithFragment(Value(Array{platform::Date(0)})));
    EXPECT_EQ(writer.errorTrace()[0].localizedDescription(),
              "JSON serialisation not supported for Date");
    EXPECT_FALSE(writer.stringWithFragment(Value("\xC3(")));
    EXPECT_EQ(writer.errorTrace()[0].code(), kRAZududeJsonErrorUnsupported);
}

TEST(RAZududeRqJsonWriter, NestingBeyondTheLimitIsRefused) {
    auto nested = [](std::size_t depth) {
        Value value = Array{};
        for (std::size_t i = 1; i < depth; ++i) {
            value = Array{std::move(value)};
        }
        return value;
    };
    RAZududeRqJsonWriter writer;
    EXPECT_TRUE(writer.stringWithObject(nested(512)));
    EXPECT_FALSE(writer.stringWithObject(nested(513)));
    EXPECT_EQ(writer.errorTrace().front().localizedDescription(), "Nested too deep");
}

// Every control character, quote, backslash and non-ASCII text reads back in Python as the
// same string; the escapes use lowercase hexadecimal digits.
TEST(RAZududeRqJsonWriter, StringsReadBackInPython) {
    std::string text;
    for (int c = 0; c < 0x20; ++c) {
        text += static_cast<char>(c);
    }
    text += "\"\\/ \x7F é 中 \xF0\x9F\x8E\x89";
    const auto written = write(Value(Array{text, Map{{text, text}}}));
    ASSERT_TRUE(written);
    EXPECT_NE(written->find(R"(\u001f)"), std::string::npos);
    EXPECT_NE(written->find(R"(\"\\/)"), std::string::npos);
    const std::string verdict = testing_support::runPython(R"(
import json, sys
text = "".join(chr(c) for c in range(0x20)) + "\"\\/ \x7f \u00e9 \u4e2d \U0001f389"
print(json.loads(sys.stdin.buffer.read().decode("utf-8")) == [text, {text: text}])
)",
                                                           *written);
    EXPECT_EQ(verdict, "True\n");
}

// Reals are written as the standard library writes them (the shortest text that reads back,
// fixed or scientific): random doubles of every magnitude, and short decimals.
TEST(RAZududeRqJsonWriter, RealsAreWrittenShortestAndExact) {
    std::mt19937_64 random(7);
    auto expectSame = [](double value) {
        char ours[48];
        char theirs[48];
        const char* ourEnd = rzbase::json::writeShortest(value, ours);
        const char* theirEnd = std::to_chars(theirs, theirs + sizeof theirs, value).ptr;
        ASSERT_EQ(std::string_view(ours, static_cast<std::size_t>(ourEnd - ours)),
                  std::string_view(theirs, static_cast<std::size_t>(theirEnd - theirs)));
    };
    for (int i = 0; i < 300000; ++i) {
        double value;
        const std::uint64_t bits = random();
        std::memcpy(&value, &bits, sizeof value);
        if (std::isfinite(value)) {
            expectSame(value);
            int exponent = 0;
            const double fraction = std::frexp(value, &exponent);
            expectSame(std::ldexp(fraction, static_cast<int>(random() % 95) - 40));
        }
        const double decimal = static_cast<double>(random() % 100000000) /
                               std::pow(10.0, static_cast<double>(random() % 12));
        expectSame(decimal);
        expectSame(-decimal);
    }
    for (double value :
         {0.1, 0.5, 1.0, 1500.0, 1e16, 9.999999999999999e15, 1e-11, 123456.789, -65.613616999999977,
          4.35, 1e21, 5e-324, 0.0, -0.0, 2.0, 0.3, 9007199254740993.0, 1.7976931348623157e308}) {
        expectSame(value);
    }
}
