#ifndef CPPMICROSERVICES_SERVICEREGISTRATIONBASE_H
#define CPPMICROSERVICES_SERVICEREGISTRATIONBASE_H

#include "cppmicroservices/ServiceProperties.h"
#include "cppmicroservices/ServiceReference.h"

#include <functional>
#include <memory>
#include <ostream>
#include <string>

namespace cppmicroservices {

class ServiceRegistrationBasePrivate;

/// The registrant's handle on a registered service.
class US_Framework_EXPORT ServiceRegistrationBase {
public:
    ServiceRegistrationBase(ServiceRegistrationBase const& reg);
    ServiceRegistrationBase(ServiceRegistrationBase&& reg) noexcept;
    explicit operator bool() const;
    ServiceRegistrationBase& operator=(std::nullptr_t);
    ~ServiceRegistrationBase();

    /// A reference to the service as `interfaceId` (empty: the first interface id
    /// in name order). Throws std::logic_error once unregistered.
    ServiceReferenceBase GetReference(std::string const& interfaceId = std::string()) const;

    /// Replaces the registrant's properties (objectclass, service.id and
    /// service.scope stay the framework's).
    void SetProperties(ServiceProperties const& properties);
    void SetProperties(ServiceProperties&& properties);

    /// Withdraws the service; factories get UngetService for every cached object.
    /// Throws std::logic_error when already unregistered.
    void Unregister();

    bool operator<(ServiceRegistrationBase const& o) const;
    bool operator==(ServiceRegistrationBase const& registration) const;
    ServiceRegistrationBase& operator=(ServiceRegistrationBase const& registration);
    ServiceRegistrationBase& operator=(ServiceRegistrationBase&& registration) noexcept;

private:
    friend class ServiceRegistry;
    friend class ServiceRegistrationBasePrivate;
    friend class BundleContext;
    template <class I1, class... Interfaces> friend class ServiceRegistration;
    friend struct ::std::hash<ServiceRegistrationBase>;

    ServiceRegistrationBase();
    ServiceRegistrationBase(std::shared_ptr<ServiceRegistrationBasePrivate> registrationPrivate);

    std::shared_ptr<ServiceRegistrationBasePrivate> d;
};

US_Framework_EXPORT std::ostream& operator<<(std::ostream& os, ServiceRegistrationBase const& reg);

} // namespace cppmicroservices

US_HASH_FUNCTION_BEGIN(cppmicroservices::ServiceRegistrationBase)
return std::hash<std::shared_ptr<cppmicroservices::ServiceRegistrationBasePrivate>>()(arg.d);
US_HASH_FUNCTION_END

#endif
