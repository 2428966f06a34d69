#include "tests/support/TempDir.h"

#include <unistd.h>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>

namespace testing_support {

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "rzsdk-XXXXXX").string();
    if (!mkdtemp(pattern.data())) {
        throw std::runtime_error("mkdtemp failed");
    }
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

std::string runPython(const std::string& script, const std::string& input) {
    TempDir dir;
    auto scriptPath = dir.path() / "peer.py";
    auto inputPath = dir.path() / "input";
    std::ofstream(scriptPath) << script;
    std::ofstream(inputPath, std::ios::binary) << input;
    std::string command = "/usr/bin/python3 " + scriptPath.string() + " < " + inputPath.string();
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) {
        throw std::runtime_error("cannot start python3");
    }
    std::string output;
    std::array<char, 4096> buffer;
    std::size_t n;
    while ((n = fread(buffer.data(), 1, buffer.size(), pipe)) > 0) {
        output.append(buffer.data(), n);
    }
    int status = pclose(pipe);
    if (status != 0) {
        throw std::runtime_error("python3 peer failed: " + output);
    }
    return output;
}

std::string hexOf(std::string_view bytes) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string out;
    out.reserve(bytes.size() * 2);
    for (unsigned char c : bytes) {
        out += kHex[c >> 4];
        out += kHex[c & 0x0F];
    }
    return out;
}

std::string hexOf(const std::vector<std::uint8_t>& bytes) {
    return hexOf(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        out.push_back(line);
    }
    return out;
}

}  // namespace testing_support
