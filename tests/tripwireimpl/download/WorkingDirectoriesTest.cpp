#include "download/WorkingDirectories.h"

#include "support/ModuleServices.h"
#include "support/ScratchSpace.h"

#include <fl/filesystem/path_conversion.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <set>
#include <string>

namespace {

namespace stdfs = std::filesystem;
using halvexconnector::tripwireimpl::downloadLocationVariable;
using halvexconnector::tripwireimpl::getDownloadLocation;
using qbtest::ScopedEnvironment;
using qbtest::TempDirectory;
using tripwire_test::FixedStorageOverride;
using tripwire_test::RunningFramework;

std::string text(const fl::filesystem::basic_path& path) {
    return fl::filesystem::to_utf8(path);
}

// Every entry below a directory, to show that a call created nothing.
std::set<std::string> treeOf(const stdfs::path& root) {
    std::set<std::string> entries;
    for (const auto& entry : stdfs::recursive_directory_iterator(root)) {
        entries.insert(entry.path().string());
    }
    return entries;
}

class WorkingDirectories : public ::testing::Test {
protected:
    stdfs::path storageRoot() const { return home.path() / "Quillbeck" / "RodudedOzovizaz"; }

    TempDirectory home;
    ScopedEnvironment dataHome{"XDG_DATA_HOME", home.path().string()};
    ScopedEnvironment location{downloadLocationVariable, std::nullopt};
};

TEST_F(WorkingDirectories, AGeneratedNameLiesInTheStorageRootAndIsNeitherTakenNorCreated) {
    stdfs::create_directories(storageRoot());
    const auto before = treeOf(home.path());

    const fl::filesystem::basic_path first = getDownloadLocation();
    const fl::filesystem::basic_path second = getDownloadLocation();

    EXPECT_TRUE(first.form());
    const stdfs::path generated = text(first);
    EXPECT_EQ(generated.parent_path(), storageRoot());
    EXPECT_EQ(generated.filename().string().rfind("_tmp_QSHI_", 0), 0u) << generated;
    EXPECT_GT(generated.filename().string().size(), 10u);
    EXPECT_FALSE(stdfs::exists(generated));
    EXPECT_NE(first, second);
    EXPECT_EQ(treeOf(home.path()), before);
}

TEST_F(WorkingDirectories, AnEmptyVariableCountsAsUnset) {
    ScopedEnvironment empty(downloadLocationVariable, std::string());
    EXPECT_EQ(stdfs::path(text(getDownloadLocation())).parent_path(), storageRoot());
}

TEST_F(WorkingDirectories, TheVariableGivesItsDirectoryInNativeFormUnchecked) {
    {
        ScopedEnvironment set(downloadLocationVariable, (home.path() / "chosen").string() + "//");
        EXPECT_EQ(text(getDownloadLocation()), (home.path() / "chosen").string());
    }
    {
        // Relative stays relative, backslashes become separators, nothing is created.
        ScopedEnvironment set(downloadLocationVariable, std::string("work\\dl//x/"));
        const auto result = getDownloadLocation();
        EXPECT_EQ(text(result), "work/dl/x");
        EXPECT_TRUE(result.form());
        EXPECT_FALSE(stdfs::exists("work"));
    }
}

TEST_F(WorkingDirectories, TheStorageRootOverrideMovesTheGeneratedName) {
    RunningFramework framework;
    TempDirectory elsewhere;
    auto storage = std::make_shared<FixedStorageOverride>(
        fl::filesystem::path_from_utf8(elsewhere.path().string()), fl::filesystem::basic_path());
    framework.registerService<agent::spf::externalprocessdiscovery::UserStorageRootOverride>(
        storage);

    EXPECT_EQ(stdfs::path(text(getDownloadLocation())).parent_path(), elsewhere.path());
}

TEST_F(WorkingDirectories, TheNameIsGeneratedEvenWhenTheVariableReplacesIt) {
    RunningFramework framework;
    auto storage = std::make_shared<FixedStorageOverride>(
        fl::filesystem::path_from_utf8(home.path().string()), fl::filesystem::basic_path());
    framework.registerService<agent::spf::externalprocessdiscovery::UserStorageRootOverride>(
        storage);
    ScopedEnvironment set(downloadLocationVariable, (home.path() / "chosen").string());

    getDownloadLocation();
    EXPECT_EQ(storage->firstCalls.load(), 1);

    // So a broken storage root surfaces whatever the variable says.
    storage->failing = true;
    EXPECT_THROW(getDownloadLocation(), std::runtime_error);
}

} // namespace
