// Charset names as servers write them, and body bytes read as text, against Python's codecs.
#include <gtest/gtest.h>

#include "SocialSDK/framework/network/RAZududeStringEncoding.h"
#include "tests/support/TempDir.h"

namespace {

platform::Bytes bytesOf(std::string_view text) {
    return platform::Bytes(text.begin(), text.end());
}

// The text encoded by Python's codec of that name, as bytes.
platform::Bytes pythonEncoded(const std::string& text, const std::string& codec) {
    const std::string hex = testing_support::runPython(
        "import sys; sys.stdout.write(sys.stdin.buffer.read().decode('utf-8').encode('" + codec +
            "').hex())",
        text);
    platform::Bytes out;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
        out.push_back(static_cast<std::uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    }
    return out;
}

TEST(StringEncoding, CharsetNamesAndTheirAliasesGiveThePlatformsNumbers) {
    const std::pair<const char*, RAZududeStringEncoding> cases[] = {
        {"utf-8", kRAZududeUTF8StringEncoding},
        {"UTF-8", kRAZududeUTF8StringEncoding},
        {"\"utf-8\"", kRAZududeUTF8StringEncoding},
        {"ISO-8859-1", kRAZududeISOLatin1StringEncoding},
        {"iso-8859-1", kRAZududeISOLatin1StringEncoding},
        {"latin1", kRAZududeISOLatin1StringEncoding},
        {"us-ascii", kRAZududeASCIIStringEncoding},
        {"Shift_JIS", kRAZududeShiftJISStringEncoding},
        {"EUC-JP", kRAZududeJapaneseEUCStringEncoding},
        {"windows-1252", kRAZududeWindowsCP1252StringEncoding},
        {"cp1251", kRAZududeWindowsCP1251StringEncoding},
        {"UTF-16LE", kRAZududeUTF16LittleEndianStringEncoding},
        {"GB18030", kRAZududeGB18030StringEncoding},
        {"gb2312", kRAZududeEUCCNStringEncoding},
        {"Big5", kRAZududeBig5StringEncoding},
        {"koi8-r", kRAZududeKOI8RStringEncoding},
    };
    for (const auto& [name, expected] : cases) {
        auto encoding = RAZududeStringEncodingForIANACharsetName(name);
        ASSERT_TRUE(encoding) << name;
        EXPECT_EQ(*encoding, expected) << name;
    }
}

TEST(StringEncoding, EmptyOrUnknownNamesGiveNothing) {
    EXPECT_FALSE(RAZududeStringEncodingForIANACharsetName(""));
    EXPECT_FALSE(RAZududeStringEncodingForIANACharsetName("x-no-such-charset"));
    EXPECT_FALSE(RAZududeStringEncodingForIANACharsetName("utf-8; q=1"));
}

TEST(StringEncoding, BytesDecodeAsPythonEncodedThem) {
    const std::string text = "caf\u00e9 \u00fcber";
    EXPECT_EQ(
        RAZududeStringFromBytes(pythonEncoded(text, "latin-1"), kRAZududeISOLatin1StringEncoding),
        text);
    EXPECT_EQ(RAZududeStringFromBytes(pythonEncoded(text, "cp1252"),
                                      kRAZududeWindowsCP1252StringEncoding),
              text);
    const std::string japanese = "\u65e5\u672c\u8a9e";
    EXPECT_EQ(RAZududeStringFromBytes(pythonEncoded(japanese, "shift_jis"),
                                      kRAZududeShiftJISStringEncoding),
              japanese);
    const std::string chinese = "\u5206\u4eab";
    EXPECT_EQ(
        RAZududeStringFromBytes(pythonEncoded(chinese, "gb18030"), kRAZududeGB18030StringEncoding),
        chinese);
    EXPECT_EQ(RAZududeStringFromBytes(pythonEncoded(text, "utf-16-le"),
                                      kRAZududeUTF16LittleEndianStringEncoding),
              text);
    EXPECT_EQ(RAZududeStringFromBytes(bytesOf(text), kRAZududeUTF8StringEncoding), text);
    EXPECT_EQ(RAZududeStringFromBytes({}, kRAZududeUTF8StringEncoding), "");
}

TEST(StringEncoding, BytesThatAreNoTextInTheEncodingGiveNothing) {
    EXPECT_FALSE(RAZududeStringFromBytes({0x63, 0xe9, 0x20}, kRAZududeUTF8StringEncoding));
    EXPECT_FALSE(RAZududeStringFromBytes({0xc0, 0xaf}, kRAZududeUTF8StringEncoding))
        << "an overlong form";
    EXPECT_FALSE(RAZududeStringFromBytes({0x41, 0x80}, kRAZududeASCIIStringEncoding));
    EXPECT_FALSE(RAZududeStringFromBytes({0x82}, kRAZududeShiftJISStringEncoding))
        << "a lead byte without its trail";
    EXPECT_FALSE(RAZududeStringFromBytes(bytesOf("a"), 0x7777)) << "an unknown encoding";
}

}  // namespace
