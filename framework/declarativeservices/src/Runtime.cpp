#include "Runtime.hpp"

#include "BundleInternals.h"
#include "cppmicroservices/Bundle.h"

#include <algorithm>
#include <iostream>

namespace cppmicroservices::scrimpl {

Runtime::Runtime(BundleContext context) : context(std::move(context)) {}

void Runtime::Start() {
    // Listen before looking, so a bundle that starts in between is not missed; addBundle takes
    // a bundle only once.
    listener = context.AddBundleListener([this](const BundleEvent& e) { onBundleEvent(e); });
    for (const auto& bundle : context.GetBundles()) {
        if (bundle.GetState() == Bundle::STATE_ACTIVE) {
            addBundle(bundle);
        }
    }
}

void Runtime::Stop() {
    context.RemoveListener(std::move(listener));
    std::vector<Managers> all;
    {
        std::lock_guard guard(lock);
        stopped = true;
        for (auto id = startOrder.rbegin(); id != startOrder.rend(); ++id) {
            all.push_back(std::move(bundles[*id]));
        }
        bundles.clear();
        startOrder.clear();
    }
    for (auto& managers : all) {
        for (auto& manager : managers) {
            manager->Disable();
        }
    }
}

void Runtime::onBundleEvent(const BundleEvent& event) {
    switch (event.GetType()) {
    case BundleEvent::BUNDLE_STARTED:
        addBundle(event.GetBundle());
        break;
    case BundleEvent::BUNDLE_STOPPING:
        removeBundle(event.GetBundle());
        break;
    default:
        break;
    }
}

void Runtime::addBundle(const Bundle& bundle) {
    {
        std::lock_guard guard(lock);
        if (stopped || bundles.contains(bundle.GetBundleId())) {
            return;
        }
        // Claim the bundle before reading its manifest, outside the lock.
        bundles[bundle.GetBundleId()];
        startOrder.push_back(bundle.GetBundleId());
    }
    Managers managers;
    try {
        managers = createManagers(bundle);
    } catch (const std::exception& e) {
        reportError(bundle, std::string("cannot read the components: ") + e.what());
    }
    {
        std::lock_guard guard(lock);
        auto it = bundles.find(bundle.GetBundleId());
        if (it == bundles.end()) {
            return; // stopped meanwhile
        }
        it->second = managers;
    }
    for (auto& manager : managers) {
        try {
            manager->Enable();
        } catch (const std::exception& e) {
            reportError(bundle,
                        "cannot register component " + manager->Metadata().name + ": " + e.what());
            continue;
        }
        if (manager->Metadata().immediate) {
            activateImmediately(*manager, bundle);
        }
    }
}

void Runtime::removeBundle(const Bundle& bundle) {
    Managers managers;
    {
        std::lock_guard guard(lock);
        auto it = bundles.find(bundle.GetBundleId());
        if (it == bundles.end()) {
            return;
        }
        managers = std::move(it->second);
        bundles.erase(it);
        std::erase(startOrder, bundle.GetBundleId());
    }
    for (auto manager = managers.rbegin(); manager != managers.rend(); ++manager) {
        (*manager)->Disable();
    }
}

Runtime::Managers Runtime::createManagers(const Bundle& bundle) {
    const auto& manifest = detail::GetBundleManifest(bundle);
    auto scr = manifest.find("scr");
    if (scr == manifest.end()) {
        return {};
    }
    ScrMetadata metadata = ParseScrMetadata(*scr);
    for (const auto& error : metadata.errors) {
        reportError(bundle, "invalid \"scr\" in the manifest of " + bundle.GetSymbolicName() +
                                ": " + error);
    }
    ComponentSource source;
    source.bundle = bundle;
    source.libraryPath = detail::GetBundleLibraryPath(bundle);
    source.loadLibrary = [bundle] {
        return detail::LoadBundleLibrary(bundle);
    };
    // The runtime outlives its managers: Stop disables them all before it is destroyed.
    source.reportError = [this, bundle](const std::string& message) {
        reportError(bundle, message);
    };
    Managers managers;
    for (auto& component : metadata.components) {
        if (!component.enabled) {
            continue;
        }
        long id;
        {
            std::lock_guard guard(lock);
            id = nextComponentId++;
        }
        managers.push_back(std::make_shared<ComponentManager>(std::move(component), source, id));
    }
    return managers;
}

// Through the framework, so that a failure is reported exactly like one on first request. The
// usage ends at once; the instance stays until the component is disabled.
void Runtime::activateImmediately(ComponentManager& manager, const Bundle& bundle) {
    try {
        if (auto ref = manager.Reference()) {
            context.GetService(ref);
        }
    } catch (const std::exception& e) {
        reportError(bundle,
                    "cannot activate component " + manager.Metadata().name + ": " + e.what());
    }
}

// The framework's event stream takes only what the framework itself posts; what the runtime
// finds wrong outside a service request goes to the standard error stream.
void Runtime::reportError(const Bundle& bundle, const std::string& message) {
    std::cerr << "declarative_services: " << bundle.GetSymbolicName() << ": " << message
              << std::endl;
}

} // namespace cppmicroservices::scrimpl
