#include "platform/ui/Indicators.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace platform {

namespace {

double barHeight(ProgressViewStyle style) {
    return style == ProgressViewStyle::kBar ? 3 : 2;
}

double indicatorSide(ActivityIndicatorStyle style) {
    return style == ActivityIndicatorStyle::kWhiteLarge ? 37 : 20;
}

}  // namespace

ProgressView::ProgressView(ProgressViewStyle style)
    : View(Rect{0, 0, 150, barHeight(style)}), style_(style) {}

void ProgressView::setProgress(double progress, bool) {
    progress_ = std::clamp(progress, 0.0, 1.0);
    setNeedsDisplay();
}

Size ProgressView::sizeThatFits(Size size) const {
    return {size.width > 0 ? size.width : 150, barHeight(style_)};
}

void ProgressView::drawContent(GraphicsContext& context) const {
    const Rect& b = bounds();
    double radius = b.height() / 2;
    context.setFillColor(style_ == ProgressViewStyle::kBar ? Color::gray(0.72) : Color::gray(0.85));
    context.fillRoundedRect(b, radius);
    context.setFillColor(Color::rgb255(0, 122, 255));
    context.fillRoundedRect({b.minX(), b.minY(), b.width() * progress_, b.height()}, radius);
}

ActivityIndicatorView::ActivityIndicatorView(ActivityIndicatorStyle style)
    : View(Rect{0, 0, indicatorSide(style), indicatorSide(style)}), style_(style) {
    setUserInteractionEnabled(false);
    setHidden(true);
}

void ActivityIndicatorView::setStyle(ActivityIndicatorStyle style) {
    style_ = style;
    setNeedsDisplay();
}

void ActivityIndicatorView::startAnimating() {
    animating_ = true;
    setHidden(false);
}

void ActivityIndicatorView::stopAnimating() {
    animating_ = false;
    if (hidesWhenStopped_) {
        setHidden(true);
    }
}

void ActivityIndicatorView::setHidesWhenStopped(bool hides) {
    hidesWhenStopped_ = hides;
    setHidden(hides && !animating_);
}

Size ActivityIndicatorView::sizeThatFits(Size) const {
    double side = indicatorSide(style_);
    return {side, side};
}

void ActivityIndicatorView::drawContent(GraphicsContext& context) const {
    const Rect& b = bounds();
    double side = std::min(b.width(), b.height());
    if (side <= 0) {
        return;
    }
    Color base = style_ == ActivityIndicatorStyle::kGray ? Color::gray(0.4) : Color::white();
    Point c = b.center();
    double outer = side / 2;
    double inner = outer * 0.45;
    context.save();
    context.setLineWidth(side / 12);
    for (int i = 0; i < 12; ++i) {
        double angle = i * std::numbers::pi / 6 - std::numbers::pi / 2;
        context.setStrokeColor(base.withAlpha(0.25 + 0.75 * (12 - i) / 12.0));
        context.beginPath();
        context.moveTo({c.x + inner * std::cos(angle), c.y + inner * std::sin(angle)});
        context.lineTo({c.x + outer * std::cos(angle), c.y + outer * std::sin(angle)});
        context.strokePath();
    }
    context.restore();
}

}  // namespace platform
