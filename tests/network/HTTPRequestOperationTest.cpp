// The HTTP request operation and its manager without a network: callbacks of a cancelled
// operation, serializer rules, base URLs, requests that cannot be built, descriptions, copies
// and archives.
#include <gtest/gtest.h>

#include <atomic>
#include <regex>
#include <stdexcept>

#include "SocialSDK/framework/network/RAZududeHTTPRequestOperation.h"
#include "SocialSDK/framework/network/RAZududeHTTPRequestOperationManager.h"
#include "SocialSDK/framework/network/RAZududeSecurityPolicy.h"
#include "SocialSDK/framework/network/RAZududeURLRequestSerialization.h"
#include "SocialSDK/framework/network/RAZududeURLResponseSerialization.h"
#include "tests/network/OperationTestSupport.h"

namespace {

using operation_tests::drainMainLoop;
using operation_tests::pumpUntil;
using operation_tests::requestFor;
using HTTPOp = RAZududeHTTPRequestOperation;
using Manager = RAZududeHTTPRequestOperationManager;

// Which of the two callbacks came, with what; written on the main thread.
struct Outcome {
    int successes = 0;
    int failures = 0;
    std::shared_ptr<HTTPOp> operation;
    HTTPOp::ResponseObject object;
    std::optional<platform::Error> error;
    bool onMainThread = true;

    HTTPOp::SuccessBlock success() {
        return [this](const std::shared_ptr<HTTPOp>& op, const HTTPOp::ResponseObject& value) {
            ++successes;
            operation = op;
            object = value;
            onMainThread = onMainThread && platform::MainLoop::main().isMainThread();
        };
    }
    HTTPOp::FailureBlock failure() {
        return [this](const std::shared_ptr<HTTPOp>& op, const platform::Error& e) {
            ++failures;
            operation = op;
            error = e;
            onMainThread = onMainThread && platform::MainLoop::main().isMainThread();
        };
    }
    bool done() const { return successes + failures > 0; }
};

TEST(HTTPRequestOperation, CancelledBeforeItStartsFailsWithTheCancellation) {
    Outcome outcome;
    auto op = HTTPOp::create(requestFor("http://127.0.0.1:9/cancelled"));
    op->setCompletionBlockWithSuccess(outcome.success(), outcome.failure());
    op->cancel();
    op->start();
    ASSERT_TRUE(pumpUntil([&] { return outcome.done(); }));
    drainMainLoop();
    EXPECT_EQ(outcome.successes, 0);
    EXPECT_EQ(outcome.failures, 1);
    EXPECT_EQ(outcome.operation, op);
    ASSERT_TRUE(outcome.error);
    EXPECT_EQ(outcome.error->domain(), platform::kUrlErrorDomain);
    EXPECT_EQ(outcome.error->code(), platform::kUrlErrorCancelled);
    EXPECT_TRUE(outcome.onMainThread);
    EXPECT_TRUE(op->responseObject().isNil()) << "the serializer never ran";
    EXPECT_FALSE(op->responseSerializationError());
}

TEST(HTTPRequestOperation, CallbacksGoToTheCompletionQueueAndTheGroupWaitsForThem) {
    auto op = HTTPOp::create(requestFor("http://127.0.0.1:9/grouped"));
    auto queue = platform::DispatchQueue::serial("test.http.completion");
    auto group = platform::DispatchGroup::create();
    op->setCompletionQueue(queue);
    op->setCompletionGroup(group);
    std::atomic<bool> failedOnQueue{false};
    std::atomic<bool> failed{false};
    op->setCompletionBlockWithSuccess(nullptr, [&](const auto&, const auto&) {
        failedOnQueue = queue->isCurrent();
        failed = true;
    });
    op->cancel();
    op->start();
    // The operation turns finished before its completion block runs and enters the group, so
    // the group is waited for once the block has started, when it holds the failure's turn.
    ASSERT_TRUE(pumpUntil([&] { return op->isFinished() && failed.load(); }));
    ASSERT_TRUE(group->wait(operation_tests::kWait));
    std::atomic<bool> drained{false};
    group->notify(platform::DispatchQueue::main(), [&] { drained = true; });
    ASSERT_TRUE(pumpUntil([&] { return drained.load(); }));
    EXPECT_TRUE(failedOnQueue.load());
}

TEST(HTTPRequestOperation, WithoutBlocksFinishesQuietlyAndLetsGo) {
    std::weak_ptr<HTTPOp> weak;
    {
        auto op = HTTPOp::create(requestFor("http://127.0.0.1:9/quiet"));
        op->setCompletionBlockWithSuccess(nullptr, nullptr);
        op->cancel();
        op->start();
        weak = op;
    }
    ASSERT_TRUE(pumpUntil([&] { return weak.expired(); }));
}

TEST(HTTPRequestOperation, ANullResponseSerializerIsRefused) {
    auto op = HTTPOp::create(requestFor("http://127.0.0.1:9/s"));
    EXPECT_NE(op->responseSerializer(), nullptr);
    try {
        op->setResponseSerializer(nullptr);
        FAIL() << "no exception";
    } catch (const std::invalid_argument& e) {
        EXPECT_STREQ(e.what(), "Invalid parameter not satisfying: responseSerializer");
    }
    EXPECT_NE(op->responseSerializer(), nullptr);
}

TEST(HTTPRequestOperation, ASerializationErrorIsTheOperationsError) {
    auto op = HTTPOp::create(requestFor("http://127.0.0.1:9/e"));
    EXPECT_FALSE(op->error());
    op->setResponseSerializationError(platform::Error("test", 1));
    ASSERT_TRUE(op->error());
    EXPECT_EQ(op->error()->domain(), "test");
    op->setResponseSerializer(RAZududeHTTPResponseSerializer::serializer());
    EXPECT_FALSE(op->responseSerializationError()) << "a new serializer starts afresh";
    EXPECT_FALSE(op->error());
}

TEST(HTTPRequestOperation, APauseBeforeAnyBytesAsksForTheWholeBodyAgain) {
    auto op = HTTPOp::create(requestFor("http://127.0.0.1:9/ranged"));
    op->pause();
    EXPECT_EQ(op->request().valueForHttpHeaderField("Range"), "bytes=0-");
    EXPECT_FALSE(op->request().valueForHttpHeaderField("If-Range")) << "no response, no ETag";

    auto finished = HTTPOp::create(requestFor("http://127.0.0.1:9/over"));
    finished->cancel();
    finished->start();
    ASSERT_TRUE(pumpUntil([&] { return finished->isFinished(); }));
    finished->pause();
    EXPECT_FALSE(finished->request().valueForHttpHeaderField("Range"))
        << "a finished operation's request stays as it was";
}

TEST(HTTPRequestOperation, DescriptionCopyAndArchiveKeepTheClass) {
    auto op = HTTPOp::create(requestFor("http://127.0.0.1:9/http"));
    EXPECT_TRUE(std::regex_match(op->description(),
                                 std::regex("<RAZududeHTTPRequestOperation: 0x[0-9a-f]+, state: "
                                            "isReady, cancelled: NO request: .*")))
        << op->description();

    auto copy = std::dynamic_pointer_cast<HTTPOp>(op->copy());
    ASSERT_TRUE(copy);
    EXPECT_NE(copy->responseSerializer(), op->responseSerializer());
    EXPECT_NE(copy->responseSerializer(), nullptr);

    HTTPOp::registerArchiveClass();
    RAZududeHTTPResponseSerializer::registerArchiveClasses();
    auto data = platform::KeyedArchiver::archivedData(platform::ArchiveObject(op));
    ASSERT_TRUE(data);
    platform::Error error;
    auto object = platform::KeyedUnarchiver::unarchiveObject(*data, &error);
    ASSERT_TRUE(object) << error.description();
    auto decoded = object->as<HTTPOp>();
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->request().url(), op->request().url());
    EXPECT_NE(decoded->responseSerializer(), nullptr);
}

// --- the manager ---

TEST(HTTPRequestOperationManager, ABaseURLWithAPathGetsATrailingSlash) {
    auto url = [](const char* text) { return platform::Url::parse(text); };
    EXPECT_EQ(Manager(url("http://h.test/api")).baseURL()->absoluteString(), "http://h.test/api/");
    EXPECT_EQ(Manager(url("http://h.test/a/b/")).baseURL()->absoluteString(), "http://h.test/a/b/");
    EXPECT_EQ(Manager(url("http://h.test")).baseURL()->absoluteString(), "http://h.test");
    EXPECT_FALSE(Manager().baseURL());
}

TEST(HTTPRequestOperationManager, RelativeURLStringsResolveBelowTheBase) {
    Manager manager(platform::Url::parse("http://127.0.0.1:9/api"));
    auto op = manager.HTTPRequestOperationWithHTTPMethod("GET", "items?x=1", std::nullopt, nullptr,
                                                         nullptr);
    ASSERT_TRUE(op);
    EXPECT_EQ(op->request().url().absoluteString(), "http://127.0.0.1:9/api/items?x=1");
    EXPECT_EQ(op->request().httpMethod(), "GET");
    auto absolute = manager.HTTPRequestOperationWithHTTPMethod("DELETE", "http://127.0.0.1:9/other",
                                                               std::nullopt, nullptr, nullptr);
    ASSERT_TRUE(absolute);
    EXPECT_EQ(absolute->request().url().absoluteString(), "http://127.0.0.1:9/other");
    EXPECT_EQ(manager.operationQueue()->operationCount(), 0u) << "not queued";
}

TEST(HTTPRequestOperationManager, AnInvalidURLStringFailsWithBadURLAndQueuesNothing) {
    Manager manager(platform::Url::parse("http://127.0.0.1:9/"));
    Outcome outcome;
    auto op = manager.GET("http://[::1", std::nullopt, outcome.success(), outcome.failure());
    EXPECT_FALSE(op);
    EXPECT_FALSE(outcome.done()) << "never from within the call";
    EXPECT_EQ(manager.operationQueue()->operationCount(), 0u);
    ASSERT_TRUE(pumpUntil([&] { return outcome.done(); }));
    EXPECT_EQ(outcome.failures, 1);
    EXPECT_EQ(outcome.operation, nullptr);
    EXPECT_EQ(outcome.error->domain(), platform::kUrlErrorDomain);
    EXPECT_EQ(outcome.error->code(), platform::kUrlErrorBadUrl);
    EXPECT_EQ(outcome.error->userInfo()[platform::kUrlErrorFailingUrlStringErrorKey].stringValue(),
              "http://[::1");
    EXPECT_TRUE(outcome.onMainThread);

    Outcome multipart;
    EXPECT_FALSE(manager.POST(
        "bad path with spaces%", std::nullopt, [](RAZududeMultipartFormData&) {},
        multipart.success(), multipart.failure()));
    ASSERT_TRUE(pumpUntil([&] { return multipart.done(); }));
    EXPECT_EQ(multipart.error->code(), platform::kUrlErrorBadUrl);
}

TEST(HTTPRequestOperationManager, AFailureWithoutABlockIsNotAnError) {
    Manager manager;
    EXPECT_FALSE(manager.GET("%%", std::nullopt, nullptr, nullptr));
    drainMainLoop();
}

TEST(HTTPRequestOperationManager, OperationsTakeTheManagersSettings) {
    Manager manager;
    auto queue = platform::DispatchQueue::serial("test.manager");
    auto group = platform::DispatchGroup::create();
    auto policy = RAZududeSecurityPolicy::defaultPolicy();
    manager.setCompletionQueue(queue);
    manager.setCompletionGroup(group);
    manager.setSecurityPolicy(policy);
    manager.setShouldUseCredentialStorage(false);
    manager.setCredential(
        platform::Credential("user", "secret", platform::CredentialPersistence::kNone));
    auto op = manager.HTTPRequestOperationWithRequest(requestFor("http://127.0.0.1:9/x"), nullptr,
                                                      nullptr);
    EXPECT_EQ(op->responseSerializer(), manager.responseSerializer());
    EXPECT_EQ(op->securityPolicy(), policy);
    EXPECT_EQ(op->completionQueue(), queue);
    EXPECT_EQ(op->completionGroup(), group);
    EXPECT_FALSE(op->shouldUseCredentialStorage());
    ASSERT_TRUE(op->credential());
    EXPECT_EQ(op->credential()->user(), "user");
    EXPECT_NE(manager.reachabilityManager(), nullptr);
}

TEST(HTTPRequestOperationManager, SerializersMustNotBeNull) {
    Manager manager;
    EXPECT_THROW(manager.setRequestSerializer(nullptr), std::invalid_argument);
    EXPECT_THROW(manager.setResponseSerializer(nullptr), std::invalid_argument);
    EXPECT_THROW(manager.setOperationQueue(nullptr), std::invalid_argument);
    EXPECT_NE(manager.operationQueue(), nullptr) << "every verb puts its operation there";
    EXPECT_NE(manager.requestSerializer(), nullptr);
    EXPECT_NE(manager.responseSerializer(), nullptr);
}

TEST(HTTPRequestOperationManager, DescriptionCopyAndArchive) {
    Manager manager(platform::Url::parse("http://127.0.0.1:9/base"));
    EXPECT_TRUE(std::regex_match(
        manager.description(),
        std::regex("<RAZududeHTTPRequestOperationManager: 0x[0-9a-f]+, baseURL: "
                   "http://127\\.0\\.0\\.1:9/base/, operationQueue: <OperationQueue: .*>")))
        << manager.description();
    EXPECT_NE(Manager().description().find("baseURL: (null)"), std::string::npos);

    manager.setShouldUseCredentialStorage(false);
    auto copy = manager.copy();
    EXPECT_EQ(copy->baseURL(), manager.baseURL());
    EXPECT_NE(copy->requestSerializer(), manager.requestSerializer());
    EXPECT_NE(copy->responseSerializer(), manager.responseSerializer());
    EXPECT_NE(copy->operationQueue(), manager.operationQueue());
    EXPECT_TRUE(copy->shouldUseCredentialStorage()) << "other settings start afresh";

    Manager::registerArchiveClass();
    RAZududeHTTPRequestSerializer::registerArchiveClasses();
    RAZududeHTTPResponseSerializer::registerArchiveClasses();
    auto data = platform::KeyedArchiver::archivedData(
        platform::ArchiveObject(std::make_shared<Manager>(manager.baseURL())));
    ASSERT_TRUE(data);
    platform::Error error;
    auto object = platform::KeyedUnarchiver::unarchiveObject(*data, &error);
    ASSERT_TRUE(object) << error.description();
    auto decoded = object->as<Manager>();
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->baseURL()->absoluteString(), "http://127.0.0.1:9/base/");
}

}  // namespace
