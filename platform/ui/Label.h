// Text labels: one or more lines of text in a font and colour, aligned within the label and
// centred vertically, with an optional shadow. A label takes no touches by default.
#pragma once

#include <optional>
#include <string>

#include "platform/graphics/Font.h"
#include "platform/ui/View.h"

namespace platform {

class Label : public View {
  public:
    explicit Label(const Rect& frame = {});

    const std::string& text() const { return text_; }
    void setText(std::string text);
    const Font& font() const { return font_; }
    void setFont(const Font& font);
    const Color& textColor() const { return textColor_; }
    void setTextColor(Color color);
    TextAlignment textAlignment() const { return alignment_; }
    void setTextAlignment(TextAlignment alignment);
    // 0 for as many as the text needs.
    int numberOfLines() const { return lines_; }
    void setNumberOfLines(int lines);
    LineBreakMode lineBreakMode() const { return lineBreakMode_; }
    void setLineBreakMode(LineBreakMode mode);
    const std::optional<Color>& shadowColor() const { return shadowColor_; }
    void setShadowColor(std::optional<Color> color);
    Size shadowOffset() const { return shadowOffset_; }
    void setShadowOffset(Size offset);
    // One line that does not fit is drawn in a smaller font, down to this fraction of the
    // font's size (0: as small as it takes).
    bool adjustsFontSizeToFitWidth() const { return adjustsFontSize_; }
    void setAdjustsFontSizeToFitWidth(bool adjusts);
    double minimumScaleFactor() const { return minimumScale_; }
    void setMinimumScaleFactor(double factor);

    // One line: the text's whole width. Several: wrapped at the given width when it is
    // positive, cut to the line limit.
    Size sizeThatFits(Size size) const override;
    // The font the text is drawn in within the current width.
    Font fontForDrawing() const;
    void drawContent(GraphicsContext& context) const override;

  private:
    TextStyle style(const Font& font) const;

    std::string text_;
    Font font_ = Font::system(17);
    Color textColor_ = Color::black();
    TextAlignment alignment_ = TextAlignment::kLeft;
    int lines_ = 1;
    LineBreakMode lineBreakMode_ = LineBreakMode::kTailTruncation;
    std::optional<Color> shadowColor_;
    Size shadowOffset_{0, -1};
    bool adjustsFontSize_ = false;
    double minimumScale_ = 0;
};

}  // namespace platform
