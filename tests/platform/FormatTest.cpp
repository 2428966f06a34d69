#include "platform/Format.h"

#include <gtest/gtest.h>

#include <cinttypes>
#include <cstdio>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "platform/Error.h"
#include "platform/Value.h"
#include "tests/support/TempDir.h"

using platform::format;
using platform::Value;

namespace {

struct Described {
    std::string description() const { return "<Described>"; }
};

}  // namespace

TEST(Format, AMissingObjectPrintsNullWhateverFormItTakes) {
    std::optional<std::string> none;
    const char* nullText = nullptr;
    std::shared_ptr<Described> nullObject;
    const Described* nullPointer = nullptr;
    EXPECT_EQ(format("%@-%@-%@-at", std::string("ak"), none, nullText), "ak-(null)-(null)-at");
    EXPECT_EQ(format("/%@/%@", nullObject, nullPointer), "/(null)/(null)");
    EXPECT_EQ(format("%@ %s", nullptr, nullText), "(null) (null)");
    std::optional<int> noNumber;
    EXPECT_EQ(format("%d|%@", noNumber, std::optional<int>(3)), "(null)|3");
}

TEST(Format, ObjectsPrintTheirDescription) {
    auto shared = std::make_shared<Described>();
    Described plain;
    EXPECT_EQ(format("%@ %@ %@", plain, shared, &plain), "<Described> <Described> <Described>");
    EXPECT_EQ(format("%@", Value(platform::Array{1, "a b"})), "(\n    1,\n    \"a b\"\n)");
    EXPECT_EQ(format("%@", Value()), "<null>");  // a null value is an object, not a missing one
    platform::Error error("org.example", 7);
    EXPECT_EQ(format("%@", error), error.description());
    // Numbers under %@ print as a number object does.
    EXPECT_EQ(format("%@ %@ %@ %@ %@", 42, -7LL, 0.5, 3.0, true), "42 -7 0.5 3 1");
    EXPECT_EQ(format("%@", 18446744073709551615ULL), "18446744073709551615");
}

TEST(Format, DataIsNeverReadAsAFormat) {
    const std::string hostile = "%s%n%@%d%%%";
    EXPECT_EQ(format("%@", hostile), hostile);
    EXPECT_EQ(format("%s|%@", hostile, std::optional<std::string>(hostile)),
              hostile + "|" + hostile);
    EXPECT_EQ(format("100%% of %@", "it"), "100% of it");
    EXPECT_EQ(format("no conversion at all"), "no conversion at all");
}

TEST(Format, TheFormsTheServiceUses) {
    EXPECT_EQ(format("Boundary+%08X%08X", 0xABCu, 0xFFFFFFFFu), "Boundary+00000ABCFFFFFFFF");
    const std::uint8_t mac[6] = {0x00, 0x1b, 0x63, 0x84, 0x45, 0xe6};
    EXPECT_EQ(
        format("%02X:%02X:%02X:%02X:%02X:%02X", mac[0], mac[1], mac[2], mac[3], mac[4], mac[5]),
        "00:1B:63:84:45:E6");
    EXPECT_EQ(format("%040x", 0), std::string(40, '0'));
    EXPECT_EQ(format("Scale/%0.2f", 2.0), "Scale/2.00");
    EXPECT_EQ(format("(%f,%f)", 1.5, -2.25), "(1.500000,-2.250000)");
    std::vector<std::string> qualities;
    for (int i = 0; i < 6; ++i) {
        float q = 1.0f - 0.1f * static_cast<float>(i);  // computed in single precision
        qualities.push_back(format("%@;q=%0.1g", "en", q));
    }
    EXPECT_EQ(qualities, (std::vector<std::string>{"en;q=1", "en;q=0.9", "en;q=0.8", "en;q=0.7",
                                                   "en;q=0.6", "en;q=0.5"}));
    EXPECT_EQ(format("[%5d]", 42), "[   42]");
    EXPECT_EQ(format("%c%c", 'A', 90), "AZ");
    EXPECT_EQ(format("%d 秒前", 59), "59 秒前");
    EXPECT_EQ(format("Request failed: %@ (%ld)", "not found", 404L),
              "Request failed: not found (404)");
    EXPECT_EQ(format("bytes=%llu-", 123456789012ULL), "bytes=123456789012-");
    EXPECT_EQ(format("RZImageLoader-%@-%lu", "K", std::size_t{9}), "RZImageLoader-K-9");
    // A negative value under an unsigned conversion is read at its own width, as printf does.
    EXPECT_EQ(format("%x %u %X", -1, std::int8_t{-1}, std::int64_t{-2}),
              "ffffffff 255 FFFFFFFFFFFFFFFE");
    int local = 0;
    char expected[32];
    std::snprintf(expected, sizeof expected, "0x%" PRIxPTR,
                  reinterpret_cast<std::uintptr_t>(&local));
    EXPECT_EQ(format("%p", &local), expected);
}

TEST(Format, WidthAndPrecisionOfTextsCountCharacters) {
    EXPECT_EQ(format("[%6@]", "中文"), "[    中文]");
    EXPECT_EQ(format("[%-6@]", "中文"), "[中文    ]");
    EXPECT_EQ(format("[%.1s]", "中文"), "[中]");
    EXPECT_EQ(format("[%3@]", "longer"), "[longer]");
}

// The numeric conversions, checked against Python's printf-style operator over a grid of flags,
// widths, precisions and values at the edges of their types.
TEST(Format, NumbersMatchPythonsPrintfOperator) {
    using platform::format_detail::Arg;
    using platform::format_detail::vformat;
    const std::vector<std::string> integerSpecs = {"%d",  "%i",   "%5d",   "%-5d|", "%05d",  "%+d",
                                                   "% d", "%.3d", "%8.3d", "%u",    "%x",    "%X",
                                                   "%#x", "%08X", "%o",    "%lld",  "%-+6d|"};
    const std::vector<long long> integers = {
        0, 1, -1, 42, -42, 2147483647, -2147483647 - 1, 9223372036854775807LL};
    const std::vector<std::string> realSpecs = {"%f",    "%.0f", "%.2f",   "%10.3f", "%-10.1f|",
                                                "%+.1f", "%e",   "%.3E",   "%g",     "%0.1g",
                                                "%G",    "%#g",  "%010.2f"};
    const std::vector<double> reals = {
        0.0, -0.0, 1.0, 0.1, -2.5, 123456789.125, 1e-7, 1e300, 0.8999999761581421};

    std::ostringstream script;
    script << "import sys\nrows = [l.rstrip('\\n').split('\\t') for l in sys.stdin]\n"
              "for spec, kind, v in rows:\n"
              "    py = spec.replace('ll', '')\n"
              "    if kind == 'i':\n"
              "        n = int(v)\n"
              "        if spec[-1] in 'uxXo' and n < 0: n &= (1 << 64) - 1\n"
              "        print(py % n)\n"
              "    else:\n"
              "        print(py % float.fromhex(v))\n";
    std::ostringstream input;
    std::vector<std::string> ours;
    for (const auto& spec : integerSpecs) {
        for (long long v : integers) {
            if (spec == "%#x" && v == 0) {
                continue;  // C prints a bare "0" here, Python "0x0"
            }
            input << spec << "\ti\t" << v << "\n";
            Arg arg(v);
            ours.push_back(vformat(spec, {&arg, 1}));
        }
    }
    for (const auto& spec : realSpecs) {
        for (double v : reals) {
            char hex[64];
            std::snprintf(hex, sizeof hex, "%a", v);
            input << spec << "\tr\t" << hex << "\n";
            Arg arg(v);
            ours.push_back(vformat(spec, {&arg, 1}));
        }
    }
    std::istringstream python(testing_support::runPython(script.str(), input.str()));
    std::istringstream cases(input.str());
    std::string expected;
    std::string caseLine;
    for (const auto& got : ours) {
        ASSERT_TRUE(std::getline(python, expected));
        std::getline(cases, caseLine);
        EXPECT_EQ(got, expected) << caseLine;
    }
}
