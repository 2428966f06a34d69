#include "platform/StorageLog.h"

#include <cstdio>
#include <string>

namespace platform::detail {

void storageLog(std::string_view message) {
    std::string line(message);
    line += '\n';
    std::fwrite(line.data(), 1, line.size(), stderr);
}

}  // namespace platform::detail
