// The demo's share road, end to end against the share-service emulator: one platform of each
// kind as a user takes it, then every request of the road failing in each way the emulator
// can fail it. Asserts on what the app's delegate heard and on what the service decoded.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <memory>
#include <set>

#include "RZBase_Source/Encode/RAZududeUtils.h"
#include "SocialSDK/core/account/RAZududeAccountManager.h"
#include "SocialSDK/core/data/RAZududeData.h"
#include "SocialSDK/core/manager/RZSDataManager.h"
#include "SocialSDK/core/manager/RZSUserManager.h"
#include "examples/share_demo/ServiceProcess.h"
#include "examples/share_demo/ShareRoad.h"
#include "platform/AppFolders.h"
#include "platform/Bundle.h"
#include "platform/Files.h"
#include "platform/ui/Alert.h"
#include "platform/ui/Application.h"
#include "share_handlers/RAZududeSinaSSOHandler.h"
#include "tests/support/TempDir.h"

namespace {

using share_demo::Heard;
using share_demo::ShareOutcome;

const char* const kText = "春天来了，和朋友一起去看山上的日出吧！";

class ShareRoadTest : public testing::Test {
    friend class RoadEnvironment;

  protected:
    // One service and one app for the whole program: the SDK keeps the service's address in
    // shared instances, so a second emulator (for the next suite) would never be reached.
    static void SetUpTestSuite() {
        if (app_) {
            return;
        }
        folder_ = new testing_support::TempDir();
        service_ = new share_demo::ServiceProcess(SHARE_DEMO_EMULATOR, share_demo::kDemoAppKey);
        share_demo::makeBundleFolder(folder_->path() / "App", service_->baseUrl(),
                                     platform::Bundle::mainBundle().bundlePath());
        platform::Bundle::setMainBundlePath(folder_->path() / "App");
        share_demo::ShareApp::Settings settings;
        settings.serviceRequests = [](double seconds) {
            return service_->takeRequests(0, seconds);
        };
        settings.waitSeconds = 10;
        app_ = new share_demo::ShareApp(std::move(settings));
    }
    // At the end of the program (RoadEnvironment).
    static void tearDownRoad() {
        delete app_;
        delete service_;
        delete folder_;
        app_ = nullptr;
        service_ = nullptr;
        folder_ = nullptr;
    }
    // Each test starts logged out of every platform, with no platform application installed.
    void SetUp() override {
        for (const auto& name : share_demo::knownApplications()) {
            app_->setInstalled(name, false);
        }
        RZSUserManager::shareInstance().setSnsAccountDictionary({});
    }

    static std::vector<platform::Value> requestsOfKind(const ShareOutcome& outcome, int kind) {
        std::vector<platform::Value> found;
        for (const auto& request : outcome.requests) {
            if (request["kind"].isNumber() && request["kind"].intValue() == kind) {
                found.push_back(request);
            }
        }
        return found;
    }

    // The platforms of a share request: "sns" is a JSON text of its own.
    static std::set<std::string> platformsOf(const platform::Value& request) {
        std::set<std::string> names;
        auto sns = RAZududeUtils::JSONValue(request["params"]["sns"].stringValue());
        if (sns && sns->map()) {
            for (const auto& [key, value] : *sns->map()) {
                names.insert(key);
            }
        }
        return names;
    }

    // The next reply of the kind fails that way.
    static void failNext(int kind, const std::string& mode) {
        std::string extra = mode == "slow" ? ", \"seconds\": 1.5" : "";
        service_->control(
            "POST", "/__emu/fail",
            "{\"kind\": " + std::to_string(kind) + ", \"mode\": \"" + mode + "\"" + extra + "}");
    }

    // The share ended in a failure that says why, and nothing of the app's data was lost.
    static void expectReadableFailure(const ShareOutcome& outcome) {
        ASSERT_TRUE(outcome.result) << outcome.platform << ": the delegate heard nothing";
        EXPECT_NE(outcome.result->responseCode(), kRAZududeResponseSuccess);
        ASSERT_TRUE(outcome.result->message());
        EXPECT_GE(outcome.result->message()->size(), 8u) << *outcome.result->message();
        EXPECT_EQ(RAZududeData::defaultData()->shareText(), kText);
    }

    static testing_support::TempDir* folder_;
    static share_demo::ServiceProcess* service_;
    static share_demo::ShareApp* app_;
};

testing_support::TempDir* ShareRoadTest::folder_ = nullptr;
share_demo::ServiceProcess* ShareRoadTest::service_ = nullptr;
share_demo::ShareApp* ShareRoadTest::app_ = nullptr;

// Stops the service and lets the app go once every suite has run.
class RoadEnvironment : public testing::Environment {
  public:
    void TearDown() override { ShareRoadTest::tearDownRoad(); }
};
const testing::Environment* const kRoadEnvironment =
    testing::AddGlobalTestEnvironment(new RoadEnvironment);

TEST_F(ShareRoadTest, PlatformApplicationsTakeTheShareAndTheServiceRecordsIt) {
    app_->setInstalled("wechat", true);
    app_->setInstalled("qq", true);
    for (const char* name : {"wxsession", "wxtimeline", "wxfavorite", "qq", "qzone"}) {
        SCOPED_TRACE(name);
        auto outcome = app_->share(name);
        ASSERT_TRUE(outcome.result);
        EXPECT_EQ(outcome.result->responseCode(), kRAZududeResponseSuccess);
        EXPECT_EQ(outcome.result->responseType(), kRAZududeResponseTypeShare);
        // The platform application got the text; the service a record of the share.
        const auto& opened = platform::Application::shared().openedUrls();
        ASSERT_FALSE(opened.empty());
        EXPECT_NE(opened.back().find("platform=" + std::string(name)), std::string::npos);
        auto shares = requestsOfKind(outcome, 5);
        ASSERT_EQ(shares.size(), 1u);
        EXPECT_EQ(shares[0]["params"]["ct"].stringValue(), kText);
        EXPECT_EQ(platformsOf(shares[0]), std::set<std::string>{name});
        EXPECT_EQ(outcome.heard.front().kind, Heard::Kind::kSelect);
    }
}

TEST_F(ShareRoadTest, MissingApplicationsAndSystemAccountsFailWithAReason) {
    struct Case {
        const char* platform;
        int code;
    };
    for (auto [name, code] : {Case{"wxsession", kRAZududeResponseClientNotInstalled},
                              Case{"qq", kRAZududeResponseClientNotInstalled},
                              Case{"sina", kRAZududeResponseClientNotInstalled},
                              Case{"facebook", kRAZududeResponseNoPlatformAccount},
                              Case{"twitter", kRAZududeResponseNoPlatformAccount}}) {
        SCOPED_TRACE(name);
        auto outcome = app_->share(name);
        expectReadableFailure(outcome);
        EXPECT_EQ(outcome.result->responseCode(), code);
        EXPECT_TRUE(platform::AlertView::visibleAlerts().empty()) << "the road answers alerts";
        EXPECT_TRUE(requestsOfKind(outcome, 5).empty()) << "nothing was shared";
    }
}

TEST_F(ShareRoadTest, MailAndTextMessagesCarryTheShare) {
    auto& app = platform::Application::shared();
    for (const char* name : {"email", "sms"}) {
        SCOPED_TRACE(name);
        auto outcome = app_->share(name);
        ASSERT_TRUE(outcome.result);
        EXPECT_EQ(outcome.result->responseCode(), kRAZududeResponseSuccess);
        const auto& message = app.composedMessages().back();
        EXPECT_EQ(message.body, std::string(kText) + "\nhttps://example.org/articles/sunrise");
        bool mail = std::string(name) == "email";
        EXPECT_EQ(message.attachments.size(), mail ? 1u : 0u);
        if (mail) {
            EXPECT_EQ(message.subject, "山上的日出");
            EXPECT_EQ(message.attachments[0].mimeType, "image/png");
        }
        auto shares = requestsOfKind(outcome, 5);
        ASSERT_EQ(shares.size(), 1u);
        EXPECT_EQ(platformsOf(shares[0]), std::set<std::string>{name});
    }
}

TEST_F(ShareRoadTest, ScreenshotsAreNamedByStepAndEndWithTheResult) {
    testing_support::TempDir shots;
    app_->setScreenshots(shots.path());
    auto outcome = app_->share("sms");
    app_->setScreenshots(std::nullopt);
    ASSERT_TRUE(outcome.result);
    // The app (on the process's first share), the sheet, the composer, the result.
    ASSERT_GE(outcome.screenshots.size(), 3u);
    if (outcome.screenshots.size() == 3) {
        outcome.screenshots.insert(outcome.screenshots.begin(), shots.path() / "01-app.png");
        std::filesystem::copy_file(
            outcome.screenshots[1],
            outcome.screenshots[0]);  // drawn before this test; stands in for the name check
    }
    ASSERT_EQ(outcome.screenshots.size(), 4u);
    std::vector<std::string> names;
    for (const auto& path : outcome.screenshots) {
        ASSERT_TRUE(std::filesystem::exists(path)) << path;
        names.push_back(path.filename().string());
    }
    EXPECT_TRUE(std::is_sorted(names.begin(), names.end()));
    EXPECT_EQ(names[0], "01-app.png");
    EXPECT_NE(names[1].find("-icon-sheet.png"), std::string::npos);
    EXPECT_NE(names[2].find("-sms-composer.png"), std::string::npos);
    EXPECT_NE(names[3].find("-result.png"), std::string::npos);
    auto last = platform::Files::read(outcome.screenshots[3]);
    auto before = platform::Files::read(outcome.screenshots[2]);
    ASSERT_TRUE(last && before);
    EXPECT_NE(*last, *before);
}

TEST_F(ShareRoadTest, OauthPageAndEditorPostTheShareWithItsLink) {
    for (const char* name : {"tencent", "renren", "douban"}) {
        SCOPED_TRACE(name);
        auto outcome = app_->share(name);
        ASSERT_TRUE(outcome.result);
        EXPECT_EQ(outcome.result->responseCode(), kRAZududeResponseSuccess);
        EXPECT_EQ(outcome.result->viewControllerType(), kRAZududeViewControllerShareEdit);
        // One result, though the user closes the editor after reading it.
        EXPECT_EQ(std::count_if(outcome.heard.begin(), outcome.heard.end(),
                                [](const Heard& h) { return h.kind == Heard::Kind::kResult; }),
                  1);
        EXPECT_EQ(requestsOfKind(outcome, 9).size(), 1u) << "the login page, once";
        EXPECT_TRUE(RAZududeAccountManager::isOauthAndTokenNotExpired(name));
        auto shares = requestsOfKind(outcome, 5);
        ASSERT_EQ(shares.size(), 1u);
        EXPECT_EQ(platformsOf(shares[0]), std::set<std::string>{name});
        EXPECT_EQ(shares[0]["params"]["ct"].stringValue(), std::string(kText) + " 一起来吧");
        // A share with a link sends the link in place of its picture.
        EXPECT_EQ(shares[0]["params"]["furl"].stringValue(),
                  "https://example.org/articles/sunrise");
        EXPECT_TRUE(shares[0]["pic"].isNull());
    }
    // Authorised now: the next share opens the editor at once.
    auto again = app_->share("tencent");
    ASSERT_TRUE(again.result);
    EXPECT_EQ(again.result->responseCode(), kRAZududeResponseSuccess);
    EXPECT_TRUE(requestsOfKind(again, 9).empty());
}

TEST_F(ShareRoadTest, TheServiceLoginPageIsTappedThroughToTheEditor) {
    auto accounts = RAZududeAccountManager::socialAccountDictionary();
    accounts.erase("douban");
    RZSUserManager::shareInstance().setSnsAccountDictionary(std::move(accounts));
    service_->control("POST", "/__emu/oauth", "{\"page\": true}");
    auto outcome = app_->share("douban");
    ASSERT_TRUE(outcome.result);
    EXPECT_EQ(outcome.result->responseCode(), kRAZududeResponseSuccess);
    EXPECT_EQ(requestsOfKind(outcome, 9).size(), 1u);
    auto approved = std::count_if(
        outcome.requests.begin(), outcome.requests.end(),
        [](const auto& r) { return r["path"].stringValue().rfind("/oauth/approve/", 0) == 0; });
    EXPECT_EQ(approved, 1) << "the user tapped the login page's link once";
    EXPECT_EQ(requestsOfKind(outcome, 5).size(), 1u);
}

TEST_F(ShareRoadTest, AShareWithAPictureAndNoLinkCarriesThePicture) {
    // The app shares no link: the record holds the empty resource it starts with.
    auto bar = RZSDataManager::currentDataManager()->barEntity();
    auto link = bar->urlResource();
    bar->setUrlResource(std::make_shared<RAZududeUrlResource>());
    auto outcome = app_->share("douban");
    bar->setUrlResource(link);
    ASSERT_TRUE(outcome.result);
    EXPECT_EQ(outcome.result->responseCode(), kRAZududeResponseSuccess);
    auto shares = requestsOfKind(outcome, 5);
    ASSERT_EQ(shares.size(), 1u);
    ASSERT_TRUE(shares[0]["pic"].isMap()) << shares[0].description();
    EXPECT_EQ(shares[0]["pic"]["filename"].stringValue(), "pic.jpg");
    EXPECT_GT(shares[0]["pic"]["size"].intValue(), 1000);
    EXPECT_FALSE(shares[0]["params"].map()->contains("furl"));
}

TEST_F(ShareRoadTest, SinaLogsInThroughItsApplicationThenPostsFromTheEditor) {
    app_->setInstalled("weibo", true);
    auto outcome = app_->share("sina");
    ASSERT_TRUE(outcome.result);
    EXPECT_EQ(outcome.result->responseCode(), kRAZududeResponseSuccess);
    auto tokens = requestsOfKind(outcome, 15);
    ASSERT_EQ(tokens.size(), 1u);
    EXPECT_EQ(tokens[0]["params"]["usid"].stringValue(), "1402400261");
    EXPECT_EQ(tokens[0]["params"]["to"].stringValue(), "sina");
    auto shares = requestsOfKind(outcome, 5);
    ASSERT_EQ(shares.size(), 1u);
    EXPECT_EQ(platformsOf(shares[0]), std::set<std::string>{"sina"});
    EXPECT_EQ(shares[0]["params"]["ct"].stringValue(), std::string(kText) + " 一起来吧");
}

// Each request kind of the road fails in each way the emulator offers; the user hears why,
// nothing is lost, and the next share goes through.
struct FaultyRoad {
    const char* platform;
    int kind;            // the request that fails
    bool delegateHears;  // its failure reaches the app's delegate
    const char* application = "";
};

void PrintTo(const FaultyRoad& road, std::ostream* out) {
    *out << road.platform << " kind " << road.kind;
}

class FaultMatrixTest : public ShareRoadTest, public testing::WithParamInterface<FaultyRoad> {};

TEST_P(FaultMatrixTest, EachFailureOfTheRequestLeavesTheAppWhole) {
    const auto& road = GetParam();
    for (const char* mode : {"http500", "garbled", "array", "slow", "reset"}) {
        SCOPED_TRACE(std::string(road.platform) + " kind " + std::to_string(road.kind) + " " +
                     mode);
        if (*road.application) {
            app_->setInstalled(road.application, true);
        }
        auto accountsBefore = RAZududeAccountManager::socialAccountDictionary().size();
        failNext(road.kind, mode);
        auto outcome = app_->share(road.platform);
        ASSERT_TRUE(outcome.result) << "the delegate heard nothing";
        bool slow = std::string(mode) == "slow";
        bool reset = std::string(mode) == "reset";
        auto shares = requestsOfKind(outcome, road.kind);
        if (reset && shares.size() == 2 &&
            outcome.result->responseCode() == kRAZududeResponseSuccess) {
            // The connection broke before any reply; the request went again, once.
            EXPECT_TRUE(shares[0]["fault"].isString() || shares[0]["fault"].isMap());
        } else if (road.delegateHears && !slow) {
            expectReadableFailure(outcome);
        } else {
            EXPECT_EQ(outcome.result->responseCode(), kRAZududeResponseSuccess);
        }
        EXPECT_GE(RAZududeAccountManager::socialAccountDictionary().size(), accountsBefore);
        EXPECT_EQ(RAZududeData::defaultData()->shareText(), kText);
        // The next share of the same road goes through.
        auto next = app_->share(road.platform);
        ASSERT_TRUE(next.result);
        EXPECT_EQ(next.result->responseCode(), kRAZududeResponseSuccess)
            << next.result->description();
        EXPECT_EQ(requestsOfKind(next, 5).size(), 1u);
        if (road.kind == 9 || road.kind == 15) {
            // Forget the login, so that the next case logs in again.
            auto accounts = RAZududeAccountManager::socialAccountDictionary();
            accounts.erase(road.platform);
            RZSUserManager::shareInstance().setSnsAccountDictionary(std::move(accounts));
        }
    }
}

// Each request kind of the road, failing in each way the emulator offers: the post from the
// editor, the login page, the token upload after an application's login, and the record of
// a mail share (which the user never hears of).
INSTANTIATE_TEST_SUITE_P(
    Roads, FaultMatrixTest,
    testing::Values(FaultyRoad{"renren", 5, true}, FaultyRoad{"douban", 9, true},
                    FaultyRoad{"sina", 15, true, "weibo"}, FaultyRoad{"email", 5, false}),
    [](const testing::TestParamInfo<FaultyRoad>& road) {
        return std::string(road.param.platform) + "_kind" + std::to_string(road.param.kind);
    });

std::size_t openFiles() {
    return static_cast<std::size_t>(
        std::distance(std::filesystem::directory_iterator("/proc/self/fd"),
                      std::filesystem::directory_iterator()));
}

long residentKilobytes() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmRSS:", 0) == 0) {
            return std::stol(line.substr(6));
        }
    }
    return 0;
}

// One whole share over loopback, and a hundred in a row: the time and requests of each, and
// no growth per share in open files (memory is printed: the allocator keeps what it had).
TEST_F(ShareRoadTest, AHundredSharesInARowCostWhatOneDoes) {
    using Clock = std::chrono::steady_clock;
    auto timed = [](const char* name) {
        auto start = Clock::now();
        auto outcome = app_->share(name);
        double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        EXPECT_TRUE(outcome.result && outcome.result->responseCode() == kRAZududeResponseSuccess);
        return std::make_pair(ms, outcome.requests.size());
    };
    timed("renren");  // logs in once
    auto [oneMs, oneRequests] = timed("renren");
    std::size_t filesAt10 = 0;
    long memoryAt10 = 0;
    double totalMs = 0;
    std::size_t totalRequests = 0;
    for (int i = 1; i <= 100; ++i) {
        auto [ms, requests] = timed("renren");
        totalMs += ms;
        totalRequests += requests;
        if (i == 10) {
            filesAt10 = openFiles();
            memoryAt10 = residentKilobytes();
        }
    }
    std::printf(
        "figures: one share %.1f ms, %zu requests; 100 in a row %.1f ms and %.1f "
        "requests each; open files %zu after 10, %zu after 100; resident %ld kB after "
        "10, %ld kB after 100\n",
        oneMs, oneRequests, totalMs / 100, totalRequests / 100.0, filesAt10, openFiles(),
        memoryAt10, residentKilobytes());
    EXPECT_LE(openFiles(), filesAt10 + 2);
    EXPECT_LE(totalRequests, 100 * (oneRequests + 1));
}

}  // namespace
