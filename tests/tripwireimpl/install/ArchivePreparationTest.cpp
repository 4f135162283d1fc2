#include "install/ArchivePreparation.h"

#include "support/ModuleServices.h"
#include "support/ScratchSpace.h"

#include <fl/filesystem/path_conversion.h>
#include <fl/i18n/conversion.h>

#include <archive.h>
#include <archive_entry.h>

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace {

namespace stdfs = std::filesystem;
using halvexconnector::tripwireimpl::extractDownloadedArchive;
using halvexconnector::tripwireimpl::localPreparationPaths;
using halvexconnector::tripwireimpl::PreparedInstaller;
using halvexconnector::tripwireimpl::prepareLocalArchive;
using qbtest::TempDirectory;

std::string text(const fl::filesystem::basic_path& path) {
    return fl::filesystem::to_utf8(path);
}
fl::filesystem::basic_path pathOf(const stdfs::path& path) {
    return fl::filesystem::path_from_utf8(path.string());
}
fl::ustring wide(const std::string& utf8) {
    return fl::i18n::utf8_to_ustring(utf8);
}

std::string contentsOf(const stdfs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

bool isInside(const stdfs::path& entry, const stdfs::path& directory) {
    return entry.string().rfind(directory.string() + "/", 0) == 0;
}

// A valid zip with one file and no manifest: an archive that holds no installer.
void writeZipWithoutManifest(const stdfs::path& file) {
    archive* zip = archive_write_new();
    archive_write_set_format_zip(zip);
    ASSERT_EQ(archive_write_open_filename(zip, file.c_str()), ARCHIVE_OK);
    const std::string data = "just a readme";
    archive_entry* entry = archive_entry_new();
    archive_entry_set_pathname(entry, "readme.txt");
    archive_entry_set_filetype(entry, AE_IFREG);
    archive_entry_set_perm(entry, 0644);
    archive_entry_set_size(entry, static_cast<la_int64_t>(data.size()));
    archive_write_header(zip, entry);
    archive_write_data(zip, data.data(), data.size());
    archive_entry_free(entry);
    archive_write_close(zip);
    archive_write_free(zip);
}

TEST(LocalPreparationPaths, TheCopyGoesUnderItsOwnNameIntoADirectoryNamedAfterItsStem) {
    const auto work = fl::filesystem::path_from_utf8("/data/_tmp_QSHI_abc");
    const auto paths = localPreparationPaths(work, u"kci_a.zip");
    EXPECT_EQ(text(paths.extractionDirectory), "/data/_tmp_QSHI_abc/kci_a");
    EXPECT_EQ(text(paths.copyTarget), "/data/_tmp_QSHI_abc/kci_a/kci_a.zip");
    EXPECT_TRUE(paths.copyTarget.form());

    const auto shortName = localPreparationPaths(work, u"zip");
    EXPECT_EQ(text(shortName.extractionDirectory), "/data/_tmp_QSHI_abc/zip");
    EXPECT_EQ(text(shortName.copyTarget), "/data/_tmp_QSHI_abc/zip/zip");
}

class ArchivePreparation : public ::testing::Test {
protected:
    void SetUp() override {
        stagedArchive = tripwire_test::stagedKciArchive();
        ASSERT_FALSE(stagedArchive.empty()) << "no staged kci archive";
        sources = scratch.path() / "sources";
        stdfs::create_directories(sources);
        archive = sources / "kci_sample.zip";
        stdfs::copy_file(stagedArchive, archive);
    }

    TempDirectory scratch;
    stdfs::path stagedArchive;
    stdfs::path sources;
    stdfs::path archive;
    stdfs::path work() const { return scratch.path() / "work"; }
};

TEST_F(ArchivePreparation, ALeftoverIsReplacedAndTheCopyIsExtractedWhileTheSourceStays) {
    const auto paths = localPreparationPaths(pathOf(work()), u"kci_sample.zip");
    const stdfs::path leftover = work() / "kci_sample" / "stale.txt";
    stdfs::create_directories(leftover.parent_path());
    std::ofstream(leftover) << "from an earlier attempt";
    const std::string sourceBytes = contentsOf(archive);

    const PreparedInstaller prepared = prepareLocalArchive(paths, wide(archive.string()));

    EXPECT_FALSE(stdfs::exists(leftover));
    EXPECT_EQ(contentsOf(work() / "kci_sample" / "kci_sample.zip"), sourceBytes);
    EXPECT_EQ(contentsOf(archive), sourceBytes);
    const stdfs::path installer = text(prepared.installerPath);
    EXPECT_TRUE(isInside(installer, work() / "kci_sample")) << installer;
    struct stat info {};
    ASSERT_EQ(::stat(installer.c_str(), &info), 0) << installer;
    EXPECT_NE(info.st_mode & S_IXUSR, 0u);
    // The staged archive is named after the version it carries.
    EXPECT_EQ("kci_" + prepared.version + ".zip", stdfs::path(stagedArchive).filename().string());
}

TEST_F(ArchivePreparation, AnArchiveWithoutInstallerYieldsAnEmptyPathWithoutThrowing) {
    const stdfs::path empty = sources / "kci_empty.zip";
    writeZipWithoutManifest(empty);
    const auto paths = localPreparationPaths(pathOf(work()), u"kci_empty.zip");
    const PreparedInstaller prepared = prepareLocalArchive(paths, wide(empty.string()));
    EXPECT_TRUE(prepared.installerPath.empty());
}

TEST_F(ArchivePreparation, AFileThatIsNoArchiveThrowsAndLeavesTheSourceAlone) {
    const stdfs::path garbage = sources / "kci_garbage.zip";
    std::ofstream(garbage) << "PK but not really";
    const auto paths = localPreparationPaths(pathOf(work()), u"kci_garbage.zip");
    EXPECT_ANY_THROW(prepareLocalArchive(paths, wide(garbage.string())));
    EXPECT_TRUE(stdfs::exists(garbage));
}

TEST_F(ArchivePreparation, ADownloadedArchiveIsExtractedBesideItself) {
    const stdfs::path downloaded = work() / "v1" / "kci_sample.zip";
    stdfs::create_directories(downloaded.parent_path());
    stdfs::copy_file(archive, downloaded);
    const stdfs::path installer = text(extractDownloadedArchive(pathOf(downloaded)));
    ASSERT_FALSE(installer.empty());
    EXPECT_TRUE(stdfs::is_regular_file(installer));
    EXPECT_TRUE(isInside(installer, downloaded.parent_path())) << installer;
}

} // namespace
