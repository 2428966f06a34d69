// The security policy's verdict on the chain a real TLS server presents, against curl's
// verdict with the same pins (--pinnedpubkey) or the same anchors (--cacert).
#include <gtest/gtest.h>

#include "SocialSDK/framework/network/RAZududeSecurityPolicy.h"
#include "tests/support/TlsPeer.h"

namespace {

using testing_support::SystemAnchors;
using testing_support::testCertificateDers;

using platform::ServerTrust;
using platform::TrustPolicy;
using testing_support::CurlTrust;
using testing_support::TestCertificates;
using Mode = RAZududeSSLPinningMode;
using Names = std::vector<std::string>;

std::string describe(const Names& names) {
    std::string out;
    for (const auto& name : names) {
        out += (out.empty() ? "" : ",") + name;
    }
    return "[" + out + "]";
}

const std::vector<Names> kServed = {
    {"leaf", "inter"}, {"selfsigned"}, {"expired", "inter"}, {"wronghost", "inter"}, {"samekey"},
};
const std::vector<Names> kPinSets = {
    {"leaf"},    {"inter"},     {"root"},         {"selfsigned"},
    {"samekey"}, {"wronghost"}, {"root", "leaf"}, {"root", "selfsigned"},
};

// One server after another; for each, every case gets a fresh trust over the presented chain.
struct Tally {
    int trusted = 0;
    int refused = 0;
};

void compare(const std::string& what, const RAZududeSecurityPolicy& policy,
             const CurlTrust& curlTrust, int port, const std::vector<platform::Bytes>& chain,
             Tally& tally) {
    SCOPED_TRACE(what);
    const bool ours = policy.evaluateServerTrust(
        ServerTrust::create(chain, TrustPolicy::ssl(curlTrust.host)), curlTrust.host);
    const auto curl = testing_support::curlGet(port, curlTrust);
    EXPECT_EQ(ours, testing_support::curlTrusts(curl)) << "curl: " << curl.output;
    ++(ours ? tally.trusted : tally.refused);
}

TEST(RAZududeSecurityPolicyLoopback, PublicKeyPinsAgreeWithCurlPinnedPubkey) {
    Tally tally;
    for (const auto& served : kServed) {
        auto peer = testing_support::startTlsPeer(served);
        const auto chain = testing_support::chainPresentedBy(peer.port());
        ASSERT_EQ(chain, testCertificateDers(served));
        for (const auto& pins : kPinSets) {
            const std::string what = "served " + describe(served) + " pins " + describe(pins);
            RAZududeSecurityPolicy policy;
            policy.setSSLPinningMode(Mode::kPublicKey);
            policy.setValidatesCertificateChain(false);
            policy.setPinnedCertificates(testCertificateDers(pins));

            // Only the pins decide.
            policy.setAllowInvalidCertificates(true);
            compare(what + " insecure", policy, {.insecure = true, .pinnedKeys = pins}, peer.port(),
                    chain, tally);

            // The chain must also lead to the root the device trusts.
            SystemAnchors root({"root"});
            policy.setAllowInvalidCertificates(false);
            compare(what + " verified", policy, {.anchors = {"root"}, .pinnedKeys = pins},
                    peer.port(), chain, tally);
        }
    }
    EXPECT_GT(tally.trusted, 5);
    EXPECT_GT(tally.refused, 30);
}

TEST(RAZududeSecurityPolicyLoopback, PinnedCertificatesAgreeWithCurlCacert) {
    Tally tally;
    for (const auto& served : kServed) {
        auto peer = testing_support::startTlsPeer(served);
        const auto chain = testing_support::chainPresentedBy(peer.port());
        ASSERT_EQ(chain, testCertificateDers(served));
        for (const auto& pins : kPinSets) {
            for (const std::string host : {"localhost", "127.0.0.1"}) {
                RAZududeSecurityPolicy policy;
                policy.setSSLPinningMode(Mode::kCertificate);
                policy.setValidatesCertificateChain(false);
                policy.setAllowInvalidCertificates(true);
                policy.setPinnedCertificates(testCertificateDers(pins));
                compare("served " + describe(served) + " pins " + describe(pins) + " host " + host,
                        policy, {.anchors = pins, .host = host}, peer.port(), chain, tally);
            }
        }
    }
    EXPECT_GT(tally.trusted, 10);
    EXPECT_GT(tally.refused, 30);
}

TEST(RAZududeSecurityPolicyLoopback, WithoutPinsTheDevicesAnchorsAgreeWithCurlCacert) {
    Tally tally;
    for (const auto& served : kServed) {
        auto peer = testing_support::startTlsPeer(served);
        const auto chain = testing_support::chainPresentedBy(peer.port());
        for (const auto& anchors : std::vector<Names>{{"root"}, {"selfsigned"}, {"inter"}}) {
            SystemAnchors device(anchors);
            const auto policy = RAZududeSecurityPolicy::defaultPolicy();
            compare("served " + describe(served) + " device anchors " + describe(anchors), *policy,
                    {.anchors = anchors}, peer.port(), chain, tally);
        }
        RAZududeSecurityPolicy lax;
        lax.setAllowInvalidCertificates(true);
        compare("served " + describe(served) + " insecure", lax, {.insecure = true}, peer.port(),
                chain, tally);
    }
    EXPECT_GT(tally.trusted, 5);
    EXPECT_GT(tally.refused, 5);
}

}  // namespace
