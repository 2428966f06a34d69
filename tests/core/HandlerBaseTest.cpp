// The handler base: the URL that a platform application returns with, results for the app's
// delegate, the account upload after a login, the app's URL types and the helpers.
#include <gtest/gtest.h>

#include "SocialSDK/core/account/RAZududeAccountManager.h"
#include "SocialSDK/core/data/RAZududeData.h"
#include "SocialSDK/core/handler/RAZududeSnsHandler.h"
#include "SocialSDK/core/manager/RZSDataManager.h"
#include "SocialSDK/core/manager/RZSUserManager.h"
#include "platform/Bundle.h"
#include "platform/PropertyList.h"
#include "platform/ui/Alert.h"
#include "tests/core/SocialTest.h"
#include "tests/support/LogCapture.h"
#include "tests/support/TempDir.h"

namespace {

using platform::Array;
using platform::Map;
using platform::Url;
using platform::Value;

// A handler that takes the URLs of its own scheme.
class SchemeHandler : public RAZududeSnsHandlerDelegate {
  public:
    explicit SchemeHandler(std::string scheme) : scheme_(std::move(scheme)) {}
    bool handleOpenURL(const Url& url) override {
        seen.push_back(url.absoluteString());
        return url.scheme() == scheme_;
    }
    std::vector<std::string> seen;

  private:
    std::string scheme_;
};

Url url(const char* text) {
    return *Url::parse(text);
}

class HandlerBaseTest : public social_test::SocialTest {};

TEST_F(HandlerBaseTest, AReturningUrlReachesTheWaitingHandlerOnce) {
    auto& base = RAZududeSnsHandler::shareInstance();
    EXPECT_FALSE(base.handleOpenURL(url("app1://back")));

    auto handler = std::make_shared<SchemeHandler>("app1");
    base.setCurrentSnsHandler(handler);
    // A URL the handler does not know leaves it waiting.
    EXPECT_FALSE(base.handleOpenURL(url("other://x")));
    EXPECT_EQ(base.currentSnsHandler(), handler);
    EXPECT_TRUE(base.handleOpenURL(url("app1://back?code=1")));
    EXPECT_FALSE(base.currentSnsHandler());
    EXPECT_FALSE(base.handleOpenURL(url("app1://back?code=1")));
    EXPECT_EQ(handler->seen, (std::vector<std::string>{"other://x", "app1://back?code=1"}));

    // A handler that went away is nobody.
    auto gone = std::make_shared<SchemeHandler>("app2");
    base.setCurrentSnsHandler(gone);
    gone.reset();
    EXPECT_FALSE(base.handleOpenURL(url("app2://back")));
}

TEST_F(HandlerBaseTest, ResultsForTheDelegateCarryTheEditorAndShareTypes) {
    RAZududeSnsHandler::handleUIDelegate(delegate_, "qq", 5054, "missing", std::nullopt,
                                         Value(Map{{"ret", "1"}}));
    ASSERT_EQ(delegate_->responses.size(), 1u);
    const auto& r = *delegate_->responses[0];
    EXPECT_EQ(r.responseCode(), 5054);
    EXPECT_EQ(r.message(), "missing");
    EXPECT_EQ(r.viewControllerType(), 3);
    EXPECT_EQ(r.responseType(), 5);
    EXPECT_EQ(r.data(), (Map{{"qq", ""}}));
    EXPECT_EQ(r.thirdPlatformResponse(), Value(Map{{"ret", "1"}}));
    // A delegate without the method, or none, is fine.
    RAZududeSnsHandler::handleUIDelegate(std::make_shared<RAZududeUIDelegate>(), "qq", 200, {}, {},
                                         {});
    RAZududeSnsHandler::handleUIDelegate(nullptr, "qq", 200, {}, {}, {});
}

TEST_F(HandlerBaseTest, AFailedAccountUploadReportsAndAlerts) {
    social_test::RequestPeer peer([](const RZSRequest&) { return social_test::response(500); });
    auto account = std::make_shared<RAZududeAccountEntity>("sina");
    account->setUsid("42");
    RAZududeResponsePtr got;
    RAZududeSnsHandler::shareInstance().upLoadSnsAccount(
        account, [&](const RAZududeResponsePtr& r) { got = r; });
    ASSERT_TRUE(got);
    EXPECT_EQ(got->responseCode(), 5051);
    EXPECT_EQ(got->message(), "post sns info fail!");
    EXPECT_EQ(got->responseType(), 9);
    EXPECT_EQ(got->viewControllerType(), 7);
    EXPECT_FALSE(RAZududeAccountManager::isOauthWithPlatform("sina"));
    auto alerts = platform::AlertView::visibleAlerts();
    ASSERT_EQ(alerts.size(), 1u);
    EXPECT_EQ(alerts[0]->title(), "授权失败");
    EXPECT_EQ(alerts[0]->message(), "服务器繁忙，授权失败，请稍后再试");
    EXPECT_EQ(alerts[0]->buttonTitles(), (std::vector<std::string>{"好"}));
}

TEST_F(HandlerBaseTest, AnUploadedAccountIsStoredAndItsDataAnswered) {
    social_test::RequestPeer peer([](const RZSRequest&) { return social_test::response(200); });
    RZSUserManager::shareInstance().setUid("uid-1");
    auto account = std::make_shared<RAZududeAccountEntity>("sina");
    account->setUsid("42");
    account->setAccessToken("tok");
    account->setUserName("Zhang");
    RAZududeResponsePtr got;
    RAZududeSnsHandler::shareInstance().upLoadSnsAccount(
        account, [&](const RAZududeResponsePtr& r) { got = r; });
    ASSERT_TRUE(got);
    EXPECT_EQ(got->responseCode(), 200);
    EXPECT_EQ(got->message(), "no error");
    EXPECT_EQ(got->responseType(), 9);
    EXPECT_EQ(got->viewControllerType(), 7);
    EXPECT_EQ(got->data(),
              (Map{{"sina", Map{{"usid", "42"}, {"accessToken", "tok"}, {"username", "Zhang"}}}}));
    EXPECT_TRUE(RAZududeAccountManager::isOauthAndTokenNotExpired("sina"));
    // The token went up, then the accounts were asked for.
    EXPECT_EQ(peer.ofKind(kRZSRequestAddSnsAccount).size(), 1u);
    EXPECT_EQ(peer.ofKind(kRZSRequestSnsAccount).size(), 1u);
}

TEST_F(HandlerBaseTest, UrlSchemesComeFromTheAppsInfoPropertyList) {
    EXPECT_EQ(RAZududeSnsHandler::searchForURLSchemeWithPrefix(
                  "wx", Array{Map{{"CFBundleURLSchemes", Array{"abc", "wx111"}}},
                              Map{{"CFBundleURLName", "x"}},
                              Map{{"CFBundleURLSchemes", Array{"wx222", "wx333"}}}}),
              "wx222://");
    EXPECT_FALSE(RAZududeSnsHandler::searchForURLSchemeWithPrefix("qq", Array{}));

    testing_support::LogCapture log;
    auto saved = platform::Bundle::mainBundle().bundlePath();
    testing_support::TempDir app;
    platform::Bundle::setMainBundlePath(app.path());
    EXPECT_FALSE(RAZududeSnsHandler::getUrlSchemeWithPrefix("wx"));  // no property list
    EXPECT_TRUE(log.contains("URL scheme"));

    Value info(Map{{"CFBundleURLTypes",
                    Array{Map{{"CFBundleURLName", "weibo"}, {"CFBundleURLSchemes", Array{"sina9"}}},
                          Map{{"CFBundleURLSchemes", Array{"testwx01"}}}}}});
    ASSERT_TRUE(platform::PropertyList::writeFile(info, app.path() / "Info.plist",
                                                  platform::PropertyList::Format::kXml));
    platform::Bundle::setMainBundlePath(app.path());
    EXPECT_EQ(RAZududeSnsHandler::getUrlSchemeWithPrefix("testwx"), "testwx01://");
    EXPECT_TRUE(RAZududeSnsHandler::searchForURLSchemeWithPrefix("sina"));
    EXPECT_FALSE(RAZududeSnsHandler::searchForURLSchemeWithPrefix("qq"));
    EXPECT_TRUE(RAZududeSnsHandler::searchForURLSchemeWithURLName("weibo"));
    EXPECT_FALSE(RAZududeSnsHandler::searchForURLSchemeWithURLName("tencent"));
    platform::Bundle::setMainBundlePath(saved);
}

TEST(HandlerHelpersTest, ImagesAreScaledToFitAndTextCutAtWholeCharacters) {
    auto wide = std::make_shared<platform::Image>(100, 50);
    auto scaled = RAZududeSnsHandler::scaleImage(wide, {200, 40});
    ASSERT_TRUE(scaled);
    EXPECT_EQ(scaled->size(), (platform::Size{80, 40}));
    EXPECT_EQ(RAZududeSnsHandler::scaleImage(wide, {101, 51}), wide);
    auto jpeg = RAZududeSnsHandler::scaleAndComplessImage(wide, {50, 50});
    auto decoded = platform::Image::decode(jpeg);
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->pixelWidth(), 50);
    EXPECT_EQ(decoded->pixelHeight(), 25);

    using Encoding = RAZududeSnsHandler::StringEncoding;
    EXPECT_EQ(RAZududeSnsHandler::subString("分享到微信好友", Encoding::kUtf16, 7), "分享到");
    EXPECT_EQ(RAZududeSnsHandler::subString("分享到微信好友", Encoding::kGb18030, 7), "分享到");
    EXPECT_EQ(RAZududeSnsHandler::subString("ab分享", Encoding::kUtf8, 6), "ab分");
    // A character that ends exactly on the limit is kept.
    EXPECT_EQ(RAZududeSnsHandler::subString("分享到微信好友", Encoding::kUtf16, 6), "分享到");
    EXPECT_EQ(RAZududeSnsHandler::subString("分享到微信好友", Encoding::kGb18030, 6), "分享到");
    EXPECT_EQ(RAZududeSnsHandler::subString("ab分享", Encoding::kUtf8, 5), "ab分");
    EXPECT_EQ(RAZududeSnsHandler::subString("ab分享", Encoding::kUtf8, 8), "ab分享");
    EXPECT_EQ(RAZududeSnsHandler::subString("ab分享", Encoding::kUtf8, 0), "ab分享");
    EXPECT_EQ(RAZududeSnsHandler::subString("short", Encoding::kUtf8, 64), "short");
    EXPECT_FALSE(RAZududeSnsHandler::subString("", Encoding::kUtf8, 3));
    // An emoji is two UTF-16 units: it does not fit into two bytes.
    EXPECT_EQ(RAZududeSnsHandler::subString("😀a", Encoding::kUtf16, 2), "");
}

TEST_F(HandlerBaseTest, TheSharePictureOfAPlatformComesFromItsOwnContentFirst) {
    auto data = RAZududeData::defaultData();
    data->setShareImage(RAZududeShareImage(platform::Bytes{1}));
    auto bar = RZSDataManager::currentDataManager()->barEntity();
    auto qq = bar->getSnsData("qq");
    ASSERT_TRUE(qq);
    EXPECT_EQ(RAZududeSnsHandler::getShareImage(data, "qq"), data->shareImage());
    qq->setShareImage(RAZududeShareImage(platform::Bytes{2}));
    EXPECT_EQ(RAZududeSnsHandler::getShareImage(data, "qq").data()->front(), 2);

    // A local image resource of the platform wins over its picture.
    testing_support::TempDir dir;
    auto picture = std::make_shared<platform::Image>(4, 3);
    ASSERT_TRUE(picture->writePng(dir.path() / "p.png"));
    qq->urlResource()->setResourceType(
        1, platform::Url::fileUrl(dir.path() / "p.png").absoluteString());
    auto found = RAZududeSnsHandler::getShareImage(data, "qq");
    ASSERT_TRUE(found.isImage());
    EXPECT_EQ(found.image()->pixelWidth(), 4);
    qq->setShareImage({});
    qq->urlResource()->setResourceType(0);
    data->setShareImage({});
}

}  // namespace
