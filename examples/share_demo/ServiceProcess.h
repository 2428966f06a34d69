// The share-service emulator (tests/peers/share_service.py) as a child of the demo: started on
// 127.0.0.1 with a free port, its decoded request log read from its standard output, and
// stopped with its whole process group when the object goes, when the demo is interrupted, and
// (through the kernel) when the demo dies.
//
// Threads: one thread uses an object; stopAllFromSignal is safe in a signal handler.
// Failures: start throws std::runtime_error with one line that says what went wrong.
#pragma once

#include <string>
#include <vector>

#include "platform/Value.h"

namespace share_demo {

class ServiceProcess {
  public:
    // Runs `python3 -u <script> --appkey <appKey>` and waits (at most timeoutSeconds) for its
    // "PORT <n>" line.
    ServiceProcess(const std::string& script, const std::string& appKey,
                   double timeoutSeconds = 20);
    ~ServiceProcess();
    ServiceProcess(const ServiceProcess&) = delete;
    ServiceProcess& operator=(const ServiceProcess&) = delete;

    int port() const { return port_; }
    // "http://127.0.0.1:<port>"
    std::string baseUrl() const;
    int pid() const { return pid_; }

    // The requests decoded since the last call, oldest first: the emulator's "REQ" records
    // (kind, method, path, params, pic...). Waits at most waitSeconds for at least `atLeast`.
    std::vector<platform::Value> takeRequests(std::size_t atLeast = 0, double waitSeconds = 0);

    // A control request with a JSON body (never enciphered); the reply's body, or throws.
    std::string control(const std::string& method, const std::string& path,
                        const std::string& jsonBody = "") const;

    void stop();

    // Kills every emulator still running; async-signal-safe.
    static void stopAllFromSignal();

  private:
    void readAvailable(double waitSeconds);

    int pid_ = -1;
    int out_ = -1;
    int port_ = 0;
    std::string pending_;
    std::vector<std::string> lines_;
};

}  // namespace share_demo
