#include "platform/Log.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/LogCapture.h"
#include "tests/support/TempDir.h"

namespace {

// Sends standard error to a file while it lives; `text()` reads what arrived.
class StderrToFile {
  public:
    StderrToFile() : path_(dir_.path() / "stderr") {
        std::fflush(stderr);
        saved_ = dup(STDERR_FILENO);
        FILE* file = std::fopen(path_.c_str(), "w");
        dup2(fileno(file), STDERR_FILENO);
        std::fclose(file);
    }
    ~StderrToFile() { restore(); }

    std::string text() {
        restore();
        std::ifstream in(path_);
        std::stringstream all;
        all << in.rdbuf();
        return all.str();
    }

  private:
    void restore() {
        if (saved_ >= 0) {
            dup2(saved_, STDERR_FILENO);
            close(saved_);
            saved_ = -1;
        }
    }

    testing_support::TempDir dir_;
    std::filesystem::path path_;
    int saved_ = -1;
};

}  // namespace

TEST(ConsoleLog, WritesOneStampedLineToStandardError) {
    StderrToFile capture;
    platform::consoleLog("you should set %@ Appkey! %d", "the", 42);
    std::string text = capture.text();
    std::regex line(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} platform_tests\[(\d+):\d+\] )"
                    R"(you should set the Appkey! 42\n)");
    std::smatch match;
    ASSERT_TRUE(std::regex_match(text, match, line)) << text;
    EXPECT_EQ(match[1].str(), std::to_string(getpid()));
}

TEST(ConsoleLog, SinkSeesMessagesUntilItIsReplaced) {
    StderrToFile quiet;
    {
        testing_support::LogCapture outer;
        {
            testing_support::LogCapture inner;
            platform::consoleLog("%@", "%d%s%n");  // data stays data
            EXPECT_EQ(inner.messages(), std::vector<std::string>{"%d%s%n"});
        }
        platform::consoleLog("after");
        EXPECT_EQ(outer.messages(), std::vector<std::string>{"after"});
    }
    platform::consoleLog("with no sink");  // must not reach a sink that is gone
}

TEST(ConsoleLog, LinesFromManyThreadsStayWhole) {
    constexpr int kThreads = 8;
    constexpr int kLines = 200;
    StderrToFile capture;
    testing_support::LogCapture sink;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t] {
            for (int i = 0; i < kLines; ++i) {
                platform::consoleLog("thread %d line %d %@", t, i, std::string(100, 'x'));
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    std::istringstream lines(capture.text());
    std::regex whole(R"(.* thread (\d) line (\d+) x{100})");
    std::vector<int> next(kThreads, 0);
    std::string line;
    int count = 0;
    while (std::getline(lines, line)) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(line, m, whole)) << line;
        int t = std::stoi(m[1].str());
        EXPECT_EQ(std::stoi(m[2].str()), next[t]++);  // each thread's lines in its own order
        ++count;
    }
    EXPECT_EQ(count, kThreads * kLines);
    EXPECT_EQ(sink.messages().size(), static_cast<std::size_t>(kThreads * kLines));
}
