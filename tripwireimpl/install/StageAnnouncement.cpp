#include "install/StageAnnouncement.h"

#include "ServiceLookup.h"

namespace halvexconnector::tripwireimpl {

void announceStage(tripwire::InstallStage stage) noexcept {
    try {
        if (const std::shared_ptr<tripwire::IInstallObserver> observer =
                getService<tripwire::IInstallObserver>(cppmicroservices::LDAPFilter())) {
            observer->installStageEntered(stage);
        }
    } catch (...) {
        // Following an attempt is a courtesy to the host; the attempt goes on regardless.
    }
}

} // namespace halvexconnector::tripwireimpl
