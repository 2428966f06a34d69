// The share panel: a grid of platform icons with their names that slides up from the bottom of
// the presenting screen over a dimmed overlay. A tap on an icon dismisses the panel and hands
// the platform's name to the button handler; a tap on the overlay dismisses it without a choice.
//
// The panel is made by the controller service, given its platform names, and shown in the
// presenting screen's view. It lays itself out when it is first drawn. Main thread only.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/ui/GestureRecognizer.h"
#include "platform/ui/ImageView.h"
#include "platform/ui/ScrollView.h"
#include "platform/ui/View.h"

namespace platform {
class ViewController;
}

class RAZududeControllerService;

class RAZududeIconActionSheet : public platform::View {
  public:
    using ButtonHandler = std::function<void(const std::string& platformName)>;

    // Builds one icon and one name label for each registered item that is not left out.
    RAZududeIconActionSheet(const std::vector<std::string>& items, ButtonHandler handler);

    // Tags: the panel's own, by which an app finds it in its view tree; 100 + the platform's
    // type for its icon, 200 + the type for its name; the overlay has 100.
    static constexpr int kTag = 1013;
    static constexpr int kIconTagBase = 100;
    static constexpr int kLabelTagBase = 200;
    static constexpr int kOverlayTag = 100;
    static constexpr double kRowHeight = 80;
    static constexpr std::chrono::milliseconds kAnimationDuration{300};

    const std::vector<std::string>& snsNames() const { return snsNames_; }
    // Keeps the registered names, minus hidden platforms whose application is missing, and
    // gives a kept name that was not among the items its icon.
    void setSnsNames(const std::vector<std::string>& names);

    const ButtonHandler& actionSheetHandler() const { return actionSheetHandler_; }
    void setActionSheetHandler(ButtonHandler handler) { actionSheetHandler_ = std::move(handler); }
    const std::function<void()>& dismissCompletion() const { return dismissCompletion_; }
    void setDismissCompletion(std::function<void()> completion) {
        dismissCompletion_ = std::move(completion);
    }
    std::shared_ptr<platform::ViewController> presentingViewController() const {
        return presentingViewController_.lock();
    }
    void setPresentingViewController(std::weak_ptr<platform::ViewController> controller) {
        presentingViewController_ = std::move(controller);
    }
    std::shared_ptr<RAZududeControllerService> socialControllerService() const {
        return socialControllerService_.lock();
    }
    void setSocialControllerService(std::weak_ptr<RAZududeControllerService> service) {
        socialControllerService_ = std::move(service);
    }

    // Puts the overlay into the view and slides the panel in.
    void showInView(platform::View& view);
    // Slides the panel out and removes it with the overlay; once only.
    void dismiss();
    // An icon's tap.
    void actionToSnsButton(platform::GestureRecognizer& recognizer);
    bool isDismissing() const { return dismissing_; }

    // Lays the panel out at the bottom of the overlay and draws the grid lines.
    void draw(platform::GraphicsContext& context, const platform::Rect& rect) override;

    // The number of columns the layout chose when it last ran.
    int columns() const { return columns_; }

  private:
    void addMissingIcons();

    std::vector<std::string> snsNames_;
    ButtonHandler actionSheetHandler_;
    std::shared_ptr<platform::ImageView> backgroundImageView_;
    std::shared_ptr<platform::ScrollView> actionSheetBackground_;
    std::function<void()> dismissCompletion_;
    std::weak_ptr<platform::ViewController> presentingViewController_;
    std::weak_ptr<RAZududeControllerService> socialControllerService_;
    bool dismissing_ = false;
    int columns_ = 0;
};
