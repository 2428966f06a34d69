// Shared set-up of the share-service tests: the handlers registered and set up once for the
// process (as an app does at start-up, done by the first test that needs them), a UI fixture that
// puts the process-wide share state back after each test, a delegate that records what it hears, a
// peer in place of the share service's request pipeline, and stand-in screens for the factory.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "SocialSDK/core/config/RAZududeConfig.h"
#include "SocialSDK/core/data/RAZududeResponseEntity.h"
#include "SocialSDK/core/handler/RAZududeUIDelegate.h"
#include "SocialSDK/core/manager/RZSDataManager.h"
#include "SocialSDK/core/manager/RZSUserManager.h"
#include "SocialSDK/ui/controller/RZSViewControllerFactory.h"
#include "platform/ui/ViewController.h"
#include "tests/platform_ui/UiTest.h"

namespace social_test {

// The app ids the test process set its handlers up with.
inline constexpr const char* kWechatAppId = "testwx01";
inline constexpr const char* kQQAppId = "testqq02";
inline constexpr const char* kSinaAppKey = "testsina03";

// Registers and sets up the handlers; safe to call more than once.
void setUpHandlers();

// What a delegate heard, in order, as short lines ("select wxsession", "close 10",
// "result 5054"), and the responses themselves.
class RecordingDelegate : public RAZududeUIDelegate {
  public:
    std::optional<bool> closeOauthWebViewController(
        const std::shared_ptr<platform::NavigationController>&,
        const std::shared_ptr<RAZududeScreenHost>&) override {
        events.push_back("closeOauth");
        return closeOauthAnswer;
    }
    void didCloseUIViewController(int type) override {
        events.push_back("close " + std::to_string(type));
    }
    void didFinishGetRAZududeDataInViewController(const RAZududeResponsePtr& response) override {
        events.push_back("result " + std::to_string(response ? response->responseCode() : 0));
        responses.push_back(response);
    }
    void didSelectSocialPlatform(const std::string& name,
                                 const std::shared_ptr<RAZududeData>&) override {
        events.push_back("select " + name);
    }
    bool isDirectShareInIconActionSheet() override { return directShare; }

    std::vector<std::string> events;
    std::vector<RAZududeResponsePtr> responses;
    std::optional<bool> closeOauthAnswer;
    bool directShare = false;
};

// Takes the requests to the share service for as long as it lives: records each and answers
// it at once with what `answer` gives (nothing: no answer at all).
class RequestPeer {
  public:
    using Answer = std::function<RAZududeResponsePtr(const RZSRequest&)>;
    explicit RequestPeer(Answer answer = {});
    ~RequestPeer();
    RequestPeer(const RequestPeer&) = delete;
    RequestPeer& operator=(const RequestPeer&) = delete;

    // The requests of a kind, oldest first.
    std::vector<RZSRequest> ofKind(int kind) const;

    std::vector<RZSRequest> requests;
    Answer answer;

  private:
    RZSDataManager::RequestSender previous_;
};

// A response with the code and, when given, data.
RAZududeResponsePtr response(int code, std::optional<platform::Map> data = std::nullopt);

// A screen the factory makes while a maker is installed: it remembers what it was made for.
class StandInScreen : public platform::ViewController {
  public:
    StandInScreen(int type, int platform) : viewType(type), platformType(platform) {}
    int viewType;
    int platformType;
};

// Installs a maker of stand-in screens for the view type, and takes it away at the end.
class ScreenMaker {
  public:
    explicit ScreenMaker(RAZududeViewControllerType viewType);
    ~ScreenMaker();
    ScreenMaker(const ScreenMaker&) = delete;
    ScreenMaker& operator=(const ScreenMaker&) = delete;

    std::vector<std::shared_ptr<StandInScreen>> made;

  private:
    RAZududeViewControllerType viewType_;
    RZSViewControllerFactory::Maker previous_;
};

// Takes the factory's screen of the view type away, as in a build without it, and puts it back
// at the end.
class NoScreen {
  public:
    explicit NoScreen(RAZududeViewControllerType viewType);
    ~NoScreen();
    NoScreen(const NoScreen&) = delete;
    NoScreen& operator=(const NoScreen&) = delete;

  private:
    RAZududeViewControllerType viewType_;
    RZSViewControllerFactory::Maker previous_;
};

// A UI test that starts from a known share state and puts it back afterwards: no accounts,
// no waiting handler, no stand-in delegates, the default platform list, nothing hidden. What a
// test changes of the user manager and the configuration goes back as it was, even when the
// test stops half-way.
class SocialTest : public ui_test::UiTest {
  protected:
    SocialTest();
    void TearDown() override;

    // A visible key window whose root is a plain screen in a navigation controller.
    void showAppScreen(bool navigationBarHidden = false);
    // Presents the container over the app's screen without animation and lays it out; false
    // when there is none.
    bool presentOverAppScreen(const std::shared_ptr<platform::ViewController>& container);

    std::shared_ptr<platform::Window> window_;
    std::shared_ptr<platform::ViewController> screen_;
    std::shared_ptr<platform::NavigationController> navigation_;
    std::shared_ptr<RecordingDelegate> delegate_ = std::make_shared<RecordingDelegate>();

  private:
    void resetShareState();
    void resetFlowState();
    std::optional<RZSUserManager::ScopedStateForTesting> userState_;
    std::optional<RAZududeConfig::ScopedStateForTesting> configState_;
    std::optional<RAZududeConfigInternal::ScopedStateForTesting> configInternalState_;
};

// Stores a valid account (no expiry) for the platform.
void authorise(const std::string& platformName);

}  // namespace social_test
