// The data service's share decisions without a network: which platforms go straight to the
// share service, the result toasts of a direct share, the tracking link, and shares handed to
// a platform's screens, each with its own saved content and completion.
#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "SocialSDK/core/analytics/RAZududeOpAnalytics.h"
#include "SocialSDK/core/config/RAZududeConfig.h"
#include "SocialSDK/core/data/RAZududeData.h"
#include "SocialSDK/core/handler/RAZududeHandlerRegistry.h"
#include "SocialSDK/core/manager/RAZududeDataService.h"
#include "SocialSDK/core/manager/RZSUserManager.h"
#include "SocialSDK/core/platform/RAZududeSnsPlatformManager.h"
#include "SocialSDK/core/protocol/RZSSNSEntity.h"
#include "SocialSDK/core/screen/RAZududeScreenHooks.h"
#include "SocialSDK/core/screen/RAZududeScreenHost.h"
#include "platform/NotificationCenter.h"
#include "tests/core/SocialTest.h"

namespace {

using platform::Map;
using social_test::RequestPeer;

class DataServiceTest : public social_test::SocialTest {
  protected:
    DataServiceTest() {
        social_test::setUpHandlers();
        previousToast_ =
            RAZududeScreenHooks::setToastMaker([this](const std::string& text, std::int64_t) {
                toasts_.push_back(text);
                return std::function<void()>();
            });
        data_->setShareText("record text");
    }

    void TearDown() override {
        RAZududeScreenHooks::setToastMaker(std::move(previousToast_));
        for (auto& [platform, click, login] : savedBlocks_) {
            platform->setSnsClickHandler(std::move(click));
            platform->setLoginClickHandler(std::move(login));
        }
        data_->setShareText(std::nullopt);
        social_test::SocialTest::TearDown();
    }

    // Keeps the platform's blocks, to be put back after the test.
    std::shared_ptr<RAZududeSnsPlatform> platformNamed(const std::string& name) {
        auto platform = RAZududeSnsPlatformManager::getSocialPlatformWithName(name);
        savedBlocks_.push_back(
            {platform, platform->snsClickHandler(), platform->loginClickHandler()});
        return platform;
    }

    // A direct share to tencent, answered with `reply`; what the caller heard.
    std::vector<int> shareToTencentAnswering(RAZududeResponsePtr reply) {
        social_test::authorise("tencent");
        RequestPeer peer([&](const RZSRequest& r) {
            return r.kind == kRZSRequestShareToMultiSns ? reply : social_test::response(200);
        });
        std::vector<int> heard;
        RAZududeSnsPostContent post;
        post.snsType = "tencent";
        post.content = "hello";
        post.completion = [&](const RAZududeResponsePtr& r) { heard.push_back(r->responseCode()); };
        service_->postSnsWithDictionary(std::move(post));
        drain();
        return heard;
    }

    std::shared_ptr<RAZududeData> data_ = RAZududeData::defaultData();
    std::shared_ptr<RAZududeDataService> service_ = RAZududeDataService::defaultDataService();
    std::vector<std::string> toasts_;

  private:
    RAZududeScreenHooks::ToastMaker previousToast_;
    struct SavedBlocks {
        std::shared_ptr<RAZududeSnsPlatform> platform;
        RAZududeSnsClickHandler click;
        RAZududeLoginClickHandler login;
    };
    std::vector<SavedBlocks> savedBlocks_;
};

class ReadyHandler : public RAZududePlatformHandler {
  public:
    bool isReadyToShareDirectly() override { return true; }
    void clickShareButton(std::optional<std::string> content, RAZududeShareImage,
                          RAZududeResponseCompletion completion) override {
        shared.push_back(content.value_or(""));
        completion(social_test::response(200));
    }
    std::vector<std::string> shared;
};

TEST_F(DataServiceTest, RequestsGoToTheirKindsAndThePublicFormsAreCounted) {
    RequestPeer peer([](const RZSRequest& r) {
        return r.kind == kRZSRequestOpAnalytics ? nullptr : social_test::response(200);
    });
    social_test::authorise("sina");
    int heard = 0;
    auto count = [&](const RAZududeResponsePtr&) { ++heard; };
    service_->postAddLikeOrCancelWithCompletion(count);
    service_->requestCommentList(1234, count);
    service_->postCommentWithContent("nice", count);
    service_->requestSnsFriends("sina", count);
    service_->requestSnsInformation("sina", count);
    service_->requestAddFollow("sina", {"u1", "u2"}, count);
    service_->requestIsTokenValid({"sina"}, count);
    drain();
    std::vector<int> kinds;
    for (const auto& r : peer.requests) {
        if (r.kind != kRZSRequestBarInfo && r.kind != kRZSRequestOpAnalytics) {
            kinds.push_back(r.kind);
        }
    }
    EXPECT_EQ(kinds,
              (std::vector<int>{kRZSRequestLike, kRZSRequestCommentList, kRZSRequestAddComment,
                                kRZSRequestFriends, kRZSRequestSnsInformation, kRZSRequestFollow,
                                kRZSRequestTokenValid}));
    EXPECT_EQ(heard, 7);
    EXPECT_EQ(peer.ofKind(kRZSRequestLike)[0].parameters.values["like"], platform::Value("1"));
    const auto& counts = RAZududeOpAnalytics::shareInstance().opDictionary();
    for (const char* op : {"16", "19", "17", "25", "24", "26"}) {
        EXPECT_NE(counts.find(op), nullptr) << op;
    }
    // The request parks its completion on the record's data manager.
    EXPECT_TRUE(RZSDataManager::getDataManager(data_->identifier())->completion());
}

TEST_F(DataServiceTest, DirectSharesAreTheServicePlatformsAndReadySystemHandlers) {
    for (int type : {11, 12, 13}) {
        EXPECT_TRUE(RAZududeDataService::canDirectShare(type)) << type;
    }
    for (int type : {0, 9, 10, 14, 19, 20, 21}) {
        EXPECT_FALSE(RAZududeDataService::canDirectShare(type)) << type;
    }
    auto handler = std::make_shared<ReadyHandler>();
    std::optional<RAZududeHandlerRegistry::ScopedClassForTesting> twitter;
    twitter.emplace("RAZududeTwitterHandler", [handler] { return handler; });
    EXPECT_TRUE(RAZududeDataService::canDirectShare(21));
    EXPECT_FALSE(RAZududeDataService::canDirectShare(20));

    // Without a source operation the share goes to the handler, not to the share service.
    RequestPeer peer([](const RZSRequest&) { return social_test::response(200); });
    int heard = 0;
    service_->postSNSWithTypesInternal(
        {"twitter"}, "tweet", nullptr, std::nullopt, nullptr,
        [&](const RAZududeResponsePtr&) { ++heard; }, std::nullopt);
    EXPECT_EQ(handler->shared, std::vector<std::string>{"tweet"});
    EXPECT_EQ(heard, 1);
    twitter.reset();

    // facebook has no handler here: nothing is sent; with a source operation it is posted.
    service_->postSNSWithTypesInternal({"facebook"}, "fb", nullptr, std::nullopt, nullptr, {},
                                       std::nullopt);
    EXPECT_TRUE(peer.ofKind(kRZSRequestShareToMultiSns).empty());
    service_->postSNSWithTypesInternal({"facebook"}, "fb", nullptr, std::nullopt, nullptr, {}, "4");
    EXPECT_EQ(peer.ofKind(kRZSRequestShareToMultiSns).size(), 1u);
}

TEST_F(DataServiceTest, ADirectShareShowsItsResultBeforeTheCallerHearsIt) {
    // Success: the bar is asked for again, then the toast and the bar notification.
    int updates = 0;
    auto token = platform::NotificationCenter::defaultCenter().addObserver(
        "UpdateSocialBar", nullptr, [&](const platform::Notification&) { ++updates; });
    EXPECT_EQ(shareToTencentAnswering(social_test::response(200)), std::vector<int>{200});
    EXPECT_EQ(toasts_, std::vector<std::string>{"发送成功"});
    EXPECT_EQ(updates, 1);

    struct Case {
        int st;
        const char* toast;
    };
    for (const Case& c : {Case{505, "对不起，因为违反了用户协议您已被禁言"},
                          Case{5007, "消息为空，分享失败"}, Case{5016, "由于文字重复，分享失败"},
                          Case{100031, "用户没有授权，分享失败"}, Case{510, "分享失败"}}) {
        toasts_.clear();
        auto refusal = social_test::response(510, Map{{"tencent", Map{{"st", c.st}}}});
        EXPECT_EQ(shareToTencentAnswering(refusal), std::vector<int>{510});
        EXPECT_EQ(toasts_, std::vector<std::string>{c.toast}) << c.st;
    }

    // An expired authorisation also forgets the platform's account.
    toasts_.clear();
    social_test::authorise("sina");
    auto expired = social_test::response(510, Map{{"tencent", Map{{"st", "5027"}}}});
    shareToTencentAnswering(expired);
    EXPECT_EQ(toasts_, std::vector<std::string>{"由于授权过期，分享失败"});
    EXPECT_FALSE(RZSUserManager::shareInstance().snsAccountDictionary().contains("tencent"));
    EXPECT_TRUE(RZSUserManager::shareInstance().snsAccountDictionary().contains("sina"));

    toasts_.clear();
    shareToTencentAnswering(social_test::response(5050));
    EXPECT_EQ(toasts_, std::vector<std::string>{"网络异常，分享失败"});

    toasts_.clear();
    EXPECT_EQ(shareToTencentAnswering(social_test::response(5052)), std::vector<int>{5052});
    EXPECT_TRUE(toasts_.empty());
}

TEST_F(DataServiceTest, AServicePlatformWithoutATokenLogsInFirst) {
    // Usage batches stay unanswered, so that the share's count can be seen.
    RequestPeer peer([](const RZSRequest& r) {
        return r.kind == kRZSRequestOpAnalytics ? nullptr : social_test::response(200);
    });
    auto tencent = platformNamed("tencent");
    int loginCode = 200;
    int logins = 0;
    tencent->setLoginClickHandler([&](const std::shared_ptr<platform::ViewController>&,
                                      const std::shared_ptr<RAZududeScreenHost>& host, bool,
                                      RAZududeResponseCompletion done) {
        ++logins;
        EXPECT_TRUE(host);
        done(social_test::response(loginCode));
    });
    std::vector<int> heard;
    auto post = [&](std::shared_ptr<platform::ViewController> controller) {
        RAZududeSnsPostContent content;
        content.snsType = "tencent";
        content.content = "after login";
        content.sourceOpType = "9";
        content.controller = std::move(controller);
        content.completion = [&](const RAZududeResponsePtr& r) {
            heard.push_back(r->responseCode());
        };
        service_->postSnsWithDictionary(std::move(content));
    };

    // No screen to log in from: nothing happens at all.
    post(nullptr);
    EXPECT_EQ(logins, 0);
    EXPECT_TRUE(heard.empty());

    auto controller = std::make_shared<platform::ViewController>();
    post(controller);
    ASSERT_EQ(peer.ofKind(kRZSRequestShareToMultiSns).size(), 1u);
    EXPECT_EQ(heard, std::vector<int>{200});
    EXPECT_NE(RAZududeOpAnalytics::shareInstance().opDictionary().find("9+14-11"), nullptr);

    // A failed login reaches the caller and sends nothing.
    loginCode = 510;
    heard.clear();
    post(controller);
    EXPECT_EQ(logins, 2);
    EXPECT_EQ(peer.ofKind(kRZSRequestShareToMultiSns).size(), 1u);
    EXPECT_EQ(heard, std::vector<int>{510});
}

TEST_F(DataServiceTest, TheTrackingLinkGoesIntoACopyAndItsFailureStillShares) {
    // Switched off: the link is the URL itself, at once.
    RAZududeResponsePtr direct;
    service_->getInverseFlowsWithPlatForm("tencent", "https://example.org/page",
                                          [&](const RAZududeResponsePtr& r) { direct = r; });
    ASSERT_TRUE(direct && direct->data());
    EXPECT_EQ(*direct->data(),
              (Map{{"new", "https://example.org/page"}, {"url", "https://example.org/page"}}));
    service_->getInverseFlowsWithPlatForm("tencent", std::nullopt,
                                          [&](const RAZududeResponsePtr& r) { direct = r; });
    EXPECT_TRUE(direct->data()->empty());

    auto page = RAZududeUrlResource::initWithSnsResourceType(kRAZududeUrlResourceTypeWeb,
                                                             "https://example.org/page");
    auto sharedUrl = [] {
        return RZSDataManager::currentDataManager()->snsEntity()->urlResource()->url();
    };
    RAZududeResponsePtr linkReply;
    RequestPeer peer([&](const RZSRequest& r) {
        return r.kind == kRZSRequestInverseFlow ? linkReply : social_test::response(200);
    });
    std::vector<int> heard;
    auto share = [&] {
        service_->postSNSWithTypesInternal(
            {"renren"}, "look", nullptr, std::nullopt, page,
            [&](const RAZududeResponsePtr& r) { heard.push_back(r->responseCode()); },
            std::nullopt);
    };
    share();
    EXPECT_TRUE(peer.ofKind(kRZSRequestInverseFlow).empty());
    EXPECT_EQ(sharedUrl(), "https://example.org/page");

    RAZududeConfig::shareInstance().setIsGetInverseFlowUrl(true);
    linkReply = social_test::response(200, Map{{"new", "https://t.example.org/1"}});
    share();
    ASSERT_EQ(peer.ofKind(kRZSRequestInverseFlow).size(), 1u);
    EXPECT_EQ(sharedUrl(), "https://t.example.org/1");
    EXPECT_EQ(page->url(), "https://example.org/page");

    linkReply = social_test::response(5050);
    share();
    EXPECT_EQ(peer.ofKind(kRZSRequestShareToMultiSns).size(), 3u);
    EXPECT_EQ(sharedUrl(), "https://example.org/page");
    EXPECT_EQ(heard, (std::vector<int>{200, 200, 200}));
}

TEST_F(DataServiceTest, SharesThroughScreensKeepTheirOwnContentAndCompletion) {
    auto sina = platformNamed("sina");
    std::vector<std::shared_ptr<RAZududeScreenHost>> hosts;
    std::vector<std::optional<std::string>> textsSeen;
    sina->setSnsClickHandler([&](const std::shared_ptr<platform::ViewController>&,
                                 const std::shared_ptr<RAZududeScreenHost>& host, bool) {
        hosts.push_back(host);
        textsSeen.push_back(host->socialData()->shareText());
    });
    std::vector<std::string> heard;
    auto share = [&](std::string text) {
        service_->postSNSWithTypes(
            {"sina"}, text, nullptr, std::nullopt, nullptr, nullptr,
            [&heard, text](const RAZududeResponsePtr&) { heard.push_back(text); });
    };
    share("one");
    share("two");
    ASSERT_EQ(hosts.size(), 2u);
    EXPECT_EQ(textsSeen, (std::vector<std::optional<std::string>>{"one", "two"}));
    EXPECT_EQ(service_->pendingShareCount(), 2u);
    EXPECT_EQ(service_->preText(), "record text");

    // The first share's screens report: only its completion runs, the second's content stays.
    auto first = hosts[0]->socialUIDelegate();
    ASSERT_TRUE(first);
    first->didFinishGetRAZududeDataInViewController(social_test::response(200));
    EXPECT_EQ(heard, std::vector<std::string>{"one"});
    EXPECT_EQ(data_->shareText(), "two");
    // A second report of the same share (from a stand-in that kept it) changes nothing.
    first->didFinishGetRAZududeDataInViewController(social_test::response(200));
    EXPECT_EQ(heard, std::vector<std::string>{"one"});

    ASSERT_TRUE(hosts[1]->socialUIDelegate());
    hosts[1]->socialUIDelegate()->didFinishGetRAZududeDataInViewController(
        social_test::response(5052));
    EXPECT_EQ(heard, (std::vector<std::string>{"one", "two"}));
    EXPECT_EQ(data_->shareText(), "record text");
    EXPECT_EQ(service_->pendingShareCount(), 0u);

    // A flow that keeps nothing will never report: the record gets its content back at once.
    hosts.clear();
    sina->setSnsClickHandler([](const std::shared_ptr<platform::ViewController>&,
                                const std::shared_ptr<RAZududeScreenHost>&, bool) {});
    share("lost");
    EXPECT_EQ(service_->pendingShareCount(), 0u);
    EXPECT_EQ(data_->shareText(), "record text");

    // An unknown platform shares nothing.
    service_->postSNSWithTypes({"yixin"}, "x", nullptr, std::nullopt, nullptr, nullptr,
                               [&](const RAZududeResponsePtr&) { heard.push_back("yixin"); });
    EXPECT_EQ(heard.size(), 2u);
}

}  // namespace
