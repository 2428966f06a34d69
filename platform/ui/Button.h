// Controls and buttons. A control sends actions for its events: touch-down when a finger
// lands on it, touch-up-inside when the finger lifts there (not when a recognizer took the
// touch). A button shows, per state, a background image stretched to its bounds, an image and
// a title, the pair centred in its content rectangle and cut to fit it.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/graphics/Image.h"
#include "platform/ui/ImageView.h"
#include "platform/ui/Label.h"
#include "platform/ui/View.h"

namespace platform {

enum ControlEvent : unsigned {
    kControlEventTouchDown = 1u << 0,
    kControlEventTouchUpInside = 1u << 6,
    kControlEventTouchUpOutside = 1u << 7,
    kControlEventTouchCancel = 1u << 8,
    kControlEventValueChanged = 1u << 12,
};

enum ControlState : unsigned {
    kControlStateNormal = 0,
    kControlStateHighlighted = 1u << 0,
    kControlStateDisabled = 1u << 1,
    kControlStateSelected = 1u << 2,
};

class Control : public View {
  public:
    using Action = std::function<void(Control& sender)>;

    explicit Control(const Rect& frame = {}) : View(frame) {}

    // Adds an action for the events (a mask of ControlEvent).
    void addTarget(Action action, unsigned events);
    void removeAllTargets() { targets_.clear(); }
    // Runs the actions registered for any of the events, in the order they were added.
    void sendActionsForControlEvents(unsigned events);
    std::size_t targetCount(unsigned events) const;

    bool isEnabled() const { return enabled_; }
    void setEnabled(bool enabled);
    bool isSelected() const { return selected_; }
    void setSelected(bool selected);
    bool isHighlighted() const { return highlighted_; }
    void setHighlighted(bool highlighted);
    unsigned state() const;

    void touchesBegan(const Touch& touch) override;
    void touchesEnded(const Touch& touch) override;
    void touchesCancelled(const Touch& touch) override;

  protected:
    virtual void stateChanged() {}

  private:
    std::vector<std::pair<unsigned, Action>> targets_;
    bool enabled_ = true;
    bool selected_ = false;
    bool highlighted_ = false;
    bool tracking_ = false;
};

enum class ButtonType { kCustom = 0 };

class Button : public Control {
  public:
    explicit Button(const Rect& frame = {});
    static std::shared_ptr<Button> withType(ButtonType type);

    ButtonType buttonType() const { return ButtonType::kCustom; }

    // Per state; a state without its own value shows the normal state's.
    void setTitle(std::optional<std::string> title, unsigned state = kControlStateNormal);
    std::optional<std::string> title(unsigned state) const;
    void setTitleColor(std::optional<Color> color, unsigned state = kControlStateNormal);
    std::optional<Color> titleColor(unsigned state) const;
    void setTitleShadowColor(std::optional<Color> color, unsigned state = kControlStateNormal);
    void setImage(ImagePtr image, unsigned state = kControlStateNormal);
    ImagePtr image(unsigned state) const;
    void setBackgroundImage(ImagePtr image, unsigned state = kControlStateNormal);
    ImagePtr backgroundImage(unsigned state) const;

    std::string currentTitle() const;
    Color currentTitleColor() const;
    ImagePtr currentImage() const;
    ImagePtr currentBackgroundImage() const;

    // The label and image view that show the title and image; the label carries the font.
    Label& titleLabel() { return *titleLabel_; }
    ImageView& imageView() { return *imageView_; }

    const EdgeInsets& contentEdgeInsets() const { return contentInsets_; }
    void setContentEdgeInsets(EdgeInsets insets);
    const EdgeInsets& titleEdgeInsets() const { return titleInsets_; }
    void setTitleEdgeInsets(EdgeInsets insets);
    const EdgeInsets& imageEdgeInsets() const { return imageInsets_; }
    void setImageEdgeInsets(EdgeInsets insets);

    Size sizeThatFits(Size size) const override;
    void layoutSubviews() override;
    void drawContent(GraphicsContext& context) const override;

  protected:
    void stateChanged() override;

  private:
    template <class T>
    static std::optional<T> lookup(const std::map<unsigned, T>& values, unsigned state);
    void refresh();

    std::map<unsigned, std::string> titles_;
    std::map<unsigned, Color> titleColors_;
    std::map<unsigned, Color> titleShadowColors_;
    std::map<unsigned, ImagePtr> images_;
    std::map<unsigned, ImagePtr> backgrounds_;
    EdgeInsets contentInsets_;
    EdgeInsets titleInsets_;
    EdgeInsets imageInsets_;
    std::shared_ptr<Label> titleLabel_;
    std::shared_ptr<ImageView> imageView_;
};

}  // namespace platform
