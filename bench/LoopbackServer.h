// A small HTTP/1.1 server for the network benchmarks: keep-alive, a thread per connection,
// answers fast enough that the client side is what gets measured.
//   GET  /small      200 with a 16-byte body
//   GET  /big/<n>    200 with n zero bytes
//   POST /sink       reads and discards the body (Content-Length or chunked), 200 "ok"
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>

class LoopbackServer {
  public:
    LoopbackServer();
    ~LoopbackServer();
    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;

    int port() const { return port_; }
    std::string url(const std::string& path) const;
    std::uint64_t bytesReceived() const { return received_; }

  private:
    void acceptLoop();
    void serve(int fd);

    int listener_ = -1;
    int port_ = 0;
    std::atomic<bool> stopping_{false};
    std::atomic<std::uint64_t> received_{0};
    std::thread acceptor_;
};
