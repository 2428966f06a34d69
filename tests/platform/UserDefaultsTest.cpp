#include "platform/UserDefaults.h"

#include <gtest/gtest.h>

#include <fstream>
#include <latch>
#include <thread>

#include "platform/AppFolders.h"
#include "platform/Files.h"
#include "platform/PropertyList.h"
#include "tests/platform/FileSizeLimit.h"
#include "tests/support/TempDir.h"

using platform::Array;
using platform::Bytes;
using platform::Date;
using platform::Map;
using platform::UserDefaults;
using platform::Value;
using testing_support::TempDir;

namespace {

std::string contents(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::vector<std::filesystem::path> asideFiles(const std::filesystem::path& folder) {
    std::vector<std::filesystem::path> found;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        if (entry.path().filename().string().find(".corrupt-") != std::string::npos) {
            found.push_back(entry.path());
        }
    }
    return found;
}

}  // namespace

TEST(UserDefaults, ValuesReachAFreshStoreAndPython) {
    TempDir dir;
    const auto file = dir.path() / "Preferences" / "app.plist";
    {
        UserDefaults defaults(file);
        EXPECT_FALSE(std::filesystem::exists(file));  // nothing is written before a change
        defaults.setObject("uid-123", "RAZudude_uid");
        defaults.setInteger(5, "RAZududeOpCount");
        defaults.setBool(true, "loginWithAnonymous");
        defaults.setDouble(2.5, "ratio");
        defaults.setObject(Date::fromReferenceInterval(3600), "created");
        defaults.setObject(Map{{"DeviceUDID", "abc"}, {"n", Array{1, 2}}}, "DeviceUDID");
        defaults.setObject(Array{"x"}, "list");
    }
    UserDefaults fresh(file);
    EXPECT_EQ(fresh.stringForKey("RAZudude_uid"), "uid-123");
    EXPECT_EQ(fresh.integerForKey("RAZududeOpCount"), 5);
    EXPECT_TRUE(fresh.boolForKey("loginWithAnonymous"));
    EXPECT_DOUBLE_EQ(fresh.doubleForKey("ratio"), 2.5);
    EXPECT_EQ(fresh.dateForKey("created"), Date::fromReferenceInterval(3600));
    EXPECT_EQ(fresh.dictionaryForKey("DeviceUDID"),
              (Map{{"DeviceUDID", "abc"}, {"n", Array{1, 2}}}));
    EXPECT_EQ(fresh.arrayForKey("list"), Array{"x"});
    EXPECT_EQ(fresh.dictionaryRepresentation().size(), 7u);

    std::string seen = testing_support::runPython(R"(
import plistlib, sys
v = plistlib.loads(sys.stdin.buffer.read())
print(v['RAZudude_uid'], v['RAZududeOpCount'], v['loginWithAnonymous'], v['created'].isoformat(), v['DeviceUDID']['n'])
)",
                                                  contents(file));
    EXPECT_EQ(seen, "uid-123 5 True 2001-01-01T01:00:00 [1, 2]\n");
}

TEST(UserDefaults, AccessorsReadLeniently) {
    TempDir dir;
    UserDefaults defaults(dir.path() / "d.plist");
    defaults.setObject("42abc", "text");
    defaults.setInteger(7, "number");
    EXPECT_EQ(defaults.integerForKey("text"), 42);
    EXPECT_EQ(defaults.stringForKey("number"), "7");
    EXPECT_TRUE(defaults.boolForKey("number"));
    EXPECT_FALSE(defaults.stringForKey("missing"));
    EXPECT_EQ(defaults.integerForKey("missing"), 0);
    EXPECT_FALSE(defaults.boolForKey("missing"));
    EXPECT_TRUE(defaults.objectForKey("missing").isNull());
    EXPECT_FALSE(defaults.dictionaryForKey("text"));
    EXPECT_FALSE(defaults.arrayForKey("number"));
    EXPECT_FALSE(defaults.dateForKey("text"));
    defaults.setObject(Map{}, "map");
    EXPECT_FALSE(defaults.stringForKey("map"));
}

TEST(UserDefaults, RemovingAndRefusing) {
    TempDir dir;
    const auto file = dir.path() / "d.plist";
    UserDefaults defaults(file);
    defaults.setObject("v", "a");
    defaults.setObject("w", "b");
    defaults.setObject(Value(), "a");  // null removes
    defaults.removeObjectForKey("b");
    defaults.removeObjectForKey("never there");
    EXPECT_TRUE(defaults.dictionaryRepresentation().empty());
    EXPECT_TRUE(UserDefaults(file).dictionaryRepresentation().empty());

    defaults.setObject("kept", "k");
    const std::string before = contents(file);
    defaults.setObject(Array{1, Value()}, "k");  // no property list holds a null
    defaults.setObject("a\xff", "k");            // nor text that is not UTF-8
    defaults.setObject("v", "k\xff");
    EXPECT_EQ(defaults.stringForKey("k"), "kept");
    EXPECT_EQ(defaults.dictionaryRepresentation().size(), 1u);
    EXPECT_EQ(contents(file), before);
    EXPECT_TRUE(defaults.synchronize());
}

TEST(UserDefaults, ACorruptFileIsKeptAsideAndTheStoreStartsEmpty) {
    TempDir dir;
    const auto file = dir.path() / "d.plist";
    for (const std::string& junk :
         {std::string("bplist00 this is not a property list"), std::string("<?xml version"),
          std::string("(1, 2, 3)") /* a list, not a dictionary */}) {
        std::ofstream(file, std::ios::binary) << junk;
        UserDefaults defaults(file);
        EXPECT_TRUE(defaults.dictionaryRepresentation().empty());
        EXPECT_FALSE(std::filesystem::exists(file));  // moved, not overwritten
        auto aside = asideFiles(dir.path());
        ASSERT_EQ(aside.size(), 1u) << junk;
        EXPECT_EQ(contents(aside[0]), junk);

        defaults.setObject("fresh", "k");
        EXPECT_EQ(UserDefaults(file).stringForKey("k"), "fresh");
        EXPECT_EQ(contents(aside[0]), junk);
        std::filesystem::remove(aside[0]);
        std::filesystem::remove(file);
    }
}

TEST(UserDefaults, AFailedWriteLeavesTheOldFileWhole) {
    TempDir dir;
    const auto file = dir.path() / "d.plist";
    UserDefaults defaults(file);
    defaults.setObject("small", "k");
    const std::string before = contents(file);
    {
        testing_support::FileSizeLimit limit(1024);
        defaults.setObject(Bytes(64 * 1024, 1), "big");
        EXPECT_FALSE(defaults.synchronize());
    }
    EXPECT_EQ(contents(file), before);
    EXPECT_FALSE(UserDefaults(file).objectForKey("big").isBytes());
    // The value stayed in memory and reaches the disk once writing works again.
    EXPECT_TRUE(defaults.objectForKey("big").isBytes());
    EXPECT_TRUE(defaults.synchronize());
    EXPECT_TRUE(UserDefaults(file).objectForKey("big").isBytes());
}

TEST(UserDefaults, AFileInTheWayOfTheFolderFailsTheWrite) {
    TempDir dir;
    std::ofstream(dir.path() / "Preferences") << "in the way";
    UserDefaults defaults(dir.path() / "Preferences" / "d.plist");
    defaults.setObject("v", "k");
    EXPECT_EQ(defaults.stringForKey("k"), "v");
    EXPECT_FALSE(defaults.synchronize());
    EXPECT_EQ(contents(dir.path() / "Preferences"), "in the way");
}

// Rounds in which writers set their keys at the same moment on a store that has not read its
// file yet, a long file that takes a while to read. Only the store's lock keeps them from
// changing the store while another writer's first use is still replacing it with what the file
// holds, and from saving copies of it older than another's change.
TEST(UserDefaults, ConcurrentWritersLoseNothing) {
    TempDir dir;
    const auto file = dir.path() / "d.plist";
    Map stored;
    for (int i = 0; i < 5000; ++i) {
        stored.append("stored-" + std::to_string(i), "a value to read");
    }
    ASSERT_TRUE(platform::PropertyList::writeFile(Value(stored), file,
                                                  platform::PropertyList::Format::kBinary));
    constexpr int kWriters = 8;
    constexpr int kRounds = 10;
    for (int round = 0; round < kRounds; ++round) {
        UserDefaults defaults(file);
        std::latch start(kWriters);
        std::vector<std::thread> threads;
        for (int t = 0; t < kWriters; ++t) {
            threads.emplace_back([&defaults, &start, t, round] {
                const std::string key = "t" + std::to_string(t) + "-" + std::to_string(round);
                start.arrive_and_wait();
                defaults.setInteger(round, key);
                EXPECT_EQ(defaults.integerForKey(key), round);
            });
        }
        for (auto& thread : threads) {
            thread.join();
        }
        const std::size_t expected = stored.size() + kWriters * (round + 1);
        ASSERT_EQ(defaults.dictionaryRepresentation().size(), expected) << "round " << round;
        ASSERT_EQ(UserDefaults(file).dictionaryRepresentation().size(), expected)
            << "round " << round;
    }
}

TEST(UserDefaults, TheStandardStoreLivesInTheAppFolders) {
    UserDefaults& standard = UserDefaults::standardUserDefaults();
    EXPECT_EQ(&standard, &UserDefaults::standardUserDefaults());
    EXPECT_EQ(standard.file(), platform::AppFolders::defaultsFile());
    standard.setObject("yes", "userUseLocationSetting");
    EXPECT_TRUE(std::filesystem::exists(platform::AppFolders::defaultsFile()));
    EXPECT_EQ(
        UserDefaults(platform::AppFolders::defaultsFile()).stringForKey("userUseLocationSetting"),
        "yes");
    standard.removeObjectForKey("userUseLocationSetting");
}
