#include "platform/ui/UiNotifications.h"

namespace platform::notifications {

void post(const char*, const void*, Map) {}

}  // namespace platform::notifications
