// One web page's document: HTML and CSS parsed, laid out and drawn by litehtml, with text set
// by Pango and painting on cairo. It is what a WebView shows; it knows nothing of loading.
//
// Main thread only. Pictures are left as the boxes their size attributes give them, and
// style sheets that would have to be fetched are not: only the page's own <style> applies.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/Url.h"
#include "platform/graphics/Geometry.h"
#include "platform/net/UrlRequest.h"

struct _cairo;

namespace platform {

class HtmlPage {
  public:
    // The navigation a tap asks for: where to, and whether it submits a form.
    struct Navigation {
        UrlRequest request;
        bool formSubmission = false;
    };

    // Parses the page, read as UTF-8; links resolve against `url` unless a <base> says
    // otherwise.
    HtmlPage(std::string_view html, const Url& url);
    ~HtmlPage();
    HtmlPage(const HtmlPage&) = delete;
    HtmlPage& operator=(const HtmlPage&) = delete;

    // Lays the page out for a viewport of that size; answers the size of its content (at least
    // the viewport's width).
    Size layout(Size viewport);
    // Paints the laid-out page with its origin at the context's origin, within `clip`.
    void draw(_cairo* cr, const Rect& clip) const;
    // A tap at a point of the page: the link it follows or the form it submits, if any.
    std::optional<Navigation> tap(Point p);

    const std::string& title() const;

  private:
    class Container;
    std::unique_ptr<Container> container_;
};

}  // namespace platform
