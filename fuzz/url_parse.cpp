// Any text (a reference, then after a line break an optional base): parsing answers a URL or
// nothing; a URL keeps its text and reads back with the same parts; a reference resolved
// against an absolute base, or given one more path component, is a URL whose text reads back
// as the same URL; escaping undoes; a file URL gives back its path.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/Url.h"

namespace {

bool sameParts(const platform::Url& a, const platform::Url& b) {
    return a.absoluteString() == b.absoluteString() && a.scheme() == b.scheme() &&
           a.host() == b.host() && a.port() == b.port() && a.user() == b.user() &&
           a.password() == b.password() && a.rawPath() == b.rawPath() && a.query() == b.query() &&
           a.fragment() == b.fragment();
}

void checkReadsBack(const platform::Url& url) {
    const auto again = platform::Url::parse(url.absoluteString());
    if (!again || !sameParts(*again, url)) {
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view all(reinterpret_cast<const char*>(data), size);
    const std::size_t newline = all.find('\n');
    const std::string_view text = all.substr(0, newline);
    const std::string_view baseText = newline == std::string_view::npos
                                          ? std::string_view("http://127.0.0.1/a/b;p?q#f")
                                          : all.substr(newline + 1);

    const auto url = platform::Url::parse(text);
    if (url) {
        if (url->absoluteString() != text) {
            std::abort();
        }
        checkReadsBack(*url);
        (void)url->path();
        (void)url->lastPathComponent();
        checkReadsBack(url->appendingPathComponent(baseText));
    }
    const auto base = platform::Url::parse(baseText);
    if (url && base && !base->scheme().empty()) {
        const platform::Url resolved = base->resolve(*url);
        if (resolved.scheme().empty()) {
            std::abort();
        }
        checkReadsBack(resolved);
    }

    const std::string encoded = platform::percentEncode(text, "-._~[]");
    if (platform::percentDecode(encoded) != text || !platform::hasValidPercentEscapes(encoded)) {
        std::abort();
    }
    if (text.starts_with('/') && text.find('\0') == std::string_view::npos) {
        const auto file =
            platform::Url::parse(platform::Url::fileUrl(std::string(text)).absoluteString());
        if (!file || !file->isFileUrl() || file->path() != text) {
            std::abort();
        }
    }
    return 0;
}
