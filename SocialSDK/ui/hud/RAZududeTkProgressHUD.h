// The share screens' waiting overlay: a view that covers its host view and draws a black
// rounded panel in its middle with a spinning indicator, a main label and an optional details
// label. It fades or zooms in and out, can run a task on a thread of its own while it is up,
// and tells its delegate when it has gone.
//
// Make it with withView or withWindow, add it to that view, then show it. Everything runs on
// the main thread; only the task of showWhileExecuting runs elsewhere, and it never touches
// the HUD.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/MainLoop.h"
#include "platform/graphics/Font.h"
#include "platform/ui/Label.h"
#include "platform/ui/View.h"
#include "platform/ui/Window.h"

class RAZududeTkProgressHUD;

class RAZududeTkProgressHUDDelegate {
  public:
    virtual ~RAZududeTkProgressHUDDelegate() = default;
    // The HUD has gone: its hide animation, if any, is over and it is transparent.
    virtual void hudWasHidden(RAZududeTkProgressHUD& hud) { (void)hud; }
};

// What the HUD shows above its labels. Only the spinning indicator is built; another value
// leaves the current indicator as it is.
enum RAZududeTkProgressHUDMode : std::int32_t {
    kRAZududeTkProgressHUDModeIndeterminate = 0,
};

// How the HUD comes and goes.
enum RAZududeTkProgressHUDAnimation : std::int32_t {
    kRAZududeTkProgressHUDAnimationFade = 0,
    // Shows from 1.5 times its size, hides towards half of it.
    kRAZududeTkProgressHUDAnimationZoomIn = 1,
    // Shows from half its size, hides towards 1.5 times.
    kRAZududeTkProgressHUDAnimationZoomOut = 2,
};

class RAZududeTkProgressHUD : public platform::View {
  public:
    // A HUD the size of the host's bounds. A missing host throws std::invalid_argument
    // ("View must not be nil."). The caller adds the HUD to the host.
    static std::shared_ptr<RAZududeTkProgressHUD> withView(const platform::View* view);
    static std::shared_ptr<RAZududeTkProgressHUD> withWindow(const platform::Window* window);
    // Transparent, with the defaults of every property, the labels and the spinner.
    explicit RAZududeTkProgressHUD(const platform::Rect& frame);
    ~RAZududeTkProgressHUD() override;

    // ---- showing and hiding
    // With a grace time, the HUD shows only once that time has passed (unless a hide came
    // first). A show cancels a pending minimum-show hide.
    void show(bool animated);
    // Before the minimum show time is over, the hide waits for the rest of it. A hide cancels
    // a pending grace-time show.
    void hide(bool animated);
    // Runs the task on a new thread of its own and shows the HUD meanwhile; once the task has
    // returned, the main thread marks the task done, lets the task go and hides the HUD with
    // the animation flag of the last show or hide. An empty task throws std::invalid_argument.
    void showWhileExecuting(std::function<void()> task, bool animated);

    // ---- content
    std::int32_t mode() const { return mode_; }
    void setMode(std::int32_t mode);
    std::int32_t animationType() const { return animationType_; }
    void setAnimationType(std::int32_t type) { animationType_ = type; }
    const std::string& labelText() const { return labelText_; }
    void setLabelText(std::string text);
    const std::string& detailsLabelText() const { return detailsLabelText_; }
    void setDetailsLabelText(std::string text);
    const platform::Font& labelFont() const { return labelFont_; }
    void setLabelFont(const platform::Font& font);
    const platform::Font& detailsLabelFont() const { return detailsLabelFont_; }
    void setDetailsLabelFont(const platform::Font& font);
    // Kept for callers; the panel is always drawn in opaque black.
    double opacity() const { return opacity_; }
    void setOpacity(double opacity) { opacity_ = opacity; }
    const std::optional<platform::Color>& color() const { return color_; }
    void setColor(std::optional<platform::Color> color) { color_ = color; }
    // Kept for callers; neither is shown.
    const std::shared_ptr<platform::View>& customView() const { return customView_; }
    void setCustomView(std::shared_ptr<platform::View> view) { customView_ = std::move(view); }
    double progress() const { return progress_; }
    void setProgress(double progress) { progress_ = progress; }
    // The view above the labels: the spinner in mode 0.
    const std::shared_ptr<platform::View>& indicator() const { return indicator_; }
    platform::Label& label() { return *label_; }
    platform::Label& detailsLabel() { return *detailsLabel_; }

    // ---- geometry
    // Shift of the panel and its content from the centre, in points.
    double xOffset() const { return xOffset_; }
    void setXOffset(double offset);
    double yOffset() const { return yOffset_; }
    void setYOffset(double offset);
    double margin() const { return margin_; }
    void setMargin(double margin);
    platform::Size minSize() const { return minSize_; }
    void setMinSize(platform::Size size);
    bool isSquare() const { return square_; }
    void setSquare(bool square);
    // The panel's size, as the last layout pass computed it.
    platform::Size size() const { return size_; }

    // ---- timing
    platform::Seconds graceTime() const { return graceTime_; }
    void setGraceTime(platform::Seconds time) { graceTime_ = time; }
    platform::Seconds minShowTime() const { return minShowTime_; }
    void setMinShowTime(platform::Seconds time) { minShowTime_ = time; }
    // The pending grace and minimum-show timers (null or no longer valid when none).
    const std::shared_ptr<platform::TimerHandle>& graceTimer() const { return graceTimer_; }
    const std::shared_ptr<platform::TimerHandle>& minShowTimer() const { return minShowTimer_; }
    // When the HUD became visible, on the main loop's clock; empty while it is not up.
    std::optional<double> showStarted() const { return showStarted_; }
    bool taskInProgress() const { return taskInProgress_; }
    bool removeFromSuperViewOnHide() const { return removeFromSuperViewOnHide_; }
    void setRemoveFromSuperViewOnHide(bool remove) { removeFromSuperViewOnHide_ = remove; }

    // Not kept alive by the HUD.
    std::shared_ptr<RAZududeTkProgressHUDDelegate> delegate() const { return delegate_.lock(); }
    void setDelegate(std::weak_ptr<RAZududeTkProgressHUDDelegate> delegate) {
        delegate_ = std::move(delegate);
    }

    void layoutSubviews() override;
    void draw(platform::GraphicsContext& context, const platform::Rect& rect) override;

  private:
    void contentChanged();
    void updateIndicators();
    void handleGraceTimer();
    void handleMinShowTimer();
    void showUsingAnimation(bool animated);
    void hideUsingAnimation(bool animated);
    void done();
    void cleanUp();
    static void cancel(std::shared_ptr<platform::TimerHandle>& timer);
    std::shared_ptr<RAZududeTkProgressHUD> self();

    std::int32_t mode_ = kRAZududeTkProgressHUDModeIndeterminate;
    std::int32_t animationType_ = kRAZududeTkProgressHUDAnimationFade;
    std::string labelText_;
    std::string detailsLabelText_;
    platform::Font labelFont_ = platform::Font::boldSystem(16);
    platform::Font detailsLabelFont_ = platform::Font::boldSystem(12);
    double opacity_ = 0.8;
    std::optional<platform::Color> color_;
    double xOffset_ = 0;
    double yOffset_ = 0;
    double margin_ = 20;
    platform::Size minSize_;
    bool square_ = false;
    platform::Size size_;
    platform::Seconds graceTime_{0};
    platform::Seconds minShowTime_{0};
    std::shared_ptr<platform::TimerHandle> graceTimer_;
    std::shared_ptr<platform::TimerHandle> minShowTimer_;
    std::optional<double> showStarted_;
    bool taskInProgress_ = false;
    bool removeFromSuperViewOnHide_ = false;
    std::shared_ptr<platform::View> customView_;
    std::shared_ptr<platform::View> indicator_;
    double progress_ = 0;
    std::weak_ptr<RAZududeTkProgressHUDDelegate> delegate_;

    std::shared_ptr<platform::Label> label_;
    std::shared_ptr<platform::Label> detailsLabel_;
    // The animation flag of the last show or hide.
    bool useAnimation_ = false;
    platform::AffineTransform rotationTransform_;
    // Counts shows and hides, so that a hide animation that a later show or hide superseded
    // does not finish the HUD off.
    std::uint64_t generation_ = 0;
};
