#pragma once

#include <filesystem>
#include <optional>

// The per-user folders of the service host and its agents, computed from the environment with
// std::filesystem types only, so that self-contained programs can compile this part in.
namespace halvexconnector::folderlocations {

// $XDG_DATA_HOME when it is set to an absolute path, else <home>/.local/share. Throws
// std::runtime_error when no home directory can be found.
std::filesystem::path userDataHome();

// $HOME when set, else the password database entry of the effective user. Throws
// std::runtime_error when neither gives a directory.
std::filesystem::path homeDirectory();

enum class FolderMode {
    // <data home>/Quillbeck/RodudedOzovizaz
    STANDARD,
    // <data home>/Quillbeck/Drive
    DRIVE,
};

struct FolderRoots {
    std::filesystem::path storageRoot;
    std::filesystem::path lockRoot;
};

// The default storage root of a mode below a data home.
std::filesystem::path defaultStorageRoot(FolderMode mode, const std::filesystem::path& dataHome);

// The lock root that belongs to a storage root.
std::filesystem::path lockRootOf(const std::filesystem::path& storageRoot);

// The roots of a mode. `firstOverride` replaces the storage root, `secondOverride` the lock root
// (which otherwise follows the storage root, overridden or not); `dataHome` replaces
// userDataHome(). Empty overrides count as absent. The environment is read only when the result
// depends on it.
FolderRoots resolveFolderRoots(FolderMode mode,
                               const std::optional<std::filesystem::path>& firstOverride,
                               const std::optional<std::filesystem::path>& secondOverride,
                               const std::optional<std::filesystem::path>& dataHome = {});

} // namespace halvexconnector::folderlocations
