#ifndef CPPMICROSERVICES_BUNDLE_H
#define CPPMICROSERVICES_BUNDLE_H

#include "cppmicroservices/AnyMap.h"
#include "cppmicroservices/FrameworkExport.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

namespace cppmicroservices {

class BundleContext;
class BundlePrivate;
template <class S> class ServiceReference;
using ServiceReferenceU = ServiceReference<void>;

/// A handle on an installed bundle; copies share the bundle. A default-constructed
/// Bundle is invalid (false) and every operation on it throws std::invalid_argument.
class US_Framework_EXPORT Bundle {
public:
    enum State : uint32_t {
        STATE_UNINSTALLED = 0x00000001,
        STATE_INSTALLED = 0x00000002,
        STATE_RESOLVED = 0x00000004,
        STATE_STARTING = 0x00000008,
        STATE_STOPPING = 0x00000010,
        STATE_ACTIVE = 0x00000020
    };

    enum StartOptions : uint32_t {
        START_TRANSIENT = 0x00000001,
        START_ACTIVATION_POLICY = 0x00000002
    };
    enum StopOptions : uint32_t { STOP_TRANSIENT = 0x00000001 };

    Bundle(Bundle const&);
    Bundle(Bundle&&) noexcept;
    Bundle& operator=(Bundle const&);
    Bundle& operator=(Bundle&&) noexcept;
    Bundle();
    virtual ~Bundle();

    bool operator==(Bundle const& rhs) const;
    bool operator!=(Bundle const& rhs) const;
    bool operator<(Bundle const& rhs) const;
    explicit operator bool() const;
    Bundle& operator=(std::nullptr_t);

    State GetState() const;
    /// The bundle's context while it is starting, active or stopping (the
    /// framework's from Init to Stop); an invalid context otherwise.
    BundleContext GetBundleContext() const;
    long GetBundleId() const;
    std::string GetLocation() const;
    std::string GetSymbolicName() const;
    /// The manifest's top-level entries; keys are looked up without regard to case.
    AnyMap const& GetHeaders() const;
    std::vector<ServiceReferenceU> GetRegisteredServices() const;

    /// Starts the bundle: loads its library and runs its activator when the
    /// manifest has "bundle.activator": true. Throws std::runtime_error (with the
    /// cause nested) when the library or the activator fails.
    void Start(uint32_t options);
    void Start();
    /// Stops the bundle: activator Stop, its services unregistered, activator destroyed.
    void Stop(uint32_t options);
    void Stop();

protected:
    Bundle(std::shared_ptr<BundlePrivate> const& d);

    std::shared_ptr<BundlePrivate> d;

    friend Bundle MakeBundle(std::shared_ptr<BundlePrivate> const&);
    friend std::shared_ptr<BundlePrivate> GetPrivate(Bundle const&);
};

US_Framework_EXPORT std::ostream& operator<<(std::ostream& os, Bundle const& bundle);
US_Framework_EXPORT std::ostream& operator<<(std::ostream& os, Bundle::State state);

} // namespace cppmicroservices

US_HASH_FUNCTION_BEGIN(cppmicroservices::Bundle)
return hash<long>()(arg ? arg.GetBundleId() : -1L);
US_HASH_FUNCTION_END

#endif
