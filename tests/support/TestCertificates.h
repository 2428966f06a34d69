// Certificates for the trust tests, made by the openssl command line (tests/peers/make_certs.sh)
// once per test process in a temporary folder, and a runner for the command-line tools that
// judge the same chains (openssl verify, curl).
//
// Names: "root", "inter" (signed by root), "leaf" (localhost and 127.0.0.1, signed by inter),
// "selfsigned", "expired", "wronghost" (wrong-host.test), "client" (client use only),
// "samekey" (self-signed over leaf's key); each has
// <name>.pem, <name>.der and <name>.key. "chain.pem" holds leaf and inter, "fullchain.pem" leaf,
// inter and root.
#pragma once

#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/Value.h"
#include "tests/support/PeerProcess.h"
#include "tests/support/TempDir.h"

namespace testing_support {

inline platform::Bytes readBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw std::runtime_error("cannot read " + path.string());
    }
    return platform::Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class TestCertificates {
  public:
    // Made on first use; the folder goes when the process ends.
    static const TestCertificates& shared() {
        static const TestCertificates made;
        return made;
    }

    const std::filesystem::path& dir() const { return dir_.path(); }
    std::filesystem::path pem(const std::string& name) const { return dir() / (name + ".pem"); }
    std::filesystem::path key(const std::string& name) const { return dir() / (name + ".key"); }
    std::filesystem::path derPath(const std::string& name) const { return dir() / (name + ".der"); }
    platform::Bytes der(const std::string& name) const { return readBytes(derPath(name)); }

  private:
    TestCertificates() {
        const auto made = runCommand({"sh", peersDir() + "/make_certs.sh", dir_.path().string()});
        if (made.status != 0) {
            throw std::runtime_error("making the test certificates failed: " + made.output);
        }
    }

    TempDir dir_;
};

}  // namespace testing_support
