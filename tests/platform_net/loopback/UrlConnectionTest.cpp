// The platform's URL loading against a real HTTP/1.1 server on loopback.
#include <gtest/gtest.h>
#include <pthread.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <latch>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/MainLoop.h"
#include "platform/net/CookieJar.h"
#include "platform/net/NetworkThread.h"
#include "platform/net/Stream.h"
#include "platform/net/UrlConnection.h"
#include "tests/support/LoopbackPeers.h"
#include "tests/support/PeerProcess.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestCertificates.h"

namespace {

using platform::Bytes;
using platform::Error;
using platform::UrlConnection;
using platform::UrlRequest;

constexpr double kWait = 20;

std::string threadName() {
    char name[32] = {};
    pthread_getname_np(pthread_self(), name, sizeof name);
    return name;
}

Bytes pattern(std::size_t n) {
    return testing_support::peerPattern(n, 256);
}

// Writes down every delegate call, in order, and on which thread it came.
class Recorder : public platform::UrlConnectionDelegate {
  public:
    std::function<void(UrlConnection&, const platform::AuthenticationChallenge&)> onChallenge;
    std::function<std::optional<UrlRequest>(const UrlRequest&,
                                            const std::shared_ptr<const platform::UrlResponse>&)>
        onRedirect;
    std::function<void(UrlConnection&)> onData;

    void willSendRequestForAuthenticationChallenge(
        UrlConnection& c, const platform::AuthenticationChallenge& challenge) override {
        note("challenge " + challenge.protectionSpace().authenticationMethod() + " " +
             std::to_string(challenge.previousFailureCount()));
        if (onChallenge) {
            onChallenge(c, challenge);
        } else {
            UrlConnectionDelegate::willSendRequestForAuthenticationChallenge(c, challenge);
        }
    }
    std::optional<UrlRequest> willSendRequest(
        UrlConnection&, const UrlRequest& request,
        const std::shared_ptr<const platform::UrlResponse>& redirect) override {
        note("redirect " + request.httpMethod() + " " + request.url().rawPath());
        return onRedirect ? onRedirect(request, redirect) : request;
    }
    void didSendBodyData(UrlConnection&, std::int64_t written, std::int64_t total,
                         std::int64_t expected) override {
        std::lock_guard lock(mutex_);
        sent.push_back({written, total, expected});
        checkThread();
    }
    void didReceiveResponse(UrlConnection&,
                            const std::shared_ptr<const platform::UrlResponse>& r) override {
        {
            std::lock_guard lock(mutex_);
            response = std::dynamic_pointer_cast<const platform::HttpUrlResponse>(r);
        }
        note("response");
    }
    void didReceiveData(UrlConnection& c, std::span<const std::uint8_t> bytes) override {
        {
            std::lock_guard lock(mutex_);
            data.insert(data.end(), bytes.begin(), bytes.end());
            if (events.empty() || events.back() != "data") {
                events.push_back("data");
            }
            checkThread();
            changed_.notify_all();
        }
        if (onData) {
            onData(c);
        }
    }
    std::optional<platform::CachedUrlResponse> willCacheResponse(
        UrlConnection&, const platform::CachedUrlResponse& proposed) override {
        note("cache");
        return proposed;
    }
    bool respondsToWillCacheResponse() const override { return true; }
    void didFinishLoading(UrlConnection&) override { end("finish"); }
    void didFailWithError(UrlConnection&, const Error& e) override {
        {
            std::lock_guard lock(mutex_);
            error = e;
        }
        end("fail");
    }

    bool waitForEnd(double seconds = kWait) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, std::chrono::duration<double>(seconds),
                                 [&] { return ended_; });
    }
    bool waitForData(double seconds = kWait) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, std::chrono::duration<double>(seconds),
                                 [&] { return !data.empty(); });
    }
    std::vector<std::string> eventList() {
        std::lock_guard lock(mutex_);
        return events;
    }

    struct Sent {
        std::int64_t written, total, expected;
    };
    std::vector<Sent> sent;
    std::shared_ptr<const platform::HttpUrlResponse> response;
    Bytes data;
    std::optional<Error> error;
    std::vector<std::string> wrongThread;

  private:
    void note(std::string event) {
        std::lock_guard lock(mutex_);
        events.push_back(std::move(event));
        checkThread();
    }
    void end(std::string event) {
        std::lock_guard lock(mutex_);
        events.push_back(std::move(event));
        checkThread();
        ended_ = true;
        changed_.notify_all();
    }
    void checkThread() {
        if (!platform::NetworkThread::shared().isCurrent() || threadName() != "RAZududeNetwork") {
            wrongThread.push_back(events.empty() ? "?" : events.back());
        }
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::string> events;
    bool ended_ = false;
};

class UrlConnectionTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { peer_.start(); }
    static void TearDownTestSuite() { peer_.stop(); }

    static UrlRequest request(const std::string& path, double timeout = 30) {
        return UrlRequest(*platform::Url::parse(peer_->baseUrl() + path),
                          platform::UrlRequestCachePolicy::kUseProtocolCachePolicy, timeout);
    }

    // Loads the request to its end and hands back the recorder.
    static std::shared_ptr<Recorder> load(const UrlRequest& r,
                                          std::shared_ptr<Recorder> recorder = nullptr) {
        if (!recorder) {
            recorder = std::make_shared<Recorder>();
        }
        auto connection = UrlConnection::create(r, recorder);
        connection->start();
        EXPECT_TRUE(recorder->waitForEnd()) << r.url().absoluteString();
        EXPECT_TRUE(recorder->wrongThread.empty());
        return recorder;
    }

    static inline testing_support::SuitePeer peer_{"http_peer.py"};
};

// An input stream that fails, or gives fewer or more bytes than asked of it.
class ScriptedStream : public platform::InputStream {
  public:
    ScriptedStream(std::size_t length, bool failAtEnd) : length_(length), fail_(failAtEnd) {}
    void open() override { status_ = platform::StreamStatus::kOpen; }
    void close() override { status_ = platform::StreamStatus::kClosed; }
    platform::StreamStatus streamStatus() const override { return status_; }
    std::optional<Error> streamError() const override { return error_; }
    long read(std::uint8_t* buffer, std::size_t maxLength) override {
        if (given_ == length_) {
            if (fail_) {
                error_ = Error("TestStreamDomain", 7);
                status_ = platform::StreamStatus::kError;
                return -1;
            }
            status_ = platform::StreamStatus::kAtEnd;
            return 0;
        }
        const std::size_t n = std::min(maxLength, length_ - given_);
        std::fill(buffer, buffer + n, 'q');
        given_ += n;
        return static_cast<long>(n);
    }
    bool hasBytesAvailable() const override { return status_ == platform::StreamStatus::kOpen; }

  private:
    std::size_t length_;
    bool fail_;
    std::size_t given_ = 0;
    platform::StreamStatus status_ = platform::StreamStatus::kNotOpen;
    std::optional<Error> error_;
};

TEST_F(UrlConnectionTest, LoadsABodyOnTheNetworkThreadInTheDocumentedOrder) {
    auto r = load(request("/bytes/300000"));
    ASSERT_TRUE(r->response);
    EXPECT_EQ(r->response->statusCode(), 200);
    EXPECT_EQ(r->response->mimeType(), "application/octet-stream");
    EXPECT_EQ(r->response->expectedContentLength(), 300000);
    EXPECT_EQ(r->data, pattern(300000));
    EXPECT_EQ(r->eventList(), (std::vector<std::string>{"response", "data", "cache", "finish"}));

    auto chunked = load(request("/chunked/50000"));
    EXPECT_EQ(chunked->response->expectedContentLength(), -1);
    EXPECT_EQ(chunked->data, pattern(50000));

    // Larger bodies are not kept for a cache that would not take them.
    auto large = load(request("/bytes/2000000"));
    EXPECT_EQ(large->data.size(), 2000000u);
    EXPECT_EQ(large->eventList(), (std::vector<std::string>{"response", "data", "finish"}));
}

// A connection kept after its end holds nothing of its load: the response is the
// delegate's alone once the load has let it go.
TEST_F(UrlConnectionTest, AnEndedConnectionLetsItsResponseGo) {
    auto recorder = std::make_shared<Recorder>();
    auto connection = UrlConnection::create(request("/redirect/1"), recorder);
    connection->start();
    ASSERT_TRUE(recorder->waitForEnd());
    ASSERT_TRUE(recorder->response);
    EXPECT_TRUE(platform::MainLoop::main().runUntil(
        [&] { return recorder->response.use_count() == 1; }, kWait))
        << recorder->response.use_count() << " holders of the response";
}

TEST_F(UrlConnectionTest, SendsTheMethodHeadersInOrderAndTheBody) {
    UrlRequest r = request("/echo?x=1");
    r.setHttpMethod("PUT");
    r.setValue("one", "X-First");
    r.setValue("two", "X-Second");
    r.setValue("text/plain", "Content-Type");
    r.setHttpBody(platform::toBytes("hello body"));
    auto rec = load(r);
    const std::string echo = platform::toString(rec->data);
    EXPECT_NE(echo.find("\"method\": \"PUT\""), std::string::npos) << echo;
    EXPECT_NE(echo.find("\"path\": \"/echo?x=1\""), std::string::npos);
    EXPECT_LT(echo.find("X-First"), echo.find("X-Second"));
    EXPECT_NE(echo.find("aGVsbG8gYm9keQ=="), std::string::npos);  // "hello body"
    EXPECT_EQ(echo.find("Expect"), std::string::npos);

    // A GET names no Accept of its own: it still accepts anything, and asks for no 100 Continue.
    const std::string get = platform::toString(load(request("/echo"))->data);
    EXPECT_NE(get.find("[\"Accept\", \"*/*\"]"), std::string::npos) << get;
    EXPECT_EQ(get.find("Expect"), std::string::npos) << get;

    // A compressed body reaches the delegate decoded.
    UrlRequest compressed = request("/gzip?body=squeezed%20text");
    compressed.setValue("gzip", "Accept-Encoding");
    EXPECT_EQ(platform::toString(load(compressed)->data), "squeezed text");

    UrlRequest head = request("/bytes/10");
    head.setHttpMethod("HEAD");
    auto h = load(head);
    EXPECT_EQ(h->response->statusCode(), 200);
    EXPECT_TRUE(h->data.empty());
}

TEST_F(UrlConnectionTest, StreamsABodyWithItsLengthAndReportsProgress) {
    testing_support::TempDir dir;
    const auto path = dir.path() / "body";
    const Bytes body = pattern(3 << 20);
    {
        auto out = platform::OutputStream::toFile(path, false);
        out->open();
        ASSERT_EQ(out->write(body.data(), body.size()), static_cast<long>(body.size()));
        out->close();
    }
    UrlRequest r = request("/upload");
    r.setHttpMethod("POST");
    r.setHttpBodyStream(platform::InputStream::withFile(path));
    r.setValue(std::to_string(body.size()), "Content-Length");
    auto rec = load(r);
    const std::string reply = platform::toString(rec->data);
    EXPECT_NE(reply.find("\"length\": 3145728"), std::string::npos) << reply;
    EXPECT_NE(
        reply.find(testing_support::runPython(
                       "import hashlib;print(hashlib.sha256(bytes(range(256))*12288).hexdigest())")
                       .substr(0, 64)),
        std::string::npos);
    ASSERT_FALSE(rec->sent.empty());
    std::int64_t total = 0;
    for (const auto& s : rec->sent) {
        total += s.written;
        EXPECT_EQ(s.total, total);
        EXPECT_EQ(s.expected, static_cast<std::int64_t>(body.size()));
    }
    EXPECT_EQ(total, static_cast<std::int64_t>(body.size()));

    // Without a length the body goes out in chunks.
    UrlRequest chunked = request("/upload");
    chunked.setHttpMethod("POST");
    chunked.setHttpBodyStream(platform::InputStream::withData(pattern(70000)));
    EXPECT_NE(platform::toString(load(chunked)->data).find("\"length\": 70000"), std::string::npos);
}

TEST_F(UrlConnectionTest, ABodyThatFailsOrBreaksItsLengthFailsTheLoad) {
    UrlRequest failing = request("/upload");
    failing.setHttpMethod("POST");
    failing.setHttpBodyStream(std::make_shared<ScriptedStream>(5000, true));
    failing.setValue("10000", "Content-Length");
    auto f = load(failing);
    ASSERT_TRUE(f->error);
    EXPECT_EQ(f->error->domain(), "TestStreamDomain");
    EXPECT_EQ(f->error->code(), 7);

    UrlRequest shortBody = request("/upload");
    shortBody.setHttpMethod("POST");
    shortBody.setHttpBodyStream(std::make_shared<ScriptedStream>(5000, false));
    shortBody.setValue("10000", "Content-Length");
    auto s = load(shortBody);
    ASSERT_TRUE(s->error);
    EXPECT_NE(s->error->localizedDescription().find("5000 of the 10000"), std::string::npos);

    UrlRequest longBody = request("/upload");
    longBody.setHttpMethod("POST");
    longBody.setHttpBodyStream(std::make_shared<ScriptedStream>(20000, false));
    longBody.setValue("10000", "Content-Length");
    auto l = load(longBody);
    ASSERT_TRUE(l->error);
    EXPECT_NE(l->error->localizedDescription().find("longer"), std::string::npos);

    UrlRequest injected = request("/echo");
    injected.setValue("a\r\nX-Evil: 1", "X-Note");
    auto i = load(injected);
    ASSERT_TRUE(i->error);
    EXPECT_TRUE(i->eventList() == std::vector<std::string>{"fail"});
}

TEST_F(UrlConnectionTest, OffersEachRedirectAndFollowsOnlyWhatTheDelegateReturns) {
    auto r = load(request("/redirect/3?to=/echo"));
    EXPECT_EQ(r->eventList(), (std::vector<std::string>{
                                  "redirect GET /redirect/2", "redirect GET /redirect/1",
                                  "redirect GET /echo", "response", "data", "cache", "finish"}));
    EXPECT_EQ(r->response->url().rawPath(), "/echo");

    // The connection keeps the request it was given; only its current one follows the hops.
    auto hops = std::make_shared<Recorder>();
    auto connection = UrlConnection::create(request("/redirect/2?to=/echo"), hops);
    connection->start();
    ASSERT_TRUE(hops->waitForEnd());
    EXPECT_EQ(connection->originalRequest().url().rawPath(), "/redirect/2");
    EXPECT_EQ(connection->currentRequest().url().rawPath(), "/echo");

    auto stop = std::make_shared<Recorder>();
    stop->onRedirect = [](const UrlRequest&, const auto&) { return std::nullopt; };
    load(request("/redirect/1?to=/echo"), stop);
    EXPECT_EQ(stop->response->statusCode(), 302);
    EXPECT_EQ(platform::toString(stop->data), "moved");

    UrlRequest post = request("/redirect/1?to=/echo");
    post.setHttpMethod("POST");
    post.setHttpBody(platform::toBytes("a=1"));
    auto p = load(post);
    EXPECT_EQ(p->eventList().front(), "redirect GET /echo");
    UrlRequest kept = request("/redirect/1?status=307&to=/echo");
    kept.setHttpMethod("POST");
    kept.setHttpBody(platform::toBytes("a=1"));
    auto k = load(kept);
    EXPECT_EQ(k->eventList().front(), "redirect POST /echo");
    EXPECT_NE(platform::toString(k->data).find("YT0x"), std::string::npos);  // "a=1"

    // 303 turns a POST into a GET; 308 keeps it, body and all.
    for (const auto& [status, method] :
         std::vector<std::pair<int, std::string>>{{303, "GET"}, {308, "POST"}}) {
        UrlRequest posted = request("/redirect/1?status=" + std::to_string(status) + "&to=/echo");
        posted.setHttpMethod("POST");
        posted.setHttpBody(platform::toBytes("a=1"));
        auto hop = load(posted);
        EXPECT_EQ(hop->eventList().front(), "redirect " + method + " /echo") << status;
        EXPECT_EQ(platform::toString(hop->data).find("YT0x") != std::string::npos, method == "POST")
            << status;
    }

    // Sixteen hops are followed; the seventeenth is one too many.
    auto sixteen = load(request("/redirect/16?to=/echo"));
    EXPECT_FALSE(sixteen->error);
    EXPECT_EQ(sixteen->response->url().rawPath(), "/echo");
    auto loop = load(request("/redirect/17?to=/echo"));
    ASSERT_TRUE(loop->error);
    EXPECT_EQ(loop->error->code(), platform::kUrlErrorHttpTooManyRedirects);
}

TEST_F(UrlConnectionTest, AsksForBasicCredentialsAndCountsRefusals) {
    auto good = std::make_shared<Recorder>();
    good->onChallenge = [](UrlConnection&, const platform::AuthenticationChallenge& c) {
        EXPECT_EQ(c.protectionSpace().realm(), "vault");
        EXPECT_EQ(c.failureResponse() ? 401 : 0,
                  std::dynamic_pointer_cast<const platform::HttpUrlResponse>(c.failureResponse())
                      ->statusCode());
        const bool first = c.previousFailureCount() == 0;
        c.sender().useCredential(platform::Credential("ann", first ? "wrong" : "secret",
                                                      platform::CredentialPersistence::kNone),
                                 c);
    };
    load(request("/basic?user=ann&pw=secret&realm=vault"), good);
    EXPECT_EQ(platform::toString(good->data), "welcome");
    EXPECT_EQ(good->eventList().front(), "challenge NSURLAuthenticationMethodHTTPBasic 0");
    EXPECT_EQ(good->eventList()[1], "challenge NSURLAuthenticationMethodHTTPBasic 1");

    auto none = load(request("/basic"));
    EXPECT_EQ(none->response->statusCode(), 401);
    EXPECT_EQ(platform::toString(none->data), "who are you");

    auto cancel = std::make_shared<Recorder>();
    cancel->onChallenge = [](UrlConnection&, const platform::AuthenticationChallenge& c) {
        c.sender().cancelAuthenticationChallenge(c);
    };
    load(request("/basic"), cancel);
    ASSERT_TRUE(cancel->error);
    EXPECT_EQ(cancel->error->code(), platform::kUrlErrorUserCancelledAuthentication);
}

TEST_F(UrlConnectionTest, CredentialsAndCookiesStayWithTheirOrigin) {
    // A second server on another port: another origin, though the same host.
    testing_support::PeerProcess other = testing_support::PeerProcess::python("http_peer.py");
    const std::string elsewhere = other.baseUrl() + "/echo";
    auto carries = [](const Recorder& r, const std::string& header) {
        return platform::toString(r.data).find("\"" + header + "\"") != std::string::npos;
    };
    std::vector<std::string> users;
    auto answering = [&] {
        auto rec = std::make_shared<Recorder>();
        rec->onChallenge = [&users](UrlConnection&, const platform::AuthenticationChallenge& c) {
            const std::string user = c.protectionSpace().port() == peer_->port() ? "ann" : "bob";
            users.push_back(user + " " + std::to_string(c.previousFailureCount()));
            c.sender().useCredential(
                platform::Credential(user, "pw", platform::CredentialPersistence::kNone), c);
        };
        return rec;
    };

    // An answered challenge is not carried to the next origin...
    auto away = load(request("/basic?user=ann&pw=pw&to=" + elsewhere), answering());
    ASSERT_TRUE(away->response);
    EXPECT_EQ(away->response->url().port(), other.port());
    EXPECT_FALSE(carries(*away, "Authorization")) << platform::toString(away->data);
    // ...where a challenge of its own is answered afresh.
    users.clear();
    auto afresh =
        load(request("/basic?user=ann&pw=pw&to=" + other.baseUrl() + "/basic?user=bob%26pw=pw"),
             answering());
    EXPECT_EQ(platform::toString(afresh->data), "welcome");
    EXPECT_EQ(users, (std::vector<std::string>{"ann 0", "bob 0"}));

    // Nor do credentials and cookies that the request itself carries, while a redirect on the
    // same origin keeps them.
    for (const bool sameOrigin : {false, true}) {
        UrlRequest r = request("/redirect/1?to=" + (sameOrigin ? "/echo" : elsewhere));
        r.setValue("Basic YW5uOnB3", "Authorization");
        r.setValue("Basic cHJveHk6cHc=", "Proxy-Authorization");
        r.setValue("session=secret", "Cookie");
        r.setValue("kept", "X-Other");
        r.setHttpShouldHandleCookies(false);
        auto rec = load(r);
        EXPECT_TRUE(carries(*rec, "X-Other"));
        for (const char* name : {"Authorization", "Proxy-Authorization", "Cookie"}) {
            EXPECT_EQ(carries(*rec, name), sameOrigin)
                << name << " " << platform::toString(rec->data);
        }
    }
}

TEST_F(UrlConnectionTest, OnlyABasicSchemeGetsBasicCredentials) {
    // Answers 401 with the WWW-Authenticate header its path spells, percent-encoded.
    testing_support::PeerProcess challenger({"python3", "-c", R"(
import http.server, urllib.parse
class H(http.server.BaseHTTPRequestHandler):
    def do_GET(self):
        self.send_response(401)
        self.send_header("WWW-Authenticate", urllib.parse.unquote(self.path[1:]))
        self.send_header("Content-Length", "0")
        self.end_headers()
    def log_message(self, *a):
        pass
s = http.server.HTTPServer(("127.0.0.1", 0), H)
print("PORT %d" % s.server_address[1], flush=True)
s.serve_forever()
)"});
    auto challenged = [&](const std::string& header) {
        auto rec = std::make_shared<Recorder>();
        std::vector<std::string> realms;
        rec->onChallenge = [&](UrlConnection&, const platform::AuthenticationChallenge& c) {
            realms.push_back(c.protectionSpace().realm().value_or("-"));
            c.sender().cancelAuthenticationChallenge(c);
        };
        std::string path;
        for (unsigned char ch : header) {
            static const char* hex = "0123456789ABCDEF";
            path += {'%', hex[ch >> 4], hex[ch & 15]};
        }
        load(UrlRequest(*platform::Url::parse(challenger.baseUrl() + "/" + path)), rec);
        return realms;
    };
    EXPECT_EQ(challenged(R"(Digest realm="basic", nonce="n")"), std::vector<std::string>{});
    EXPECT_EQ(challenged(R"(Digest realm="a, Basic b", nonce="n")"), std::vector<std::string>{});
    EXPECT_EQ(challenged("Basically realm=x"), std::vector<std::string>{});
    EXPECT_EQ(challenged(R"(Digest realm="d", nonce="n", Basic realm="vault")"),
              std::vector<std::string>{"vault"});
    EXPECT_EQ(challenged(R"(basic realm="vault")"), std::vector<std::string>{"vault"});
}

TEST_F(UrlConnectionTest, NothingFollowsACancel) {
    auto rec = std::make_shared<Recorder>();
    rec->onData = [](UrlConnection& c) { c.cancel(); };
    auto connection = UrlConnection::create(request("/slow/50?delay=0.01"), rec);
    connection->start();
    EXPECT_FALSE(rec->waitForEnd(1.5));
    EXPECT_EQ(rec->eventList(), (std::vector<std::string>{"response", "data"}));
    EXPECT_LT(rec->data.size(), 50u);

    auto other = std::make_shared<Recorder>();
    auto stalled = UrlConnection::create(request("/stall"), other);
    stalled->start();
    ASSERT_TRUE(other->waitForData());
    stalled->cancel();
    stalled->cancel();
    EXPECT_FALSE(other->waitForEnd(0.5));

    // A connection cancelled before it starts never says anything.
    auto quiet = std::make_shared<Recorder>();
    auto never = UrlConnection::create(request("/echo"), quiet);
    never->cancel();
    never->start();
    EXPECT_FALSE(quiet->waitForEnd(0.5));
    EXPECT_TRUE(quiet->eventList().empty());
}

// Each load watches its time-out while it runs; ended or cancelled, it leaves nothing queued
// on the network thread, however many loads went before.
TEST_F(UrlConnectionTest, EndedAndCancelledLoadsLeaveNoTimerBehind) {
    auto& thread = platform::NetworkThread::shared();
    const auto settled = [&](std::size_t count) {
        return platform::MainLoop::main().runUntil([&] { return thread.pendingTimers() <= count; },
                                                   kWait);
    };
    load(request("/echo"));
    ASSERT_TRUE(settled(0)) << thread.pendingTimers() << " timers left by one load";
    for (int i = 0; i < 20; ++i) {
        EXPECT_EQ(load(request("/bytes/100", 60))->data.size(), 100u);
        auto stalled = std::make_shared<Recorder>();
        auto connection = UrlConnection::create(request("/stall", 60), stalled);
        connection->start();
        ASSERT_TRUE(stalled->waitForData());
        connection->cancel();
    }
    EXPECT_TRUE(settled(0)) << thread.pendingTimers() << " timers left by 40 loads";

    // Loads leave the watch in another order than they came: the first is cancelled, the
    // last times out, and the one between still times out after them.
    std::vector<std::shared_ptr<Recorder>> recorders;
    std::vector<std::shared_ptr<UrlConnection>> connections;
    for (const double timeout : {60.0, 1.0, 0.3}) {
        recorders.push_back(std::make_shared<Recorder>());
        connections.push_back(UrlConnection::create(request("/stall", timeout), recorders.back()));
        connections.back()->start();
        ASSERT_TRUE(recorders.back()->waitForData());
    }
    connections[0]->cancel();
    for (const std::size_t i : {2u, 1u}) {
        ASSERT_TRUE(recorders[i]->waitForEnd()) << "load " << i;
        ASSERT_TRUE(recorders[i]->error);
        EXPECT_EQ(recorders[i]->error->code(), platform::kUrlErrorTimedOut);
    }
    EXPECT_TRUE(settled(0)) << thread.pendingTimers() << " timers left by loads ended out of order";
}

// A suspended connection holds its first hop back and its time-out still, however long the
// suspension lasts; the same holds between two pieces of a body.
TEST_F(UrlConnectionTest, ACancelRacingTheStartLetsTheConnectionGo) {
    // Started on one thread and cancelled on another, before, while or after the start: each
    // connection ends and goes, none is kept alive by its own load.
    std::vector<std::weak_ptr<UrlConnection>> made;
    for (int round = 0; round < 200; ++round) {
        auto connection = UrlConnection::create(request("/stall"), std::make_shared<Recorder>());
        made.push_back(connection);
        std::thread canceller([connection, round] {
            if (round % 3 == 0) {
                connection->cancel();
            }
            connection->start();
        });
        if (round % 3 != 0) {
            connection->cancel();
        }
        canceller.join();
    }
    EXPECT_TRUE(platform::MainLoop::main().runUntil(
        [&] {
            return std::all_of(made.begin(), made.end(),
                               [](const auto& weak) { return weak.expired(); });
        },
        kWait));
}

TEST_F(UrlConnectionTest, SuspendedLoadsWaitWithoutTimingOut) {
    auto rec = std::make_shared<Recorder>();
    // The time-out is shorter than the suspension, and long enough that a busy machine's gaps
    // between bytes do not reach it.
    auto connection = UrlConnection::create(request("/slow/40?delay=0.01", 1), rec);
    connection->suspend();
    connection->start();
    EXPECT_FALSE(rec->waitForEnd(1.5));  // a bounded look for what must not come
    EXPECT_TRUE(rec->eventList().empty());
    connection->resume();
    ASSERT_TRUE(rec->waitForEnd());
    EXPECT_EQ(rec->eventList(), (std::vector<std::string>{"response", "data", "cache", "finish"}));
    EXPECT_EQ(rec->data, pattern(40));

    auto paused = std::make_shared<Recorder>();
    std::atomic<bool> once{false};
    paused->onData = [&](UrlConnection& c) {
        if (!once.exchange(true)) {
            c.suspend();
        }
    };
    auto slow = UrlConnection::create(request("/slow/40?delay=0.01", 1), paused);
    slow->start();
    EXPECT_FALSE(paused->waitForEnd(1.5));
    slow->resume();
    ASSERT_TRUE(paused->waitForEnd());
    EXPECT_FALSE(paused->error);
    EXPECT_EQ(paused->data, pattern(40));
}

TEST_F(UrlConnectionTest, BrokenServersFailWithTheirOwnCodes) {
    auto stalled = load(request("/stall", 0.5));
    ASSERT_TRUE(stalled->error);
    EXPECT_EQ(stalled->error->code(), platform::kUrlErrorTimedOut);
    EXPECT_EQ(stalled->error->userInfo()[platform::kUrlErrorFailingUrlErrorKey].stringValue(),
              peer_->baseUrl() + "/stall");

    auto shortBody = load(request("/short"));
    ASSERT_TRUE(shortBody->error);
    EXPECT_EQ(shortBody->error->code(), platform::kUrlErrorNetworkConnectionLost);

    auto reset = load(request("/reset"));
    ASSERT_TRUE(reset->error);
    EXPECT_EQ(reset->error->code(), platform::kUrlErrorNetworkConnectionLost);

    auto garbage = load(request("/garbage"));
    ASSERT_TRUE(garbage->error);
    EXPECT_EQ(garbage->error->code(), platform::kUrlErrorBadServerResponse);

    auto huge = load(request("/hugeheaders"));
    ASSERT_TRUE(huge->error);
    EXPECT_EQ(huge->error->code(), platform::kUrlErrorBadServerResponse);

    // A longer body than announced is cut at the announced length.
    auto longBody = load(request("/long"));
    EXPECT_EQ(longBody->data.size(), 10u);
    // The bytes beyond it must not poison the next request that takes the same connection.
    for (int i = 0; i < 4; ++i) {
        auto next = load(request("/status/200"));
        EXPECT_FALSE(next->error) << next->error->localizedDescription();
        EXPECT_EQ(platform::toString(next->data), "status 200");
    }

    // A port nobody listens on.
    int closedPort;
    {
        testing_support::PeerProcess gone = testing_support::PeerProcess::python("http_peer.py");
        closedPort = gone.port();
    }
    auto refused = load(
        UrlRequest(*platform::Url::parse("http://127.0.0.1:" + std::to_string(closedPort) + "/")));
    ASSERT_TRUE(refused->error);
    EXPECT_EQ(refused->error->code(), platform::kUrlErrorCannotConnectToHost);

    auto unsupported = load(UrlRequest(*platform::Url::parse("ftp://127.0.0.1/x")));
    ASSERT_TRUE(unsupported->error);
    EXPECT_EQ(unsupported->error->code(), platform::kUrlErrorUnsupportedUrl);

    // A host libcurl cannot read, on the handle a plain GET before it kept with its URL: the
    // load fails as a bad URL, and the handles stay fit for the next.
    load(request("/status/200"));
    auto unreadable = load(UrlRequest(*platform::Url::parse("http://h%20x/status/200")));
    ASSERT_TRUE(unreadable->error);
    EXPECT_EQ(unreadable->error->code(), platform::kUrlErrorBadUrl);
    for (const char* path : {"/status/200", "/status/201"}) {
        auto next = load(request(path));
        EXPECT_FALSE(next->error) << next->error->localizedDescription();
        EXPECT_EQ(platform::toString(next->data), std::string("status ") + (path + 8));
    }
}

TEST_F(UrlConnectionTest, ResponsesFramedTwoWaysAreRefusedAndTheirConnectionsDropped) {
    auto port = [] { return platform::toString(load(request("/port"))->data); };
    const std::string kept = port();
    ASSERT_EQ(port(), kept) << "connections are kept alive, or nothing below proves anything";

    for (const char* framing : {"twolengths", "listedlengths", "badlength", "bareCR"}) {
        const std::string before = port();
        auto r = load(request(std::string("/framing/") + framing));
        ASSERT_TRUE(r->error) << framing;
        EXPECT_EQ(r->error->code(), platform::kUrlErrorBadServerResponse) << framing;
        EXPECT_NE(r->error->localizedDescription().find("header"), std::string::npos);
        EXPECT_NE(r->error->userInfo().find(platform::kUrlErrorFailingUrlErrorKey), nullptr);
        EXPECT_EQ(r->eventList(), std::vector<std::string>{"fail"}) << framing;
        EXPECT_NE(port(), before) << framing << ": its connection was used again";
    }

    // An interim response is no final one.
    auto interim = load(request("/interim"));
    EXPECT_EQ(interim->response->statusCode(), 200);
    EXPECT_EQ(platform::toString(interim->data), "ok");
    EXPECT_EQ(interim->eventList(),
              (std::vector<std::string>{"response", "data", "cache", "finish"}));

    // The same length twice is one length.
    auto same = load(request("/framing/samelength"));
    EXPECT_EQ(platform::toString(same->data), "01234");
    EXPECT_EQ(same->response->expectedContentLength(), 5);

    // Chunks and a length: the chunks frame the body, and the connection is not used again.
    auto both = load(request("/framing/chunkedwithlength"));
    EXPECT_EQ(platform::toString(both->data), "hello world");
    EXPECT_NE(port(), both->response->allHeaderFields().value("X-Port"));
}

// A response keeps the server's header lines and reads them into fields when first asked:
// the fields must be those the lines give one by one.
TEST_F(UrlConnectionTest, ResponseFieldsReadLaterAreTheFieldsTheServerSent) {
    const platform::HeaderFields sent{{"Content-Type", "Text/Plain; charset=\"UTF-8\""},
                                      {"X-Repeat", "one,two,three"},
                                      {"Content-Length", "2"},
                                      {"X-Empty", ""},
                                      {"X-Inner", "a  b"}};
    auto r = load(request("/fields"));
    ASSERT_TRUE(r->response);
    EXPECT_EQ(platform::toString(r->data), "ok");
    EXPECT_EQ(r->response->statusCode(), 200);
    EXPECT_EQ(r->response->httpVersion(), "HTTP/1.1");
    // Known before the fields are read.
    EXPECT_EQ(r->response->mimeType(), "text/plain");
    EXPECT_EQ(r->response->textEncodingName(), "UTF-8");
    EXPECT_EQ(r->response->expectedContentLength(), 2);

    const platform::HeaderFields& fields = r->response->allHeaderFields();
    EXPECT_EQ(fields, sent);  // the interim response's Link is not among them
    EXPECT_EQ(fields.value("x-repeat"), "one,two,three");
    EXPECT_EQ(fields.value("CONTENT-LENGTH"), "2");

    // The same response made from the fields themselves.
    const platform::HttpUrlResponse given(r->response->url(), 200, "HTTP/1.1", sent);
    EXPECT_EQ(given.allHeaderFields(), fields);
    EXPECT_EQ(given.mimeType(), r->response->mimeType());
    EXPECT_EQ(given.textEncodingName(), r->response->textEncodingName());
    EXPECT_EQ(given.expectedContentLength(), r->response->expectedContentLength());

    // Blocks no load would hand on are read as a HeaderFields would take them line by line:
    // lengths that disagree are joined and give no length, a line without a colon is no field,
    // and a line needs no line end.
    platform::HeaderBlock block;
    for (const char* line : {"Content-Length: 5\r\n", "no field here\n", "content-type: a/b\r\n",
                             "Content-Length: 7\r\n", "Content-Type: c/d\n", "X-Last:  z"}) {
        block.append(line);
    }
    EXPECT_FALSE(block.contentLengthReadable());
    EXPECT_FALSE(block.hasTransferEncoding());
    const auto odd = platform::HttpUrlResponse::fromHeaderBlock(r->response->url(), 200, "HTTP/1.1",
                                                                std::move(block));
    const platform::HeaderFields oddFields{
        {"Content-Length", "5,7"}, {"content-type", "a/b,c/d"}, {"X-Last", "z"}};
    const platform::HttpUrlResponse oddGiven(r->response->url(), 200, "HTTP/1.1", oddFields);
    EXPECT_EQ(odd->allHeaderFields(), oddFields);
    EXPECT_EQ(odd->expectedContentLength(), -1);
    EXPECT_EQ(odd->mimeType(), oddGiven.mimeType());
    EXPECT_TRUE(platform::HttpUrlResponse::fromHeaderBlock(r->response->url(), 204, "HTTP/1.1",
                                                           platform::HeaderBlock())
                    ->allHeaderFields()
                    .empty());
}

// Responses are shared between threads; any of them may be the first to ask for the fields.
TEST_F(UrlConnectionTest, ManyThreadsMayReadAResponsesFieldsFirstAtOnce) {
    std::vector<std::shared_ptr<const platform::HttpUrlResponse>> responses;
    for (int i = 0; i < 3; ++i) {
        responses.push_back(load(request("/fields"))->response);
        ASSERT_TRUE(responses.back());
    }
    for (int i = 0; i < 200; ++i) {
        platform::HeaderBlock block;
        block.append("X-Repeat: one\r\n");
        block.append("x-repeat: two,three\r\n");
        block.append("Content-Length: 2\r\n");
        responses.push_back(platform::HttpUrlResponse::fromHeaderBlock(
            responses.front()->url(), 200, "HTTP/1.1", std::move(block)));
    }
    // Each thread reads the fields as it finds them, while the others may still be reading
    // them in: a reader let in before the fields are whole sees them short.
    constexpr int kThreads = 4;
    std::latch start(kThreads);
    std::vector<int> wrong(kThreads, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            start.arrive_and_wait();
            for (const auto& response : responses) {
                const platform::HeaderFields& fields = response->allHeaderFields();
                if (fields.value("X-REPEAT") != "one,two,three" ||
                    fields.value("Content-Length") != "2") {
                    ++wrong[t];
                }
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(wrong, std::vector<int>(kThreads, 0));
}

// Handles stay set up from one plain GET to the next, the encodings they ask for among what
// they keep; nothing a load of another kind set may reach a later GET through them.
TEST_F(UrlConnectionTest, AGetCarriesNothingOfTheLoadsBeforeIt) {
    auto echo = [] { return platform::toString(load(request("/echo"))->data); };
    // The server compresses only what was asked for compressed: the body must come decoded.
    auto compressed = [] {
        UrlRequest r = request("/gzip?body=squeezed");
        r.setValue("gzip", "Accept-Encoding");
        auto rec = load(r);
        EXPECT_EQ(rec->response->allHeaderFields().value("Content-Encoding"), "gzip");
        EXPECT_EQ(platform::toString(rec->data), "squeezed");
    };
    for (int round = 0; round < 3; ++round) {
        UrlRequest put = request("/echo");
        put.setHttpMethod("PUT");
        put.setHttpBody(platform::toBytes("a body"));
        load(put);
        compressed();
        compressed();
        const std::string got = echo();
        EXPECT_NE(got.find("\"method\": \"GET\""), std::string::npos) << got;
        EXPECT_EQ(got.find("YSBib2R5"), std::string::npos) << got;  // "a body"
        EXPECT_EQ(got.find("gzip"), std::string::npos) << got;
    }

    // A load whose connection may not be used again closes it; the loads after it keep theirs.
    auto port = [] { return platform::toString(load(request("/port"))->data); };
    for (int round = 0; round < 3; ++round) {
        load(request("/framing/chunkedwithlength"));
        const std::string first = port();
        EXPECT_EQ(port(), first) << "round " << round;
    }
}

TEST_F(UrlConnectionTest, KeepsCookiesUnlessTheRequestSaysNot) {
    platform::CookieJar::shared().deleteAllCookies();  // the jar is the process's
    load(request("/cookie/set?flavour=oat"));
    EXPECT_EQ(platform::toString(load(request("/cookie/show"))->data), "flavour=oat");
    UrlRequest without = request("/cookie/show");
    without.setHttpShouldHandleCookies(false);
    EXPECT_EQ(platform::toString(load(without)->data), "");

    auto& jar = platform::CookieJar::shared();
    const auto kept = jar.cookies();
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_EQ(kept[0].name, "flavour");
    EXPECT_EQ(kept[0].value, "oat");
    EXPECT_EQ(kept[0].domain, "127.0.0.1");
    EXPECT_TRUE(jar.setCookie("127.0.0.1", "topping=seed; Path=/"));
    // "domain=" inside a value is no Domain attribute: the cookie still belongs to the host.
    EXPECT_TRUE(jar.setCookie("127.0.0.1", "note=domain=x; Path=/"));
    // A line break would add a second cookie the caller never set.
    EXPECT_FALSE(jar.setCookie("127.0.0.1", "a=1; Path=/\r\nSet-Cookie: b=2; Path=/"));
    EXPECT_FALSE(jar.setCookie("127.0.0.1\n", "a=1"));
    EXPECT_FALSE(jar.setCookie("", "a=1"));
    // An HttpOnly cookie is the host's like any other; a Domain attribute counts in any case.
    EXPECT_TRUE(jar.setCookie("127.0.0.1", "guarded=1; Path=/; HttpOnly"));
    EXPECT_TRUE(jar.setCookie("127.0.0.1", "shouted=1; Path=/; DOMAIN=localhost"));
    for (const auto& cookie : jar.cookies()) {
        if (cookie.name == "guarded") {
            EXPECT_EQ(cookie.domain, "127.0.0.1");
        }
        if (cookie.name == "shouted") {
            EXPECT_NE(cookie.domain.find("localhost"), std::string::npos) << cookie.domain;
        }
    }
    const std::string both = platform::toString(load(request("/cookie/show"))->data);
    EXPECT_NE(both.find("flavour=oat"), std::string::npos) << both;
    EXPECT_NE(both.find("topping=seed"), std::string::npos) << both;
    EXPECT_NE(both.find("note=domain=x"), std::string::npos) << both;
    EXPECT_EQ(both.find("a=1"), std::string::npos) << both;
    EXPECT_NE(both.find("guarded=1"), std::string::npos) << both;
    EXPECT_EQ(both.find("shouted=1"), std::string::npos) << "it belongs to another host";
    EXPECT_EQ(jar.cookies().size(), 5u);
    jar.deleteAllCookies();
    EXPECT_TRUE(jar.cookies().empty());
    EXPECT_EQ(platform::toString(load(request("/cookie/show"))->data), "");
}

// --- TLS: every handshake is offered to the delegate as a server-trust challenge --------

class TlsServer {
  public:
    explicit TlsServer(const std::string& certificate, const std::string& key)
        : peer_(std::make_unique<testing_support::PeerProcess>(
              testing_support::tlsPeer(certificate, key))) {}
    UrlRequest request(const std::string& host = "127.0.0.1") const {
        return UrlRequest(
            *platform::Url::parse("https://" + host + ":" + std::to_string(peer_->port()) + "/"));
    }

  private:
    std::unique_ptr<testing_support::PeerProcess> peer_;
};

std::shared_ptr<Recorder> loadOver(const UrlRequest& request,
                                   std::shared_ptr<Recorder> recorder = nullptr) {
    if (!recorder) {
        recorder = std::make_shared<Recorder>();
    }
    UrlConnection::create(request, recorder)->start();
    EXPECT_TRUE(recorder->waitForEnd());
    EXPECT_TRUE(recorder->wrongThread.empty());
    return recorder;
}

TEST(UrlConnectionTlsTest, DefaultHandlingTrustsAChainToAnAnchorForItsHost) {
    testing_support::SystemAnchors anchors;
    TlsServer server("chain.pem", "leaf");
    auto seen = std::make_shared<Recorder>();
    std::size_t chainLength = 0;
    std::string host;
    seen->onChallenge = [&](UrlConnection& c, const platform::AuthenticationChallenge& challenge) {
        chainLength = challenge.protectionSpace().serverTrust()->certificateCount();
        host = challenge.protectionSpace().host();
        challenge.sender().performDefaultHandling(challenge);
        (void)c;
    };
    loadOver(server.request(), seen);
    EXPECT_EQ(platform::toString(seen->data), "trusted\n");
    EXPECT_EQ(seen->eventList().front(), "challenge NSURLAuthenticationMethodServerTrust 0");
    EXPECT_EQ(chainLength, 2u);
    EXPECT_EQ(host, "127.0.0.1");

    // No kept-alive connection or TLS session spares the next load its own judgement.
    auto again = loadOver(server.request());
    EXPECT_EQ(again->eventList().front(), "challenge NSURLAuthenticationMethodServerTrust 0");

    // The same chain for a name it does not carry.
    TlsServer wrongHost("wronghost.pem", "wronghost");
    auto wrong = loadOver(wrongHost.request());
    ASSERT_TRUE(wrong->error);
    EXPECT_EQ(wrong->error->code(), platform::kUrlErrorServerCertificateUntrusted);
}

TEST(UrlConnectionTlsTest, UntrustedServersFailUnlessTheDelegateVouchesForThem) {
    TlsServer selfSigned("selfsigned.pem", "selfsigned");
    auto refused = loadOver(selfSigned.request());
    ASSERT_TRUE(refused->error);
    EXPECT_EQ(refused->error->code(), platform::kUrlErrorServerCertificateUntrusted);
    EXPECT_TRUE(refused->data.empty());

    auto vouched = std::make_shared<Recorder>();
    vouched->onChallenge = [](UrlConnection&, const platform::AuthenticationChallenge& c) {
        c.sender().useCredential(platform::Credential(c.protectionSpace().serverTrust()), c);
    };
    loadOver(selfSigned.request(), vouched);
    EXPECT_EQ(platform::toString(vouched->data), "trusted\n");

    testing_support::SystemAnchors anchors;
    TlsServer good("chain.pem", "leaf");
    auto cancelled = std::make_shared<Recorder>();
    cancelled->onChallenge = [](UrlConnection&, const platform::AuthenticationChallenge& c) {
        c.sender().cancelAuthenticationChallenge(c);
    };
    loadOver(good.request(), cancelled);
    ASSERT_TRUE(cancelled->error);
    EXPECT_EQ(cancelled->error->code(), platform::kUrlErrorServerCertificateUntrusted);

    TlsServer expired("expired.pem", "expired");
    auto old = loadOver(expired.request());
    ASSERT_TRUE(old->error);
    EXPECT_EQ(old->error->code(), platform::kUrlErrorServerCertificateUntrusted);
}

}  // namespace
