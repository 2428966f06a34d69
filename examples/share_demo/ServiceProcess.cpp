#include "examples/share_demo/ServiceProcess.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <stdexcept>

#include "RZBase_Source/Encode/RAZududeUtils.h"

namespace share_demo {

namespace {

// The process groups of the running emulators, for the signal handler.
constexpr int kMaxChildren = 8;
std::atomic<int> gChildren[kMaxChildren];

void remember(int pid) {
    for (auto& slot : gChildren) {
        int empty = 0;
        if (slot.compare_exchange_strong(empty, pid)) {
            return;
        }
    }
}

void forget(int pid) {
    for (auto& slot : gChildren) {
        int expected = pid;
        slot.compare_exchange_strong(expected, 0);
    }
}

double nowSeconds() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

}  // namespace

ServiceProcess::ServiceProcess(const std::string& script, const std::string& appKey,
                               double timeoutSeconds) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
        throw std::runtime_error("cannot make a pipe for the share-service emulator");
    }
    std::vector<std::string> argv{"python3", "-u", script, "--appkey", appKey};
    std::vector<char*> args;
    for (auto& arg : argv) {
        args.push_back(arg.data());
    }
    args.push_back(nullptr);
    pid_ = fork();
    if (pid_ < 0) {
        close(fds[0]);
        close(fds[1]);
        throw std::runtime_error("cannot start the share-service emulator: fork failed");
    }
    if (pid_ == 0) {
        // The emulator must not outlive the demo, whatever way the demo ends.
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        setpgid(0, 0);
        int nothing = open("/dev/null", O_RDWR);
        if (nothing >= 0) {
            dup2(nothing, STDIN_FILENO);
            dup2(nothing, STDERR_FILENO);
        }
        dup2(fds[1], STDOUT_FILENO);
        execvp(args[0], args.data());
        _exit(127);
    }
    setpgid(pid_, pid_);
    remember(pid_);
    close(fds[1]);
    out_ = fds[0];
    const double deadline = nowSeconds() + timeoutSeconds;
    while (lines_.empty() && nowSeconds() < deadline && out_ >= 0) {
        readAvailable(deadline - nowSeconds());
        if (lines_.empty() && waitpid(pid_, nullptr, WNOHANG) == pid_) {
            forget(pid_);
            pid_ = -1;
            break;
        }
    }
    if (lines_.empty() || lines_.front().rfind("PORT ", 0) != 0) {
        stop();
        throw std::runtime_error("the share-service emulator " + script +
                                 " did not start (is python3 with its cryptography module "
                                 "installed?)");
    }
    port_ = std::stoi(lines_.front().substr(5));
    lines_.erase(lines_.begin());
}

ServiceProcess::~ServiceProcess() {
    stop();
}

std::string ServiceProcess::baseUrl() const {
    return "http://127.0.0.1:" + std::to_string(port_);
}

void ServiceProcess::stop() {
    if (pid_ > 0) {
        kill(-pid_, SIGKILL);
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
        forget(pid_);
        pid_ = -1;
    }
    if (out_ >= 0) {
        close(out_);
        out_ = -1;
    }
}

void ServiceProcess::stopAllFromSignal() {
    for (auto& slot : gChildren) {
        int pid = slot.load();
        if (pid > 0) {
            kill(-pid, SIGKILL);
        }
    }
}

void ServiceProcess::readAvailable(double waitSeconds) {
    if (out_ < 0) {
        return;
    }
    pollfd fd{out_, POLLIN, 0};
    int timeout = waitSeconds > 0 ? static_cast<int>(waitSeconds * 1000) + 1 : 0;
    while (poll(&fd, 1, timeout) > 0) {
        char buffer[8192];
        ssize_t n = read(out_, buffer, sizeof buffer);
        if (n <= 0) {
            close(out_);
            out_ = -1;
            return;
        }
        pending_.append(buffer, static_cast<std::size_t>(n));
        for (auto end = pending_.find('\n'); end != std::string::npos; end = pending_.find('\n')) {
            lines_.push_back(pending_.substr(0, end));
            pending_.erase(0, end + 1);
        }
        timeout = 0;
    }
}

std::vector<platform::Value> ServiceProcess::takeRequests(std::size_t atLeast, double waitSeconds) {
    std::vector<platform::Value> requests;
    const double deadline = nowSeconds() + waitSeconds;
    for (;;) {
        readAvailable(0);
        for (const auto& line : lines_) {
            if (line.rfind("REQ ", 0) == 0) {
                if (auto record = RAZududeUtils::JSONValue(line.substr(4))) {
                    requests.push_back(std::move(*record));
                }
            }
        }
        lines_.clear();
        double left = deadline - nowSeconds();
        if (requests.size() >= atLeast || left <= 0 || out_ < 0) {
            return requests;
        }
        readAvailable(std::min(left, 0.05));
    }
}

std::string ServiceProcess::control(const std::string& method, const std::string& path,
                                    const std::string& jsonBody) const {
    int sock = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (sock < 0) {
        throw std::runtime_error("cannot make a socket for the emulator's control");
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port_));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    timeval bound{10, 0};
    setsockopt(sock, SOL_SOCKET, SO_RCVTIMEO, &bound, sizeof bound);
    setsockopt(sock, SOL_SOCKET, SO_SNDTIMEO, &bound, sizeof bound);
    std::string request =
        method + " " + path + " HTTP/1.0\r\nHost: 127.0.0.1\r\n" +
        "Content-Type: application/json\r\nContent-Length: " + std::to_string(jsonBody.size()) +
        "\r\n\r\n" + jsonBody;
    std::string reply;
    bool sent = connect(sock, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
                send(sock, request.data(), request.size(), MSG_NOSIGNAL) ==
                    static_cast<ssize_t>(request.size());
    char buffer[8192];
    for (ssize_t n; sent && (n = recv(sock, buffer, sizeof buffer, 0)) > 0;) {
        reply.append(buffer, static_cast<std::size_t>(n));
    }
    close(sock);
    auto headerEnd = reply.find("\r\n\r\n");
    if (!sent || reply.rfind("HTTP/1.", 0) != 0 || reply.compare(9, 3, "200") != 0 ||
        headerEnd == std::string::npos) {
        throw std::runtime_error("the emulator refused the control request " + method + " " + path);
    }
    return reply.substr(headerEnd + 4);
}

}  // namespace share_demo
