#include <gtest/gtest.h>

#include <regex>

#include "RZBase_Source/Encode/RAZududeUtils.h"

namespace {

// Switches the log for one test and back off afterwards.
class DebugLog : public testing::Test {
  protected:
    void TearDown() override {
        RAZududeUtils::setOpenLog(false);
        RAZududeUtils::setPrefix("");
    }

    static std::string capture(const std::function<void()>& write) {
        testing::internal::CaptureStdout();
        write();
        return testing::internal::GetCapturedStdout();
    }
};

}  // namespace

TEST_F(DebugLog, SilentAndUnevaluatedWhileOff) {
    bool built = false;
    const std::string console = capture([&] {
        RAZududeUtils::outLog("hidden");
        RAZududeUtils::outLog([&] {
            built = true;
            return std::string("hidden");
        });
    });
    EXPECT_EQ(console, "");
    EXPECT_FALSE(built);
    EXPECT_FALSE(RAZududeUtils::openLog());
}

TEST_F(DebugLog, LinesCarryTimeThreadAndPrefix) {
    RAZududeUtils::setOpenLog(true);
    RAZududeUtils::setPrefix("RAZudude: ");
    const std::string console = capture([] {
        RAZududeUtils::outLog("share done");
        RAZududeUtils::outLog([] { return std::string("code ") + std::to_string(200); });
    });
    const std::regex line(R"(\[\d\d:\d\d:\d\d\.\d\d\d\( *\d+\)\] - RAZudude:  share done \n)"
                          R"(\[\d\d:\d\d:\d\d\.\d\d\d\( *\d+\)\] - RAZudude:  code 200 \n)");
    EXPECT_TRUE(std::regex_match(console, line)) << console;

    RAZududeUtils::setPrefix("");
    const std::string bare = capture([] { RAZududeUtils::outLog("plain"); });
    EXPECT_TRUE(std::regex_match(bare, std::regex(R"(\[[0-9:.]{12}\( *\d+\)\] - plain \n)")))
        << bare;
}

// Messages often hold URLs and user text with percent signs: they are printed as they are.
TEST_F(DebugLog, MessagesAreNeverReadAsFormats) {
    RAZududeUtils::setOpenLog(true);
    const std::string message = "url=a%20b %s %n %d %% %@ %";
    const std::string console = capture([&] { RAZududeUtils::outLog(message); });
    EXPECT_TRUE(console.ends_with("] - " + message + " \n")) << console;
}

TEST_F(DebugLog, TimeTextIsHoursToMilliseconds) {
    EXPECT_TRUE(std::regex_match(RAZududeUtils::logTimeText(),
                                 std::regex(R"(([01]\d|2[0-3]):[0-5]\d:[0-6]\d\.\d{3})")));
}
