// A host of the tripwire module: starts a framework, installs the Declarative Services runtime
// and the module from the installed tripwire root, makes sure the service host is installed and
// running, and stops the framework cleanly. Prints the result of each operation.
//
//   example-host [a.b.c.d]   the oldest version of the service host to accept

#include <cppmicroservices/Bundle.h>
#include <cppmicroservices/BundleContext.h>
#include <cppmicroservices/Framework.h>
#include <cppmicroservices/FrameworkEvent.h>
#include <cppmicroservices/FrameworkFactory.h>
#include <fl/filesystem/operations.h>
#include <fl/filesystem/path_conversion.h>
#include <foundation/cppmicroservices/FrameworkAccess.h>
#include <halvexconnector/tripwire/ITripwire.h>
#include <tripwire/InstallLayout.h>

#include <boost/none.hpp>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <iostream>
#include <memory>
#include <stdexcept>
#include <string>

using namespace halvexconnector::tripwire;

namespace {

// The enumerator's name, or "unknown" for a value outside the enumeration.
template <class Enumeration> std::string text(Enumeration value) {
    const std::string_view name = enumeratorName(value);
    return name.empty() ? "unknown" : std::string(name);
}

void parseVersion(const std::string& textVersion, std::uint32_t (&version)[4]) {
    char end = 0;
    if (std::sscanf(textVersion.c_str(), "%u.%u.%u.%u%c", &version[0], &version[1], &version[2],
                    &version[3], &end) != 4) {
        throw std::invalid_argument("not a version a.b.c.d: " + textVersion);
    }
}

// The framework of this host, the process's running framework while it lives. Stopping it
// deactivates the module's component, so nothing of the module outlives main().
class RunningFramework {
public:
    RunningFramework()
        : framework(std::make_shared<cppmicroservices::Framework>(
              cppmicroservices::FrameworkFactory().NewFramework())) {
        framework->Start();
        // The module finds other bundles' services (the HTTP client) through it.
        foundation::cppmicroservices::setFramework(framework);
    }
    ~RunningFramework() {
        foundation::cppmicroservices::clearFramework();
        try {
            framework->Stop();
            framework->WaitForStop(std::chrono::milliseconds::zero());
        } catch (const std::exception& error) {
            std::cerr << "example-host: the framework did not stop cleanly: " << error.what()
                      << '\n';
        }
    }
    RunningFramework(const RunningFramework&) = delete;
    RunningFramework& operator=(const RunningFramework&) = delete;

    cppmicroservices::BundleContext context() { return framework->GetBundleContext(); }

private:
    std::shared_ptr<cppmicroservices::Framework> framework;
};

int run(const std::string& requiredText) {
    std::uint32_t required[4] = {};
    parseVersion(requiredText, required);
    std::cout << "tripwire root: "
              << fl::filesystem::to_native(fl::filesystem::get_install_path()).string() << '\n';

    RunningFramework running;
    // Relative paths are taken from the tripwire root (fl::filesystem::get_install_path(): the
    // folder whose lib/ holds the platform libraries this program loaded); each call starts what
    // it installed.
    for (const char* bundle :
         {tripwire::layout::declarativeServices, tripwire::layout::moduleBundle}) {
        const fl::filesystem::basic_path path = fl::filesystem::path_from_utf8(bundle);
        if (foundation::cppmicroservices::installAndStart(path).empty()) {
            throw std::runtime_error(std::string("no bundle at <tripwire root>/") + bundle);
        }
    }

    auto context = running.context();
    auto reference = context.GetServiceReference<ITripwire>();
    if (!reference) {
        throw std::runtime_error("no ITripwire service is registered");
    }
    // Hold the service for one sequence of calls, and release it before the framework stops.
    std::shared_ptr<ITripwire> tripwire = context.GetService(reference);
    if (!tripwire) {
        throw std::runtime_error("the ITripwire service could not be created");
    }

    const bool wasRunning = tripwire->areHALVEXServicesRunning(STANDARD);
    std::cout << "areHALVEXServicesRunning: " << (wasRunning ? "true" : "false") << '\n';
    if (wasRunning) {
        return 0;
    }
    const HALVEXServicesInstallStatus status =
        tripwire->checkHALVEXServicesInstallation(STANDARD, required);
    std::cout << "checkHALVEXServicesInstallation(" << requiredText << "): " << text(status)
              << '\n';
    InstallConnectorResult result;
    if (status == INSTALLED) {
        result = tripwire->startHALVEXServices(STANDARD);
        std::cout << "startHALVEXServices: " << text(result) << '\n';
    } else {
        // Blocks for the install and the start (up to about a minute): a real host calls it from
        // a worker thread, never from its user-interface thread.
        result = tripwire->installAndStartHALVEXServices(STANDARD, "examplehost", boost::none,
                                                         boost::none);
        std::cout << "installAndStartHALVEXServices: " << text(result) << '\n';
    }
    tripwire.reset();
    return result == INSTALLED_AND_STARTED ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    if (argc > 2) {
        std::cerr << "usage: example-host [a.b.c.d]\n";
        return 2;
    }
    try {
        return run(argc == 2 ? argv[1] : EXAMPLE_REQUIRED_VERSION);
    } catch (const std::exception& error) {
        std::cerr << "example-host: " << error.what() << '\n';
        return 2;
    }
}
