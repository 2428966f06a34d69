#include "platform/net/ServerTrust.h"

#include <gtest/gtest.h>
#include <openssl/err.h>

#include <fstream>
#include <thread>

#include "tests/support/LoopbackPeers.h"
#include "tests/support/TestCertificates.h"

namespace {

using testing_support::SystemAnchors;
using testing_support::testCertificateDers;

using platform::Bytes;
using platform::ServerTrust;
using platform::TrustPolicy;
using platform::TrustResult;
using testing_support::runCommand;
using testing_support::TestCertificates;

const TestCertificates& certs() {
    return TestCertificates::shared();
}

std::shared_ptr<ServerTrust> trustOver(const std::vector<std::string>& chain, TrustPolicy policy,
                                       std::optional<std::vector<std::string>> anchors) {
    auto trust = ServerTrust::create(testCertificateDers(chain), std::move(policy));
    if (trust && anchors) {
        trust->setAnchorCertificates(testCertificateDers(*anchors));
    }
    return trust;
}

std::string join(const std::vector<std::string>& names) {
    std::string out;
    for (const auto& name : names) {
        out += (out.empty() ? "" : ",") + name;
    }
    return "[" + out + "]";
}

TEST(ServerTrust, MadeOnlyFromWholeDerCertificates) {
    EXPECT_EQ(ServerTrust::create({}, TrustPolicy::basicX509()), nullptr);
    EXPECT_EQ(ServerTrust::create({platform::toBytes("not a certificate")}, TrustPolicy::ssl({})),
              nullptr);
    Bytes trailing = certs().der("leaf");
    trailing.push_back(0);
    EXPECT_EQ(ServerTrust::create({certs().der("inter"), trailing}, TrustPolicy::ssl({})), nullptr);
    EXPECT_EQ(ServerTrust::create({testing_support::readBytes(certs().pem("leaf"))},
                                  TrustPolicy::ssl({})),
              nullptr);

    auto trust =
        ServerTrust::create(testCertificateDers({"leaf", "inter"}), TrustPolicy::ssl("localhost"));
    ASSERT_NE(trust, nullptr);
    EXPECT_EQ(trust->certificateCount(), 2u);
    EXPECT_EQ(trust->certificateAtIndex(0), certs().der("leaf"));
    EXPECT_EQ(trust->certificateAtIndex(1), certs().der("inter"));
    EXPECT_THROW(trust->certificateAtIndex(2), std::out_of_range);
    EXPECT_TRUE(trust->policy().isSsl());
    EXPECT_EQ(trust->policy().host(), "localhost");
}

TEST(ServerTrust, ChainToAnchorIsUnspecifiedAndFailuresSayWhy) {
    auto trust = trustOver({"leaf", "inter"}, TrustPolicy::ssl("localhost"),
                           std::vector<std::string>{"root"});
    EXPECT_EQ(trust->evaluate(), TrustResult::kUnspecified);
    EXPECT_EQ(trust->failureReason(), "");

    trust->setAnchorCertificates({});
    EXPECT_EQ(trust->evaluate(), TrustResult::kRecoverableTrustFailure);
    EXPECT_EQ(trust->failureReason(), "unable to get local issuer certificate");

    // An unreadable anchor anchors nothing, and does not spoil the good one beside it.
    trust->setAnchorCertificates({platform::toBytes("junk"), certs().der("root")});
    EXPECT_EQ(trust->evaluate(), TrustResult::kUnspecified);
    EXPECT_EQ(trust->failureReason(), "");

    struct Bad {
        std::vector<std::string> chain;
        TrustPolicy policy;
        std::string reason;
    };
    const std::vector<Bad> bad = {
        {{"leaf"}, TrustPolicy::ssl("localhost"), "unable to get local issuer certificate"},
        {{"expired", "inter"}, TrustPolicy::ssl("localhost"), "certificate has expired"},
        {{"expired", "inter"}, TrustPolicy::basicX509(), "certificate has expired"},
        {{"wronghost", "inter"}, TrustPolicy::ssl("localhost"), "hostname mismatch"},
        {{"leaf", "inter"}, TrustPolicy::ssl("other.localhost"), "hostname mismatch"},
        {{"leaf", "inter"}, TrustPolicy::ssl("127.0.0.2"), "IP address mismatch"},
        {{"leaf", "inter"}, TrustPolicy::ssl("[::1]"), "IP address mismatch"},
        {{"leaf", "inter"}, TrustPolicy::ssl(""), "hostname mismatch"},
        {{"leaf", "inter"},
         TrustPolicy::ssl(std::string("localhost\0.evil", 15)),
         "hostname mismatch"},
        {{"client", "inter"}, TrustPolicy::ssl({}), "unsuitable certificate purpose"},
        {{"selfsigned"}, TrustPolicy::ssl("localhost"), "self-signed certificate"},
    };
    for (const auto& c : bad) {
        SCOPED_TRACE(join(c.chain) + " " + c.policy.host().value_or("(no host)"));
        auto t = trustOver(c.chain, c.policy, std::vector<std::string>{"root"});
        EXPECT_EQ(t->evaluate(), TrustResult::kRecoverableTrustFailure);
        EXPECT_EQ(t->failureReason(), c.reason);
    }

    // Without a host there is no name to check; plain X.509 asks nothing of the certificate's use.
    EXPECT_EQ(
        trustOver({"wronghost", "inter"}, TrustPolicy::ssl({}), std::vector<std::string>{"root"})
            ->evaluate(),
        TrustResult::kUnspecified);
    EXPECT_EQ(
        trustOver({"client", "inter"}, TrustPolicy::basicX509(), std::vector<std::string>{"root"})
            ->evaluate(),
        TrustResult::kUnspecified);
    auto byAddress = trustOver({"leaf", "inter"}, TrustPolicy::ssl("127.0.0.1"),
                               std::vector<std::string>{"root"});
    EXPECT_EQ(byAddress->evaluate(), TrustResult::kUnspecified);
    byAddress->setPolicy(TrustPolicy::ssl("wrong-host.test"));
    EXPECT_EQ(byAddress->evaluate(), TrustResult::kRecoverableTrustFailure);
}

TEST(ServerTrust, AnyCertificateOfTheChainCanBeTheAnchor) {
    for (const auto& anchor : {"root", "inter", "leaf"}) {
        SCOPED_TRACE(anchor);
        EXPECT_EQ(trustOver({"leaf", "inter"}, TrustPolicy::ssl("localhost"),
                            std::vector<std::string>{anchor})
                      ->evaluate(),
                  TrustResult::kUnspecified);
    }
    EXPECT_EQ(trustOver({"selfsigned"}, TrustPolicy::ssl("localhost"),
                        std::vector<std::string>{"selfsigned"})
                  ->evaluate(),
              TrustResult::kUnspecified);
    // An anchor does not excuse the certificates it stands on.
    EXPECT_EQ(trustOver({"expired", "inter"}, TrustPolicy::ssl("localhost"),
                        std::vector<std::string>{"inter"})
                  ->evaluate(),
              TrustResult::kRecoverableTrustFailure);
}

TEST(ServerTrust, AnchorsOfTheTrustThenOfTestsThenOfTheMachine) {
    // The machine knows nothing of the test root.
    auto trust = trustOver({"leaf", "inter"}, TrustPolicy::ssl("localhost"), std::nullopt);
    EXPECT_EQ(trust->evaluate(), TrustResult::kRecoverableTrustFailure);
    {
        SystemAnchors anchors({"root"});
        EXPECT_EQ(trust->evaluate(), TrustResult::kUnspecified);
        trust->setAnchorCertificates(testCertificateDers({"selfsigned"}));
        EXPECT_EQ(trust->evaluate(), TrustResult::kRecoverableTrustFailure);
    }
    auto fresh = trustOver({"leaf", "inter"}, TrustPolicy::ssl("localhost"), std::nullopt);
    EXPECT_EQ(fresh->evaluate(), TrustResult::kRecoverableTrustFailure);
}

TEST(ServerTrust, PublicKeysAreTheSubjectPublicKeyInfo) {
    const auto dir = certs().dir();
    for (const auto& name : {"leaf", "root", "selfsigned"}) {
        SCOPED_TRACE(name);
        const auto pubPem = dir / (std::string(name) + ".pub.pem");
        const auto pubDer = dir / (std::string(name) + ".pub.der");
        ASSERT_EQ(runCommand({"openssl", "x509", "-in", certs().pem(name).string(), "-noout",
                              "-pubkey", "-out", pubPem.string()})
                      .status,
                  0);
        ASSERT_EQ(runCommand({"openssl", "pkey", "-pubin", "-in", pubPem.string(), "-outform",
                              "DER", "-out", pubDer.string()})
                      .status,
                  0);
        EXPECT_EQ(ServerTrust::publicKeyOfCertificate(certs().der(name)),
                  testing_support::readBytes(pubDer));
    }
    EXPECT_NE(ServerTrust::publicKeyOfCertificate(certs().der("leaf")),
              ServerTrust::publicKeyOfCertificate(certs().der("inter")));
    EXPECT_EQ(trustOver({"leaf", "inter"}, TrustPolicy::basicX509(), std::nullopt)->publicKey(),
              ServerTrust::publicKeyOfCertificate(certs().der("leaf")));

    EXPECT_EQ(ServerTrust::publicKeyOfCertificate({}), std::nullopt);
    EXPECT_EQ(ServerTrust::publicKeyOfCertificate(platform::toBytes("junk")), std::nullopt);
    EXPECT_EQ(ServerTrust::publicKeyOfCertificate(testing_support::readBytes(certs().pem("leaf"))),
              std::nullopt);
}

TEST(ServerTrust, CertificatesFromPemOrDer) {
    EXPECT_EQ(
        platform::certificatesFromPemOrDer(testing_support::readBytes(certs().pem("fullchain"))),
        testCertificateDers({"leaf", "inter", "root"}));
    EXPECT_EQ(platform::certificatesFromPemOrDer(certs().der("inter")),
              testCertificateDers({"inter"}));
    EXPECT_TRUE(platform::certificatesFromPemOrDer({}).empty());
    EXPECT_TRUE(platform::certificatesFromPemOrDer(platform::toBytes("junk")).empty());

    // Keys, prose and damaged blocks between certificates are passed over.
    const auto text = [](const std::string& name, const std::string& ext) {
        const auto bytes = testing_support::readBytes(certs().dir() / (name + "." + ext));
        return std::string(bytes.begin(), bytes.end());
    };
    const std::string mixed = "Server certificates\n" + text("leaf", "pem") + text("leaf", "key") +
                              "-----BEGIN CERTIFICATE-----\nAAAA!!!!\n-----END CERTIFICATE-----\n" +
                              "between\n" + text("root", "pem") + "trailing words";
    EXPECT_EQ(platform::certificatesFromPemOrDer(platform::toBytes(mixed)),
              testCertificateDers({"leaf", "root"}));
    EXPECT_TRUE(platform::certificatesFromPemOrDer(platform::toBytes(text("leaf", "key"))).empty());
}

// What OpenSSL's own command line says of the same chain, anchors and policy. Our anchors may
// be any certificate, hence -partial_chain.
testing_support::CommandResult opensslVerify(const std::vector<std::string>& chain,
                                             const std::vector<std::string>& anchors,
                                             const TrustPolicy& policy) {
    const auto dir = certs().dir();
    const auto write = [&](const std::string& file, const std::vector<std::string>& names) {
        std::ofstream out(dir / file, std::ios::binary | std::ios::trunc);
        for (const auto& name : names) {
            const auto bytes = testing_support::readBytes(certs().pem(name));
            out.write(reinterpret_cast<const char*>(bytes.data()),
                      static_cast<std::streamsize>(bytes.size()));
        }
        return (dir / file).string();
    };
    std::vector<std::string> argv{"openssl", "verify", "-partial_chain", "-no-CApath",
                                  "-no-CAstore"};
    if (anchors.empty()) {
        argv.push_back("-no-CAfile");
    } else {
        argv.insert(argv.end(), {"-CAfile", write("verify-anchors.pem", anchors)});
    }
    if (chain.size() > 1) {
        argv.insert(argv.end(), {"-untrusted",
                                 write("verify-untrusted.pem", {chain.begin() + 1, chain.end()})});
    }
    if (policy.isSsl()) {
        argv.insert(argv.end(), {"-purpose", "sslserver"});
        if (policy.host()) {
            const bool address =
                policy.host()->find_first_not_of("0123456789.") == std::string::npos;
            argv.insert(argv.end(), {address ? "-verify_ip" : "-verify_hostname", *policy.host()});
        }
    }
    argv.push_back(certs().pem(chain.front()).string());
    return runCommand(argv);
}

TEST(ServerTrust, AgreesWithOpensslVerify) {
    const std::vector<std::vector<std::string>> chains = {
        {"leaf", "inter"},         {"leaf"},
        {"leaf", "inter", "root"}, {"selfsigned"},
        {"expired", "inter"},      {"wronghost", "inter"},
        {"client", "inter"},       {"leaf", "selfsigned"},
    };
    const std::vector<std::vector<std::string>> anchorSets = {
        {"root"}, {"inter"}, {"leaf"}, {"selfsigned"}, {}, {"selfsigned", "root"},
    };
    const std::vector<TrustPolicy> policies = {
        TrustPolicy::ssl({}),
        TrustPolicy::ssl("localhost"),
        TrustPolicy::ssl("127.0.0.1"),
        TrustPolicy::basicX509(),
    };
    int passed = 0;
    int failed = 0;
    for (const auto& chain : chains) {
        for (const auto& anchors : anchorSets) {
            for (const auto& policy : policies) {
                SCOPED_TRACE(
                    "chain " + join(chain) + " anchors " + join(anchors) + " policy " +
                    (policy.isSsl() ? "ssl " + policy.host().value_or("(no host)") : "basic"));
                auto trust = trustOver(chain, policy, anchors);
                const auto ours = trust->evaluate();
                const auto theirs = opensslVerify(chain, anchors, policy);
                ASSERT_TRUE(ours.has_value());
                EXPECT_EQ(*ours == TrustResult::kUnspecified, theirs.status == 0) << theirs.output;
                if (*ours != TrustResult::kUnspecified) {
                    EXPECT_NE(theirs.output.find(trust->failureReason()), std::string::npos)
                        << "ours: " << trust->failureReason() << "\ntheirs: " << theirs.output;
                    ++failed;
                } else {
                    ++passed;
                }
            }
        }
    }
    // The matrix must exercise both verdicts in earnest.
    EXPECT_GT(passed, 20);
    EXPECT_GT(failed, 20);
}

TEST(ServerTrust, EvaluationLeavesTheThreadsErrorQueueAsItWas) {
    ERR_clear_error();
    ERR_raise(ERR_LIB_USER, 42);
    const unsigned long before = ERR_peek_last_error();
    auto trust = trustOver({"expired", "inter"}, TrustPolicy::ssl("elsewhere"),
                           std::vector<std::string>{"root"});
    EXPECT_EQ(trust->evaluate(), TrustResult::kRecoverableTrustFailure);
    EXPECT_EQ(ServerTrust::create({platform::toBytes("junk")}, TrustPolicy::ssl({})), nullptr);
    EXPECT_EQ(ServerTrust::publicKeyOfCertificate(platform::toBytes("junk")), std::nullopt);
    EXPECT_TRUE(platform::certificatesFromPemOrDer(platform::toBytes("-----BEGIN junk")).empty());
    EXPECT_EQ(ERR_peek_last_error(), before);
    EXPECT_EQ(ERR_get_error(), before);
    EXPECT_EQ(ERR_get_error(), 0u);
}

TEST(ServerTrust, ThreadsEvaluateAtOnce) {
    SystemAnchors anchors({"root"});
    std::vector<std::thread> threads;
    std::vector<int> good(4, 0);
    for (std::size_t t = 0; t < good.size(); ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 25; ++i) {
                auto trust = ServerTrust::create(testCertificateDers({"leaf", "inter"}),
                                                 TrustPolicy::ssl(i % 2 ? "localhost" : "nobody"));
                if (trust->evaluate() ==
                    (i % 2 ? TrustResult::kUnspecified : TrustResult::kRecoverableTrustFailure)) {
                    ++good[t];
                }
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(good, std::vector<int>(4, 25));
}

}  // namespace
