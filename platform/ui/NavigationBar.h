// The navigation bar and the items it shows: each screen's title (or title view) and its left
// and right bar buttons, which are custom views. Below the first item, an item without a left
// button gets a back button that goes back one screen.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/graphics/Font.h"
#include "platform/graphics/Image.h"
#include "platform/ui/View.h"

namespace platform {

class Button;
class Label;
class NavigationBar;

class BarButtonItem {
  public:
    explicit BarButtonItem(std::shared_ptr<View> customView) : customView_(std::move(customView)) {}
    const std::shared_ptr<View>& customView() const { return customView_; }

  private:
    std::shared_ptr<View> customView_;
};

class NavigationItem {
  public:
    NavigationItem() = default;
    explicit NavigationItem(std::string title) : title_(std::move(title)) {}
    NavigationItem(const NavigationItem&) = delete;
    NavigationItem& operator=(const NavigationItem&) = delete;

    const std::string& title() const { return title_; }
    void setTitle(std::string title);
    // Shown instead of the title when set.
    const std::shared_ptr<View>& titleView() const { return titleView_; }
    void setTitleView(std::shared_ptr<View> view);
    const std::shared_ptr<BarButtonItem>& leftBarButtonItem() const { return left_; }
    void setLeftBarButtonItem(std::shared_ptr<BarButtonItem> item);
    const std::shared_ptr<BarButtonItem>& rightBarButtonItem() const { return right_; }
    void setRightBarButtonItem(std::shared_ptr<BarButtonItem> item);
    bool hidesBackButton() const { return hidesBackButton_; }
    void setHidesBackButton(bool hides);

  private:
    friend class NavigationBar;
    void changed();

    std::string title_;
    std::shared_ptr<View> titleView_;
    std::shared_ptr<BarButtonItem> left_;
    std::shared_ptr<BarButtonItem> right_;
    bool hidesBackButton_ = false;
    NavigationBar* bar_ = nullptr;
};

enum class BarStyle { kDefault = 0, kBlack = 1 };
enum class BarMetrics { kDefault = 0, kLandscapePhone = 1 };

// How the bar sets its own title label.
struct TitleTextAttributes {
    std::optional<Color> textColor;
    std::optional<Font> font;
    std::optional<Color> textShadowColor;
    std::optional<Size> textShadowOffset;
};

class NavigationBar : public View {
  public:
    explicit NavigationBar(const Rect& frame = {});
    ~NavigationBar() override;

    static constexpr double kHeight = 44;

    const std::vector<std::shared_ptr<NavigationItem>>& items() const { return items_; }
    NavigationItem* topItem() const { return items_.empty() ? nullptr : items_.back().get(); }
    NavigationItem* backItem() const {
        return items_.size() < 2 ? nullptr : items_[items_.size() - 2].get();
    }
    void pushNavigationItem(std::shared_ptr<NavigationItem> item, bool animated);
    std::shared_ptr<NavigationItem> popNavigationItem(bool animated);
    // What the back button does; the navigation controller sets it.
    void setBackAction(std::function<void()> action) { backAction_ = std::move(action); }

    BarStyle barStyle() const { return barStyle_; }
    void setBarStyle(BarStyle style);
    bool isTranslucent() const { return translucent_; }
    void setTranslucent(bool translucent);
    // The bar's colour when it has no background image.
    const std::optional<Color>& tintColor() const { return tintColor_; }
    void setTintColor(std::optional<Color> color);
    ImagePtr backgroundImage(BarMetrics metrics = BarMetrics::kDefault) const;
    void setBackgroundImage(ImagePtr image, BarMetrics metrics = BarMetrics::kDefault);
    const std::optional<TitleTextAttributes>& titleTextAttributes() const { return attributes_; }
    void setTitleTextAttributes(std::optional<TitleTextAttributes> attributes);
    // Points the background reaches above the bar, behind the status bar.
    double backgroundExtension() const { return extension_; }
    void setBackgroundExtension(double points);

    // The views the bar shows for its top item (after layout); null when absent.
    View* titleViewShown() const { return shownTitle_.get(); }
    View* leftViewShown() const { return shownLeft_.get(); }
    View* rightViewShown() const { return shownRight_.get(); }
    Button* backButton() const { return backButton_.get(); }

    void layoutSubviews() override;
    void drawContent(GraphicsContext& context) const override;
    Size sizeThatFits(Size size) const override { return {size.width, kHeight}; }

  private:
    friend class NavigationItem;
    void itemChanged(NavigationItem* item);

    std::vector<std::shared_ptr<NavigationItem>> items_;
    std::function<void()> backAction_;
    BarStyle barStyle_ = BarStyle::kDefault;
    bool translucent_ = true;
    std::optional<Color> tintColor_;
    ImagePtr background_;
    ImagePtr backgroundLandscape_;
    std::optional<TitleTextAttributes> attributes_;
    double extension_ = 0;

    std::shared_ptr<View> shownTitle_;
    std::shared_ptr<View> shownLeft_;
    std::shared_ptr<View> shownRight_;
    std::shared_ptr<Label> titleLabel_;
    std::shared_ptr<Button> backButton_;
};

}  // namespace platform
