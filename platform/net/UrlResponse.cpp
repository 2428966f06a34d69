#include "platform/net/UrlResponse.h"

#include <charconv>

#include "platform/net/NetworkThreadAllocator.h"
#include "platform/net/detail/HeaderLines.h"

namespace platform {

namespace {

using detail::trim;

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

// -1 when there is no length, or it cannot be read.
std::int64_t expectedLength(const std::optional<std::string>& value) {
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

// The fields as the load used to set them line by line: a Content-Length takes the one
// length that it and the earlier ones agree on, other fields are added.
HeaderFields readHeaderLines(std::string_view lines) {
    HeaderFields headers;
    while (!lines.empty()) {
        const auto end = lines.find('\n');
        const std::string_view line =
            end == std::string_view::npos ? lines : lines.substr(0, end + 1);
        lines.remove_prefix(line.size());
        const auto field = detail::fieldLine(line);
        if (!field) {
            continue;
        }
        if (HeaderFields::sameName(field->name, "Content-Length")) {
            if (auto length =
                    detail::contentLength(field->value, headers.value("Content-Length"))) {
                headers.set(field->name, std::move(*length));
                continue;
            }
        }
        headers.add(field->name, field->value);
    }
    return headers;
}

// Room for the lines of most responses' headers, so that they are not moved as they grow.
constexpr std::size_t kHeaderLinesReserve = 512;

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
    : HttpUrlResponse(
          [&] {
              auto type = parseContentType(headers.value("Content-Type").value_or(""));
              return Content{std::move(type.mimeType), std::move(type.charset),
                             expectedLength(headers.value("Content-Length"))};
          }(),
          std::move(url), statusCode, std::move(httpVersion)) {
    headers_ = std::move(headers);
}

std::optional<HeaderBlock::Field> HeaderBlock::append(std::string_view line) {
    const auto field = detail::fieldLine(line);
    if (!field) {
        return std::nullopt;
    }
    if (lines_.empty()) {
        lines_.reserve(kHeaderLinesReserve);
    }
    const std::size_t at = lines_.size();
    lines_ += line;
    if (line.back() != '\n') {
        lines_ += '\n';
    }
    const auto [name, value] = *field;
    // Most names are none of these, and tell so by their length.
    if (name.size() == 12 && HeaderFields::sameName(name, "Content-Type")) {
        if (!hasType_) {
            hasType_ = true;
            typeAt_ = at + static_cast<std::size_t>(value.data() - line.data());
            typeSize_ = value.size();
        } else {
            joinedType_ = std::string(*contentType()) + "," + std::string(value);
        }
    } else if (name.size() == 14 && HeaderFields::sameName(name, "Content-Length")) {
        auto length = lengthReadable_ ? detail::contentLength(value, contentLength_) : std::nullopt;
        if (length) {
            contentLength_ = std::move(length);
        } else {
            lengthReadable_ = false;
            contentLength_ =
                contentLength_ ? *contentLength_ + "," + std::string(value) : std::string(value);
        }
    } else if (name.size() == 17 && HeaderFields::sameName(name, "Transfer-Encoding")) {
        transferEncoding_ = true;
    }
    return field;
}

// Field by field, keeping the room of the lines: cheaper than assigning a new block.
void HeaderBlock::clear() {
    lines_.clear();
    typeAt_ = 0;
    typeSize_ = 0;
    hasType_ = false;
    joinedType_.reset();
    contentLength_.reset();
    lengthReadable_ = true;
    transferEncoding_ = false;
}

std::optional<std::string_view> HeaderBlock::contentType() const {
    if (joinedType_) {
        return *joinedType_;
    }
    if (!hasType_) {
        return std::nullopt;
    }
    return std::string_view(lines_).substr(typeAt_, typeSize_);
}

std::shared_ptr<const HttpUrlResponse> HttpUrlResponse::fromHeaderBlock(
    Url url, int statusCode, std::string httpVersion, const HeaderBlock& headers) {
    // Made on the network thread, mostly let go of on the main one.
    return std::allocate_shared<HttpUrlResponse>(NetworkThreadAllocator<HttpUrlResponse>(),
                                                 FromBlock{}, std::move(url), statusCode,
                                                 std::move(httpVersion), headers);
}

// The fields wait; the two the base class needs were noted as the lines came.
HttpUrlResponse::HttpUrlResponse(FromBlock, Url url, int statusCode, std::string httpVersion,
                                 const HeaderBlock& headers)
    : HttpUrlResponse(
          [&] {
              auto type = parseContentType(headers.contentType().value_or(""));
              return Content{std::move(type.mimeType), std::move(type.charset),
                             expectedLength(headers.contentLength())};
          }(),
          std::move(url), statusCode, std::move(httpVersion)) {
    lines_ = headers.lines_;
}

HttpUrlResponse::HttpUrlResponse(Content content, Url&& url, int statusCode,
                                 std::string&& httpVersion)
    : UrlResponse(std::move(url), std::move(content.mimeType), content.length,
                  std::move(content.charset)),
      status_(statusCode),
      version_(std::move(httpVersion)) {}

const HeaderFields& HttpUrlResponse::allHeaderFields() const {
    if (!lines_.empty()) {
        std::call_once(linesRead_, [this] { headers_ = readHeaderLines(lines_); });
    }
    return headers_;
}

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
