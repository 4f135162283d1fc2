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
    // An empty expectation: refused, so the built-in URL, with a record naming the variable.
    // clang-format off
    const std::pair<std::optional<std::string>, std::string> cases[] = {
        {std::nullopt, builtIn}, {"", builtIn}, // empty counts as unset, without a record
        {"http://127.0.0.1:8080/", "http://127.0.0.1:8080"}, {"https://[::1]:9", "https://[::1]:9"},
        {"HTTPS://staging.example/base//", "https://staging.example/base"}, {"https://", ""},
        {"www.example.com", ""}, {"ftp://files.example", ""}, {"https:///path", ""},
        {"https://:80", ""}, {"https://host:0", ""}, {"https://host:65536", ""},
        {"https://host:8o", ""}, {"https://exa mple.com", ""}, {"https://host\n", ""},
        {"https://[::1", ""}, {"javascript:alert(1)", ""}};
    // clang-format on
    for (const auto& [value, url] : cases) {
        foundation::log::testing::RecordCapture capture;
        ScopedVariable variable("QB_URL_QUILLBECK_DOT_COM", value);
        EXPECT_EQ(manager->getUrl(QUILLBECK_DOT_COM), url.empty() ? builtIn : url)
            << value.value_or("<unset>");
        EXPECT_EQ(capture.count_containing("QB_URL_QUILLBECK_DOT_COM"), url.empty() ? 1u : 0u);
    }
    EXPECT_THROW(manager->getUrl("NO_SUCH_KEY_FOR_TESTS"), std::out_of_range);
    ScopedVariable other("QB_URL_NO_SUCH_KEY_FOR_TESTS", "https://svc.example");
    EXPECT_EQ(manager->getUrl("NO_SUCH_KEY_FOR_TESTS"), "https://svc.example");
}

} // namespace
} // namespace foundation::urlmanager
