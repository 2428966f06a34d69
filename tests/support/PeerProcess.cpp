#include "tests/support/PeerProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>

namespace testing_support {

namespace {

double nowSeconds() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

// Starts the program in a process group of its own, its standard output (and, when asked, its
// standard error) into `out`, its standard input from /dev/null.
pid_t spawn(std::vector<std::string> argv, int out, bool withErrors) {
    const pid_t pid = fork();
    if (pid < 0) {
        throw std::runtime_error("fork failed");
    }
    if (pid == 0) {
        // A test that crashes must not leave its peer running: the peer would hold the
        // test runner's output pipe open, and the runner would wait for it for ever.
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        setpgid(0, 0);
        const int nothing = open("/dev/null", O_RDONLY);
        if (nothing >= 0) {
            dup2(nothing, STDIN_FILENO);
        }
        dup2(out, STDOUT_FILENO);
        if (withErrors) {
            dup2(out, STDERR_FILENO);
        }
        std::vector<char*> args;
        for (auto& arg : argv) {
            args.push_back(arg.data());
        }
        args.push_back(nullptr);
        execvp(args[0], args.data());
        _exit(127);
    }
    return pid;
}

void killGroup(pid_t pid) {
    kill(-pid, SIGKILL);
    kill(pid, SIGKILL);
}

}  // namespace

CommandResult runCommand(std::vector<std::string> argv, double timeoutSeconds) {
    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0) {
        throw std::runtime_error("pipe failed");
    }
    const pid_t pid = spawn(std::move(argv), pipeFds[1], true);
    close(pipeFds[1]);
    CommandResult result;
    const double deadline = nowSeconds() + timeoutSeconds;
    for (;;) {
        const double left = deadline - nowSeconds();
        pollfd fd{pipeFds[0], POLLIN, 0};
        if (left <= 0 || poll(&fd, 1, static_cast<int>(left * 1000)) <= 0) {
            killGroup(pid);
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

std::string peersDir() {
    return std::string(RZ_TEST_SOURCE_DIR) + "/peers";
}

PeerProcess PeerProcess::python(const std::string& script, const std::vector<std::string>& args,
                                double timeoutSeconds) {
    std::vector<std::string> argv{"python3", "-u", peersDir() + "/" + script};
    argv.insert(argv.end(), args.begin(), args.end());
    return PeerProcess(std::move(argv), timeoutSeconds);
}

PeerProcess::PeerProcess(std::vector<std::string> argv, double timeoutSeconds) {
    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0) {
        throw std::runtime_error("pipe failed");
    }
    const std::string name = argv.back();
    pid_ = spawn(std::move(argv), pipeFds[1], false);
    close(pipeFds[1]);
    out_ = pipeFds[0];
    const auto first = lines(1, timeoutSeconds);
    if (first.empty() || first[0].rfind("PORT ", 0) != 0) {
        stop();
        throw std::runtime_error("peer " + name + " did not report its port");
    }
    port_ = std::stoi(first[0].substr(5));
    lines_.erase(lines_.begin());
}

PeerProcess::PeerProcess(PeerProcess&& other) noexcept
    : pid_(other.pid_),
      out_(other.out_),
      port_(other.port_),
      pending_(std::move(other.pending_)),
      lines_(std::move(other.lines_)) {
    other.pid_ = -1;
    other.out_ = -1;
}

PeerProcess::~PeerProcess() {
    stop();
}

void PeerProcess::stop() {
    if (pid_ > 0) {
        killGroup(pid_);
        waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }
    if (out_ >= 0) {
        close(out_);
        out_ = -1;
    }
}

std::string PeerProcess::baseUrl(const std::string& scheme) const {
    return scheme + "://127.0.0.1:" + std::to_string(port_);
}

std::vector<std::string> PeerProcess::lines(std::size_t atLeast, double timeoutSeconds) {
    const double deadline = nowSeconds() + timeoutSeconds;
    for (;;) {
        const double left = deadline - nowSeconds();
        pollfd fd{out_, POLLIN, 0};
        const bool ready =
            out_ >= 0 &&
            poll(&fd, 1,
                 lines_.size() >= atLeast ? 0 : static_cast<int>(std::max(0.0, left) * 1000)) > 0;
        if (ready) {
            char buffer[4096];
            const ssize_t n = read(out_, buffer, sizeof buffer);
            if (n > 0) {
                pending_.append(buffer, static_cast<std::size_t>(n));
                for (auto end = pending_.find('\n'); end != std::string::npos;
                     end = pending_.find('\n')) {
                    lines_.push_back(pending_.substr(0, end));
                    pending_.erase(0, end + 1);
                }
                continue;
            }
        }
        if (lines_.size() >= atLeast || left <= 0 || !ready) {
            return lines_;
        }
    }
}

}  // namespace testing_support
