#include "SocialSDK/ui/list/RZSShareListController.h"

#include <algorithm>

#include "RZBase_Source/Encode/RAZududeUtils.h"
#include "SocialSDK/core/config/RAZududeConfig.h"
#include "SocialSDK/core/config/RAZududeLocalizable.h"
#include "SocialSDK/core/manager/RAZududeDataService.h"
#include "SocialSDK/core/platform/RAZududeSnsPlatform.h"
#include "SocialSDK/core/platform/RAZududeSnsPlatformInternal.h"
#include "SocialSDK/core/platform/RAZududeSnsPlatformManager.h"
#include "SocialSDK/ui/controller/RAZududeControllerService.h"
#include "SocialSDK/ui/helper/RAZududeUIHelper.h"
#include "platform/Device.h"
#include "platform/ThreadCheck.h"
#include "platform/graphics/GraphicsContext.h"
#include "platform/ui/NavigationController.h"

namespace {

constexpr const char* kCellBackgroundImage =
    "RAZududeSDKResourcesNew.bundle/Buttons/RZS_comment_view_cell_white";

}  // namespace

RZSShareListController::RZSShareListController() = default;

void RZSShareListController::setAllSnsArray(const platform::Array& names) {
    RZ_CHECK_MAIN_THREAD();
    const auto& registered =
        RAZududeSnsPlatformManager::sharedInstance().allSnsPlatformDictionary();
    platform::Array kept;
    for (const auto& name : names) {
        const std::string* text = name.string();
        if (!text) {
            continue;
        }
        auto it = registered.find(*text);
        if (it == registered.end() || !it->second || it->second->platformInternal()->isHidden()) {
            continue;
        }
        kept.push_back(name);
    }
    allSnsArray_ = std::move(kept);
    if (isViewLoaded()) {
        tableView().reloadData();
    }
}

platform::ImagePtr RZSShareListController::changeImage(const platform::ImagePtr& image,
                                                       platform::Size size) {
    if (!image) {
        return nullptr;
    }
    platform::ImageContext canvas(size, false, image->scale());
    canvas.context().drawImage(*image, {0, 0, size.width, size.height});
    return canvas.makeImage();
}

// ---- life cycle --------------------------------------------------------------------------

void RZSShareListController::viewDidLoad() {
    RZ_CHECK_MAIN_THREAD();
    TableViewController::viewDidLoad();
    setTitle(RAZududeLocalizedString("shareList_title", "分享至"));
    auto& table = tableView();
    table.setBackgroundView(nullptr);
    table.setBackgroundColor(platform::Color::clear());
    table.setRowHeight(kRowHeight);
    table.setSectionHeaderHeight(kSectionHeaderHeight);
    if (auto service = socialControllerService()) {
        service->addCloseButton(shared_from_this());
    }
    auto* navigation = navigationController();
    if (navigation) {
        RAZududeUIHelper::customNavBar(navigation->navigationBar());
    }
    if (const auto& config = RAZududeConfigInternal::shareInstance().navigationbarConfig()) {
        config(navigation ? &navigation->navigationBar() : nullptr, nullptr, nullptr, nullptr,
               nullptr, &navigationItem());
    }
}

void RZSShareListController::viewWillAppear(bool animated) {
    if (platform::currentDevice().isPad()) {
        auto* navigation = navigationController();
        if (auto* holder = navigation && navigation->isViewLoaded()
                               ? navigation->view()->superview()
                               : nullptr) {
            const platform::Rect& pad = RAZududeConfigInternal::shareInstance().boundsForiPad();
            holder->setBounds(pad.isNull() ? kDefaultPadBounds : pad);
        }
    }
    TableViewController::viewWillAppear(animated);
}

bool RZSShareListController::shouldAutorotateToInterfaceOrientation(int orientation) {
    return RAZududeConfigInternal::shareInstance().shouldAutorotateToInterfaceOrientation(
        orientation);
}

void RZSShareListController::didRotateFromInterfaceOrientation(int) {
    if (auto* navigation = navigationController()) {
        RAZududeUIHelper::customNavBar(navigation->navigationBar());
    }
}

// ---- sections and rows -------------------------------------------------------------------

bool RZSShareListController::isSectioned() const {
    return std::any_of(allSnsArray_.begin(), allSnsArray_.end(),
                       [](const platform::Value& element) { return element.isArray(); });
}

const platform::Value& RZSShareListController::nameAt(const platform::IndexPath& path) const {
    if (!isSectioned()) {
        return allSnsArray_.size() > static_cast<std::size_t>(path.row)
                   ? allSnsArray_[static_cast<std::size_t>(path.row)]
                   : platform::Value::null();
    }
    if (path.section < 0 || static_cast<std::size_t>(path.section) >= allSnsArray_.size()) {
        return platform::Value::null();
    }
    return allSnsArray_[static_cast<std::size_t>(path.section)][static_cast<std::size_t>(path.row)];
}

int RZSShareListController::numberOfSectionsInTableView(platform::TableView&) {
    return isSectioned() ? static_cast<int>(allSnsArray_.size()) : 1;
}

int RZSShareListController::numberOfRowsInSection(platform::TableView&, int section) {
    if (!isSectioned()) {
        return static_cast<int>(allSnsArray_.size());
    }
    if (section < 0 || static_cast<std::size_t>(section) >= allSnsArray_.size()) {
        return 0;
    }
    return static_cast<int>(allSnsArray_[static_cast<std::size_t>(section)].count());
}

std::shared_ptr<platform::TableViewCell> RZSShareListController::cellForRowAtIndexPath(
    platform::TableView& table, const platform::IndexPath& path) {
    auto cell = table.dequeueReusableCellWithIdentifier(kCellIdentifier);
    if (!cell) {
        cell = std::make_shared<platform::TableViewCell>(platform::TableViewCellStyle::kValue1,
                                                         kCellIdentifier);
        auto background =
            std::make_shared<platform::ImageView>(platform::Rect(0, 0, table.bounds().width(), 45));
        background->setImage(platform::Image::named(kCellBackgroundImage));
        cell->setBackgroundView(background);
        if (const auto& config = RAZududeConfigInternal::shareInstance().tableViewCellConfig()) {
            config(cell.get());
        }
    }
    const std::string* name = nameAt(path).string();
    if (!name) {
        RAZududeUtils::outLog("you must set the snsName as a NSString not a NSNumber !");
        return cell;
    }
    auto platform = RAZududeSnsPlatformManager::getSocialPlatformWithName(*name);
    if (!platform) {
        return cell;
    }
    cell->textLabel().setText(platform->displayName());
    cell->imageView().setImage(
        changeImage(platform::Image::named(platform->bigImageName()), kIconSize));
    return cell;
}

std::optional<double> RZSShareListController::heightForRowAtIndexPath(platform::TableView&,
                                                                      const platform::IndexPath&) {
    return kRowHeight;
}

std::optional<double> RZSShareListController::heightForHeaderInSection(platform::TableView&, int) {
    return kSectionHeaderHeight;
}

std::shared_ptr<platform::View> RZSShareListController::viewForHeaderInSection(platform::TableView&,
                                                                               int) {
    auto header = std::make_shared<platform::View>(platform::Rect({0, 0}, kSectionHeaderSize));
    header->setBackgroundColor(platform::Color::clear());
    return header;
}

void RZSShareListController::didSelectRowAtIndexPath(platform::TableView& table,
                                                     const platform::IndexPath& path) {
    RZ_CHECK_MAIN_THREAD();
    table.deselectRowAtIndexPath(path, true);
    const std::string* name = nameAt(path).string();
    auto service = socialControllerService();
    if (!name || !service) {
        return;
    }
    auto platform = RAZududeSnsPlatformManager::getSocialPlatformWithName(*name);
    auto delegate = service->socialUIDelegate();
    if (delegate && delegate->isDirectShareInIconActionSheet()) {
        auto dataService = service->socialDataService();
        auto post =
            dataService ? dataService->snsPostContentForPlatform(*name) : RAZududeSnsPostContent{};
        post.snsType = *name;
        post.controller = shared_from_this();
        std::weak_ptr<RAZududeControllerService> weakService = service;
        post.completion = [weakService](const RAZududeResponsePtr& response) {
            auto owner = weakService.lock();
            rz_ui_delegate::didFinishGetRAZududeDataInViewController(
                owner ? owner->socialUIDelegate() : nullptr, response);
        };
        RAZududeDataService::defaultDataService()->postSnsWithDictionary(std::move(post));
        return;
    }
    if (platform && platform->snsClickHandler()) {
        platform->snsClickHandler()(shared_from_this(), service, false);
    } else {
        RAZududeUtils::outLog(
            [&] { return std::string("no click handler for the platform ") + *name; });
    }
}
