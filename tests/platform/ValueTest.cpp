#include "platform/Value.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "platform/Error.h"
#include "tests/support/TempDir.h"

using platform::Array;
using platform::Map;
using platform::Value;

TEST(Value, LenientNumbersReadFromStringsAsTheirLeadingNumber) {
    EXPECT_EQ(Value("  42abc").intValue(), 42);
    EXPECT_EQ(Value("-17").intValue(), -17);
    EXPECT_EQ(Value("abc").intValue(), 0);
    EXPECT_EQ(Value("99999999999").intValue(), INT_MAX);
    EXPECT_EQ(Value("-99999999999").intValue(), INT_MIN);
    EXPECT_EQ(Value(3.9).intValue(), 3);
    EXPECT_DOUBLE_EQ(Value(" 2.5e1x").doubleValue(), 25.0);
    EXPECT_EQ(Value(Array{}).intValue(), 0);
    EXPECT_EQ(Value().stringValue(), "");
    EXPECT_EQ(Value(7).stringValue(), "7");
    EXPECT_EQ(Value(0.1).stringValue(), "0.1");
    EXPECT_EQ(Value(true).stringValue(), "1");
}

TEST(Value, BoolFromStringFollowsTheFirstSignificantCharacter) {
    EXPECT_TRUE(Value("YES").boolValue());
    EXPECT_TRUE(Value("true").boolValue());
    EXPECT_TRUE(Value("  007").boolValue());
    EXPECT_FALSE(Value("000").boolValue());
    EXPECT_FALSE(Value("no").boolValue());
    EXPECT_FALSE(Value("").boolValue());
}

TEST(Value, NumbersCompareByValueAcrossKinds) {
    EXPECT_EQ(Value(1), Value(1.0));
    EXPECT_EQ(Value(true), Value(1));
    EXPECT_NE(Value(1), Value("1"));
    EXPECT_NE(Value(), Value(0));
}

TEST(Value, IntegersAboveTheSignedRangeKeepTheirValue) {
    const Value top(UINT64_MAX);
    const Value justAbove(std::uint64_t{1} << 63);
    EXPECT_TRUE(top.isInteger());
    EXPECT_FALSE(top.integer());
    EXPECT_EQ(*top.unsignedInteger(), UINT64_MAX);
    EXPECT_EQ(top.stringValue(), "18446744073709551615");
    EXPECT_EQ(top.integerValue(), INT64_MAX);
    EXPECT_TRUE(top.boolValue());
    EXPECT_DOUBLE_EQ(justAbove.doubleValue(), 9223372036854775808.0);
    EXPECT_EQ(top, Value(UINT64_MAX));
    EXPECT_NE(top, justAbove);
    EXPECT_NE(justAbove, Value(INT64_MAX));
    EXPECT_NE(top, Value(-1));
    EXPECT_EQ(justAbove, Value(9223372036854775808.0));
    // Values that fit keep the signed form, whatever type they came in.
    EXPECT_EQ(*Value(std::uint64_t{5}).integer(), 5);
    EXPECT_FALSE(Value(std::uint64_t{INT64_MAX}).unsignedInteger());
}

TEST(Value, MapKeepsInsertionOrderAndReplacesInPlace) {
    Map m;
    for (int i = 0; i < 40; ++i) {
        m.set("k" + std::to_string(i), i);
    }
    m.set("k3", "three");
    ASSERT_EQ(m.size(), 40u);
    EXPECT_EQ(m.begin()->first, "k0");
    EXPECT_EQ(m["k3"], Value("three"));
    EXPECT_EQ(m["k39"], Value(39));
    EXPECT_TRUE(m["missing"].isNull());
    EXPECT_TRUE(m.erase("k0"));
    EXPECT_FALSE(m.contains("k0"));
    EXPECT_EQ(m["k20"], Value(20));  // the index survives an erase
    Map copy = m;
    EXPECT_EQ(copy["k38"], Value(38));
    EXPECT_EQ(copy, m);
}

TEST(Value, MapEqualityIgnoresOrder) {
    EXPECT_EQ((Map{{"a", 1}, {"b", 2}}), (Map{{"b", 2}, {"a", 1}}));
    EXPECT_NE((Map{{"a", 1}}), (Map{{"a", 2}}));
}

TEST(Value, MissingKeysAndIndexesReadAsNull) {
    Value v(Map{{"list", Array{1, 2}}});
    EXPECT_EQ(v["list"][1], Value(2));
    EXPECT_TRUE(v["list"][5].isNull());
    EXPECT_TRUE(v["nope"]["deeper"].isNull());
    EXPECT_EQ(v["list"].count(), 2u);
}

TEST(Value, DescriptionUsesTheOldPropertyListStyle) {
    Value v(Map{{"name", "a b"}, {"n", 3}, {"list", Array{"x", Value()}}});
    EXPECT_EQ(
        v.description(),
        "{\n    name = \"a b\";\n    n = 3;\n    list = (\n        x,\n        <null>\n    );\n}");
    EXPECT_EQ(Value("plain text").description(), "plain text");
    EXPECT_EQ(Value(platform::Bytes{0xde, 0xad, 0xbe, 0xef, 0x01}).description(), "<deadbeef 01>");
}

// Dates are written as UTC calendar times, the same as Python's proleptic calendar gives, over
// its whole range of years.
TEST(Value, DatesAreDescribedAsCalendarTimes) {
    const std::vector<double> seconds = {
        0,         -1,          -0.25,        1.5,          86399.999,     -86400,      951782400,
        951868799, -2203891200, -62135596800, 253402300799, 1700000000.75, -12219292801};
    std::string input;
    for (double s : seconds) {
        input += std::to_string(static_cast<long long>(std::floor(s))) + "\n";
    }
    const auto theirs = testing_support::lines(testing_support::runPython(
        "import sys, datetime\n"
        "epoch = datetime.datetime(1970, 1, 1)\n"
        "for line in sys.stdin:\n"
        "    t = epoch + datetime.timedelta(seconds=int(line))\n"
        "    print(t.strftime('%Y-%m-%d %H:%M:%S').rjust(19, '0') + ' +0000')\n",
        input));
    ASSERT_EQ(theirs.size(), seconds.size());
    for (std::size_t i = 0; i < seconds.size(); ++i) {
        EXPECT_EQ(Value(platform::Date(seconds[i])).description(), theirs[i]) << seconds[i];
    }
}

// A stored date can hold any double: those the calendar cannot hold are told as seconds, never
// undefined arithmetic.
TEST(Value, DatesBeyondTheCalendarAreToldAsSeconds) {
    EXPECT_EQ(Value(platform::Date(1e300)).description(), "<date: 1e+300 seconds since 1970>");
    EXPECT_EQ(Value(platform::Date(-1e300)).description(), "<date: -1e+300 seconds since 1970>");
    EXPECT_EQ(Value(platform::Date(std::nan(""))).description(), "<date: nan seconds since 1970>");
    EXPECT_EQ(Value(platform::Date(HUGE_VAL)).description(), "<date: inf seconds since 1970>");
    // The far ends of the calendar still come out as dates.
    EXPECT_EQ(Value(platform::Date(1e15)).description(), "31690708-07-05 01:46:40 +0000");
    EXPECT_EQ(Value(platform::Date(-1e15)).description(), "-31686769-06-29 22:13:20 +0000");
    EXPECT_EQ(Value(Map{{"expirationDate", platform::Date(1e300)}}).description(),
              "{\n    expirationDate = <date: 1e+300 seconds since 1970>;\n}");
}

TEST(Error, DescriptionFallsBackToTheGenericSentence) {
    platform::Error plain("org.example", 7);
    EXPECT_EQ(plain.localizedDescription(),
              "The operation couldn\u2019t be completed. (org.example error 7.)");
    platform::Error described("d", 1, Map{{platform::kLocalizedDescriptionKey, "Bad"}});
    EXPECT_EQ(described.localizedDescription(), "Bad");
}
