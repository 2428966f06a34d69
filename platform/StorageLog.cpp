#include "platform/StorageLog.h"

#include "platform/Log.h"

namespace platform::detail {

void storageLog(std::string_view message) {
    consoleLog("%@", std::string(message));
}

}  // namespace platform::detail
