#pragma once

#include <filesystem>
#include <stdexcept>
#include <string>

namespace sample::installer {

// The file name of the service host, in the archive (beside the installer) and when installed.
inline constexpr const char* kServiceHostFileName = "QuillbeckServiceHost";

// The installed service host could not be run (exit code 55).
class ServiceHostNotRunnable : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct InstalledServiceHost {
    // <installation root>/v<version>
    std::filesystem::path directory;
    // <directory>/bin/win64/QuillbeckServiceHost
    std::filesystem::path launcher;
};

// The directory of one version below an installation root.
std::filesystem::path versionDirectory(const std::filesystem::path& installationRoot,
                                       const std::string& version);

// Installs `payload` as the service host of `version` below `installationRoot`. The copy is made
// under a temporary name, made executable and tried out before it is renamed into place, so the
// version directory always holds a complete, runnable service host: either the one installed
// before or the new one. Throws ServiceHostNotRunnable when the copy cannot be run (nothing is
// left behind then), std::runtime_error / std::filesystem::filesystem_error for other failures.
InstalledServiceHost installServiceHost(const std::filesystem::path& payload,
                                        const std::filesystem::path& installationRoot,
                                        const std::string& version);

// True when `program` can be executed: it is started with "--version" (the service host answers
// at once and never registers then) and must end on its own with 0 or 2 (a usage error still
// proves that it loads and runs). The output is discarded.
bool canRunServiceHost(const std::filesystem::path& program);

} // namespace sample::installer
