// The web view against a small web site on loopback (tests/peers/web_peer.py): what it loads,
// what it offers its delegate, what it sends back and what it draws.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/graphics/Image.h"
#include "platform/net/CookieJar.h"
#include "platform/render/Renderer.h"
#include "platform/ui/WebView.h"
#include "tests/platform_ui/UiTest.h"
#include "tests/support/PeerProcess.h"
#include "tests/support/TempDir.h"

namespace {

using platform::WebNavigationType;
using platform::WebView;

constexpr double kWait = 20;

// Writes every delegate call down in order; refuses the navigations whose URL holds `refuse`.
class Recorder : public platform::WebViewDelegate {
  public:
    std::vector<std::string> calls;
    std::string refuse = "\x01";
    platform::Error error;

    bool webViewShouldStartLoadWithRequest(WebView&, const platform::UrlRequest& request,
                                           WebNavigationType type) override {
        const std::string& url = request.url().absoluteString();
        calls.push_back("offer " + url.substr(url.find('/', 7)) + " " +
                        std::to_string(static_cast<int>(type)));
        return url.find(refuse) == std::string::npos;
    }
    void webViewDidStartLoad(WebView&) override { calls.push_back("start"); }
    void webViewDidFinishLoad(WebView& view) override { calls.push_back("finish " + view.title()); }
    void webViewDidFailLoadWithError(WebView&, const platform::Error& e) override {
        error = e;
        calls.push_back("fail " + std::to_string(e.code()));
    }
    bool ended() const {
        return !calls.empty() &&
               (calls.back().starts_with("finish") || calls.back().starts_with("fail"));
    }
};

class WebViewLoopbackTest : public ui_test::UiTest {
  protected:
    WebViewLoopbackTest() : peer_(testing_support::PeerProcess::python("web_peer.py")) {
        platform::CookieJar::shared().deleteAllCookies();
        window_ = keyWindow();
        web_ = std::make_shared<WebView>(platform::Rect{0, 20, 320, 400});
        window_->addSubview(web_);
        web_->setDelegate(recorder_);
    }

    std::string url(const std::string& path) const { return peer_.baseUrl() + path; }

    // Loads the page and waits for its load to end; answers the calls it made.
    std::vector<std::string> load(const std::string& path) {
        recorder_->calls.clear();
        web_->loadRequest(platform::UrlRequest(*platform::Url::parse(url(path))));
        return waitForEnd();
    }
    std::vector<std::string> waitForEnd() {
        EXPECT_TRUE(platform::MainLoop::main().runUntil([&] { return recorder_->ended(); }, kWait));
        return recorder_->calls;
    }
    // The window's point in the page at (x, y).
    static platform::Point inPage(double x, double y) { return {x, 20 + y}; }

    testing_support::PeerProcess peer_;
    std::shared_ptr<platform::Window> window_;
    std::shared_ptr<WebView> web_;
    std::shared_ptr<Recorder> recorder_ = std::make_shared<Recorder>();
};

using Calls = std::vector<std::string>;

TEST_F(WebViewLoopbackTest, LoadsAPageAndFollowsATappedLink) {
    EXPECT_EQ(load("/"), (Calls{"offer / 5", "start", "finish Home"}));
    EXPECT_EQ(web_->request()->url().absoluteString(), url("/"));
    EXPECT_FALSE(web_->isLoading());
    EXPECT_EQ(web_->scrollView()->contentSize().width, 320);

    recorder_->calls.clear();
    window_->tap(inPage(40, 80));
    EXPECT_EQ(waitForEnd(), (Calls{"offer /next 0", "start", "finish Next"}));

    // A tap beside the link goes nowhere.
    recorder_->calls.clear();
    window_->tap(inPage(300, 300));
    drain();
    EXPECT_TRUE(recorder_->calls.empty());
}

TEST_F(WebViewLoopbackTest, OffersEveryRedirectAndStopsAtARefusedOne) {
    EXPECT_EQ(load("/redirect?to=/redirect%3Fto%3D/next"),
              (Calls{"offer /redirect?to=/redirect%3Fto%3D/next 5", "start",
                     "offer /redirect?to=/next 5", "offer /next 5", "finish Next"}));
    EXPECT_EQ(web_->request()->url().absoluteString(), url("/next"));

    recorder_->refuse = "/callback?";
    EXPECT_EQ(load("/redirect?to=/callback%3Fuid%3D7"),
              (Calls{"offer /redirect?to=/callback%3Fuid%3D7 5", "start", "offer /callback?uid=7 5",
                     "fail 102"}));
    EXPECT_EQ(recorder_->error.domain(), platform::kWebErrorDomain);
    EXPECT_EQ(
        recorder_->error.userInfo()[platform::kUrlErrorFailingUrlStringErrorKey].stringValue(),
        url("/callback?uid=7"));
    // The refused page was never asked for, and the page shown before stays.
    EXPECT_EQ(peer_.lines().back(), "GET /redirect?to=/callback%3Fuid%3D7");
    EXPECT_EQ(web_->title(), "Next");
}

TEST_F(WebViewLoopbackTest, RefusedLinkLeavesThePageAsItWas) {
    load("/");
    recorder_->refuse = "next";
    recorder_->calls.clear();
    window_->tap(inPage(40, 80));
    drain();
    EXPECT_EQ(recorder_->calls, (Calls{"offer /next 0"}));
    EXPECT_FALSE(web_->isLoading());
    EXPECT_EQ(web_->title(), "Home");
}

TEST_F(WebViewLoopbackTest, FailingLoadReportsTheNetworkErrorAndItsUrl) {
    Calls calls = load("/drop");
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(calls[1], "start");
    EXPECT_EQ(recorder_->error.domain(), platform::kUrlErrorDomain);
    EXPECT_NE(recorder_->error.code(), 0);
    EXPECT_EQ(
        recorder_->error.userInfo()[platform::kUrlErrorFailingUrlStringErrorKey].stringValue(),
        url("/drop"));
}

TEST_F(WebViewLoopbackTest, ANewLoadOrStopCancelsTheOneInFlight) {
    recorder_->calls.clear();
    web_->loadRequest(platform::UrlRequest(*platform::Url::parse(url("/"))));
    web_->loadRequest(platform::UrlRequest(*platform::Url::parse(url("/next"))));
    EXPECT_EQ(waitForEnd(),
              (Calls{"offer / 5", "offer /next 5", "start", "fail -999", "start", "finish Next"}));

    recorder_->calls.clear();
    web_->loadRequest(platform::UrlRequest(*platform::Url::parse(url("/"))));
    web_->stopLoading();
    EXPECT_FALSE(web_->isLoading());
    EXPECT_EQ(waitForEnd(), (Calls{"offer / 5", "start", "fail -999"}));
    EXPECT_EQ(web_->title(), "Next");
}

TEST_F(WebViewLoopbackTest, CookieSetByOnePageIsSentOnTheNext) {
    load("/set-cookie");
    EXPECT_EQ(load("/show-cookie").back(), "finish Cookie: session=s3cr3t");
}

TEST_F(WebViewLoopbackTest, FormsAreOfferedAndSubmitted) {
    load("/form?method=get");
    recorder_->calls.clear();
    window_->tap(inPage(20, 80));
    EXPECT_EQ(waitForEnd(), (Calls{"offer /submit?user=ann+lee&code=a%26b&go=1 1", "start",
                                   "finish Sent GET user=ann+lee&code=a%26b&go=1"}));

    load("/form?method=post");
    recorder_->calls.clear();
    window_->tap(inPage(20, 80));
    EXPECT_EQ(waitForEnd(),
              (Calls{"offer /submit 1", "start", "finish Sent POST user=ann+lee&code=a%26b&go=1"}));
}

TEST_F(WebViewLoopbackTest, DrawsThePageIntoTheWindowsPicture) {
    load("/");
    testing_support::TempDir dir;
    auto path = dir.path() / "page.png";
    ASSERT_TRUE(platform::Renderer::writeWindowPng(*window_, path, nullptr, {.scale = 1}));
    auto image = platform::Image::fromFile(path);
    ASSERT_TRUE(image);

    // The heading is set in its style's red, in its band at the top of the page, and
    // nowhere below it.
    auto redIn = [&](int top, int bottom) {
        int red = 0;
        for (int y = top; y < bottom; ++y) {
            for (int x = 0; x < 320; ++x) {
                platform::Color c = image->pixel(x, y);
                red += c.r > 0.7 && c.g < 0.3 && c.b < 0.3;
            }
        }
        return red;
    };
    EXPECT_GT(redIn(20, 20 + 60), 200);
    EXPECT_EQ(redIn(20 + 60, 420), 0);
    // The link beneath it is drawn too, in its own blue.
    int blue = 0;
    for (int y = 80; y < 140; ++y) {
        for (int x = 0; x < 200; ++x) {
            platform::Color c = image->pixel(x, y);
            blue += c.b > 0.7 && c.r < 0.3 && c.g < 0.3;
        }
    }
    EXPECT_GT(blue, 50);
}

}  // namespace
