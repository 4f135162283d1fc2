#include "Session.h"

#include "FolderOverrideService.h"

namespace tripwire_host {

Session::~Session() {
    // The signal thread must be done with the framework before it goes away.
    if (signals != nullptr) {
        signals->onStop({});
    }
}

HostFramework& Session::framework() {
    if (!host) {
        host = std::make_unique<HostFramework>(tree);
        if (overrides.any()) {
            host->registerFolderOverride(
                std::make_shared<FolderOverrideService>(overrides.first, overrides.second));
        }
        if (signals != nullptr) {
            signals->onStop([framework = host.get()] { framework->stop(); });
        }
    }
    return *host;
}

} // namespace tripwire_host
