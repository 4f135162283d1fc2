#include "ComponentManager.hpp"

#include "ComponentContextImpl.hpp"

#include "cppmicroservices/servicecomponent/ComponentException.hpp"

#include <stdexcept>

namespace cppmicroservices::scrimpl {

using service::component::ComponentException;

struct ComponentManager::Instance {
    std::unique_ptr<ComponentInstance, DeleteInstanceFn> component;
    std::shared_ptr<ComponentContextImpl> context;
    InterfaceMapConstPtr services;
};

ComponentManager::ComponentManager(ComponentMetadata metadata, ComponentSource source,
                                   long componentId)
    : metadata(std::move(metadata)), source(std::move(source)), componentId(componentId) {}

ComponentManager::~ComponentManager() = default;

void ComponentManager::Enable() {
    auto services = std::make_shared<InterfaceMap>();
    services->emplace("org.cppmicroservices.factory",
                      std::static_pointer_cast<void>(
                          std::static_pointer_cast<ServiceFactory>(shared_from_this())));
    for (const auto& iface : metadata.service.interfaces) {
        services->emplace(iface, nullptr);
    }
    ServiceProperties props{{"component.name", Any(metadata.name)},
                            {"component.id", Any(componentId)},
                            {"service.scope", Any(metadata.service.scope)}};
    ServiceRegistrationU reg = source.bundle.GetBundleContext().RegisterService(services, props);
    {
        std::lock_guard guard(lock);
        if (!disabled) {
            registration = reg;
            return;
        }
    }
    // Disabled while registering (its bundle or the runtime stopped meanwhile).
    reg.Unregister();
}

void ComponentManager::Disable() {
    ServiceRegistrationU reg;
    {
        std::lock_guard guard(lock);
        if (disabled) {
            return;
        }
        disabled = true;
        std::swap(reg, registration);
    }
    // Unregister first, so no one is handed the instance while it is being deactivated.
    if (reg) {
        try {
            reg.Unregister();
        } catch (const std::logic_error&) {
            // Already gone with its bundle.
        }
    }
    std::unique_ptr<Instance> gone;
    {
        std::lock_guard guard(lock);
        gone = std::move(instance);
    }
    disposeInstance(std::move(gone));
}

ServiceReferenceU ComponentManager::Reference() {
    std::lock_guard guard(lock);
    return registration ? ServiceReferenceU(registration.GetReference()) : ServiceReferenceU();
}

InterfaceMapConstPtr ComponentManager::GetService(const Bundle&,
                                                  const ServiceRegistrationBase& reg) {
    std::lock_guard guard(lock);
    if (disabled) {
        throw ComponentException("component " + metadata.name + " is disabled");
    }
    if (!instance) {
        instance = createInstance(reg.GetReference());
    }
    return instance->services;
}

// All requesters share the one instance; it lives until the component is disabled.
void ComponentManager::UngetService(const Bundle&, const ServiceRegistrationBase&,
                                    const InterfaceMapConstPtr&) {}

std::unique_ptr<ComponentManager::Instance>
ComponentManager::createInstance(const ServiceReferenceBase& reference) {
    const std::string& cls = metadata.implementationClass;
    auto entry = ResolveEntryPoints(source.loadLibrary(), cls, source.libraryPath);
    auto created =
        std::make_unique<Instance>(Instance{{entry.create(), entry.dispose}, nullptr, nullptr});
    if (!created->component) {
        throw ComponentException(FactorySymbol(cls) + " returned no instance");
    }
    created->context = std::make_shared<ComponentContextImpl>(
        source.bundle.GetBundleContext(), reference,
        std::unordered_map<std::string, Any>{{"component.name", Any(metadata.name)},
                                             {"component.id", Any(componentId)}});
    try {
        created->component->CreateInstance(created->context);
        created->component->BindReferences(created->context);
        created->component->Activate();
    } catch (const std::exception& e) {
        std::throw_with_nested(
            ComponentException("activating component " + metadata.name + " failed: " + e.what()));
    } catch (...) {
        std::throw_with_nested(ComponentException("activating component " + metadata.name +
                                                  " failed: unknown exception"));
    }
    InterfaceMapPtr services = created->component->GetInterfaceMap();
    for (const auto& iface : metadata.service.interfaces) {
        if (!services || services->find(iface) == services->end() || !services->at(iface)) {
            disposeInstance(std::move(created));
            throw ComponentException(cls + " does not provide " + iface);
        }
    }
    created->services = services;
    return created;
}

void ComponentManager::disposeInstance(std::unique_ptr<Instance> gone) {
    if (!gone) {
        return;
    }
    // A failing Deactivate must not keep the instance alive: it is disposed of regardless.
    try {
        gone->component->Deactivate();
        gone->component->UnbindReferences();
    } catch (const std::exception& e) {
        source.reportError("deactivating component " + metadata.name + " failed: " + e.what());
    } catch (...) {
        source.reportError("deactivating component " + metadata.name + " failed");
    }
    gone.reset();
}

} // namespace cppmicroservices::scrimpl
