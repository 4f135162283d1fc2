#ifndef US_BUNDLE_NAME
#error Missing US_BUNDLE_NAME preprocessor define
#endif

#ifndef CPPMICROSERVICES_BUNDLEINITIALIZATION_H
#define CPPMICROSERVICES_BUNDLEINITIALIZATION_H

#include "cppmicroservices/GlobalConfig.h"

#include <atomic>
#include <functional>

namespace cppmicroservices {
class BundleContextPrivate;
using SetBundleContextFn = std::function<void(BundleContextPrivate*)>;
} // namespace cppmicroservices

// Defines the bundle's context slot, its getter (used by GetBundleContext()) and
// the exported setter the framework calls before any of the bundle's code runs.
#define CPPMICROSERVICES_INITIALIZE_BUNDLE                                                         \
    std::atomic<cppmicroservices::BundleContextPrivate*> US_CTX_INS(US_BUNDLE_NAME){};             \
                                                                                                   \
    extern "C" cppmicroservices::BundleContextPrivate* US_GET_CTX_FUNC(US_BUNDLE_NAME)(void);      \
    extern "C" cppmicroservices::BundleContextPrivate* US_GET_CTX_FUNC(US_BUNDLE_NAME)() {         \
        return US_CTX_INS(US_BUNDLE_NAME).load();                                                  \
    }                                                                                              \
                                                                                                   \
    extern "C" US_ABI_EXPORT void US_SET_CTX_FUNC(US_BUNDLE_NAME)(                                 \
        cppmicroservices::BundleContextPrivate * ctx);                                             \
    extern "C" US_ABI_EXPORT void US_SET_CTX_FUNC(US_BUNDLE_NAME)(                                 \
        cppmicroservices::BundleContextPrivate * ctx) {                                            \
        US_CTX_INS(US_BUNDLE_NAME).exchange(ctx);                                                  \
    }

#endif
