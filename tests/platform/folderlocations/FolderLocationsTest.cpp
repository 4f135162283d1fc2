#include "agent/utils/FolderLocations.h"
#include "halvexconnector/folderlocations/FolderRoots.h"

#include <gtest/gtest.h>
#include <pwd.h>
#include <tripwire/testsupport/TempDirectory.h>

namespace halvexconnector::folderlocations {
namespace {

using fl::filesystem::basic_path;
using tripwire::testsupport::ScopedVariable;
using Override = boost::optional<std::u16string>;
namespace fs = std::filesystem;

basic_path path(const std::u16string& text) {
    return basic_path(text, true);
}
Override over(std::u16string text) {
    return text;
}

struct FolderLocationsTest : ::testing::Test {
    ScopedVariable home{"HOME", "/home/tester"};
    ScopedVariable dataHome{"XDG_DATA_HOME", "/xdg"};
};

TEST_F(FolderLocationsTest, DriveBaseAndDataHomeFollowingXdgThenHomeThenPasswd) {
    const agent::utils::FolderLocations drive(over(u"/base"), boost::none, boost::none);
    EXPECT_EQ(drive.storageRoot(), path(u"/base/Quillbeck/Drive"));
    EXPECT_EQ(drive.lockRoot(), path(u"/base/Quillbeck/Drive/locks"));
    const std::pair<std::optional<std::string>, fs::path> cases[] = {
        {"/data/xdg", "/data/xdg"},
        {std::nullopt, "/home/tester/.local/share"},
        {"", "/home/tester/.local/share"},
        {"relative/data", "/home/tester/.local/share"}, // invalid, not resolved against the cwd
    };
    for (const auto& [xdg, expected] : cases) {
        ScopedVariable variable("XDG_DATA_HOME", xdg);
        EXPECT_EQ(userDataHome(), expected) << xdg.value_or("<unset>");
    }
    const passwd* entry = ::getpwuid(::geteuid());
    ScopedVariable noHome("HOME", "");
    if (entry != nullptr && entry->pw_dir != nullptr && *entry->pw_dir != '\0') {
        EXPECT_EQ(homeDirectory(), fs::path(entry->pw_dir));
    }
    // Both overrides given: the environment is not consulted, so this works for any user.
    const auto roots = resolveFolderRoots(FolderMode::DRIVE, fs::path("/f"), fs::path("/s"));
    EXPECT_EQ(roots.storageRoot, fs::path("/f"));
    EXPECT_EQ(roots.lockRoot, fs::path("/s"));
}

} // namespace
} // namespace halvexconnector::folderlocations
