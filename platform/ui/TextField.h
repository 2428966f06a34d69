// A one-line text field, as the search bar holds one. What the user types is reported through
// the hooks its owner sets.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "platform/graphics/Font.h"
#include "platform/graphics/Image.h"
#include "platform/ui/Keyboard.h"
#include "platform/ui/View.h"

namespace platform {

class TextField : public View, public TextInput {
  public:
    explicit TextField(const Rect& frame = {});

    const std::string& text() const { return text_; }
    void setText(std::string text);
    const std::string& placeholder() const { return placeholder_; }
    void setPlaceholder(std::string placeholder);
    const Font& font() const { return font_; }
    void setFont(const Font& font);
    const Color& textColor() const { return textColor_; }
    void setTextColor(Color color);
    // Stretched behind the text when set.
    const ImagePtr& background() const { return background_; }
    void setBackground(ImagePtr image);

    // Hooks for the owner: may editing begin, the user changed the text, return was pressed,
    // editing began or ended.
    std::function<bool()> shouldBeginEditing;
    std::function<void(const std::string&)> onUserChange;
    std::function<void()> onReturn;
    std::function<void()> onBeginEditing;
    std::function<void()> onEndEditing;

    bool canBecomeFirstResponder() const override { return true; }
    bool showsKeyboard() const override { return true; }
    bool becomeFirstResponder() override;
    bool resignFirstResponder() override;

    void insertText(std::string_view text) override;
    void deleteBackward() override;
    void returnKeyPressed() override;

    void touchesEnded(const Touch& touch) override;
    void drawContent(GraphicsContext& context) const override;

  private:
    void userChanged();

    std::string text_;
    std::string placeholder_;
    Font font_ = Font::system(14);
    Color textColor_ = Color::black();
    ImagePtr background_;
};

}  // namespace platform
