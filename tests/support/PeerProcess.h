#pragma once

#include <string>
#include <vector>

namespace testing_support {

// A peer program run beside a test: a Python script from tests/peers (or any command) that
// binds 127.0.0.1 on a free port and prints "PORT <n>" as its first line. The port is read
// with a bound on the wait; the process (and its group) is killed when the object dies.
class PeerProcess {
  public:
    // Runs `python3 tests/peers/<script> args…`. Throws std::runtime_error when the peer does
    // not report its port within timeoutSeconds.
    static PeerProcess python(const std::string& script, const std::vector<std::string>& args = {},
                              double timeoutSeconds = 20);
    // Any program; argv[0] is looked up on PATH.
    explicit PeerProcess(std::vector<std::string> argv, double timeoutSeconds = 20);
    ~PeerProcess();
    PeerProcess(PeerProcess&& other) noexcept;
    PeerProcess& operator=(PeerProcess&&) = delete;
    PeerProcess(const PeerProcess&) = delete;
    PeerProcess& operator=(const PeerProcess&) = delete;

    int port() const { return port_; }
    std::string baseUrl(const std::string& scheme = "http") const;
    // Lines the peer printed after its port line, read so far (waits at most timeoutSeconds
    // for at least `atLeast` of them).
    std::vector<std::string> lines(std::size_t atLeast = 0, double timeoutSeconds = 10);
    void stop();

  private:
    int pid_ = -1;
    int out_ = -1;
    int port_ = 0;
    std::string pending_;
    std::vector<std::string> lines_;
};

// The folder of the test peers.
std::string peersDir();

struct CommandResult {
    int status = -1;     // exit status; -1 when the program was killed or did not run
    std::string output;  // standard output and standard error, interleaved
};

// Runs a program (looked up on PATH) with its arguments and nothing on its standard input;
// killed when it outlives the timeout.
CommandResult runCommand(std::vector<std::string> argv, double timeoutSeconds = 30);

}  // namespace testing_support
