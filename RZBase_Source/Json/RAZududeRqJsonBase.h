// What the JSON parser and writer share: the nesting limit and the trace of errors of the
// last call.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/Error.h"

inline constexpr const char* kRAZududeJsonErrorDomain = "org.razudude.JSON.ErrorDomain";

enum RAZududeJsonErrorCode : unsigned {
    kRAZududeJsonErrorUnsupported = 1,  // a value the writer cannot write
    kRAZududeJsonErrorBadNumber = 2,
    kRAZududeJsonErrorSyntax = 3,
    kRAZududeJsonErrorTopLevel = 4,          // a value that may not stand at the top
    kRAZududeJsonErrorControlCharacter = 5,  // raw control character in a string
    kRAZududeJsonErrorUnicode = 6,           // bad \u escape or broken UTF-8
    kRAZududeJsonErrorTooDeep = 7,
    kRAZududeJsonErrorIllegalEscape = 8,
    kRAZududeJsonErrorTrailingComma = 9,
    kRAZududeJsonErrorGarbage = 10,  // text after the value
    kRAZududeJsonErrorEndOfInput = 11,
    kRAZududeJsonErrorNilInput = 12,
};

class RAZududeRqJsonBase {
  public:
    static constexpr std::uint64_t kDefaultMaxDepth = 512;
    // Reading and writing recurse once per level, and so do the destruction and copy of the
    // values: nesting is never allowed beyond this, whatever maxDepth says.
    static constexpr std::uint64_t kDepthCeiling = 1024;

    // The errors of the last call, innermost first; each one after the first carries the
    // one before it as its underlying error.
    const std::vector<platform::Error>& errorTrace() const { return errorTrace_; }
    void addErrorWithCode(unsigned code, std::string description);
    void clearErrorTrace() { errorTrace_.clear(); }

    // 0 asks for no limit of its own: the ceiling still holds.
    std::uint64_t maxDepth() const { return maxDepth_; }
    void setMaxDepth(std::uint64_t maxDepth) { maxDepth_ = maxDepth; }

  protected:
    RAZududeRqJsonBase() = default;
    ~RAZududeRqJsonBase() = default;

    // One level deeper; false (with the error traced) when that is too deep.
    bool enterNesting() {
        if (++depth_ > depthLimit_) {
            addErrorWithCode(kRAZududeJsonErrorTooDeep, "Nested too deep");
            return false;
        }
        return true;
    }
    void leaveNesting() { --depth_; }
    std::uint64_t depth() const { return depth_; }
    void resetNesting() {
        depth_ = 0;
        depthLimit_ = maxDepth_ == 0 || maxDepth_ > kDepthCeiling ? kDepthCeiling : maxDepth_;
    }

  private:
    std::vector<platform::Error> errorTrace_;
    std::uint64_t maxDepth_ = kDefaultMaxDepth;
    std::uint64_t depth_ = 0;
    std::uint64_t depthLimit_ = kDefaultMaxDepth;
};
