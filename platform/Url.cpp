#include "platform/Url.h"

#include <arpa/inet.h>
#include <netinet/in.h>

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
    Url url;
    std::string_view rest = text;

    if (std::size_t hash = rest.find('#'); hash != std::string_view::npos) {
        std::string_view fragment = rest.substr(hash + 1);
        if (!valid(fragment, [](char c) {
                return isPchar(c) || c == '/' || c == '?' || c == '[' || c == ']';
            })) {
            return std::nullopt;
        }
        url.fragment_ = std::string(fragment);
        rest = rest.substr(0, hash);
    }
    if (std::size_t question = rest.find('?'); question != std::string_view::npos) {
        std::string_view query = rest.substr(question + 1);
        if (!valid(query, [](char c) {
                return isPchar(c) || c == '/' || c == '?' || c == '[' || c == ']';
            })) {
            return std::nullopt;
        }
        url.query_ = std::string(query);
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
        url.scheme_ = std::string(scheme);
        rest = rest.substr(colon + 1);
    }
    if (rest.starts_with("//")) {
        rest.remove_prefix(2);
        std::size_t slash = rest.find('/');
        std::string_view authority = rest.substr(0, slash);
        rest = slash == std::string_view::npos ? std::string_view() : rest.substr(slash);
        url.authority_ = std::string(authority);

        std::string_view hostPort = authority;
        if (std::size_t at = authority.find('@'); at != std::string_view::npos) {
            std::string_view userInfo = authority.substr(0, at);
            if (!valid(userInfo,
                       [](char c) { return isUnreserved(c) || isSubDelim(c) || c == ':'; })) {
                return std::nullopt;
            }
            std::size_t colon = userInfo.find(':');
            url.user_ = percentDecode(userInfo.substr(0, colon));
            if (colon != std::string_view::npos) {
                url.password_ = percentDecode(userInfo.substr(colon + 1));
            }
            hostPort = authority.substr(at + 1);
        }
        std::string_view portText;
        if (hostPort.starts_with("[")) {
            std::size_t close = hostPort.find(']');
            if (close == std::string_view::npos || !validIpLiteral(hostPort.substr(1, close - 1))) {
                return std::nullopt;
            }
            url.host_ = std::string(hostPort.substr(1, close - 1));
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
            url.host_ = std::string(host);
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
            url.port_ = port;
        }
    }
    if (!valid(rest, [](char c) { return isPchar(c) || c == '/'; })) {
        return std::nullopt;
    }
    url.path_ = std::string(rest);
    url.text_ = std::string(text);
    return url;
}

std::optional<Url> Url::parse(std::string_view text, const Url& base) {
    std::optional<Url> reference = parse(text);
    if (!reference) {
        return std::nullopt;
    }
    return base.resolve(*reference);
}

Url Url::resolve(const Url& r) const {
    const Url& base = *this;
    Url t;
    auto takeAuthority = [&t](const Url& from) {
        t.authority_ = from.authority_;
        t.user_ = from.user_;
        t.password_ = from.password_;
        t.host_ = from.host_;
        t.port_ = from.port_;
    };
    if (!r.scheme_.empty()) {
        t.scheme_ = r.scheme_;
        takeAuthority(r);
        t.path_ = removeDotSegments(r.path_);
        t.query_ = r.query_;
    } else {
        if (r.authority_) {
            takeAuthority(r);
            t.path_ = removeDotSegments(r.path_);
            t.query_ = r.query_;
        } else {
            if (r.path_.empty()) {
                t.path_ = base.path_;
                t.query_ = r.query_ ? r.query_ : base.query_;
            } else {
                if (r.path_.starts_with('/')) {
                    t.path_ = removeDotSegments(r.path_);
                } else if (base.authority_ && base.path_.empty()) {
                    t.path_ = removeDotSegments("/" + r.path_);
                } else {
                    std::size_t slash = base.path_.rfind('/');
                    std::string merged = slash == std::string::npos
                                             ? std::string()
                                             : base.path_.substr(0, slash + 1);
                    merged += r.path_;
                    t.path_ = removeDotSegments(merged);
                }
                t.query_ = r.query_;
            }
            takeAuthority(base);
        }
        t.scheme_ = base.scheme_;
    }
    t.fragment_ = r.fragment_;
    t.compose();
    return t;
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
    Url url;
    url.scheme_ = "file";
    url.authority_ = std::string();
    url.path_ = percentEncode(absolute.native(), kPathKeeps);
    url.compose();
    return url;
}

void Url::compose() {
    // A built path must read back as a path. Without an authority, one that begins with "//"
    // would read back as an authority, and in a reference without a scheme a first segment
    // holding ":" as a scheme; a dot segment in front keeps the same path (RFC 3986, sections
    // 3.3 and 4.2), and goes on the next resolution.
    if (!authority_) {
        if (path_.starts_with("//")) {
            path_.insert(0, "/.");
        } else if (scheme_.empty() &&
                   path_.substr(0, path_.find('/')).find(':') != std::string::npos) {
            path_.insert(0, "./");
        }
    }
    text_.clear();
    if (!scheme_.empty()) {
        text_ += scheme_;
        text_ += ':';
    }
    if (authority_) {
        text_ += "//";
        text_ += *authority_;
    }
    text_ += path_;
    if (query_) {
        text_ += '?';
        text_ += *query_;
    }
    if (fragment_) {
        text_ += '#';
        text_ += *fragment_;
    }
}

bool Url::isFileUrl() const {
    return scheme_.size() == 4 && (scheme_[0] | 0x20) == 'f' && (scheme_[1] | 0x20) == 'i' &&
           (scheme_[2] | 0x20) == 'l' && (scheme_[3] | 0x20) == 'e';
}

std::string Url::path() const {
    return percentDecode(path_);
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
    Url url = *this;
    if (url.path_.empty() && url.authority_) {
        url.path_ = "/";
    } else if (!url.path_.empty() && !url.path_.ends_with('/')) {
        url.path_ += '/';
    }
    url.path_ += percentEncode(component, kPathKeeps);
    url.compose();
    return url;
}

}  // namespace platform
