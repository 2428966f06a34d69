#include "platform/ui/NavigationBar.h"

#include <algorithm>

#include "platform/ui/Button.h"
#include "platform/ui/Label.h"

namespace platform {

namespace {

constexpr double kSideMargin = 5;
constexpr double kGap = 5;

}  // namespace

// ---- NavigationItem --------------------------------------------------------------------

void NavigationItem::changed() {
    if (bar_) {
        bar_->itemChanged(this);
    }
}

void NavigationItem::setTitle(std::string title) {
    title_ = std::move(title);
    changed();
}

void NavigationItem::setTitleView(std::shared_ptr<View> view) {
    titleView_ = std::move(view);
    changed();
}

void NavigationItem::setLeftBarButtonItem(std::shared_ptr<BarButtonItem> item) {
    left_ = std::move(item);
    changed();
}

void NavigationItem::setRightBarButtonItem(std::shared_ptr<BarButtonItem> item) {
    right_ = std::move(item);
    changed();
}

void NavigationItem::setHidesBackButton(bool hides) {
    hidesBackButton_ = hides;
    changed();
}

// ---- NavigationBar ---------------------------------------------------------------------

NavigationBar::NavigationBar(const Rect& frame)
    : View(frame.isEmpty() ? Rect{0, 0, 320, kHeight} : frame) {}

NavigationBar::~NavigationBar() {
    for (auto& item : items_) {
        if (item->bar_ == this) {
            item->bar_ = nullptr;
        }
    }
}

void NavigationBar::pushNavigationItem(std::shared_ptr<NavigationItem> item, bool) {
    if (!item || (item->bar_ && item->bar_ != this)) {
        return;
    }
    item->bar_ = this;
    items_.push_back(std::move(item));
    setNeedsLayout();
}

std::shared_ptr<NavigationItem> NavigationBar::popNavigationItem(bool) {
    if (items_.empty()) {
        return nullptr;
    }
    auto item = std::move(items_.back());
    items_.pop_back();
    item->bar_ = nullptr;
    setNeedsLayout();
    return item;
}

void NavigationBar::itemChanged(NavigationItem* item) {
    if (item == topItem()) {
        setNeedsLayout();
    }
}

void NavigationBar::setBarStyle(BarStyle style) {
    barStyle_ = style;
    setNeedsLayout();
}

void NavigationBar::setTranslucent(bool translucent) {
    translucent_ = translucent;
    if (superview()) {
        superview()->setNeedsLayout();
    }
    setNeedsDisplay();
}

void NavigationBar::setTintColor(std::optional<Color> color) {
    tintColor_ = color;
    setNeedsDisplay();
}

ImagePtr NavigationBar::backgroundImage(BarMetrics metrics) const {
    return metrics == BarMetrics::kDefault ? background_ : backgroundLandscape_;
}

void NavigationBar::setBackgroundImage(ImagePtr image, BarMetrics metrics) {
    (metrics == BarMetrics::kDefault ? background_ : backgroundLandscape_) = std::move(image);
    setNeedsDisplay();
}

void NavigationBar::setTitleTextAttributes(std::optional<TitleTextAttributes> attributes) {
    attributes_ = std::move(attributes);
    setNeedsLayout();
}

void NavigationBar::setBackgroundExtension(double points) {
    extension_ = std::max(points, 0.0);
    setNeedsDisplay();
}

void NavigationBar::layoutSubviews() {
    NavigationItem* top = topItem();
    const Rect& b = bounds();

    std::shared_ptr<View> left, right, title;
    if (top) {
        if (top->leftBarButtonItem() && top->leftBarButtonItem()->customView()) {
            left = top->leftBarButtonItem()->customView();
        } else if (items_.size() >= 2 && !top->hidesBackButton()) {
            if (!backButton_) {
                backButton_ = std::make_shared<Button>();
                backButton_->setTitleColor(Color::rgb255(0, 122, 255));
                backButton_->titleLabel().setFont(Font::system(17));
                backButton_->addTarget(
                    [this](Control&) {
                        if (backAction_) {
                            auto action = backAction_;
                            action();
                        }
                    },
                    kControlEventTouchUpInside);
            }
            const std::string& previous = backItem()->title();
            backButton_->setTitle(previous.empty() ? std::string("Back") : previous);
            backButton_->sizeToFit();
            Rect f = backButton_->frame();
            backButton_->setFrame({f.origin.x, f.origin.y, std::min(f.size.width + 10, 120.0), 30});
            left = backButton_;
        }
        if (top->rightBarButtonItem()) {
            right = top->rightBarButtonItem()->customView();
        }
        if (top->titleView()) {
            title = top->titleView();
        } else {
            if (!titleLabel_) {
                titleLabel_ = std::make_shared<Label>();
                titleLabel_->setTextAlignment(TextAlignment::kCenter);
            }
            const TitleTextAttributes attributes = attributes_.value_or(TitleTextAttributes{});
            titleLabel_->setText(top->title());
            titleLabel_->setFont(attributes.font.value_or(Font::boldSystem(17)));
            titleLabel_->setTextColor(attributes.textColor.value_or(
                barStyle_ == BarStyle::kBlack ? Color::white() : Color::black()));
            titleLabel_->setShadowColor(attributes.textShadowColor);
            titleLabel_->setShadowOffset(attributes.textShadowOffset.value_or(Size{0, -1}));
            titleLabel_->sizeToFit();
            title = titleLabel_;
        }
    }

    // Views of the former item leave; the app's own subviews stay.
    for (auto* shown : {&shownLeft_, &shownRight_, &shownTitle_}) {
        if (*shown && *shown != left && *shown != right && *shown != title &&
            (*shown)->superview() == this) {
            (*shown)->removeFromSuperview();
        }
    }
    shownLeft_ = left;
    shownRight_ = right;
    shownTitle_ = title;

    double leftEdge = kSideMargin;
    double rightEdge = b.width() - kSideMargin;
    if (left) {
        Rect f = left->frame();
        left->setFrame({b.minX() + kSideMargin, b.minY() + (b.height() - f.size.height) / 2,
                        f.size.width, f.size.height});
        leftEdge = kSideMargin + f.size.width + kGap;
        if (left->superview() != this) {
            addSubview(left);
        }
    }
    if (right) {
        Rect f = right->frame();
        right->setFrame({b.minX() + b.width() - kSideMargin - f.size.width,
                         b.minY() + (b.height() - f.size.height) / 2, f.size.width, f.size.height});
        rightEdge = b.width() - kSideMargin - f.size.width - kGap;
        if (right->superview() != this) {
            addSubview(right);
        }
    }
    if (title) {
        Rect f = title->frame();
        double w = std::min(f.size.width, std::max(0.0, rightEdge - leftEdge));
        double x = (b.width() - w) / 2;
        x = std::clamp(x, leftEdge, std::max(leftEdge, rightEdge - w));
        title->setFrame(
            {b.minX() + x, b.minY() + (b.height() - f.size.height) / 2, w, f.size.height});
        if (title->superview() != this) {
            addSubview(title);
        }
    }
}

void NavigationBar::drawContent(GraphicsContext& context) const {
    const Rect& b = bounds();
    Rect area{b.minX(), b.minY() - extension_, b.width(), b.height() + extension_};
    if (background_) {
        context.drawImage(*background_, area);
    } else {
        Color fill = tintColor_.value_or(barStyle_ == BarStyle::kBlack ? Color::gray(0.1)
                                                                       : Color::gray(0.97));
        context.setFillColor(fill);
        context.fillRect(area);
    }
    context.setFillColor(Color::gray(0.7));
    context.fillRect({b.minX(), b.maxY() - 0.5, b.width(), 0.5});
}

}  // namespace platform
