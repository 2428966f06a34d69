// What the loopback tests of URL loading share: one peer for a whole suite, an HTTPS peer
// presenting test certificates, the test certificates standing in for the machine's anchors,
// and the byte pattern the peers send.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "platform/Value.h"
#include "platform/net/ServerTrust.h"
#include "tests/support/PeerProcess.h"
#include "tests/support/TestCertificates.h"

namespace testing_support {

// One peer for every test of a suite: the suite's SetUpTestSuite starts it and its
// TearDownTestSuite stops it.
class SuitePeer {
  public:
    explicit SuitePeer(std::string script, std::vector<std::string> args = {})
        : script_(std::move(script)), args_(std::move(args)) {}

    void start() { peer_ = std::make_unique<PeerProcess>(PeerProcess::python(script_, args_)); }
    void stop() { peer_.reset(); }

    PeerProcess* operator->() const { return &running(); }
    PeerProcess& operator*() const { return running(); }

  private:
    PeerProcess& running() const {
        if (!peer_) {
            throw std::logic_error("the suite's peer " + script_ + " is not running");
        }
        return *peer_;
    }

    const std::string script_;
    const std::vector<std::string> args_;
    std::unique_ptr<PeerProcess> peer_;
};

// An HTTPS peer (tests/peers/tls_peer.py) presenting the PEM chain file, found in the test
// certificates' folder unless the path is absolute, with the named certificate's key.
inline PeerProcess tlsPeer(const std::filesystem::path& chainFile, const std::string& keyName) {
    const auto& certificates = TestCertificates::shared();
    return PeerProcess::python("tls_peer.py", {"--cert", (certificates.dir() / chainFile).string(),
                                               "--key", certificates.key(keyName).string()});
}

// The DER bytes of the named test certificates.
inline std::vector<platform::Bytes> testCertificateDers(const std::vector<std::string>& names) {
    std::vector<platform::Bytes> out;
    for (const auto& name : names) {
        out.push_back(TestCertificates::shared().der(name));
    }
    return out;
}

// The named test certificates stand in for the machine's anchors while this lives; the
// machine's own come back whatever the test does.
class SystemAnchors {
  public:
    explicit SystemAnchors(const std::vector<std::string>& names = {"root"}) {
        platform::ServerTrust::setSystemAnchorsForTesting(testCertificateDers(names));
    }
    ~SystemAnchors() { platform::ServerTrust::setSystemAnchorsForTesting(std::nullopt); }
    SystemAnchors(const SystemAnchors&) = delete;
    SystemAnchors& operator=(const SystemAnchors&) = delete;
};

// n bytes counting 0, 1, 2… and starting again at `period`: what the peers send for a
// pattern body (256 for http_peer.py, 251 for operation_peer.py).
inline platform::Bytes peerPattern(std::size_t n, std::size_t period) {
    platform::Bytes out(n);
    for (std::size_t i = 0; i < n; ++i) {
        out[i] = static_cast<std::uint8_t>(i % period);
    }
    return out;
}

}  // namespace testing_support
