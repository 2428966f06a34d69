#include "platform/Error.h"

namespace platform {

std::string Error::localizedDescription() const {
    if (const Value* text = userInfo_.find(kLocalizedDescriptionKey); text && text->isString()) {
        return *text->string();
    }
    return "The operation couldn\u2019t be completed. (" + domain_ + " error " +
           std::to_string(code_) + ".)";
}

std::string Error::localizedFailureReason() const {
    return userInfo_[kLocalizedFailureReasonErrorKey].stringValue();
}

std::string Error::description() const {
    std::string text = "Error Domain=" + domain_ + " Code=" + std::to_string(code_) + " \"" +
                       localizedDescription() + "\"";
    if (!userInfo_.empty()) {
        text += " UserInfo=" + Value(userInfo_).description();
    }
    return text;
}

}  // namespace platform
