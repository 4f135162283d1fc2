#include "EntryName.h"
#include "KciManifest.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace halvexconnector::latestversion::kciextractor::detail {
namespace {

using Components = std::vector<std::string>;

TEST(EntryNameTest, RelativeNamesAreCanonicalised) {
    EXPECT_EQ(entryComponents("a/b/c"), (Components{"a", "b", "c"}));
    EXPECT_EQ(entryComponents("./a//b/./c/"), (Components{"a", "b", "c"}));
    EXPECT_EQ(entryComponents("..a/b..c/..."), (Components{"..a", "b..c", "..."}));
    EXPECT_EQ(joinComponents(entryComponents("./x//y/")), "x/y");
    EXPECT_TRUE(entryComponents("./").empty());
    EXPECT_TRUE(entryComponents(".//.").empty());
}

TEST(EntryNameTest, NamesThatCouldLeaveTheDirectoryAreRefused) {
    for (const char* name : {"", "/", "/etc/passwd", "//x", "/.", "..", "../x", "a/../../x", "a/..",
                             "a\\..\\x", "a/./../b"}) {
        EXPECT_THROW(entryComponents(name), std::invalid_argument) << name;
    }
}

TEST(EntryNameTest, ManifestKeepsTheVersionTextAndCanonicalInstallerPath) {
    const auto manifest = parseKciManifest(
        R"({"installer": "./bin//setup", "version": "2026.12.0.1 beta", "extra": [1]})");
    EXPECT_EQ(manifest.version, "2026.12.0.1 beta");
    EXPECT_EQ(manifest.installer, (Components{"bin", "setup"}));
    EXPECT_THROW(parseKciManifest(R"({"version":"1","installer":"."})"), std::invalid_argument);
    EXPECT_THROW(parseKciManifest(R"({"version":"1","installer":"./"})"), std::invalid_argument);
    EXPECT_THROW(parseKciManifest(""), std::invalid_argument);
}

} // namespace
} // namespace halvexconnector::latestversion::kciextractor::detail
