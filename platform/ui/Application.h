// The application: its windows and key window, the status bar, the interface orientation,
// and the URLs it was asked to open (there are no other apps here; the record is what a test
// or the host program looks at).
#pragma once

#include <memory>
#include <set>
#include <string>
#include <vector>

#include "platform/InterfaceOrientation.h"
#include "platform/NoDestructor.h"
#include "platform/graphics/Geometry.h"

namespace platform {

class View;
class Window;

constexpr bool isLandscape(int orientation) {
    return orientation == kOrientationLandscapeLeft || orientation == kOrientationLandscapeRight;
}
constexpr bool isPortrait(int orientation) {
    return orientation == kOrientationPortrait || orientation == kOrientationPortraitUpsideDown;
}

// A message handed to the system's mail or text-message composer. No composer exists here: the
// application keeps what it was given, as the record of what would have been sent.
struct ComposedMessage {
    enum class Kind { kMail, kText };
    struct Attachment {
        std::string fileName;
        std::string mimeType;
        Bytes data;
    };

    Kind kind = Kind::kMail;
    std::vector<std::string> recipients;
    std::string subject;  // mail only
    std::string body;
    std::vector<Attachment> attachments;
};

class ApplicationDelegate {
  public:
    virtual ~ApplicationDelegate() = default;
    // The app's main window, if it keeps one.
    virtual std::shared_ptr<Window> window() const { return nullptr; }
};

class Application {
  public:
    static Application& shared();

    // Live windows, in the order they were made; the key window, if any.
    std::vector<std::shared_ptr<Window>> windows() const;
    std::shared_ptr<Window> keyWindow() const;

    const std::shared_ptr<ApplicationDelegate>& delegate() const { return delegate_; }
    void setDelegate(std::shared_ptr<ApplicationDelegate> delegate) {
        delegate_ = std::move(delegate);
    }

    // ---- status bar and orientation
    // The interface follows the device profile's orientation; while the device lies flat (or
    // its orientation is unknown) it keeps the last one it had.
    int statusBarOrientation() const;
    // Turns the interface (and the device profile) at once, telling nobody.
    void setStatusBarOrientation(int orientation);
    bool isStatusBarHidden() const { return statusBarHidden_; }
    void setStatusBarHidden(bool hidden) { statusBarHidden_ = hidden; }
    // In screen coordinates; empty when hidden.
    Rect statusBarFrame() const;
    bool isNetworkActivityIndicatorVisible() const { return networkActivity_; }
    void setNetworkActivityIndicatorVisible(bool visible) { networkActivity_ = visible; }
    // The device turns: when the key window's root controller allows the orientation, it is
    // told before and after, the interface takes the orientation and the windows the new
    // screen bounds. Answers whether the interface turned.
    bool rotateTo(int orientation);

    // ---- URLs
    // True when some app takes the URL's scheme: the web schemes, "sms", "mailto" and "tel",
    // and those registered as installed apps.
    bool canOpenUrl(const std::string& url) const;
    // Records the URL and answers whether it could be opened.
    bool openUrl(const std::string& url);
    const std::vector<std::string>& openedUrls() const { return openedUrls_; }
    // The schemes of the apps installed beside this one: none but the system's at launch.
    void registerUrlScheme(const std::string& scheme);
    void unregisterUrlScheme(const std::string& scheme);

    // ---- composed messages
    // Hands a message to the composer of its kind; it is recorded.
    void composeMessage(ComposedMessage message) {
        composedMessages_.push_back(std::move(message));
    }
    const std::vector<ComposedMessage>& composedMessages() const { return composedMessages_; }

    // ---- events and passes
    // Taps the key window at a point of its coordinates (see Window::tap).
    std::shared_ptr<View> tap(Point p);
    // Runs the layout and display passes of every window now.
    void updateDisplay();

    // Back to the state at launch: status bar shown, no URLs, the default schemes, no composed
    // messages, no delegate, no alerts, keyboard down. Windows live on with their owners; the
    // orientation is the device profile's.
    void reset();

  private:
    friend class Window;
    friend class NoDestructor<Application>;
    Application();
    void addWindow(const std::shared_ptr<Window>& window);
    void setKeyWindow(const std::shared_ptr<Window>& window);

    std::vector<std::weak_ptr<Window>> windows_;
    std::weak_ptr<Window> keyWindow_;
    std::shared_ptr<ApplicationDelegate> delegate_;
    mutable int orientation_ = kOrientationPortrait;
    bool statusBarHidden_ = false;
    bool networkActivity_ = false;
    std::vector<std::string> openedUrls_;
    std::set<std::string> schemes_;
    std::vector<ComposedMessage> composedMessages_;
};

}  // namespace platform
