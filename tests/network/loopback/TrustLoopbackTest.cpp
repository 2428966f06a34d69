// Server trust through the operation's security policy, against the loopback peer speaking
// HTTPS with the test certificates (made by the openssl command line).
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>

#include "SocialSDK/framework/network/RAZududeHTTPRequestOperation.h"
#include "SocialSDK/framework/network/RAZududeSecurityPolicy.h"
#include "platform/net/ServerTrust.h"
#include "tests/network/OperationTestSupport.h"
#include "tests/support/LoopbackPeers.h"
#include "tests/support/PeerProcess.h"
#include "tests/support/TestCertificates.h"

namespace {

using operation_tests::pumpUntil;
using operation_tests::requestFor;
using HTTPOp = RAZududeHTTPRequestOperation;

// An HTTPS peer presenting the chain file with the leaf's key.
testing_support::PeerProcess tlsPeer(const std::string& chainFile, const std::string& key) {
    const auto& certificates = testing_support::TestCertificates::shared();
    return testing_support::PeerProcess::python(
        "operation_peer.py",
        {"--tls", (certificates.dir() / chainFile).string(), certificates.key(key).string()});
}

struct Outcome {
    std::atomic<int> successes{0};
    std::atomic<int> failures{0};
    std::optional<platform::Error> error;
};

void load(const std::shared_ptr<HTTPOp>& op, Outcome& outcome) {
    op->setCompletionBlockWithSuccess([&](const auto&, const auto&) { ++outcome.successes; },
                                      [&](const auto&, const platform::Error& e) {
                                          outcome.error = e;
                                          ++outcome.failures;
                                      });
    op->start();
    ASSERT_TRUE(pumpUntil([&] { return outcome.successes + outcome.failures > 0; }));
}

TEST(OperationTrust, TheDefaultPolicyTrustsAChainToAnAnchorForItsHost) {
    testing_support::SystemAnchors anchors;
    auto peer = tlsPeer("chain.pem", "leaf");
    Outcome outcome;
    load(HTTPOp::create(requestFor(peer.baseUrl("https") + "/bytes/64")), outcome);
    EXPECT_EQ(outcome.successes.load(), 1) << (outcome.error ? outcome.error->description() : "");
}

TEST(OperationTrust, AnUntrustedServerFailsWithoutRunningTheSerializer) {
    auto peer = tlsPeer("selfsigned.pem", "selfsigned");
    auto op = HTTPOp::create(requestFor(peer.baseUrl("https") + "/bytes/64"));
    Outcome outcome;
    load(op, outcome);
    ASSERT_EQ(outcome.failures.load(), 1);
    EXPECT_EQ(outcome.error->domain(), platform::kUrlErrorDomain);
    EXPECT_EQ(outcome.error->code(), platform::kUrlErrorServerCertificateUntrusted);
    EXPECT_FALSE(op->responseSerializationError());
    EXPECT_FALSE(op->response());
}

TEST(OperationTrust, APolicyThatAllowsInvalidCertificatesLetsTheLoadThrough) {
    auto peer = tlsPeer("selfsigned.pem", "selfsigned");
    auto policy = RAZududeSecurityPolicy::defaultPolicy();
    policy->setAllowInvalidCertificates(true);
    auto op = HTTPOp::create(requestFor(peer.baseUrl("https") + "/bytes/64"));
    op->setSecurityPolicy(policy);
    Outcome outcome;
    load(op, outcome);
    EXPECT_EQ(outcome.successes.load(), 1);
}

TEST(OperationTrust, CertificatePinningRefusesAServerWithAnotherCertificate) {
    testing_support::SystemAnchors anchors;
    auto peer = tlsPeer("chain.pem", "leaf");
    const auto& certificates = testing_support::TestCertificates::shared();
    auto pinned =
        RAZududeSecurityPolicy::policyWithPinningMode(RAZududeSSLPinningMode::kCertificate);
    pinned->setPinnedCertificates(std::vector<platform::Bytes>{certificates.der("selfsigned")});
    auto op = HTTPOp::create(requestFor(peer.baseUrl("https") + "/bytes/64"));
    op->setSecurityPolicy(pinned);
    Outcome outcome;
    load(op, outcome);
    ASSERT_EQ(outcome.failures.load(), 1);
    EXPECT_EQ(outcome.error->code(), platform::kUrlErrorServerCertificateUntrusted);
}

// The server's connection that served the operation's response ("" without one).
std::string servedBy(const std::shared_ptr<HTTPOp>& op) {
    const auto http = std::dynamic_pointer_cast<const platform::HttpUrlResponse>(op->response());
    return http ? http->allHeaderFields().value("X-Connection").value_or("") : "";
}

TEST(OperationTrust, PinnedAndUnpinnedPoliciesOnOneHostEachJudgeByTheirOwn) {
    testing_support::SystemAnchors anchors;
    auto peer = testing_support::tlsPeer("chain.pem", "leaf");
    auto pinnedTo = [&](std::vector<std::string> names) {
        auto policy =
            RAZududeSecurityPolicy::policyWithPinningMode(RAZududeSSLPinningMode::kCertificate);
        policy->setPinnedCertificates(testing_support::testCertificateDers(names));
        return policy;
    };
    auto run = [&](std::shared_ptr<RAZududeSecurityPolicy> policy) {
        auto op = HTTPOp::create(requestFor(peer.baseUrl("https") + "/"));
        op->setSecurityPolicy(std::move(policy));
        Outcome outcome;
        load(op, outcome);
        if (outcome.error) {
            EXPECT_EQ(outcome.error->code(), platform::kUrlErrorServerCertificateUntrusted);
        }
        return outcome.error ? "refused" : servedBy(op);
    };
    const auto unpinned = RAZududeSecurityPolicy::defaultPolicy();
    const auto wrongPin = pinnedTo({"selfsigned"});
    EXPECT_EQ(run(unpinned), "1");
    // The connection the unpinned policy accepted is no reason to take it for the pinned one.
    EXPECT_EQ(run(wrongPin), "refused");
    // The refusal closed it.
    EXPECT_EQ(run(unpinned), "2");
    // A policy that pins the whole chain accepts the same connection without a handshake...
    EXPECT_EQ(run(pinnedTo({"leaf", "inter", "root"})), "2");
    EXPECT_EQ(run(RAZududeSecurityPolicy::defaultPolicy()), "2");
    // ...and a changed pin is another judgement again.
    auto changed = pinnedTo({"leaf", "inter", "root"});
    changed->setPinnedCertificates(testing_support::testCertificateDers({"leaf"}));
    EXPECT_EQ(run(changed), "refused");
    EXPECT_EQ(run(unpinned), "3");
}

}  // namespace
