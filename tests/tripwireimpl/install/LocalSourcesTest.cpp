#include "install/LocalSources.h"

#include "support/ScratchSpace.h"

#include <fl/filesystem/path_conversion.h>
#include <fl/i18n/conversion.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

namespace stdfs = std::filesystem;
using halvexconnector::tripwireimpl::findFirstMatch;
using halvexconnector::tripwireimpl::findLocalSource;
using halvexconnector::tripwireimpl::installSourcesVariable;
using halvexconnector::tripwireimpl::LocalSource;
using qbtest::ScopedEnvironment;
using qbtest::TempDirectory;

void touch(const stdfs::path& file) {
    stdfs::create_directories(file.parent_path());
    std::ofstream(file) << "not really an archive";
}

std::string text(const fl::ustring& value) {
    return fl::i18n::ustring_to_utf8(value);
}

// The names of `directory` in the order the system lists them.
std::vector<std::string> listingOrder(const stdfs::path& directory) {
    std::vector<std::string> names;
    for (const auto& entry : stdfs::directory_iterator(directory)) {
        names.push_back(entry.path().filename().string());
    }
    return names;
}

class LocalSources : public ::testing::Test {
protected:
    stdfs::path installTreeSources() const { return installRoot.path() / "sys/qbds/win64"; }

    TempDirectory installRoot;
    TempDirectory sources;
    ScopedEnvironment root{"QB_INSTALL_ROOT", installRoot.path().string()};
    ScopedEnvironment variable{installSourcesVariable, std::nullopt};
};

TEST_F(LocalSources, WithoutTheVariableTheInstallTreeIsSearched) {
    touch(installTreeSources() / "kci_1.zip");
    const LocalSource found = findLocalSource();
    EXPECT_EQ(fl::filesystem::to_utf8(found.sourcesDirectory), installTreeSources().string());
    EXPECT_TRUE(found.sourcesDirectory.form());
    EXPECT_EQ(text(found.fileName), "kci_1.zip");
    EXPECT_EQ(text(found.fullPathName), (installTreeSources() / "kci_1.zip").string());
}

TEST_F(LocalSources, AVariableNamingAMissingDirectoryFindsNothingAndNeverFallsBackToTheTree) {
    touch(installTreeSources() / "kci_1.zip");
    const std::string missing = (sources.path() / "nowhere").string();
    ScopedEnvironment set(installSourcesVariable, missing);
    const LocalSource found = findLocalSource();
    EXPECT_EQ(fl::filesystem::to_utf8(found.sourcesDirectory), missing);
    EXPECT_FALSE(found.found());
    EXPECT_TRUE(found.fullPathName.empty());
}

TEST_F(LocalSources, AVariableDirectoryWithoutMatchesFindsNothingEither) {
    touch(installTreeSources() / "kci_1.zip");
    for (const char* name : {"kci_1.zip.part", "other.zip", "halvexconnector.zip",
                             "halvexconnector_installer.txt", "xkci_1.zip"}) {
        touch(sources.path() / name);
    }
    ScopedEnvironment set(installSourcesVariable, sources.path().string() + "/");
    const LocalSource found = findLocalSource();
    EXPECT_EQ(fl::filesystem::to_utf8(found.sourcesDirectory), sources.path().string());
    EXPECT_FALSE(found.found());
}

TEST_F(LocalSources, AnyKciArchiveWinsOverEveryInstallerArchive) {
    for (const char* name : {"halvexconnector_a_installer.zip", "halvexconnectorinstaller.zip",
                             "halvexconnector_z_installer.zip"}) {
        touch(sources.path() / name);
    }
    touch(sources.path() / "kci.zip");
    ScopedEnvironment set(installSourcesVariable, sources.path().string());
    EXPECT_EQ(text(findLocalSource().fileName), "kci.zip");
}

TEST_F(LocalSources, AmongInstallerArchivesTheFirstListedOneIsChosen) {
    for (int i = 0; i < 12; ++i) {
        touch(sources.path() / ("halvexconnector" + std::to_string(i) + "installer.zip"));
    }
    touch(sources.path() / "readme.txt");
    ScopedEnvironment set(installSourcesVariable, sources.path().string());

    std::string firstListed;
    for (const auto& name : listingOrder(sources.path())) {
        if (name != "readme.txt") {
            firstListed = name;
            break;
        }
    }
    const LocalSource found = findLocalSource();
    EXPECT_EQ(text(found.fileName), firstListed);
    EXPECT_EQ(text(found.fullPathName), (sources.path() / firstListed).string());
}

TEST_F(LocalSources, AFileThatIsNoArchiveIsStillChosen) {
    touch(sources.path() / "kci_garbage.zip");
    ScopedEnvironment set(installSourcesVariable, sources.path().string());
    EXPECT_EQ(text(findLocalSource().fileName), "kci_garbage.zip");
}

TEST(FindFirstMatch, AnEmptyPathOrNoMatchGivesNoHandleAndAMatchStandsOnIt) {
    TempDirectory directory;
    touch(directory.path() / "kci_a.zip");
    EXPECT_EQ(findFirstMatch(fl::filesystem::basic_path(), u"kci*.zip"), nullptr);
    const auto dir = fl::filesystem::path_from_utf8(directory.path().string());
    EXPECT_EQ(findFirstMatch(dir, u"halvexconnector*installer.zip"), nullptr);
    const auto match = findFirstMatch(dir, u"kci*.zip");
    ASSERT_NE(match, nullptr);
    EXPECT_EQ(text(match->current().filename()), "kci_a.zip");
}

} // namespace
