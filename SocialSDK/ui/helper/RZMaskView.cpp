#include "SocialSDK/ui/helper/RZMaskView.h"

#include <chrono>

#include "platform/Bundle.h"

using platform::Color;
using platform::Rect;

namespace {

constexpr double kCornerRadius = 7;
constexpr std::chrono::milliseconds kActivityDuration{300};

}  // namespace

RZMaskView::RZMaskView(const Rect& frame) : View(frame) {
    build(Color::black(), "oauth_text", "正在连接授权页面，请稍等...");
    setAlpha(0.8);
}

RZMaskView::RZMaskView(const Rect& frame, Rounded) : View(frame) {
    setCenter({160, 190});
    build(Color::white(), "mask_text", "请稍等......");
    setAlpha(0.7);
}

std::shared_ptr<RZMaskView> RZMaskView::roundedView() {
    return std::shared_ptr<RZMaskView>(new RZMaskView(Rect{50, 160, 200, 100}, Rounded{}));
}

void RZMaskView::build(const Color& textColor, const char* key, const char* defaultText) {
    setBackgroundColor(Color::midGray());

    statusLabel_ = std::make_shared<platform::Label>(Rect{0, 0, 180, 21});
    statusLabel_->setFont(platform::Font::named("Helvetica", 13));
    statusLabel_->setBackgroundColor(Color::clear());
    statusLabel_->setTextColor(textColor);
    statusLabel_->setText(
        platform::Bundle::mainBundle().localizedString(key, defaultText, "RAZududeLocalizable"));
    statusLabel_->setTextAlignment(platform::TextAlignment::kCenter);
    statusLabel_->setAlpha(0.8);
    addSubview(statusLabel_);

    activityIndicatorView_ =
        std::make_shared<platform::ActivityIndicatorView>(platform::ActivityIndicatorStyle::kGray);
    activityIndicatorView_->setBackgroundColor(Color::clear());
    activityIndicatorView_->setFrame({150, 150, 20, 20});
    activityIndicatorView_->startAnimating();
    addSubview(activityIndicatorView_);
    isActivity_ = true;

    layer().setCornerRadius(kCornerRadius);
    layer().setMasksToBounds(true);
}

void RZMaskView::setStatusText(std::string text) {
    statusText_ = std::move(text);
    statusLabel_->setText(statusText_);
    statusLabel_->sizeToFit();
    setNeedsLayout();
}

void RZMaskView::setIsActivity(bool activity) {
    View::animate(kActivityDuration, [this, activity] {
        if (activity) {
            setAlpha(0.7);
            setHidden(false);
            activityIndicatorView_->startAnimating();
        } else {
            setAlpha(0);
            setHidden(true);
            activityIndicatorView_->stopAnimating();
        }
    });
    isActivity_ = activity;
}

void RZMaskView::layoutSubviews() {
    const Rect& b = bounds();
    statusLabel_->setCenter({b.width() / 2 + 10, b.height() / 2});
    Rect label = statusLabel_->frame();
    activityIndicatorView_->setCenter({label.midX() - 10 - label.width() / 2, label.midY()});
}
