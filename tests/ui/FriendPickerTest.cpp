// The friend picker: its sections, index and recent friends, the search by name, a pick that
// reaches the editor and goes back, the refresh through the share service with its HUD, a late
// reply after the picker went, and the picker as a picture.
#include "SocialSDK/ui/friend/RAZududeFriendViewController.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "SocialSDK/core/manager/RAZududeDataService.h"
#include "SocialSDK/core/manager/RZSDataManager.h"
#include "SocialSDK/core/manager/RZSUserManager.h"
#include "SocialSDK/ui/controller/RAZududeControllerService.h"
#include "SocialSDK/ui/friend/RZSGridViewItemClickedDelegate.h"
#include "SocialSDK/ui/hud/RAZududeTkProgressHUD.h"
#include "platform/ui/Keyboard.h"
#include "platform/ui/NavigationController.h"
#include "tests/core/SocialTest.h"
#include "tests/ui/Pictures.h"

namespace {

using Friends = std::vector<std::shared_ptr<RZSFriendEntity>>;
using Titles = std::vector<std::string>;

std::shared_ptr<RZSFriendEntity> person(const std::string& usid, std::optional<std::string> name,
                                        std::optional<std::string> pinyin) {
    auto entry = std::make_shared<RZSFriendEntity>();
    entry->setUsid(usid);
    entry->setName(name);
    entry->setLinkName(name ? "link-" + usid : std::optional<std::string>());
    entry->setPinyin(std::move(pinyin));
    return entry;
}

class Recorder : public RZSGridViewItemClickedDelegate {
  public:
    void itemClicked(const std::string& text) override { items.push_back(text); }
    std::vector<std::string> items;
};

class FriendPickerTest : public social_test::SocialTest {
  protected:
    FriendPickerTest() {
        showAppScreen();
        // As the share container's bar is: the screens start below it.
        navigation_->navigationBar().setTranslucent(false);
        social_test::authorise("tencent");
        service_->setCurrentSnsPlatformName("tencent");
        users().setAtFriendsArray({}, "tencent");
        users().setFriendsDictionary({}, "tencent");
    }
    void TearDown() override {
        users().setAtFriendsArray({}, "tencent");
        users().setFriendsDictionary({}, "tencent");
        SocialTest::TearDown();
    }
    static RZSUserManager& users() { return RZSUserManager::shareInstance(); }

    void setFriends(const Friends& friends) {
        RZSFriendDictionary dictionary;
        for (const auto& f : friends) {
            dictionary[*f->usid()] = f;
        }
        users().setFriendsDictionary(std::move(dictionary), "tencent");
    }

    // The picker, made by the factory and pushed over the app's screen.
    std::shared_ptr<RAZududeFriendViewController> open() {
        auto picker = std::dynamic_pointer_cast<RAZududeFriendViewController>(
            service_->getSocialViewController(kRAZududeViewControllerFriend));
        EXPECT_TRUE(picker);
        if (!picker) {
            return nullptr;
        }
        picker->setRzsDelegate(recorder_);
        navigation_->pushViewController(picker, false);
        drain();
        window_->update();
        return picker;
    }

    static Titles sectionTitles(const RAZududeFriendViewController& picker) {
        Titles titles;
        for (const auto& section : picker.sectionList()) {
            titles.push_back(section.title);
        }
        return titles;
    }
    static Titles names(const Friends& friends) {
        Titles out;
        for (const auto& f : friends) {
            out.push_back(f->name().value_or("(none)"));
        }
        return out;
    }

    std::shared_ptr<RAZududeControllerService> service_ =
        std::make_shared<RAZududeControllerService>();
    std::shared_ptr<Recorder> recorder_ = std::make_shared<Recorder>();
};

TEST_F(FriendPickerTest, SectionsByPinyinWithTheRecentOnTopAndAnIndexOfWhatIsThere) {
    setFriends({person("1", "Zhang San", "zhangsan"), person("2", "Li Si", "Lisi"),
                person("3", "Liu", "liu"), person("4", "3D Studio", "3d"),
                person("5", "无拼音", std::nullopt), person("6", "Empty", "")});
    Friends recent;
    for (int i = 0; i < 7; ++i) {
        recent.push_back(person("r" + std::to_string(i), "Recent " + std::to_string(i), "r"));
    }
    users().setAtFriendsArray(recent, "tencent");
    auto picker = open();
    ASSERT_TRUE(picker);

    EXPECT_EQ(sectionTitles(*picker), (Titles{"常", "L", "Z", "符"}));
    // The last five picks, newest first.
    EXPECT_EQ(names(picker->sectionList()[0].friends),
              (Titles{"Recent 6", "Recent 5", "Recent 4", "Recent 3", "Recent 2"}));
    EXPECT_EQ(names(picker->sectionList()[1].friends), (Titles{"Li Si", "Liu"}));
    // A digit, an empty pinyin and no pinyin at all: all kept, under the section of the rest.
    EXPECT_EQ(names(picker->sectionList()[3].friends), (Titles{"3D Studio", "无拼音", "Empty"}));

    auto& table = *picker->tableView();
    EXPECT_EQ(table.sectionIndexTitles(), (Titles{"常", "L", "Z", "符"}));
    EXPECT_EQ(table.numberOfSections(), 4);
    EXPECT_EQ(table.numberOfRowsInSection(0), 5);
    EXPECT_EQ(table.headerTitle(2), "Z");
    auto cell = table.cellForRowAtIndexPath({2, 0});
    ASSERT_TRUE(cell);
    EXPECT_EQ(cell->reuseIdentifier(), "SocialFriendListCell");
    EXPECT_EQ(cell->textLabel().text(), "Zhang San");
    EXPECT_EQ(cell->textLabel().font(), platform::Font::system(12));
    ASSERT_TRUE(cell->imageView().image());
    EXPECT_EQ(cell->imageView().image()->size(), (platform::Size{35, 35}));
    EXPECT_EQ(cell->imageView().layer().cornerRadius(), 7);
    EXPECT_EQ(table.rectForRowAtIndexPath({0, 1}).height(), 44);

    // The screen's frame: the search bar on top, the table under it.
    EXPECT_EQ(picker->searchBar()->frame().height(), 50);
    EXPECT_EQ(table.frame().minY(), 50);
    EXPECT_TRUE(picker->hud()->isHidden() || picker->hud()->alpha() == 0);
}

TEST_F(FriendPickerTest, SearchFindsNamesInAnyCaseOutsideTheRecentSection) {
    auto zhang = person("1", "Zhang San", "zhangsan");
    setFriends({zhang, person("2", "Li Si", "lisi"), person("3", std::nullopt, "a"),
                person("4", "Sandra", "sandra")});
    users().setAtFriendsArray({zhang}, "tencent");
    auto picker = open();
    window_->tapView(*picker->searchBar());
    platform::Keyboard::shared().type("SAN");
    EXPECT_TRUE(picker->isSearching());
    // Zhang San once, though also a recent pick; the friend without a name never matches.
    EXPECT_EQ(names(picker->searchResult()), (Titles{"Sandra", "Zhang San"}));
    auto& table = *picker->tableView();
    EXPECT_EQ(table.numberOfSections(), 1);
    EXPECT_EQ(table.numberOfRowsInSection(0), 2);
    EXPECT_TRUE(table.sectionIndexTitles().empty());

    // Emptied, the grouped table is back.
    for (int i = 0; i < 3; ++i) {
        platform::Keyboard::shared().deleteBackward();
    }
    EXPECT_FALSE(picker->isSearching());
    EXPECT_EQ(sectionTitles(*picker), (Titles{"常", "A", "L", "S", "Z"}));
    EXPECT_EQ(table.numberOfSections(), 5);

    // The search button searches and sends the keyboard away.
    platform::Keyboard::shared().type("li");
    platform::Keyboard::shared().pressReturn();
    EXPECT_EQ(names(picker->searchResult()), (Titles{"Li Si"}));
    EXPECT_FALSE(platform::Keyboard::shared().isVisible());
}

TEST_F(FriendPickerTest, APickGoesToTheEditorAndMovesTheFriendToTheNewestPlace) {
    auto wang = person("w", "Wang", "wang");
    Friends recent{wang};
    for (int i = 0; i < 6; ++i) {
        recent.push_back(person("r" + std::to_string(i), "R" + std::to_string(i), "r"));
    }
    recent.push_back(wang);  // an older list may hold a friend twice
    setFriends({wang, person("z", "Zed", "zed")});
    users().setAtFriendsArray(recent, "tencent");
    auto picker = open();
    // Wang from the letter section: every earlier pick of Wang goes.
    auto& table = *picker->tableView();
    ASSERT_EQ(table.headerTitle(1), "W");
    window_->tapView(*table.cellForRowAtIndexPath({1, 0}));
    EXPECT_EQ(recorder_->items, (Titles{"@link-w"}));
    auto stored = users().atFriendsDictionaryWithSnsName("tencent").value_or(Friends{});
    EXPECT_EQ(names(stored), (Titles{"R0", "R1", "R2", "R3", "R4", "R5", "Wang"}));
    advance(1);
    EXPECT_EQ(navigation_->topViewController(), navigation_->viewControllers().front().get());
}

TEST_F(FriendPickerTest, WithoutFriendsItAsksTheShareServiceUnderTheHud) {
    social_test::RequestPeer peer;
    auto picker = open();
    ASSERT_TRUE(picker);
    EXPECT_FALSE(picker->hud()->isHidden());
    EXPECT_EQ(picker->hud()->labelText(), "加载中");
    auto asks = peer.ofKind(kRZSRequestFriends);
    ASSERT_EQ(asks.size(), 1u);
    EXPECT_EQ(asks[0].parameters.values["displayName"].stringValue(), "tencent");
    EXPECT_TRUE(picker->sectionList().empty());

    // The reply's friends are stored by the pipeline; the delegate call regroups them.
    setFriends({person("1", "Ann", "ann")});
    auto manager = RZSDataManager::getDataManager("RAZududeDefault");
    ASSERT_TRUE(manager->socialDelegate());
    manager->didFinishGetResponseInSDK(social_test::response(200));
    EXPECT_EQ(sectionTitles(*picker), (Titles{"A"}));
    advance(1);
    EXPECT_TRUE(picker->hud()->isHidden() || picker->hud()->alpha() == 0);

    // The refresh button asks again.
    window_->tapView(*picker->refreshButton());
    EXPECT_EQ(peer.ofKind(kRZSRequestFriends).size(), 2u);
}

TEST_F(FriendPickerTest, AReplyAfterThePickerWentReachesNobody) {
    social_test::RequestPeer peer;
    auto picker = open();
    window_->tapView(*picker->backButton());
    advance(1);
    EXPECT_EQ(navigation_->viewControllers().size(), 1u);
    auto manager = RZSDataManager::getDataManager("RAZududeDefault");
    EXPECT_FALSE(manager->socialDelegate());
    std::weak_ptr<RAZududeFriendViewController> gone = picker;
    picker.reset();
    EXPECT_FALSE(gone.lock());
    manager->didFinishGetResponseInSDK(social_test::response(200));
    EXPECT_EQ(navigation_->viewControllers().size(), 1u);
}

TEST_F(FriendPickerTest, ThePickerAsAPicture) {
    setFriends({person("1", "Ann Lee", "ann"), person("2", "Bo", "bo")});
    auto picker = open();
    window_->update();
    auto png = ui_test::windowPicture(*window_, "friend-picker.png");
    ASSERT_TRUE(png);
    auto cell = picker->tableView()->cellForRowAtIndexPath({0, 0});
    ASSERT_TRUE(cell);
    // The friend's name in dark grey on the row, and the avatar at its left.
    auto& label = cell->textLabel();
    platform::Rect text = label.convertRectTo(label.bounds(), nullptr);
    EXPECT_GT(ui_test::countIn(*png, text, [](platform::Color c) { return c.r < 0.45; }), 15);
    auto& avatar = cell->imageView();
    platform::Rect face = avatar.convertRectTo(avatar.bounds(), nullptr);
    EXPECT_GT(ui_test::countIn(*png, face, [](platform::Color c) { return c.r < 0.95; }), 50);
}

}  // namespace
