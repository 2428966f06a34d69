#include "platform/net/UrlResponse.h"

#include <charconv>

namespace platform {

namespace {

std::string_view trim(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
        text.remove_prefix(1);
    }
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) {
        text.remove_suffix(1);
    }
    return text;
}

std::string asciiLower(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return out;
}

struct ContentType {
    std::string mimeType;
    std::optional<std::string> charset;
};

// "text/html; charset=\"ISO-8859-1\"" -> "text/html" and "ISO-8859-1".
ContentType parseContentType(std::string_view value) {
    ContentType result;
    const auto semicolon = value.find(';');
    result.mimeType = asciiLower(trim(value.substr(0, semicolon)));
    std::string_view rest = semicolon == std::string_view::npos ? "" : value.substr(semicolon + 1);
    while (!rest.empty()) {
        const auto next = rest.find(';');
        const std::string_view parameter = trim(rest.substr(0, next));
        rest = next == std::string_view::npos ? "" : rest.substr(next + 1);
        const auto equals = parameter.find('=');
        if (equals == std::string_view::npos ||
            asciiLower(trim(parameter.substr(0, equals))) != "charset") {
            continue;
        }
        std::string_view charset = trim(parameter.substr(equals + 1));
        if (charset.size() >= 2 && charset.front() == '"' && charset.back() == '"') {
            charset = charset.substr(1, charset.size() - 2);
        }
        if (!charset.empty()) {
            result.charset = std::string(charset);
        }
    }
    return result;
}

std::int64_t contentLength(const HeaderFields& headers) {
    const auto value = headers.value("Content-Length");
    if (!value) {
        return -1;
    }
    const std::string_view text = trim(*value);
    std::int64_t length = -1;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), length);
    if (error != std::errc() || end != text.data() + text.size() || length < 0) {
        return -1;
    }
    return length;
}

}  // namespace

UrlResponse::UrlResponse(Url url, std::string mimeType, std::int64_t expectedContentLength,
                         std::optional<std::string> textEncodingName)
    : url_(std::move(url)),
      mimeType_(std::move(mimeType)),
      expectedLength_(expectedContentLength),
      encodingName_(std::move(textEncodingName)) {}

std::string UrlResponse::suggestedFilename() const {
    const std::string name = url_.lastPathComponent();
    return name.empty() || name == "/" ? "Unknown" : name;
}

std::string UrlResponse::description() const {
    return "<UrlResponse: " + url_.absoluteString() + ">";
}

HttpUrlResponse::HttpUrlResponse(Url url, int statusCode, std::string httpVersion,
                                 HeaderFields headers)
    : HttpUrlResponse(std::move(url), statusCode, std::move(httpVersion), std::move(headers), [&] {
          auto type = parseContentType(headers.value("Content-Type").value_or(""));
          return ContentType(std::move(type.mimeType), std::move(type.charset));
      }()) {}

// The fields move only once the content type is read from them.
HttpUrlResponse::HttpUrlResponse(Url&& url, int statusCode, std::string&& httpVersion,
                                 HeaderFields&& headers, ContentType type)
    : UrlResponse(std::move(url), std::move(type.first), contentLength(headers),
                  std::move(type.second)),
      status_(statusCode),
      version_(std::move(httpVersion)),
      headers_(std::move(headers)) {}

std::string HttpUrlResponse::localizedStringForStatusCode(int statusCode) {
    switch (statusCode) {
        case 100:
            return "continue";
        case 101:
            return "switching protocols";
        case 200:
            return "no error";
        case 201:
            return "created";
        case 202:
            return "accepted";
        case 203:
            return "non-authoritative information";
        case 204:
            return "no content";
        case 205:
            return "reset content";
        case 206:
            return "partial content";
        case 300:
            return "multiple choices";
        case 301:
            return "moved permanently";
        case 302:
            return "found";
        case 303:
            return "see other";
        case 304:
            return "not modified";
        case 305:
            return "needs proxy";
        case 307:
            return "temporarily redirected";
        case 308:
            return "permanent redirect";
        case 400:
            return "bad request";
        case 401:
            return "unauthorized";
        case 402:
            return "payment required";
        case 403:
            return "forbidden";
        case 404:
            return "not found";
        case 405:
            return "method not allowed";
        case 406:
            return "unacceptable";
        case 407:
            return "proxy authentication required";
        case 408:
            return "request timed out";
        case 409:
            return "conflict";
        case 410:
            return "no longer exists";
        case 411:
            return "length required";
        case 412:
            return "precondition failed";
        case 413:
            return "request too large";
        case 414:
            return "requested URL too long";
        case 415:
            return "unsupported media type";
        case 416:
            return "requested range not satisfiable";
        case 417:
            return "expectation failed";
        case 500:
            return "internal server error";
        case 501:
            return "unimplemented";
        case 502:
            return "bad gateway";
        case 503:
            return "service unavailable";
        case 504:
            return "gateway timed out";
        case 505:
            return "unsupported version";
        default:
            break;
    }
    switch (statusCode / 100) {
        case 1:
            return "informational";
        case 2:
            return "success";
        case 3:
            return "redirected";
        case 4:
            return "client error";
        case 5:
            return "server error";
        default:
            return "server error";
    }
}

std::string HttpUrlResponse::description() const {
    return "<HttpUrlResponse: " + url().absoluteString() +
           " { Status Code: " + std::to_string(status_) + " }>";
}

}  // namespace platform
