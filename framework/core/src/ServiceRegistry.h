#ifndef CPPMICROSERVICES_SRC_SERVICEREGISTRY_H
#define CPPMICROSERVICES_SRC_SERVICEREGISTRY_H

#include "ServiceRegistrationBasePrivate.h"

#include "cppmicroservices/ServiceInterface.h"
#include "cppmicroservices/ServiceProperties.h"
#include "cppmicroservices/ServiceRegistrationBase.h"

#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace cppmicroservices {

class BundlePrivate;
class CoreBundleContext;

/// All services of one framework.
class ServiceRegistry {
public:
    std::shared_ptr<ServiceRegistrationBasePrivate>
    Register(std::shared_ptr<CoreBundleContext> const& core,
             std::shared_ptr<BundlePrivate> const& bundle, InterfaceMapConstPtr const& service,
             ServiceProperties const& properties);

    /// Services registered under `clazz` (all when empty) matching `filter`, best ranked
    /// first.
    std::vector<std::shared_ptr<ServiceRegistrationBasePrivate>>
    Find(std::string const& clazz, std::string const& filter) const;
    std::vector<std::shared_ptr<ServiceRegistrationBasePrivate>>
    RegisteredBy(BundlePrivate const* bundle) const;

    /// Throws std::logic_error when the service is already unregistered.
    void Unregister(std::shared_ptr<ServiceRegistrationBasePrivate> const& reg);
    void UnregisterAll(BundlePrivate const* bundle);
    /// Gives back every bundle-scope object that `bundle` got from a factory.
    void ReleaseObjectsOf(BundlePrivate const* bundle);

    /// The service's interface map for `requester`, or null. Ungets happen when the
    /// last copy of the returned pointer is released.
    static InterfaceMapConstPtr
    GetServiceMap(std::shared_ptr<BundlePrivate> const& requester,
                  std::shared_ptr<ServiceRegistrationBasePrivate> const& reg);

    /// A reference to `reg` as its first interface id.
    static ServiceReferenceBase
    MakeReference(std::shared_ptr<ServiceRegistrationBasePrivate> const& reg) {
        return ServiceReferenceBase(reg);
    }

    static ServiceRegistrationBase
    MakeRegistration(std::shared_ptr<ServiceRegistrationBasePrivate> const& reg) {
        return ServiceRegistrationBase(reg);
    }

private:
    mutable std::mutex mutex;
    std::vector<std::shared_ptr<ServiceRegistrationBasePrivate>> registrations;
    long nextId = 1;
};

} // namespace cppmicroservices

#endif
