#include <gtest/gtest.h>

#include <functional>

#include "SocialSDK/core/config/RAZududeConfig.h"
#include "platform/Device.h"
#include "platform/ui/Button.h"
#include "platform/ui/Label.h"
#include "platform/ui/NavigationBar.h"
#include "platform/ui/TableView.h"

namespace {

using platform::Color;

// In a process of its own, where no test has changed the configuration yet.
void inFreshProcess(const std::function<void()>& check) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            check();
            std::exit(::testing::Test::HasFailure() ? 1 : 0);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST(ConfigTest, DefaultsOfTheSharedInstances) {
    inFreshProcess([] {
        auto& config = RAZududeConfig::shareInstance();
        EXPECT_FALSE(config.hiddenLoadingHUD());
        EXPECT_FALSE(config.hiddenStatusTip());
        EXPECT_FALSE(config.isGetInverseFlowUrl());
        EXPECT_TRUE(config.statisticsAfterShareEventReturned());
        EXPECT_FALSE(config.forCocos2dx());

        auto& internal = RAZududeConfigInternal::shareInstance();
        EXPECT_EQ(internal.boundsForiPad(), platform::Rect(0, 0, 533, 590));
        EXPECT_EQ(platform::Value(internal.snsPlatformNames()),
                  platform::Value(platform::Array{"sina", "tencent", "qzone", "renren", "douban",
                                                  "email", "sms", "facebook", "twitter"}));
        EXPECT_FALSE(internal.followSnsUids().has_value());
        EXPECT_TRUE(internal.shouldCommentWithShare());
        EXPECT_TRUE(internal.shouldCommentWithLocation());
        EXPECT_FALSE(internal.shouldShareSynchronous());
        EXPECT_EQ(internal.defaultColor(), Color::white());
        EXPECT_FALSE(internal.supportSinaSSO());
        EXPECT_FALSE(internal.supportTencentSSO());
        EXPECT_FALSE(internal.supportQzoneSSO());
        EXPECT_TRUE(internal.shareQzoneWithQQSDK());
        EXPECT_EQ(internal.socialTheme(), 1);
        EXPECT_FALSE(internal.gridViewConfig());
        EXPECT_TRUE(internal.navigationbarConfig());
        EXPECT_TRUE(internal.tableViewCellConfig());
        EXPECT_FALSE(internal.shouldShowAllPlatforms());
        ASSERT_TRUE(internal.showSnsPlatforms().has_value());
        EXPECT_TRUE(internal.showSnsPlatforms()->empty());
        ASSERT_TRUE(internal.hiddenSnsPlatforms().has_value());
        EXPECT_TRUE(internal.hiddenSnsPlatforms()->empty());
        // The test profile is a phone: portrait only.
        EXPECT_EQ(internal.socialInterfaceOrientations(), 2u);
    });
}

TEST(ConfigTest, AutorotationFollowsTheMaskBits) {
    auto& internal = RAZududeConfigInternal::shareInstance();
    unsigned saved = internal.socialInterfaceOrientations();
    EXPECT_TRUE(internal.shouldAutorotateToInterfaceOrientation(1));
    EXPECT_FALSE(internal.shouldAutorotateToInterfaceOrientation(2));
    EXPECT_FALSE(internal.shouldAutorotateToInterfaceOrientation(3));
    EXPECT_FALSE(internal.shouldAutorotateToInterfaceOrientation(-1));
    EXPECT_FALSE(internal.shouldAutorotateToInterfaceOrientation(64));
    internal.setSocialInterfaceOrientations(30);
    for (int o = 1; o <= 4; ++o) {
        EXPECT_TRUE(internal.shouldAutorotateToInterfaceOrientation(o)) << o;
    }
    internal.setSocialInterfaceOrientations(saved);
}

TEST(ConfigTest, NotInstalledListsAnswerByTheirState) {
    auto& internal = RAZududeConfigInternal::shareInstance();
    auto savedShow = internal.showSnsPlatforms();
    auto savedHidden = internal.hiddenSnsPlatforms();

    // Empty: no for every name.
    EXPECT_FALSE(RAZududeConfigInternal::hiddenTheNotInstalledPlatform("qq"));
    EXPECT_FALSE(RAZududeConfigInternal::showTheNotInstalledPlatform("qq"));
    // Nothing: yes for every name.
    internal.setShowSnsPlatforms(std::nullopt);
    EXPECT_TRUE(RAZududeConfigInternal::showTheNotInstalledPlatform("anything"));
    // A list: whether it names the platform.
    internal.setHiddenSnsPlatforms(std::vector<std::string>{"qq", "wxsession"});
    EXPECT_TRUE(RAZududeConfigInternal::hiddenTheNotInstalledPlatform("wxsession"));
    EXPECT_FALSE(RAZududeConfigInternal::hiddenTheNotInstalledPlatform("sina"));

    internal.setShowSnsPlatforms(savedShow);
    internal.setHiddenSnsPlatforms(savedHidden);
}

TEST(ConfigTest, ThemesInstallTheirBlocksAndLeaveTheOthers) {
    auto& internal = RAZududeConfigInternal::shareInstance();
    bool gridCalled = false;
    RAZududeConfig::setShareGridViewTheme(
        [&](platform::GraphicsContext*, platform::View*, platform::Label*) { gridCalled = true; });

    // The light theme keeps the app's grid block.
    RAZududeConfig::setTheme(7);
    EXPECT_EQ(internal.socialTheme(), 7);
    internal.gridViewConfig()(nullptr, nullptr, nullptr);
    EXPECT_TRUE(gridCalled);

    // The dark theme replaces it and keeps the cell block.
    bool cellCalled = false;
    RAZududeConfig::setTableViewCellConfig([&](platform::TableViewCell*) { cellCalled = true; });
    RAZududeConfig::setTheme(0);
    gridCalled = false;
    platform::View view;
    internal.gridViewConfig()(nullptr, &view, nullptr);
    EXPECT_FALSE(gridCalled);
    EXPECT_EQ(view.backgroundColor(), Color::darkGray());
    internal.tableViewCellConfig()(nullptr);
    EXPECT_TRUE(cellCalled);

    // The dark bar: buttons get their titles and the item a white title label.
    platform::NavigationBar bar;
    platform::Button close, back, post;
    platform::NavigationItem item("分享");
    internal.navigationbarConfig()(&bar, &close, &back, &post, nullptr, &item);
    EXPECT_EQ(close.currentTitle(), "关 闭");
    EXPECT_EQ(back.currentTitle(), "返 回");
    EXPECT_EQ(back.titleEdgeInsets(), (platform::EdgeInsets{0, 6, 0, 0}));
    EXPECT_EQ(post.currentTitle(), "发 布");
    EXPECT_TRUE(close.titleLabel().font().isBold());
    EXPECT_TRUE(bar.backgroundImage());
    auto title = std::dynamic_pointer_cast<platform::Label>(item.titleView());
    ASSERT_TRUE(title);
    EXPECT_EQ(title->text(), "分享");
    EXPECT_EQ(title->textColor(), Color::white());
    EXPECT_GT(title->frame().size.width, 0);
    // Null arguments are fine.
    internal.navigationbarConfig()(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);

    // Back to the light theme with its own blocks.
    RAZududeConfig::setTheme(1);
    platform::NavigationItem light("分享");
    internal.navigationbarConfig()(nullptr, nullptr, nullptr, nullptr, nullptr, &light);
    auto lightTitle = std::dynamic_pointer_cast<platform::Label>(light.titleView());
    ASSERT_TRUE(lightTitle);
    EXPECT_EQ(lightTitle->textColor(), Color(70 / 255.0, 79 / 255.0, 97 / 255.0, 1));
    RAZududeConfig::setTableViewCellConfig(RAZududeConfigInternal::lightTableViewCellConfig());
    platform::TableViewCell cell(platform::TableViewCellStyle::kDefault, "c");
    internal.tableViewCellConfig()(&cell);
    EXPECT_EQ(cell.textLabel().textColor(), Color::gray(0.353));
    RAZududeConfig::setShareGridViewTheme({});
}

TEST(ConfigTest, BoundsSizeForIpadKeepsTheOrigin) {
    auto& internal = RAZududeConfigInternal::shareInstance();
    auto saved = internal.boundsForiPad();
    internal.setBoundsSizeForiPad({400, 300});
    EXPECT_EQ(internal.boundsForiPad(), platform::Rect(0, 0, 400, 300));
    internal.setBoundsForiPad(saved);
}

}  // namespace
