// What a server answered: the response's metadata, not its body. Immutable once made, so
// it is shared freely between threads as std::shared_ptr<const UrlResponse>.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "platform/Url.h"
#include "platform/Value.h"
#include "platform/net/UrlRequest.h"

namespace platform {

class UrlResponse {
  public:
    // expectedContentLength is -1 when unknown.
    UrlResponse(Url url, std::string mimeType, std::int64_t expectedContentLength,
                std::optional<std::string> textEncodingName);
    virtual ~UrlResponse() = default;

    const Url& url() const { return url_; }
    // Lower-case type and subtype without parameters ("text/html"); empty when unknown.
    const std::string& mimeType() const { return mimeType_; }
    std::int64_t expectedContentLength() const { return expectedLength_; }
    // The charset parameter as the server wrote it ("ISO-8859-1"), when there was one.
    const std::optional<std::string>& textEncodingName() const { return encodingName_; }
    // The last path component of the URL, else "Unknown".
    std::string suggestedFilename() const;

    virtual std::string description() const;

  private:
    Url url_;
    std::string mimeType_;
    std::int64_t expectedLength_;
    std::optional<std::string> encodingName_;
};

class HttpUrlResponse : public UrlResponse {
  public:
    // MIME type, text encoding and expected length are read from the header fields.
    HttpUrlResponse(Url url, int statusCode, std::string httpVersion, HeaderFields headers);

    int statusCode() const { return status_; }
    const std::string& httpVersion() const { return version_; }
    // Looked up without regard to case.
    const HeaderFields& allHeaderFields() const { return headers_; }

    // The platform's lower-case text for a status code ("not found"); "server error" and the
    // like for codes it does not know, by class.
    static std::string localizedStringForStatusCode(int statusCode);

    std::string description() const override;

  private:
    // The MIME type and text encoding, read once from the header fields.
    using ContentType = std::pair<std::string, std::optional<std::string>>;
    HttpUrlResponse(Url&& url, int statusCode, std::string&& httpVersion, HeaderFields&& headers,
                    ContentType type);

    int status_;
    std::string version_;
    HeaderFields headers_;
};

// A response and its body as a cache would keep them.
struct CachedUrlResponse {
    std::shared_ptr<const UrlResponse> response;
    Bytes data;
};

}  // namespace platform
