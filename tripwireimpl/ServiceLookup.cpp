#include "ServiceLookup.h"

#include <agent/spf/externalprocessdiscovery/UserStorageRootOverride.h>

namespace halvexconnector::tripwireimpl {

namespace {

using agent::spf::externalprocessdiscovery::UserStorageRootOverride;
using FolderOverride = boost::optional<fl::filesystem::basic_path>;

std::shared_ptr<UserStorageRootOverride> findOverrideService() {
    const cppmicroservices::LDAPFilter everyService;
    return getService<UserStorageRootOverride>(everyService);
}

FolderOverride presentUnlessEmpty(const fl::filesystem::basic_path& path) {
    if (path.string().empty()) {
        return boost::none;
    }
    return path;
}

} // namespace

FolderOverride getFirstFolderOverride() {
    std::shared_ptr<UserStorageRootOverride> service = findOverrideService();
    if (!service) {
        return boost::none;
    }
    return presentUnlessEmpty(service->firstFolderOverride());
}

FolderOverride getSecondFolderOverride() {
    std::shared_ptr<UserStorageRootOverride> service = findOverrideService();
    if (!service) {
        return boost::none;
    }
    return presentUnlessEmpty(service->secondFolderOverride());
}

FolderOverrides getFolderOverrides() {
    std::shared_ptr<UserStorageRootOverride> service = findOverrideService();
    if (!service) {
        return {};
    }
    FolderOverrides overrides;
    overrides.first = presentUnlessEmpty(service->firstFolderOverride());
    overrides.second = presentUnlessEmpty(service->secondFolderOverride());
    return overrides;
}

} // namespace halvexconnector::tripwireimpl
