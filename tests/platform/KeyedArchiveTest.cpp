#include "platform/KeyedArchive.h"

#include <gtest/gtest.h>

#include <random>
#include <stdexcept>

#include "platform/PropertyList.h"
#include "tests/support/TempDir.h"

using platform::ArchiveObject;
using platform::ArchiveRegistry;
using platform::Array;
using platform::Bytes;
using platform::Date;
using platform::Error;
using platform::KeyedArchiver;
using platform::KeyedUnarchiver;
using platform::Map;
using platform::Value;
using testing_support::runPython;

namespace {

// Two small entities shaped like the ones the share service keeps: strings, dates, arrays,
// counters and flags, and a nested object.
class Friend : public platform::Archivable {
  public:
    Friend(std::string theName, std::string theUsid)
        : name(std::move(theName)), usid(std::move(theUsid)) {}
    explicit Friend(KeyedUnarchiver& coder)
        : name(coder.decodeString("name").value_or("")),
          usid(coder.decodeString("usid").value_or("")),
          pinyin(coder.decodeString("pinyin")) {}

    std::string archiveClassName() const override { return "TestFriend"; }
    void encode(KeyedArchiver& coder) const override {
        coder.encodeObject(Value(name), "name");
        coder.encodeObject(Value(usid), "usid");
        if (pinyin) {
            coder.encodeObject(Value(*pinyin), "pinyin");
        }
    }

    std::string name;
    std::string usid;
    std::optional<std::string> pinyin;
};

class Account : public platform::Archivable {
  public:
    Account() = default;
    explicit Account(KeyedUnarchiver& coder)
        : usid(coder.decodeString("usid")),
          expirationDate(coder.decodeDate("expirationDate")),
          permissions(coder.decodeValue("permissions")),
          likeCount(coder.decodeInt("likeCount")),
          isLike(coder.decodeBool("isLike")),
          dateInterval(coder.decodeDouble("dateInterval")),
          token(coder.decodeBytes("token")),
          best(coder.decodeObjectOf<Friend>("best")),
          friends(coder.decodeArrayOf<Friend>("friends")),
          dollar(coder.decodeString("$dollar")) {}

    std::string archiveClassName() const override { return "TestAccount"; }
    std::vector<std::string> archiveSuperclassNames() const override {
        return {"TestEntity", "NSObject"};
    }
    void encode(KeyedArchiver& coder) const override {
        coder.encodeObject(usid ? Value(*usid) : Value(), "usid");
        coder.encodeObject(expirationDate ? Value(*expirationDate) : Value(), "expirationDate");
        coder.encodeObject(permissions, "permissions");
        coder.encodeInt(likeCount, "likeCount");
        coder.encodeBool(isLike, "isLike");
        coder.encodeDouble(dateInterval, "dateInterval");
        if (token) {
            coder.encodeBytes(*token, "token");
        }
        coder.encodeObject(ArchiveObject(best), "best");
        ArchiveObject::Array list;
        for (const auto& f : friends) {
            list.emplace_back(f);
        }
        coder.encodeObject(ArchiveObject(std::move(list)), "friends");
        if (dollar) {
            coder.encodeObject(Value(*dollar), "$dollar");
        }
    }

    std::optional<std::string> usid;
    std::optional<Date> expirationDate;
    Value permissions;
    int likeCount = 0;
    bool isLike = false;
    double dateInterval = 0;
    std::optional<Bytes> token;
    std::shared_ptr<Friend> best;
    std::vector<std::shared_ptr<Friend>> friends;
    std::optional<std::string> dollar;
};

ArchiveRegistry& testRegistry() {
    static ArchiveRegistry* registry = [] {
        auto* r = new ArchiveRegistry();
        r->add<Friend>("TestFriend");
        r->add<Account>("TestAccount");
        return r;
    }();
    return *registry;
}

std::string asString(const Bytes& bytes) {
    return std::string(bytes.begin(), bytes.end());
}

Bytes fromString(const std::string& text) {
    return Bytes(text.begin(), text.end());
}

// A Python reader of keyed archives, written from the format alone: it checks the frame,
// follows the UIDs and prints the graph as JSON with typed leaves and class names.
const char* kResolver = R"(
import sys, plistlib, json, datetime
archive = plistlib.loads(sys.stdin.buffer.read())
assert archive['$archiver'] == 'NSKeyedArchiver', archive['$archiver']
assert archive['$version'] == 100000
assert set(archive) == {'$archiver', '$version', '$top', '$objects'}
objects = archive['$objects']
assert objects[0] == '$null'
root = archive['$top']['root']
assert isinstance(root, plistlib.UID)
def classinfo(d):
    c = objects[d['$class'].data]
    return c['$classname'], c['$classes']
def resolve(uid):
    assert isinstance(uid, plistlib.UID), uid
    if uid.data == 0: return None
    o = objects[uid.data]
    if isinstance(o, bool): return ['bool', o]
    if isinstance(o, int): return ['int', o]
    if isinstance(o, float): return ['real', o]
    if isinstance(o, str): return o
    if isinstance(o, bytes): return ['data', o.hex()]
    name, classes = classinfo(o)
    if name == 'NSDictionary':
        assert classes == ['NSDictionary', 'NSObject'], classes
        assert len(o['NS.keys']) == len(o['NS.objects'])
        return {resolve(k): resolve(v) for k, v in zip(o['NS.keys'], o['NS.objects'])}
    if name == 'NSArray':
        assert classes == ['NSArray', 'NSObject'], classes
        return [resolve(v) for v in o['NS.objects']]
    if name == 'NSDate':
        assert classes == ['NSDate', 'NSObject'], classes
        return ['date', (datetime.datetime(2001, 1, 1) + datetime.timedelta(seconds=o['NS.time'])).isoformat()]
    if name == 'NSNull':
        return ['null']
    out = {'$classes': classes}
    for k, v in o.items():
        if k == '$class': continue
        out[k] = resolve(v) if isinstance(v, plistlib.UID) else ['inline', v.hex() if isinstance(v, bytes) else v]
    return out
print(json.dumps(resolve(root), sort_keys=True, ensure_ascii=False))
)";

// Builds an archive from Python's description of its object list and root.
Bytes pythonArchive(const std::string& objectsAndRoot) {
    return fromString(runPython(R"(
import sys, plistlib, datetime
from plistlib import UID
)" + objectsAndRoot + R"(
archive = {'$version': 100000, '$archiver': 'NSKeyedArchiver', '$top': {'root': root}, '$objects': objects}
sys.stdout.buffer.write(plistlib.dumps(archive, fmt=plistlib.FMT_BINARY))
)"));
}

std::optional<ArchiveObject> unarchive(const Bytes& data, Error* error = nullptr) {
    return KeyedUnarchiver::unarchiveObject(data, error, testRegistry());
}

}  // namespace

TEST(KeyedArchive, PythonReadsOurValueArchiveAsThePlatformWritesIt) {
    Value record(Map{
        {"DeviceUDID", "0123456789abcdef0123456789abcdef01234567"},
        {"DeviceUDID_createdTS", Date::fromReferenceInterval(86400.5)},
        {"count", 3},
        {"ratio", 0.5},
        {"on", true},
        {"blob", Bytes{0xca, 0xfe}},
        {"list", Array{"a", Value(), Array{}}},
        {"same", "0123456789abcdef0123456789abcdef01234567"},
    });
    Error error;
    auto data = KeyedArchiver::archivedData(record, &error);
    ASSERT_TRUE(data) << error.description();
    EXPECT_EQ(runPython(kResolver, asString(*data)),
              R"({"DeviceUDID": "0123456789abcdef0123456789abcdef01234567", )"
              R"("DeviceUDID_createdTS": ["date", "2001-01-02T00:00:00.500000"], )"
              R"("blob": ["data", "cafe"], "count": ["int", 3], )"
              R"("list": ["a", ["null"], []], "on": ["bool", true], "ratio": ["real", 0.5], )"
              R"("same": "0123456789abcdef0123456789abcdef01234567"})"
              "\n");
    // Equal strings are stored once, as the platform does.
    auto plist = platform::PropertyList::read(*data);
    ASSERT_TRUE(plist);
    int copies = 0;
    for (const Value& object : *(*plist)["$objects"].array()) {
        copies += object == Value("0123456789abcdef0123456789abcdef01234567");
    }
    EXPECT_EQ(copies, 1);

    auto back = unarchive(*data, &error);
    ASSERT_TRUE(back) << error.description();
    EXPECT_EQ(back->toValue(), record);
}

TEST(KeyedArchive, ObjectsRoundTripAndPythonSeesTheirKeys) {
    auto best = std::make_shared<Friend>("小明", "u1");
    best->pinyin = "xiaoming";
    auto account = std::make_shared<Account>();
    account->usid = "";  // present but empty: different from absent
    account->expirationDate = Date::fromReferenceInterval(1000);
    account->permissions = Array{"read", "write"};
    account->likeCount = -7;
    account->isLike = true;
    account->dateInterval = 1.5e12;
    account->token = Bytes{1, 2, 3};
    account->best = best;
    account->friends = {best, std::make_shared<Friend>("Li", "u2")};
    account->dollar = "kept";

    ArchiveObject::Dictionary accounts{{"sina", account}, {"loginAccount", nullptr}};
    Error error;
    auto data = KeyedArchiver::archivedData(ArchiveObject(accounts), &error);
    ASSERT_TRUE(data) << error.description();

    std::string seen = runPython(kResolver, asString(*data));
    EXPECT_NE(seen.find(R"("$classes": ["TestAccount", "TestEntity", "NSObject"])"),
              std::string::npos)
        << seen;
    EXPECT_NE(seen.find(R"("likeCount": ["inline", -7])"), std::string::npos) << seen;
    EXPECT_NE(seen.find(R"("isLike": ["inline", true])"), std::string::npos) << seen;
    EXPECT_NE(seen.find(R"("token": ["inline", "010203"])"), std::string::npos) << seen;
    EXPECT_NE(seen.find(R"("$$dollar": "kept")"), std::string::npos) << seen;
    EXPECT_NE(seen.find(R"("loginAccount": ["null"])"), std::string::npos) << seen;
    EXPECT_NE(seen.find(R"("name": "小明")"), std::string::npos) << seen;

    auto back = unarchive(*data, &error);
    ASSERT_TRUE(back) << error.description();
    ASSERT_TRUE(back->dictionary());
    auto decoded = (*back)["sina"].as<Account>();
    ASSERT_TRUE(decoded);
    EXPECT_TRUE((*back)["loginAccount"].isNil());
    EXPECT_EQ(decoded->usid, std::optional<std::string>(""));
    EXPECT_EQ(decoded->expirationDate, Date::fromReferenceInterval(1000));
    EXPECT_EQ(decoded->permissions, Value(Array{"read", "write"}));
    EXPECT_EQ(decoded->likeCount, -7);
    EXPECT_TRUE(decoded->isLike);
    EXPECT_EQ(decoded->dateInterval, 1.5e12);
    EXPECT_EQ(decoded->token, (Bytes{1, 2, 3}));
    EXPECT_EQ(decoded->dollar, std::optional<std::string>("kept"));
    ASSERT_TRUE(decoded->best);
    EXPECT_EQ(decoded->best->name, "小明");
    EXPECT_EQ(decoded->best->pinyin, std::optional<std::string>("xiaoming"));
    ASSERT_EQ(decoded->friends.size(), 2u);
    // One object referred to twice is archived once and comes back as one object.
    EXPECT_EQ(decoded->friends[0], decoded->best);
    EXPECT_EQ(decoded->friends[1]->usid, "u2");
    EXPECT_FALSE(decoded->friends[1]->pinyin);
    EXPECT_FALSE(back->toValue());  // it holds objects, so it is no plain value
}

TEST(KeyedArchive, MissingKeysDecodeAsNilAndZero) {
    auto empty = std::make_shared<Account>();
    auto data = KeyedArchiver::archivedData(ArchiveObject(empty));
    ASSERT_TRUE(data);
    auto back = unarchive(*data);
    ASSERT_TRUE(back);
    auto decoded = back->as<Account>();
    ASSERT_TRUE(decoded);
    EXPECT_FALSE(decoded->usid);
    EXPECT_FALSE(decoded->expirationDate);
    EXPECT_TRUE(decoded->permissions.isNull());
    EXPECT_FALSE(decoded->token);
    EXPECT_FALSE(decoded->best);
    EXPECT_TRUE(decoded->friends.empty());
    EXPECT_EQ(decoded->likeCount, 0);

    auto nil = KeyedArchiver::archivedData(ArchiveObject());
    ASSERT_TRUE(nil);
    auto nothing = unarchive(*nil);
    ASSERT_TRUE(nothing);
    EXPECT_TRUE(nothing->isNil());
}

TEST(KeyedArchive, ReadsArchivesWrittenBySomeoneElse) {
    // The platform's mutable classes, strings kept as objects, data kept as objects, and a
    // dictionary nested in an array.
    Bytes data = pythonArchive(R"(
objects = ['$null',
  {'NS.keys': [UID(2), UID(3), UID(4), UID(5)], 'NS.objects': [UID(6), UID(7), UID(9), UID(12)], '$class': UID(13)},
  'name', 'created', 'blob', 'items',
  {'NS.string': 'mutable text', '$class': UID(8)},
  {'NS.time': 10.25, '$class': UID(10)},
  {'$classname': 'NSMutableString', '$classes': ['NSMutableString', 'NSString', 'NSObject']},
  {'NS.data': b'\x00\x01', '$class': UID(11)},
  {'$classname': 'NSDate', '$classes': ['NSDate', 'NSObject']},
  {'$classname': 'NSMutableData', '$classes': ['NSMutableData', 'NSData', 'NSObject']},
  {'NS.objects': [UID(14), UID(2)], '$class': UID(15)},
  {'$classname': 'NSMutableDictionary', '$classes': ['NSMutableDictionary', 'NSDictionary', 'NSObject']},
  42,
  {'$classname': 'NSMutableArray', '$classes': ['NSMutableArray', 'NSArray', 'NSObject']},
]
root = UID(1)
)");
    Error error;
    auto back = unarchive(data, &error);
    ASSERT_TRUE(back) << error.description();
    EXPECT_EQ(back->toValue(), Value(Map{{"name", "mutable text"},
                                         {"created", Date::fromReferenceInterval(10.25)},
                                         {"blob", Bytes{0, 1}},
                                         {"items", Array{42, "name"}}}));
}

TEST(KeyedArchive, UnknownClassesDecodeToNothingWithAnError) {
    auto data = KeyedArchiver::archivedData(ArchiveObject(std::make_shared<Friend>("a", "b")));
    ASSERT_TRUE(data);
    ArchiveRegistry empty;
    Error error;
    EXPECT_FALSE(KeyedUnarchiver::unarchiveObject(*data, &error, empty));
    EXPECT_EQ(error.code(), platform::kCoderReadCorruptError);
    EXPECT_NE(error.localizedDescription().find("TestFriend"), std::string::npos);

    // A factory that throws fails the archive; nothing escapes.
    ArchiveRegistry throwing;
    throwing.add("TestFriend", [](KeyedUnarchiver&) -> std::shared_ptr<platform::Archivable> {
        throw std::invalid_argument("bad friend");
    });
    EXPECT_FALSE(KeyedUnarchiver::unarchiveObject(*data, &error, throwing));
    EXPECT_NE(error.localizedDescription().find("bad friend"), std::string::npos);
}

TEST(KeyedArchive, CorruptArchivesGiveErrorsNotCrashes) {
    const std::string classes = R"(
arr = {'$classname': 'NSArray', '$classes': ['NSArray', 'NSObject']}
dic = {'$classname': 'NSDictionary', '$classes': ['NSDictionary', 'NSObject']}
)";
    const std::pair<const char*, std::string> cases[] = {
        {"an array that contains itself",
         "objects = ['$null', {'NS.objects': [UID(1)], '$class': UID(2)}, arr]\nroot = UID(1)"},
        {"two arrays in a ring",
         "objects = ['$null', {'NS.objects': [UID(2)], '$class': UID(3)}, "
         "{'NS.objects': [UID(1)], '$class': UID(3)}, arr]\nroot = UID(1)"},
        {"a reference past the end", "objects = ['$null', 'x']\nroot = UID(7)"},
        {"an array item past the end",
         "objects = ['$null', {'NS.objects': [UID(99)], '$class': UID(2)}, arr]\nroot = UID(1)"},
        {"a class reference to a string",
         "objects = ['$null', {'NS.objects': [], '$class': UID(2)}, 'NSArray']\nroot = UID(1)"},
        {"a class without a name",
         "objects = ['$null', {'$class': UID(2)}, {'$classes': []}]\nroot = UID(1)"},
        {"an object without a class", "objects = ['$null', {'a': 1}]\nroot = UID(1)"},
        {"keys and objects of different length",
         "objects = ['$null', {'NS.keys': [UID(3)], 'NS.objects': [], '$class': UID(2)}, dic, "
         "'k']\nroot = UID(1)"},
        {"a key that is no string",
         "objects = ['$null', {'NS.keys': [UID(3)], 'NS.objects': [UID(3)], '$class': UID(2)}, "
         "dic, 5]\nroot = UID(1)"},
        {"objects that are not references",
         "objects = ['$null', {'NS.objects': [1, 2], '$class': UID(2)}, arr]\nroot = UID(1)"},
        {"no null marker first", "objects = ['x']\nroot = UID(0)"},
        {"an empty object list", "objects = []\nroot = UID(0)"},
        {"a root that is no UID", "objects = ['$null', 'x']\nroot = 1"},
        {"a plain list in the objects", "objects = ['$null', [UID(0)]]\nroot = UID(1)"},
        {"a date without time",
         "objects = ['$null', {'NS.time': 'soon', '$class': UID(2)}, "
         "{'$classname': 'NSDate', '$classes': ['NSDate']}]\nroot = UID(1)"},
        {"a friend whose name is a number",
         "objects = ['$null', {'name': UID(3), '$class': UID(2)}, "
         "{'$classname': 'TestFriend', '$classes': ['TestFriend', 'NSObject']}, 12]\nroot = "
         "UID(1)"},
        {"a counter that is a string",
         "objects = ['$null', {'likeCount': UID(3), '$class': UID(2)}, "
         "{'$classname': 'TestAccount', '$classes': ['TestAccount']}, 'many']\nroot = UID(1)"},
        {"a counter too large for 32 bits",
         "objects = ['$null', {'likeCount': 2**40, '$class': UID(2)}, "
         "{'$classname': 'TestAccount', '$classes': ['TestAccount']}]\nroot = UID(1)"},
        {"friends that are not friends",
         "objects = ['$null', {'friends': UID(3), '$class': UID(2)}, "
         "{'$classname': 'TestAccount', '$classes': ['TestAccount']}, "
         "{'NS.objects': [UID(5)], '$class': UID(4)}, arr, 'not a friend']\nroot = UID(1)"},
        {"an account that contains itself",
         "objects = ['$null', {'best': UID(1), '$class': UID(2)}, "
         "{'$classname': 'TestAccount', '$classes': ['TestAccount']}]\nroot = UID(1)"},
        {"a string object whose bytes are not UTF-8",
         "objects = ['$null', {'NS.bytes': b'\\xff\\xfe', '$class': UID(2)}, "
         "{'$classname': 'NSMutableString', '$classes': ['NSMutableString', 'NSString']}]\n"
         "root = UID(1)"},
        {"a graph that expands to 2^40 values",
         "objects = ['$null'] + [{'NS.objects': [UID(i + 2), UID(i + 2)], '$class': UID(42)} "
         "for i in range(40)] + ['leaf', arr]\nroot = UID(1)"},
    };
    for (const auto& [what, body] : cases) {
        Bytes data = pythonArchive(classes + body);
        Error error;
        EXPECT_FALSE(unarchive(data, &error)) << what;
        EXPECT_EQ(error.code(), platform::kCoderReadCorruptError) << what;
        EXPECT_FALSE(error.localizedDescription().empty());
    }

    // Not archives at all.
    for (const std::string& junk : {std::string(), std::string("bplist00"),
                                    std::string("not a plist ("), std::string("(1, 2)")}) {
        Error error;
        EXPECT_FALSE(unarchive(fromString(junk), &error)) << junk;
    }
    auto plainList = platform::PropertyList::write(Value(Map{{"$archiver", "Other"}}),
                                                   platform::PropertyList::Format::kBinary);
    EXPECT_FALSE(unarchive(*plainList));

    // Truncations and random damage of a real archive.
    auto account = std::make_shared<Account>();
    account->usid = "u";
    account->friends = {std::make_shared<Friend>("a", "b")};
    Bytes good = *KeyedArchiver::archivedData(ArchiveObject(account));
    for (std::size_t n = 0; n < good.size(); ++n) {
        EXPECT_FALSE(unarchive(Bytes(good.begin(), good.begin() + static_cast<long>(n))));
    }
    std::mt19937 random(7);
    for (int round = 0; round < 3000; ++round) {
        Bytes damaged = good;
        damaged[random() % damaged.size()] = static_cast<std::uint8_t>(random());
        (void)unarchive(damaged);
    }
}

TEST(KeyedArchive, EncodingFailuresAreErrors) {
    Error error;
    EXPECT_FALSE(KeyedArchiver::archivedData(Value(std::string("a\xff")), &error));
    // Any text is fine, a NUL character included; what reads back archives again.
    const Value withNul(Array{std::string("a\0b", 3)});
    auto data = KeyedArchiver::archivedData(withNul, &error);
    ASSERT_TRUE(data) << error.description();
    auto back = unarchive(*data, &error);
    ASSERT_TRUE(back) << error.description();
    EXPECT_EQ(back->toValue(), withNul);
    EXPECT_TRUE(KeyedArchiver::archivedData(*back, &error));
    // Dates travel as reals in archives, so even far ones are fine there.
    EXPECT_TRUE(KeyedArchiver::archivedData(Value(Date::fromReferenceInterval(1e15)), &error));

    class Throwing : public platform::Archivable {
        std::string archiveClassName() const override { return "Throwing"; }
        void encode(KeyedArchiver&) const override { throw std::runtime_error("cannot"); }
    };
    EXPECT_FALSE(KeyedArchiver::archivedData(ArchiveObject(std::make_shared<Throwing>()), &error));
    EXPECT_EQ(error.code(), platform::kCoderInvalidValueError);
    EXPECT_NE(error.localizedDescription().find("cannot"), std::string::npos);
}

TEST(KeyedArchive, SharedArraysAndDictionariesAreWrittenOnceWhereverTheyAreUsed) {
    // Each level holds the one below eight times: 8^6 uses of the innermost array, as a small
    // hostile archive can make them, within what the unarchiver lets a graph expand to.
    ArchiveObject level(
        ArchiveObject::Array{ArchiveObject(Value("leaf")), ArchiveObject(Value(1))});
    for (int i = 0; i < 6; ++i) {
        if (i % 2 == 0) {
            level = ArchiveObject(ArchiveObject::Array(8, level));
        } else {
            ArchiveObject::Dictionary entries;
            for (int k = 0; k < 8; ++k) {
                entries.emplace_back("k" + std::to_string(k), level);
            }
            level = ArchiveObject(std::move(entries));
        }
    }
    const auto data = KeyedArchiver::archivedData(level);
    ASSERT_TRUE(data);
    EXPECT_LT(data->size(), 4096u);

    // Read back, the sharing stays: writing it again is as small, byte for byte the same.
    Error error;
    const auto back = KeyedUnarchiver::unarchiveObject(*data, &error);
    ASSERT_TRUE(back) << error.description();
    EXPECT_EQ(KeyedArchiver::archivedData(*back), data);
    const auto value = back->toValue();
    ASSERT_TRUE(value);
    EXPECT_EQ((*value)["k3"][7]["k0"][1]["k7"][2][0].stringValue(), "leaf");
}
