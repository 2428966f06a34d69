// The reachability manager on this machine: flags to status, its texts, and what it reports
// right after starting. Changes of the network are in loopback/ReachabilityChangeTest.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/un.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <vector>

#include <gtest/gtest.h>

#include "SocialSDK/framework/network/RAZududeNetworkReachabilityManager.h"
#include "platform/Bundle.h"
#include "platform/MainLoop.h"
#include "platform/NotificationCenter.h"
#include "tests/support/TempDir.h"

namespace {

using platform::NetworkReachability;
using Manager = RAZududeNetworkReachabilityManager;

sockaddr_in loopbackAddress() {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

std::shared_ptr<Manager> loopbackManager() {
    const sockaddr_in address = loopbackAddress();
    return Manager::managerForAddress(reinterpret_cast<const sockaddr*>(&address));
}

// The statuses that the change notification carried, in order.
class ChangeNotifications {
  public:
    ChangeNotifications()
        : token_(platform::NotificationCenter::defaultCenter().addObserver(
              RAZududeNetworkingReachabilityDidChangeNotification, nullptr,
              [this](const platform::Notification& n) {
                  const platform::Value* item =
                      n.userInfo.find(RAZududeNetworkingReachabilityNotificationStatusItem);
                  EXPECT_EQ(n.object, nullptr);
                  ASSERT_TRUE(item && item->integer()) << "the status travels as an integer";
                  statuses.push_back(static_cast<int>(*item->integer()));
              })) {}

    bool waitFor(std::size_t count, double seconds = 10) {
        return platform::MainLoop::main().runUntil([&] { return statuses.size() >= count; },
                                                   seconds);
    }

    std::vector<int> statuses;

  private:
    platform::ObserverToken token_;
};

TEST(ReachabilityStatus, FlagsBecomeAStatus) {
    const NetworkReachability::Flags reachable = NetworkReachability::kReachable;
    const NetworkReachability::Flags required = NetworkReachability::kConnectionRequired;
    const NetworkReachability::Flags onDemand = NetworkReachability::kConnectionOnDemand;
    const NetworkReachability::Flags onTraffic = NetworkReachability::kConnectionOnTraffic;
    const NetworkReachability::Flags intervention = NetworkReachability::kInterventionRequired;
    const NetworkReachability::Flags wwan = NetworkReachability::kIsWWAN;
    const NetworkReachability::Flags local =
        NetworkReachability::kIsLocalAddress | NetworkReachability::kIsDirect;
    struct Case {
        NetworkReachability::Flags flags;
        RAZududeNetworkReachabilityStatus status;
    };
    const Case cases[] = {
        {0, RAZududeNetworkReachabilityStatusNotReachable},
        {wwan | local, RAZududeNetworkReachabilityStatusNotReachable},
        {reachable, RAZududeNetworkReachabilityStatusReachableViaWiFi},
        {reachable | local, RAZududeNetworkReachabilityStatusReachableViaWiFi},
        {reachable | wwan, RAZududeNetworkReachabilityStatusReachableViaWWAN},
        // A connection must first be made, and nothing makes it without being asked.
        {reachable | required, RAZududeNetworkReachabilityStatusNotReachable},
        {reachable | required | wwan, RAZududeNetworkReachabilityStatusNotReachable},
        {reachable | required | onDemand, RAZududeNetworkReachabilityStatusReachableViaWiFi},
        {reachable | required | onDemand | wwan, RAZududeNetworkReachabilityStatusReachableViaWWAN},
        {reachable | required | onTraffic, RAZududeNetworkReachabilityStatusReachableViaWiFi},
        // Made on demand, but only once the user steps in.
        {reachable | required | onDemand | intervention,
         RAZududeNetworkReachabilityStatusNotReachable},
        {reachable | required | onTraffic | intervention | wwan,
         RAZududeNetworkReachabilityStatusNotReachable},
        {reachable | intervention, RAZududeNetworkReachabilityStatusReachableViaWiFi},
        {required | onDemand, RAZududeNetworkReachabilityStatusNotReachable},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Manager::statusForFlags(c.flags), c.status) << std::hex << "flags 0x" << c.flags;
    }
}

TEST(ReachabilityStatus, TextsComeFromTheNetworkingTableWithTheKeyAsDefault) {
    EXPECT_EQ(Manager::localizedStringForStatus(RAZududeNetworkReachabilityStatusNotReachable),
              "Not Reachable");
    EXPECT_EQ(Manager::localizedStringForStatus(RAZududeNetworkReachabilityStatusReachableViaWWAN),
              "Reachable via WWAN");
    EXPECT_EQ(Manager::localizedStringForStatus(RAZududeNetworkReachabilityStatusReachableViaWiFi),
              "Reachable via WiFi");
    EXPECT_EQ(Manager::localizedStringForStatus(RAZududeNetworkReachabilityStatusUnknown),
              "Unknown");
    EXPECT_EQ(Manager::localizedStringForStatus(static_cast<RAZududeNetworkReachabilityStatus>(7)),
              "Unknown");

    testing_support::TempDir app;
    std::ofstream(app.path() / "RAZududeNetworking.strings")
        << "\"Reachable via WiFi\" = \"Über WLAN erreichbar\";\n";
    const std::filesystem::path programFolder = platform::Bundle::mainBundle().bundlePath();
    platform::Bundle::setMainBundlePath(app.path());
    const std::string translated =
        Manager::localizedStringForStatus(RAZududeNetworkReachabilityStatusReachableViaWiFi);
    const std::string untranslated =
        Manager::localizedStringForStatus(RAZududeNetworkReachabilityStatusNotReachable);
    platform::Bundle::setMainBundlePath(programFolder);
    EXPECT_EQ(translated, "Über WLAN erreichbar");
    EXPECT_EQ(untranslated, "Not Reachable");
}

TEST(ReachabilityManager, StartsUnknownAndSaysWhatFollowsTheStatus) {
    const auto manager = loopbackManager();
    EXPECT_EQ(manager->networkReachabilityAssociation(), RAZududeNetworkReachabilityForAddress);
    EXPECT_EQ(manager->networkReachabilityStatus(), RAZududeNetworkReachabilityStatusUnknown);
    EXPECT_FALSE(manager->reachable());
    EXPECT_FALSE(manager->reachableViaWWAN());
    EXPECT_FALSE(manager->reachableViaWiFi());
    EXPECT_EQ(manager->localizedNetworkReachabilityStatusString(), "Unknown");
    EXPECT_EQ(Manager::managerForDomain("localhost")->networkReachabilityAssociation(),
              RAZududeNetworkReachabilityForName);
    EXPECT_EQ(Manager::initWithReachability(NetworkReachability::createWithName("localhost"))
                  ->networkReachabilityAssociation(),
              RAZududeNetworkReachabilityForReference);

    const std::set<std::string> status{"networkReachabilityStatus"};
    EXPECT_EQ(Manager::keyPathsForValuesAffectingValueForKey("reachable"), status);
    EXPECT_EQ(Manager::keyPathsForValuesAffectingValueForKey("reachableViaWWAN"), status);
    EXPECT_EQ(Manager::keyPathsForValuesAffectingValueForKey("reachableViaWiFi"), status);
    EXPECT_TRUE(
        Manager::keyPathsForValuesAffectingValueForKey("networkReachabilityStatus").empty());
    EXPECT_TRUE(Manager::keyPathsForValuesAffectingValueForKey("Reachable").empty());
}

TEST(ReachabilityManager, RefusesWhatIsNoTarget) {
    EXPECT_THROW(Manager::managerForAddress(nullptr), std::invalid_argument);
    sockaddr_un local{};
    local.sun_family = AF_UNIX;
    EXPECT_THROW(Manager::managerForAddress(reinterpret_cast<const sockaddr*>(&local)),
                 std::invalid_argument);
    EXPECT_THROW(Manager::managerForDomain(""), std::invalid_argument);
    EXPECT_THROW(Manager::managerForDomain(std::string_view("local\0host", 10)),
                 std::invalid_argument);
    try {
        Manager::initWithReachability(nullptr);
        ADD_FAILURE() << "a manager without a reference";
    } catch (const std::invalid_argument& e) {
        EXPECT_STREQ(e.what(), "Invalid parameter not satisfying: reachability");
    }
}

TEST(ReachabilityManager, AnAddressManagerReportsOnceRightAfterStarting) {
    ChangeNotifications notifications;
    const auto manager = loopbackManager();
    std::vector<RAZududeNetworkReachabilityStatus> seen;
    bool onMainThread = true;
    manager->setReachabilityStatusChangeBlock([&](RAZududeNetworkReachabilityStatus status) {
        onMainThread = onMainThread && platform::MainLoop::main().isMainThread();
        seen.push_back(status);
    });
    manager->startMonitoring();
    EXPECT_TRUE(seen.empty()) << "the first reading is made in the background";
    ASSERT_TRUE(notifications.waitFor(1));
    platform::MainLoop::main().runOnce();
    manager->stopMonitoring();

    // This machine's loopback is up, or nothing here would run at all.
    EXPECT_EQ(seen, std::vector{RAZududeNetworkReachabilityStatusReachableViaWiFi});
    EXPECT_TRUE(onMainThread);
    EXPECT_EQ(notifications.statuses, std::vector{static_cast<int>(seen.front())});
    EXPECT_EQ(manager->networkReachabilityStatus(), seen.front());
    EXPECT_TRUE(manager->reachable());
    EXPECT_TRUE(manager->reachableViaWiFi());
    EXPECT_EQ(manager->localizedNetworkReachabilityStatusString(), "Reachable via WiFi");
}

TEST(ReachabilityManager, TheSharedManagerReportsOnceRightAfterStarting) {
    const auto& shared = Manager::sharedManager();
    ASSERT_TRUE(shared);
    EXPECT_EQ(shared, Manager::sharedManager());
    ChangeNotifications notifications;
    int calls = 0;
    shared->setReachabilityStatusChangeBlock([&](RAZududeNetworkReachabilityStatus) { ++calls; });
    shared->startMonitoring();
    const bool posted = notifications.waitFor(1);
    shared->stopMonitoring();
    shared->setReachabilityStatusChangeBlock(nullptr);
    ASSERT_TRUE(posted);
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(notifications.statuses.front(),
              static_cast<int>(shared->networkReachabilityStatus()));
    EXPECT_NE(shared->networkReachabilityStatus(), RAZududeNetworkReachabilityStatusUnknown);
}

TEST(ReachabilityManager, ADomainManagerWaitsForAChange) {
    ChangeNotifications notifications;
    const auto domain = Manager::managerForDomain("localhost");
    int domainCalls = 0;
    domain->setReachabilityStatusChangeBlock(
        [&](RAZududeNetworkReachabilityStatus) { ++domainCalls; });
    domain->startMonitoring();
    // An address manager started after it: once its report is in, the domain manager has had
    // every chance to report too.
    const auto address = loopbackManager();
    address->startMonitoring();
    ASSERT_TRUE(notifications.waitFor(1));
    platform::MainLoop::main().runOnce();
    EXPECT_EQ(domainCalls, 0);
    EXPECT_EQ(notifications.statuses.size(), 1u);
    EXPECT_EQ(domain->networkReachabilityStatus(), RAZududeNetworkReachabilityStatusUnknown);
    EXPECT_EQ(domain->localizedNetworkReachabilityStatusString(), "Unknown");
}

TEST(ReachabilityManager, AReferenceGivenDirectlyIsReadAtOnceToo) {
    ChangeNotifications notifications;
    const sockaddr_in address = loopbackAddress();
    const auto manager = Manager::initWithReachability(
        NetworkReachability::createWithAddress(reinterpret_cast<const sockaddr*>(&address)));
    manager->startMonitoring();
    ASSERT_TRUE(notifications.waitFor(1));
    EXPECT_EQ(manager->networkReachabilityStatus(),
              RAZududeNetworkReachabilityStatusReachableViaWiFi);
}

// With no descriptor left for the kernel's sockets the first reading has no flags: that says
// nothing about the network, so the status stays unknown and nothing is reported. Run in a
// process of its own, whose descriptors it takes away: 0 when all went as it should.
int monitorWithoutDescriptors() {
    ChangeNotifications notifications;
    // What needs descriptors of its own is made first: the main loop, and the watcher of the
    // kernel's change notices that every scheduled reference shares.
    const auto first = loopbackManager();
    first->startMonitoring();
    if (!notifications.waitFor(1)) {
        return 2;
    }
    notifications.statuses.clear();
    const auto manager = loopbackManager();
    int calls = 0;
    manager->setReachabilityStatusChangeBlock([&](RAZududeNetworkReachabilityStatus) { ++calls; });
    const rlimit none{0, 0};
    setrlimit(RLIMIT_NOFILE, &none);
    manager->startMonitoring();
    // Nothing is to come; the reading takes milliseconds when it can be made.
    notifications.waitFor(1, 2);
    const bool unknown =
        manager->networkReachabilityStatus() == RAZududeNetworkReachabilityStatusUnknown;
    return calls == 0 && notifications.statuses.empty() && unknown ? 0 : 1;
}

TEST(ReachabilityManagerDeathTest, FlagsThatCannotBeReadLeaveTheStatusUnknown) {
#ifdef __SANITIZE_ADDRESS__
    GTEST_SKIP() << "the sanitizers' own checks need descriptors that this test takes away";
#endif
    ::testing::FLAGS_gtest_death_test_style = "threadsafe";
    EXPECT_EXIT(std::exit(monitorWithoutDescriptors()), ::testing::ExitedWithCode(0), "");
}

// The platform's callback and the first reading may outlive the manager; they must find it
// gone rather than reach into it.
TEST(ReachabilityManager, AManagerReleasedWhileMonitoringIsNeverCalled) {
    ChangeNotifications notifications;
    auto calls = std::make_shared<int>(0);
    auto manager = loopbackManager();
    manager->setReachabilityStatusChangeBlock(
        [calls](RAZududeNetworkReachabilityStatus) { ++*calls; });
    manager->startMonitoring();
    std::weak_ptr<Manager> weak = manager;
    manager.reset();
    EXPECT_TRUE(weak.expired());
    // The first reading was already on its way and still reports the network's state.
    ASSERT_TRUE(notifications.waitFor(1));
    platform::MainLoop::main().runOnce();
    EXPECT_EQ(*calls, 0);
}

}  // namespace
