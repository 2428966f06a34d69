// Text services on ICU, for UTF-8 text: transliteration to ASCII, lengths in other encodings,
// case mapping, case-insensitive comparison and search, and regular expressions.
//
// Text that is not valid UTF-8 is read with U+FFFD in place of each ill-formed sequence, never
// rejected; offsets and lengths handed back are byte positions in the text given.
#pragma once

#include <compare>
#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Error.h"

namespace platform::text {

// A span of a UTF-8 text, in bytes.
struct Range {
    std::size_t offset = 0;
    std::size_t length = 0;

    bool operator==(const Range&) const = default;
};

bool isValidUtf8(std::string_view text);
bool isAscii(std::string_view text);

// Any script written in Latin letters, accents dropped, and what still is not ASCII removed:
// "北京 café" gives "bei jing cafe". nullopt only when the transform cannot be made.
std::optional<std::string> transliterateToAscii(std::string_view text);

// The number of bytes the text takes in GB 18030, and of 16-bit units in UTF-16.
std::size_t gb18030Length(std::string_view text);
std::size_t utf16Length(std::string_view text);

// Full Unicode case mapping, independent of the user's language.
std::string toLower(std::string_view text);
std::string toUpper(std::string_view text);

// Order of the case-folded texts, by code point.
std::weak_ordering compareCaseInsensitive(std::string_view a, std::string_view b);

// Where the needle first occurs in the text, letter case ignored (full case folding, so "STRASSE"
// is found in "Straße"). An empty needle is found nowhere.
std::optional<Range> findCaseInsensitive(std::string_view text, std::string_view needle);
inline bool containsCaseInsensitive(std::string_view text, std::string_view needle) {
    return findCaseInsensitive(text, needle).has_value();
}

}  // namespace platform::text

namespace platform {

// A compiled ICU regular expression. Compiling is the expensive part; a Regex is immutable and
// may be used from several threads at once.
class Regex {
  public:
    enum Options : unsigned {
        kNone = 0,
        kCaseInsensitive = 1,
    };

    // nullopt when the pattern does not compile; `error`, when given, then says why (code 2048
    // of the platform's general error domain, with ICU's reason and the offending offset).
    static std::optional<Regex> compile(std::string_view pattern, unsigned options = kNone,
                                        Error* error = nullptr);

    // True when the whole text matches.
    bool matches(std::string_view text) const;
    // The first match at or after the byte offset.
    std::optional<text::Range> find(std::string_view text, std::size_t from = 0) const;
    std::vector<text::Range> findAll(std::string_view text) const;
    // Every match replaced by the template, in which "$n" stands for group n and "\" escapes
    // the next character.
    // nullopt when the template names a group the pattern does not have.
    std::optional<std::string> replaceAll(std::string_view text,
                                          std::string_view replacementTemplate) const;

    const std::string& pattern() const { return pattern_; }

  private:
    struct Compiled;
    Regex(std::string pattern, std::shared_ptr<const Compiled> compiled)
        : pattern_(std::move(pattern)), compiled_(std::move(compiled)) {}

    std::string pattern_;
    std::shared_ptr<const Compiled> compiled_;
};

}  // namespace platform
