// What the clean-up of one install attempt may take from its working directory: everything of a
// generated one, only the attempt's own entries of a directory the user named.
#include "download/WorkingDirectory.h"

#include "download/WorkingDirectories.h"

#include <fl/filesystem/path_conversion.h>

#include <tripwire/testsupport/TempDirectory.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

namespace halvexconnector::tripwireimpl {
namespace {

namespace stdfs = std::filesystem;
using testing::IsEmpty;
using tripwire::testsupport::ScopedVariable;
using tripwire::testsupport::TempDirectory;

void makeFile(const stdfs::path& file) {
    stdfs::create_directories(file.parent_path());
    std::ofstream(file) << "content";
}

std::set<stdfs::path> targetsOf(const WorkingDirectory& directory) {
    std::set<stdfs::path> targets;
    for (const fl::filesystem::basic_path& target : directory.removalTargets()) {
        targets.insert(fl::filesystem::to_native(target));
    }
    return targets;
}

class WorkingDirectoryTest : public testing::Test {
protected:
    stdfs::path storageRoot() const { return home / "data" / "Quillbeck" / "RodudedOzovizaz"; }
    stdfs::path pathOf(const WorkingDirectory& directory) const {
        return fl::filesystem::to_native(directory.path());
    }
    void chooseLocation(const stdfs::path& location) {
        chosen.reset(); // restores the earlier value before the new one is set
        chosen = std::make_unique<ScopedVariable>(downloadLocationVariable, location.string());
    }

    TempDirectory home;
    ScopedVariable dataHome{"XDG_DATA_HOME", (home / "data").string()};
    ScopedVariable noLocation{downloadLocationVariable, std::nullopt};
    std::unique_ptr<ScopedVariable> chosen;
};

TEST_F(WorkingDirectoryTest, AGeneratedDirectoryGoesAsAWhole) {
    const WorkingDirectory directory = WorkingDirectory::claim(u"kci_a");
    const stdfs::path location = pathOf(directory);
    EXPECT_EQ(location.parent_path(), storageRoot());
    EXPECT_EQ(location.filename().string().rfind("_tmp_QSHI_", 0), 0u);
    EXPECT_FALSE(stdfs::exists(location)) << "claiming creates nothing";

    makeFile(location / "kci_a" / "kci_a.zip");
    makeFile(location / "other");
    EXPECT_EQ(targetsOf(directory), (std::set<stdfs::path>{location}));
}

TEST_F(WorkingDirectoryTest, AnEmptyVariableStillGivesAGeneratedDirectory) {
    chooseLocation("");
    const WorkingDirectory directory = WorkingDirectory::claim(u"v1");
    EXPECT_EQ(pathOf(directory).parent_path(), storageRoot());
    EXPECT_EQ(targetsOf(directory), (std::set<stdfs::path>{pathOf(directory)}));
}

TEST_F(WorkingDirectoryTest, AnExistingChosenDirectoryLosesOnlyWhatTheAttemptAddedAndItsOwnEntry) {
    const stdfs::path location = home / "my downloads";
    makeFile(location / "notes.txt");
    makeFile(location / "keep" / "inner.txt");
    // A leftover under the attempt's own name is the attempt's: it replaces it anyway.
    makeFile(location / "v2024.7.0.6" / "stale.zip");
    chooseLocation(location);

    const WorkingDirectory directory = WorkingDirectory::claim(u"v2024.7.0.6");
    EXPECT_EQ(pathOf(directory), location);
    makeFile(location / "v2024.7.0.6" / "kci.zip");
    makeFile(location / "written by the installer");
    stdfs::create_directory(location / "new directory");

    EXPECT_EQ(targetsOf(directory), (std::set<stdfs::path>{location / "v2024.7.0.6",
                                                           location / "written by the installer",
                                                           location / "new directory"}));
}

TEST_F(WorkingDirectoryTest, AnEmptyChosenDirectoryKeepsItselfAndLosesWhatAppeared) {
    const stdfs::path location = home / "empty";
    stdfs::create_directories(location);
    chooseLocation(location);

    const WorkingDirectory directory = WorkingDirectory::claim(u"kci_a");
    EXPECT_THAT(targetsOf(directory), IsEmpty()) << "nothing appeared yet";
    makeFile(location / "kci_a" / "kci_a.zip");
    EXPECT_EQ(targetsOf(directory), (std::set<stdfs::path>{location / "kci_a"}));
}

TEST_F(WorkingDirectoryTest, AChosenDirectoryThatDidNotExistGoesAsAWhole) {
    const stdfs::path location = home / "not yet" / "downloads";
    chooseLocation(location);

    const WorkingDirectory directory = WorkingDirectory::claim(u"kci_a");
    EXPECT_FALSE(stdfs::exists(location));
    makeFile(location / "kci_a" / "kci_a.zip");
    EXPECT_EQ(targetsOf(directory), (std::set<stdfs::path>{location}));
}

TEST_F(WorkingDirectoryTest, AChosenPathThatCannotBeListedOffersOnlyTheOwnEntry) {
    // A file of the user's where a directory was expected: never handed over as a whole.
    const stdfs::path location = home / "a file";
    makeFile(location);
    chooseLocation(location);
    const WorkingDirectory overFile = WorkingDirectory::claim(u"kci_a");
    EXPECT_EQ(targetsOf(overFile), (std::set<stdfs::path>{location / "kci_a"}));

    // A directory that was listed when claimed and is gone (or unreadable) at the clean-up.
    const stdfs::path vanishing = home / "vanishing";
    makeFile(vanishing / "notes.txt");
    chooseLocation(vanishing);
    const WorkingDirectory gone = WorkingDirectory::claim(u"v1");
    stdfs::remove_all(vanishing);
    EXPECT_EQ(targetsOf(gone), (std::set<stdfs::path>{vanishing / "v1"}));
}

TEST_F(WorkingDirectoryTest, AnOwnEntryThatIsNotAPlainNameIsNeverTheAttempts) {
    const stdfs::path location = home / "chosen";
    makeFile(location / "sub" / "mine.txt");
    makeFile(location / "mine.txt");
    chooseLocation(location);

    for (const fl::ustring& entry : {fl::ustring(u"sub/x"), fl::ustring(u".."), fl::ustring(u"."),
                                     fl::ustring(u""), fl::ustring(u"sub\\x")}) {
        const WorkingDirectory directory = WorkingDirectory::claim(entry);
        EXPECT_THAT(targetsOf(directory), IsEmpty());
        stdfs::create_directory(location / "new");
        EXPECT_EQ(targetsOf(directory), (std::set<stdfs::path>{location / "new"}));
        stdfs::remove(location / "new");
    }
    // Unlistable at the clean-up as well: then nothing at all.
    const WorkingDirectory directory = WorkingDirectory::claim(u"..");
    stdfs::rename(location, home / "moved");
    EXPECT_THAT(targetsOf(directory), IsEmpty());
}

TEST_F(WorkingDirectoryTest, TheCleanUpHandsEachTargetToTheRemoval) {
    const stdfs::path location = home / "chosen";
    makeFile(location / "mine.txt");
    chooseLocation(location);
    WorkingDirectory directory = WorkingDirectory::claim(u"kci_a");
    makeFile(location / "kci_a" / "kci_a.zip");
    makeFile(location / "log.txt");

    std::set<stdfs::path> handed;
    const std::function<void()> cleanUp =
        workingDirectoryCleanup(std::move(directory), [&](const fl::filesystem::basic_path& path) {
            EXPECT_TRUE(path.form());
            handed.insert(fl::filesystem::to_native(path));
            stdfs::remove_all(fl::filesystem::to_native(path));
        });
    EXPECT_THAT(handed, IsEmpty()) << "nothing runs before the action";
    cleanUp();

    EXPECT_EQ(handed, (std::set<stdfs::path>{location / "kci_a", location / "log.txt"}));
    EXPECT_TRUE(stdfs::is_regular_file(location / "mine.txt"));
}

} // namespace
} // namespace halvexconnector::tripwireimpl
