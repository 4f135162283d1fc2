#include "agent/control/LockFileProbe.h"

#include "agent/control/AgentSelection.h"

#include <fl/filesystem/unique_fd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <dirent.h>
#include <fcntl.h>
#include <string_view>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>
#include <utility>

namespace agent::control {
namespace {

// True when any process holds a lock on the file. F_OFD_GETLK only reports a conflicting lock
// and takes none, and it works on a read-only descriptor.
bool isLockHeld(int fd) {
    struct flock probe {};
    probe.l_type = F_WRLCK;
    probe.l_whence = SEEK_SET;
    probe.l_start = 0;
    probe.l_len = 0;
    probe.l_pid = 0;
    if (::fcntl(fd, F_OFD_GETLK, &probe) != 0)
        return false;
    return probe.l_type != F_UNLCK;
}

// The pid from "<pid>\n<name>\n". A file that is being rewritten may be empty or cut short:
// then the pid is unknown (0) rather than a wrong number.
pid_t readPid(int fd) {
    char buffer[512];
    ssize_t n;
    do {
        n = ::pread(fd, buffer, sizeof buffer, 0);
    } while (n < 0 && errno == EINTR);
    if (n <= 0)
        return 0;
    std::string_view text(buffer, static_cast<size_t>(n));
    const auto firstEnd = text.find('\n');
    if (firstEnd == std::string_view::npos ||
        text.find('\n', firstEnd + 1) == std::string_view::npos)
        return 0;
    pid_t pid = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + firstEnd, pid);
    if (ec != std::errc() || end != text.data() + firstEnd || pid <= 0)
        return 0;
    return pid;
}

bool isLockFileName(std::string_view fileName) {
    const std::string_view suffix(kLockFileSuffix);
    return fileName.size() > suffix.size() &&
           fileName.substr(fileName.size() - suffix.size()) == suffix;
}

bool selected(uid_t owner, uid_t self, unsigned selection) {
    return owner == self ? (selection & AGENTS_OF_CURRENT_USER) != 0
                         : (selection & AGENTS_OF_OTHER_USERS) != 0;
}

// `name` in the directory open as `directoryFd` (AT_FDCWD: `name` is a full path), open, when a
// selected agent holds its lock; an invalid descriptor otherwise. Opening relative to the
// directory spares the kernel a walk of the whole path per file.
fl::filesystem::unique_fd openHeldLockFile(int directoryFd, const char* name, uid_t self,
                                           unsigned selection) {
    // O_NONBLOCK keeps a fifo planted in the directory from blocking the open.
    fl::filesystem::unique_fd fd(
        ::openat(directoryFd, name, O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
    if (!fd.valid())
        return fd;
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode) ||
        !selected(info.st_uid, self, selection) || !isLockHeld(fd.get()))
        return fl::filesystem::unique_fd(-1);
    return fd;
}

AgentInfo agentOf(std::string_view fileName, pid_t pid, std::filesystem::path lockFile) {
    fileName.remove_suffix(std::string_view(kLockFileSuffix).size());
    return AgentInfo{std::string(fileName), pid, std::move(lockFile)};
}

class Directory {
public:
    explicit Directory(const std::filesystem::path& path) : stream(::opendir(path.c_str())) {}
    ~Directory() {
        if (stream != nullptr)
            ::closedir(stream);
    }
    Directory(const Directory&) = delete;
    Directory& operator=(const Directory&) = delete;
    DIR* get() const { return stream; }

private:
    DIR* stream;
};

// Calls `visit(file name, open descriptor)` for each lock file under `lockRoot` that a selected
// agent holds, until it returns false.
template <class Visit>
void forEachHeldLockFile(const std::filesystem::path& lockRoot, unsigned selection, Visit visit) {
    if (lockRoot.empty() || (selection & ALL_AGENTS) == 0)
        return;
    const Directory directory(lockRoot);
    if (directory.get() == nullptr)
        return;
    const uid_t self = ::geteuid();
    while (const dirent* entry = ::readdir(directory.get())) {
        const std::string_view name(entry->d_name);
        if (!isLockFileName(name))
            continue;
        const fl::filesystem::unique_fd fd =
            openHeldLockFile(::dirfd(directory.get()), entry->d_name, self, selection);
        if (fd.valid() && !visit(name, fd.get()))
            return;
    }
}

} // namespace

std::optional<AgentInfo> probeLockFile(const std::filesystem::path& lockFile) {
    const std::string fileName = lockFile.filename().string();
    if (!isLockFileName(fileName))
        return std::nullopt;
    const fl::filesystem::unique_fd fd =
        openHeldLockFile(AT_FDCWD, lockFile.c_str(), ::geteuid(), ALL_AGENTS);
    if (!fd.valid())
        return std::nullopt;
    return agentOf(fileName, readPid(fd.get()), lockFile);
}

std::vector<AgentInfo> enumerateRunningAgentsUnder(const std::filesystem::path& lockRoot,
                                                   unsigned selection) {
    std::vector<AgentInfo> agents;
    forEachHeldLockFile(lockRoot, selection, [&](std::string_view name, int fd) {
        agents.push_back(agentOf(name, readPid(fd), lockRoot / name));
        return true;
    });
    std::sort(agents.begin(), agents.end(),
              [](const AgentInfo& a, const AgentInfo& b) { return a.name < b.name; });
    return agents;
}

bool isAnyAgentRunningUnder(const std::filesystem::path& lockRoot, unsigned selection) {
    bool found = false;
    forEachHeldLockFile(lockRoot, selection, [&](std::string_view, int) {
        found = true;
        return false;
    });
    return found;
}

} // namespace agent::control
