#include "SocialSDK/framework/network/RAZududeSecurityPolicy.h"

#include <algorithm>

#include "platform/Bundle.h"
#include "platform/Files.h"

namespace {

bool isValid(platform::ServerTrust& trust) {
    const auto result = trust.evaluate();
    return result && (*result == platform::TrustResult::kProceed ||
                      *result == platform::TrustResult::kUnspecified);
}

bool contains(const std::vector<platform::Bytes>& list, const platform::Bytes& item) {
    return std::find(list.begin(), list.end(), item) != list.end();
}

}  // namespace

std::shared_ptr<RAZududeSecurityPolicy> RAZududeSecurityPolicy::defaultPolicy() {
    return std::make_shared<RAZududeSecurityPolicy>();
}

std::shared_ptr<RAZududeSecurityPolicy> RAZududeSecurityPolicy::policyWithPinningMode(
    RAZududeSSLPinningMode mode) {
    auto policy = std::make_shared<RAZududeSecurityPolicy>();
    policy->setSSLPinningMode(mode);
    policy->setPinnedCertificates(defaultPinnedCertificates());
    return policy;
}

const std::vector<platform::Bytes>& RAZududeSecurityPolicy::defaultPinnedCertificates() {
    static const auto* const certificates = [] {
        auto* found = new std::vector<platform::Bytes>;
        for (const auto& path : platform::Bundle::mainBundle().pathsForResourcesOfType("cer", {})) {
            if (auto bytes = platform::Files::read(path)) {
                found->push_back(std::move(*bytes));
            }
        }
        return found;
    }();
    return *certificates;
}

std::set<std::string> RAZududeSecurityPolicy::keyPathsForValuesAffectingPinnedPublicKeys() {
    return {"pinnedCertificates"};
}

void RAZududeSecurityPolicy::setPinnedCertificates(
    std::optional<std::vector<platform::Bytes>> certificates) {
    pinnedCertificates_ = std::move(certificates);
    if (!pinnedCertificates_) {
        pinnedPublicKeys_.reset();
        pinsFingerprint_ = "none";
        return;
    }
    pinsFingerprint_ = platform::ServerTrust::fingerprintOf(*pinnedCertificates_);
    std::vector<platform::Bytes> keys;
    keys.reserve(pinnedCertificates_->size());
    for (const auto& certificate : *pinnedCertificates_) {
        if (auto key = platform::ServerTrust::publicKeyOfCertificate(certificate)) {
            keys.push_back(std::move(*key));
        }
    }
    pinnedPublicKeys_ = std::move(keys);
}

bool RAZududeSecurityPolicy::evaluateServerTrust(
    const std::shared_ptr<platform::ServerTrust>& trust) const {
    return evaluateServerTrust(trust, std::nullopt);
}

bool RAZududeSecurityPolicy::evaluateServerTrust(
    const std::shared_ptr<platform::ServerTrust>& trust, std::optional<std::string> domain) const {
    if (!trust) {
        return false;
    }
    trust->setPolicy(validatesDomainName_ ? platform::TrustPolicy::ssl(std::move(domain))
                                          : platform::TrustPolicy::basicX509());

    if (pinningMode_ == RAZududeSSLPinningMode::kNone) {
        return allowInvalidCertificates_ || isValid(*trust);
    }
    if (!allowInvalidCertificates_ && !isValid(*trust)) {
        return false;
    }

    const std::size_t chainLength = trust->certificateCount();
    switch (pinningMode_) {
        case RAZududeSSLPinningMode::kCertificate: {
            // The pinned certificates, and only they, must anchor the chain.
            const std::vector<platform::Bytes> pinned =
                pinnedCertificates_.value_or(std::vector<platform::Bytes>{});
            trust->setAnchorCertificates(pinned);
            if (!isValid(*trust)) {
                return false;
            }
            if (!validatesCertificateChain_) {
                return true;
            }
            std::size_t pinnedInChain = 0;
            for (std::size_t i = 0; i < chainLength; ++i) {
                if (contains(pinned, trust->certificateAtIndex(i))) {
                    ++pinnedInChain;
                }
            }
            return pinnedInChain == chainLength;
        }
        case RAZududeSSLPinningMode::kPublicKey: {
            std::vector<platform::Bytes> chainKeys;
            for (std::size_t i = 0; i < chainLength; ++i) {
                if (auto key = platform::ServerTrust::publicKeyOfCertificate(
                        trust->certificateAtIndex(i))) {
                    chainKeys.push_back(std::move(*key));
                }
            }
            if (!validatesCertificateChain_ && !chainKeys.empty()) {
                chainKeys.resize(1);
            }
            // Each key of the chain counts once, however often the pinned list repeats it: a
            // chain passes only when its own keys are pinned, not when the pins are many.
            const std::vector<platform::Bytes> noKeys;
            const auto& pinnedKeys = pinnedPublicKeys_ ? *pinnedPublicKeys_ : noKeys;
            const auto pinnedInChain = static_cast<std::size_t>(std::count_if(
                chainKeys.begin(), chainKeys.end(),
                [&](const platform::Bytes& key) { return contains(pinnedKeys, key); }));
            return pinnedInChain > 0 &&
                   (!validatesCertificateChain_ || pinnedInChain == chainLength);
        }
        case RAZududeSSLPinningMode::kNone:
            break;
    }
    return false;
}

std::string RAZududeSecurityPolicy::serverTrustJudgement() const {
    const bool pinning = pinningMode_ != RAZududeSSLPinningMode::kNone;
    return std::string("security-policy mode ") +
           std::to_string(static_cast<unsigned>(pinningMode_)) + " chain " +
           (validatesCertificateChain_ ? "1" : "0") + " invalid " +
           (allowInvalidCertificates_ ? "1" : "0") + " domain " +
           (validatesDomainName_ ? "1" : "0") + " pins " + (pinning ? pinsFingerprint_ : "-") +
           " anchors " + platform::ServerTrust::systemAnchorsName();
}

std::optional<platform::Credential> RAZududeSecurityPolicy::credentialForServerTrust(
    const platform::ProtectionSpace& space) const {
    const auto& trust = space.serverTrust();
    if (!evaluateServerTrust(trust, space.host())) {
        return std::nullopt;
    }
    return platform::Credential(trust);
}
