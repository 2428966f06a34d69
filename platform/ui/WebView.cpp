#include "platform/ui/WebView.h"

#include <cassert>

#include "platform/MainLoop.h"
#include "platform/TaskGuard.h"
#include "platform/net/UrlConnection.h"
#include "platform/ui/HtmlPage.h"

namespace platform {

namespace {

// As many redirects as a single connection follows.
constexpr int kMaximumRedirects = 16;
// A page is held whole in memory to be laid out; one larger than this is refused.
constexpr std::size_t kPageBytesLimit = 8u << 20;
constexpr long kUrlErrorDataLengthExceedsMaximum = -1103;

Error loadError(const char* domain, long code, const std::string& description, const Url& url) {
    return Error(domain, code,
                 Map{{kLocalizedDescriptionKey, Value(description)},
                     {kUrlErrorFailingUrlErrorKey, Value(url.absoluteString())},
                     {kUrlErrorFailingUrlStringErrorKey, Value(url.absoluteString())}});
}

std::string escapeHtml(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '&':
                out += "&amp;";
                break;
            default:
                out += c;
        }
    }
    return out;
}

}  // namespace

// One navigation's load, from its first request through its redirects to its end. Main
// thread; the hops report to it through the main loop.
class WebView::Load {
  public:
    Load(std::shared_ptr<WebView*> view, UrlRequest first)
        : owner(std::move(view)), request(std::move(first)) {}

    // The view while it lives.
    WebView* view() const { return *owner; }

    std::shared_ptr<WebView*> owner;
    UrlRequest request;  // of the current hop
    std::shared_ptr<UrlConnection> connection;
    int redirects = 0;
};

// One hop of a load: a connection that stops at a redirect, so that the web view can offer
// it to its delegate first. Network thread; every result goes to the main loop.
class WebView::Hop final : public UrlConnectionDelegate {
  public:
    using Report = std::function<void(WebView&, const std::shared_ptr<Load>&)>;

    Hop(std::shared_ptr<Load> load, UrlRequest request)
        : load_(std::move(load)), request_(std::move(request)) {}

    std::optional<UrlRequest> willSendRequest(
        UrlConnection& connection, const UrlRequest& request,
        const std::shared_ptr<const UrlResponse>& redirectResponse) override {
        if (!redirectResponse) {
            return request;
        }
        // What the redirect itself carries is not shown; the load goes on, if at all, with a
        // new hop once the delegate has agreed.
        connection.cancel();
        report([next = request](WebView& view, const std::shared_ptr<Load>& load) {
            view.redirected(load, next);
        });
        return std::nullopt;
    }

    void didReceiveResponse(UrlConnection&,
                            const std::shared_ptr<const UrlResponse>& response) override {
        response_ = response;
    }

    void didReceiveData(UrlConnection& connection, std::span<const std::uint8_t> data) override {
        if (body_.size() + data.size() > kPageBytesLimit) {
            connection.cancel();
            report([url = request_.url()](WebView& view, const std::shared_ptr<Load>& load) {
                view.failed(load, loadError(kUrlErrorDomain, kUrlErrorDataLengthExceedsMaximum,
                                            "The page is too large to show.", url));
            });
            return;
        }
        body_.append(data.begin(), data.end());
    }

    void didFinishLoading(UrlConnection&) override {
        std::string html = std::move(body_);
        if (response_ && response_->mimeType() == "text/plain") {
            html = "<pre>" + escapeHtml(html) + "</pre>";
        }
        report([request = request_, html = std::move(html)](
                   WebView& view, const std::shared_ptr<Load>& load) mutable {
            view.finished(load, request, std::move(html));
        });
    }

    void didFailWithError(UrlConnection&, const Error& error) override {
        report([error](WebView& view, const std::shared_ptr<Load>& load) {
            view.failed(load, error);
        });
    }

  private:
    // Network thread only, as every call of a connection's delegate is.
    void report(Report step) {
        MainLoop::main().post([load = load_, step = std::move(step)] {
            if (WebView* view = load->view()) {
                step(*view, load);
            }
        });
    }

    std::shared_ptr<Load> load_;
    UrlRequest request_;
    std::shared_ptr<const UrlResponse> response_;
    std::string body_;
};

// The laid-out page, as one view as large as the page, inside the scroll view.
class WebView::PageView final : public View {
  public:
    explicit PageView(WebView& owner) : owner_(owner) {}

    void drawContent(GraphicsContext& context) const override {
        if (owner_.page_) {
            owner_.page_->draw(context.cairo(), bounds());
        }
    }

    void touchesEnded(const Touch& touch) override {
        if (!owner_.page_) {
            return;
        }
        // The delegate may let the view go while it is asked.
        auto keep = owner_.weak_from_this().lock();
        if (auto navigation = owner_.page_->tap(touch.locationIn(this))) {
            owner_.navigate(navigation->request, navigation->formSubmission
                                                     ? WebNavigationType::kFormSubmitted
                                                     : WebNavigationType::kLinkClicked);
        }
    }

  private:
    WebView& owner_;
};

WebView::WebView(const Rect& frame)
    : View(frame),
      scrollView_(std::make_shared<ScrollView>(Rect{{0, 0}, frame.size})),
      pageView_(std::make_shared<PageView>(*this)),
      self_(std::make_shared<WebView*>(this)) {
    scrollView_->setAutoresizingMask(kFlexibleWidth | kFlexibleHeight);
    scrollView_->addSubview(pageView_);
    addSubview(scrollView_);
}

WebView::~WebView() {
    *self_ = nullptr;
    if (load_ && load_->connection) {
        load_->connection->cancel();
    }
}

void WebView::loadRequest(const UrlRequest& request) {
    assert(MainLoop::main().isMainThread());
    navigate(request, WebNavigationType::kOther);
}

void WebView::stopLoading() {
    assert(MainLoop::main().isMainThread());
    cancelLoad();
}

bool WebView::isLoading() const {
    return load_ != nullptr;
}

std::string WebView::title() const {
    return page_ ? page_->title() : std::string();
}

void WebView::layoutSubviews() {
    scrollView_->setFrame({{0, 0}, bounds().size});
    if (page_ && bounds().size.width != laidOutWidth_) {
        layoutPage();
    }
}

bool WebView::offer(const UrlRequest& request, WebNavigationType type) {
    bool go = true;
    if (auto delegate = delegate_.lock()) {
        detail::runGuarded("web view delegate", [&] {
            go = delegate->webViewShouldStartLoadWithRequest(*this, request, type);
        });
    }
    return go;
}

void WebView::tell(const std::function<void(WebViewDelegate&)>& call) {
    // Posted, so that the delegate never hears of a load from inside the call that began or
    // ended it; a view gone by then tells nobody.
    MainLoop::main().post([owner = self_, call] {
        if (WebView* view = *owner) {
            if (auto delegate = view->delegate_.lock()) {
                detail::runGuarded("web view delegate", [&] { call(*delegate); });
            }
        }
    });
}

void WebView::navigate(const UrlRequest& request, WebNavigationType type) {
    if (!offer(request, type)) {
        return;
    }
    cancelLoad();
    load_ = std::make_shared<Load>(self_, request);
    // Told before the first hop starts: the hop's own reports (a redirect to offer, the end)
    // are posted from the network thread and must find the start already queued before them.
    tell([this](WebViewDelegate& d) { d.webViewDidStartLoad(*this); });
    startHop(load_);
}

void WebView::startHop(const std::shared_ptr<Load>& load) {
    load->connection =
        UrlConnection::create(load->request, std::make_shared<Hop>(load, load->request));
    load->connection->start();
}

void WebView::cancelLoad() {
    if (!load_) {
        return;
    }
    std::shared_ptr<Load> load = std::move(load_);
    load_.reset();
    if (load->connection) {
        load->connection->cancel();
    }
    Error error = loadError(kUrlErrorDomain, kUrlErrorCancelled, "cancelled", load->request.url());
    tell([this, error](WebViewDelegate& d) { d.webViewDidFailLoadWithError(*this, error); });
}

void WebView::redirected(const std::shared_ptr<Load>& load, const UrlRequest& next) {
    if (load != load_) {
        return;
    }
    if (++load->redirects > kMaximumRedirects) {
        failed(load, loadError(kUrlErrorDomain, kUrlErrorHttpTooManyRedirects,
                               "Too many HTTP redirects.", load->request.url()));
        return;
    }
    auto keep = weak_from_this().lock();  // the delegate may let the view go while asked
    bool go = offer(next, WebNavigationType::kOther);
    if (load != load_) {
        return;  // the delegate went elsewhere meanwhile, or stopped
    }
    if (!go) {
        failed(load, loadError(kWebErrorDomain, kWebErrorFrameLoadInterrupted,
                               "Frame load interrupted", next.url()));
        return;
    }
    load->request = next;
    startHop(load);
}

void WebView::finished(const std::shared_ptr<Load>& load, const UrlRequest& request,
                       std::string html) {
    if (load != load_) {
        return;
    }
    load_.reset();
    request_ = request;
    page_ = std::make_unique<HtmlPage>(html, request.url());
    layoutPage();
    scrollView_->setContentOffset({0, 0});
    tell([this](WebViewDelegate& d) { d.webViewDidFinishLoad(*this); });
}

void WebView::failed(const std::shared_ptr<Load>& load, Error error) {
    if (load != load_) {
        return;
    }
    load_.reset();
    if (!error.userInfo().contains(kUrlErrorFailingUrlStringErrorKey)) {
        error.userInfo().set(kUrlErrorFailingUrlStringErrorKey,
                             Value(load->request.url().absoluteString()));
    }
    tell([this, error](WebViewDelegate& d) { d.webViewDidFailLoadWithError(*this, error); });
}

void WebView::layoutPage() {
    Size content = page_->layout(bounds().size);
    laidOutWidth_ = bounds().size.width;
    pageView_->setFrame({{0, 0}, content});
    pageView_->setNeedsDisplay();
    scrollView_->setContentSize(content);
}

}  // namespace platform
