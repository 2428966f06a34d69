// The response entity's text, the platform registry and its look-ups, the handler classes found
// by name, and the platforms the app adds.
#include <gtest/gtest.h>

#include "SocialSDK/core/config/RAZududeConfig.h"
#include "SocialSDK/core/handler/RAZududeHandlerRegistry.h"
#include "SocialSDK/core/handler/RAZududeSnsHandler.h"
#include "SocialSDK/core/platform/RAZududeSnsPlatformInternal.h"
#include "SocialSDK/core/platform/RAZududeSnsPlatformManager.h"
#include "share_handlers/RAZududeMailHandler.h"
#include "share_handlers/RAZududeWechatHandler.h"
#include "tests/core/SocialTest.h"
#include "tests/support/LogCapture.h"

namespace {

using platform::Array;
using platform::Map;
using platform::Value;
using Names = std::vector<std::string>;

TEST(ResponseEntityTest, DescribesTheFieldsThatAreSet) {
    RAZududeResponseEntity fresh;
    EXPECT_EQ(fresh.description(), Value(Map{}).description());

    RAZududeResponseEntity entity;
    entity.setResponseCode(5052);
    entity.setMessage("user cancel the operation");
    entity.setViewControllerType(7);
    entity.setData(Map{{"tencent", ""}});
    Map expected{{"responseCode", 5052},
                 {"data", Map{{"tencent", ""}}},
                 {"message", "user cancel the operation"},
                 {"viewControllerType", 7}};
    EXPECT_EQ(entity.description(), Value(expected).description());

    // Every field, in its place: the type after the message, the platform's objects last.
    entity.setResponseType(9);
    entity.setThirdPlatformUserProfile(Map{{"name", "Zhang"}});
    entity.setThirdPlatformResponse("raw");
    Map full{{"responseCode", 5052},
             {"data", Map{{"tencent", ""}}},
             {"message", "user cancel the operation"},
             {"responseType", 9},
             {"viewControllerType", 7},
             {"thirdPlatformResponse", "raw"},
             {"thirdPlatformUserProfile", Map{{"name", "Zhang"}}}};
    EXPECT_EQ(entity.description(), Value(full).description());

    // A network failure: the kind as type, the error, no data.
    auto failure = RAZududeJob::failureResponse(3, platform::Error("test", -1));
    EXPECT_EQ(failure->responseCode(), 5050);
    EXPECT_EQ(failure->responseType(), 3);
    EXPECT_FALSE(failure->data());
    ASSERT_TRUE(failure->error());
    EXPECT_NE(failure->description().find("error"), std::string::npos);
}

class RegistryTest : public social_test::SocialTest {};

TEST_F(RegistryTest, LooksPlatformsUpByNameTypeAndPosition) {
    EXPECT_EQ(RAZududeSnsPlatformManager::getSnsPlatformType("yixin"), 0);
    EXPECT_EQ(RAZududeSnsPlatformManager::getSnsPlatformType("wxsession"), 14);
    EXPECT_EQ(RAZududeSnsPlatformManager::getSnsPlatformType("sina"), 9);
    EXPECT_EQ(RAZududeSnsPlatformManager::getSnsPlatformType("qq"), 19);
    EXPECT_EQ(RAZududeSnsPlatformManager::getSnsPlatformString(11), "tencent");
    EXPECT_EQ(RAZududeSnsPlatformManager::getSnsPlatformString(17), "email");

    auto& registry = RAZududeSnsPlatformManager::sharedInstance();
    EXPECT_EQ(registry.getSnsPlatformWithType(21)->platformName(), "twitter");
    EXPECT_EQ(registry.socialSnsArray(), (Names{"tencent", "qzone", "renren", "douban"}));
    EXPECT_EQ(RAZududeSnsPlatformManager::getSnsPlatformStringFromIndex(2), "renren");
    EXPECT_EQ(registry.getSnsPlatformWithIndex(3)->platformName(), "douban");

    testing_support::LogCapture log;
    EXPECT_FALSE(RAZududeSnsPlatformManager::getSnsPlatformStringFromIndex(4));
    EXPECT_FALSE(RAZududeSnsPlatformManager::getSnsPlatformString(99));
    EXPECT_FALSE(RAZududeSnsPlatformManager::getSocialPlatformWithName("line"));
    EXPECT_EQ(RAZududeSnsPlatformManager::getSnsPlatformType("line"), 0);
    EXPECT_FALSE(RAZududeSnsPlatformManager::getSocialPlatformWithName("loginAccount"));
    EXPECT_EQ(log.messages(),
              (Names{"RAZudude----sns index error!", "RAZudude----socialSnsType error!",
                     "RAZudude----line, Error: displayName error!",
                     "RAZudude----socialSnsString error!"}));
    // The registry's own lookup is silent.
    EXPECT_EQ(RAZududeSnsPlatformManagerInternal::getSnsPlatformType("line"), 0);
    EXPECT_EQ(log.messages().size(), 4u);
}

TEST_F(RegistryTest, ThePlatformsOfTheRegistryAndOfTheHandlers) {
    auto tencent = RAZududeSnsPlatformManager::getSocialPlatformWithName("tencent");
    ASSERT_TRUE(tencent);
    EXPECT_EQ(tencent->displayName(), "腾讯微博");
    EXPECT_TRUE(tencent->needLogin());
    EXPECT_TRUE(tencent->haveWebViewAuth());
    EXPECT_EQ(tencent->oauthCallBackPath(), "/tenc2/main");
    EXPECT_EQ(tencent->oauthBaseURLString(), "share/auth");
    EXPECT_EQ(tencent->bigImageName(),
              "RAZududeSDKResourcesNew.bundle/SnsPlatform/RZS_tencent_icon");
    EXPECT_EQ(tencent->smallImageOffName(),
              "RAZududeSDKResourcesNew.bundle/SnsPlatform/RZS_tencent_off");
    auto qzone = RAZududeSnsPlatformManager::getSocialPlatformWithName("qzone");
    EXPECT_FALSE(qzone->needLogin());
    EXPECT_EQ(qzone->loginName(), "QQ账号");

    // Taken from the handlers while the registry built itself.
    for (const char* name : {"email", "sms", "facebook", "twitter"}) {
        auto platform = RAZududeSnsPlatformManager::getSocialPlatformWithName(name);
        ASSERT_TRUE(platform) << name;
        EXPECT_TRUE(platform->snsClickHandler()) << name;
        EXPECT_FALSE(platform->needLogin()) << name;
    }
    EXPECT_EQ(RAZududeSnsPlatformManager::getSocialPlatformWithName("sms")->bigImageName(),
              "RAZududeSDKResourcesNew.bundle/SnsPlatform/RZS_sms_icon");
    auto sina = RAZududeSnsPlatformManager::getSocialPlatformWithName("sina");
    ASSERT_TRUE(sina);
    EXPECT_TRUE(sina->needLogin());
    EXPECT_EQ(sina->oauthCallBackPath(), "/sina2/main");
    EXPECT_EQ(RAZududeSnsHandler::shareInstance().sinaType(), 1);

    // A platform made by name has no type and a login that only logs.
    auto bare = RAZududeSnsPlatform::initWithPlatformName("bare");
    EXPECT_EQ(bare->shareToType(), 0);
    EXPECT_EQ(bare->platformInternal()->platformName(), "bare");
    EXPECT_EQ(bare->platformInternal()->shareStatus(), "0");
    ASSERT_TRUE(bare->loginClickHandler());
    bool called = false;
    bare->loginClickHandler()(nullptr, nullptr, true,
                              [&](const RAZududeResponsePtr&) { called = true; });
    EXPECT_FALSE(called);
    EXPECT_EQ(RAZududeSnsPlatformManager::makeSNSDescriptorWithType(30)->platformName(), "");
}

// The companion is a platform in its own right: it carries the platform's properties, its own
// name copied, its type the registry's for that name whatever is stored.
TEST_F(RegistryTest, TheCompanionIsAPlatformNamedAfterItsOwn) {
    auto tencent = RAZududeSnsPlatformManager::getSocialPlatformWithName("tencent");
    ASSERT_TRUE(tencent);
    std::shared_ptr<RAZududeSnsPlatform> companion = tencent->platformInternal();
    EXPECT_EQ(companion->platformName(), "tencent");
    EXPECT_EQ(companion->shareToType(), 11);
    companion->setShareToType(30);
    EXPECT_EQ(companion->shareToType(), 11);
    EXPECT_EQ(companion->displayName(), "");
    EXPECT_FALSE(companion->needLogin());
    EXPECT_EQ(tencent->shareToType(), 11);

    // Unregistered: the name is known, the type is not.
    auto custom = RAZududeSnsPlatform::initWithPlatformName("custom");
    custom->setShareToType(40);
    EXPECT_EQ(custom->platformInternal()->platformName(), "custom");
    EXPECT_EQ(std::shared_ptr<RAZududeSnsPlatform>(custom->platformInternal())->shareToType(), 0);
}

TEST_F(RegistryTest, TheConfiguredListIsFlattenedOneLevel) {
    RAZududeConfigInternal::shareInstance().setSnsPlatformNames(
        Array{"sina", Array{"qq", "qzone"}, "email", 12});
    auto& registry = RAZududeSnsPlatformManager::sharedInstance();
    EXPECT_EQ(registry.allSnsValuesArray(), (Names{"sina", "qq", "qzone", "email"}));
    EXPECT_EQ(registry.socialSnsArray(), (Names{"qzone"}));
    // The WeChat handler put its names in front of the default list.
    RAZududeConfigInternal::shareInstance().setSnsPlatformNames({});
    EXPECT_TRUE(registry.allSnsValuesArray().empty());
}

TEST_F(RegistryTest, HandlerClassesAreFoundByNameAndAbsentNamesFindNothing) {
    EXPECT_EQ(RAZududeHandlerRegistry::shareInstanceOf("RAZududeWechatHandler"),
              RAZududeWechatHandler::shareInstance());
    EXPECT_TRUE(RAZududeHandlerRegistry::hasHandlerClass("RAZududeSinaSSOHandler"));
    for (const char* absent :
         {"RAZududeFacebookHandler", "RAZududeTwitterHandler", "RAZududeTencentWeiboHandler", ""}) {
        EXPECT_FALSE(RAZududeHandlerRegistry::shareInstanceOf(absent)) << absent;
        EXPECT_FALSE(RAZududeHandlerRegistry::hasHandlerClass(absent)) << absent;
    }
    EXPECT_EQ(RAZududeSnsHandler::getSocialSnsHandler("sms"), RAZududeMailHandler::shareInstance());
    EXPECT_EQ(RAZududeSnsHandler::getSocialSnsHandler("wxtimeline"),
              RAZududeWechatHandler::shareInstance());
    EXPECT_FALSE(RAZududeSnsHandler::getSocialSnsHandler("wxfavorite"));
    EXPECT_FALSE(RAZududeSnsHandler::getSocialSnsHandler("sina"));
    EXPECT_FALSE(RAZududeSnsHandler::getSocialSnsHandler("tencent"));
    // Nothing happens for a platform without a handler.
    RAZududeSnsHandler::clickHandlerWithSnsName("tencent", nullptr, nullptr);

    // Registering a name again replaces the class.
    struct Other : RAZududePlatformHandler {};
    auto other = std::make_shared<Other>();
    RAZududeHandlerRegistry::registerHandlerClass("TestOnlyHandler", [other] { return other; });
    EXPECT_EQ(RAZududeHandlerRegistry::shareInstanceOf("TestOnlyHandler"), other);
    RAZududeHandlerRegistry::registerHandlerClass("TestOnlyHandler", {});
    EXPECT_FALSE(RAZududeHandlerRegistry::shareInstanceOf("TestOnlyHandler"));
}

TEST_F(RegistryTest, PlatformsTheAppAddsNeverGetATypeAlreadyTaken) {
    // Types from 34 up that other tests of this process have not taken yet.
    auto& registry = RAZududeSnsPlatformManager::sharedInstance();
    int base = 34;
    while (registry.getSnsPlatformWithType(base)) {
        ++base;
    }
    auto first = RAZududeSnsPlatform::initWithPlatformName("app-one");
    auto second = RAZududeSnsPlatform::initWithPlatformName("app-two");
    auto typed = RAZududeSnsPlatform::initWithPlatformName("app-typed");
    typed->setShareToType(60);
    RAZududeConfig::addSocialSnsPlatform({first, nullptr, second, typed});
    EXPECT_EQ(first->shareToType(), base);
    EXPECT_EQ(second->shareToType(), base + 1);
    EXPECT_EQ(typed->shareToType(), 60);

    // A later call goes on after the types in use.
    auto third = RAZududeSnsPlatform::initWithPlatformName("app-three");
    auto again = RAZududeSnsPlatform::initWithPlatformName("app-one");  // already registered
    RAZududeConfig::addSocialSnsPlatform({third, again});
    EXPECT_EQ(third->shareToType(), base + 2);
    EXPECT_EQ(again->shareToType(), 0);
    EXPECT_EQ(RAZududeSnsPlatformManager::getSocialPlatformWithName("app-one"), first);
    EXPECT_EQ(RAZududeSnsPlatformManager::getSnsPlatformString(base + 2), "app-three");
}

TEST_F(RegistryTest, NotInstalledPlatformsAreMarkedHiddenOrShown) {
    RAZududeConfig::hiddenNotInstallPlatforms(std::nullopt);
    auto qq = RAZududeSnsPlatformManager::getSocialPlatformWithName("qq")->platformInternal();
    auto wx =
        RAZududeSnsPlatformManager::getSocialPlatformWithName("wxtimeline")->platformInternal();
    auto tencent =
        RAZududeSnsPlatformManager::getSocialPlatformWithName("tencent")->platformInternal();
    EXPECT_TRUE(qq->isHidden());
    EXPECT_TRUE(wx->isHidden());
    EXPECT_FALSE(tencent->isHidden());
    EXPECT_TRUE(RAZududeConfigInternal::hiddenTheNotInstalledPlatform("line"));
    RAZududeConfig::showNotInstallPlatforms(Names{"qq", "nothing"});
    EXPECT_FALSE(qq->isHidden());
    EXPECT_TRUE(wx->isHidden());
    EXPECT_TRUE(RAZududeConfigInternal::showTheNotInstalledPlatform("qq"));
    EXPECT_FALSE(RAZududeConfigInternal::showTheNotInstalledPlatform("sina"));
}

}  // namespace
