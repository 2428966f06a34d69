// Trust in a server's certificate chain: the chain the server sent, the policy to judge it
// by (a TLS server for a host name, or plain X.509), and the anchors it must lead to. The
// system's anchors are the machine's certificate store; tests put their own in place.
//
// Evaluation is OpenSSL's chain verification. A trust object is made and used on one thread
// at a time (the network thread, during a handshake, or a test); the anchor override is
// process-wide and guarded.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/Value.h"

namespace platform {

// What a trust evaluation concludes, numbered as the platform numbers it.
enum class TrustResult : unsigned {
    kInvalid = 0,
    kProceed = 1,
    kDeny = 3,
    kUnspecified = 4,  // the chain is good and nobody said more
    kRecoverableTrustFailure = 5,
    kFatalTrustFailure = 6,
    kOtherError = 7,
};

class TrustPolicy {
  public:
    // A TLS server certificate; with a host name, the certificate must name that host (an
    // address, IPv6 with or without brackets, must be among its addresses). An empty host
    // matches no certificate.
    static TrustPolicy ssl(std::optional<std::string> host);
    // Any valid chain to an anchor, whatever the certificate is for.
    static TrustPolicy basicX509();

    bool isSsl() const { return ssl_; }
    const std::optional<std::string>& host() const { return host_; }

  private:
    bool ssl_ = false;
    std::optional<std::string> host_;
};

class ServerTrust {
  public:
    // A trust over DER certificates, leaf first. nullptr when the chain is empty or a
    // certificate cannot be read.
    static std::shared_ptr<ServerTrust> create(std::vector<Bytes> chain, TrustPolicy policy);

    void setPolicy(TrustPolicy policy) { policy_ = std::move(policy); }
    const TrustPolicy& policy() const { return policy_; }

    // Anchors of this trust instead of the system's (DER certificates). Any certificate may be
    // an anchor, not only a root; one that cannot be read anchors nothing, and an empty list
    // trusts no chain at all.
    void setAnchorCertificates(std::vector<Bytes> anchors) { anchors_ = std::move(anchors); }

    // kUnspecified for a chain that leads to an anchor under the policy, kRecoverableTrustFailure
    // when it does not (unknown issuer, expired, wrong host…), nullopt when evaluation itself
    // could not run. The reason of the last failure is failureReason().
    std::optional<TrustResult> evaluate();
    const std::string& failureReason() const { return failureReason_; }

    std::size_t certificateCount() const { return chain_.size(); }
    const Bytes& certificateAtIndex(std::size_t index) const { return chain_.at(index); }

    // The leaf's public key (its DER SubjectPublicKeyInfo).
    std::optional<Bytes> publicKey() const;

    // The public key (DER SubjectPublicKeyInfo) of one DER certificate; nullopt when the
    // data is not a certificate.
    static std::optional<Bytes> publicKeyOfCertificate(const Bytes& certificate);

    // The system's anchors for every evaluation after this, until reset with nullopt (the
    // machine's store). Anchors of the trust itself still come first. For tests.
    static void setSystemAnchorsForTesting(std::optional<std::vector<Bytes>> anchors);

    // Names the system's anchors as they stand, for a judgement that relies on them: a verdict
    // reached with them holds while the name stays the same. Any thread.
    static std::string systemAnchorsName();

    // A short name for a list of certificates (or any byte strings), the same for the same
    // list in the same order: the hexadecimal SHA-256 of their lengths and bytes.
    static std::string fingerprintOf(const std::vector<Bytes>& certificates);

  private:
    ServerTrust(std::vector<Bytes> chain, TrustPolicy policy);

    std::vector<Bytes> chain_;
    TrustPolicy policy_;
    std::optional<std::vector<Bytes>> anchors_;
    std::string failureReason_;
};

// Reads DER certificates from PEM text (every CERTIFICATE block) or from one DER blob.
std::vector<Bytes> certificatesFromPemOrDer(const Bytes& data);

}  // namespace platform
