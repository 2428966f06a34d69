// Whether a server's TLS trust is accepted: by the platform's evaluation alone, or also pinned
// to certificates or public keys that ship with the app. Connections ask it on the network
// thread when a server-trust challenge arrives; set it up before handing it to them.
#pragma once

#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/Value.h"
#include "platform/net/Authentication.h"
#include "platform/net/ServerTrust.h"

enum class RAZududeSSLPinningMode : unsigned {
    kNone = 0,
    kPublicKey = 1,
    kCertificate = 2,
};

class RAZududeSecurityPolicy {
  public:
    // No pinning; invalid certificates refused; the domain name checked.
    static std::shared_ptr<RAZududeSecurityPolicy> defaultPolicy();
    // Pins to defaultPinnedCertificates().
    static std::shared_ptr<RAZududeSecurityPolicy> policyWithPinningMode(
        RAZududeSSLPinningMode mode);
    // The contents of every "*.cer" file at the top of the main bundle, read on first use and
    // kept for the life of the process.
    static const std::vector<platform::Bytes>& defaultPinnedCertificates();
    // The properties whose change changes pinnedPublicKeys().
    static std::set<std::string> keyPathsForValuesAffectingPinnedPublicKeys();

    RAZududeSecurityPolicy() = default;

    RAZududeSSLPinningMode SSLPinningMode() const { return pinningMode_; }
    void setSSLPinningMode(RAZududeSSLPinningMode mode) { pinningMode_ = mode; }
    // Whether pinning must cover every certificate of the server's chain, not only the leaf.
    bool validatesCertificateChain() const { return validatesCertificateChain_; }
    void setValidatesCertificateChain(bool validates) { validatesCertificateChain_ = validates; }
    // Accept a trust that the platform's evaluation refuses.
    bool allowInvalidCertificates() const { return allowInvalidCertificates_; }
    void setAllowInvalidCertificates(bool allow) { allowInvalidCertificates_ = allow; }
    // Evaluate as a TLS server for the domain rather than as any X.509 chain.
    bool validatesDomainName() const { return validatesDomainName_; }
    void setValidatesDomainName(bool validates) { validatesDomainName_ = validates; }

    // DER certificates. Setting them recomputes pinnedPublicKeys(): one key (DER
    // SubjectPublicKeyInfo) per certificate, in order, none for data that is no certificate.
    const std::optional<std::vector<platform::Bytes>>& pinnedCertificates() const {
        return pinnedCertificates_;
    }
    void setPinnedCertificates(std::optional<std::vector<platform::Bytes>> certificates);
    const std::optional<std::vector<platform::Bytes>>& pinnedPublicKeys() const {
        return pinnedPublicKeys_;
    }

    // Whether to trust the server. The trust's policy is replaced (and in certificate mode its
    // anchors too); a null trust is never trusted. Without a domain, no host name is checked.
    bool evaluateServerTrust(const std::shared_ptr<platform::ServerTrust>& trust) const;
    bool evaluateServerTrust(const std::shared_ptr<platform::ServerTrust>& trust,
                             std::optional<std::string> domain) const;

    // The answer to a server-trust challenge for the space: the credential of the server's
    // trust when the policy accepts it for the space's host, nullopt when the challenge is to
    // be cancelled.
    std::optional<platform::Credential> credentialForServerTrust(
        const platform::ProtectionSpace& space) const;

    // Names what this policy's verdicts depend on (its settings, its pins, the system's
    // anchors): policies of the same name judge every chain alike, so a connection that one of
    // them accepted need not be judged again for another.
    std::string serverTrustJudgement() const;

  private:
    RAZududeSSLPinningMode pinningMode_ = RAZududeSSLPinningMode::kNone;
    bool validatesCertificateChain_ = true;
    bool allowInvalidCertificates_ = false;
    bool validatesDomainName_ = true;
    std::optional<std::vector<platform::Bytes>> pinnedCertificates_;
    std::optional<std::vector<platform::Bytes>> pinnedPublicKeys_;
    std::string pinsFingerprint_ = "none";
};
