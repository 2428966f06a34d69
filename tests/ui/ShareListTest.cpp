// The share list: which platforms it shows and in what order, its rows as a person sees them,
// and what a tap does (the platform's click handler, or a direct share when the app asks).
#include <gtest/gtest.h>

#include "SocialSDK/core/config/RAZududeConfig.h"
#include "SocialSDK/core/data/RAZududeData.h"
#include "SocialSDK/core/platform/RAZududeSnsPlatformInternal.h"
#include "SocialSDK/core/platform/RAZududeSnsPlatformManager.h"
#include "SocialSDK/ui/controller/RAZududeControllerService.h"
#include "SocialSDK/ui/list/RZSShareListController.h"
#include "SocialSDK/ui/oauth/RZSOauthViewController.h"
#include "platform/ui/NavigationController.h"
#include "tests/core/SocialTest.h"
#include "tests/ui/Pictures.h"

namespace {

using Events = std::vector<std::string>;

class ShareListTest : public social_test::SocialTest {
  protected:
    ShareListTest() {
        showAppScreen();
        service_->setSocialUIDelegate(delegate_);
    }

    // The list of the names, through the service, presented over the app's screen.
    std::shared_ptr<RZSShareListController> show(const platform::Array& names) {
        RAZududeConfigInternal::shareInstance().setSnsPlatformNames(names);
        if (!presentOverAppScreen(service_->getSocialShareListControllerInternal())) {
            ADD_FAILURE() << "no screen";
            return nullptr;
        }
        return std::dynamic_pointer_cast<RZSShareListController>(service_->currentViewController());
    }

    std::shared_ptr<RAZududeControllerService> service_ =
        std::make_shared<RAZududeControllerService>();
    social_test::RequestPeer peer_;
};

TEST_F(ShareListTest, KeepsRegisteredVisiblePlatformsInTheirOrder) {
    RAZududeSnsPlatformManager::getSocialPlatformWithName("douban")
        ->platformInternal()
        ->setIsHidden(true);
    auto list = show({"renren", "no-such-platform", "douban", platform::Value(7), "tencent"});
    ASSERT_TRUE(list);
    EXPECT_EQ(list->allSnsArray(), (platform::Array{"renren", "tencent"}));
    auto& table = list->tableView();
    EXPECT_EQ(table.numberOfSections(), 1);
    ASSERT_EQ(table.numberOfRowsInSection(0), 2);

    auto cell = table.cellForRowAtIndexPath({0, 1});
    ASSERT_TRUE(cell);
    EXPECT_EQ(cell->reuseIdentifier(), "RAZududeListCell");
    EXPECT_EQ(cell->textLabel().text(),
              RAZududeSnsPlatformManager::getSocialPlatformWithName("tencent")->displayName());
    ASSERT_TRUE(cell->imageView().image());
    EXPECT_EQ(cell->imageView().image()->size(), platform::Size(25, 25));
    EXPECT_EQ(table.rectForRowAtIndexPath({0, 1}).height(), 43);
    EXPECT_EQ(list->title(), "分享至");
    EXPECT_TRUE(list->navigationItem().leftBarButtonItem());

    // An empty list shows an empty table.
    list->setAllSnsArray({});
    EXPECT_EQ(table.numberOfSections(), 1);
    EXPECT_EQ(table.numberOfRowsInSection(0), 0);
}

TEST_F(ShareListTest, ARowDrawsItsIconAndNameOnWhite) {
    auto list = show({"renren", "tencent", "douban"});
    ASSERT_TRUE(list);
    auto& table = list->tableView();
    platform::Rect row = table.convertRectTo(table.rectForRowAtIndexPath({0, 0}), nullptr);
    auto png = ui_test::windowPicture(*window_, "share-list.png");
    ASSERT_TRUE(png);
    // White around the text, dark pixels of the name, and colour in the icon at the left.
    auto dark = [](platform::Color c) { return c.r < 0.4 && c.g < 0.4 && c.b < 0.4; };
    auto coloured = [](platform::Color c) {
        return std::max({c.r, c.g, c.b}) - std::min({c.r, c.g, c.b}) > 0.2;
    };
    EXPECT_TRUE(ui_test::near(ui_test::pixelAt(*png, row.maxX() - 4, row.midY()),
                              platform::Color::white(), 0.1));
    EXPECT_GT(ui_test::countIn(*png, {row.minX() + 45, row.minY(), 150, row.height()}, dark), 20);
    EXPECT_GT(ui_test::countIn(*png, {row.minX(), row.minY(), 45, row.height()}, coloured), 20);
}

TEST_F(ShareListTest, ATapRunsTheClickHandlerWhichPushesTheOauthPage) {
    auto list = show({"renren", "tencent"});
    ASSERT_TRUE(list);
    auto cell = list->tableView().cellForRowAtIndexPath({0, 1});
    ASSERT_TRUE(cell);
    ASSERT_TRUE(window_->tapView(*cell));
    advance(1);
    EXPECT_EQ(delegate_->events, (Events{"select tencent"}));
    auto* navigation = list->navigationController();
    ASSERT_TRUE(navigation);
    auto* page = dynamic_cast<RZSOauthViewController*>(navigation->topViewController());
    ASSERT_TRUE(page);
    EXPECT_FALSE(list->tableView().indexPathForSelectedRow());
}

TEST_F(ShareListTest, ADirectShareIsPostedAndTheListStays) {
    delegate_->directShare = true;
    social_test::authorise("tencent");
    auto list = show({"tencent"});
    ASSERT_TRUE(list);
    service_->socialData()->setShareText("from the list");
    auto cell = list->tableView().cellForRowAtIndexPath({0, 0});
    ASSERT_TRUE(cell);
    ASSERT_TRUE(window_->tapView(*cell));
    advance(1);
    EXPECT_FALSE(peer_.requests.empty());
    EXPECT_TRUE(delegate_->events.empty() || delegate_->events.front().rfind("select", 0) != 0);
    EXPECT_EQ(list->navigationController()->topViewController(), list.get());
}

}  // namespace
