// The XML form: a <plist> element around one value of <dict>, <array>, <string>, <key>,
// <integer>, <real>, <date>, <data>, <true/> and <false/>. The reader takes the XML that such
// files use (UTF-8, comments, processing instructions, a document type without declarations
// of its own, character references and CDATA sections) and refuses anything else with a reason.

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "platform/PropertyList.h"
#include "platform/PropertyListForms.h"
#include "platform/Utf8.h"

namespace platform::detail {

namespace {

using PropertyList::kMaxDepth;

// ---------------------------------------------------------------------------------------------
// Dates, in the proleptic Gregorian calendar, as whole seconds since 2001-01-01T00:00:00Z.

constexpr std::int64_t kSecondsPerDay = 86400;

std::int64_t daysFromCivil(std::int64_t year, unsigned month, unsigned day) {
    year -= month <= 2;
    const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
    const auto yearOfEra = static_cast<unsigned>(year - era * 400);
    const unsigned dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
    const unsigned dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + static_cast<std::int64_t>(dayOfEra) - 719468;  // days since 1970
}

struct Civil {
    std::int64_t year;
    unsigned month;
    unsigned day;
};

Civil civilFromDays(std::int64_t days) {
    days += 719468;
    const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const auto dayOfEra = static_cast<unsigned>(days - era * 146097);
    const unsigned yearOfEra =
        (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const unsigned dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const unsigned shifted = (5 * dayOfYear + 2) / 153;
    const unsigned day = dayOfYear - (153 * shifted + 2) / 5 + 1;
    const unsigned month = shifted < 10 ? shifted + 3 : shifted - 9;
    return {static_cast<std::int64_t>(yearOfEra) + era * 400 + (month <= 2), month, day};
}

const std::int64_t kReferenceDay = daysFromCivil(2001, 1, 1);
// The form spells years with four digits.
const std::int64_t kFirstSecond = (daysFromCivil(0, 1, 1) - kReferenceDay) * kSecondsPerDay;
const std::int64_t kLastSecond = (daysFromCivil(10000, 1, 1) - kReferenceDay) * kSecondsPerDay - 1;

bool isLeapYear(std::int64_t year) {
    return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
}

unsigned daysInMonth(std::int64_t year, unsigned month) {
    static constexpr unsigned kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && isLeapYear(year) ? 29 : kDays[month - 1];
}

// ---------------------------------------------------------------------------------------------
// Base64

constexpr char kBase64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int base64Digit(char c) {
    if (c >= 'A' && c <= 'Z') {
        return c - 'A';
    }
    if (c >= 'a' && c <= 'z') {
        return c - 'a' + 26;
    }
    if (c >= '0' && c <= '9') {
        return c - '0' + 52;
    }
    return c == '+' ? 62 : c == '/' ? 63 : -1;
}

bool isXmlSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && isXmlSpace(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && isXmlSpace(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

// ---------------------------------------------------------------------------------------------
// Reading

class XmlReader {
  public:
    explicit XmlReader(std::string_view text) : text_(text) {}

    std::optional<Value> read() {
        if (!utf8::isValid(text_)) {
            return fail("the XML property list is not valid UTF-8");
        }
        if (text_.starts_with("\xEF\xBB\xBF")) {
            pos_ = 3;
        }
        if (!skipProlog()) {
            return std::nullopt;
        }
        Tag root;
        if (!nextTag(root)) {
            return std::nullopt;
        }
        std::optional<Value> value;
        if (root.name == "plist" && !root.closing) {
            if (root.empty) {
                return fail("the plist element holds no value");
            }
            Tag tag;
            if (!nextTag(tag)) {
                return std::nullopt;
            }
            if (tag.closing) {
                return fail("the plist element holds no value");
            }
            value = parseValue(tag);
            if (!value || !nextTag(tag)) {
                return std::nullopt;
            }
            if (!tag.closing || tag.name != "plist") {
                return fail("the plist element holds more than one value");
            }
        } else {
            value = parseValue(root);
            if (!value) {
                return std::nullopt;
            }
        }
        if (!skipMisc()) {
            return std::nullopt;
        }
        if (pos_ != text_.size()) {
            return fail("text follows the property list");
        }
        return value;
    }

    const std::string& problem() const { return problem_; }

  private:
    struct Tag {
        std::string_view name;
        bool closing = false;  // </name>
        bool empty = false;    // <name/>
    };

    bool atEnd() const { return pos_ >= text_.size(); }
    bool startsWith(std::string_view prefix) const {
        return text_.substr(pos_).starts_with(prefix);
    }

    bool refuse(const std::string& problem) {
        if (problem_.empty()) {
            problem_ = problem;
        }
        return false;
    }

    std::nullopt_t fail(const std::string& problem) {
        refuse(problem);
        return std::nullopt;
    }

    bool skipPast(std::string_view end, const char* what) {
        const std::size_t found = text_.find(end, pos_);
        if (found == std::string_view::npos) {
            return refuse(std::string(what) + " is not closed");
        }
        pos_ = found + end.size();
        return true;
    }

    // White space, comments and processing instructions, which may stand between elements.
    bool skipMisc() {
        while (true) {
            while (!atEnd() && isXmlSpace(text_[pos_])) {
                ++pos_;
            }
            if (startsWith("<!--")) {
                if (!skipPast("-->", "a comment")) {
                    return false;
                }
            } else if (startsWith("<?")) {
                if (!skipPast("?>", "a processing instruction")) {
                    return false;
                }
            } else {
                return true;
            }
        }
    }

    bool skipProlog() {
        while (true) {
            if (!skipMisc()) {
                return false;
            }
            if (!startsWith("<!DOCTYPE")) {
                return true;
            }
            // Quoted identifiers may hold '>'; declarations of its own could define entities
            // that expand without bound, and no property list has them.
            for (pos_ += 9;; ++pos_) {
                if (atEnd()) {
                    return refuse("the document type is not closed");
                }
                const char c = text_[pos_];
                if (c == '"' || c == '\'') {
                    const std::size_t close = text_.find(c, pos_ + 1);
                    if (close == std::string_view::npos) {
                        return refuse("the document type is not closed");
                    }
                    pos_ = close;
                } else if (c == '[') {
                    return refuse("a document type with declarations of its own is not read");
                } else if (c == '>') {
                    ++pos_;
                    break;
                }
            }
        }
    }

    static bool isNameChar(char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
               c == '_' || c == ':' || c == '-' || c == '.' ||
               static_cast<unsigned char>(c) >= 0x80;
    }

    std::string_view name() {
        const std::size_t start = pos_;
        while (!atEnd() && isNameChar(text_[pos_])) {
            ++pos_;
        }
        return text_.substr(start, pos_ - start);
    }

    // The next tag, past anything that may stand between elements.
    bool nextTag(Tag& tag) {
        if (!skipMisc()) {
            return false;
        }
        if (atEnd()) {
            return refuse("the XML property list is cut short");
        }
        if (text_[pos_] != '<' || startsWith("<!")) {
            return refuse("text stands outside an element");
        }
        ++pos_;
        tag = {};
        if (!atEnd() && text_[pos_] == '/') {
            tag.closing = true;
            ++pos_;
        }
        tag.name = name();
        if (tag.name.empty()) {
            return refuse("an element has no name");
        }
        while (true) {
            while (!atEnd() && isXmlSpace(text_[pos_])) {
                ++pos_;
            }
            if (atEnd()) {
                return refuse("the XML property list is cut short");
            }
            if (text_[pos_] == '>') {
                ++pos_;
                return true;
            }
            if (!tag.closing && startsWith("/>")) {
                pos_ += 2;
                tag.empty = true;
                return true;
            }
            // An attribute, which no element here needs: read past it.
            if (tag.closing || name().empty()) {
                return refuse("the tag <" + std::string(tag.name) + "> is corrupt");
            }
            while (!atEnd() && isXmlSpace(text_[pos_])) {
                ++pos_;
            }
            if (atEnd() || text_[pos_] != '=') {
                return refuse("an attribute of <" + std::string(tag.name) + "> has no value");
            }
            ++pos_;
            while (!atEnd() && isXmlSpace(text_[pos_])) {
                ++pos_;
            }
            const char quote = atEnd() ? '\0' : text_[pos_];
            const std::size_t close = quote == '"' || quote == '\'' ? text_.find(quote, pos_ + 1)
                                                                    : std::string_view::npos;
            if (close == std::string_view::npos ||
                text_.substr(pos_, close - pos_).find('<') != std::string_view::npos) {
                return refuse("an attribute of <" + std::string(tag.name) + "> is corrupt");
            }
            pos_ = close + 1;
        }
    }

    // Line ends read as "\n", as XML has it.
    static void appendText(std::string& out, std::string_view raw) {
        std::size_t start = 0;
        for (std::size_t i = raw.find('\r'); i != std::string_view::npos; i = raw.find('\r', i)) {
            out.append(raw.substr(start, i - start));
            out += '\n';
            i += i + 1 < raw.size() && raw[i + 1] == '\n' ? 2 : 1;
            start = i;
        }
        out.append(raw.substr(start));
    }

    bool reference(std::string& out) {
        const std::size_t end = text_.find(';', pos_);
        if (end == std::string_view::npos || end - pos_ > 12) {
            return refuse("an '&' begins no reference");
        }
        const std::string_view entity = text_.substr(pos_ + 1, end - pos_ - 1);
        pos_ = end + 1;
        static constexpr std::pair<std::string_view, char> kNamed[] = {
            {"lt", '<'}, {"gt", '>'}, {"amp", '&'}, {"quot", '"'}, {"apos", '\''}};
        for (const auto& [named, c] : kNamed) {
            if (entity == named) {
                out += c;
                return true;
            }
        }
        std::uint32_t code = 0;
        if (entity.size() >= 2 && entity[0] == '#') {
            const bool hex = entity[1] == 'x';
            const std::string_view digits = entity.substr(hex ? 2 : 1);
            const auto [ptr, ec] =
                std::from_chars(digits.data(), digits.data() + digits.size(), code, hex ? 16 : 10);
            if (ec == std::errc() && ptr == digits.data() + digits.size() && !digits.empty() &&
                code != 0 && code <= 0x10FFFF && (code < 0xD800 || code > 0xDFFF)) {
                utf8::append(out, code);
                return true;
            }
            return refuse("the character reference &" + std::string(entity) + "; is invalid");
        }
        return refuse("the entity &" + std::string(entity) + "; is unknown");
    }

    // The text of a leaf element, up to its closing tag.
    std::optional<std::string> readText(std::string_view element) {
        std::string out;
        while (true) {
            const std::size_t next = text_.find_first_of("<&", pos_);
            if (next == std::string_view::npos) {
                return fail("the XML property list is cut short");
            }
            appendText(out, text_.substr(pos_, next - pos_));
            pos_ = next;
            if (text_[pos_] == '&') {
                if (!reference(out)) {
                    return std::nullopt;
                }
            } else if (startsWith("<![CDATA[")) {
                const std::size_t end = text_.find("]]>", pos_ + 9);
                if (end == std::string_view::npos) {
                    return fail("a CDATA section is not closed");
                }
                appendText(out, text_.substr(pos_ + 9, end - pos_ - 9));
                pos_ = end + 3;
            } else if (startsWith("<!--")) {
                if (!skipPast("-->", "a comment")) {
                    return std::nullopt;
                }
            } else if (startsWith("<?")) {
                if (!skipPast("?>", "a processing instruction")) {
                    return std::nullopt;
                }
            } else {
                Tag tag;
                if (!nextTag(tag)) {
                    return std::nullopt;
                }
                if (!tag.closing || tag.name != element) {
                    return fail("<" + std::string(tag.closing ? "/" : "") + std::string(tag.name) +
                                "> stands inside <" + std::string(element) + ">");
                }
                return out;
            }
        }
    }

    // A value made of nested elements, without recursion: `first` is its opening tag.
    std::optional<Value> parseValue(Tag first) {
        struct Frame {
            bool dict = false;
            Array items;
            std::vector<Map::Entry> entries;
            std::optional<std::string> key;
        };
        std::vector<Frame> stack;
        Tag tag = first;
        while (true) {
            std::optional<Value> done;
            if (tag.closing) {
                if (stack.empty() || tag.name != (stack.back().dict ? "dict" : "array")) {
                    return fail("</" + std::string(tag.name) + "> closes no open element");
                }
                Frame& frame = stack.back();
                if (frame.key) {
                    return fail("the key \"" + *frame.key + "\" has no value");
                }
                done = frame.dict ? Value(Map(std::move(frame.entries)))
                                  : Value(std::move(frame.items));
                stack.pop_back();
            } else if (tag.name == "array" || tag.name == "dict") {
                if (stack.size() >= static_cast<std::size_t>(kMaxDepth)) {
                    return fail("the property list nests too deeply");
                }
                if (tag.empty) {
                    done = tag.name == "dict" ? Value(Map()) : Value(Array());
                } else {
                    stack.push_back({});
                    stack.back().dict = tag.name == "dict";
                }
            } else if (tag.name == "key") {
                if (stack.empty() || !stack.back().dict || stack.back().key) {
                    return fail("a key stands outside a dictionary or after another key");
                }
                auto key = tag.empty ? std::string() : readText("key");
                if (!key) {
                    return std::nullopt;
                }
                stack.back().key = std::move(*key);
            } else {
                done = scalar(tag);
                if (!done) {
                    return std::nullopt;
                }
            }
            if (done) {
                if (stack.empty()) {
                    return done;
                }
                Frame& frame = stack.back();
                if (!frame.dict) {
                    frame.items.push_back(std::move(*done));
                } else if (frame.key) {
                    frame.entries.emplace_back(std::move(*frame.key), std::move(*done));
                    frame.key.reset();
                } else {
                    return fail("a value in a dictionary has no key");
                }
            }
            if (!nextTag(tag)) {
                return std::nullopt;
            }
        }
    }

    std::optional<Value> scalar(const Tag& tag) {
        const std::string element(tag.name);
        std::string text;
        if (!tag.empty) {
            auto read = readText(tag.name);
            if (!read) {
                return std::nullopt;
            }
            text = std::move(*read);
        }
        if (element == "string") {
            return Value(std::move(text));
        }
        if (element == "true" || element == "false") {
            if (!trimmed(text).empty()) {
                return fail("<" + element + "> holds text");
            }
            return Value(element == "true");
        }
        std::optional<Value> value;
        if (element == "integer") {
            value = integer(trimmed(text));
        } else if (element == "real") {
            value = real(trimmed(text));
        } else if (element == "date") {
            value = date(trimmed(text));
        } else if (element == "data") {
            value = data(text);
        } else {
            return fail("<" + element + "> is no element of a property list");
        }
        if (!value) {
            return fail("an <" + element + "> element holds no valid " + element);
        }
        return value;
    }

    // Decimal or, after "0x", hexadecimal, from -2^63 to 2^64-1.
    static std::optional<Value> integer(std::string_view text) {
        const bool negative = !text.empty() && text[0] == '-';
        if (!text.empty() && (text[0] == '-' || text[0] == '+')) {
            text.remove_prefix(1);
        }
        int base = 10;
        if (text.starts_with("0x") || text.starts_with("0X")) {
            base = 16;
            text.remove_prefix(2);
        }
        std::uint64_t magnitude = 0;
        const auto [ptr, ec] =
            std::from_chars(text.data(), text.data() + text.size(), magnitude, base);
        if (text.empty() || ec != std::errc() || ptr != text.data() + text.size()) {
            return std::nullopt;
        }
        if (!negative) {
            return Value(magnitude);
        }
        if (magnitude > std::uint64_t{1} << 63) {
            return std::nullopt;
        }
        return Value(static_cast<std::int64_t>(0 - magnitude));
    }

    static std::optional<Value> real(std::string_view text) {
        if (text.starts_with('+') && text.size() > 1 && text[1] != '-') {
            text.remove_prefix(1);
        }
        double number = 0;
        const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), number);
        if (text.empty() || ptr != text.data() + text.size()) {
            return std::nullopt;
        }
        if (ec == std::errc::result_out_of_range) {
            // Past the range of doubles: infinity or zero, as strtod rounds.
            number = std::strtod(std::string(text).c_str(), nullptr);
        } else if (ec != std::errc()) {
            return std::nullopt;
        }
        return Value(number);
    }

    // YYYY-MM-DDTHH:MM:SSZ
    static std::optional<Value> date(std::string_view text) {
        if (text.size() != 20 || text[4] != '-' || text[7] != '-' || text[10] != 'T' ||
            text[13] != ':' || text[16] != ':' || text[19] != 'Z') {
            return std::nullopt;
        }
        auto field = [&](std::size_t at, std::size_t size, unsigned& out) {
            const auto [ptr, ec] = std::from_chars(text.data() + at, text.data() + at + size, out);
            return ec == std::errc() && ptr == text.data() + at + size;
        };
        unsigned year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
        if (!field(0, 4, year) || !field(5, 2, month) || !field(8, 2, day) || !field(11, 2, hour) ||
            !field(14, 2, minute) || !field(17, 2, second) || month < 1 || month > 12 || day < 1 ||
            day > daysInMonth(year, month) || hour > 23 || minute > 59 || second > 59) {
            return std::nullopt;
        }
        const std::int64_t days = daysFromCivil(year, month, day) - kReferenceDay;
        const std::int64_t seconds = days * kSecondsPerDay + hour * 3600 + minute * 60 + second;
        return Value(Date::fromReferenceInterval(static_cast<double>(seconds)));
    }

    static std::optional<Value> data(std::string_view text) {
        Bytes bytes;
        bytes.reserve(text.size() / 4 * 3);
        std::uint32_t bits = 0;
        int held = 0;     // bits waiting in `bits`
        int digits = 0;   // base64 digits read
        int padding = 0;  // '=' read
        for (char c : text) {
            if (isXmlSpace(c)) {
                continue;
            }
            if (c == '=') {
                ++padding;
                continue;
            }
            const int digit = base64Digit(c);
            if (digit < 0 || padding > 0) {
                return std::nullopt;
            }
            ++digits;
            bits = ((bits << 6) | static_cast<std::uint32_t>(digit)) & 0xFFFFFF;
            held += 6;
            if (held >= 8) {
                held -= 8;
                bytes.push_back(static_cast<std::uint8_t>(bits >> held));
            }
        }
        if (digits % 4 == 1 || padding > 2 || (padding > 0 && (digits + padding) % 4 != 0)) {
            return std::nullopt;
        }
        return Value(std::move(bytes));
    }

    std::string_view text_;
    std::size_t pos_ = 0;
    std::string problem_;
};

// ---------------------------------------------------------------------------------------------
// Writing

class XmlWriter {
  public:
    std::optional<Bytes> write(const Value& value) {
        out_ = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n";
        if (!element(value, 0)) {
            return std::nullopt;
        }
        out_ += "</plist>\n";
        return Bytes(out_.begin(), out_.end());
    }

    const std::string& problem() const { return problem_; }

  private:
    bool refuse(const std::string& problem) {
        if (problem_.empty()) {
            problem_ = problem;
        }
        return false;
    }

    void leaf(int depth, std::string_view name, std::string_view content) {
        out_.append(static_cast<std::size_t>(depth), '\t');
        out_ += '<';
        out_ += name;
        out_ += '>';
        out_ += content;
        out_ += "</";
        out_ += name;
        out_ += ">\n";
    }

    // Text with the characters markup needs escaped; a carriage return is escaped too, since
    // XML reads a bare one as a line feed.
    bool escaped(std::string_view text, std::string& out) {
        if (!utf8::isValid(text)) {
            return refuse("a string is not valid UTF-8");
        }
        for (std::size_t i = 0; i < text.size(); ++i) {
            const char c = text[i];
            switch (c) {
                case '&':
                    out += "&amp;";
                    break;
                case '<':
                    out += "&lt;";
                    break;
                case '>':
                    out += "&gt;";
                    break;
                case '\r':
                    out += "&#13;";
                    break;
                default:
                    if ((static_cast<unsigned char>(c) < 0x20 && c != '\t' && c != '\n') ||
                        text.substr(i).starts_with("\xEF\xBF\xBE") ||
                        text.substr(i).starts_with("\xEF\xBF\xBF")) {
                        return refuse(
                            "a string holds a character the XML form cannot hold (the binary "
                            "form can)");
                    }
                    out += c;
            }
        }
        return true;
    }

    bool element(const Value& value, int depth) {
        std::string text;
        switch (value.type()) {
            case Value::Type::kNull:
                return refuse("a property list holds no null");
            case Value::Type::kBool:
                out_.append(static_cast<std::size_t>(depth), '\t');
                out_ += value.boolValue() ? "<true/>\n" : "<false/>\n";
                return true;
            case Value::Type::kInteger:
                text = value.stringValue();
                leaf(depth, "integer", text);
                return true;
            case Value::Type::kReal: {
                const double number = *value.real();
                if (std::isnan(number)) {
                    text = "nan";
                } else if (std::isinf(number)) {
                    text = number > 0 ? "+infinity" : "-infinity";
                } else {
                    char buffer[32];
                    text.assign(buffer, std::to_chars(buffer, buffer + sizeof buffer, number).ptr);
                }
                leaf(depth, "real", text);
                return true;
            }
            case Value::Type::kDecimal:
                return element(plainNumber(*value.decimal()), depth);
            case Value::Type::kString:
                if (!escaped(*value.string(), text)) {
                    return false;
                }
                leaf(depth, "string", text);
                return true;
            case Value::Type::kDate:
                return date(*value.date(), depth);
            case Value::Type::kBytes:
                data(*value.bytes(), depth);
                return true;
            case Value::Type::kArray:
            case Value::Type::kMap:
                break;
        }
        // A UID dictionary is written as the dictionary it is.
        if (depth >= kMaxDepth) {
            return refuse("the value nests too deeply");
        }
        const bool dict = value.isMap();
        const char* name = dict ? "dict" : "array";
        out_.append(static_cast<std::size_t>(depth), '\t');
        if (value.count() == 0) {
            out_ += dict ? "<dict/>\n" : "<array/>\n";
            return true;
        }
        out_ += '<';
        out_ += name;
        out_ += ">\n";
        if (dict) {
            for (const auto& [key, item] : *value.map()) {
                text.clear();
                if (!escaped(key, text)) {
                    return false;
                }
                leaf(depth + 1, "key", text);
                if (!element(item, depth + 1)) {
                    return false;
                }
            }
        } else {
            for (const Value& item : *value.array()) {
                if (!element(item, depth + 1)) {
                    return false;
                }
            }
        }
        out_.append(static_cast<std::size_t>(depth), '\t');
        out_ += "</";
        out_ += name;
        out_ += ">\n";
        return true;
    }

    // The form holds whole seconds: a fraction is dropped, toward the past.
    bool date(const Date& value, int depth) {
        const double seconds = std::floor(value.timeIntervalSinceReferenceDate());
        if (!(seconds >= static_cast<double>(kFirstSecond) &&
              seconds <= static_cast<double>(kLastSecond))) {
            return refuse("a date lies outside the years 0000 to 9999 the XML form can hold");
        }
        const auto whole = static_cast<std::int64_t>(seconds);
        std::int64_t days = whole / kSecondsPerDay;
        std::int64_t rest = whole % kSecondsPerDay;
        if (rest < 0) {
            rest += kSecondsPerDay;
            --days;
        }
        const Civil civil = civilFromDays(days + kReferenceDay);
        const int secondOfDay = static_cast<int>(rest);
        char buffer[64];
        std::snprintf(buffer, sizeof buffer, "%04d-%02u-%02uT%02d:%02d:%02dZ",
                      static_cast<int>(civil.year), civil.month, civil.day, secondOfDay / 3600,
                      secondOfDay / 60 % 60, secondOfDay % 60);
        leaf(depth, "date", buffer);
        return true;
    }

    void data(const Bytes& bytes, int depth) {
        if (bytes.empty()) {
            leaf(depth, "data", "");
            return;
        }
        constexpr std::size_t kLine = 76;  // base64 digits per line
        const std::string indent(static_cast<std::size_t>(depth), '\t');
        out_ += indent + "<data>\n";
        std::size_t column = 0;
        auto put = [&](char c) {
            if (column == 0) {
                out_ += indent;
            }
            out_ += c;
            if (++column == kLine) {
                out_ += '\n';
                column = 0;
            }
        };
        for (std::size_t i = 0; i < bytes.size(); i += 3) {
            const std::size_t left = bytes.size() - i;
            const std::uint32_t group = (bytes[i] << 16) | (left > 1 ? bytes[i + 1] << 8 : 0) |
                                        (left > 2 ? bytes[i + 2] : 0);
            put(kBase64[(group >> 18) & 63]);
            put(kBase64[(group >> 12) & 63]);
            put(left > 1 ? kBase64[(group >> 6) & 63] : '=');
            put(left > 2 ? kBase64[group & 63] : '=');
        }
        if (column != 0) {
            out_ += '\n';
        }
        out_ += indent + "</data>\n";
    }

    std::string out_;
    std::string problem_;
};

}  // namespace

std::optional<Value> readXmlPropertyList(std::string_view text, std::string& problem) {
    XmlReader reader(text);
    auto value = reader.read();
    if (!value) {
        problem = reader.problem();
    }
    return value;
}

std::optional<Bytes> writeXmlPropertyList(const Value& value, std::string& problem) {
    XmlWriter writer;
    auto data = writer.write(value);
    if (!data) {
        problem = writer.problem();
    }
    return data;
}

}  // namespace platform::detail
