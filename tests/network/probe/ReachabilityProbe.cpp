// Watches reachability while the loopback link comes and goes. Run it in a network namespace
// of its own (`unshare -rn`), where `lo` starts down and the probe may switch it with `ip`.
//
// Prints, one per line as they happen:
//   "loopback <status>"   the status block of a manager for 127.0.0.1
//   "general <status>"    the status block of the shared manager (the all-zero address)
//   "flags <hex>"         the callback of a platform reference for 127.0.0.1
//   "released …", "unscheduled …"  must never appear: a manager released while monitoring and a
//                         reference unscheduled before the changes
//   "posts <n>"           the change notifications posted, once lo has come and gone
//   "nocarrier <hex>", "carrier <hex>"  the flags of an address behind an interface that is
//                         up, without and then with a carrier
//   "step <what>"         each change it makes, and "done" at the end
// Exits 1 when a step fails or a wait runs out (every wait is bounded).
#include <arpa/inet.h>
#include <netinet/in.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>

#include "SocialSDK/framework/network/RAZududeNetworkReachabilityManager.h"
#include "platform/MainLoop.h"
#include "platform/NotificationCenter.h"

namespace {

constexpr double kWait = 10;

void say(const std::string& line) {
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

bool waitFor(const std::function<bool()>& done) {
    return platform::MainLoop::main().runUntil(done, kWait);
}

bool run(const char* command) {
    say(std::string("step ") + command);
    return std::system(command) == 0;
}

}  // namespace

int main() {
    using platform::NetworkReachability;
    sockaddr_in loopback{};
    loopback.sin_family = AF_INET;
    loopback.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const auto* address = reinterpret_cast<const sockaddr*>(&loopback);

    int posts = 0;
    platform::ObserverToken token = platform::NotificationCenter::defaultCenter().addObserver(
        RAZududeNetworkingReachabilityDidChangeNotification, nullptr,
        [&](const platform::Notification&) { ++posts; });

    int loopbackStatus = -2;
    int generalStatus = -2;
    NetworkReachability::Flags flags = 0;
    bool flagsSeen = false;

    auto manager = RAZududeNetworkReachabilityManager::managerForAddress(address);
    manager->setReachabilityStatusChangeBlock([&](RAZududeNetworkReachabilityStatus status) {
        loopbackStatus = status;
        say("loopback " + std::to_string(status));
    });
    const auto& general = RAZududeNetworkReachabilityManager::sharedManager();
    general->setReachabilityStatusChangeBlock([&](RAZududeNetworkReachabilityStatus status) {
        generalStatus = status;
        say("general " + std::to_string(status));
    });
    auto released = RAZududeNetworkReachabilityManager::managerForAddress(address);
    released->setReachabilityStatusChangeBlock([](RAZududeNetworkReachabilityStatus status) {
        say("released " + std::to_string(status));
    });
    auto reference = NetworkReachability::createWithAddress(address);
    reference->setCallback([&](NetworkReachability::Flags now) {
        flags = now;
        flagsSeen = true;
        char text[16];
        std::snprintf(text, sizeof text, "%x", now);
        say(std::string("flags ") + text);
    });
    auto unscheduled = NetworkReachability::createWithAddress(address);
    unscheduled->setCallback(
        [](NetworkReachability::Flags now) { say("unscheduled " + std::to_string(now)); });

    manager->startMonitoring();
    general->startMonitoring();
    released->startMonitoring();
    released.reset();
    if (!reference->scheduleWithMainLoop() || !unscheduled->scheduleWithMainLoop()) {
        say("cannot schedule");
        return 1;
    }
    unscheduled->unscheduleFromMainLoop();

    // The three first readings (the released manager's too) are in before anything changes.
    if (!waitFor([&] { return posts >= 3 && loopbackStatus >= 0 && generalStatus >= 0; })) {
        say("no first reading");
        return 1;
    }
    if (!run("ip link set lo up") || !waitFor([&] {
            return loopbackStatus == 2 && generalStatus == 2 &&
                   (flags & NetworkReachability::kReachable);
        })) {
        say("no change to reachable");
        return 1;
    }
    if (!run("ip link set lo down") || !waitFor([&] {
            return loopbackStatus == 0 && generalStatus == 0 && flagsSeen && flags == 0;
        })) {
        say("no change to not reachable");
        return 1;
    }
    // Whatever the last change sent on its way has arrived.
    platform::MainLoop::main().runOnce();
    say("posts " + std::to_string(posts));

    // An interface that is up but has no carrier (its cable out: here the other end of a
    // virtual pair is down) reaches nothing; with the carrier it does.
    sockaddr_in behind{};
    behind.sin_family = AF_INET;
    behind.sin_addr.s_addr = htonl(0x0A090002);  // 10.9.0.2, on 10.9.0.1/24
    auto neighbour =
        NetworkReachability::createWithAddress(reinterpret_cast<const sockaddr*>(&behind));
    auto hex = [](NetworkReachability::Flags value) {
        char text[16];
        std::snprintf(text, sizeof text, "%x", value);
        return std::string(text);
    };
    if (!run("ip link add veth0 type veth peer name veth1") ||
        !run("ip addr add 10.9.0.1/24 dev veth0") || !run("ip link set veth0 up")) {
        return 1;
    }
    say("nocarrier " + hex(neighbour->flags().value_or(0xFFFFFFFF)));
    if (!run("ip link set veth1 up") || !waitFor([&] {
            return (neighbour->flags().value_or(0) & NetworkReachability::kReachable) != 0;
        })) {
        say("no carrier came");
        return 1;
    }
    say("carrier " + hex(neighbour->flags().value_or(0)));
    say("done");
    return 0;
}
