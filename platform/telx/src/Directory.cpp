#include "Directory.h"

#include <telx/WriteError.h>

#include <cerrno>
#include <sys/stat.h>
#include <vector>

namespace telx::detail {
namespace {

bool isDirectory(const std::filesystem::path& path) {
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

} // namespace

void createPrivateDirectories(const std::filesystem::path& dir) {
    if (isDirectory(dir)) {
        return;
    }
    // Collect the missing tail of the path, then create it from the top down.
    std::vector<std::filesystem::path> missing;
    for (auto path = dir.lexically_normal(); !path.empty() && !isDirectory(path);
         path = path.parent_path()) {
        missing.push_back(path);
        if (path == path.parent_path()) {
            break;
        }
    }
    for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
        if (it->filename().empty()) {
            continue; // the trailing separator of "a/b/"
        }
        // Another process may create the same directory at the same moment: EEXIST is fine
        // as long as a directory is what now exists.
        if (::mkdir(it->c_str(), 0700) == 0 || isDirectory(*it)) {
            continue;
        }
        // EEXIST without a directory means a file is in the way.
        const int error = errno == EEXIST ? ENOTDIR : errno;
        throw WriteError({error, std::generic_category()}, *it,
                         "cannot create the telemetry directory");
    }
}

} // namespace telx::detail
