#include "FrameworkInProcess.h"

#include <foundation/cppmicroservices/FrameworkAccess.h>

#include <cppmicroservices/Bundle.h>
#include <cppmicroservices/FrameworkEvent.h>
#include <cppmicroservices/FrameworkFactory.h>

#include <algorithm>
#include <chrono>

namespace tripwire_test {

FrameworkInProcess::FrameworkInProcess()
    : framework(std::make_shared<cppmicroservices::Framework>(
          cppmicroservices::FrameworkFactory().NewFramework())) {
    framework->Start();
    foundation::cppmicroservices::setFramework(framework);
}

FrameworkInProcess::~FrameworkInProcess() {
    foundation::cppmicroservices::clearFramework();
    framework->Stop();
    framework->WaitForStop(std::chrono::seconds(10));
}

cppmicroservices::BundleContext FrameworkInProcess::context() const {
    return framework->GetBundleContext();
}

std::vector<std::string> FrameworkInProcess::installedBundles() const {
    std::vector<cppmicroservices::Bundle> bundles = context().GetBundles();
    // Ids grow with every installation, so they give the order in which bundles came in.
    std::sort(bundles.begin(), bundles.end(),
              [](const auto& a, const auto& b) { return a.GetBundleId() < b.GetBundleId(); });
    std::vector<std::string> names;
    for (const cppmicroservices::Bundle& bundle : bundles) {
        if (bundle.GetBundleId() != framework->GetBundleId()) {
            names.push_back(bundle.GetSymbolicName());
        }
    }
    return names;
}

} // namespace tripwire_test
