// Where the views post the platform notifications they send (keyboard, text changes).
#pragma once

#include "platform/Value.h"

namespace platform::notifications {

// Posts on the process's notification centre, synchronously.
void post(const char* name, const void* sender, Map userInfo);

}  // namespace platform::notifications
