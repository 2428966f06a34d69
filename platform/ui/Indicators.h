// Progress bars and activity indicators (the spinning wheel).
#pragma once

#include "platform/ui/View.h"

namespace platform {

enum class ProgressViewStyle { kDefault = 0, kBar = 1 };

class ProgressView : public View {
  public:
    // 150 points wide, as thin as its style.
    explicit ProgressView(ProgressViewStyle style = ProgressViewStyle::kDefault);

    ProgressViewStyle style() const { return style_; }
    // From 0 to 1.
    double progress() const { return progress_; }
    void setProgress(double progress, bool animated = false);

    Size sizeThatFits(Size size) const override;
    void drawContent(GraphicsContext& context) const override;

  private:
    ProgressViewStyle style_;
    double progress_ = 0;
};

enum class ActivityIndicatorStyle { kWhiteLarge = 0, kWhite = 1, kGray = 2 };

// 37 points square when large, 20 otherwise. Hidden while stopped unless told otherwise.
class ActivityIndicatorView : public View {
  public:
    explicit ActivityIndicatorView(ActivityIndicatorStyle style = ActivityIndicatorStyle::kWhite);

    ActivityIndicatorStyle style() const { return style_; }
    void setStyle(ActivityIndicatorStyle style);
    void startAnimating();
    void stopAnimating();
    bool isAnimating() const { return animating_; }
    bool hidesWhenStopped() const { return hidesWhenStopped_; }
    void setHidesWhenStopped(bool hides);

    Size sizeThatFits(Size size) const override;
    void drawContent(GraphicsContext& context) const override;

  private:
    ActivityIndicatorStyle style_;
    bool animating_ = false;
    bool hidesWhenStopped_ = true;
};

}  // namespace platform
