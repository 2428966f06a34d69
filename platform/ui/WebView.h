// A headless web view: loads pages over the platform's URL loading, lays their HTML and CSS out
// and draws them with a real HTML engine, and lets a delegate watch and veto every navigation.
// No scripts run.
//
// Threads: main thread only. Loads run on the NetworkThread; every delegate call comes on the
// main loop, never from inside loadRequest or stopLoading except the navigation question.
//
// Ownership: the view keeps its delegate weakly. A load in flight holds the view weakly too, so
// a view that goes away cancels its load and calls nobody.
//
// Navigations: a loadRequest, a tap on a link in the drawn page, a tap that submits a form and
// each redirect the server answers are offered to the delegate first
// (webViewShouldStartLoadWithRequest). A refused loadRequest, link or form leaves everything as
// it was, with no further call; a refused redirect ends that load with
// kWebErrorFrameLoadInterrupted, the refused URL as its failing URL.
//
// Order of delegate calls for one load:
//   1. webViewShouldStartLoadWithRequest for the request, then for every redirect in turn;
//   2. webViewDidStartLoad, once, when the first request goes out;
//   3. exactly one of webViewDidFinishLoad (the page is laid out and shown by then) and
//      webViewDidFailLoadWithError, last.
// A load that a new navigation or stopLoading cuts short fails with kUrlErrorCancelled before
// the next load starts. Failures carry the network's error (URL error domain, its code) with
// the failing URL as text under kUrlErrorFailingUrlStringErrorKey; a failed load keeps the page
// that was shown before.
//
// Cookies: requests go through the process's CookieJar, so what one page sets, the next sends.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/Error.h"
#include "platform/net/UrlRequest.h"
#include "platform/ui/ScrollView.h"
#include "platform/ui/View.h"

namespace platform {

class HtmlPage;
class WebView;

// The error domain of the page loader and its code for a load cut short by the delegate.
inline constexpr const char* kWebErrorDomain = "WebKitErrorDomain";
inline constexpr long kWebErrorFrameLoadInterrupted = 102;

// Why a navigation happens.
enum class WebNavigationType {
    kLinkClicked = 0,
    kFormSubmitted = 1,
    kBackForward = 2,
    kReload = 3,
    kFormResubmitted = 4,
    kOther = 5,
};

class WebViewDelegate {
  public:
    virtual ~WebViewDelegate() = default;
    // Default: every navigation goes ahead.
    virtual bool webViewShouldStartLoadWithRequest(WebView&, const UrlRequest&, WebNavigationType) {
        return true;
    }
    virtual void webViewDidStartLoad(WebView&) {}
    virtual void webViewDidFinishLoad(WebView&) {}
    virtual void webViewDidFailLoadWithError(WebView&, const Error&) {}
};

class WebView : public View {
  public:
    explicit WebView(const Rect& frame = {});
    ~WebView() override;

    std::shared_ptr<WebViewDelegate> delegate() const { return delegate_.lock(); }
    void setDelegate(std::weak_ptr<WebViewDelegate> delegate) { delegate_ = std::move(delegate); }

    // Offers the request to the delegate (kOther) and, when it agrees, loads it in place of any
    // load in flight.
    void loadRequest(const UrlRequest& request);
    // Cancels the load in flight, if any; it fails with kUrlErrorCancelled.
    void stopLoading();
    bool isLoading() const;

    // The request of the page shown (after its redirects); nullopt before the first page.
    const std::optional<UrlRequest>& request() const { return request_; }
    // The page's title, from its <title>.
    std::string title() const;

    // The page scrolls in it: its content size is the page's laid-out size.
    const std::shared_ptr<ScrollView>& scrollView() const { return scrollView_; }

    void layoutSubviews() override;

  private:
    class Load;  // one navigation in flight, through its redirects
    class Hop;   // one request of it, on the network thread
    class PageView;

    // The steps of a load, as its hops report them on the main thread; a step of a load that
    // is no longer the current one does nothing.
    void redirected(const std::shared_ptr<Load>& load, const UrlRequest& next);
    void finished(const std::shared_ptr<Load>& load, const UrlRequest& request, std::string html);
    void failed(const std::shared_ptr<Load>& load, Error error);
    // Offers the navigation, and starts it when the delegate agrees.
    void navigate(const UrlRequest& request, WebNavigationType type);
    bool offer(const UrlRequest& request, WebNavigationType type);
    void startHop(const std::shared_ptr<Load>& load);
    void cancelLoad();
    void tell(const std::function<void(WebViewDelegate&)>& call);
    void layoutPage();

    std::weak_ptr<WebViewDelegate> delegate_;
    std::shared_ptr<ScrollView> scrollView_;
    std::shared_ptr<PageView> pageView_;
    std::shared_ptr<Load> load_;
    std::optional<UrlRequest> request_;
    std::unique_ptr<HtmlPage> page_;
    double laidOutWidth_ = -1;
    // This view while it lives: what is posted for it checks here first.
    std::shared_ptr<WebView*> self_;
};

}  // namespace platform
