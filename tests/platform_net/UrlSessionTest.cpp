// URL sessions where no byte needs to travel: configurations, task states and their
// notifications, the order of callbacks, invalidation, and tasks that fail before they load.
#include "platform/net/UrlSession.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <set>
#include <thread>

#include "platform/AppFolders.h"
#include "platform/Files.h"
#include "platform/NotificationCenter.h"
#include "platform/Operation.h"
#include "platform/PropertyList.h"
#include "tests/platform_net/SessionRecorder.h"

namespace {

using namespace session_testing;
using platform::Url;
using platform::UrlRequest;
using platform::UrlSessionConfiguration;
using platform::UrlSessionTaskState;

UrlRequest requestFor(const std::string& text) {
    return UrlRequest(*Url::parse(text));
}

// --- configuration ------------------------------------------------------------------------

TEST(UrlSessionConfigurationTest, DefaultAndEphemeralDifferOnlyInKind) {
    const auto standard = UrlSessionConfiguration::defaultSessionConfiguration();
    const auto ephemeral = UrlSessionConfiguration::ephemeralSessionConfiguration();
    EXPECT_FALSE(standard.identifier());
    EXPECT_FALSE(ephemeral.identifier());
    EXPECT_FALSE(standard.isEphemeral());
    EXPECT_TRUE(ephemeral.isEphemeral());
    EXPECT_EQ(standard.timeoutIntervalForRequest(), 60);
    EXPECT_TRUE(standard.httpShouldSetCookies());
    EXPECT_TRUE(standard.httpAdditionalHeaders().empty());
    EXPECT_FALSE(standard == ephemeral);
}

TEST(UrlSessionConfigurationTest, AppliesItsSettingsWithoutOverridingTheRequest) {
    auto configuration = UrlSessionConfiguration::defaultSessionConfiguration();
    configuration.setTimeoutIntervalForRequest(7);
    configuration.setHttpAdditionalHeaders({{"Accept-Language", "zh-Hans"}, {"X-Mine", "session"}});
    configuration.setHttpShouldSetCookies(false);

    UrlRequest plain = requestFor("http://127.0.0.1/a");
    const UrlRequest applied = configuration.applyTo(plain);
    EXPECT_EQ(applied.timeoutInterval(), 7);
    EXPECT_EQ(applied.valueForHttpHeaderField("accept-language"), "zh-Hans");
    EXPECT_FALSE(applied.httpShouldHandleCookies());

    UrlRequest own = requestFor("http://127.0.0.1/a");
    own.setTimeoutInterval(3);
    own.setValue("request", "X-Mine");
    const UrlRequest kept = configuration.applyTo(own);
    EXPECT_EQ(kept.timeoutInterval(), 3);
    EXPECT_EQ(kept.valueForHttpHeaderField("X-Mine"), "request");
}

TEST(UrlSessionConfigurationTest, ArchivesAndComesBackEqual) {
    UrlSessionConfiguration::registerArchiveClass();
    auto configuration = UrlSessionConfiguration::ephemeralSessionConfiguration();
    configuration.setTimeoutIntervalForRequest(12.5);
    configuration.setHttpAdditionalHeaders({{"User-Agent", "demo/1"}, {"Accept", "*/*"}});
    configuration.setHttpShouldSetCookies(false);
    configuration.setAllowsCellularAccess(false);
    configuration.setRequestCachePolicy(platform::UrlRequestCachePolicy::kReturnCacheDataElseLoad);

    const auto archive = platform::KeyedArchiver::archivedData(
        std::make_shared<UrlSessionConfiguration>(configuration));
    ASSERT_TRUE(archive);
    const auto root = platform::KeyedUnarchiver::unarchiveObject(*archive);
    ASSERT_TRUE(root);
    const auto back = root->as<UrlSessionConfiguration>();
    ASSERT_TRUE(back);
    EXPECT_TRUE(*back == configuration);
    EXPECT_EQ(back->httpAdditionalHeaders().fields()[0].first, "User-Agent");
}

// --- tasks that never load ----------------------------------------------------------------

class UrlSessionUnitTest : public ::testing::Test {
  protected:
    void TearDown() override {
        // Every session is let go of its delegate, so that nothing outlives the test.
        for (const auto& session : sessions_) {
            session->invalidateAndCancel();
        }
        for (const auto& session : sessions_) {
            EXPECT_TRUE(waitUntil([&] { return !session->delegate(); }));
        }
    }

    std::shared_ptr<UrlSession> makeSession(
        std::shared_ptr<Recorder> recorder,
        std::shared_ptr<platform::OperationQueue> queue = nullptr) {
        auto session = UrlSession::create(UrlSessionConfiguration::defaultSessionConfiguration(),
                                          std::move(recorder), std::move(queue));
        sessions_.push_back(session);
        return session;
    }

    std::vector<std::shared_ptr<UrlSession>> sessions_;
};

TEST_F(UrlSessionUnitTest, TasksStartSuspendedWithIdentifiersInOrder) {
    auto session = makeSession(std::make_shared<Recorder>());
    UrlRequest post = requestFor("http://127.0.0.1/upload");
    post.setHttpMethod("POST");
    post.setHttpBody(platform::toBytes("hello"));
    const auto data = session->dataTaskWithRequest(post);
    const auto upload = session->uploadTaskWithRequest(post, platform::Bytes(1234));
    const auto streamed = session->uploadTaskWithStreamedRequest(post);
    const auto download = session->downloadTaskWithRequest(requestFor("http://127.0.0.1/x"));

    EXPECT_EQ(data->taskIdentifier(), 1u);
    EXPECT_EQ(upload->taskIdentifier(), 2u);
    EXPECT_EQ(streamed->taskIdentifier(), 3u);
    EXPECT_EQ(download->taskIdentifier(), 4u);
    for (const auto& task : std::vector<std::shared_ptr<UrlSessionTask>>{data, upload, download}) {
        EXPECT_EQ(task->state(), UrlSessionTaskState::kSuspended);
        EXPECT_FALSE(task->response());
        EXPECT_EQ(task->countOfBytesExpectedToReceive(), platform::kUrlSessionTransferSizeUnknown);
    }
    EXPECT_EQ(data->countOfBytesExpectedToSend(), 5);
    EXPECT_EQ(upload->countOfBytesExpectedToSend(), 1234);
    EXPECT_EQ(streamed->countOfBytesExpectedToSend(), platform::kUrlSessionTransferSizeUnknown);
    EXPECT_EQ(download->countOfBytesExpectedToSend(), 0);
    EXPECT_EQ(data->originalRequest().url().absoluteString(), "http://127.0.0.1/upload");

    EXPECT_THROW(session->uploadTaskWithRequest(post, *Url::parse("http://127.0.0.1/file")),
                 std::invalid_argument);
}

TEST_F(UrlSessionUnitTest, ResumeDataCountingPastTheSignedRangeResumesFromTheStart) {
    auto session = makeSession(std::make_shared<Recorder>());
    const auto file = platform::AppFolders::temporary() / "UrlSessionDownload-huge.tmp";
    std::filesystem::create_directories(file.parent_path());
    ASSERT_TRUE(platform::Files::writeAtomically(file, platform::toBytes("partial")));
    const auto task = session->downloadTaskWithResumeData(*platform::PropertyList::write(
        platform::Value(platform::Map{{"NSURLSessionDownloadURL", "http://127.0.0.1/file"},
                                      {"NSURLSessionResumeInfoLocalPath", file.string()},
                                      {"NSURLSessionResumeEntityTag", "\"tag\""},
                                      {"NSURLSessionResumeBytesReceived", UINT64_MAX}}),
        platform::PropertyList::Format::kBinary));
    EXPECT_EQ(task->state(), UrlSessionTaskState::kSuspended);
    task->cancel();
    std::filesystem::remove(file);
}

TEST_F(UrlSessionUnitTest, UrlsWithoutSchemeOrHostAndBadResumeDataFailWithBadUrl) {
    auto recorder = std::make_shared<Recorder>();
    auto session = makeSession(recorder);
    const auto relative = session->dataTaskWithRequest(requestFor("just/a/path"));
    const auto noHost = session->downloadTaskWithRequest(requestFor("http:///nothing"));
    const auto badResume = session->downloadTaskWithResumeData(platform::toBytes("not a plist"));
    const auto fileResume = session->downloadTaskWithResumeData(*platform::PropertyList::write(
        platform::Value(platform::Map{{"NSURLSessionDownloadURL", "file:///etc/passwd"}}),
        platform::PropertyList::Format::kBinary));

    // Written on the session's delegate queue; `called` is set last, so `handed` is whole once
    // the main thread sees it.
    std::optional<platform::Error> handed;
    std::atomic<bool> called{false};
    const auto withHandler = session->dataTaskWithRequest(
        requestFor("//no-scheme/x"),
        [&](std::optional<Bytes> data, std::shared_ptr<const platform::UrlResponse> response,
            std::optional<Error> error) {
            EXPECT_FALSE(data);
            EXPECT_FALSE(response);
            handed = error;
            called = true;
        });

    for (const auto& task : std::vector<std::shared_ptr<UrlSessionTask>>{
             relative, noHost, badResume, fileResume, withHandler}) {
        task->resume();
    }
    for (const auto& task :
         std::vector<std::shared_ptr<UrlSessionTask>>{relative, noHost, badResume, fileResume}) {
        ASSERT_TRUE(recorder->waitForCompletion(task));
        ASSERT_TRUE(recorder->log(task).error);
        EXPECT_EQ(recorder->log(task).error->code(), platform::kUrlErrorBadUrl);
        EXPECT_EQ(recorder->log(task).error->domain(), platform::kUrlErrorDomain);
        EXPECT_EQ(task->state(), UrlSessionTaskState::kCompleted);
        EXPECT_EQ(task->error()->code(), platform::kUrlErrorBadUrl);
    }
    ASSERT_TRUE(waitUntil([&] { return called.load(); }));
    ASSERT_TRUE(handed);
    EXPECT_EQ(handed->code(), platform::kUrlErrorBadUrl);
    // A task with a completion handler reports nothing of its own to the delegate.
    EXPECT_TRUE(recorder->log(withHandler).events.empty());
}

// A streamed upload whose delegate keeps the body stream to itself stays running without any
// load, which lets the states be walked through without a server.
TEST_F(UrlSessionUnitTest, ResumeAndSuspendNotifyOncePerRealChangeOfState) {
    auto recorder = std::make_shared<Recorder>();
    std::mutex mutex;
    platform::UrlSessionBodyStreamCompletion kept;
    recorder->onNeedStream = [&](platform::UrlSessionBodyStreamCompletion completion) {
        std::lock_guard lock(mutex);
        kept = std::move(completion);
    };
    auto queue = std::make_shared<platform::OperationQueue>();
    auto session = makeSession(recorder, queue);
    UrlRequest post = requestFor("http://127.0.0.1/upload");
    post.setHttpMethod("POST");
    const auto task = session->uploadTaskWithStreamedRequest(post);
    const auto other = session->uploadTaskWithStreamedRequest(post);

    int resumed = 0, suspended = 0, foreign = 0;
    const auto caller = std::this_thread::get_id();
    auto count = [&](int& counter) {
        return [&, caller](const platform::Notification& n) {
            EXPECT_EQ(std::this_thread::get_id(), caller);  // synchronous, on the caller
            if (n.object != static_cast<const UrlSessionTask*>(task.get())) {
                ++foreign;
                return;
            }
            // The observer sees the task in its new state.
            EXPECT_EQ(static_cast<const UrlSessionTask*>(n.object)->state(),
                      &counter == &resumed ? UrlSessionTaskState::kRunning
                                           : UrlSessionTaskState::kSuspended);
            ++counter;
        };
    };
    auto& center = platform::NotificationCenter::defaultCenter();
    auto onResume =
        center.addObserver(platform::kUrlSessionTaskDidResumeNotification, nullptr, count(resumed));
    auto onSuspend = center.addObserver(platform::kUrlSessionTaskDidSuspendNotification, nullptr,
                                        count(suspended));

    task->suspend();  // suspended already
    EXPECT_EQ(suspended, 0);
    task->resume();
    EXPECT_EQ(resumed, 1);
    task->resume();
    EXPECT_EQ(resumed, 1);
    EXPECT_EQ(task->state(), UrlSessionTaskState::kRunning);
    task->suspend();
    task->suspend();
    EXPECT_EQ(suspended, 1);
    EXPECT_EQ(task->state(), UrlSessionTaskState::kSuspended);
    task->resume();
    EXPECT_EQ(resumed, 2);
    ASSERT_TRUE(waitUntil([&] {
        std::lock_guard lock(mutex);
        return static_cast<bool>(kept);
    }));

    queue->setSuspended(true);  // holds the completion back while the state is looked at
    task->cancel();
    EXPECT_EQ(task->state(), UrlSessionTaskState::kCanceling);
    queue->setSuspended(false);
    ASSERT_TRUE(recorder->waitForCompletion(task));
    EXPECT_EQ(task->state(), UrlSessionTaskState::kCompleted);
    EXPECT_EQ(recorder->log(task).error->code(), platform::kUrlErrorCancelled);
    // A completed task posts nothing more, and the late stream changes nothing.
    task->resume();
    task->suspend();
    task->cancel();
    {
        std::lock_guard lock(mutex);
        kept(platform::InputStream::withData(platform::toBytes("late")));
    }
    EXPECT_EQ(resumed, 2);
    EXPECT_EQ(suspended, 1);
    EXPECT_EQ(task->state(), UrlSessionTaskState::kCompleted);
    EXPECT_EQ(recorder->log(task).events,
              (std::vector<std::string>{"need stream", "complete -999"}));
    EXPECT_EQ(foreign, 0);
    other->cancel();  // never resumed: no notification either
    EXPECT_EQ(foreign, 0);
}

TEST_F(UrlSessionUnitTest, DroppedStreamHandlerFailsTheUploadWithExhaustedStream) {
    auto recorder = std::make_shared<Recorder>();
    recorder->onNeedStream = [](platform::UrlSessionBodyStreamCompletion) {};
    auto session = makeSession(recorder);
    UrlRequest post = requestFor("http://127.0.0.1/upload");
    post.setHttpMethod("POST");
    const auto task = session->uploadTaskWithStreamedRequest(post);
    task->resume();
    ASSERT_TRUE(recorder->waitForCompletion(task));
    EXPECT_EQ(recorder->log(task).error->code(), platform::kUrlErrorRequestBodyStreamExhausted);
}

TEST_F(UrlSessionUnitTest, CallbacksKeepTheirOrderOnAWideQueueWhoseOperationsAreCancelled) {
    auto recorder = std::make_shared<Recorder>();
    auto queue = std::make_shared<platform::OperationQueue>();
    queue->setMaxConcurrentOperationCount(2);
    auto session = makeSession(recorder, queue);

    queue->setSuspended(true);
    std::vector<std::shared_ptr<UrlSessionTask>> tasks;
    std::vector<std::string> expected;
    for (int i = 0; i < 100; ++i) {
        tasks.push_back(session->dataTaskWithRequest(requestFor("relative/" + std::to_string(i))));
        tasks.back()->resume();
        expected.push_back("complete " + std::to_string(tasks.back()->taskIdentifier()));
    }
    // The owner of the queue throws away what waits on it: the session's events survive.
    queue->cancelAllOperations();
    queue->setSuspended(false);
    session->finishTasksAndInvalidate();
    expected.push_back("invalid");

    ASSERT_TRUE(waitUntil([&] { return recorder->invalid(); }));
    EXPECT_EQ(recorder->order(), expected);
    EXPECT_EQ(recorder->overlaps(), 0);
    EXPECT_EQ(recorder->onNetworkThread(), 0);
}

TEST_F(UrlSessionUnitTest, InvalidationCancelsTasksThenLetsTheDelegateGo) {
    auto recorder = std::make_shared<Recorder>();
    std::weak_ptr<Recorder> watch = recorder;
    auto session = makeSession(recorder);
    const auto never = session->dataTaskWithRequest(requestFor("http://127.0.0.1/never"));
    const auto upload = session->uploadTaskWithRequest(requestFor("http://127.0.0.1/u"), Bytes(3));
    const auto download = session->downloadTaskWithRequest(requestFor("http://127.0.0.1/d"));

    std::atomic<bool> listed{false};  // set on the session's delegate queue
    session->getTasksWithCompletionHandler(
        [&](std::vector<std::shared_ptr<UrlSessionDataTask>> data,
            std::vector<std::shared_ptr<platform::UrlSessionUploadTask>> uploads,
            std::vector<std::shared_ptr<UrlSessionDownloadTask>> downloads) {
            EXPECT_EQ(data.size(), 1u);
            EXPECT_EQ(uploads.size(), 1u);
            EXPECT_EQ(downloads.size(), 1u);
            EXPECT_EQ(data.at(0), never);
            listed = true;
        });
    ASSERT_TRUE(waitUntil([&] { return listed.load(); }));

    session->invalidateAndCancel();
    EXPECT_THROW(session->dataTaskWithRequest(requestFor("http://127.0.0.1/late")),
                 std::logic_error);
    recorder.reset();
    ASSERT_TRUE(waitUntil([&] { return watch.expired(); }));
    EXPECT_FALSE(session->delegate());
    for (const auto& task : std::vector<std::shared_ptr<UrlSessionTask>>{never, upload, download}) {
        EXPECT_EQ(task->state(), UrlSessionTaskState::kCompleted);
        EXPECT_EQ(task->error()->code(), platform::kUrlErrorCancelled);
    }
    session->finishTasksAndInvalidate();  // once invalid, nothing more happens
}

// The delegate may be read from any thread while the session lets go of it on becoming
// invalid (ThreadSanitizer checks that the two are ordered).
TEST_F(UrlSessionUnitTest, TheDelegateCanBeReadFromAnyThreadWhileTheSessionLetsGoOfIt) {
    constexpr int kSessions = 20;
    for (int i = 0; i < kSessions; ++i) {
        auto session = makeSession(std::make_shared<Recorder>());
        std::atomic<bool> started{false};
        std::thread reader([&] {
            started = true;
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
            while (session->delegate() && std::chrono::steady_clock::now() < deadline) {
            }
        });
        while (!started) {
            std::this_thread::yield();
        }
        session->finishTasksAndInvalidate();
        reader.join();  // ends once the session has let go of its delegate
        EXPECT_FALSE(session->delegate());
    }
}

// Tasks are made outside the session's lock, which invalidation takes: a task made while the
// session is invalidated is either refused or listed, and then cancelled before the end.
TEST_F(UrlSessionUnitTest, TasksMadeWhileTheSessionIsInvalidatedAreRefusedOrCancelled) {
    auto recorder = std::make_shared<Recorder>();
    auto session = makeSession(recorder);
    std::atomic<bool> go{false};
    std::mutex mutex;
    std::vector<std::shared_ptr<UrlSessionTask>> made;
    std::atomic<int> madeCount{0}, refused{0};
    std::vector<std::thread> makers;
    for (int m = 0; m < 4; ++m) {
        makers.emplace_back([&] {
            while (!go) {
            }
            for (int i = 0; i < 200; ++i) {
                try {
                    auto task = session->dataTaskWithRequest(requestFor("http://127.0.0.1/never"));
                    std::lock_guard lock(mutex);
                    made.push_back(task);
                    ++madeCount;
                } catch (const std::logic_error&) {
                    ++refused;
                }
            }
        });
    }
    go = true;
    // Invalidated while the makers are at it (they make 800 in all).
    while (madeCount < 20 && refused == 0) {
        std::this_thread::yield();
    }
    session->invalidateAndCancel();
    for (auto& maker : makers) {
        maker.join();
    }
    ASSERT_TRUE(waitUntil([&] { return recorder->invalid(); }));
    EXPECT_EQ(made.size() + static_cast<std::size_t>(refused.load()), 800u);
    std::set<std::uint64_t> identifiers;
    for (const auto& task : made) {
        identifiers.insert(task->taskIdentifier());
        EXPECT_EQ(task->state(), UrlSessionTaskState::kCompleted);
        ASSERT_TRUE(task->error());
        EXPECT_EQ(task->error()->code(), platform::kUrlErrorCancelled);
    }
    EXPECT_EQ(identifiers.size(), made.size());
    EXPECT_EQ(recorder->order().back(), "invalid");
}

// The current request is the original one until the task starts, then the one sent, with
// the session's settings.
TEST_F(UrlSessionUnitTest, TheCurrentRequestIsTheOriginalUntilTheTaskStarts) {
    auto configuration = UrlSessionConfiguration::defaultSessionConfiguration();
    configuration.setHttpAdditionalHeaders({{"X-Session", "yes"}});
    auto recorder = std::make_shared<Recorder>();
    auto session = UrlSession::create(configuration, recorder);
    sessions_.push_back(session);
    // No scheme: it fails as soon as it starts, without a byte on the network.
    const auto task = session->dataTaskWithRequest(requestFor("//no-scheme/path"));
    EXPECT_EQ(task->currentRequest().url().absoluteString(), "//no-scheme/path");
    EXPECT_FALSE(task->currentRequest().valueForHttpHeaderField("X-Session"));
    task->resume();
    ASSERT_TRUE(recorder->waitForCompletion(task));
    EXPECT_EQ(task->error()->code(), platform::kUrlErrorBadUrl);
    EXPECT_EQ(task->currentRequest().valueForHttpHeaderField("X-Session"), "yes");
    EXPECT_FALSE(task->originalRequest().valueForHttpHeaderField("X-Session"));

    const auto cancelled = session->dataTaskWithRequest(requestFor("http://127.0.0.1/never"));
    cancelled->cancel();
    ASSERT_TRUE(recorder->waitForCompletion(cancelled));
    EXPECT_EQ(cancelled->error()->code(), platform::kUrlErrorCancelled);
    EXPECT_EQ(cancelled->currentRequest().url().absoluteString(), "http://127.0.0.1/never");
}

TEST_F(UrlSessionUnitTest, FinishingAnIdleSessionMakesItInvalidAtOnce) {
    auto recorder = std::make_shared<Recorder>();
    auto session = makeSession(recorder);
    session->finishTasksAndInvalidate();
    ASSERT_TRUE(waitUntil([&] { return recorder->invalid(); }));
    EXPECT_EQ(recorder->order(), std::vector<std::string>{"invalid"});
}

}  // namespace
