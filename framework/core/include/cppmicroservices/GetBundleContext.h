#ifndef CPPMICROSERVICES_GETBUNDLECONTEXT_H
#define CPPMICROSERVICES_GETBUNDLECONTEXT_H

#ifndef US_BUNDLE_NAME
#error Missing preprocessor define US_BUNDLE_NAME
#endif

#include "cppmicroservices/BundleContext.h"
#include "cppmicroservices/BundleInitialization.h"

extern "C" cppmicroservices::BundleContextPrivate* US_GET_CTX_FUNC(US_BUNDLE_NAME)(void);

namespace cppmicroservices {

/// The context the framework handed to this bundle (invalid before that).
static inline BundleContext GetBundleContext() {
    BundleContextPrivate* ctx = US_GET_CTX_FUNC(US_BUNDLE_NAME)();
    return ctx ? detail::MakeBundleContext(ctx) : BundleContext();
}

} // namespace cppmicroservices

#endif
