// The on-screen keyboard. It is up while the first responder of the key window is a text
// input, and it announces itself with the platform's notifications: will show / did show with
// its begin and end frames (screen coordinates) and the animation duration, will hide / did
// hide likewise. Tests type through it into the first responder.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "platform/graphics/Geometry.h"

namespace platform {

class View;

inline constexpr const char* kKeyboardWillShowNotification = "UIKeyboardWillShowNotification";
inline constexpr const char* kKeyboardDidShowNotification = "UIKeyboardDidShowNotification";
inline constexpr const char* kKeyboardWillHideNotification = "UIKeyboardWillHideNotification";
inline constexpr const char* kKeyboardDidHideNotification = "UIKeyboardDidHideNotification";
// User-information keys; the frames are rectangles as toValue(Rect) gives them.
inline constexpr const char* kKeyboardFrameBeginUserInfoKey = "UIKeyboardFrameBeginUserInfoKey";
inline constexpr const char* kKeyboardFrameEndUserInfoKey = "UIKeyboardFrameEndUserInfoKey";
inline constexpr const char* kKeyboardAnimationDurationUserInfoKey =
    "UIKeyboardAnimationDurationUserInfoKey";

// What a text input does with keys; text views and text fields take them.
class TextInput {
  public:
    virtual ~TextInput() = default;
    virtual void insertText(std::string_view text) = 0;
    virtual void deleteBackward() = 0;
    virtual void returnKeyPressed() {}
};

class Keyboard {
  public:
    static Keyboard& shared();

    bool isVisible() const { return visible_; }
    // Where the keyboard is (or would be) on screen, at the bottom: 216 points high in
    // portrait, 162 in landscape.
    Rect frame() const;
    static constexpr double kAnimationDuration = 0.25;

    // The user types into the first responder of the key window; nothing happens without one.
    void type(std::string_view text);
    void deleteBackward();
    void pressReturn();

    // Brings the keyboard up or down to match the key window's first responder.
    void update();
    void reset();

    // While one text input hands the first responder to another, the keyboard stays up.
    class Transfer {
      public:
        Transfer();
        ~Transfer();
        Transfer(const Transfer&) = delete;
        Transfer& operator=(const Transfer&) = delete;
    };

  private:
    TextInput* input() const;
    void post(const char* name, const Rect& begin, const Rect& end) const;

    bool visible_ = false;
    int transfers_ = 0;
    std::weak_ptr<View> lastResponder_;
    Rect lastFrame_;
};

}  // namespace platform
