#include "platform/ui/TextView.h"

#include "platform/NotificationCenter.h"
#include "platform/Utf8.h"

namespace platform {

TextView::TextView(const Rect& frame) : View(frame) {
    setBackgroundColor(Color::white());
}

void TextView::setText(std::string text) {
    text_ = std::move(text);
    setNeedsDisplay();
}

void TextView::setFont(const Font& font) {
    font_ = font;
    setNeedsDisplay();
}

void TextView::setTextColor(Color color) {
    textColor_ = color;
    setNeedsDisplay();
}

void TextView::setTextAlignment(TextAlignment alignment) {
    alignment_ = alignment;
    setNeedsDisplay();
}

void TextView::setEditable(bool editable) {
    editable_ = editable;
    if (!editable) {
        resignFirstResponder();
    }
}

bool TextView::becomeFirstResponder() {
    if (isFirstResponder()) {
        return true;
    }
    if (!canBecomeFirstResponder() || !window()) {
        return false;
    }
    auto d = delegate();
    if (d && !d->textViewShouldBeginEditing(*this)) {
        return false;
    }
    if (!View::becomeFirstResponder()) {
        return false;
    }
    if (d) {
        d->textViewDidBeginEditing(*this);
    }
    return true;
}

bool TextView::resignFirstResponder() {
    if (!isFirstResponder()) {
        return true;
    }
    View::resignFirstResponder();
    if (auto d = delegate()) {
        d->textViewDidEndEditing(*this);
    }
    return true;
}

void TextView::insertText(std::string_view text) {
    if (!editable_ || text.empty()) {
        return;
    }
    text_.append(text);
    userChanged();
}

void TextView::deleteBackward() {
    if (!editable_ || text_.empty()) {
        return;
    }
    std::u32string chars = utf8::decode(text_);
    chars.pop_back();
    text_ = utf8::encode(chars);
    userChanged();
}

void TextView::userChanged() {
    auto keep = weak_from_this().lock();
    setNeedsDisplay();
    if (auto d = delegate()) {
        d->textViewDidChange(*this);
    }
    NotificationCenter::defaultCenter().post(kTextViewTextDidChangeNotification, this);
}

void TextView::touchesEnded(const Touch&) {
    becomeFirstResponder();
}

void TextView::drawContent(GraphicsContext& context) const {
    if (text_.empty()) {
        return;
    }
    Rect box = kTextInsets.apply(bounds());
    TextStyle style{font_, LineBreakMode::kWordWrap, alignment_, 0};
    context.drawText(text_, box, style, textColor_);
}

}  // namespace platform
