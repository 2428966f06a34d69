#include "RZBase_Source/Json/RAZududeRqJsonParser.h"

#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <cstring>
#include <random>

#include "RZBase_Source/Json/RAZududeRqJsonWriter.h"
#include "tests/support/TempDir.h"

using platform::Array;
using platform::Map;
using platform::Value;

namespace {

struct Failure {
    long code = 0;
    std::string message;  // of the first (innermost) error
};

// Parses a fragment and answers the failure, or code 0 when it parsed.
Failure failureOf(std::string_view text, bool object = false) {
    RAZududeRqJsonParser parser;
    auto value = object ? parser.objectWithString(text) : parser.fragmentWithString(text);
    if (value) {
        return {};
    }
    const auto& error = parser.errorTrace().front();
    EXPECT_EQ(error.domain(), kRAZududeJsonErrorDomain);
    return {error.code(), error.localizedDescription()};
}

std::optional<Value> parse(std::string_view text) {
    return RAZududeRqJsonParser().fragmentWithString(text);
}

void expectFailure(std::string_view text, long code, const std::string& message) {
    const Failure failure = failureOf(text);
    EXPECT_EQ(failure.code, code) << text;
    EXPECT_EQ(failure.message, message) << text;
}

}  // namespace

TEST(RAZududeRqJsonParser, ReadsValuesIntoMapsArraysAndNumbers) {
    const auto value = parse(R"( {"b": [1, -2, 3.5, "x", true, false, null], "a": {}, "c": []} )");
    ASSERT_TRUE(value);
    ASSERT_TRUE(value->isMap());
    EXPECT_EQ(value->map()->keys(), (std::vector<std::string>{"b", "a", "c"}));
    const Value& list = (*value)["b"];
    EXPECT_TRUE(list[0].isInteger());
    EXPECT_EQ(list[1].integerValue(), -2);
    EXPECT_TRUE(list[2].isDecimal());
    EXPECT_EQ(list[3], Value("x"));
    EXPECT_TRUE(list[4].isBool() && list[4].boolValue());
    EXPECT_TRUE(list[6].isNull());

    EXPECT_EQ(parse("1.5E+3"), Value(1500));
    // Integers are integers exactly as far as 64 bits reach, then decimals.
    for (const auto& [text, integer] : {std::pair{"9223372036854775807", INT64_MAX},
                                        std::pair{"-9223372036854775808", INT64_MIN}}) {
        const auto read = parse(text);
        ASSERT_TRUE(read && read->integer()) << text;
        EXPECT_EQ(*read->integer(), integer);
    }
    EXPECT_TRUE(parse("9223372036854775808")->isDecimal());
    EXPECT_TRUE(parse("-9223372036854775809")->isDecimal());
    EXPECT_EQ(parse("1e-400"), Value(0.0));
    EXPECT_EQ(parse("-0"), Value(0));
    // A later duplicate key replaces the earlier value in its place.
    EXPECT_EQ(parse(R"({"k":1,"j":2,"k":3})")->map()->keys(), (std::vector<std::string>{"k", "j"}));
    EXPECT_EQ((*parse(R"({"k":1,"j":2,"k":3})"))["k"], Value(3));
    // And so in a large object, whose keys are indexed.
    std::string large = "{";
    for (int i = 0; i < 40; ++i) {
        large += "\"k" + std::to_string(i % 25) + "\":" + std::to_string(i) + (i < 39 ? "," : "}");
    }
    const auto wide = parse(large);
    ASSERT_TRUE(wide && wide->isMap());
    EXPECT_EQ(wide->count(), 25u);
    EXPECT_EQ(wide->map()->keys().front(), "k0");
    EXPECT_EQ((*wide)["k3"], Value(28));
    EXPECT_EQ((*wide)["k24"], Value(24));
}

TEST(RAZududeRqJsonParser, SeparatorsAndTheEndOfText) {
    EXPECT_EQ(parse("[1 2]"), Value(Array{1, 2}));
    EXPECT_EQ(parse(R"({"a":1 "b":2})"), Value(Map{{"a", 1}, {"b", 2}}));
    EXPECT_TRUE(parse("[1]  \n\t\v\f\r"));
    EXPECT_TRUE(parse(std::string("[1]\0 x", 6)));  // the text ends at its first zero
    expectFailure("[1] x", kRAZududeJsonErrorGarbage, "Garbage after JSON");
    expectFailure("", kRAZududeJsonErrorEndOfInput, "Unexpected end of string");
    expectFailure("[1,]", kRAZududeJsonErrorTrailingComma, "Trailing comma disallowed in array");
    expectFailure(R"({"a":1 , })", kRAZududeJsonErrorTrailingComma,
                  "Trailing comma disallowed in object");
    expectFailure("[1", kRAZududeJsonErrorEndOfInput, "End of input while parsing array");
    expectFailure("{", kRAZududeJsonErrorEndOfInput, "End of input while parsing object");
    expectFailure(R"({"a":1)", kRAZududeJsonErrorEndOfInput, "End of input while parsing object");
    expectFailure("{1:2}", kRAZududeJsonErrorSyntax, "Object key string expected");
    expectFailure(R"({"a" 2})", kRAZududeJsonErrorSyntax, "Expected ':' separating key and value");
    expectFailure("[tru]", kRAZududeJsonErrorSyntax, "Expected 'true'");
    expectFailure("fals", kRAZududeJsonErrorSyntax, "Expected 'false'");
    expectFailure("nul", kRAZududeJsonErrorSyntax, "Expected 'null'");
    expectFailure("?", kRAZududeJsonErrorSyntax, "Unrecognised leading character");

    RAZududeRqJsonParser parser;
    EXPECT_FALSE(parser.fragmentWithString(std::nullopt));
    EXPECT_EQ(parser.errorTrace().front().code(), kRAZududeJsonErrorNilInput);
    EXPECT_EQ(parser.errorTrace().front().localizedDescription(), "Input was 'nil'");
}

TEST(RAZududeRqJsonParser, OnlyObjectsAndArraysStandAsDocuments) {
    RAZududeRqJsonParser parser;
    EXPECT_EQ(parser.fragmentWithString("1"), Value(1));
    EXPECT_FALSE(parser.objectWithString("1"));
    ASSERT_EQ(parser.errorTrace().size(), 1u);
    EXPECT_EQ(parser.errorTrace()[0].code(), kRAZududeJsonErrorTopLevel);
    EXPECT_EQ(parser.errorTrace()[0].localizedDescription(), "Valid fragment, but not JSON");
    EXPECT_TRUE(parser.objectWithString("[]"));
    EXPECT_TRUE(parser.errorTrace().empty());
}

TEST(RAZududeRqJsonParser, NumbersFollowTheGrammar) {
    expectFailure("01", kRAZududeJsonErrorBadNumber, "Leading 0 disallowed in number");
    expectFailure("-", kRAZududeJsonErrorBadNumber, "No digits after initial minus");
    expectFailure("-x", kRAZududeJsonErrorBadNumber, "No digits after initial minus");
    expectFailure("1.", kRAZududeJsonErrorBadNumber, "No digits after decimal point");
    expectFailure("1e", kRAZududeJsonErrorBadNumber, "No digits after exponent");
    expectFailure("1e+", kRAZududeJsonErrorBadNumber, "No digits after exponent");
    expectFailure("+1", kRAZududeJsonErrorBadNumber, "Leading + disallowed in number");
    // Beyond the largest decimal there is no number to make.
    for (std::string_view huge : {"1e400", "1e165", "-1e165", "[1, 99999999999999999999e146]"}) {
        expectFailure(huge, kRAZududeJsonErrorBadNumber, "Failed creating decimal instance");
    }
}

// Numbers are decimals, as Python reads them with its decimal module in a context of the same
// precision and range (38 digits, exponents -128 to 127, half to even): written back, every
// number gives the text of that decimal, in an array, in an object and on its own.
TEST(RAZududeRqJsonParser, NumbersKeepTheirDigitsThroughParseAndWrite) {
    EXPECT_EQ(RAZududeRqJsonWriter().stringWithObject(
                  *parse("[123456789012345678901, 3.1415926535897932384626433832795028842, "
                         "-0.000000000000000000000000012345, 1.50, 2E+3]")),
              "[123456789012345678901,3.1415926535897932384626433832795028842,"
              "-0.000000000000000000000000012345,1.50,2000]");

    std::mt19937_64 random(99);
    auto pick = [&](std::uint64_t n) { return static_cast<int>(random() % n); };
    auto digits = [&](int count) {
        std::string out;
        for (int i = 0; i < count; ++i) {
            out += static_cast<char>('0' + (pick(4) == 0 ? 9 : pick(10)));
        }
        return out;
    };
    std::string texts;
    for (int i = 0; i < 5000; ++i) {
        std::string text = pick(3) == 0 ? "-" : "";
        std::string whole = digits(1 + pick(pick(2) ? 45 : 20));
        text += whole[0] == '0' ? "0" : whole;
        if (pick(2)) {
            text += "." + std::string(static_cast<std::size_t>(pick(4) ? 0 : pick(40)), '0') +
                    digits(1 + pick(45));
        }
        if (pick(2)) {
            text += (pick(2) ? "e" : "E") +
                    std::string(pick(2)   ? "-"
                                : pick(2) ? "+"
                                          : "") +
                    std::to_string(pick(3) ? pick(200) : pick(20000));
        }
        texts += text + "\n";
    }
    const std::string expected = testing_support::runPython(R"(
import decimal, re, sys
context = decimal.Context(prec=38, Emin=-91, Emax=164, clamp=1,
                          rounding=decimal.ROUND_HALF_EVEN)
for text in sys.stdin.read().split():
    if re.fullmatch(r"-?[0-9]+", text) and -2**63 <= int(text) < 2**63:
        print(int(text))  # an integer
        continue
    try:
        print(format(context.create_decimal(text), "f"))
    except decimal.Overflow:
        print("none")
)",
                                                            texts);
    const auto inputs = testing_support::lines(texts);
    const auto answers = testing_support::lines(expected);
    ASSERT_EQ(inputs.size(), answers.size());
    for (std::size_t i = 0; i < inputs.size(); ++i) {
        const auto value = parse(inputs[i]);
        if (answers[i] == "none") {
            EXPECT_FALSE(value) << inputs[i];
            continue;
        }
        ASSERT_TRUE(value) << inputs[i];
        RAZududeRqJsonWriter writer;
        ASSERT_EQ(writer.stringWithFragment(*value), answers[i]) << inputs[i];
        ASSERT_EQ(writer.stringWithObject(Value(Array{*value})), "[" + answers[i] + "]");
        ASSERT_EQ(writer.stringWithObject(Value(Map{{"n", *value}})), "{\"n\":" + answers[i] + "}");
    }
}

// Numbers read as doubles are correctly rounded, whatever path they take: compared with the
// standard library's conversion on random texts of up to 38 digits, and on the shortest texts
// of random doubles that the decimal range holds.
TEST(RAZududeRqJsonParser, NumbersReadAsDoublesAreCorrectlyRounded) {
    std::mt19937_64 random(42);
    auto digits = [&](std::size_t count) {
        std::string out;
        for (std::size_t i = 0; i < count; ++i) {
            out += static_cast<char>('0' + random() % 10);
        }
        return out;
    };
    auto expectExact = [](std::string_view text) {
        double expected = 0;
        std::from_chars(text.data(), text.data() + text.size(), expected);
        const auto parsed = parse(text);
        ASSERT_TRUE(parsed) << text;
        EXPECT_EQ(parsed->doubleValue(), expected) << text;
    };
    // Runs of digits that end exactly at, or just after, eight.
    EXPECT_EQ(parse("[1.12345678, 12345678, 1234567812345678]"),
              Value(Array{1.12345678, 12345678, 1234567812345678LL}));
    // Halfway cases and the edges of the decimal range.
    for (std::string_view text :
         {"9007199254740993.0", "9007199254740995.0", "9007199254740993e1", "0.5", "2.5e-1",
          "1.0000000000000001110223024625156540424", "123456789012345678e-27",
          "18446744073709551615e27", "1e-27", "1e27", "7.0e22", "3.0e-5", "1e-128",
          "9.9999999999999999999999999999999999999e164", "4.9406564584124654e-100",
          "1.7976931348623157e108"}) {
        expectExact(text);
    }
    // A text of more digits is first the decimal of its first 38: here just above the
    // halfway point between 1 and the next double.
    EXPECT_EQ(parse("1.00000000000000011102230246251565404236316680908203125")->doubleValue(),
              1.0000000000000002);
    for (int i = 0; i < 200000; ++i) {
        std::string text = random() % 2 ? "-" : "";
        const std::size_t whole = 1 + random() % 12;
        std::string integer = digits(whole);
        if (integer.size() > 1 && integer[0] == '0') {
            integer[0] = '7';
        }
        text += integer + "." + digits(1 + random() % 22);
        if (random() % 3 == 0) {
            text += "e" + std::to_string(static_cast<int>(random() % 80) - 40);
        }
        double expected = 0;
        std::from_chars(text.data(), text.data() + text.size(), expected);
        const auto parsed = parse(text);
        ASSERT_TRUE(parsed) << text;
        ASSERT_EQ(parsed->doubleValue(), expected) << text;
    }
    for (int i = 0; i < 100000; ++i) {
        double original;
        const std::uint64_t bits = random();
        std::memcpy(&original, &bits, sizeof original);
        if (!std::isfinite(original) || std::fabs(original) < 1e-110 ||
            std::fabs(original) > 1e160) {
            continue;
        }
        char buffer[64];
        const auto end = std::to_chars(buffer, buffer + sizeof buffer, original).ptr;
        const auto parsed = parse(std::string_view(buffer, static_cast<std::size_t>(end - buffer)));
        ASSERT_TRUE(parsed) << buffer;
        ASSERT_EQ(parsed->doubleValue(), original) << std::string(buffer, end);
    }
}

TEST(RAZududeRqJsonParser, StringsEscapesAndUnicode) {
    EXPECT_EQ(parse(R"("a\"b\\c\/d\b\f\n\r\t")"), Value("a\"b\\c/d\b\f\n\r\t"));
    EXPECT_EQ(parse(R"("\u00e9\u4E2D")"), Value("\xC3\xA9\xE4\xB8\xAD"));
    EXPECT_EQ(parse(R"("\ud834\udd1e")"), Value("\xF0\x9D\x84\x9E"));  // U+1D11E
    EXPECT_EQ(parse(R"("\u0000")")->string()->size(), 1u);
    EXPECT_EQ(parse("\"分享 \xF0\x9F\x8E\x89\""), Value("分享 \xF0\x9F\x8E\x89"));

    expectFailure("\"a\tb\"", kRAZududeJsonErrorControlCharacter,
                  "Unescaped control character '0x9'");
    expectFailure(R"("\x")", kRAZududeJsonErrorIllegalEscape, "Illegal escape sequence '0x78'");
    expectFailure("\"abc", kRAZududeJsonErrorEndOfInput, "Unexpected EOF while parsing string");
    expectFailure(R"("\udc00")", kRAZududeJsonErrorUnicode,
                  "Invalid high character in surrogate pair");
    expectFailure(R"("\ud834x")", kRAZududeJsonErrorUnicode,
                  "Missing low character in surrogate pair");
    expectFailure(R"("\ud834\u0041")", kRAZududeJsonErrorUnicode, "Invalid low surrogate char");
    expectFailure(R"("\u12G4")", kRAZududeJsonErrorUnicode, "Missing hex digit in quad");
    // Bytes that are no UTF-8 are refused rather than passed on.
    for (std::string_view broken :
         {"\"\xFF\"", "\"\xC3\"", "\"\xC0\xAF\"", "\"\xED\xA0\x80\"", "\"\xF4\x90\x80\x80\""}) {
        expectFailure(broken, kRAZududeJsonErrorUnicode, "Broken unicode character");
    }
}

// Errors come innermost first; each one carries the one before it as its underlying error.
TEST(RAZududeRqJsonParser, ErrorTraceWalksOutwards) {
    RAZududeRqJsonParser parser;
    EXPECT_FALSE(parser.objectWithString(R"([{"key": "\u12"}])"));
    std::vector<std::string> messages;
    for (const auto& error : parser.errorTrace()) {
        messages.push_back(error.localizedDescription());
    }
    EXPECT_EQ(messages,
              (std::vector<std::string>{
                  "Missing hex digit in quad", "Missing hex quad", "Broken unicode character",
                  "Object value expected for key: key", "Expected value while parsing array"}));
    const auto& last = parser.errorTrace().back();
    ASSERT_TRUE(last.underlyingError());
    EXPECT_EQ(last.underlyingError()->localizedDescription(), "Object value expected for key: key");
    EXPECT_FALSE(parser.errorTrace().front().underlyingError());
}

TEST(RAZududeRqJsonParser, NestingBeyondTheLimitIsRefused) {
    auto nested = [](std::size_t depth) {
        return std::string(depth, '[') + std::string(depth, ']');
    };
    RAZududeRqJsonParser parser;
    EXPECT_TRUE(parser.objectWithString(nested(512)));
    EXPECT_FALSE(parser.objectWithString(nested(513)));
    EXPECT_EQ(parser.errorTrace().front().localizedDescription(), "Nested too deep");
    EXPECT_EQ(parser.errorTrace().front().code(), kRAZududeJsonErrorTooDeep);

    // A hostile reply: far deeper than any limit, and never closed.
    EXPECT_FALSE(parser.objectWithString(std::string(100000, '[')));
    EXPECT_EQ(parser.errorTrace().front().code(), kRAZududeJsonErrorTooDeep);
    EXPECT_FALSE(parser.objectWithString(std::string(100000, '{')));

    // No limit of its own still stops at the ceiling.
    parser.setMaxDepth(0);
    EXPECT_TRUE(parser.objectWithString(nested(RAZududeRqJsonBase::kDepthCeiling)));
    std::string objects;
    for (std::size_t i = 0; i < RAZududeRqJsonBase::kDepthCeiling; ++i) {
        objects += "{\"key\":";
    }
    EXPECT_TRUE(parser.objectWithString(objects + "1" + std::string(objects.size() / 7, '}')));
    EXPECT_FALSE(parser.objectWithString(objects + "{}" + std::string(objects.size() / 7, '}')));
    EXPECT_FALSE(parser.objectWithString(std::string(100000, '[')));
    EXPECT_EQ(parser.errorTrace().front().code(), kRAZududeJsonErrorTooDeep);
    parser.setMaxDepth(3);
    EXPECT_FALSE(parser.objectWithString(R"({"a":[{"b":[]}]})"));
}

// Python makes documents of every kind; what we read and write again, it reads back equal.
TEST(RAZududeRqJsonParser, RoundTripsPythonDocuments) {
    constexpr char kMaker[] = R"(
import json, random, sys
random.seed(int(sys.argv[1]) if len(sys.argv) > 1 else 7)
def text():
    pool = ["a", "Z", " ", "\"", "\\", "/", "\n", "\t", "\x00", "\x1f", "\x7f", "\u00e9",
            "\u4e2d", "\u2028", "\ud7ff", "\ue000", "\uffff", "\U0001f389", "\U0010ffff"]
    return "".join(random.choice(pool) for _ in range(random.randint(0, 12)))
def value(depth):
    kind = random.randint(0, 8 if depth < 6 else 5)
    if kind == 0: return None
    if kind == 1: return random.choice([True, False])
    if kind == 2: return random.randint(-2**63, 2**63 - 1)
    if kind == 3: return random.choice([0.1, -2.5e-100, 1.7976931348623157e108, 5e-110,
                                        random.uniform(-1e6, 1e6), 1e21, 123456.789])
    if kind == 4: return random.randint(-1000, 1000)
    if kind == 5: return text()
    if kind in (6, 7): return [value(depth + 1) for _ in range(random.randint(0, 5))]
    return {text(): value(depth + 1) for _ in range(random.randint(0, 5))}
docs = [[value(0) for _ in range(5)] for _ in range(60)]
)";
    const std::string documents = testing_support::runPython(std::string(kMaker) + R"(
for doc in docs:
    print(json.dumps(doc, ensure_ascii=random.choice([True, False])))
)");
    std::string ours;
    std::size_t start = 0;
    int count = 0;
    for (std::size_t end; (end = documents.find('\n', start)) != std::string::npos;
         start = end + 1) {
        RAZududeRqJsonParser parser;
        const auto value = parser.objectWithString(documents.substr(start, end - start));
        ASSERT_TRUE(value) << documents.substr(start, end - start);
        RAZududeRqJsonWriter writer;
        writer.setHumanReadable(count % 2 == 1);
        const auto text = writer.stringWithObject(*value);
        ASSERT_TRUE(text);
        ours += std::to_string(text->size()) + "\n" + *text;
        ++count;
    }
    EXPECT_EQ(count, 60);
    const std::string verdict = testing_support::runPython(std::string(kMaker) + R"(
# Numbers compare as the decimals of their texts: ours are written without an exponent.
from decimal import Decimal
exact = lambda text: json.loads(text, parse_float=Decimal, parse_int=Decimal)
data = sys.stdin.buffer.read()
ours = []
while data:
    size, _, rest = data.partition(b"\n")
    ours.append(exact(rest[:int(size)].decode("utf-8")))
    data = rest[int(size):]
bad = [i for i, (a, b) in enumerate(zip(docs, ours)) if exact(json.dumps(a)) != b]
print("ok" if len(ours) == len(docs) and not bad else "differ at %s" % bad)
)",
                                                           ours);
    EXPECT_EQ(verdict, "ok\n");
}
