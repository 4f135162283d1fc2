#ifndef CPPMICROSERVICES_SRC_SERVICEREGISTRATIONBASEPRIVATE_H
#define CPPMICROSERVICES_SRC_SERVICEREGISTRATIONBASEPRIVATE_H

#include "cppmicroservices/ServiceFactory.h"
#include "cppmicroservices/ServiceInterface.h"
#include "cppmicroservices/ServiceProperties.h"

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

} // namespace cppmicroservices

#endif
