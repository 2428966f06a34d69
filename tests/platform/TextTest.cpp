#include "platform/Text.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/TempDir.h"

namespace text = platform::text;
using platform::Regex;
using text::Range;

using testing_support::hexOf;
using testing_support::lines;

namespace {

// Texts go to Python as hexadecimal lines, so that bytes that are not UTF-8 travel too.
std::string asHexLines(const std::vector<std::string>& texts) {
    std::string input;
    for (const auto& t : texts) {
        input += hexOf(t) + "\n";
    }
    return input;
}

constexpr const char* kPythonReadHex =
    "import sys\n"
    "texts = [bytes.fromhex(l.strip()).decode('utf-8', 'replace') for l in sys.stdin]\n";

// The share editor's URL expression: 188 characters, each backslash one character.
const std::string kUrlExpression =
    R"(((http[s]{0,1}|ftp)://[a-zA-Z0-9\.\-]+\.([a-zA-Z]{2,4})(:\d+)?(/[a-zA-Z0-9\,\.\-~!@#$%^&*+?:_/=<>]*)?)|(www.[a-zA-Z0-9\.\-]+\.([a-zA-Z]{2,4})(:\d+)?(/[a-zA-Z0-9\,\.\-~!@#$%^&*+?:_/=<>]*)?))";

}  // namespace

TEST(Text, TransliteratesAnyScriptToPlainAscii) {
    EXPECT_EQ(text::transliterateToAscii("张三丰"), "zhang san feng");  // pinyin, tones dropped
    EXPECT_EQ(text::transliterateToAscii("重庆 café"), "chong qing cafe");
    EXPECT_EQ(text::transliterateToAscii("Москва"), "Moskva");
    EXPECT_EQ(text::transliterateToAscii("a😀b"), "ab");  // what has no Latin form goes
    EXPECT_EQ(text::transliterateToAscii("分享/1.0 (iPhone; iOS 9.3; Scale/2.00)"),
              "fen xiang/1.0 (iPhone; iOS 9.3; Scale/2.00)");
    EXPECT_EQ(text::transliterateToAscii("\xff"
                                         "ok"),
              "ok");
    EXPECT_EQ(text::transliterateToAscii(""), "");

    // Whatever comes in, ASCII comes out, from every thread.
    std::vector<std::thread> threads;
    std::vector<std::string> results(4);
    for (std::size_t t = 0; t < results.size(); ++t) {
        threads.emplace_back([&results, t] {
            for (int i = 0; i < 50; ++i) {
                results[t] += text::transliterateToAscii("김치 ΑΘΗΝΑ 東京 ǅ €").value_or("?");
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    for (const auto& r : results) {
        EXPECT_TRUE(text::isAscii(r));
        EXPECT_EQ(r, results[0]);
    }
}

TEST(Text, EncodedLengthsMatchPythonsCodecs) {
    std::vector<std::string> texts = {
        "",
        std::string(140, 'a'),
        "一二三四五六七八九十",
        "Zürich € ½ ¥",
        "김치 and ΑΘΗΝΑ",
        "emoji 😀👍🏽 and 𠀀",
        "\xff\xfe broken \xe4\xb8",
        "http://www.example.com/分享?x=1",
    };
    std::string out = testing_support::runPython(
        std::string(kPythonReadHex) +
            "for t in texts:\n"
            "    print(len(t.encode('gb18030')), len(t.encode('utf-16-le')) // 2)\n",
        asHexLines(texts));
    auto theirs = lines(out);
    ASSERT_EQ(theirs.size(), texts.size());
    for (std::size_t i = 0; i < texts.size(); ++i) {
        EXPECT_EQ(std::to_string(text::gb18030Length(texts[i])) + " " +
                      std::to_string(text::utf16Length(texts[i])),
                  theirs[i])
            << texts[i];
    }
    // The editor's weighted count: two ASCII letters count as one, a Chinese character as one.
    std::string chinese;
    for (int i = 0; i < 140; ++i) {
        chinese += "字";
    }
    EXPECT_EQ((text::gb18030Length(std::string(140, 'a')) + 1) / 2, 70u);
    EXPECT_EQ((text::gb18030Length(chinese) + 1) / 2, 140u);
}

TEST(Text, Utf8ValidityAgreesWithPython) {
    const std::string pool(
        "\x00\x41\x7f\x80\x8f\x90\x9f\xa0\xbf\xc0\xc1\xc2\xdf\xe0\xed\xef\xf0"
        "\xf4\xf5\xff",
        20);
    std::mt19937 generator(7);
    std::uniform_int_distribution<std::size_t> pick(0, pool.size() - 1);
    std::uniform_int_distribution<int> length(0, 6);
    std::vector<std::string> samples = {"",         "plain",           "中文", "😀", "\xed\xa0\x80",
                                        "\xc0\xaf", "\xf4\x90\x80\x80"};
    for (int i = 0; i < 3000; ++i) {
        std::string s;
        for (int n = length(generator); n > 0; --n) {
            s += pool[pick(generator)];
        }
        samples.push_back(s);
    }
    std::string input;
    for (const auto& s : samples) {
        input += hexOf(s) + "\n";
    }
    auto theirs =
        lines(testing_support::runPython("import sys\n"
                                         "for line in sys.stdin:\n"
                                         "    try:\n"
                                         "        bytes.fromhex(line.strip()).decode('utf-8')\n"
                                         "        print(1)\n"
                                         "    except UnicodeDecodeError:\n"
                                         "        print(0)\n",
                                         input));
    ASSERT_EQ(theirs.size(), samples.size());
    int valid = 0;
    for (std::size_t i = 0; i < samples.size(); ++i) {
        bool ours = text::isValidUtf8(samples[i]);
        valid += ours;
        EXPECT_EQ(ours ? "1" : "0", theirs[i]) << hexOf(samples[i]);
    }
    EXPECT_GT(valid, 100);  // the sample holds both kinds
}

TEST(Text, CaseMappingAndComparisonMatchPython) {
    const std::vector<std::string> words = {
        "straße", "STRASSE", "Zhang", "zhang", "ZHANG",    "符",    "A",     "a", "b",
        "Ǆemal",  "ǆemal",   "ΣΑΣ",   "σας",   "İstanbul", "Ärger", "arger", "z", "Éa",
    };
    std::string input = asHexLines(words);
    auto theirs = lines(testing_support::runPython(
        std::string(kPythonReadHex) +
            "for t in texts:\n"
            "    print(t.lower() + '|' + t.upper())\n"
            "for a in texts:\n"
            "    print(''.join('<' if a.casefold() < b.casefold() else\n"
            "                  '>' if a.casefold() > b.casefold() else '=' for b in texts))\n",
        input));
    ASSERT_EQ(theirs.size(), 2 * words.size());
    for (std::size_t i = 0; i < words.size(); ++i) {
        EXPECT_EQ(text::toLower(words[i]) + "|" + text::toUpper(words[i]), theirs[i]);
        std::string order;
        for (const auto& other : words) {
            auto o = text::compareCaseInsensitive(words[i], other);
            order += o < 0 ? '<' : o > 0 ? '>' : '=';
        }
        EXPECT_EQ(order, theirs[words.size() + i]) << words[i];
    }
    EXPECT_EQ(text::compareCaseInsensitive("straße", "STRASSE"), std::weak_ordering::equivalent);
    EXPECT_EQ(text::compareCaseInsensitive("Z", "符"), std::weak_ordering::less);
}

TEST(Text, CaseInsensitiveSearchGivesByteRanges) {
    EXPECT_EQ(text::findCaseInsensitive("Hello World", "WORLD"), (Range{6, 5}));
    EXPECT_EQ(text::findCaseInsensitive("张三 Zhang San", "zhang"), (Range{7, 5}));
    EXPECT_EQ(text::findCaseInsensitive("Straße", "STRASSE"), (Range{0, 7}));
    EXPECT_EQ(text::findCaseInsensitive("Straße", "ss"), (Range{4, 2}));  // the "ß" itself
    EXPECT_EQ(text::findCaseInsensitive("ß", "s"), std::nullopt);  // half a letter is no match
    EXPECT_EQ(text::findCaseInsensitive("abcABC", "C"), (Range{2, 1}));
    EXPECT_EQ(text::findCaseInsensitive("http://X/MuteLogout?", "mutelogout"), (Range{9, 10}));
    EXPECT_FALSE(text::findCaseInsensitive("abc", "").has_value());
    EXPECT_FALSE(text::findCaseInsensitive("", "a").has_value());
    EXPECT_FALSE(text::containsCaseInsensitive("short", "shorter"));
    EXPECT_TRUE(text::containsCaseInsensitive("\xff SMS:123", "sms:"));
}

TEST(Regex, TheEditorsUrlExpressionFindsWhatPythonFinds) {
    ASSERT_EQ(kUrlExpression.size(), 188u);
    auto regex = Regex::compile(kUrlExpression, Regex::kCaseInsensitive);
    ASSERT_TRUE(regex);
    const std::vector<std::string> texts = {
        "看这里 http://www.example.com/a?b=1 和 www.test.cn/路径 好",
        "HTTPS://EXAMPLE.ORG:8080/x,y ftp://files.example.net",
        "no links at all",
        "www.a.b www.example.museum/x",
    };
    std::string input = asHexLines(texts);
    auto theirs = lines(testing_support::runPython(
        std::string(kPythonReadHex) + "import re\n" + "pattern = re.compile(r'''" + kUrlExpression +
            "''', re.I)\n" +
            "for t in texts:\n"
            "    spans = []\n"
            "    for m in pattern.finditer(t):\n"
            "        start = len(t[:m.start()].encode())\n"
            "        spans.append(f'{start}+{len(m.group(0).encode())}')\n"
            "    print(' '.join(spans))\n",
        input));
    ASSERT_EQ(theirs.size(), texts.size());
    EXPECT_EQ(theirs[0].find(' '), theirs[0].rfind(' '));  // two links in the first text
    EXPECT_NE(theirs[0].find(' '), std::string::npos);
    for (std::size_t i = 0; i < texts.size(); ++i) {
        std::string ours;
        for (const Range& r : regex->findAll(texts[i])) {
            ours += (ours.empty() ? "" : " ") + std::to_string(r.offset) + "+" +
                    std::to_string(r.length);
        }
        EXPECT_EQ(ours, theirs[i]) << texts[i];
    }
    // Whole-text matching, as the editor's per-word test does it.
    auto strict = Regex::compile(kUrlExpression);
    EXPECT_TRUE(strict->matches("http://www.example.com/a?b=1"));
    EXPECT_FALSE(strict->matches("see http://www.example.com"));
    EXPECT_FALSE(strict->matches("HTTP://EXAMPLE.COM"));  // case counts without the option
    EXPECT_TRUE(regex->matches("HTTP://EXAMPLE.COM"));
}

TEST(Regex, FindsFromAnOffsetAndReplacesWithGroups) {
    auto digits = Regex::compile(R"((\d+))");
    ASSERT_TRUE(digits);
    EXPECT_EQ(digits->find("a1中22", 2), (Range{5, 2}));
    EXPECT_EQ(digits->find("a1", 0), (Range{1, 1}));
    EXPECT_FALSE(digits->find("a1", 3).has_value());
    EXPECT_EQ(digits->replaceAll("a1中22", "<$1>"), "a<1>中<22>");
    EXPECT_EQ(digits->replaceAll("a1", "\\$"), "a$");
    EXPECT_FALSE(digits->replaceAll("a1", "$2").has_value());  // no such group
    EXPECT_EQ(digits->findAll("\xff 7 \xfe 8"), (std::vector<Range>{{2, 1}, {6, 1}}));
    EXPECT_EQ(Regex::compile("x*")->findAll("ab").size(), 3u);  // empty matches advance

    platform::Error error;
    EXPECT_FALSE(Regex::compile("(unclosed", Regex::kNone, &error).has_value());
    EXPECT_EQ(error.code(), 2048);
    EXPECT_NE(error.localizedFailureReason().find("U_REGEX_MISMATCHED_PAREN"), std::string::npos)
        << error.localizedFailureReason();
}

TEST(Regex, OnePatternServesManyThreads) {
    auto regex = Regex::compile(kUrlExpression, Regex::kCaseInsensitive);
    ASSERT_TRUE(regex);
    const std::string sample = "a http://x.example.com/1 b www.y.org c HTTPS://z.example.net/?q";
    const auto expected = regex->findAll(sample);
    ASSERT_EQ(expected.size(), 3u);
    std::vector<std::thread> threads;
    std::vector<int> mismatches(6, 0);
    for (std::size_t t = 0; t < mismatches.size(); ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 200; ++i) {
                mismatches[t] += regex->findAll(sample) != expected;
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    for (int m : mismatches) {
        EXPECT_EQ(m, 0);
    }
}
