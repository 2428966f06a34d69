// Reachability flags read from this machine's own loopback, which is up wherever the suite runs.
// How they change as links come and go is tested in a namespace of its own, in
// tests/network/loopback.
#include "platform/net/NetworkReachability.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/un.h>

#include <stdexcept>
#include <thread>

#include <gtest/gtest.h>

namespace {

using platform::NetworkReachability;

constexpr NetworkReachability::Flags kLocal = NetworkReachability::kReachable |
                                              NetworkReachability::kIsLocalAddress |
                                              NetworkReachability::kIsDirect;

std::unique_ptr<NetworkReachability> forIpv4(const char* text) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    EXPECT_EQ(inet_pton(AF_INET, text, &address.sin_addr), 1);
    return NetworkReachability::createWithAddress(reinterpret_cast<const sockaddr*>(&address));
}

TEST(NetworkReachability, LoopbackIsLocalDirectAndReachable) {
    EXPECT_EQ(forIpv4("127.0.0.1")->flags(), kLocal);
    EXPECT_EQ(forIpv4("127.3.2.1")->flags(), kLocal) << "all of 127/8 is this machine";
    EXPECT_EQ(NetworkReachability::createWithName("localhost")->flags(), kLocal);
    EXPECT_EQ(NetworkReachability::createWithName("127.0.0.1")->flags(), kLocal);
}

TEST(NetworkReachability, RefusesWhatIsNoTarget) {
    EXPECT_THROW(NetworkReachability::createWithAddress(nullptr), std::invalid_argument);
    sockaddr_un local{};
    local.sun_family = AF_UNIX;
    EXPECT_THROW(NetworkReachability::createWithAddress(reinterpret_cast<const sockaddr*>(&local)),
                 std::invalid_argument);
    EXPECT_THROW(NetworkReachability::createWithName(""), std::invalid_argument);
    EXPECT_THROW(NetworkReachability::createWithName(std::string_view("a\0b", 3)),
                 std::invalid_argument);
}

TEST(NetworkReachability, SchedulingIsIdempotentAndEndsWithTheObject) {
    for (int round = 0; round < 20; ++round) {
        auto address = forIpv4("127.0.0.1");
        auto name = NetworkReachability::createWithName("localhost");
        address->setCallback([](NetworkReachability::Flags) {});
        name->setCallback([](NetworkReachability::Flags) {});
        ASSERT_TRUE(address->scheduleWithMainLoop());
        EXPECT_TRUE(address->scheduleWithMainLoop());
        ASSERT_TRUE(name->scheduleWithMainLoop());
        if (round % 2) {
            address->unscheduleFromMainLoop();
            address->unscheduleFromMainLoop();
        }
        // Gone while the name may still be resolving in the background, and from another
        // thread than the main one.
        std::thread([&] { name.reset(); }).join();
        address.reset();
    }
}

}  // namespace
