#pragma once

#include "CleanupGuard.h"
#include "download/WorkingDirectory.h"
#include "install/InstallerArguments.h"
#include "install/LocalSources.h"
#include "telemetry/InstallTelemetryRecord.h"

#include "halvexconnector/tripwire/Enumerations.h"
#include "halvexconnector/tripwire/IInstallObserver.h"

#include <fl/filesystem/basic_path.h>

#include <boost/optional.hpp>

#include <functional>
#include <optional>
#include <string>

namespace halvexconnector::tripwireimpl {

// One install-and-start attempt after the managed-root check: local archive or download, the
// silent installer run with its one rerun for local archives, the service start, and the event.
// Everything it makes lives for the attempt only; the working directory it holds is cleaned up
// when the attempt is destroyed, after its report, exceptions included.
class InstallAttempt {
public:
    using StartServiceHost = std::function<bool()>;

    InstallAttempt(tripwire::HALVEXServicesMode mode, RemoveOrQueueForShutdown removeOrQueue,
                   StartServiceHost startServiceHost);

    tripwire::InstallConnectorResult
    run(const std::string& triggeredBy,
        const boost::optional<fl::filesystem::basic_path>& installationRoot);

private:
    void prepareLocalArchive(const LocalSource& source);
    void fallBackToDownload();
    tripwire::InstallConnectorResult runInstallerAndFinish();
    // One run of the installer (RUNNING_INSTALLER or RERUNNING_INSTALLER) guarded together with
    // its decision: exit 0 finishes, 55 reports FAILED_TO_START and, for the rerun, any other
    // code reports INSTALL_FAILED. Nothing when the caller decides: another code on the first
    // run, or a block that failed (its end time recorded and the failure logged).
    std::optional<tripwire::InstallConnectorResult> runInstallerOnce(tripwire::InstallStage stage);
    tripwire::InstallConnectorResult finish();
    tripwire::InstallConnectorResult report(tripwire::InstallConnectorResult result);

    const tripwire::HALVEXServicesMode mode;
    RemoveOrQueueForShutdown removeOrQueue;
    StartServiceHost startServiceHost;
    InstallTelemetryRecord record;
    fl::filesystem::basic_path installerPath;
    bool localSourceUsed = false;
    InstallerArguments arguments;
    // Declared last so that it is destroyed first, while everything it may refer to still lives.
    CleanupGuard guard;
};

} // namespace halvexconnector::tripwireimpl
