#include <foundation/httpproxy/Proxy.h>

#include <gtest/gtest.h>

namespace foundation::httpproxy {
namespace {

TEST(Proxy, NoProxyIsTheDefaultAndDiffersFromEveryRealProxy) {
    EXPECT_EQ(Proxy(), Proxy::NO_PROXY);
    EXPECT_FALSE(Proxy::NO_PROXY.hasCredentials());
    EXPECT_TRUE(Proxy::NO_PROXY.getHost().empty());
    EXPECT_EQ(Proxy::NO_PROXY.toUrl(), "");
    EXPECT_NE(Proxy(Proxy::Type::HTTP, "", 0), Proxy::NO_PROXY);
}

TEST(Proxy, EqualityTakesCredentialsIntoAccount) {
    const Proxy plain(Proxy::Type::HTTP, "p", 8080);
    const Proxy withEmpty(Proxy::Type::HTTP, "p", 8080, ProxyCredentials{});
    const Proxy withUser(Proxy::Type::HTTP, "p", 8080, ProxyCredentials{"u", "pw"});
    EXPECT_NE(plain, withEmpty); // empty credentials are still credentials
    EXPECT_NE(withEmpty, withUser);
    EXPECT_EQ(withUser, Proxy(Proxy::Type::HTTP, "p", 8080, ProxyCredentials{"u", "pw"}));
    EXPECT_EQ(withUser.getCredentials().getUsername(), "u");
    EXPECT_EQ(withUser.getCredentials().getPassword(), "pw");
    EXPECT_EQ(plain.getCredentials().getUsername(), "");
}

TEST(Proxy, UrlBracketsIpv6HostsAndNamesTheScheme) {
    EXPECT_EQ(Proxy(Proxy::Type::SOCKS5H, "::1", 1080).toUrl(), "socks5h://[::1]:1080");
    EXPECT_EQ(Proxy(Proxy::Type::HTTPS, "proxy.example", 443).toUrl(), "https://proxy.example:443");
}

} // namespace
} // namespace foundation::httpproxy
