#include <halvexconnector/latestversion/kcidownloader/KCIDownloader.h>

#include <foundation/httpclient/CurlHttpClient.h>

#include <fl/filesystem/path_conversion.h>

#include <tripwire/testsupport/LoopbackServer.h>
#include <tripwire/testsupport/TempDirectory.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <fstream>
#include <sstream>

namespace halvexconnector::latestversion::kcidownloader {
namespace {

namespace fs = std::filesystem;
using Reason = DownloadError::Reason;
using foundation::httpclient_core::HttpRequest;
using foundation::httpclient_core::HttpResponse;
using testing::HasSubstr;
using tripwire::testsupport::LoopbackServer;
using tripwire::testsupport::sha256Hex;
using tripwire::testsupport::TempDirectory;

std::string archiveBytes() {
    std::string data(200 * 1024, '\0');
    for (std::size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<char>((i * 131 + i / 13) & 0xff);
    return data;
}

std::string readFile(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<fs::path> entriesOf(const fs::path& directory) {
    std::vector<fs::path> entries;
    for (const auto& entry : fs::recursive_directory_iterator(directory))
        entries.push_back(entry.path());
    return entries;
}

fl::filesystem::basic_path pathOf(const fs::path& native) {
    return fl::filesystem::path_from_native(native);
}

struct KCIDownloaderTest : testing::Test {
    const std::string content = archiveBytes();
    const std::string digest = sha256Hex(content);
    LoopbackServer server;
    TempDirectory temp;
    std::shared_ptr<foundation::httpclient::CurlHttpClient> client;

    KCIDownloaderTest() {
        foundation::httpclient::CurlHttpClientOptions options;
        options.stallTime = std::chrono::seconds(1);
        client = std::make_shared<foundation::httpclient::CurlHttpClient>(
            foundation::httpclient::ProxyChooser{}, options);
        server.addFile("kci-2024.zip", content);
    }

    fs::path fetch(const std::string& url, const fs::path& directory) {
        return fl::filesystem::to_native(KCIDownloader(client).fetchKCI(url, pathOf(directory)));
    }

    DownloadError failureOf(const std::string& url, const fs::path& directory) {
        try {
            fetch(url, directory);
        } catch (const DownloadError& error) {
            return error;
        }
        ADD_FAILURE() << "no DownloadError for " << url;
        return DownloadError(Reason::TRANSFER, "none");
    }
};

TEST_F(KCIDownloaderTest, CreatesTheDirectoryVerifiesAndNamesTheArchive) {
    const fs::path directory = temp / "location/v2024.7.0.6";
    const auto archive = fetch(server.fileUrl("kci-2024.zip") + "#sha256=" + digest, directory);
    EXPECT_EQ(archive, directory / "kci-2024.zip");
    EXPECT_EQ(readFile(archive), content);
    EXPECT_EQ(entriesOf(directory), std::vector<fs::path>{archive});
    for (const auto& created : {temp / "location", directory}) {
        struct stat info {};
        ASSERT_EQ(::stat(created.c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 0777, 0700u) << created;
    }
}

TEST_F(KCIDownloaderTest, ReplacesAnEarlierArchiveAndWorksWithoutDigest) {
    fs::create_directories(temp / "v1");
    std::ofstream(temp / "v1/kci-2024.zip") << "stale";
    const auto archive = fetch(server.fileUrl("kci-2024.zip"), temp / "v1");
    EXPECT_EQ(readFile(archive), content);
}

TEST_F(KCIDownloaderTest, ArchivesServedFromDiskArriveWhole) {
    const fs::path source = temp / "source.zip";
    std::ofstream(source, std::ios::binary) << content << content;
    server.addFileFromDisk("kci-disk.zip", source);
    const auto archive = fetch(
        server.fileUrl("kci-disk.zip") + "#sha256=" + sha256Hex(content + content), temp / "d");
    EXPECT_EQ(readFile(archive), content + content);
}

TEST_F(KCIDownloaderTest, FollowsRedirectsAndKeepsTheRequestedName) {
    EXPECT_EQ(fetch(server.fileUrl("kci-2024.zip", "redirect=3"), temp / "a").filename(),
              "kci-2024.zip");
    EXPECT_EQ(fetch(server.fileUrl("kci-2024.zip", "redirect-host=localhost") + "#sha256=" + digest,
                    temp / "b"),
              temp / "b/kci-2024.zip");
}

TEST_F(KCIDownloaderTest, EveryFaultEndsWithItsReasonAndNoFileLeftBehind) {
    const std::string wrongDigest = "#sha256=" + sha256Hex("something else");
    const std::string rightDigest = "#sha256=" + digest;
    const std::string shorter = "length=" + std::to_string(content.size() - 100);
    const std::string longer = "length=" + std::to_string(content.size() + 100);
    struct Case {
        std::string query;
        std::string fragment;
        Reason reason;
        std::string text;
    };
    const std::vector<Case> cases{
        {"status=404", "", Reason::HTTP_STATUS, "HTTP status 404"},
        {"status=500", "", Reason::HTTP_STATUS, "HTTP status 500"},
        {"status=204", "", Reason::HTTP_STATUS, "HTTP status 204"},
        {"cut=70000", rightDigest, Reason::TRUNCATED, "truncated"},
        {longer, "", Reason::TRUNCATED, "truncated"},
        {shorter, rightDigest, Reason::DIGEST_MISMATCH, "SHA-256 mismatch"},
        {"", wrongDigest, Reason::DIGEST_MISMATCH, "expected " + sha256Hex("something else")},
        {"stall=1000", "", Reason::STALLED, "stalled"},
        {"redirect=11", "", Reason::TRANSFER, "too many redirects"},
    };
    for (const auto& fault : cases) {
        const fs::path directory = temp / "v";
        const auto error =
            failureOf(server.fileUrl("kci-2024.zip", fault.query) + fault.fragment, directory);
        EXPECT_EQ(error.reason(), fault.reason) << fault.query << fault.fragment;
        EXPECT_THAT(error.what(), HasSubstr(fault.text)) << fault.query;
        EXPECT_THAT(error.what(),
                    HasSubstr("download of " + server.fileUrl("kci-2024.zip", fault.query)));
        EXPECT_TRUE(entriesOf(directory).empty()) << fault.query;
    }
}

TEST_F(KCIDownloaderTest, UnreachableServerIsATransferFailure) {
    std::string url;
    {
        LoopbackServer gone;
        url = gone.url("/files/kci.zip");
    }
    EXPECT_EQ(failureOf(url, temp / "v").reason(), Reason::TRANSFER);
    EXPECT_TRUE(entriesOf(temp / "v").empty());
}

TEST_F(KCIDownloaderTest, RefusesPlainHttpBeyondLoopbackBeforeTouchingAnything) {
    const auto error = failureOf("http://downloads.example.test/kci.zip", temp / "v");
    EXPECT_EQ(error.reason(), Reason::INSECURE_URL);
    EXPECT_FALSE(fs::exists(temp / "v"));
    EXPECT_EQ(failureOf("ftp://127.0.0.1/kci.zip", temp / "v").reason(), Reason::INVALID_URL);
}

TEST_F(KCIDownloaderTest, DirectoryProblemsAreFileSystemFailures) {
    std::ofstream(temp / "plain") << "x";
    EXPECT_EQ(failureOf(server.fileUrl("kci-2024.zip"), temp / "plain/v").reason(),
              Reason::FILE_SYSTEM);
    EXPECT_EQ(failureOf(server.fileUrl("kci-2024.zip"), fs::path()).reason(), Reason::FILE_SYSTEM);
    EXPECT_TRUE(server.requests().empty());
}

TEST_F(KCIDownloaderTest, MissingClientIsAClearFailure) {
    client.reset();
    EXPECT_EQ(failureOf(server.fileUrl("kci-2024.zip"), temp / "v").reason(), Reason::NO_CLIENT);
}

// A client that writes fewer bytes than it announces: the length check must catch it even when
// the transport does not.
struct ShortClient final : foundation::httpclient_core::HttpClient {
    HttpResponse send(const HttpRequest&) override { return {}; }
    HttpResponse download(const HttpRequest&, const fs::path& file,
                          const foundation::httpclient_core::ProgressCallback&) override {
        std::ofstream(file, std::ios::binary) << "0123456789";
        return {200, {{"Content-Length", "20"}}, {}, {}};
    }
};

TEST_F(KCIDownloaderTest, LengthIsCheckedAgainstContentLength) {
    KCIDownloader downloader(std::make_shared<ShortClient>());
    try {
        downloader.fetchKCI(server.fileUrl("kci-2024.zip"), pathOf(temp / "v"));
        ADD_FAILURE() << "no failure";
    } catch (const DownloadError& error) {
        EXPECT_EQ(error.reason(), Reason::SIZE_MISMATCH);
        EXPECT_THAT(error.what(), HasSubstr("received 10 bytes, Content-Length announced 20"));
    }
    EXPECT_TRUE(entriesOf(temp / "v").empty());
}

} // namespace
} // namespace halvexconnector::latestversion::kcidownloader
