// Alerts and action sheets as models: what they say, their buttons in the platform's order,
// and a press that a test (or the renderer's viewer) makes. While shown they are listed and
// kept alive by the application; a press dismisses them and tells the delegate.
//
// Button indices: an alert has its cancel button first, then the others in order; an action
// sheet has its destructive button first, then the others, then its cancel button last.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace platform {

class AlertView;
class ActionSheet;
class View;

class AlertViewDelegate {
  public:
    virtual ~AlertViewDelegate() = default;
    virtual void alertViewClickedButtonAtIndex(AlertView&, int /*buttonIndex*/) {}
    virtual void alertViewDidDismissWithButtonIndex(AlertView&, int /*buttonIndex*/) {}
};

class ActionSheetDelegate {
  public:
    virtual ~ActionSheetDelegate() = default;
    virtual void actionSheetClickedButtonAtIndex(ActionSheet&, int /*buttonIndex*/) {}
    virtual void actionSheetDidDismissWithButtonIndex(ActionSheet&, int /*buttonIndex*/) {}
};

// What both kinds share: the buttons, the tag, the visibility.
class ModalPanel : public std::enable_shared_from_this<ModalPanel> {
  public:
    virtual ~ModalPanel() = default;

    const std::string& title() const { return title_; }
    void setTitle(std::string title) { title_ = std::move(title); }
    int tag() const { return tag_; }
    void setTag(int tag) { tag_ = tag; }

    int numberOfButtons() const { return static_cast<int>(buttons_.size()); }
    // Empty for an index out of range.
    std::string buttonTitleAtIndex(int index) const;
    std::vector<std::string> buttonTitles() const { return buttons_; }
    int cancelButtonIndex() const { return cancelIndex_; }  // -1 when none
    int firstOtherButtonIndex() const { return firstOtherIndex_; }

    bool isVisible() const { return visible_; }
    // The user presses a button: the delegate hears the click, the panel goes away, the
    // delegate hears the dismissal. An index out of range does nothing and answers false.
    bool pressButtonAtIndex(int index);
    bool pressButtonWithTitle(const std::string& title);
    // Dismissed by code: no click is reported.
    void dismissWithClickedButtonIndex(int index, bool animated = true);

    // What is shown now, oldest first.
    static std::vector<std::shared_ptr<ModalPanel>> visiblePanels();
    // Takes every panel away without telling anyone (tests).
    static void dismissAll();

  protected:
    ModalPanel() = default;
    void present();
    virtual void clicked(int index) = 0;
    virtual void dismissed(int index) = 0;

    std::string title_;
    std::vector<std::string> buttons_;
    int cancelIndex_ = -1;
    int firstOtherIndex_ = -1;
    int tag_ = 0;
    bool visible_ = false;
};

class AlertView : public ModalPanel {
  public:
    // An empty title or message shows none.
    static std::shared_ptr<AlertView> make(std::string title, std::string message,
                                           std::weak_ptr<AlertViewDelegate> delegate,
                                           std::optional<std::string> cancelButtonTitle,
                                           std::vector<std::string> otherButtonTitles = {});

    const std::string& message() const { return message_; }
    void setMessage(std::string message) { message_ = std::move(message); }
    std::shared_ptr<AlertViewDelegate> delegate() const { return delegate_.lock(); }
    void setDelegate(std::weak_ptr<AlertViewDelegate> delegate) { delegate_ = std::move(delegate); }
    int addButtonWithTitle(std::string title);

    void show();
    // The alerts shown now, oldest first.
    static std::vector<std::shared_ptr<AlertView>> visibleAlerts();

  protected:
    void clicked(int index) override;
    void dismissed(int index) override;

  private:
    std::string message_;
    std::weak_ptr<AlertViewDelegate> delegate_;
};

class ActionSheet : public ModalPanel {
  public:
    static std::shared_ptr<ActionSheet> make(std::string title,
                                             std::weak_ptr<ActionSheetDelegate> delegate,
                                             std::optional<std::string> cancelButtonTitle,
                                             std::optional<std::string> destructiveButtonTitle,
                                             std::vector<std::string> otherButtonTitles = {});

    int destructiveButtonIndex() const { return destructiveIndex_; }  // -1 when none
    std::shared_ptr<ActionSheetDelegate> delegate() const { return delegate_.lock(); }
    void setDelegate(std::weak_ptr<ActionSheetDelegate> delegate) {
        delegate_ = std::move(delegate);
    }

    void showInView(View& view);
    // The view it was shown in, while that lives.
    std::shared_ptr<View> shownInView() const { return view_.lock(); }
    static std::vector<std::shared_ptr<ActionSheet>> visibleSheets();

  protected:
    void clicked(int index) override;
    void dismissed(int index) override;

  private:
    int destructiveIndex_ = -1;
    std::weak_ptr<ActionSheetDelegate> delegate_;
    std::weak_ptr<View> view_;
};

}  // namespace platform
