#include <foundation/httpclient/CurlHttpClient.h>
#include <foundation/httpclient/EnvironmentOptions.h>
#include <foundation/httpclient/ObservedHttpClient.h>

#include "RecordingObserver.h"

#include <tripwire/testsupport/ForwardProxy.h>
#include <tripwire/testsupport/LoopbackServer.h>
#include <tripwire/testsupport/TempDirectory.h>
#include <tripwire/testsupport/TestAuthority.h>
#include <tripwire/testsupport/Thrown.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace foundation::httpclient {
namespace {

using namespace tripwire::testsupport;
using httpclient_core::HttpError;
using Kind = HttpError::Kind;
using testing::ElementsAre;

httpclient_core::HttpRequest get(const std::string& url,
                                 httpclient_core::HttpHeaders headers = {}) {
    return {"GET", url, std::move(headers), {}, {}};
}

std::optional<Kind> failureOf(const std::function<void()>& call) {
    const auto error = thrown<HttpError>(call);
    return error ? std::optional(error->kind()) : std::nullopt;
}

struct CurlHttpClientTest : testing::Test {
    LoopbackServer server;
    TempDirectory temp;
    CurlHttpClient client{{},
                          {.stallTime = std::chrono::seconds(1), .retries = 0, .extraCaFile = ""}};
    CurlHttpClientTest() { server.addFile("a.zip", std::string(100000, 'a')); }
};

TEST_F(CurlHttpClientTest, SendAnswersWithTheFinalResponseAfterAtMostTenRedirects) {
    const auto response =
        client.send(get(server.fileUrl("a.zip", "redirect=10") + "#no", {{"X-Probe", "42"}}));
    EXPECT_EQ(response.status, 200);
    EXPECT_EQ(response.body.size(), 100000u);
    EXPECT_EQ(httpclient_core::findHeader(response.headers, "content-type"), "application/zip");
    EXPECT_EQ(response.effectiveUrl, server.fileUrl("a.zip"));
    ASSERT_EQ(server.requests().size(), 11u);
    EXPECT_EQ(server.requests().back().header("X-Probe"), "42");
    // Another host does not get the Authorization header.
    client.send(
        get(server.fileUrl("a.zip", "redirect-host=localhost"), {{"Authorization", "Bearer s"}}));
    const auto seen = server.requests();
    EXPECT_EQ(seen[seen.size() - 2].header("Authorization"), "Bearer s");
    EXPECT_EQ(seen.back().header("Authorization"), "");
    EXPECT_EQ(allowedRedirectProtocols("HTTPS://example.test/a"), "https")
        << "never into the clear";
    EXPECT_EQ(allowedRedirectProtocols("http://127.0.0.1/a"), "http,https");
}

TEST_F(CurlHttpClientTest, EveryTransferFaultHasItsOwnKind) {
    const std::string gone = LoopbackServer().url("/x"); // nothing listens there any more
    // The URL, sent (else downloaded into the file), the download's progress callback.
    const std::tuple<std::string, std::string, httpclient_core::ProgressCallback, Kind> cases[] = {
        {server.fileUrl("a.zip", "redirect=11"), "", {}, Kind::TOO_MANY_REDIRECTS},
        {server.fileUrl("a.zip", "stall=2000"), "out", {}, Kind::STALLED},
        {server.fileUrl("a.zip", "cut=5000"), "out", {}, Kind::TRUNCATED},
        {"ftp://127.0.0.1/x", "", {}, Kind::INVALID_REQUEST},
        {server.fileUrl("a.zip"), "no/dir", {}, Kind::FILE},
        {gone, "", {}, Kind::CONNECT},
        {server.fileUrl("a.zip"), "out", [](auto got, auto) { return got < 1000; }, Kind::ABORTED},
    };
    for (const auto& [url, file, progress, kind] : cases)
        EXPECT_EQ(failureOf([&] {
                      file.empty() ? client.send(get(url))
                                   : client.download(get(url), temp / file, progress);
                  }),
                  kind)
            << url;
}

TEST_F(CurlHttpClientTest, DownloadStreamsIntoAnOwnerOnlyFileAndReportsProgress) {
    const std::string content(100000, 'a');
    std::vector<std::uint64_t> received;
    const auto response =
        client.download(get(server.fileUrl("a.zip")), temp / "big.zip",
                        [&](std::uint64_t got, std::optional<std::uint64_t> total) {
                            EXPECT_EQ(total, content.size());
                            received.push_back(got);
                            return true;
                        });
    EXPECT_TRUE(response.body.empty());
    EXPECT_TRUE(readFile(temp / "big.zip") == content);
    EXPECT_EQ(modeOf(temp / "big.zip"), 0600u);
    EXPECT_TRUE(std::is_sorted(received.begin(), received.end()));
    EXPECT_EQ(received.back(), content.size());
    // An error's body stays out of the file.
    const auto error =
        client.download(get(server.fileUrl("a.zip", "status=404")), temp / "big.zip", {});
    EXPECT_EQ(error.body, "injected status 404");
    EXPECT_EQ(std::filesystem::file_size(temp / "big.zip"), 0u);
}

// A resumed answer from another version of the file (the validator changed) is dropped and the
// file fetched again whole; a cut that persists ends after three retries.
TEST_F(CurlHttpClientTest, AChangedFileStartsAgainFromZeroAndRetriesEndAfterThree) {
    CurlHttpClient patient({}, {.retryDelay = std::chrono::milliseconds(1), .extraCaFile = ""});
    const auto whole = patient.download(
        get(server.fileUrl("a.zip", "cut-first=40000&etag=changing")), temp / "a", {});
    EXPECT_EQ(whole.sha256, sha256Hex(std::string(100000, 'a')));
    std::vector<std::string> ranges;
    for (const auto& seen : server.requests())
        ranges.push_back(seen.header("Range"));
    EXPECT_THAT(ranges, ElementsAre("", "bytes=40000-", ""));
    EXPECT_EQ(failureOf([&] {
                  patient.download(get(server.fileUrl("a.zip", "cut=10")), temp / "a", {});
              }),
              Kind::TRUNCATED);
    EXPECT_EQ(server.requests().size(), 3u + 4u);
}

// The extra authority is trusted only through the variable, and only for a certificate naming
// the host and in force; an https download never continues in the clear.
TEST(CurlHttpClientTls, TrustsTheExtraAuthorityForCurrentCertificatesOfTheRightNameOnly) {
    TestAuthority authority;
    TempDirectory temp;
    authority.writeCertificate(temp / "ca.pem");
    ScopedVariable ca("QB_HTTPCLIENT_EXTRA_CA_FILE", (temp / "ca.pem").string());
    const ServerIdentity good = authority.issue("127.0.0.1", temp.path());
    const std::tuple<ServerIdentity, std::string, std::optional<Kind>> cases[] = {
        {good, "", std::nullopt},
        {good, "redirect-host=127.0.0.1", Kind::INSECURE_REDIRECT},
        {authority.issue("localhost", temp.path()), "", Kind::TLS},
        {authority.issue("127.0.0.1", temp.path(), true), "", Kind::TLS},
    };
    for (const auto& [identity, query, failure] : cases) {
        LoopbackServer server(identity);
        server.addFile("a.zip", "tls");
        const auto fetch = [&, query = query](const CurlHttpClientOptions& options) {
            return failureOf([&] {
                CurlHttpClient(nullptr, options)
                    .download(get(server.fileUrl("a.zip", query)), temp / "a", {});
            });
        };
        EXPECT_EQ(fetch(optionsFromEnvironment()), failure) << query;
        EXPECT_EQ(fetch({}), Kind::TLS) << "not trusted without the variable";
    }
}

TEST_F(CurlHttpClientTest, RequestsGoThroughTheChosenProxyAndNeverTheProcessSettings) {
    ForwardProxy proxy{ForwardProxy::Credentials{"user", "p@ss:word"}};
    const auto via = [&](std::optional<std::string> password) {
        return CurlHttpClient([&proxy, password](const std::string&) {
                   return ProxyChoice{proxy.url(), password.has_value(), "user",
                                      password.value_or("")};
               })
            .send(get(server.fileUrl("a.zip")))
            .status;
    };
    EXPECT_EQ(via("p@ss:word"), 200);
    EXPECT_THAT(proxy.forwarded(), ElementsAre(server.fileUrl("a.zip")));

    ScopedVariable http("http_proxy", proxy.url());
    ScopedVariable all("ALL_PROXY", proxy.url());
    EXPECT_EQ(CurlHttpClient().send(get(server.fileUrl("a.zip"))).status, 200);
    EXPECT_EQ(proxy.forwarded().size(), 1u) << "a direct choice stays direct";

    // The stall guard comes from the environment when valid.
    ScopedVariable rate("QB_HTTPCLIENT_STALL_BYTES_PER_SECOND", "100");
    EXPECT_EQ(optionsFromEnvironment().stallBytesPerSecond, 100);
    for (const auto& [value, seconds] :
         {std::pair{"5", 5}, {"0", 60}, {"-3", 60}, {"5s", 60}, {"", 60}}) {
        ScopedVariable stall("QB_HTTPCLIENT_STALL_SECONDS", value);
        EXPECT_EQ(optionsFromEnvironment().stallTime, std::chrono::seconds(seconds)) << value;
    }
}

// Reports 100, 200, ... up to `size` bytes of a known total, stopping when the callback says so.
struct ScriptedClient final : httpclient_core::HttpClient {
    std::uint64_t size = 300;
    int status = 200;
    std::optional<Kind> failWith;
    httpclient_core::HttpResponse send(const httpclient_core::HttpRequest&) override {
        return {200, {}, "body", {}, {}};
    }
    httpclient_core::HttpResponse
    download(const httpclient_core::HttpRequest& request, const std::filesystem::path&,
             const httpclient_core::ProgressCallback& progress) override {
        for (std::uint64_t got = 100; got <= size; got += 100)
            if (progress && !progress(got, size))
                throw HttpError(Kind::ABORTED, "aborted");
        if (failWith)
            throw HttpError(*failWith, "scripted failure");
        return {status, {}, {}, request.url, {}};
    }
};

struct ThrowingObserver final : httpclient_core::TransferObserver {
    void transferStarted(const std::string&) override { throw std::runtime_error("started"); }
    void transferProgress(const std::string&, std::uint64_t,
                          std::optional<std::uint64_t>) override {
        throw 42;
    }
    void transferFinished(const std::string&, bool) override { throw std::runtime_error("done"); }
};

TEST(ObservedHttpClient, ObserversHearEveryDownloadStepThrottledAndCanChangeNothing) {
    const auto inner = std::make_shared<ScriptedClient>();
    const auto observer = std::make_shared<RecordingObserver>();
    TransferObservers observers{std::make_shared<ThrowingObserver>(), nullptr, observer};
    int lookups = 0;
    const auto observed = [&](std::chrono::milliseconds interval) {
        return ObservedHttpClient(
            inner, [&] { return ++lookups, observers; }, interval);
    };
    auto instant = observed(std::chrono::milliseconds(0));
    std::vector<std::uint64_t> seen;
    const auto keep = [&](std::uint64_t got, auto) {
        return seen.push_back(got), true;
    };
    EXPECT_EQ(instant.download(get("http://h/a.zip#part"), "unused", keep).status, 200);
    EXPECT_THAT(seen, ElementsAre(100, 200, 300));
    EXPECT_EQ(instant.send(get("http://h/a")).body, "body");
    EXPECT_EQ(lookups, 1) << "a send is not observed";
    inner->size = 1000; // throttled: the first and the final value only
    observed(std::chrono::hours(1)).download(get("http://h/t"), "unused", {});
    inner->size = 0;
    inner->status = 404;
    instant.download(get("http://h/s"), "unused", {});
    inner->status = 200;
    inner->failWith = Kind::STALLED;
    EXPECT_EQ(failureOf([&] { instant.download(get("http://h/f"), "unused", {}); }), Kind::STALLED);
    EXPECT_THAT(
        observer->calls,
        testing::ElementsAreArray(
            {"started http://h/a.zip", "progress http://h/a.zip 100/300",
             "progress http://h/a.zip 200/300", "progress http://h/a.zip 300/300",
             "finished http://h/a.zip ok", "started http://h/t", "progress http://h/t 100/1000",
             "progress http://h/t 1000/1000", "finished http://h/t ok", "started http://h/s",
             "finished http://h/s failed", "started http://h/f", "finished http://h/f failed"}));
    inner->failWith.reset();
    ObservedHttpClient failingLookup(
        inner, []() -> TransferObservers { throw std::runtime_error("stopped"); });
    EXPECT_EQ(failingLookup.download(get("http://h/a"), "unused", {}).status, 200);
}

} // namespace
} // namespace foundation::httpclient
