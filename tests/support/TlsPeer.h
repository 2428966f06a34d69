// The loopback side of the trust tests: tests/peers/tls_peer.py serving a chain of the test
// certificates, the chain as a TLS client receives it, and curl's verdict on that server.
#pragma once

#include <fstream>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/net/ServerTrust.h"
#include "tests/support/LoopbackPeers.h"
#include "tests/support/PeerProcess.h"
#include "tests/support/TestCertificates.h"

namespace testing_support {

// Writes the named test certificates, in order, into one PEM file of the certificates' folder.
inline std::string pemBundle(const std::vector<std::string>& names) {
    std::string file = "bundle";
    for (const auto& name : names) {
        file += "-" + name;
    }
    const auto path = TestCertificates::shared().dir() / (file + ".pem");
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    for (const auto& name : names) {
        const auto bytes = readBytes(TestCertificates::shared().pem(name));
        out.write(reinterpret_cast<const char*>(bytes.data()),
                  static_cast<std::streamsize>(bytes.size()));
    }
    return path.string();
}

// An HTTPS server presenting the chain (leaf first) with the leaf's key.
inline PeerProcess startTlsPeer(const std::vector<std::string>& chain) {
    return tlsPeer(pemBundle(chain), chain.front());
}

// The certificates the server sends in its handshake, as OpenSSL's client shows them.
inline std::vector<platform::Bytes> chainPresentedBy(int port) {
    const auto shown =
        runCommand({"openssl", "s_client", "-connect", "127.0.0.1:" + std::to_string(port),
                    "-servername", "localhost", "-showcerts"});
    return platform::certificatesFromPemOrDer(platform::toBytes(shown.output));
}

// curl's form of a public-key pin of a test certificate: "sha256//" and the Base64 of the
// SHA-256 of its SubjectPublicKeyInfo, computed by the openssl command line (once per name).
inline std::string curlPinOf(const std::string& name) {
    static std::mutex mutex;
    static std::map<std::string, std::string> pins;
    std::lock_guard lock(mutex);
    if (auto found = pins.find(name); found != pins.end()) {
        return found->second;
    }
    const auto digest =
        runCommand({"sh", "-c",
                    "openssl x509 -in '" + TestCertificates::shared().pem(name).string() +
                        "' -noout -pubkey | openssl pkey -pubin -outform DER"
                        " | openssl dgst -sha256 -binary | openssl enc -base64 -A"});
    if (digest.status != 0) {
        throw std::runtime_error("cannot hash the key of " + name + ": " + digest.output);
    }
    return pins[name] = "sha256//" + digest.output;
}

struct CurlTrust {
    std::vector<std::string> anchors;  // --cacert; the machine's anchors are never used
    bool insecure = false;             // -k: the chain is not verified
    std::vector<std::string> pinnedKeys;
    std::string host = "localhost";  // reached on 127.0.0.1 whatever the name
};

// Whether curl fetches the server's body with this trust: a GET to https://<host>:<port>/.
inline CommandResult curlGet(int port, const CurlTrust& trust) {
    const auto empty = TestCertificates::shared().dir() / "no-anchors";
    std::filesystem::create_directories(empty);
    const std::string hostPort = trust.host + ":" + std::to_string(port);
    std::vector<std::string> argv{
        "curl",     "-q",           "-sS",       "--max-time",           "10", "--noproxy", "*",
        "--capath", empty.string(), "--resolve", hostPort + ":127.0.0.1"};
    if (!trust.anchors.empty()) {
        argv.insert(argv.end(), {"--cacert", pemBundle(trust.anchors)});
    } else {
        argv.insert(argv.end(), {"--cacert", (empty / "none.pem").string()});
    }
    if (trust.insecure) {
        argv.push_back("-k");
    }
    if (!trust.pinnedKeys.empty()) {
        std::string pins;
        for (const auto& name : trust.pinnedKeys) {
            pins += (pins.empty() ? "" : ";") + curlPinOf(name);
        }
        argv.insert(argv.end(), {"--pinnedpubkey", pins});
    }
    argv.push_back("https://" + hostPort + "/");
    return runCommand(argv);
}

inline bool curlTrusts(const CommandResult& result) {
    return result.status == 0 && result.output == "trusted\n";
}

}  // namespace testing_support
