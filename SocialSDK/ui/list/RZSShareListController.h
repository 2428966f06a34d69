// The share-to screen (view type 2): a table of share platforms, one row per platform with its
// icon and display name. A tap posts the share at once through the data service when the app's
// delegate asks for direct sharing, and otherwise runs the platform's click handler, which leads
// to the login and the editor.
//
// Made by the view-controller factory, filled with the configured platform names by the
// controller service (and again by the facade, with the app's own names when it gives some),
// shown in the service's navigation container and closed by the service's close button.
// The list holds its controller service weakly: the service owns the flow.
//
// Threads: main thread only, checked at its entry points in debug builds. A tap's direct share
// reports to the app's delegate from the main loop, after the tap has returned.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "SocialSDK/ui/controller/RZSViewControllerFactory.h"
#include "platform/Value.h"
#include "platform/graphics/Image.h"
#include "platform/ui/TableView.h"

class RAZududeControllerService;

class RZSShareListController : public platform::TableViewController, public RZSPlatformListScreen {
  public:
    static constexpr const char* kCellIdentifier = "RAZududeListCell";
    static constexpr double kRowHeight = 43;
    static constexpr double kSectionHeaderHeight = 10;
    static constexpr platform::Size kSectionHeaderSize{50, 40};
    static constexpr platform::Size kIconSize{25, 25};
    // The sheet's size on a pad when the configuration gives none.
    static constexpr platform::Rect kDefaultPadBounds{0, 0, 533, 545};

    RZSShareListController();

    // The rows: platform names, or sections of them (arrays of names), in order.
    const platform::Array& allSnsArray() const { return allSnsArray_; }
    // Keeps, in order, the names of registered platforms that are not hidden; the rest (and
    // anything that is not a name) is dropped. Replaces the former list.
    void setAllSnsArray(const platform::Array& names) override;

    std::shared_ptr<RAZududeControllerService> socialControllerService() const {
        return socialControllerService_.lock();
    }
    void setSocialControllerService(std::weak_ptr<RAZududeControllerService> service) {
        socialControllerService_ = std::move(service);
    }

    // The image drawn into a new bitmap of that size.
    static platform::ImagePtr changeImage(const platform::ImagePtr& image, platform::Size size);

    // ---- the table
    int numberOfSectionsInTableView(platform::TableView& table) override;
    int numberOfRowsInSection(platform::TableView& table, int section) override;
    std::shared_ptr<platform::TableViewCell> cellForRowAtIndexPath(
        platform::TableView& table, const platform::IndexPath& path) override;
    std::optional<double> heightForRowAtIndexPath(platform::TableView& table,
                                                  const platform::IndexPath& path) override;
    std::optional<double> heightForHeaderInSection(platform::TableView& table,
                                                   int section) override;
    std::shared_ptr<platform::View> viewForHeaderInSection(platform::TableView& table,
                                                           int section) override;
    void didSelectRowAtIndexPath(platform::TableView& table,
                                 const platform::IndexPath& path) override;

    // ---- life cycle and rotation
    void viewDidLoad() override;
    void viewWillAppear(bool animated) override;
    bool shouldAutorotateToInterfaceOrientation(int orientation) override;
    void didRotateFromInterfaceOrientation(int from) override;

  private:
    bool isSectioned() const;
    // The name of the row; null when the list holds something else there.
    const platform::Value& nameAt(const platform::IndexPath& path) const;

    platform::Array allSnsArray_;
    std::weak_ptr<RAZududeControllerService> socialControllerService_;
};
