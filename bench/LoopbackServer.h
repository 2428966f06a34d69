// A small HTTP/1.1 server for the network benchmarks: keep-alive, a thread per connection,
// answers fast enough that the client side is what gets measured.
//   GET  /small      200 with a 16-byte body
//   GET  /big/<n>    200 with n zero bytes
//   POST /sink       reads and discards the body (Content-Length or chunked), 200 "ok"
//   GET  <path>      the body given for the path with setBody (the query is ignored)
// It counts the requests of every path.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

// A socket listening on 127.0.0.1 at a free port, which it writes to `port`; throws when it
// cannot listen. Both benchmark servers start from it.
int listenOnLoopback(int& port);

class LoopbackServer {
  public:
    LoopbackServer();
    ~LoopbackServer();
    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;

    int port() const { return port_; }
    std::string url(const std::string& path) const;
    std::uint64_t bytesReceived() const { return received_; }

    void setBody(const std::string& path, std::string body, std::string contentType);
    std::uint64_t requestsFor(const std::string& path) const;

  private:
    void acceptLoop();
    void serve(int fd);

    int listener_ = -1;
    int port_ = 0;
    std::atomic<bool> stopping_{false};
    std::atomic<std::uint64_t> received_{0};

    struct Body {
        std::string data;
        std::string contentType;
    };
    mutable std::mutex mutex_;  // guards the two below
    std::map<std::string, std::shared_ptr<const Body>> bodies_;
    std::map<std::string, std::uint64_t> requests_;
    std::thread acceptor_;
};
