#include <halvexconnector/latestversion/checker/LatestVersionChecker.h>

#include <foundation/httpclient/CurlHttpClient.h>

#include <tripwire/testsupport/LoopbackServer.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace halvexconnector::latestversion::checker {
namespace {

using testing::HasSubstr;
using tripwire::testsupport::latestDocument;
using tripwire::testsupport::LoopbackServer;

struct FixedUrlManager final : foundation::urlmanager::UrlManager {
    explicit FixedUrlManager(std::string base) : base(std::move(base)) {}
    std::string getUrl(const std::string& key) const override {
        if (key != foundation::urlmanager::QUILLBECK_DOT_COM)
            throw std::out_of_range("unexpected key " + key);
        return base;
    }
    std::string base;
};

const std::string DIGEST(64, 'a');

struct LatestVersionCheckerTest : testing::Test {
    LoopbackServer server;

    std::pair<std::string, std::string> check(const std::string& base) {
        LatestVersionChecker checker(std::make_shared<foundation::httpclient::CurlHttpClient>(),
                                     std::make_shared<FixedUrlManager>(base));
        return checker.getLatestKCIUrl();
    }
    std::pair<std::string, std::string> check() { return check(server.baseUrl()); }

    std::string failureOf(const std::function<void()>& call) {
        try {
            call();
        } catch (const LatestVersionError& error) {
            return error.what();
        }
        ADD_FAILURE() << "no LatestVersionError";
        return {};
    }
};

TEST_F(LatestVersionCheckerTest, ReturnsVersionAndUrlOfTheDocumentBelowTheWebDomain) {
    server.setLatestDocument(latestDocument("2024.7.0.6", "http://127.0.0.1/kci-2024.zip"));
    EXPECT_EQ(check(), std::make_pair(std::string("2024.7.0.6"),
                                      std::string("http://127.0.0.1/kci-2024.zip")));
    ASSERT_EQ(server.requests().size(), 1u);
    EXPECT_EQ(server.requests()[0].path, "/tripwire/latest.json");
    EXPECT_EQ(std::string(LATEST_DOCUMENT_PATH), LoopbackServer::LATEST_PATH);
}

TEST_F(LatestVersionCheckerTest, DigestTravelsAsAFragmentInLowerCase) {
    const std::string upper(64, 'C');
    server.setLatestDocument(latestDocument("1.2", "https://h.test/k.zip#old", upper, 1234));
    EXPECT_EQ(check().second, "https://h.test/k.zip#sha256=" + std::string(64, 'c'));
}

TEST_F(LatestVersionCheckerTest, EmptyUrlAndEmptyVersionPassThrough) {
    server.setLatestDocument(latestDocument("", "", DIGEST));
    EXPECT_EQ(check(), std::make_pair(std::string(), std::string()));
}

TEST_F(LatestVersionCheckerTest, MalformedDocumentsAreRejectedWithTheReason) {
    const std::vector<std::pair<std::string, std::string>> cases{
        {"not json", "not valid JSON"},
        {"[1,2]", "not a JSON object"},
        {R"({"url": "https://h/k.zip"})", "\"version\" is missing"},
        {R"({"version": 7, "url": "https://h/k.zip"})", "\"version\" is not a string"},
        {R"({"version": "1"})", "\"url\" is missing"},
        {R"({"version": "1", "url": "ftp://h/k.zip"})", "not an absolute http or https URL"},
        {R"({"version": "1", "url": "https://h/k zip"})", "not an absolute http or https URL"},
        {R"({"version": "1", "url": "https://h/k.zip", "sha256": "abc"})", "64 hexadecimal"},
        {R"({"version": "1", "url": "https://h/k.zip", "sha256": 5})",
         "\"sha256\" is not a string"},
        {R"({"version": "1", "url": "https://h/k.zip", "size": -1})", "\"size\""},
    };
    for (const auto& [document, reason] : cases) {
        server.setLatestDocument(document);
        const auto message = failureOf([&] { check(); });
        EXPECT_THAT(message, HasSubstr("malformed")) << document;
        EXPECT_THAT(message, HasSubstr(reason)) << document;
    }
}

TEST_F(LatestVersionCheckerTest, HttpErrorsAndUnreachableServersThrow) {
    server.setLatestDocument("oops", 500);
    EXPECT_THAT(failureOf([&] { check(); }), HasSubstr("HTTP status 500"));
    server.setLatestDocument(latestDocument("1", "https://h/k.zip"), 404);
    EXPECT_THAT(failureOf([&] { check(); }), HasSubstr("HTTP status 404"));

    std::string base;
    {
        LoopbackServer gone;
        base = gone.baseUrl();
    }
    EXPECT_THAT(failureOf([&] { check(base); }),
                HasSubstr("cannot reach " + base + "/tripwire/latest.json"));
}

TEST_F(LatestVersionCheckerTest, MissingClientIsAClearFailure) {
    LatestVersionChecker checker(nullptr, std::make_shared<FixedUrlManager>(server.baseUrl()));
    EXPECT_THAT(failureOf([&] { checker.getLatestKCIUrl(); }), HasSubstr("no HTTP client"));
    EXPECT_TRUE(server.requests().empty());
}

} // namespace
} // namespace halvexconnector::latestversion::checker
