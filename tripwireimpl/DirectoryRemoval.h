#pragma once

#include <fl/filesystem/basic_path.h>

namespace halvexconnector::tripwireimpl {

// The removal queued for shutdown: gives the running user's directories the owner rights that
// removal needs (never group or other bits, never through a link) and removes the tree. An entry
// that still cannot go (another user's) is skipped and logged; the rest is removed. A missing
// directory is left alone; nothing is retried.
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
