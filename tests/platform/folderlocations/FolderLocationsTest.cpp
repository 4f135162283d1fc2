#include "agent/utils/FolderLocations.h"
#include "halvexconnector/folderlocations/FolderLocations.h"

#include "support/ScratchSpace.h"

#include <gtest/gtest.h>

namespace {

using fl::filesystem::basic_path;
using qbtest::ScopedEnvironment;

basic_path path(const std::u16string& text) {
    return basic_path(text, true);
}

struct FolderLocationsTest : ::testing::Test {
    ScopedEnvironment home{"HOME", "/home/tester"};
    ScopedEnvironment dataHome{"XDG_DATA_HOME", "/xdg"};
};

TEST_F(FolderLocationsTest, StandardModeDefaultsAndOverrides) {
    using halvexconnector::folderlocations::FolderLocations;
    const FolderLocations defaults(boost::none, boost::none);
    EXPECT_EQ(defaults.userStorageRoot(), path(u"/xdg/Quillbeck/RodudedOzovizaz"));
    EXPECT_EQ(defaults.lockRoot(), path(u"/xdg/Quillbeck/RodudedOzovizaz/locks"));

    const FolderLocations first(std::u16string(u"/o/first"), boost::none);
    EXPECT_EQ(first.userStorageRoot(), path(u"/o/first"));
    EXPECT_EQ(first.lockRoot(), path(u"/o/first/locks"));

    const FolderLocations second(boost::none, std::u16string(u"/o/second"));
    EXPECT_EQ(second.userStorageRoot(), path(u"/xdg/Quillbeck/RodudedOzovizaz"));
    EXPECT_EQ(second.lockRoot(), path(u"/o/second"));

    const FolderLocations empty{std::u16string(), std::u16string()};
    EXPECT_EQ(empty.lockRoot(), defaults.lockRoot());
}

TEST_F(FolderLocationsTest, OverrideTextInWindowsFormAndNonAscii) {
    using halvexconnector::folderlocations::FolderLocations;
    const FolderLocations locations(std::u16string(u"\\o\\Bibliothèque\\"), boost::none);
    EXPECT_EQ(locations.userStorageRoot(), path(u"/o/Bibliothèque"));
    EXPECT_EQ(locations.lockRoot(), path(u"/o/Bibliothèque/locks"));
}

TEST_F(FolderLocationsTest, DriveModeDefaultsAndOverrides) {
    using agent::utils::FolderLocations;
    const FolderLocations defaults(boost::none, boost::none, boost::none);
    EXPECT_EQ(defaults.storageRoot(), path(u"/xdg/Quillbeck/Drive"));
    EXPECT_EQ(defaults.lockRoot(), path(u"/xdg/Quillbeck/Drive/locks"));

    const FolderLocations overridden(boost::none, std::u16string(u"/d/first"),
                                     std::u16string(u"/d/second"));
    EXPECT_EQ(overridden.storageRoot(), path(u"/d/first"));
    EXPECT_EQ(overridden.lockRoot(), path(u"/d/second"));

    const FolderLocations base(std::u16string(u"/base"), boost::none, boost::none);
    EXPECT_EQ(base.lockRoot(), path(u"/base/Quillbeck/Drive/locks"));
}

TEST_F(FolderLocationsTest, TheTwoModesNeverShareALockRootByDefault) {
    const halvexconnector::folderlocations::FolderLocations standard(boost::none, boost::none);
    const agent::utils::FolderLocations drive(boost::none, boost::none, boost::none);
    EXPECT_NE(standard.lockRoot(), drive.lockRoot());
}

} // namespace
