// The friend picker: the friends of the current platform account, grouped by the first letter
// of their pinyin under an A-Z index, with the friends picked most recently in a section on
// top, a search bar that filters by name and a refresh button that asks the share service for
// the friend list again. A tap hands "@" and the friend's link name to the delegate (the share
// editor) and goes back.
//
// The controller service's factory makes it (view type 9) and the editor pushes it onto its
// navigation controller. It holds neither its delegate nor its controller service. While it is
// on screen it is the data service's delegate, so that the friend reply reaches it; it stops
// being so when it goes away, and a reply that comes after that finds nobody.
//
// Threads: main thread only, checked at its entry points in debug builds. The friend reply
// comes from the main loop through the data service; the delegate hears of a pick on the main
// thread, from inside the tap, before the picker is popped.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "SocialSDK/core/manager/RZSDataManager.h"
#include "SocialSDK/core/manager/RZSFriendEntity.h"
#include "SocialSDK/ui/image/RAZududeImageView.h"
#include "platform/ui/Button.h"
#include "platform/ui/SearchBar.h"
#include "platform/ui/TableView.h"
#include "platform/ui/ViewController.h"

class RAZududeControllerService;
class RAZududeTkProgressHUD;
class RZSGridViewItemClickedDelegate;

class RAZududeFriendViewController : public platform::ViewController,
                                     public RAZududeDataDelegate,
                                     public RZImageViewDelegate,
                                     public platform::TableViewDataSource,
                                     public platform::TableViewDelegate,
                                     public platform::SearchBarDelegate {
  public:
    // One section of the grouped table: its title and its friends in display order.
    struct Section {
        std::string title;
        std::vector<std::shared_ptr<RZSFriendEntity>> friends;
    };

    static constexpr const char* kCellIdentifier = "SocialFriendListCell";
    static constexpr double kRowHeight = 44;
    static constexpr double kAvatarSide = 35;
    static constexpr double kSearchBarHeight = 50;
    // The recent section shows at most this many friends, newest first.
    static constexpr std::size_t kRecentShown = 5;

    RAZududeFriendViewController() = default;

    std::shared_ptr<RZSGridViewItemClickedDelegate> rzsDelegate() const {
        return rzsDelegate_.lock();
    }
    void setRzsDelegate(std::weak_ptr<RZSGridViewItemClickedDelegate> delegate) {
        rzsDelegate_ = std::move(delegate);
    }
    std::shared_ptr<RAZududeControllerService> socialControllerService() const {
        return socialControllerService_.lock();
    }
    void setSocialControllerService(std::weak_ptr<RAZududeControllerService> service) {
        socialControllerService_ = std::move(service);
    }

    // ---- life cycle
    void viewDidLoad() override;
    void viewDidAppear(bool animated) override;
    void viewWillDisappear(bool animated) override;
    void didRotateFromInterfaceOrientation(int from) override;
    bool shouldAutorotateToInterfaceOrientation(int orientation) override;

    // ---- the friends
    // The friend reply (or its failure): the groups are built again from what the user
    // manager holds, the HUD goes and the table reloads.
    void didFinishGetRAZududeDataResponse(const RAZududeResponsePtr& response) override;
    // Shows the HUD and asks the share service for the platform's friends.
    void refreshFriends();
    // Builds the sections from the platform's friends and recent picks.
    void filterFriendArray();
    // The friends whose name holds the search bar's text in any letter case; the recent
    // section is not searched. Nothing happens while there are no sections.
    void searchFrinds(platform::SearchBar& searchBar);
    // Gives up the keyboard and goes back.
    void close();
    // The image drawn into a new bitmap of the size (at the screen's scale).
    static platform::ImagePtr scaleToSize(platform::Size size, const platform::ImagePtr& image);

    // ---- the table
    int numberOfSectionsInTableView(platform::TableView&) override;
    int numberOfRowsInSection(platform::TableView&, int section) override;
    std::shared_ptr<platform::TableViewCell> cellForRowAtIndexPath(
        platform::TableView&, const platform::IndexPath& path) override;
    std::optional<std::string> titleForHeaderInSection(platform::TableView&, int section) override;
    std::vector<std::string> sectionIndexTitlesForTableView(platform::TableView&) override;
    std::optional<double> heightForRowAtIndexPath(platform::TableView&,
                                                  const platform::IndexPath&) override {
        return kRowHeight;
    }
    void didSelectRowAtIndexPath(platform::TableView&, const platform::IndexPath& path) override;
    void scrollViewDidScroll(platform::ScrollView&) override;

    // ---- the search bar
    void searchBarTextDidChange(platform::SearchBar& bar, const std::string& text) override;
    void searchBarSearchButtonClicked(platform::SearchBar& bar) override;

    // ---- what the screen holds, for those who look at it
    const std::shared_ptr<platform::SearchBar>& searchBar() const { return searchBar_; }
    const std::shared_ptr<platform::TableView>& tableView() const { return tableView_; }
    const std::shared_ptr<RAZududeTkProgressHUD>& hud() const { return hud_; }
    const std::shared_ptr<platform::Button>& backButton() const { return backButton_; }
    const std::shared_ptr<platform::Button>& refreshButton() const { return refreshButton_; }
    const std::vector<Section>& sectionList() const { return sectionList_; }
    const std::vector<std::shared_ptr<RZSFriendEntity>>& searchResult() const {
        return searchResult_;
    }
    bool isSearching() const { return isSearching_; }

  private:
    std::string platformName() const;
    std::shared_ptr<RZSFriendEntity> friendAt(const platform::IndexPath& path) const;
    bool hasRecentSection() const;

    std::weak_ptr<RZSGridViewItemClickedDelegate> rzsDelegate_;
    std::weak_ptr<RAZududeControllerService> socialControllerService_;

    std::shared_ptr<platform::SearchBar> searchBar_;
    std::shared_ptr<platform::TableView> tableView_;
    std::shared_ptr<RAZududeTkProgressHUD> hud_;
    std::shared_ptr<platform::Button> backButton_;
    std::shared_ptr<platform::Button> refreshButton_;

    std::optional<RZSFriendDictionary> friendDictionary_;
    std::map<std::string, Section> groupDictionary_;
    std::vector<Section> sectionList_;
    std::vector<std::shared_ptr<RZSFriendEntity>> searchResult_;
    bool hasRecent_ = false;
    bool isSearching_ = false;
};
