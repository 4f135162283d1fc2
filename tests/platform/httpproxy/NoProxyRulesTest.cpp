#include <foundation/httpproxy/NoProxyRules.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace foundation::httpproxy {
namespace {

struct Case {
    std::string setting;
    std::string host;
    std::uint16_t port;
    bool bypassed;
};

void PrintTo(const Case& c, std::ostream* os) {
    *os << "no_proxy=\"" << c.setting << "\" host=" << c.host << " port=" << c.port;
}

class NoProxyMatch : public testing::TestWithParam<Case> {};

TEST_P(NoProxyMatch, DecidesTheBypass) {
    const auto& c = GetParam();
    EXPECT_EQ(NoProxyRules::parse(c.setting).bypasses(c.host, c.port), c.bypassed);
}

INSTANTIATE_TEST_SUITE_P(
    Forms, NoProxyMatch,
    testing::Values(Case{"*", "anything.example", 443, true}, Case{"internal, *", "x", 80, true},
                    Case{"", "example.com", 80, false},
                    // A domain, with or without a leading dot or "*.", covers itself and its
                    // subdomains but not names that merely end in the same letters.
                    Case{"example.com", "example.com", 443, true},
                    Case{"example.com", "www.example.com", 443, true},
                    Case{"example.com", "a.b.example.com", 443, true},
                    Case{"example.com", "badexample.com", 443, false},
                    Case{"example.com", "example.com.evil", 443, false},
                    Case{".example.com", "www.example.com", 443, true},
                    Case{".example.com", "example.com", 443, true},
                    Case{"*.example.com", "www.example.com", 443, true},
                    Case{".example.com", "notexample.com", 443, false},
                    Case{"EXAMPLE.com.", "Www.Example.COM.", 80, true},
                    Case{"localhost", "localhost", 80, true},
                    Case{"localhost", "localhost.localdomain", 80, false},
                    // Several entries, blanks around them, empty ones skipped.
                    Case{" a.example , ,b.example ", "x.b.example", 80, true},
                    Case{"a.example,b.example", "c.example", 80, false},
                    // Addresses compare as addresses, not as text.
                    Case{"127.0.0.1", "127.0.0.1", 80, true},
                    Case{"127.0.0.1", "127.0.0.2", 80, false}, Case{"::1", "::1", 80, true},
                    Case{"::1", "[::1]", 80, true}, Case{"[::1]", "0:0:0:0:0:0:0:1", 80, true},
                    Case{"::1", "127.0.0.1", 80, false}, Case{"10.0.0.0/8", "10.200.3.4", 80, true},
                    Case{"10.0.0.0/8", "11.0.0.1", 80, false},
                    Case{"192.168.1.0/23", "192.168.0.255", 80, true},
                    Case{"192.168.1.0/23", "192.168.2.1", 80, false},
                    Case{"0.0.0.0/0", "8.8.8.8", 80, true}, Case{"fd00::/8", "fd12::5", 80, true},
                    Case{"[fd00::]/8", "fe80::1", 80, false},
                    Case{"10.0.0.0/8", "ten.example", 80, false},
                    // A port limits the entry to that port.
                    Case{"example.com:8080", "example.com", 8080, true},
                    Case{"example.com:8080", "example.com", 80, false},
                    Case{"127.0.0.1:3000", "127.0.0.1", 3000, true},
                    Case{"127.0.0.1:3000", "127.0.0.1", 3001, false},
                    Case{"[::1]:8443", "::1", 8443, true}, Case{"[::1]:8443", "::1", 443, false}));

TEST(NoProxyRules, UnreadableEntriesAreReportedAndTheOthersStillApply) {
    std::vector<std::string> rejected;
    const auto rules = NoProxyRules::parse(
        "bad host, example.com:99999, 10.0.0.0/33, [::1, a.example:x, *:80, good.example",
        &rejected);
    EXPECT_THAT(rejected, testing::ElementsAre("bad host", "example.com:99999", "10.0.0.0/33",
                                               "[::1", "a.example:x", "*:80"));
    EXPECT_TRUE(rules.bypasses("www.good.example", 443));
    EXPECT_FALSE(rules.bypasses("example.com", 443));
    EXPECT_FALSE(rules.bypasses("10.1.1.1", 443));
}

} // namespace
} // namespace foundation::httpproxy
