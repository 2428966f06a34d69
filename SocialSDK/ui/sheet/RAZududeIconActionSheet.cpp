#include "SocialSDK/ui/sheet/RAZududeIconActionSheet.h"

#include <algorithm>
#include <cmath>

#include "SocialSDK/core/config/RAZududeConfig.h"
#include "SocialSDK/core/platform/RAZududeSnsPlatformInternal.h"
#include "SocialSDK/core/platform/RAZududeSnsPlatformManager.h"
#include "SocialSDK/ui/controller/RAZududeControllerService.h"
#include "platform/ThreadCheck.h"
#include "platform/graphics/GraphicsContext.h"
#include "platform/ui/Application.h"
#include "platform/ui/Button.h"
#include "platform/ui/Label.h"
#include "platform/ui/Screen.h"
#include "platform/ui/ViewController.h"

namespace {

using platform::Color;
using platform::Rect;
using platform::Size;

constexpr const char* kPanelImage = "RAZududeSDKResourcesNew.bundle/Buttons/RZS_actionsheet_panel";
constexpr double kMinimumColumnWidth = 70;
constexpr double kCellSize = 80;

bool isTallerThanWide(const platform::View& view) {
    Rect f = view.frame();
    return f.height() > f.width();
}

}  // namespace

RAZududeIconActionSheet::RAZududeIconActionSheet(const std::vector<std::string>& items,
                                                 ButtonHandler handler)
    : View(Rect(0, 0, 200, 200)) {
    setBackgroundColor(Color::clear());
    setSnsNames(items);
    actionSheetHandler_ = std::move(handler);

    if (RAZududeConfigInternal::shareInstance().socialTheme() == 0) {
        auto panel = platform::Image::named(kPanelImage);
        backgroundImageView_ =
            std::make_shared<platform::ImageView>(panel ? panel->stretchable(0, 30) : nullptr);
    } else {
        backgroundImageView_ = std::make_shared<platform::ImageView>();
        backgroundImageView_->setBackgroundColor(Color::white());
    }
    backgroundImageView_->setFrame(Rect::zero());
    backgroundImageView_->setUserInteractionEnabled(true);

    actionSheetBackground_ = std::make_shared<platform::ScrollView>(Rect::zero());
    actionSheetBackground_->setShowsHorizontalScrollIndicator(true);
    actionSheetBackground_->setContentSize({0, 0});
    actionSheetBackground_->setPagingEnabled(true);
    actionSheetBackground_->setScrollEnabled(true);
    actionSheetBackground_->setIndicatorStyle(platform::ScrollIndicatorStyle::kWhite);
    actionSheetBackground_->addSubview(backgroundImageView_);
    addSubview(actionSheetBackground_);

    addMissingIcons();
}

void RAZududeIconActionSheet::setSnsNames(const std::vector<std::string>& names) {
    RZ_CHECK_MAIN_THREAD();
    const auto& registered =
        RAZududeSnsPlatformManager::sharedInstance().allSnsPlatformDictionary();
    std::vector<std::string> kept;
    for (const auto& name : names) {
        auto it = registered.find(name);
        if (it == registered.end() || !it->second) {
            continue;
        }
        auto companion = it->second->platformInternal();
        companion->setShareStatus("1");
        if (companion->isHidden()) {
            auto handler = companion->socialLoginDelegate();
            if (!handler || !handler->isClientInstall(name)) {
                continue;
            }
        }
        kept.push_back(name);
    }
    snsNames_ = std::move(kept);
    addMissingIcons();
}

// Every kept name gets its icon and name label once: the ones of the creation items here, and
// those of names given later through setSnsNames, which would otherwise leave empty cells.
void RAZududeIconActionSheet::addMissingIcons() {
    if (!actionSheetBackground_) {
        return;  // still being made: the constructor adds them once the scroll view exists
    }
    for (const auto& name : snsNames_) {
        auto snsPlatform = RAZududeSnsPlatformManager::getSocialPlatformWithName(name);
        if (!snsPlatform) {
            continue;
        }
        int type = snsPlatform->shareToType();
        if (actionSheetBackground_->viewWithTag(kIconTagBase + type)) {
            continue;
        }
        auto button = platform::Button::withType(platform::ButtonType::kCustom);
        button->setImage(platform::Image::named(snsPlatform->bigImageName()));
        button->setTag(kIconTagBase + type);
        // The recognizer lives in this panel's own subtree, so the panel outlives it.
        button->addGestureRecognizer(std::make_shared<platform::TapGestureRecognizer>(
            [this](platform::GestureRecognizer& recognizer) { actionToSnsButton(recognizer); }));

        auto label = std::make_shared<platform::Label>(Rect(0, 0, 70, 20));
        label->setBackgroundColor(Color::clear());
        label->setTextAlignment(platform::TextAlignment::kCenter);
        label->setFont(platform::Font::system(11));
        label->setTag(kLabelTagBase + type);
        label->setHidden(true);
        label->setText(snsPlatform->displayName());

        actionSheetBackground_->addSubview(std::move(button));
        actionSheetBackground_->addSubview(std::move(label));
    }
}

// ---- layout --------------------------------------------------------------------------------

// The screen's bounds follow the interface orientation here, as on the systems from 8.0, so
// the swap that older systems needed has nothing to do.
void RAZududeIconActionSheet::draw(platform::GraphicsContext& context, const Rect& rect) {
    auto& app = platform::Application::shared();
    Rect statusBar = app.statusBarFrame();
    double topOffset = statusBar.height() + 90;
    double gridLimit = platform::isLandscape(app.statusBarOrientation()) ? 240 : 320;
    double limit = gridLimit + topOffset;

    Rect screen = platform::Screen::main().bounds();
    double width = screen.width();
    double height = screen.height();

    auto service = socialControllerService();
    auto current = service ? service->currentViewController() : nullptr;
    int orientation = current ? current->interfaceOrientation() : app.statusBarOrientation();
    if (View* overlay = superview()) {
        if (platform::isLandscape(orientation)) {
            if (isTallerThanWide(*overlay)) {
                Rect f = overlay->frame();
                overlay->setFrame({0, 0, f.height(), f.width()});
            }
        } else if (View* host = overlay->superview(); host && isTallerThanWide(*host)) {
            Rect f = host->frame();
            overlay->setFrame({0, 0, f.width(), f.height()});
        }
    }

    const double count = static_cast<double>(snsNames_.size());
    int columns = 4;
    double columnWidth = width / columns;
    double total = std::ceil(count / columns) * kCellSize + topOffset;
    while (total > limit || total > height) {
        ++columns;
        columnWidth = width / columns;
        total = std::ceil(count / columns) * kCellSize + topOffset;
        if (columnWidth < kMinimumColumnWidth) {
            columnWidth = kMinimumColumnWidth;
            break;
        }
    }
    columns_ = columns;

    double panelHeight = total - topOffset;
    double superHeight = superview() ? superview()->bounds().height() : 0;
    // Columns held at their narrowest can make the grid wider than the screen: the content
    // (and the background that carries the grid) grows with it, so that the panel scrolls to
    // every icon.
    double contentWidth = std::max(width, columns * columnWidth);
    setFrame({0, superHeight - panelHeight, width, panelHeight});
    backgroundImageView_->setFrame({0, 0, contentWidth, panelHeight});
    actionSheetBackground_->setFrame({0, 0, width, height});
    actionSheetBackground_->setContentSize({contentWidth, panelHeight});

    platform::Label templateLabel;
    templateLabel.setTextAlignment(platform::TextAlignment::kCenter);
    templateLabel.setFont(platform::Font::system(11));
    templateLabel.setTextColor(Color::darkGray());
    templateLabel.setFrame(Rect::null());
    const auto& gridConfig = RAZududeConfigInternal::shareInstance().gridViewConfig();
    if (gridConfig) {
        gridConfig(&context, backgroundImageView_.get(), &templateLabel);
    }

    for (std::size_t i = 0; i < snsNames_.size(); ++i) {
        double column = static_cast<double>(i % static_cast<std::size_t>(columns));
        double row = static_cast<double>(i / static_cast<std::size_t>(columns));
        auto snsPlatform = RAZududeSnsPlatformManager::getSocialPlatformWithName(snsNames_[i]);
        if (!snsPlatform) {
            continue;
        }
        int type = snsPlatform->shareToType();
        double left = column * columnWidth + (columnWidth - kCellSize) / 2;
        if (auto button = viewWithTag(kIconTagBase + type)) {
            button->setFrame({left, row * kCellSize - 8, kCellSize, kCellSize});
        }
        if (auto label = viewWithTagAs<platform::Label>(kLabelTagBase + type)) {
            label->setText(snsPlatform->displayName());
            label->setHidden(false);
            Rect f = label->frame();
            label->setFrame({left + 5, row * kCellSize + 47, f.width(), f.height()});
            label->setFont(templateLabel.font());
            label->setTextColor(templateLabel.textColor());
            label->setTextAlignment(templateLabel.textAlignment());
            label->setBackgroundColor(Color::clear());
            if (!templateLabel.frame().isNull()) {
                Rect g = label->frame();
                label->setFrame({g.origin, templateLabel.frame().size});
            }
            label->setHidden(templateLabel.isHidden());
        }
    }

    Size gridSize = backgroundImageView_->bounds().size;
    if (gridSize.width > 0 && gridSize.height > 0) {
        platform::ImageContext grid(gridSize);
        auto& g = grid.context();
        g.setLineWidth(1);
        g.setShouldAntialias(true);
        g.setStrokeColor(Color(248 / 255.0, 248 / 255.0, 248 / 255.0, 1));
        g.beginPath();
        for (std::size_t i = 0; i < snsNames_.size(); ++i) {
            double column = static_cast<double>(i % static_cast<std::size_t>(columns));
            double row = static_cast<double>(i / static_cast<std::size_t>(columns));
            g.moveTo({column * columnWidth, (row + 1) * kCellSize + 1});
            g.lineTo({(column + 1) * columnWidth, (row + 1) * kCellSize + 1});
            g.moveTo({(column + 1) * columnWidth, row * kCellSize + 1});
            g.lineTo({(column + 1) * columnWidth, (row + 1) * kCellSize + 1});
        }
        if (gridConfig) {
            gridConfig(&g, nullptr, nullptr);
        }
        g.strokePath();
        backgroundImageView_->setImage(grid.makeImage());
    }
    View::draw(context, rect);
}

// ---- showing and dismissing ----------------------------------------------------------------

void RAZududeIconActionSheet::showInView(platform::View& view) {
    RZ_CHECK_MAIN_THREAD();
    Rect screen = platform::Screen::main().bounds();
    double width = screen.width();
    double height = screen.height();
    setCenter({width / 2, 1.5 * height});

    auto overlay =
        std::make_shared<platform::View>(Rect(0, 0, view.bounds().width(), view.bounds().height()));
    overlay->setBackgroundColor(Color::black().withAlpha(0));
    overlay->setTag(kOverlayTag);
    auto self = std::static_pointer_cast<RAZududeIconActionSheet>(shared_from_this());
    overlay->addSubview(self);
    std::weak_ptr<RAZududeIconActionSheet> weakSelf = self;
    overlay->addGestureRecognizer(
        std::make_shared<platform::TapGestureRecognizer>([weakSelf](platform::GestureRecognizer&) {
            if (auto sheet = weakSelf.lock()) {
                sheet->dismiss();
            }
        }));
    view.addSubview(overlay);

    platform::View* dimmed = overlay.get();
    platform::View::animate(kAnimationDuration, [&] {
        dimmed->setBackgroundColor(Color::black().withAlpha(0.5));
        setCenter({width / 2, height / 2});
    });
}

// A panel that is already on its way out takes no second tap: a second choice, or a second
// report of its closing, would start a second share.
void RAZududeIconActionSheet::dismiss() {
    RZ_CHECK_MAIN_THREAD();
    if (dismissing_) {
        return;
    }
    dismissing_ = true;
    platform::View* container = superview();
    std::shared_ptr<platform::View> overlay =
        container ? container->viewWithTag(kOverlayTag) : nullptr;
    Rect screen = platform::Screen::main().bounds();
    double width = screen.width();
    double height = screen.height();
    double panelHeight = bounds().height();
    auto self = std::static_pointer_cast<RAZududeIconActionSheet>(shared_from_this());
    platform::View::animate(
        kAnimationDuration,
        [&] {
            if (overlay) {
                overlay->setBackgroundColor(Color::black().withAlpha(0));
            }
            setCenter({width / 2, height + panelHeight / 2});
        },
        [self, overlay](bool) {
            if (overlay) {
                overlay->removeFromSuperview();
            } else {
                self->removeFromSuperview();
            }
            if (self->dismissCompletion_) {
                self->dismissCompletion_();
            }
        });
}

void RAZududeIconActionSheet::actionToSnsButton(platform::GestureRecognizer& recognizer) {
    RZ_CHECK_MAIN_THREAD();
    if (dismissing_ || !recognizer.view()) {
        return;
    }
    int type = recognizer.view()->tag() - kIconTagBase;
    auto name = RAZududeSnsPlatformManager::getSnsPlatformString(type);
    // Held for the length of the tap: the handler may take the panel out of every tree.
    auto self = std::static_pointer_cast<RAZududeIconActionSheet>(shared_from_this());
    dismiss();
    if (name && actionSheetHandler_) {
        actionSheetHandler_(*name);
    }
    if (type >= 10 && type <= 13) {
        setHidden(true);
    }
}
