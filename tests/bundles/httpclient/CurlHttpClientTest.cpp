#include <foundation/httpclient/CurlHttpClient.h>
#include <foundation/httpclient/EnvironmentOptions.h>

#include <tripwire/testsupport/ForwardProxy.h>
#include <tripwire/testsupport/LoopbackServer.h>
#include <tripwire/testsupport/TempDirectory.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <atomic>
#include <fstream>
#include <sstream>
#include <thread>

namespace foundation::httpclient {
namespace {

using httpclient_core::HttpError;
using httpclient_core::HttpRequest;
using testing::HasSubstr;
using tripwire::testsupport::ForwardProxy;
using tripwire::testsupport::LoopbackServer;
using tripwire::testsupport::ScopedVariable;
using tripwire::testsupport::TempDirectory;

std::string patterned(std::size_t size) {
    std::string data(size, '\0');
    for (std::size_t i = 0; i < size; ++i)
        data[i] = static_cast<char>((i * 31 + i / 7) & 0xff);
    return data;
}

std::string readFile(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

HttpRequest get(const std::string& url) {
    HttpRequest request;
    request.url = url;
    return request;
}

CurlHttpClientOptions quickStallGuard() {
    CurlHttpClientOptions options;
    options.stallTime = std::chrono::seconds(1);
    options.stallBytesPerSecond = 1024;
    return options;
}

HttpError::Kind failureKind(const std::function<void()>& call) {
    try {
        call();
    } catch (const HttpError& error) {
        return error.kind();
    }
    ADD_FAILURE() << "no HttpError";
    return HttpError::Kind::OTHER;
}

struct CurlHttpClientTest : testing::Test {
    LoopbackServer server;
    CurlHttpClient client{{}, quickStallGuard()};
    TempDirectory temp;
};

TEST_F(CurlHttpClientTest, GetReturnsStatusHeadersBodyAndSendsRequestHeaders) {
    server.addFile("a.zip", "hello");
    auto request = get(server.fileUrl("a.zip") + "#fragment-is-not-sent");
    request.headers = {{"X-Probe", "42"}};
    const auto response = client.send(request);
    EXPECT_EQ(response.status, 200);
    EXPECT_EQ(response.body, "hello");
    EXPECT_EQ(httpclient_core::findHeader(response.headers, "content-type"), "application/zip");
    EXPECT_EQ(response.effectiveUrl, server.fileUrl("a.zip"));
    ASSERT_EQ(server.requests().size(), 1u);
    EXPECT_EQ(server.requests().back().header("X-Probe"), "42");
    EXPECT_EQ(server.requests().back().path, "/files/a.zip");
}

TEST_F(CurlHttpClientTest, ErrorStatusesAreResponsesNotExceptions) {
    const auto response = client.send(get(server.fileUrl("a.zip", "status=503")));
    EXPECT_EQ(response.status, 503);
    EXPECT_EQ(response.body, "injected status 503");
}

TEST_F(CurlHttpClientTest, FollowsTenRedirectsButNotEleven) {
    server.addFile("a.zip", "end");
    const auto response = client.send(get(server.fileUrl("a.zip", "redirect=10")));
    EXPECT_EQ(response.status, 200);
    EXPECT_EQ(response.body, "end");
    EXPECT_EQ(server.requests().size(), 11u);
    EXPECT_EQ(failureKind([&] { client.send(get(server.fileUrl("a.zip", "redirect=11"))); }),
              HttpError::Kind::TOO_MANY_REDIRECTS);
}

TEST_F(CurlHttpClientTest, RedirectToAnotherHostDoesNotCarryTheAuthorization) {
    server.addFile("a.zip", "moved");
    auto request = get(server.fileUrl("a.zip", "redirect-host=localhost"));
    request.headers = {{"Authorization", "Bearer secret"}};
    const auto response = client.send(request);
    EXPECT_EQ(response.body, "moved");
    const auto seen = server.requests();
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].header("Authorization"), "Bearer secret");
    EXPECT_THAT(seen[1].header("Host"), HasSubstr("localhost"));
    EXPECT_EQ(seen[1].header("Authorization"), "");
}

TEST(RedirectPolicyTest, HttpsMayOnlyBeRedirectedToHttps) {
    EXPECT_EQ(allowedRedirectProtocols("https://example.test/a"), "https");
    EXPECT_EQ(allowedRedirectProtocols("HTTPS://example.test/a"), "https");
    EXPECT_EQ(allowedRedirectProtocols("http://127.0.0.1/a"), "http,https");
}

TEST_F(CurlHttpClientTest, TransferFaultsHaveTheirOwnKinds) {
    server.addFile("big.zip", patterned(100000));
    const auto path = temp / "out";
    EXPECT_EQ(failureKind(
                  [&] { client.download(get(server.fileUrl("big.zip", "stall=2000")), path, {}); }),
              HttpError::Kind::STALLED);
    EXPECT_EQ(
        failureKind([&] { client.download(get(server.fileUrl("big.zip", "cut=5000")), path, {}); }),
        HttpError::Kind::TRUNCATED);
    EXPECT_EQ(failureKind([&] { client.send(get("ftp://127.0.0.1/x")); }),
              HttpError::Kind::INVALID_REQUEST);
    EXPECT_EQ(failureKind([&] {
                  client.download(get(server.fileUrl("big.zip")), temp / "no/such/dir", {});
              }),
              HttpError::Kind::FILE);
}

TEST_F(CurlHttpClientTest, UnreachableServerIsAConnectFailure) {
    std::string url;
    {
        LoopbackServer gone;
        url = gone.url("/x");
    }
    EXPECT_EQ(failureKind([&] { client.send(get(url)); }), HttpError::Kind::CONNECT);
}

TEST_F(CurlHttpClientTest, DownloadStreamsIntoAnOwnerOnlyFileAndReportsProgress) {
    const std::string content = patterned(300 * 1024);
    server.addFile("big.zip", content);
    std::vector<std::pair<std::uint64_t, std::optional<std::uint64_t>>> calls;
    const auto path = temp / "big.zip";
    const auto response =
        client.download(get(server.fileUrl("big.zip")), path,
                        [&](std::uint64_t received, std::optional<std::uint64_t> total) {
                            calls.emplace_back(received, total);
                            return true;
                        });
    EXPECT_EQ(response.status, 200);
    EXPECT_TRUE(response.body.empty());
    EXPECT_EQ(readFile(path), content);
    struct stat info {};
    ASSERT_EQ(::stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    ASSERT_FALSE(calls.empty());
    EXPECT_EQ(calls.back().first, content.size());
    EXPECT_EQ(calls.back().second, content.size());
    for (std::size_t i = 1; i < calls.size(); ++i)
        EXPECT_LE(calls[i - 1].first, calls[i].first);
}

TEST_F(CurlHttpClientTest, DownloadOfAnErrorKeepsTheBodyOutOfTheFile) {
    const auto path = temp / "out";
    const auto response = client.download(get(server.fileUrl("a.zip", "status=404")), path, {});
    EXPECT_EQ(response.status, 404);
    EXPECT_EQ(response.body, "injected status 404");
    EXPECT_EQ(std::filesystem::file_size(path), 0u);
}

TEST_F(CurlHttpClientTest, ProgressCallbackCanAbortTheDownload) {
    server.addFile("big.zip", patterned(300 * 1024));
    EXPECT_EQ(failureKind([&] {
                  client.download(get(server.fileUrl("big.zip")), temp / "out",
                                  [](std::uint64_t received, auto) { return received < 1000; });
              }),
              HttpError::Kind::ABORTED);
}

TEST_F(CurlHttpClientTest, ConcurrentRequestsFromManyThreads) {
    server.addFile("a.zip", patterned(20000));
    std::atomic<int> good{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 6; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 4; ++i)
                if (client.send(get(server.fileUrl("a.zip"))).body.size() == 20000)
                    ++good;
        });
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(good.load(), 24);
}

struct ProxiedClientTest : testing::Test {
    LoopbackServer server;
    ForwardProxy proxy{ForwardProxy::Credentials{"user", "p@ss:word"}};

    CurlHttpClient clientWith(std::optional<std::pair<std::string, std::string>> credentials) {
        return CurlHttpClient([this, credentials](const std::string&) {
            ProxyChoice choice{proxy.url(), credentials.has_value(), {}, {}};
            if (credentials)
                std::tie(choice.username, choice.password) = *credentials;
            return choice;
        });
    }
};

TEST_F(ProxiedClientTest, RequestsTravelThroughTheChosenProxyWithItsCredentials) {
    server.addFile("a.zip", "via proxy");
    auto client = clientWith(std::make_pair("user", "p@ss:word"));
    const auto response = client.send(get(server.fileUrl("a.zip")));
    EXPECT_EQ(response.status, 200);
    EXPECT_EQ(response.body, "via proxy");
    EXPECT_THAT(proxy.forwarded(), testing::ElementsAre(server.fileUrl("a.zip")));
    EXPECT_EQ(server.requests().size(), 1u);
}

TEST_F(ProxiedClientTest, MissingOrWrongCredentialsGetTheProxysRefusal) {
    server.addFile("a.zip", "x");
    EXPECT_EQ(clientWith(std::nullopt).send(get(server.fileUrl("a.zip"))).status, 407);
    EXPECT_EQ(clientWith(std::make_pair("user", "wrong")).send(get(server.fileUrl("a.zip"))).status,
              407);
    EXPECT_TRUE(proxy.forwarded().empty());
    EXPECT_TRUE(server.requests().empty());
}

TEST_F(ProxiedClientTest, ProcessProxyVariablesAreIgnoredWhenTheChoiceIsDirect) {
    server.addFile("a.zip", "direct");
    ScopedVariable http("http_proxy", proxy.url());
    ScopedVariable all("ALL_PROXY", proxy.url());
    CurlHttpClient direct;
    EXPECT_EQ(direct.send(get(server.fileUrl("a.zip"))).body, "direct");
    EXPECT_TRUE(proxy.forwarded().empty());
    EXPECT_EQ(proxy.challenged(), 0);
}

TEST(EnvironmentOptionsTest, StallGuardComesFromTheEnvironmentWhenValid) {
    {
        ScopedVariable seconds("QB_HTTPCLIENT_STALL_SECONDS", "5");
        ScopedVariable rate("QB_HTTPCLIENT_STALL_BYTES_PER_SECOND", "100");
        const auto options = optionsFromEnvironment();
        EXPECT_EQ(options.stallTime, std::chrono::seconds(5));
        EXPECT_EQ(options.stallBytesPerSecond, 100);
    }
    for (const char* bad : {"0", "-3", "5s", ""}) {
        ScopedVariable seconds("QB_HTTPCLIENT_STALL_SECONDS", bad);
        EXPECT_EQ(optionsFromEnvironment().stallTime, std::chrono::seconds(60)) << bad;
    }
    const CurlHttpClientOptions defaults;
    EXPECT_EQ(defaults.connectTimeout, std::chrono::seconds(30));
    EXPECT_EQ(defaults.stallBytesPerSecond, 1024);
    EXPECT_EQ(defaults.maxRedirects, 10);
}

} // namespace
} // namespace foundation::httpclient
