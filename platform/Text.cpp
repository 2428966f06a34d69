#include "platform/Text.h"
#include "platform/Utf8.h"

#include <unicode/locid.h>
#include <unicode/regex.h>
#include <unicode/translit.h>
#include <unicode/ucnv.h>
#include <unicode/unistr.h>
#include <unicode/ustring.h>
#include <unicode/utext.h>
#include <unicode/utf16.h>
#include <unicode/utf8.h>

#include <algorithm>
#include <functional>

#include "platform/Format.h"

namespace platform::text {

namespace {

icu::UnicodeString fromUtf8(std::string_view text) {
    return icu::UnicodeString::fromUTF8(
        icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
}

std::string toUtf8(const icu::UnicodeString& text) {
    std::string out;
    text.toUTF8String(out);
    return out;
}

// Calls f(codePoint, offset) for every code point of the text; an ill-formed sequence comes as
// U+FFFD.
template <class F>
void forEachCodePoint(std::string_view text, F f) {
    const auto* s = reinterpret_cast<const uint8_t*>(text.data());
    const auto length = static_cast<int32_t>(text.size());
    int32_t i = 0;
    while (i < length) {
        int32_t start = i;
        UChar32 c;
        U8_NEXT(s, i, length, c);
        f(c < 0 ? 0xFFFD : c, static_cast<std::size_t>(start));
    }
}

// The transform is costly to make and not meant to be shared between threads: one prototype for
// the process, one clone per thread.
icu::Transliterator* asciiTransliterator() {
    static const icu::Transliterator* prototype = [] {
        UErrorCode status = U_ZERO_ERROR;
        icu::Transliterator* made = icu::Transliterator::createInstance(
            "Any-Latin; Latin-ASCII; [:^ASCII:] Remove", UTRANS_FORWARD, status);
        if (U_FAILURE(status)) {
            delete made;
            return static_cast<icu::Transliterator*>(nullptr);
        }
        return made;
    }();
    thread_local std::unique_ptr<icu::Transliterator> local(prototype ? prototype->clone()
                                                                      : nullptr);
    return local.get();
}

struct ConverterCloser {
    void operator()(UConverter* c) const { ucnv_close(c); }
};

UConverter* gb18030Converter() {
    thread_local std::unique_ptr<UConverter, ConverterCloser> converter([] {
        UErrorCode status = U_ZERO_ERROR;
        UConverter* c = ucnv_open("GB18030", &status);
        return U_FAILURE(status) ? nullptr : c;
    }());
    return converter.get();
}

// A text case-folded code point by code point, remembering where in the source each folded
// code point came from, so that a match among folded code points maps back to source bytes.
struct Folded {
    std::u32string codePoints;
    std::vector<std::size_t> sourceOffset;  // per folded code point
    std::vector<bool> startsSource;         // the first code point folded from its source one
};

Folded fold(std::string_view text) {
    Folded out;
    out.codePoints.reserve(text.size());
    forEachCodePoint(text, [&out](UChar32 c, std::size_t offset) {
        auto push = [&](UChar32 folded, bool first) {
            out.codePoints.push_back(static_cast<char32_t>(folded));
            out.sourceOffset.push_back(offset);
            out.startsSource.push_back(first);
        };
        if (c < 0x80) {
            push(c >= 'A' && c <= 'Z' ? c + 32 : c, true);
            return;
        }
        UChar source[2];
        int32_t sourceLength = 0;
        U16_APPEND_UNSAFE(source, sourceLength, c);
        UChar folded[8];
        UErrorCode status = U_ZERO_ERROR;
        int32_t n = u_strFoldCase(folded, 8, source, sourceLength, U_FOLD_CASE_DEFAULT, &status);
        if (U_FAILURE(status)) {
            push(c, true);
            return;
        }
        bool first = true;
        for (int32_t i = 0; i < n;) {
            UChar32 f;
            U16_NEXT(folded, i, n, f);
            push(f, first);
            first = false;
        }
    });
    return out;
}

}  // namespace

bool isValidUtf8(std::string_view text) {
    return utf8::isValid(text);
}

bool isAscii(std::string_view text) {
    return std::all_of(text.begin(), text.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

std::optional<std::string> transliterateToAscii(std::string_view text) {
    icu::Transliterator* transliterator = asciiTransliterator();
    if (transliterator == nullptr) {
        return std::nullopt;
    }
    icu::UnicodeString unicode = fromUtf8(text);
    transliterator->transliterate(unicode);
    return toUtf8(unicode);
}

std::size_t gb18030Length(std::string_view text) {
    if (isAscii(text)) {
        return text.size();
    }
    UConverter* converter = gb18030Converter();
    if (converter == nullptr) {
        return 0;
    }
    icu::UnicodeString unicode = fromUtf8(text);
    ucnv_resetFromUnicode(converter);
    UErrorCode status = U_ZERO_ERROR;
    int32_t n =
        ucnv_fromUChars(converter, nullptr, 0, unicode.getBuffer(), unicode.length(), &status);
    if (status != U_BUFFER_OVERFLOW_ERROR && U_FAILURE(status)) {
        return 0;
    }
    return static_cast<std::size_t>(n);
}

std::size_t utf16Length(std::string_view text) {
    std::size_t units = 0;
    forEachCodePoint(text, [&units](UChar32 c, std::size_t) { units += c > 0xFFFF ? 2 : 1; });
    return units;
}

std::string toLower(std::string_view text) {
    icu::UnicodeString unicode = fromUtf8(text);
    return toUtf8(unicode.toLower(icu::Locale::getRoot()));
}

std::string toUpper(std::string_view text) {
    icu::UnicodeString unicode = fromUtf8(text);
    return toUtf8(unicode.toUpper(icu::Locale::getRoot()));
}

std::weak_ordering compareCaseInsensitive(std::string_view a, std::string_view b) {
    int8_t order =
        fromUtf8(a).caseCompare(fromUtf8(b), U_FOLD_CASE_DEFAULT | U_COMPARE_CODE_POINT_ORDER);
    return order < 0   ? std::weak_ordering::less
           : order > 0 ? std::weak_ordering::greater
                       : std::weak_ordering::equivalent;
}

std::optional<Range> findCaseInsensitive(std::string_view text, std::string_view needle) {
    if (needle.empty() || text.empty()) {
        return std::nullopt;
    }
    const Folded hay = fold(text);
    const std::u32string pattern = fold(needle).codePoints;
    const std::u32string& cps = hay.codePoints;
    std::boyer_moore_horspool_searcher searcher(pattern.begin(), pattern.end());
    for (auto from = cps.begin();;) {
        auto [first, last] = searcher(from, cps.end());
        if (first == cps.end()) {
            return std::nullopt;
        }
        auto k = static_cast<std::size_t>(first - cps.begin());
        auto end = static_cast<std::size_t>(last - cps.begin());
        // A match must cover whole source characters: "ss" is in "ß", but not in half of it.
        if (hay.startsSource[k] && (end == cps.size() || hay.startsSource[end])) {
            std::size_t begin = hay.sourceOffset[k];
            std::size_t stop = end == cps.size() ? text.size() : hay.sourceOffset[end];
            return Range{begin, stop - begin};
        }
        from = first + 1;
    }
}

}  // namespace platform::text

namespace platform {

struct Regex::Compiled {
    std::unique_ptr<icu::RegexPattern> pattern;
};

namespace {

struct UTextCloser {
    void operator()(UText* t) const { utext_close(t); }
};

// A matcher over the UTF-8 text itself, so that ICU's native indexes are byte offsets.
struct Matching {
    std::unique_ptr<UText, UTextCloser> input;
    std::unique_ptr<icu::RegexMatcher> matcher;
};

std::optional<Matching> startMatching(const icu::RegexPattern& pattern, std::string_view text) {
    UErrorCode status = U_ZERO_ERROR;
    Matching m;
    m.input.reset(utext_openUTF8(nullptr, text.data(), static_cast<int64_t>(text.size()), &status));
    if (U_FAILURE(status)) {
        return std::nullopt;
    }
    m.matcher.reset(pattern.matcher(status));
    if (U_FAILURE(status) || !m.matcher) {
        return std::nullopt;
    }
    m.matcher->reset(m.input.get());
    return m;
}

std::optional<text::Range> currentRange(icu::RegexMatcher& matcher) {
    UErrorCode status = U_ZERO_ERROR;
    int64_t start = matcher.start64(status);
    int64_t end = matcher.end64(status);
    if (U_FAILURE(status)) {
        return std::nullopt;
    }
    return text::Range{static_cast<std::size_t>(start), static_cast<std::size_t>(end - start)};
}

}  // namespace

std::optional<Regex> Regex::compile(std::string_view pattern, unsigned options, Error* error) {
    UParseError where{};
    UErrorCode status = U_ZERO_ERROR;
    uint32_t flags = (options & kCaseInsensitive) ? UREGEX_CASE_INSENSITIVE : 0;
    std::unique_ptr<icu::RegexPattern> compiled(
        icu::RegexPattern::compile(text::fromUtf8(pattern), flags, where, status));
    if (U_FAILURE(status) || !compiled) {
        if (error) {
            *error = Error(
                kCocoaErrorDomain, 2048,
                Map{{kLocalizedDescriptionKey,
                     platform::format("The value \u201c%@\u201d is invalid.", pattern)},
                    {kLocalizedFailureReasonErrorKey,
                     platform::format("%s at offset %d", u_errorName(status), where.offset)}});
        }
        return std::nullopt;
    }
    auto holder = std::make_shared<Compiled>();
    holder->pattern = std::move(compiled);
    return Regex(std::string(pattern), std::move(holder));
}

bool Regex::matches(std::string_view text) const {
    auto m = startMatching(*compiled_->pattern, text);
    if (!m) {
        return false;
    }
    UErrorCode status = U_ZERO_ERROR;
    bool whole = m->matcher->matches(status);
    return U_SUCCESS(status) && whole;
}

std::optional<text::Range> Regex::find(std::string_view text, std::size_t from) const {
    if (from > text.size()) {
        return std::nullopt;
    }
    auto m = startMatching(*compiled_->pattern, text);
    if (!m) {
        return std::nullopt;
    }
    UErrorCode status = U_ZERO_ERROR;
    if (!m->matcher->find(static_cast<int64_t>(from), status) || U_FAILURE(status)) {
        return std::nullopt;
    }
    return currentRange(*m->matcher);
}

std::vector<text::Range> Regex::findAll(std::string_view text) const {
    std::vector<text::Range> found;
    auto m = startMatching(*compiled_->pattern, text);
    if (!m) {
        return found;
    }
    UErrorCode status = U_ZERO_ERROR;
    while (m->matcher->find(status) && U_SUCCESS(status)) {
        if (auto range = currentRange(*m->matcher)) {
            found.push_back(*range);
        }
    }
    return found;
}

std::optional<std::string> Regex::replaceAll(std::string_view text,
                                             std::string_view replacementTemplate) const {
    auto m = startMatching(*compiled_->pattern, text);
    if (!m) {
        return std::nullopt;
    }
    UErrorCode status = U_ZERO_ERROR;
    icu::UnicodeString result = m->matcher->replaceAll(text::fromUtf8(replacementTemplate), status);
    if (U_FAILURE(status)) {
        return std::nullopt;
    }
    return text::toUtf8(result);
}

}  // namespace platform
