#include "agent/utils/FolderLocations.h"
#include "halvexconnector/folderlocations/FolderLocations.h"
#include "halvexconnector/folderlocations/FolderRoots.h"

#include <tripwire/testsupport/TempDirectory.h>

#include <gtest/gtest.h>

#include <pwd.h>

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

TEST_F(FolderLocationsTest, EachModeHasItsDefaultsAndOverrides) {
    const std::tuple<Override, Override, basic_path, basic_path> standard[] = {
        {boost::none, boost::none, path(u"/xdg/Quillbeck/RodudedOzovizaz"),
         path(u"/xdg/Quillbeck/RodudedOzovizaz/locks")},
        {over(u"/o/first"), boost::none, path(u"/o/first"), path(u"/o/first/locks")},
        {boost::none, over(u"/o/second"), path(u"/xdg/Quillbeck/RodudedOzovizaz"),
         path(u"/o/second")},
        {over(u""), over(u""), path(u"/xdg/Quillbeck/RodudedOzovizaz"),
         path(u"/xdg/Quillbeck/RodudedOzovizaz/locks")},
        {over(u"\\o\\Bibliothèque\\"), boost::none, path(u"/o/Bibliothèque"),
         path(u"/o/Bibliothèque/locks")},
    };
    for (const auto& [first, second, storage, locks] : standard) {
        const FolderLocations locations(first, second);
        EXPECT_EQ(locations.userStorageRoot(), storage);
        EXPECT_EQ(locations.lockRoot(), locks);
    }
    const std::tuple<Override, Override, Override, basic_path, basic_path> drive[] = {
        {boost::none, boost::none, boost::none, path(u"/xdg/Quillbeck/Drive"),
         path(u"/xdg/Quillbeck/Drive/locks")},
        {boost::none, over(u"/d/first"), over(u"/d/second"), path(u"/d/first"), path(u"/d/second")},
        {over(u"/base"), boost::none, boost::none, path(u"/base/Quillbeck/Drive"),
         path(u"/base/Quillbeck/Drive/locks")},
    };
    for (const auto& [base, first, second, storage, locks] : drive) {
        const agent::utils::FolderLocations locations(base, first, second);
        EXPECT_EQ(locations.storageRoot(), storage);
        EXPECT_EQ(locations.lockRoot(), locks);
    }
}

TEST_F(FolderLocationsTest, DataHomeFollowsAnAbsoluteXdgValueThenHomeThenThePasswordEntry) {
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
    for (const auto& value : {std::optional<std::string>(), std::optional<std::string>("")}) {
        ScopedVariable noHome("HOME", value);
        if (entry != nullptr && entry->pw_dir != nullptr && *entry->pw_dir != '\0') {
            EXPECT_EQ(homeDirectory(), fs::path(entry->pw_dir));
        }
        // Both overrides given: the environment is not consulted, so this works for any user.
        const auto roots = resolveFolderRoots(FolderMode::DRIVE, fs::path("/f"), fs::path("/s"));
        EXPECT_EQ(roots.storageRoot, fs::path("/f"));
        EXPECT_EQ(roots.lockRoot, fs::path("/s"));
    }
}

} // namespace
} // namespace halvexconnector::folderlocations
