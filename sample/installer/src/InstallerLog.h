#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace sample::installer {

// The file name of the run log below the user storage root.
inline constexpr const char* kInstallerLogFileName = "installer.log";

// What one run of the installer saw and how it ended.
struct InstallerRun {
    std::vector<std::string> arguments;
    int exitCode = 0;
    // Why the run failed; empty on success.
    std::string message;
};

// One JSON object (one line) for a run: "time" (UTC, milliseconds), "pid", "arguments", the
// proxy variables "QB_PROXY_HOST", "QB_PROXY_PORT", "QB_PROXY_USERNAME" and "QB_PROXY_PASSWORD"
// as the environment holds them (null when unset; a non-empty password reads "***"), "exitCode"
// and "message". Bytes that are not UTF-8 are replaced.
std::string formatInstallerLogLine(const InstallerRun& run);

// Appends the line for `run` to <storageRoot>/installer.log with a single write, so lines of
// concurrent runs never interleave. Creates the directory and the file (owner only: the line can
// name a proxy user). Throws std::system_error when it cannot.
void appendInstallerLogLine(const std::filesystem::path& storageRoot, const InstallerRun& run);

} // namespace sample::installer
