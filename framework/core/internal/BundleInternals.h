#ifndef CPPMICROSERVICES_INTERNAL_BUNDLEINTERNALS_H
#define CPPMICROSERVICES_INTERNAL_BUNDLEINTERNALS_H

// The seam the bundled Declarative Services runtime uses to reach what the public
// API does not expose (target CppMicroServicesInternals). Not installed: an
// installed framework has no such header, so code outside framework/ must not use it.

#include "cppmicroservices/Bundle.h"
#include "cppmicroservices/FrameworkExport.h"

#include <nlohmann/json.hpp>

#include <string>

namespace cppmicroservices {

class BundleContextPrivate;

namespace detail {

/// The bundle's parsed manifest (the JSON object of "<name>/manifest.json"),
/// alive as long as the framework. Throws std::invalid_argument for an invalid
/// bundle; the system bundle's manifest is an empty object.
US_Framework_EXPORT nlohmann::json const& GetBundleManifest(Bundle const& bundle);

/// The absolute path of the bundle's shared library (empty for the system bundle).
US_Framework_EXPORT std::string GetBundleLibraryPath(Bundle const& bundle);

/// The record to hand to the bundle's `_us_set_bundle_context_instance_<name>`.
/// It lives as long as the framework; its context is valid while the bundle is
/// starting, active or stopping (detail::MakeBundleContext gives the context).
US_Framework_EXPORT BundleContextPrivate* GetBundleContextPrivate(Bundle const& bundle);

/// Loads the bundle's library once (dlopen RTLD_LAZY | RTLD_LOCAL) and, on that
/// first load, calls its exported `_us_set_bundle_context_instance_<name>` when
/// present; runs no activator. The framework shares this handle with activator
/// loading and never unloads it (objects made by the library may outlive the
/// bundle). Returns the dlopen handle, for dlsym. Throws std::runtime_error with
/// dlerror's text when loading fails. Safe from several threads.
US_Framework_EXPORT void* LoadBundleLibrary(Bundle const& bundle);

} // namespace detail
} // namespace cppmicroservices

#endif
