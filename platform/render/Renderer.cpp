#include "platform/render/Renderer.h"

#include <algorithm>

#include "platform/graphics/GraphicsContext.h"
#include "platform/ui/Alert.h"
#include "platform/ui/Application.h"
#include "platform/ui/Screen.h"

namespace platform {

namespace {

constexpr Color kSystemBlue = Color::rgb255(0, 122, 255);
constexpr Color kDestructiveRed = Color::rgb255(255, 59, 48);

// Layout and drawing may move views again; a few rounds settle them. A hidden root (a window
// not yet shown) is drawn all the same, so its subviews are displayed one by one.
void prepare(View& view) {
    for (int round = 0; round < 4; ++round) {
        view.layoutIfNeeded();
        if (view.isHidden()) {
            auto subs = view.subviews();
            for (auto& s : subs) {
                s->displayIfNeeded();
            }
        } else {
            view.displayIfNeeded();
        }
    }
}

void drawView(GraphicsContext& context, const View& view, bool root) {
    if (!root && (view.isHidden() || view.alpha() < 0.01)) {
        return;
    }
    const Rect& b = view.bounds();
    context.save();
    if (!root) {
        Point c = view.center();
        context.translate(c.x, c.y);
        context.concat(view.transform());
        context.translate(-b.size.width / 2 - b.origin.x, -b.size.height / 2 - b.origin.y);
    } else {
        context.translate(-b.origin.x, -b.origin.y);
    }
    bool layered = !root && view.alpha() < 1;
    if (layered) {
        context.beginTransparencyLayer();
    }
    double radius = view.layer().cornerRadius();
    if (view.layer().masksToBounds()) {
        context.clipRounded(b, radius);
    }
    if (const auto& bg = view.backgroundColor(); bg && !bg->isClear()) {
        context.setFillColor(*bg);
        context.fillRoundedRect(b, radius);
    }
    if (const auto& drawing = view.drawing()) {
        // What draw painted lives in a backing store of the view's size.
        context.save();
        context.clip(b);
        context.drawDrawing(*drawing, b);
        context.restore();
    }
    view.drawContent(context);
    for (const auto& sub : view.subviews()) {
        drawView(context, *sub, false);
    }
    if (layered) {
        context.endTransparencyLayer(view.alpha());
    }
    context.restore();
}

// The time in the middle of the status bar, dark on light content and light on dark.
void drawStatusBar(GraphicsContext& context, const Rect& screen, const Image& under) {
    Color behind = under.pixel(under.pixelWidth() / 2 - static_cast<int>(30 * under.scale()),
                               static_cast<int>(10 * under.scale()));
    double luminance = 0.3 * behind.r + 0.59 * behind.g + 0.11 * behind.b;
    Color ink = behind.a > 0.5 && luminance < 0.5 ? Color::white() : Color::gray(0.1);
    TextStyle style{Font::boldSystem(12), LineBreakMode::kClip, TextAlignment::kCenter, 1};
    context.drawText("9:41", {0, 3, screen.width(), 16}, style, ink);
}

// A button row of a panel: its title centred, a hairline above unless it opens the panel.
void drawButtonRow(GraphicsContext& context, const Rect& row, const std::string& title, Color color,
                   bool bold, bool first = false) {
    if (!first) {
        context.setFillColor(Color::gray(0.8));
        context.fillRect({row.minX(), row.minY(), row.width(), 0.5});
    }
    TextStyle style{bold ? Font::boldSystem(17) : Font::system(17), LineBreakMode::kTailTruncation,
                    TextAlignment::kCenter, 1};
    Size s = TextMeasurer::current().measure(title, style, row.size);
    context.drawText(title, {row.minX(), row.midY() - s.height / 2, row.width(), s.height}, style,
                     color);
}

void drawAlert(GraphicsContext& context, const AlertView& alert, const Rect& screen) {
    const double width = 270;
    const double margin = 16;
    TextStyle titleStyle{Font::boldSystem(17), LineBreakMode::kWordWrap, TextAlignment::kCenter, 0};
    TextStyle messageStyle{Font::system(13), LineBreakMode::kWordWrap, TextAlignment::kCenter, 0};
    Size box{width - 2 * margin, 0};
    Size title = TextMeasurer::current().measure(alert.title(), titleStyle, box);
    Size message = TextMeasurer::current().measure(alert.message(), messageStyle, box);
    double textHeight =
        margin + title.height + (message.height > 0 ? 4 + message.height : 0) + margin;
    double height = textHeight + 44 * alert.numberOfButtons();
    Rect panel{screen.midX() - width / 2, screen.midY() - height / 2, width, height};
    context.setFillColor(Color::gray(0.97));
    context.fillRoundedRect(panel, 12);
    double y = panel.minY() + margin;
    context.drawText(alert.title(), {panel.minX() + margin, y, box.width, title.height}, titleStyle,
                     Color::black());
    y += title.height + 4;
    context.drawText(alert.message(), {panel.minX() + margin, y, box.width, message.height},
                     messageStyle, Color::black());
    double rowY = panel.minY() + textHeight;
    for (int i = 0; i < alert.numberOfButtons(); ++i) {
        drawButtonRow(context, {panel.minX(), rowY, width, 44}, alert.buttonTitleAtIndex(i),
                      kSystemBlue, i == alert.cancelButtonIndex());
        rowY += 44;
    }
}

void drawSheet(GraphicsContext& context, const ActionSheet& sheet, const Rect& screen) {
    const double margin = 8;
    double width = screen.width() - 2 * margin;
    int main = sheet.numberOfButtons() - (sheet.cancelButtonIndex() >= 0 ? 1 : 0);
    TextStyle titleStyle{Font::system(13), LineBreakMode::kWordWrap, TextAlignment::kCenter, 0};
    Size title = TextMeasurer::current().measure(sheet.title(), titleStyle, {width - 32, 0});
    double header = title.height > 0 ? title.height + 24 : 0;
    double cancelHeight = sheet.cancelButtonIndex() >= 0 ? 57 + margin : 0;
    double mainHeight = header + 57.0 * main;
    double top = screen.maxY() - margin - cancelHeight - mainHeight;
    Rect group{margin, top, width, mainHeight};
    context.setFillColor(Color::gray(0.97));
    context.fillRoundedRect(group, 12);
    if (header > 0) {
        context.drawText(sheet.title(), {margin + 16, top + 12, width - 32, title.height},
                         titleStyle, Color::gray(0.5));
    }
    double y = top + header;
    for (int i = 0; i < sheet.numberOfButtons(); ++i) {
        if (i == sheet.cancelButtonIndex()) {
            continue;
        }
        Color color = i == sheet.destructiveButtonIndex() ? kDestructiveRed : kSystemBlue;
        drawButtonRow(context, {margin, y, width, 57}, sheet.buttonTitleAtIndex(i), color, false,
                      y == top);
        y += 57;
    }
    if (sheet.cancelButtonIndex() >= 0) {
        Rect cancel{margin, screen.maxY() - margin - 57, width, 57};
        context.setFillColor(Color::white());
        context.fillRoundedRect(cancel, 12);
        TextStyle style{Font::boldSystem(17), LineBreakMode::kTailTruncation,
                        TextAlignment::kCenter, 1};
        std::string text = sheet.buttonTitleAtIndex(sheet.cancelButtonIndex());
        Size s = TextMeasurer::current().measure(text, style, cancel.size);
        context.drawText(text,
                         {cancel.minX(), cancel.midY() - s.height / 2, cancel.width(), s.height},
                         style, kSystemBlue);
    }
}

ImagePtr render(View& view, double scale,
                const std::function<void(GraphicsContext&, const ImageContext&)>& over,
                std::optional<Color> backdrop) {
    prepare(view);
    Size size = view.bounds().size;
    ImageContext image(size, false, scale > 0 ? scale : 1);
    GraphicsContext& context = image.context();
    if (backdrop) {
        context.setFillColor(*backdrop);
        context.fillRect({{0, 0}, size});
    }
    drawView(context, view, true);
    if (over) {
        over(context, image);
    }
    return image.makeImage();
}

}  // namespace

ImagePtr Renderer::renderView(View& view, double scale) {
    return render(view, scale, nullptr, std::nullopt);
}

ImagePtr Renderer::renderWindow(Window& window, const RenderOptions& options) {
    double scale = options.scale > 0 ? options.scale : Screen::main().scale();
    Rect screen{{0, 0}, window.bounds().size};
    auto over = [&](GraphicsContext& context, const ImageContext& image) {
        if (options.statusBar && !Application::shared().isStatusBarHidden()) {
            drawStatusBar(context, screen, *image.makeImage());
        }
        if (!options.modalPanels) {
            return;
        }
        auto panels = ModalPanel::visiblePanels();
        if (panels.empty()) {
            return;
        }
        context.setFillColor(Color::black().withAlpha(0.4));
        context.fillRect(screen);
        for (const auto& panel : panels) {
            if (auto* alert = dynamic_cast<const AlertView*>(panel.get())) {
                drawAlert(context, *alert, screen);
            } else if (auto* sheet = dynamic_cast<const ActionSheet*>(panel.get())) {
                drawSheet(context, *sheet, screen);
            }
        }
    };
    // A window without a colour of its own shows black, as a screen does.
    return render(window, scale, over, window.backgroundColor().value_or(Color::black()));
}

bool Renderer::writeWindowPng(Window& window, const std::filesystem::path& path, Error* error,
                              const RenderOptions& options) {
    ImagePtr image = renderWindow(window, options);
    return image && image->writePng(path, error);
}

}  // namespace platform
