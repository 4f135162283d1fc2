#include "download/LatestInstallerDownload.h"

#include "Logging.h"
#include "StageAnnouncement.h"
#include "download/HttpClientAcquisition.h"

#include <fl/filesystem/detail/native_form.h>
#include <fl/i18n/conversion.h>
#include <foundation/urlmanager/UrlManager.h>
#include <halvexconnector/latestversion/checker/DocumentSignature.h>
#include <halvexconnector/latestversion/checker/LatestVersionChecker.h>
#include <halvexconnector/latestversion/kcidownloader/KCIDownloader.h>
#include <halvexconnector/latestversion/kciextractor/KCIExtractor.h>
#include <telx/util/DateTime.h>

#include <stdexcept>
#include <string_view>
#include <utility>

namespace halvexconnector::tripwireimpl {

namespace {

using fl::filesystem::basic_path;

// The location followed by "v" and the version; "v" alone for an empty version. The version
// comes from the server: a separator in it would place the download, and later the installer,
// outside the location that the install operation removes, so such a version is refused.
basic_path versionDirectory(const basic_path& location, const std::string& version) {
    if (version.find_first_of(std::string_view("/\\\0", 3)) != std::string::npos) {
        throw std::invalid_argument("the latest installer's version \"" + version +
                                    "\" cannot name a download directory");
    }
    fl::ustring text = location.string();
    fl::filesystem::detail::concatenate_pathname(text, u"v" + fl::i18n::utf8_to_ustring(version),
                                                 location.form());
    return basic_path(text, location.form());
}

void logDownloadFailure(const std::string& diagnostic) {
    // The same two records for a failed download and a failed extraction of the download.
    writeLogRecord(severityNotice, "Download failed with exception");
    writeLogRecord(severityExceptionDetail, "Exception caught: ", diagnostic);
}

} // namespace

basic_path runRecordedStep(const std::function<basic_path()>& step, std::string& errorField,
                           std::string& endField, std::optional<tripwire::InstallStage> stage) {
    basic_path result;
    try {
        result = step();
    } catch (...) {
        errorField = currentExceptionDiagnostic();
        logDownloadFailure(errorField);
        if (stage) {
            announceStageFailure(*stage, currentExceptionReason());
        }
    }
    endField = telx::util::getDateTimeWithMilliSec();
    return result;
}

basic_path downloadLatestInstaller(InstallTelemetryRecord& record, CleanupGuard& guard,
                                   RemoveOrQueueForShutdown removeOrQueue) {
    announceStage(tripwire::InstallStage::LOOKING_UP_LATEST_VERSION);
    std::shared_ptr<foundation::urlmanager::UrlManager> urlManager =
        foundation::urlmanager::createUrlManager();
    latestversion::checker::LatestVersionChecker checker(getHttpClient(), urlManager);
    std::pair<std::string, std::string> latest;
    try {
        latest = checker.getLatestKCIUrl();
    } catch (const latestversion::checker::DocumentSignatureError&) {
        // A document no trusted key vouches for ends the attempt as a refused download would.
        runRecordedStep([]() -> basic_path { throw; }, record.downloadErrorMessage,
                        record.downloadEndTimestamp,
                        tripwire::InstallStage::LOOKING_UP_LATEST_VERSION);
        return {};
    } catch (...) {
        announceStageFailure(tripwire::InstallStage::LOOKING_UP_LATEST_VERSION,
                             currentExceptionReason());
        throw;
    }
    const std::string& version = latest.first;
    const std::string& url = latest.second;
    record.qshVersion = version;
    if (url.empty()) {
        announceStageFailure(tripwire::InstallStage::LOOKING_UP_LATEST_VERSION,
                             "the latest-version document names no installer");
        return {};
    }

    latestversion::kcidownloader::KCIDownloader downloader(getHttpClient());
    const WorkingDirectory location =
        WorkingDirectory::claim(u"v" + fl::i18n::utf8_to_ustring(version));
    // The location goes when the install attempt ends, whatever lands in it below.
    guard = workingDirectoryCleanup(location, std::move(removeOrQueue));
    const basic_path downloadDirectory = versionDirectory(location.path(), version);

    announceStage(tripwire::InstallStage::DOWNLOADING);
    announceInstallerDownload(version, url);
    const basic_path archive = runRecordedStep(
        [&] {
            location.create();
            return downloader.fetchKCI(url, downloadDirectory);
        },
        record.downloadErrorMessage, record.downloadEndTimestamp,
        tripwire::InstallStage::DOWNLOADING);
    if (archive.empty()) {
        return {};
    }
    announceStage(tripwire::InstallStage::EXTRACTING_DOWNLOAD);
    return runRecordedStep([&] { return latestversion::kciextractor::extractKCI(archive); },
                           record.extractDownloadErrorMessage, record.extractDownloadEndTimestamp,
                           tripwire::InstallStage::EXTRACTING_DOWNLOAD);
}

} // namespace halvexconnector::tripwireimpl
