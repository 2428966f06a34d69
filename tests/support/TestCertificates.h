// Certificates for the trust tests, made by the openssl command line (tests/peers/make_certs.sh)
// once per test process in a temporary folder, and a runner for the command-line tools that
// judge the same chains (openssl verify, curl).
//
// Names: "root", "inter" (signed by root), "leaf" (localhost and 127.0.0.1, signed by inter),
// "selfsigned", "expired", "wronghost" (wrong-host.test), "client" (client use only),
// "samekey" (self-signed over leaf's key); each has
// <name>.pem, <name>.der and <name>.key. "chain.pem" holds leaf and inter, "fullchain.pem" leaf,
// inter and root.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/Value.h"
#include "tests/support/PeerProcess.h"
#include "tests/support/TempDir.h"

namespace testing_support {

struct CommandResult {
    int status = -1;     // exit status; -1 when the program was killed or did not run
    std::string output;  // standard output and standard error, interleaved
};

// Runs a program (looked up on PATH) with its arguments and nothing on its standard input;
// killed when it outlives the timeout.
inline CommandResult runCommand(std::vector<std::string> argv, double timeoutSeconds = 30) {
    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0) {
        throw std::runtime_error("pipe failed");
    }
    const pid_t pid = fork();
    if (pid < 0) {
        throw std::runtime_error("fork failed");
    }
    if (pid == 0) {
        setpgid(0, 0);
        const int nothing = open("/dev/null", O_RDONLY);
        if (nothing >= 0) {
            dup2(nothing, STDIN_FILENO);
        }
        dup2(pipeFds[1], STDOUT_FILENO);
        dup2(pipeFds[1], STDERR_FILENO);
        std::vector<char*> args;
        for (auto& arg : argv) {
            args.push_back(arg.data());
        }
        args.push_back(nullptr);
        execvp(args[0], args.data());
        _exit(127);
    }
    close(pipeFds[1]);
    CommandResult result;
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::duration<double>(timeoutSeconds);
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        pollfd fd{pipeFds[0], POLLIN, 0};
        if (left <= 0 || poll(&fd, 1, static_cast<int>(left)) <= 0) {
            kill(-pid, SIGKILL);
            kill(pid, SIGKILL);
            break;
        }
        char buffer[4096];
        const ssize_t n = read(pipeFds[0], buffer, sizeof buffer);
        if (n <= 0) {
            break;
        }
        result.output.append(buffer, static_cast<std::size_t>(n));
    }
    close(pipeFds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

inline platform::Bytes readBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw std::runtime_error("cannot read " + path.string());
    }
    return platform::Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class TestCertificates {
  public:
    // Made on first use; the folder goes when the process ends.
    static const TestCertificates& shared() {
        static const TestCertificates made;
        return made;
    }

    const std::filesystem::path& dir() const { return dir_.path(); }
    std::filesystem::path pem(const std::string& name) const { return dir() / (name + ".pem"); }
    std::filesystem::path key(const std::string& name) const { return dir() / (name + ".key"); }
    std::filesystem::path derPath(const std::string& name) const { return dir() / (name + ".der"); }
    platform::Bytes der(const std::string& name) const { return readBytes(derPath(name)); }

  private:
    TestCertificates() {
        const auto made = runCommand({"sh", peersDir() + "/make_certs.sh", dir_.path().string()});
        if (made.status != 0) {
            throw std::runtime_error("making the test certificates failed: " + made.output);
        }
    }

    TempDir dir_;
};

}  // namespace testing_support
