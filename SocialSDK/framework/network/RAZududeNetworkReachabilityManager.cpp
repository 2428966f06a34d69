#include "SocialSDK/framework/network/RAZududeNetworkReachabilityManager.h"

#include <netinet/in.h>

#include <stdexcept>
#include <utility>

#include "platform/Bundle.h"
#include "platform/Dispatch.h"
#include "platform/NotificationCenter.h"

namespace {

using Flags = platform::NetworkReachability::Flags;

void postChange(RAZududeNetworkReachabilityStatus status) {
    platform::NotificationCenter::defaultCenter().post(
        RAZududeNetworkingReachabilityDidChangeNotification, nullptr,
        platform::Map{{RAZududeNetworkingReachabilityNotificationStatusItem,
                       platform::Value(static_cast<int>(status))}});
}

}  // namespace

const std::shared_ptr<RAZududeNetworkReachabilityManager>&
RAZududeNetworkReachabilityManager::sharedManager() {
    static const auto* shared = [] {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        return new std::shared_ptr<RAZududeNetworkReachabilityManager>(
            managerForAddress(reinterpret_cast<const sockaddr*>(&address)));
    }();
    return *shared;
}

std::shared_ptr<RAZududeNetworkReachabilityManager>
RAZududeNetworkReachabilityManager::managerForDomain(std::string_view domain) {
    if (domain.empty()) {
        throw std::invalid_argument("Invalid parameter not satisfying: domain");
    }
    return std::make_shared<RAZududeNetworkReachabilityManager>(
        Passkey{}, platform::NetworkReachability::createWithName(domain),
        RAZududeNetworkReachabilityForName);
}

std::shared_ptr<RAZududeNetworkReachabilityManager>
RAZududeNetworkReachabilityManager::managerForAddress(const sockaddr* address) {
    if (!address) {
        throw std::invalid_argument("Invalid parameter not satisfying: address");
    }
    return std::make_shared<RAZududeNetworkReachabilityManager>(
        Passkey{}, platform::NetworkReachability::createWithAddress(address),
        RAZududeNetworkReachabilityForAddress);
}

std::shared_ptr<RAZududeNetworkReachabilityManager>
RAZududeNetworkReachabilityManager::initWithReachability(
    std::unique_ptr<platform::NetworkReachability> reachability) {
    if (!reachability) {
        throw std::invalid_argument("Invalid parameter not satisfying: reachability");
    }
    return std::make_shared<RAZududeNetworkReachabilityManager>(
        Passkey{}, std::move(reachability), RAZududeNetworkReachabilityForReference);
}

RAZududeNetworkReachabilityManager::RAZududeNetworkReachabilityManager(
    Passkey, std::unique_ptr<platform::NetworkReachability> reachability,
    RAZududeNetworkReachabilityAssociation association)
    : reachability_(std::move(reachability)), association_(association) {}

RAZududeNetworkReachabilityManager::~RAZududeNetworkReachabilityManager() {
    stopMonitoring();
}

void RAZududeNetworkReachabilityManager::startMonitoring() {
    stopMonitoring();
    if (!reachability_) {
        return;
    }
    // The platform keeps the callback for as long as the reference lives, which may be a little
    // longer than the manager (a first read in flight holds the reference): it must never reach
    // a manager that is gone, so it holds it weakly.
    std::weak_ptr<RAZududeNetworkReachabilityManager> weak = weak_from_this();
    auto callback = [weak](RAZududeNetworkReachabilityStatus status) {
        if (auto self = weak.lock()) {
            self->applyStatus(status);
        }
    };
    reachability_->setCallback([callback](Flags flags) {
        const RAZududeNetworkReachabilityStatus status = statusForFlags(flags);
        callback(status);
        platform::DispatchQueue::main()->async([status] { postChange(status); });
    });
    reachability_->scheduleWithMainLoop();

    if (association_ != RAZududeNetworkReachabilityForName) {
        platform::DispatchQueue::global()->async([reachability = reachability_, callback] {
            // Flags that cannot be read say nothing: the status stays as it is (unknown),
            // rather than passing for "not reachable".
            const std::optional<Flags> flags = reachability->flags();
            if (!flags) {
                return;
            }
            const RAZududeNetworkReachabilityStatus status = statusForFlags(*flags);
            platform::DispatchQueue::main()->async([callback, status] {
                callback(status);
                postChange(status);
            });
        });
    }
}

void RAZududeNetworkReachabilityManager::stopMonitoring() {
    if (reachability_) {
        reachability_->unscheduleFromMainLoop();
    }
}

void RAZududeNetworkReachabilityManager::setReachabilityStatusChangeBlock(
    RAZududeNetworkReachabilityStatusBlock block) {
    platform::MutexLock lock(blockMutex_);
    block_ = std::move(block);
}

void RAZududeNetworkReachabilityManager::applyStatus(RAZududeNetworkReachabilityStatus status) {
    status_ = status;
    RAZududeNetworkReachabilityStatusBlock block;
    {
        platform::MutexLock lock(blockMutex_);
        block = block_;
    }
    if (block) {
        block(status);
    }
}

std::string RAZududeNetworkReachabilityManager::localizedNetworkReachabilityStatusString() const {
    return localizedStringForStatus(status_);
}

std::string RAZududeNetworkReachabilityManager::localizedStringForStatus(
    RAZududeNetworkReachabilityStatus status) {
    const char* key = "Unknown";
    switch (status) {
        case RAZududeNetworkReachabilityStatusNotReachable:
            key = "Not Reachable";
            break;
        case RAZududeNetworkReachabilityStatusReachableViaWWAN:
            key = "Reachable via WWAN";
            break;
        case RAZududeNetworkReachabilityStatusReachableViaWiFi:
            key = "Reachable via WiFi";
            break;
        default:
            break;
    }
    return platform::Bundle::mainBundle().localizedString(key, "", "RAZududeNetworking");
}

RAZududeNetworkReachabilityStatus RAZududeNetworkReachabilityManager::statusForFlags(Flags flags) {
    using platform::NetworkReachability;
    const bool reachable = flags & NetworkReachability::kReachable;
    const bool needsConnection = flags & NetworkReachability::kConnectionRequired;
    const bool canConnectAutomatically = flags & (NetworkReachability::kConnectionOnDemand |
                                                  NetworkReachability::kConnectionOnTraffic);
    const bool canConnectWithoutUser =
        canConnectAutomatically && !(flags & NetworkReachability::kInterventionRequired);
    if (!reachable || (needsConnection && !canConnectWithoutUser)) {
        return RAZududeNetworkReachabilityStatusNotReachable;
    }
    return (flags & NetworkReachability::kIsWWAN)
               ? RAZududeNetworkReachabilityStatusReachableViaWWAN
               : RAZududeNetworkReachabilityStatusReachableViaWiFi;
}

std::set<std::string> RAZududeNetworkReachabilityManager::keyPathsForValuesAffectingValueForKey(
    std::string_view key) {
    if (key == "reachable" || key == "reachableViaWWAN" || key == "reachableViaWiFi") {
        return {"networkReachabilityStatus"};
    }
    return {};
}
