#include "platform/Random.h"

#include <gtest/gtest.h>

#include <array>
#include <regex>
#include <set>
#include <sstream>
#include <string>

#include "tests/support/TempDir.h"

TEST(Uuid, TextsAreUpperCaseVersion4AndUnique) {
    const std::regex shape("[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}");
    std::set<std::string> seen;
    std::string batch;
    for (int i = 0; i < 10000; ++i) {
        std::string uuid = platform::newUuidString();
        ASSERT_TRUE(std::regex_match(uuid, shape)) << uuid;
        seen.insert(uuid);
        if (i < 200) {
            batch += uuid + "\n";
        }
    }
    EXPECT_EQ(seen.size(), 10000u);
    // Python's uuid module reads them as RFC 4122 version 4 UUIDs and writes them back alike.
    std::string out = testing_support::runPython(
        "import sys, uuid\n"
        "for line in sys.stdin:\n"
        "    u = uuid.UUID(line.strip())\n"
        "    assert u.version == 4 and u.variant == uuid.RFC_4122, line\n"
        "    assert str(u).upper() == line.strip(), line\n"
        "print('ok')\n",
        batch);
    EXPECT_EQ(out, "ok\n");
}

TEST(Random, EveryBitOfA32BitNumberVaries) {
    constexpr int kDraws = 10000;
    std::array<int, 32> ones{};
    for (int i = 0; i < kDraws; ++i) {
        std::uint32_t v = platform::random32();
        for (int bit = 0; bit < 32; ++bit) {
            ones[static_cast<std::size_t>(bit)] += (v >> bit) & 1;
        }
    }
    for (int bit = 0; bit < 32; ++bit) {
        // Half of the draws, within ten standard deviations (50 each).
        EXPECT_NEAR(ones[static_cast<std::size_t>(bit)], kDraws / 2, 500) << "bit " << bit;
    }
}

TEST(Random, BelowABoundIsUniformAndInRange) {
    EXPECT_EQ(platform::randomBelow(0), 0u);
    EXPECT_EQ(platform::randomBelow(1), 0u);

    constexpr int kDraws = 60000;
    std::array<int, 6> faces{};
    for (int i = 0; i < kDraws; ++i) {
        std::uint32_t v = platform::randomBelow(6);
        ASSERT_LT(v, 6u);
        ++faces[v];
    }
    double chiSquare = 0;
    for (int count : faces) {
        double diff = count - kDraws / 6.0;
        chiSquare += diff * diff / (kDraws / 6.0);
    }
    EXPECT_LT(chiSquare, 40.0);  // 5 degrees of freedom: a fair die exceeds this once in 10^7

    // A bound above 2^31 still reaches its upper half.
    constexpr std::uint32_t kLarge = 3000000000u;
    int upper = 0;
    for (int i = 0; i < 1000; ++i) {
        std::uint32_t v = platform::randomBelow(kLarge);
        ASSERT_LT(v, kLarge);
        upper += v >= 2147483648u;
    }
    EXPECT_GT(upper, 150);
}
