// A bundle without activator: its code must only run when someone loads it.
#include "cppmicroservices/Bundle.h"
#include "cppmicroservices/BundleInitialization.h"
#include "cppmicroservices/GetBundleContext.h"

CPPMICROSERVICES_INITIALIZE_BUNDLE

/// The name of the bundle whose context the framework handed to this library.
extern "C" US_ABI_EXPORT char const* fwtest_plain_context_owner() {
    static thread_local std::string name;
    auto context = cppmicroservices::GetBundleContext();
    name = context ? context.GetBundle().GetSymbolicName() : std::string();
    return name.c_str();
}
