// Alerts and action sheets with their button order, and text input: the first responder, the
// keyboard, typing into text views and search bars.
#include "platform/NotificationCenter.h"
#include "platform/ui/Alert.h"
#include "platform/ui/Keyboard.h"
#include "platform/ui/SearchBar.h"
#include "platform/ui/TextView.h"
#include "tests/platform_ui/UiTest.h"

using namespace platform;

namespace {

class Listener : public AlertViewDelegate, public ActionSheetDelegate {
  public:
    std::vector<std::string> heard;
    void alertViewClickedButtonAtIndex(AlertView& alert, int index) override {
        heard.push_back("alert " + std::to_string(alert.tag()) + " clicked " +
                        std::to_string(index));
        EXPECT_TRUE(alert.isVisible());  // still up while the click is told
    }
    void alertViewDidDismissWithButtonIndex(AlertView&, int index) override {
        heard.push_back("alert dismissed " + std::to_string(index));
    }
    void actionSheetClickedButtonAtIndex(ActionSheet& sheet, int index) override {
        heard.push_back("sheet " + std::to_string(sheet.tag()) + " clicked " +
                        std::to_string(index));
    }
};

class InputTest : public ui_test::UiTest {};

TEST_F(InputTest, AlertButtonsPutCancelFirstAndPressesReachTheDelegate) {
    auto listener = std::make_shared<Listener>();
    auto alert = AlertView::make("授权失败", "服务器繁忙", listener, "好", {"重试", "详情"});
    alert->setTag(5027);
    EXPECT_EQ(alert->buttonTitles(), (std::vector<std::string>{"好", "重试", "详情"}));
    EXPECT_EQ(alert->cancelButtonIndex(), 0);
    EXPECT_EQ(alert->firstOtherButtonIndex(), 1);
    EXPECT_FALSE(alert->pressButtonAtIndex(1));  // not shown yet

    alert->show();
    ASSERT_EQ(AlertView::visibleAlerts().size(), 1u);
    EXPECT_FALSE(alert->pressButtonAtIndex(3));
    EXPECT_TRUE(alert->pressButtonAtIndex(1));
    EXPECT_EQ(listener->heard,
              (std::vector<std::string>{"alert 5027 clicked 1", "alert dismissed 1"}));
    EXPECT_TRUE(AlertView::visibleAlerts().empty());

    auto noCancel = AlertView::make("", "分享内容为空", {}, std::nullopt, {"好"});
    EXPECT_EQ(noCancel->cancelButtonIndex(), -1);
    EXPECT_EQ(noCancel->firstOtherButtonIndex(), 0);
}

TEST_F(InputTest, ActionSheetsPutDestructiveFirstAndCancelLast) {
    auto listener = std::make_shared<Listener>();
    auto window = keyWindow();
    auto sheet = ActionSheet::make("", listener, "取消", "删除图片");
    EXPECT_EQ(sheet->buttonTitles(), (std::vector<std::string>{"删除图片", "取消"}));
    EXPECT_EQ(sheet->destructiveButtonIndex(), 0);
    EXPECT_EQ(sheet->cancelButtonIndex(), 1);
    auto full = ActionSheet::make("t", {}, "c", "d", {"x", "y"});
    EXPECT_EQ(full->buttonTitles(), (std::vector<std::string>{"d", "x", "y", "c"}));
    EXPECT_EQ(full->firstOtherButtonIndex(), 1);
    auto plain = ActionSheet::make("t", {}, "c", std::nullopt);
    EXPECT_EQ(plain->destructiveButtonIndex(), -1);
    EXPECT_EQ(plain->cancelButtonIndex(), 0);

    sheet->setTag(11);
    sheet->showInView(*window);
    EXPECT_EQ(sheet->shownInView(), window);
    EXPECT_TRUE(sheet->pressButtonWithTitle("删除图片"));
    EXPECT_EQ(listener->heard, (std::vector<std::string>{"sheet 11 clicked 0"}));
    EXPECT_TRUE(ActionSheet::visibleSheets().empty());
}

class Editor : public TextViewDelegate, public SearchBarDelegate {
  public:
    bool allowEditing = true;
    std::vector<std::string> heard;
    bool textViewShouldBeginEditing(TextView&) override {
        heard.push_back("should begin");
        return allowEditing;
    }
    void textViewDidBeginEditing(TextView&) override { heard.push_back("began"); }
    void textViewDidChange(TextView& view) override { heard.push_back("changed " + view.text()); }
    void textViewDidEndEditing(TextView&) override { heard.push_back("ended"); }
    void searchBarTextDidChange(SearchBar&, const std::string& text) override {
        heard.push_back("search " + text);
    }
    void searchBarSearchButtonClicked(SearchBar& bar) override {
        heard.push_back("search button");
        bar.resignFirstResponder();
    }
};

TEST_F(InputTest, TextViewTakesTheKeyboardAsFirstResponderAndTypingReachesItsDelegate) {
    auto editor = std::make_shared<Editor>();
    auto text = std::make_shared<TextView>(Rect{0, 0, 320, 200});
    text->setDelegate(editor);
    text->setText("分享");                       // by code: nobody hears of it
    EXPECT_FALSE(text->becomeFirstResponder());  // not in a window
    auto window = keyWindow();
    window->addSubview(text);

    editor->allowEditing = false;
    EXPECT_FALSE(text->becomeFirstResponder());
    EXPECT_FALSE(Keyboard::shared().isVisible());
    editor->allowEditing = true;
    EXPECT_TRUE(text->becomeFirstResponder());
    EXPECT_TRUE(text->isFirstResponder());
    EXPECT_TRUE(Keyboard::shared().isVisible());
    EXPECT_EQ(Keyboard::shared().frame(), (Rect{0, 352, 320, 216}));

    Keyboard::shared().type("好");
    Keyboard::shared().deleteBackward();
    Keyboard::shared().type("!");
    EXPECT_EQ(text->text(), "分享!");
    EXPECT_EQ(editor->heard,
              (std::vector<std::string>{"should begin", "should begin", "began", "changed 分享好",
                                        "changed 分享", "changed 分享!"}));

    // Removing the view from the window gives up the first responder and the keyboard.
    editor->heard.clear();
    text->removeFromSuperview();
    EXPECT_FALSE(Keyboard::shared().isVisible());
    EXPECT_EQ(editor->heard, (std::vector<std::string>{"ended"}));
}

TEST_F(InputTest, KeyboardAndTextChangesAreAnnouncedWithTheirFramesAndSender) {
    std::vector<Notification> heard;
    auto& centre = NotificationCenter::defaultCenter();
    auto record = [&](const Notification& n) { heard.push_back(n); };
    ObserverToken show = centre.addObserver(kKeyboardWillShowNotification, nullptr, record);
    ObserverToken hide = centre.addObserver(kKeyboardWillHideNotification, nullptr, record);
    auto window = keyWindow();
    auto text = std::make_shared<TextView>(Rect{0, 0, 320, 200});
    auto other = std::make_shared<TextView>(Rect{0, 200, 320, 200});
    window->addSubview(text);
    window->addSubview(other);
    ObserverToken changes =
        centre.addObserver(kTextViewTextDidChangeNotification, text.get(), record);

    window->tapView(*text);
    ASSERT_EQ(heard.size(), 1u);
    EXPECT_EQ(heard[0].name, kKeyboardWillShowNotification);
    EXPECT_EQ(rectFromValue(heard[0].userInfo[kKeyboardFrameEndUserInfoKey]),
              (Rect{0, 352, 320, 216}));
    EXPECT_EQ(rectFromValue(heard[0].userInfo[kKeyboardFrameBeginUserInfoKey]),
              (Rect{0, 568, 320, 216}));
    EXPECT_DOUBLE_EQ(heard[0].userInfo[kKeyboardAnimationDurationUserInfoKey].doubleValue(),
                     Keyboard::kAnimationDuration);
    text->becomeFirstResponder();  // already: nothing new
    EXPECT_EQ(heard.size(), 1u);

    Keyboard::shared().type("a");
    ASSERT_EQ(heard.size(), 2u);
    EXPECT_EQ(heard[1].name, kTextViewTextDidChangeNotification);
    EXPECT_EQ(heard[1].object, text.get());
    text->setText("by code");  // not announced
    EXPECT_EQ(heard.size(), 2u);

    // Another input takes over: the keyboard is announced again, never hidden between.
    other->becomeFirstResponder();
    ASSERT_EQ(heard.size(), 3u);
    EXPECT_EQ(heard[2].name, kKeyboardWillShowNotification);
    EXPECT_EQ(rectFromValue(heard[2].userInfo[kKeyboardFrameBeginUserInfoKey]),
              (Rect{0, 352, 320, 216}));

    // Turning the screen announces the landscape keyboard.
    EXPECT_TRUE(Application::shared().rotateTo(kOrientationLandscapeRight));
    ASSERT_EQ(heard.size(), 4u);
    EXPECT_EQ(rectFromValue(heard[3].userInfo[kKeyboardFrameEndUserInfoKey]),
              (Rect{0, 158, 568, 162}));
    window->endEditing(true);
    ASSERT_EQ(heard.size(), 5u);
    EXPECT_EQ(heard[4].name, kKeyboardWillHideNotification);
    EXPECT_FALSE(Keyboard::shared().isVisible());
}

TEST_F(InputTest, TappingASearchFieldStartsEditingAndReturnSearches) {
    auto editor = std::make_shared<Editor>();
    auto window = keyWindow();
    auto text = std::make_shared<TextView>(Rect{0, 100, 320, 100});
    auto search = std::make_shared<SearchBar>(Rect{0, 0, 320, 50});
    search->setDelegate(editor);
    window->addSubview(text);
    window->addSubview(search);
    search->layoutIfNeeded();
    search->searchField()->setBackgroundColor(Color::white());
    search->backgroundView()->removeFromSuperview();

    EXPECT_TRUE(text->becomeFirstResponder());
    window->tapView(*search->searchField());
    EXPECT_TRUE(search->searchField()->isFirstResponder());
    EXPECT_FALSE(text->isFirstResponder());
    EXPECT_TRUE(Keyboard::shared().isVisible());  // it stayed up between the two

    Keyboard::shared().type("Li");
    Keyboard::shared().pressReturn();
    EXPECT_EQ(search->text(), "Li");
    EXPECT_EQ(editor->heard, (std::vector<std::string>{"search Li", "search button"}));
    EXPECT_FALSE(Keyboard::shared().isVisible());
    Keyboard::shared().type("ignored: nobody is first responder");
    EXPECT_EQ(search->text(), "Li");
    search->setText("");
    EXPECT_EQ(editor->heard.size(), 2u);
}

}  // namespace
