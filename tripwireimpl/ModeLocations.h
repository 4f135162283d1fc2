#pragma once

#include "ServiceLookup.h"

#include "halvexconnector/tripwire/Enumerations.h"

#include <halvexconnector/latestversion/installationdiscovery/InstallationDiscovery.h>

#include <optional>

namespace halvexconnector::tripwireimpl {

// Where a mode's services live: the lock root its agents register under, the installation
// found under its discovery root, and the user storage root, each with the folder overrides of
// the UserStorageRootOverride service applied. The overrides are looked up once, on the first
// question that needs them; a failed lookup reaches the caller.
class ModeLocations {
public:
    explicit ModeLocations(tripwire::HALVEXServicesMode mode) : mode(mode) {}

    // The standard mode's lock root or the drive's; empty for any other mode, which has no
    // folders of its own (the registry decides what an empty root means).
    fl::filesystem::basic_path lockRoot() const;

    // The latest installation under the standard mode's root, or the drive's for any other mode.
    boost::optional<latestversion::installationdiscovery::HXCInstallationInfo>
    latestInstallation() const;

    // The standard mode's user storage root, where every attempt keeps its working directories.
    fl::filesystem::basic_path userStorageRoot() const;

private:
    const FolderOverrides& overrides() const;

    tripwire::HALVEXServicesMode mode;
    mutable std::optional<FolderOverrides> lookedUp;
};

// Whether any agent runs under the lock root, whoever runs it; false when the registry cannot
// be read (a poll asks again later).
bool anyAgentRunning(const fl::filesystem::basic_path& lockRoot);

} // namespace halvexconnector::tripwireimpl
