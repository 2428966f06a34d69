// The one place where the storage classes report trouble: a console line.
#pragma once

#include <string_view>

namespace platform::detail {

void storageLog(std::string_view message);

}  // namespace platform::detail
