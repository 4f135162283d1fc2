#pragma once

#include "InstallTree.h"

#include "halvexconnector/tripwire/ITripwire.h"

#include <cppmicroservices/Bundle.h>
#include <cppmicroservices/Framework.h>

#include <agent/spf/externalprocessdiscovery/UserStorageRootOverride.h>

#include <memory>
#include <mutex>
#include <vector>

namespace tripwire_host {

// A started framework with the Declarative Services runtime and the module installed and
// started. Destruction stops the framework and waits for it, so the service object is
// deactivated and released (running its pending clean-up) before the program ends.
class HostFramework {
public:
    explicit HostFramework(const InstallTree& tree);
    ~HostFramework();
    HostFramework(const HostFramework&) = delete;
    HostFramework& operator=(const HostFramework&) = delete;

    cppmicroservices::Framework& framework() { return *running; }
    // The bundles this host installed, in installation order.
    const std::vector<cppmicroservices::Bundle>& installedBundles() const { return bundles; }

    bool tripwireRegistered();
    // The service, obtained through the framework by its interface id; throws when it is not
    // available. Release it before this object goes away.
    std::shared_ptr<halvexconnector::tripwire::ITripwire> tripwire();

    // Offers `service` to the bundles as the folder-override service.
    void registerFolderOverride(
        std::shared_ptr<agent::spf::externalprocessdiscovery::UserStorageRootOverride> service);

    // Stops the framework (deactivating the module's component) unless that has happened;
    // safe from any thread, and again.
    void stop() noexcept;

private:
    void installAndStart(const std::filesystem::path& location);

    std::shared_ptr<cppmicroservices::Framework> running;
    std::vector<cppmicroservices::Bundle> bundles;
    std::mutex stopGuard;
    bool stopped = false;
};

} // namespace tripwire_host
