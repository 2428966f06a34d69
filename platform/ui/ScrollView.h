// A view that shows part of a larger content: the content offset is the origin of its bounds,
// and the content is clipped to them. The offset stays within the content (no bouncing); with
// paging it comes to rest on whole pages of the view's size or at the end of the content. A
// drag is injected with dragBy.
#pragma once

#include <memory>

#include "platform/ui/View.h"

namespace platform {

class ScrollView;

class ScrollViewDelegate {
  public:
    virtual ~ScrollViewDelegate() = default;
    virtual void scrollViewDidScroll(ScrollView&) {}
    virtual void scrollViewWillBeginDragging(ScrollView&) {}
    virtual void scrollViewDidEndDragging(ScrollView&, bool /*decelerate*/) {}
};

enum class ScrollIndicatorStyle { kDefault = 0, kBlack = 1, kWhite = 2 };

class ScrollView : public View {
  public:
    explicit ScrollView(const Rect& frame = {});

    Size contentSize() const { return contentSize_; }
    void setContentSize(Size size);
    Point contentOffset() const { return bounds().origin; }
    // Tells the delegate that it scrolled when the offset changes.
    void setContentOffset(Point offset, bool animated = false);

    bool isPagingEnabled() const { return paging_; }
    void setPagingEnabled(bool paging) { paging_ = paging; }
    bool isScrollEnabled() const { return scrollEnabled_; }
    void setScrollEnabled(bool enabled) { scrollEnabled_ = enabled; }
    bool showsHorizontalScrollIndicator() const { return showsHorizontal_; }
    void setShowsHorizontalScrollIndicator(bool shows) { showsHorizontal_ = shows; }
    bool showsVerticalScrollIndicator() const { return showsVertical_; }
    void setShowsVerticalScrollIndicator(bool shows) { showsVertical_ = shows; }
    ScrollIndicatorStyle indicatorStyle() const { return indicatorStyle_; }
    void setIndicatorStyle(ScrollIndicatorStyle style) { indicatorStyle_ = style; }

    std::shared_ptr<ScrollViewDelegate> delegate() const { return delegate_.lock(); }
    void setDelegate(std::weak_ptr<ScrollViewDelegate> delegate) {
        delegate_ = std::move(delegate);
    }

    // The largest offset the content allows.
    Point maximumContentOffset() const;
    // A finger drags the content by `translation` and lifts: the delegate hears the drag
    // begin, the scrolling and its end. Nothing happens when scrolling is off.
    void dragBy(Point translation);

  protected:
    // Where a change of the offset is told to subclasses (the table lays out its rows).
    virtual void didScroll() {}

  private:
    Point clamp(Point offset) const;
    static double nearestPage(double offset, double page, double max);

    Size contentSize_;
    bool paging_ = false;
    bool scrollEnabled_ = true;
    bool showsHorizontal_ = true;
    bool showsVertical_ = true;
    ScrollIndicatorStyle indicatorStyle_ = ScrollIndicatorStyle::kDefault;
    std::weak_ptr<ScrollViewDelegate> delegate_;
};

}  // namespace platform
