// Message formats filled at run time, and text encodings against Python's codecs.
#include <gtest/gtest.h>

#include "SocialSDK/framework/network/RAZududeNetworkingText.h"
#include "tests/network/NetworkTestSupport.h"

using namespace rzs_network;

TEST(NetworkingText, FormatsTakeOnlyTexts) {
    EXPECT_EQ(fillFormat("Request failed: %@ (%ld)", {"not found", "404"}),
              "Request failed: not found (404)");
    EXPECT_EQ(fillFormat("%s %n %% %@ %llu", {"a"}), "%s %n % a (null)");
    EXPECT_EQ(fillFormat("100%", {}), "100%");
}

TEST(NetworkingText, EncodingsMatchPythonsCodecs) {
    const std::string text = "abc \xe4\xb8\xad\xe6\x96\x87 \xe3\x81\x8b";
    const struct {
        StringEncoding encoding;
        const char* codec;
    } cases[] = {{kUTF8StringEncoding, "utf-8"},
                 {kShiftJISStringEncoding, "shift_jis"},
                 {kGB18030StringEncoding, "gb18030"},
                 {kUTF16BigEndianStringEncoding, "utf-16-be"},
                 {kUTF32LittleEndianStringEncoding, "utf-32-le"},
                 {kJapaneseEUCStringEncoding, "euc_jp"}};
    for (const auto& c : cases) {
        const auto bytes = encodeText(text, c.encoding);
        ASSERT_TRUE(bytes) << c.codec;
        const std::string expected = testing_support::runPython(
            "import sys\nprint(sys.stdin.read().encode('" + std::string(c.codec) + "').hex())",
            text);
        EXPECT_EQ(testing_support::hexOf(*bytes) + "\n", expected) << c.codec;
        EXPECT_EQ(decodeText(*bytes, c.encoding), text) << c.codec;
        EXPECT_EQ(decodeText(*bytes, std::string_view(c.codec)), text) << c.codec;
    }
    // Nothing is ever replaced: what an encoding cannot hold, or bytes it cannot read, fail.
    EXPECT_FALSE(encodeText(text, kISOLatin1StringEncoding));
    EXPECT_FALSE(encodeText(text, 999));
    EXPECT_FALSE(decodeText(platform::Bytes{0xff, 0xfe, 0xfd}, kUTF8StringEncoding));
    EXPECT_FALSE(decodeText(platform::Bytes{0x80}, kASCIIStringEncoding));
    EXPECT_EQ(decodeText(platform::Bytes{0xe9}, kISOLatin1StringEncoding), "\xc3\xa9");
    EXPECT_TRUE(isKnownCharset("ISO-8859-1"));
    EXPECT_TRUE(isKnownCharset("utf8"));
    EXPECT_FALSE(isKnownCharset(""));
    EXPECT_FALSE(isKnownCharset("no-such-charset"));
    EXPECT_EQ(decodeTextLossily(platform::Bytes{'a', 0xff}, "UTF-8"), "a\xef\xbf\xbd");
}
