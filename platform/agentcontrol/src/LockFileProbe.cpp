#include "agent/control/LockFileProbe.h"

#include "agent/control/AgentSelection.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <fcntl.h>
#include <string_view>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace agent::control {
namespace {

class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd(fd) {}
    ~FileDescriptor() {
        if (fd >= 0)
            ::close(fd);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return fd; }
    bool valid() const { return fd >= 0; }

private:
    int fd;
};

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

bool isLockFileName(const std::string& fileName) {
    const std::string_view suffix(kLockFileSuffix);
    return fileName.size() > suffix.size() &&
           std::string_view(fileName).substr(fileName.size() - suffix.size()) == suffix;
}

bool selected(uid_t owner, unsigned selection) {
    const bool own = owner == ::geteuid();
    return own ? (selection & AGENTS_OF_CURRENT_USER) != 0
               : (selection & AGENTS_OF_OTHER_USERS) != 0;
}

std::optional<AgentInfo> probe(const std::filesystem::path& lockFile, unsigned selection) {
    // O_NONBLOCK keeps a fifo planted in the directory from blocking the open.
    FileDescriptor fd(::open(lockFile.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
    if (!fd.valid())
        return std::nullopt;
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode))
        return std::nullopt;
    if (!selected(info.st_uid, selection) || !isLockHeld(fd.get()))
        return std::nullopt;
    std::string fileName = lockFile.filename().string();
    fileName.resize(fileName.size() - std::string_view(kLockFileSuffix).size());
    return AgentInfo{std::move(fileName), readPid(fd.get()), lockFile};
}

} // namespace

std::optional<AgentInfo> probeLockFile(const std::filesystem::path& lockFile) {
    if (!isLockFileName(lockFile.filename().string()))
        return std::nullopt;
    return probe(lockFile, ALL_AGENTS);
}

std::vector<AgentInfo> enumerateRunningAgentsUnder(const std::filesystem::path& lockRoot,
                                                   unsigned selection) {
    std::vector<AgentInfo> agents;
    if (lockRoot.empty() || (selection & ALL_AGENTS) == 0)
        return agents;
    std::error_code error;
    std::filesystem::directory_iterator entries(lockRoot, error);
    if (error)
        return agents;
    for (const std::filesystem::directory_iterator end; entries != end;) {
        const auto& path = entries->path();
        if (isLockFileName(path.filename().string())) {
            if (auto agent = probe(path, selection))
                agents.push_back(std::move(*agent));
        }
        entries.increment(error);
        if (error)
            break;
    }
    std::sort(agents.begin(), agents.end(),
              [](const AgentInfo& a, const AgentInfo& b) { return a.name < b.name; });
    return agents;
}

} // namespace agent::control
