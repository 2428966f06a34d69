// The cookies that connections keep: one jar for the process, filled from the "Set-Cookie"
// headers of every load whose request handles cookies, and sent back on later ones.
// Any thread.
#pragma once

#include <string>
#include <vector>

namespace platform {

struct Cookie {
    std::string domain;
    std::string path;
    std::string name;
    std::string value;
    bool secure = false;
    long long expires = 0;  // seconds since 1970; 0 for a session cookie

    bool operator==(const Cookie&) const = default;
};

class CookieJar {
  public:
    static CookieJar& shared();

    std::vector<Cookie> cookies() const;
    // A cookie as a server would set it for that host ("name=value; Path=/"). False, and the
    // jar unchanged, for an empty host or a value or host holding a line break or NUL.
    bool setCookie(const std::string& host, const std::string& setCookieValue);
    // Takes the cookie of that domain, path and name out of the jar; the others stay.
    void deleteCookie(const Cookie& cookie);
    void deleteAllCookies();

  private:
    CookieJar() = default;
};

}  // namespace platform
