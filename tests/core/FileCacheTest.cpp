#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "SocialSDK/core/cache/RAZududeCache.h"
#include "platform/Files.h"
#include "platform/MainLoop.h"
#include "platform/PropertyList.h"
#include "tests/support/LogCapture.h"
#include "tests/support/TempDir.h"

using platform::Bytes;
using platform::Map;
using platform::Value;

namespace {

Bytes bytesOf(std::string_view text) {
    return Bytes(text.begin(), text.end());
}

std::string textOf(const std::optional<Bytes>& bytes) {
    return bytes ? std::string(bytes->begin(), bytes->end()) : std::string("<none>");
}

// A picture class as the cache sees one: PNG in, PNG out.
struct Picture {
    Bytes png;
    Bytes encodePng() const { return png; }
    static std::shared_ptr<const Picture> decode(const Bytes& data) {
        static const std::uint8_t kSignature[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
        if (data.size() < sizeof kSignature ||
            std::memcmp(data.data(), kSignature, sizeof kSignature) != 0) {
            return nullptr;
        }
        return std::make_shared<const Picture>(Picture{data});
    }
};

// A one-pixel PNG, made by an independent encoder.
Bytes onePixelPng() {
    const std::string hex = testing_support::runPython(R"(
import struct, zlib
def chunk(kind, data):
    return struct.pack('>I', len(data)) + kind + data + struct.pack('>I', zlib.crc32(kind + data))
png = b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', struct.pack('>IIBBBBB', 1, 1, 8, 6, 0, 0, 0)) \
    + chunk(b'IDAT', zlib.compress(b'\x00\xff\x00\x00\xff')) + chunk(b'IEND', b'')
print(png.hex(), end='')
)");
    Bytes png;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
        png.push_back(static_cast<std::uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    }
    return png;
}

class FileCache : public testing::Test {
  protected:
    void TearDown() override { platform::MainLoop::main().setManualClock(false); }

    std::filesystem::path folder() const { return root_.path() / "RZCache"; }
    std::filesystem::path indexFile() const { return folder() / RAZududeCache::kIndexFileName; }

    // The index as Python's plistlib reads it: "key=expired" per line, sorted.
    std::string indexSeenByPython() const {
        return testing_support::runPython(R"(
import datetime, plistlib
index = plistlib.load(open(r')" + indexFile().string() +
                                          R"(', 'rb'))
now = datetime.datetime.now(datetime.timezone.utc).replace(tzinfo=None)
for key in sorted(index):
    assert isinstance(index[key], datetime.datetime)
    print('%s=%s' % (key, 'expired' if index[key] <= now else 'live'))
)");
    }

    testing_support::TempDir root_;
};

}  // namespace

TEST_F(FileCache, OrdinaryKeysKeepTheirNamesAndNoKeyLeavesTheFolder) {
    for (const char* key : {"appInfo", "RZSBarEntity-7f3a", "RZSFriendEntity-sina-12345-at",
                            "RZImageLoader-0CC175B9C0F1B6A831C399E269772661", "a.b", "名字"}) {
        EXPECT_EQ(RAZududeCache::fileNameForKey(key), key);
    }

    const std::vector<std::string> unsafe = {"",
                                             ".",
                                             "..",
                                             ".hidden",
                                             "../../escape",
                                             "a/b",
                                             "a%2Fb",
                                             "%",
                                             "%2E",
                                             "RZCache.plist",
                                             "RZCache%2Eplist",
                                             "http://host/a/../b?c=%20",
                                             std::string(300, 'a'),
                                             std::string(300, 'a') + "b",
                                             std::string(120, '/')};
    std::set<std::string> names;
    for (const std::string& key : unsafe) {
        const std::string name = RAZududeCache::fileNameForKey(key);
        EXPECT_FALSE(name.empty());
        EXPECT_EQ(name.find('/'), std::string::npos) << name;
        EXPECT_EQ(name.find('\0'), std::string::npos) << name;
        EXPECT_NE(name.front(), '.') << name;
        EXPECT_NE(name, RAZududeCache::kIndexFileName);
        EXPECT_LE(name.size(), 220u);
        names.insert(name);
    }
    EXPECT_EQ(names.size(), unsafe.size());  // no two keys share a file
    EXPECT_NE(RAZududeCache::fileNameForKey(std::string("x\0y", 3)).find("%00"), std::string::npos);

    {
        RAZududeCache cache(folder());
        for (std::size_t i = 0; i < unsafe.size(); ++i) {
            if (unsafe[i] != RAZududeCache::kIndexFileName) {
                cache.setData(bytesOf("value " + std::to_string(i)), unsafe[i]);
            }
        }
    }
    // Only the cache folder exists beside it; inside, one file per key and the index.
    std::vector<std::filesystem::path> outside;
    for (const auto& entry : std::filesystem::directory_iterator(root_.path())) {
        outside.push_back(entry.path());
    }
    EXPECT_EQ(outside, std::vector<std::filesystem::path>{folder()});
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder()),
                            std::filesystem::directory_iterator()),
              static_cast<long>(unsafe.size()));

    RAZududeCache reloaded(folder());
    for (std::size_t i = 0; i < unsafe.size(); ++i) {
        if (unsafe[i] != RAZududeCache::kIndexFileName) {
            EXPECT_EQ(textOf(reloaded.dataForKey(unsafe[i])), "value " + std::to_string(i));
        }
    }
}

TEST_F(FileCache, WritesAndRemovalsForOneKeyLandInTheOrderAsked) {
    RAZududeCache cache(folder());
    for (int i = 0; i < 200; ++i) {
        const std::string value = "value " + std::to_string(i) + std::string(i * 37, 'x');
        cache.setData(bytesOf(value), "key");
        // A store is seen at once, before the disk has it.
        ASSERT_EQ(textOf(cache.dataForKey("key")), value);
        if (i % 9 == 4) {
            cache.removeCacheForKey("key");
            ASSERT_FALSE(cache.hasCacheForKey("key"));
        }
    }
    cache.setData(bytesOf("last"), "key");
    cache.waitForDiskOperations();
    EXPECT_EQ(textOf(platform::Files::read(folder() / "key")).substr(0, 20), "last");

    cache.setData(bytesOf("gone"), "key");
    cache.removeCacheForKey("key");
    cache.waitForDiskOperations();
    EXPECT_FALSE(std::filesystem::exists(folder() / "key"));
}

TEST_F(FileCache, AWriteStartedLateNeverPutsBackWhatCameAfterIt) {
    RAZududeCache cache(folder());
    {
        RAZududeCache::DeferredWrite write = cache.stageData(bytesOf("staged"), "key", 60);
        EXPECT_EQ(textOf(cache.dataForKey("key")), "staged");
        cache.waitForDiskOperations();
        EXPECT_FALSE(std::filesystem::exists(folder() / "key"));
    }
    cache.waitForDiskOperations();
    EXPECT_EQ(textOf(platform::Files::read(folder() / "key")), "staged");

    // Writes started after later changes to their key leave the file as the last change left it.
    RAZududeCache::DeferredWrite older = cache.stageData(bytesOf("older"), "key", 60);
    cache.setData(bytesOf("newer"), "key");
    cache.waitForDiskOperations();
    older.start();
    cache.waitForDiskOperations();
    EXPECT_EQ(textOf(platform::Files::read(folder() / "key")), "newer");
    EXPECT_EQ(textOf(cache.dataForKey("key")), "newer");

    RAZududeCache::DeferredWrite removed = cache.stageData(bytesOf("removed"), "key", 60);
    cache.removeCacheForKey("key");
    cache.waitForDiskOperations();
    removed = cache.stageData(bytesOf("other"), "other key", 60);  // starts the removed one
    cache.waitForDiskOperations();
    EXPECT_FALSE(std::filesystem::exists(folder() / "key"));
    EXPECT_FALSE(cache.hasCacheForKey("key"));
}

TEST_F(FileCache, StoresFromManyThreadsAllReachTheIndex) {
    constexpr int kThreads = 8;
    constexpr int kKeys = 60;
    RAZududeCache cache(folder());
    {
        std::vector<std::jthread> threads;
        for (int t = 0; t < kThreads; ++t) {
            threads.emplace_back([&cache, t] {
                for (int k = 0; k < kKeys; ++k) {
                    const std::string key = "t" + std::to_string(t) + "-" + std::to_string(k);
                    cache.setData(bytesOf(key), key);
                    if (k % 3 == 0) {
                        cache.removeCacheForKey(key);
                    }
                    cache.hasCacheForKey("t0-0");
                }
            });
        }
    }
    cache.saveCacheDictionary();
    int live = 0;
    for (int t = 0; t < kThreads; ++t) {
        for (int k = 0; k < kKeys; ++k) {
            const std::string key = "t" + std::to_string(t) + "-" + std::to_string(k);
            ASSERT_EQ(cache.hasCacheForKey(key), k % 3 != 0) << key;
            live += k % 3 != 0;
        }
    }
    const std::string index = indexSeenByPython();
    EXPECT_EQ(std::count(index.begin(), index.end(), '\n'), live);
}

TEST_F(FileCache, ExpiredEntriesAreHiddenButPicturesStayOnShow) {
    RAZududeCache cache(folder());
    cache.setData(bytesOf("now"), "zero", 0);
    cache.setData(bytesOf("past"), "negative", -5);
    cache.setPlist(Value(Map{{"a", 1}}), "plist", 0);
    const Bytes png = onePixelPng();
    cache.setImage(Picture{png}, "picture", 0);
    cache.setImage(Picture{png}, "fresh");

    for (const char* key : {"zero", "negative", "plist", "picture"}) {
        EXPECT_FALSE(cache.hasCacheForKey(key)) << key;
        EXPECT_FALSE(cache.dataForKey(key)) << key;
    }
    EXPECT_FALSE(cache.plistForKey("plist"));
    auto picture = cache.imageForKey<Picture>("picture");
    ASSERT_TRUE(picture);
    EXPECT_EQ(picture->png, png);
    EXPECT_TRUE(cache.hasCacheForKey("fresh"));
    EXPECT_FALSE(cache.imageForKey<Picture>("zero"));  // not a picture
    EXPECT_FALSE(cache.imageForKey<Picture>("missing"));
}

TEST_F(FileCache, ANewCacheOnTheFolderFindsLiveEntriesAndDropsExpiredFiles) {
    {
        RAZududeCache cache(folder(), 3600);
        cache.setData(bytesOf("kept"), "live");
        cache.setData(bytesOf("dropped"), "dead", -1);
        cache.waitForDiskOperations();
        EXPECT_TRUE(std::filesystem::exists(folder() / "dead"));
    }  // the pending index save is written as the cache goes
    EXPECT_EQ(indexSeenByPython(), "dead=expired\nlive=live\n");

    RAZududeCache reloaded(folder());
    EXPECT_FALSE(std::filesystem::exists(folder() / "dead"));
    EXPECT_EQ(textOf(reloaded.dataForKey("live")), "kept");
    EXPECT_FALSE(reloaded.hasCacheForKey("dead"));
    reloaded.setData(bytesOf("again"), "dead");
    EXPECT_EQ(textOf(reloaded.dataForKey("dead")), "again");

    // A malformed index starts an empty cache.
    reloaded.waitForDiskOperations();
    platform::Files::writeAtomically(indexFile(), bytesOf("not a property list"));
    RAZududeCache fresh(folder());
    EXPECT_FALSE(fresh.hasCacheForKey("live"));
}

// Entries are written without waiting for the disk, so a power cut can leave a live entry's
// file empty: empty contents are a miss in every form, never empty bytes, nor a picture or
// property list that fails to decode.
TEST_F(FileCache, AnEntryLeftEmptyIsAMiss) {
    {
        RAZududeCache cache(folder(), 3600);
        cache.setData(bytesOf("bytes"), "data");
        cache.setPlist(Value(Map{{"a", 1}}), "plist");
        cache.setData(onePixelPng(), "picture");
        cache.setData(bytesOf("kept"), "kept");
    }
    for (const char* key : {"data", "plist", "picture"}) {
        std::filesystem::resize_file(folder() / key, 0);
    }
    RAZududeCache cache(folder());
    for (const char* key : {"data", "plist", "picture"}) {
        EXPECT_FALSE(cache.hasCacheForKey(key)) << key;
        EXPECT_FALSE(cache.dataForKey(key)) << key;
    }
    EXPECT_FALSE(cache.plistForKey("plist"));
    EXPECT_FALSE(cache.imageForKey<Picture>("picture"));
    EXPECT_EQ(textOf(cache.dataForKey("kept")), "kept");

    // Stored empty, an entry is a miss too, before its write and after it.
    cache.setData(Bytes(), "kept");
    EXPECT_FALSE(cache.hasCacheForKey("kept"));
    EXPECT_FALSE(cache.dataForKey("kept"));
    cache.waitForDiskOperations();
    EXPECT_FALSE(cache.dataForKey("kept"));
    cache.setData(bytesOf("again"), "data");
    EXPECT_EQ(textOf(cache.dataForKey("data")), "again");
}

// A process that runs for long must not keep the files of entries that expired meanwhile; a
// key stored again after its sweep keeps its new file.
TEST_F(FileCache, IndexWritesRemoveTheFilesOfEntriesThatExpiredMeanwhile) {
    RAZududeCache cache(folder(), 3600);
    cache.setData(bytesOf("kept"), "live");
    cache.setData(bytesOf("dropped"), "dead", -1);
    cache.setData(onePixelPng(), "picture", 0);  // read back as a picture below
    cache.waitForDiskOperations();
    ASSERT_TRUE(std::filesystem::exists(folder() / "dead"));

    cache.saveCacheDictionary();
    cache.waitForDiskOperations();
    EXPECT_FALSE(std::filesystem::exists(folder() / "dead"));
    EXPECT_FALSE(cache.imageForKey<Picture>("picture"));
    EXPECT_EQ(textOf(cache.dataForKey("live")), "kept");
    EXPECT_EQ(indexSeenByPython(), "dead=expired\nlive=live\npicture=expired\n");

    cache.setData(bytesOf("again"), "dead");
    cache.saveCacheDictionary();
    cache.waitForDiskOperations();
    EXPECT_EQ(textOf(cache.dataForKey("dead")), "again");
}

TEST_F(FileCache, TheIndexFileIsNeverAnEntry) {
    // An index that names itself, as a damaged or hostile one might.
    std::filesystem::create_directories(folder());
    testing_support::runPython(R"(
import datetime, plistlib
later = datetime.datetime(2060, 1, 1)
plistlib.dump({'RZCache.plist': later, 'k': later}, open(r')" +
                               indexFile().string() +
                               R"(', 'wb'))
open(r')" + (folder() / "k").string() +
                               R"(', 'w').write('entry')
)");
    RAZududeCache cache(folder());
    EXPECT_TRUE(cache.hasCacheForKey("k"));
    EXPECT_FALSE(cache.hasCacheForKey(RAZududeCache::kIndexFileName));
    EXPECT_FALSE(cache.imageForKey<Picture>(RAZududeCache::kIndexFileName));

    const auto before = platform::Files::read(indexFile());
    cache.setData(bytesOf("overwrite"), RAZududeCache::kIndexFileName);
    cache.setPlist(Value("overwrite"), RAZududeCache::kIndexFileName);
    EXPECT_FALSE(cache.copyFilePath(indexFile(), RAZududeCache::kIndexFileName));
    cache.removeCacheForKey(RAZududeCache::kIndexFileName);
    cache.waitForDiskOperations();
    EXPECT_EQ(platform::Files::read(indexFile()), before);

    cache.clearCache();
    cache.waitForDiskOperations();
    EXPECT_FALSE(std::filesystem::exists(folder() / "k"));
    EXPECT_EQ(platform::PropertyList::readFile(indexFile()), Value(Map{}));
}

// One bad key or date must not keep the index, and with it every other entry, off the disk.
TEST_F(FileCache, KeysAndDatesTheIndexCannotHoldAreRefusedOrBounded) {
    testing_support::LogCapture log;
    {
        RAZududeCache cache(folder());
        cache.setData(bytesOf("nul"), std::string("x\0y", 3));
        cache.setData(bytesOf("bytes"), "\xff\xfe");
        cache.setData(bytesOf("kept"), "ordinary");
        cache.setData(bytesOf("for ever"), "forever", 1e300);
        cache.setData(bytesOf("long ago"), "ancient", -1e300);
        EXPECT_FALSE(cache.hasCacheForKey(std::string("x\0y", 3)));
        EXPECT_FALSE(cache.hasCacheForKey("\xff\xfe"));
        EXPECT_THROW(cache.setData(bytesOf("?"), "nan", std::nan("")), std::invalid_argument);
    }
    EXPECT_TRUE(log.contains("RZCache: nothing stored: a key must be UTF-8 text without NUL"));
    EXPECT_FALSE(log.contains("the index cannot be written"));
    EXPECT_EQ(indexSeenByPython(), "ancient=expired\nforever=live\nordinary=live\n");
    RAZududeCache reloaded(folder());
    EXPECT_EQ(textOf(reloaded.dataForKey("ordinary")), "kept");
    EXPECT_EQ(textOf(reloaded.dataForKey("forever")), "for ever");
}

TEST_F(FileCache, TheIndexIsWrittenOncePerPauseInStores) {
    platform::MainLoop& loop = platform::MainLoop::main();
    loop.setManualClock(true);
    RAZududeCache cache(folder());
    // The main loop's timer hands the write to the disk queue.
    const auto advance = [&](double seconds) {
        loop.advance(seconds);
        cache.waitForDiskOperations();
    };
    cache.setData(bytesOf("1"), "a");
    advance(0.2);
    EXPECT_FALSE(std::filesystem::exists(indexFile()));
    cache.setData(bytesOf("2"), "b");
    advance(0.2);
    EXPECT_FALSE(std::filesystem::exists(indexFile()));
    advance(0.11);
    EXPECT_EQ(indexSeenByPython(), "a=live\nb=live\n");

    // A store from another thread restarts the wait on the main loop.
    std::thread([&cache] { cache.setData(bytesOf("3"), "c"); }).join();
    advance(0.28);
    EXPECT_EQ(indexSeenByPython(), "a=live\nb=live\n");
    advance(0.03);
    EXPECT_EQ(indexSeenByPython(), "a=live\nb=live\nc=live\n");

    // Removals write it at once, even of a key that was never stored.
    cache.removeCacheForKey("a");
    EXPECT_EQ(indexSeenByPython(), "b=live\nc=live\n");
    std::filesystem::remove(indexFile());
    cache.removeCacheForKey("never");
    EXPECT_EQ(indexSeenByPython(), "b=live\nc=live\n");

    // A write in the middle of a burst of stores does not end the burst's wait.
    cache.setData(bytesOf("4"), "d");
    advance(0.1);
    cache.removeCacheForKey("b");
    cache.setData(bytesOf("5"), "e");
    advance(0.29);
    EXPECT_EQ(indexSeenByPython(), "c=live\nd=live\n");
    advance(0.02);
    EXPECT_EQ(indexSeenByPython(), "c=live\nd=live\ne=live\n");
}

TEST_F(FileCache, PropertyListsAreStoredInTheBinaryForm) {
    RAZududeCache cache(folder());
    const Value plist(Map{{"name", "分享"},
                          {"count", 3},
                          {"when", platform::Date(1500000000)},
                          {"raw", Bytes{0, 1, 2}},
                          {"list", platform::Array{Value(1.5), Value(true)}}});
    cache.setPlist(plist, "entity");
    EXPECT_EQ(cache.plistForKey("entity"), plist);
    cache.waitForDiskOperations();
    EXPECT_EQ(testing_support::runPython(R"(
import plistlib
data = open(r')" + (folder() / "entity").string() +
                                         R"(', 'rb').read()
value = plistlib.loads(data)
print(data[:8].decode(), value['name'], value['count'], value['when'].isoformat(),
      value['raw'].hex(), value['list'])
)"),
              "bplist00 分享 3 2017-07-14T02:40:00 000102 [1.5, True]\n");

    testing_support::LogCapture log;
    cache.setPlist(Value(platform::Array{Value()}), "holds-null");
    EXPECT_FALSE(cache.hasCacheForKey("holds-null"));
    EXPECT_TRUE(log.contains("RZCache: nothing stored for \"holds-null\""));
}

TEST_F(FileCache, CopiesTakeTheFileAsItIsNowAndAVanishedFolderComesBack) {
    const std::filesystem::path source = root_.path() / "source.bin";
    platform::Files::writeAtomically(source, bytesOf("first"));
    RAZududeCache cache(folder());
    EXPECT_TRUE(cache.copyFilePath(source, "copy"));
    platform::Files::writeAtomically(source, bytesOf("second"));
    EXPECT_EQ(textOf(cache.dataForKey("copy")), "first");
    EXPECT_TRUE(cache.copyFilePath(source, "copy", 60));  // replaces the entry
    EXPECT_EQ(textOf(cache.dataForKey("copy")), "second");
    EXPECT_FALSE(cache.copyFilePath(root_.path() / "missing", "other"));
    EXPECT_FALSE(cache.hasCacheForKey("other"));

    cache.waitForDiskOperations();
    std::filesystem::remove_all(folder());  // a clean-up of the caches folder
    cache.setData(bytesOf("after"), "later");
    cache.waitForDiskOperations();
    EXPECT_EQ(textOf(platform::Files::read(folder() / "later")), "after");
}
