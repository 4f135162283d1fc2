// Servers that answer with more than asked, redirect into the clear, or leave out the digest
// that ties the installer to the document.
#include <foundation/httpclient/CurlHttpClient.h>
#include <halvexconnector/latestversion/checker/LatestVersionChecker.h>

#include <tripwire/testsupport/LoopbackServer.h>
#include <tripwire/testsupport/ScriptedHttpClient.h>
#include <tripwire/testsupport/TempDirectory.h>
#include <tripwire/testsupport/Thrown.h>

#include <gtest/gtest.h>

namespace {

using foundation::httpclient::CurlHttpClient;
using foundation::httpclient::CurlHttpClientOptions;
using foundation::httpclient::redirectAllowed;
using foundation::httpclient_core::HttpError;
using foundation::httpclient_core::HttpRequest;
using halvexconnector::latestversion::checker::LatestVersionChecker;
using halvexconnector::latestversion::checker::LatestVersionError;
using namespace tripwire::testsupport;

std::optional<HttpError::Kind> failureOf(CurlHttpClient& client, const std::string& url) {
    HttpRequest request;
    request.url = url;
    const auto error = thrown<HttpError>([&] { client.send(request); });
    return error ? std::optional(error->kind()) : std::nullopt;
}

TEST(HostileServer, RedirectsAreCheckedHopByHop) {
    const struct {
        const char* from;
        const char* to;
        bool allowed;
    } cases[] = {{"http://127.0.0.1:8080/a", "http://localhost:9/b", true},
                 {"http://127.0.0.1/a", "http://[::1]/b", true},
                 {"http://127.0.0.1/a", "https://downloads.example/b", true},
                 {"https://a.example/a", "https://b.example/b", true},
                 {"http://127.0.0.1/a", "http://downloads.example/b", false},
                 {"http://127.0.0.1/a", "http://10.0.0.1/b", false},
                 {"http://a.example/a", "http://127.0.0.1/b", false},
                 {"https://127.0.0.1/a", "http://127.0.0.1/b", false},
                 {"https://a.example/a", "ftp://a.example/b", false},
                 {"http://127.0.0.1/a", "not a url", false}};
    for (const auto& [from, to, allowed] : cases) {
        EXPECT_EQ(redirectAllowed(from, to), allowed) << from << " -> " << to;
    }

    // A hop out of loopback fails as insecure before anything resolves or connects to the new
    // host; a name that can never resolve shows that nothing was tried.
    LoopbackServer server;
    server.addFile("kci.zip", "archive");
    CurlHttpClient client;
    EXPECT_EQ(failureOf(client, server.fileUrl("kci.zip", "redirect-host=outside.invalid")),
              HttpError::Kind::INSECURE_REDIRECT);
    EXPECT_EQ(failureOf(client, server.fileUrl("kci.zip", "redirect=2")), std::nullopt);
}

TEST(HostileServer, AnswersKeptInMemoryAreBounded) {
    LoopbackServer server;
    CurlHttpClientOptions options;
    options.maxResponseBytes = 4096;
    CurlHttpClient client({}, options);
    const struct {
        std::size_t size;
        std::optional<HttpError::Kind> failure;
    } cases[] = {{4096, std::nullopt}, {4097, HttpError::Kind::TOO_LARGE}};
    for (const auto& [size, failure] : cases) {
        server.addFile("answer", std::string(size, 'x'));
        EXPECT_EQ(failureOf(client, server.fileUrl("answer")), failure) << size;
    }
}

TEST(HostileServer, TheDocumentComesSecurelyAndNamesADigest) {
    // No trusted key: signatures are SignedDocumentTest's.
    const TempDirectory keyless;
    const ScopedVariable root("QB_INSTALL_ROOT", keyless.path().string());
    const std::string digest(64, 'a');
    const struct {
        const char* base;
        const char* archive;
        bool withDigest;
        bool accepted;
        int requests;
    } cases[] = {{"https://maker.example", "https://cdn.example/kci.zip", true, true, 1},
                 {"https://maker.example", "https://cdn.example/kci.zip", false, false, 1},
                 {"https://127.0.0.1", "https://cdn.example/kci.zip", false, false, 1},
                 {"http://127.0.0.1:1", "http://127.0.0.1:1/kci.zip", false, true, 1},
                 {"http://localhost:1", "https://cdn.example/kci.zip", true, true, 1},
                 {"http://maker.example", "https://cdn.example/kci.zip", true, false, 0},
                 {"http://10.0.0.1", "https://cdn.example/kci.zip", true, false, 0}};
    for (const auto& [base, archive, withDigest, accepted, requests] : cases) {
        auto client = std::make_shared<ScriptedHttpClient>();
        client->response.body =
            latestDocument("1", archive, withDigest ? std::optional(digest) : std::nullopt);
        LatestVersionChecker checker(client, std::make_shared<FixedUrlManager>(base));
        if (accepted) {
            EXPECT_EQ(checker.getLatestKCIUrl().first, "1") << base << " " << archive;
        } else {
            EXPECT_THROW(checker.getLatestKCIUrl(), LatestVersionError) << base << " " << archive;
        }
        EXPECT_EQ(client->urls.size(), static_cast<std::size_t>(requests))
            << base << " " << archive;
    }
}

} // namespace
