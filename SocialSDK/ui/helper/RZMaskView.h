// The rounded, half-transparent waiting panel that the OAuth page shows while its page loads:
// a grey panel with a spinner and a status text beside it.
//
// Main thread only.
#pragma once

#include <memory>
#include <string>

#include "platform/ui/Indicators.h"
#include "platform/ui/Label.h"
#include "platform/ui/View.h"

class RZMaskView : public platform::View {
  public:
    // The OAuth page's mask over the given frame, saying that the authorisation page is being
    // reached, with the spinner running.
    explicit RZMaskView(const platform::Rect& frame);
    // A fixed small panel (200 x 100 points centred at (160, 190)) asking the user to wait.
    static std::shared_ptr<RZMaskView> roundedView();

    const std::string& statusText() const { return statusText_; }
    // Shows the text, the label sized to fit it.
    void setStatusText(std::string text);
    // Whether the mask is up with its spinner running.
    bool isActivity() const { return isActivity_; }
    // Fades the mask in (alpha 0.7) or out (alpha 0, hidden) over 0.3 seconds, starting or
    // stopping the spinner.
    void setIsActivity(bool activity);

    platform::Label& statusLabel() { return *statusLabel_; }
    platform::ActivityIndicatorView& activityIndicatorView() { return *activityIndicatorView_; }

    // The label sits a little right of the centre with the spinner just left of it.
    void layoutSubviews() override;

  private:
    struct Rounded {};
    RZMaskView(const platform::Rect& frame, Rounded);
    void build(const platform::Color& textColor, const char* key, const char* defaultText);

    std::string statusText_;
    bool isActivity_ = false;
    std::shared_ptr<platform::Label> statusLabel_;
    std::shared_ptr<platform::ActivityIndicatorView> activityIndicatorView_;
};
