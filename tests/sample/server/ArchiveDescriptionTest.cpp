#include "ArchiveDescription.h"
#include "ArchiveFile.h"
#include "LoopbackAddress.h"

#include <tripwire/testsupport/LoopbackServer.h>
#include <tripwire/testsupport/TempDirectory.h>

#include <archive.h>
#include <archive_entry.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <fstream>
#include <memory>
#include <sstream>

namespace {

namespace fs = std::filesystem;
using namespace sample::server;
using tripwire::testsupport::sha256Hex;
using tripwire::testsupport::TempDirectory;

// A zip archive with the given entries (name, content).
void writeZip(const fs::path& path,
              const std::vector<std::pair<std::string, std::string>>& entries) {
    std::unique_ptr<archive, decltype(&archive_write_free)> writer(archive_write_new(),
                                                                   archive_write_free);
    archive_write_set_format_zip(writer.get());
    ASSERT_EQ(archive_write_open_filename(writer.get(), path.c_str()), ARCHIVE_OK);
    for (const auto& [name, content] : entries) {
        std::unique_ptr<archive_entry, decltype(&archive_entry_free)> entry(archive_entry_new(),
                                                                            archive_entry_free);
        archive_entry_set_pathname(entry.get(), name.c_str());
        archive_entry_set_filetype(entry.get(), AE_IFREG);
        archive_entry_set_perm(entry.get(), 0644);
        archive_entry_set_size(entry.get(), static_cast<la_int64_t>(content.size()));
        archive_write_header(writer.get(), entry.get());
        archive_write_data(writer.get(), content.data(), content.size());
    }
    archive_write_close(writer.get());
}

std::string contentOf(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

TEST(ArchiveDescriptionTest, VersionFromFileNameTakesOnlyKciNamesWithAVersion) {
    EXPECT_EQ(versionFromFileName("kci_2026.12.0.1.zip"), "2026.12.0.1");
    EXPECT_EQ(versionFromFileName("kci_a b.zip"), "a b");
    EXPECT_EQ(versionFromFileName("kci_.zip"), std::nullopt);
    EXPECT_EQ(versionFromFileName("kci.zip"), std::nullopt);
    EXPECT_EQ(versionFromFileName("KCI_1.2.zip"), std::nullopt);
    EXPECT_EQ(versionFromFileName("kci_1.2.tar"), std::nullopt);
    EXPECT_EQ(versionFromFileName("halvexconnector_installer.zip"), std::nullopt);
}

TEST(ArchiveDescriptionTest, TheManifestVersionWinsOverTheFileName) {
    TempDirectory dir;
    const fs::path path = dir / "kci_1.2.3.4.zip";
    writeZip(path, {{"bin/x", "payload"}, {"kci.json", R"({"version": "5.6.7.8"})"}});
    const ArchiveFile file(path);
    const ArchiveDescription description = describeArchive(file);
    EXPECT_EQ(description.version, "5.6.7.8");
    EXPECT_EQ(description.fileName, "kci_1.2.3.4.zip");
    EXPECT_EQ(description.size, fs::file_size(path));
    EXPECT_EQ(description.sha256, sha256Hex(contentOf(path)));
}

TEST(ArchiveDescriptionTest, AnUnusableManifestFallsBackToTheFileName) {
    TempDirectory dir;
    const std::vector<std::string> manifests = {R"({"version": ""})", R"({"version": 5})",
                                                R"({"installer": "bin/x"})", "not json", "[]"};
    for (const auto& manifest : manifests) {
        const fs::path path = dir / "kci_9.9.9.9.zip";
        writeZip(path, {{"kci.json", manifest}});
        EXPECT_EQ(describeArchive(ArchiveFile(path)).version, "9.9.9.9") << manifest;
    }
}

TEST(ArchiveDescriptionTest, NoVersionAnywhereIsAnError) {
    TempDirectory dir;
    const fs::path path = dir / "installer.zip";
    writeZip(path, {{"bin/x", "payload"}});
    EXPECT_THROW(describeArchive(ArchiveFile(path)), ArchiveDescriptionError);
    EXPECT_THROW(ArchiveFile(dir / "missing.zip"), std::system_error);
    EXPECT_THROW(ArchiveFile(dir.path()), std::system_error);
}

TEST(ArchiveDescriptionTest, TheDocumentNamesTheArchiveBelowTheBaseUrl) {
    const ArchiveDescription description{"kci_1 2+3.zip", "1.2", std::string(64, 'a'), 42};
    const auto document = nlohmann::json::parse(latestDocument(description, "http://127.0.0.1:9"));
    EXPECT_EQ(document, nlohmann::json({{"version", "1.2"},
                                        {"url", "http://127.0.0.1:9/files/kci_1%202%2B3.zip"},
                                        {"sha256", std::string(64, 'a')},
                                        {"size", 42}}));
}

TEST(LoopbackAddressTest, OnlyNumericLoopbackAddressesQualify) {
    for (const char* address : {"127.0.0.1", "127.255.0.9", "::1"})
        EXPECT_TRUE(isLoopbackAddress(address)) << address;
    for (const char* address : {"0.0.0.0", "::", "10.0.0.1", "192.0.2.1", "128.0.0.1",
                                "::ffff:127.0.0.1", "localhost", "", "127.0.0.1 "})
        EXPECT_FALSE(isLoopbackAddress(address)) << address;
    EXPECT_EQ(baseUrlFor("::1", 80), "http://[::1]:80");
}

} // namespace
