#include "platform/ui/TextField.h"

#include "platform/Utf8.h"

namespace platform {

TextField::TextField(const Rect& frame) : View(frame) {}

void TextField::setText(std::string text) {
    text_ = std::move(text);
    setNeedsDisplay();
}

void TextField::setPlaceholder(std::string placeholder) {
    placeholder_ = std::move(placeholder);
    setNeedsDisplay();
}

void TextField::setFont(const Font& font) {
    font_ = font;
    setNeedsDisplay();
}

void TextField::setTextColor(Color color) {
    textColor_ = color;
    setNeedsDisplay();
}

void TextField::setBackground(ImagePtr image) {
    background_ = std::move(image);
    setNeedsDisplay();
}

bool TextField::becomeFirstResponder() {
    if (isFirstResponder()) {
        return true;
    }
    if (!window() || (shouldBeginEditing && !shouldBeginEditing())) {
        return false;
    }
    if (!View::becomeFirstResponder()) {
        return false;
    }
    if (onBeginEditing) {
        onBeginEditing();
    }
    return true;
}

bool TextField::resignFirstResponder() {
    if (!isFirstResponder()) {
        return true;
    }
    View::resignFirstResponder();
    if (onEndEditing) {
        onEndEditing();
    }
    return true;
}

void TextField::insertText(std::string_view text) {
    if (text.empty()) {
        return;
    }
    text_.append(text);
    userChanged();
}

void TextField::deleteBackward() {
    if (text_.empty()) {
        return;
    }
    std::u32string chars = utf8::decode(text_);
    chars.pop_back();
    text_ = utf8::encode(chars);
    userChanged();
}

void TextField::returnKeyPressed() {
    if (onReturn) {
        auto keep = weak_from_this().lock();
        onReturn();
    }
}

void TextField::userChanged() {
    auto keep = weak_from_this().lock();
    setNeedsDisplay();
    if (onUserChange) {
        onUserChange(text_);
    }
}

void TextField::touchesEnded(const Touch&) {
    becomeFirstResponder();
}

void TextField::drawContent(GraphicsContext& context) const {
    const Rect& b = bounds();
    if (background_) {
        context.drawImage(*background_, b);
    }
    bool empty = text_.empty();
    const std::string& shown = empty ? placeholder_ : text_;
    if (shown.empty()) {
        return;
    }
    TextStyle style{font_, LineBreakMode::kTailTruncation, TextAlignment::kLeft, 1};
    Rect box = b.insetBy(8, 0);
    Size size = TextMeasurer::current().measure(shown, style, box.size);
    double y = b.minY() + (b.height() - size.height) / 2;
    context.drawText(shown, {box.minX(), y, box.width(), size.height}, style,
                     empty ? Color::gray(0.7) : textColor_);
}

}  // namespace platform
