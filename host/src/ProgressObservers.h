#pragma once

#include "ProgressDisplay.h"

#include "halvexconnector/tripwire/IInstallObserver.h"

#include <foundation/httpclient_core/TransferObserver.h>

#include <cppmicroservices/BundleContext.h>
#include <cppmicroservices/ServiceRegistration.h>

#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace tripwire_host {

struct InstallerDownload {
    std::string version;
    std::string url;
};

// The host's install observer for the whole session: keeps the last failure the module told, for
// the line that says why, and passes the stages on to a display while one is attached.
class StageWatcher final : public halvexconnector::tripwire::IInstallObserver {
public:
    void installStageEntered(halvexconnector::tripwire::InstallStage stage) override;
    void installStageFailed(halvexconnector::tripwire::InstallStage stage,
                            const std::string& reason) override;
    void installerDownloadStarted(const std::string& version, const std::string& url) override;

    // Null detaches.
    void attach(std::shared_ptr<ProgressDisplay> display);
    std::optional<std::string> lastFailure() const;
    void forgetFailure();
    // The installer the module last said it downloads.
    std::optional<InstallerDownload> lastDownload() const;

private:
    mutable std::mutex guard;
    std::shared_ptr<ProgressDisplay> display;
    std::optional<std::string> failure;
    std::optional<InstallerDownload> download;
};

// Shows an install attempt on a ProgressDisplay for as long as this object lives: attaches the
// display to the session's stage watcher and offers the HTTP client a transfer observer. Destroy
// it before the framework stops (the framework may also have withdrawn the service already,
// after a stop signal). A bundle that still holds the observer afterwards keeps the display
// alive with it.
class ProgressObservers {
public:
    ProgressObservers(cppmicroservices::BundleContext context,
                      std::shared_ptr<ProgressDisplay> display,
                      std::shared_ptr<StageWatcher> stages);
    ~ProgressObservers();
    ProgressObservers(const ProgressObservers&) = delete;
    ProgressObservers& operator=(const ProgressObservers&) = delete;

private:
    std::shared_ptr<ProgressDisplay> display;
    std::shared_ptr<StageWatcher> stages;
    cppmicroservices::ServiceRegistration<foundation::httpclient_core::TransferObserver> transfers;
};

} // namespace tripwire_host
