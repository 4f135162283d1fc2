#include "child_watch.h"

#include "foundation/core/process/process.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

namespace fcp = foundation::core::process;
using qbfl_test::readFile;
using qbfl_test::ScopedVariable;
using qbfl_test::TempDir;
using ::testing::Contains;
using ::testing::Not;
using ::testing::StartsWith;

namespace {

const std::string probe = QBFL_PROBE_PATH;

std::vector<std::string> environmentSeenByChild(const fcp::context& ctx) {
    TempDir dir;
    fcp::process child(fcp::command(probe, {dir.file("env"), "environ"}), ctx);
    EXPECT_EQ(child.exit_status(), 0u);
    std::vector<std::string> entries;
    const std::string text = readFile(dir.file("env"));
    std::string::size_type start = 0;
    for (auto end = text.find('\0'); end != std::string::npos; end = text.find('\0', start)) {
        entries.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return entries;
}

} // namespace

TEST(QbflEnvironmentMap, NamesDifferingOnlyInCaseAreOneEntryWithTheFirstSpelling) {
    fcp::context ctx;
    auto& environment = ctx.environment();
    environment["QB_PROXY_HOST"] = "first";
    environment["qb_proxy_host"] = "second";
    environment["Qb_Proxy_Port"] = "80";
    ASSERT_EQ(environment.size(), 2u);
    EXPECT_EQ(environment.begin()->first, "QB_PROXY_HOST");
    EXPECT_EQ(environment.at("QB_PROXY_HOST"), "second");
    EXPECT_EQ(environment.count("QB_PROXY_PORT"), 1u);
}

TEST(QbflEnvironmentMap, OrdersWithoutRegardToCase) {
    const foundation::core::util::lexicographical_iless less;
    EXPECT_TRUE(less("apple", "Banana"));
    EXPECT_TRUE(less("APPLE", "banana"));
    EXPECT_FALSE(less("PATH", "path"));
    EXPECT_FALSE(less("path", "PATH"));
    EXPECT_TRUE(less("PAT", "path"));
    // '_' lies between the upper- and lower-case letters: folding must not reorder it.
    EXPECT_TRUE(less("A_", "AB"));
    EXPECT_TRUE(less("a_", "ab"));
    EXPECT_FALSE(less("ab", "A_"));
}

TEST(QbflProcessEnvironment, ContextVariablesAreLaidOverTheCallersVariables) {
    ScopedVariable kept("QBFL_TEST_KEPT", "kept value");
    ScopedVariable replaced("QBFL_TEST_REPLACED", "from the caller");
    fcp::context ctx;
    ctx.environment()["qbfl_test_replaced"] = "from the context";
    ctx.environment()["QBFL_TEST_ADDED"] = "a=b c";
    ctx.environment()["QBFL_TEST_EMPTY"] = "";

    const auto seen = environmentSeenByChild(ctx);
    EXPECT_THAT(seen, Contains("QBFL_TEST_KEPT=kept value"));
    EXPECT_THAT(seen, Contains("qbfl_test_replaced=from the context"));
    EXPECT_THAT(seen, Not(Contains(StartsWith("QBFL_TEST_REPLACED="))));
    EXPECT_THAT(seen, Contains("QBFL_TEST_ADDED=a=b c"));
    EXPECT_THAT(seen, Contains("QBFL_TEST_EMPTY="));
}

TEST(QbflProcessEnvironment, AVariableSpelledDifferentlyReplacesTheCallersOneOnce) {
    ScopedVariable path("PATH", "/usr/bin:/bin");
    fcp::context ctx;
    ctx.environment()["Path"] = "/opt/qbfl-test/bin";
    const auto seen = environmentSeenByChild(ctx);
    EXPECT_EQ(std::count_if(seen.begin(), seen.end(),
                            [](const std::string& entry) {
                                return entry.size() >= 5 &&
                                       strncasecmp(entry.c_str(), "PATH=", 5) == 0;
                            }),
              1);
    EXPECT_THAT(seen, Contains("Path=/opt/qbfl-test/bin"));
}
