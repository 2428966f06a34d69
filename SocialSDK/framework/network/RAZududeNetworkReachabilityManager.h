// Whether a host or an address can be reached, and over which kind of network, reported to a
// block and as a notification on the main thread.
//
// Every operation manager and session manager holds the shared instance; nothing in the share
// service starts monitoring it, so there its status stays unknown.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <string_view>

#include "platform/Mutex.h"
#include "platform/net/NetworkReachability.h"

// Posted on the main queue when the status changes (and once after starting an address
// manager); object none, userInfo {RAZududeNetworkingReachabilityNotificationStatusItem: the
// status as an integer}.
inline constexpr char RAZududeNetworkingReachabilityDidChangeNotification[] =
    "com.razudude.networking.reachability.change";
inline constexpr char RAZududeNetworkingReachabilityNotificationStatusItem[] =
    "RAZududeNetworkingReachabilityNotificationStatusItem";

enum RAZududeNetworkReachabilityStatus : int {
    RAZududeNetworkReachabilityStatusUnknown = -1,
    RAZududeNetworkReachabilityStatusNotReachable = 0,
    RAZududeNetworkReachabilityStatusReachableViaWWAN = 1,
    RAZududeNetworkReachabilityStatusReachableViaWiFi = 2,
};

// How the reference was made.
enum RAZududeNetworkReachabilityAssociation : unsigned {
    RAZududeNetworkReachabilityForReference = 0,
    RAZududeNetworkReachabilityForAddress = 1,
    RAZududeNetworkReachabilityForName = 3,
};

using RAZududeNetworkReachabilityStatusBlock =
    std::function<void(RAZududeNetworkReachabilityStatus status)>;

class RAZududeNetworkReachabilityManager
    : public std::enable_shared_from_this<RAZududeNetworkReachabilityManager> {
    struct Passkey {};

  public:
    // One per process, for the IPv4 address of all zeros ("the internet in general"); kept for
    // the life of the process.
    static const std::shared_ptr<RAZududeNetworkReachabilityManager>& sharedManager();
    // For the host name. Throws std::invalid_argument for an empty name.
    static std::shared_ptr<RAZududeNetworkReachabilityManager> managerForDomain(
        std::string_view domain);
    // For an AF_INET or AF_INET6 address. Throws std::invalid_argument for a null address or
    // another family.
    static std::shared_ptr<RAZududeNetworkReachabilityManager> managerForAddress(
        const sockaddr* address);
    // Takes the reference over; status unknown. Throws std::invalid_argument for a null one.
    static std::shared_ptr<RAZududeNetworkReachabilityManager> initWithReachability(
        std::unique_ptr<platform::NetworkReachability> reachability);

    RAZududeNetworkReachabilityManager(Passkey, std::unique_ptr<platform::NetworkReachability>,
                                       RAZududeNetworkReachabilityAssociation association);
    // Stops monitoring; the reference goes with the manager.
    ~RAZududeNetworkReachabilityManager();
    RAZududeNetworkReachabilityManager(const RAZududeNetworkReachabilityManager&) = delete;
    RAZududeNetworkReachabilityManager& operator=(const RAZududeNetworkReachabilityManager&) =
        delete;

    platform::NetworkReachability* networkReachability() const { return reachability_.get(); }
    RAZududeNetworkReachabilityAssociation networkReachabilityAssociation() const {
        return association_;
    }
    // Changes on the main thread only; readable anywhere.
    RAZududeNetworkReachabilityStatus networkReachabilityStatus() const { return status_; }
    bool reachable() const {
        return status_ == RAZududeNetworkReachabilityStatusReachableViaWWAN ||
               status_ == RAZududeNetworkReachabilityStatusReachableViaWiFi;
    }
    bool reachableViaWWAN() const {
        return status_ == RAZududeNetworkReachabilityStatusReachableViaWWAN;
    }
    bool reachableViaWiFi() const {
        return status_ == RAZududeNetworkReachabilityStatusReachableViaWiFi;
    }

    // Reports on the main thread from now on: the block with every status the platform
    // reports, and the change notification. An address manager also reads the status at once
    // in the background and reports it; a name manager waits for the first change.
    void startMonitoring();
    void stopMonitoring();

    // Called on the main thread with each new status; an empty block removes it.
    void setReachabilityStatusChangeBlock(RAZududeNetworkReachabilityStatusBlock block);

    // The current status's text from the strings table "RAZududeNetworking", the English key
    // when the table lacks it.
    std::string localizedNetworkReachabilityStatusString() const;
    static std::string localizedStringForStatus(RAZududeNetworkReachabilityStatus status);

    // The status that the platform's flags amount to.
    static RAZududeNetworkReachabilityStatus statusForFlags(
        platform::NetworkReachability::Flags flags);

    // The properties whose value follows another's: "reachable", "reachableViaWWAN" and
    // "reachableViaWiFi" follow "networkReachabilityStatus"; nothing else follows anything.
    static std::set<std::string> keyPathsForValuesAffectingValueForKey(std::string_view key);

  private:
    // Sets the status and calls the block; what the platform's callbacks and the first read
    // end in.
    void applyStatus(RAZududeNetworkReachabilityStatus status);

    const std::shared_ptr<platform::NetworkReachability> reachability_;
    const RAZududeNetworkReachabilityAssociation association_;
    std::atomic<RAZududeNetworkReachabilityStatus> status_{
        RAZududeNetworkReachabilityStatusUnknown};
    mutable platform::Mutex blockMutex_;
    RAZududeNetworkReachabilityStatusBlock block_ RZ_GUARDED_BY(blockMutex_);
};
