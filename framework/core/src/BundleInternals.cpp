#include "BundleInternals.h"

#include "BundleContextPrivate.h"
#include "BundlePrivate.h"

#include <stdexcept>

namespace cppmicroservices::detail {

namespace {
BundlePrivate& Checked(Bundle const& bundle) {
    auto d = GetPrivate(bundle);
    if (!d) {
        throw std::invalid_argument("invalid bundle");
    }
    return *d;
}
} // namespace

nlohmann::json const& GetBundleManifest(Bundle const& bundle) {
    return Checked(bundle).manifest;
}

std::string GetBundleLibraryPath(Bundle const& bundle) {
    return Checked(bundle).libraryPath;
}

BundleContextPrivate* GetBundleContextPrivate(Bundle const& bundle) {
    return Checked(bundle).context.get();
}

void* LoadBundleLibrary(Bundle const& bundle) {
    return Checked(bundle).LoadLibrary();
}

} // namespace cppmicroservices::detail
