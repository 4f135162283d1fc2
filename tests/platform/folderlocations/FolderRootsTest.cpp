#include "halvexconnector/folderlocations/FolderRoots.h"

#include "support/ScratchSpace.h"

#include <gtest/gtest.h>

#include <pwd.h>

namespace halvexconnector::folderlocations {
namespace {

using qbtest::ScopedEnvironment;
namespace fs = std::filesystem;

struct FolderRootsTest : ::testing::Test {
    ScopedEnvironment home{"HOME", "/home/tester"};
    ScopedEnvironment dataHome{"XDG_DATA_HOME", std::nullopt};
};

TEST_F(FolderRootsTest, DataHomeFollowsXdgThenHome) {
    EXPECT_EQ(userDataHome(), fs::path("/home/tester/.local/share"));
    {
        ScopedEnvironment xdg("XDG_DATA_HOME", "/data/xdg");
        EXPECT_EQ(userDataHome(), fs::path("/data/xdg"));
    }
    {
        ScopedEnvironment empty("XDG_DATA_HOME", "");
        EXPECT_EQ(userDataHome(), fs::path("/home/tester/.local/share"));
    }
    {
        // A relative value is invalid and ignored rather than resolved against the working dir.
        ScopedEnvironment relative("XDG_DATA_HOME", "relative/data");
        EXPECT_EQ(userDataHome(), fs::path("/home/tester/.local/share"));
    }
}

TEST_F(FolderRootsTest, HomeFallsBackToThePasswordDatabase) {
    ScopedEnvironment noHome("HOME", std::nullopt);
    const passwd* entry = ::getpwuid(::geteuid());
    if (entry == nullptr || entry->pw_dir == nullptr || *entry->pw_dir == '\0')
        GTEST_SKIP() << "this user has no password entry";
    EXPECT_EQ(homeDirectory(), fs::path(entry->pw_dir));
    ScopedEnvironment emptyHome("HOME", "");
    EXPECT_EQ(homeDirectory(), fs::path(entry->pw_dir));
}

TEST_F(FolderRootsTest, SecondOverrideMovesOnlyTheLockRoot) {
    const auto roots = resolveFolderRoots(FolderMode::STANDARD, {}, fs::path("/second"));
    EXPECT_EQ(roots.storageRoot, fs::path("/home/tester/.local/share/Quillbeck/RodudedOzovizaz"));
    EXPECT_EQ(roots.lockRoot, fs::path("/second"));
    const auto both =
        resolveFolderRoots(FolderMode::DRIVE, fs::path("/first"), fs::path("/second"));
    EXPECT_EQ(both.storageRoot, fs::path("/first"));
    EXPECT_EQ(both.lockRoot, fs::path("/second"));
}

TEST_F(FolderRootsTest, OverridesNeedNoHome) {
    ScopedEnvironment noHome("HOME", std::nullopt);
    // The environment is not consulted when both roots are given, so this works for any user.
    const auto roots = resolveFolderRoots(FolderMode::STANDARD, fs::path("/f"), fs::path("/s"));
    EXPECT_EQ(roots.storageRoot, fs::path("/f"));
    EXPECT_EQ(roots.lockRoot, fs::path("/s"));
}

} // namespace
} // namespace halvexconnector::folderlocations
