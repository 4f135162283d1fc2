#pragma once

#include <fl/filesystem/basic_path.h>

#include <string>

namespace agent::spf::externalprocessdiscovery {

// A service that moves the service host's folders. Registered by another bundle (or a host);
// users look it up anew for each operation. The order of the virtual functions is part of the
// contract between separately built bundles: do not reorder or insert.
class UserStorageRootOverride {
public:
    virtual ~UserStorageRootOverride() = default;

    // A short text naming the provider, for diagnostics.
    virtual std::string description() const = 0;

    // The folder that replaces the user storage root; an empty path means no override.
    virtual fl::filesystem::basic_path firstFolderOverride() const = 0;

    // The folder that replaces the lock root; an empty path means no override.
    virtual fl::filesystem::basic_path secondFolderOverride() const = 0;
};

} // namespace agent::spf::externalprocessdiscovery
