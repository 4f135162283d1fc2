#include <foundation/log/testing/RecordCapture.h>
#include <foundation/urlmanager/UrlManager.h>
#include <gtest/gtest.h>
#include <tripwire/testsupport/TempDirectory.h>

namespace foundation::urlmanager {
namespace {

using tripwire::testsupport::ScopedVariable;

TEST(UrlManager, TheOverrideIsReadAtEveryQuestionAndBadOnesAreLoggedAndIgnored) {
    const auto manager = createUrlManager();
    const std::string builtIn = "https://www.quillbeck.com";
    // clang-format off
    const std::pair<std::optional<std::string>, std::string> accepted[] = {
        {std::nullopt, builtIn}, {"", builtIn}, // empty counts as unset, without a record
        {"http://127.0.0.1:8080/", "http://127.0.0.1:8080"},
        {"https://[::1]:9443", "https://[::1]:9443"},
        {"HTTPS://staging.example/base//", "https://staging.example/base"}};
    // clang-format on
    for (const auto& [value, url] : accepted) {
        foundation::log::testing::RecordCapture capture;
        ScopedVariable variable("QB_URL_QUILLBECK_DOT_COM", value);
        EXPECT_EQ(manager->getUrl(QUILLBECK_DOT_COM), url);
        EXPECT_TRUE(capture.records("foundation::urlmanager").empty()) << url;
    }
    for (const std::string bad :
         {"ftp://files.example", "www.example.com", "https://", "https:///path", "https://:80",
          "https://host:0", "https://host:65536", "https://host:8o", "https://exa mple.com",
          "https://host\n", "https://[::1", "javascript:alert(1)"}) {
        foundation::log::testing::RecordCapture capture;
        ScopedVariable variable("QB_URL_QUILLBECK_DOT_COM", bad);
        EXPECT_EQ(manager->getUrl(QUILLBECK_DOT_COM), builtIn) << bad;
        const auto records = capture.records("foundation::urlmanager");
        ASSERT_EQ(records.size(), 1u) << bad;
        EXPECT_NE(records[0].message.find("QB_URL_QUILLBECK_DOT_COM"), std::string::npos);
    }
    EXPECT_THROW(manager->getUrl("NO_SUCH_KEY_FOR_TESTS"), std::out_of_range);
    ScopedVariable other("QB_URL_NO_SUCH_KEY_FOR_TESTS", "https://svc.example");
    EXPECT_EQ(manager->getUrl("NO_SUCH_KEY_FOR_TESTS"), "https://svc.example");
}

} // namespace
} // namespace foundation::urlmanager
