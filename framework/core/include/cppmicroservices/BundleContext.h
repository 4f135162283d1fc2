#ifndef CPPMICROSERVICES_BUNDLECONTEXT_H
#define CPPMICROSERVICES_BUNDLECONTEXT_H

#include "cppmicroservices/AnyMap.h"
#include "cppmicroservices/GlobalConfig.h"
#include "cppmicroservices/IllegalStateException.h"
#include "cppmicroservices/ListenerFunctors.h"
#include "cppmicroservices/ListenerToken.h"
#include "cppmicroservices/ServiceInterface.h"
#include "cppmicroservices/ServiceObjects.h"
#include "cppmicroservices/ServiceRegistration.h"

#include <memory>
#include <string>
#include <vector>

namespace cppmicroservices {

class Bundle;
class BundleContext;
class BundleContextPrivate;
class ServiceFactory;

namespace detail {
US_Framework_EXPORT BundleContext MakeBundleContext(BundleContextPrivate* d);
}

/// A bundle's view of the framework. Every operation on a context whose bundle
/// has stopped throws std::runtime_error "The bundle context is no longer valid".
/// Operations are safe to call from several threads.
class US_Framework_EXPORT BundleContext {
public:
    BundleContext();

    bool operator==(BundleContext const& rhs) const;
    bool operator!=(BundleContext const& rhs) const;
    bool operator<(BundleContext const& rhs) const;
    /// True while the context is usable.
    explicit operator bool() const;
    BundleContext& operator=(std::nullptr_t);

    /// A framework configuration property (empty Any when unset).
    Any GetProperty(std::string const& key) const;
    Bundle GetBundle() const;
    Bundle GetBundle(long id) const;
    std::vector<Bundle> GetBundles(std::string const& location) const;
    std::vector<Bundle> GetBundles() const;

    /// Registers a service. The map must hold at least one interface id; a
    /// factory goes under "org.cppmicroservices.factory". Throws
    /// std::invalid_argument for an empty map or a null object.
    [[nodiscard]] ServiceRegistrationU
    RegisterService(InterfaceMapConstPtr const& service,
                    ServiceProperties const& properties = ServiceProperties());

    template <class I1, class... Interfaces, class Impl>
    ServiceRegistration<I1, Interfaces...>
    RegisterService(std::shared_ptr<Impl> const& impl,
                    ServiceProperties const& properties = ServiceProperties()) {
        InterfaceMapConstPtr servicePointers = MakeInterfaceMap<I1, Interfaces...>(impl);
        return RegisterService(servicePointers, properties);
    }

    template <class I1, class... Interfaces>
    ServiceRegistration<I1, Interfaces...>
    RegisterService(std::shared_ptr<ServiceFactory> const& factory,
                    ServiceProperties const& properties = ServiceProperties()) {
        InterfaceMapConstPtr servicePointers = MakeInterfaceMap<I1, Interfaces...>(factory);
        return RegisterService(servicePointers, properties);
    }

    /// References to the services registered under `clazz` (every service when
    /// empty) whose properties match the LDAP `filter`, in registration order.
    /// Throws std::invalid_argument for a malformed filter.
    std::vector<ServiceReferenceU> GetServiceReferences(std::string const& clazz,
                                                        std::string const& filter = std::string());

    template <class S>
    std::vector<ServiceReference<S>>
    GetServiceReferences(std::string const& filter = std::string()) {
        auto& clazz = us_service_interface_iid<S>();
        if (clazz.empty()) {
            throw ServiceException("The service interface class has no "
                                   "CPPMICROSERVICES_DECLARE_SERVICE_INTERFACE macro");
        }
        std::vector<ServiceReferenceU> serviceRefs = GetServiceReferences(clazz, filter);
        std::vector<ServiceReference<S>> result;
        result.reserve(serviceRefs.size());
        for (auto const& ref : serviceRefs) {
            result.push_back(ServiceReference<S>(ref));
        }
        return result;
    }

    /// The first registered service under `clazz`, or an invalid reference.
    ServiceReferenceU GetServiceReference(std::string const& clazz);

    template <class S> ServiceReference<S> GetServiceReference() {
        auto& clazz = us_service_interface_iid<S>();
        if (clazz.empty()) {
            throw ServiceException("The service interface class has no "
                                   "CPPMICROSERVICES_DECLARE_SERVICE_INTERFACE macro");
        }
        return ServiceReference<S>(GetServiceReference(clazz));
    }

    /// The service object as the reference's interface; releasing the last copy of
    /// the returned pointer ungets it. Empty when the service is gone or its factory
    /// failed (a FRAMEWORK_ERROR event says why).
    std::shared_ptr<void> GetService(ServiceReferenceBase const& reference);
    InterfaceMapConstPtr GetService(ServiceReferenceU const& reference);

    template <class S> std::shared_ptr<S> GetService(ServiceReference<S> const& reference) {
        ServiceReferenceBase const& baseRef = reference;
        return std::static_pointer_cast<S>(GetService(baseRef));
    }

    template <class S> ServiceObjects<S> GetServiceObjects(ServiceReference<S> const& reference) {
        if (!d || !*this) {
            throw IllegalStateException("The bundle context is no longer valid");
        }
        return ServiceObjects<S>(d, reference);
    }

    /// Bundle listeners see every bundle's events, framework listeners every
    /// framework event, both on the thread that caused them.
    ListenerToken AddBundleListener(BundleListener const& listener);
    ListenerToken AddFrameworkListener(FrameworkListener const& listener);
    void RemoveListener(ListenerToken token);

    /// Installs the bundle in the shared library at `location` (reads the manifest
    /// appended to it; loads no code). Installing a location again returns the bundle
    /// installed before. Throws std::invalid_argument or std::runtime_error naming the
    /// file when it has no readable manifest. `bundleManifest` is ignored.
    std::vector<Bundle> InstallBundles(
        std::string const& location,
        AnyMap const& bundleManifest = AnyMap(any_map::UNORDERED_MAP_CASEINSENSITIVE_KEYS));

private:
    friend US_Framework_EXPORT BundleContext detail::MakeBundleContext(BundleContextPrivate*);
    friend BundleContext MakeBundleContext(std::shared_ptr<BundleContextPrivate> const&);
    friend std::shared_ptr<BundleContextPrivate> GetPrivate(BundleContext const&);

    BundleContext(std::shared_ptr<BundleContextPrivate> ctx);

    std::shared_ptr<BundleContextPrivate> d;
};

} // namespace cppmicroservices

#endif
