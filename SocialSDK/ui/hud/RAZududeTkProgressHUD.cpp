#include "SocialSDK/ui/hud/RAZududeTkProgressHUD.h"

#include <algorithm>
#include <cmath>
#include <exception>
#include <stdexcept>
#include <thread>
#include <utility>

#include "platform/Log.h"
#include "platform/TaskGuard.h"
#include "platform/ui/Indicators.h"

using platform::AffineTransform;
using platform::Color;
using platform::Font;
using platform::Label;
using platform::MainLoop;
using platform::Rect;
using platform::Size;
using platform::View;

namespace {

constexpr double kPadding = 4;
constexpr std::chrono::milliseconds kAnimationDuration{300};
constexpr double kCornerRadius = 10;
// Flexible left, right, top and bottom margins: the HUD stays centred as its host resizes.
constexpr unsigned kHudAutoresizing =
    platform::kFlexibleLeftMargin | platform::kFlexibleRightMargin | platform::kFlexibleTopMargin |
    platform::kFlexibleBottomMargin;

std::shared_ptr<Label> makeLabel(const Rect& frame, const Font& font, const std::string& text) {
    auto label = std::make_shared<Label>(frame);
    label->setAdjustsFontSizeToFitWidth(false);
    label->setTextAlignment(platform::TextAlignment::kCenter);
    label->setOpaque(false);
    label->setBackgroundColor(Color::clear());
    label->setTextColor(Color::white());
    label->setFont(font);
    label->setText(text);
    return label;
}

}  // namespace

std::shared_ptr<RAZududeTkProgressHUD> RAZududeTkProgressHUD::withView(const View* view) {
    if (!view) {
        throw std::invalid_argument("View must not be nil.");
    }
    return std::make_shared<RAZududeTkProgressHUD>(view->bounds());
}

std::shared_ptr<RAZududeTkProgressHUD> RAZududeTkProgressHUD::withWindow(
    const platform::Window* window) {
    return withView(window);
}

RAZududeTkProgressHUD::RAZududeTkProgressHUD(const Rect& frame) : View(frame) {
    setAutoresizingMask(kHudAutoresizing);
    setOpaque(false);
    setBackgroundColor(Color::clear());
    setAlpha(0);

    label_ = makeLabel(bounds(), labelFont_, labelText_);
    addSubview(label_);
    detailsLabel_ = makeLabel(bounds(), detailsLabelFont_, detailsLabelText_);
    detailsLabel_->setNumberOfLines(0);
    addSubview(detailsLabel_);
    updateIndicators();
}

RAZududeTkProgressHUD::~RAZududeTkProgressHUD() {
    cancel(graceTimer_);
    cancel(minShowTimer_);
}

std::shared_ptr<RAZududeTkProgressHUD> RAZududeTkProgressHUD::self() {
    return std::static_pointer_cast<RAZududeTkProgressHUD>(shared_from_this());
}

void RAZududeTkProgressHUD::cancel(std::shared_ptr<platform::TimerHandle>& timer) {
    if (timer) {
        timer->cancel();
        timer.reset();
    }
}

// ---- content ---------------------------------------------------------------------------

void RAZududeTkProgressHUD::contentChanged() {
    setNeedsLayout();
    setNeedsDisplay();
}

void RAZududeTkProgressHUD::setMode(std::int32_t mode) {
    mode_ = mode;
    updateIndicators();
    contentChanged();
}

void RAZududeTkProgressHUD::setLabelText(std::string text) {
    labelText_ = std::move(text);
    label_->setText(labelText_);
    contentChanged();
}

void RAZududeTkProgressHUD::setDetailsLabelText(std::string text) {
    detailsLabelText_ = std::move(text);
    detailsLabel_->setText(detailsLabelText_);
    contentChanged();
}

void RAZududeTkProgressHUD::setLabelFont(const Font& font) {
    labelFont_ = font;
    label_->setFont(font);
    contentChanged();
}

void RAZududeTkProgressHUD::setDetailsLabelFont(const Font& font) {
    detailsLabelFont_ = font;
    detailsLabel_->setFont(font);
    contentChanged();
}

void RAZududeTkProgressHUD::setXOffset(double offset) {
    xOffset_ = offset;
    contentChanged();
}

void RAZududeTkProgressHUD::setYOffset(double offset) {
    yOffset_ = offset;
    contentChanged();
}

void RAZududeTkProgressHUD::setMargin(double margin) {
    margin_ = margin;
    contentChanged();
}

void RAZududeTkProgressHUD::setMinSize(Size size) {
    minSize_ = size;
    contentChanged();
}

void RAZududeTkProgressHUD::setSquare(bool square) {
    square_ = square;
    contentChanged();
}

void RAZududeTkProgressHUD::updateIndicators() {
    if (mode_ != kRAZududeTkProgressHUDModeIndeterminate ||
        dynamic_cast<platform::ActivityIndicatorView*>(indicator_.get())) {
        return;
    }
    if (indicator_) {
        indicator_->removeFromSuperview();
    }
    auto spinner = std::make_shared<platform::ActivityIndicatorView>(
        platform::ActivityIndicatorStyle::kWhiteLarge);
    spinner->startAnimating();
    indicator_ = spinner;
    addSubview(indicator_);
}

// ---- layout and drawing ----------------------------------------------------------------

void RAZududeTkProgressHUD::layoutSubviews() {
    if (View* host = superview()) {
        // The host's bounds as the frame, set through bounds and centre so that a zoom
        // transform in force does not distort it.
        const Rect& hostBounds = host->bounds();
        if (bounds().size != hostBounds.size) {
            setBounds({bounds().origin, hostBounds.size});
        }
        if (center() != hostBounds.center()) {
            setCenter(hostBounds.center());
        }
    }
    const double W = bounds().width();
    const double H = bounds().height();
    const double m = margin_;

    const double maxWidth = std::max(0.0, W - 4 * m);
    Size indicatorSize = indicator_ ? indicator_->bounds().size : Size{};
    double totalHeight = indicatorSize.height;

    Size labelSize = platform::measureText(labelText_, labelFont_);
    totalHeight += labelSize.height;
    if (indicatorSize.height > 0 && labelSize.height > 0) {
        totalHeight += kPadding;
    }

    // Without room left the details still get their first line rather than no bound at all.
    double remainingHeight = std::max(1.0, H - totalHeight - kPadding - 4 * m);
    Size detailsSize =
        platform::measureText(detailsLabelText_, detailsLabelFont_, {maxWidth, remainingHeight},
                              detailsLabel_->lineBreakMode());
    totalHeight += detailsSize.height;
    if ((indicatorSize.height > 0 || labelSize.height > 0) && detailsSize.height > 0) {
        totalHeight += kPadding;
    }

    const double indicatorWidth = std::min(indicatorSize.width, maxWidth);
    const double labelWidth = std::min(labelSize.width, maxWidth);
    double totalWidth = std::max({0.0, indicatorWidth, labelWidth, detailsSize.width});
    totalWidth += 2 * m;
    totalHeight += 2 * m;

    double y = std::round((H - totalHeight) / 2) + m + yOffset_;
    if (indicator_) {
        indicator_->setFrame({std::round((W - indicatorWidth) / 2) + xOffset_, y, indicatorWidth,
                              indicatorSize.height});
    }
    y += indicatorSize.height;
    if (indicatorSize.height > 0 && labelSize.height > 0) {
        y += kPadding;
    }
    label_->setFrame(
        {std::round((W - labelWidth) / 2) + xOffset_, y, labelWidth, labelSize.height});
    y += labelSize.height;
    if ((indicatorSize.height > 0 || labelSize.height > 0) && detailsSize.height > 0) {
        y += kPadding;
    }
    detailsLabel_->setFrame({std::round((W - detailsSize.width) / 2) + xOffset_, y,
                             detailsSize.width, detailsSize.height});

    if (square_) {
        double side = std::max(totalWidth, totalHeight);
        if (side <= W - 2 * m) {
            totalWidth = side;
        }
        if (side <= H - 2 * m) {
            totalHeight = side;
        }
    }
    size_ = {std::max(totalWidth, minSize_.width), std::max(totalHeight, minSize_.height)};
    // The panel follows the new figures.
    setNeedsDisplay();
}

void RAZududeTkProgressHUD::draw(platform::GraphicsContext& context, const Rect&) {
    const double W = bounds().width();
    const double H = bounds().height();
    Rect panel{std::round((W - size_.width) / 2) + xOffset_,
               std::round((H - size_.height) / 2) + yOffset_, size_.width, size_.height};
    // One path in the context's own fill colour, which is opaque black.
    context.beginPath();
    context.addRoundedRect(panel, kCornerRadius);
    context.closePath();
    context.fillPath();
}

// ---- showing and hiding ----------------------------------------------------------------

void RAZududeTkProgressHUD::show(bool animated) {
    useAnimation_ = animated;
    // A hide that waits for the minimum show time must not take down this show.
    cancel(minShowTimer_);
    if (graceTime_ > platform::Seconds::zero()) {
        cancel(graceTimer_);
        std::weak_ptr<RAZududeTkProgressHUD> weak = self();
        graceTimer_ = MainLoop::main().after(graceTime_, [weak] {
            if (auto hud = weak.lock()) {
                hud->handleGraceTimer();
            }
        });
        return;
    }
    setNeedsDisplay();
    showUsingAnimation(useAnimation_);
}

void RAZududeTkProgressHUD::hide(bool animated) {
    useAnimation_ = animated;
    // A show still waiting for its grace time is no longer wanted.
    cancel(graceTimer_);
    if (minShowTime_ > platform::Seconds::zero() && showStarted_) {
        const platform::Seconds shown(MainLoop::main().now() - *showStarted_);
        if (shown < minShowTime_) {
            cancel(minShowTimer_);
            std::weak_ptr<RAZududeTkProgressHUD> weak = self();
            minShowTimer_ = MainLoop::main().after(minShowTime_ - shown, [weak] {
                if (auto hud = weak.lock()) {
                    hud->handleMinShowTimer();
                }
            });
            return;
        }
    }
    hideUsingAnimation(useAnimation_);
}

void RAZududeTkProgressHUD::handleGraceTimer() {
    graceTimer_.reset();
    setNeedsDisplay();
    showUsingAnimation(useAnimation_);
}

void RAZududeTkProgressHUD::handleMinShowTimer() {
    minShowTimer_.reset();
    hideUsingAnimation(useAnimation_);
}

void RAZududeTkProgressHUD::showUsingAnimation(bool animated) {
    ++generation_;
    setAlpha(0);
    if (animated && (animationType_ == kRAZududeTkProgressHUDAnimationZoomIn ||
                     animationType_ == kRAZududeTkProgressHUDAnimationZoomOut)) {
        double scale = animationType_ == kRAZududeTkProgressHUDAnimationZoomIn ? 1.5 : 0.5;
        setTransform(rotationTransform_.scaled(scale, scale));
    } else {
        // A zoomed hide leaves its scale behind; a show without zoom starts from full size.
        setTransform(rotationTransform_);
    }
    showStarted_ = MainLoop::main().now();
    if (!animated) {
        setAlpha(1);
        return;
    }
    View::animate(kAnimationDuration, [this] {
        setAlpha(1);
        if (animationType_ == kRAZududeTkProgressHUDAnimationZoomIn ||
            animationType_ == kRAZududeTkProgressHUDAnimationZoomOut) {
            setTransform(rotationTransform_);
        }
    });
}

void RAZududeTkProgressHUD::hideUsingAnimation(bool animated) {
    const std::uint64_t generation = ++generation_;
    // Cleared before the delegate hears of the hide: a show it makes at once keeps its start.
    const bool wasShown = showStarted_.has_value();
    showStarted_.reset();
    if (!animated || !wasShown) {
        setAlpha(0);
        done();
        return;
    }
    auto hud = self();
    View::animate(
        kAnimationDuration,
        [this] {
            if (animationType_ == kRAZududeTkProgressHUDAnimationZoomIn) {
                setTransform(rotationTransform_.scaled(0.5, 0.5));
            } else if (animationType_ == kRAZududeTkProgressHUDAnimationZoomOut) {
                setTransform(rotationTransform_.scaled(1.5, 1.5));
            }
            setAlpha(0.02);
        },
        [hud, generation](bool) {
            // A show or hide since then owns the HUD now.
            if (hud->generation_ == generation) {
                hud->done();
            }
        });
}

void RAZududeTkProgressHUD::done() {
    setAlpha(0);
    // The delegate or the removal may drop the last other owner.
    auto keep = weak_from_this().lock();
    if (auto delegate = delegate_.lock()) {
        platform::runGuarded("the HUD delegate's hudWasHidden",
                             [&] { delegate->hudWasHidden(*this); });
    }
    if (removeFromSuperViewOnHide_) {
        removeFromSuperview();
    }
}

// ---- a task while the HUD is up --------------------------------------------------------

void RAZududeTkProgressHUD::showWhileExecuting(std::function<void()> task, bool animated) {
    if (!task) {
        throw std::invalid_argument("Invalid parameter not satisfying: task");
    }
    taskInProgress_ = true;
    try {
        std::thread([hud = self(), task = std::move(task)]() mutable {
            platform::runGuarded("a HUD task", task);
            // The HUD and whatever the task holds are let go on the main thread.
            MainLoop::main().post([hud = std::move(hud), task = std::move(task)]() mutable {
                task = nullptr;
                hud->cleanUp();
            });
        }).detach();
    } catch (...) {
        taskInProgress_ = false;
        throw;
    }
    show(animated);
}

void RAZududeTkProgressHUD::cleanUp() {
    taskInProgress_ = false;
    // The indicator stays: dropping it would leave the spinner out of every later layout.
    hide(useAnimation_);
}
