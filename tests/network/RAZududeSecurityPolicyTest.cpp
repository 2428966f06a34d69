#include "SocialSDK/framework/network/RAZududeSecurityPolicy.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <set>

#include "platform/Bundle.h"
#include "tests/support/LoopbackPeers.h"
#include "tests/support/TestCertificates.h"

namespace {

using testing_support::SystemAnchors;
using testing_support::testCertificateDers;

using platform::Bytes;
using platform::ServerTrust;
using platform::TrustPolicy;
using testing_support::TestCertificates;
using Mode = RAZududeSSLPinningMode;
using Names = std::vector<std::string>;

const TestCertificates& certs() {
    return TestCertificates::shared();
}

Bytes keyOf(const std::string& name) {
    return *ServerTrust::publicKeyOfCertificate(certs().der(name));
}

// A fresh trust over the chain, as a handshake would make it; its policy is the one a TLS
// connection starts with, which the security policy replaces.
std::shared_ptr<ServerTrust> serverTrust(const Names& chain) {
    return ServerTrust::create(testCertificateDers(chain), TrustPolicy::ssl("not-the-domain.test"));
}

// The machine's anchors as the test root (as on a device that trusts the server's CA), put
// back at the end.

struct Settings {
    Mode mode = Mode::kNone;
    std::optional<Names> pinned;
    bool chain = true;
    bool allowInvalid = false;
    bool domainName = true;
};

RAZududeSecurityPolicy policyWith(const Settings& s) {
    RAZududeSecurityPolicy policy;
    policy.setSSLPinningMode(s.mode);
    if (s.pinned) {
        policy.setPinnedCertificates(testCertificateDers(*s.pinned));
    }
    policy.setValidatesCertificateChain(s.chain);
    policy.setAllowInvalidCertificates(s.allowInvalid);
    policy.setValidatesDomainName(s.domainName);
    return policy;
}

std::string describe(const Names& names) {
    std::string out;
    for (const auto& name : names) {
        out += (out.empty() ? "" : ",") + name;
    }
    return "[" + out + "]";
}

struct Row {
    Names chain;
    std::optional<std::string> domain;
    Settings settings;
    bool trusted;
};

void expectRows(const std::vector<Row>& rows) {
    for (const auto& row : rows) {
        SCOPED_TRACE("chain " + describe(row.chain) + " domain " + row.domain.value_or("(none)") +
                     " mode " + std::to_string(static_cast<unsigned>(row.settings.mode)) +
                     " pinned " +
                     (row.settings.pinned ? describe(*row.settings.pinned) : "(none)") + " chain " +
                     std::to_string(row.settings.chain) + " allowInvalid " +
                     std::to_string(row.settings.allowInvalid) + " domainName " +
                     std::to_string(row.settings.domainName));
        const auto policy = policyWith(row.settings);
        EXPECT_EQ(policy.evaluateServerTrust(serverTrust(row.chain), row.domain), row.trusted);
    }
}

TEST(RAZududeSecurityPolicy, DefaultsAndDerivedKeys) {
    const auto policy = RAZududeSecurityPolicy::defaultPolicy();
    EXPECT_EQ(policy->SSLPinningMode(), Mode::kNone);
    EXPECT_TRUE(policy->validatesCertificateChain());
    EXPECT_FALSE(policy->allowInvalidCertificates());
    EXPECT_TRUE(policy->validatesDomainName());
    EXPECT_EQ(policy->pinnedCertificates(), std::nullopt);
    EXPECT_EQ(policy->pinnedPublicKeys(), std::nullopt);
    EXPECT_EQ(RAZududeSecurityPolicy::keyPathsForValuesAffectingPinnedPublicKeys(),
              std::set<std::string>{"pinnedCertificates"});

    // Data that is no certificate leaves no key behind; the others keep their order.
    policy->setPinnedCertificates(
        std::vector<Bytes>{certs().der("leaf"),
                           platform::toBytes("not a certificate"),
                           {},
                           testing_support::readBytes(certs().pem("root")),
                           certs().der("root")});
    EXPECT_EQ(policy->pinnedCertificates()->size(), 5u);
    EXPECT_EQ(policy->pinnedPublicKeys(), (std::vector<Bytes>{keyOf("leaf"), keyOf("root")}));
    policy->setPinnedCertificates(std::vector<Bytes>{});
    EXPECT_EQ(policy->pinnedPublicKeys(), std::vector<Bytes>{});
    policy->setPinnedCertificates(std::nullopt);
    EXPECT_EQ(policy->pinnedPublicKeys(), std::nullopt);
}

// The only test that reads the default pins: they are read once per process.
TEST(RAZududeSecurityPolicy, DefaultPinsAreTheCerFilesAtTheTopOfTheMainBundle) {
    const auto previous = platform::Bundle::mainBundle().bundlePath();
    testing_support::TempDir bundle;
    const auto put = [&](const std::filesystem::path& file, const Bytes& bytes) {
        std::filesystem::create_directories((bundle.path() / file).parent_path());
        std::ofstream(bundle.path() / file, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
    };
    put("b-server.cer", certs().der("leaf"));
    put("a-ca.cer", certs().der("root"));
    put("c-other.der", certs().der("inter"));
    put("certs/d.cer", certs().der("selfsigned"));
    put("notes.cer", platform::toBytes("not a certificate"));
    platform::Bundle::setMainBundlePath(bundle.path());

    const auto& pins = RAZududeSecurityPolicy::defaultPinnedCertificates();
    EXPECT_EQ(pins, (std::vector<Bytes>{certs().der("root"), certs().der("leaf"),
                                        platform::toBytes("not a certificate")}));

    const auto policy = RAZududeSecurityPolicy::policyWithPinningMode(Mode::kPublicKey);
    EXPECT_EQ(policy->SSLPinningMode(), Mode::kPublicKey);
    EXPECT_TRUE(policy->validatesCertificateChain());
    EXPECT_FALSE(policy->allowInvalidCertificates());
    EXPECT_TRUE(policy->validatesDomainName());
    EXPECT_EQ(policy->pinnedCertificates(), pins);
    EXPECT_EQ(policy->pinnedPublicKeys(), (std::vector<Bytes>{keyOf("root"), keyOf("leaf")}));

    // Kept for the process: the bundle's later changes are not seen.
    std::filesystem::remove(bundle.path() / "a-ca.cer");
    EXPECT_EQ(&RAZududeSecurityPolicy::defaultPinnedCertificates(), &pins);
    EXPECT_EQ(RAZududeSecurityPolicy::policyWithPinningMode(Mode::kCertificate)
                  ->pinnedCertificates()
                  ->size(),
              3u);
    platform::Bundle::setMainBundlePath(previous);
}

TEST(RAZududeSecurityPolicy, WithoutPinningThePlatformDecides) {
    {
        SystemAnchors root;
        expectRows({
            {{"leaf", "inter"}, "localhost", {}, true},
            {{"leaf", "inter"}, "127.0.0.1", {}, true},
            {{"leaf", "inter"}, std::nullopt, {}, true},
            {{"leaf", "inter"}, "wrong-host.test", {}, false},
            {{"leaf", "inter"}, "wrong-host.test", {.domainName = false}, true},
            {{"leaf", "inter"}, "wrong-host.test", {.allowInvalid = true}, true},
            {{"wronghost", "inter"}, "localhost", {}, false},
            {{"wronghost", "inter"}, std::nullopt, {}, true},
            {{"leaf"}, "localhost", {}, false},
            {{"selfsigned"}, "localhost", {}, false},
            {{"selfsigned"}, "localhost", {.allowInvalid = true}, true},
            {{"expired", "inter"}, "localhost", {}, false},
            {{"expired", "inter"}, "localhost", {.domainName = false}, false},
            {{"expired", "inter"}, "localhost", {.allowInvalid = true}, true},
            {{"client", "inter"}, "localhost", {}, false},
            {{"client", "inter"}, "localhost", {.domainName = false}, true},
            // Pins mean nothing without a pinning mode.
            {{"selfsigned"}, "localhost", {.pinned = Names{"selfsigned"}}, false},
        });
    }
    // The machine does not know the test root.
    expectRows({
        {{"leaf", "inter"}, "localhost", {}, false},
        {{"leaf", "inter", "root"}, "localhost", {}, false},
        {{"leaf", "inter"}, "localhost", {.allowInvalid = true}, true},
    });
    EXPECT_FALSE(RAZududeSecurityPolicy().evaluateServerTrust(nullptr, "localhost"));
    RAZududeSecurityPolicy lax;
    lax.setAllowInvalidCertificates(true);
    EXPECT_FALSE(lax.evaluateServerTrust(nullptr));
}

TEST(RAZududeSecurityPolicy, TheDomainRuleReplacesTheTrustsPolicy) {
    SystemAnchors root;
    RAZududeSecurityPolicy policy;
    auto trust = serverTrust({"leaf", "inter"});
    EXPECT_TRUE(policy.evaluateServerTrust(trust, "localhost"));
    EXPECT_TRUE(trust->policy().isSsl());
    EXPECT_EQ(trust->policy().host(), "localhost");
    EXPECT_TRUE(policy.evaluateServerTrust(trust));
    EXPECT_TRUE(trust->policy().isSsl());
    EXPECT_EQ(trust->policy().host(), std::nullopt);
    policy.setValidatesDomainName(false);
    EXPECT_TRUE(policy.evaluateServerTrust(trust, "wrong-host.test"));
    EXPECT_FALSE(trust->policy().isSsl());
}

TEST(RAZududeSecurityPolicy, CertificatePinning) {
    const Settings pinLeaf{.mode = Mode::kCertificate, .pinned = Names{"leaf"}};
    const Settings pinAll{.mode = Mode::kCertificate, .pinned = Names{"leaf", "inter", "root"}};
    const Settings pinRoot{.mode = Mode::kCertificate, .pinned = Names{"root"}};
    const auto loose = [](Settings s) {
        s.chain = false;
        return s;
    };
    const auto lax = [](Settings s) {
        s.allowInvalid = true;
        return s;
    };
    {
        SystemAnchors root;
        expectRows({
            {{"leaf", "inter"}, "localhost", pinLeaf, false},
            {{"leaf", "inter"}, "localhost", loose(pinLeaf), true},
            {{"leaf", "inter"}, "localhost", pinAll, true},
            {{"leaf", "inter", "root"}, "localhost", pinAll, true},
            {{"leaf", "inter"},
             "localhost",
             {.mode = Mode::kCertificate, .pinned = Names{"leaf", "inter"}},
             true},
            {{"leaf", "inter"}, "localhost", pinRoot, false},
            {{"leaf", "inter"}, "localhost", loose(pinRoot), true},
            // The pins alone anchor the chain, not the machine's store.
            {{"leaf", "inter"},
             "localhost",
             {.mode = Mode::kCertificate, .pinned = Names{"selfsigned"}, .chain = false},
             false},
            {{"leaf", "inter"}, "localhost", {.mode = Mode::kCertificate, .chain = false}, false},
            {{"leaf", "inter"},
             "localhost",
             {.mode = Mode::kCertificate, .pinned = Names{}, .chain = false},
             false},
            // A certificate over the same key is a different certificate.
            {{"leaf", "inter"},
             "localhost",
             {.mode = Mode::kCertificate, .pinned = Names{"samekey"}, .chain = false},
             false},
            // The pinned evaluation keeps the policy's domain rule.
            {{"wronghost", "inter"}, "localhost", lax(loose(pinRoot)), false},
            {{"wronghost", "inter"},
             "localhost",
             {.mode = Mode::kCertificate,
              .pinned = Names{"root"},
              .chain = false,
              .domainName = false},
             true},
        });
    }
    // Pinned but not trusted by the machine: refused unless invalid certificates are allowed,
    // and then the pins decide.
    expectRows({
        {{"selfsigned"},
         "localhost",
         {.mode = Mode::kCertificate, .pinned = Names{"selfsigned"}},
         false},
        {{"selfsigned"},
         "localhost",
         lax({.mode = Mode::kCertificate, .pinned = Names{"selfsigned"}}),
         true},
        {{"selfsigned"},
         "wrong-host.test",
         lax({.mode = Mode::kCertificate, .pinned = Names{"selfsigned"}}),
         false},
        {{"leaf", "inter"}, "localhost", lax(pinAll), true},
        {{"leaf", "inter"}, "localhost", lax(pinLeaf), false},
        {{"leaf", "inter"}, "localhost", lax(loose(pinLeaf)), true},
        {{"expired", "inter"},
         "localhost",
         lax({.mode = Mode::kCertificate, .pinned = Names{"expired", "inter", "root"}}),
         false},
    });
}

TEST(RAZududeSecurityPolicy, PublicKeyPinning) {
    const auto pk = [](Names pinned, bool chain = true, bool allowInvalid = false) {
        return Settings{.mode = Mode::kPublicKey,
                        .pinned = std::move(pinned),
                        .chain = chain,
                        .allowInvalid = allowInvalid};
    };
    {
        SystemAnchors root;
        expectRows({
            {{"leaf", "inter"}, "localhost", pk({"leaf"}, false), true},
            {{"leaf", "inter"}, "localhost", pk({"leaf"}), false},
            {{"leaf", "inter"}, "localhost", pk({"leaf", "inter"}), true},
            {{"leaf", "inter"}, "localhost", pk({"inter", "leaf", "selfsigned"}), true},
            {{"leaf", "inter"}, "localhost", pk({"inter"}, false), false},
            {{"leaf", "inter"}, "localhost", pk({"inter"}), false},
            {{"leaf", "inter", "root"}, "localhost", pk({"leaf", "inter", "root"}), true},
            // The key is what is pinned, whichever certificate carries it.
            {{"leaf", "inter"}, "localhost", pk({"samekey"}, false), true},
            {{"leaf", "inter"}, "localhost", pk({"samekey", "inter"}), true},
            {{"leaf", "inter"}, "localhost", pk({}, false), false},
            {{"leaf", "inter"}, "localhost", {.mode = Mode::kPublicKey, .chain = false}, false},
            // Pins do not excuse a chain that the platform refuses.
            {{"leaf", "inter"}, "wrong-host.test", pk({"leaf", "inter"}), false},
            {{"expired", "inter"}, "localhost", pk({"expired", "inter"}), false},
        });
    }
    expectRows({
        {{"leaf", "inter"}, "localhost", pk({"leaf", "inter"}), false},
        {{"leaf", "inter"}, "localhost", pk({"leaf", "inter"}, true, true), true},
        {{"selfsigned"}, "localhost", pk({"selfsigned"}, false, true), true},
        {{"selfsigned"}, "localhost", pk({"leaf"}, false, true), false},
        {{"expired", "inter"}, "localhost", pk({"expired"}, false, true), true},
    });
}

// A pinned list that names the leaf's key twice must not stand in for a chain certificate
// whose key is not pinned at all.
TEST(RAZududeSecurityPolicy, RepeatedPinsDoNotCoverAnUnpinnedCertificate) {
    SystemAnchors root;
    RAZududeSecurityPolicy policy;
    policy.setSSLPinningMode(Mode::kPublicKey);
    policy.setPinnedCertificates(testCertificateDers({"leaf", "leaf", "inter"}));
    EXPECT_FALSE(policy.evaluateServerTrust(serverTrust({"leaf", "inter", "root"}), "localhost"));
    policy.setPinnedCertificates(testCertificateDers({"samekey", "leaf", "inter"}));
    EXPECT_FALSE(policy.evaluateServerTrust(serverTrust({"leaf", "inter", "root"}), "localhost"));
    policy.setPinnedCertificates(testCertificateDers({"leaf", "leaf", "inter", "root"}));
    EXPECT_TRUE(policy.evaluateServerTrust(serverTrust({"leaf", "inter", "root"}), "localhost"));
}

TEST(RAZududeSecurityPolicy, AnUnknownModeTrustsNothing) {
    SystemAnchors root;
    for (const unsigned mode : {3u, 7u, 0xffffffffu}) {
        SCOPED_TRACE(mode);
        expectRows({{{"leaf", "inter"},
                     "localhost",
                     {.mode = static_cast<Mode>(mode),
                      .pinned = Names{"leaf", "inter", "root"},
                      .chain = false,
                      .allowInvalid = true},
                     false}});
    }
}

// A connection accepted under one name is taken for another policy of the same name without
// judging it again: the name must change with everything the verdict depends on.
TEST(RAZududeSecurityPolicyTest, TheJudgementsNameChangesWithEverySettingThatJudges) {
    const auto name = [](const std::function<void(RAZududeSecurityPolicy&)>& change) {
        auto policy = RAZududeSecurityPolicy::policyWithPinningMode(Mode::kCertificate);
        policy->setPinnedCertificates(testCertificateDers({"leaf", "inter"}));
        change(*policy);
        return policy->serverTrustJudgement();
    };
    const std::string base = name([](auto&) {});
    EXPECT_EQ(name([](auto&) {}), base);
    std::set<std::string> names{base};
    const std::vector<std::function<void(RAZududeSecurityPolicy&)>> changes = {
        [](auto& p) { p.setSSLPinningMode(Mode::kPublicKey); },
        [](auto& p) { p.setSSLPinningMode(Mode::kNone); },
        [](auto& p) { p.setValidatesCertificateChain(false); },
        [](auto& p) { p.setAllowInvalidCertificates(true); },
        [](auto& p) { p.setValidatesDomainName(false); },
        [](auto& p) {
            p.setPinnedCertificates(testCertificateDers({"inter", "leaf"}));
        },
        [](auto& p) { p.setPinnedCertificates(testCertificateDers({"leaf"})); },
        [](auto& p) { p.setPinnedCertificates(std::nullopt); },
    };
    for (const auto& change : changes) {
        names.insert(name(change));
    }
    EXPECT_EQ(names.size(), changes.size() + 1);

    // Pins do not judge without pinning.
    auto unpinned = RAZududeSecurityPolicy::defaultPolicy();
    const std::string plain = unpinned->serverTrustJudgement();
    unpinned->setPinnedCertificates(testCertificateDers({"leaf"}));
    EXPECT_EQ(unpinned->serverTrustJudgement(), plain);
    {
        SystemAnchors anchors;
        EXPECT_NE(unpinned->serverTrustJudgement(), plain) << "other system anchors";
    }
}

}  // namespace
