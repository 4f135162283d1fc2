// framework-example: starts a framework from the staged tree, lets the component runtime
// create the example bundle's service on first request, uses it, and stops everything.
#include "../greeter/IGreeting.hpp"

#include "cppmicroservices/Bundle.h"
#include "cppmicroservices/BundleContext.h"
#include "cppmicroservices/Framework.h"
#include "cppmicroservices/FrameworkEvent.h"
#include "cppmicroservices/FrameworkFactory.h"

#include <dlfcn.h>

#include <chrono>
#include <filesystem>
#include <iostream>

namespace fs = std::filesystem;
using namespace cppmicroservices;

namespace {

bool isLoaded(const fs::path& library) {
    void* handle = dlopen(library.c_str(), RTLD_LAZY | RTLD_NOLOAD);
    if (handle) {
        dlclose(handle);
    }
    return handle != nullptr;
}

Bundle installAndStart(BundleContext& context, const fs::path& library) {
    Bundle bundle = context.InstallBundles(library.string()).at(0);
    bundle.Start();
    std::cout << "Started bundle " << bundle.GetSymbolicName() << " from " << library << '\n';
    return bundle;
}

int run() {
    // Laid out as staged: <root>/bin/framework-example, <root>/lib, <root>/bin/examples.
    const fs::path bin = fs::canonical("/proc/self/exe").parent_path();
    const fs::path runtimeLibrary = bin.parent_path() / "lib" / "libDeclarativeServices.so";
    const fs::path exampleLibrary = bin / "examples" / "libexample_greeter.so";

    Framework framework = FrameworkFactory().NewFramework();
    framework.Start();
    BundleContext context = framework.GetBundleContext();
    context.AddFrameworkListener([](const FrameworkEvent& event) {
        if (event.GetType() == FrameworkEvent::FRAMEWORK_ERROR) {
            std::cout << "Framework error: " << event.GetMessage() << '\n';
        }
    });
    std::cout << "Framework started\n";

    installAndStart(context, runtimeLibrary);
    installAndStart(context, exampleLibrary);
    std::cout << "Example bundle code loaded before the first request: "
              << (isLoaded(exampleLibrary) ? "yes" : "no") << '\n';

    int status = 1;
    if (auto ref = context.GetServiceReference<example::IGreeting>()) {
        std::cout << "Requesting " << ref.GetInterfaceId() << '\n';
        if (auto greeting = context.GetService(ref)) {
            std::cout << "Service says: " << greeting->Greet("framework") << '\n';
            status = 0;
        } else {
            std::cout << "The service could not be created\n";
        }
    } else {
        std::cout << "No example::IGreeting service is registered\n";
    }

    std::cout << "Stopping the framework\n";
    framework.Stop();
    framework.WaitForStop(std::chrono::seconds(30));
    std::cout << "Framework stopped\n";
    return status;
}

} // namespace

int main() {
    try {
        return run();
    } catch (const std::exception& e) {
        std::cerr << "framework-example: " << e.what() << '\n';
        return 1;
    }
}
