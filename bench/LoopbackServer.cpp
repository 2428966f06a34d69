#include "LoopbackServer.h"
#include "ServerPlacement.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <pthread.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <stdexcept>
#include <vector>

namespace {

bool writeAll(int fd, const char* data, std::size_t length) {
    while (length > 0) {
        const ssize_t n = send(fd, data, length, MSG_NOSIGNAL);
        if (n <= 0) {
            return false;
        }
        data += n;
        length -= static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace

int listenOnLoopback(int& port) {
    const int listener = socket(AF_INET, SOCK_STREAM, 0);
    int one = 1;
    setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(listener, 128) != 0) {
        close(listener);
        throw std::runtime_error("the benchmark server cannot listen");
    }
    socklen_t length = sizeof address;
    getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
    port = ntohs(address.sin_port);
    return listener;
}

LoopbackServer::LoopbackServer() {
    listener_ = listenOnLoopback(port_);
    acceptor_ = std::thread([this] { acceptLoop(); });
}

LoopbackServer::~LoopbackServer() {
    stopping_ = true;
    shutdown(listener_, SHUT_RDWR);
    close(listener_);
    acceptor_.join();
}

std::string LoopbackServer::url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
}

void LoopbackServer::setBody(const std::string& path, std::string body, std::string contentType) {
    auto given = std::make_shared<const Body>(Body{std::move(body), std::move(contentType)});
    std::lock_guard lock(mutex_);
    bodies_[path] = std::move(given);
}

std::uint64_t LoopbackServer::requestsFor(const std::string& path) const {
    std::lock_guard lock(mutex_);
    const auto found = requests_.find(path);
    return found == requests_.end() ? 0 : found->second;
}

void LoopbackServer::acceptLoop() {
    while (!stopping_) {
        const int fd = accept(listener_, nullptr, nullptr);
        if (fd < 0) {
            continue;
        }
        int one = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        std::thread([this, fd] { serve(fd); }).detach();
    }
}

void LoopbackServer::serve(int fd) {
    pthread_setname_np(pthread_self(), "bench-server");
    bench::moveToServerProcessors();
    std::string pending;
    std::vector<char> buffer(1 << 16);
    static const std::vector<char> zeros(1 << 20, '\0');
    auto fill = [&]() {
        const ssize_t n = recv(fd, buffer.data(), buffer.size(), 0);
        if (n <= 0) {
            return false;
        }
        pending.append(buffer.data(), static_cast<std::size_t>(n));
        return true;
    };
    // Drops the next `count` bytes of the stream; false when the peer goes first.
    auto skip = [&](std::uint64_t count) {
        while (count > 0) {
            if (pending.empty() && !fill()) {
                return false;
            }
            const std::uint64_t take = std::min<std::uint64_t>(count, pending.size());
            pending.erase(0, take);
            count -= take;
        }
        return true;
    };
    for (;;) {
        std::size_t end;
        while ((end = pending.find("\r\n\r\n")) == std::string::npos) {
            if (!fill()) {
                close(fd);
                return;
            }
        }
        const std::string head = pending.substr(0, end);
        pending.erase(0, end + 4);
        const std::string method = head.substr(0, head.find(' '));
        const auto pathStart = head.find(' ') + 1;
        const std::string path = head.substr(pathStart, head.find(' ', pathStart) - pathStart);

        auto header = [&](const char* name) -> std::string {
            std::string lower = head;
            for (auto& c : lower) {
                c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            }
            const auto at = lower.find(std::string("\r\n") + name + ":");
            if (at == std::string::npos) {
                return {};
            }
            const auto valueStart = head.find(':', at) + 1;
            std::string value = head.substr(valueStart, head.find("\r\n", valueStart) - valueStart);
            while (!value.empty() && value.front() == ' ') {
                value.erase(0, 1);
            }
            return value;
        };

        // Drain the body.
        const std::string lengthText = header("content-length");
        if (!lengthText.empty()) {
            const std::uint64_t length = std::stoull(lengthText);
            if (!skip(length)) {
                close(fd);
                return;
            }
            received_ += length;
        } else if (header("transfer-encoding") == "chunked") {
            for (;;) {
                std::size_t lineEnd;
                while ((lineEnd = pending.find("\r\n")) == std::string::npos) {
                    if (!fill()) {
                        close(fd);
                        return;
                    }
                }
                const std::uint64_t size = std::stoull(pending.substr(0, lineEnd), nullptr, 16);
                pending.erase(0, lineEnd + 2);
                if (!skip(size + 2)) {  // the chunk and its line break
                    close(fd);
                    return;
                }
                received_ += size;
                if (size == 0) {
                    break;
                }
            }
        }

        std::shared_ptr<const Body> given;
        {
            std::lock_guard lock(mutex_);
            const std::string bare = path.substr(0, path.find('?'));
            ++requests_[bare];
            if (const auto found = bodies_.find(bare); found != bodies_.end()) {
                given = found->second;
            }
        }
        if (given) {
            const std::string response =
                "HTTP/1.1 200 OK\r\nContent-Type: " + given->contentType +
                "\r\nContent-Length: " + std::to_string(given->data.size()) + "\r\n\r\n";
            if (!writeAll(fd, response.data(), response.size()) ||
                !writeAll(fd, given->data.data(), given->data.size())) {
                break;
            }
            continue;
        }
        if (path.rfind("/big/", 0) == 0) {
            std::uint64_t left = std::stoull(path.substr(5));
            const std::string response =
                "HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\n"
                "Content-Length: " +
                std::to_string(left) + "\r\n\r\n";
            if (!writeAll(fd, response.data(), response.size())) {
                break;
            }
            while (left > 0) {
                const std::size_t n =
                    static_cast<std::size_t>(std::min<std::uint64_t>(left, zeros.size()));
                if (!writeAll(fd, zeros.data(), n)) {
                    close(fd);
                    return;
                }
                left -= n;
            }
            continue;
        }
        const char* body = method == "POST" ? "ok" : "0123456789abcdef";
        const std::string response =
            std::string("HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\n") +
            "Content-Length: " + std::to_string(std::strlen(body)) + "\r\n\r\n" + body;
        if (!writeAll(fd, response.data(), response.size())) {
            break;
        }
    }
    close(fd);
}
