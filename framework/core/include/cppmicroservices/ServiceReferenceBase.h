#ifndef CPPMICROSERVICES_SERVICEREFERENCEBASE_H
#define CPPMICROSERVICES_SERVICEREFERENCEBASE_H

#include "cppmicroservices/Any.h"
#include "cppmicroservices/FrameworkExport.h"

#include <cstddef>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

namespace cppmicroservices {

class Bundle;
class ServiceRegistrationBasePrivate;
class ServiceReferenceBasePrivate;

/// A reference to a registered service, seen as one of its interfaces. It is
/// true while the service stays registered.
class US_Framework_EXPORT ServiceReferenceBase {
public:
    ServiceReferenceBase(ServiceReferenceBase const& ref);
    explicit operator bool() const;
    ServiceReferenceBase& operator=(std::nullptr_t);
    ~ServiceReferenceBase();

    Any GetProperty(std::string const& key) const;
    void GetPropertyKeys(std::vector<std::string>& keys) const;
    std::vector<std::string> GetPropertyKeys() const;

    /// The registering bundle; an invalid bundle once the service is unregistered.
    Bundle GetBundle() const;

    /// The interface id this reference stands for.
    std::string GetInterfaceId() const;
    /// True when the service was registered under `interfaceid`.
    bool IsConvertibleTo(std::string const& interfaceid) const;

    bool operator<(ServiceReferenceBase const& reference) const;
    bool operator==(ServiceReferenceBase const& reference) const;
    ServiceReferenceBase& operator=(ServiceReferenceBase const& reference);

private:
    friend class BundleContext;
    friend class CoreBundleContext;
    friend class ServiceRegistry;
    friend class ServiceObjectsBase;
    friend class ServiceObjectsBasePrivate;
    friend class ServiceRegistrationBase;
    friend class ServiceRegistrationBasePrivate;
    friend class LDAPFilter;
    template <class S> friend class ServiceReference;
    friend struct ::std::hash<ServiceReferenceBase>;

    std::size_t Hash() const;

    ServiceReferenceBase();
    ServiceReferenceBase(std::shared_ptr<ServiceRegistrationBasePrivate> reg);

    void SetInterfaceId(std::string const& interfaceId);
    std::shared_ptr<ServiceRegistrationBasePrivate> Registration() const;

    std::shared_ptr<ServiceReferenceBasePrivate> d;
};

US_Framework_EXPORT std::ostream& operator<<(std::ostream& os,
                                             ServiceReferenceBase const& serviceRef);

} // namespace cppmicroservices

US_HASH_FUNCTION_BEGIN(cppmicroservices::ServiceReferenceBase)
return arg.Hash();
US_HASH_FUNCTION_END

#endif
