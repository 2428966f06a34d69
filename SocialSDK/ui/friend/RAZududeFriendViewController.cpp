#include "SocialSDK/ui/friend/RAZududeFriendViewController.h"

#include <algorithm>

#include "SocialSDK/core/config/RAZududeConfig.h"
#include "SocialSDK/core/config/RAZududeLocalizable.h"
#include "SocialSDK/core/manager/RAZududeDataService.h"
#include "SocialSDK/core/manager/RZSUserManager.h"
#include "SocialSDK/ui/controller/RAZududeControllerService.h"
#include "SocialSDK/ui/friend/RZSGridViewItemClickedDelegate.h"
#include "SocialSDK/ui/helper/RAZududeUIHelper.h"
#include "SocialSDK/ui/hud/RAZududeTkProgressHUD.h"
#include "platform/MainLoop.h"
#include "platform/Text.h"
#include "platform/ThreadCheck.h"
#include "platform/graphics/GraphicsContext.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/Screen.h"

namespace {

using platform::Color;
using platform::Rect;

constexpr const char* kInputImage = "RAZududeSDKResourcesNew.bundle/Buttons/RZS_comment_input.png";
constexpr const char* kAvatarPlaceholder =
    "RAZududeSDKResourcesNew.bundle/Buttons/RZS_User-Avatar-Placeholder";
constexpr double kSearchBarGrey = 196.0 / 255.0;

std::string recentTitle() {
    return RAZududeLocalizedString("shareEdit_used", "常");
}
std::string otherTitle() {
    return RAZududeLocalizedString("shareEdit_C", "符");
}

// The section of a friend: the capital of the pinyin's first letter, or the section of
// everything else. A friend without pinyin goes there too rather than out of the list.
std::string sectionTitleFor(const RZSFriendEntity& entry) {
    const auto& pinyin = entry.pinyin();
    if (!pinyin || pinyin->empty()) {
        return otherTitle();
    }
    char first = (*pinyin)[0];
    if (first >= 'a' && first <= 'z') {
        first = static_cast<char>(first - 'a' + 'A');
    }
    if (first < 'A' || first > 'Z') {
        return otherTitle();
    }
    return std::string(1, first);
}

// Two entries are the same friend when their platform user ids agree; a friend without one is
// known by its link name.
bool sameFriend(const RZSFriendEntity& a, const RZSFriendEntity& b) {
    if (a.usid() || b.usid()) {
        return a.usid() == b.usid();
    }
    return a.linkName() == b.linkName();
}

}  // namespace

std::string RAZududeFriendViewController::platformName() const {
    auto service = socialControllerService();
    if (!service || !service->currentSnsPlatformName()) {
        return {};
    }
    return *service->currentSnsPlatformName();
}

bool RAZududeFriendViewController::hasRecentSection() const {
    return hasRecent_;
}

// ---- life cycle ------------------------------------------------------------------------

void RAZududeFriendViewController::viewDidLoad() {
    RZ_CHECK_MAIN_THREAD();
    isSearching_ = false;
    auto& view = *this->view();
    auto& config = RAZududeConfigInternal::shareInstance();
    std::weak_ptr<RAZududeFriendViewController> weakSelf = selfAs<RAZududeFriendViewController>();

    backButton_ = platform::Button::withType(platform::ButtonType::kCustom);
    RAZududeUIHelper::customNavBackButton(*backButton_,
                                          RAZududeLocalizedString("button_back", "返回"));
    backButton_->addTarget(
        [weakSelf](platform::Control&) {
            if (auto self = weakSelf.lock()) {
                self->close();
            }
        },
        platform::kControlEventTouchUpInside);
    navigationItem().setLeftBarButtonItem(std::make_shared<platform::BarButtonItem>(backButton_));

    refreshButton_ = platform::Button::withType(platform::ButtonType::kCustom);
    RAZududeUIHelper::customNavRefreshButton(*refreshButton_);
    refreshButton_->addTarget(
        [weakSelf](platform::Control&) {
            if (auto self = weakSelf.lock()) {
                self->refreshFriends();
            }
        },
        platform::kControlEventTouchUpInside);
    navigationItem().setRightBarButtonItem(
        std::make_shared<platform::BarButtonItem>(refreshButton_));

    if (const auto& styleBar = config.navigationbarConfig()) {
        styleBar(nullptr, nullptr, backButton_.get(), nullptr, refreshButton_.get(), nullptr);
    }

    double width = view.bounds().width();
    searchBar_ = std::make_shared<platform::SearchBar>(Rect(0, 0, width, kSearchBarHeight));
    searchBar_->setBackgroundColor(
        Color{kSearchBarGrey, kSearchBarGrey, kSearchBarGrey, kSearchBarGrey});
    // The band behind the field goes; the field itself turns white.
    searchBar_->backgroundView()->removeFromSuperview();
    searchBar_->searchField()->setBackgroundColor(Color::white());
    searchBar_->setSearchFieldBackgroundImage(platform::Image::named(kInputImage));
    searchBar_->setDelegate(selfAs<platform::SearchBarDelegate>());
    view.addSubview(searchBar_);

    double barHeight = searchBar_->bounds().height();
    tableView_ = std::make_shared<platform::TableView>(
        Rect(0, barHeight, width, view.bounds().height() - 44 - barHeight),
        platform::TableViewStyle::kPlain);
    if (auto service = socialControllerService()) {
        tableView_->setBackgroundColor(service->defaultColor());
    }
    tableView_->setDataSource(selfAs<platform::TableViewDataSource>());
    tableView_->setDelegate(selfAs<platform::TableViewDelegate>());
    view.addSubview(tableView_);

    hud_ = RAZududeTkProgressHUD::withView(&view);
    view.addSubview(hud_);
    hud_->setLabelText(RAZududeLocalizedString("loading", "加载中"));
}

void RAZududeFriendViewController::viewDidAppear(bool /*animated*/) {
    if (auto service = socialControllerService()) {
        view()->setBackgroundColor(service->defaultColor());
    }
    int orientation = interfaceOrientation();
    didRotateFromInterfaceOrientation(orientation <= platform::kOrientationPortraitUpsideDown
                                          ? platform::kOrientationLandscapeLeft
                                          : platform::kOrientationPortrait);
    auto friends = RZSUserManager::shareInstance().friendsDictionaryWithSnsName(platformName());
    if (friends && !friends->empty()) {
        filterFriendArray();
    } else {
        refreshFriends();
    }
    tableView_->reloadData();
}

void RAZududeFriendViewController::viewWillDisappear(bool /*animated*/) {
    auto service = socialControllerService();
    if (service && service->socialDataService()) {
        service->socialDataService()->setRAZududeDelegate({});
    }
}

void RAZududeFriendViewController::didRotateFromInterfaceOrientation(int /*from*/) {
    const Rect& bounds = view()->bounds();
    searchBar_->setFrame(Rect(0, -1, bounds.width(), searchBar_->bounds().height()));
    tableView_->setFrame(
        Rect(0, searchBar_->bounds().height(), bounds.width(), bounds.height() - 45));
}

bool RAZududeFriendViewController::shouldAutorotateToInterfaceOrientation(int orientation) {
    return RAZududeConfigInternal::shareInstance().shouldAutorotateToInterfaceOrientation(
        orientation);
}

// ---- the friends -----------------------------------------------------------------------

void RAZududeFriendViewController::didFinishGetRAZududeDataResponse(
    const RAZududeResponsePtr& /*response*/) {
    RZ_CHECK_MAIN_THREAD();
    if (!isViewLoaded()) {
        return;
    }
    filterFriendArray();
    hud_->hide(true);
    tableView_->reloadData();
}

void RAZududeFriendViewController::refreshFriends() {
    RZ_CHECK_MAIN_THREAD();
    auto service = socialControllerService();
    if (!service || !service->socialDataService()) {
        return;
    }
    hud_->show(true);
    auto dataService = service->socialDataService();
    dataService->setRAZududeDelegate(selfAs<RAZududeDataDelegate>());
    dataService->requestSnsFriendsInternal(platformName(), {});
}

void RAZududeFriendViewController::filterFriendArray() {
    auto& users = RZSUserManager::shareInstance();
    const std::string name = platformName();
    friendDictionary_ = users.friendsDictionaryWithSnsName(name);
    groupDictionary_.clear();
    sectionList_.clear();
    hasRecent_ = false;

    std::optional<Section> recent;
    auto picked = users.atFriendsDictionaryWithSnsName(name);
    if (picked && !picked->empty()) {
        recent = Section{recentTitle(), {}};
        for (auto it = picked->rbegin();
             it != picked->rend() && recent->friends.size() < kRecentShown; ++it) {
            recent->friends.push_back(*it);
        }
    }
    if (friendDictionary_) {
        for (const auto& [usid, entry] : *friendDictionary_) {
            if (!entry) {
                continue;
            }
            std::string title = sectionTitleFor(*entry);
            auto [it, made] = groupDictionary_.try_emplace(title, Section{title, {}});
            it->second.friends.push_back(entry);
        }
    }
    for (const auto& [title, section] : groupDictionary_) {
        sectionList_.push_back(section);
    }
    std::stable_sort(sectionList_.begin(), sectionList_.end(),
                     [](const Section& a, const Section& b) {
                         return platform::text::compareCaseInsensitive(a.title, b.title) < 0;
                     });
    if (recent) {
        sectionList_.insert(sectionList_.begin(), std::move(*recent));
        hasRecent_ = true;
    }
}

void RAZududeFriendViewController::searchFrinds(platform::SearchBar& bar) {
    if (sectionList_.empty()) {
        return;
    }
    searchResult_.clear();
    const std::string& text = bar.text();
    for (std::size_t i = hasRecentSection() ? 1 : 0; i < sectionList_.size(); ++i) {
        for (const auto& entry : sectionList_[i].friends) {
            // A friend without a name has nothing that a search could find.
            if (entry->name() && platform::text::containsCaseInsensitive(*entry->name(), text)) {
                searchResult_.push_back(entry);
            }
        }
    }
    isSearching_ = true;
    tableView_->reloadData();
}

void RAZududeFriendViewController::close() {
    searchBar_->resignFirstResponder();
    if (auto* navigation = navigationController()) {
        navigation->popViewControllerAnimated(true);
    }
}

platform::ImagePtr RAZududeFriendViewController::scaleToSize(platform::Size size,
                                                             const platform::ImagePtr& image) {
    double scale = platform::Screen::main().scale();
    platform::ImageContext context(size, scale == 2.0, scale == 2.0 ? 2.0 : 1.0);
    if (image) {
        context.context().drawImage(*image, Rect(0, 0, size.width, size.height));
    }
    return context.makeImage();
}

// ---- the table -------------------------------------------------------------------------

std::shared_ptr<RZSFriendEntity> RAZududeFriendViewController::friendAt(
    const platform::IndexPath& path) const {
    if (isSearching_) {
        return path.row < static_cast<int>(searchResult_.size()) ? searchResult_[path.row]
                                                                 : nullptr;
    }
    if (path.section >= static_cast<int>(sectionList_.size())) {
        return nullptr;
    }
    const auto& friends = sectionList_[path.section].friends;
    return path.row < static_cast<int>(friends.size()) ? friends[path.row] : nullptr;
}

int RAZududeFriendViewController::numberOfSectionsInTableView(platform::TableView&) {
    return isSearching_ ? 1 : static_cast<int>(sectionList_.size());
}

int RAZududeFriendViewController::numberOfRowsInSection(platform::TableView&, int section) {
    if (isSearching_) {
        return static_cast<int>(searchResult_.size());
    }
    return section < static_cast<int>(sectionList_.size())
               ? static_cast<int>(sectionList_[section].friends.size())
               : 0;
}

std::optional<std::string> RAZududeFriendViewController::titleForHeaderInSection(
    platform::TableView&, int section) {
    if (isSearching_) {
        return std::string();
    }
    if (section < static_cast<int>(sectionList_.size())) {
        return sectionList_[section].title;
    }
    return std::nullopt;
}

std::vector<std::string> RAZududeFriendViewController::sectionIndexTitlesForTableView(
    platform::TableView&) {
    std::vector<std::string> titles;
    if (isSearching_) {
        return titles;
    }
    if (hasRecentSection()) {
        titles.push_back(recentTitle());
    }
    for (char letter = 'A'; letter <= 'Z'; ++letter) {
        if (groupDictionary_.count(std::string(1, letter))) {
            titles.emplace_back(1, letter);
        }
    }
    if (groupDictionary_.count(otherTitle())) {
        titles.push_back(otherTitle());
    }
    return titles;
}

std::shared_ptr<platform::TableViewCell> RAZududeFriendViewController::cellForRowAtIndexPath(
    platform::TableView& table, const platform::IndexPath& path) {
    auto cell = table.dequeueReusableCellWithIdentifier(kCellIdentifier);
    if (!cell) {
        cell = std::make_shared<platform::TableViewCell>(platform::TableViewCellStyle::kDefault,
                                                         kCellIdentifier);
        cell->textLabel().setTextColor(Color{0.2, 0.2, 0.2, 1});
        cell->textLabel().setFont(platform::Font::system(12));
        cell->imageView().layer().setCornerRadius(7);
        cell->imageView().layer().setMasksToBounds(true);
    }
    auto entry = friendAt(path);
    cell->textLabel().setText(entry && entry->name() ? *entry->name() : std::string());
    auto avatar = std::make_shared<RAZududeImageView>(platform::Image::named(kAvatarPlaceholder));
    avatar->setImageURL(entry ? entry->imageURL() : std::nullopt);
    cell->imageView().setImage(scaleToSize({kAvatarSide, kAvatarSide}, avatar->image()));
    return cell;
}

void RAZududeFriendViewController::didSelectRowAtIndexPath(platform::TableView&,
                                                           const platform::IndexPath& path) {
    auto chosen = friendAt(path);
    if (!chosen) {
        return;
    }
    auto& users = RZSUserManager::shareInstance();
    const std::string name = platformName();
    // The friend moves to the newest place: every earlier pick of the same friend goes, not
    // only one of those the recent section shows, so that the list never holds a friend twice.
    auto recent = users.atFriendsDictionaryWithSnsName(name).value_or(
        std::vector<std::shared_ptr<RZSFriendEntity>>{});
    std::erase_if(recent, [&](const std::shared_ptr<RZSFriendEntity>& earlier) {
        return !earlier || sameFriend(*earlier, *chosen);
    });
    recent.push_back(chosen);
    users.setAtFriendsArray(std::move(recent), name);

    if (auto delegate = rzsDelegate()) {
        delegate->itemClicked("@" + chosen->linkName().value_or(chosen->name().value_or("")));
    }
    if (auto* navigation = navigationController()) {
        navigation->popViewControllerAnimated(true);
    }
}

void RAZududeFriendViewController::scrollViewDidScroll(platform::ScrollView&) {
    if (searchBar_) {
        searchBar_->resignFirstResponder();
    }
}

// ---- the search bar --------------------------------------------------------------------

void RAZududeFriendViewController::searchBarTextDidChange(platform::SearchBar& bar,
                                                          const std::string& text) {
    if (!text.empty()) {
        searchFrinds(bar);
        return;
    }
    isSearching_ = false;
    tableView_->reloadData();
}

void RAZududeFriendViewController::searchBarSearchButtonClicked(platform::SearchBar& bar) {
    searchFrinds(bar);
    bar.resignFirstResponder();
}
