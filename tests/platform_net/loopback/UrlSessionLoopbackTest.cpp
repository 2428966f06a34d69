// URL sessions against a real HTTP/1.1 server on loopback: data, upload and download tasks,
// their delegate and completion-handler forms, cancel with resume data, suspension, answers
// that the network thread waits for, invalidation and the order of callbacks.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <map>
#include <thread>

#include "platform/AppFolders.h"
#include "platform/PropertyList.h"
#include "platform/net/UrlSession.h"
#include "tests/platform_net/SessionRecorder.h"
#include "tests/support/LoopbackPeers.h"
#include "tests/support/PeerProcess.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestCertificates.h"

namespace {

using namespace session_testing;
using platform::UrlRequest;
using platform::UrlSessionConfiguration;
using platform::UrlSessionTaskState;

Bytes pattern(std::size_t n) {
    return testing_support::peerPattern(n, 256);
}

Bytes readFile(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
}

std::string sha256(const Bytes& data) {
    return testing_support::runPython(
               "import hashlib, sys; print(hashlib.sha256(sys.stdin.buffer.read()).hexdigest())",
               std::string(data.begin(), data.end()))
        .substr(0, 64);
}

class UrlSessionLoopbackTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        peer_.start();
        seen_ = 0;
    }
    static void TearDownTestSuite() { peer_.stop(); }

    void TearDown() override {
        for (const auto& session : sessions_) {
            session->invalidateAndCancel();
        }
        for (const auto& session : sessions_) {
            EXPECT_TRUE(waitUntil([&] { return !session->delegate(); }));
        }
    }

    static UrlRequest request(const std::string& path, double timeout = 30) {
        return UrlRequest(*platform::Url::parse(peer_->baseUrl() + path),
                          platform::UrlRequestCachePolicy::kUseProtocolCachePolicy, timeout);
    }

    std::shared_ptr<UrlSession> makeSession(
        std::shared_ptr<Recorder> recorder,
        std::shared_ptr<platform::OperationQueue> queue = nullptr) {
        auto session = UrlSession::create(UrlSessionConfiguration::defaultSessionConfiguration(),
                                          std::move(recorder), std::move(queue));
        sessions_.push_back(session);
        return session;
    }

    // The requests the peer reported for /range and /norange since the last call.
    static std::vector<std::string> rangeLines(std::size_t atLeast) {
        const auto all = peer_->lines(seen_ + atLeast);
        std::vector<std::string> fresh(all.begin() + static_cast<long>(seen_), all.end());
        seen_ = all.size();
        return fresh;
    }

    static inline testing_support::SuitePeer peer_{"http_peer.py"};
    static std::size_t seen_;
    std::vector<std::shared_ptr<UrlSession>> sessions_;
};

std::size_t UrlSessionLoopbackTest::seen_ = 0;

// --- data tasks -----------------------------------------------------------------------------

TEST_F(UrlSessionLoopbackTest, DataTaskReportsToItsDelegateInOrder) {
    auto recorder = std::make_shared<Recorder>();
    auto session = makeSession(recorder);
    const auto task = session->dataTaskWithRequest(request("/chunked/100000"));
    task->resume();
    ASSERT_TRUE(recorder->waitForCompletion(task));

    const auto log = recorder->log(task);
    EXPECT_EQ(log.events, (std::vector<std::string>{"response 200", "data", "complete"}));
    EXPECT_EQ(log.data, pattern(100000));
    EXPECT_EQ(task->state(), UrlSessionTaskState::kCompleted);
    EXPECT_FALSE(task->error());
    EXPECT_EQ(task->countOfBytesReceived(), 100000);
    EXPECT_EQ(task->countOfBytesExpectedToReceive(), platform::kUrlSessionTransferSizeUnknown);
    const auto* http = dynamic_cast<const platform::HttpUrlResponse*>(task->response().get());
    ASSERT_TRUE(http);
    EXPECT_EQ(http->statusCode(), 200);
    EXPECT_EQ(recorder->overlaps(), 0);
    EXPECT_EQ(recorder->onNetworkThread(), 0);
}

// Callbacks that return at once may run on the network thread, but as work of the delegate
// queue: in order, and never beside the queue's other operations.
TEST_F(UrlSessionLoopbackTest, QuickCallbacksStillRunOneAtATimeWithTheDelegateQueue) {
    auto recorder = std::make_shared<Recorder>();
    recorder->absent = {UrlSessionDelegateCallback::kDataTaskDidReceiveResponse};
    recorder->quick = {UrlSessionDelegateCallback::kDataTaskDidReceiveData,
                       UrlSessionDelegateCallback::kTaskDidComplete};
    auto queue = std::make_shared<platform::OperationQueue>();
    queue->setMaxConcurrentOperationCount(1);
    auto session = makeSession(recorder, queue);
    const auto first = session->dataTaskWithRequest(request("/chunked/100000"));
    first->resume();
    ASSERT_TRUE(recorder->waitForCompletion(first));
    EXPECT_EQ(recorder->log(first).events, (std::vector<std::string>{"data", "complete"}));
    EXPECT_EQ(recorder->log(first).data, pattern(100000));
    EXPECT_GT(recorder->onNetworkThread(), 0) << "no worker needed for what returns at once";

    // The queue busy with an operation of its own: the task's end waits for it.
    std::mutex mutex;
    std::condition_variable changed;
    bool busy = false, release = false;
    queue->addOperation([&] {
        std::unique_lock lock(mutex);
        busy = true;
        changed.notify_all();
        changed.wait_for(lock, std::chrono::seconds(static_cast<int>(kWait)),
                         [&] { return release; });
    });
    {
        std::unique_lock lock(mutex);
        ASSERT_TRUE(changed.wait_for(lock, std::chrono::seconds(static_cast<int>(kWait)),
                                     [&] { return busy; }));
    }
    const auto second = session->dataTaskWithRequest(request("/bytes/1000"));
    second->resume();
    ASSERT_TRUE(waitUntil([&] { return second->state() == UrlSessionTaskState::kCompleted; }));
    ASSERT_TRUE(networkThreadCaughtUp());
    EXPECT_TRUE(recorder->log(second).events.empty());
    {
        std::lock_guard lock(mutex);
        release = true;
    }
    changed.notify_all();
    ASSERT_TRUE(recorder->waitForCompletion(second));
    EXPECT_EQ(recorder->log(second).events, (std::vector<std::string>{"data", "complete"}));
    EXPECT_EQ(recorder->log(second).data, pattern(1000));
    EXPECT_EQ(recorder->overlaps(), 0);
}

TEST_F(UrlSessionLoopbackTest, CompletionHandlerGetsTheBodyAndTheDelegateNothing) {
    auto recorder = std::make_shared<Recorder>();
    auto session = makeSession(recorder);
    std::atomic<int> calls{0};
    std::optional<Bytes> body;
    std::shared_ptr<const platform::UrlResponse> response;
    const auto task = session->dataTaskWithRequest(
        request("/bytes/5000"),
        [&](std::optional<Bytes> data, std::shared_ptr<const platform::UrlResponse> r,
            std::optional<Error> error) {
            EXPECT_FALSE(error);
            body = std::move(data);
            response = std::move(r);
            ++calls;
        });
    std::optional<Error> failure;
    std::optional<Bytes> failedBody = Bytes{1};
    const auto broken = session->dataTaskWithRequest(
        request("/reset"),
        [&](std::optional<Bytes> data, std::shared_ptr<const platform::UrlResponse>,
            std::optional<Error> error) {
            failedBody = std::move(data);
            failure = error;
            ++calls;
        });
    task->resume();
    broken->resume();
    ASSERT_TRUE(waitUntil([&] { return calls == 2; }));
    ASSERT_TRUE(body);
    EXPECT_EQ(*body, pattern(5000));
    EXPECT_EQ(response, task->response());
    ASSERT_TRUE(failure);
    EXPECT_EQ(failure->domain(), platform::kUrlErrorDomain);
    EXPECT_FALSE(failedBody);
    EXPECT_TRUE(recorder->log(task).events.empty());
    EXPECT_TRUE(recorder->log(broken).events.empty());
}

TEST_F(UrlSessionLoopbackTest, ABodyGatheredInMemoryStopsAtItsCeilingOnTheDecodedBytes) {
    auto recorder = std::make_shared<Recorder>();
    auto configuration = UrlSessionConfiguration::defaultSessionConfiguration();
    EXPECT_EQ(configuration.maximumBodyBytesInMemory(), std::size_t{64} << 20);
    configuration.setMaximumBodyBytesInMemory(1 << 20);
    auto session = UrlSession::create(configuration, recorder, nullptr);
    sessions_.push_back(session);

    // 8 MiB of zeros that come as 8 KB of gzip.
    UrlRequest bomb = request("/bomb?size=8388608");
    bomb.setValue("gzip", "Accept-Encoding");
    std::atomic<int> calls{0};
    std::optional<Error> failure;
    std::optional<Bytes> kept = Bytes{1};
    const auto gathered = session->dataTaskWithRequest(
        bomb, [&](std::optional<Bytes> data, std::shared_ptr<const platform::UrlResponse>,
                  std::optional<Error> error) {
            kept = std::move(data);
            failure = std::move(error);
            ++calls;
        });
    gathered->resume();
    ASSERT_TRUE(waitUntil([&] { return calls == 1; }));
    ASSERT_TRUE(failure);
    EXPECT_EQ(failure->code(), platform::kUrlErrorDataLengthExceedsMaximum);
    EXPECT_NE(failure->localizedDescription().find("1048576"), std::string::npos);
    EXPECT_EQ((*failure).userInfo()[platform::kUrlErrorFailingUrlErrorKey].stringValue(),
              bomb.url().absoluteString());
    EXPECT_FALSE(kept);

    // Up to the ceiling it is a body like any other.
    UrlRequest fits = request("/bomb?size=1048576");
    fits.setValue("gzip", "Accept-Encoding");
    std::optional<Bytes> whole;
    session
        ->dataTaskWithRequest(fits,
                              [&](std::optional<Bytes> data, auto, auto) {
                                  whole = std::move(data);
                                  ++calls;
                              })
        ->resume();
    ASSERT_TRUE(waitUntil([&] { return calls == 2; }));
    ASSERT_TRUE(whole);
    EXPECT_EQ(whole->size(), 1u << 20);

    // A delegate takes the bytes as they come: nothing is gathered, so nothing is bounded.
    const auto streamed = session->dataTaskWithRequest(bomb);
    streamed->resume();
    ASSERT_TRUE(recorder->waitForCompletion(streamed));
    EXPECT_FALSE(recorder->log(streamed).error);
    EXPECT_EQ(recorder->log(streamed).data.size(), 8u << 20);
}

TEST_F(UrlSessionLoopbackTest, ResponseDispositionIsAwaitedAndCancelStopsEverything) {
    auto recorder = std::make_shared<Recorder>();
    std::mutex mutex;
    std::map<std::uint64_t, platform::UrlSessionResponseCompletion> pending;
    recorder->onResponse = [&](const std::shared_ptr<UrlSessionDataTask>& task,
                               platform::UrlSessionResponseCompletion completion) {
        std::lock_guard lock(mutex);
        pending[task->taskIdentifier()] = std::move(completion);
    };
    auto session = makeSession(recorder);
    const auto allowed = session->dataTaskWithRequest(request("/bytes/300000"));
    const auto refused = session->dataTaskWithRequest(request("/bytes/300000"));
    allowed->resume();
    refused->resume();
    auto answered = [&](std::uint64_t id) {
        std::lock_guard lock(mutex);
        return pending.contains(id);
    };
    ASSERT_TRUE(waitUntil([&] {
        return answered(allowed->taskIdentifier()) && answered(refused->taskIdentifier());
    }));
    // Bytes that came meanwhile wait behind the answer.
    EXPECT_FALSE(waitUntil([&] { return !recorder->log(allowed).data.empty(); }, 0.3));

    // Answered from another thread, as a delegate may.
    std::thread([&] {
        std::lock_guard lock(mutex);
        pending[allowed->taskIdentifier()](platform::UrlSessionResponseDisposition::kAllow);
        pending[refused->taskIdentifier()](platform::UrlSessionResponseDisposition::kCancel);
    }).join();
    ASSERT_TRUE(recorder->waitForCompletion(allowed));
    ASSERT_TRUE(recorder->waitForCompletion(refused));
    EXPECT_EQ(recorder->log(allowed).data, pattern(300000));
    EXPECT_EQ(recorder->log(allowed).events,
              (std::vector<std::string>{"response 200", "data", "complete"}));
    EXPECT_EQ(recorder->log(refused).events,
              (std::vector<std::string>{"response 200", "complete -999"}));
    EXPECT_EQ(refused->error()->code(), platform::kUrlErrorCancelled);
}

// --- uploads --------------------------------------------------------------------------------

TEST_F(UrlSessionLoopbackTest, UploadFromDataReportsItsProgress) {
    auto recorder = std::make_shared<Recorder>();
    auto session = makeSession(recorder);
    UrlRequest post = request("/upload");
    post.setHttpMethod("POST");
    const Bytes body = pattern(3 << 20);
    const auto task = session->uploadTaskWithRequest(post, body);
    EXPECT_EQ(task->countOfBytesExpectedToSend(), 3 << 20);
    task->resume();
    ASSERT_TRUE(recorder->waitForCompletion(task));

    const auto log = recorder->log(task);
    EXPECT_EQ(log.events, (std::vector<std::string>{"send", "response 200", "data", "complete"}));
    ASSERT_FALSE(log.sendTotals.empty());
    EXPECT_TRUE(std::is_sorted(log.sendTotals.begin(), log.sendTotals.end()));
    EXPECT_EQ(log.sent, 3 << 20);
    EXPECT_EQ(log.expectedToSend, 3 << 20);
    EXPECT_EQ(task->countOfBytesSent(), 3 << 20);
    const auto reply = platform::toString(log.data);
    EXPECT_NE(reply.find("\"length\": 3145728"), std::string::npos) << reply;
    EXPECT_NE(reply.find(sha256(body)), std::string::npos) << reply;
}

TEST_F(UrlSessionLoopbackTest, UploadFromFileSendsItsLength) {
    testing_support::TempDir folder;
    const auto path = folder.path() / "upload.bin";
    const Bytes body = pattern(300000);
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(body.data()), static_cast<long>(body.size()));

    auto recorder = std::make_shared<Recorder>();
    auto session = makeSession(recorder);
    UrlRequest put = request("/echo");
    put.setHttpMethod("PUT");
    // Written on the session's delegate queue; `replied` is set last.
    std::optional<Bytes> reply;
    std::atomic<bool> replied{false};
    const auto task = session->uploadTaskWithRequest(
        put, platform::Url::fileUrl(path),
        [&](std::optional<Bytes> data, std::shared_ptr<const platform::UrlResponse>,
            std::optional<Error> error) {
            EXPECT_FALSE(error);
            reply = data.value_or(Bytes{});
            replied = true;
        });
    EXPECT_EQ(task->countOfBytesExpectedToSend(), 300000);
    const auto missing =
        session->uploadTaskWithRequest(put, platform::Url::fileUrl(folder.path() / "missing.bin"));
    task->resume();
    missing->resume();
    ASSERT_TRUE(waitUntil([&] { return replied.load(); }));
    ASSERT_TRUE(recorder->waitForCompletion(missing));

    const std::string json = platform::toString(*reply);
    EXPECT_NE(json.find("[\"Content-Length\", \"300000\"]"), std::string::npos) << json;
    EXPECT_EQ(json.find("chunked"), std::string::npos);
    EXPECT_NE(json.find("\"method\": \"PUT\""), std::string::npos);
    const std::string encoded = testing_support::runPython(
        "import base64, sys; print(base64.b64encode(sys.stdin.buffer.read()).decode())",
        std::string(body.begin(), body.end()));
    EXPECT_NE(json.find(encoded.substr(0, encoded.size() - 1)), std::string::npos);
    // Progress still reaches the delegate of a task with a completion handler.
    EXPECT_EQ(recorder->log(task).events, std::vector<std::string>{"send"});
    EXPECT_EQ(recorder->log(task).sent, 300000);
    EXPECT_EQ(recorder->log(missing).error->code(), platform::kUrlErrorFileDoesNotExist);
}

TEST_F(UrlSessionLoopbackTest, StreamedUploadTakesItsBodyFromTheDelegate) {
    auto recorder = std::make_shared<Recorder>();
    const Bytes body = pattern(200000);
    recorder->onNeedStream = [&](platform::UrlSessionBodyStreamCompletion completion) {
        // Given later, from another thread.
        std::thread([completion, &body] {
            completion(platform::InputStream::withData(body));
        }).detach();
    };
    auto session = makeSession(recorder);
    UrlRequest post = request("/upload");
    post.setHttpMethod("POST");
    const auto task = session->uploadTaskWithStreamedRequest(post);
    task->resume();
    ASSERT_TRUE(recorder->waitForCompletion(task));
    const auto log = recorder->log(task);
    EXPECT_FALSE(log.error);
    EXPECT_EQ(log.events.front(), "need stream");
    EXPECT_EQ(log.expectedToSend, platform::kUrlSessionTransferSizeUnknown);
    const auto reply = platform::toString(log.data);
    EXPECT_NE(reply.find("\"length\": 200000"), std::string::npos) << reply;
    EXPECT_NE(reply.find(sha256(body)), std::string::npos) << reply;
}

// --- downloads ------------------------------------------------------------------------------

TEST_F(UrlSessionLoopbackTest, DownloadsToATemporaryFileRemovedAfterTheCallback) {
    auto recorder = std::make_shared<Recorder>();
    auto session = makeSession(recorder);
    const auto task = session->downloadTaskWithRequest(request("/bytes/250000"));
    task->resume();
    ASSERT_TRUE(recorder->waitForCompletion(task));
    const auto log = recorder->log(task);
    EXPECT_EQ(log.events, (std::vector<std::string>{"write", "finish", "complete"}));
    EXPECT_EQ(log.downloaded, pattern(250000));
    EXPECT_EQ(log.written, 250000);
    EXPECT_EQ(log.expectedToWrite, 250000);
    EXPECT_EQ(std::filesystem::path(log.location).parent_path(), platform::AppFolders::temporary());
    EXPECT_FALSE(std::filesystem::exists(log.location));

    // Written on the session's delegate queue; `done` is set last.
    std::optional<Bytes> handed;
    std::string location;
    std::atomic<bool> done{false};
    const auto withHandler = session->downloadTaskWithRequest(
        request("/bytes/1000"),
        [&](std::optional<platform::Url> file, std::shared_ptr<const platform::UrlResponse>,
            std::optional<Error> error) {
            struct SetLast {
                std::atomic<bool>& flag;
                ~SetLast() { flag = true; }
            } setLast{done};
            EXPECT_FALSE(error);
            ASSERT_TRUE(file);
            location = file->path();
            handed = readFile(location);
        });
    withHandler->resume();
    ASSERT_TRUE(waitUntil([&] { return done.load(); }));
    ASSERT_TRUE(handed.has_value());
    EXPECT_EQ(*handed, pattern(1000));
    EXPECT_TRUE(waitUntil([&] { return !std::filesystem::exists(location); }));
    EXPECT_TRUE(recorder->log(withHandler).events.empty());
}

TEST_F(UrlSessionLoopbackTest, CancelledDownloadGoesOnWithARangeFromItsResumeData) {
    auto recorder = std::make_shared<Recorder>();
    std::atomic<bool> enough{false};
    recorder->onData = [&](const std::shared_ptr<UrlSessionTask>&, std::int64_t total) {
        enough = enough || total >= 20000;
    };
    auto session = makeSession(recorder);
    rangeLines(0);
    const auto first = session->downloadTaskWithRequest(request("/range?chunk=4096&delay=0.02"));
    first->resume();
    ASSERT_TRUE(waitUntil([&] { return enough.load(); }));

    std::optional<Bytes> resumeData;
    bool produced = false;
    first->cancelByProducingResumeData([&](std::optional<Bytes> data) {
        resumeData = std::move(data);
        produced = true;
    });
    ASSERT_TRUE(recorder->waitForCompletion(first));
    ASSERT_TRUE(produced);
    ASSERT_TRUE(resumeData);
    const auto error = recorder->log(first).error;
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code(), platform::kUrlErrorCancelled);
    EXPECT_EQ(error->userInfo()[platform::kUrlSessionDownloadTaskResumeData],
              platform::Value(*resumeData));
    EXPECT_EQ(recorder->log(first).events.back(), "complete -999");

    const auto plist = platform::PropertyList::read(*resumeData);
    ASSERT_TRUE(plist);
    const std::int64_t offset = (*plist)["NSURLSessionResumeBytesReceived"].integerValue();
    const std::string file = (*plist)["NSURLSessionResumeInfoLocalPath"].stringValue();
    EXPECT_GE(offset, 20000);
    EXPECT_LT(offset, 100000);
    EXPECT_EQ((*plist)["NSURLSessionResumeEntityTag"].stringValue(), "\"range-body-1\"");
    EXPECT_EQ((*plist)["NSURLSessionDownloadURL"].stringValue(),
              peer_->baseUrl() + "/range?chunk=4096&delay=0.02");
    ASSERT_TRUE(std::filesystem::exists(file));
    EXPECT_EQ(readFile(file), Bytes(pattern(offset)));

    const auto second = session->downloadTaskWithResumeData(*resumeData);
    second->resume();
    ASSERT_TRUE(recorder->waitForCompletion(second));
    const auto log = recorder->log(second);
    EXPECT_FALSE(log.error);
    EXPECT_EQ(log.events.front(), "resume " + std::to_string(offset));
    EXPECT_EQ(log.expectedToWrite, 100000);
    EXPECT_EQ(log.written, 100000);
    EXPECT_EQ(log.downloaded, pattern(100000));
    EXPECT_EQ(second->countOfBytesReceived(), 100000 - offset);
    EXPECT_FALSE(std::filesystem::exists(file));

    const auto lines = rangeLines(2);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "range range=None if-range=None");
    EXPECT_EQ(lines[1],
              "range range=bytes=" + std::to_string(offset) + "- if-range=\"range-body-1\"");
}

TEST_F(UrlSessionLoopbackTest, AWeakEntityTagMakesNoResumeData) {
    // "If-Range" takes a strong validator only: with nothing else to go on, a cancelled
    // download cannot be resumed.
    auto recorder = std::make_shared<Recorder>();
    std::atomic<bool> started{false};
    recorder->onData = [&](const std::shared_ptr<UrlSessionTask>&, std::int64_t total) {
        started = started || total > 0;
    };
    auto session = makeSession(recorder);
    const auto task =
        session->downloadTaskWithRequest(request("/range?weak=1&chunk=4096&delay=0.02"));
    task->resume();
    ASSERT_TRUE(waitUntil([&] { return started.load(); }));
    std::optional<Bytes> resumeData = Bytes{1};
    bool produced = false;
    task->cancelByProducingResumeData([&](std::optional<Bytes> data) {
        resumeData = std::move(data);
        produced = true;
    });
    ASSERT_TRUE(recorder->waitForCompletion(task));
    ASSERT_TRUE(waitUntil([&] { return produced; }));
    EXPECT_FALSE(resumeData);
    rangeLines(1);
}

TEST_F(UrlSessionLoopbackTest, AServerThatIgnoresTheRangeStartsTheFileAgain) {
    auto recorder = std::make_shared<Recorder>();
    std::atomic<bool> enough{false};
    recorder->onData = [&](const std::shared_ptr<UrlSessionTask>&, std::int64_t total) {
        enough = enough || total >= 20000;
    };
    auto session = makeSession(recorder);
    rangeLines(0);
    const auto first = session->downloadTaskWithRequest(request("/norange?chunk=4096&delay=0.02"));
    first->resume();
    ASSERT_TRUE(waitUntil([&] { return enough.load(); }));
    std::optional<Bytes> resumeData;
    first->cancelByProducingResumeData(
        [&](std::optional<Bytes> data) { resumeData = std::move(data); });
    ASSERT_TRUE(recorder->waitForCompletion(first));
    ASSERT_TRUE(resumeData);

    const auto second = session->downloadTaskWithResumeData(*resumeData);
    second->resume();
    ASSERT_TRUE(recorder->waitForCompletion(second));
    const auto log = recorder->log(second);
    EXPECT_FALSE(log.error);
    EXPECT_EQ(log.resumedAt, 0);
    EXPECT_EQ(log.downloaded, pattern(100000));  // the whole body once, nothing glued before it
    const auto lines = rangeLines(2);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[1].rfind("norange range=bytes=", 0), 0u) << lines[1];
}

TEST_F(UrlSessionLoopbackTest, ARangeThatDoesNotContinueTheFileFailsTheDownload) {
    auto recorder = std::make_shared<Recorder>();
    std::atomic<bool> enough{false};
    recorder->onData = [&](const std::shared_ptr<UrlSessionTask>&, std::int64_t total) {
        enough = enough || total >= 20000;
    };
    auto session = makeSession(recorder);
    const auto first =
        session->downloadTaskWithRequest(request("/range?chunk=4096&delay=0.02&skew=7"));
    first->resume();
    ASSERT_TRUE(waitUntil([&] { return enough.load(); }));
    std::optional<Bytes> resumeData;
    first->cancelByProducingResumeData(
        [&](std::optional<Bytes> data) { resumeData = std::move(data); });
    ASSERT_TRUE(recorder->waitForCompletion(first));
    ASSERT_TRUE(resumeData);
    const auto file = platform::PropertyList::read(*resumeData)
                          ->
                          operator[]("NSURLSessionResumeInfoLocalPath")
                          .stringValue();

    const auto second = session->downloadTaskWithResumeData(*resumeData);
    second->resume();
    ASSERT_TRUE(recorder->waitForCompletion(second));
    ASSERT_TRUE(recorder->log(second).error);
    EXPECT_EQ(recorder->log(second).error->code(), platform::kUrlErrorBadServerResponse);
    EXPECT_TRUE(recorder->log(second).downloaded.empty());
    EXPECT_FALSE(std::filesystem::exists(file));
    rangeLines(2);
}

TEST_F(UrlSessionLoopbackTest, ResumeDataCannotPointTheDownloadAtAnotherFile) {
    testing_support::TempDir folder;
    const auto outside = folder.path() / "precious.txt";
    std::ofstream(outside) << "do not touch";
    const auto resumeData = platform::PropertyList::write(
        platform::Value(platform::Map{{"NSURLSessionDownloadURL", peer_->baseUrl() + "/range"},
                                      {"NSURLSessionResumeBytesReceived", 5},
                                      {"NSURLSessionResumeInfoLocalPath", outside.string()},
                                      {"NSURLSessionResumeEntityTag", "\"range-body-1\""}}),
        platform::PropertyList::Format::kBinary);
    auto recorder = std::make_shared<Recorder>();
    auto session = makeSession(recorder);
    rangeLines(0);
    const auto task = session->downloadTaskWithResumeData(*resumeData);
    task->resume();
    ASSERT_TRUE(recorder->waitForCompletion(task));
    EXPECT_EQ(recorder->log(task).resumedAt, 0);
    EXPECT_EQ(recorder->log(task).downloaded, pattern(100000));
    EXPECT_EQ(platform::toString(readFile(outside)), "do not touch");
    EXPECT_EQ(rangeLines(1).at(0), "range range=None if-range=None");
}

// --- suspension -----------------------------------------------------------------------------

TEST_F(UrlSessionLoopbackTest, SuspendPausesATransferAndItsTimeOut) {
    auto recorder = std::make_shared<Recorder>();
    auto session = makeSession(recorder);
    // One byte every 10 ms, with a time-out shorter than the pause below (and long enough
    // that a busy machine's gaps between bytes do not reach it).
    const auto task = session->dataTaskWithRequest(request("/slow/150?delay=0.01", 1));
    task->resume();
    ASSERT_TRUE(waitUntil([&] { return task->countOfBytesReceived() >= 10; }));
    task->suspend();
    EXPECT_EQ(task->state(), UrlSessionTaskState::kSuspended);
    // Once the network thread has taken the pause, nothing more comes.
    ASSERT_TRUE(networkThreadCaughtUp());
    const auto settled = task->countOfBytesReceived();
    EXPECT_FALSE(waitUntil([&] { return task->countOfBytesReceived() > settled; }, 1.5));
    EXPECT_LT(settled, 150);
    EXPECT_FALSE(recorder->completed(task));

    task->resume();
    ASSERT_TRUE(recorder->waitForCompletion(task));
    EXPECT_FALSE(recorder->log(task).error);
    EXPECT_EQ(recorder->log(task).data, pattern(150));

    // Suspended as soon as it starts, while it connects. The body takes a second, so that a
    // main thread held back by a busy machine cannot see it arrive whole before it suspends,
    // while a forgotten pause still ends it within the wait below.
    const auto early = session->downloadTaskWithRequest(request("/slow/100?delay=0.01", 1));
    early->resume();
    early->suspend();
    EXPECT_FALSE(recorder->waitForCompletion(early, 1.5));
    early->resume();
    ASSERT_TRUE(recorder->waitForCompletion(early));
    EXPECT_FALSE(recorder->log(early).error) << recorder->log(early).error->description();
    EXPECT_EQ(recorder->log(early).downloaded, pattern(100));
}

TEST_F(UrlSessionLoopbackTest, SuspendPausesAnUploadToo) {
    auto recorder = std::make_shared<Recorder>();
    auto session = makeSession(recorder);
    UrlRequest post = request("/upload", 1);
    post.setHttpMethod("POST");
    const Bytes body = pattern(16 << 20);
    const auto task = session->uploadTaskWithRequest(post, body);
    task->resume();
    ASSERT_TRUE(waitUntil([&] { return task->countOfBytesSent() > 0; }));
    task->suspend();
    ASSERT_TRUE(networkThreadCaughtUp());
    const auto settled = task->countOfBytesSent();
    EXPECT_FALSE(waitUntil([&] { return task->countOfBytesSent() > settled; }, 1.5));
    EXPECT_LT(settled, 16 << 20);
    task->resume();
    ASSERT_TRUE(recorder->waitForCompletion(task));
    EXPECT_FALSE(recorder->log(task).error);
    EXPECT_NE(platform::toString(recorder->log(task).data).find(sha256(body)), std::string::npos);
}

// --- answers the network thread waits for ---------------------------------------------------

TEST_F(UrlSessionLoopbackTest, ChallengesAndRedirectsAreAnsweredThroughHandlers) {
    auto recorder = std::make_shared<Recorder>();
    recorder->onChallenge = [](const platform::AuthenticationChallenge& challenge,
                               platform::UrlSessionChallengeCompletion completion) {
        EXPECT_EQ(challenge.protectionSpace().realm(), "peer");
        std::thread([completion] {
            completion(platform::UrlSessionAuthChallengeDisposition::kUseCredential,
                       platform::Credential("u", "p", platform::CredentialPersistence::kNone));
        }).detach();
    };
    recorder->onRedirect = [](const UrlRequest& next,
                              platform::UrlSessionRedirectCompletion completion) {
        if (next.url().rawPath() == "/echo") {
            completion(std::nullopt);  // the last hop is refused
        } else {
            completion(next);
        }
    };
    auto session = makeSession(recorder);
    const auto basic = session->dataTaskWithRequest(request("/basic"));
    const auto redirect = session->dataTaskWithRequest(request("/redirect/2"));
    basic->resume();
    redirect->resume();
    ASSERT_TRUE(recorder->waitForCompletion(basic));
    ASSERT_TRUE(recorder->waitForCompletion(redirect));
    EXPECT_EQ(platform::toString(recorder->log(basic).data), "welcome");
    EXPECT_EQ(recorder->log(basic).events.front(),
              std::string("challenge ") + platform::kAuthenticationMethodHttpBasic);
    EXPECT_EQ(recorder->log(redirect).events,
              (std::vector<std::string>{"redirect 302", "redirect 302", "response 302", "data",
                                        "complete"}));
    EXPECT_EQ(redirect->currentRequest().url().rawPath(), "/redirect/1");
}

TEST_F(UrlSessionLoopbackTest, NoCredentialOrCookieFollowsARedirectToAnotherOrigin) {
    testing_support::PeerProcess other = testing_support::PeerProcess::python("http_peer.py");
    auto recorder = std::make_shared<Recorder>();
    std::atomic<int> challenges{0};
    recorder->onChallenge = [&](const platform::AuthenticationChallenge&,
                                platform::UrlSessionChallengeCompletion completion) {
        ++challenges;
        completion(platform::UrlSessionAuthChallengeDisposition::kUseCredential,
                   platform::Credential("u", "p", platform::CredentialPersistence::kNone));
    };
    auto configuration = UrlSessionConfiguration::defaultSessionConfiguration();
    platform::HeaderFields extra;
    extra.add("Cookie", "session=secret");
    extra.add("Proxy-Authorization", "Basic cHJveHk6cHc=");
    configuration.setHttpAdditionalHeaders(extra);
    auto session = UrlSession::create(configuration, recorder, nullptr);
    sessions_.push_back(session);

    const auto task =
        session->dataTaskWithRequest(request("/basic?to=" + other.baseUrl() + "/echo"));
    task->resume();
    ASSERT_TRUE(recorder->waitForCompletion(task));
    const std::string echo = platform::toString(recorder->log(task).data);
    EXPECT_EQ(challenges, 1);
    EXPECT_NE(echo.find("\"/echo\""), std::string::npos) << echo;
    for (const char* name : {"Authorization", "Proxy-Authorization", "Cookie"}) {
        EXPECT_EQ(echo.find(std::string("\"") + name + "\""), std::string::npos) << name;
    }
}

TEST_F(UrlSessionLoopbackTest, ADelegateThatDoesNotAnswerIsNotWaitedFor) {
    auto recorder = std::make_shared<Recorder>();
    recorder->absent = {UrlSessionDelegateCallback::kTaskDidReceiveChallenge,
                        UrlSessionDelegateCallback::kSessionDidReceiveChallenge,
                        UrlSessionDelegateCallback::kTaskWillPerformHttpRedirection,
                        UrlSessionDelegateCallback::kDataTaskDidReceiveResponse};
    auto queue = std::make_shared<platform::OperationQueue>();
    auto session = makeSession(recorder, queue);
    // Nothing runs on the delegate queue meanwhile: the loads must not need it.
    queue->setSuspended(true);
    // Were the delegate waited for, the time-out would end both.
    const auto basic = session->dataTaskWithRequest(request("/basic", 2));
    const auto redirect = session->dataTaskWithRequest(request("/redirect/3", 2));
    basic->resume();
    redirect->resume();
    ASSERT_TRUE(waitUntil([&] {
        return basic->state() == UrlSessionTaskState::kCompleted &&
               redirect->state() == UrlSessionTaskState::kCompleted;
    }));
    queue->setSuspended(false);
    ASSERT_TRUE(recorder->waitForCompletion(basic));
    ASSERT_TRUE(recorder->waitForCompletion(redirect));
    EXPECT_EQ(dynamic_cast<const platform::HttpUrlResponse&>(*basic->response()).statusCode(), 401);
    EXPECT_EQ(recorder->log(redirect).events, (std::vector<std::string>{"data", "complete"}));
    EXPECT_EQ(redirect->currentRequest().url().rawPath(), "/echo");
}

TEST_F(UrlSessionLoopbackTest, AnAnswerThatNeverComesTimesTheTaskOut) {
    auto recorder = std::make_shared<Recorder>();
    auto queue = std::make_shared<platform::OperationQueue>();
    auto session = makeSession(recorder, queue);
    queue->setSuspended(true);
    const auto task = session->dataTaskWithRequest(request("/basic", 0.5));
    task->resume();
    ASSERT_TRUE(waitUntil([&] { return task->state() == UrlSessionTaskState::kCompleted; }, 5));
    queue->setSuspended(false);
    ASSERT_TRUE(recorder->waitForCompletion(task));
    EXPECT_EQ(recorder->log(task).error->code(), platform::kUrlErrorTimedOut);
    // The challenge that came too late is not shown to the delegate either.
    EXPECT_EQ(recorder->log(task).events, std::vector<std::string>{"complete -1001"});
}

TEST_F(UrlSessionLoopbackTest, AServersTrustIsAskedOfTheSessionThenOfTheTask) {
    auto server = testing_support::tlsPeer("selfsigned.pem", "selfsigned");
    const UrlRequest https(
        *platform::Url::parse("https://127.0.0.1:" + std::to_string(server.port()) + "/"));

    // The session's answer vouches for the server.
    auto vouching = std::make_shared<Recorder>();
    vouching->onChallenge = [](const platform::AuthenticationChallenge& challenge,
                               platform::UrlSessionChallengeCompletion completion) {
        completion(platform::UrlSessionAuthChallengeDisposition::kUseCredential,
                   platform::Credential(challenge.protectionSpace().serverTrust()));
    };
    const auto trusted = makeSession(vouching)->dataTaskWithRequest(https);
    trusted->resume();
    ASSERT_TRUE(vouching->waitForCompletion(trusted));
    EXPECT_EQ(platform::toString(vouching->log(trusted).data), "trusted\n");
    EXPECT_EQ(vouching->log(0).events, std::vector<std::string>{"session challenge"});

    // Without the session's callback the task's is asked; cancelling refuses the server.
    auto refusing = std::make_shared<Recorder>();
    refusing->absent = {UrlSessionDelegateCallback::kSessionDidReceiveChallenge};
    refusing->onChallenge = [](const platform::AuthenticationChallenge&,
                               platform::UrlSessionChallengeCompletion completion) {
        completion(platform::UrlSessionAuthChallengeDisposition::kCancelAuthenticationChallenge,
                   std::nullopt);
    };
    const auto refused = makeSession(refusing)->dataTaskWithRequest(https);
    refused->resume();
    ASSERT_TRUE(refusing->waitForCompletion(refused));
    EXPECT_EQ(refusing->log(refused).events.front(),
              std::string("challenge ") + platform::kAuthenticationMethodServerTrust);
    EXPECT_EQ(refusing->log(refused).error->code(), platform::kUrlErrorServerCertificateUntrusted);

    // Without either, the platform's own judgement: a self-signed server is not trusted.
    auto silent = std::make_shared<Recorder>();
    silent->absent = {UrlSessionDelegateCallback::kSessionDidReceiveChallenge,
                      UrlSessionDelegateCallback::kTaskDidReceiveChallenge};
    const auto judged = makeSession(silent)->dataTaskWithRequest(https);
    judged->resume();
    ASSERT_TRUE(silent->waitForCompletion(judged));
    EXPECT_EQ(silent->log(judged).error->code(), platform::kUrlErrorServerCertificateUntrusted);
}

// --- invalidation and order ----------------------------------------------------------------

TEST_F(UrlSessionLoopbackTest, FinishingLetsRunningTasksEndThenInvalidates) {
    auto recorder = std::make_shared<Recorder>();
    std::weak_ptr<Recorder> watch = recorder;
    auto session = makeSession(recorder);
    const auto task = session->dataTaskWithRequest(request("/slow/30?delay=0.01"));
    task->resume();
    session->finishTasksAndInvalidate();
    EXPECT_THROW(session->dataTaskWithRequest(request("/echo")), std::logic_error);
    ASSERT_TRUE(waitUntil([&] { return recorder->invalid(); }));
    EXPECT_EQ(recorder->log(task).data, pattern(30));
    EXPECT_EQ(recorder->order(),
              (std::vector<std::string>{"complete " + std::to_string(task->taskIdentifier()),
                                        "invalid"}));
    recorder.reset();
    EXPECT_TRUE(waitUntil([&] { return watch.expired(); }));
}

TEST_F(UrlSessionLoopbackTest, InvalidatingAndCancellingEndsEveryTask) {
    auto recorder = std::make_shared<Recorder>();
    auto session = makeSession(recorder);
    const auto stalled = session->dataTaskWithRequest(request("/stall"));
    const auto download = session->downloadTaskWithRequest(request("/range?chunk=1000&delay=0.05"));
    const auto idle = session->dataTaskWithRequest(request("/echo"));
    stalled->resume();
    download->resume();
    ASSERT_TRUE(waitUntil([&] { return stalled->countOfBytesReceived() > 0; }));
    ASSERT_TRUE(waitUntil([&] { return download->countOfBytesReceived() > 0; }));
    session->invalidateAndCancel();
    ASSERT_TRUE(waitUntil([&] { return recorder->invalid(); }));
    for (const auto& task : std::vector<std::shared_ptr<UrlSessionTask>>{stalled, download, idle}) {
        EXPECT_EQ(recorder->log(task).events.back(), "complete -999");
        EXPECT_EQ(task->state(), UrlSessionTaskState::kCompleted);
    }
    EXPECT_EQ(recorder->order().back(), "invalid");
    // The partial download's file went with it.
    const auto folder = platform::AppFolders::temporary();
    EXPECT_TRUE(waitUntil(
        [&] { return !std::filesystem::exists(folder) || std::filesystem::is_empty(folder); }));
}

TEST_F(UrlSessionLoopbackTest, CallbacksOfManyTasksRunOneAtATimeOnAQueueOfWidthTwo) {
    auto recorder = std::make_shared<Recorder>();
    auto queue = std::make_shared<platform::OperationQueue>();
    queue->setMaxConcurrentOperationCount(2);
    auto session = makeSession(recorder, queue);
    std::vector<std::shared_ptr<UrlSessionTask>> tasks;
    for (int i = 0; i < 4; ++i) {
        tasks.push_back(session->dataTaskWithRequest(request("/chunked/200000")));
        tasks.push_back(session->downloadTaskWithRequest(request("/bytes/150000")));
    }
    for (const auto& task : tasks) {
        task->resume();
    }
    session->finishTasksAndInvalidate();
    ASSERT_TRUE(waitUntil([&] { return recorder->invalid(); }));
    EXPECT_EQ(recorder->overlaps(), 0);
    EXPECT_EQ(recorder->onNetworkThread(), 0);
    for (std::size_t i = 0; i < tasks.size(); ++i) {
        const auto log = recorder->log(tasks[i]);
        if (i % 2 == 0) {
            EXPECT_EQ(log.events, (std::vector<std::string>{"response 200", "data", "complete"}));
            EXPECT_EQ(log.data, pattern(200000));
        } else {
            EXPECT_EQ(log.events, (std::vector<std::string>{"write", "finish", "complete"}));
            EXPECT_EQ(log.downloaded, pattern(150000));
        }
    }
    EXPECT_EQ(recorder->order().size(), tasks.size() + 1);
    EXPECT_EQ(recorder->order().back(), "invalid");
}

}  // namespace
