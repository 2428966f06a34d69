#include "platform/ui/HtmlPage.h"

#include <cairo.h>
#include <litehtml/litehtml.h>
#include <pango/pangocairo.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "platform/Text.h"
#include "platform/graphics/Font.h"
#include "platform/graphics/PangoText.h"

namespace platform {

namespace {

// The engine has no defaults of its own: these are the usual presentational rules of HTML,
// enough for the pages a login flow shows (text, headings, lists, tables, links, forms).
constexpr const char* kDefaultStyles = R"css(
html, address, blockquote, body, dd, div, dl, dt, fieldset, form, frame, frameset,
h1, h2, h3, h4, h5, h6, noframes, ol, p, ul, center, dir, hr, menu, pre, header, footer,
nav, section, article, aside, main, figure, figcaption, legend { display: block; }
head, script, style, title, meta, link, noscript, template, area, base, param { display: none; }
html { background-color: white; color: black; }
body { margin: 8px; font-family: sans-serif; font-size: 16px; line-height: normal; }
p, dl, blockquote, figure, ul, ol, form { margin-top: 1em; margin-bottom: 1em; }
h1 { font-size: 2em; margin: .67em 0; font-weight: bold; }
h2 { font-size: 1.5em; margin: .83em 0; font-weight: bold; }
h3 { font-size: 1.17em; margin: 1em 0; font-weight: bold; }
h4 { margin: 1.33em 0; font-weight: bold; }
h5 { font-size: .83em; margin: 1.67em 0; font-weight: bold; }
h6 { font-size: .67em; margin: 2.33em 0; font-weight: bold; }
b, strong, th { font-weight: bold; }
i, em, cite, var, address { font-style: italic; }
pre, code, kbd, samp, tt { font-family: monospace; }
pre { white-space: pre; margin: 1em 0; }
small { font-size: .83em; }
big { font-size: 1.17em; }
sub { vertical-align: sub; font-size: .83em; }
sup { vertical-align: super; font-size: .83em; }
u, ins { text-decoration: underline; }
s, strike, del { text-decoration: line-through; }
center { text-align: center; }
blockquote { margin-left: 40px; margin-right: 40px; }
ul, ol, dir, menu { padding-left: 40px; }
ul { list-style-type: disc; }
ol { list-style-type: decimal; }
ul ul, ol ul { list-style-type: circle; margin-top: 0; margin-bottom: 0; }
li { display: list-item; }
dd { margin-left: 40px; }
hr { border: 1px inset gray; margin: .5em auto; }
br { display: block; }
a:link, a:visited { color: #0000ee; text-decoration: underline; cursor: pointer; }
img { display: inline-block; }
table { display: table; border-spacing: 2px; border-collapse: separate; }
thead { display: table-header-group; vertical-align: middle; }
tbody { display: table-row-group; vertical-align: middle; }
tfoot { display: table-footer-group; vertical-align: middle; }
tr { display: table-row; vertical-align: inherit; }
td, th { display: table-cell; vertical-align: inherit; padding: 1px; }
th { text-align: center; }
caption { display: table-caption; text-align: center; }
col { display: table-column; }
colgroup { display: table-column-group; }
input, button, textarea, select { display: inline-block; font-size: 13px; }
button, input[type="submit"], input[type="button"] {
  border: 1px solid #767676; background-color: #efefef; padding: 2px 6px;
}
input[type="submit"]:before, input[type="button"]:before, input[type="text"]:before,
input[type="email"]:before { content: attr(value); }
input[type="text"], input[type="password"], input[type="email"], textarea {
  border: 1px solid #767676; width: 150px; height: 1.3em; padding: 1px 2px;
}
input[type="hidden"] { display: none; }
)css";

litehtml::context& engine() {
    static auto* context = [] {
        auto* c = new litehtml::context;
        c->load_master_stylesheet(kDefaultStyles);
        return c;
    }();
    return *context;
}

struct FontDescriptionFree {
    void operator()(PangoFontDescription* d) const { pango_font_description_free(d); }
};

// A font of the page: its description and the metrics the layout asked for.
struct PageFont {
    std::unique_ptr<PangoFontDescription, FontDescriptionFree> description;
    pango::LayoutPtr measure;
    unsigned decoration = 0;
    int ascent = 0;
    double underlinePosition = 0;  // below the baseline
    double strikePosition = 0;     // above the baseline
    double lineThickness = 1;
};

PageFont* fontOf(litehtml::uint_ptr font) {
    return reinterpret_cast<PageFont*>(font);
}

cairo_t* cairoOf(litehtml::uint_ptr hdc) {
    return reinterpret_cast<cairo_t*>(hdc);
}

void setColor(cairo_t* cr, const litehtml::web_color& c) {
    cairo_set_source_rgba(cr, c.red / 255.0, c.green / 255.0, c.blue / 255.0, c.alpha / 255.0);
}

// "Arial, 'Noto Sans'" as the family list Pango reads, with the system fallbacks behind it.
std::string families(std::string_view faceName) {
    std::string list;
    std::size_t start = 0;
    while (start <= faceName.size()) {
        std::size_t comma = std::min(faceName.find(',', start), faceName.size());
        std::string face(faceName.substr(start, comma - start));
        std::erase_if(face, [](char c) { return c == '"' || c == '\''; });
        litehtml::trim(face);
        if (!face.empty()) {
            list += (list.empty() ? "" : ",") + face;
        }
        start = comma + 1;
    }
    return Font::named(list.empty() ? "sans-serif" : list, 0).resolvedFamilies();
}

bool isTag(const litehtml::element::ptr& el, const char* tag) {
    const char* name = el->get_tagName();
    return name && litehtml::t_strcasecmp(name, tag) == 0;
}

std::string attribute(const litehtml::element::ptr& el, const char* name) {
    const char* value = el->get_attr(name);
    return value ? value : "";
}

std::string lower(std::string s) {
    litehtml::lcase(s);
    return s;
}

bool isSubmitter(const litehtml::element::ptr& el) {
    if (isTag(el, "button")) {
        std::string type = lower(attribute(el, "type"));
        return type.empty() || type == "submit";
    }
    return isTag(el, "input") && lower(attribute(el, "type")) == "submit";
}

// application/x-www-form-urlencoded
std::string formEncode(std::string_view text) {
    std::string out = percentEncode(text, "*-._ ");
    std::replace(out.begin(), out.end(), ' ', '+');
    return out;
}

}  // namespace

class HtmlPage::Container final : public litehtml::document_container {
  public:
    explicit Container(const Url& url) : url_(url), base_(url) {
        measureSurface_ = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 1, 1);
        measureCr_ = cairo_create(measureSurface_);
    }
    ~Container() {
        // The document gives its fonts back through us as it goes.
        document.reset();
        cairo_destroy(measureCr_);
        cairo_surface_destroy(measureSurface_);
    }

    litehtml::document::ptr document;
    std::string title;
    Size viewport;
    std::optional<std::string> clickedHref;

    std::optional<Url> resolve(const std::string& href) const { return Url::parse(href, base_); }
    const Url& url() const { return url_; }

    // ---- fonts and text
    litehtml::uint_ptr create_font(const char* faceName, int size, int weight,
                                   litehtml::font_style italic, unsigned int decoration,
                                   litehtml::font_metrics* fm) override {
        auto font = std::make_unique<PageFont>();
        font->description.reset(pango_font_description_new());
        PangoFontDescription* d = font->description.get();
        pango_font_description_set_family(d, families(faceName ? faceName : "").c_str());
        pango_font_description_set_absolute_size(d, std::max(size, 1) * PANGO_SCALE);
        pango_font_description_set_weight(d,
                                          static_cast<PangoWeight>(std::clamp(weight, 100, 900)));
        pango_font_description_set_style(
            d, italic == litehtml::fontStyleItalic ? PANGO_STYLE_ITALIC : PANGO_STYLE_NORMAL);
        font->decoration = decoration;
        font->measure = pango::makeLayout(measureCr_, d);

        PangoContext* context = pango_layout_get_context(font->measure.get());
        PangoFontMetrics* metrics = pango_context_get_metrics(context, d, nullptr);
        int ascent = static_cast<int>(
            std::ceil(pango_font_metrics_get_ascent(metrics) / static_cast<double>(PANGO_SCALE)));
        int descent = static_cast<int>(
            std::ceil(pango_font_metrics_get_descent(metrics) / static_cast<double>(PANGO_SCALE)));
        font->ascent = ascent;
        font->underlinePosition =
            -pango_font_metrics_get_underline_position(metrics) / static_cast<double>(PANGO_SCALE);
        font->strikePosition = pango_font_metrics_get_strikethrough_position(metrics) /
                               static_cast<double>(PANGO_SCALE);
        font->lineThickness = std::max(1.0, pango_font_metrics_get_underline_thickness(metrics) /
                                                static_cast<double>(PANGO_SCALE));
        pango_font_metrics_unref(metrics);

        if (fm) {
            fm->ascent = ascent;
            fm->descent = descent;
            fm->height = ascent + descent;
            PangoRectangle ink;
            pango_layout_set_text(font->measure.get(), "x", 1);
            pango_layout_get_pixel_extents(font->measure.get(), &ink, nullptr);
            fm->x_height = ink.height > 0 ? ink.height : ascent / 2;
            fm->draw_spaces = decoration != litehtml::font_decoration_none;
        }
        return reinterpret_cast<litehtml::uint_ptr>(font.release());
    }

    void delete_font(litehtml::uint_ptr font) override { delete fontOf(font); }

    int text_width(const char* text, litehtml::uint_ptr font) override {
        PangoLayout* layout = fontOf(font)->measure.get();
        pango_layout_set_text(layout, text, -1);
        PangoRectangle logical;
        pango_layout_get_extents(layout, nullptr, &logical);
        return static_cast<int>(std::ceil(logical.width / static_cast<double>(PANGO_SCALE)));
    }

    void draw_text(litehtml::uint_ptr hdc, const char* text, litehtml::uint_ptr font,
                   litehtml::web_color color, const litehtml::position& pos) override {
        cairo_t* cr = cairoOf(hdc);
        PageFont* f = fontOf(font);
        cairo_save(cr);
        applyClips(cr);
        pango::LayoutPtr layout = pango::makeLayout(cr, f->description.get());
        pango_layout_set_text(layout.get(), text, -1);
        double baseline = pos.y + f->ascent;
        double top = baseline - pango_layout_get_baseline(layout.get()) / double(PANGO_SCALE);
        setColor(cr, color);
        cairo_move_to(cr, pos.x, top);
        pango_cairo_show_layout(cr, layout.get());
        auto line = [&](double y) {
            cairo_rectangle(cr, pos.x, y - f->lineThickness / 2, pos.width, f->lineThickness);
            cairo_fill(cr);
        };
        if (f->decoration & litehtml::font_decoration_underline) {
            line(baseline + f->underlinePosition);
        }
        if (f->decoration & litehtml::font_decoration_linethrough) {
            line(baseline - f->strikePosition);
        }
        if (f->decoration & litehtml::font_decoration_overline) {
            line(pos.y);
        }
        cairo_restore(cr);
    }

    int pt_to_px(int pt) const override { return static_cast<int>(std::lround(pt * 96.0 / 72)); }
    int get_default_font_size() const override { return 16; }
    const char* get_default_font_name() const override { return "sans-serif"; }

    void transform_text(litehtml::tstring& text, litehtml::text_transform tt) override {
        switch (tt) {
            case litehtml::text_transform_uppercase:
                text = text::toUpper(text);
                break;
            case litehtml::text_transform_lowercase:
                text = text::toLower(text);
                break;
            case litehtml::text_transform_capitalize:
                if (!text.empty()) {
                    std::size_t first = 1;
                    while (first < text.size() && (text[first] & 0xC0) == 0x80) {
                        ++first;
                    }
                    text = text::toUpper(text.substr(0, first)) + text.substr(first);
                }
                break;
            default:
                break;
        }
    }

    // ---- painting
    void draw_list_marker(litehtml::uint_ptr hdc, const litehtml::list_marker& marker) override {
        cairo_t* cr = cairoOf(hdc);
        cairo_save(cr);
        applyClips(cr);
        setColor(cr, marker.color);
        const litehtml::position& p = marker.pos;
        switch (marker.marker_type) {
            case litehtml::list_style_type_none:
                break;
            case litehtml::list_style_type_circle:
                cairo_set_line_width(cr, 1);
                cairo_arc(cr, p.x + p.width / 2.0, p.y + p.height / 2.0,
                          std::max(p.width / 2.0 - 0.5, 0.5), 0, 2 * M_PI);
                cairo_stroke(cr);
                break;
            case litehtml::list_style_type_square:
                cairo_rectangle(cr, p.x, p.y, p.width, p.height);
                cairo_fill(cr);
                break;
            case litehtml::list_style_type_disc:
                cairo_arc(cr, p.x + p.width / 2.0, p.y + p.height / 2.0, p.width / 2.0, 0,
                          2 * M_PI);
                cairo_fill(cr);
                break;
            default:
                // Counted lists: the number, ending where the marker box ends.
                if (marker.font) {
                    std::string number = std::to_string(marker.index) + ".";
                    int width = text_width(number.c_str(), marker.font);
                    litehtml::position at = p;
                    at.x = p.x + p.width - width;
                    at.y = p.y + p.height - fontOf(marker.font)->ascent;
                    cairo_restore(cr);
                    draw_text(hdc, number.c_str(), marker.font, marker.color, at);
                    return;
                }
                break;
        }
        cairo_restore(cr);
    }

    void draw_background(litehtml::uint_ptr hdc, const litehtml::background_paint& bg) override {
        if (bg.color.alpha == 0) {
            return;  // pictures are not loaded: only the colour shows
        }
        cairo_t* cr = cairoOf(hdc);
        cairo_save(cr);
        applyClips(cr);
        const litehtml::position& b = bg.clip_box;
        cairo_rectangle(cr, b.x, b.y, b.width, b.height);
        cairo_clip(cr);
        roundedRect(cr, bg.border_box, bg.border_radius);
        setColor(cr, bg.color);
        cairo_fill(cr);
        cairo_restore(cr);
    }

    void draw_borders(litehtml::uint_ptr hdc, const litehtml::borders& borders,
                      const litehtml::position& p, bool /*root*/) override {
        cairo_t* cr = cairoOf(hdc);
        cairo_save(cr);
        applyClips(cr);
        auto side = [&](const litehtml::border& b, double x, double y, double w, double h) {
            if (b.width <= 0 || b.style == litehtml::border_style_none ||
                b.style == litehtml::border_style_hidden) {
                return;
            }
            setColor(cr, b.color);
            cairo_rectangle(cr, x, y, w, h);
            cairo_fill(cr);
        };
        side(borders.top, p.x, p.y, p.width, borders.top.width);
        side(borders.bottom, p.x, p.y + p.height - borders.bottom.width, p.width,
             borders.bottom.width);
        side(borders.left, p.x, p.y, borders.left.width, p.height);
        side(borders.right, p.x + p.width - borders.right.width, p.y, borders.right.width,
             p.height);
        cairo_restore(cr);
    }

    void set_clip(const litehtml::position& pos, const litehtml::border_radiuses&, bool validX,
                  bool validY) override {
        litehtml::position clip = pos;
        constexpr int kOpen = 1 << 24;
        if (!validX) {
            clip.x = -kOpen;
            clip.width = 2 * kOpen;
        }
        if (!validY) {
            clip.y = -kOpen;
            clip.height = 2 * kOpen;
        }
        clips_.push_back(clip);
    }
    void del_clip() override {
        if (!clips_.empty()) {
            clips_.pop_back();
        }
    }

    // ---- pictures: left as the boxes their attributes make
    void load_image(const char*, const char*, bool) override {}
    void get_image_size(const char*, const char*, litehtml::size& sz) override {
        sz.width = sz.height = 0;
    }

    // ---- the document's surroundings
    void set_caption(const char* caption) override { title = caption ? caption : ""; }
    void set_base_url(const char* baseUrl) override {
        if (baseUrl) {
            if (auto base = Url::parse(baseUrl, url_)) {
                base_ = *base;
            }
        }
    }
    void link(const std::shared_ptr<litehtml::document>&, const litehtml::element::ptr&) override {}
    void on_anchor_click(const char* url, const litehtml::element::ptr&) override {
        clickedHref = url ? url : "";
    }
    void set_cursor(const char*) override {}
    void import_css(litehtml::tstring&, const litehtml::tstring&, litehtml::tstring&) override {}
    void get_client_rect(litehtml::position& client) const override {
        client.x = client.y = 0;
        client.width = static_cast<int>(viewport.width);
        client.height = static_cast<int>(viewport.height);
    }
    std::shared_ptr<litehtml::element> create_element(
        const char*, const litehtml::string_map&,
        const std::shared_ptr<litehtml::document>&) override {
        return nullptr;
    }
    void get_media_features(litehtml::media_features& media) const override {
        media.type = litehtml::media_type_screen;
        media.width = media.device_width = static_cast<int>(viewport.width);
        media.height = media.device_height = static_cast<int>(viewport.height);
        media.color = 8;
        media.monochrome = 0;
        media.color_index = 256;
        media.resolution = 96;
    }
    void get_language(litehtml::tstring& language, litehtml::tstring& culture) const override {
        language = "en";
        culture.clear();
    }

  private:
    void applyClips(cairo_t* cr) const {
        for (const auto& c : clips_) {
            cairo_rectangle(cr, c.x, c.y, c.width, c.height);
            cairo_clip(cr);
        }
    }

    static void roundedRect(cairo_t* cr, const litehtml::position& b,
                            const litehtml::border_radiuses& r) {
        double x = b.x, y = b.y, w = b.width, h = b.height;
        cairo_new_path(cr);
        cairo_move_to(cr, x + r.top_left_x, y);
        cairo_line_to(cr, x + w - r.top_right_x, y);
        if (r.top_right_x > 0) {
            cairo_arc(cr, x + w - r.top_right_x, y + r.top_right_x, r.top_right_x, -M_PI / 2, 0);
        }
        cairo_line_to(cr, x + w, y + h - r.bottom_right_x);
        if (r.bottom_right_x > 0) {
            cairo_arc(cr, x + w - r.bottom_right_x, y + h - r.bottom_right_x, r.bottom_right_x, 0,
                      M_PI / 2);
        }
        cairo_line_to(cr, x + r.bottom_left_x, y + h);
        if (r.bottom_left_x > 0) {
            cairo_arc(cr, x + r.bottom_left_x, y + h - r.bottom_left_x, r.bottom_left_x, M_PI / 2,
                      M_PI);
        }
        cairo_line_to(cr, x, y + r.top_left_x);
        if (r.top_left_x > 0) {
            cairo_arc(cr, x + r.top_left_x, y + r.top_left_x, r.top_left_x, M_PI, 3 * M_PI / 2);
        }
        cairo_close_path(cr);
    }

    Url url_;
    Url base_;
    std::vector<litehtml::position> clips_;
    cairo_surface_t* measureSurface_ = nullptr;
    cairo_t* measureCr_ = nullptr;
};

namespace {

// The named fields of a form, in document order, as a submission by `submitter` sends them.
void collectFields(const litehtml::element::ptr& el, const litehtml::element::ptr& submitter,
                   std::string& out) {
    for (std::size_t i = 0; i < el->get_children_count(); ++i) {
        litehtml::element::ptr child = el->get_child(static_cast<int>(i));
        std::string name = attribute(child, "name");
        bool field = false;
        std::string value = attribute(child, "value");
        if (child->get_attr("disabled")) {
            // disabled fields are never sent
        } else if (isTag(child, "input") && !name.empty()) {
            std::string type = lower(attribute(child, "type"));
            if (type == "checkbox" || type == "radio") {
                field = child->get_attr("checked") != nullptr;
                if (value.empty()) {
                    value = "on";
                }
            } else if (type == "submit" || type == "button" || type == "image" || type == "reset" ||
                       type == "file") {
                field = child == submitter && type == "submit";
            } else {
                field = true;
            }
        } else if (isTag(child, "button") && !name.empty()) {
            field = child == submitter;
        } else if (isTag(child, "textarea") && !name.empty()) {
            value.clear();
            child->get_text(value);
            field = true;
        }
        if (field) {
            out += (out.empty() ? "" : "&") + formEncode(name) + "=" + formEncode(value);
        }
        if (!isTag(child, "textarea")) {
            collectFields(child, submitter, out);
        }
    }
}

}  // namespace

HtmlPage::HtmlPage(std::string_view html, const Url& url)
    : container_(std::make_unique<Container>(url)) {
    std::string text(html);
    container_->document =
        litehtml::document::createFromUTF8(text.c_str(), container_.get(), &engine());
}

HtmlPage::~HtmlPage() = default;

Size HtmlPage::layout(Size viewport) {
    container_->viewport = viewport;
    auto& doc = container_->document;
    doc->media_changed();
    int width = std::max(1, static_cast<int>(viewport.width));
    doc->render(width);
    return {std::max<double>(doc->width(), viewport.width), static_cast<double>(doc->height())};
}

void HtmlPage::draw(_cairo* cr, const Rect& clip) const {
    litehtml::position area;
    area.x = static_cast<int>(std::floor(clip.minX()));
    area.y = static_cast<int>(std::floor(clip.minY()));
    area.width = static_cast<int>(std::ceil(clip.width())) + 1;
    area.height = static_cast<int>(std::ceil(clip.height())) + 1;
    container_->document->draw(reinterpret_cast<litehtml::uint_ptr>(cr), 0, 0, &area);
}

std::optional<HtmlPage::Navigation> HtmlPage::tap(Point p) {
    auto& doc = container_->document;
    int x = static_cast<int>(std::floor(p.x));
    int y = static_cast<int>(std::floor(p.y));
    litehtml::position::vector redraw;
    container_->clickedHref.reset();
    doc->on_mouse_over(x, y, x, y, redraw);
    doc->on_lbutton_down(x, y, x, y, redraw);
    doc->on_lbutton_up(x, y, x, y, redraw);
    doc->on_mouse_leave(redraw);

    if (auto href = container_->clickedHref) {
        auto url = container_->resolve(*href);
        // Scripts do not run, so a script link goes nowhere.
        if (!url || lower(url->scheme()) == "javascript") {
            return std::nullopt;
        }
        return Navigation{UrlRequest(*url), false};
    }

    litehtml::element::ptr el = doc->root()->get_element_by_point(x, y, x, y);
    while (el && !isSubmitter(el)) {
        el = el->parent();
    }
    litehtml::element::ptr form = el;
    while (form && !isTag(form, "form")) {
        form = form->parent();
    }
    if (!form) {
        return std::nullopt;
    }
    std::string fields;
    collectFields(form, el, fields);
    std::string action = attribute(form, "action");
    auto target =
        action.empty() ? std::optional<Url>(container_->url()) : container_->resolve(action);
    if (!target) {
        return std::nullopt;
    }
    if (lower(attribute(form, "method")) == "post") {
        UrlRequest request(*target);
        request.setHttpMethod("POST");
        request.setValue("application/x-www-form-urlencoded", "Content-Type");
        request.setHttpBody(Bytes(fields.begin(), fields.end()));
        return Navigation{std::move(request), true};
    }
    // A GET form puts its fields in place of the action's query.
    std::string text = target->absoluteString();
    text = text.substr(0, text.find_first_of("?#")) + "?" + fields;
    auto url = Url::parse(text);
    if (!url) {
        return std::nullopt;
    }
    return Navigation{UrlRequest(*url), true};
}

const std::string& HtmlPage::title() const {
    return container_->title;
}

}  // namespace platform
