// Draws the placeholder artwork of the resource bundle "RAZududeSDKResourcesNew.bundle" into
// a resource folder: every image name the screens ask for, at scales 1 and 2 ("name.png" and
// "name@2x.png"), with our own simple vector pictures. Platform icons are rounded squares in
// the platform's colour with its short name, so that they tell apart at a glance.
//
//     rz_make_artwork <resource folder>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <numbers>
#include <string>
#include <vector>

#include "platform/graphics/GraphicsContext.h"

using namespace platform;

namespace {

using Painter = std::function<void(GraphicsContext&, Size)>;

struct Artwork {
    std::string path;  // inside the bundle, without ".png"
    Size size;
    Painter paint;
};

constexpr const char* kBundle = "RAZududeSDKResourcesNew.bundle";
constexpr Color kBlue = Color::rgb255(0, 122, 255);
// The title colour of the white navigation bar.
constexpr Color kSlate = Color::rgb255(70, 79, 97);

void centredText(GraphicsContext& g, const std::string& text, const Rect& box, double maxSize,
                 Color color, bool bold = true) {
    // The largest size up to maxSize at which the text fits the box on one line.
    double size = maxSize;
    TextStyle style{bold ? Font::boldSystem(size) : Font::system(size), LineBreakMode::kClip,
                    TextAlignment::kCenter, 1};
    for (; size > 4; size -= 0.5) {
        style.font = bold ? Font::boldSystem(size) : Font::system(size);
        Size s = PangoTextMeasurer().measure(text, style, {});
        if (s.width <= box.width() && s.height <= box.height()) {
            break;
        }
    }
    Size s = PangoTextMeasurer().measure(text, style, {});
    g.drawText(text, {box.minX(), box.midY() - s.height / 2, box.width(), s.height}, style, color);
}

Painter platformIcon(Color color, std::string label, double alpha = 1, double inset = 0) {
    return [=](GraphicsContext& g, Size size) {
        Rect r{inset, inset, size.width - 2 * inset, size.height - 2 * inset};
        g.setFillColor(color.withAlpha(alpha));
        g.fillRoundedRect(r, r.width() * 0.22);
        // A lighter upper half gives the square some depth.
        g.save();
        g.clipRounded(r, r.width() * 0.22);
        g.setFillColor(Color::white().withAlpha(0.12));
        g.fillRect({r.minX(), r.minY(), r.width(), r.height() / 2});
        g.restore();
        centredText(g, label, r.insetBy(r.width() * 0.1, r.height() * 0.2), r.height() * 0.42,
                    Color::white());
    };
}

// The icon of the share panel: the tile sits at the top of its square, so that the name the
// panel sets under each icon does not cover it.
Painter sheetIcon(Color color, std::string label) {
    return [=](GraphicsContext& g, Size size) {
        double side = size.width * 44 / 57;
        g.save();
        g.translate((size.width - side) / 2, 1);
        platformIcon(color, label)(g, {side, side});
        g.restore();
    };
}

Painter bar(Color top, Color bottom, Color line) {
    return [=](GraphicsContext& g, Size size) {
        int steps = 16;
        for (int i = 0; i < steps; ++i) {
            double t = double(i) / (steps - 1);
            g.setFillColor({top.r + (bottom.r - top.r) * t, top.g + (bottom.g - top.g) * t,
                            top.b + (bottom.b - top.b) * t, 1});
            g.fillRect({0, size.height * i / steps, size.width, size.height / steps + 0.5});
        }
        g.setFillColor(line);
        g.fillRect({0, size.height - 1, size.width, 1});
    };
}

Painter labelledButton(Color fill, std::string text, Color textColor) {
    return [=](GraphicsContext& g, Size size) {
        Rect r{1, 2, size.width - 2, size.height - 4};
        g.setFillColor(fill);
        g.fillRoundedRect(r, 5);
        centredText(g, text, r.insetBy(4, 3), 14, textColor);
    };
}

Painter plainButton(Color fill, Color edge) {
    return [=](GraphicsContext& g, Size size) {
        Rect r{0.5, 0.5, size.width - 1, size.height - 1};
        g.setFillColor(fill);
        g.fillRoundedRect(r, 5);
        g.setStrokeColor(edge);
        g.beginPath();
        g.addRoundedRect(r, 5);
        g.strokePath();
    };
}

// A back button: a rounded body with a point at its left.
Painter backButton(Color fill) {
    return [=](GraphicsContext& g, Size size) {
        double w = size.width, h = size.height, tip = 12, r = 5;
        g.beginPath();
        g.moveTo({0.5, h / 2});
        g.lineTo({tip, 0.5});
        g.lineTo({w - r, 0.5});
        g.addArc({w - r - 0.5, r + 0.5}, r, -std::numbers::pi / 2, 0, true);
        g.lineTo({w - 0.5, h - r});
        g.addArc({w - r - 0.5, h - r - 0.5}, r, 0, std::numbers::pi / 2, true);
        g.lineTo({tip, h - 0.5});
        g.closePath();
        g.setFillColor(fill);
        g.fillPath();
    };
}

Painter checkBox(Color color, bool checked) {
    return [=](GraphicsContext& g, Size size) {
        Rect r{2, 2, size.width - 4, size.height - 4};
        g.setLineWidth(1.5);
        g.setStrokeColor(checked ? color : Color::gray(0.6));
        g.setFillColor(checked ? color : Color::white());
        g.fillRoundedRect(r, 3);
        g.beginPath();
        g.addRoundedRect(r, 3);
        g.strokePath();
        if (checked) {
            g.setStrokeColor(Color::white());
            g.setLineWidth(2);
            g.beginPath();
            g.moveTo({r.minX() + r.width() * 0.22, r.midY()});
            g.lineTo({r.minX() + r.width() * 0.43, r.minY() + r.height() * 0.72});
            g.lineTo({r.minX() + r.width() * 0.8, r.minY() + r.height() * 0.28});
            g.strokePath();
        }
    };
}

Painter glyphTile(std::string glyph, Color fill, Color ink) {
    return [=](GraphicsContext& g, Size size) {
        Rect r{1, 1, size.width - 2, size.height - 2};
        g.setFillColor(fill);
        g.fillRoundedRect(r, 6);
        centredText(g, glyph, r.insetBy(r.width() * 0.05, r.height() * 0.05), r.height() * 0.85,
                    ink);
    };
}

Painter avatar(bool plus) {
    return [=](GraphicsContext& g, Size size) {
        Rect r{0, 0, size.width, size.height};
        g.setFillColor(Color::gray(0.82));
        g.fillRoundedRect(r, 7);
        g.setFillColor(Color::gray(0.96));
        if (plus) {
            double t = size.width * 0.1;
            g.fillRect({r.midX() - t / 2, r.height() * 0.25, t, r.height() * 0.5});
            g.fillRect({r.width() * 0.25, r.midY() - t / 2, r.width() * 0.5, t});
            return;
        }
        g.beginPath();
        g.addArc({r.midX(), r.height() * 0.38}, r.width() * 0.18, 0, 2 * std::numbers::pi, true);
        g.fillPath();
        g.beginPath();
        g.addArc({r.midX(), r.height() * 1.02}, r.width() * 0.36, std::numbers::pi,
                 2 * std::numbers::pi, true);
        g.fillPath();
    };
}

Painter changeAccount(Color ink) {
    return [=](GraphicsContext& g, Size size) {
        g.setFillColor(ink);
        double w = size.width, h = size.height;
        g.beginPath();
        g.addArc({w * 0.4, h * 0.32}, w * 0.16, 0, 2 * std::numbers::pi, true);
        g.fillPath();
        g.beginPath();
        g.addArc({w * 0.4, h * 0.95}, w * 0.32, std::numbers::pi, 2 * std::numbers::pi, true);
        g.fillPath();
        g.setStrokeColor(ink);
        g.setLineWidth(1.5);
        g.beginPath();
        g.moveTo({w * 0.72, h * 0.2});
        g.lineTo({w * 0.92, h * 0.2});
        g.lineTo({w * 0.85, h * 0.1});
        g.moveTo({w * 0.92, h * 0.36});
        g.lineTo({w * 0.72, h * 0.36});
        g.lineTo({w * 0.79, h * 0.46});
        g.strokePath();
    };
}

Painter attachment(Color color, int kind) {
    return [=](GraphicsContext& g, Size size) {
        Rect r{1, 1, size.width - 2, size.height - 2};
        g.setFillColor(Color::gray(0.93));
        g.fillRoundedRect(r, 4);
        g.setFillColor(color);
        double w = size.width, h = size.height;
        g.beginPath();
        if (kind == 0) {  // a picture: hills and a sun
            g.moveTo({w * 0.15, h * 0.8});
            g.lineTo({w * 0.4, h * 0.45});
            g.lineTo({w * 0.55, h * 0.65});
            g.lineTo({w * 0.68, h * 0.5});
            g.lineTo({w * 0.85, h * 0.8});
            g.closePath();
            g.fillPath();
            g.beginPath();
            g.addArc({w * 0.7, h * 0.28}, w * 0.08, 0, 2 * std::numbers::pi, true);
        } else if (kind == 1) {  // a film: the play sign
            g.moveTo({w * 0.38, h * 0.28});
            g.lineTo({w * 0.72, h * 0.5});
            g.lineTo({w * 0.38, h * 0.72});
            g.closePath();
        } else {  // music: a note
            g.addArc({w * 0.38, h * 0.7}, w * 0.11, 0, 2 * std::numbers::pi, true);
            g.fillPath();
            g.beginPath();
            g.addRect({w * 0.46, h * 0.2, w * 0.05, h * 0.5});
            g.fillPath();
            g.beginPath();
            g.addRect({w * 0.46, h * 0.2, w * 0.22, h * 0.07});
        }
        g.fillPath();
    };
}

std::vector<Artwork> catalogue() {
    std::vector<Artwork> all;
    auto add = [&](std::string folder, std::string name, Size size, Painter paint) {
        all.push_back({folder + "/" + name, size, std::move(paint)});
    };

    struct PlatformLook {
        const char* name;
        Color color;
        const char* label;
    };
    const PlatformLook platforms[] = {
        {"sina", Color::rgb255(230, 22, 45), "Sina"},
        {"qzone", Color::rgb255(247, 181, 0), "Qzone"},
        {"tencent", Color::rgb255(0, 136, 204), "Tc"},
        {"renren", Color::rgb255(0, 94, 172), "Rr"},
        {"douban", Color::rgb255(0, 119, 17), "Db"},
        {"wechat_session", Color::rgb255(26, 173, 25), "WeChat"},
        {"wechat_timeline", Color::rgb255(104, 187, 52), "Moments"},
        {"wechat_favorite", Color::rgb255(250, 157, 59), "Fav"},
        {"email", Color::rgb255(66, 133, 244), "Mail"},
        {"sms", Color::rgb255(76, 200, 100), "SMS"},
        {"qq", Color::rgb255(18, 183, 245), "QQ"},
        {"facebook", Color::rgb255(59, 89, 152), "f"},
        {"twitter", Color::rgb255(29, 161, 242), "t"},
    };
    for (const auto& p : platforms) {
        std::string base = std::string("RZS_") + p.name;
        add("SnsPlatform", base + "_icon", {57, 57}, sheetIcon(p.color, p.label));
        add("SnsPlatform", base + "_on", {30, 30}, platformIcon(p.color, p.label, 1, 1));
        add("SnsPlatform", base + "_off", {30, 30}, platformIcon(Color::gray(0.62), p.label, 1, 1));
    }

    const Color light = Color::gray(0.97);
    add("Buttons", "RZS_actionsheet_panel", {40, 61}, [](GraphicsContext& g, Size s) {
        g.setFillColor(Color::gray(0.93));
        g.fillRect({0, 0, s.width, s.height});
        g.setFillColor(Color::gray(0.75));
        g.fillRect({0, 0, s.width, 1});
        g.setFillColor(Color::gray(0.98));
        g.fillRect({0, 1, s.width, 29});
    });
    add("Buttons", "RZS_nav_bar_bg", {320, 44},
        bar(Color::rgb255(58, 66, 82), Color::rgb255(34, 40, 52), Color::rgb255(20, 24, 32)));
    add("Buttons", "RZS_nav_bar_bg_white", {320, 44},
        bar(Color::white(), light, Color::gray(0.78)));
    // On the white bar the buttons take the bar title's slate (send its blue), so that they
    // read as buttons rather than fade into the bar.
    add("Buttons", "RZS_nav_button_back", {50, 30}, labelledButton(kSlate, "返回", Color::white()));
    add("Buttons", "RZS_nav_button_close", {50, 30},
        labelledButton(kSlate, "关闭", Color::white()));
    add("Buttons", "RZS_nav_button_send", {50, 30}, labelledButton(kBlue, "发送", Color::white()));
    add("Buttons", "RZS_nav_button_refresh", {50, 30},
        labelledButton(kSlate, "刷新", Color::white()));
    add("Buttons", "RZS_comment_bar_background", {320, 44},
        bar(Color::gray(0.95), Color::gray(0.88), Color::gray(0.75)));
    add("Buttons", "RZS_comment_input", {300, 28}, plainButton(Color::white(), Color::gray(0.75)));
    add("Buttons", "RZS_comment_view_cell_white", {320, 45}, [](GraphicsContext& g, Size s) {
        g.setFillColor(Color::white());
        g.fillRect({0, 0, s.width, s.height});
        g.setFillColor(Color::gray(0.88));
        g.fillRect({0, s.height - 1, s.width, 1});
    });
    add("Buttons", "RZS_follow_on", {22, 22}, checkBox(Color::rgb255(76, 180, 80), true));
    add("Buttons", "RZS_follow_off", {22, 22}, checkBox(Color::rgb255(76, 180, 80), false));
    add("Buttons", "RZS_add_friend_on", {22, 22}, checkBox(kBlue, true));
    add("Buttons", "RZS_add_friend_off", {22, 22}, checkBox(kBlue, false));
    add("Buttons", "RZS_url_image", {60, 60}, attachment(Color::rgb255(90, 160, 90), 0));
    add("Buttons", "RZS_url_video", {60, 60}, attachment(Color::rgb255(200, 80, 60), 1));
    add("Buttons", "RZS_url_music", {60, 60}, attachment(Color::rgb255(120, 90, 200), 2));
    add("Buttons", "RZS_zizoz_share_at", {30, 30},
        glyphTile("@", Color::clear(), Color::gray(0.4)));
    add("Buttons", "RZS_zizoz_share_atSel", {30, 30}, glyphTile("@", Color::clear(), kBlue));
    add("Buttons", "RZS_share_change_account", {30, 30}, changeAccount(Color::gray(0.4)));
    add("Buttons", "RZS_share_change_account_tap", {30, 30}, changeAccount(kBlue));
    add("Buttons", "RZS_User-Avatar-Placeholder", {57, 57}, avatar(false));
    add("Buttons", "RZS_share_change_to_account", {57, 57}, avatar(true));

    add("OtherTheme", "RZS_nav_back_button_normal", {50, 30},
        backButton(Color::rgb255(70, 78, 96)));
    add("OtherTheme", "RZS_nav_back_button_tap", {50, 30}, backButton(Color::rgb255(40, 46, 58)));
    add("OtherTheme", "RZS_nav_button_normal", {50, 30},
        plainButton(Color::rgb255(70, 78, 96), Color::rgb255(30, 34, 44)));
    add("OtherTheme", "RZS_nav_bar_bg_black", {320, 44},
        bar(Color::gray(0.2), Color::gray(0.05), Color::black()));
    return all;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <resource folder>\n", argv[0]);
        return 2;
    }
    std::filesystem::path root = std::filesystem::path(argv[1]) / kBundle;
    int failures = 0;
    for (const auto& art : catalogue()) {
        std::filesystem::path target = root / art.path;
        std::error_code ec;
        std::filesystem::create_directories(target.parent_path(), ec);
        for (double scale : {1.0, 2.0}) {
            ImageContext context(art.size, false, scale);
            art.paint(context.context(), art.size);
            std::filesystem::path file = target;
            file += scale == 1 ? ".png" : "@2x.png";
            platform::Error error;
            if (!context.makeImage()->writePng(file, &error)) {
                std::fprintf(stderr, "%s\n", error.localizedDescription().c_str());
                ++failures;
            }
        }
    }
    return failures == 0 ? 0 : 1;
}
