#include "platform/PropertyList.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <random>

#include "tests/platform/FileSizeLimit.h"
#include "tests/support/TempDir.h"

using platform::Array;
using platform::Bytes;
using platform::Date;
using platform::Error;
using platform::Map;
using platform::Uid;
using platform::Value;
namespace PropertyList = platform::PropertyList;
using Format = PropertyList::Format;
using testing_support::runPython;
using testing_support::TempDir;

namespace {

Value sample() {
    return Value(Map{
        {"text", "héllo 世界 🎉"},
        {"empty", ""},
        {"negative", -42},
        {"large", std::int64_t{1} << 40},
        {"min", INT64_MIN},
        {"top", UINT64_MAX},
        {"real", 0.1},
        {"huge", 9223372036854775808.0},
        {"yes", true},
        {"no", false},
        {"data", Bytes{0x00, 0xff, 0x10, 0x80}},
        {"nothing", Bytes{}},
        {"date", Date::fromReferenceInterval(123456789.0)},
        {"list", Array{1, "two", Array{}, Map{}}},
        {"nested", Map{{"inner", Map{{"deeper", Array{Value(Map{{"k", "v"}})}}}}}},
    });
}

std::string asString(const Bytes& bytes) {
    return std::string(bytes.begin(), bytes.end());
}

Bytes fromString(const std::string& text) {
    return Bytes(text.begin(), text.end());
}

// What Python's plistlib makes of a property list, as a line of JSON with typed leaves.
const char* kDumpPeer = R"(
import sys, plistlib, json, datetime
def typed(v):
    if isinstance(v, bool): return ['bool', v]
    if isinstance(v, int): return ['int', v]
    if isinstance(v, float): return ['real', repr(v)]
    if isinstance(v, str): return ['str', v]
    if isinstance(v, bytes): return ['data', v.hex()]
    if isinstance(v, datetime.datetime): return ['date', v.isoformat()]
    if isinstance(v, plistlib.UID): return ['uid', v.data]
    if isinstance(v, list): return [typed(x) for x in v]
    if isinstance(v, dict): return {k: typed(x) for k, x in v.items()}
    raise Exception(type(v))
print(json.dumps(typed(plistlib.loads(sys.stdin.buffer.read())), sort_keys=True, ensure_ascii=False))
)";

const char* kExpectedDump =
    R"({"data": ["data", "00ff1080"], "date": ["date", "2004-11-29T21:33:09"], )"
    R"("empty": ["str", ""], "huge": ["real", "9.223372036854776e+18"], )"
    R"("large": ["int", 1099511627776], )"
    R"("list": [["int", 1], ["str", "two"], [], {}], "min": ["int", -9223372036854775808], )"
    R"("negative": ["int", -42], "nested": {"inner": {"deeper": [{"k": ["str", "v"]}]}}, )"
    R"("no": ["bool", false], "nothing": ["data", ""], "real": ["real", "0.1"], )"
    R"("text": ["str", "héllo 世界 🎉"], "top": ["int", 18446744073709551615], )"
    R"("yes": ["bool", true]})"
    "\n";

}  // namespace

TEST(PropertyList, RoundTripsEveryKindInBothForms) {
    for (Format format : {Format::kXml, Format::kBinary}) {
        Error error;
        auto data = PropertyList::write(sample(), format, &error);
        ASSERT_TRUE(data) << error.description();
        Format found = Format::kText;
        auto back = PropertyList::read(*data, &error, &found);
        ASSERT_TRUE(back) << error.description();
        EXPECT_EQ(found, format);
        EXPECT_EQ(*back, sample());
        // Order of keys survives, as the writer gave it.
        EXPECT_EQ(back->map()->begin()->first, "text");
    }
}

TEST(PropertyList, PythonReadsWhatWeWrite) {
    for (Format format : {Format::kXml, Format::kBinary}) {
        auto data = PropertyList::write(sample(), format);
        ASSERT_TRUE(data);
        EXPECT_EQ(runPython(kDumpPeer, asString(*data)), kExpectedDump);
    }
}

TEST(PropertyList, WeReadWhatPythonWrites) {
    for (const char* fmt : {"FMT_BINARY", "FMT_XML"}) {
        std::string script = R"(
import sys, plistlib, datetime
v = {'s': 'naïve ✓', 'i': -1, 'big': 2**62, 'f': 2.5, 't': True, 'd': b'\x01\x02',
     'when': datetime.datetime(2024, 2, 29, 12, 30, 15), 'a': [1, [2, {'x': 'y'}]]}
sys.stdout.buffer.write(plistlib.dumps(v, fmt=plistlib.)" +
                             std::string(fmt) + "))\n";
        Bytes data = fromString(runPython(script));
        Error error;
        auto value = PropertyList::read(data, &error);
        ASSERT_TRUE(value) << fmt << ": " << error.description();
        EXPECT_EQ((*value)["s"], Value("naïve ✓"));
        EXPECT_EQ((*value)["i"], Value(-1));
        EXPECT_EQ((*value)["big"], Value(std::int64_t{1} << 62));
        EXPECT_EQ((*value)["f"], Value(2.5));
        EXPECT_TRUE((*value)["t"].isBool());
        EXPECT_EQ((*value)["d"], Value(Bytes{1, 2}));
        ASSERT_TRUE((*value)["when"].isDate());
        // 2024-02-29T12:30:15Z in seconds since 1970.
        EXPECT_DOUBLE_EQ((*value)["when"].date()->timeIntervalSince1970(), 1709209815.0);
        EXPECT_EQ((*value)["a"][1][1]["x"], Value("y"));
    }
}

TEST(PropertyList, UidsTravelAsCfUidDictionaries) {
    Value withUid(Map{{"root", Uid{7}.toValue()}, {"plain", Map{{"CF$UID", "not a number"}}}});
    auto data = PropertyList::write(withUid, Format::kBinary);
    ASSERT_TRUE(data);
    std::string out = runPython(R"(
import sys, plistlib
v = plistlib.loads(sys.stdin.buffer.read())
print(type(v['root']).__name__, v['root'].data, type(v['plain']).__name__)
)",
                                asString(*data));
    EXPECT_EQ(out, "UID 7 dict\n");
    auto back = PropertyList::read(*data);
    ASSERT_TRUE(back);
    EXPECT_EQ(Uid::from((*back)["root"]), Uid{7});
    EXPECT_FALSE(Uid::from((*back)["plain"]));
    EXPECT_FALSE(Uid::from(Value(Map{{"CF$UID", -1}})));

    // A number read from JSON spells the same UID, so that a value written once or twice gives
    // the same bytes.
    auto decimal = [](const char* text) { return Value(*platform::Decimal::fromString(text)); };
    EXPECT_EQ(Uid::from(Value(Map{{"CF$UID", decimal("5")}})), Uid{5});
    EXPECT_FALSE(Uid::from(Value(Map{{"CF$UID", decimal("5.5")}})));
    EXPECT_FALSE(Uid::from(Value(Map{{"CF$UID", decimal("-5")}})));
    for (const char* n : {"5", "5.5", "-5", "18446744073709551615"}) {
        for (Format format : {Format::kXml, Format::kBinary}) {
            const Value json(Map{{"CF$UID", decimal(n)}});
            auto once = PropertyList::write(json, format);
            ASSERT_TRUE(once) << n;
            auto read = PropertyList::read(*once);
            ASSERT_TRUE(read) << n;
            EXPECT_EQ(PropertyList::write(*read, format), once) << n;
        }
    }
}

TEST(PropertyList, DatesCountFromTwoThousandOneAndKeepFractionsInBinary) {
    Date reference(Date::kReferenceOffset);  // 2001-01-01 00:00:00 UTC
    Date fraction = reference.addingTimeInterval(0.25);
    auto data = PropertyList::write(Value(Array{reference, fraction}), Format::kBinary);
    ASSERT_TRUE(data);
    EXPECT_EQ(runPython(R"(
import sys, plistlib
for d in plistlib.loads(sys.stdin.buffer.read()): print(d.isoformat())
)",
                        asString(*data)),
              "2001-01-01T00:00:00\n2001-01-01T00:00:00.250000\n");
    auto back = PropertyList::read(*data);
    ASSERT_TRUE(back);
    EXPECT_DOUBLE_EQ((*back)[1].date()->timeIntervalSinceReferenceDate(), 0.25);
}

TEST(PropertyList, ReadsTheOldTextForm) {
    const std::string text = R"(
// a comment
{
    name = "quoted \"text\"\n";   /* another
                                     comment */
    bare = some.bare-word_1;
    unicode = "\U00e9\U4e16";
    octal = "\101\102";
    list = (one, "two", (three), );
    data = <0aff 10>;
    'single' = 'quotes';
    empty = {};
})";
    Format found = Format::kXml;
    Error error;
    auto value = PropertyList::read(fromString(text), &error, &found);
    ASSERT_TRUE(value) << error.description();
    EXPECT_EQ(found, Format::kText);
    EXPECT_EQ((*value)["name"], Value("quoted \"text\"\n"));
    EXPECT_EQ((*value)["bare"], Value("some.bare-word_1"));
    EXPECT_EQ((*value)["unicode"], Value("é世"));
    EXPECT_EQ((*value)["octal"], Value("AB"));
    EXPECT_EQ((*value)["list"], Value(Array{"one", "two", Array{"three"}}));
    EXPECT_EQ((*value)["data"], Value(Bytes{0x0a, 0xff, 0x10}));
    EXPECT_EQ((*value)["single"], Value("quotes"));
    EXPECT_EQ((*value)["empty"], Value(Map{}));

    // Without braces the text is read as a dictionary body.
    auto body = PropertyList::read(fromString("a = b; \"c d\" = (e);"));
    ASSERT_TRUE(body);
    EXPECT_EQ(*body, Value(Map{{"a", "b"}, {"c d", Array{"e"}}}));
}

TEST(PropertyList, TextErrorsNameTheLine) {
    Error error;
    EXPECT_FALSE(PropertyList::read(fromString("{\n a = b;\n c = ;\n}"), &error));
    EXPECT_EQ(error.domain(), platform::kCocoaErrorDomain);
    EXPECT_EQ(error.code(), PropertyList::kReadCorruptError);
    EXPECT_NE(error.localizedDescription().find("line 3"), std::string::npos)
        << error.localizedDescription();
    for (const char* bad : {"{ a = b }", "(a, b", "\"open", "<0a1>", "/* never closed", "{ a b; }",
                            "<zz>", "a = b; junk"}) {
        EXPECT_FALSE(PropertyList::read(fromString(bad))) << bad;
    }
}

TEST(PropertyList, CorruptAndTruncatedInputGiveErrorsNotCrashes) {
    for (Format format : {Format::kXml, Format::kBinary}) {
        Bytes good = *PropertyList::write(sample(), format);
        // Every truncation of a binary list loses its trailer; XML loses its closing tags.
        // (Fewer than eight bytes of "bplist00" read as a bare word of the text form.)
        // (A cut that takes only the final line break leaves the list whole.)
        const std::size_t whole = good.back() == '\n' ? good.size() - 1 : good.size();
        for (std::size_t n = format == Format::kBinary ? 8 : 0; n < whole; ++n) {
            Bytes cut(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(n));
            Error error;
            EXPECT_FALSE(PropertyList::read(cut, &error)) << "length " << n;
            EXPECT_EQ(error.code(), PropertyList::kReadCorruptError);
        }
        // Random damage: whatever comes back, nothing crashes.
        std::mt19937 random(42);
        for (int round = 0; round < 3000; ++round) {
            Bytes damaged = good;
            for (int k = 0; k < 1 + round % 4; ++k) {
                damaged[random() % damaged.size()] = static_cast<std::uint8_t>(random());
            }
            (void)PropertyList::read(damaged);
        }
    }
    EXPECT_FALSE(PropertyList::read(Bytes{}));
    EXPECT_FALSE(PropertyList::read(fromString("bplist00")));
}

TEST(PropertyList, HostileShapesAreRefusedBeforeParsing) {
    // Nesting far past what a stack could hold, a list that contains itself, and a list whose
    // shared references would expand to 2^40 nodes.
    std::string peer = R"(
import struct, sys
def binary(objects, top=0):
    body = b'bplist00'; offsets = []
    for o in objects: offsets.append(len(body)); body += o
    table = len(body)
    for o in offsets: body += struct.pack('>I', o)
    return body + b'\0' * 6 + bytes([4, 4]) + struct.pack('>QQQ', len(objects), top, table)
kind = sys.stdin.read().strip()
n = 100000
if kind == 'deep-binary':
    out = binary([bytes([0xA1]) + struct.pack('>I', i + 1) for i in range(n - 1)] + [bytes([0xA0])])
elif kind == 'deep-xml':
    out = b'<?xml version="1.0"?><plist version="1.0">' + b'<array>' * n + b'</array>' * n + b'</plist>'
elif kind == 'cycle':
    out = binary([bytes([0xA1]) + struct.pack('>I', 0)])
elif kind == 'bomb':
    out = binary([bytes([0xA2]) + struct.pack('>II', i + 1, i + 1) for i in range(39)] + [bytes([0xA0])])
elif kind == 'bad-ref':
    out = binary([bytes([0xA1]) + struct.pack('>I', 9)])
elif kind == 'int-key':
    out = binary([bytes([0xD1]) + struct.pack('>II', 1, 2), bytes([0x10, 5]), bytes([0x51]) + b'x'])
elif kind == 'bad-offset':
    out = binary([bytes([0xA0])])[:-40] + struct.pack('>I', 999) + binary([bytes([0xA0])])[-36:]
sys.stdout.buffer.write(out)
)";
    for (const char* kind :
         {"deep-binary", "deep-xml", "cycle", "bomb", "bad-ref", "int-key", "bad-offset"}) {
        Bytes data = fromString(runPython(peer, kind));
        Error error;
        EXPECT_FALSE(PropertyList::read(data, &error)) << kind;
        EXPECT_EQ(error.code(), PropertyList::kReadCorruptError) << kind;
    }
}

TEST(PropertyList, ValuesAPropertyListCannotHoldAreRefused) {
    const Value neither[] = {
        Value(),
        Value(Array{1, Value()}),
        Value("\xff\xfe not text"),
        Value(Map{{"\xc3", 1}}),
        Value(Date(std::nan(""))),
        Value(Date(INFINITY)),
    };
    // The XML form cannot hold control characters, nor years past four digits.
    const Value notAsXml[] = {
        Value(std::string("nul\0inside", 10)),
        Value(Map{{std::string("k\0ey", 4), 1}}),
        Value("bell \a"),
        Value(Date::fromReferenceInterval(1e12)),
        Value(Date::fromReferenceInterval(-1e12)),
    };
    for (Format format : {Format::kXml, Format::kBinary}) {
        for (const Value& value : neither) {
            Error error;
            EXPECT_FALSE(PropertyList::write(value, format, &error)) << value.description();
            EXPECT_EQ(error.code(), PropertyList::kWriteInvalidError);
        }
    }
    for (const Value& value : notAsXml) {
        Error error;
        EXPECT_FALSE(PropertyList::write(value, Format::kXml, &error));
        EXPECT_EQ(error.code(), PropertyList::kWriteInvalidError);
        auto binary = PropertyList::write(value, Format::kBinary, &error);
        ASSERT_TRUE(binary) << error.description();
        EXPECT_EQ(PropertyList::read(*binary), value);
    }
    EXPECT_FALSE(PropertyList::write(Value(1), Format::kText));
}

// Values at the edges of what the forms hold, each written by Python and read by us, and
// written by us and read by Python, in both forms.
TEST(PropertyList, EveryValueTheFormsHoldTravelsExactly) {
    const char* values = R"(
import datetime
def values(binary):
    v = {'top': 2**64 - 1, 'above': 2**63, 'bottom': -2**63, 'max': 2**63 - 1,
         'old': datetime.datetime(1950, 6, 1), 'older': datetime.datetime(1066, 10, 14, 9, 30),
         'first': datetime.datetime(1, 1, 1), 'late': datetime.datetime(2200, 1, 1),
         'last': datetime.datetime(9999, 12, 31, 23, 59, 59),
         'tiny': 5e-324, 'big': 1.7976931348623157e308, 'negzero': -0.0,
         'inf': float('inf'), 'escapes': '<&>]]>"\''}
    v['cr'] = 'a\r\nb\rc'
    if binary:
        v['fraction'] = datetime.datetime(1950, 6, 1, 0, 0, 0, 250000)
        v['nul'] = 'a\0b'
        v['controls'] = ''.join(chr(c) for c in range(32))
    return v
)";
    const std::string dump = std::string(values) + R"(
import sys, plistlib, json
binary = sys.argv[1] == 'binary' if len(sys.argv) > 1 else None
def typed(v):
    if isinstance(v, datetime.datetime):
        return ['date', (v - datetime.datetime(2001, 1, 1)).total_seconds()]
    if isinstance(v, float): return ['real', repr(v)]
    return [type(v).__name__, v]
data = sys.stdin.buffer.read()
got = plistlib.loads(data)
want = values(data.startswith(b'bplist'))
print('same' if {k: typed(x) for k, x in got.items()} == {k: typed(x) for k, x in want.items()}
      else json.dumps({k: typed(x) for k, x in got.items()}))
)";
    for (Format format : {Format::kXml, Format::kBinary}) {
        const bool binary = format == Format::kBinary;
        const std::string script = std::string(values) + R"(
import sys, plistlib
sys.stdout.buffer.write(plistlib.dumps(values()" +
                                   (binary ? "True" : "False") + R"(), fmt=plistlib.)" +
                                   (binary ? "FMT_BINARY" : "FMT_XML") + "))\n";
        Error error;
        auto value = PropertyList::read(fromString(runPython(script)), &error);
        ASSERT_TRUE(value) << error.description();
        EXPECT_EQ(*(*value)["top"].unsignedInteger(), UINT64_MAX);
        EXPECT_EQ(*(*value)["above"].unsignedInteger(), std::uint64_t{1} << 63);
        EXPECT_EQ(*(*value)["bottom"].integer(), INT64_MIN);
        EXPECT_EQ(*(*value)["max"].integer(), INT64_MAX);
        // 1950-06-01 is 18477 days before 2001-01-01; 1066-10-14 falls on day -341216.
        EXPECT_EQ((*value)["old"].date()->timeIntervalSinceReferenceDate(), -18477 * 86400.0);
        EXPECT_EQ((*value)["older"].date()->timeIntervalSinceReferenceDate(),
                  -341216 * 86400.0 + 9.5 * 3600);
        EXPECT_EQ((*value)["escapes"], Value("<&>]]>\"'"));
        if (!binary) {
            // Python leaves carriage returns bare in XML, where they read as line feeds; ours
            // are escaped and stay what they are.
            EXPECT_EQ((*value)["cr"], Value("a\nb\nc"));
            value->map()->set("cr", "a\r\nb\rc");
        } else {
            EXPECT_EQ((*value)["cr"], Value("a\r\nb\rc"));
            EXPECT_EQ((*value)["fraction"].date()->timeIntervalSinceReferenceDate(),
                      -18477 * 86400.0 + 0.25);
            EXPECT_EQ((*value)["nul"], Value(std::string("a\0b", 3)));
        }
        auto written = PropertyList::write(*value, format, &error);
        ASSERT_TRUE(written) << error.description();
        EXPECT_EQ(runPython(dump, asString(*written)), "same\n") << asString(*written);
        EXPECT_EQ(PropertyList::read(*written), *value);
    }
}

TEST(PropertyList, DecimalsAreWrittenAsTheIntegersOrRealsTheyAre) {
    auto decimal = [](const char* text) { return Value(*platform::Decimal::fromString(text)); };
    const Value numbers(Array{decimal("42"), decimal("-7"), decimal("18446744073709551615"),
                              decimal("1.5"), decimal("1e100"), decimal("18446744073709551615.000"),
                              decimal("-0.0")});
    for (Format format : {Format::kXml, Format::kBinary}) {
        auto data = PropertyList::write(numbers, format);
        ASSERT_TRUE(data);
        auto back = PropertyList::read(*data);
        ASSERT_TRUE(back);
        EXPECT_EQ(*(*back)[0].integer(), 42);
        EXPECT_EQ(*(*back)[1].integer(), -7);
        EXPECT_EQ(*(*back)[2].unsignedInteger(), UINT64_MAX);
        EXPECT_EQ(*(*back)[3].real(), 1.5);
        EXPECT_EQ(*(*back)[4].real(), 1e100);
        // A whole number written with a fraction of zeros is still that whole number.
        ASSERT_TRUE((*back)[5].unsignedInteger());
        EXPECT_EQ(*(*back)[5].unsignedInteger(), UINT64_MAX);
        ASSERT_TRUE((*back)[6].integer());
        EXPECT_EQ(*(*back)[6].integer(), 0);
    }
}

TEST(PropertyList, OneNestingLimitForEveryFormReadOrWritten) {
    auto nested = [](int levels) {
        Value value = Array{};
        for (int i = 1; i < levels; ++i) {
            value = Value(Array{std::move(value)});
        }
        return value;
    };
    auto text = [](int levels, const std::string& open, const std::string& close) {
        std::string out;
        for (int i = 0; i < levels; ++i) {
            out += open;
        }
        for (int i = 0; i < levels; ++i) {
            out += close;
        }
        return out;
    };
    const int limit = PropertyList::kMaxDepth;
    for (Format format : {Format::kXml, Format::kBinary}) {
        Error error;
        auto deepest = PropertyList::write(nested(limit), format, &error);
        ASSERT_TRUE(deepest) << error.description();
        EXPECT_EQ(PropertyList::read(*deepest, &error), nested(limit)) << error.description();
        EXPECT_FALSE(PropertyList::write(nested(limit + 1), format, &error));
        EXPECT_FALSE(PropertyList::write(Value(Map{{"k", nested(limit)}}), format));
    }
    // Read: the text form (also as a table whose braces are left out), XML with and without
    // empty elements, and binary written by Python.
    for (const auto& [levels, ok] : {std::pair{limit, true}, std::pair{limit + 1, false}}) {
        std::string inTable = "{}";
        for (int i = 2; i < levels; ++i) {
            inTable = "{b=" + inTable + ";}";
        }
        const std::string xml =
            "<?xml version=\"1.0\"?><plist>" + text(levels, "<array>", "</array>") + "</plist>";
        const std::string xmlEmpty = "<?xml version=\"1.0\"?><plist>" +
                                     text(levels - 1, "<array>", "") + "<array/>" +
                                     text(levels - 1, "", "</array>") + "</plist>";
        const std::string binary = runPython(R"(
import sys, plistlib
v = []
for i in range()" + std::to_string(levels - 1) +
                                             R"(): v = [v]
sys.stdout.buffer.write(plistlib.dumps(v, fmt=plistlib.FMT_BINARY))
)");
        for (const std::string& input :
             {text(levels, "(", ")"), "a = " + inTable + ";", xml, xmlEmpty, binary}) {
            Error error;
            EXPECT_EQ(PropertyList::read(fromString(input), &error).has_value(), ok)
                << levels << " " << input.substr(0, 20) << ": " << error.description();
        }
    }
}

TEST(PropertyList, HostileBinaryListsCostNoMoreThanTheirBytesHold) {
    // Each kind is built by hand, as no writer shares containers or writes such lists.
    const std::string peer = R"(
import struct, sys
def binary(objects, top=0, ref=4):
    body = b'bplist00'; offsets = []
    for o in objects: offsets.append(len(body)); body += o
    table = len(body)
    for o in offsets: body += struct.pack('>I', o)
    return body + b'\0' * 6 + bytes([4, ref]) + struct.pack('>QQQ', len(objects), top, table)
def array(refs, ref=4):
    n = len(refs)
    head = bytes([0xA0 | n]) if n < 15 else bytes([0xAF, 0x12]) + struct.pack('>I', n)
    return head + b''.join(r.to_bytes(ref, 'big') for r in refs)
kind = sys.stdin.read().strip()
if kind == 'long':          # a million items, each a reference to one shared number
    out = binary([array([1] * 1000000), bytes([0x10, 7])])
elif kind == 'shared-text': # 90 KB: one 60 KB string at 30,000 places
    out = binary([array([1] * 30000, 1), bytes([0x5F, 0x11]) + struct.pack('>H', 60000) + b'x' * 60000], ref=1)
elif kind == 'shared-lists':# 8 KB: 2,000 references to one list of 2,000 references
    out = binary([array([1] * 2000, 2), array([2] * 2000, 2), bytes([0x10, 7])], ref=2)
elif kind == 'honest':      # 10,000 references to one shared string, as writers make
    out = binary([array([1] * 10000, 2), bytes([0x55]) + b'hello'], ref=2)
sys.stdout.buffer.write(out)
)";
    Error error;
    auto honest = PropertyList::read(fromString(runPython(peer, "honest")), &error);
    ASSERT_TRUE(honest) << error.description();
    EXPECT_EQ(honest->count(), 10000u);
    EXPECT_EQ((*honest)[9999], Value("hello"));
    auto longList = PropertyList::read(fromString(runPython(peer, "long")), &error);
    ASSERT_TRUE(longList) << error.description();
    EXPECT_EQ(longList->count(), 1000000u);
    for (const char* kind : {"shared-text", "shared-lists"}) {
        EXPECT_FALSE(PropertyList::read(fromString(runPython(peer, kind)), &error)) << kind;
        EXPECT_NE(error.localizedDescription().find("expands too far"), std::string::npos)
            << error.localizedDescription();
    }
}

TEST(PropertyList, FilesAreWrittenWholeOrNotAtAll) {
    TempDir dir;
    const auto path = dir.path() / "settings.plist";
    Error error;
    EXPECT_FALSE(PropertyList::readFile(path, &error));
    EXPECT_EQ(error.code(), platform::kFileReadNoSuchFileError);
    EXPECT_EQ(error.userInfo()[platform::kFilePathErrorKey], Value(path.string()));

    ASSERT_TRUE(PropertyList::writeFile(sample(), path, Format::kBinary, &error))
        << error.description();
    EXPECT_EQ(*PropertyList::readFile(path), sample());
    EXPECT_EQ(std::filesystem::status(path).permissions() & std::filesystem::perms::all,
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);

    // A value too large for the file-size limit fails half-way: the old file stays whole and
    // no temporary file is left behind.
    Value big(Map{{"blob", Bytes(100000, 7)}});
    {
        testing_support::FileSizeLimit limit(4096);
        EXPECT_FALSE(PropertyList::writeFile(big, path, Format::kBinary, &error));
    }
    EXPECT_EQ(error.domain(), platform::kCocoaErrorDomain);
    ASSERT_TRUE(error.underlyingError());
    EXPECT_EQ(error.underlyingError()->code(), EFBIG);
    EXPECT_EQ(*PropertyList::readFile(path), sample());
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);

    // A value that is no property list never touches the file.
    EXPECT_FALSE(PropertyList::writeFile(Value(Array{Value()}), path, Format::kXml, &error));
    EXPECT_EQ(*PropertyList::readFile(path), sample());

    // A folder in the way of the file.
    std::filesystem::create_directory(dir.path() / "folder");
    EXPECT_FALSE(PropertyList::writeFile(sample(), dir.path() / "folder", Format::kXml, &error));
    EXPECT_FALSE(PropertyList::readFile(dir.path() / "folder", &error));
    // A file in the way of the folder.
    EXPECT_FALSE(
        PropertyList::writeFile(sample(), path / "below-a-file.plist", Format::kXml, &error));
    EXPECT_EQ(*PropertyList::readFile(path), sample());

    // Corrupt file contents say which file.
    std::ofstream(dir.path() / "bad.plist") << "<?xml version=\"1.0\"?><plist><dict><key>";
    EXPECT_FALSE(PropertyList::readFile(dir.path() / "bad.plist", &error));
    EXPECT_EQ(error.code(), PropertyList::kReadCorruptError);
    EXPECT_EQ(error.userInfo()[platform::kFilePathErrorKey],
              Value((dir.path() / "bad.plist").string()));
}
