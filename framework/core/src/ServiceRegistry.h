#ifndef CPPMICROSERVICES_SRC_SERVICEREGISTRY_H
#define CPPMICROSERVICES_SRC_SERVICEREGISTRY_H

#include "cppmicroservices/ServiceFactory.h"
#include "cppmicroservices/ServiceInterface.h"
#include "cppmicroservices/ServiceProperties.h"
#include "cppmicroservices/ServiceRegistrationBase.h"

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace cppmicroservices {

class BundlePrivate;
class CoreBundleContext;

/// One registered service.
class ServiceRegistrationBasePrivate {
public:
    /// The objects a factory made for one bundle (or for all, in singleton scope)
    /// and how many handed-out pointers still use them.
    struct FactoryObject {
        InterfaceMapConstPtr service;
        std::size_t users = 0;
        std::weak_ptr<BundlePrivate> bundle;
    };

    long id = 0;
    std::weak_ptr<BundlePrivate> bundle;
    std::weak_ptr<CoreBundleContext> core;
    InterfaceMapConstPtr service;
    std::shared_ptr<ServiceFactory> factory;
    bool bundleScope = false;
    std::vector<std::string> objectClasses;

    mutable std::mutex mutex;
    ServiceProperties properties;
    bool available = true;
    // Key: the using bundle's id, or -1 for the one object of singleton scope.
    std::map<long, std::shared_ptr<FactoryObject>> factoryObjects;

    std::mutex factoryMutex;
    std::atomic<std::thread::id> factoryCaller{};

    ServiceProperties Properties() const;
    bool IsAvailable() const;
    /// Its place in the framework's order of services, read under the lock.
    struct Rank {
        int ranking = 0;
        long id = 0;
        /// True when `other` comes first: a higher ranking, then a lower id.
        bool operator<(Rank const& other) const {
            return ranking != other.ranking ? ranking < other.ranking : id > other.id;
        }
    };
    Rank GetRank() const;
};

/// A reference: a registration seen as one interface.
class ServiceReferenceBasePrivate {
public:
    std::shared_ptr<ServiceRegistrationBasePrivate> registration;
    std::string interfaceId;
};

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
