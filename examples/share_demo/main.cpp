// The host program: sets the share SDK up as an app would, fills a share with a text, an image
// and a link, shows the platform icon sheet over the app's screen, taps the platform named on
// the command line, and prints what the app's UI delegate hears.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "SocialSDK/core/account/RAZududeAccountManager.h"
#include "SocialSDK/core/config/RAZududeConfig.h"
#include "SocialSDK/core/data/RAZududeData.h"
#include "SocialSDK/core/handler/RAZududeUIDelegate.h"
#include "SocialSDK/core/manager/RZSUserManager.h"
#include "SocialSDK/core/platform/RAZududeSnsPlatformManager.h"
#include "SocialSDK/ui/editor/RZShareEditViewController.h"
#include "SocialSDK/ui/friend/RAZududeFriendViewController.h"
#include "SocialSDK/ui/service/RAZududeSnsService.h"
#include "SocialSDK/ui/sheet/RAZududeIconActionSheet.h"
#include "SocialSDK/ui/startup/SocialUI.h"
#include "platform/MainLoop.h"
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

namespace {

using platform::Color;
using platform::Rect;

constexpr const char* kAppKey = "5211818556240bc9ee01db2f";
constexpr const char* kWechatAppId = "demowx8a2f";
constexpr const char* kQQAppId = "demoqq1104";
constexpr const char* kSinaAppKey = "demosina3921";

void printUsage() {
    std::puts(
        "usage: share_demo [--help] [--screenshots DIR] [--installed APP]... [--account NAME]\n"
        "                  [PLATFORM]\n"
        "\n"
        "Runs the share SDK the way an app does: it registers the platform handlers, sets the\n"
        "AppKey and the WeChat, QQ and Sina keys, fills a share with a text, an image and a\n"
        "link, and slides the platform icon sheet up over the app's screen. With a PLATFORM\n"
        "name (wxsession, wxtimeline, wxfavorite, qq, qzone, sina, tencent, renren, douban,\n"
        "email, sms, facebook, twitter) it then taps that icon and prints what the app's UI\n"
        "delegate receives.\n"
        "\n"
        "  --screenshots DIR  write a PNG of the window after each step into DIR:\n"
        "                     01-app.png, 02-sheet.png, 03-tap.png, 04-after.png, and with\n"
        "                     the share editor up 05-editor.png (text typed) and\n"
        "                     06-friends.png (its friend picker)\n"
        "  --installed APP    pretend the platform application APP is installed (wechat, qq,\n"
        "                     weibo); without it a tap on such a platform tells the user that\n"
        "                     its application is missing. An installed application answers the\n"
        "                     share (or login) at once, as if the user had confirmed it.\n"
        "  --account NAME     pretend the user authorised the share-service platform NAME\n"
        "                     (tencent, renren, douban...) before, with a few friends fetched\n"
        "                     earlier: a tap on it opens the share editor at once.\n"
        "  --help             this text\n"
        "\n"
        "No platform application, composer or share-service server exists on this machine:\n"
        "messages for e-mail and SMS are recorded and printed, and requests to the share\n"
        "service are answered as not sent.");
}

// The app's delegate: prints what the share service tells it.
class DemoDelegate : public RAZududeUIDelegate {
  public:
    void didCloseUIViewController(int viewControllerType) override {
        std::printf("delegate: didCloseUIViewController %d\n", viewControllerType);
    }
    void didFinishGetRAZududeDataInViewController(const RAZududeResponsePtr& response) override {
        std::printf("delegate: didFinishGetRAZududeDataInViewController %s\n",
                    response ? response->description().c_str() : "(null)");
        lastCode = response ? response->responseCode() : 0;
    }
    void didSelectSocialPlatform(const std::string& platformName,
                                 const std::shared_ptr<RAZududeData>&) override {
        std::printf("delegate: didSelectSocialPlatform %s\n", platformName.c_str());
    }
    int lastCode = 0;
};

// The app's own screen: its title, the text and picture it shares, and the link.
class HomeScreen : public platform::ViewController {
  public:
    HomeScreen(std::string text, platform::ImagePtr image, std::string link)
        : text_(std::move(text)), image_(std::move(image)), link_(std::move(link)) {
        setTitle("分享演示");
    }

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
        body->setText(text_);
        root.addSubview(body);
        auto link = std::make_shared<platform::Label>(Rect(20, 400, width - 40, 20));
        link->setFont(platform::Font::system(13));
        link->setTextColor(Color::rgb255(0, 122, 255));
        link->setText(link_);
        root.addSubview(link);
    }

  private:
    std::string text_;
    platform::ImagePtr image_;
    std::string link_;
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

struct Options {
    std::optional<std::filesystem::path> screenshots;
    std::vector<std::string> installed;
    std::vector<std::string> accounts;
    std::optional<std::string> platform;
};

bool writeShot(const Options& options, platform::Window& window, const char* name) {
    if (!options.screenshots) {
        return true;
    }
    platform::Error error;
    auto path = *options.screenshots / name;
    if (!platform::Renderer::writeWindowPng(window, path, &error)) {
        std::fprintf(stderr, "share_demo: cannot write %s: %s\n", path.c_str(),
                     error.localizedDescription().c_str());
        return false;
    }
    std::printf("screenshot: %s\n", path.c_str());
    return true;
}

void advance(double seconds) {
    platform::MainLoop::main().advance(seconds);
    platform::Application::shared().updateDisplay();
}

void printAlerts() {
    for (const auto& alert : platform::AlertView::visibleAlerts()) {
        std::printf("alert: %s | %s\n", alert->title().c_str(), alert->message().c_str());
    }
}

// What an installed platform application does when it gets a share or a login: the user
// confirms, and it opens the app's URL again.
void answerAsPlatformApp(const std::string& openedUrl) {
    struct Reply {
        const char* prefix;
        std::string url;
    };
    const Reply replies[] = {
        {"wechat://share", std::string(kWechatAppId) + "://wechat/share?result=ok"},
        {"qq://share", std::string(kQQAppId) + "://qq/share?result=ok"},
        {"weibo://login", std::string(kSinaAppKey) +
                              "://sina/login?result=ok&uid=1402400261&token=demo&expires_in=3600"},
    };
    for (const auto& reply : replies) {
        if (openedUrl.rfind(reply.prefix, 0) == 0) {
            auto url = platform::Url::parse(reply.url);
            bool taken = url && RAZududeSnsService::handleOpenURL(*url);
            std::printf("platform app returns: %s (%s)\n", reply.url.c_str(),
                        taken ? "taken" : "not taken");
            return;
        }
    }
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

// With the share editor up: the user adds a few words, then opens the friend picker.
bool showEditor(const Options& options, platform::Window& window) {
    auto* root = window.rootViewController().get();
    auto* shown = root ? root->presentedViewController().get() : nullptr;
    auto* container = dynamic_cast<platform::NavigationController*>(shown);
    auto* editor = container
                       ? dynamic_cast<RZShareEditViewController*>(container->topViewController())
                       : nullptr;
    if (!editor) {
        return true;
    }
    platform::Keyboard::shared().type(" 一起来吧 http://example.org/go");
    advance(0);
    std::printf("editor: %s, %s characters left\n", editor->title().c_str(),
                editor->countLabel()->text().c_str());
    if (!writeShot(options, window, "05-editor.png")) {
        return false;
    }
    if (editor->atButton()->isHidden() || !window.tapView(*editor->atButton())) {
        return true;
    }
    advance(1);
    std::printf("friend picker: %zu section(s)\n",
                editor->friendListViewController()
                    ? editor->friendListViewController()->sectionList().size()
                    : 0);
    return writeShot(options, window, "06-friends.png");
}

int run(const Options& options) {
    if (options.screenshots) {
        std::error_code ec;
        std::filesystem::create_directories(*options.screenshots, ec);
        if (ec) {
            std::fprintf(stderr, "share_demo: cannot make %s: %s\n", options.screenshots->c_str(),
                         ec.message().c_str());
            return 1;
        }
    }
    auto& loop = platform::MainLoop::main();
    loop.setManualClock(true);
    auto& app = platform::Application::shared();
    for (const auto& scheme : options.installed) {
        app.registerUrlScheme(scheme);
    }

    // Start-up, as an app does it.
    installSocialUI();
    registerShareHandlers();
    RAZududeData::openLog(false);
    RAZududeWechatHandler::setWXAppId(kWechatAppId, "demo-secret", "https://example.org/share");
    RAZududeQQHandler::setQQWithAppId(kQQAppId, "demo-qq-key", "https://example.org/share");
    RAZududeSinaSSOHandler::setSinaSSOWithAppKey(kSinaAppKey, "demo-sina-secret",
                                                 "https://example.org/sina/callback");
    // The sheet shows the configured list: the app puts QQ in beside the WeChat names that
    // the WeChat set-up put in front.
    RAZududeConfig::setSnsPlatformNames({"wxsession", "wxtimeline", "wxfavorite", "qq", "qzone",
                                         "sina", "tencent", "renren", "douban", "email", "sms",
                                         "facebook", "twitter"});
    RAZududeConfig::hiddenNotInstallPlatforms(std::vector<std::string>{});
    for (const auto& name : options.accounts) {
        rememberAccount(name);
    }

    // The share.
    const std::string text = "春天来了，和朋友一起去看山上的日出吧！";
    const std::string link = "https://example.org/articles/sunrise";
    auto image = makeShareImage();
    auto data = RAZududeData::defaultData();
    data->setTitle("山上的日出");
    data->setUrlResource(
        RAZududeUrlResource::initWithSnsResourceType(kRAZududeUrlResourceTypeWeb, link));

    // The app's screen.
    auto window = platform::Window::make();
    auto home = std::make_shared<HomeScreen>(text, image, link);
    auto navigation = std::make_shared<platform::NavigationController>(home);
    window->setRootViewController(navigation);
    window->makeKeyAndVisible();
    advance(0);
    if (!writeShot(options, *window, "01-app.png")) {
        return 1;
    }

    auto delegate = std::make_shared<DemoDelegate>();
    RAZududeSnsService::presentSnsIconSheetView(home, kAppKey, text, RAZududeShareImage(image),
                                                std::nullopt, delegate);
    advance(platform::ViewController::kTransitionDuration + 0.1);
    auto sheet = window->viewWithTagAs<RAZududeIconActionSheet>(1013);
    if (!sheet) {
        std::fprintf(stderr, "share_demo: the icon sheet did not show\n");
        return 1;
    }
    std::printf("icon sheet:");
    for (const auto& name : sheet->snsNames()) {
        std::printf(" %s", name.c_str());
    }
    std::printf("\n");
    if (!writeShot(options, *window, "02-sheet.png")) {
        return 1;
    }
    if (!options.platform) {
        return 0;
    }

    const auto& shown = sheet->snsNames();
    if (std::find(shown.begin(), shown.end(), *options.platform) == shown.end()) {
        std::fprintf(stderr, "share_demo: %s is not on the icon sheet\n",
                     options.platform->c_str());
        return 2;
    }
    int type = RAZududeSnsPlatformManager::getSnsPlatformType(*options.platform);
    auto icon = sheet->viewWithTag(RAZududeIconActionSheet::kIconTagBase + type);
    std::printf("tap: %s\n", options.platform->c_str());
    std::size_t urlsBefore = app.openedUrls().size();
    if (!icon || !window->tapView(*icon)) {
        std::fprintf(stderr, "share_demo: the %s icon could not be tapped\n",
                     options.platform->c_str());
        return 1;
    }
    app.updateDisplay();
    printAlerts();
    if (!writeShot(options, *window, "03-tap.png")) {
        return 1;
    }

    advance(1);
    for (std::size_t i = urlsBefore; i < app.openedUrls().size(); ++i) {
        std::printf("opened: %s\n", app.openedUrls()[i].c_str());
        answerAsPlatformApp(app.openedUrls()[i]);
    }
    for (const auto& message : app.composedMessages()) {
        std::printf("composed %s: subject \"%s\", body \"%s\", %zu attachment(s)\n",
                    message.kind == platform::ComposedMessage::Kind::kMail ? "mail" : "text",
                    message.subject.c_str(), message.body.c_str(), message.attachments.size());
    }
    advance(1);
    if (!writeShot(options, *window, "04-after.png")) {
        return 1;
    }
    return showEditor(options, *window) ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            printUsage();
            return 0;
        }
        if (arg == "--screenshots" || arg == "--installed" || arg == "--account") {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "share_demo: %s needs a value\n", arg.c_str());
                return 2;
            }
            std::string value = argv[++i];
            if (arg == "--screenshots") {
                options.screenshots = value;
            } else if (arg == "--account") {
                options.accounts.push_back(value);
            } else {
                options.installed.push_back(value);
            }
        } else if (!arg.empty() && arg[0] == '-') {
            std::fprintf(stderr, "share_demo: unknown option %s (see --help)\n", arg.c_str());
            return 2;
        } else if (options.platform) {
            std::fprintf(stderr, "share_demo: one platform at a time (see --help)\n");
            return 2;
        } else {
            options.platform = arg;
        }
    }
    return run(options);
}
