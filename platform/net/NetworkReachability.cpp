#include "platform/net/NetworkReachability.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <net/if_arp.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netpacket/packet.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <fstream>
#include <map>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <variant>
#include <vector>

#include "platform/Dispatch.h"
#include "platform/Log.h"
#include "platform/MainLoop.h"

namespace platform {

namespace {

using Flags = NetworkReachability::Flags;

// ---------------------------------------------------------------------------------------------
// Talking to the kernel's routing socket.

// One netlink request and its replies. Replies are read with a bound on the wait, so that a
// kernel that never answers (it always does) cannot hang a recompute.
class RouteSocket {
  public:
    RouteSocket() {
        fd_ = ::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE);
        if (fd_ < 0) {
            return;
        }
        timeval timeout{2, 0};
        ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    }
    ~RouteSocket() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    RouteSocket(const RouteSocket&) = delete;
    RouteSocket& operator=(const RouteSocket&) = delete;

    bool isOpen() const { return fd_ >= 0; }

    // Sends the request and hands every reply message (header and payload) to `each` until
    // the kernel is done: after one reply for a plain request, after NLMSG_DONE for a dump.
    // False when the kernel answered with an error, or could not be reached.
    template <class Each>
    bool exchange(std::vector<std::uint8_t>& request, bool dump, Each&& each) {
        nlmsghdr header;
        std::memcpy(&header, request.data(), sizeof header);
        header.nlmsg_len = static_cast<std::uint32_t>(request.size());
        header.nlmsg_seq = ++sequence_;
        header.nlmsg_flags = NLM_F_REQUEST | (dump ? NLM_F_DUMP : 0);
        std::memcpy(request.data(), &header, sizeof header);
        sockaddr_nl kernel{};
        kernel.nl_family = AF_NETLINK;
        if (::sendto(fd_, request.data(), request.size(), 0, reinterpret_cast<sockaddr*>(&kernel),
                     sizeof kernel) < 0) {
            return false;
        }
        for (;;) {
            const ssize_t received = ::recv(fd_, buffer_.data(), buffer_.size(), MSG_TRUNC);
            if (received < 0) {
                if (errno == EINTR) {
                    continue;
                }
                return false;
            }
            if (static_cast<std::size_t>(received) > buffer_.size()) {
                return false;  // a reply larger than any the kernel sends
            }
            std::size_t offset = 0;
            const auto size = static_cast<std::size_t>(received);
            while (offset + sizeof(nlmsghdr) <= size) {
                nlmsghdr reply;
                std::memcpy(&reply, buffer_.data() + offset, sizeof reply);
                if (reply.nlmsg_len < sizeof reply || offset + reply.nlmsg_len > size) {
                    return false;
                }
                const std::uint8_t* payload = buffer_.data() + offset + NLMSG_HDRLEN;
                const std::size_t payloadSize = reply.nlmsg_len - NLMSG_HDRLEN;
                offset += NLMSG_ALIGN(reply.nlmsg_len);
                if (reply.nlmsg_seq != sequence_) {
                    continue;
                }
                if (reply.nlmsg_type == NLMSG_DONE) {
                    return true;
                }
                if (reply.nlmsg_type == NLMSG_ERROR) {
                    nlmsgerr error{};
                    std::memcpy(&error, payload, std::min(payloadSize, sizeof error));
                    return error.error == 0;
                }
                each(reply.nlmsg_type, payload, payloadSize);
                if (!dump) {
                    return true;
                }
            }
        }
    }

  private:
    int fd_ = -1;
    std::uint32_t sequence_ = 0;
    std::vector<std::uint8_t> buffer_ = std::vector<std::uint8_t>(65536);
};

// Appends one attribute to a request.
void addAttribute(std::vector<std::uint8_t>& request, unsigned short type, const void* data,
                  std::size_t size) {
    rtattr attribute{};
    attribute.rta_type = type;
    attribute.rta_len = static_cast<unsigned short>(RTA_LENGTH(size));
    const std::size_t at = request.size();
    request.resize(at + RTA_SPACE(size));
    std::memcpy(request.data() + at, &attribute, sizeof attribute);
    std::memcpy(request.data() + at + RTA_LENGTH(0), data, size);
}

// A request with a header, a routing message and room for its attributes.
std::vector<std::uint8_t> routeRequest(unsigned char family) {
    std::vector<std::uint8_t> request(NLMSG_SPACE(sizeof(rtmsg)));
    nlmsghdr header{};
    header.nlmsg_type = RTM_GETROUTE;
    rtmsg message{};
    message.rtm_family = family;
    std::memcpy(request.data(), &header, sizeof header);
    std::memcpy(request.data() + NLMSG_HDRLEN, &message, sizeof message);
    return request;
}

// What a route says about where traffic goes.
struct Route {
    unsigned char type = RTN_UNSPEC;
    unsigned char family = AF_UNSPEC;
    unsigned table = RT_TABLE_UNSPEC;
    bool isDefault = false;
    bool hasGateway = false;
    std::uint32_t metric = 0;
    std::vector<int> interfaces;  // one, or each hop of a multipath route
};

Route parseRoute(const std::uint8_t* payload, std::size_t size) {
    Route route;
    rtmsg message{};
    if (size < sizeof message) {
        return route;
    }
    std::memcpy(&message, payload, sizeof message);
    route.type = message.rtm_type;
    route.family = message.rtm_family;
    route.table = message.rtm_table;
    route.isDefault = message.rtm_dst_len == 0;
    std::size_t offset = NLMSG_ALIGN(sizeof message);
    while (offset + sizeof(rtattr) <= size) {
        rtattr attribute;
        std::memcpy(&attribute, payload + offset, sizeof attribute);
        if (attribute.rta_len < sizeof attribute || offset + attribute.rta_len > size) {
            break;
        }
        const std::uint8_t* data = payload + offset + RTA_LENGTH(0);
        const std::size_t dataSize = attribute.rta_len - RTA_LENGTH(0);
        std::uint32_t number = 0;
        if (dataSize >= sizeof number) {
            std::memcpy(&number, data, sizeof number);
        }
        switch (attribute.rta_type) {
            case RTA_OIF:
                route.interfaces.push_back(static_cast<int>(number));
                break;
            case RTA_GATEWAY:
            case RTA_VIA:
                route.hasGateway = true;
                break;
            case RTA_PRIORITY:
                route.metric = number;
                break;
            case RTA_TABLE:
                route.table = number;
                break;
            case RTA_MULTIPATH: {
                std::size_t at = 0;
                while (at + sizeof(rtnexthop) <= dataSize) {
                    rtnexthop hop;
                    std::memcpy(&hop, data + at, sizeof hop);
                    if (hop.rtnh_len < sizeof hop || at + hop.rtnh_len > dataSize) {
                        break;
                    }
                    route.interfaces.push_back(hop.rtnh_ifindex);
                    // A hop's own attributes follow it; a gateway among them makes it indirect.
                    std::size_t inner = at + RTNH_ALIGN(sizeof hop);
                    while (inner + sizeof(rtattr) <= at + hop.rtnh_len) {
                        rtattr hopAttribute;
                        std::memcpy(&hopAttribute, data + inner, sizeof hopAttribute);
                        if (hopAttribute.rta_len < sizeof hopAttribute) {
                            break;
                        }
                        if (hopAttribute.rta_type == RTA_GATEWAY ||
                            hopAttribute.rta_type == RTA_VIA) {
                            route.hasGateway = true;
                        }
                        inner += RTA_ALIGN(hopAttribute.rta_len);
                    }
                    at += RTNH_ALIGN(hop.rtnh_len);
                }
                break;
            }
            default:
                break;
        }
        offset += RTA_ALIGN(attribute.rta_len);
    }
    return route;
}

// The route the kernel would take to the address; nothing when it has none.
std::optional<Route> routeTo(RouteSocket& socket, const sockaddr_storage& address) {
    std::vector<std::uint8_t> request = routeRequest(static_cast<unsigned char>(address.ss_family));
    rtmsg message{};
    std::memcpy(&message, request.data() + NLMSG_HDRLEN, sizeof message);
    if (address.ss_family == AF_INET) {
        sockaddr_in in;
        std::memcpy(&in, &address, sizeof in);
        message.rtm_dst_len = 32;
        std::memcpy(request.data() + NLMSG_HDRLEN, &message, sizeof message);
        addAttribute(request, RTA_DST, &in.sin_addr, sizeof in.sin_addr);
    } else {
        sockaddr_in6 in6;
        std::memcpy(&in6, &address, sizeof in6);
        message.rtm_dst_len = 128;
        std::memcpy(request.data() + NLMSG_HDRLEN, &message, sizeof message);
        addAttribute(request, RTA_DST, &in6.sin6_addr, sizeof in6.sin6_addr);
        if (in6.sin6_scope_id != 0) {
            const std::uint32_t scope = in6.sin6_scope_id;
            addAttribute(request, RTA_OIF, &scope, sizeof scope);
        }
    }
    std::optional<Route> found;
    const bool answered =
        socket.exchange(request, false, [&](unsigned type, const std::uint8_t* p, std::size_t n) {
            if (type == RTM_NEWROUTE) {
                found = parseRoute(p, n);
            }
        });
    return answered ? found : std::nullopt;
}

// Every unicast default route of both families, outside the local table.
std::vector<Route> defaultRoutes(RouteSocket& socket) {
    std::vector<Route> routes;
    for (const unsigned char family : {AF_INET, AF_INET6}) {
        std::vector<std::uint8_t> request = routeRequest(family);
        socket.exchange(request, true, [&](unsigned type, const std::uint8_t* p, std::size_t n) {
            if (type != RTM_NEWROUTE) {
                return;
            }
            Route route = parseRoute(p, n);
            if (route.isDefault && route.type == RTN_UNICAST && route.table != RT_TABLE_LOCAL) {
                routes.push_back(std::move(route));
            }
        });
    }
    return routes;
}

// ---------------------------------------------------------------------------------------------
// The machine's interfaces.

struct Link {
    std::string name;
    unsigned flags = 0;
    unsigned short type = 0;  // ARPHRD_*
    bool hasIpv4 = false;
    bool hasRoutableIpv6 = false;  // an IPv6 address that is not link-local

    bool isUp() const { return (flags & IFF_UP) && (flags & IFF_RUNNING); }
    bool isLoopback() const { return flags & IFF_LOOPBACK; }
};

// By interface index.
std::map<int, Link> readLinks() {
    std::map<int, Link> links;
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0) {
        return links;
    }
    std::map<std::string, int> indexByName;
    for (const ifaddrs* entry = list; entry; entry = entry->ifa_next) {
        if (entry->ifa_addr && entry->ifa_addr->sa_family == AF_PACKET) {
            sockaddr_ll link;
            std::memcpy(&link, entry->ifa_addr, sizeof link);
            Link& info = links[link.sll_ifindex];
            info.name = entry->ifa_name;
            info.flags = entry->ifa_flags;
            info.type = link.sll_hatype;
            indexByName[info.name] = link.sll_ifindex;
        }
    }
    for (const ifaddrs* entry = list; entry; entry = entry->ifa_next) {
        if (!entry->ifa_addr) {
            continue;
        }
        const auto index = indexByName.find(entry->ifa_name);
        if (index == indexByName.end()) {
            continue;
        }
        Link& info = links[index->second];
        if (entry->ifa_addr->sa_family == AF_INET) {
            info.hasIpv4 = true;
        } else if (entry->ifa_addr->sa_family == AF_INET6) {
            sockaddr_in6 in6;
            std::memcpy(&in6, entry->ifa_addr, sizeof in6);
            if (!IN6_IS_ADDR_LINKLOCAL(&in6.sin6_addr)) {
                info.hasRoutableIpv6 = true;
            }
        }
    }
    ::freeifaddrs(list);
    return links;
}

bool kernelSaysWwan(const std::string& name) {
    std::ifstream uevent("/sys/class/net/" + name + "/uevent");
    std::string line;
    while (std::getline(uevent, line)) {
        if (line == "DEVTYPE=wwan") {
            return true;
        }
    }
    return false;
}

bool isMobile(const Link& link) {
    const std::string_view name = link.name;
    return link.type == ARPHRD_RAWIP || name.starts_with("ww") || name.starts_with("rmnet") ||
           name.starts_with("ccmni") || kernelSaysWwan(link.name);
}

// ---------------------------------------------------------------------------------------------
// Flags for a target.

bool isUnspecified(const sockaddr_storage& address) {
    if (address.ss_family == AF_INET) {
        sockaddr_in in;
        std::memcpy(&in, &address, sizeof in);
        return in.sin_addr.s_addr == htonl(INADDR_ANY);
    }
    sockaddr_in6 in6;
    std::memcpy(&in6, &address, sizeof in6);
    return IN6_IS_ADDR_UNSPECIFIED(&in6.sin6_addr);
}

std::optional<Flags> flagsForInternet(RouteSocket& socket) {
    const std::map<int, Link> links = readLinks();
    const bool onlyLoopback = std::none_of(
        links.begin(), links.end(), [](const auto& entry) { return !entry.second.isLoopback(); });
    if (onlyLoopback) {
        const bool loopbackUp = std::any_of(links.begin(), links.end(), [](const auto& entry) {
            const Link& link = entry.second;
            return link.isUp() && (link.hasIpv4 || link.hasRoutableIpv6);
        });
        return loopbackUp ? NetworkReachability::kReachable | NetworkReachability::kIsLocalAddress |
                                NetworkReachability::kIsDirect
                          : 0;
    }
    std::vector<Route> routes = defaultRoutes(socket);
    std::stable_sort(routes.begin(), routes.end(), [](const Route& a, const Route& b) {
        if (a.metric != b.metric) {
            return a.metric < b.metric;
        }
        return a.family == AF_INET && b.family != AF_INET;
    });
    for (const Route& route : routes) {
        for (const int index : route.interfaces) {
            const auto found = links.find(index);
            if (found == links.end()) {
                continue;
            }
            const Link& link = found->second;
            const bool hasAddress = route.family == AF_INET ? link.hasIpv4 : link.hasRoutableIpv6;
            if (link.isUp() && !link.isLoopback() && hasAddress) {
                return NetworkReachability::kReachable |
                       (isMobile(link) ? NetworkReachability::kIsWWAN : 0);
            }
        }
    }
    return 0;
}

std::optional<Flags> flagsForAddress(const sockaddr_storage& address) {
    RouteSocket socket;
    if (!socket.isOpen()) {
        return std::nullopt;
    }
    if (isUnspecified(address)) {
        return flagsForInternet(socket);
    }
    const std::optional<Route> route = routeTo(socket, address);
    if (!route || route->interfaces.empty()) {
        return 0;
    }
    Flags flags = 0;
    switch (route->type) {
        case RTN_LOCAL:
            flags = NetworkReachability::kIsLocalAddress | NetworkReachability::kIsDirect;
            break;
        case RTN_UNICAST:
        case RTN_BROADCAST:
        case RTN_MULTICAST:
            flags = route->hasGateway ? 0 : NetworkReachability::kIsDirect;
            break;
        default:
            return 0;  // unreachable, blackhole, prohibit…
    }
    const std::map<int, Link> links = readLinks();
    const auto found = links.find(route->interfaces.front());
    if (found == links.end() || !found->second.isUp()) {
        return 0;
    }
    flags |= NetworkReachability::kReachable;
    if (route->type != RTN_LOCAL && isMobile(found->second)) {
        flags |= NetworkReachability::kIsWWAN;
    }
    return flags;
}

std::optional<Flags> flagsForName(const std::string& name) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* results = nullptr;
    if (::getaddrinfo(name.c_str(), nullptr, &hints, &results) != 0) {
        return 0;
    }
    std::vector<sockaddr_storage> addresses;
    for (const addrinfo* entry = results; entry; entry = entry->ai_next) {
        if ((entry->ai_family == AF_INET || entry->ai_family == AF_INET6) &&
            entry->ai_addrlen <= sizeof(sockaddr_storage)) {
            sockaddr_storage address{};
            std::memcpy(&address, entry->ai_addr, entry->ai_addrlen);
            addresses.push_back(address);
        }
    }
    ::freeaddrinfo(results);
    bool asked = false;
    for (const sockaddr_storage& address : addresses) {
        const std::optional<Flags> flags = flagsForAddress(address);
        asked = asked || flags.has_value();
        if (flags && (*flags & NetworkReachability::kReachable)) {
            return flags;
        }
    }
    return asked || addresses.empty() ? std::optional<Flags>(0) : std::nullopt;
}

using Target = std::variant<sockaddr_storage, std::string>;

std::optional<Flags> flagsFor(const Target& target) {
    if (const auto* address = std::get_if<sockaddr_storage>(&target)) {
        return flagsForAddress(*address);
    }
    return flagsForName(std::get<std::string>(target));
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// One object's shared state.

struct NetworkReachability::State : std::enable_shared_from_this<State> {
    explicit State(Target t)
        : target(std::move(t)), queue(DispatchQueue::serial("platform.reachability")) {}

    const Target target;
    const std::shared_ptr<DispatchQueue> queue;  // recomputes, one at a time
    std::atomic<bool> recomputeQueued{false};

    std::mutex mutex;
    std::condition_variable idle;
    Callback callback;
    bool scheduled = false;
    bool closed = false;
    std::uint64_t generation = 0;  // moves on with every schedule and unschedule
    std::optional<Flags> reference;
    int delivering = 0;  // callbacks running on the main thread

    bool isName() const { return std::holds_alternative<std::string>(target); }

    // From the watcher: something changed, look again (once, however many notices came).
    void requestRecompute() {
        if (recomputeQueued.exchange(true)) {
            return;
        }
        queue->async([weak = weak_from_this()] {
            if (auto self = weak.lock()) {
                self->recomputeQueued = false;
                self->recompute();
            }
        });
    }

    // Runs on the queue.
    void recompute() {
        std::uint64_t seen = 0;
        {
            std::lock_guard lock(mutex);
            if (!scheduled) {
                return;
            }
            seen = generation;
        }
        const std::optional<Flags> now = flagsFor(target);
        if (!now) {
            return;  // the kernel could not be asked; the next notice tries again
        }
        std::lock_guard lock(mutex);
        if (!scheduled || generation != seen) {
            return;
        }
        if (!reference) {
            reference = now;
            return;
        }
        if (*reference == *now) {
            return;
        }
        reference = now;
        MainLoop::main().post([weak = weak_from_this(), seen, flags = *now] {
            if (auto self = weak.lock()) {
                self->deliver(seen, flags);
            }
        });
    }

    void deliver(std::uint64_t sentFor, Flags flags) {
        Callback call;
        {
            std::lock_guard lock(mutex);
            if (closed || !scheduled || generation != sentFor || !callback) {
                return;
            }
            call = callback;
            ++delivering;
        }
        try {
            call(flags);
        } catch (const std::exception& e) {
            consoleLog("reachability callback threw: %@", std::string(e.what()));
        } catch (...) {
            consoleLog("reachability callback threw");
        }
        std::lock_guard lock(mutex);
        --delivering;
        idle.notify_all();
    }
};

namespace {

// The process's one watcher of the routing socket: a thread that sleeps in recv and, after each
// burst of notices, asks every scheduled object to look again. Made on first schedule, never
// stopped; it holds the objects weakly.
class Watcher {
  public:
    // Nothing (logged) when the socket cannot be opened; the next call tries again.
    static Watcher* shared() {
        static std::mutex mutex;
        std::lock_guard lock(mutex);
        if (!instance_) {
            const int fd = open();
            if (fd >= 0) {
                instance_ = new Watcher(fd);
            }
        }
        return instance_;
    }
    // The watcher if one was made, without making one.
    static Watcher* existing() { return instance_; }

    void add(const std::shared_ptr<NetworkReachability::State>& state) {
        std::lock_guard lock(mutex_);
        prune();
        for (const auto& entry : states_) {
            if (entry.lock() == state) {
                return;
            }
        }
        states_.push_back(state);
    }

    void remove(const NetworkReachability::State* state) {
        std::lock_guard lock(mutex_);
        std::erase_if(states_, [state](const std::weak_ptr<NetworkReachability::State>& entry) {
            const auto locked = entry.lock();
            return !locked || locked.get() == state;
        });
    }

  private:
    explicit Watcher(int fd) : fd_(fd) {
        std::thread([this] { run(); }).detach();
    }

    static int open() {
        const int fd = ::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE);
        if (fd < 0) {
            consoleLog("reachability: no routing socket: %@", std::string(std::strerror(errno)));
            return -1;
        }
        sockaddr_nl local{};
        local.nl_family = AF_NETLINK;
        local.nl_groups = RTMGRP_LINK | RTMGRP_IPV4_IFADDR | RTMGRP_IPV6_IFADDR |
                          RTMGRP_IPV4_ROUTE | RTMGRP_IPV6_ROUTE;
        if (::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
            consoleLog("reachability: cannot watch the routing socket: %@",
                       std::string(std::strerror(errno)));
            ::close(fd);
            return -1;
        }
        return fd;
    }

    void prune() {
        std::erase_if(states_, [](const auto& entry) { return entry.expired(); });
    }

    void run() {
        std::array<std::uint8_t, 16384> buffer;
        for (;;) {
            const ssize_t received = ::recv(fd_, buffer.data(), buffer.size(), 0);
            // ENOBUFS: notices were lost, which means there were changes.
            if (received < 0 && errno != ENOBUFS) {
                if (errno == EINTR) {
                    continue;
                }
                consoleLog("reachability: routing socket failed, changes go unseen: %@",
                           std::string(std::strerror(errno)));
                return;
            }
            // Take the whole burst (a link coming up brings its addresses and routes along).
            for (;;) {
                const ssize_t more = ::recv(fd_, buffer.data(), buffer.size(), MSG_DONTWAIT);
                if (more <= 0 && errno != ENOBUFS && errno != EINTR) {
                    break;
                }
            }
            std::vector<std::shared_ptr<NetworkReachability::State>> live;
            {
                std::lock_guard lock(mutex_);
                prune();
                for (const auto& entry : states_) {
                    if (auto state = entry.lock()) {
                        live.push_back(std::move(state));
                    }
                }
            }
            for (const auto& state : live) {
                state->requestRecompute();
            }
        }
    }

    static inline std::atomic<Watcher*> instance_{nullptr};

    const int fd_;
    std::mutex mutex_;
    std::vector<std::weak_ptr<NetworkReachability::State>> states_;
};

}  // namespace

// ---------------------------------------------------------------------------------------------

std::unique_ptr<NetworkReachability> NetworkReachability::createWithAddress(
    const sockaddr* address) {
    if (!address) {
        throw std::invalid_argument("Invalid parameter not satisfying: address");
    }
    sockaddr_storage copy{};
    if (address->sa_family == AF_INET) {
        std::memcpy(&copy, address, sizeof(sockaddr_in));
    } else if (address->sa_family == AF_INET6) {
        std::memcpy(&copy, address, sizeof(sockaddr_in6));
    } else {
        throw std::invalid_argument("reachability needs an IPv4 or IPv6 address, not family " +
                                    std::to_string(address->sa_family));
    }
    return std::unique_ptr<NetworkReachability>(
        new NetworkReachability(std::make_shared<State>(copy)));
}

std::unique_ptr<NetworkReachability> NetworkReachability::createWithName(std::string_view name) {
    if (name.empty() || name.find('\0') != std::string_view::npos) {
        throw std::invalid_argument("reachability needs a host name without NUL characters");
    }
    return std::unique_ptr<NetworkReachability>(
        new NetworkReachability(std::make_shared<State>(std::string(name))));
}

NetworkReachability::NetworkReachability(std::shared_ptr<State> state) : state_(std::move(state)) {}

NetworkReachability::~NetworkReachability() {
    {
        std::unique_lock lock(state_->mutex);
        state_->closed = true;
        state_->scheduled = false;
        ++state_->generation;
        if (!MainLoop::main().isMainThread()) {
            state_->idle.wait(lock, [&] { return state_->delivering == 0; });
        }
    }
    if (Watcher* watcher = Watcher::existing()) {
        watcher->remove(state_.get());
    }
}

std::optional<NetworkReachability::Flags> NetworkReachability::flags() const {
    return flagsFor(state_->target);
}

void NetworkReachability::setCallback(Callback callback) {
    std::lock_guard lock(state_->mutex);
    state_->callback = std::move(callback);
}

bool NetworkReachability::scheduleWithMainLoop() {
    Watcher* watcher = Watcher::shared();
    if (!watcher) {
        return false;
    }
    {
        std::lock_guard lock(state_->mutex);
        if (state_->scheduled) {
            return true;
        }
        state_->scheduled = true;
        ++state_->generation;
        state_->reference.reset();
    }
    // Watch first, then take the reference: a change in between is then either in the
    // reference or reported after it, never lost.
    watcher->add(state_);
    if (state_->isName()) {
        state_->requestRecompute();
    } else {
        state_->queue->sync([this] { state_->recompute(); });
    }
    return true;
}

void NetworkReachability::unscheduleFromMainLoop() {
    {
        std::lock_guard lock(state_->mutex);
        if (!state_->scheduled) {
            return;
        }
        state_->scheduled = false;
        ++state_->generation;
    }
    if (Watcher* watcher = Watcher::existing()) {
        watcher->remove(state_.get());
    }
}

}  // namespace platform
