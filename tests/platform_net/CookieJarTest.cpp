// Taking one cookie out of the process's jar, without a server: the others stay, and a cookie
// that does not fit on one header line changes nothing.
#include <gtest/gtest.h>

#include <algorithm>

#include "platform/net/CookieJar.h"

namespace {

using platform::Cookie;
using platform::CookieJar;

TEST(CookieJarTest, DeletingACookieLeavesTheOthers) {
    auto& jar = CookieJar::shared();
    jar.deleteAllCookies();
    ASSERT_TRUE(jar.setCookie("login.example.org", "t=1; Path=/"));
    ASSERT_TRUE(jar.setCookie("login.example.org", "keep=2; Path=/"));
    ASSERT_TRUE(jar.setCookie("other.example.org", "t=3; Path=/"));
    ASSERT_EQ(jar.cookies().size(), 3u);

    for (const auto& cookie : jar.cookies()) {
        if (cookie.name == "t" && cookie.domain.find("login.") != std::string::npos) {
            jar.deleteCookie(cookie);
        }
    }
    auto left = jar.cookies();
    ASSERT_EQ(left.size(), 2u);
    EXPECT_TRUE(std::none_of(left.begin(), left.end(), [](const Cookie& c) {
        return c.name == "t" && c.domain.find("login.") != std::string::npos;
    }));

    // Nothing smuggled in through a broken name or domain.
    jar.deleteCookie(Cookie{"other.example.org\r\nSet-Cookie: x=1", "/", "t", ""});
    jar.deleteCookie(Cookie{"other.example.org", "/", "t; Domain=x", ""});
    EXPECT_EQ(jar.cookies().size(), 2u);
    jar.deleteAllCookies();
}

}  // namespace
