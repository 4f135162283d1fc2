#ifndef DECLARATIVESERVICES_COMPONENTMANAGER_HPP
#define DECLARATIVESERVICES_COMPONENTMANAGER_HPP

#include "ComponentMetadata.hpp"
#include "EntryPoints.hpp"

#include "cppmicroservices/Bundle.h"
#include "cppmicroservices/ServiceFactory.h"
#include "cppmicroservices/ServiceRegistration.h"

#include <memory>
#include <mutex>

namespace cppmicroservices::scrimpl {

/// Where a component's code comes from: the bundle's library, loaded on first use.
struct ComponentSource {
    Bundle bundle;
    std::string libraryPath;
    std::function<void*()> loadLibrary; ///< throws when the library cannot be loaded
    std::function<void(const std::string&)> reportError; ///< for faults outside a request
};

/// One delayed singleton component: its service is registered at once with this object as
/// the factory; the first request loads the bundle's code and creates, activates and keeps the
/// one instance that every later request shares, until Disable.
///
/// A failed creation throws out of GetService, which the framework turns into one error event
/// and an empty service for that request; the next request tries again. The framework calls a
/// service's factory once at a time and catches a request for it from inside its own Activate;
/// the lock here only keeps creation and Disable apart.
class ComponentManager final : public ServiceFactory,
                               public std::enable_shared_from_this<ComponentManager> {
public:
    ComponentManager(ComponentMetadata metadata, ComponentSource source, long componentId);
    ~ComponentManager() override;

    /// Registers the service under the component's interface ids.
    void Enable();
    /// Unregisters the service, then deactivates and disposes of the instance, if any.
    void Disable();

    const ComponentMetadata& Metadata() const { return metadata; }
    /// The registered service; invalid before Enable and after Disable.
    ServiceReferenceU Reference();

    InterfaceMapConstPtr GetService(const Bundle& bundle,
                                    const ServiceRegistrationBase& registration) override;
    void UngetService(const Bundle& bundle, const ServiceRegistrationBase& registration,
                      const InterfaceMapConstPtr& service) override;

private:
    struct Instance;

    std::unique_ptr<Instance> createInstance(const ServiceReferenceBase& reference);
    void disposeInstance(std::unique_ptr<Instance> instance);

    ComponentMetadata metadata;
    ComponentSource source;
    long componentId;

    std::mutex lock;
    ServiceRegistrationU registration;
    std::unique_ptr<Instance> instance;
    bool disabled = false;
};

} // namespace cppmicroservices::scrimpl

#endif
