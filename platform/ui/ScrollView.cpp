#include "platform/ui/ScrollView.h"

#include <algorithm>
#include <cmath>

namespace platform {

ScrollView::ScrollView(const Rect& frame) : View(frame) {}

void ScrollView::setContentSize(Size size) {
    contentSize_ = {std::max(size.width, 0.0), std::max(size.height, 0.0)};
    setNeedsLayout();
}

Point ScrollView::maximumContentOffset() const {
    return {std::max(0.0, contentSize_.width - bounds().size.width),
            std::max(0.0, contentSize_.height - bounds().size.height)};
}

Point ScrollView::clamp(Point offset) const {
    Point max = maximumContentOffset();
    return {std::clamp(offset.x, 0.0, max.x), std::clamp(offset.y, 0.0, max.y)};
}

void ScrollView::setContentOffset(Point offset, bool) {
    if (offset == contentOffset()) {
        return;
    }
    setBounds({offset, bounds().size});
    didScroll();
    if (auto d = delegate()) {
        d->scrollViewDidScroll(*this);
    }
}

void ScrollView::dragBy(Point translation) {
    if (!scrollEnabled_) {
        return;
    }
    auto keep = weak_from_this().lock();
    if (auto d = delegate()) {
        d->scrollViewWillBeginDragging(*this);
    }
    Point target = clamp(contentOffset() - translation);
    if (paging_) {
        Size page = bounds().size;
        if (page.width > 0) {
            target.x = std::round(target.x / page.width) * page.width;
        }
        if (page.height > 0) {
            target.y = std::round(target.y / page.height) * page.height;
        }
        target = clamp(target);
    }
    setContentOffset(target);
    if (auto d = delegate()) {
        d->scrollViewDidEndDragging(*this, false);
    }
}

}  // namespace platform
