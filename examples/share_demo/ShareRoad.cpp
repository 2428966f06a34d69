#include "examples/share_demo/ShareRoad.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <stdexcept>

#include "SocialSDK/core/account/RAZududeAccountManager.h"
#include "SocialSDK/core/config/RAZududeConfig.h"
#include "SocialSDK/core/data/RAZududeData.h"
#include "SocialSDK/core/device/RAZududeProtocolData.h"
#include "SocialSDK/core/handler/RAZududeUIDelegate.h"
#include "SocialSDK/core/manager/RZSDataManager.h"
#include "SocialSDK/core/manager/RZSUserManager.h"
#include "SocialSDK/core/platform/RAZududeSnsPlatformManager.h"
#include "SocialSDK/ui/editor/RZShareEditViewController.h"
#include "SocialSDK/ui/friend/RAZududeFriendViewController.h"
#include "SocialSDK/ui/helper/RZMaskView.h"
#include "SocialSDK/ui/list/RZSShareListController.h"
#include "SocialSDK/ui/oauth/RZSOauthViewController.h"
#include "SocialSDK/ui/service/RAZududeSnsService.h"
#include "SocialSDK/ui/sheet/RAZududeIconActionSheet.h"
#include "SocialSDK/ui/startup/SocialUI.h"
#include "platform/Format.h"
#include "platform/MainLoop.h"
#include "platform/PropertyList.h"
#include "platform/graphics/GraphicsContext.h"
#include "platform/render/Renderer.h"
#include "platform/ui/Alert.h"
#include "platform/ui/Application.h"
#include "platform/ui/ImageView.h"
#include "platform/ui/Keyboard.h"
#include "platform/ui/Label.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/Window.h"
#include "share_handlers/RAZududeQQHandler.h"
#include "share_handlers/RAZududeSinaSSOHandler.h"
#include "share_handlers/RAZududeWechatHandler.h"
#include "share_handlers/ShareHandlers.h"

namespace share_demo {

namespace {

using platform::Color;
using platform::Rect;

constexpr const char* kWechatAppId = "demowx8a2f";
constexpr const char* kQQAppId = "demoqq1104";
constexpr const char* kSinaAppKey = "demosina3921";
constexpr const char* kShareTitle = "山上的日出";
constexpr const char* kShareText = "春天来了，和朋友一起去看山上的日出吧！";
constexpr const char* kShareLink = "https://example.org/articles/sunrise";

// While the road waits for the service, the main loop looks for replies for kSlice of real time,
// then its manual clock moves on by kTick.
constexpr double kSlice = 0.005;
constexpr double kTick = 0.05;
// How long a user looks at a login page that leads nowhere before closing it (seconds).
constexpr double kPatience = 3;

// ---- the app -------------------------------------------------------------------------------

// The app's own screen: the text and picture it shares, its link, and a line that tells the
// user how the last share ended (the app's delegate writes it).
class HomeScreen : public platform::ViewController {
  public:
    HomeScreen(platform::ImagePtr image) : image_(std::move(image)) { setTitle("分享演示"); }

    void viewDidLoad() override {
        auto& root = *view();
        root.setBackgroundColor(Color::rgb255(242, 242, 247));
        double width = root.bounds().width();
        auto heading = std::make_shared<platform::Label>(Rect(20, 84, width - 40, 28));
        heading->setFont(platform::Font::boldSystem(20));
        heading->setText("今日推荐");
        root.addSubview(heading);
        auto picture = std::make_shared<platform::ImageView>(image_);
        picture->setFrame({20, 124, width - 40, 180});
        picture->setContentMode(platform::ContentMode::kScaleAspectFill);
        picture->setClipsToBounds(true);
        root.addSubview(picture);
        auto body = std::make_shared<platform::Label>(Rect(20, 316, width - 40, 80));
        body->setNumberOfLines(0);
        body->setFont(platform::Font::system(15));
        body->setText(kShareText);
        root.addSubview(body);
        auto link = std::make_shared<platform::Label>(Rect(20, 400, width - 40, 20));
        link->setFont(platform::Font::system(13));
        link->setTextColor(Color::rgb255(0, 122, 255));
        link->setText(kShareLink);
        root.addSubview(link);
        result_ = std::make_shared<platform::Label>(Rect(20, 440, width - 40, 64));
        result_->setNumberOfLines(0);
        result_->setFont(platform::Font::boldSystem(15));
        result_->setHidden(true);
        root.addSubview(result_);
    }

    void showResult(const std::string& text, bool success) {
        view();
        result_->setText(text);
        result_->setTextColor(success ? Color::rgb255(52, 168, 83) : Color::rgb255(213, 0, 0));
        result_->setHidden(false);
    }
    void clearResult() {
        view();
        result_->setHidden(true);
    }

  private:
    platform::ImagePtr image_;
    std::shared_ptr<platform::Label> result_;
};

// Another program's screen (a platform application, the mail composer): a title and what it
// was handed.
class StandInScreen : public platform::ViewController {
  public:
    StandInScreen(std::string title, std::string body) : body_(std::move(body)) {
        setTitle(std::move(title));
    }
    void viewDidLoad() override {
        auto& root = *view();
        root.setBackgroundColor(Color::rgb255(255, 255, 255));
        double width = root.bounds().width();
        auto body = std::make_shared<platform::Label>(Rect(20, 84, width - 40, 360));
        body->setNumberOfLines(0);
        body->setFont(platform::Font::system(15));
        body->setText(body_);
        root.addSubview(body);
    }

  private:
    std::string body_;
};

// A picture for the share: a sunrise over hills.
platform::ImagePtr makeShareImage() {
    platform::ImageContext canvas({280, 180}, true, 2);
    auto& g = canvas.context();
    g.setFillColor(Color::rgb255(255, 204, 128));
    g.fillRect({0, 0, 280, 180});
    g.setFillColor(Color::rgb255(255, 112, 67));
    g.beginPath();
    g.addArc({140, 120}, 46, 0, 6.2832, true);
    g.fillPath();
    g.setFillColor(Color::rgb255(67, 160, 71));
    g.beginPath();
    g.moveTo({0, 180});
    g.lineTo({0, 130});
    g.lineTo({90, 100});
    g.lineTo({170, 138});
    g.lineTo({280, 110});
    g.lineTo({280, 180});
    g.closePath();
    g.fillPath();
    return canvas.makeImage();
}

std::string quoted(const std::optional<std::string>& text) {
    return text ? "\"" + *text + "\"" : std::string("(none)");
}

std::string describeResponse(const RAZududeResponseEntity& r) {
    return platform::format("code %@, response type %@, view type %@, message %@",
                            named(r.responseCode(), responseCodeName(r.responseCode())),
                            named(r.responseType(), requestKindName(r.responseType())),
                            named(r.viewControllerType(), viewTypeName(r.viewControllerType())),
                            quoted(r.message()));
}

// The app's delegate: keeps and tells what the share service reports.
class DemoDelegate : public RAZududeUIDelegate {
  public:
    explicit DemoDelegate(std::function<void(const std::string&)> say) : say_(std::move(say)) {}

    void didCloseUIViewController(int viewType) override {
        heard.push_back({Heard::Kind::kClose, {}, nullptr, viewType});
        say_("  delegate: didCloseUIViewController " + named(viewType, viewTypeName(viewType)));
    }
    void didFinishGetRAZududeDataInViewController(const RAZududeResponsePtr& response) override {
        heard.push_back({Heard::Kind::kResult, {}, response, 0});
        say_("  delegate: didFinishGetRAZududeDataInViewController " +
             (response ? describeResponse(*response) : std::string("(null)")));
    }
    void didSelectSocialPlatform(const std::string& platformName,
                                 const std::shared_ptr<RAZududeData>&) override {
        heard.push_back({Heard::Kind::kSelect, platformName, nullptr, 0});
        say_("  delegate: didSelectSocialPlatform " + platformName);
    }

    RAZududeResponsePtr firstResult() const {
        for (const auto& h : heard) {
            if (h.kind == Heard::Kind::kResult) {
                return h.response;
            }
        }
        return nullptr;
    }

    std::vector<Heard> heard;

  private:
    std::function<void(const std::string&)> say_;
};

// What an installed platform application does with a share or a login: it shows it, the user
// confirms, and it opens the app's URL again.
struct PlatformApp {
    const char* scheme;
    const char* title;
    const char* request;  // the prefix of the URL it answers
    std::string reply;
};

std::vector<PlatformApp> platformApps() {
    return {
        {"wechat", "微信", "wechat://share",
         std::string(kWechatAppId) + "://wechat/share?result=ok"},
        {"qq", "QQ", "qq://share", std::string(kQQAppId) + "://qq/share?result=ok"},
        {"weibo", "微博", "weibo://login",
         std::string(kSinaAppKey) +
             "://sina/login?result=ok&uid=1402400261&token=demo-token&expires_in=86400"},
    };
}

// A share-service account the user authorised before, and the friends fetched for it then.
void rememberAccount(const std::string& name) {
    auto account = std::make_shared<RAZududeAccountEntity>(name);
    account->setUsid("demo-" + name);
    account->setAccessToken("demo-token-" + name);
    account->setUserName("日出爱好者");
    RAZududeAccountManager::setSnsAccount(account);
    RZSFriendDictionary friends;
    const char* known[][3] = {{"1001", "李明", "liming"},
                              {"1002", "Anna", "anna"},
                              {"1003", "王芳", "wangfang"},
                              {"1004", "张伟", "zhangwei"},
                              {"1005", "8号球", "8haoqiu"}};
    for (const auto& [usid, friendName, pinyin] : known) {
        auto entry = std::make_shared<RZSFriendEntity>();
        entry->setUsid(usid);
        entry->setName(friendName);
        entry->setLinkName(friendName);
        entry->setPinyin(pinyin);
        friends.emplace(usid, entry);
    }
    RZSUserManager::shareInstance().setFriendsDictionary(std::move(friends), name);
}

std::string describeRequest(const platform::Value& request) {
    int kind = request["kind"].isNumber() ? static_cast<int>(request["kind"].intValue()) : -1;
    std::string line =
        "  service got: " +
        (kind >= 0 ? "request kind " + named(kind, requestKindName(kind)) : std::string("a page")) +
        " " + request["method"].stringValue() + " " + request["path"].stringValue();
    const auto& params = request["params"];
    if (params["sns"].isString() || params["sns"].isArray()) {
        line += ", platforms " + (params["sns"].isString() ? params["sns"].stringValue()
                                                           : params["sns"].description());
    }
    if (params["ct"].isString()) {
        line += ", text \"" + params["ct"].stringValue() + "\"";
    }
    if (params["furl"].isString()) {
        line += ", link " + params["furl"].stringValue();
    }
    const auto& pic = request["pic"];
    if (pic.isMap()) {
        line += platform::format(", picture %@ bytes (%@)", pic["size"].intValue(),
                                 pic["content_type"].stringValue());
    }
    if (request["fault"].isString() || request["fault"].isMap()) {
        line += ", answered with the fault " + request["fault"].description();
    }
    if (request["error"].isString()) {
        line += ", refused: " + request["error"].stringValue();
    }
    return line;
}

}  // namespace

// ---- names ---------------------------------------------------------------------------------

const std::vector<std::string>& sheetPlatforms() {
    static const std::vector<std::string> names{
        "wxsession", "wxtimeline", "wxfavorite", "qq",  "qzone",    "sina",   "tencent",
        "renren",    "douban",     "email",      "sms", "facebook", "twitter"};
    return names;
}

const std::vector<std::string>& knownApplications() {
    static const std::vector<std::string> names{"wechat", "qq", "weibo"};
    return names;
}

std::string responseCodeName(int code) {
    switch (code) {
        case kRAZududeResponseSuccess:
            return "success";
        case kRAZududeResponseLoginFailed:
            return "failed";
        case kRAZududeResponseNoUidAfterOauth:
            return "no uid after login";
        case kRAZududeResponseNetworkError:
            return "network error";
        case kRAZududeResponseAccountFailed:
            return "account upload failed";
        case kRAZududeResponseCancel:
            return "cancelled";
        case kRAZududeResponseNoPlatformAccount:
            return "no platform account on the device";
        case kRAZududeResponseClientNotInstalled:
            return "platform application not installed";
        case 5001:
            return "missing or bad parameter";
        case 5002:
            return "wrong secret";
        case 5003:
            return "unknown entity";
        case 5004:
            return "no such account";
        case 5007:
            return "refused by the platform";
        default:
            return "service code";
    }
}

std::string requestKindName(int kind) {
    static const std::array<const char*, 21> names{
        "add comment",    "like",           "comment list",   "bar",
        "share",          "multi-share",    "bind account",   "unbind account",
        "un-authorise",   "authorise",      "user profile",   "platform user info",
        "friends",        "follow",         "custom account", "upload token",
        "get key secret", "validate token", "usage record",   "set key secret",
        "short link"};
    if (kind == kRAZududeResponseTypeShare) {
        return "share";
    }
    return kind >= 0 && kind < static_cast<int>(names.size()) ? names[kind] : "none";
}

std::string viewTypeName(int type) {
    switch (type) {
        case kRAZududeViewControllerNone:
            return "no screen";
        case kRAZududeViewControllerShareList:
            return "share list";
        case kRAZududeViewControllerShareEdit:
            return "share editor";
        case kRAZududeViewControllerAccount:
            return "account screen";
        case kRAZududeViewControllerOauth:
            return "OAuth page";
        case kRAZududeViewControllerFriend:
            return "friend picker";
        case kRAZududeViewControllerIconActionSheet:
            return "icon sheet";
        default:
            return "none";
    }
}

std::string named(int number, const std::string& name) {
    return std::to_string(number) + " (" + name + ")";
}

void makeBundleFolder(const std::filesystem::path& folder, const std::string& baseUrl,
                      const std::filesystem::path& resources) {
    std::filesystem::create_directories(folder);
    auto write = [&](platform::Map contents, const char* name) {
        if (!platform::PropertyList::writeFile(platform::Value(std::move(contents)), folder / name,
                                               platform::PropertyList::Format::kXml)) {
            throw std::runtime_error("cannot write " + (folder / name).string());
        }
    };
    write(platform::Map{{"baseURL", baseUrl}}, "SocialSDK-config.plist");
    // The app declares the schemes with which the platform applications return to it.
    platform::Array schemes;
    for (const char* scheme : {kWechatAppId, kQQAppId, kSinaAppKey}) {
        schemes.push_back(platform::Value(
            platform::Map{{"CFBundleURLSchemes", platform::Value(platform::Array{scheme})}}));
    }
    write(platform::Map{{"CFBundleIdentifier", "org.example.sharedemo"},
                        {"CFBundleURLTypes", platform::Value(std::move(schemes))}},
          "Info.plist");
    const char* artwork = "RAZududeSDKResourcesNew.bundle";
    std::error_code error;
    if (std::filesystem::is_directory(resources / artwork, error)) {
        std::filesystem::create_directory_symlink(resources / artwork, folder / artwork, error);
    }
}

// ---- the road ------------------------------------------------------------------------------

struct ShareApp::State {
    Settings settings;
    std::shared_ptr<platform::Window> window;
    std::shared_ptr<HomeScreen> home;
    std::shared_ptr<platform::NavigationController> navigation;
    std::shared_ptr<DemoDelegate> delegate;
    platform::ImagePtr image;
    int step = 0;
    bool appShown = false;
    // The share screen last drawn, to see when another one comes up. Held weakly: a screen
    // made later at the address of one that went away is another screen.
    std::weak_ptr<const platform::ViewController> lastScreen;
    // The OAuth page whose login page the user answered, and one drawn with it loaded.
    std::weak_ptr<const platform::ViewController> answeredPage;
    std::weak_ptr<const platform::ViewController> drawnPage;
    // When the last screen came up (real time).
    double screenSince = 0;
    ShareOutcome* outcome = nullptr;

    void say(const std::string& line) const {
        if (settings.say) {
            settings.say(line);
        }
    }

    // A new step: its number and what the user sees or does.
    void beginStep(const std::string& what) {
        ++step;
        say(platform::format("step %@: %@", step, what));
    }

    void checkInterrupted() const {
        if (settings.interrupted && settings.interrupted()) {
            throw Interrupted{};
        }
    }

    // Time moves on by `seconds` on the loop's clock; the screens are laid out again.
    void advance(double seconds) const {
        checkInterrupted();
        platform::MainLoop::main().advance(seconds);
        platform::Application::shared().updateDisplay();
    }

    // Pumps the loop, with its clock moving in small steps, until the condition holds or the
    // bound passed; answers the condition.
    bool waitFor(const std::function<bool()>& done, double bound) const {
        auto& loop = platform::MainLoop::main();
        const double deadline = realNow() + bound;
        while (!done()) {
            checkInterrupted();
            if (realNow() >= deadline) {
                return false;
            }
            if (loop.runUntil(
                    [&] { return done() || (settings.interrupted && settings.interrupted()); },
                    kSlice)) {
                continue;
            }
            advance(kTick);
        }
        return true;
    }

    // Seconds of real time, for the bounds of the waits and the user's patience.
    static double realNow() {
        using namespace std::chrono;
        return duration<double>(steady_clock::now().time_since_epoch()).count();
    }

    void shot(platform::Window& target, const std::string& screen) {
        if (!settings.screenshots) {
            return;
        }
        auto path = *settings.screenshots / platform::format("%02d-%@.png", step, screen);
        platform::Error error;
        if (!platform::Renderer::writeWindowPng(target, path, &error)) {
            throw std::runtime_error("cannot write " + path.string() + ": " +
                                     error.localizedDescription());
        }
        say("  screenshot: " + path.string());
        if (outcome) {
            outcome->screenshots.push_back(path);
        }
    }

    // The requests the service decoded by now, told and kept.
    void collectRequests(double waitSeconds) {
        if (!settings.serviceRequests) {
            return;
        }
        for (auto& request : settings.serviceRequests(waitSeconds)) {
            say(describeRequest(request));
            if (outcome) {
                outcome->requests.push_back(std::move(request));
            }
        }
    }

    // Another program's screen, drawn in a window of its own; the app's window is key again
    // afterwards.
    void showStandIn(const std::string& title, const std::string& body, const std::string& file) {
        auto other = platform::Window::make();
        auto screen = std::make_shared<StandInScreen>(title, body);
        other->setRootViewController(std::make_shared<platform::NavigationController>(screen));
        other->makeKeyAndVisible();
        platform::Application::shared().updateDisplay();
        shot(*other, file);
        other->setHidden(true);
        window->makeKeyAndVisible();
        platform::Application::shared().updateDisplay();
    }

    // The alerts on show: told, drawn, and dismissed with their first button as a user would.
    bool answerAlerts() {
        auto alerts = platform::AlertView::visibleAlerts();
        if (alerts.empty()) {
            return false;
        }
        beginStep("screen: alert over the app");
        for (const auto& alert : alerts) {
            say("  alert: \"" + alert->title() + "\" \"" + alert->message() + "\"");
        }
        shot(*window, "alert");
        for (const auto& alert : alerts) {
            say("  the user presses \"" + alert->buttonTitleAtIndex(0) + "\"");
            alert->pressButtonAtIndex(0);
        }
        advance(0.5);
        return true;
    }

    // URLs the app opened since `from`: an installed platform application shows what it got,
    // the user confirms, and it returns to the app.
    std::size_t answerPlatformApps(std::size_t from) {
        auto& app = platform::Application::shared();
        for (; from < app.openedUrls().size(); ++from) {
            const std::string opened = app.openedUrls()[from];
            for (const auto& platformApp : platformApps()) {
                if (opened.rfind(platformApp.request, 0) != 0 || !app.canOpenUrl(opened)) {
                    continue;
                }
                beginStep(platform::format("screen: %@ (the platform application's stand-in)",
                                           platformApp.title));
                say("  opened: " + opened);
                showStandIn(platformApp.title,
                            platform::format("%@ 收到：\n\n%@", platformApp.title, opened),
                            std::string(platformApp.scheme) + "-app");
                auto url = platform::Url::parse(platformApp.reply);
                bool taken = url && RAZududeSnsService::handleOpenURL(*url);
                say(platform::format("  the user confirms; %@ returns %@ (%@)", platformApp.title,
                                     platformApp.reply, taken ? "taken" : "not taken"));
                advance(0.5);
            }
        }
        return from;
    }

    // Messages handed to the mail or text composer since `from`.
    std::size_t answerComposers(std::size_t from) {
        auto& app = platform::Application::shared();
        for (; from < app.composedMessages().size(); ++from) {
            const auto& message = app.composedMessages()[from];
            bool mail = message.kind == platform::ComposedMessage::Kind::kMail;
            beginStep(mail ? "screen: the mail composer" : "screen: the text-message composer");
            std::string body =
                mail ? platform::format("主题：%@\n\n%@\n\n附件：%@ 个", message.subject,
                                        message.body, message.attachments.size())
                     : message.body;
            say(platform::format("  composed: subject \"%@\", body \"%@\", %@ attachment(s)",
                                 message.subject, message.body, message.attachments.size()));
            showStandIn(mail ? "邮件" : "短信", body, mail ? "mail-composer" : "sms-composer");
        }
        return from;
    }

    // The screen the user sees above the app's own, or null when it is the app's.
    platform::ViewController* topScreen() const {
        platform::ViewController* top = window->rootViewController().get();
        while (top && top->presentedViewController()) {
            top = top->presentedViewController().get();
        }
        if (auto* container = dynamic_cast<platform::NavigationController*>(top)) {
            top = container->visibleViewController();
        }
        return top == home.get() ? nullptr : top;
    }

    bool isLastScreen(const platform::ViewController* screen) const {
        return lastScreen.lock().get() == screen;
    }
    void rememberScreen(const platform::ViewController* screen) {
        lastScreen =
            screen ? screen->weak_from_this() : std::weak_ptr<const platform::ViewController>();
    }

    // A share screen that came up since the last look: told and drawn. Answers whether one did.
    bool noticeScreen() {
        if (isLastScreen(topScreen())) {
            return false;
        }
        // Its transition and first turn of layout, as the user would see it. A screen that gave
        // way to the next one meanwhile (a login the service answered at once) is passed by.
        auto* top = topScreen();
        for (;;) {
            advance(platform::ViewController::kTransitionDuration + 0.05);
            auto* now = topScreen();
            if (now == top) {
                break;
            }
            top = now;
        }
        rememberScreen(top);
        screenSince = realNow();
        if (!top) {
            return false;
        }
        int type = 0;
        std::string file = "screen";
        if (auto* page = dynamic_cast<RZSOauthViewController*>(top)) {
            type = kRAZududeViewControllerOauth;
            file = "oauth-page";
            if (loginPage() == page) {
                drawnPage = page->weak_from_this();  // its picture shows the login page already
            }
        } else if (dynamic_cast<RZSShareListController*>(top)) {
            type = kRAZududeViewControllerShareList;
            file = "share-list";
        } else if (dynamic_cast<RZShareEditViewController*>(top)) {
            type = kRAZududeViewControllerShareEdit;
            file = "share-editor";
        }
        beginStep(platform::format("screen: view type %@, titled \"%@\"",
                                   named(type, viewTypeName(type)), top->title()));
        if (auto* editor = dynamic_cast<RZShareEditViewController*>(top)) {
            writeAndSend(*editor);
        } else {
            shot(*window, file);
        }
        return true;
    }

    // The service's login page, shown in the OAuth page once it has loaded, and not answered yet.
    RZSOauthViewController* loginPage() const {
        auto* page = dynamic_cast<RZSOauthViewController*>(topScreen());
        if (!page || !page->webView() || page->webView()->isLoading() ||
            page->webView()->title().empty() ||
            (page->maskView() && page->maskView()->isActivity()) ||
            answeredPage.lock().get() == page) {
            return nullptr;
        }
        return page;
    }

    // The user reads the login page and taps its link, which lets the service log in.
    bool answerLoginPage() {
        auto* page = loginPage();
        if (!page) {
            return false;
        }
        answeredPage = page->weak_from_this();
        auto& web = *page->webView();
        if (drawnPage.lock().get() != page) {
            beginStep(
                platform::format("screen: the login page \"%@\" in the OAuth page", web.title()));
            shot(*window, "login-page");
        }
        beginStep("tap: the login page's link");
        // The link runs across the page under its heading.
        platform::Rect link = web.convertRectTo(Rect(0, 70, web.bounds().width(), 60), nullptr);
        window->tap({link.midX(), link.midY()});
        screenSince = realNow();
        advance(0);
        return true;
    }

    // The user opens the editor's friend picker, looks, and goes back.
    void lookAtFriends(RZShareEditViewController& editor) {
        beginStep("tap: @");
        if (!window->tapView(*editor.atButton())) {
            return;
        }
        advance(1);
        auto picker = editor.friendListViewController();
        if (!picker) {
            return;
        }
        beginStep(platform::format(
            "screen: view type %@, %@ section(s)",
            named(kRAZududeViewControllerFriend, viewTypeName(kRAZududeViewControllerFriend)),
            picker->sectionList().size()));
        shot(*window, "friend-picker");
        beginStep("tap: back to the editor");
        window->tapView(*picker->backButton());
        advance(1);
        rememberScreen(topScreen());
    }

    // A login page that leads nowhere (an error page, a page that never loads): the user gives
    // up and closes it. Answers whether there was one to close.
    bool giveUpOnPage() {
        auto* page = dynamic_cast<RZSOauthViewController*>(topScreen());
        if (!page) {
            return false;
        }
        beginStep("tap: close, the login page leads nowhere");
        screenSince = realNow();
        tapClose(*page);
        return true;
    }

    // The close button at the left of a share screen's navigation bar.
    void tapClose(platform::ViewController& screen) {
        auto item = screen.navigationItem().leftBarButtonItem();
        if (!item || !item->customView() || !window->tapView(*item->customView())) {
            throw std::runtime_error("the close button of \"" + screen.title() +
                                     "\" could not be tapped");
        }
        advance(1);
    }

    // The editor stays up with the result's notice after a share that waited for its reply;
    // the user reads it and closes the editor.
    void closeFinishedEditor() {
        auto* editor = dynamic_cast<RZShareEditViewController*>(topScreen());
        if (!editor) {
            return;
        }
        beginStep("screen: the editor with the result's notice");
        shot(*window, "editor-notice");
        beginStep("tap: close");
        tapClose(*editor);
        rememberScreen(topScreen());
    }

    // In the editor: the user adds a few words to the share and sends it; the post travels
    // enciphered to the service while the editor shows its progress.
    void writeAndSend(RZShareEditViewController& editor) {
        platform::Keyboard::shared().type(" 一起来吧");
        advance(0);
        // The preview beside the text: the picture, or the link that goes in its place.
        const auto& preview = editor.shareImageButton();
        const char* attached = !preview || !preview->superview() ? "nothing"
                               : preview->image()                ? "the picture"
                                                                 : "the link";
        say(platform::format("  the user writes: \"%@\" (%@ characters left), attached: %@",
                             editor.textView()->text(), editor.countLabel()->text(), attached));
        shot(*window, "share-editor");
        const auto& accounts = settings.accounts;
        const auto& name = outcome ? outcome->platform : std::string();
        if (std::find(accounts.begin(), accounts.end(), name) != accounts.end() &&
            !editor.atButton()->isHidden()) {
            lookAtFriends(editor);
        }
        beginStep("tap: send");
        if (!window->tapView(*editor.sendButton())) {
            throw std::runtime_error("the editor's send button could not be tapped");
        }
        advance(0.3);
        beginStep(platform::format("screen: the editor while the post travels (%@)",
                                   editor.isSending() ? "sending" : "sent"));
        shot(*window, "sending");
    }

    // No request of the current record's queue is waiting or on the wire.
    static bool serviceIdle() {
        auto manager = RZSDataManager::currentDataManager();
        return !manager || manager->actionArray().empty();
    }
};

ShareApp::ShareApp(Settings settings) : state_(std::make_unique<State>()) {
    auto& s = *state_;
    s.settings = std::move(settings);
    auto& loop = platform::MainLoop::main();
    loop.setManualClock(true);
    auto& app = platform::Application::shared();
    for (const auto& name : s.settings.installed) {
        app.registerUrlScheme(name);
    }

    // Start-up, as an app does it.
    installSocialUI();
    registerShareHandlers();
    RAZududeData::openLog(false);
    // The device's address comes from its Wi-Fi interface, named as on a phone unless the app
    // says otherwise; here it is the machine's first network interface.
    std::string wifi = "lo";
    for (const auto& name : RAZududeProtocolData::ipv4InterfaceNames()) {
        if (name != "lo") {
            wifi = name;
            break;
        }
    }
    RAZududeProtocolData::setWifiInterfaceName(wifi);
    RAZududeData::setAppKey(s.settings.appKey);
    RAZududeWechatHandler::setWXAppId(kWechatAppId, "demo-secret", "https://example.org/share");
    RAZududeQQHandler::setQQWithAppId(kQQAppId, "demo-qq-key", "https://example.org/share");
    RAZududeSinaSSOHandler::setSinaSSOWithAppKey(kSinaAppKey, "demo-sina-secret",
                                                 "https://example.org/sina/callback");
    // The sheet shows the configured list: the app puts QQ in beside the WeChat names that
    // the WeChat set-up put in front.
    platform::Array names;
    for (const auto& name : sheetPlatforms()) {
        names.push_back(name);
    }
    RAZududeConfig::setSnsPlatformNames(std::move(names));
    RAZududeConfig::hiddenNotInstallPlatforms(std::vector<std::string>{});
    // The editor stays up with its progress while the post travels, so that the user sees it go.
    RAZududeConfig::setShouldShareSynchronous(true);
    for (const auto& name : s.settings.accounts) {
        rememberAccount(name);
    }

    // The share.
    s.image = makeShareImage();
    auto data = RAZududeData::defaultData();
    data->setTitle(kShareTitle);
    data->setUrlResource(
        RAZududeUrlResource::initWithSnsResourceType(kRAZududeUrlResourceTypeWeb, kShareLink));

    // The app's screen.
    s.window = platform::Window::make();
    s.home = std::make_shared<HomeScreen>(s.image);
    s.navigation = std::make_shared<platform::NavigationController>(s.home);
    s.window->setRootViewController(s.navigation);
    s.window->makeKeyAndVisible();
    s.delegate =
        std::make_shared<DemoDelegate>([this](const std::string& line) { state_->say(line); });
    s.advance(0);
}

ShareApp::~ShareApp() = default;

void ShareApp::setInstalled(const std::string& application, bool installed) {
    auto& app = platform::Application::shared();
    if (installed) {
        app.registerUrlScheme(application);
    } else {
        app.unregisterUrlScheme(application);
    }
}

void ShareApp::setScreenshots(std::optional<std::filesystem::path> folder) {
    state_->settings.screenshots = std::move(folder);
}

void ShareApp::showApp() {
    auto& s = *state_;
    if (s.appShown) {
        return;
    }
    s.appShown = true;
    s.beginStep("screen: the app's own screen, with the text, picture and link it shares");
    s.shot(*s.window, "app");
}

ShareOutcome ShareApp::share(const std::string& platformName) {
    auto& s = *state_;
    ShareOutcome outcome;
    outcome.platform = platformName;
    s.outcome = &outcome;
    struct Detach {
        State& s;
        ~Detach() { s.outcome = nullptr; }
    } detach{s};
    showApp();
    s.home->clearResult();
    s.delegate->heard.clear();
    s.collectRequests(0);
    outcome.requests.clear();
    if (s.settings.askForLoginPage) {
        s.settings.askForLoginPage();
    }

    auto& app = platform::Application::shared();
    RAZududeSnsService::presentSnsIconSheetView(s.home, s.settings.appKey, kShareText,
                                                RAZududeShareImage(s.image), std::nullopt,
                                                s.delegate);
    s.advance(platform::ViewController::kTransitionDuration + 0.1);
    auto sheet = s.window->viewWithTagAs<RAZududeIconActionSheet>(1013);
    if (!sheet) {
        throw std::runtime_error("the icon sheet did not show");
    }
    std::string names;
    for (const auto& name : sheet->snsNames()) {
        names += " " + name;
    }
    s.beginStep("screen: icon sheet, view type " +
                named(kRAZududeViewControllerIconActionSheet,
                      viewTypeName(kRAZududeViewControllerIconActionSheet)) +
                ", platforms" + names);
    s.shot(*s.window, "icon-sheet");

    const auto& shown = sheet->snsNames();
    if (std::find(shown.begin(), shown.end(), platformName) == shown.end()) {
        throw std::runtime_error(platformName + " is not on the icon sheet");
    }
    int type = RAZududeSnsPlatformManager::getSnsPlatformType(platformName);
    auto icon = sheet->viewWithTag(RAZududeIconActionSheet::kIconTagBase + type);
    std::size_t urlsSeen = app.openedUrls().size();
    std::size_t messagesSeen = app.composedMessages().size();
    s.beginStep("tap: " + platformName);
    if (!icon || !s.window->tapView(*icon)) {
        throw std::runtime_error("the " + platformName + " icon could not be tapped");
    }
    app.updateDisplay();

    // The user answers what shows up until the app's delegate hears how the share ended.
    auto resultHeard = [&] { return s.delegate->firstResult() != nullptr; };
    const double tapped = State::realNow();
    for (;;) {
        bool acted = s.noticeScreen();
        acted = s.answerAlerts() || acted;
        acted = s.answerLoginPage() || acted;
        std::size_t urls = s.answerPlatformApps(urlsSeen);
        std::size_t messages = s.answerComposers(messagesSeen);
        acted = acted || urls != urlsSeen || messages != messagesSeen;
        urlsSeen = urls;
        messagesSeen = messages;
        s.collectRequests(0);
        if (acted) {
            continue;
        }
        if (resultHeard() || State::realNow() - tapped >= s.settings.waitSeconds) {
            break;
        }
        if (State::realNow() - s.screenSince >= kPatience && s.giveUpOnPage()) {
            continue;
        }
        s.waitFor(
            [&] {
                return resultHeard() || !platform::AlertView::visibleAlerts().empty() ||
                       s.loginPage() || !s.isLastScreen(s.topScreen()) ||
                       app.openedUrls().size() != urlsSeen ||
                       app.composedMessages().size() != messagesSeen;
            },
            0.5);
    }
    // What the share still sends (the usage record of a share that went through), and the
    // screens that go with the result.
    s.waitFor(State::serviceIdle, s.settings.waitSeconds);
    s.answerAlerts();
    s.advance(0.5);
    s.collectRequests(0.2);
    s.closeFinishedEditor();

    outcome.heard = s.delegate->heard;
    outcome.result = s.delegate->firstResult();
    const auto& result = outcome.result;
    bool success = result && result->responseCode() == kRAZududeResponseSuccess;
    std::string notice =
        !result   ? "没有收到分享结果"
        : success ? platform::format("已分享到 %@", platformName)
                  : platform::format(
                        "分享失败：%@ %@", result->responseCode(),
                        result->message().value_or(responseCodeName(result->responseCode())));
    s.home->showResult(notice, success);
    s.beginStep("screen: the result on the app's screen: " + notice);
    s.advance(0);
    s.shot(*s.window, "result");
    if (result) {
        s.say(platform::format("result: %@: %@, %@", platformName,
                               success ? "shared" : "not shared", describeResponse(*result)));
    } else {
        s.say("result: " + platformName + ": the app's delegate heard no result");
    }
    return outcome;
}

}  // namespace share_demo
