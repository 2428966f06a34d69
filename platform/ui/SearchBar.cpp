#include "platform/ui/SearchBar.h"

#include <algorithm>

namespace platform {

SearchBar::SearchBar(const Rect& frame)
    : View(frame), background_(std::make_shared<View>()), field_(std::make_shared<TextField>()) {
    background_->setBackgroundColor(Color::rgb255(201, 201, 206));
    background_->setUserInteractionEnabled(false);
    field_->setBackgroundColor(Color::gray(0.97));
    field_->layer().setCornerRadius(5);
    field_->layer().setMasksToBounds(true);
    addSubview(background_);
    addSubview(field_);

    // The field reports to the bar's delegate; it never outlives the bar that holds it.
    field_->shouldBeginEditing = [this] {
        auto d = delegate();
        return !d || d->searchBarShouldBeginEditing(*this);
    };
    field_->onBeginEditing = [this] {
        if (auto d = delegate()) {
            d->searchBarTextDidBeginEditing(*this);
        }
    };
    field_->onEndEditing = [this] {
        if (auto d = delegate()) {
            d->searchBarTextDidEndEditing(*this);
        }
    };
    field_->onUserChange = [this](const std::string& text) {
        auto keep = weak_from_this().lock();
        if (auto d = delegate()) {
            d->searchBarTextDidChange(*this, text);
        }
    };
    field_->onReturn = [this] {
        auto keep = weak_from_this().lock();
        if (auto d = delegate()) {
            d->searchBarSearchButtonClicked(*this);
        }
    };
}

SearchBar::~SearchBar() {
    field_->shouldBeginEditing = nullptr;
    field_->onBeginEditing = nullptr;
    field_->onEndEditing = nullptr;
    field_->onUserChange = nullptr;
    field_->onReturn = nullptr;
}

void SearchBar::setSearchFieldBackgroundImage(ImagePtr image, unsigned state) {
    if (state == 0) {
        field_->setBackground(std::move(image));
    }
}

ImagePtr SearchBar::searchFieldBackgroundImage(unsigned state) const {
    return state == 0 ? field_->background() : nullptr;
}

void SearchBar::layoutSubviews() {
    const Rect& b = bounds();
    background_->setFrame({0, 0, b.width(), b.height()});
    double fieldHeight = std::min(28.0, std::max(0.0, b.height() - 8));
    field_->setFrame(
        {8, (b.height() - fieldHeight) / 2, std::max(0.0, b.width() - 16), fieldHeight});
}

}  // namespace platform
