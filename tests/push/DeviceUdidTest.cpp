#include <gtest/gtest.h>

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <filesystem>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "platform/AppFolders.h"
#include "platform/Pasteboard.h"
#include "platform/UserDefaults.h"
#include "push/DUdUdirodDeviceUDID.h"
#include "tests/support/TempDir.h"

extern char** environ;

using platform::Map;
using platform::Pasteboard;
using platform::UserDefaults;
using platform::Value;

namespace {

const std::regex kIdentifier("[0-9a-f]{40}");
const std::string kZeros(40, '0');

std::string slot(int n) {
    return DUdUdirodDeviceUDID::kSlotPrefix + std::to_string(n);
}

// Another app's record on a slot pasteboard.
void putRecord(int n, const Map& record) {
    auto pasteboard = Pasteboard::pasteboardWithName(slot(n), true);
    ASSERT_TRUE(pasteboard);
    ASSERT_TRUE(DUdUdirodDeviceUDID::setDictForPasteboard(record, *pasteboard));
}

Map recordOf(const std::string& identifier, const std::string& appUID) {
    return Map{{DUdUdirodDeviceUDID::kRecordKey, identifier},
               {DUdUdirodDeviceUDID::kAppUIDKey, appUID},
               {DUdUdirodDeviceUDID::kCreatedKey, platform::Date::now()}};
}

Map slotRecord(int n) {
    auto pasteboard = Pasteboard::pasteboardWithName(slot(n), false);
    return pasteboard ? DUdUdirodDeviceUDID::getDictFromPasteboard(*pasteboard) : Map{};
}

std::string text(const Map& record, const char* key) {
    const Value* value = record.find(key);
    return value && value->isString() ? *value->string() : std::string();
}

// Each test starts on a device where no app has asked for the identifier yet.
class DeviceUdid : public testing::Test {
  protected:
    void SetUp() override { freshDevice(); }
    void TearDown() override { freshDevice(); }

    static void freshDevice() {
        std::filesystem::remove_all(Pasteboard::folder());
        UserDefaults& defaults = UserDefaults::standardUserDefaults();
        defaults.removeObjectForKey(DUdUdirodDeviceUDID::kRecordKey);
        defaults.removeObjectForKey(DUdUdirodDeviceUDID::kAppUIDKey);
        DUdUdirodDeviceUDID::clearProcessCache();
    }

    static std::string ask(long expectedCode) {
        platform::Error error;
        std::string identifier = DUdUdirodDeviceUDID::valueWithError(&error);
        EXPECT_EQ(error.domain(), DUdUdirodDeviceUDID::kErrorDomain);
        EXPECT_EQ(error.code(), expectedCode) << error.description();
        return identifier;
    }

    static Map localRecord() {
        return UserDefaults::standardUserDefaults()
            .dictionaryForKey(DUdUdirodDeviceUDID::kRecordKey)
            .value_or(Map{});
    }
};

}  // namespace

TEST_F(DeviceUdid, FirstAppMakesAnIdentifierAndTakesSlotZero) {
    platform::Error error;
    const std::string identifier = DUdUdirodDeviceUDID::valueWithError(&error);
    EXPECT_TRUE(std::regex_match(identifier, kIdentifier)) << identifier;
    EXPECT_EQ(error.code(), DUdUdirodDeviceUDID::kDelivered);
    EXPECT_EQ(error.userInfo()["description"], Value("DeviceUDID succesfully retrieved"));

    const Map local = localRecord();
    EXPECT_EQ(text(local, DUdUdirodDeviceUDID::kRecordKey), identifier);
    EXPECT_EQ(text(local, DUdUdirodDeviceUDID::kSlotKey), "org.DeviceUDID.slot.0");
    EXPECT_TRUE(local[DUdUdirodDeviceUDID::kCreatedKey].isDate());
    // The app's id lives in the record only.
    EXPECT_FALSE(UserDefaults::standardUserDefaults().stringForKey("DeviceUDID_appUID"));

    auto pasteboard = Pasteboard::pasteboardWithName("org.DeviceUDID.slot.0", false);
    ASSERT_TRUE(pasteboard);
    EXPECT_TRUE(pasteboard->persistent());
    EXPECT_EQ(DUdUdirodDeviceUDID::getDictFromPasteboard(*pasteboard), local);
    EXPECT_FALSE(Pasteboard::pasteboardWithName("org.DeviceUDID.slot.1", false));

    // The shared copy is a keyed archive of a plain dictionary, as every copy of the routine
    // reads it.
    const std::filesystem::path file =
        Pasteboard::folder() / "org.DeviceUDID.slot.0" / "org.DeviceUDID";
    const std::string seen = testing_support::runPython(R"(
import plistlib
archive = plistlib.load(open(r')" + file.string() + R"(', 'rb'))
objects = archive['$objects']
def at(ref):
    return objects[ref.data] if isinstance(ref, plistlib.UID) else ref
root = at(archive['$top']['root'])
record = dict(zip([at(k) for k in root['NS.keys']], [at(v) for v in root['NS.objects']]))
created = record['DeviceUDID_createdTS']
print(archive['$archiver'], at(root['$class'])['$classname'], record['DeviceUDID'],
      record['DeviceUDID_slot'], at(created['$class'])['$classname'],
      type(created['NS.time']).__name__, sorted(record))
)");
    EXPECT_EQ(seen, "NSKeyedArchiver NSDictionary " + identifier +
                        " org.DeviceUDID.slot.0 NSDate float ['DeviceUDID', 'DeviceUDID_appUID', "
                        "'DeviceUDID_createdTS', 'DeviceUDID_slot']\n");

    // Later calls answer from the process's memory.
    EXPECT_EQ(ask(DUdUdirodDeviceUDID::kDelivered), identifier);
    DUdUdirodDeviceUDID::value();
    platform::Error cached;
    DUdUdirodDeviceUDID::valueWithError(&cached);
    EXPECT_EQ(cached.userInfo()["description"], Value("DeviceUDID in cache from first call"));

    // A new process of the same app finds its record and keeps its slot.
    DUdUdirodDeviceUDID::clearProcessCache();
    EXPECT_EQ(ask(DUdUdirodDeviceUDID::kDelivered), identifier);
    EXPECT_FALSE(Pasteboard::pasteboardWithName("org.DeviceUDID.slot.1", false));
}

TEST_F(DeviceUdid, NewAppAdoptsTheMostFrequentCopyAndTakesTheFirstFreeSlot) {
    const std::string common(40, 'a');
    const std::string rare(40, 'b');
    putRecord(0, recordOf(rare, "APP-0"));
    putRecord(1, Map{{DUdUdirodDeviceUDID::kAppUIDKey, "APP-1"}});  // no identifier: free
    putRecord(2, recordOf(common, "APP-2"));
    putRecord(3, recordOf(common, "APP-3"));
    {
        auto garbage = Pasteboard::pasteboardWithName(slot(5), true);
        garbage->setData(platform::Bytes{'j', 'u', 'n', 'k'}, DUdUdirodDeviceUDID::kPasteboardType);
    }

    EXPECT_EQ(ask(DUdUdirodDeviceUDID::kDelivered), common);
    EXPECT_EQ(text(slotRecord(1), DUdUdirodDeviceUDID::kRecordKey), common);
    EXPECT_EQ(text(localRecord(), DUdUdirodDeviceUDID::kSlotKey), slot(1));
    EXPECT_EQ(text(slotRecord(0), DUdUdirodDeviceUDID::kRecordKey), rare);  // others untouched
}

// Other copies of the routine may write identifiers of another form: their records stay, and
// count like any other. Only what cannot be read makes a slot free.
TEST_F(DeviceUdid, RecordsOfOtherAppsAreKeptWhateverTheirIdentifierLooksLike) {
    const std::string upper = "ABCDEF0123456789ABCDEF0123456789ABCDEF01";
    const Map shortForm = recordOf("legacy-7", "APP-1");
    putRecord(0, recordOf(upper, "APP-0"));
    putRecord(1, shortForm);
    putRecord(2,
              Map{{DUdUdirodDeviceUDID::kRecordKey, 42}, {DUdUdirodDeviceUDID::kAppUIDKey, "X"}});
    putRecord(3, recordOf("legacy-7", "APP-3"));

    // "legacy-7" is held twice, and wins; the unreadable record's slot is the free one.
    EXPECT_EQ(ask(DUdUdirodDeviceUDID::kDelivered), "legacy-7");
    EXPECT_EQ(text(localRecord(), DUdUdirodDeviceUDID::kSlotKey), slot(2));
    EXPECT_EQ(text(slotRecord(0), DUdUdirodDeviceUDID::kRecordKey), upper);
    EXPECT_EQ(slotRecord(1), shortForm);
    EXPECT_EQ(text(slotRecord(3), DUdUdirodDeviceUDID::kAppUIDKey), "APP-3");
    EXPECT_FALSE(Pasteboard::pasteboardWithName(slot(4), false));
}

// This app's own record, written by an older copy with an identifier of another form, is the
// app's identifier still: it is neither replaced nor rewritten.
TEST_F(DeviceUdid, ALocalIdentifierOfAnotherFormStays) {
    Map local = recordOf("Legacy-Identifier", "APP-MINE");
    local.set(DUdUdirodDeviceUDID::kSlotKey, slot(0));
    UserDefaults::standardUserDefaults().setObject(Value(local), DUdUdirodDeviceUDID::kRecordKey);
    putRecord(0, local);

    EXPECT_EQ(ask(DUdUdirodDeviceUDID::kDelivered), "Legacy-Identifier");
    EXPECT_EQ(localRecord(), local);
    EXPECT_EQ(slotRecord(0), local);

    // Another app agreeing with the most frequent copy does not move it either.
    DUdUdirodDeviceUDID::clearProcessCache();
    putRecord(1, recordOf(std::string(40, 'a'), "APP-1"));
    putRecord(2, recordOf(std::string(40, 'a'), "APP-2"));
    EXPECT_EQ(ask(DUdUdirodDeviceUDID::kCompromised), "Legacy-Identifier");
    EXPECT_EQ(localRecord(), local);
}

// Of identifiers held equally often, the one that comes first in slot order is taken, whichever
// sorts first as text.
TEST_F(DeviceUdid, OfEquallyFrequentIdentifiersTheLowestSlotWins) {
    const std::string low(40, '1');
    const std::string high(40, 'e');
    for (const auto& [first, second] : {std::pair{low, high}, std::pair{high, low}}) {
        freshDevice();
        putRecord(0, recordOf(first, "APP-0"));
        putRecord(1, recordOf(second, "APP-1"));
        putRecord(2, recordOf(second, "APP-2"));
        putRecord(3, recordOf(first, "APP-3"));
        EXPECT_EQ(ask(DUdUdirodDeviceUDID::kDelivered), first);
        EXPECT_EQ(text(slotRecord(4), DUdUdirodDeviceUDID::kRecordKey), first);
    }
}

TEST_F(DeviceUdid, LocalRecordWinsButADisagreeingStoreIsReported) {
    const std::string mine(40, 'c');
    const std::string theirs(40, 'd');
    Map local = recordOf(mine, "APP-MINE");
    local.set(DUdUdirodDeviceUDID::kSlotKey, slot(0));
    UserDefaults::standardUserDefaults().setObject(Value(local), DUdUdirodDeviceUDID::kRecordKey);
    putRecord(0, local);
    putRecord(1, recordOf(theirs, "APP-1"));
    putRecord(2, recordOf(theirs, "APP-2"));

    platform::Error error;
    EXPECT_EQ(DUdUdirodDeviceUDID::valueWithError(&error), mine);
    EXPECT_EQ(error.code(), DUdUdirodDeviceUDID::kCompromised);
    EXPECT_EQ(error.userInfo()["description"],
              Value("Found a discrepancy between stored DeviceUDID (reliable) and redundant "
                    "copies; one of the apps on the device is most likely corrupting the "
                    "DeviceUDID protocol"));
    // The app already has a slot: no second copy.
    EXPECT_FALSE(Pasteboard::pasteboardWithName(slot(3), false));
}

TEST_F(DeviceUdid, RecordThatLostItsIdentifierGetsOneBack) {
    UserDefaults::standardUserDefaults().setObject(
        Value(Map{{DUdUdirodDeviceUDID::kRecordKey, 42}, {"kept", "yes"}}),
        DUdUdirodDeviceUDID::kRecordKey);
    putRecord(0, recordOf(std::string(40, 'e'), "APP-0"));

    EXPECT_EQ(ask(DUdUdirodDeviceUDID::kDelivered), std::string(40, 'e'));
    const Map local = localRecord();
    EXPECT_EQ(text(local, DUdUdirodDeviceUDID::kRecordKey), std::string(40, 'e'));
    EXPECT_EQ(text(local, "kept"), "yes");
}

// The walk takes an opted-out app's opt-out from its shared copy when it recognises that copy
// by the app's id, so the copy must carry the opt-out too.
TEST_F(DeviceUdid, OptOutSurvivesTheNextWalk) {
    UserDefaults::standardUserDefaults().setObject(Value("APP-OWN"), "DeviceUDID_appUID");
    const std::string identifier = ask(DUdUdirodDeviceUDID::kDelivered);

    DUdUdirodDeviceUDID::setOptOut(true);
    EXPECT_TRUE(localRecord()[DUdUdirodDeviceUDID::kOptOutKey].isDate());
    EXPECT_TRUE(slotRecord(0)[DUdUdirodDeviceUDID::kOptOutKey].isDate());

    platform::Error error;
    EXPECT_EQ(DUdUdirodDeviceUDID::valueWithError(&error), kZeros);
    EXPECT_EQ(error.code(), DUdUdirodDeviceUDID::kOptedOut);
    const std::string* description = error.userInfo()["description"].string();
    ASSERT_TRUE(description);
    EXPECT_TRUE(std::regex_match(
        *description, std::regex("Application with unique id APP-OWN is opted-out from "
                                 "DeviceUDID as of \\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d "
                                 "\\+0000")))
        << *description;

    DUdUdirodDeviceUDID::clearProcessCache();  // the next launch
    EXPECT_EQ(ask(DUdUdirodDeviceUDID::kOptedOut), kZeros);

    DUdUdirodDeviceUDID::setOptOut(false);
    EXPECT_EQ(ask(DUdUdirodDeviceUDID::kDelivered), identifier);
    EXPECT_FALSE(slotRecord(0).contains(DUdUdirodDeviceUDID::kOptOutKey));
}

TEST_F(DeviceUdid, OptOutLeavesASlotThatAnotherAppTookOver) {
    ask(DUdUdirodDeviceUDID::kDelivered);
    const Map other = recordOf(std::string(40, 'f'), "APP-OTHER");
    putRecord(0, other);

    DUdUdirodDeviceUDID::setOptOut(true);
    EXPECT_EQ(slotRecord(0), other);
    EXPECT_EQ(ask(DUdUdirodDeviceUDID::kOptedOut), kZeros);
}

namespace {

// Starts one probe app per name at once and returns what each printed.
std::vector<std::string> runAppsTogether(const std::vector<std::string>& names) {
    std::vector<std::string> environment;
    for (char** entry = environ; *entry; ++entry) {
        if (std::string_view(*entry).substr(0, 12) != "RZ_APP_ROOT=") {
            environment.emplace_back(*entry);
        }
    }
    environment.push_back("RZ_APP_ROOT=" + platform::AppFolders::root().string());
    std::vector<char*> envp;
    for (std::string& entry : environment) {
        envp.push_back(entry.data());
    }
    envp.push_back(nullptr);

    struct Running {
        pid_t pid;
        int output;
    };
    std::vector<Running> running;
    for (const std::string& name : names) {
        int pipeFds[2];
        if (::pipe(pipeFds) != 0) {
            ADD_FAILURE() << "pipe";
            break;
        }
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
        posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
        posix_spawn_file_actions_addclose(&actions, pipeFds[1]);
        std::string program = DEVICEUDID_PROBE;
        std::string argument = name;
        char* argv[] = {program.data(), argument.data(), nullptr};
        pid_t pid = 0;
        const int failed = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv, envp.data());
        posix_spawn_file_actions_destroy(&actions);
        ::close(pipeFds[1]);
        if (failed != 0) {
            ::close(pipeFds[0]);
            ADD_FAILURE() << "cannot start " << program;
            break;
        }
        running.push_back({pid, pipeFds[0]});
    }
    std::vector<std::string> outputs;
    for (const Running& app : running) {
        std::string output;
        char buffer[256];
        ssize_t n;
        while ((n = ::read(app.output, buffer, sizeof buffer)) > 0) {
            output.append(buffer, static_cast<std::size_t>(n));
        }
        ::close(app.output);
        int status = 0;
        ::waitpid(app.pid, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << output;
        outputs.push_back(output);
    }
    return outputs;
}

}  // namespace

TEST_F(DeviceUdid, AppsStartedTogetherAgreeOnOneIdentifier) {
    for (int round = 0; round < 3; ++round) {
        freshDevice();
        const std::vector<std::string> names = {"app_one",  "app_two",  "app_three",
                                                "app_four", "app_five", "app_six"};
        for (const std::string& name : names) {
            std::filesystem::remove(platform::AppFolders::preferences() / (name + ".plist"));
        }
        const std::vector<std::string> outputs = runAppsTogether(names);
        ASSERT_EQ(outputs.size(), names.size());
        std::set<std::string> answers(outputs.begin(), outputs.end());
        ASSERT_EQ(answers.size(), 1u) << testing::PrintToString(outputs);
        const std::string& answer = *answers.begin();
        ASSERT_TRUE(std::regex_match(answer, std::regex("0 [0-9a-f]{40}\n"))) << answer;

        // Each app has a slot of its own, and this process, one app more, agrees too.
        std::set<std::string> apps;
        for (int n = 0; n < static_cast<int>(names.size()); ++n) {
            const Map record = slotRecord(n);
            EXPECT_EQ(text(record, DUdUdirodDeviceUDID::kRecordKey), answer.substr(2, 40));
            apps.insert(text(record, DUdUdirodDeviceUDID::kAppUIDKey));
        }
        EXPECT_EQ(apps.size(), names.size());
        EXPECT_EQ(ask(DUdUdirodDeviceUDID::kDelivered), answer.substr(2, 40));
    }
}
