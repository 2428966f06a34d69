// The share record, its per-platform content and the bar entity behind it.
#include <gtest/gtest.h>

#include "RZBase_Source/Encode/RAZududeCryptor.h"
#include "SocialSDK/core/data/RAZududeData.h"
#include "SocialSDK/core/handler/RAZududeSnsHandler.h"
#include "SocialSDK/core/manager/RZSDataManager.h"
#include "SocialSDK/core/manager/RZSPersistence.h"
#include "tests/core/SocialTest.h"
#include "tests/support/TempDir.h"

namespace {

using platform::Map;
using platform::Value;
using social_test::RequestPeer;

platform::ImagePtr dot() {
    auto image = std::make_shared<platform::Image>(2, 2);
    return image;
}

TEST(ShareDataTest, RecordsOfOneIdentifierShareOneContent) {
    RequestPeer peer;  // the bar requests of new identifiers go nowhere
    RAZududeData first("article-17", "Title");
    RAZududeData second("article-17");
    first.setShareText("shared text");
    first.setShareImage(RAZududeShareImage(dot()));
    EXPECT_EQ(second.shareText(), "shared text");
    EXPECT_TRUE(second.shareImage().isImage());
    EXPECT_EQ(first.title(), "Title");
    EXPECT_FALSE(second.title().has_value());  // the title lives in the record itself

    RAZududeData other("article-18");
    EXPECT_FALSE(other.shareText().has_value());
    EXPECT_EQ(RAZududeData::defaultData()->identifier(), "RAZududeDefault");

    // A new identifier asks the share service for its bar, escaped, with the title.
    auto bars = peer.ofKind(kRZSRequestBarInfo);
    ASSERT_FALSE(bars.empty());
    EXPECT_EQ(bars.front().parameters.values["descriptor"], Value("article-17"));
    EXPECT_EQ(RZSDataManager::getDataManager("article-17")->title(), "Title");
}

TEST(ShareDataTest, ATitleGoesToItsOwnRecordsShareEvenAfterAnotherRecordIsMade) {
    RequestPeer peer;
    RAZududeData early("article-21", "Early");
    RAZududeData later("article-22", "Later");
    early.setTitle("Early, retitled");
    EXPECT_EQ(RZSDataManager::getDataManager("article-21")->title(), "Early, retitled");
    EXPECT_EQ(RZSDataManager::getDataManager("article-22")->title(), "Later");
}

TEST(ShareDataTest, ASecondRecordOfAnIdentifierKeepsTheResourceAndExtrasOfTheFirst) {
    RequestPeer peer;
    RAZududeData first("article-19");
    first.setUrlResource(RAZududeUrlResource::initWithSnsResourceType(kRAZududeUrlResourceTypeImage,
                                                                      "file:///tmp/a.png"));
    first.extConfig()->sinaData()->setShareText("for sina");
    auto extras = first.extConfig();

    RAZududeData second("article-19");
    ASSERT_TRUE(second.urlResource());
    EXPECT_EQ(second.urlResource()->resourceType(), kRAZududeUrlResourceTypeImage);
    EXPECT_EQ(first.urlResource()->url(), "file:///tmp/a.png");
    EXPECT_EQ(second.extConfig(), extras);
    EXPECT_EQ(first.extConfig()->sinaData()->shareText(), "for sina");

    // A new identifier starts with its own empty resource and extras.
    RAZududeData fresh("article-20");
    ASSERT_TRUE(fresh.urlResource());
    EXPECT_EQ(fresh.urlResource()->resourceType(), kRAZududeUrlResourceTypeDefault);
    ASSERT_TRUE(fresh.extConfig());
    EXPECT_NE(fresh.extConfig(), extras);
}

TEST(ShareDataTest, TheExtendedConfigurationHoldsOneDataObjectPerPlatform) {
    RAZududeExtConfig config;
    EXPECT_EQ(config.snsDataDictionary().size(), 20u);
    ASSERT_TRUE(config.snsData("wxfavorite"));
    EXPECT_EQ(config.snsData("wxfavorite")->snsName(), "wxfavorate");
    EXPECT_EQ(config.snsData("laiwang"), config.lwsessionData());
    EXPECT_EQ(config.snsData("alipaysession")->snsName(), "alipay");
    EXPECT_EQ(config.snsData("yixin_circle"), config.yxtimelineData());
    for (const auto& [name, data] : config.snsDataDictionary()) {
        ASSERT_TRUE(data->urlResource()) << name;
        EXPECT_EQ(data->urlResource()->resourceType(), 0) << name;
    }
    EXPECT_EQ(config.wechatSessionData()->wxMessageType(), 0);
    EXPECT_FALSE(config.snsData("whatsapp"));
}

TEST(ShareDataTest, UrlResourcesRefuseTypesTheyDoNotKnow) {
    EXPECT_FALSE(RAZududeUrlResource::initWithSnsResourceType(0, "http://a/b"));
    auto video = RAZududeUrlResource::initWithSnsResourceType(2, "http://a/v");
    ASSERT_TRUE(video);
    EXPECT_EQ(video->resourceType(), 2);
    EXPECT_EQ(video->url(), "http://a/v");
    video->setResourceType(7);
    EXPECT_EQ(video->resourceType(), 0);
    video->setResourceType(-3);
    EXPECT_EQ(video->resourceType(), 0);
    // The URL is stored only when the type is then not 0.
    RAZududeUrlResource resource;
    resource.setResourceType(9, "http://ignored");
    EXPECT_FALSE(resource.url().has_value());
    resource.setResourceType(4, "http://page");
    EXPECT_EQ(resource.url(), "http://page");
}

TEST(ShareDataTest, WrongShareImagesAndUrlResourcesAreRefusedAndTheOldOnesStay) {
    RequestPeer peer;
    RAZududeData data("refusals");
    data.setShareImage(RAZududeShareImage(platform::Bytes{0x89, 'P', 'N', 'G'}));
    data.setShareImage(RAZududeShareImage::fromValue(Value("not a picture")));
    ASSERT_TRUE(data.shareImage().isData());
    EXPECT_EQ(data.shareImage().data()->size(), 4u);
    // Bytes from dynamic data are a picture; null is none.
    EXPECT_TRUE(RAZududeShareImage::fromValue(Value(platform::Bytes{1})).isData());
    EXPECT_TRUE(RAZududeShareImage::fromValue(Value()).isNil());

    auto page = RAZududeUrlResource::initWithSnsResourceType(4, "https://example.org");
    data.setUrlResource(page);
    data.setUrlResource(nullptr);
    data.setUrlResource(std::make_shared<RAZududeUrlResource>());  // no URL
    EXPECT_EQ(data.urlResource(), page);
}

TEST(ShareDataTest, CountersComeFromTheBarEntity) {
    RequestPeer peer;
    RAZududeData data("counters");
    auto bar = RZSDataManager::getDataManager("counters")->barEntity();
    bar->setLikeCount(3);
    bar->setShareCount(5);
    bar->setCommentCount(8);
    bar->setEntityKey("ek-1");
    bar->setIsLike(true);
    EXPECT_EQ(data.getNumber(0), 3);
    EXPECT_EQ(data.getNumber(1), 5);
    EXPECT_EQ(data.getNumber(2), 8);
    EXPECT_EQ(data.getNumber(3), 0);
    EXPECT_EQ(data.hashIdentifier(), "ek-1");
    EXPECT_TRUE(data.isLike());
    // With a key, refresh asks nothing more.
    std::size_t asked = peer.ofKind(kRZSRequestBarInfo).size();
    data.refresh();
    EXPECT_EQ(peer.ofKind(kRZSRequestBarInfo).size(), asked);
    bar->setEntityKey(std::nullopt);
    data.refresh();
    EXPECT_EQ(peer.ofKind(kRZSRequestBarInfo).size(), asked + 1);
}

TEST(ShareDataTest, PerPlatformContentFallsBackToTheItemsOwn) {
    RZSBarEntity bar;
    bar.setExtConfig(std::make_shared<RAZududeExtConfig>());
    bar.setShareText("own text");
    bar.setShareImage(RAZududeShareImage(platform::Bytes{1, 2}));
    auto own = RAZududeUrlResource::initWithSnsResourceType(1, "http://own");
    bar.setUrlResource(own);

    EXPECT_EQ(bar.shareText("wxsession"), "own text");
    bar.extConfig()->wechatSessionData()->setShareText("session text");
    EXPECT_EQ(bar.shareText("wxsession"), "session text");
    EXPECT_EQ(bar.shareText("wxtimeline"), "own text");

    // A holder's resource of type 0 does not count, even with a URL.
    bar.extConfig()->qqData()->urlResource()->setUrl("http://qq");
    EXPECT_EQ(bar.urlResource("qq"), own);
    bar.extConfig()->qqData()->urlResource()->setResourceType(2);
    EXPECT_EQ(bar.urlResource("qq"), bar.extConfig()->qqData()->urlResource());

    EXPECT_FALSE(bar.getSnsData("whatsapp"));
    EXPECT_EQ(bar.shareText("whatsapp"), "own text");
    EXPECT_TRUE(bar.shareImage("whatsapp").isData());
    EXPECT_EQ(bar.getSnsData("laiwang_dynamic"), bar.extConfig()->lwtimelineData());
}

TEST(ShareDataTest, SettingTheAppKeyRekeysTheCryptorAndMergesTheAppInformation) {
    auto& base = RAZududeSnsHandler::shareInstance();
    base.setAppInfo(Map{{"sina", Map{{"key", "local-key"}}}, {"qq", Map{{"key", "old"}}}});
    RequestPeer peer([](const RZSRequest& request) -> RAZududeResponsePtr {
        if (request.kind != kRZSRequestAppInfo) {
            return nullptr;
        }
        return social_test::response(200, Map{{"sina", Map{{"key", "server-key"}}},
                                              {"qq", Map{{"key", "server-qq"}}},
                                              {"renren", Map{{"key", "rr"}}}});
    });
    RAZududeData::setAppKey("appkey-for-tests");
    EXPECT_EQ(RAZududeData::appKey(), "appkey-for-tests");
    EXPECT_EQ(base.appkey(), "appkey-for-tests");
    EXPECT_TRUE(RAZududeCryptor::sharedInstance().hasKey());

    Map info = base.appInfo();
    EXPECT_EQ(info["sina"]["key"], Value("local-key"));
    EXPECT_EQ(info["qq"]["key"], Value("server-qq"));
    EXPECT_EQ(info["renren"]["key"], Value("rr"));
    // Kept in the entity cache as well.
    auto stored = rzs_persistence::loadAppInfo();
    ASSERT_TRUE(stored);
    EXPECT_EQ((*stored)["renren"]["key"], Value("rr"));

    // Without a local Sina key the server's is taken; a failed reply changes nothing.
    EXPECT_EQ(
        (*RAZududeData::mergedAppInfo(
            Map{}, social_test::response(200, Map{{"sina", Map{{"key", "s"}}}})))["sina"]["key"],
        Value("s"));
    auto failed = RAZududeJob::failureResponse(kRZSRequestAppInfo, platform::Error("test", -1));
    EXPECT_FALSE(RAZududeData::mergedAppInfo(info, failed));
    base.setAppInfo(std::nullopt);  // ignored
    EXPECT_EQ(base.appInfo()["renren"]["key"], Value("rr"));
}

TEST(ShareDataTest, TheDescriptorIsTheIdentifierEscapedAsTheShareServiceReadsIt) {
    const std::string identifiers[] = {"plain-id_1.2", "a b/c?d=e&f#g", "100%25 sure",
                                       "分享~!*'()",   "bad%zz escape", "%E5%88%86%FF"};
    // Malformed escapes, or escapes that do not decode as UTF-8, leave the identifier as it is.
    std::string script =
        "import re, sys, urllib.parse\n"
        "for line in sys.stdin.read().split('\\n'):\n"
        "    if not line: continue\n"
        "    plain = line\n"
        "    if not re.search(r'%(?![0-9A-Fa-f]{2})', line):\n"
        "        try: plain = urllib.parse.unquote(line, errors='strict')\n"
        "        except UnicodeDecodeError: pass\n"
        "    print(urllib.parse.quote(plain, safe='-_.').replace('~', '%7E'))\n";
    std::string input;
    for (const auto& id : identifiers) {
        input += id + "\n";
    }
    std::string expected = testing_support::runPython(script, input);
    std::string actual;
    for (const auto& id : identifiers) {
        actual += RZSDataManager::escapedIdentifier(id) + "\n";
    }
    EXPECT_EQ(actual, expected);
}

}  // namespace
