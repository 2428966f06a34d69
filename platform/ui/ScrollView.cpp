#include "platform/ui/ScrollView.h"

#include <algorithm>
#include <cmath>

namespace platform {

ScrollView::ScrollView(const Rect& frame) : View(frame) {
    setClipsToBounds(true);
}

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

// Pages lie a view's size apart; the end of the content is a page too, or the content past
// the last whole page could never be shown.
double ScrollView::nearestPage(double offset, double page, double max) {
    if (page <= 0) {
        return offset;
    }
    double lower = std::min(std::floor(offset / page) * page, max);
    double upper = std::min(lower + page, max);
    return offset - lower < (upper - lower) / 2 ? lower : upper;
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
        Point max = maximumContentOffset();
        target.x = nearestPage(target.x, bounds().size.width, max.x);
        target.y = nearestPage(target.y, bounds().size.height, max.y);
    }
    setContentOffset(target);
    if (auto d = delegate()) {
        d->scrollViewDidEndDragging(*this, false);
    }
}

}  // namespace platform
