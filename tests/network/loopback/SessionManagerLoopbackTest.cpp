// The session managers against loopback servers: data, upload and download tasks, their
// notifications, invalidation, server trust, and the HTTP verbs.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <vector>

#include "SocialSDK/framework/network/RAZududeHTTPSessionManager.h"
#include "SocialSDK/framework/network/RAZududeMultipartFormData.h"
#include "SocialSDK/framework/network/RAZududeSecurityPolicy.h"
#include "SocialSDK/framework/network/RAZududeURLRequestSerialization.h"
#include "platform/Files.h"
#include "platform/net/NetworkThread.h"
#include "platform/net/ServerTrust.h"
#include "tests/network/SessionManagerTestSupport.h"
#include "tests/support/LoopbackPeers.h"
#include "tests/support/PeerProcess.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestCertificates.h"

namespace {

using namespace session_tests;
using testing_support::PeerProcess;
using Manager = RAZududeURLSessionManager;
using HTTPManager = RAZududeHTTPSessionManager;

PeerProcess httpPeer() {
    return PeerProcess::python("http_peer.py");
}

// Every notification of one name, with its sender, user information and thread.
class Recorder {
  public:
    explicit Recorder(const char* name) {
        token_ = platform::NotificationCenter::defaultCenter().addObserver(
            name, nullptr, [this](const platform::Notification& n) {
                std::lock_guard lock(mutex_);
                seen_.push_back(n);
                onMain_.push_back(platform::MainLoop::main().isMainThread());
            });
    }
    std::vector<platform::Notification> about(const void* object) const {
        std::lock_guard lock(mutex_);
        std::vector<platform::Notification> out;
        for (const auto& n : seen_) {
            if (n.object == object) {
                out.push_back(n);
            }
        }
        return out;
    }
    bool allOnMain() const {
        std::lock_guard lock(mutex_);
        for (bool main : onMain_) {
            if (!main) {
                return false;
            }
        }
        return true;
    }

  private:
    mutable std::mutex mutex_;
    std::vector<platform::Notification> seen_;
    std::vector<bool> onMain_;
    platform::ObserverToken token_;
};

TEST(SessionManagerLoopback, AJSONBodyIsParsedAndTheCompleteNotificationCarriesIt) {
    auto peer = httpPeer();
    auto manager = Manager::create();
    SessionEnder ender(manager);
    Recorder complete(RAZNetworkingTaskDidCompleteNotification);
    Completion done;
    auto task =
        manager->dataTaskWithRequest(requestFor(peer.baseUrl() + "/json/200"), done.handler());
    task->resume();
    ASSERT_TRUE(pumpUntil([&] { return !complete.about(task.get()).empty(); }));
    EXPECT_EQ(done.calls, 1);
    EXPECT_TRUE(done.onMainThread);
    EXPECT_FALSE(done.error);
    ASSERT_TRUE(done.object.value());
    EXPECT_EQ((*done.object.value())["status"].intValue(), 200);
    // The completion is posted before the session's delegate queue lets the task go, so the
    // main thread can see it first.
    EXPECT_TRUE(pumpUntil([&] { return !manager->delegateForTask(task); })) << "gone once complete";

    const auto notes = complete.about(task.get());
    ASSERT_EQ(notes.size(), 1u);
    const auto& info = notes.front().userInfo;
    EXPECT_EQ(info[RAZNetworkingTaskDidCompleteResponseSerializerKey].stringValue(),
              "RAZududeJSONResponseSerializer");
    EXPECT_EQ(info[RAZNetworkingTaskDidCompleteSerializedResponseKey]["path"].stringValue(),
              "/json/200");
    EXPECT_FALSE(info[RAZNetworkingTaskDidCompleteResponseDataKey].isNull());
    EXPECT_TRUE(info[RAZNetworkingTaskDidCompleteErrorKey].isNull());
    EXPECT_TRUE(complete.allOnMain());
}

// A serializer that hands the body on runs on the completion queue, and the complete
// notification, made there only for observers, tells a refused status and a cancel apart.
TEST(SessionManagerLoopback, ThePassThroughSerializerRunsOnTheCompletionQueueAndEachEndIsTold) {
    auto peer = httpPeer();
    auto manager = Manager::create();
    SessionEnder ender(manager);
    manager->setResponseSerializer(RAZududeHTTPResponseSerializer::serializer());
    const auto queue = platform::DispatchQueue::serial("test.completion");
    manager->setCompletionQueue(queue);
    Recorder complete(RAZNetworkingTaskDidCompleteNotification);

    std::atomic<int> onQueue{0};
    Completion refused;
    auto handler = refused.handler();
    auto task = manager->dataTaskWithRequest(
        requestFor(peer.baseUrl() + "/json/404"),
        [&, handler](const auto& r, const RAZududeResponseObject& o, const auto& e) {
            onQueue += queue->isCurrent() ? 1 : 0;
            handler(r, o, e);
        });
    task->resume();
    ASSERT_TRUE(pumpUntil([&] { return !complete.about(task.get()).empty(); }));
    EXPECT_EQ(onQueue, 1);
    ASSERT_TRUE(refused.error);
    EXPECT_EQ(refused.error->code(), platform::kUrlErrorBadServerResponse);
    ASSERT_TRUE(refused.object.data()) << "the body is handed on with the refusal";
    const auto info = complete.about(task.get()).front().userInfo;
    EXPECT_EQ(info[RAZNetworkingTaskDidCompleteResponseSerializerKey].stringValue(),
              "RAZududeHTTPResponseSerializer");
    ASSERT_TRUE(info[RAZNetworkingTaskDidCompleteResponseDataKey].bytes());
    EXPECT_EQ(*info[RAZNetworkingTaskDidCompleteResponseDataKey].bytes(), *refused.object.data());
    EXPECT_TRUE(info[RAZNetworkingTaskDidCompleteSerializedResponseKey].bytes());
    EXPECT_EQ(info[RAZNetworkingTaskDidCompleteErrorKey]["code"].intValue(),
              platform::kUrlErrorBadServerResponse);

    Completion cancelled;
    auto stalled =
        manager->dataTaskWithRequest(requestFor(peer.baseUrl() + "/stall"), cancelled.handler());
    stalled->resume();
    stalled->cancel();
    ASSERT_TRUE(pumpUntil([&] { return !complete.about(stalled.get()).empty(); }));
    EXPECT_EQ(cancelled.error->code(), platform::kUrlErrorCancelled);
    EXPECT_FALSE(cancelled.object) << "no serializer runs for a load that failed";
    const auto gone = complete.about(stalled.get()).front().userInfo;
    EXPECT_EQ(gone[RAZNetworkingTaskDidCompleteErrorKey]["code"].intValue(),
              platform::kUrlErrorCancelled);
    EXPECT_TRUE(gone[RAZNetworkingTaskDidCompleteSerializedResponseKey].isNull());
    EXPECT_TRUE(complete.allOnMain());
}

TEST(SessionManagerLoopback, A404WithAJSONBodyGivesTheParsedObjectAndBadServerResponse) {
    auto peer = httpPeer();
    auto manager = Manager::create();
    SessionEnder ender(manager);
    Completion done;
    manager->dataTaskWithRequest(requestFor(peer.baseUrl() + "/json/404"), done.handler())
        ->resume();
    ASSERT_TRUE(pumpUntil([&] { return done.done(); }));
    EXPECT_EQ(done.status(), 404);
    ASSERT_TRUE(done.error);
    EXPECT_EQ(done.error->code(), platform::kUrlErrorBadServerResponse);
    ASSERT_TRUE(done.object.value());
    EXPECT_EQ((*done.object.value())["status"].intValue(), 404);
}

TEST(SessionManagerLoopback, AStreamedUploadSendsTheRequestsOwnStreamAndCountsToContentLength) {
    auto peer = httpPeer();
    auto manager = Manager::create();
    SessionEnder ender(manager);
    const platform::Bytes body(50000, 'u');
    auto request = requestFor(peer.baseUrl() + "/upload");
    request.setHttpMethod("POST");
    request.setValue(std::to_string(body.size()), "Content-Length");
    request.setHttpBodyStream(platform::InputStream::withData(body));
    std::shared_ptr<RAZududeProgress> progress;
    std::atomic<int> sends{0};
    manager->setTaskDidSendBodyDataBlock(
        [&](const auto&, const auto&, auto, auto, auto) { ++sends; });
    Completion done;
    auto task = manager->uploadTaskWithStreamedRequest(request, &progress, done.handler());
    EXPECT_EQ(progress->totalUnitCount(), 50000);
    task->resume();
    ASSERT_TRUE(pumpUntil([&] { return done.done(); }));
    ASSERT_FALSE(done.error) << done.error->description();
    EXPECT_EQ((*done.object.value())["length"].intValue(), 50000);
    EXPECT_GT(sends.load(), 0);
    EXPECT_EQ(progress->totalUnitCount(), 50000);
    EXPECT_EQ(progress->completedUnitCount(), 50000);
}

TEST(SessionManagerLoopback, ProgressPauseSuspendsTheTask) {
    auto peer = httpPeer();
    auto manager = Manager::create();
    SessionEnder ender(manager);
    std::shared_ptr<RAZududeProgress> progress;
    auto task = manager->uploadTaskWithRequest(requestFor(peer.baseUrl() + "/upload"),
                                               platform::Bytes(10, 'x'), &progress, nullptr);
    task->resume();
    progress->pause();
    EXPECT_EQ(task->state(), platform::UrlSessionTaskState::kSuspended);
    progress->cancel();
    EXPECT_TRUE(
        pumpUntil([&] { return task->state() == platform::UrlSessionTaskState::kCompleted; }));
}

TEST(SessionManagerLoopback, ADownloadIsMovedToItsDestinationAndReportedAsTheFileURL) {
    auto peer = httpPeer();
    testing_support::TempDir dir;
    auto manager = Manager::create();
    SessionEnder ender(manager);
    Recorder complete(RAZNetworkingTaskDidCompleteNotification);
    const auto target = platform::Url::fileUrl(dir.path() / "got.bin");
    std::shared_ptr<RAZududeProgress> progress;
    Completion done;
    auto task = manager->downloadTaskWithRequest(
        requestFor(peer.baseUrl() + "/bytes/70000"), &progress,
        [&](const platform::Url&, const auto&) { return target; }, done.handler());
    task->resume();
    ASSERT_TRUE(pumpUntil([&] { return !complete.about(task.get()).empty(); }));
    ASSERT_FALSE(done.error) << done.error->description();
    EXPECT_EQ(done.object.value()->stringValue(), target.absoluteString());
    const auto bytes = platform::Files::read(dir.path() / "got.bin");
    ASSERT_TRUE(bytes);
    ASSERT_EQ(bytes->size(), 70000u);
    EXPECT_EQ((*bytes)[257], 1);
    EXPECT_EQ(progress->completedUnitCount(), 70000);
    const auto notes = complete.about(task.get());
    ASSERT_EQ(notes.size(), 1u);
    const auto& info = notes.front().userInfo;
    EXPECT_EQ(info[RAZNetworkingTaskDidCompleteAssetPathKey].stringValue(),
              target.absoluteString());
    EXPECT_TRUE(info[RAZNetworkingTaskDidCompleteResponseDataKey].isNull());
}

TEST(SessionManagerLoopback, ADownloadThatCannotBeMovedFailsItsCompletionAndSaysSo) {
    auto peer = httpPeer();
    testing_support::TempDir dir;
    auto manager = Manager::create();
    SessionEnder ender(manager);
    Recorder moveFailed(RAZURLSessionDownloadTaskDidFailToMoveFileNotification);
    const auto target = platform::Url::fileUrl(dir.path() / "no-such-folder" / "got.bin");
    Completion done;
    auto task = manager->downloadTaskWithRequest(
        requestFor(peer.baseUrl() + "/bytes/100"), nullptr,
        [&](const platform::Url&, const auto&) { return target; }, done.handler());
    task->resume();
    ASSERT_TRUE(pumpUntil([&] { return done.done(); }));
    ASSERT_TRUE(done.error) << "a file that is not there is no success";
    EXPECT_EQ(done.error->domain(), platform::kCocoaErrorDomain);
    EXPECT_FALSE(done.object);
    EXPECT_EQ(moveFailed.about(task.get()).size(), 1u);

    // The manager-wide destination block takes the same road.
    Completion second;
    manager->setDownloadTaskDidFinishDownloadingBlock(
        [&](const auto&, const auto&, const auto&) { return target; });
    auto other = manager->downloadTaskWithRequest(requestFor(peer.baseUrl() + "/bytes/100"),
                                                  nullptr, nullptr, second.handler());
    other->resume();
    ASSERT_TRUE(pumpUntil([&] { return second.done(); }));
    EXPECT_TRUE(second.error);
    EXPECT_EQ(moveFailed.about(other.get()).size(), 1u);
}

TEST(SessionManagerLoopback, InvalidatingWithCancelEndsRunningTasksAndClearsTheDelegates) {
    auto peer = httpPeer();
    auto manager = Manager::create();
    Completion done;
    auto task = manager->dataTaskWithRequest(requestFor(peer.baseUrl() + "/stall"), done.handler());
    task->resume();
    std::atomic<bool> invalidBlock{false};
    manager->setSessionDidBecomeInvalidBlock(
        [&](const auto&, const auto&) { invalidBlock = true; });
    ASSERT_TRUE(endSession(manager, true));
    EXPECT_TRUE(invalidBlock.load());
    ASSERT_TRUE(pumpUntil([&] { return done.done(); }));
    EXPECT_EQ(done.error->code(), platform::kUrlErrorCancelled);
    EXPECT_FALSE(manager->delegateForTask(task));
    EXPECT_THROW(manager->dataTaskWithRequest(requestFor(peer.baseUrl() + "/json"), nullptr),
                 std::logic_error);
}

TEST(SessionManagerLoopback, InvalidatingWithoutCancelLetsTasksFinish) {
    auto peer = httpPeer();
    auto manager = Manager::create();
    manager->setResponseSerializer(RAZududeHTTPResponseSerializer::serializer());
    Completion done;
    manager->dataTaskWithRequest(requestFor(peer.baseUrl() + "/slow/20?delay=0.02"), done.handler())
        ->resume();
    ASSERT_TRUE(endSession(manager, false));
    ASSERT_TRUE(pumpUntil([&] { return done.done(); }));
    EXPECT_FALSE(done.error);
    ASSERT_TRUE(done.object.data());
    EXPECT_EQ(done.object.data()->size(), 20u);
}

// Without blocks of the app's, a task's bytes and end are handed on from the network thread;
// the app's blocks still run on the delegate queue's workers, whatever may block in them.
TEST(SessionManagerLoopback, TheAppsBlocksNeverRunOnTheNetworkThread) {
    auto peer = httpPeer();
    auto manager = Manager::create();
    manager->setResponseSerializer(RAZududeHTTPResponseSerializer::serializer());
    const std::string url = peer.baseUrl() + "/slow/20?delay=0.01";
    Completion plain;
    manager->dataTaskWithRequest(requestFor(url), plain.handler())->resume();
    ASSERT_TRUE(pumpUntil([&] { return plain.done(); }));
    ASSERT_TRUE(plain.object.data());
    EXPECT_EQ(plain.object.data()->size(), 20u);

    std::atomic<int> blocks{0}, onNetwork{0};
    auto note = [&] {
        ++blocks;
        onNetwork += platform::NetworkThread::shared().isCurrent() ? 1 : 0;
    };
    manager->setDataTaskDidReceiveDataBlock([&](const auto&, const auto&, const auto&) { note(); });
    manager->setTaskDidCompleteBlock([&](const auto&, const auto&, const auto&) { note(); });
    Completion watched;
    manager->dataTaskWithRequest(requestFor(url), watched.handler())->resume();
    ASSERT_TRUE(pumpUntil([&] { return watched.done(); }));
    ASSERT_TRUE(watched.object.data());
    EXPECT_EQ(watched.object.data()->size(), 20u);
    EXPECT_TRUE(watched.onMainThread);
    ASSERT_TRUE(pumpUntil([&] { return blocks >= 2; }));
    EXPECT_EQ(onNetwork, 0);
    ASSERT_TRUE(endSession(manager, true));
}

TEST(SessionManagerLoopback, OnlyTheOwningManagerRepostsResumeOnceOnTheMainQueue) {
    auto peer = httpPeer();
    auto owner = Manager::create();
    auto other = Manager::create();
    SessionEnder ownerEnder(owner);
    SessionEnder otherEnder(other);
    Recorder resumed(RAZNetworkingTaskDidResumeNotification);
    Recorder suspended(RAZNetworkingTaskDidSuspendNotification);
    Completion done;
    auto task =
        owner->dataTaskWithRequest(requestFor(peer.baseUrl() + "/json/200"), done.handler());
    task->resume();
    task->resume();  // already running: no second notification
    ASSERT_TRUE(pumpUntil([&] { return done.done(); }));
    drainMainLoop();
    EXPECT_EQ(resumed.about(task.get()).size(), 1u);
    EXPECT_TRUE(resumed.allOnMain());
    EXPECT_TRUE(suspended.about(task.get()).empty());

    // A task that ends before the main queue gets to its resume is still announced, resume
    // first, so that observers counting running tasks stay in balance.
    std::vector<std::string> order;
    auto& center = platform::NotificationCenter::defaultCenter();
    std::vector<platform::ObserverToken> tokens;
    for (const char* name :
         {RAZNetworkingTaskDidResumeNotification, RAZNetworkingTaskDidCompleteNotification}) {
        tokens.push_back(center.addObserver(
            name, nullptr, [&order](const platform::Notification& n) { order.push_back(n.name); }));
    }
    Completion cancelled;
    auto gone =
        owner->dataTaskWithRequest(requestFor(peer.baseUrl() + "/stall"), cancelled.handler());
    gone->resume();
    gone->cancel();
    ASSERT_TRUE(pumpUntil([&] { return cancelled.done(); }));
    drainMainLoop();
    EXPECT_EQ(resumed.about(gone.get()).size(), 1u);
    EXPECT_EQ(order, (std::vector<std::string>{RAZNetworkingTaskDidResumeNotification,
                                               RAZNetworkingTaskDidCompleteNotification}));
}

PeerProcess tlsPeer() {
    return testing_support::tlsPeer("chain.pem", "leaf");
}

TEST(SessionManagerLoopback, HTTPSIsJudgedByTheSecurityPolicyWithAndWithoutPinning) {
    testing_support::SystemAnchors anchors;
    auto peer = tlsPeer();
    const auto url = peer.baseUrl("https") + "/";
    const auto& certificates = testing_support::TestCertificates::shared();
    auto manager = Manager::create();
    SessionEnder ender(manager);
    manager->setResponseSerializer(RAZududeHTTPResponseSerializer::serializer());

    auto load = [&] {
        auto done = std::make_shared<Completion>();
        manager->dataTaskWithRequest(requestFor(url), done->handler())->resume();
        EXPECT_TRUE(pumpUntil([&] { return done->done(); }));
        return done;
    };
    auto trusted = load();
    EXPECT_FALSE(trusted->error) << trusted->error->description();
    EXPECT_EQ(*trusted->object.data(), platform::Bytes({'t', 'r', 'u', 's', 't', 'e', 'd', '\n'}));

    auto pinned =
        RAZududeSecurityPolicy::policyWithPinningMode(RAZududeSSLPinningMode::kCertificate);
    // With the chain validated, every certificate the server sends must be pinned.
    pinned->setPinnedCertificates(std::vector<platform::Bytes>{
        certificates.der("leaf"), certificates.der("inter"), certificates.der("root")});
    manager->setSecurityPolicy(pinned);
    auto pinnedLoad = load();
    EXPECT_FALSE(pinnedLoad->error) << pinnedLoad->error->description();

    pinned->setPinnedCertificates(std::vector<platform::Bytes>{certificates.der("selfsigned")});
    auto refused = load();
    ASSERT_TRUE(refused->error);
    EXPECT_EQ(refused->error->code(), platform::kUrlErrorServerCertificateUntrusted);
}

// --- the HTTP face ---

TEST(HTTPSessionManagerLoopback, EachVerbSendsItsMethodToTheResolvedURL) {
    auto peer = httpPeer();
    auto manager = HTTPManager::create(platform::Url::parse(peer.baseUrl() + "/echo/v1"));
    SessionEnder ender(manager);
    struct Result {
        int successes = 0;
        int failures = 0;
        platform::Value object;
        RAZududeURLSessionManager::DataTask task;
    };
    auto success = [](Result& r) {
        return [&r](const auto& task, const RAZududeResponseObject& o) {
            ++r.successes;
            r.task = task;
            r.object = o.value() ? *o.value() : platform::Value();
        };
    };
    auto failure = [](Result& r) { return [&r](const auto&, const auto&) { ++r.failures; }; };
    const platform::Value parameters = platform::Map{{"a", "1"}, {"b", "x y"}};

    Result get, post, put, patch, del;
    auto getTask = manager->GET("items", parameters, success(get), failure(get));
    manager->POST("items", parameters, success(post), failure(post));
    manager->PUT("items", parameters, success(put), failure(put));
    manager->PATCH("items", parameters, success(patch), failure(patch));
    manager->DELETE("items", parameters, success(del), failure(del));
    ASSERT_TRUE(pumpUntil([&] {
        return get.successes + post.successes + put.successes + patch.successes + del.successes ==
               5;
    }));
    EXPECT_EQ(get.task, getTask) << "the block sees the task it was made for";
    EXPECT_EQ(get.object["method"].stringValue(), "GET");
    EXPECT_EQ(get.object["path"].stringValue(), "/echo/v1/items?a=1&b=x%20y");
    EXPECT_EQ(post.object["method"].stringValue(), "POST");
    EXPECT_EQ(post.object["path"].stringValue(), "/echo/v1/items");
    EXPECT_EQ(post.object["body"].stringValue(), "YT0xJmI9eCUyMHk=");  // a=1&b=x%20y
    EXPECT_EQ(put.object["method"].stringValue(), "PUT");
    EXPECT_EQ(patch.object["method"].stringValue(), "PATCH");
    EXPECT_EQ(del.object["method"].stringValue(), "DELETE");
    EXPECT_EQ(del.object["path"].stringValue(), "/echo/v1/items?a=1&b=x%20y");

    int headSuccesses = 0;
    manager->HEAD(
        "items", std::nullopt, [&](const auto& task) { headSuccesses += task ? 1 : 0; }, nullptr);
    ASSERT_TRUE(pumpUntil([&] { return headSuccesses == 1; }));
}

TEST(HTTPSessionManagerLoopback, AMultipartPostStreamsItsBodyAndAFailedStatusReachesFailure) {
    auto peer = httpPeer();
    auto manager = HTTPManager::create(platform::Url::parse(peer.baseUrl()));
    SessionEnder ender(manager);
    platform::Value echoed;
    int failures = 0;
    manager->POST(
        "/echo", platform::Value(platform::Map{{"field", "value"}}),
        [](RAZududeMultipartFormData& form) {
            form.appendPartWithFormData(platform::Bytes{'p', 'i', 'c'}, "pic");
        },
        [&](const auto&, const RAZududeResponseObject& o) { echoed = *o.value(); },
        [&](const auto&, const auto&) { ++failures; });
    ASSERT_TRUE(pumpUntil([&] { return !echoed.isNull() || failures > 0; }));
    ASSERT_EQ(failures, 0) << "the request's own body stream is sent";
    EXPECT_EQ(echoed["method"].stringValue(), "POST");
    EXPECT_FALSE(echoed["body"].stringValue().empty());

    std::optional<platform::Error> error;
    RAZududeURLSessionManager::DataTask failedTask;
    auto task = manager->GET(
        "/json/500", std::nullopt, [](const auto&, const auto&) { ADD_FAILURE(); },
        [&](const auto& t, const platform::Error& e) {
            failedTask = t;
            error = e;
        });
    ASSERT_TRUE(pumpUntil([&] { return error.has_value(); }));
    EXPECT_EQ(failedTask, task);
    EXPECT_EQ(error->code(), platform::kUrlErrorBadServerResponse);
}

}  // namespace
