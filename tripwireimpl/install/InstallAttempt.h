#pragma once

#include "CleanupGuard.h"
#include "install/InstallerArguments.h"
#include "install/LocalSources.h"
#include "telemetry/InstallTelemetryRecord.h"

#include "halvexconnector/tripwire/Enumerations.h"

#include <fl/filesystem/basic_path.h>

#include <boost/optional.hpp>

#include <functional>
#include <string>

namespace halvexconnector::tripwireimpl {

// One install-and-start attempt after the managed-root check: local archive or download, the
// silent installer run with its one rerun for local archives, the service start, and the event.
// Everything it makes lives for the attempt only; the working directory it holds is cleaned up
// when the attempt is destroyed, after its report, exceptions included.
class InstallAttempt {
public:
    using RemoveOrQueue = std::function<void(const fl::filesystem::basic_path&)>;
    using StartServiceHost = std::function<bool()>;

    InstallAttempt(tripwire::HALVEXServicesMode mode, RemoveOrQueue removeOrQueue,
                   StartServiceHost startServiceHost);

    tripwire::InstallConnectorResult
    run(const std::string& triggeredBy,
        const boost::optional<fl::filesystem::basic_path>& installationRoot);

private:
    void prepareLocalArchive(const LocalSource& source);
    void fallBackToDownload();
    tripwire::InstallConnectorResult runInstallerAndFinish();
    tripwire::InstallConnectorResult rerunOrFail();
    tripwire::InstallConnectorResult finish();
    tripwire::InstallConnectorResult report(tripwire::InstallConnectorResult result);

    RemoveOrQueue removeOrQueue;
    StartServiceHost startServiceHost;
    InstallTelemetryRecord record;
    fl::filesystem::basic_path installerPath;
    bool localSourceUsed = false;
    InstallerArguments arguments;
    // Declared last so that it is destroyed first, while everything it may refer to still lives.
    CleanupGuard guard;
};

} // namespace halvexconnector::tripwireimpl
