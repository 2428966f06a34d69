#include "platform/ui/GestureRecognizer.h"

#include "platform/ui/View.h"

namespace platform {

Point GestureRecognizer::locationInView(const View* view) const {
    return view ? view->convertPointFrom(lastLocation_, nullptr) : lastLocation_;
}

void GestureRecognizer::recognize(Point windowLocation) {
    lastLocation_ = windowLocation;
    if (action_) {
        auto action = action_;  // the action may drop this recognizer
        action(*this);
    }
}

}  // namespace platform
