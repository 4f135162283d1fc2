#ifndef CPPMICROSERVICES_SERVICEFACTORY_H
#define CPPMICROSERVICES_SERVICEFACTORY_H

#include "cppmicroservices/ServiceInterface.h"
#include "cppmicroservices/ServiceRegistration.h"

namespace cppmicroservices {

class Bundle;

/// Creates service objects on demand. Registered under the key
/// "org.cppmicroservices.factory" of an interface map; the property
/// "service.scope" ("singleton" or "bundle", default "bundle") says whether one
/// object serves every bundle or each bundle gets its own.
class ServiceFactory {
public:
    virtual ~ServiceFactory() = default;

    /// The service object for `bundle`; an exception or a null map makes the
    /// GetService call return an empty pointer and raises a FRAMEWORK_ERROR event.
    virtual InterfaceMapConstPtr GetService(Bundle const& bundle,
                                            ServiceRegistrationBase const& registration) = 0;

    /// Called when the last user of an object released it, when the using bundle
    /// stops, or when the service is unregistered.
    virtual void UngetService(Bundle const& bundle, ServiceRegistrationBase const& registration,
                              InterfaceMapConstPtr const& service) = 0;
};

} // namespace cppmicroservices

#endif
