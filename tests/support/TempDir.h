#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

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

// What the peers read and print: bytes as lowercase hexadecimal, output split into lines.
std::string hexOf(std::string_view bytes);
std::string hexOf(const std::vector<std::uint8_t>& bytes);
std::vector<std::string> lines(const std::string& text);

}  // namespace testing_support
