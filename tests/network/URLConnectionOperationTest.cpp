// The connection operation without a network: its state machine, cancel, pause and resume
// before any load, the completion block, descriptions, copies and archives.
#include <gtest/gtest.h>

#include <atomic>
#include <regex>

#include "SocialSDK/framework/network/RAZududeURLConnectionOperation.h"
#include "platform/Dispatch.h"
#include "platform/KeyedArchive.h"
#include "platform/Operation.h"
#include "tests/network/OperationTestSupport.h"

namespace {

using operation_tests::drainMainLoop;
using operation_tests::NotificationLog;
using operation_tests::pumpUntil;
using operation_tests::requestFor;
using Op = RAZududeURLConnectionOperation;

// Lets a test drive the state machine directly.
class StateProbe : public RAZududeURLConnectionOperation {
  public:
    using RAZududeURLConnectionOperation::RAZududeURLConnectionOperation;
    using RAZududeURLConnectionOperation::setState;
};

std::shared_ptr<StateProbe> probe() {
    return std::make_shared<StateProbe>(requestFor("http://127.0.0.1:9/state"));
}

TEST(URLConnectionOperationStates, ANewOperationIsReadyAndNothingElse) {
    auto op = Op::create(requestFor("http://127.0.0.1:9/a"));
    EXPECT_EQ(op->state(), Op::kReady);
    EXPECT_TRUE(op->isReady());
    EXPECT_FALSE(op->isExecuting());
    EXPECT_FALSE(op->isFinished());
    EXPECT_FALSE(op->isPaused());
    EXPECT_FALSE(op->isCancelled());
    EXPECT_TRUE(op->isAsynchronous());
    EXPECT_TRUE(op->shouldUseCredentialStorage());
    EXPECT_NE(op->securityPolicy(), nullptr);
    EXPECT_EQ(op->responseStringEncoding(), 0u) << "no response yet";
}

TEST(URLConnectionOperationStates, OnlyTheAllowedChangesTakeEffect) {
    auto op = probe();
    op->setState(Op::kFinished);
    EXPECT_EQ(op->state(), Op::kReady) << "Ready may finish only when cancelled";

    op->setState(Op::kPaused);
    EXPECT_EQ(op->state(), Op::kPaused);
    EXPECT_FALSE(op->isReady());
    op->setState(Op::kExecuting);
    EXPECT_EQ(op->state(), Op::kPaused) << "Paused goes back to Ready only";
    op->setState(Op::kFinished);
    EXPECT_EQ(op->state(), Op::kPaused);
    op->setState(Op::kReady);
    EXPECT_EQ(op->state(), Op::kReady);

    op->setState(Op::kExecuting);
    EXPECT_EQ(op->state(), Op::kExecuting);
    EXPECT_TRUE(op->isExecuting());
    op->setState(Op::kReady);
    EXPECT_EQ(op->state(), Op::kExecuting) << "Executing never goes back to Ready";
    op->setState(Op::kPaused);
    EXPECT_EQ(op->state(), Op::kPaused);
    EXPECT_FALSE(op->isExecuting());
    op->setState(Op::kReady);
    op->setState(Op::kExecuting);
    op->setState(Op::kFinished);
    EXPECT_TRUE(op->isFinished());

    for (auto state : {Op::kReady, Op::kPaused, Op::kExecuting}) {
        op->setState(state);
        EXPECT_EQ(op->state(), Op::kFinished) << "Finished is for good";
    }
}

TEST(URLConnectionOperationStates, ACancelledReadyOperationMayFinishDirectly) {
    auto op = probe();
    op->cancel();
    op->setState(Op::kFinished);
    EXPECT_TRUE(op->isFinished());
}

TEST(URLConnectionOperationStates, AnOperationCancelledBeforeItStartsFinishesWithoutALoad) {
    auto op = Op::create(requestFor("http://127.0.0.1:9/never"));
    NotificationLog log(op.get());
    std::atomic<int> completions{0};
    bool completionOnMain = false;
    op->setCompletionBlock([&] {
        ++completions;
        completionOnMain = platform::MainLoop::main().isMainThread();
    });
    op->cancel();
    op->start();
    ASSERT_TRUE(pumpUntil([&] { return completions.load() == 1; }));
    drainMainLoop();

    EXPECT_EQ(completions.load(), 1);
    EXPECT_TRUE(completionOnMain);
    EXPECT_TRUE(op->isFinished());
    ASSERT_TRUE(op->error());
    EXPECT_EQ(op->error()->domain(), platform::kUrlErrorDomain);
    EXPECT_EQ(op->error()->code(), platform::kUrlErrorCancelled);
    EXPECT_EQ(op->error()->userInfo()[platform::kUrlErrorFailingUrlErrorKey].stringValue(),
              "http://127.0.0.1:9/never");
    EXPECT_FALSE(op->response());
    EXPECT_FALSE(op->responseData());
    // Cancelled at start: no start notification, and the finish notification before the
    // completion block.
    EXPECT_EQ(log.names, std::vector<std::string>{"finish"});
    EXPECT_TRUE(log.allOnMainThread);
    EXPECT_TRUE(log.allWithoutUserInfo);
}

TEST(URLConnectionOperationStates, CancellingTwiceOrAfterTheEndDoesNothing) {
    auto op = Op::create(requestFor("http://127.0.0.1:9/twice"));
    NotificationLog log(op.get());
    std::atomic<int> completions{0};
    op->setCompletionBlock([&] { ++completions; });
    op->cancel();
    op->cancel();
    op->start();
    op->start();
    ASSERT_TRUE(pumpUntil([&] { return op->isFinished(); }));
    op->cancel();
    op->pause();
    op->resume();
    drainMainLoop();
    EXPECT_EQ(completions.load(), 1);
    EXPECT_EQ(log.names, std::vector<std::string>{"finish"});
    EXPECT_EQ(op->state(), Op::kFinished);
}

TEST(URLConnectionOperationStates, PauseAndResumeOnlyWhereTheyApply) {
    auto op = Op::create(requestFor("http://127.0.0.1:9/pause"));
    NotificationLog log(op.get());
    op->resume();
    EXPECT_EQ(op->state(), Op::kReady) << "resume of an operation that is not paused";

    op->pause();
    EXPECT_TRUE(op->isPaused());
    EXPECT_FALSE(op->isReady()) << "a queue must not start a paused operation";
    op->pause();
    EXPECT_TRUE(op->isPaused());

    // Cancelled while paused: resuming starts it, and the start ends it.
    op->cancel();
    op->pause();
    op->resume();
    ASSERT_TRUE(pumpUntil([&] { return op->isFinished(); }));
    EXPECT_EQ(op->error()->code(), platform::kUrlErrorCancelled);
    drainMainLoop();
    EXPECT_EQ(log.names, std::vector<std::string>{"finish"})
        << "a pause before the load posts nothing";
}

TEST(URLConnectionOperationStates, AQueueStartsACancelledOperationAndLetsItGo) {
    platform::OperationQueue queue;
    auto op = Op::create(requestFor("http://127.0.0.1:9/queued"));
    std::weak_ptr<Op> weak = op;
    std::atomic<bool> done{false};
    op->setCompletionBlock([&] { done = true; });
    op->cancel();
    queue.addOperation(op);
    op.reset();
    ASSERT_TRUE(pumpUntil([&] { return done.load(); }));
    ASSERT_TRUE(pumpUntil([&] { return weak.expired(); }))
        << "nothing keeps a finished operation once its completion block ran";
}

TEST(URLConnectionOperationStates, AnOperationWaitsForItsDependencies) {
    auto first = Op::create(requestFor("http://127.0.0.1:9/first"));
    auto second = Op::create(requestFor("http://127.0.0.1:9/second"));
    second->addDependency(first);
    EXPECT_FALSE(second->isReady());
    first->cancel();
    first->start();
    ASSERT_TRUE(pumpUntil([&] { return first->isFinished(); }));
    EXPECT_TRUE(second->isReady());
}

// --- the completion block ---

TEST(URLConnectionOperationCompletion, RunsOnItsQueueWithinItsGroupAndIsLetGoAfterwards) {
    auto op = Op::create(requestFor("http://127.0.0.1:9/completion"));
    auto queue = platform::DispatchQueue::serial("test.completion");
    auto group = platform::DispatchGroup::create();
    op->setCompletionQueue(queue);
    op->setCompletionGroup(group);

    auto sentinel = std::make_shared<int>(1);
    std::weak_ptr<int> watch = sentinel;
    std::atomic<bool> ranOnQueue{false};
    std::atomic<bool> ran{false};
    op->setCompletionBlock([sentinel, queue, &ranOnQueue, &ran] {
        ranOnQueue = queue->isCurrent();
        ran = true;
    });
    sentinel.reset();
    std::atomic<bool> groupDrained{false};
    op->cancel();
    op->start();
    ASSERT_TRUE(pumpUntil([&] { return ran.load(); }));
    group->notify(platform::DispatchQueue::main(), [&] { groupDrained = true; });
    ASSERT_TRUE(pumpUntil([&] { return groupDrained.load(); }));
    EXPECT_TRUE(ranOnQueue.load());
    ASSERT_TRUE(pumpUntil([&] { return watch.expired(); })) << "the block's captures are let go";
}

TEST(URLConnectionOperationCompletion, AnEmptyBlockClearsIt) {
    auto op = Op::create(requestFor("http://127.0.0.1:9/cleared"));
    std::atomic<bool> ran{false};
    op->setCompletionBlock([&] { ran = true; });
    op->setCompletionBlock(nullptr);
    EXPECT_FALSE(op->completionBlock());
    op->cancel();
    op->start();
    ASSERT_TRUE(pumpUntil([&] { return op->isFinished(); }));
    drainMainLoop();
    EXPECT_FALSE(ran.load());
}

TEST(URLConnectionOperationCompletion, AnOperationThatNeverRunsIsNotKeptByItsBlock) {
    std::weak_ptr<Op> weak;
    {
        auto op = Op::create(requestFor("http://127.0.0.1:9/dropped"));
        op->setCompletionBlock([] {});
        weak = op;
    }
    EXPECT_TRUE(weak.expired());
}

// --- description, copying, archiving ---

TEST(URLConnectionOperationDescription, NamesClassAddressStateCancelRequestAndResponse) {
    auto op = Op::create(requestFor("http://127.0.0.1:9/described"));
    const std::regex shape(
        "<RAZududeURLConnectionOperation: 0x[0-9a-f]+, state: isReady, cancelled: NO request: "
        "<UrlRequest: http://127\\.0\\.0\\.1:9/described>, response: \\(null\\)>");
    EXPECT_TRUE(std::regex_match(op->description(), shape)) << op->description();

    op->pause();
    EXPECT_NE(op->description().find("state: isPaused, cancelled: NO"), std::string::npos);
    // A cancelled operation ends finished, paused or not.
    op->cancel();
    ASSERT_TRUE(pumpUntil([&] { return op->isFinished(); }));
    EXPECT_NE(op->description().find("state: isFinished, cancelled: YES"), std::string::npos);
}

TEST(URLConnectionOperationCopy, KeepsRequestQueueAndGroupButNotStateOrResult) {
    auto request = requestFor("http://127.0.0.1:9/copied");
    request.setHttpMethod("PUT");
    auto op = Op::create(request);
    auto queue = platform::DispatchQueue::serial("test.copy");
    auto group = platform::DispatchGroup::create();
    op->setCompletionQueue(queue);
    op->setCompletionGroup(group);
    op->setCompletionBlock([] {});
    op->cancel();
    op->start();
    ASSERT_TRUE(pumpUntil([&] { return op->isFinished(); }));

    auto copy = op->copy();
    EXPECT_NE(copy, op);
    EXPECT_EQ(copy->request().url(), request.url());
    EXPECT_EQ(copy->request().httpMethod(), "PUT");
    EXPECT_EQ(copy->completionQueue(), queue);
    EXPECT_EQ(copy->completionGroup(), group);
    EXPECT_EQ(copy->state(), Op::kReady);
    EXPECT_FALSE(copy->isCancelled());
    EXPECT_FALSE(copy->error());
    EXPECT_FALSE(copy->completionBlock()) << "the completion block is not copied";
}

class URLConnectionOperationArchive : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { Op::registerArchiveClass(); }

    static std::shared_ptr<Op> roundTrip(const std::shared_ptr<Op>& op) {
        platform::Error error;
        auto data = platform::KeyedArchiver::archivedData(platform::ArchiveObject(op), &error);
        EXPECT_TRUE(data) << error.description();
        if (!data) {
            return nullptr;
        }
        auto object = platform::KeyedUnarchiver::unarchiveObject(*data, &error);
        EXPECT_TRUE(object) << error.description();
        return object ? object->as<Op>() : nullptr;
    }
};

TEST_F(URLConnectionOperationArchive, AReadyOperationComesBackWithItsWholeRequest) {
    auto request = requestFor("http://127.0.0.1:9/archived?q=1");
    request.setHttpMethod("POST");
    request.setValue("text/plain", "Content-Type");
    request.setValue("two", "X-Second");
    request.setHttpBody(platform::Bytes{'h', 'i', 0, 0xff});
    request.setTimeoutInterval(7.5);
    request.setCachePolicy(platform::UrlRequestCachePolicy::kReloadIgnoringLocalCacheData);
    request.setHttpShouldHandleCookies(false);
    auto decoded = roundTrip(Op::create(request));
    ASSERT_TRUE(decoded);
    const auto back = decoded->request();
    EXPECT_EQ(back.url(), request.url());
    EXPECT_EQ(back.httpMethod(), "POST");
    EXPECT_EQ(back.allHttpHeaderFields(), request.allHttpHeaderFields());
    EXPECT_EQ(back.httpBody(), request.httpBody());
    EXPECT_DOUBLE_EQ(back.timeoutInterval(), 7.5);
    EXPECT_EQ(back.cachePolicy(), platform::UrlRequestCachePolicy::kReloadIgnoringLocalCacheData);
    EXPECT_FALSE(back.httpShouldHandleCookies());
    EXPECT_EQ(decoded->state(), Op::kReady);
    EXPECT_FALSE(decoded->error());
    EXPECT_FALSE(decoded->responseData());
}

TEST_F(URLConnectionOperationArchive, AFinishedOperationKeepsItsErrorAndComesBackReady) {
    auto op = Op::create(requestFor("http://127.0.0.1:9/ended"));
    op->cancel();
    op->start();
    ASSERT_TRUE(pumpUntil([&] { return op->isFinished(); }));
    auto decoded = roundTrip(op);
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->state(), Op::kReady) << "Finished is not reachable from Ready uncancelled";
    ASSERT_TRUE(decoded->error());
    EXPECT_EQ(*decoded->error(), *op->error());
}

TEST_F(URLConnectionOperationArchive, APausedOperationIsArchivedAsReady) {
    auto op = Op::create(requestFor("http://127.0.0.1:9/paused"));
    op->pause();
    auto decoded = roundTrip(op);
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->state(), Op::kReady);
}

TEST_F(URLConnectionOperationArchive, AnArchiveWithoutARequestFails) {
    class Empty : public platform::Archivable {
      public:
        std::string archiveClassName() const override { return Op::kClassName; }
        void encode(platform::KeyedArchiver&) const override {}
    };
    auto data =
        platform::KeyedArchiver::archivedData(platform::ArchiveObject(std::make_shared<Empty>()));
    ASSERT_TRUE(data);
    platform::Error error;
    EXPECT_FALSE(platform::KeyedUnarchiver::unarchiveObject(*data, &error));
    EXPECT_FALSE(error.domain().empty());
}

}  // namespace
