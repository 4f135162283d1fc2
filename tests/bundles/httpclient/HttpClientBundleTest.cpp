// The bundle as the host runs it: installed into a framework, registering the client service,
// and asking the framework's proxy service anew for every request.
#include <foundation/httpclient_core/HttpClient.h>
#include <foundation/httpproxy/ProxySelector.h>

#include <tripwire/testsupport/ForwardProxy.h>
#include <tripwire/testsupport/LoopbackServer.h>

#include <cppmicroservices/BundleContext.h>
#include <cppmicroservices/Framework.h>
#include <cppmicroservices/FrameworkEvent.h>
#include <cppmicroservices/FrameworkFactory.h>

#include <gtest/gtest.h>

namespace {

namespace cpp = cppmicroservices;
using foundation::httpclient_core::HttpClient;
using foundation::httpclient_core::HttpRequest;
using foundation::httpproxy::Proxy;
using foundation::httpproxy::ProxyCredentials;
using tripwire::testsupport::ForwardProxy;
using tripwire::testsupport::LoopbackServer;

struct FixedSelector final : foundation::httpproxy::ProxySelector {
    explicit FixedSelector(Proxy proxy) : proxy(std::move(proxy)) {}
    foundation::httpproxy::ProxyList select(const std::string& url) override {
        asked.push_back(url);
        return {proxy};
    }
    Proxy proxy;
    std::vector<std::string> asked;
};

struct HttpClientBundleTest : testing::Test {
    cpp::Framework framework = cpp::FrameworkFactory().NewFramework();

    HttpClientBundleTest() {
        framework.Start();
        for (auto& bundle : framework.GetBundleContext().InstallBundles(QBHTTPCLIENT_BUNDLE))
            bundle.Start();
    }
    ~HttpClientBundleTest() override {
        framework.Stop();
        framework.WaitForStop(std::chrono::seconds(10));
    }

    std::shared_ptr<HttpClient> client() {
        auto context = framework.GetBundleContext();
        const auto reference = context.GetServiceReference<HttpClient>();
        return reference ? context.GetService(reference) : nullptr;
    }
};

TEST_F(HttpClientBundleTest, RegistersTheClientUnderItsInterfaceName) {
    const auto reference =
        framework.GetBundleContext().GetServiceReference("foundation::httpclient_core::HttpClient");
    EXPECT_TRUE(static_cast<bool>(reference));
    ASSERT_NE(client(), nullptr);
}

TEST_F(HttpClientBundleTest, AsksTheProxyServiceForEveryRequest) {
    LoopbackServer server;
    server.addFile("a.zip", "content");
    ForwardProxy proxy{ForwardProxy::Credentials{"alice", "secret"}};
    const auto http = client();
    ASSERT_NE(http, nullptr);
    HttpRequest request;
    request.url = server.fileUrl("a.zip");

    EXPECT_EQ(http->send(request).body, "content"); // no proxy service yet: direct
    EXPECT_TRUE(proxy.forwarded().empty());

    auto selector = std::make_shared<FixedSelector>(Proxy(Proxy::Type::HTTP, "127.0.0.1",
                                                          static_cast<std::uint16_t>(proxy.port()),
                                                          ProxyCredentials("alice", "secret")));
    auto registration =
        framework.GetBundleContext().RegisterService<foundation::httpproxy::ProxySelector>(
            selector);
    EXPECT_EQ(http->send(request).body, "content");
    EXPECT_EQ(proxy.forwarded().size(), 1u);
    EXPECT_EQ(selector->asked, std::vector<std::string>{request.url});

    registration.Unregister();
    EXPECT_EQ(http->send(request).body, "content");
    EXPECT_EQ(proxy.forwarded().size(), 1u);
}

TEST_F(HttpClientBundleTest, StoppingTheBundleWithdrawsTheService) {
    for (auto& bundle : framework.GetBundleContext().GetBundles())
        if (bundle.GetSymbolicName() == "foundation_httpclient")
            bundle.Stop();
    EXPECT_EQ(client(), nullptr);
}

} // namespace
