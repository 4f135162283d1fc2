#pragma once

#include <fl/filesystem/basic_path.h>

#include <mutex>
#include <vector>

namespace halvexconnector::tripwireimpl {

// The removal queued for shutdown: gives the running user's directories the owner rights that
// removal needs (never group or other bits, never through a link) and removes the tree. An entry
// that still cannot go (another user's) is skipped and logged; the rest is removed. A missing
// directory is left alone; nothing is retried.
void removeDirectoryAtShutdown(const fl::filesystem::basic_path& directory);

// The clean-up queue: working directories that could not be removed while their attempt ended
// (an installer may still hold files), removed at shutdown when the queue is destroyed, first
// queued first. Safe to use from several threads at once.
class DeferredRemovals {
public:
    DeferredRemovals() = default;
    DeferredRemovals(const DeferredRemovals&) = delete;
    DeferredRemovals& operator=(const DeferredRemovals&) = delete;
    ~DeferredRemovals();

    // Removes a working directory now; when that fails, logs it and queues the directory for
    // the removal at shutdown. Never throws for a failed removal.
    void removeNowOrQueue(const fl::filesystem::basic_path& directory);

private:
    std::mutex mutex;
    std::vector<fl::filesystem::basic_path> directories;
};

} // namespace halvexconnector::tripwireimpl
