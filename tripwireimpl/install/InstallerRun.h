#pragma once

#include "install/InstallerArguments.h"

#include <fl/filesystem/basic_path.h>

#include <cstdint>

namespace halvexconnector::tripwireimpl {

// The installer's exit codes that mean something to the install flow; any other is a failed run.
inline constexpr std::uint32_t installerSucceeded = 0;
inline constexpr std::uint32_t installerCannotStartServiceHost = 55;

// Runs the installer once with these arguments, the host's proxy in its environment, and waits
// for it to end. Returns its exit code (an end by signal N reads as 128 + N). Throws when the
// path is not UTF-8, the proxy set-up fails or the installer cannot be started.
std::uint32_t runInstaller(const fl::filesystem::basic_path& installerPath,
                           const InstallerArguments& arguments);

} // namespace halvexconnector::tripwireimpl
