#include "RZBase_Source/Json/RAZududeRqJsonWriter.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstring>
#include <vector>

#include "RZBase_Source/Json/DoubleText.h"
#include "RZBase_Source/Json/JsonText.h"
#include "platform/Utf8.h"

using platform::Value;

namespace {

const char* typeName(const Value& value) {
    switch (value.type()) {
        case Value::Type::kBytes:
            return "Bytes";
        case Value::Type::kDate:
            return "Date";
        case Value::Type::kReal:
            return "a number that is not finite";
        default:
            return "Value";
    }
}

}  // namespace

RAZududeRqJsonWriter::Output::Output(std::string& text)
    : text_(text), cursor_(text.data()), end_(text.data() + text.size()) {}

void RAZududeRqJsonWriter::Output::grow(std::size_t n) {
    const auto used = static_cast<std::size_t>(cursor_ - text_.data());
    text_.resize(std::max(text_.size() * 2, used + n));
    cursor_ = text_.data() + used;
    end_ = text_.data() + text_.size();
}

void RAZududeRqJsonWriter::Output::put(const char* text, std::size_t length) {
    reserve(length);
    std::memcpy(cursor_, text, length);
    cursor_ += length;
}

void RAZududeRqJsonWriter::Output::finish() {
    text_.resize(static_cast<std::size_t>(cursor_ - text_.data()));
}

std::optional<std::string> RAZududeRqJsonWriter::stringWithObject(const Value& value) {
    if (value.isMap() || value.isArray()) {
        return stringWithFragment(value);
    }
    clearErrorTrace();
    addErrorWithCode(kRAZududeJsonErrorTopLevel, "Not valid type for JSON");
    return std::nullopt;
}

std::optional<std::string> RAZududeRqJsonWriter::stringWithFragment(const Value& value) {
    clearErrorTrace();
    resetNesting();
    std::string text(128, '\0');
    Output out(text);
    if (!appendValue(value, out)) {
        return std::nullopt;
    }
    out.finish();
    return text;
}

bool RAZududeRqJsonWriter::appendValue(const Value& value, Output& out) {
    switch (value.type()) {
        case Value::Type::kNull:
            out.put("null", 4);
            return true;
        case Value::Type::kBool:
            if (value.boolValue()) {
                out.put("true", 4);
            } else {
                out.put("false", 5);
            }
            return true;
        case Value::Type::kInteger: {
            out.reserve(24);
            if (const std::uint64_t* big = value.unsignedInteger()) {
                out.cursor() = std::to_chars(out.cursor(), out.cursor() + 24, *big).ptr;
            } else {
                out.cursor() = std::to_chars(out.cursor(), out.cursor() + 24, *value.integer()).ptr;
            }
            return true;
        }
        case Value::Type::kReal: {
            const double real = *value.real();
            if (!std::isfinite(real)) {
                break;  // JSON has no text for NaN or the infinities
            }
            out.reserve(40);
            out.cursor() = rzbase::json::writeShortest(real, out.cursor());
            return true;
        }
        case Value::Type::kDecimal:
            out.reserve(platform::Decimal::kMaxTextLength);
            out.cursor() = value.decimal()->write(out.cursor());
            return true;
        case Value::Type::kString:
            return appendString(*value.string(), out);
        case Value::Type::kArray:
            return appendArray(*value.array(), out);
        case Value::Type::kMap:
            return appendDictionary(*value.map(), out);
        default:
            break;
    }
    addErrorWithCode(kRAZududeJsonErrorUnsupported,
                     std::string("JSON serialisation not supported for ") + typeName(value));
    return false;
}

bool RAZududeRqJsonWriter::appendArray(const platform::Array& array, Output& out) {
    if (!enterNesting()) {
        return false;
    }
    out.put('[');
    bool first = true;
    for (const Value& element : array) {
        if (!first) {
            out.put(',');
        }
        first = false;
        if (humanReadable_) {
            indent(out);
        }
        // Long arrays are mostly numbers (coordinates, series): written here, without the
        // round through appendValue.
        if (const platform::Decimal* decimal = element.decimal()) {
            out.reserve(platform::Decimal::kMaxTextLength);
            out.cursor() = decimal->write(out.cursor());
            continue;
        }
        if (const double* real = element.real(); real && std::isfinite(*real)) {
            out.reserve(40);
            out.cursor() = rzbase::json::writeShortest(*real, out.cursor());
            continue;
        }
        if (!appendValue(element, out)) {
            return false;
        }
    }
    leaveNesting();
    if (humanReadable_ && !array.empty()) {
        indent(out);
    }
    out.put(']');
    return true;
}

bool RAZududeRqJsonWriter::appendDictionary(const platform::Map& map, Output& out) {
    if (!enterNesting()) {
        return false;
    }
    out.put('{');
    if (sortKeys_) {
        std::vector<const platform::Map::Entry*> members;
        members.reserve(map.size());
        for (const auto& member : map) {
            members.push_back(&member);
        }
        std::sort(members.begin(), members.end(),
                  [](const auto* a, const auto* b) { return a->first < b->first; });
        for (std::size_t i = 0; i < members.size(); ++i) {
            if (!appendMember(*members[i], i == 0, out)) {
                return false;
            }
        }
    } else {
        bool first = true;
        for (const auto& member : map) {
            if (!appendMember(member, first, out)) {
                return false;
            }
            first = false;
        }
    }
    leaveNesting();
    if (humanReadable_ && !map.empty()) {
        indent(out);
    }
    out.put('}');
    return true;
}

bool RAZududeRqJsonWriter::appendMember(const platform::Map::Entry& member, bool first,
                                        Output& out) {
    if (!first) {
        out.put(',');
    }
    if (humanReadable_) {
        indent(out);
    }
    if (!appendString(member.first, out)) {
        return false;
    }
    if (humanReadable_) {
        out.put(" : ", 3);
    } else {
        out.put(':');
    }
    if (!appendValue(member.second, out)) {
        addErrorWithCode(kRAZududeJsonErrorUnsupported,
                         "Unsupported value for key " + member.first + " in object");
        return false;
    }
    return true;
}

bool RAZududeRqJsonWriter::appendString(const std::string& text, Output& out) {
    static constexpr char kHex[] = "0123456789abcdef";
    out.put('"');
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const auto* end = p + text.size();
    while (p < end) {
        const auto* run = p;
        p = rzbase::json::skipPlainRun(p, end);
        if (p < end && rzbase::json::kStringClass[*p] == 2) {
            addErrorWithCode(kRAZududeJsonErrorUnsupported,
                             "JSON serialisation not supported for a string that is not UTF-8");
            return false;
        }
        out.put(reinterpret_cast<const char*>(run), static_cast<std::size_t>(p - run));
        if (p == end) {
            break;
        }
        const unsigned char c = *p++;
        switch (c) {
            case '"':
                out.put("\\\"", 2);
                break;
            case '\\':
                out.put("\\\\", 2);
                break;
            case '\t':
                out.put("\\t", 2);
                break;
            case '\n':
                out.put("\\n", 2);
                break;
            case '\r':
                out.put("\\r", 2);
                break;
            case '\b':
                out.put("\\b", 2);
                break;
            case '\f':
                out.put("\\f", 2);
                break;
            default: {
                const char escape[] = {'\\', 'u', '0', '0', kHex[c >> 4], kHex[c & 0x0F]};
                out.put(escape, sizeof escape);
            }
        }
    }
    out.put('"');
    return true;
}

void RAZududeRqJsonWriter::indent(Output& out) const {
    const auto spaces = static_cast<std::size_t>(depth()) * 2;
    out.reserve(spaces + 1);
    *out.cursor()++ = '\n';
    std::memset(out.cursor(), ' ', spaces);
    out.cursor() += spaces;
}
