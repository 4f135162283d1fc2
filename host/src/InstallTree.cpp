#include "InstallTree.h"

#include <system_error>

namespace tripwire_host {

InstallTree InstallTree::ofRunningProgram() {
    std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe");
    return InstallTree(program.parent_path().parent_path());
}

std::filesystem::path InstallTree::declarativeServicesBundle() const {
    return rootDir / "lib" / "libDeclarativeServices.so";
}

std::filesystem::path InstallTree::tripwireBundle() const {
    // The directories repeat the module's install path on every platform.
    return rootDir / "bin/win64/halvexconnector/tripwireimpl/halvexconnector/tripwireimpl" /
           "qbtripwireimpl.so";
}

} // namespace tripwire_host
