// Editable text. A text view takes the keyboard when it becomes first responder (a tap does
// that too); what the user types goes through its delegate and the text-did-change
// notification. Text set by code does neither.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "platform/graphics/Font.h"
#include "platform/ui/Keyboard.h"
#include "platform/ui/View.h"

namespace platform {

inline constexpr const char* kTextViewTextDidChangeNotification =
    "UITextViewTextDidChangeNotification";

class TextView;

class TextViewDelegate {
  public:
    virtual ~TextViewDelegate() = default;
    virtual bool textViewShouldBeginEditing(TextView&) { return true; }
    virtual void textViewDidBeginEditing(TextView&) {}
    virtual void textViewDidChange(TextView&) {}
    virtual void textViewDidEndEditing(TextView&) {}
};

class TextView : public View, public TextInput {
  public:
    explicit TextView(const Rect& frame = {});

    const std::string& text() const { return text_; }
    void setText(std::string text);
    const Font& font() const { return font_; }
    void setFont(const Font& font);
    const Color& textColor() const { return textColor_; }
    void setTextColor(Color color);
    TextAlignment textAlignment() const { return alignment_; }
    void setTextAlignment(TextAlignment alignment);
    bool isEditable() const { return editable_; }
    void setEditable(bool editable);

    std::shared_ptr<TextViewDelegate> delegate() const { return delegate_.lock(); }
    void setDelegate(std::weak_ptr<TextViewDelegate> delegate) { delegate_ = std::move(delegate); }

    bool canBecomeFirstResponder() const override { return editable_; }
    bool showsKeyboard() const override { return true; }
    bool becomeFirstResponder() override;
    bool resignFirstResponder() override;

    // Typing appends at the end; return types a new line.
    void insertText(std::string_view text) override;
    void deleteBackward() override;
    void returnKeyPressed() override { insertText("\n"); }

    void touchesEnded(const Touch& touch) override;
    void drawContent(GraphicsContext& context) const override;

    static constexpr EdgeInsets kTextInsets{8, 5, 8, 5};

  private:
    void userChanged();

    std::string text_;
    Font font_ = Font::system(12);
    Color textColor_ = Color::black();
    TextAlignment alignment_ = TextAlignment::kLeft;
    bool editable_ = true;
    std::weak_ptr<TextViewDelegate> delegate_;
};

}  // namespace platform
