// Whether a host or an address can be reached from this machine, and over what, read from the
// kernel's interfaces and routing tables, with change callbacks on the main loop.
//
// What the flags mean for a target:
//
//   * A specific IPv4 or IPv6 address: the kernel is asked for its route (as `ip route get`
//     does). No route: nothing set. A local route (the address is this machine's own, 127/8
//     and ::1 included): IsLocalAddress and IsDirect. A route without a gateway: IsDirect. The
//     route's outgoing interface must be up and running for Reachable; IsWWAN follows that
//     interface. Loopback counts: 127.0.0.1 is reachable exactly while `lo` is up.
//   * The all-zero address (0.0.0.0, and likewise ::) stands for "the internet in general":
//     Reachable when a default route (either family, any table but the local one) leads out
//     through an interface that is up, running, not loopback, and holds an address of that
//     family (for IPv6 one that is not link-local). Among several, the lowest metric wins,
//     IPv4 first on a tie; IsWWAN follows its interface. A machine with no interface but
//     loopback (a network namespace of its own) has no outside network at all, and whatever it
//     talks to is local: there the general address is Reachable, IsLocalAddress and IsDirect
//     while `lo` is up with an address, and nothing otherwise. An interface that exists but is
//     down makes the machine count as networked (and then offline): that is airplane mode.
//   * A host name: resolved with getaddrinfo, then the first of its addresses that is
//     reachable gives the flags; nothing set when it does not resolve or none is reachable.
//
// A link counts as mobile (IsWWAN) when the kernel marks it as one: device type "wwan", or a
// raw-IP link (no link-layer header, as cellular modems' data channels are); or when its name
// says so: "ww…" (wwan0, and the system's predictable names wwp…/wwx…), "rmnet…" and
// "ccmni…" (phone modems). PPP links are not counted: here they carry DSL and VPNs as often as
// a modem, and nothing in the link tells which. Everything else counts as WiFi or LAN.
// Connections are never made on demand or on traffic here, so ConnectionRequired,
// ConnectionOnTraffic, InterventionRequired and ConnectionOnDemand are never set.
//
// Threads: make and use an object on any thread. Callbacks run on MainLoop::main(). One
// background thread per process watches the kernel's routing socket for link, address and
// route changes; each scheduled object then recomputes its flags on a serial queue of its
// own (names resolve there, off the main thread) and, when they differ from the last ones,
// posts its callback to the main loop.
#pragma once

#include <sys/socket.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string_view>

namespace platform {

class NetworkReachability {
  public:
    // Numbered as the platform numbers them.
    using Flags = std::uint32_t;
    static constexpr Flags kReachable = 0x2;
    static constexpr Flags kConnectionRequired = 0x4;
    static constexpr Flags kConnectionOnTraffic = 0x8;
    static constexpr Flags kInterventionRequired = 0x10;
    static constexpr Flags kConnectionOnDemand = 0x20;
    static constexpr Flags kIsLocalAddress = 0x10000;
    static constexpr Flags kIsDirect = 0x20000;
    static constexpr Flags kIsWWAN = 0x40000;

    using Callback = std::function<void(Flags flags)>;

    // For an AF_INET (sockaddr_in) or AF_INET6 (sockaddr_in6) address; the family decides how
    // much is read. Throws std::invalid_argument for a null address or any other family.
    static std::unique_ptr<NetworkReachability> createWithAddress(const sockaddr* address);
    // For a host name (or a numeric address in text). Throws std::invalid_argument when it is
    // empty or holds a NUL.
    static std::unique_ptr<NetworkReachability> createWithName(std::string_view name);

    // Unschedules. Once it returns no callback of this object starts, and none is running on
    // another thread (one running on this thread, which is destroying the object from inside
    // its own callback, finishes normally).
    ~NetworkReachability();
    NetworkReachability(const NetworkReachability&) = delete;
    NetworkReachability& operator=(const NetworkReachability&) = delete;

    // The flags now. For a name this resolves it on the calling thread, which may take as
    // long as the resolver does: keep it off the main thread. Nothing when the kernel cannot
    // be asked (no socket left, say).
    std::optional<Flags> flags() const;

    // The callback for changes while scheduled; an empty one removes it. Any thread.
    void setCallback(Callback callback);

    // Starts watching. The flags at this moment become the reference and are not reported;
    // every later change of the flags is, once, on the main loop. For an address the reference
    // is read before this returns; for a name it is read once the name has resolved in the
    // background, so a change during that resolution is taken into the reference. False (and
    // logged) when the kernel's change notices cannot be subscribed to; scheduling twice is
    // the same as once.
    bool scheduleWithMainLoop();
    // Stops the callbacks, including those already on their way to the main loop.
    void unscheduleFromMainLoop();

    struct State;  // shared with the watcher and the queued work, which hold it weakly

  private:
    explicit NetworkReachability(std::shared_ptr<State> state);
    std::shared_ptr<State> state_;
};

}  // namespace platform
