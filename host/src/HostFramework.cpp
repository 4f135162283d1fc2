#include "HostFramework.h"

#include <cppmicroservices/BundleContext.h>
#include <cppmicroservices/FrameworkEvent.h>
#include <cppmicroservices/FrameworkFactory.h>

#if TRIPWIRE_HOST_REGISTERS_FRAMEWORK
#include <foundation/cppmicroservices/FrameworkAccess.h>
#endif

#include <chrono>
#include <stdexcept>

namespace tripwire_host {

HostFramework::HostFramework(const InstallTree& tree)
    : running(std::make_shared<cppmicroservices::Framework>(
          cppmicroservices::FrameworkFactory().NewFramework())) {
    running->Start();
#if TRIPWIRE_HOST_REGISTERS_FRAMEWORK
    // Bundles find services of other bundles through the process's running framework.
    foundation::cppmicroservices::setFramework(running);
#endif
    try {
        installAndStart(tree.declarativeServicesBundle());
        installAndStart(tree.tripwireBundle());
    } catch (...) {
        stop();
        throw;
    }
}

HostFramework::~HostFramework() {
    stop();
}

void HostFramework::installAndStart(const std::filesystem::path& location) {
    for (auto& bundle : running->GetBundleContext().InstallBundles(location.string())) {
        bundle.Start();
        bundles.push_back(bundle);
    }
}

void HostFramework::stop() noexcept {
    std::lock_guard<std::mutex> lock(stopGuard);
    if (stopped) {
        return;
    }
    stopped = true;
    try {
#if TRIPWIRE_HOST_REGISTERS_FRAMEWORK
        foundation::cppmicroservices::clearFramework();
#endif
        running->Stop();
        running->WaitForStop(std::chrono::milliseconds::zero());
    } catch (...) {
        // The program is ending; a framework that fails to stop has nothing left to clean up.
    }
}

void HostFramework::registerFolderOverride(
    std::shared_ptr<agent::spf::externalprocessdiscovery::UserStorageRootOverride> service) {
    running->GetBundleContext()
        .RegisterService<agent::spf::externalprocessdiscovery::UserStorageRootOverride>(
            std::move(service));
}

bool HostFramework::tripwireRegistered() {
    return static_cast<bool>(
        running->GetBundleContext().GetServiceReference<halvexconnector::tripwire::ITripwire>());
}

std::shared_ptr<halvexconnector::tripwire::ITripwire> HostFramework::tripwire() {
    auto context = running->GetBundleContext();
    auto reference = context.GetServiceReference<halvexconnector::tripwire::ITripwire>();
    if (!reference) {
        throw std::runtime_error("no service halvexconnector::tripwire::ITripwire is registered");
    }
    auto service = context.GetService(reference);
    if (!service) {
        throw std::runtime_error(
            "the service halvexconnector::tripwire::ITripwire could not be created");
    }
    return service;
}

} // namespace tripwire_host
