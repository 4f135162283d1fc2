#include "Session.h"

#include "FolderOverrideService.h"

#include <cppmicroservices/BundleContext.h>

#include <foundation/core/process/terminate_children.h>

#include <iostream>

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
        host->framework()
            .GetBundleContext()
            .RegisterService<halvexconnector::tripwire::IInstallObserver>(stages);
        if (overrides.any()) {
            host->registerFolderOverride(
                std::make_shared<FolderOverrideService>(overrides.first, overrides.second));
        }
        if (signals != nullptr) {
            signals->onStop([framework = host.get()] {
                framework->stop();
                // An installer the module is waiting for is ours to end: the attempt then fails
                // at once, removes its working directory and starts nothing new.
                foundation::core::process::terminate_children();
            });
        }
    }
    return *host;
}

void Session::tell(const std::string& line) const {
    if (!json) {
        std::cout << line << '\n' << std::flush;
    }
}

void Session::explainFailure(Outcome& outcome, const std::string& fallback) const {
    outcome.error = Failure{"failure", stages->lastFailure().value_or(fallback)};
}

} // namespace tripwire_host
