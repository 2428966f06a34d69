#include "platform/Format.h"
#include "platform/Utf8.h"

#include <charconv>
#include <cinttypes>
#include <cstdio>
#include <vector>

namespace platform::format_detail {

namespace {

constexpr std::string_view kNil = "(null)";

// Numbers go through the C library so that every flag, width and precision means what it means
// to printf; the pattern handed to it is ours, rebuilt from a conversion that has been checked.
template <class T>
void appendPrintf(std::string& out, const Spec& spec, std::string_view length, char conversion,
                  T value) {
    std::string pattern = "%";
    if (spec.leftAlign) {
        pattern += '-';
    }
    if (spec.plus) {
        pattern += '+';
    }
    if (spec.space) {
        pattern += ' ';
    }
    if (spec.alternate) {
        pattern += '#';
    }
    if (spec.zeroPad) {
        pattern += '0';
    }
    if (spec.width >= 0) {
        pattern += std::to_string(spec.width);
    }
    if (spec.precision >= 0) {
        pattern += '.';
        pattern += std::to_string(spec.precision);
    }
    pattern += length;
    pattern += conversion;

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
    char small[128];
    int n = std::snprintf(small, sizeof small, pattern.c_str(), value);
    if (n < 0) {
        return;
    }
    if (static_cast<std::size_t>(n) < sizeof small) {
        out.append(small, static_cast<std::size_t>(n));
        return;
    }
    std::vector<char> large(static_cast<std::size_t>(n) + 1);
    std::snprintf(large.data(), large.size(), pattern.c_str(), value);
#pragma GCC diagnostic pop
    out.append(large.data(), static_cast<std::size_t>(n));
}

// Number of code points in UTF-8 text: what a width counts for texts.
std::size_t codePoints(std::string_view text) {
    std::size_t n = 0;
    for (unsigned char c : text) {
        n += (c & 0xC0) != 0x80;
    }
    return n;
}

// The first `count` code points of the text.
std::string_view prefixOfCodePoints(std::string_view text, std::size_t count) {
    std::size_t seen = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) {
            if (seen == count) {
                return text.substr(0, i);
            }
            ++seen;
        }
    }
    return text;
}

void appendText(std::string& out, const Spec& spec, std::string_view text) {
    if (spec.precision >= 0) {
        text = prefixOfCodePoints(text, static_cast<std::size_t>(spec.precision));
    }
    std::size_t length = codePoints(text);
    std::size_t pad = spec.width > 0 && static_cast<std::size_t>(spec.width) > length
                          ? static_cast<std::size_t>(spec.width) - length
                          : 0;
    if (!spec.leftAlign) {
        out.append(pad, ' ');
    }
    out += text;
    if (spec.leftAlign) {
        out.append(pad, ' ');
    }
}

// The bits of a signed value as an unsigned number of its own width, as printf's %u and %x
// read a negative int.
std::uint64_t asUnsigned(const Arg& arg) {
    if (arg.kind == Arg::Kind::kUnsigned) {
        return arg.unsignedValue;
    }
    auto bits = static_cast<std::uint64_t>(arg.signedValue);
    return arg.bits >= 64 ? bits : bits & ((std::uint64_t{1} << arg.bits) - 1);
}

std::string shortestReal(double value) {
    char buffer[64];
    auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
    return ec == std::errc() ? std::string(buffer, end) : std::string("nan");
}

void appendArgument(std::string& out, const Spec& spec, const Arg& arg) {
    const char c = spec.conversion;
    switch (c) {
        case '@':
        case 's':
            switch (arg.kind) {
                case Arg::Kind::kSigned:
                    appendText(out, spec, std::to_string(arg.signedValue));
                    return;
                case Arg::Kind::kUnsigned:
                    appendText(out, spec, std::to_string(arg.unsignedValue));
                    return;
                case Arg::Kind::kReal:
                    appendText(out, spec, shortestReal(arg.real));
                    return;
                case Arg::Kind::kText:
                    appendText(out, spec, arg.text);
                    return;
                default:
                    appendText(out, spec, kNil);
                    return;
            }
        case 'p': {
            char buffer[32];
            std::snprintf(buffer, sizeof buffer, "0x%" PRIxPTR,
                          reinterpret_cast<std::uintptr_t>(arg.address));
            appendText(out, spec, buffer);
            return;
        }
        case 'c': {
            std::string one;
            if (arg.kind == Arg::Kind::kSigned || arg.kind == Arg::Kind::kUnsigned) {
                std::uint64_t v = asUnsigned(arg);
                if (arg.bits == 8) {
                    one += static_cast<char>(v);  // a char prints as the byte it is
                } else if (v != 0) {
                    utf8::append(one, v > 0x10FFFF ? 0xFFFD : static_cast<std::uint32_t>(v));
                }
            } else {
                one = kNil;
            }
            appendText(out, spec, one);
            return;
        }
        case 'd':
        case 'i':
            if (arg.kind == Arg::Kind::kSigned) {
                appendPrintf(out, spec, "ll", 'd', static_cast<long long>(arg.signedValue));
            } else if (arg.kind == Arg::Kind::kUnsigned) {
                appendPrintf(out, spec, "ll", 'u',
                             static_cast<unsigned long long>(arg.unsignedValue));
            } else {
                appendText(out, spec, kNil);
            }
            return;
        case 'u':
        case 'o':
        case 'x':
        case 'X':
            if (arg.kind == Arg::Kind::kSigned || arg.kind == Arg::Kind::kUnsigned) {
                appendPrintf(out, spec, "ll", c, static_cast<unsigned long long>(asUnsigned(arg)));
            } else {
                appendText(out, spec, kNil);
            }
            return;
        default:  // the real conversions
            if (arg.kind == Arg::Kind::kReal) {
                appendPrintf(out, spec, "", c, arg.real);
            } else {
                appendText(out, spec, kNil);
            }
            return;
    }
}

}  // namespace

std::string vformat(std::string_view format, std::span<const Arg> args) {
    std::string out;
    out.reserve(format.size() + 16 * args.size());
    std::size_t next = 0;
    std::size_t i = 0;
    while (i < format.size()) {
        std::size_t percent = format.find('%', i);
        if (percent == std::string_view::npos) {
            out += format.substr(i);
            break;
        }
        out += format.substr(i, percent - i);
        Spec spec = parseSpec(format, percent);
        if (!spec.valid) {
            // The compile-time check lets no such format through; print it as it stands.
            out += format.substr(percent);
            break;
        }
        i = spec.end;
        if (spec.literalPercent) {
            out += '%';
        } else if (next < args.size()) {
            appendArgument(out, spec, args[next++]);
        } else {
            out += format.substr(percent, spec.end - percent);
        }
    }
    return out;
}

}  // namespace platform::format_detail
