#include "platform/ui/Button.h"

#include <algorithm>

namespace platform {

// ---- Control ---------------------------------------------------------------------------

void Control::addTarget(Action action, unsigned events) {
    if (action && events) {
        targets_.emplace_back(events, std::move(action));
    }
}

void Control::sendActionsForControlEvents(unsigned events) {
    auto keep = weak_from_this().lock();  // an action may take the control off screen
    auto targets = targets_;
    for (auto& [mask, action] : targets) {
        if (mask & events) {
            action(*this);
        }
    }
}

std::size_t Control::targetCount(unsigned events) const {
    return static_cast<std::size_t>(std::count_if(
        targets_.begin(), targets_.end(), [&](const auto& t) { return (t.first & events) != 0; }));
}

void Control::setEnabled(bool enabled) {
    if (enabled_ != enabled) {
        enabled_ = enabled;
        stateChanged();
    }
}

void Control::setSelected(bool selected) {
    if (selected_ != selected) {
        selected_ = selected;
        stateChanged();
    }
}

void Control::setHighlighted(bool highlighted) {
    if (highlighted_ != highlighted) {
        highlighted_ = highlighted;
        stateChanged();
    }
}

unsigned Control::state() const {
    unsigned s = kControlStateNormal;
    if (highlighted_) {
        s |= kControlStateHighlighted;
    }
    if (!enabled_) {
        s |= kControlStateDisabled;
    }
    if (selected_) {
        s |= kControlStateSelected;
    }
    return s;
}

void Control::touchesBegan(const Touch&) {
    if (!enabled_) {
        return;
    }
    tracking_ = true;
    setHighlighted(true);
    sendActionsForControlEvents(kControlEventTouchDown);
}

void Control::touchesEnded(const Touch& touch) {
    if (!tracking_) {
        return;
    }
    tracking_ = false;
    setHighlighted(false);
    bool inside = pointInside(touch.locationIn(this));
    sendActionsForControlEvents(inside ? kControlEventTouchUpInside : kControlEventTouchUpOutside);
}

void Control::touchesCancelled(const Touch&) {
    if (!tracking_) {
        return;
    }
    tracking_ = false;
    setHighlighted(false);
    sendActionsForControlEvents(kControlEventTouchCancel);
}

// ---- Button ----------------------------------------------------------------------------

Button::Button(const Rect& frame)
    : Control(frame),
      titleLabel_(std::make_shared<Label>()),
      imageView_(std::make_shared<ImageView>()) {
    titleLabel_->setFont(Font::system(15));
    titleLabel_->setTextAlignment(TextAlignment::kCenter);
    titleLabel_->setLineBreakMode(LineBreakMode::kTailTruncation);
    titleLabel_->setTextColor(Color::white());
    imageView_->setContentMode(ContentMode::kScaleToFill);
    addSubview(imageView_);
    addSubview(titleLabel_);
}

std::shared_ptr<Button> Button::withType(ButtonType) {
    return std::make_shared<Button>();
}

template <class T>
std::optional<T> Button::lookup(const std::map<unsigned, T>& values, unsigned state) {
    if (auto it = values.find(state); it != values.end()) {
        return it->second;
    }
    // A combined state falls back to one of its parts, then to normal.
    for (unsigned part : {kControlStateHighlighted, kControlStateSelected, kControlStateDisabled}) {
        if (state & part) {
            if (auto it = values.find(part); it != values.end()) {
                return it->second;
            }
        }
    }
    if (auto it = values.find(kControlStateNormal); it != values.end()) {
        return it->second;
    }
    return std::nullopt;
}

void Button::setTitle(std::optional<std::string> title, unsigned state) {
    if (title) {
        titles_[state] = std::move(*title);
    } else {
        titles_.erase(state);
    }
    refresh();
}

std::optional<std::string> Button::title(unsigned state) const {
    return lookup(titles_, state);
}

void Button::setTitleColor(std::optional<Color> color, unsigned state) {
    if (color) {
        titleColors_[state] = *color;
    } else {
        titleColors_.erase(state);
    }
    refresh();
}

std::optional<Color> Button::titleColor(unsigned state) const {
    return lookup(titleColors_, state);
}

void Button::setTitleShadowColor(std::optional<Color> color, unsigned state) {
    if (color) {
        titleShadowColors_[state] = *color;
    } else {
        titleShadowColors_.erase(state);
    }
    refresh();
}

void Button::setImage(ImagePtr image, unsigned state) {
    if (image) {
        images_[state] = std::move(image);
    } else {
        images_.erase(state);
    }
    refresh();
}

ImagePtr Button::image(unsigned state) const {
    return lookup(images_, state).value_or(nullptr);
}

void Button::setBackgroundImage(ImagePtr image, unsigned state) {
    if (image) {
        backgrounds_[state] = std::move(image);
    } else {
        backgrounds_.erase(state);
    }
    refresh();
}

ImagePtr Button::backgroundImage(unsigned state) const {
    return lookup(backgrounds_, state).value_or(nullptr);
}

std::string Button::currentTitle() const {
    return title(state()).value_or("");
}

Color Button::currentTitleColor() const {
    return titleColor(state()).value_or(Color::white());
}

ImagePtr Button::currentImage() const {
    return image(state());
}

ImagePtr Button::currentBackgroundImage() const {
    return backgroundImage(state());
}

void Button::setContentEdgeInsets(EdgeInsets insets) {
    contentInsets_ = insets;
    setNeedsLayout();
}

void Button::setTitleEdgeInsets(EdgeInsets insets) {
    titleInsets_ = insets;
    setNeedsLayout();
}

void Button::setImageEdgeInsets(EdgeInsets insets) {
    imageInsets_ = insets;
    setNeedsLayout();
}

void Button::stateChanged() {
    refresh();
}

void Button::refresh() {
    titleLabel_->setText(currentTitle());
    titleLabel_->setTextColor(currentTitleColor());
    titleLabel_->setShadowColor(lookup(titleShadowColors_, state()));
    imageView_->setImage(currentImage());
    setNeedsLayout();
    setNeedsDisplay();
}

Size Button::sizeThatFits(Size) const {
    Size title = titleLabel_->text().empty()
                     ? Size{}
                     : measureText(titleLabel_->text(), titleLabel_->font());
    ImagePtr image = currentImage();
    Size img = image ? image->size() : Size{};
    Size content{img.width + title.width + contentInsets_.left + contentInsets_.right,
                 std::max(img.height, title.height) + contentInsets_.top + contentInsets_.bottom};
    if (ImagePtr bg = currentBackgroundImage()) {
        content.width = std::max(content.width, bg->size().width);
        content.height = std::max(content.height, bg->size().height);
    }
    return content;
}

void Button::layoutSubviews() {
    Rect content = contentInsets_.apply(bounds());
    Rect imageArea = imageInsets_.apply(content);
    Rect titleArea = titleInsets_.apply(content);
    // Image and title keep within their areas: an image larger than its area shrinks to it, so
    // a button of no size shows nothing.
    ImagePtr image = currentImage();
    Size img = image ? image->size() : Size{};
    img.width = std::clamp(imageArea.size.width, 0.0, img.width);
    img.height = std::clamp(imageArea.size.height, 0.0, img.height);
    Size title{};
    if (!titleLabel_->text().empty()) {
        title = measureText(titleLabel_->text(), titleLabel_->font());
        title.width = std::min(title.width, std::max(0.0, titleArea.size.width - img.width));
        title.height = std::clamp(titleArea.size.height, 0.0, title.height);
    }
    double pair = img.width + title.width;
    imageView_->setFrame(
        {imageArea.midX() - pair / 2, imageArea.midY() - img.height / 2, img.width, img.height});
    titleLabel_->setFrame({titleArea.midX() - pair / 2 + img.width,
                           titleArea.midY() - title.height / 2, title.width, title.height});
}

void Button::drawContent(GraphicsContext& context) const {
    if (ImagePtr bg = currentBackgroundImage()) {
        context.drawImage(*bg, bounds());
    }
}

}  // namespace platform
