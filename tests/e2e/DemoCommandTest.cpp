// The demo program as its user runs it: what it refuses, where its pictures go, what goes to
// which stream, and that the share service it started is gone when it ends, also on Ctrl-C.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>

#include "tests/support/PeerProcess.h"
#include "tests/support/TempDir.h"

namespace {

using testing_support::runCommand;

// The process of the emulator the demo reported starting; 0 before the report.
int reportedProcess(const std::string& output) {
    std::smatch match;
    if (!std::regex_search(
            output, match,
            std::regex(R"(emulator runs at http://127\.0\.0\.1:\d+ \(process (\d+)\))"))) {
        return 0;
    }
    return std::stoi(match[1]);
}

// The process has ended: it is gone, or dead and waiting to be reaped. (Its port may already
// serve another test's server, so the port tells nothing.)
bool ended(int pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(stat, line)) {
        return true;
    }
    auto close = line.rfind(')');
    return close != std::string::npos && close + 2 < line.size() && line[close + 2] == 'Z';
}

TEST(DemoCommand, MistakesGetOneLineThatSaysWhatIsKnown) {
    auto unknownApp = runCommand({SHARE_DEMO_PROGRAM, "--installed", "wexin", "wxsession"});
    EXPECT_EQ(unknownApp.status, 2);
    EXPECT_EQ(unknownApp.output,
              "share_demo: unknown application \"wexin\" for --installed; known: wechat, qq, "
              "weibo\n");
    auto unknownPlatform = runCommand({SHARE_DEMO_PROGRAM, "myspace"});
    EXPECT_EQ(unknownPlatform.status, 2);
    EXPECT_NE(unknownPlatform.output.find("unknown platform \"myspace\"; known: wxsession"),
              std::string::npos);
    EXPECT_EQ(std::count(unknownPlatform.output.begin(), unknownPlatform.output.end(), '\n'), 1);
    auto missingValue = runCommand({SHARE_DEMO_PROGRAM, "--screenshots"});
    EXPECT_EQ(missingValue.status, 2);
    EXPECT_EQ(missingValue.output, "share_demo: --screenshots needs a value (see --help)\n");
}

TEST(DemoCommand, PicturesGoWhereTheUserStandsAndTheServiceStopsAtTheEnd) {
    testing_support::TempDir here;
    auto run = runCommand({"sh", "-c",
                           "cd '" + here.path().string() + "' && exec '" + SHARE_DEMO_PROGRAM +
                               "' --screenshots shots sms 2>/dev/null"});
    ASSERT_EQ(run.status, 0) << run.output;
    EXPECT_TRUE(std::filesystem::exists(here.path() / "shots" / "01-app.png"));
    EXPECT_TRUE(std::filesystem::exists(here.path() / "shots" / "04-sms-composer.png"));
    EXPECT_TRUE(std::filesystem::exists(here.path() / "shots" / "05-result.png"));
    // Standard output is the demo's account alone, with the numbers named.
    EXPECT_NE(run.output.find("view type 10 (icon sheet)"), std::string::npos);
    EXPECT_NE(run.output.find("code 200 (success), response type 5 (share)"), std::string::npos);
    EXPECT_EQ(run.output.find("if_nametoindex"), std::string::npos);
    int emulator = reportedProcess(run.output);
    ASSERT_GT(emulator, 0);
    EXPECT_TRUE(ended(emulator));
}

TEST(DemoCommand, CtrlCStopsTheServiceAndEverythingTheDemoStarted) {
    int fds[2];
    ASSERT_EQ(pipe2(fds, O_CLOEXEC), 0);
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        dup2(fds[1], STDOUT_FILENO);
        int nothing = open("/dev/null", O_WRONLY);
        dup2(nothing, STDERR_FILENO);
        execl(SHARE_DEMO_PROGRAM, SHARE_DEMO_PROGRAM, "all", static_cast<char*>(nullptr));
        _exit(127);
    }
    close(fds[1]);
    // Reads until the emulator's port is reported (bounded), then interrupts.
    std::string output;
    pollfd fd{fds[0], POLLIN, 0};
    while (reportedProcess(output) == 0 && poll(&fd, 1, 20000) > 0) {
        char buffer[4096];
        ssize_t n = read(fds[0], buffer, sizeof buffer);
        if (n <= 0) {
            break;
        }
        output.append(buffer, static_cast<std::size_t>(n));
    }
    int emulator = reportedProcess(output);
    kill(pid, SIGINT);
    int status = 0;
    waitpid(pid, &status, 0);
    close(fds[0]);
    ASSERT_GT(emulator, 0) << output;
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 130);
    EXPECT_TRUE(ended(emulator));
}

}  // namespace
