#include <gtest/gtest.h>

#include <random>
#include <stdexcept>

#include "RZBase_Source/Encode/RAZududeBase64.h"
#include "RZBase_Source/Encode/RAZududeStringEncoding.h"
#include "RZBase_Source/Encode/RAZududeUtils.h"
#include "tests/support/TempDir.h"

using platform::Bytes;

using testing_support::hexOf;
using testing_support::lines;

namespace {

// Random byte strings of every length up to 70, and a long one.
std::vector<Bytes> randomSamples() {
    std::mt19937 random(20240611);
    std::vector<Bytes> samples;
    for (std::size_t length = 0; length <= 70; ++length) {
        samples.emplace_back(length);
    }
    samples.emplace_back(5000);
    for (auto& sample : samples) {
        for (auto& b : sample) {
            b = static_cast<std::uint8_t>(random());
        }
    }
    return samples;
}

std::optional<Bytes> decode(std::string_view text) {
    return RAZududeBase64::decodeString(text);
}

}  // namespace

TEST(RAZududeBase64, PaddingAndTrailingBitsAreStrict) {
    EXPECT_EQ(decode("QQ=="), Bytes{0x41});
    EXPECT_EQ(decode("QUI="), (Bytes{0x41, 0x42}));
    EXPECT_EQ(decode("QUJD"), (Bytes{0x41, 0x42, 0x43}));
    EXPECT_FALSE(decode("QQ="));    // second padding character missing
    EXPECT_FALSE(decode("QQ"));     // padding required
    EXPECT_FALSE(decode("QQ==A"));  // only whitespace after the padding
    EXPECT_FALSE(decode("Q==="));   // padding after one symbol
    EXPECT_FALSE(decode("=QQQ"));
    EXPECT_FALSE(decode("QQ=\n"));
    EXPECT_FALSE(decode(""));
    EXPECT_FALSE(decode("QU-D"));  // outside the alphabet
}

// The leftover bits of the last symbol are the ones decoded, wherever the padding falls.
TEST(RAZududeBase64, TrailingBitsThatAreSetFailTheDecode) {
    EXPECT_FALSE(decode("QR=="));      // 4 leftover bits 0001
    EXPECT_FALSE(decode("QUJ="));      // 2 leftover bits 01
    EXPECT_FALSE(decode("QUJDQR=="));  // after a whole group
    EXPECT_FALSE(decode("QUJDQUJ="));
    EXPECT_EQ(decode("QUJDQUI="), (Bytes{0x41, 0x42, 0x43, 0x41, 0x42}));
}

TEST(RAZududeBase64, WhitespaceAndTheEndOfInput) {
    EXPECT_EQ(decode("Q Q = ="), Bytes{0x41});
    EXPECT_EQ(decode("\tQU\r\nJD\v\f "), (Bytes{0x41, 0x42, 0x43}));
    // 0xA0 and 0xFF are skipped in data, but a string holding them has no ASCII form.
    EXPECT_EQ(RAZududeBase64::decodeData(Bytes{'Q', 0xA0, 'Q', 0xFF, '=', '='}), Bytes{0x41});
    EXPECT_FALSE(decode("Q\xC2\xA0Q=="));
    // A zero byte ends the input.
    EXPECT_EQ(RAZududeBase64::decodeData(Bytes{'Q', 'Q', '=', '=', 0, 'x'}), Bytes{0x41});
    // A destination too small is a failure, not an overflow.
    std::uint8_t small[2];
    EXPECT_EQ(RAZududeBase64::baseDecode(reinterpret_cast<const std::uint8_t*>("QUJD"), 4, small,
                                         sizeof small, RAZududeBase64::standardCharset(), true),
              0u);
}

TEST(RAZududeBase64, AgreesWithPythonBase64BothWays) {
    const auto samples = randomSamples();
    std::string input;
    for (const auto& sample : samples) {
        input += hexOf(sample) + "\n";
    }
    const auto theirs = lines(testing_support::runPython(R"(
import base64, sys
for line in sys.stdin.read().splitlines():
    print(base64.b64encode(bytes.fromhex(line)).decode())
)",
                                                         input));
    ASSERT_EQ(theirs.size(), samples.size());
    for (std::size_t i = 0; i < samples.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(RAZududeUtils::base64EncodeData(samples[i]), theirs[i]);
        if (samples[i].empty()) {
            EXPECT_FALSE(decode(theirs[i]));
        } else {
            EXPECT_EQ(decode(theirs[i]), samples[i]);
        }
    }
}

TEST(RAZududeStringEncoding, AlphabetsMustBeAsciiPowersOfTwoWithoutRepeats) {
    EXPECT_FALSE(RAZududeStringEncoding::stringEncodingWithString("ABC"));
    EXPECT_FALSE(RAZududeStringEncoding::stringEncodingWithString(std::string(256, 'A')));
    EXPECT_FALSE(RAZududeStringEncoding::stringEncodingWithString("A"));
    EXPECT_FALSE(RAZududeStringEncoding::stringEncodingWithString("ABCA"));
    EXPECT_FALSE(RAZududeStringEncoding::stringEncodingWithString("AB\xC3\xA9"));
    EXPECT_TRUE(RAZududeStringEncoding::stringEncodingWithString("01"));
}

TEST(RAZududeStringEncoding, EncodesLikePythonInEveryBase) {
    auto base32 =
        *RAZududeStringEncoding::stringEncodingWithString("ABCDEFGHIJKLMNOPQRSTUVWXYZ234567");
    base32.setDoPad(true);
    base32.setPaddingChar('=');
    const auto hex = *RAZududeStringEncoding::stringEncodingWithString("0123456789ABCDEF");
    const auto base64 = RAZududeStringEncoding::rfc4648Base64StringEncoding();
    const auto samples = randomSamples();
    std::string input;
    for (const auto& sample : samples) {
        input += hexOf(sample) + "\n";
    }
    const auto theirs = lines(testing_support::runPython(R"(
import base64, sys
for line in sys.stdin.read().splitlines():
    data = bytes.fromhex(line)
    print(base64.b32encode(data).decode(), base64.b16encode(data).decode(),
          base64.b64encode(data).decode(), sep=",")
)",
                                                         input));
    ASSERT_EQ(theirs.size(), samples.size());
    for (std::size_t i = 0; i < samples.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(base32.encode(samples[i]) + "," + hex.encode(samples[i]) + "," +
                      base64.encode(samples[i]),
                  theirs[i]);
    }
    // Binary: one symbol per bit, padded to whole bytes.
    auto binary = *RAZududeStringEncoding::stringEncodingWithString("01");
    EXPECT_EQ(binary.encodeString("A"), "01000001");
    EXPECT_EQ(base64.encodeString("\xE2\x9C\x93"), "4pyT");
}

TEST(RAZududeStringEncoding, DescriptionAndIgnoredCharacters) {
    auto hex = *RAZududeStringEncoding::stringEncodingWithString("0123456789ABCDEF");
    EXPECT_EQ(hex.description(), "<Base16 StringEncoder: <30313233 34353637 38394142 43444546>>");
    EXPECT_THROW(hex.ignoreCharacters(" A"), std::invalid_argument);
    EXPECT_NO_THROW(hex.ignoreCharacters(" \n"));
    EXPECT_THROW(hex.ignoreCharacters(" "), std::invalid_argument);
}

TEST(RAZududeUtils, UrlEncodeMatchesPythonQuoteWithNothingSafe) {
    std::string everyByte;
    for (int c = 1; c < 256; ++c) {
        everyByte += static_cast<char>(c);
    }
    const std::vector<std::string> texts = {"", "a b&c=d/e?f#g%h+i", "-_.~!*'();:@&=+$,/?%#[]\" ",
                                            "分享 ✓", everyByte};
    std::string input;
    for (const auto& text : texts) {
        input += hexOf(platform::toBytes(text)) + "\n";
    }
    const auto theirs = lines(testing_support::runPython(R"(
import sys, urllib.parse
for line in sys.stdin.read().splitlines():
    print(urllib.parse.quote(bytes.fromhex(line), safe="") + "|")
)",
                                                         input));
    ASSERT_EQ(theirs.size(), texts.size());
    for (std::size_t i = 0; i < texts.size(); ++i) {
        EXPECT_EQ(RAZududeUtils::urlEncode(texts[i]) + "|", theirs[i]);
    }
}

TEST(RAZududeUtils, Md5TextMatchesHashlib) {
    const auto theirs = lines(testing_support::runPython(R"(
import hashlib
for text in [b"", b"507fcab25270157b37000010", "分享".encode()]:
    print(hashlib.md5(text).hexdigest().upper())
)"));
    ASSERT_EQ(theirs.size(), 3u);
    EXPECT_EQ(RAZududeUtils::md5Value(""), theirs[0]);
    EXPECT_EQ(RAZududeUtils::md5Value("507fcab25270157b37000010"), theirs[1]);
    EXPECT_EQ(RAZududeUtils::md5Value("分享"), theirs[2]);
    // Hashed as a C string: up to the first zero byte.
    EXPECT_EQ(RAZududeUtils::md5Value(std::string("507fcab25270157b37000010\0tail", 29)),
              theirs[1]);
}

TEST(RAZududeUtils, Base64TextOfShortData) {
    EXPECT_EQ(RAZududeUtils::base64EncodeData(Bytes{}), "");
    EXPECT_EQ(RAZududeUtils::base64EncodeData(Bytes{0x41}), "QQ==");
    EXPECT_EQ(RAZududeUtils::utilsVersion(), "1.2.4");
}

TEST(RAZududeUtils, JsonHelpersLogTheirFailures) {
    testing::internal::CaptureStderr();
    EXPECT_FALSE(RAZududeUtils::JSONValue("[1,]"));
    EXPECT_FALSE(RAZududeUtils::JSONFragment(platform::Value(platform::Bytes{1})));
    const std::string console = testing::internal::GetCapturedStderr();
    EXPECT_NE(console.find("-JSONValue failed. Error trace is: "), std::string::npos);
    EXPECT_NE(console.find("Trailing comma disallowed in array"), std::string::npos);
    EXPECT_NE(console.find("-JSONFragment failed. Error trace is: "), std::string::npos);

    EXPECT_EQ(RAZududeUtils::JSONFragment("x"), "\"x\"");
    EXPECT_EQ(RAZududeUtils::JSONValue(std::string("{\"a\":1}\0\0\0", 10)),
              platform::Value(platform::Map{{"a", 1}}));
}
