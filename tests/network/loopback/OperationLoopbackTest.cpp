// Connection and HTTP request operations against a real HTTP/1.1 server on loopback
// (tests/peers/operation_peer.py).
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "SocialSDK/framework/network/RAZududeHTTPRequestOperation.h"
#include "SocialSDK/framework/network/RAZududeURLConnectionOperation.h"
#include "SocialSDK/framework/network/RAZududeURLResponseSerialization.h"
#include "platform/Operation.h"
#include "platform/net/NetworkThread.h"
#include "platform/net/UrlSessionTask.h"
#include "tests/network/OperationTestSupport.h"
#include "tests/support/LoopbackPeers.h"
#include "tests/support/PeerProcess.h"
#include "tests/support/TempDir.h"

namespace {

using operation_tests::drainMainLoop;
using operation_tests::NotificationLog;
using operation_tests::pumpUntil;
using operation_tests::requestFor;
using platform::Bytes;
using HTTPOp = RAZududeHTTPRequestOperation;
using Op = RAZududeURLConnectionOperation;

Bytes pattern(std::size_t n) {
    return testing_support::peerPattern(n, 251);
}

Bytes fileBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class OperationLoopback : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { peer_.start(); }
    static void TearDownTestSuite() { peer_.stop(); }

    static std::string url(const std::string& path) { return peer_->baseUrl() + path; }

    // The request lines the peer logged for paths containing the marker.
    static std::vector<std::string> requestsFor(const std::string& marker, std::size_t atLeast) {
        std::vector<std::string> found;
        for (int round = 0; round < 100 && found.size() < atLeast; ++round) {
            found.clear();
            for (const auto& line : peer_->lines(0, 0.05)) {
                if (line.find(marker) != std::string::npos) {
                    found.push_back(line);
                }
            }
        }
        return found;
    }

    // Runs an operation to its end and waits for its completion block.
    static void run(const std::shared_ptr<Op>& op) {
        auto done = std::make_shared<std::atomic<bool>>(false);
        op->setCompletionBlock([done] { *done = true; });
        op->start();
        ASSERT_TRUE(pumpUntil([&] { return done->load(); })) << op->description();
    }

    static inline testing_support::SuitePeer peer_{"operation_peer.py"};
};

// Which of the HTTP operation's two callbacks came, with what; written on the main thread.
struct Outcome {
    int successes = 0;
    int failures = 0;
    HTTPOp::ResponseObject object;
    std::optional<platform::Error> error;

    void install(const std::shared_ptr<HTTPOp>& op) {
        op->setCompletionBlockWithSuccess(
            [this](const auto&, const HTTPOp::ResponseObject& value) {
                ++successes;
                object = value;
            },
            [this](const auto&, const platform::Error& e) {
                ++failures;
                error = e;
            });
    }
    bool done() const { return successes + failures > 0; }
};

// A response serializer that holds the processing step until the test lets it go.
class HeldSerializer : public RAZududeHTTPResponseSerializer {
  public:
    RAZududeResponseObject responseObjectForResponse(
        const std::shared_ptr<const platform::UrlResponse>& response,
        const std::optional<Bytes>& data, std::optional<platform::Error>* error) const override {
        {
            std::unique_lock lock(mutex_);
            entered_ = true;
            changed_.wait_for(lock, std::chrono::seconds(20), [&] { return released_; });
        }
        return RAZududeHTTPResponseSerializer::responseObjectForResponse(response, data, error);
    }
    bool entered() const {
        std::lock_guard lock(mutex_);
        return entered_;
    }
    void release() {
        std::lock_guard lock(mutex_);
        released_ = true;
        changed_.notify_all();
    }

  private:
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    mutable bool entered_ = false;
    bool released_ = false;
};

// --- loading ---

TEST_F(OperationLoopback, ABodyArrivesWithProgressAndNotificationsInOrder) {
    auto op = Op::create(requestFor(url("/bytes/300000")));
    NotificationLog log(op.get());
    std::vector<std::string> order;
    std::vector<std::int64_t> totals;
    bool progressOnMain = true;
    op->setDownloadProgressBlock([&](std::size_t bytes, std::int64_t total, std::int64_t expected) {
        progressOnMain = progressOnMain && platform::MainLoop::main().isMainThread();
        EXPECT_GT(bytes, 0u);
        EXPECT_EQ(expected, 300000);
        totals.push_back(total);
        if (order.empty() || order.back() != "progress") {
            order.push_back("progress");
        }
    });
    std::atomic<bool> done{false};
    op->setCompletionBlock([&] {
        order.push_back("completion:" + std::to_string(log.names.size()));
        done = true;
    });
    op->start();
    ASSERT_TRUE(pumpUntil([&] { return done.load(); }));

    EXPECT_FALSE(op->error());
    EXPECT_EQ(op->responseData(), pattern(300000));
    EXPECT_EQ(op->totalBytesRead(), 300000);
    ASSERT_FALSE(totals.empty());
    EXPECT_EQ(totals.back(), 300000);
    EXPECT_TRUE(std::is_sorted(totals.begin(), totals.end()));
    EXPECT_TRUE(progressOnMain);
    EXPECT_EQ(log.names, (std::vector<std::string>{"start", "finish"}));
    EXPECT_TRUE(log.allOnMainThread);
    EXPECT_EQ(order.back(), "completion:2") << "the completion block comes after both";
    auto http = std::dynamic_pointer_cast<const platform::HttpUrlResponse>(op->response());
    ASSERT_TRUE(http);
    EXPECT_EQ(http->statusCode(), 200);
    EXPECT_NE(op->description().find("state: isFinished"), std::string::npos);
}

TEST_F(OperationLoopback, SeveralOperationsRunAtOnceOnTheQueue) {
    platform::OperationQueue queue;
    std::vector<std::shared_ptr<Op>> operations;
    std::atomic<int> done{0};
    for (int i = 0; i < 6; ++i) {
        auto op = Op::create(requestFor(url("/bytes/" + std::to_string(1000 * (i + 1)))));
        op->setCompletionBlock([&] { ++done; });
        operations.push_back(op);
        queue.addOperation(op);
    }
    ASSERT_TRUE(pumpUntil([&] { return done.load() == 6; }));
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(operations[i]->responseData(), pattern(1000 * (i + 1)));
    }
}

TEST_F(OperationLoopback, UploadProgressReportsTheWholeBodyOnTheMainThread) {
    auto request = requestFor(url("/echo"));
    request.setHttpMethod("POST");
    request.setHttpBody(pattern(200000));
    auto op = Op::create(request);
    std::int64_t lastTotal = 0;
    std::int64_t expectedTotal = 0;
    bool onMain = true;
    op->setUploadProgressBlock([&](std::size_t, std::int64_t total, std::int64_t expected) {
        onMain = onMain && platform::MainLoop::main().isMainThread();
        lastTotal = total;
        expectedTotal = expected;
    });
    run(op);
    EXPECT_FALSE(op->error());
    EXPECT_EQ(lastTotal, 200000);
    EXPECT_EQ(expectedTotal, 200000);
    EXPECT_TRUE(onMain);
}

TEST_F(OperationLoopback, ABodyStreamIsSent) {
    auto request = requestFor(url("/echo"));
    request.setHttpMethod("PUT");
    auto op = Op::create(request);
    op->setInputStream(platform::InputStream::withData(Bytes{'a', 'b', 'c'}));
    run(op);
    ASSERT_TRUE(op->responseString());
    EXPECT_NE(op->responseString()->find("\"body\": \"YWJj\""), std::string::npos)
        << *op->responseString();
}

// --- text ---

TEST_F(OperationLoopback, TheResponseCharsetDecidesTheTextEncoding) {
    auto latin = Op::create(requestFor(url("/text?charset=ISO-8859-1&body=caf%C3%A9")));
    run(latin);
    EXPECT_EQ(latin->responseStringEncoding(), rzs_network::kISOLatin1StringEncoding);
    EXPECT_EQ(latin->responseData(), (Bytes{'c', 'a', 'f', 0xe9}));
    EXPECT_EQ(latin->responseString(), "caf\u00e9");

    auto plain = Op::create(requestFor(url("/text?body=caf%C3%A9")));
    run(plain);
    EXPECT_EQ(plain->responseStringEncoding(), rzs_network::kUTF8StringEncoding);
    EXPECT_EQ(plain->responseString(), "caf\u00e9");

    auto unknown = Op::create(requestFor(url("/text?charset=x-unknown&body=ok")));
    run(unknown);
    EXPECT_EQ(unknown->responseStringEncoding(), rzs_network::kUTF8StringEncoding);
    EXPECT_EQ(unknown->responseString(), "ok");

    auto broken = Op::create(requestFor(url("/text?charset=utf-8&raw=63e9")));
    run(broken);
    EXPECT_EQ(broken->responseData(), (Bytes{'c', 0xe9}));
    EXPECT_FALSE(broken->responseString()) << "not UTF-8: no text rather than a wrong one";
}

// --- redirects and authentication ---

TEST_F(OperationLoopback, RedirectsAreFollowedUnlessTheBlockStopsThem) {
    auto followed = Op::create(requestFor(url("/redirect/3")));
    run(followed);
    EXPECT_EQ(followed->response()->url().rawPath(), "/redirect/0");
    EXPECT_EQ(followed->responseString(), "arrived");

    auto stopped = Op::create(requestFor(url("/redirect/2")));
    int redirects = 0;
    stopped->setRedirectResponseBlock(
        [&](platform::UrlConnection&, const platform::UrlRequest& proposed,
            const std::shared_ptr<const platform::UrlResponse>& redirect)
            -> std::optional<platform::UrlRequest> {
            ++redirects;
            EXPECT_EQ(proposed.url().rawPath(), "/redirect/1");
            EXPECT_TRUE(redirect);
            return std::nullopt;
        });
    run(stopped);
    EXPECT_EQ(redirects, 1);
    auto http = std::dynamic_pointer_cast<const platform::HttpUrlResponse>(stopped->response());
    ASSERT_TRUE(http);
    EXPECT_EQ(http->statusCode(), 302);
}

TEST_F(OperationLoopback, TheCacheResponseBlockIsOfferedTheFinalResponseWithItsBody) {
    auto op = Op::create(requestFor(url("/redirect/1")));
    std::vector<std::pair<std::string, std::string>> offers;
    op->setCacheResponseBlock(
        [&](platform::UrlConnection&, const platform::CachedUrlResponse& proposed)
            -> std::optional<platform::CachedUrlResponse> {
            offers.emplace_back(proposed.response->url().rawPath(),
                                std::string(proposed.data.begin(), proposed.data.end()));
            return proposed;
        });
    run(op);
    EXPECT_EQ(offers,
              (std::vector<std::pair<std::string, std::string>>{{"/redirect/0", "arrived"}}));
}

TEST_F(OperationLoopback, BasicCredentialsAreOfferedOnceOnly) {
    auto welcome = Op::create(requestFor(url("/basic?user=ann&pw=s3cret&tag=good")));
    welcome->setCredential(
        platform::Credential("ann", "s3cret", platform::CredentialPersistence::kNone));
    run(welcome);
    EXPECT_EQ(std::dynamic_pointer_cast<const platform::HttpUrlResponse>(welcome->response())
                  ->statusCode(),
              200);

    auto refused = Op::create(requestFor(url("/basic?user=ann&pw=s3cret&tag=wrong")));
    refused->setCredential(
        platform::Credential("ann", "guess", platform::CredentialPersistence::kNone));
    run(refused);
    EXPECT_EQ(std::dynamic_pointer_cast<const platform::HttpUrlResponse>(refused->response())
                  ->statusCode(),
              401);
    EXPECT_EQ(refused->responseString(), "who are you");
    const auto attempts = requestsFor("tag=wrong", 2);
    ASSERT_EQ(attempts.size(), 2u) << "the first try and one with the credential, no more";
    EXPECT_NE(attempts[1].find("auth=yes"), std::string::npos);

    auto anonymous = Op::create(requestFor(url("/basic?tag=none")));
    run(anonymous);
    EXPECT_EQ(std::dynamic_pointer_cast<const platform::HttpUrlResponse>(anonymous->response())
                  ->statusCode(),
              401);
}

TEST_F(OperationLoopback, CredentialsAreNotCarriedToAnotherOrigin) {
    auto other = testing_support::PeerProcess::python("operation_peer.py");
    auto op = Op::create(requestFor(url("/basic?user=u&pw=p&to=" + other.baseUrl() + "/echo")));
    op->setCredential(platform::Credential("u", "p", platform::CredentialPersistence::kNone));
    run(op);
    const std::string echo = op->responseString().value_or("");
    EXPECT_NE(echo.find("\"/echo\""), std::string::npos) << echo;
    EXPECT_EQ(echo.find("Authorization"), std::string::npos) << echo;
}

TEST_F(OperationLoopback, AnAuthenticationBlockDecidesAlone) {
    auto op = Op::create(requestFor(url("/basic?user=u&pw=p&tag=block")));
    op->setCredential(platform::Credential("u", "p", platform::CredentialPersistence::kNone));
    int challenges = 0;
    op->setWillSendRequestForAuthenticationChallengeBlock(
        [&](platform::UrlConnection&, const platform::AuthenticationChallenge& challenge) {
            ++challenges;
            EXPECT_EQ(challenge.protectionSpace().authenticationMethod(),
                      platform::kAuthenticationMethodHttpBasic);
            challenge.sender().continueWithoutCredential(challenge);
        });
    run(op);
    EXPECT_EQ(challenges, 1);
    EXPECT_EQ(
        std::dynamic_pointer_cast<const platform::HttpUrlResponse>(op->response())->statusCode(),
        401)
        << "the operation's own credential was not used";
}

// --- cancelling and failing ---

TEST_F(OperationLoopback, CancellingAStalledLoadEndsItWithTheCancellation) {
    auto op = Op::create(requestFor(url("/stall")));
    NotificationLog log(op.get());
    std::atomic<int> completions{0};
    op->setCompletionBlock([&] { ++completions; });
    op->start();
    ASSERT_TRUE(pumpUntil([&] { return op->totalBytesRead() == 10; }));
    op->cancel();
    ASSERT_TRUE(pumpUntil([&] { return completions.load() == 1; }));
    drainMainLoop();
    EXPECT_EQ(completions.load(), 1);
    ASSERT_TRUE(op->error());
    EXPECT_EQ(op->error()->code(), platform::kUrlErrorCancelled);
    EXPECT_EQ(log.names, (std::vector<std::string>{"start", "finish"}));
}

TEST_F(OperationLoopback, TheCompletionGroupHoldsFromTheEndUntilTheCallbackIsSubmitted) {
    auto op = HTTPOp::create(requestFor(url("/json")));
    auto serializer = std::make_shared<HeldSerializer>();
    op->setResponseSerializer(serializer);
    auto group = platform::DispatchGroup::create();
    op->setCompletionGroup(group);
    Outcome outcome;
    outcome.install(op);
    op->start();
    ASSERT_TRUE(pumpUntil([&] { return serializer->entered(); }));
    drainMainLoop();
    EXPECT_FALSE(group->wait(0)) << "the group was let go before the response was processed";
    serializer->release();
    ASSERT_TRUE(pumpUntil([&] { return outcome.done(); }));
    EXPECT_EQ(outcome.successes, 1);
    EXPECT_TRUE(group->wait(10)) << "the group was never left";
}

TEST_F(OperationLoopback, ACancelledPausedOperationFinishesAndItsQueueDrains) {
    platform::OperationQueue queue;
    auto op = Op::create(requestFor(url("/stall")));
    std::atomic<int> completions{0};
    op->setCompletionBlock([&] { ++completions; });
    queue.addOperation(op);
    ASSERT_TRUE(pumpUntil([&] { return op->totalBytesRead() == 10; }));
    op->pause();
    ASSERT_TRUE(op->isPaused());
    op->cancel();
    ASSERT_TRUE(pumpUntil([&] { return completions.load() == 1 && queue.operationCount() == 0; }));
    EXPECT_TRUE(op->isFinished());
    EXPECT_FALSE(op->isPaused());
    ASSERT_TRUE(op->error());
    EXPECT_EQ(op->error()->code(), platform::kUrlErrorCancelled);
    op->resume();
    EXPECT_TRUE(op->isFinished()) << "a finished operation stays finished";
}

TEST_F(OperationLoopback, AStalledLoadTimesOut) {
    auto request = requestFor(url("/stall"));
    request.setTimeoutInterval(0.5);
    auto op = Op::create(request);
    run(op);
    ASSERT_TRUE(op->error());
    EXPECT_EQ(op->error()->code(), platform::kUrlErrorTimedOut);
}

TEST_F(OperationLoopback, NoServerGivesTheConnectionError) {
    auto op = Op::create(requestFor("http://127.0.0.1:9/nobody"));
    run(op);
    ASSERT_TRUE(op->error());
    EXPECT_EQ(op->error()->domain(), platform::kUrlErrorDomain);
    EXPECT_EQ(op->error()->code(), platform::kUrlErrorCannotConnectToHost);
}

// --- output streams ---

TEST_F(OperationLoopback, AStreamWithoutRoomFailsTheOperation) {
    std::vector<std::uint8_t> buffer(1000);
    auto op = Op::create(requestFor(url("/bytes/50000")));
    op->setOutputStream(platform::OutputStream::toBuffer(buffer.data(), buffer.size()));
    run(op);
    ASSERT_TRUE(op->error()) << "a body that does not fit is not a success";
    EXPECT_TRUE(op->isFinished());
    EXPECT_FALSE(op->responseData());
    EXPECT_TRUE(std::equal(buffer.begin(), buffer.end(), pattern(1000).begin()))
        << "what fitted was written, in order";
}

// Takes at most a few bytes per write, as a pipe or socket might.
class TrickleStream : public platform::OutputStream {
  public:
    void open() override { status_ = platform::StreamStatus::kOpen; }
    void close() override { status_ = platform::StreamStatus::kClosed; }
    platform::StreamStatus streamStatus() const override { return status_; }
    std::optional<platform::Error> streamError() const override { return std::nullopt; }
    long write(const std::uint8_t* buffer, std::size_t length) override {
        if (status_ != platform::StreamStatus::kOpen) {
            return -1;
        }
        const std::size_t count = std::min<std::size_t>(length, 7);
        received.insert(received.end(), buffer, buffer + count);
        ++writes;
        return static_cast<long>(count);
    }
    bool hasSpaceAvailable() const override { return status_ == platform::StreamStatus::kOpen; }

    Bytes received;
    std::size_t writes = 0;

  private:
    platform::StreamStatus status_ = platform::StreamStatus::kNotOpen;
};

TEST_F(OperationLoopback, AStreamThatTakesAFewBytesAtATimeGetsEveryByte) {
    auto stream = std::make_shared<TrickleStream>();
    auto op = Op::create(requestFor(url("/bytes/20000")));
    op->setOutputStream(stream);
    run(op);
    EXPECT_FALSE(op->error());
    EXPECT_EQ(stream->received, pattern(20000)) << "short writes are written again, in order";
    EXPECT_GE(stream->writes, 20000u / 7);
    EXPECT_EQ(stream->streamStatus(), platform::StreamStatus::kClosed);
}

TEST_F(OperationLoopback, AFileStreamReceivesTheBody) {
    testing_support::TempDir dir;
    const auto path = dir.path() / "body.bin";
    auto op = Op::create(requestFor(url("/bytes/123456")));
    op->setOutputStream(platform::OutputStream::toFile(path, false));
    run(op);
    EXPECT_FALSE(op->error());
    EXPECT_FALSE(op->responseData()) << "the body is in the file, not in memory";
    EXPECT_EQ(fileBytes(path), pattern(123456));
}

TEST_F(OperationLoopback, ABodyInMemoryStopsAtItsCeilingAndAFileHasNone) {
    auto bomb = [] {
        auto request = requestFor(url("/bomb?size=8388608"));
        request.setValue("gzip", "Accept-Encoding");
        return Op::create(request);
    };
    auto op = bomb();
    EXPECT_EQ(op->maximumResponseDataLength(), std::size_t{64} << 20);
    op->setMaximumResponseDataLength(1 << 20);
    run(op);
    ASSERT_TRUE(op->error());
    EXPECT_EQ(op->error()->code(), platform::kUrlErrorDataLengthExceedsMaximum);
    EXPECT_EQ(op->error()->userInfo()[platform::kUrlErrorFailingUrlErrorKey].stringValue(),
              op->request().url().absoluteString());
    EXPECT_FALSE(op->responseData());
    EXPECT_EQ(op->outputStream()->bytesHeldInMemory(), 0u) << "what was gathered is let go";

    testing_support::TempDir dir;
    auto toFile = bomb();
    toFile->setMaximumResponseDataLength(1 << 20);
    toFile->setOutputStream(platform::OutputStream::toFile(dir.path() / "zeros", false));
    run(toFile);
    EXPECT_FALSE(toFile->error());
    EXPECT_EQ(std::filesystem::file_size(dir.path() / "zeros"), 8u << 20);
}

TEST_F(OperationLoopback, AFileStreamThatCannotOpenFailsAtOnce) {
    testing_support::TempDir dir;
    auto op = Op::create(requestFor(url("/bytes/10?tag=unopened")));
    op->setOutputStream(platform::OutputStream::toFile(dir.path() / "no" / "such" / "dir", false));
    run(op);
    ASSERT_TRUE(op->error());
    EXPECT_EQ(op->error()->domain(), platform::kPosixErrorDomain);
    EXPECT_TRUE(requestsFor("tag=unopened", 0).empty()) << "nothing was sent";
}

// --- pause and resume ---

TEST_F(OperationLoopback, PauseAndResumeContinueWithARangeAndGiveTheWholeBody) {
    auto op = HTTPOp::create(requestFor(url("/range/200000?stall_after=60000&tag=resume")));
    NotificationLog log(op.get());
    Outcome outcome;
    outcome.install(op);
    op->start();
    ASSERT_TRUE(pumpUntil([&] { return op->totalBytesRead() >= 60000; }));
    op->pause();
    EXPECT_TRUE(op->isPaused());
    EXPECT_FALSE(op->isFinished());
    EXPECT_EQ(op->request().valueForHttpHeaderField("Range"), "bytes=60000-");
    EXPECT_EQ(op->request().valueForHttpHeaderField("If-Range"), "\"size-200000\"");
    ASSERT_TRUE(pumpUntil([&] { return log.names.size() == 2; }));
    EXPECT_EQ(log.names, (std::vector<std::string>{"start", "finish"})) << "a pause says finish";

    op->resume();
    ASSERT_TRUE(pumpUntil([&] { return outcome.done(); }));
    EXPECT_EQ(outcome.successes, 1);
    ASSERT_TRUE(outcome.object.data());
    EXPECT_EQ(*outcome.object.data(), pattern(200000));
    EXPECT_EQ(
        std::dynamic_pointer_cast<const platform::HttpUrlResponse>(op->response())->statusCode(),
        206);
    const auto requests = requestsFor("tag=resume", 2);
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_NE(requests[1].find("range=bytes=60000- if-range=\"size-200000\""), std::string::npos);
}

TEST_F(OperationLoopback, AResumeThatMeetsAWholeBodyStartsTheBodyAgain) {
    for (const char* path :
         {"/ignore-range/150000?stall_after=40000", "/range/150000?stall_after=40000&new_etag=1"}) {
        SCOPED_TRACE(path);
        auto op = HTTPOp::create(requestFor(url(path)));
        Outcome outcome;
        outcome.install(op);
        op->start();
        ASSERT_TRUE(pumpUntil([&] { return op->totalBytesRead() >= 40000; }));
        op->pause();
        op->resume();
        ASSERT_TRUE(pumpUntil([&] { return outcome.done(); }));
        ASSERT_EQ(outcome.successes, 1);
        ASSERT_TRUE(outcome.object.data());
        EXPECT_EQ(outcome.object.data()->size(), 150000u) << "never two bodies glued together";
        EXPECT_EQ(*outcome.object.data(), pattern(150000));
        ASSERT_TRUE(pumpUntil([&] { return op->totalBytesRead() == 150000; }));
    }
}

TEST_F(OperationLoopback, APauseWhileBytesKeepComingResumesWithoutLossOrRepeat) {
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        auto op = HTTPOp::create(requestFor(url("/range/400000?trickle=1&tag=trickle")));
        Outcome outcome;
        outcome.install(op);
        op->start();
        ASSERT_TRUE(pumpUntil([&] { return op->totalBytesRead() >= 20000; }));
        op->pause();  // while bytes keep coming
        op->resume();
        ASSERT_TRUE(pumpUntil([&] { return outcome.done(); }));
        ASSERT_EQ(outcome.successes, 1);
        EXPECT_EQ(outcome.object.data()->size(), 400000u);
        EXPECT_EQ(*outcome.object.data(), pattern(400000));
    }
}

TEST_F(OperationLoopback, APausedOperationTakesNoMoreBytesAndResumesFromWhatItKept) {
    auto op = HTTPOp::create(requestFor(url("/range/400000?trickle=1&tag=kept")));
    Outcome outcome;
    outcome.install(op);
    op->start();
    ASSERT_TRUE(pumpUntil([&] { return op->totalBytesRead() >= 20000; }));
    op->pause();
    // Once the network thread has taken the pause, what the operation kept stays as it is.
    auto caughtUp = std::make_shared<std::atomic<bool>>(false);
    platform::NetworkThread::shared().post([caughtUp] { *caughtUp = true; });
    ASSERT_TRUE(pumpUntil([&] { return caughtUp->load(); }));
    const auto kept = op->outputStream()->bytesHeldInMemory();
    ASSERT_TRUE(kept);
    EXPECT_FALSE(pumpUntil([&] { return op->outputStream()->bytesHeldInMemory() != kept; }, 0.5));
    op->resume();
    ASSERT_TRUE(pumpUntil([&] { return outcome.done(); }));
    EXPECT_EQ(*outcome.object.data(), pattern(400000));
    const auto requests = requestsFor("tag=kept", 2);
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_NE(requests[1].find("range=bytes=" + std::to_string(*kept) + "-"), std::string::npos)
        << requests[1] << " after keeping " << *kept;
}

TEST_F(OperationLoopback, APauseAndResumeRightAfterTheStartLoadTheBodyOnce) {
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        auto op = HTTPOp::create(requestFor(url("/range/50000?tag=quick")));
        Outcome outcome;
        outcome.install(op);
        op->start();
        op->pause();
        op->resume();
        ASSERT_TRUE(pumpUntil([&] { return outcome.done(); }));
        ASSERT_EQ(outcome.successes, 1);
        EXPECT_EQ(*outcome.object.data(), pattern(50000));
    }
}

TEST_F(OperationLoopback, AResumeIntoAFileThatMeetsAWholeBodyFails) {
    testing_support::TempDir dir;
    auto op = HTTPOp::create(requestFor(url("/ignore-range/150000?stall_after=40000&tag=file")));
    op->setOutputStream(platform::OutputStream::toFile(dir.path() / "partial", false));
    Outcome outcome;
    outcome.install(op);
    op->start();
    ASSERT_TRUE(pumpUntil([&] { return op->totalBytesRead() >= 40000; }));
    op->pause();
    op->resume();
    ASSERT_TRUE(pumpUntil([&] { return outcome.done(); }));
    EXPECT_EQ(outcome.failures, 1);
    EXPECT_EQ(outcome.error->code(), platform::kUrlErrorBadServerResponse);
    EXPECT_EQ(fileBytes(dir.path() / "partial").size(), 40000u) << "nothing was glued on";
}

TEST_F(OperationLoopback, APausedOperationArchivedAndResumedElsewhereKeepsItsBytes) {
    Op::registerArchiveClass();
    HTTPOp::registerArchiveClass();
    RAZududeHTTPResponseSerializer::registerArchiveClasses();
    auto op = HTTPOp::create(requestFor(url("/range/90000?stall_after=30000&tag=archived")));
    op->start();
    ASSERT_TRUE(pumpUntil([&] { return op->totalBytesRead() >= 30000; }));
    auto data = platform::KeyedArchiver::archivedData(platform::ArchiveObject(op));
    ASSERT_TRUE(data);
    EXPECT_TRUE(op->isPaused()) << "archiving stops the load";
    auto object = platform::KeyedUnarchiver::unarchiveObject(*data);
    ASSERT_TRUE(object);
    auto revived = object->as<HTTPOp>();
    ASSERT_TRUE(revived);
    EXPECT_EQ(revived->state(), Op::kReady);
    Outcome outcome;
    outcome.install(revived);
    revived->start();
    ASSERT_TRUE(pumpUntil([&] { return outcome.done(); }));
    ASSERT_EQ(outcome.successes, 1);
    EXPECT_EQ(*outcome.object.data(), pattern(90000));
    op->cancel();
}

// --- the HTTP operation's callbacks ---

TEST_F(OperationLoopback, ANotFoundBodyGoesToFailureAndStaysInTheResponseObject) {
    auto op = HTTPOp::create(requestFor(url("/status/404?body=gone")));
    Outcome outcome;
    outcome.install(op);
    op->start();
    ASSERT_TRUE(pumpUntil([&] { return outcome.done(); }));
    drainMainLoop();
    EXPECT_EQ(outcome.successes, 0);
    EXPECT_EQ(outcome.failures, 1);
    EXPECT_EQ(outcome.error->domain(), "com.razudude.error.serialization.response");
    EXPECT_EQ(outcome.error->code(), platform::kUrlErrorBadServerResponse);
    ASSERT_TRUE(op->responseObject().data());
    EXPECT_EQ(*op->responseObject().data(), (Bytes{'g', 'o', 'n', 'e'}));
    EXPECT_EQ(op->error(), outcome.error);
}

TEST_F(OperationLoopback, AnEmptyOkBodyIsASuccessWithNoBytes) {
    auto op = HTTPOp::create(requestFor(url("/empty")));
    Outcome outcome;
    outcome.install(op);
    op->start();
    ASSERT_TRUE(pumpUntil([&] { return outcome.done(); }));
    EXPECT_EQ(outcome.successes, 1);
    ASSERT_TRUE(outcome.object.data());
    EXPECT_TRUE(outcome.object.data()->empty());
}

TEST_F(OperationLoopback, ANewSerializerSerializesAgain) {
    auto op = HTTPOp::create(requestFor(url("/status/500?body=oops")));
    run(op);
    EXPECT_FALSE(op->error()) << "nothing has asked the serializer yet";
    EXPECT_TRUE(op->responseObject().data());
    EXPECT_TRUE(op->error());
    op->setResponseSerializer(RAZududeHTTPResponseSerializer::serializer());
    EXPECT_FALSE(op->responseSerializationError());
    EXPECT_TRUE(op->responseObject().data()) << "worked out again on the next read";
    EXPECT_TRUE(op->responseSerializationError());
}

TEST_F(OperationLoopback, ACopyRunsTheSameRequestWithTheSameBlocks) {
    auto op = Op::create(requestFor(url("/bytes/5000")));
    std::atomic<int> progress{0};
    op->setDownloadProgressBlock([&](std::size_t, std::int64_t, std::int64_t) { ++progress; });
    run(op);
    const int first = progress.load();
    auto copy = op->copy();
    run(copy);
    EXPECT_GT(progress.load(), first);
    EXPECT_EQ(copy->responseData(), pattern(5000));
}

TEST_F(OperationLoopback, ABatchOfLoadsReportsEachAndCompletesOnce) {
    Op::Operations operations;
    for (int i = 0; i < 4; ++i) {
        operations.push_back(Op::create(requestFor(url("/bytes/" + std::to_string(100 + i)))));
    }
    std::vector<std::size_t> finished;
    std::optional<Op::Operations> completed;
    auto batch = Op::batchOfRequestOperations(
        operations, [&](std::size_t count, std::size_t) { finished.push_back(count); },
        [&](const Op::Operations& ops) { completed = ops; });
    platform::OperationQueue queue;
    queue.addOperations(batch, false);
    ASSERT_TRUE(pumpUntil([&] { return completed.has_value(); }));
    EXPECT_EQ(finished.size(), 4u);
    EXPECT_EQ(finished.back(), 4u);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(operations[i]->responseData(), pattern(100 + i));
    }
}

}  // namespace
