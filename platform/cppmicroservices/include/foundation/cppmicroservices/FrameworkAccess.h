#pragma once

#include <fl/filesystem/basic_path.h>

#include <cppmicroservices/Bundle.h>
#include <cppmicroservices/Framework.h>

#include <memory>
#include <vector>

namespace foundation::cppmicroservices {

// The framework running in this process, or an empty pointer when no host has set one. One copy
// per process: the host and every bundle see the same framework. Thread-safe.
std::shared_ptr<::cppmicroservices::Framework> getFramework();

// Makes `framework` the running framework (an empty pointer clears it); returns the previous one.
// A host calls this after starting its framework and clears it before stopping it.
std::shared_ptr<::cppmicroservices::Framework>
setFramework(std::shared_ptr<::cppmicroservices::Framework> framework);

// Clears the running framework.
void clearFramework();

// Installs every bundle library ("*.so" file) of the folder `path` with the running framework,
// in name order, and starts each; `path` may also name one library. A relative path is taken
// from the installation root (fl::filesystem::get_install_path). Returns the bundles.
// Installing a bundle that is already installed gives the bundle installed before, and starting
// an active one does nothing, so calling this again is harmless. No running framework, or a
// missing folder, installs nothing and gives an empty list. Failures of the framework (a file
// without a manifest, an activator that throws) propagate.
std::vector<::cppmicroservices::Bundle> installAndStart(fl::filesystem::basic_path path);

} // namespace foundation::cppmicroservices
