#include "platform/Url.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include "platform/NoDestructor.h"

namespace platform {

namespace {

bool isAlpha(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
bool isDigit(char c) {
    return c >= '0' && c <= '9';
}
bool isHex(char c) {
    return isDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}
bool isUnreserved(char c) {
    return isAlpha(c) || isDigit(c) || c == '-' || c == '.' || c == '_' || c == '~';
}
bool isSubDelim(char c) {
    switch (c) {
        case '!':
        case '$':
        case '&':
        case '\'':
        case '(':
        case ')':
        case '*':
        case '+':
        case ',':
        case ';':
        case '=':
            return true;
        default:
            return false;
    }
}
bool isPchar(char c) {
    return isUnreserved(c) || isSubDelim(c) || c == ':' || c == '@';
}

// True when the text holds only characters the predicate allows and well-formed escapes.
template <class Allowed>
bool valid(std::string_view text, Allowed allowed) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '%') {
            if (i + 2 >= text.size() || !isHex(text[i + 1]) || !isHex(text[i + 2])) {
                return false;
            }
            i += 2;
        } else if (!allowed(c)) {
            return false;
        }
    }
    return true;
}

int hexValue(char c) {
    if (isDigit(c)) {
        return c - '0';
    }
    return (c | 0x20) - 'a' + 10;
}

// What a path segment holds as written (unreserved, sub-delims, ":" and "@"), and "/" to
// separate segments.
constexpr std::string_view kPathKeeps = "-._~!$&'()*+,;=:@/";

bool validScheme(std::string_view s) {
    if (s.empty() || !isAlpha(s[0])) {
        return false;
    }
    for (char c : s) {
        if (!(isAlpha(c) || isDigit(c) || c == '+' || c == '-' || c == '.')) {
            return false;
        }
    }
    return true;
}

bool validIpLiteral(std::string_view inside) {
    if (!inside.empty() && (inside[0] == 'v' || inside[0] == 'V')) {
        // IPvFuture: "v" 1*HEXDIG "." 1*( unreserved / sub-delims / ":" )
        std::size_t dot = inside.find('.');
        if (dot == std::string_view::npos || dot < 2 || dot + 1 == inside.size()) {
            return false;
        }
        for (std::size_t i = 1; i < dot; ++i) {
            if (!isHex(inside[i])) {
                return false;
            }
        }
        for (char c : inside.substr(dot + 1)) {
            if (!(isUnreserved(c) || isSubDelim(c) || c == ':')) {
                return false;
            }
        }
        return true;
    }
    in6_addr address{};
    return inet_pton(AF_INET6, std::string(inside).c_str(), &address) == 1;
}

// RFC 3986, section 5.2.4.
std::string removeDotSegments(std::string_view input) {
    std::string output;
    auto dropLastSegment = [&output] {
        std::size_t slash = output.rfind('/');
        output.erase(slash == std::string::npos ? 0 : slash);
    };
    while (!input.empty()) {
        if (input.starts_with("../")) {
            input.remove_prefix(3);
        } else if (input.starts_with("./")) {
            input.remove_prefix(2);
        } else if (input.starts_with("/./")) {
            input.remove_prefix(2);
        } else if (input == "/.") {
            input = "/";
        } else if (input.starts_with("/../")) {
            input.remove_prefix(3);
            dropLastSegment();
        } else if (input == "/..") {
            input = "/";
            dropLastSegment();
        } else if (input == "." || input == "..") {
            input = {};
        } else {
            std::size_t next = input.find('/', 1);
            if (next == std::string_view::npos) {
                next = input.size();
            }
            output += input.substr(0, next);
            input.remove_prefix(next);
        }
    }
    return output;
}

}  // namespace

std::string percentEncode(std::string_view text, std::string_view keep) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    // A table, so that a long `keep` (every byte but a few) costs no more per byte.
    bool kept[256] = {};
    for (const char c : keep) {
        kept[static_cast<unsigned char>(c)] = true;
    }
    kept[0] = false;
    std::string out;
    out.reserve(text.size() + text.size() / 2);
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (isAlpha(c) || isDigit(c) || kept[byte]) {
            out += c;
        } else {
            out += '%';
            out += kHex[byte >> 4];
            out += kHex[byte & 0xF];
        }
    }
    return out;
}

std::string percentDecode(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && isHex(text[i + 1]) && isHex(text[i + 2])) {
            out += static_cast<char>(hexValue(text[i + 1]) * 16 + hexValue(text[i + 2]));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

bool hasValidPercentEscapes(std::string_view text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' &&
            (i + 2 >= text.size() || !isHex(text[i + 1]) || !isHex(text[i + 2]))) {
            return false;
        }
    }
    return true;
}

std::optional<Url> Url::parse(std::string_view text) {
    auto parts = std::make_shared<Parts>();
    Parts& url = *parts;
    std::string_view rest = text;

    if (std::size_t hash = rest.find('#'); hash != std::string_view::npos) {
        std::string_view fragment = rest.substr(hash + 1);
        if (!valid(fragment, [](char c) {
                return isPchar(c) || c == '/' || c == '?' || c == '[' || c == ']';
            })) {
            return std::nullopt;
        }
        url.fragment = std::string(fragment);
        rest = rest.substr(0, hash);
    }
    if (std::size_t question = rest.find('?'); question != std::string_view::npos) {
        std::string_view query = rest.substr(question + 1);
        if (!valid(query, [](char c) {
                return isPchar(c) || c == '/' || c == '?' || c == '[' || c == ']';
            })) {
            return std::nullopt;
        }
        url.query = std::string(query);
        rest = rest.substr(0, question);
    }
    // A colon before the first slash ends the scheme; a relative reference cannot have one
    // there, so a prefix that is not a scheme makes the text invalid.
    if (std::size_t colon = rest.find(':');
        colon != std::string_view::npos && colon < rest.find('/')) {
        std::string_view scheme = rest.substr(0, colon);
        if (!validScheme(scheme)) {
            return std::nullopt;
        }
        url.scheme = std::string(scheme);
        rest = rest.substr(colon + 1);
    }
    if (rest.starts_with("//")) {
        rest.remove_prefix(2);
        std::size_t slash = rest.find('/');
        std::string_view authority = rest.substr(0, slash);
        rest = slash == std::string_view::npos ? std::string_view() : rest.substr(slash);
        url.authority = std::string(authority);

        std::string_view hostPort = authority;
        if (std::size_t at = authority.find('@'); at != std::string_view::npos) {
            std::string_view userInfo = authority.substr(0, at);
            if (!valid(userInfo,
                       [](char c) { return isUnreserved(c) || isSubDelim(c) || c == ':'; })) {
                return std::nullopt;
            }
            std::size_t colon = userInfo.find(':');
            url.user = percentDecode(userInfo.substr(0, colon));
            if (colon != std::string_view::npos) {
                url.password = percentDecode(userInfo.substr(colon + 1));
            }
            hostPort = authority.substr(at + 1);
        }
        std::string_view portText;
        if (hostPort.starts_with("[")) {
            std::size_t close = hostPort.find(']');
            if (close == std::string_view::npos || !validIpLiteral(hostPort.substr(1, close - 1))) {
                return std::nullopt;
            }
            url.host = std::string(hostPort.substr(1, close - 1));
            std::string_view after = hostPort.substr(close + 1);
            if (!after.empty()) {
                if (after[0] != ':') {
                    return std::nullopt;
                }
                portText = after.substr(1);
            }
        } else {
            std::size_t colon = hostPort.rfind(':');
            std::string_view host = hostPort.substr(0, colon);
            if (colon != std::string_view::npos) {
                portText = hostPort.substr(colon + 1);
            }
            if (!valid(host, [](char c) { return isUnreserved(c) || isSubDelim(c); })) {
                return std::nullopt;
            }
            url.host = std::string(host);
        }
        if (!portText.empty()) {
            int port = 0;
            for (char c : portText) {
                if (!isDigit(c)) {
                    return std::nullopt;
                }
                port = port * 10 + (c - '0');
                if (port > 65535) {
                    return std::nullopt;
                }
            }
            url.port = port;
        }
    }
    if (!valid(rest, [](char c) { return isPchar(c) || c == '/'; })) {
        return std::nullopt;
    }
    url.path = std::string(rest);
    url.text = std::string(text);
    return Url(std::move(parts));
}

std::optional<Url> Url::parse(std::string_view text, const Url& base) {
    std::optional<Url> reference = parse(text);
    if (!reference) {
        return std::nullopt;
    }
    return base.resolve(*reference);
}

Url Url::resolve(const Url& reference) const {
    const Parts& base = parts();
    const Parts& r = reference.parts();
    auto parts = std::make_shared<Parts>();
    Parts& t = *parts;
    auto takeAuthority = [&t](const Parts& from) {
        t.authority = from.authority;
        t.user = from.user;
        t.password = from.password;
        t.host = from.host;
        t.port = from.port;
    };
    if (!r.scheme.empty()) {
        t.scheme = r.scheme;
        takeAuthority(r);
        t.path = removeDotSegments(r.path);
        t.query = r.query;
    } else {
        if (r.authority) {
            takeAuthority(r);
            t.path = removeDotSegments(r.path);
            t.query = r.query;
        } else {
            if (r.path.empty()) {
                t.path = base.path;
                t.query = r.query ? r.query : base.query;
            } else {
                if (r.path.starts_with('/')) {
                    t.path = removeDotSegments(r.path);
                } else if (base.authority && base.path.empty()) {
                    t.path = removeDotSegments("/" + r.path);
                } else {
                    std::size_t slash = base.path.rfind('/');
                    std::string merged =
                        slash == std::string::npos ? std::string() : base.path.substr(0, slash + 1);
                    merged += r.path;
                    t.path = removeDotSegments(merged);
                }
                t.query = r.query;
            }
            takeAuthority(base);
        }
        t.scheme = base.scheme;
    }
    t.fragment = r.fragment;
    t.compose();
    return Url(std::move(parts));
}

Url Url::fileUrl(const std::filesystem::path& path) {
    std::filesystem::path absolute = path;
    if (!absolute.is_absolute()) {
        std::error_code ignored;
        absolute = std::filesystem::absolute(path, ignored);
        if (absolute.empty()) {
            absolute = std::filesystem::path("/") / path;
        }
    }
    auto parts = std::make_shared<Parts>();
    parts->scheme = "file";
    parts->authority = std::string();
    parts->path = percentEncode(absolute.native(), kPathKeeps);
    parts->compose();
    return Url(std::move(parts));
}

const Url::Parts& Url::emptyParts() {
    // Never destroyed: a moved-from Url may still be read while the process ends.
    static const NoDestructor<Parts> empty;
    return *empty;
}

void Url::Parts::compose() {
    // A built path must read back as a path. Without an authority, one that begins with "//"
    // would read back as an authority, and in a reference without a scheme a first segment
    // holding ":" as a scheme; a dot segment in front keeps the same path (RFC 3986, sections
    // 3.3 and 4.2), and goes on the next resolution.
    if (!authority) {
        if (path.starts_with("//")) {
            path.insert(0, "/.");
        } else if (scheme.empty() &&
                   path.substr(0, path.find('/')).find(':') != std::string::npos) {
            path.insert(0, "./");
        }
    }
    text.clear();
    if (!scheme.empty()) {
        text += scheme;
        text += ':';
    }
    if (authority) {
        text += "//";
        text += *authority;
    }
    text += path;
    if (query) {
        text += '?';
        text += *query;
    }
    if (fragment) {
        text += '#';
        text += *fragment;
    }
}

bool Url::isFileUrl() const {
    const std::string& scheme = parts().scheme;
    return scheme.size() == 4 && (scheme[0] | 0x20) == 'f' && (scheme[1] | 0x20) == 'i' &&
           (scheme[2] | 0x20) == 'l' && (scheme[3] | 0x20) == 'e';
}

std::string Url::path() const {
    return percentDecode(parts().path);
}

std::string Url::lastPathComponent() const {
    std::string decoded = path();
    if (decoded.empty() || decoded == "/") {
        return decoded;
    }
    while (decoded.size() > 1 && decoded.back() == '/') {
        decoded.pop_back();
    }
    if (decoded == "/") {
        return decoded;
    }
    std::size_t slash = decoded.rfind('/');
    return slash == std::string::npos ? decoded : decoded.substr(slash + 1);
}

Url Url::appendingPathComponent(std::string_view component) const {
    // The copy of the parts is this Url's to change; the parts shared with others stay as
    // they are.
    auto parts = std::make_shared<Parts>(this->parts());
    std::string& path = parts->path;
    if (path.empty() && parts->authority) {
        path = "/";
    } else if (!path.empty() && !path.ends_with('/')) {
        path += '/';
    }
    path += percentEncode(component, kPathKeeps);
    parts->compose();
    return Url(std::move(parts));
}

}  // namespace platform
