#pragma once

#include "CleanupGuard.h"
#include "download/WorkingDirectory.h"
#include "telemetry/InstallTelemetryRecord.h"

#include "halvexconnector/tripwire/IInstallObserver.h"

#include <fl/filesystem/basic_path.h>

#include <functional>
#include <optional>
#include <string>

namespace halvexconnector::tripwireimpl {

// Fetches the latest installer from the web: asks the latest-version checker for the version
// and URL, downloads the archive into "v<version>" below a fresh download location and extracts
// it. Returns the installer's path, or an empty path when the lookup offered no URL, the
// download gave no archive or the archive gave no installer.
//
// Fills the record's "qshVersion" and its download and extraction fields. Before anything is
// written, the download location is set as `guard`'s action (the guard is empty at this point
// of an install attempt), an action that hands the whole location to `removeOrQueue`. A failure
// of the download or of the extraction, and a document refused for its signature, is recorded
// (as the download's error) and logged; every other failure (URL
// manager, HTTP clients, checker, downloader, download location, a version that cannot name a
// directory) reaches the caller.
fl::filesystem::basic_path downloadLatestInstaller(InstallTelemetryRecord& record,
                                                   CleanupGuard& guard,
                                                   RemoveOrQueueForShutdown removeOrQueue);

// One recorded step (of `stage`, when given): the step's result, or an empty path when it threw,
// in which case the failure's diagnostic text goes into `errorField` and is logged, and the
// observer is told why the stage failed. `endField` receives
// the current time afterwards in every case. Catches every exception.
fl::filesystem::basic_path
runRecordedStep(const std::function<fl::filesystem::basic_path()>& step, std::string& errorField,
                std::string& endField, std::optional<tripwire::InstallStage> stage = std::nullopt);

} // namespace halvexconnector::tripwireimpl
