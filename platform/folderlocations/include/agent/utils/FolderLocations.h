#pragma once

#include <fl/filesystem/basic_path.h>
#include <fl/i18n/ustring.h>

#include <boost/optional.hpp>

namespace agent::utils {

// The folders of the agents in drive mode:
//   storage root  <data home>/Quillbeck/Drive, or the first override when present;
//   lock root     <storage root>/locks, or the second override when present.
// The data home is `dataHomeOverride` when present, else $XDG_DATA_HOME (~/.local/share when
// unset). Empty overrides count as absent. The environment is read once, at construction;
// throws std::runtime_error when a default is needed and no home directory can be found.
class FolderLocations {
public:
    FolderLocations(const boost::optional<fl::ustring>& dataHomeOverride,
                    const boost::optional<fl::ustring>& firstOverride,
                    const boost::optional<fl::ustring>& secondOverride);

    fl::filesystem::basic_path storageRoot() const { return storage; }
    fl::filesystem::basic_path lockRoot() const { return locks; }

private:
    fl::filesystem::basic_path storage;
    fl::filesystem::basic_path locks;
};

} // namespace agent::utils
