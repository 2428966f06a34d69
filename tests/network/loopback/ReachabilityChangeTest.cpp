// Reachability as links really change: the probe runs in a user and network namespace of its
// own, where only `lo` exists and starts down, switches it up and down, and prints what the
// managers and the platform reference reported.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

struct Outcome {
    bool started = false;
    bool finished = false;  // exited within the time allowed
    int exitCode = -1;
    std::string output;
};

// Runs the program with its output (and errors) captured, killing it when it runs over.
Outcome runBounded(std::vector<std::string> argv, double timeoutSeconds) {
    Outcome outcome;
    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0) {
        return outcome;
    }
    const pid_t pid = fork();
    if (pid < 0) {
        close(pipeFds[0]);
        close(pipeFds[1]);
        return outcome;
    }
    if (pid == 0) {
        setpgid(0, 0);
        dup2(pipeFds[1], STDOUT_FILENO);
        dup2(pipeFds[1], STDERR_FILENO);
        std::vector<char*> args;
        for (std::string& arg : argv) {
            args.push_back(arg.data());
        }
        args.push_back(nullptr);
        execvp(args[0], args.data());
        _exit(127);
    }
    close(pipeFds[1]);
    outcome.started = true;
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::duration<double>(timeoutSeconds);
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) {
            break;
        }
        pollfd entry{pipeFds[0], POLLIN, 0};
        if (poll(&entry, 1, static_cast<int>(left.count())) <= 0) {
            continue;
        }
        char buffer[4096];
        const ssize_t n = read(pipeFds[0], buffer, sizeof buffer);
        if (n <= 0) {
            outcome.finished = true;
            break;
        }
        outcome.output.append(buffer, static_cast<std::size_t>(n));
    }
    close(pipeFds[0]);
    if (!outcome.finished) {
        kill(-pid, SIGKILL);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    outcome.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return outcome;
}

// "<series> <value>" lines by series, with a value repeated in a row taken once (a change of
// flags that leaves the status as it was reports the status again).
std::map<std::string, std::vector<std::string>> series(const std::string& output) {
    std::map<std::string, std::vector<std::string>> found;
    std::size_t start = 0;
    while (start < output.size()) {
        std::size_t end = output.find('\n', start);
        if (end == std::string::npos) {
            end = output.size();
        }
        const std::string line = output.substr(start, end - start);
        start = end + 1;
        const std::size_t space = line.find(' ');
        const std::string name = line.substr(0, space);
        const std::string value = space == std::string::npos ? "" : line.substr(space + 1);
        std::vector<std::string>& values = found[name];
        if (values.empty() || values.back() != value) {
            values.push_back(value);
        }
    }
    return found;
}

TEST(ReachabilityChange, LoopbackComingAndGoingIsReported) {
    const Outcome probe = runBounded({"unshare", "-rn", "ip", "link", "show", "lo"}, 20);
    if (!probe.finished || probe.exitCode != 0) {
        GTEST_SKIP() << "this machine gives no user and network namespace with iproute2 "
                        "(unshare -rn ip link show lo): "
                     << probe.output;
    }
    ASSERT_NE(probe.output.find("state DOWN"), std::string::npos)
        << "a fresh namespace's loopback starts down:\n"
        << probe.output;

    const Outcome run = runBounded({"unshare", "-rn", REACHABILITY_PROBE}, 60);
    ASSERT_TRUE(run.finished) << "the probe ran over its time:\n" << run.output;
    ASSERT_EQ(run.exitCode, 0) << run.output;
    const auto seen = series(run.output);
    using Values = std::vector<std::string>;
    EXPECT_EQ(seen.count("done"), 1u) << run.output;
    // Not reachable, then reachable via WiFi/LAN once lo is up, then not again.
    EXPECT_EQ(seen.at("loopback"), (Values{"0", "2", "0"})) << run.output;
    // Alone with its loopback, the machine counts what it reaches there as the network.
    EXPECT_EQ(seen.at("general"), (Values{"0", "2", "0"})) << run.output;
    // The reference reports only changes: local, direct and reachable, then nothing.
    EXPECT_EQ(seen.at("flags"), (Values{"30002", "0"})) << run.output;
    // Each manager posts its first reading and each change after it (three first readings,
    // two changes for each of the two that stay).
    ASSERT_EQ(seen.at("posts").size(), 1u) << run.output;
    EXPECT_GE(std::stoi(seen.at("posts").front()), 7) << run.output;
    // An interface up without its carrier reaches nothing; with it, the neighbour is direct.
    EXPECT_EQ(seen.at("nocarrier"), (Values{"0"})) << run.output;
    EXPECT_EQ(seen.at("carrier"), (Values{"20002"})) << run.output;
    EXPECT_EQ(seen.count("released"), 0u) << "a released manager was called:\n" << run.output;
    EXPECT_EQ(seen.count("unscheduled"), 0u) << "an unscheduled reference was called:\n"
                                             << run.output;
}

}  // namespace
