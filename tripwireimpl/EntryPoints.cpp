// The three entry points through which the framework and its Declarative Services runtime reach
// the bundle. They are the only symbols the module exports.
#include "HALVEXConnectorTripwireImpl.h"

#include <cppmicroservices/servicecomponent/detail/ComponentInstanceImpl.hpp>

#include <atomic>
#include <new>
#include <tuple>

#define TRIPWIREIMPL_EXPORT __attribute__((visibility("default")))

namespace cppmicroservices {
class BundleContextPrivate;
}

namespace {

using cppmicroservices::service::component::detail::ComponentInstance;
using TripwireComponentInstance =
    cppmicroservices::service::component::detail::ComponentInstanceImpl<
        halvexconnector::tripwireimpl::HALVEXConnectorTripwireImpl,
        std::tuple<halvexconnector::tripwire::ITripwire>>;

// Written by the framework only; nothing in the module reads it (services are looked up through
// the running framework instead).
std::atomic<cppmicroservices::BundleContextPrivate*> bundleContextSlot{nullptr};

} // namespace

extern "C" {

TRIPWIREIMPL_EXPORT ComponentInstance*
NewInstance_halvexconnector_tripwireimpl_HALVEXConnectorTripwireImpl() {
    // Allocation failure yields null for the runtime instead of an exception across C linkage.
    return new (std::nothrow) TripwireComponentInstance();
}

TRIPWIREIMPL_EXPORT void DeleteInstance_halvexconnector_tripwireimpl_HALVEXConnectorTripwireImpl(
    ComponentInstance* instance) {
    delete instance;
}

TRIPWIREIMPL_EXPORT void _us_set_bundle_context_instance_com_quillbeck_tripwireimpl(
    cppmicroservices::BundleContextPrivate* context) {
    bundleContextSlot.exchange(context);
}

} // extern "C"
