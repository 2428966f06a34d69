// The chain a real TLS server presents, judged by our trust and by curl with the same anchors.
#include <gtest/gtest.h>

#include "platform/net/ServerTrust.h"
#include "tests/support/TlsPeer.h"

namespace {

using platform::ServerTrust;
using platform::TrustPolicy;
using platform::TrustResult;
using testing_support::TestCertificates;
using Names = std::vector<std::string>;

std::string describe(const Names& names) {
    std::string out;
    for (const auto& name : names) {
        out += (out.empty() ? "" : ",") + name;
    }
    return "[" + out + "]";
}

TEST(ServerTrustLoopback, AgreesWithCurlOnWhichAnchorsTrustTheServer) {
    const std::vector<Names> served = {
        {"leaf", "inter"}, {"leaf"}, {"selfsigned"}, {"expired", "inter"}, {"wronghost", "inter"},
    };
    const std::vector<Names> anchorSets = {
        {"root"}, {"inter"}, {"leaf"}, {"selfsigned"}, {"wronghost"}, {"root", "selfsigned"},
    };
    int trusted = 0;
    int refused = 0;
    for (const auto& chain : served) {
        auto peer = testing_support::startTlsPeer(chain);
        const auto presented = testing_support::chainPresentedBy(peer.port());
        std::vector<platform::Bytes> expected;
        for (const auto& name : chain) {
            expected.push_back(TestCertificates::shared().der(name));
        }
        ASSERT_EQ(presented, expected) << "served " << describe(chain);

        for (const auto& anchors : anchorSets) {
            for (const std::string host : {"localhost", "127.0.0.1"}) {
                SCOPED_TRACE("served " + describe(chain) + " anchors " + describe(anchors) +
                             " host " + host);
                auto trust = ServerTrust::create(presented, TrustPolicy::ssl(host));
                ASSERT_NE(trust, nullptr);
                std::vector<platform::Bytes> anchorDers;
                for (const auto& name : anchors) {
                    anchorDers.push_back(TestCertificates::shared().der(name));
                }
                trust->setAnchorCertificates(anchorDers);
                const bool ours = trust->evaluate() == TrustResult::kUnspecified;
                const auto curl =
                    testing_support::curlGet(peer.port(), {.anchors = anchors, .host = host});
                EXPECT_EQ(ours, testing_support::curlTrusts(curl))
                    << "ours: " << trust->failureReason() << "\ncurl: " << curl.output;
                ++(ours ? trusted : refused);
            }
        }
    }
    EXPECT_GT(trusted, 8);
    EXPECT_GT(refused, 8);
}

}  // namespace
