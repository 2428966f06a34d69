// Kept-alive TLS connections and resumed sessions against tests/peers/tls_peer.py, which says
// which of its connections served each response: every handshake is judged once, and every
// load is judged by its own delegate's judgement before its request goes out.
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "platform/net/UrlConnection.h"
#include "tests/support/LoopbackPeers.h"
#include "tests/support/PeerProcess.h"

namespace {

using platform::UrlConnection;
using platform::UrlRequest;

constexpr double kWait = 20;

// Challenges seen by every delegate of one judgement, and the chain lengths they saw.
struct Tally {
    std::atomic<int> challenges{0};
    std::atomic<std::size_t> lastChainLength{0};
};

// A delegate whose judgement has a name (or none): the system's trust, or a refusal.
class Judge : public platform::UrlConnectionDelegate {
  public:
    Judge(std::optional<std::string> name, bool accepts, std::shared_ptr<Tally> tally)
        : name_(std::move(name)), accepts_(accepts), tally_(std::move(tally)) {}

    std::optional<std::string> serverTrustJudgement(UrlConnection&) override { return name_; }
    void willSendRequestForAuthenticationChallenge(
        UrlConnection&, const platform::AuthenticationChallenge& challenge) override {
        ++tally_->challenges;
        tally_->lastChainLength = challenge.protectionSpace().serverTrust()->certificateCount();
        if (accepts_) {
            challenge.sender().performDefaultHandling(challenge);
        } else {
            challenge.sender().cancelAuthenticationChallenge(challenge);
        }
    }
    void didReceiveResponse(UrlConnection&,
                            const std::shared_ptr<const platform::UrlResponse>& r) override {
        std::lock_guard lock(mutex_);
        response_ = std::dynamic_pointer_cast<const platform::HttpUrlResponse>(r);
    }
    void didFinishLoading(UrlConnection&) override { end(std::nullopt); }
    void didFailWithError(UrlConnection&, const platform::Error& e) override { end(e); }

    bool waitForEnd() {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, std::chrono::duration<double>(kWait),
                                 [&] { return ended_; });
    }
    // The server's connection that served the response ("" without one).
    std::string connection() const { return header("X-Connection"); }
    bool sessionReused() const { return header("X-Session-Reused") == "1"; }
    std::optional<platform::Error> error() const {
        std::lock_guard lock(mutex_);
        return error_;
    }

  private:
    void end(std::optional<platform::Error> e) {
        std::lock_guard lock(mutex_);
        error_ = std::move(e);
        ended_ = true;
        changed_.notify_all();
    }
    std::string header(const char* name) const {
        std::lock_guard lock(mutex_);
        return response_ ? response_->allHeaderFields().value(name).value_or("") : "";
    }

    const std::optional<std::string> name_;
    const bool accepts_;
    const std::shared_ptr<Tally> tally_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    bool ended_ = false;
    std::shared_ptr<const platform::HttpUrlResponse> response_;
    std::optional<platform::Error> error_;
};

class TlsConnectionReuseTest : public ::testing::Test {
  protected:
    std::shared_ptr<Judge> load(std::optional<std::string> name, bool accepts,
                                const std::shared_ptr<Tally>& tally,
                                const std::string& path = "/") {
        auto judge = std::make_shared<Judge>(std::move(name), accepts, tally);
        UrlConnection::create(request(path), judge)->start();
        EXPECT_TRUE(judge->waitForEnd());
        return judge;
    }
    UrlRequest request(const std::string& path) const {
        return UrlRequest(*platform::Url::parse(peer_.baseUrl("https") + path));
    }

    testing_support::SystemAnchors anchors_;
    testing_support::PeerProcess peer_ = testing_support::tlsPeer("chain.pem", "leaf");
};

TEST_F(TlsConnectionReuseTest, EachHandshakeIsJudgedOnceWhateverTheLoadsThatUseIt) {
    auto tally = std::make_shared<Tally>();
    for (int i = 0; i < 10; ++i) {
        auto judge = load("system anchors", true, tally);
        ASSERT_FALSE(judge->error()) << judge->error()->description();
        EXPECT_EQ(judge->connection(), "1");
    }
    EXPECT_EQ(tally->challenges, 1);

    // Loads at once open connections of their own: each is judged once, by the load that made
    // it, whether its handshake sent the chain or resumed a session.
    std::vector<std::shared_ptr<Judge>> judges;
    for (int i = 0; i < 8; ++i) {
        judges.push_back(std::make_shared<Judge>("system anchors", true, tally));
        UrlConnection::create(request("/"), judges.back())->start();
    }
    int newest = 1;
    for (const auto& judge : judges) {
        ASSERT_TRUE(judge->waitForEnd());
        ASSERT_FALSE(judge->error()) << judge->error()->description();
        newest = std::max(newest, std::stoi(judge->connection()));
    }
    EXPECT_GT(newest, 1);
    EXPECT_EQ(tally->challenges, newest);

    // A delegate that names no judgement is asked for every load, on the chain the connection
    // holds.
    auto unnamed = std::make_shared<Tally>();
    for (int i = 0; i < 3; ++i) {
        auto judge = load(std::nullopt, true, unnamed);
        ASSERT_FALSE(judge->error());
        EXPECT_LE(std::stoi(judge->connection()), newest) << "no new handshake";
    }
    EXPECT_EQ(unnamed->challenges, 3);
    EXPECT_EQ(unnamed->lastChainLength, 2u);
    EXPECT_EQ(tally->challenges, newest);
}

TEST_F(TlsConnectionReuseTest, ARefusalFailsTheLoadAndClosesItsConnection) {
    auto trusting = std::make_shared<Tally>();
    auto refusing = std::make_shared<Tally>();
    EXPECT_EQ(load("trusting", true, trusting)->connection(), "1");

    auto refused = load("refusing", false, refusing);
    ASSERT_TRUE(refused->error());
    EXPECT_EQ(refused->error()->code(), platform::kUrlErrorServerCertificateUntrusted);
    EXPECT_EQ(refused->connection(), "");
    EXPECT_EQ(refusing->challenges, 1);
    EXPECT_EQ(refusing->lastChainLength, 2u) << "the chain the connection kept";

    // The connection another judgement accepted is gone: the next load makes a new one and
    // judges its handshake.
    EXPECT_EQ(load("trusting", true, trusting)->connection(), "2");
    EXPECT_EQ(trusting->challenges, 2);
}

TEST_F(TlsConnectionReuseTest, AResumedSessionIsJudgedOnTheChainItKept) {
    auto trusting = std::make_shared<Tally>();
    EXPECT_EQ(load("trusting", true, trusting, "/close")->connection(), "1");

    auto resumed = load("trusting", true, trusting);
    ASSERT_FALSE(resumed->error());
    EXPECT_EQ(resumed->connection(), "2");
    EXPECT_TRUE(resumed->sessionReused());
    EXPECT_EQ(trusting->challenges, 2);
    EXPECT_EQ(trusting->lastChainLength, 2u);

    auto refusing = std::make_shared<Tally>();
    auto refused = load("refusing", false, refusing, "/close");
    ASSERT_TRUE(refused->error());
    EXPECT_EQ(refused->error()->code(), platform::kUrlErrorServerCertificateUntrusted);
    EXPECT_EQ(refusing->challenges, 1);

    // A session resumed for a load whose judgement refuses it gets no further.
    auto again = load("refusing", false, refusing);
    ASSERT_TRUE(again->error());
    EXPECT_EQ(again->error()->code(), platform::kUrlErrorServerCertificateUntrusted);
    EXPECT_EQ(refusing->challenges, 2);
    EXPECT_FALSE(load("trusting", true, trusting)->error());
}

}  // namespace
