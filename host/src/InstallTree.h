#pragma once

#include <filesystem>

namespace tripwire_host {

// Where the host finds the framework runtime and the module: the install tree that holds the
// running program as <root>/bin/tripwire.
class InstallTree {
public:
    explicit InstallTree(std::filesystem::path root) : rootDir(std::move(root)) {}

    // The tree of the running program (read from /proc/self/exe).
    static InstallTree ofRunningProgram();

    const std::filesystem::path& root() const { return rootDir; }
    std::filesystem::path declarativeServicesBundle() const;
    std::filesystem::path tripwireBundle() const;

private:
    std::filesystem::path rootDir;
};

} // namespace tripwire_host
