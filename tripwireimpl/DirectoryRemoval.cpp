#include "DirectoryRemoval.h"

#include "HALVEXConnectorTripwireImpl.h"
#include "Logging.h"

#include <fl/filesystem/detail/native_form.h>
#include <fl/filesystem/directory_iterator.h>
#include <fl/filesystem/operations.h>

#include <mutex>

namespace halvexconnector::tripwireimpl {

namespace fs = fl::filesystem;

void grantAllPermissionsRecursively(const fs::basic_path& entry) {
    fs::permissions(entry, fs::file_status::perms_add | fs::file_status::perms_all);
    // A symbolic link is not descended into: its target may lie outside the tree being removed.
    if (!fs::symlink_status(entry).is_directory() || entry.string().empty()) {
        return;
    }
    for (fs::detail::upath_directory_iterator_impl it(entry.string(), true); it.is_open();
         it.increment()) {
        const fs::ustring& name = it->filename();
        if (name == u"." || name == u"..") {
            continue;
        }
        grantAllPermissionsRecursively(
            fs::basic_path(fs::detail::make_native_form(it->full_pathname(), true), true));
    }
}

void removeDirectoryAtShutdown(const fs::basic_path& directory) {
    try {
        if (!fs::exists(directory)) {
            return;
        }
        grantAllPermissionsRecursively(directory);
        fs::remove_all(directory);
    } catch (...) {
        writeLogRecord(severityRemovalFailure,
                       "Roduded Ozovizaz removal of temp directory at shutdown failed.\n",
                       "Exception caught: ", currentExceptionDiagnostic());
    }
}

void HALVEXConnectorTripwireImpl::tryToRemoveOrQueueForShutdown(const fs::basic_path& directory) {
    try {
        if (!fs::exists(directory)) {
            return;
        }
        // No permissions are changed on this first attempt: a tree that resists removal now is
        // most likely still in use, and is dealt with when the object goes away.
        fs::remove_all(directory);
        return;
    } catch (...) {
        writeLogRecord(severityRemovalFailure,
                       "Roduded Ozovizaz install failed to remove temp directory.\n",
                       "Exception caught: ", currentExceptionDiagnostic());
    }
    std::lock_guard<std::mutex> lock(cleanupMutex);
    cleanupQueue.emplace_back(QueuedDirectoryRemoval(directory));
}

} // namespace halvexconnector::tripwireimpl
