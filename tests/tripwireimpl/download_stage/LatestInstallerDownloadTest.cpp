// The latest-installer stage against a loopback server that plays the maker's web domain, with
// the real checker, downloader and extractor, and the HTTP client bundles installed on demand.
#include "FrameworkInProcess.h"

#include "download/LatestInstallerDownload.h"

#include <fl/filesystem/path_conversion.h>
#include <foundation/log/testing/RecordCapture.h>

#include <tripwire/testsupport/LoopbackServer.h>
#include <tripwire/testsupport/TempDirectory.h>

#include <archive.h>
#include <archive_entry.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace halvexconnector::tripwireimpl {
namespace {

namespace fs = std::filesystem;
using fl::filesystem::basic_path;
using foundation::log::testing::CapturedRecord;
using foundation::log::testing::RecordCapture;
using testing::HasSubstr;
using testing::IsEmpty;
using testing::Not;
using testing::StartsWith;
using ::tripwire::testsupport::latestDocument;
using ::tripwire::testsupport::LoopbackServer;
using ::tripwire::testsupport::ScopedVariable;
using ::tripwire::testsupport::sha256Hex;
using ::tripwire::testsupport::TempDirectory;
using tripwire_test::FrameworkInProcess;

const std::string moduleLoggerName = "halvexconnector::tripwireimpl";

std::string stagedTree() {
    const char* stage = std::getenv("TRIPWIRE_STAGE_DIR");
    if (stage == nullptr || *stage == '\0') {
        throw std::runtime_error("TRIPWIRE_STAGE_DIR is not set");
    }
    return stage;
}

std::string readFile(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        throw std::runtime_error("cannot read " + file.string());
    }
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

// A well-formed zip holding one file and no kci.json: an archive without an installer.
std::string zipWithout(const std::string& name, const std::string& content) {
    std::vector<char> buffer(64 * 1024);
    std::size_t used = 0;
    archive* writer = archive_write_new();
    archive_write_set_format_zip(writer);
    archive_write_open_memory(writer, buffer.data(), buffer.size(), &used);
    archive_entry* entry = archive_entry_new();
    archive_entry_set_pathname(entry, name.c_str());
    archive_entry_set_filetype(entry, AE_IFREG);
    archive_entry_set_perm(entry, 0644);
    archive_entry_set_size(entry, static_cast<la_int64_t>(content.size()));
    archive_write_header(writer, entry);
    archive_write_data(writer, content.data(), content.size());
    archive_entry_free(entry);
    archive_write_close(writer);
    archive_write_free(writer);
    return std::string(buffer.data(), used);
}

struct LatestInstallerDownloadTest : testing::Test {
    TempDirectory home;
    LoopbackServer server;
    ScopedVariable dataHome{"XDG_DATA_HOME", (home / "data").string()};
    ScopedVariable webDomain{"QB_URL_QUILLBECK_DOT_COM", server.baseUrl()};
    ScopedVariable installRoot{"QB_INSTALL_ROOT", stagedTree()};
    ScopedVariable noChosenLocation{"QB_RODUDED_OZOVIZAZ_DOWNLOAD_LOCATION", ""};
    ScopedVariable noProxy{"no_proxy", "127.0.0.1,localhost"};
    ScopedVariable noProxyUpper{"NO_PROXY", "127.0.0.1,localhost"};
    FrameworkInProcess framework;
    RecordCapture capture;
    InstallTelemetryRecord record;
    std::vector<fs::path> removals; // before the guard, whose action records here
    CleanupGuard guard;

    fs::path storageRoot() const { return home / "data" / "Quillbeck" / "RodudedOzovizaz"; }

    fs::path runStage() {
        const basic_path installer =
            downloadLatestInstaller(record, guard, [this](const basic_path& location) {
                removals.push_back(fl::filesystem::to_native(location));
                fs::remove_all(removals.back());
            });
        return installer.empty() ? fs::path() : fl::filesystem::to_native(installer);
    }

    // Runs the guard's action, as the install operation does when it ends; the location it
    // handed over for removal.
    fs::path cleanUp() {
        guard.runNow();
        if (removals.size() != 1) {
            ADD_FAILURE() << removals.size() << " removals";
            return {};
        }
        return removals.front();
    }

    // Offers an archive of this content under `fileName`, with its digest.
    void offer(const std::string& version, const std::string& fileName, const std::string& content,
               const std::string& fault = {}) {
        server.addFile(fileName, content);
        server.setLatestDocument(
            latestDocument(version, server.fileUrl(fileName, fault), sha256Hex(content)));
    }

    void offerSample(const std::string& version) {
        offer(version, "kci_" + version + ".zip", readFile(SAMPLE_KCI_ARCHIVE));
    }

    // The directory directly in the storage root that holds `entry`.
    fs::path locationHolding(const fs::path& entry) const {
        return storageRoot() / *fs::relative(entry, storageRoot()).begin();
    }

    std::vector<CapturedRecord> moduleRecords() const { return capture.records(moduleLoggerName); }

    void expectDownloadFailureRecords(const std::string& diagnostic) const {
        const std::vector<CapturedRecord> records = moduleRecords();
        ASSERT_EQ(records.size(), 2u);
        EXPECT_EQ(records[0].severity, 512u);
        EXPECT_EQ(records[0].message, "Download failed with exception");
        EXPECT_EQ(records[1].severity, 16u);
        EXPECT_EQ(records[1].message, "Exception caught: " + diagnostic);
    }
};

TEST_F(LatestInstallerDownloadTest, FetchesIntoTheVersionDirectoryOfAFreshLocationAndExtracts) {
    offerSample("2024.7.0.6");

    const fs::path installer = runStage();

    ASSERT_FALSE(installer.empty());
    EXPECT_TRUE(fs::is_regular_file(installer));
    EXPECT_EQ(record.qshVersion, "2024.7.0.6");
    EXPECT_THAT(record.downloadErrorMessage, IsEmpty());
    EXPECT_THAT(record.downloadEndTimestamp, Not(IsEmpty()));
    EXPECT_THAT(record.extractDownloadErrorMessage, IsEmpty());
    EXPECT_THAT(record.extractDownloadEndTimestamp, Not(IsEmpty()));
    EXPECT_THAT(record.installSource, IsEmpty());
    EXPECT_THAT(record.extractionEndTimestamp, IsEmpty());
    EXPECT_THAT(moduleRecords(), IsEmpty());
    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].path, LoopbackServer::LATEST_PATH);
    EXPECT_EQ(requests[1].path, "/files/kci_2024.7.0.6.zip");

    const fs::path location = locationHolding(installer);
    EXPECT_THAT(location.filename().string(), StartsWith("_tmp_QSHI_"));
    EXPECT_THAT(installer.string(), StartsWith((location / "v2024.7.0.6").string() + "/"));
    EXPECT_TRUE(fs::is_regular_file(location / "v2024.7.0.6" / "kci_2024.7.0.6.zip"));
    // The guard owns the whole location, not the version directory below it.
    ASSERT_TRUE(guard.holdsAction());
    EXPECT_EQ(cleanUp(), location);
    EXPECT_TRUE(fs::is_empty(storageRoot()));
}

TEST_F(LatestInstallerDownloadTest, AnEmptyVersionReplacesAnEarlierOneAndDownloadsIntoV) {
    record.qshVersion = "1.0.0.1"; // as a local archive would have left it
    offerSample("");

    const fs::path installer = runStage();

    ASSERT_FALSE(installer.empty());
    EXPECT_EQ(record.qshVersion, "");
    const fs::path location = locationHolding(installer);
    EXPECT_TRUE(fs::is_regular_file(location / "v" / "kci_.zip"));
    EXPECT_EQ(cleanUp(), location);
}

TEST_F(LatestInstallerDownloadTest, AnEmptyUrlEndsTheStageBeforeAnyLocationIsChosen) {
    server.setLatestDocument(latestDocument("2024.7.0.6", ""));

    EXPECT_TRUE(runStage().empty());

    EXPECT_EQ(record.qshVersion, "2024.7.0.6");
    EXPECT_THAT(record.downloadEndTimestamp, IsEmpty());
    EXPECT_THAT(record.extractDownloadEndTimestamp, IsEmpty());
    EXPECT_FALSE(guard.holdsAction());
    EXPECT_FALSE(fs::exists(storageRoot()));
    EXPECT_THAT(moduleRecords(), IsEmpty());
    EXPECT_EQ(server.requests().size(), 1u);
}

TEST_F(LatestInstallerDownloadTest, AFailedDownloadIsRecordedAndLoggedAndNothingIsExtracted) {
    offer("2024.7.0.6", "kci_2024.7.0.6.zip", "unused", "status=503");

    EXPECT_TRUE(runStage().empty());

    EXPECT_THAT(record.downloadErrorMessage, HasSubstr("503"));
    EXPECT_THAT(record.downloadEndTimestamp, Not(IsEmpty()));
    EXPECT_THAT(record.extractDownloadErrorMessage, IsEmpty());
    EXPECT_THAT(record.extractDownloadEndTimestamp, IsEmpty());
    expectDownloadFailureRecords(record.downloadErrorMessage);
    // The location was claimed before the download began, so its removal is still due.
    ASSERT_TRUE(guard.holdsAction());
    EXPECT_EQ(cleanUp().parent_path(), storageRoot());
    EXPECT_TRUE(fs::is_empty(storageRoot()));
}

TEST_F(LatestInstallerDownloadTest, AnArchiveThatCannotBeExtractedIsLoggedAsADownloadFailure) {
    offer("2024.7.0.6", "kci_2024.7.0.6.zip", "this is not a zip archive");

    EXPECT_TRUE(runStage().empty());

    EXPECT_THAT(record.downloadErrorMessage, IsEmpty());
    EXPECT_THAT(record.downloadEndTimestamp, Not(IsEmpty()));
    EXPECT_THAT(record.extractDownloadErrorMessage, Not(IsEmpty()));
    EXPECT_THAT(record.extractDownloadEndTimestamp, Not(IsEmpty()));
    expectDownloadFailureRecords(record.extractDownloadErrorMessage);
    cleanUp();
}

TEST_F(LatestInstallerDownloadTest, AnArchiveWithoutAnInstallerEndsTheStageWithoutARecord) {
    offer("2024.7.0.6", "kci_2024.7.0.6.zip", zipWithout("readme.txt", "no installer here"));

    EXPECT_TRUE(runStage().empty());

    EXPECT_THAT(record.downloadEndTimestamp, Not(IsEmpty()));
    EXPECT_THAT(record.extractDownloadEndTimestamp, Not(IsEmpty()));
    EXPECT_THAT(record.downloadErrorMessage, IsEmpty());
    EXPECT_THAT(record.extractDownloadErrorMessage, IsEmpty());
    EXPECT_THAT(moduleRecords(), IsEmpty());
    cleanUp();
}

TEST_F(LatestInstallerDownloadTest, AFailedLookupLeavesTheStageUncaught) {
    record.qshVersion = "1.0.0.1";
    server.setLatestDocument("unavailable", 500);

    EXPECT_THROW(runStage(), std::exception);

    EXPECT_EQ(record.qshVersion, "1.0.0.1");
    EXPECT_THAT(record.downloadEndTimestamp, IsEmpty());
    EXPECT_FALSE(guard.holdsAction());
    EXPECT_FALSE(fs::exists(storageRoot()));
    EXPECT_THAT(moduleRecords(), IsEmpty());
}

TEST_F(LatestInstallerDownloadTest, AVersionThatWouldLeaveTheLocationIsRefusedBeforeDownloading) {
    for (const std::string version : {"1/../../escape", "1\\..\\..\\escape"}) {
        SCOPED_TRACE(version);
        offer(version, "kci.zip", "never fetched");

        EXPECT_THROW(runStage(), std::invalid_argument);

        EXPECT_EQ(record.qshVersion, version);
        EXPECT_THAT(record.downloadEndTimestamp, IsEmpty());
        EXPECT_FALSE(fs::exists(storageRoot() / "escape"));
        EXPECT_FALSE(fs::exists(home / "data" / "Quillbeck" / "escape"));
        // Only the location was claimed; its removal finds nothing to remove.
        ASSERT_TRUE(guard.holdsAction());
        EXPECT_FALSE(fs::exists(cleanUp()));
        removals.clear();
    }
    EXPECT_EQ(server.requests().size(), 2u); // the two lookups, no download
}

// A step that fails is caught whatever it throws; one that merely finds nothing is not logged.
struct RecordedStepTest : testing::Test {
    RecordCapture capture;
    std::string errorField;
    std::string endField;
};

TEST_F(RecordedStepTest, AnEmptyResultIsStampedButNotLogged) {
    EXPECT_TRUE(runRecordedStep([] { return basic_path(); }, errorField, endField).empty());
    EXPECT_THAT(errorField, IsEmpty());
    EXPECT_THAT(endField, Not(IsEmpty()));
    EXPECT_THAT(capture.records(moduleLoggerName), IsEmpty());
}

TEST_F(RecordedStepTest, AnythingThrownIsCaughtRecordedAndLogged) {
    EXPECT_TRUE(runRecordedStep([]() -> basic_path { throw 42; }, errorField, endField).empty());
    // Boost's text for an exception of no known family; with libstdc++ it names the type.
    EXPECT_THAT(errorField, Not(IsEmpty()));
    EXPECT_THAT(endField, Not(IsEmpty()));
    const auto records = capture.records(moduleLoggerName);
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].message, "Download failed with exception");
    EXPECT_EQ(records[1].message, "Exception caught: " + errorField);
}

} // namespace
} // namespace halvexconnector::tripwireimpl
