#pragma once

#include <fl/filesystem/basic_path.h>

namespace halvexconnector::tripwireimpl {

// Adds every permission to the entry and, for a directory, to everything below it, each entry
// before its contents (so a directory that could not be listed becomes listable first). Any
// failure ends the walk and reaches the caller.
void grantAllPermissionsRecursively(const fl::filesystem::basic_path& entry);

// The removal queued for shutdown: grants all permissions throughout the tree and removes it.
// A missing directory is left alone; a failure is logged and not retried.
void removeDirectoryAtShutdown(const fl::filesystem::basic_path& directory);

// The queued action for one directory: owns a copy of the path and nothing else.
class QueuedDirectoryRemoval {
public:
    explicit QueuedDirectoryRemoval(fl::filesystem::basic_path directory)
        : directory(std::move(directory)) {}
    void operator()() const { removeDirectoryAtShutdown(directory); }

private:
    fl::filesystem::basic_path directory;
};

} // namespace halvexconnector::tripwireimpl
