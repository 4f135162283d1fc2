#include <fl/filesystem/path_conversion.h>
#include <foundation/httpclient/CurlHttpClient.h>
#include <foundation/httpclient_core/HttpError.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <halvexconnector/latestversion/checker/LatestVersionChecker.h>
#include <halvexconnector/latestversion/kcidownloader/DownloadUrl.h>
#include <halvexconnector/latestversion/kcidownloader/KCIDownloader.h>
#include <random>
#include <tripwire/testsupport/LoopbackServer.h>
#include <tripwire/testsupport/ScriptedHttpClient.h>
#include <tripwire/testsupport/TempDirectory.h>
#include <tripwire/testsupport/Thrown.h>

namespace halvexconnector::latestversion {
namespace {

namespace fs = std::filesystem;
using namespace foundation::httpclient_core;
using kcidownloader::DownloadError;
using Reason = DownloadError::Reason;
using testing::AllOf;
using testing::HasSubstr;
using namespace tripwire::testsupport;

struct KCIDownloaderTest : testing::Test {
    const std::string content = std::string(1000, 'k') + "archive";
    const std::string url = "https://cdn.example.test/a/kci-2024.zip";
    std::shared_ptr<ScriptedHttpClient> client = std::make_shared<ScriptedHttpClient>();
    TempDirectory temp;
    KCIDownloaderTest() { client->response.body = content; }
    fs::path fetch(const std::string& from, const fs::path& directory) {
        return fl::filesystem::to_native(kcidownloader::KCIDownloader(client).fetchKCI(
            from, fl::filesystem::path_from_native(directory)));
    }
    DownloadError failureOf(const std::string& from, const fs::path& directory) {
        return thrown<DownloadError>([&] { fetch(from, directory); })
            .value_or(DownloadError(Reason::TRANSFER, "no DownloadError for " + from));
    }
};

TEST_F(KCIDownloaderTest, CreatesPrivateDirectoriesAndEveryFaultEndsWithItsReason) {
    writeFile(temp / "plain");
    const std::tuple<std::string, fs::path, Reason> cases[] = {
        {"http://downloads.example.test/kci.zip", temp / "v", Reason::INSECURE_URL},
        {"ftp://127.0.0.1/kci.zip", temp / "v", Reason::INVALID_URL},
        {url, temp / "plain/v", Reason::FILE_SYSTEM},
        {url, fs::path(), Reason::FILE_SYSTEM}};
    for (const auto& [from, directory, reason] : cases)
        EXPECT_EQ(failureOf(from, directory).reason(), reason) << from << " into " << directory;
    EXPECT_FALSE(fs::exists(temp / "v"));
    EXPECT_TRUE(client->urls.empty());
    const fs::path directory = temp / "location/v2024.7.0.6";
    client->response.headers = {{"Content-Length", std::to_string(content.size())}};
    client->response.effectiveUrl = "https://mirror.example.test/other-name.zip";
    const auto archive = fetch(url + "?t=1#sha256=" + sha256Hex(content), directory);
    EXPECT_EQ(archive, directory / "kci-2024.zip") << "the requested name, not the mirror's";
    EXPECT_EQ(readFile(archive), content);
    EXPECT_EQ(client->urls, std::vector<std::string>{url + "?t=1"}) << "no fragment sent";
    EXPECT_EQ(std::distance(fs::directory_iterator(directory), fs::directory_iterator()), 1);
    for (const auto& created : {temp / "location", directory})
        EXPECT_EQ(modeOf(created), 0700u) << created;
    writeFile(directory / "kci-2024.zip", "stale");
    EXPECT_EQ(readFile(fetch(url, directory)), content) << "replaced, also without a digest";
    const auto expectFailure = [&](const std::string& fragment, Reason reason,
                                   const std::string& text) {
        const auto error = failureOf(url + fragment, temp / "v");
        EXPECT_EQ(error.reason(), reason) << text;
        EXPECT_THAT(error.what(), AllOf(HasSubstr(text), HasSubstr("download of " + url)));
        EXPECT_TRUE(fs::is_empty(temp / "v")) << text;
    };
    using Kind = HttpError::Kind;
    for (const auto& [kind, reason] : {std::pair{Kind::TRUNCATED, Reason::TRUNCATED},
                                       {Kind::STALLED, Reason::STALLED},
                                       {Kind::TLS, Reason::TLS},
                                       {Kind::FILE, Reason::FILE_SYSTEM},
                                       {Kind::INSECURE_REDIRECT, Reason::INSECURE_URL},
                                       {Kind::INVALID_REQUEST, Reason::INVALID_URL},
                                       {Kind::CONNECT, Reason::TRANSFER}}) {
        client->failure = kind;
        expectFailure("", reason, "scripted failure");
    }
    client->failure.reset();
    for (const int status : {404, 204}) {
        client->response.status = status;
        expectFailure("", Reason::HTTP_STATUS, "HTTP status " + std::to_string(status));
    }
    client->response.status = 200;
    const std::string wrong = sha256Hex("something else");
    expectFailure("#sha256=" + wrong, Reason::DIGEST_MISMATCH, "expected " + wrong);
    // A redirect must not lead an https download into the clear.
    client->response.effectiveUrl = "http://cdn.example.test/kci.zip";
    expectFailure("", Reason::INSECURE_URL, "loopback");
    client->response.effectiveUrl.clear();
    client->response.headers = {{"Content-Length", "20"}};
    expectFailure("", Reason::SIZE_MISMATCH, "Content-Length announced 20");
    // Nor the latest-version check, of documents it cannot take or (the last) of no server.
    const ScopedVariable keyless("QB_INSTALL_ROOT", temp.path().string());
    checker::LatestVersionChecker check(client, std::make_shared<FixedUrlManager>());
    client->response.body = latestDocument("1", "https://h/k.zip", std::string(64, 'a'), 12);
    EXPECT_TRUE(check.getLatestKCIUrl().second.ends_with("aaa&size=12"));
    const std::string v1 = R"({"version": "1", "url": "https://h/k.zip")";
    for (const std::string& document :
         {std::string(R"({"version": "1"})"), v1 + R"(, "sha256": 5})", v1 + R"(, "sha256": "ab"})",
          v1 + R"(, "size": -1})", v1}) {
        client->response.body = document;
        client->failure = document == v1 ? std::optional(HttpError::Kind::CONNECT) : std::nullopt;
        const char* why = document == v1 ? "cannot reach https://base.example.test/" : "malformed";
        EXPECT_THAT(whatThrown<checker::LatestVersionError>([&check] { check.getLatestKCIUrl(); }),
                    HasSubstr(why))
            << document;
    }
    client.reset();
    EXPECT_EQ(failureOf(url, temp / "v").reason(), Reason::NO_CLIENT);
    checker::LatestVersionChecker withoutClient(nullptr, std::make_shared<FixedUrlManager>());
    EXPECT_THROW(withoutClient.getLatestKCIUrl(), checker::LatestVersionError);
}

// The document's size is refused before anything is created, the server's length before a byte.
TEST(KCIDownloaderOverHttp, ResumesACutDownloadAndRefusesWhatCannotFit) {
    LoopbackServer server;
    TempDirectory temp;
    std::string content(64u << 20, '\0');
    std::mt19937_64 random(7);
    for (std::size_t i = 0; i < content.size(); i += 8)
        *reinterpret_cast<std::uint64_t*>(&content[i]) = random();
    writeFile(temp / "source.zip", content);
    server.addFileFromDisk("kci.zip", temp / "source.zip");
    foundation::httpclient::CurlHttpClientOptions options;
    options.retryDelay = std::chrono::milliseconds(1);
    kcidownloader::KCIDownloader downloader(
        std::make_shared<foundation::httpclient::CurlHttpClient>(nullptr, options));
    const auto fetch = [&](const std::string& url) {
        return downloader.fetchKCI(url, fl::filesystem::path_from_native(temp / "v"));
    };
    const std::string half = std::to_string(content.size() / 2);
    EXPECT_EQ(
        fs::file_size(fl::filesystem::to_native(fetch(
            server.fileUrl("kci.zip", "cut-first=" + half) + "#sha256=" + sha256Hex(content)))),
        content.size());
    ASSERT_EQ(server.requests().size(), 2u);
    EXPECT_EQ(server.requests()[1].header("Range"), "bytes=" + half + "-");
    EXPECT_LE(server.bodyBytesSent(), content.size() * 11 / 10);
    const std::string huge = std::to_string(fs::space(temp.path()).available * 2);
    for (const auto& [url, created] :
         {std::pair{server.fileUrl("kci.zip") + "#size=" + huge, false},
          std::pair{server.fileUrl("kci.zip", "length=" + huge), true}}) {
        fs::remove_all(temp / "v");
        const auto error = thrown<DownloadError>([&] { fetch(url); });
        EXPECT_EQ(error.value().reason(), Reason::NO_SPACE);
        EXPECT_THAT(error->what(), HasSubstr("free space in " + (temp / "v").string()));
        EXPECT_THAT(error->what(), HasSubstr(huge + " and a margin), "));
        EXPECT_EQ(fs::exists(temp / "v") && fs::is_empty(temp / "v"), created) << url;
    }
}

TEST(DownloadUrl, SplitsHostNameAndDigestAndRejectsWhatCannotBeFetchedSafely) {
    using namespace kcidownloader;
    const auto url = parseDownloadUrl(
        "HTTPS://u:p@Cdn.Example.test:8443/a/kci%20v2.zip?t=1#sha256=" + std::string(64, 'F'));
    EXPECT_EQ(url.scheme, "https");
    EXPECT_EQ(url.host, "cdn.example.test");
    EXPECT_EQ(url.fileName, "kci v2.zip");
    EXPECT_EQ(url.sha256, std::string(64, 'f'));
    EXPECT_EQ(parseDownloadUrl("http://[::1]:80/x.zip").host, "::1");
    EXPECT_EQ(parseDownloadUrl("http://h/x.zip#other=1").sha256, std::nullopt);
    EXPECT_EQ(parseDownloadUrl("http://h/x.zip#size=12").size, 12u);
    for (const std::string& bad : std::vector<std::string>{
             "", "kci.zip", "file:///etc/passwd", "https:///x.zip", "https://h/k zip",
             "http://[::1/x", "https://h/k.zip#sha256=abc",
             "https://h/k.zip#sha256=" + std::string(64, 'g'), "https://h/k.zip#size=1k"})
        EXPECT_EQ(thrown<DownloadError>([&] { parseDownloadUrl(bad); }).value().reason(),
                  Reason::INVALID_URL)
            << bad;
    // clang-format off
    const std::pair<std::string, std::string> names[] = {{"kci-2024.zip", "kci-2024.zip"},
        {"..%2F..%2Fetc%2Fpasswd", "_.._etc_passwd"}, {"a%5Cb%00c", "a_b_c"},
        {".hidden.zip", "hidden.zip"}, {"", "kci.zip"}, {"%2E%2E", "kci.zip"}, {"...", "kci.zip"}};
    // clang-format on
    for (const auto& [raw, safe] : names)
        EXPECT_EQ(sanitiseFileName(raw), safe) << raw;
    const auto longName = sanitiseFileName(std::string(500, 'x') + ".zip");
    EXPECT_TRUE(longName.size() <= 200u && longName.ends_with(".zip")) << longName;
    EXPECT_EQ(parseDownloadUrl("https://h/dir/").fileName, "kci.zip");
    for (const char* host : {"LOCALHOST", "127.8.9.10", "::1", "::ffff:127.0.0.1"})
        EXPECT_TRUE(isLoopbackHost(host)) << host;
    for (const char* host : {"128.0.0.1", "127.0.0.1.example.com", "::2", "", "localhost.x"})
        EXPECT_FALSE(isLoopbackHost(host)) << host;
}

} // namespace
} // namespace halvexconnector::latestversion
