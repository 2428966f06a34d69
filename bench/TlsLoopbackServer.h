// A small HTTPS/1.1 server for the TLS benchmarks: a self-signed certificate for 127.0.0.1
// and "localhost" made when it starts (an EC P-256 key, valid for a day), keep-alive, TLS
// session tickets, a thread per connection. Every GET is answered 200 with a 16-byte body.
// It counts the handshakes it completed, so that a benchmark can tell how often its client
// made a new connection.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "platform/Value.h"

struct ssl_ctx_st;

class TlsLoopbackServer {
  public:
    TlsLoopbackServer();
    ~TlsLoopbackServer();
    TlsLoopbackServer(const TlsLoopbackServer&) = delete;
    TlsLoopbackServer& operator=(const TlsLoopbackServer&) = delete;

    int port() const { return port_; }
    std::string url(const std::string& path) const;

    // The server's certificate: DER for our trust, PEM for libcurl.
    const platform::Bytes& certificateDer() const { return der_; }
    const std::string& certificatePem() const { return pem_; }

    std::uint64_t handshakes() const { return handshakes_; }

  private:
    void acceptLoop();
    void serve(int fd);

    ssl_ctx_st* context_ = nullptr;
    platform::Bytes der_;
    std::string pem_;
    int listener_ = -1;
    int port_ = 0;
    std::atomic<bool> stopping_{false};
    std::atomic<std::uint64_t> handshakes_{0};
    std::thread acceptor_;
};
