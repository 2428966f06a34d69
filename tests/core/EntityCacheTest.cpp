#include <gtest/gtest.h>

#include <sys/stat.h>
#include <filesystem>
#include <latch>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "RZBase_Source/Encode/RAZududeUtils.h"
#include "SocialSDK/core/cache/RZSCacheManager.h"
#include "platform/AppFolders.h"
#include "platform/PropertyList.h"
#include "tests/support/LogCapture.h"
#include "tests/support/TempDir.h"

using platform::Map;
using platform::Value;

namespace {

// An entity as the share service keeps them: it archives itself by key.
class Counter : public platform::Archivable {
  public:
    Counter(std::string name, std::int64_t count) : name_(std::move(name)), count_(count) {}
    explicit Counter(platform::KeyedUnarchiver& coder)
        : name_(coder.decodeString("name").value_or("")), count_(coder.decodeInt64("count")) {}

    std::string archiveClassName() const override { return "RZSTestCounter"; }
    void encode(platform::KeyedArchiver& coder) const override {
        coder.encodeObject(Value(name_), "name");
        coder.encodeInt64(count_, "count");
    }

    const std::string& name() const { return name_; }
    std::int64_t count() const { return count_; }

  private:
    std::string name_;
    std::int64_t count_;
};

using CounterPtr = std::shared_ptr<Counter>;

class EntityCache : public testing::Test {
  protected:
    void SetUp() override {
        platform::ArchiveRegistry::shared().add<Counter>("RZSTestCounter");
        std::filesystem::remove(RZSCacheManager::valueFilePath());
        std::filesystem::remove(documents() / ".RAZududeData.plist");
        std::filesystem::remove(documents() / "RAZududeData.plist");
        std::filesystem::create_directories(documents());
        manager_ = std::make_unique<RZSCacheManager>(cache_);
    }
    void TearDown() override {
        RZSCacheManager::setCurrentDataManagerIdentifier(std::nullopt);
        RAZududeUtils::setOpenLog(false);
    }

    static std::filesystem::path documents() { return platform::AppFolders::documents(); }

    static void writePlist(const std::filesystem::path& path, const Map& values) {
        std::filesystem::create_directories(path.parent_path());
        ASSERT_TRUE(platform::PropertyList::writeFile(Value(values), path,
                                                      platform::PropertyList::Format::kXml));
    }

    // Runs the calls with the debug log on and returns what it printed.
    static std::string debugLogOf(const std::function<void()>& calls) {
        RAZududeUtils::setOpenLog(true);
        testing::internal::CaptureStdout();
        calls();
        std::string printed = testing::internal::GetCapturedStdout();
        RAZududeUtils::setOpenLog(false);
        return printed;
    }

    testing_support::TempDir folder_;
    RAZududeCache cache_{folder_.path() / "RZCache"};
    std::unique_ptr<RZSCacheManager> manager_;
};

}  // namespace

TEST_F(EntityCache, StoringThroughAVariableThatIsStillNilKeepsTheEntity) {
    CounterPtr counter;
    manager_->setCacheToVariable(counter, std::make_shared<Counter>("分享", 7), "RZSTestCounter");
    ASSERT_TRUE(counter);
    EXPECT_TRUE(manager_->hasCacheForKey("RZSTestCounter"));

    CounterPtr loaded;
    manager_->changeVariableFromCache(loaded, "RZSTestCounter");
    ASSERT_TRUE(loaded);
    EXPECT_NE(loaded, counter);
    EXPECT_EQ(loaded->name(), "分享");
    EXPECT_EQ(loaded->count(), 7);

    // On disk: a binary property list holding the keyed archive as data.
    cache_.waitForDiskOperations();
    EXPECT_EQ(testing_support::runPython(R"(
import plistlib
outer = plistlib.load(open(r')" + (cache_.directory() / "RZSTestCounter").string() +
                                         R"(', 'rb'))
archive = plistlib.loads(outer)
objects = archive['$objects']
root = objects[archive['$top']['root'].data]
print(archive['$archiver'], objects[root['$class'].data]['$classname'],
      objects[root['name'].data], root['count'])
)"),
              "NSKeyedArchiver RZSTestCounter 分享 7\n");
}

TEST_F(EntityCache, NilAndTheNullObjectAreNotArchived) {
    std::optional<Value> appInfo = Value(Map{{"old", 1}});
    manager_->setCacheToVariable(appInfo, std::optional<Value>(Value()), "appInfo");
    EXPECT_EQ(appInfo, Value());
    EXPECT_FALSE(manager_->hasCacheForKey("appInfo"));
    manager_->setCacheToVariable(appInfo, std::optional<Value>(), "appInfo");
    EXPECT_FALSE(appInfo);
    EXPECT_FALSE(manager_->hasCacheForKey("appInfo"));

    const Value info(Map{{"name", "demo"}, {"platforms", platform::Array{"sina", "qq"}}});
    manager_->setCacheToVariable(appInfo, std::optional<Value>(info), "appInfo");
    std::optional<Value> loaded;
    manager_->changeVariableFromCache(loaded, "appInfo");
    EXPECT_EQ(loaded, info);
}

TEST_F(EntityCache, LoadingLeavesAVariableThatHoldsSomething) {
    CounterPtr stored;
    manager_->setCacheToVariable(stored, std::make_shared<Counter>("cached", 1), "RZSTestCounter");
    auto mine = std::make_shared<Counter>("mine", 2);
    CounterPtr variable = mine;
    manager_->changeVariableFromCache(variable, "RZSTestCounter");
    EXPECT_EQ(variable, mine);

    using Friends = std::optional<std::vector<CounterPtr>>;
    Friends friends;
    manager_->setCacheToVariable(
        friends,
        Friends(std::vector{std::make_shared<Counter>("a", 1), std::make_shared<Counter>("b", 2)}),
        "RZSFriendEntity-sina-42");
    Friends loaded;
    manager_->changeVariableFromCache(loaded, "RZSFriendEntity-sina-42");
    ASSERT_TRUE(loaded);
    ASSERT_EQ(loaded->size(), 2u);
    EXPECT_EQ((*loaded)[1]->name(), "b");
}

TEST_F(EntityCache, BarCountersOfEachDataManagerHaveTheirOwnKey) {
    EXPECT_EQ(manager_->getKeyNameFromVariable("RZSBarEntity"), "RZSBarEntity-(null)");
    EXPECT_EQ(manager_->getKeyNameFromVariable("appInfo"), "appInfo");

    RZSCacheManager::setCurrentDataManagerIdentifier("http://example.com/item/1");
    CounterPtr first;
    manager_->setCacheToVariable(first, std::make_shared<Counter>("one", 10), "RZSBarEntity");
    RZSCacheManager::setCurrentDataManagerIdentifier("item-2");
    CounterPtr second;
    manager_->setCacheToVariable(second, std::make_shared<Counter>("two", 20), "RZSBarEntity");

    EXPECT_TRUE(manager_->hasCacheForKey("RZSBarEntity-http://example.com/item/1"));
    EXPECT_TRUE(manager_->hasCacheForKey("RZSBarEntity-item-2"));
    RZSCacheManager::setCurrentDataManagerIdentifier("http://example.com/item/1");
    CounterPtr loaded;
    manager_->changeVariableFromCache(loaded, "RZSBarEntity");
    ASSERT_TRUE(loaded);
    EXPECT_EQ(loaded->count(), 10);
}

TEST_F(EntityCache, ArchivesThatCannotBeMadeOrReadAreLoggedAndLeaveNil) {
    std::optional<Value> text;
    const std::string archiving = debugLogOf(
        [&] { manager_->setCacheToVariable(text, std::optional<Value>("a\xff"), "bad"); });
    EXPECT_NE(archiving.find("using NSKeyedArchiver archivedDataWithRootObject error!!"),
              std::string::npos)
        << archiving;
    EXPECT_EQ(text, Value("a\xff"));
    EXPECT_FALSE(manager_->hasCacheForKey("bad"));

    cache_.setPlist(Value(platform::Bytes{1, 2, 3}), "RZSTestCounter");
    cache_.setPlist(Value("not data"), "words");
    manager_->setCacheData(platform::ArchiveObject(Value(Map{{"a", 1}})), "a-dictionary");
    CounterPtr counter;
    CounterPtr fromWords;
    CounterPtr fromDictionary;
    const std::string reading = debugLogOf([&] {
        manager_->changeVariableFromCache(counter, "RZSTestCounter");
        manager_->changeVariableFromCache(fromWords, "words");
        manager_->changeVariableFromCache(fromDictionary, "a-dictionary");
    });
    EXPECT_FALSE(counter);
    EXPECT_FALSE(fromWords);
    EXPECT_FALSE(fromDictionary);
    std::size_t lines = 0;
    for (std::size_t at = 0;
         (at = reading.find("using NSKeyedUnarchiver NSKeyedUnarchiver error!!  \n", at)) !=
         std::string::npos;
         ++at) {
        ++lines;
    }
    EXPECT_EQ(lines, 3u) << reading;
}

TEST_F(EntityCache, ValuesLiveInTheLibraryFileForTheOwnerOnly) {
    EXPECT_FALSE(manager_->getValueFromDocument("appkey"));
    manager_->setValueInDocument("5211818556240bc9ee01db2f", "appkey");
    manager_->setValueInDocument("小明", "userName");
    EXPECT_EQ(manager_->getValueFromDocument("appkey"), "5211818556240bc9ee01db2f");
    manager_->setValueInDocument(std::nullopt, "userName");
    EXPECT_FALSE(manager_->getValueFromDocument("userName"));

    const std::filesystem::path file = RZSCacheManager::valueFilePath();
    EXPECT_EQ(file, platform::AppFolders::library() / ".RAZududeData.plist");
    EXPECT_EQ(testing_support::runPython("import plistlib; print(plistlib.load(open(r'" +
                                         file.string() + "', 'rb')))"),
              "{'appkey': '5211818556240bc9ee01db2f'}\n");
    struct stat info {};
    ASSERT_EQ(::stat(file.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
}

// Every write reads the file, changes one key and writes the file back; writers on other
// threads must not each write back what they read before the others' changes.
TEST_F(EntityCache, ConcurrentWritersOfTheValueFileLoseNothing) {
    constexpr int kWriters = 8;
    constexpr int kKeys = 6;
    std::latch start(kWriters);
    std::vector<std::thread> threads;
    for (int t = 0; t < kWriters; ++t) {
        threads.emplace_back([this, &start, t] {
            start.arrive_and_wait();
            for (int i = 0; i < kKeys; ++i) {
                manager_->setValueInDocument(std::to_string(t * kKeys + i),
                                             "key-" + std::to_string(t * kKeys + i));
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    const auto stored = platform::PropertyList::readFile(RZSCacheManager::valueFilePath());
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->count(), static_cast<std::size_t>(kWriters * kKeys));
    for (int n = 0; n < kWriters * kKeys; ++n) {
        EXPECT_EQ(manager_->getValueFromDocument("key-" + std::to_string(n)), std::to_string(n));
    }
}

TEST_F(EntityCache, TheValueFileMovesFromDocumentsUnlessLibraryHasOne) {
    writePlist(documents() / ".RAZududeData.plist", Map{{"appkey", "moved"}});
    RZSCacheManager moving(cache_);
    EXPECT_FALSE(std::filesystem::exists(documents() / ".RAZududeData.plist"));
    EXPECT_EQ(moving.getValueFromDocument("appkey"), "moved");

    writePlist(documents() / ".RAZududeData.plist", Map{{"appkey", "older"}});
    testing_support::LogCapture log;
    RZSCacheManager blocked(cache_);
    EXPECT_TRUE(log.contains("data transter error: "));
    EXPECT_TRUE(std::filesystem::exists(documents() / ".RAZududeData.plist"));
    EXPECT_EQ(blocked.getValueFromDocument("appkey"), "moved");
}

// The oldest file once went over the Library file before every write, bringing back its old
// values each time; now its values only fill gaps, once, and the file stays for older builds.
TEST_F(EntityCache, TheOldestValueFileIsTakenOverOnceAndKept) {
    const std::filesystem::path legacy = documents() / "RAZududeData.plist";
    writePlist(RZSCacheManager::valueFilePath(), Map{{"appkey", "new"}});
    writePlist(legacy, Map{{"appkey", "old"}, {"userName", "bob"}});
    RZSCacheManager manager(cache_);
    EXPECT_EQ(manager.getValueFromDocument("appkey"), "new");
    EXPECT_EQ(manager.getValueFromDocument("userName"), "bob");
    EXPECT_EQ(platform::PropertyList::readFile(legacy),
              Value(Map{{"appkey", "old"}, {"userName", "bob"}}));

    manager.setValueInDocument("newer", "appkey");
    manager.setValueInDocument(std::nullopt, "userName");
    EXPECT_EQ(manager.getValueFromDocument("appkey"), "newer");

    // The next launch takes nothing over again: a removed value stays removed.
    RZSCacheManager next(cache_);
    EXPECT_EQ(next.getValueFromDocument("appkey"), "newer");
    EXPECT_FALSE(next.getValueFromDocument("userName"));
    EXPECT_TRUE(std::filesystem::exists(legacy));

    // One that cannot be read stays where it is, and is reported.
    std::filesystem::remove(RZSCacheManager::valueFilePath());
    platform::Files::writeAtomically(legacy, platform::Bytes{'n', 'o', 'p', 'e'});
    testing_support::LogCapture log;
    RZSCacheManager unreadable(cache_);
    EXPECT_TRUE(log.contains("data transter error: "));
    EXPECT_TRUE(std::filesystem::exists(legacy));
    EXPECT_FALSE(unreadable.getValueFromDocument("appkey"));
}

TEST_F(EntityCache, TheSharedManagerGivesEntriesSevenDaysOnce) {
    RZSCacheManager::shareInstance();
    RZSCacheManager::shareInstance();
    EXPECT_EQ(RAZududeCache::currentCache().defaultTimeoutInterval(), 604800);
    EXPECT_EQ(RAZududeCache::currentCache().directory(),
              platform::AppFolders::caches() / platform::AppFolders::processName() / "RZCache");
}
