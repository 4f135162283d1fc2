#ifndef CPPMICROSERVICES_BUNDLEACTIVATOR_H
#define CPPMICROSERVICES_BUNDLEACTIVATOR_H

#ifndef US_BUNDLE_NAME
#error Missing US_BUNDLE_NAME preprocessor define
#endif

#include "cppmicroservices/BundleContext.h"
#include "cppmicroservices/GlobalConfig.h"

namespace cppmicroservices {

/// Code that runs when its bundle starts and stops. Exported from the bundle
/// library with CPPMICROSERVICES_EXPORT_BUNDLE_ACTIVATOR; used when the manifest
/// says "bundle.activator": true.
struct BundleActivator {
    virtual ~BundleActivator() = default;
    virtual void Start(BundleContext context) = 0;
    virtual void Stop(BundleContext context) = 0;
};

} // namespace cppmicroservices

#define CPPMICROSERVICES_EXPORT_BUNDLE_ACTIVATOR(_activator_type)                                  \
    extern "C" US_ABI_EXPORT cppmicroservices::BundleActivator* US_CREATE_ACTIVATOR_FUNC(          \
        US_BUNDLE_NAME)();                                                                         \
    extern "C" US_ABI_EXPORT cppmicroservices::BundleActivator* US_CREATE_ACTIVATOR_FUNC(          \
        US_BUNDLE_NAME)() {                                                                        \
        return new _activator_type();                                                              \
    }                                                                                              \
    extern "C" US_ABI_EXPORT void US_DESTROY_ACTIVATOR_FUNC(US_BUNDLE_NAME)(                       \
        cppmicroservices::BundleActivator*);                                                       \
    extern "C" US_ABI_EXPORT void US_DESTROY_ACTIVATOR_FUNC(US_BUNDLE_NAME)(                       \
        cppmicroservices::BundleActivator * activator) {                                           \
        delete activator;                                                                          \
    }

#endif
