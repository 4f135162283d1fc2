#pragma once

#include <fl/filesystem/basic_path.h>
#include <fl/i18n/ustring.h>

#include <boost/optional.hpp>

namespace halvexconnector::folderlocations {

// The folders of the service host in the standard mode:
//   user storage root  $XDG_DATA_HOME/Quillbeck/RodudedOzovizaz (~/.local/share when unset),
//                      or the first override when present;
//   lock root          <user storage root>/locks, or the second override when present.
// Empty overrides count as absent. The environment is read once, at construction; throws
// std::runtime_error when a default is needed and no home directory can be found.
class FolderLocations {
public:
    FolderLocations(const boost::optional<fl::ustring>& firstOverride,
                    const boost::optional<fl::ustring>& secondOverride);

    fl::filesystem::basic_path userStorageRoot() const { return storageRoot; }
    fl::filesystem::basic_path lockRoot() const { return locks; }

private:
    fl::filesystem::basic_path storageRoot;
    fl::filesystem::basic_path locks;
};

} // namespace halvexconnector::folderlocations
