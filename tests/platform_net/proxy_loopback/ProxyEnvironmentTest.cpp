// Loads and the proxy the environment names. The network thread reads the environment when it
// starts, so this suite runs in a process of its own and sets it before the first load.
#include <gtest/gtest.h>

#include <cstdlib>
#include <future>
#include <string>

#include "platform/net/UrlConnection.h"
#include "tests/support/PeerProcess.h"

namespace {

using platform::UrlConnection;
using platform::UrlRequest;

// The body of a load, or its error's description.
class Collector : public platform::UrlConnectionDelegate {
  public:
    void didReceiveData(UrlConnection&, std::span<const std::uint8_t> bytes) override {
        body.insert(body.end(), bytes.begin(), bytes.end());
    }
    void didFinishLoading(UrlConnection&) override { ended.set_value(platform::toString(body)); }
    void didFailWithError(UrlConnection&, const platform::Error& error) override {
        ended.set_value("failed: " + error.localizedDescription());
    }

    platform::Bytes body;
    std::promise<std::string> ended;
};

// The path the server saw in the request line: absolute when the load came through it as a
// proxy.
std::string pathSeen(const std::string& url) {
    auto collector = std::make_shared<Collector>();
    auto ended = collector->ended.get_future();
    auto connection = UrlConnection::create(UrlRequest(*platform::Url::parse(url)), collector);
    connection->start();
    if (ended.wait_for(std::chrono::seconds(20)) != std::future_status::ready) {
        return "no end";
    }
    // {"method": ..., "path": "<path>", ...} (no quote or escape within the paths here)
    const std::string body = ended.get();
    const std::string key = "\"path\": \"";
    const auto at = body.find(key);
    if (at == std::string::npos) {
        return body;
    }
    const auto start = at + key.size();
    return body.substr(start, body.find('"', start) - start);
}

TEST(ProxyEnvironment, LoadsGoThroughTheNamedProxyButForTheHostsLeftOut) {
    // The peer answers a proxy's requests as its own, so it stands in for the proxy. The host
    // behind it is a loopback address where nothing listens: a load that went there directly
    // fails, and none leaves the machine even then.
    auto peer = testing_support::PeerProcess::python("http_peer.py");
    const std::string proxy = "http://127.0.0.1:" + std::to_string(peer.port());
    setenv("http_proxy", proxy.c_str(), 1);
    setenv("HTTPS_PROXY", "http://127.0.0.1:1", 1);  // only https loads would use it
    setenv("no_proxy", "localhost", 1);

    EXPECT_EQ(pathSeen("http://127.0.0.2:9/echo?a=1"), "http://127.0.0.2:9/echo?a=1");
    EXPECT_EQ(pathSeen(proxy + "/echo"), proxy + "/echo");
    EXPECT_EQ(pathSeen("http://localhost:" + std::to_string(peer.port()) + "/echo"), "/echo");
}

}  // namespace
