#ifndef CPPMICROSERVICES_SERVICEOBJECTS_H
#define CPPMICROSERVICES_SERVICEOBJECTS_H

#include "cppmicroservices/FrameworkExport.h"
#include "cppmicroservices/ServiceReference.h"

#include <memory>

namespace cppmicroservices {

class BundleContext;
class BundleContextPrivate;
class ServiceObjectsBasePrivate;

/// Hands out the service objects of one reference on behalf of one bundle.
class US_Framework_EXPORT ServiceObjectsBase {
private:
    std::unique_ptr<ServiceObjectsBasePrivate> d;

public:
    ServiceObjectsBase(ServiceObjectsBase const& other) = delete;
    ServiceObjectsBase& operator=(ServiceObjectsBase const& other) = delete;
    ServiceObjectsBase(ServiceObjectsBase&& other) noexcept;
    ServiceObjectsBase& operator=(ServiceObjectsBase&& other) noexcept;

protected:
    ServiceObjectsBase(std::shared_ptr<BundleContextPrivate> const& context,
                       ServiceReferenceBase const& reference);
    ~ServiceObjectsBase();

    std::shared_ptr<void> GetService() const;
    InterfaceMapConstPtr GetServiceInterfaceMap() const;
    ServiceReferenceBase GetReference() const;
};

template <class S> class ServiceObjects : private ServiceObjectsBase {
public:
    ServiceObjects(ServiceObjects const& other) = delete;
    ServiceObjects& operator=(ServiceObjects const& other) = delete;
    ServiceObjects(ServiceObjects&& other) : ServiceObjectsBase(std::move(other)) {}
    ServiceObjects& operator=(ServiceObjects&& other) {
        ServiceObjectsBase::operator=(std::move(other));
        return *this;
    }

    /// The service object (empty when the service is gone or its factory failed).
    std::shared_ptr<S> GetService() const {
        return std::static_pointer_cast<S>(this->ServiceObjectsBase::GetService());
    }

    ServiceReference<S> GetServiceReference() const {
        return this->ServiceObjectsBase::GetReference();
    }

private:
    friend class BundleContext;
    ServiceObjects(std::shared_ptr<BundleContextPrivate> const& context,
                   ServiceReference<S> const& reference)
        : ServiceObjectsBase(context, reference) {}
};

template <> class US_Framework_EXPORT ServiceObjects<void> : private ServiceObjectsBase {
public:
    ServiceObjects(ServiceObjects const& other) = delete;
    ServiceObjects& operator=(ServiceObjects const& other) = delete;
    ServiceObjects(ServiceObjects&& other) noexcept;
    ServiceObjects& operator=(ServiceObjects&& other) noexcept;

    InterfaceMapConstPtr GetService() const;
    ServiceReferenceU GetServiceReference() const;

private:
    friend class BundleContext;
    ServiceObjects(std::shared_ptr<BundleContextPrivate> const& context,
                   ServiceReferenceU const& reference);
};

} // namespace cppmicroservices

#endif
