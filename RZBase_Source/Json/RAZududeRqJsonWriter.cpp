#include "RZBase_Source/Json/RAZududeRqJsonWriter.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <vector>

#include "RZBase_Source/Encode/Utf8.h"

using platform::Value;

namespace {

// 0 copied as it is, 1 escaped, 2 starts a multi-byte sequence to check.
constexpr auto kStringClass = [] {
    std::array<std::uint8_t, 256> table{};
    for (int c = 0; c < 0x20; ++c) {
        table[static_cast<std::size_t>(c)] = 1;
    }
    table['"'] = 1;
    table['\\'] = 1;
    for (int c = 0x80; c < 0x100; ++c) {
        table[static_cast<std::size_t>(c)] = 2;
    }
    return table;
}();

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
    std::string out;
    out.reserve(128);
    if (!appendValue(value, out)) {
        return std::nullopt;
    }
    return out;
}

bool RAZududeRqJsonWriter::appendValue(const Value& value, std::string& out) {
    switch (value.type()) {
        case Value::Type::kNull:
            out += "null";
            return true;
        case Value::Type::kBool:
            out += value.boolValue() ? "true" : "false";
            return true;
        case Value::Type::kInteger: {
            char buffer[24];
            const auto result = std::to_chars(buffer, buffer + sizeof buffer, value.integerValue());
            out.append(buffer, result.ptr);
            return true;
        }
        case Value::Type::kReal: {
            const double real = value.doubleValue();
            if (!std::isfinite(real)) {
                break;  // JSON has no text for NaN or the infinities
            }
            char buffer[32];
            const auto result = std::to_chars(buffer, buffer + sizeof buffer, real);
            out.append(buffer, result.ptr);
            return true;
        }
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

bool RAZududeRqJsonWriter::appendArray(const platform::Array& array, std::string& out) {
    if (!enterNesting()) {
        return false;
    }
    out += '[';
    bool first = true;
    for (const Value& element : array) {
        if (!first) {
            out += ',';
        }
        first = false;
        if (humanReadable_) {
            indent(out);
        }
        if (!appendValue(element, out)) {
            return false;
        }
    }
    leaveNesting();
    if (humanReadable_ && !array.empty()) {
        indent(out);
    }
    out += ']';
    return true;
}

bool RAZududeRqJsonWriter::appendDictionary(const platform::Map& map, std::string& out) {
    if (!enterNesting()) {
        return false;
    }
    out += '{';
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
    out += '}';
    return true;
}

bool RAZududeRqJsonWriter::appendMember(const platform::Map::Entry& member, bool first,
                                        std::string& out) {
    if (!first) {
        out += ',';
    }
    if (humanReadable_) {
        indent(out);
    }
    if (!appendString(member.first, out)) {
        return false;
    }
    out += humanReadable_ ? " : " : ":";
    if (!appendValue(member.second, out)) {
        addErrorWithCode(kRAZududeJsonErrorUnsupported,
                         "Unsupported value for key " + member.first + " in object");
        return false;
    }
    return true;
}

bool RAZududeRqJsonWriter::appendString(const std::string& text, std::string& out) {
    static constexpr char kHex[] = "0123456789abcdef";
    out += '"';
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const auto* end = p + text.size();
    while (p < end) {
        const auto* run = p;
        while (p < end) {
            const std::uint8_t kind = kStringClass[*p];
            if (kind == 0) {
                ++p;
            } else if (kind == 2) {
                const std::size_t length = rzbase::utf8SequenceAt(p, end);
                if (length == 0) {
                    addErrorWithCode(kRAZududeJsonErrorUnsupported,
                                     "JSON serialisation not supported for a string that is "
                                     "not UTF-8");
                    return false;
                }
                p += length;
            } else {
                break;
            }
        }
        out.append(reinterpret_cast<const char*>(run), static_cast<std::size_t>(p - run));
        if (p == end) {
            break;
        }
        const unsigned char c = *p++;
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\t':
                out += "\\t";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\b':
                out += "\\b";
                break;
            case '\f':
                out += "\\f";
                break;
            default: {
                const char escape[] = {'\\', 'u', '0', '0', kHex[c >> 4], kHex[c & 0x0F]};
                out.append(escape, sizeof escape);
            }
        }
    }
    out += '"';
    return true;
}

void RAZududeRqJsonWriter::indent(std::string& out) const {
    out += '\n';
    out.append(static_cast<std::size_t>(depth()) * 2, ' ');
}
