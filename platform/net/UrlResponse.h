// What a server answered: the response's metadata, not its body. Immutable once made, so
// it is shared freely between threads as std::shared_ptr<const UrlResponse>.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
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

// A response's header fields as the lines that carried them, for a response that reads them
// into fields only when they are asked for: most responses never are. What a response needs
// at once (its Content-Type and Content-Length) and what a reader of the lines must judge
// (whether a Transfer-Encoding came) are noted as the lines come.
class HeaderBlock {
  public:
    // A field's name and value without the blanks around them.
    struct Field {
        std::string_view name;
        std::string_view value;
    };

    // Appends one header line (its line end may be left out) and gives its field, as views
    // into the line; a line without a colon holds no field and is left out.
    std::optional<Field> append(std::string_view line);
    void clear();
    bool empty() const { return lines_.empty(); }

    // The Content-Type fields' value, several joined as HeaderFields::add joins them.
    std::optional<std::string_view> contentType() const;
    // The one length the Content-Length fields agree on; else their values joined.
    const std::optional<std::string>& contentLength() const { return contentLength_; }
    // False once a Content-Length field gave no length, or another than the earlier ones.
    bool contentLengthReadable() const { return lengthReadable_; }
    bool hasTransferEncoding() const { return transferEncoding_; }

  private:
    friend class HttpUrlResponse;

    std::string lines_;  // each ends in '\n'
    std::size_t typeAt_ = 0;
    std::size_t typeSize_ = 0;
    bool hasType_ = false;
    std::optional<std::string> joinedType_;  // only for more than one Content-Type
    std::optional<std::string> contentLength_;
    bool lengthReadable_ = true;
    bool transferEncoding_ = false;
};

class HttpUrlResponse : public UrlResponse {
    // Only the class itself names it: see fromHeaderBlock.
    struct FromBlock {};

  public:
    // MIME type, text encoding and expected length are read from the header fields.
    HttpUrlResponse(Url url, int statusCode, std::string httpVersion, HeaderFields headers);

    // A response whose fields are read from the block's lines when first asked for. They are
    // the fields a HeaderFields gets line by line: a repeated field joined to the first as
    // "old,new" under the first spelling, Content-Length as the one length its fields
    // agree on. The response takes a copy of the lines just their size: the block's room
    // stays with the reader that fills it again, on its own thread.
    static std::shared_ptr<const HttpUrlResponse> fromHeaderBlock(Url url, int statusCode,
                                                                  std::string httpVersion,
                                                                  const HeaderBlock& headers);
    HttpUrlResponse(FromBlock, Url url, int statusCode, std::string httpVersion,
                    const HeaderBlock& headers);

    HttpUrlResponse(const HttpUrlResponse&) = delete;
    HttpUrlResponse& operator=(const HttpUrlResponse&) = delete;

    int statusCode() const { return status_; }
    const std::string& httpVersion() const { return version_; }
    // Looked up without regard to case. Safe from any thread.
    const HeaderFields& allHeaderFields() const;

    // The platform's lower-case text for a status code ("not found"); "server error" and the
    // like for codes it does not know, by class.
    static std::string localizedStringForStatusCode(int statusCode);

    std::string description() const override;

  private:
    // What the base class takes from the header fields, read once from them.
    struct Content {
        std::string mimeType;
        std::optional<std::string> charset;
        std::int64_t length;
    };
    HttpUrlResponse(Content content, Url&& url, int statusCode, std::string&& httpVersion);

    int status_;
    std::string version_;
    // The lines headers_ is read from on first use; empty when the fields were given.
    std::string lines_;
    mutable std::once_flag linesRead_;
    mutable HeaderFields headers_;
};

// A response and its body as a cache would keep them.
struct CachedUrlResponse {
    std::shared_ptr<const UrlResponse> response;
    Bytes data;
};

}  // namespace platform
