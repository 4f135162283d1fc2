#include "halvexconnector/folderlocations/FolderRoots.h"

#include <gtest/gtest.h>
#include <pwd.h>
#include <tripwire/testsupport/TempDirectory.h>

namespace halvexconnector::folderlocations {
namespace {

using tripwire::testsupport::ScopedVariable;
namespace fs = std::filesystem;

TEST(FolderRoots, DataHomeFollowsXdgThenHomeThenPasswd) {
    ScopedVariable home("HOME", "/home/tester");
    const fs::path fallback = "/home/tester/.local/share";
    // A relative XDG_DATA_HOME is invalid, not resolved against the working directory.
    // clang-format off
    const std::pair<std::optional<std::string>, fs::path> cases[] = {
        {"/data/xdg", "/data/xdg"}, {std::nullopt, fallback}, {"", fallback}, {"rel", fallback}};
    // clang-format on
    for (const auto& [xdg, expected] : cases) {
        ScopedVariable variable("XDG_DATA_HOME", xdg);
        EXPECT_EQ(userDataHome(), expected) << xdg.value_or("<unset>");
    }
    const passwd* entry = ::getpwuid(::geteuid());
    ScopedVariable noHome("HOME", "");
    if (entry != nullptr && entry->pw_dir != nullptr && *entry->pw_dir != '\0') {
        EXPECT_EQ(homeDirectory(), fs::path(entry->pw_dir));
    }
}

} // namespace
} // namespace halvexconnector::folderlocations
