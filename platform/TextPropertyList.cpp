#include "platform/TextPropertyList.h"
#include "platform/Utf8.h"

#include "platform/Files.h"
#include "platform/PropertyList.h"

namespace platform::detail {

namespace {

Error corrupt(const std::string& message) {
    return Error(kCocoaErrorDomain, PropertyList::kReadCorruptError,
                 Map{{kLocalizedDescriptionKey, message}});
}

bool isBareChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
           c == '$' || c == '+' || c == '/' || c == ':' || c == '.' || c == '-';
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

class Parser {
  public:
    explicit Parser(std::string_view text) : text_(text) {}

    std::optional<Value> wholeValue() {
        if (!skipBlank()) {
            return std::nullopt;
        }
        if (atEnd()) {
            return fail("the property list is empty");
        }
        auto value = parseValue(0);
        if (!value || !skipBlank()) {
            return std::nullopt;
        }
        if (!atEnd()) {
            return fail("unexpected text after the property list");
        }
        return value;
    }

    // The body of a dictionary without braces, up to the end of the text.
    std::optional<Map> dictionaryBody(bool keyAloneAllowed) {
        Map entries;
        if (!parseEntries(entries, /*depth=*/1, /*closing=*/0, keyAloneAllowed)) {
            return std::nullopt;
        }
        return entries;
    }

    const std::string& message() const { return message_; }
    std::size_t position() const { return failedAt_; }

  private:
    bool atEnd() const { return pos_ >= text_.size(); }
    char peek() const { return text_[pos_]; }

    std::nullopt_t fail(const std::string& what) {
        if (message_.empty()) {
            std::size_t line = 1;
            for (std::size_t i = 0; i < pos_ && i < text_.size(); ++i) {
                line += text_[i] == '\n';
            }
            message_ = what + " (line " + std::to_string(line) + ")";
            failedAt_ = pos_;
        }
        return std::nullopt;
    }

    // Skips white space and comments; false on a comment that never ends.
    bool skipBlank() {
        while (!atEnd()) {
            char c = peek();
            if (c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v') {
                ++pos_;
            } else if (c == '/' && pos_ + 1 < text_.size() && text_[pos_ + 1] == '/') {
                while (!atEnd() && peek() != '\n' && peek() != '\r') {
                    ++pos_;
                }
            } else if (c == '/' && pos_ + 1 < text_.size() && text_[pos_ + 1] == '*') {
                std::size_t end = text_.find("*/", pos_ + 2);
                if (end == std::string_view::npos) {
                    fail("a comment is not closed");
                    return false;
                }
                pos_ = end + 2;
            } else {
                break;
            }
        }
        return true;
    }

    // `depth` counts the arrays and dictionaries around the value.
    std::optional<Value> parseValue(int depth) {
        if (atEnd()) {
            return fail("a value is missing");
        }
        if ((peek() == '{' || peek() == '(') && depth >= PropertyList::kMaxDepth) {
            return fail("the property list nests too deeply");
        }
        switch (peek()) {
            case '{': {
                ++pos_;
                Map entries;
                if (!parseEntries(entries, depth + 1, '}', false)) {
                    return std::nullopt;
                }
                return Value(std::move(entries));
            }
            case '(':
                return parseArray(depth + 1);
            case '<':
                return parseData();
            default: {
                auto text = parseString();
                if (!text) {
                    return std::nullopt;
                }
                return Value(std::move(*text));
            }
        }
    }

    // Entries up to the closing character, or to the end of the text when closing is 0.
    bool parseEntries(Map& entries, int depth, char closing, bool keyAloneAllowed) {
        while (true) {
            if (!skipBlank()) {
                return false;
            }
            if (atEnd()) {
                if (closing != 0) {
                    fail("a dictionary is not closed");
                    return false;
                }
                return true;
            }
            if (closing != 0 && peek() == closing) {
                ++pos_;
                return true;
            }
            auto key = parseString();
            if (!key || !skipBlank()) {
                return false;
            }
            if (atEnd()) {
                fail("a dictionary entry is cut short");
                return false;
            }
            if (keyAloneAllowed && peek() == ';') {
                ++pos_;
                entries.set(*key, *key);
                continue;
            }
            if (peek() != '=') {
                fail("'=' expected after the key \"" + *key + "\"");
                return false;
            }
            ++pos_;
            if (!skipBlank()) {
                return false;
            }
            auto value = parseValue(depth);
            if (!value || !skipBlank()) {
                return false;
            }
            if (atEnd() || peek() != ';') {
                fail("';' expected after the value of \"" + *key + "\"");
                return false;
            }
            ++pos_;
            entries.set(*key, std::move(*value));
        }
    }

    std::optional<Value> parseArray(int depth) {
        ++pos_;  // (
        Array items;
        while (true) {
            if (!skipBlank()) {
                return std::nullopt;
            }
            if (atEnd()) {
                return fail("an array is not closed");
            }
            if (peek() == ')') {
                ++pos_;
                return Value(std::move(items));
            }
            auto value = parseValue(depth);
            if (!value || !skipBlank()) {
                return std::nullopt;
            }
            items.push_back(std::move(*value));
            if (atEnd()) {
                return fail("an array is not closed");
            }
            if (peek() == ',') {
                ++pos_;
            } else if (peek() != ')') {
                return fail("',' or ')' expected in an array");
            }
        }
    }

    std::optional<Value> parseData() {
        ++pos_;  // <
        Bytes bytes;
        int high = -1;
        while (true) {
            if (atEnd()) {
                return fail("data is not closed");
            }
            char c = text_[pos_++];
            if (c == '>') {
                break;
            }
            if (c == ' ' || c == '\t' || c == '\n' || c == '\r') {
                continue;
            }
            int digit = hexDigit(c);
            if (digit < 0) {
                --pos_;
                return fail("data holds a character that is not hexadecimal");
            }
            if (high < 0) {
                high = digit;
            } else {
                bytes.push_back(static_cast<std::uint8_t>(high * 16 + digit));
                high = -1;
            }
        }
        if (high >= 0) {
            return fail("data holds an odd number of hexadecimal digits");
        }
        return Value(std::move(bytes));
    }

    std::optional<std::string> parseString() {
        if (atEnd()) {
            return fail("a string is missing");
        }
        char quote = peek();
        if (quote != '"' && quote != '\'') {
            std::size_t start = pos_;
            while (!atEnd() && isBareChar(peek())) {
                ++pos_;
            }
            if (pos_ == start) {
                return fail(std::string("unexpected character '") + quote + "'");
            }
            return std::string(text_.substr(start, pos_ - start));
        }
        ++pos_;
        std::string out;
        std::uint32_t pendingHigh = 0;  // a high surrogate from \U, waiting for its low half
        auto flushSurrogate = [&] {
            if (pendingHigh != 0) {
                utf8::append(out, 0xFFFD);
                pendingHigh = 0;
            }
        };
        while (true) {
            if (atEnd()) {
                return fail("a string is not closed");
            }
            char c = text_[pos_++];
            if (c == quote) {
                break;
            }
            if (c != '\\') {
                flushSurrogate();
                out += c;
                continue;
            }
            if (atEnd()) {
                return fail("a string is not closed");
            }
            char e = text_[pos_++];
            if (e == 'U' || e == 'u') {
                std::uint32_t unit = 0;
                int digits = 0;
                while (digits < 4 && !atEnd() && hexDigit(peek()) >= 0) {
                    unit = unit * 16 + static_cast<std::uint32_t>(hexDigit(text_[pos_++]));
                    ++digits;
                }
                if (digits == 0) {
                    return fail("\\U without hexadecimal digits");
                }
                if (unit >= 0xD800 && unit <= 0xDBFF) {
                    flushSurrogate();
                    pendingHigh = unit;
                } else if (unit >= 0xDC00 && unit <= 0xDFFF) {
                    if (pendingHigh != 0) {
                        utf8::append(out,
                                     0x10000 + ((pendingHigh - 0xD800) << 10) + (unit - 0xDC00));
                        pendingHigh = 0;
                    } else {
                        utf8::append(out, 0xFFFD);
                    }
                } else {
                    flushSurrogate();
                    utf8::append(out, unit);
                }
                continue;
            }
            flushSurrogate();
            if (e >= '0' && e <= '7') {
                std::uint32_t code = static_cast<std::uint32_t>(e - '0');
                for (int i = 0; i < 2 && !atEnd() && peek() >= '0' && peek() <= '7'; ++i) {
                    code = code * 8 + static_cast<std::uint32_t>(text_[pos_++] - '0');
                }
                utf8::append(out, code & 0xFF);
                continue;
            }
            switch (e) {
                case 'a':
                    out += '\a';
                    break;
                case 'b':
                    out += '\b';
                    break;
                case 'f':
                    out += '\f';
                    break;
                case 'n':
                    out += '\n';
                    break;
                case 'r':
                    out += '\r';
                    break;
                case 't':
                    out += '\t';
                    break;
                case 'v':
                    out += '\v';
                    break;
                default:
                    out += e;  // \" \' \\ and any other character stand for themselves
            }
        }
        flushSurrogate();
        return out;
    }

    std::string_view text_;
    std::size_t pos_ = 0;
    std::string message_;
    std::size_t failedAt_ = 0;
};

}  // namespace

std::optional<std::string> decodeText(std::span<const std::uint8_t> data, Error* error) {
    auto fail = [&](const std::string& message) -> std::optional<std::string> {
        if (error) {
            *error = Error(kCocoaErrorDomain, kFileReadInapplicableStringEncodingError,
                           Map{{kLocalizedDescriptionKey, message}});
        }
        return std::nullopt;
    };
    const bool little = data.size() >= 2 && data[0] == 0xFF && data[1] == 0xFE;
    const bool big = data.size() >= 2 && data[0] == 0xFE && data[1] == 0xFF;
    if (little || big) {
        if (data.size() % 2 != 0) {
            return fail("UTF-16 text with an odd number of bytes");
        }
        std::string out;
        out.reserve(data.size());
        for (std::size_t i = 2; i < data.size(); i += 2) {
            std::uint32_t unit =
                little ? (data[i] | (data[i + 1] << 8)) : ((data[i] << 8) | data[i + 1]);
            if (unit >= 0xD800 && unit <= 0xDBFF) {
                if (i + 3 >= data.size()) {
                    return fail("UTF-16 text ends inside a surrogate pair");
                }
                std::uint32_t low = little ? (data[i + 2] | (data[i + 3] << 8))
                                           : ((data[i + 2] << 8) | data[i + 3]);
                if (low < 0xDC00 || low > 0xDFFF) {
                    return fail("UTF-16 text with a broken surrogate pair");
                }
                utf8::append(out, 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
                i += 2;
            } else if (unit >= 0xDC00 && unit <= 0xDFFF) {
                return fail("UTF-16 text with a broken surrogate pair");
            } else {
                utf8::append(out, unit);
            }
        }
        return out;
    }
    std::string_view text(reinterpret_cast<const char*>(data.data()), data.size());
    if (text.size() >= 3 && text.substr(0, 3) == "\xEF\xBB\xBF") {
        text.remove_prefix(3);
    }
    if (!utf8::isValid(text)) {
        return fail("the text is not valid UTF-8");
    }
    return std::string(text);
}

std::optional<Value> parseTextPropertyList(std::string_view text, Error* error) {
    Parser asValue(text);
    if (auto value = asValue.wholeValue()) {
        return value;
    }
    Parser asTable(text);
    if (auto entries = asTable.dictionaryBody(/*keyAloneAllowed=*/false)) {
        return Value(std::move(*entries));
    }
    if (error) {
        // The reading that got farther is the one the writer most likely meant.
        const Parser& best = asTable.position() > asValue.position() ? asTable : asValue;
        *error = corrupt("Corrupt text property list: " + best.message());
    }
    return std::nullopt;
}

std::optional<Map> parseStringsTable(std::string_view text, Error* error) {
    Parser parser(text);
    auto entries = parser.dictionaryBody(/*keyAloneAllowed=*/true);
    if (!entries && error) {
        *error = corrupt("Corrupt strings table: " + parser.message());
    }
    return entries;
}

}  // namespace platform::detail
