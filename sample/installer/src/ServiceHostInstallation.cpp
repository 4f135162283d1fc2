#include "ServiceHostInstallation.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <optional>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <system_error>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace sample::installer {

namespace fs = std::filesystem;

namespace {

// A service host that neither answers nor fails within this time is not usable.
constexpr auto kProbeLimit = std::chrono::seconds(20);

void syncFile(const fs::path& file) {
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        throw std::system_error(errno, std::generic_category(), "open " + file.string());
    const int rc = ::fsync(fd);
    const int error = errno;
    ::close(fd);
    if (rc != 0)
        throw std::system_error(error, std::generic_category(), "fsync " + file.string());
}

void syncDirectory(const fs::path& directory) {
    const int fd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

void removeQuietly(const fs::path& path) {
    std::error_code ignored;
    fs::remove_all(path, ignored);
}

// Waits for `pid` for at most kProbeLimit; kills it when it takes longer.
std::optional<int> waitWithLimit(pid_t pid) {
    const auto deadline = std::chrono::steady_clock::now() + kProbeLimit;
    auto pause = std::chrono::milliseconds(1);
    for (;;) {
        int status = 0;
        const pid_t done = ::waitpid(pid, &status, WNOHANG);
        if (done == pid)
            return status;
        if (done < 0 && errno != EINTR)
            return std::nullopt;
        if (std::chrono::steady_clock::now() >= deadline) {
            ::kill(pid, SIGKILL);
            while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
            }
            return std::nullopt;
        }
        std::this_thread::sleep_for(pause);
        pause = std::min(pause * 2, std::chrono::milliseconds(50));
    }
}

// Moves a fully prepared version directory into place, replacing an earlier one of the same
// version only once the new one is complete.
void publishVersionDirectory(const fs::path& prepared, const fs::path& target) {
    const fs::path previous = target.parent_path() / ("." + target.filename().string() + ".old-" +
                                                      std::to_string(::getpid()));
    const bool hadPrevious = fs::exists(fs::symlink_status(target));
    if (hadPrevious) {
        removeQuietly(previous);
        fs::rename(target, previous);
    }
    std::error_code error;
    fs::rename(prepared, target, error);
    if (error) {
        if (hadPrevious)
            fs::rename(previous, target);
        throw fs::filesystem_error("cannot move the installation into place", prepared, target,
                                   error);
    }
    syncDirectory(target.parent_path());
    if (hadPrevious)
        removeQuietly(previous);
}

} // namespace

fs::path versionDirectory(const fs::path& installationRoot, const std::string& version) {
    return installationRoot / ("v" + version);
}

bool canRunServiceHost(const fs::path& program) {
    if (::access(program.c_str(), X_OK) != 0)
        return false;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    std::string path = program.string();
    std::string flag = "--version";
    char* argv[] = {path.data(), flag.data(), nullptr};
    pid_t pid = 0;
    const int rc = ::posix_spawn(&pid, path.c_str(), &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0)
        return false;
    const auto status = waitWithLimit(pid);
    if (!status || !WIFEXITED(*status))
        return false;
    return WEXITSTATUS(*status) == 0;
}

InstalledServiceHost installServiceHost(const fs::path& payload, const fs::path& installationRoot,
                                        const std::string& version) {
    if (!fs::is_regular_file(payload))
        throw std::runtime_error("the service host to install is missing: " + payload.string());
    fs::create_directories(installationRoot);
    const fs::path target = versionDirectory(installationRoot, version);
    const fs::path prepared =
        installationRoot / (".v" + version + ".partial-" + std::to_string(::getpid()));
    const fs::path relativeLauncher = fs::path("bin") / "win64" / kServiceHostFileName;

    removeQuietly(prepared);
    try {
        fs::create_directories(prepared / relativeLauncher.parent_path());
        const fs::path launcher = prepared / relativeLauncher;
        fs::copy_file(payload, launcher);
        fs::permissions(launcher, fs::perms::owner_all | fs::perms::group_read |
                                      fs::perms::group_exec | fs::perms::others_read |
                                      fs::perms::others_exec);
        syncFile(launcher);
        if (!canRunServiceHost(launcher))
            throw ServiceHostNotRunnable("the installed service host cannot be run: " +
                                         launcher.string());
        publishVersionDirectory(prepared, target);
    } catch (...) {
        removeQuietly(prepared);
        throw;
    }
    return {target, target / relativeLauncher};
}

} // namespace sample::installer
