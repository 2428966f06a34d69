#include "platform/ui/Label.h"

#include <algorithm>

namespace platform {

Label::Label(const Rect& frame) : View(frame) {
    setUserInteractionEnabled(false);
}

void Label::setText(std::string text) {
    text_ = std::move(text);
    setNeedsDisplay();
}

void Label::setFont(const Font& font) {
    font_ = font;
    setNeedsDisplay();
}

void Label::setTextColor(Color color) {
    textColor_ = color;
    setNeedsDisplay();
}

void Label::setTextAlignment(TextAlignment alignment) {
    alignment_ = alignment;
    setNeedsDisplay();
}

void Label::setNumberOfLines(int lines) {
    lines_ = std::max(lines, 0);
    setNeedsDisplay();
}

void Label::setLineBreakMode(LineBreakMode mode) {
    lineBreakMode_ = mode;
    setNeedsDisplay();
}

void Label::setShadowColor(std::optional<Color> color) {
    shadowColor_ = color;
    setNeedsDisplay();
}

void Label::setShadowOffset(Size offset) {
    shadowOffset_ = offset;
    setNeedsDisplay();
}

void Label::setAdjustsFontSizeToFitWidth(bool adjusts) {
    adjustsFontSize_ = adjusts;
    setNeedsDisplay();
}

void Label::setMinimumScaleFactor(double factor) {
    minimumScale_ = std::clamp(factor, 0.0, 1.0);
    setNeedsDisplay();
}

TextStyle Label::style(const Font& font) const {
    return TextStyle{font, lineBreakMode_, alignment_, lines_};
}

Size Label::sizeThatFits(Size size) const {
    if (lines_ == 1) {
        return TextMeasurer::current().measure(text_, style(font_), {});
    }
    return TextMeasurer::current().measure(text_, style(font_), {size.width, 0});
}

Font Label::fontForDrawing() const {
    if (!adjustsFontSize_ || lines_ != 1 || text_.empty() || bounds().size.width <= 0) {
        return font_;
    }
    const auto& measurer = TextMeasurer::current();
    double width = measurer.measure(text_, style(font_), {}).width;
    if (width <= bounds().size.width) {
        return font_;
    }
    double size = font_.pointSize() * bounds().size.width / width;
    double floor = std::max(1.0, font_.pointSize() * minimumScale_);
    return font_.withSize(std::max(size, floor));
}

// The text is painted within the bounds, as into a backing store of the label's size: a
// label squeezed to nothing shows nothing.
void Label::drawContent(GraphicsContext& context) const {
    const Rect& b = bounds();
    if (text_.empty() || b.width() <= 0 || b.height() <= 0) {
        return;
    }
    Font font = fontForDrawing();
    TextStyle s = style(font);
    Size shown = TextMeasurer::current().measure(text_, s, b.size);
    double y = b.minY() + (b.height() - shown.height) / 2;
    std::optional<TextShadow> shadow;
    if (shadowColor_) {
        shadow = TextShadow{*shadowColor_, shadowOffset_};
    }
    context.save();
    context.clip(b);
    context.drawText(text_, {b.minX(), y, b.width(), b.height() - (y - b.minY())}, s, textColor_,
                     shadow);
    context.restore();
}

}  // namespace platform
