#include <halvexconnector/latestversion/kcidownloader/DownloadError.h>
#include <halvexconnector/latestversion/kcidownloader/DownloadUrl.h>

#include <gtest/gtest.h>

namespace halvexconnector::latestversion::kcidownloader {
namespace {

TEST(DownloadUrlTest, SplitsHostNameAndDigest) {
    const auto url =
        parseDownloadUrl("HTTPS://user:pw@Cdn.Example.test:8443/a/b/kci%20v2.zip?token=1#sha256=" +
                         std::string(64, 'F'));
    EXPECT_EQ(url.scheme, "https");
    EXPECT_EQ(url.host, "cdn.example.test");
    EXPECT_EQ(url.fileName, "kci v2.zip");
    EXPECT_EQ(url.sha256, std::string(64, 'f'));
    EXPECT_EQ(url.location, "HTTPS://user:pw@Cdn.Example.test:8443/a/b/kci%20v2.zip?token=1");
    EXPECT_EQ(parseDownloadUrl("http://[::1]:80/x.zip").host, "::1");
    EXPECT_EQ(parseDownloadUrl("http://h/x.zip#other=1").sha256, std::nullopt);
}

TEST(DownloadUrlTest, RejectsWhatCannotBeDownloadedSafely) {
    for (const std::string& bad : std::vector<std::string>{
             "", "kci.zip", "ftp://h/kci.zip", "file:///etc/passwd", "https:///x.zip",
             "https://h/k zip", "http://[::1/x", "https://h/k.zip#sha256=abc",
             "https://h/k.zip#sha256=" + std::string(64, 'g')}) {
        try {
            parseDownloadUrl(bad);
            ADD_FAILURE() << bad;
        } catch (const DownloadError& error) {
            EXPECT_EQ(error.reason(), DownloadError::Reason::INVALID_URL) << bad;
        }
    }
}

TEST(DownloadUrlTest, FileNamesStayInsideTheDirectory) {
    EXPECT_EQ(sanitiseFileName("kci-2024.zip"), "kci-2024.zip");
    EXPECT_EQ(sanitiseFileName("..%2F..%2Fetc%2Fpasswd"), "_.._etc_passwd");
    EXPECT_EQ(sanitiseFileName("a%5Cb%00c"), "a_b_c");
    EXPECT_EQ(sanitiseFileName(".hidden.zip"), "hidden.zip");
    for (const char* fallback : {"", ".", "..", "%2E%2E", "..."})
        EXPECT_EQ(sanitiseFileName(fallback), "kci.zip") << fallback;
    const auto longName = sanitiseFileName(std::string(500, 'x') + ".zip");
    EXPECT_LE(longName.size(), 200u);
    EXPECT_TRUE(longName.ends_with(".zip"));
    EXPECT_EQ(parseDownloadUrl("https://h/dir/").fileName, "kci.zip");
    EXPECT_EQ(parseDownloadUrl("https://h").fileName, "kci.zip");
}

TEST(DownloadUrlTest, RecognisesLoopbackHostsOnly) {
    for (const char* host :
         {"localhost", "LOCALHOST", "127.0.0.1", "127.8.9.10", "::1", "::ffff:127.0.0.1"})
        EXPECT_TRUE(isLoopbackHost(host)) << host;
    for (const char* host : {"example.com", "128.0.0.1", "10.0.0.1", "127.0.0.1.example.com", "::2",
                             "", "localhost.example.com"})
        EXPECT_FALSE(isLoopbackHost(host)) << host;
}

} // namespace
} // namespace halvexconnector::latestversion::kcidownloader
