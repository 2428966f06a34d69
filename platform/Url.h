// URLs as RFC 3986 defines them: absolute URLs and relative references, resolution against a
// base, and the pieces the share service reads.
//
// A Url keeps every component exactly as it was written. Nothing is re-encoded or normalised, so
// a query such as "ud_get=q+8/Zw==" reaches the wire byte for byte; only resolution removes dot
// segments, as the RFC asks. Text that is not a URL gives no Url. Beyond the RFC's characters, a
// query and a fragment may hold "[" and "]", which form fields ("a[x][]=1") use unescaped.
#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

class Url {
  public:
    // An absolute URL or a relative reference; nullopt when the text is neither (characters a
    // URL cannot hold, a malformed percent escape, a bad scheme, host or port).
    static std::optional<Url> parse(std::string_view text);

    // The text read as a reference and resolved against the base (RFC 3986, section 5.2).
    static std::optional<Url> parse(std::string_view text, const Url& base);

    // A "file" URL of a local path; a relative path is taken from the working folder. Characters
    // that a path segment cannot hold are percent-escaped.
    static Url fileUrl(const std::filesystem::path& path);

    // The reference resolved with this URL as its base.
    Url resolve(const Url& reference) const;

    // The whole URL as text. For a parsed URL this is the text it was parsed from.
    const std::string& absoluteString() const { return parts().text; }
    const std::string& description() const { return parts().text; }

    // Empty for a relative reference.
    const std::string& scheme() const { return parts().scheme; }
    bool isFileUrl() const;

    // The host as written, without the brackets of an IP literal; empty when there is none.
    const std::string& host() const { return parts().host; }
    std::optional<int> port() const { return parts().port; }
    // User and password of the authority, percent-decoded.
    const std::optional<std::string>& user() const { return parts().user; }
    const std::optional<std::string>& password() const { return parts().password; }

    // The path percent-decoded (bytes as they decode; a trailing "/" is kept), and as written.
    std::string path() const;
    const std::string& rawPath() const { return parts().path; }

    // Query and fragment exactly as written, without their "?" and "#"; nullopt when absent,
    // "" when present but empty ("http://a/b?").
    const std::optional<std::string>& query() const { return parts().query; }
    const std::optional<std::string>& fragment() const { return parts().fragment; }

    // The last segment of the decoded path, a trailing "/" ignored; "/" for the root path.
    std::string lastPathComponent() const;

    // This URL with the component added as a new last path segment, escaped as needed ("/" in
    // the component separates segments). An empty component adds a trailing "/". The text
    // reads back as the same URL: whatever the component, it gains no authority or scheme.
    Url appendingPathComponent(std::string_view component) const;

    bool operator==(const Url& other) const {
        return parts_ == other.parts_ || parts().text == other.parts().text;
    }

  private:
    // A Url's components, built once and then shared by all its copies: Urls travel with
    // every request, response and task, and a copy must not cost an allocation per
    // component. Whatever builds or changes a Url fills a Parts of its own before sharing it.
    struct Parts {
        std::string scheme;
        std::optional<std::string> authority;  // raw, between "//" and the path
        std::optional<std::string> user;
        std::optional<std::string> password;
        std::string host;
        std::optional<int> port;
        std::string path;
        std::optional<std::string> query;
        std::optional<std::string> fragment;
        std::string text;

        // Sets the text from the components.
        void compose();
    };

    explicit Url(std::shared_ptr<const Parts> parts) : parts_(std::move(parts)) {}

    // A moved-from Url has no parts; it reads as the empty reference until assigned.
    const Parts& parts() const { return parts_ ? *parts_ : emptyParts(); }
    static const Parts& emptyParts();

    std::shared_ptr<const Parts> parts_;
};

// The text with every byte percent-escaped (upper-case hex) except ASCII letters, digits and
// the bytes of `keep`; a NUL is always escaped. Bytes are taken one by one, so UTF-8 text comes
// out as the escapes of its encoding.
std::string percentEncode(std::string_view text, std::string_view keep);

// The text with its percent escapes undone; a malformed escape stays as written.
std::string percentDecode(std::string_view text);
// Whether every "%" of the text starts a well-formed escape.
bool hasValidPercentEscapes(std::string_view text);

}  // namespace platform
