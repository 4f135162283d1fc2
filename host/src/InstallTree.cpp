#include "InstallTree.h"

#include <tripwire/InstallLayout.h>

#include <system_error>

namespace tripwire_host {

InstallTree InstallTree::ofRunningProgram() {
    std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe");
    return InstallTree(program.parent_path().parent_path());
}

std::filesystem::path InstallTree::declarativeServicesBundle() const {
    return rootDir / tripwire::layout::declarativeServices;
}

std::filesystem::path InstallTree::tripwireBundle() const {
    return rootDir / tripwire::layout::moduleBundle;
}

} // namespace tripwire_host
