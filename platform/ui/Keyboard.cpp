#include "platform/ui/Keyboard.h"

#include "platform/NoDestructor.h"
#include "platform/NotificationCenter.h"
#include "platform/ui/Application.h"
#include "platform/ui/Screen.h"
#include "platform/ui/Window.h"

namespace platform {

Keyboard& Keyboard::shared() {
    static NoDestructor<Keyboard> keyboard;
    return *keyboard;
}

Rect Keyboard::frame() const {
    Rect screen = Screen::main().bounds();
    double height = isLandscape(Application::shared().statusBarOrientation()) ? 162 : 216;
    return {0, screen.size.height - height, screen.size.width, height};
}

TextInput* Keyboard::input() const {
    auto key = Application::shared().keyWindow();
    auto responder = key ? key->firstResponder() : nullptr;
    return dynamic_cast<TextInput*>(responder.get());
}

void Keyboard::type(std::string_view text) {
    if (TextInput* in = input()) {
        in->insertText(text);
    }
}

void Keyboard::deleteBackward() {
    if (TextInput* in = input()) {
        in->deleteBackward();
    }
}

void Keyboard::pressReturn() {
    if (TextInput* in = input()) {
        in->returnKeyPressed();
    }
}

void Keyboard::post(const char* name, const Rect& begin, const Rect& end) const {
    Map info;
    info.set(kKeyboardFrameBeginUserInfoKey, toValue(begin));
    info.set(kKeyboardFrameEndUserInfoKey, toValue(end));
    info.set(kKeyboardAnimationDurationUserInfoKey, kAnimationDuration);
    NotificationCenter::defaultCenter().post(name, nullptr, std::move(info));
}

void Keyboard::update() {
    if (transfers_ > 0) {
        return;
    }
    auto key = Application::shared().keyWindow();
    auto responder = key ? key->firstResponder() : nullptr;
    bool wanted = responder && responder->showsKeyboard();
    Rect shown = frame();
    Rect below = shown.offsetBy(0, shown.size.height);
    if (wanted) {
        // Announced again when another input takes over or the screen turns, as the
        // platform does.
        bool wasVisible = visible_;
        if (wasVisible && lastResponder_.lock() == responder && lastFrame_ == shown) {
            return;
        }
        lastResponder_ = responder;
        lastFrame_ = shown;
        post(kKeyboardWillShowNotification, wasVisible ? shown : below, shown);
        visible_ = true;
        post(kKeyboardDidShowNotification, wasVisible ? shown : below, shown);
    } else if (visible_) {
        lastResponder_.reset();
        post(kKeyboardWillHideNotification, shown, below);
        visible_ = false;
        post(kKeyboardDidHideNotification, shown, below);
    }
}

void Keyboard::reset() {
    visible_ = false;
    lastResponder_.reset();
    transfers_ = 0;
}

Keyboard::Transfer::Transfer() {
    ++Keyboard::shared().transfers_;
}
Keyboard::Transfer::~Transfer() {
    --Keyboard::shared().transfers_;
}

}  // namespace platform
