// The web view without a server: what it does with navigations that never reach the network.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/ui/WebView.h"
#include "tests/platform_ui/UiTest.h"

namespace {

using platform::WebView;

class Recorder : public platform::WebViewDelegate {
  public:
    std::vector<std::string> calls;
    bool allow = true;
    platform::Error error;

    bool webViewShouldStartLoadWithRequest(WebView&, const platform::UrlRequest& request,
                                           platform::WebNavigationType type) override {
        calls.push_back("offer " + request.url().absoluteString() + " " +
                        std::to_string(static_cast<int>(type)));
        return allow;
    }
    void webViewDidStartLoad(WebView&) override { calls.push_back("start"); }
    void webViewDidFinishLoad(WebView&) override { calls.push_back("finish"); }
    void webViewDidFailLoadWithError(WebView&, const platform::Error& e) override {
        error = e;
        calls.push_back("fail " + std::to_string(e.code()));
    }
};

class WebViewTest : public ui_test::UiTest {
  protected:
    std::shared_ptr<WebView> web_ = std::make_shared<WebView>(platform::Rect{0, 0, 320, 400});
    std::shared_ptr<Recorder> recorder_ = std::make_shared<Recorder>();

    void SetUp() override { web_->setDelegate(recorder_); }
    void load(const std::string& url) {
        web_->loadRequest(platform::UrlRequest(*platform::Url::parse(url)));
    }
};

using Calls = std::vector<std::string>;

TEST_F(WebViewTest, RefusedRequestIsNeverLoaded) {
    recorder_->allow = false;
    load("sms:10086");
    EXPECT_FALSE(web_->isLoading());
    drain();
    EXPECT_EQ(recorder_->calls, (Calls{"offer sms:10086 5"}));
    EXPECT_FALSE(web_->request());
}

// A page that asks for another app's scheme gets it back as the failing URL.
TEST_F(WebViewTest, UnsupportedSchemeFailsWithItsUrl) {
    load("sms:10086");
    EXPECT_TRUE(
        platform::MainLoop::main().runUntil([&] { return recorder_->calls.size() == 3; }, 10));
    EXPECT_EQ(recorder_->calls, (Calls{"offer sms:10086 5", "start", "fail -1002"}));
    EXPECT_EQ(
        recorder_->error.userInfo()[platform::kUrlErrorFailingUrlStringErrorKey].stringValue(),
        "sms:10086");
}

TEST_F(WebViewTest, ScrollViewFillsTheViewAndAViewGoneTellsNobody) {
    EXPECT_EQ(web_->scrollView()->frame(), (platform::Rect{0, 0, 320, 400}));
    web_->setFrame({0, 0, 200, 300});
    web_->layoutIfNeeded();
    EXPECT_EQ(web_->scrollView()->frame(), (platform::Rect{0, 0, 200, 300}));

    load("sms:10086");
    web_.reset();
    drain();
    EXPECT_EQ(recorder_->calls, (Calls{"offer sms:10086 5"}));
}

}  // namespace
