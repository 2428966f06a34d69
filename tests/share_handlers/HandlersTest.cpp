// The platform handlers as the share road reaches them: applications missing or installed,
// the share handed over and the reply, the Sina login, the composers and the system services.
#include <gtest/gtest.h>

#include "SocialSDK/core/account/RAZududeAccountManager.h"
#include "SocialSDK/core/config/RAZududeConfig.h"
#include "SocialSDK/core/data/RAZududeData.h"
#include "SocialSDK/core/handler/RAZududeHandlerRegistry.h"
#include "SocialSDK/core/handler/RAZududeSnsHandler.h"
#include "SocialSDK/core/manager/RZSUserManager.h"
#include "SocialSDK/core/platform/RAZududeSnsPlatformInternal.h"
#include "SocialSDK/core/platform/RAZududeSnsPlatformManager.h"
#include "SocialSDK/core/protocol/RAZududeJobFactory.h"
#include "SocialSDK/core/protocol/RZSSNSEntity.h"
#include "SocialSDK/ui/controller/RAZududeControllerService.h"
#include "SocialSDK/ui/service/RAZududeSnsService.h"
#include "platform/ui/Alert.h"
#include "platform/ui/Application.h"
#include "share_handlers/RAZududeQQHandler.h"
#include "share_handlers/RAZududeWechatHandler.h"
#include "tests/core/SocialTest.h"
#include "tests/support/TempDir.h"

namespace {

using platform::Application;
using platform::ComposedMessage;
using social_test::ScreenMaker;
using Events = std::vector<std::string>;

class HandlersTest : public social_test::SocialTest {
  protected:
    HandlersTest() {
        showAppScreen();
        service_->setSocialUIDelegate(delegate_);
        auto data = RAZududeData::defaultData();
        data->setShareText("看日出");
        data->setUrlResource(
            RAZududeUrlResource::initWithSnsResourceType(4, "https://e.org/a?b=1"));
    }
    ~HandlersTest() override {
        auto data = RAZududeData::defaultData();
        data->setShareText(std::nullopt);
        data->setShareImage({});
        data->urlResource()->setResourceType(0);
    }

    void tap(const std::string& name) {
        auto platform = RAZududeSnsPlatformManager::getSocialPlatformWithName(name);
        ASSERT_TRUE(platform && platform->snsClickHandler()) << name;
        platform->snsClickHandler()(screen_, service_, true);
    }
    static bool openUrl(const std::string& text) {
        return RAZududeSnsService::handleOpenURL(*platform::Url::parse(text));
    }
    static std::vector<std::string> alertTexts() {
        std::vector<std::string> texts;
        for (const auto& alert : platform::AlertView::visibleAlerts()) {
            texts.push_back(alert->title() + "|" + alert->message() + "|" +
                            alert->buttonTitleAtIndex(0));
        }
        return texts;
    }

    std::shared_ptr<RAZududeControllerService> service_ =
        std::make_shared<RAZududeControllerService>();
};

TEST_F(HandlersTest, AShareToAMissingApplicationEndsApartFromSuccessWithANotice) {
    tap("wxsession");
    EXPECT_EQ(delegate_->events, (Events{"select wxsession", "result 5054"}));
    EXPECT_EQ(delegate_->responses[0]->message(), "the platform application is not installed");
    EXPECT_EQ(delegate_->responses[0]->data(), (platform::Map{{"wxsession", ""}}));
    EXPECT_EQ(alertTexts(), (Events{"无法分享|你还没有安装微信，无法分享到微信|好"}));
    EXPECT_TRUE(Application::shared().openedUrls().empty());

    platform::AlertView::dismissAll();
    delegate_->events.clear();
    tap("qzone");
    EXPECT_EQ(delegate_->events, (Events{"select qzone", "result 5054"}));
    EXPECT_EQ(alertTexts(), (Events{"无法分享|你还没有安装QQ，无法分享到QQ|好"}));
}

TEST_F(HandlersTest, AnInstalledApplicationGetsTheShareAndItsReplyReachesTheApp) {
    Application::shared().registerUrlScheme("wechat");
    social_test::RequestPeer peer;
    tap("wxtimeline");
    ASSERT_EQ(Application::shared().openedUrls().size(), 1u);
    const std::string opened = Application::shared().openedUrls()[0];
    // The share as Python's own URL parser reads it.
    std::string fields = testing_support::runPython(
        "import sys, urllib.parse\n"
        "u = urllib.parse.urlsplit(sys.stdin.read())\n"
        "q = urllib.parse.parse_qs(u.query)\n"
        "print(u.scheme, u.netloc)\n"
        "for k in ('from', 'platform', 'text', 'url'): print(q[k][0])\n",
        opened);
    EXPECT_EQ(fields, "wechat share\ntestwx01\nwxtimeline\n看日出\nhttps://e.org/a?b=1\n");
    EXPECT_EQ(RAZududeSnsHandler::shareInstance().currentSnsHandler(),
              RAZududeWechatHandler::shareInstance());

    // Another app's URL is not the share's reply; the reply is taken once.
    EXPECT_FALSE(openUrl("testqq02://qq/share?result=ok"));
    EXPECT_TRUE(openUrl("testwx01://wxtimeline/share?result=ok"));
    EXPECT_FALSE(openUrl("testwx01://wxtimeline/share?result=ok"));
    EXPECT_EQ(delegate_->events, (Events{"select wxtimeline", "result 200"}));
    EXPECT_EQ(delegate_->responses[0]->message(), "no error");
    // The finished share is reported to the share service.
    auto reports = peer.ofKind(kRZSRequestShareToMultiSns);
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(RZSDataManager::currentDataManager()->snsEntity()->shareText(), "看日出");

    delegate_->events.clear();
    tap("wxfavorite");
    EXPECT_TRUE(openUrl("TESTWX01://wxfavorite/share?result=cancel"));
    EXPECT_EQ(delegate_->events, (Events{"select wxfavorite", "result 5052"}));
    EXPECT_EQ(peer.ofKind(kRZSRequestShareToMultiSns).size(), 1u);
}

TEST_F(HandlersTest, TheWechatSetUpRegistersHidesAndCounts) {
    for (auto [name, type] : {std::pair{"wxsession", 14}, {"wxtimeline", 15}, {"wxfavorite", 16}}) {
        auto platform = RAZududeSnsPlatformManager::getSocialPlatformWithName(name);
        ASSERT_TRUE(platform) << name;
        EXPECT_EQ(platform->shareToType(), type);
        EXPECT_EQ(platform->platformInternal()->socialLoginDelegate(),
                  RAZududeWechatHandler::shareInstance());
    }
    EXPECT_EQ(RAZududeSnsPlatformManager::getSocialPlatformWithName("wxsession")->displayName(),
              "微信好友");
    const auto& names = RAZududeConfigInternal::shareInstance().snsPlatformNames();
    ASSERT_GE(names.size(), 3u);
    EXPECT_EQ(names[0], platform::Value("wxsession"));
    EXPECT_EQ(names[2], platform::Value("wxfavorite"));
    EXPECT_EQ(RAZududeWechatHandler::shareInstance()->wxAppId(), social_test::kWechatAppId);

    // Set up again while the configuration hides missing applications: hidden, listed once.
    std::size_t listed = names.size();
    RAZududeConfigInternal::shareInstance().setHiddenSnsPlatforms(
        std::vector<std::string>{"wxsession"});
    RAZududeWechatHandler::setWXAppId(social_test::kWechatAppId, "wx-secret", std::nullopt);
    EXPECT_TRUE(RAZududeSnsPlatformManager::getSocialPlatformWithName("wxsession")
                    ->platformInternal()
                    ->isHidden());
    EXPECT_FALSE(RAZududeSnsPlatformManager::getSocialPlatformWithName("wxtimeline")
                     ->platformInternal()
                     ->isHidden());
    EXPECT_EQ(RAZududeConfigInternal::shareInstance().snsPlatformNames().size(), listed);
    EXPECT_EQ(RAZududeSnsHandler::shareInstance().qqAppId(), social_test::kQQAppId);
}

TEST_F(HandlersTest, SinaLogsInThroughItsApplicationEvenWhenItIsMissing) {
    tap("sina");
    EXPECT_EQ(delegate_->events, (Events{"select sina", "result 5054"}));
    EXPECT_EQ(delegate_->responses[0]->responseType(), 9);
    EXPECT_EQ(alertTexts(), (Events{"无法分享|你还没有安装微博，无法登录新浪微博|好"}));
    EXPECT_EQ(service_->socialUIDelegate(), delegate_);
}

TEST_F(HandlersTest, ASinaLoginThroughItsApplicationStoresTheAccount) {
    Application::shared().registerUrlScheme("weibo");
    ScreenMaker editor(kRAZududeViewControllerShareEdit);
    social_test::RequestPeer peer([](const RZSRequest&) { return social_test::response(200); });
    RZSUserManager::shareInstance().setUid("sdk-user");
    tap("sina");
    ASSERT_EQ(Application::shared().openedUrls(),
              (std::vector<std::string>{"weibo://login?from=testsina03"}));
    EXPECT_EQ(service_->socialUIDelegate(),
              RAZududeSnsPlatformManager::getSocialPlatformWithName("sina")->platformInternal());
    // An unrelated URL while the login waits leaves it waiting.
    EXPECT_FALSE(openUrl("https://example.org/elsewhere"));
    EXPECT_FALSE(openUrl("testsina03://sina/share?result=ok"));
    EXPECT_TRUE(
        openUrl("testsina03://sina/login?result=ok&uid=1402400261&token=abc&expires_in=60"));
    EXPECT_TRUE(RAZududeAccountManager::isOauthAndTokenNotExpired("sina"));
    EXPECT_EQ(RAZududeAccountManager::socialAccountDictionary().at("sina")->accessToken(), "abc");
    // The share goes on to the editor, the delegate back in place.
    EXPECT_EQ(editor.made.size(), 1u);
    EXPECT_EQ(service_->socialUIDelegate(), delegate_);
    EXPECT_EQ(peer.ofKind(kRZSRequestAddSnsAccount).size(), 1u);

    // A cancelled login ends without an account.
    delegate_->events.clear();
    RZSUserManager::shareInstance().setSnsAccountDictionary({});
    tap("sina");
    EXPECT_TRUE(openUrl("testsina03://sina/login?result=cancel"));
    EXPECT_EQ(delegate_->events, (Events{"select sina", "result 5052"}));
}

TEST_F(HandlersTest, UnauthorisingSinaForgetsItsAccount) {
    auto handler = RAZududeHandlerRegistry::shareInstanceOf("RAZududeSinaSSOHandler");
    ASSERT_TRUE(handler);
    std::vector<int> codes;
    auto record = [&](const RAZududeResponsePtr& r) { codes.push_back(r->responseCode()); };
    EXPECT_TRUE(handler->unOauth(record));
    social_test::authorise("sina");
    social_test::authorise("renren");
    EXPECT_TRUE(handler->unOauth(record));
    EXPECT_EQ(codes, (std::vector<int>{510, 200}));
    EXPECT_FALSE(RAZududeAccountManager::isOauthWithPlatform("sina"));
    EXPECT_TRUE(RAZududeAccountManager::isOauthWithPlatform("renren"));
    // Other handlers do not un-authorise.
    EXPECT_FALSE(RAZududeHandlerRegistry::shareInstanceOf("RAZududeMailHandler")->unOauth(record));
}

TEST_F(HandlersTest, MailAndMessagesGoToTheComposerStandIn) {
    auto data = RAZududeData::defaultData();
    data->extConfig()->emailData()->setTitle("邮件标题");
    auto picture = std::make_shared<platform::Image>(3, 2);
    data->setShareImage(RAZududeShareImage(picture));
    tap("email");
    tap("sms");
    const auto& messages = Application::shared().composedMessages();
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[0].kind, ComposedMessage::Kind::kMail);
    EXPECT_EQ(messages[0].subject, "邮件标题");
    EXPECT_EQ(messages[0].body, "看日出\nhttps://e.org/a?b=1");
    ASSERT_EQ(messages[0].attachments.size(), 1u);
    EXPECT_EQ(messages[0].attachments[0].mimeType, "image/png");
    auto decoded = platform::Image::decode(messages[0].attachments[0].data);
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->pixelWidth(), 3);
    EXPECT_EQ(messages[1].kind, ComposedMessage::Kind::kText);
    EXPECT_TRUE(messages[1].attachments.empty());
    EXPECT_EQ(delegate_->events,
              (Events{"select email", "result 200", "select sms", "result 200"}));
    data->extConfig()->emailData()->setTitle(std::nullopt);
}

TEST_F(HandlersTest, FacebookAndTwitterNeedAnAccountThisMachineDoesNotHave) {
    tap("twitter");
    EXPECT_EQ(delegate_->events, (Events{"select twitter", "result 5053"}));
    EXPECT_EQ(alertTexts(), (Events{"|请先在系统设置中登录你的Twitter账号|好"}));
}

// An uploaded token names the platform application it was issued to: the handler's own id and
// secret, and none for a platform without such a handler.
TEST_F(HandlersTest, ATokenUploadCarriesItsHandlersApplicationKeys) {
    struct Case {
        const char* platform;
        std::optional<std::string> appId;
        std::optional<std::string> appSecret;
    };
    for (const Case& c : {Case{"wxsession", social_test::kWechatAppId, "wx-secret"},
                          Case{"qzone", social_test::kQQAppId, "qq-key"},
                          Case{"qq", social_test::kQQAppId, "qq-key"},
                          Case{"sina", social_test::kSinaAppKey, "sina-secret"},
                          Case{"douban", std::nullopt, std::nullopt}}) {
        RAZududeAccountEntity account(c.platform);
        account.setAccessToken("token");
        const platform::Map body = RAZududeJobFactory::getTokenDictionary(account);
        const auto text = [&](const char* key) -> std::optional<std::string> {
            const platform::Value* value = body.find(key);
            return value ? std::optional(value->stringValue()) : std::nullopt;
        };
        EXPECT_EQ(text("app_id"), c.appId) << c.platform;
        EXPECT_EQ(text("app_secret"), c.appSecret) << c.platform;
    }
}

}  // namespace
