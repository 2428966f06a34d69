#include "platform/ui/Alert.h"

#include <algorithm>

#include "platform/NoDestructor.h"
#include "platform/ui/View.h"

namespace platform {

namespace {

std::vector<std::shared_ptr<ModalPanel>>& shown() {
    static NoDestructor<std::vector<std::shared_ptr<ModalPanel>>> panels;
    return *panels;
}

template <class T>
std::vector<std::shared_ptr<T>> shownOf() {
    std::vector<std::shared_ptr<T>> out;
    for (auto& panel : shown()) {
        if (auto typed = std::dynamic_pointer_cast<T>(panel)) {
            out.push_back(std::move(typed));
        }
    }
    return out;
}

}  // namespace

// ---- ModalPanel ------------------------------------------------------------------------

std::string ModalPanel::buttonTitleAtIndex(int index) const {
    if (index < 0 || index >= numberOfButtons()) {
        return {};
    }
    return buttons_[static_cast<std::size_t>(index)];
}

void ModalPanel::present() {
    if (visible_) {
        return;
    }
    visible_ = true;
    shown().push_back(shared_from_this());
}

bool ModalPanel::pressButtonAtIndex(int index) {
    if (!visible_ || index < 0 || index >= numberOfButtons()) {
        return false;
    }
    auto keep = shared_from_this();
    clicked(index);
    dismissWithClickedButtonIndex(index, true);
    return true;
}

bool ModalPanel::pressButtonWithTitle(const std::string& title) {
    auto it = std::find(buttons_.begin(), buttons_.end(), title);
    return it != buttons_.end() && pressButtonAtIndex(static_cast<int>(it - buttons_.begin()));
}

void ModalPanel::dismissWithClickedButtonIndex(int index, bool) {
    if (!visible_) {
        return;
    }
    auto keep = shared_from_this();
    visible_ = false;
    auto& panels = shown();
    panels.erase(std::remove(panels.begin(), panels.end(), keep), panels.end());
    dismissed(index);
}

std::vector<std::shared_ptr<ModalPanel>> ModalPanel::visiblePanels() {
    return shown();
}

void ModalPanel::dismissAll() {
    auto panels = std::move(shown());
    shown().clear();
    for (auto& panel : panels) {
        panel->visible_ = false;
    }
}

// ---- AlertView -------------------------------------------------------------------------

std::shared_ptr<AlertView> AlertView::make(std::string title, std::string message,
                                           std::weak_ptr<AlertViewDelegate> delegate,
                                           std::optional<std::string> cancelButtonTitle,
                                           std::vector<std::string> otherButtonTitles) {
    std::shared_ptr<AlertView> alert(new AlertView());
    alert->title_ = std::move(title);
    alert->message_ = std::move(message);
    alert->delegate_ = std::move(delegate);
    if (cancelButtonTitle) {
        alert->cancelIndex_ = 0;
        alert->buttons_.push_back(std::move(*cancelButtonTitle));
    }
    for (auto& other : otherButtonTitles) {
        alert->addButtonWithTitle(std::move(other));
    }
    return alert;
}

int AlertView::addButtonWithTitle(std::string title) {
    buttons_.push_back(std::move(title));
    int index = numberOfButtons() - 1;
    if (firstOtherIndex_ < 0 && index != cancelIndex_) {
        firstOtherIndex_ = index;
    }
    return index;
}

void AlertView::show() {
    present();
}

std::vector<std::shared_ptr<AlertView>> AlertView::visibleAlerts() {
    return shownOf<AlertView>();
}

void AlertView::clicked(int index) {
    if (auto d = delegate()) {
        d->alertViewClickedButtonAtIndex(*this, index);
    }
}

void AlertView::dismissed(int index) {
    if (auto d = delegate()) {
        d->alertViewDidDismissWithButtonIndex(*this, index);
    }
}

// ---- ActionSheet -----------------------------------------------------------------------

std::shared_ptr<ActionSheet> ActionSheet::make(std::string title,
                                               std::weak_ptr<ActionSheetDelegate> delegate,
                                               std::optional<std::string> cancelButtonTitle,
                                               std::optional<std::string> destructiveButtonTitle,
                                               std::vector<std::string> otherButtonTitles) {
    std::shared_ptr<ActionSheet> sheet(new ActionSheet());
    sheet->title_ = std::move(title);
    sheet->delegate_ = std::move(delegate);
    if (destructiveButtonTitle) {
        sheet->destructiveIndex_ = 0;
        sheet->buttons_.push_back(std::move(*destructiveButtonTitle));
    }
    if (!otherButtonTitles.empty()) {
        sheet->firstOtherIndex_ = sheet->numberOfButtons();
    }
    for (auto& other : otherButtonTitles) {
        sheet->buttons_.push_back(std::move(other));
    }
    if (cancelButtonTitle) {
        sheet->cancelIndex_ = sheet->numberOfButtons();
        sheet->buttons_.push_back(std::move(*cancelButtonTitle));
    }
    return sheet;
}

void ActionSheet::showInView(View& view) {
    view_ = view.weak_from_this();
    present();
}

std::vector<std::shared_ptr<ActionSheet>> ActionSheet::visibleSheets() {
    return shownOf<ActionSheet>();
}

void ActionSheet::clicked(int index) {
    if (auto d = delegate()) {
        d->actionSheetClickedButtonAtIndex(*this, index);
    }
}

void ActionSheet::dismissed(int index) {
    if (auto d = delegate()) {
        d->actionSheetDidDismissWithButtonIndex(*this, index);
    }
}

}  // namespace platform
