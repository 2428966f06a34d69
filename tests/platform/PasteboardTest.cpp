#include "platform/Pasteboard.h"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>
#include <set>

#include "platform/KeyedArchive.h"

using platform::Bytes;
using platform::Pasteboard;
namespace fs = std::filesystem;

namespace {

std::size_t entriesIn(const fs::path& folder) {
    std::error_code error;
    if (!fs::exists(folder, error)) {
        return 0;
    }
    return static_cast<std::size_t>(std::distance(fs::directory_iterator(folder), {}));
}

// A value that shows whether it arrived whole: a header naming writer and round, then a body
// of one repeated byte derived from both.
Bytes stamped(int writer, int round) {
    const std::uint8_t fill = static_cast<std::uint8_t>(writer * 64 + round % 61 + 1);
    Bytes value = {static_cast<std::uint8_t>(writer), static_cast<std::uint8_t>(round >> 8),
                   static_cast<std::uint8_t>(round & 0xff), fill};
    value.resize(48 * 1024 + static_cast<std::size_t>(round % 7) * 1000, fill);
    return value;
}

bool isWhole(const Bytes& value) {
    if (value.size() < 4) {
        return false;
    }
    const int writer = value[0];
    const int round = (value[1] << 8) | value[2];
    return value == stamped(writer, round);
}

}  // namespace

TEST(Pasteboard, LookupWithoutCreatingMakesNothing) {
    const std::size_t before = entriesIn(Pasteboard::folder());
    for (int slot = 0; slot < 100; ++slot) {
        EXPECT_FALSE(
            Pasteboard::pasteboardWithName("org.DeviceUDID.slot." + std::to_string(slot), false));
    }
    EXPECT_EQ(entriesIn(Pasteboard::folder()), before);

    auto made = Pasteboard::pasteboardWithName("org.DeviceUDID.slot.0", true);
    ASSERT_TRUE(made);
    EXPECT_FALSE(made->persistent());
    EXPECT_FALSE(made->dataForPasteboardType("org.DeviceUDID"));
    auto found = Pasteboard::pasteboardWithName("org.DeviceUDID.slot.0", false);
    ASSERT_TRUE(found);
    EXPECT_EQ(found->name(), "org.DeviceUDID.slot.0");
}

TEST(Pasteboard, DataAndPersistenceAreSeenThroughAnyLookup) {
    auto board = Pasteboard::pasteboardWithName("org.DeviceUDID.slot.7", true);
    ASSERT_TRUE(board);
    EXPECT_TRUE(board->setPersistent(true));
    // A keyed archive of a record, as the identifier store keeps it there.
    auto archive = platform::KeyedArchiver::archivedData(platform::Value(
        platform::Map{{"DeviceUDID", "abc"}, {"DeviceUDID_slot", "org.DeviceUDID.slot.7"}}));
    ASSERT_TRUE(archive);
    EXPECT_TRUE(board->setData(*archive, "org.DeviceUDID"));
    EXPECT_TRUE(board->setData(Bytes{1}, "other type"));

    auto again = Pasteboard::pasteboardWithName("org.DeviceUDID.slot.7", false);
    ASSERT_TRUE(again);
    EXPECT_TRUE(again->persistent());
    EXPECT_EQ(again->dataForPasteboardType("org.DeviceUDID"), archive);
    EXPECT_EQ(again->dataForPasteboardType("other type"), Bytes{1});
    auto record =
        platform::KeyedUnarchiver::unarchiveObject(*again->dataForPasteboardType("org.DeviceUDID"));
    ASSERT_TRUE(record);
    EXPECT_EQ((*record)["DeviceUDID"].value()->stringValue(), "abc");

    EXPECT_TRUE(again->setPersistent(false));
    EXPECT_FALSE(board->persistent());
    EXPECT_TRUE(board->setData({}, "org.DeviceUDID"));
    EXPECT_EQ(again->dataForPasteboardType("org.DeviceUDID"), Bytes{});
}

TEST(Pasteboard, NamesAndTypesNeverLeaveTheFolder) {
    const std::string hostile[] = {"",
                                   ".",
                                   "..",
                                   "../../escape",
                                   "a/b",
                                   "/etc",
                                   ".hidden",
                                   "~",
                                   "%41",
                                   "A",
                                   "名字",
                                   "a\\b",
                                   std::string("nul\0x", 5),
                                   std::string(300, 'x'),
                                   std::string(300, 'x') + "y",
                                   std::string(250, '/')};
    std::set<fs::path> folders;
    for (const std::string& name : hostile) {
        auto board = Pasteboard::pasteboardWithName(name, true);
        ASSERT_TRUE(board) << name;
        // Each name has a folder of its own, and every type one file of its own, directly
        // inside the pasteboards folder.
        for (const std::string& type : hostile) {
            ASSERT_TRUE(board->setData(platform::toBytes(name + "|" + type), type)) << type;
        }
        for (const std::string& type : hostile) {
            EXPECT_EQ(board->dataForPasteboardType(type), platform::toBytes(name + "|" + type));
        }
    }
    for (const auto& entry : fs::directory_iterator(Pasteboard::folder())) {
        ASSERT_TRUE(entry.is_directory()) << entry.path();
        EXPECT_NE(entry.path().filename().string()[0], '.');
        EXPECT_LE(entry.path().filename().string().size(), 200u);
        folders.insert(entry.path());
    }
    EXPECT_GE(folders.size(), std::size(hostile));
    EXPECT_FALSE(fs::exists(Pasteboard::folder().parent_path() / "escape"));
    EXPECT_FALSE(fs::exists(Pasteboard::folder() / "a" / "b"));
}

TEST(Pasteboard, TwoProcessesWritingAtOnceLeaveOneWholeValue) {
    const std::string name = "org.DeviceUDID.slot.42";
    auto board = Pasteboard::pasteboardWithName(name, true);
    ASSERT_TRUE(board);
    constexpr int kRounds = 150;

    // Both processes write and read as fast as they can; every read must be one whole value.
    auto work = [&](int writer) {
        auto mine = Pasteboard::pasteboardWithName(name, false);
        int torn = 0;
        for (int round = 0; round < kRounds; ++round) {
            if (!mine || !mine->setData(stamped(writer, round), "org.DeviceUDID")) {
                return -1;
            }
            auto seen = mine->dataForPasteboardType("org.DeviceUDID");
            torn += seen && !isWhole(*seen);
        }
        return torn;
    };
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        int torn = work(2);
        _exit(torn == 0 ? 0 : 1);
    }
    const int tornHere = work(1);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "the other process read a torn value";
    EXPECT_EQ(tornHere, 0);

    auto last = board->dataForPasteboardType("org.DeviceUDID");
    ASSERT_TRUE(last);
    EXPECT_TRUE(isWhole(*last));
    EXPECT_TRUE((*last)[0] == 1 || (*last)[0] == 2);
    EXPECT_EQ((((*last)[1] << 8) | (*last)[2]), kRounds - 1);
    // No temporary file is left behind.
    for (const auto& entry : fs::directory_iterator(Pasteboard::folder() / name)) {
        const std::string file = entry.path().filename().string();
        EXPECT_TRUE(file == "org.DeviceUDID" || file == ".lock") << file;
    }
}
