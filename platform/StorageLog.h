// The one place where the storage classes report trouble. It writes to standard error for now;
// it will forward to the platform log once that exists, without touching its callers.
#pragma once

#include <string_view>

namespace platform::detail {

void storageLog(std::string_view message);

}  // namespace platform::detail
