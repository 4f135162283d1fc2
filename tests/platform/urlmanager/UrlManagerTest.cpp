#include <foundation/urlmanager/UrlManager.h>

#include <foundation/log/testing/RecordCapture.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <stdexcept>
#include <string>

namespace foundation::urlmanager {
namespace {

const char* const overrideVariable = "QB_URL_QUILLBECK_DOT_COM";

// Sets or clears the override for one test and restores what was there before.
class OverrideVariable {
public:
    OverrideVariable() {
        if (const char* value = std::getenv(overrideVariable)) {
            saved = value;
        }
        unsetenv(overrideVariable);
    }
    ~OverrideVariable() {
        if (saved) {
            setenv(overrideVariable, saved->c_str(), 1);
        } else {
            unsetenv(overrideVariable);
        }
    }
    void set(const std::string& value) { setenv(overrideVariable, value.c_str(), 1); }

private:
    std::optional<std::string> saved;
};

TEST(UrlManager, TheWebDomainKeyHasABuiltInHttpsUrl) {
    OverrideVariable variable;
    const auto manager = createUrlManager();
    ASSERT_NE(manager, nullptr);
    EXPECT_EQ(std::string(QUILLBECK_DOT_COM), "QUILLBECK_DOT_COM");
    EXPECT_EQ(manager->getUrl(QUILLBECK_DOT_COM), "https://www.quillbeck.com");
}

TEST(UrlManager, TheOverrideIsReadAtEveryQuestion) {
    OverrideVariable variable;
    const auto manager = createUrlManager();
    variable.set("http://127.0.0.1:8080/");
    EXPECT_EQ(manager->getUrl(QUILLBECK_DOT_COM), "http://127.0.0.1:8080");
    variable.set("HTTPS://staging.example/base//");
    EXPECT_EQ(manager->getUrl(QUILLBECK_DOT_COM), "https://staging.example/base");
    variable.set("https://[::1]:9443");
    EXPECT_EQ(manager->getUrl(QUILLBECK_DOT_COM), "https://[::1]:9443");
}

TEST(UrlManager, MalformedOverridesAreIgnoredWithALogRecord) {
    OverrideVariable variable;
    const auto manager = createUrlManager();
    for (const std::string bad :
         {"ftp://files.example", "www.example.com", "https://", "https:///path", "https://:80",
          "https://host:0", "https://host:65536", "https://host:8o", "https://exa mple.com",
          "https://host\n", "https://[::1", "javascript:alert(1)"}) {
        foundation::log::testing::RecordCapture capture;
        variable.set(bad);
        EXPECT_EQ(manager->getUrl(QUILLBECK_DOT_COM), "https://www.quillbeck.com") << bad;
        const auto records = capture.records("foundation::urlmanager");
        ASSERT_EQ(records.size(), 1u) << bad;
        EXPECT_NE(records[0].message.find(overrideVariable), std::string::npos);
    }
}

TEST(UrlManager, AnEmptyOverrideCountsAsUnsetWithoutARecord) {
    OverrideVariable variable;
    foundation::log::testing::RecordCapture capture;
    variable.set("");
    EXPECT_EQ(createUrlManager()->getUrl(QUILLBECK_DOT_COM), "https://www.quillbeck.com");
    EXPECT_TRUE(capture.records("foundation::urlmanager").empty());
}

TEST(UrlManager, UnknownKeysAreAnErrorUnlessOverridden) {
    const auto manager = createUrlManager();
    EXPECT_THROW(manager->getUrl("NO_SUCH_KEY_FOR_TESTS"), std::out_of_range);
    setenv("QB_URL_NO_SUCH_KEY_FOR_TESTS", "https://svc.example", 1);
    EXPECT_EQ(manager->getUrl("NO_SUCH_KEY_FOR_TESTS"), "https://svc.example");
    unsetenv("QB_URL_NO_SUCH_KEY_FOR_TESTS");
}

} // namespace
} // namespace foundation::urlmanager
