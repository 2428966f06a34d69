// Charset names as servers write them, to the platform's encoding numbers.
#include <gtest/gtest.h>

#include "SocialSDK/framework/network/RAZududeCharsetNames.h"

namespace {

TEST(CharsetNames, NamesAndTheirAliasesGiveThePlatformsNumbers) {
    const std::pair<const char*, rzs_network::StringEncoding> cases[] = {
        {"utf-8", rzs_network::kUTF8StringEncoding},
        {"UTF-8", rzs_network::kUTF8StringEncoding},
        {"\"utf-8\"", rzs_network::kUTF8StringEncoding},
        {"ISO-8859-1", rzs_network::kISOLatin1StringEncoding},
        {"iso-8859-1", rzs_network::kISOLatin1StringEncoding},
        {"latin1", rzs_network::kISOLatin1StringEncoding},
        {"us-ascii", rzs_network::kASCIIStringEncoding},
        {"Shift_JIS", rzs_network::kShiftJISStringEncoding},
        {"EUC-JP", rzs_network::kJapaneseEUCStringEncoding},
        {"windows-1252", rzs_network::kWindowsCP1252StringEncoding},
        {"cp1251", rzs_network::kWindowsCP1251StringEncoding},
        {"UTF-16LE", rzs_network::kUTF16LittleEndianStringEncoding},
        {"GB18030", rzs_network::kGB18030StringEncoding},
        {"gbk", kRAZududeGBKStringEncoding},
        {"gb2312", kRAZududeEUCCNStringEncoding},
        {"Big5", kRAZududeBig5StringEncoding},
        {"koi8-r", kRAZududeKOI8RStringEncoding},
        {"ISO-8859-15", 0x8000020F},
    };
    for (const auto& [name, expected] : cases) {
        auto encoding = RAZududeStringEncodingForIANACharsetName(name);
        ASSERT_TRUE(encoding) << name;
        EXPECT_EQ(*encoding, expected) << name;
    }
}

TEST(CharsetNames, EmptyUnknownOrMalformedNamesGiveNothing) {
    EXPECT_FALSE(RAZududeStringEncodingForIANACharsetName(""));
    EXPECT_FALSE(RAZududeStringEncodingForIANACharsetName("\"\""));
    EXPECT_FALSE(RAZududeStringEncodingForIANACharsetName("x-no-such-charset"));
    EXPECT_FALSE(RAZududeStringEncodingForIANACharsetName("utf-8; q=1"));
    EXPECT_FALSE(RAZududeStringEncodingForIANACharsetName(std::string_view("utf-8\0x", 7)));
    EXPECT_FALSE(RAZududeStringEncodingForIANACharsetName(std::string(200, 'a')));
}

}  // namespace
