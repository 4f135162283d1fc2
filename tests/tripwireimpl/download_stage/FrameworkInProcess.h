#pragma once

#include <cppmicroservices/BundleContext.h>
#include <cppmicroservices/Framework.h>

#include <memory>
#include <string>
#include <vector>

namespace tripwire_test {

// A started framework made the process's running one for the scope, as a host does; stopped
// and withdrawn again at scope exit.
class FrameworkInProcess {
public:
    FrameworkInProcess();
    ~FrameworkInProcess();
    FrameworkInProcess(const FrameworkInProcess&) = delete;
    FrameworkInProcess& operator=(const FrameworkInProcess&) = delete;

    cppmicroservices::BundleContext context() const;
    // Symbolic names of the installed bundles apart from the framework's own, in install order.
    std::vector<std::string> installedBundles() const;

private:
    std::shared_ptr<cppmicroservices::Framework> framework;
};

} // namespace tripwire_test
