#include "DeferredRemovals.h"

#include "Logging.h"

#include <fl/filesystem/operations.h>

#include <cstring>

namespace halvexconnector::tripwireimpl {

namespace fs = fl::filesystem;

void removeDirectoryAtShutdown(const fs::basic_path& directory) {
    try {
        const fs::removal_report report = fs::remove_tree(directory, true);
        for (const auto& [path, error] : report.left) {
            writeLogRecord(severityRemovalFailure,
                           "Roduded Ozovizaz removal of temp directory at shutdown failed.\n",
                           "Left in place: ", path, ": ", std::strerror(error));
        }
    } catch (...) {
        writeLogRecord(severityRemovalFailure,
                       "Roduded Ozovizaz removal of temp directory at shutdown failed.\n",
                       "Exception caught: ", currentExceptionDiagnostic());
    }
}

DeferredRemovals::~DeferredRemovals() {
    // No operation may still be running, so no lock is taken.
    for (const fs::basic_path& directory : directories) {
        try {
            removeDirectoryAtShutdown(directory);
        } catch (...) {
            // Shutdown has nobody to report to; the next directory still goes.
        }
    }
}

void DeferredRemovals::removeNowOrQueue(const fs::basic_path& directory) {
    try {
        if (!fs::exists(directory)) {
            return;
        }
        // No permissions are changed on this first attempt: a tree that resists removal now is
        // most likely still in use, and is dealt with at shutdown.
        fs::remove_all(directory);
        return;
    } catch (...) {
        writeLogRecord(severityRemovalFailure,
                       "Roduded Ozovizaz install failed to remove temp directory.\n",
                       "Exception caught: ", currentExceptionDiagnostic());
    }
    std::lock_guard<std::mutex> lock(mutex);
    directories.push_back(directory);
}

} // namespace halvexconnector::tripwireimpl
