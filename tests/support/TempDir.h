#pragma once

#include <filesystem>

namespace testing_support {

// A fresh folder under the system's temporary folder, removed with its contents at the end.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }

  private:
    std::filesystem::path path_;
};

// Runs a Python 3 snippet with the system interpreter (which has `cryptography`); returns its
// standard output, or throws when it exits non-zero.
std::string runPython(const std::string& script, const std::string& input = {});

}  // namespace testing_support
