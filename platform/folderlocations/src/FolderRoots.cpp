#include "halvexconnector/folderlocations/FolderRoots.h"

#include <cstdlib>
#include <pwd.h>
#include <stdexcept>
#include <unistd.h>
#include <vector>

namespace halvexconnector::folderlocations {
namespace {

const char* nonEmptyEnv(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0' ? value : nullptr;
}

std::optional<std::filesystem::path> passwordHome() {
    long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(size > 0 ? static_cast<size_t>(size) : 16384);
    struct passwd entry {};
    struct passwd* found = nullptr;
    if (::getpwuid_r(::geteuid(), &entry, buffer.data(), buffer.size(), &found) != 0 ||
        found == nullptr || found->pw_dir == nullptr || *found->pw_dir == '\0')
        return std::nullopt;
    return std::filesystem::path(found->pw_dir);
}

bool present(const std::optional<std::filesystem::path>& path) {
    return path && !path->empty();
}

} // namespace

std::filesystem::path homeDirectory() {
    if (const char* home = nonEmptyEnv("HOME"))
        return home;
    if (auto home = passwordHome())
        return *home;
    throw std::runtime_error("No home directory: HOME is unset and the user has no home entry");
}

std::filesystem::path userDataHome() {
    // A relative XDG_DATA_HOME is invalid and must be ignored.
    if (const char* dataHome = nonEmptyEnv("XDG_DATA_HOME");
        dataHome != nullptr && std::filesystem::path(dataHome).is_absolute())
        return dataHome;
    return homeDirectory() / ".local" / "share";
}

std::filesystem::path defaultStorageRoot(FolderMode mode, const std::filesystem::path& dataHome) {
    return dataHome / "Quillbeck" / (mode == FolderMode::DRIVE ? "Drive" : "RodudedOzovizaz");
}

std::filesystem::path lockRootOf(const std::filesystem::path& storageRoot) {
    return storageRoot / "locks";
}

FolderRoots resolveFolderRoots(FolderMode mode,
                               const std::optional<std::filesystem::path>& firstOverride,
                               const std::optional<std::filesystem::path>& secondOverride,
                               const std::optional<std::filesystem::path>& dataHome) {
    FolderRoots roots;
    if (present(firstOverride))
        roots.storageRoot = *firstOverride;
    else
        roots.storageRoot =
            defaultStorageRoot(mode, present(dataHome) ? *dataHome : userDataHome());
    roots.lockRoot = present(secondOverride) ? *secondOverride : lockRootOf(roots.storageRoot);
    return roots;
}

} // namespace halvexconnector::folderlocations
