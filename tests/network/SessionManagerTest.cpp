// The session managers without a server: base URLs, arguments, the delegate table, which
// callbacks the manager takes, copies and archives.
#include <gtest/gtest.h>

#include <stdexcept>

#include "SocialSDK/framework/network/RAZududeHTTPSessionManager.h"
#include "SocialSDK/framework/network/RAZududeURLRequestSerialization.h"
#include "SocialSDK/framework/network/RAZududeURLResponseSerialization.h"
#include "platform/Format.h"
#include "platform/KeyedArchive.h"
#include "tests/network/SessionManagerTestSupport.h"

namespace {

using namespace session_tests;
using HTTPManager = RAZududeHTTPSessionManager;
using Callback = platform::UrlSessionDelegateCallback;

std::shared_ptr<HTTPManager> managerAt(const char* base) {
    return HTTPManager::create(platform::Url::parse(base));
}

TEST(HTTPSessionManager, ABaseURLWithAPathGetsATrailingSlashAndOthersStayAsGiven) {
    struct Case {
        const char* given;
        const char* stored;
    } cases[] = {
        {"http://127.0.0.1:9/api", "http://127.0.0.1:9/api/"},
        {"http://127.0.0.1:9/api/", "http://127.0.0.1:9/api/"},
        {"http://127.0.0.1:9", "http://127.0.0.1:9"},
    };
    for (const auto& c : cases) {
        auto manager = managerAt(c.given);
        SessionEnder ender(manager);
        ASSERT_TRUE(manager->baseURL());
        EXPECT_EQ(manager->baseURL()->absoluteString(), c.stored) << c.given;
    }
    auto none = HTTPManager::manager();
    SessionEnder ender(none);
    EXPECT_FALSE(none->baseURL());
}

TEST(HTTPSessionManager, RelativeStringsResolveBelowTheBaseAndAbsoluteOnesStandAlone) {
    auto manager = managerAt("http://127.0.0.1:9/api");
    SessionEnder ender(manager);
    auto below = manager->dataTaskWithHTTPMethod("GET", "items?x=1", std::nullopt, {}, {});
    auto rooted = manager->dataTaskWithHTTPMethod("GET", "/top", std::nullopt, {}, {});
    auto absolute =
        manager->dataTaskWithHTTPMethod("GET", "http://127.0.0.1:8/other", std::nullopt, {}, {});
    EXPECT_EQ(below->originalRequest().url().absoluteString(), "http://127.0.0.1:9/api/items?x=1");
    EXPECT_EQ(rooted->originalRequest().url().absoluteString(), "http://127.0.0.1:9/top");
    EXPECT_EQ(absolute->originalRequest().url().absoluteString(), "http://127.0.0.1:8/other");
    EXPECT_EQ(below->state(), platform::UrlSessionTaskState::kSuspended) << "not resumed";
    EXPECT_EQ(below->taskDescription(), manager->taskDescriptionForSessionTasks());
    EXPECT_EQ(manager->taskDescriptionForSessionTasks(),
              platform::format("%p", static_cast<const void*>(manager.get())));
    EXPECT_TRUE(manager->delegateForTask(below));
}

TEST(HTTPSessionManager, AnUnresolvableURLStringFailsLaterWithBadURLAndMakesNoTask) {
    auto manager = managerAt("http://127.0.0.1:9/");
    SessionEnder ender(manager);
    int failures = 0;
    bool nullTask = false;
    std::optional<platform::Error> error;
    auto failure = [&](const auto& task, const platform::Error& e) {
        ++failures;
        nullTask = task == nullptr;
        error = e;
    };
    EXPECT_FALSE(manager->GET("http://[::1", std::nullopt, {}, failure));
    EXPECT_FALSE(manager->POST(
        "http://[::1", std::nullopt, [](RAZududeMultipartFormData&) {}, {}, failure));
    EXPECT_EQ(failures, 0) << "never from within the call";
    ASSERT_TRUE(pumpUntil([&] { return failures == 2; }));
    drainMainLoop();
    EXPECT_EQ(failures, 2);
    EXPECT_TRUE(nullTask);
    EXPECT_EQ(error->domain(), platform::kUrlErrorDomain);
    EXPECT_EQ(error->code(), platform::kUrlErrorBadUrl);
    EXPECT_EQ(error->userInfo()[platform::kUrlErrorFailingUrlStringErrorKey].stringValue(),
              "http://[::1");
}

TEST(SessionManager, NullArgumentsAreRefusedWithTheirNames) {
    auto manager = managerAt("http://127.0.0.1:9/");
    SessionEnder ender(manager);
    auto expectMessage = [](const auto& call, const std::string& name) {
        try {
            call();
            ADD_FAILURE() << "no exception for " << name;
        } catch (const std::invalid_argument& e) {
            EXPECT_EQ(std::string(e.what()), "Invalid parameter not satisfying: " + name);
        }
    };
    expectMessage([&] { manager->setRequestSerializer(nullptr); }, "requestSerializer");
    expectMessage([&] { manager->setResponseSerializer(nullptr); }, "responseSerializer");
    expectMessage([&] { manager->delegateForTask(nullptr); }, "task");
    expectMessage([&] { manager->removeDelegateForTask(nullptr); }, "task");
    auto task = manager->dataTaskWithHTTPMethod("GET", "x", std::nullopt, {}, {});
    expectMessage([&] { manager->setDelegate(nullptr, task); }, "delegate");
    EXPECT_TRUE(manager->responseSerializer()) << "kept";
}

TEST(SessionManager, TheFourOptionalCallbacksAreTakenOnlyWhileTheirBlocksAreSet) {
    auto manager = RAZududeURLSessionManager::create();
    SessionEnder ender(manager);
    const Callback optional[] = {
        Callback::kTaskWillPerformHttpRedirection, Callback::kDataTaskDidReceiveResponse,
        Callback::kDataTaskWillCacheResponse, Callback::kDidFinishEventsForBackgroundUrlSession};
    for (auto callback : optional) {
        EXPECT_FALSE(manager->respondsTo(callback));
    }
    EXPECT_TRUE(manager->respondsTo(Callback::kTaskDidComplete));
    EXPECT_TRUE(manager->respondsTo(Callback::kTaskNeedNewBodyStream));
    manager->setTaskWillPerformHTTPRedirectionBlock(
        [](const auto&, const auto&, const auto&, const auto& request) { return request; });
    manager->setDataTaskDidReceiveResponseBlock([](const auto&, const auto&, const auto&) {
        return platform::UrlSessionResponseDisposition::kAllow;
    });
    manager->setDataTaskWillCacheResponseBlock(
        [](const auto&, const auto&, const auto& proposed) { return proposed; });
    manager->setDidFinishEventsForBackgroundURLSessionBlock([](const auto&) {});
    for (auto callback : optional) {
        EXPECT_TRUE(manager->respondsTo(callback));
    }
    manager->setDataTaskWillCacheResponseBlock(nullptr);
    EXPECT_FALSE(manager->respondsTo(Callback::kDataTaskWillCacheResponse));
}

TEST(SessionManager, ProgressHandsCancelToTheTaskOnce) {
    auto manager = RAZududeURLSessionManager::create();
    SessionEnder ender(manager);
    auto request = requestFor("http://127.0.0.1:9/upload");
    request.setValue("12", "Content-Length");
    std::shared_ptr<RAZududeProgress> progress;
    auto task = manager->uploadTaskWithStreamedRequest(request, &progress, nullptr);
    ASSERT_TRUE(progress);
    EXPECT_EQ(progress, manager->uploadProgressForTask(task));
    EXPECT_EQ(progress->totalUnitCount(), 12);
    progress->cancel();
    progress->cancel();
    EXPECT_TRUE(progress->isCancelled());
    EXPECT_EQ(task->state() == platform::UrlSessionTaskState::kCanceling ||
                  task->state() == platform::UrlSessionTaskState::kCompleted,
              true);
}

TEST(SessionManager, TasksMadeRightAfterCreationKeepTheirOwnDelegates) {
    // The manager adopts the tasks its session already has on the delegate queue, while
    // tasks may be being made: it must not replace theirs.
    for (int round = 0; round < 30; ++round) {
        auto manager = RAZududeURLSessionManager::create();
        SessionEnder ender(manager);
        auto task = manager->dataTaskWithRequest(requestFor("http://127.0.0.1:9/"), nullptr);
        const auto delegate = manager->delegateForTask(task);
        EXPECT_EQ(manager->dataTasks().size(), 1u);  // the adoption has run by now
        EXPECT_EQ(manager->delegateForTask(task), delegate);
    }
}

TEST(SessionManager, DescriptionsNameClassAddressBaseSessionAndQueue) {
    auto manager = managerAt("http://127.0.0.1:9/a");
    SessionEnder ender(manager);
    const std::string address = platform::format("%p", static_cast<const void*>(manager.get()));
    const std::string text = manager->description();
    EXPECT_EQ(text.rfind("<RAZududeHTTPSessionManager: " + address +
                             ", baseURL: http://127.0.0.1:9/a/, session: " +
                             manager->session()->description() + ", operationQueue: <",
                         0),
              0u)
        << text;
    auto plain = RAZududeURLSessionManager::create();
    SessionEnder plainEnder(plain);
    EXPECT_EQ(plain->description().rfind("<RAZududeURLSessionManager: ", 0), 0u);
    EXPECT_EQ(plain->operationQueue()->maxConcurrentOperationCount(), 1);
}

TEST(HTTPSessionManager, ACopyHasTheSameSettingsANewSessionAndItsOwnSerializers) {
    auto configuration = platform::UrlSessionConfiguration::ephemeralSessionConfiguration();
    configuration.setTimeoutIntervalForRequest(7);
    auto manager = HTTPManager::create(platform::Url::parse("http://127.0.0.1:9/a"), configuration);
    SessionEnder ender(manager);
    manager->requestSerializer()->setValue("yes", "X-Copied");
    auto copy = manager->copy();
    SessionEnder copyEnder(copy);
    EXPECT_EQ(copy->baseURL()->absoluteString(), "http://127.0.0.1:9/a/");
    EXPECT_EQ(copy->session()->configuration(), configuration);
    EXPECT_NE(copy->session(), manager->session());
    EXPECT_NE(copy->requestSerializer(), manager->requestSerializer());
    EXPECT_NE(copy->responseSerializer(), manager->responseSerializer());
    EXPECT_EQ(copy->requestSerializer()->valueForHTTPHeaderField("X-Copied"), "yes");

    auto base = RAZududeURLSessionManager::create(configuration);
    SessionEnder baseEnder(base);
    auto baseCopy = base->copy();
    SessionEnder baseCopyEnder(baseCopy);
    EXPECT_EQ(baseCopy->session()->configuration(), configuration);
}

TEST(HTTPSessionManager, AnArchiveBringsBackBaseURLConfigurationAndSerializers) {
    HTTPManager::registerArchiveClass();
    RAZududeHTTPRequestSerializer::registerArchiveClasses();
    RAZududeHTTPResponseSerializer::registerArchiveClasses();
    auto configuration = platform::UrlSessionConfiguration::ephemeralSessionConfiguration();
    auto manager = HTTPManager::create(platform::Url::parse("http://127.0.0.1:9/a"), configuration);
    SessionEnder ender(manager);
    manager->requestSerializer()->setValue("kept", "X-Archived");

    const auto data = platform::KeyedArchiver::archivedData(platform::ArchiveObject(manager));
    ASSERT_TRUE(data);
    platform::Error error;
    auto object = platform::KeyedUnarchiver::unarchiveObject(*data, &error);
    ASSERT_TRUE(object) << error.description();
    auto restored = object->as<HTTPManager>();
    ASSERT_TRUE(restored);
    SessionEnder restoredEnder(restored);
    EXPECT_EQ(restored->baseURL()->absoluteString(), "http://127.0.0.1:9/a/");
    EXPECT_EQ(restored->session()->configuration(), configuration);
    EXPECT_EQ(restored->requestSerializer()->valueForHTTPHeaderField("X-Archived"), "kept");
    EXPECT_TRUE(
        std::dynamic_pointer_cast<RAZududeJSONResponseSerializer>(restored->responseSerializer()));
}

}  // namespace
