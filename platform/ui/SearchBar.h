// A search bar: a background band with a search field in it. What the user types reaches the
// delegate as text changes; the keyboard's return key is the search button.
#pragma once

#include <memory>
#include <string>

#include "platform/ui/ImageView.h"
#include "platform/ui/TextField.h"
#include "platform/ui/View.h"

namespace platform {

class SearchBar;

class SearchBarDelegate {
  public:
    virtual ~SearchBarDelegate() = default;
    virtual bool searchBarShouldBeginEditing(SearchBar&) { return true; }
    virtual void searchBarTextDidBeginEditing(SearchBar&) {}
    virtual void searchBarTextDidEndEditing(SearchBar&) {}
    virtual void searchBarTextDidChange(SearchBar&, const std::string& /*text*/) {}
    virtual void searchBarSearchButtonClicked(SearchBar&) {}
};

class SearchBar : public View {
  public:
    explicit SearchBar(const Rect& frame = {});
    ~SearchBar() override;

    const std::string& text() const { return field_->text(); }
    // Set by code: the delegate hears nothing.
    void setText(std::string text) { field_->setText(std::move(text)); }
    const std::string& placeholder() const { return field_->placeholder(); }
    void setPlaceholder(std::string placeholder) { field_->setPlaceholder(std::move(placeholder)); }

    std::shared_ptr<SearchBarDelegate> delegate() const { return delegate_.lock(); }
    void setDelegate(std::weak_ptr<SearchBarDelegate> delegate) { delegate_ = std::move(delegate); }

    // The two parts, as views that can be restyled or taken out.
    const std::shared_ptr<View>& backgroundView() const { return background_; }
    const std::shared_ptr<TextField>& searchField() const { return field_; }
    // The image behind the field for a control state (only the normal state is used).
    void setSearchFieldBackgroundImage(ImagePtr image, unsigned state = 0);
    ImagePtr searchFieldBackgroundImage(unsigned state = 0) const;

    // The field takes the first responder and the keyboard.
    bool becomeFirstResponder() override { return field_->becomeFirstResponder(); }
    bool resignFirstResponder() override { return field_->resignFirstResponder(); }

    Size sizeThatFits(Size size) const override { return {size.width, 44}; }
    void layoutSubviews() override;

  private:
    std::shared_ptr<View> background_;
    std::shared_ptr<TextField> field_;
    std::weak_ptr<SearchBarDelegate> delegate_;
};

}  // namespace platform
