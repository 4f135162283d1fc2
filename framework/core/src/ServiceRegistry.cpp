#include "ServiceRegistry.h"

#include "BundlePrivate.h"
#include "CoreBundleContext.h"
#include "PropertiesCheck.h"

#include "cppmicroservices/Constants.h"
#include "cppmicroservices/LDAPFilter.h"

#include <algorithm>
#include <stdexcept>

namespace cppmicroservices {

namespace {

std::string const kFactoryKey = "org.cppmicroservices.factory";

std::string ScopeOf(ServiceProperties const& properties) {
    auto it = properties.find(Constants::SERVICE_SCOPE);
    if (it == properties.end() || it->second.Type() != typeid(std::string)) {
        return Constants::SCOPE_BUNDLE;
    }
    return any_cast<std::string>(it->second);
}

void Unget(std::shared_ptr<ServiceRegistrationBasePrivate> const& reg,
           std::shared_ptr<ServiceRegistrationBasePrivate::FactoryObject> const& object) noexcept {
    auto bundle = object->bundle.lock();
    try {
        reg->factory->UngetService(bundle ? MakeBundle(bundle) : Bundle(),
                                   ServiceRegistry::MakeRegistration(reg), object->service);
    } catch (...) {
        if (auto core = reg->core.lock()) {
            core->ReportError(bundle, "A service factory threw from UngetService",
                              std::current_exception());
        }
    }
}

/// Ends one use of a factory's object; the last use gives the object back.
class FactoryUse {
public:
    FactoryUse(std::shared_ptr<ServiceRegistrationBasePrivate> reg, long key,
               std::shared_ptr<ServiceRegistrationBasePrivate::FactoryObject> object)
        : reg(std::move(reg)), key(key), object(std::move(object)) {}
    FactoryUse(FactoryUse const&) = delete;
    FactoryUse& operator=(FactoryUse const&) = delete;

    ~FactoryUse() {
        bool last = false;
        {
            std::lock_guard lock(reg->mutex);
            if (--object->users == 0) {
                auto it = reg->factoryObjects.find(key);
                // Unregistration or a stopping bundle may have given it back already.
                if (it != reg->factoryObjects.end() && it->second == object) {
                    reg->factoryObjects.erase(it);
                    last = true;
                }
            }
        }
        if (last) {
            Unget(reg, object);
        }
    }

private:
    std::shared_ptr<ServiceRegistrationBasePrivate> reg;
    long key;
    std::shared_ptr<ServiceRegistrationBasePrivate::FactoryObject> object;
};

InterfaceMapConstPtr
TrackedMap(std::shared_ptr<ServiceRegistrationBasePrivate> const& reg, long key,
           std::shared_ptr<ServiceRegistrationBasePrivate::FactoryObject> const& object) {
    auto use = std::make_shared<FactoryUse>(reg, key, object);
    InterfaceMapConstPtr map = object->service;
    return InterfaceMapConstPtr(map.get(), [map, use](InterfaceMap const*) {});
}

std::string MissingInterface(InterfaceMapConstPtr const& map,
                             std::vector<std::string> const& objectClasses) {
    for (auto const& id : objectClasses) {
        auto it = map->find(id);
        if (it == map->end() || !it->second) {
            return id;
        }
    }
    return std::string();
}

} // namespace

std::shared_ptr<ServiceRegistrationBasePrivate> ServiceRegistry::Register(
    std::shared_ptr<CoreBundleContext> const& core, std::shared_ptr<BundlePrivate> const& bundle,
    InterfaceMapConstPtr const& service, ServiceProperties const& properties) {
    if (!service || service->empty()) {
        throw std::invalid_argument("Can't register empty InterfaceMap as a service");
    }
    if (auto const* key = CaseVariantKey(properties)) {
        throw std::runtime_error(CaseVariantMessage(*key));
    }
    auto reg = std::make_shared<ServiceRegistrationBasePrivate>();
    reg->bundle = bundle;
    reg->core = core;
    reg->service = service;
    for (auto const& [id, object] : *service) {
        if (id == kFactoryKey) {
            reg->factory = std::static_pointer_cast<ServiceFactory>(object);
            continue;
        }
        reg->objectClasses.push_back(id);
    }
    if (reg->objectClasses.empty()) {
        throw std::invalid_argument("Can't register a service without an interface id");
    }
    std::sort(reg->objectClasses.begin(), reg->objectClasses.end());
    if (service->count(kFactoryKey) && !reg->factory) {
        throw std::invalid_argument("Can't register a null service factory");
    }
    if (!reg->factory) {
        for (auto const& [id, object] : *service) {
            if (!object) {
                throw std::invalid_argument("Can't register a null service object for " + id);
            }
        }
    }

    ServiceProperties props = properties;
    std::string scope = Constants::SCOPE_SINGLETON;
    if (reg->factory) {
        scope = ScopeOf(properties);
        if (scope != Constants::SCOPE_SINGLETON && scope != Constants::SCOPE_BUNDLE) {
            throw std::invalid_argument("Unsupported service scope \"" + scope + "\"");
        }
        reg->bundleScope = scope == Constants::SCOPE_BUNDLE;
    }
    props[Constants::SERVICE_SCOPE] = scope;
    props[Constants::OBJECTCLASS] = reg->objectClasses;

    std::lock_guard lock(mutex);
    reg->id = nextId++;
    props[Constants::SERVICE_ID] = reg->id;
    reg->properties = std::move(props);
    registrations.push_back(reg);
    return reg;
}

std::vector<std::shared_ptr<ServiceRegistrationBasePrivate>>
ServiceRegistry::Find(std::string const& clazz, std::string const& filter) const {
    LDAPFilter const ldap = filter.empty() ? LDAPFilter() : LDAPFilter(filter);
    std::vector<std::shared_ptr<ServiceRegistrationBasePrivate>> candidates;
    {
        std::lock_guard lock(mutex);
        for (auto const& reg : registrations) {
            if (clazz.empty() ||
                std::binary_search(reg->objectClasses.begin(), reg->objectClasses.end(), clazz)) {
                candidates.push_back(reg);
            }
        }
    }
    if (ldap) {
        std::erase_if(candidates,
                      [&ldap](auto const& reg) { return !ldap.Match(AnyMap(reg->Properties())); });
    }
    std::vector<std::pair<ServiceRegistrationBasePrivate::Rank,
                          std::shared_ptr<ServiceRegistrationBasePrivate>>>
        ranked;
    ranked.reserve(candidates.size());
    for (auto& reg : candidates) {
        ranked.emplace_back(reg->GetRank(), std::move(reg));
    }
    std::sort(ranked.begin(), ranked.end(),
              [](auto const& a, auto const& b) { return b.first < a.first; });
    for (std::size_t i = 0; i < ranked.size(); ++i) {
        candidates[i] = std::move(ranked[i].second);
    }
    return candidates;
}

std::vector<std::shared_ptr<ServiceRegistrationBasePrivate>>
ServiceRegistry::RegisteredBy(BundlePrivate const* bundle) const {
    std::vector<std::shared_ptr<ServiceRegistrationBasePrivate>> result;
    std::lock_guard lock(mutex);
    for (auto const& reg : registrations) {
        if (reg->bundle.lock().get() == bundle) {
            result.push_back(reg);
        }
    }
    return result;
}

void ServiceRegistry::Unregister(std::shared_ptr<ServiceRegistrationBasePrivate> const& reg) {
    {
        std::lock_guard lock(mutex);
        auto it = std::find(registrations.begin(), registrations.end(), reg);
        if (it == registrations.end()) {
            throw std::logic_error("Service is unregistered");
        }
        registrations.erase(it);
    }
    std::map<long, std::shared_ptr<ServiceRegistrationBasePrivate::FactoryObject>> objects;
    {
        std::lock_guard lock(reg->mutex);
        reg->available = false;
        objects.swap(reg->factoryObjects);
    }
    for (auto const& [key, object] : objects) {
        Unget(reg, object);
    }
}

void ServiceRegistry::UnregisterAll(BundlePrivate const* bundle) {
    for (auto const& reg : RegisteredBy(bundle)) {
        try {
            Unregister(reg);
        } catch (std::logic_error const&) {
            // Unregistered concurrently by its owner: nothing left to do.
        }
    }
}

void ServiceRegistry::ReleaseObjectsOf(BundlePrivate const* bundle) {
    std::vector<std::shared_ptr<ServiceRegistrationBasePrivate>> all;
    {
        std::lock_guard lock(mutex);
        all = registrations;
    }
    for (auto const& reg : all) {
        if (!reg->factory || !reg->bundleScope) {
            continue;
        }
        std::shared_ptr<ServiceRegistrationBasePrivate::FactoryObject> object;
        {
            std::lock_guard lock(reg->mutex);
            auto it = reg->factoryObjects.find(bundle->id);
            if (it == reg->factoryObjects.end()) {
                continue;
            }
            object = it->second;
            reg->factoryObjects.erase(it);
        }
        Unget(reg, object);
    }
}

InterfaceMapConstPtr
ServiceRegistry::GetServiceMap(std::shared_ptr<BundlePrivate> const& requester,
                               std::shared_ptr<ServiceRegistrationBasePrivate> const& reg) {
    if (!reg || !reg->IsAvailable()) {
        return nullptr;
    }
    if (!reg->factory) {
        return reg->service;
    }
    long const key = reg->bundleScope ? requester->id : -1;
    auto const lookup = [&]() -> std::shared_ptr<ServiceRegistrationBasePrivate::FactoryObject> {
        std::lock_guard lock(reg->mutex);
        auto it = reg->factoryObjects.find(key);
        if (it == reg->factoryObjects.end()) {
            return nullptr;
        }
        ++it->second->users;
        return it->second;
    };
    if (auto object = lookup()) {
        return TrackedMap(reg, key, object);
    }

    auto core = reg->core.lock();
    if (reg->factoryCaller.load() == std::this_thread::get_id()) {
        if (core) {
            core->ReportError(
                requester, "Recursive call to a service factory",
                std::make_exception_ptr(ServiceException(
                    "recursive service factory call for service " + std::to_string(reg->id),
                    ServiceException::FACTORY_RECURSION)));
        }
        return nullptr;
    }
    // One factory call at a time per service, so that a singleton is made once.
    std::lock_guard factoryLock(reg->factoryMutex);
    if (auto object = lookup()) {
        return TrackedMap(reg, key, object);
    }
    reg->factoryCaller = std::this_thread::get_id();
    InterfaceMapConstPtr made;
    std::exception_ptr error;
    try {
        made =
            reg->factory->GetService(MakeBundle(requester), ServiceRegistry::MakeRegistration(reg));
    } catch (...) {
        error = std::current_exception();
    }
    reg->factoryCaller = std::thread::id();

    std::string problem;
    if (error) {
        problem = "ServiceFactory threw an exception";
    } else if (!made) {
        problem = "ServiceFactory returned an empty interface map";
        error = std::make_exception_ptr(ServiceException(problem, ServiceException::FACTORY_ERROR));
    } else if (auto missing = MissingInterface(made, reg->objectClasses); !missing.empty()) {
        problem = "ServiceFactory produced an object that does not provide " + missing;
        error = std::make_exception_ptr(ServiceException(problem, ServiceException::FACTORY_ERROR));
    }
    if (!problem.empty()) {
        if (core) {
            core->ReportError(requester, problem + " (service id " + std::to_string(reg->id) + ")",
                              error);
        }
        return nullptr;
    }

    auto object = std::make_shared<ServiceRegistrationBasePrivate::FactoryObject>();
    object->service = made;
    object->users = 1;
    object->bundle = requester;
    {
        std::lock_guard lock(reg->mutex);
        if (reg->available) {
            reg->factoryObjects[key] = object;
            return TrackedMap(reg, key, object);
        }
    }
    // Unregistered while the factory ran: give the object straight back.
    Unget(reg, object);
    return nullptr;
}

} // namespace cppmicroservices
