#include "platform/Value.h"

#include <gtest/gtest.h>

#include "platform/Error.h"

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

TEST(Error, DescriptionFallsBackToTheGenericSentence) {
    platform::Error plain("org.example", 7);
    EXPECT_EQ(plain.localizedDescription(),
              "The operation couldn\u2019t be completed. (org.example error 7.)");
    platform::Error described("d", 1, Map{{platform::kLocalizedDescriptionKey, "Bad"}});
    EXPECT_EQ(described.localizedDescription(), "Bad");
}
