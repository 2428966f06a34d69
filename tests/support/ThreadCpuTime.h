#pragma once

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>

namespace testing_support {

// CPU seconds, user and system, that the process's thread of that name (as the kernel keeps
// it: its first 15 bytes) has used so far; nothing while there is none.
inline std::optional<double> threadCpuSeconds(const std::string& name) {
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
        std::ifstream comm(task.path() / "comm");
        std::string found;
        std::getline(comm, found);
        if (found != name.substr(0, 15)) {
            continue;
        }
        std::ifstream stat(task.path() / "stat");
        const std::string text((std::istreambuf_iterator<char>(stat)),
                               std::istreambuf_iterator<char>());
        // The fields after the name, which may hold anything but ends at the last ')'.
        std::istringstream fields(text.substr(text.rfind(')') + 2));
        std::string skipped;
        for (int field = 3; field < 14; ++field) {
            fields >> skipped;
        }
        double user = 0, system = 0;
        fields >> user >> system;
        return (user + system) / static_cast<double>(sysconf(_SC_CLK_TCK));
    }
    return std::nullopt;
}

}  // namespace testing_support
