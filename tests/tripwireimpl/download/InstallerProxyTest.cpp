#include "download/InstallerProxy.h"

#include "support/ModuleServices.h"
#include "support/ScratchSpace.h"

#include <foundation/cppmicroservices/FrameworkAccess.h>

#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace {

using foundation::core::process::context;
using foundation::httpproxy::Proxy;
using foundation::httpproxy::ProxyCredentials;
using foundation::httpproxy::ProxyList;
using foundation::httpproxy::ProxySelector;
using halvexconnector::tripwireimpl::configureInstallerProxy;
using qbtest::ScopedEnvironment;
using tripwire_test::FixedProxySelector;
using tripwire_test::RunningFramework;

using Entries = std::vector<std::pair<std::string, std::string>>;

Entries entriesOf(const context& ctx) {
    return Entries(ctx.environment().begin(), ctx.environment().end());
}

class InstallerProxy : public ::testing::Test {
protected:
    // The proxy bundle is not loaded here: the selector is a stand-in with a fixed answer.
    std::shared_ptr<FixedProxySelector> offer(ProxyList answer) {
        auto selector = std::make_shared<FixedProxySelector>(std::move(answer));
        framework.registerService<ProxySelector>(selector);
        return selector;
    }
    Entries configured(context ctx = context()) {
        configureInstallerProxy(ctx);
        return entriesOf(ctx);
    }

    ScopedEnvironment makerUrl{"QB_URL_QUILLBECK_DOT_COM", std::string("https://maker.test")};
    RunningFramework framework;
};

TEST_F(InstallerProxy, WithoutASelectorTheEnvironmentStaysAsItWas) {
    context ctx;
    ctx.environment()["QB_PROXY_HOST"] = "kept";
    EXPECT_EQ(configured(ctx), (Entries{{"QB_PROXY_HOST", "kept"}}));
}

TEST_F(InstallerProxy, NoFrameworkADirectConnectionFirstAnEmptyListOrAnEmptyHostWriteNothing) {
    auto selector = offer({});
    for (const ProxyList& answer :
         {ProxyList{Proxy::NO_PROXY, Proxy(Proxy::Type::HTTP, "later", 3128)}, ProxyList{},
          ProxyList{Proxy(Proxy::Type::HTTP, "", 3128)}}) {
        selector->setAnswer(answer);
        EXPECT_TRUE(configured().empty());
    }
    foundation::cppmicroservices::clearFramework();
    selector->setAnswer({Proxy(Proxy::Type::HTTP, "unseen", 80)});
    EXPECT_TRUE(configured().empty());
}

TEST_F(InstallerProxy, AsksForTheMakersDomainAndUsesOnlyTheFirstProxy) {
    auto selector = offer({Proxy(Proxy::Type::HTTP, "first.proxy", 80),
                           Proxy(Proxy::Type::HTTP, "second.proxy", 8080)});
    EXPECT_EQ(configured(), (Entries{{"QB_PROXY_HOST", "first.proxy"}, {"QB_PROXY_PORT", "80"}}));
    EXPECT_EQ(selector->askedUrls(), (std::vector<std::string>{"https://maker.test"}));
}

TEST_F(InstallerProxy, PortsArePlainDecimalDigits) {
    auto selector = offer({});
    for (const auto& [port, digits] : std::vector<std::pair<std::uint16_t, std::string>>{
             {0, "0"}, {8, "8"}, {3128, "3128"}, {65535, "65535"}}) {
        selector->setAnswer({Proxy(Proxy::Type::SOCKS5, "10.0.0.1", port)});
        context ctx;
        configureInstallerProxy(ctx);
        EXPECT_EQ(ctx.environment().at("QB_PROXY_PORT"), digits);
    }
}

TEST_F(InstallerProxy, CredentialsAddUserAndPasswordInPlainTextEvenWhenEmpty) {
    offer({Proxy(Proxy::Type::HTTP, "auth.proxy", 8080,
                 ProxyCredentials("j\xc3\xb6rg", "p@ss word"))});
    EXPECT_EQ(configured(), (Entries{{"QB_PROXY_HOST", "auth.proxy"},
                                     {"QB_PROXY_PASSWORD", "p@ss word"},
                                     {"QB_PROXY_PORT", "8080"},
                                     {"QB_PROXY_USERNAME", "j\xc3\xb6rg"}}));
}

TEST_F(InstallerProxy, EmptyCredentialsAreWrittenAndMissingOnesLeaveEarlierEntries) {
    auto selector = offer({Proxy(Proxy::Type::HTTP, "auth.proxy", 8080, ProxyCredentials("", ""))});
    context withEmpty;
    withEmpty.environment()["QB_PROXY_PASSWORD"] = "stale";
    configureInstallerProxy(withEmpty);
    EXPECT_EQ(withEmpty.environment().at("QB_PROXY_USERNAME"), "");
    EXPECT_EQ(withEmpty.environment().at("QB_PROXY_PASSWORD"), "");

    selector->setAnswer({Proxy(Proxy::Type::HTTP, "plain.proxy", 80)});
    context without;
    without.environment()["QB_PROXY_USERNAME"] = "earlier";
    configureInstallerProxy(without);
    EXPECT_EQ(without.environment().at("QB_PROXY_USERNAME"), "earlier");
    EXPECT_EQ(without.environment().count("QB_PROXY_PASSWORD"), 0u);
}

TEST_F(InstallerProxy, AnEntryInAnotherCaseIsReplacedAndSpelledAsTheInstallerReadsIt) {
    offer({Proxy(Proxy::Type::HTTP, "new.proxy", 80)});
    context ctx;
    ctx.environment()["qb_proxy_host"] = "old.proxy";
    EXPECT_EQ(configured(ctx), (Entries{{"QB_PROXY_HOST", "new.proxy"}, {"QB_PROXY_PORT", "80"}}));
}

class ThrowingSelector : public ProxySelector {
public:
    ProxyList select(const std::string&) override { throw std::runtime_error("selector broke"); }
};

TEST_F(InstallerProxy, ASelectorFailureReachesTheCaller) {
    framework.registerService<ProxySelector>(std::make_shared<ThrowingSelector>());
    context ctx;
    EXPECT_THROW(configureInstallerProxy(ctx), std::runtime_error);
    EXPECT_TRUE(ctx.environment().empty());
}

} // namespace
