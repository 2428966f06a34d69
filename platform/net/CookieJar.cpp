#include "platform/net/CookieJar.h"

#include <curl/curl.h>

#include <ctime>
#include <memory>
#include <sstream>
#include <string_view>

#include <strings.h>

#include "platform/net/detail/NetworkLoop.h"

namespace platform {

namespace {

// libcurl reads and writes the shared jar through an easy handle attached to it; the jar's
// own lock makes that safe from any thread.
struct JarHandle {
    JarHandle() : easy(curl_easy_init()) {
        curl_easy_setopt(easy, CURLOPT_SHARE, NetworkThread::sharedCookieShare());
        curl_easy_setopt(easy, CURLOPT_COOKIEFILE, "");
    }
    ~JarHandle() { curl_easy_cleanup(easy); }
    CURL* easy;
};

Cookie parseNetscapeLine(const std::string& line) {
    std::vector<std::string> fields;
    std::istringstream in(line);
    for (std::string field; std::getline(in, field, '\t');) {
        fields.push_back(field);
    }
    fields.resize(7);
    Cookie cookie;
    cookie.domain = fields[0];
    if (cookie.domain.rfind("#HttpOnly_", 0) == 0) {
        cookie.domain.erase(0, 10);
    }
    cookie.path = fields[2];
    cookie.secure = fields[3] == "TRUE";
    try {
        cookie.expires = fields[4].empty() ? 0 : std::stoll(fields[4]);
    } catch (const std::exception&) {
        cookie.expires = 0;
    }
    cookie.name = fields[5];
    cookie.value = fields[6];
    return cookie;
}

// Only an attribute counts, in any letter case: "Domain=" within the cookie's value does not.
bool hasDomainAttribute(std::string_view setCookieValue) {
    std::size_t at = setCookieValue.find(';');
    while (at != std::string_view::npos) {
        std::string_view attribute = setCookieValue.substr(at + 1);
        at = setCookieValue.find(';', at + 1);
        attribute = attribute.substr(0, attribute.find(';'));
        while (!attribute.empty() && (attribute.front() == ' ' || attribute.front() == '\t')) {
            attribute.remove_prefix(1);
        }
        const std::string_view name = attribute.substr(0, attribute.find('='));
        if (name.size() >= 6 && strncasecmp(name.data(), "domain", 6) == 0 &&
            name.find_first_not_of(" \t", 6) == std::string_view::npos) {
            return true;
        }
    }
    return false;
}

}  // namespace

CookieJar& CookieJar::shared() {
    static auto* jar = new CookieJar;
    return *jar;
}

std::vector<Cookie> CookieJar::cookies() const {
    JarHandle handle;
    curl_slist* list = nullptr;
    std::vector<Cookie> out;
    if (curl_easy_getinfo(handle.easy, CURLINFO_COOKIELIST, &list) == CURLE_OK) {
        // An expired cookie is no longer the jar's, though libcurl may list it until it
        // next sweeps.
        const long long now = static_cast<long long>(std::time(nullptr));
        for (curl_slist* item = list; item; item = item->next) {
            Cookie cookie = parseNetscapeLine(item->data);
            if (cookie.expires == 0 || cookie.expires > now) {
                out.push_back(std::move(cookie));
            }
        }
    }
    curl_slist_free_all(list);
    return out;
}

bool CookieJar::setCookie(const std::string& host, const std::string& setCookieValue) {
    // The jar takes one header line: a break would smuggle a second cookie in.
    const std::string_view breaks("\r\n\0", 3);
    if (host.empty() || host.find_first_of(breaks) != std::string::npos ||
        setCookieValue.find_first_of(breaks) != std::string::npos) {
        return false;
    }
    JarHandle handle;
    std::string value = setCookieValue;
    if (!hasDomainAttribute(value)) {
        value += "; Domain=" + host;
    }
    return curl_easy_setopt(handle.easy, CURLOPT_COOKIELIST, ("Set-Cookie: " + value).c_str()) ==
           CURLE_OK;
}

void CookieJar::deleteCookie(const Cookie& cookie) {
    const std::string_view breaks("\r\n\0", 3);
    const std::string_view separators(";=", 2);
    if (cookie.domain.empty() || cookie.name.empty() ||
        (cookie.domain + cookie.path + cookie.name).find_first_of(breaks) != std::string::npos ||
        cookie.name.find_first_of(separators) != std::string::npos ||
        cookie.path.find(';') != std::string::npos) {
        return;
    }
    // The jar has no removal of one cookie: the same cookie set again as expired replaces it,
    // and an expired cookie is dropped.
    std::string line = "Set-Cookie: " + cookie.name + "=; Domain=" + cookie.domain +
                       "; Path=" + (cookie.path.empty() ? std::string("/") : cookie.path) +
                       "; Expires=Thu, 01 Jan 1970 00:00:01 GMT";
    JarHandle handle;
    curl_easy_setopt(handle.easy, CURLOPT_COOKIELIST, line.c_str());
}

void CookieJar::deleteAllCookies() {
    JarHandle handle;
    curl_easy_setopt(handle.easy, CURLOPT_COOKIELIST, "ALL");
}

}  // namespace platform
