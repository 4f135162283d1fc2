#include "halvexconnector/folderlocations/FolderLocations.h"

#include "OverrideConversion.h"
#include "halvexconnector/folderlocations/FolderRoots.h"

#include <fl/filesystem/path_conversion.h>

namespace halvexconnector::folderlocations {

FolderLocations::FolderLocations(const boost::optional<fl::ustring>& firstOverride,
                                 const boost::optional<fl::ustring>& secondOverride) {
    const FolderRoots roots = resolveFolderRoots(
        FolderMode::STANDARD, detail::toNative(firstOverride), detail::toNative(secondOverride));
    storageRoot = fl::filesystem::path_from_native(roots.storageRoot);
    locks = fl::filesystem::path_from_native(roots.lockRoot);
}

} // namespace halvexconnector::folderlocations
