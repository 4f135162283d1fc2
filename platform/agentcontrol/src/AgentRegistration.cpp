#include "agent/control/AgentRegistration.h"

#include "agent/control/LockFileProbe.h"

#include <cerrno>
#include <fcntl.h>
#include <string_view>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>
#include <utility>

namespace agent::control {
namespace {

[[noreturn]] void throwErrno(const std::string& what) {
    throw std::system_error(errno, std::generic_category(), what);
}

void validateName(const std::string& name) {
    if (name.empty() || name == "." || name == ".." ||
        name.find_first_of(std::string_view("/\0", 2)) != std::string::npos)
        throw std::invalid_argument("Agent name must be a plain file name: \"" + name + "\"");
}

bool tryLock(int fd) {
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    lock.l_start = 0;
    lock.l_len = 0;
    if (::fcntl(fd, F_OFD_SETLK, &lock) == 0)
        return true;
    if (errno == EAGAIN || errno == EACCES)
        return false;
    throwErrno("Cannot lock the agent file");
}

// True when the path still names the file we locked. Someone may have removed or replaced the
// file between our open and our lock; a lock on an unlinked file would register nobody.
bool stillLinked(int fd, const std::filesystem::path& path) {
    struct stat opened {
    }, named{};
    if (::fstat(fd, &opened) != 0 || ::stat(path.c_str(), &named) != 0)
        return false;
    return opened.st_dev == named.st_dev && opened.st_ino == named.st_ino;
}

void writeAll(int fd, const std::string& text) {
    size_t written = 0;
    while (written < text.size()) {
        const ssize_t n =
            ::pwrite(fd, text.data() + written, text.size() - written, static_cast<off_t>(written));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            throwErrno("Cannot write the agent file");
        written += static_cast<size_t>(n);
    }
}

std::string alreadyRunningMessage(const std::filesystem::path& path) {
    std::string message = "Another instance holds " + path.string();
    if (const auto holder = probeLockFile(path); holder && holder->pid > 0)
        message += " (pid " + std::to_string(holder->pid) + ")";
    return message;
}

int openAndLock(const std::filesystem::path& path) {
    for (int attempt = 0; attempt < 16; ++attempt) {
        const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd < 0)
            throwErrno("Cannot open the agent file " + path.string());
        bool locked = false;
        try {
            locked = tryLock(fd);
        } catch (...) {
            ::close(fd);
            throw;
        }
        if (!locked) {
            ::close(fd);
            throw AgentAlreadyRunning(alreadyRunningMessage(path));
        }
        if (stillLinked(fd, path))
            return fd;
        ::close(fd);
    }
    throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again),
                            "The agent file keeps being replaced: " + path.string());
}

} // namespace

AgentRegistration::AgentRegistration(const std::filesystem::path& lockRoot, const std::string& name)
    : lockFilePath(lockRoot / (name + kLockFileSuffix)), agentName(name) {
    validateName(name);
    if (lockRoot.empty())
        throw std::invalid_argument("The lock root is empty");
    std::error_code error;
    std::filesystem::create_directories(lockRoot, error);
    if (error)
        throw std::system_error(error, "Cannot create the lock root " + lockRoot.string());
    fd = openAndLock(lockFilePath);
    try {
        if (::ftruncate(fd, 0) != 0)
            throwErrno("Cannot truncate the agent file");
        writeAll(fd, std::to_string(::getpid()) + "\n" + name + "\n");
    } catch (...) {
        release();
        throw;
    }
}

AgentRegistration::~AgentRegistration() {
    release();
}

AgentRegistration::AgentRegistration(AgentRegistration&& other) noexcept
    : lockFilePath(std::move(other.lockFilePath)), agentName(std::move(other.agentName)),
      fd(std::exchange(other.fd, -1)) {}

AgentRegistration& AgentRegistration::operator=(AgentRegistration&& other) noexcept {
    if (this != &other) {
        release();
        lockFilePath = std::move(other.lockFilePath);
        agentName = std::move(other.agentName);
        fd = std::exchange(other.fd, -1);
    }
    return *this;
}

void AgentRegistration::release() noexcept {
    // Closing the only descriptor of the open file description drops the lock.
    if (fd >= 0)
        ::close(std::exchange(fd, -1));
}

} // namespace agent::control
