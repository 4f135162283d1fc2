#include "agent/utils/FolderLocations.h"

#include "OverrideConversion.h"
#include "halvexconnector/folderlocations/FolderRoots.h"

#include <fl/filesystem/path_conversion.h>

namespace agent::utils {

namespace folders = halvexconnector::folderlocations;

FolderLocations::FolderLocations(const boost::optional<fl::ustring>& dataHomeOverride,
                                 const boost::optional<fl::ustring>& firstOverride,
                                 const boost::optional<fl::ustring>& secondOverride) {
    const folders::FolderRoots roots = folders::resolveFolderRoots(
        folders::FolderMode::DRIVE, folders::detail::toNative(firstOverride),
        folders::detail::toNative(secondOverride), folders::detail::toNative(dataHomeOverride));
    storage = fl::filesystem::path_from_native(roots.storageRoot);
    locks = fl::filesystem::path_from_native(roots.lockRoot);
}

} // namespace agent::utils
