#include "ScratchTree.h"

#include <fl/filesystem/path_conversion.h>

#include <fcntl.h>
#include <grp.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include <system_error>

namespace tripwire_test {

namespace {

bool setImmutable(const std::filesystem::path& file, bool on) {
    int fd = ::open(file.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW);
    if (fd < 0) {
        return false;
    }
    int flags = 0;
    bool ok = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    if (ok) {
        flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
        ok = ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    }
    ::close(fd);
    return ok;
}

} // namespace

ScratchTree::ScratchTree() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/tripwireimpl-test-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) {
        throw std::system_error(errno, std::generic_category(), "mkdtemp");
    }
    rootDir = pattern;
}

ScratchTree::~ScratchTree() {
    std::error_code ec;
    if (!std::filesystem::exists(rootDir, ec)) {
        return;
    }
    for (auto it = std::filesystem::recursive_directory_iterator(rootDir, ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
        if (!it->is_symlink(ec)) {
            setImmutable(it->path(), false);
            ::chmod(it->path().c_str(), 0700);
        }
    }
    std::filesystem::remove_all(rootDir, ec);
}

std::filesystem::path ScratchTree::file(const std::filesystem::path& relative) const {
    std::filesystem::path full = rootDir / relative;
    std::filesystem::create_directories(full.parent_path());
    std::ofstream(full) << "content";
    return full;
}

fl::filesystem::basic_path toPath(const std::filesystem::path& path) {
    return fl::filesystem::path_from_native(path, true);
}

bool pinFile(const std::filesystem::path& file) {
    return setImmutable(file, true);
}

void releaseFile(const std::filesystem::path& file) {
    setImmutable(file, false);
}

int runUnprivileged(const std::filesystem::path& scratchRoot, const std::function<int()>& check) {
    constexpr uid_t nobody = 65534;
    if (::geteuid() == 0 && ::chown(scratchRoot.c_str(), nobody, nobody) != 0) {
        return unprivilegedSkipped;
    }
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (::geteuid() == 0 &&
            (::setgroups(0, nullptr) != 0 || ::setgid(nobody) != 0 || ::setuid(nobody) != 0)) {
            ::_exit(unprivilegedSkipped);
        }
        if (::access(scratchRoot.c_str(), W_OK | X_OK) != 0) {
            ::_exit(unprivilegedSkipped);
        }
        int code = 99;
        try {
            code = check();
        } catch (...) {
            code = 98;
        }
        ::_exit(code);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

unsigned modeOf(const std::filesystem::path& entry) {
    struct stat st {};
    if (::lstat(entry.c_str(), &st) != 0) {
        throw std::system_error(errno, std::generic_category(), "lstat");
    }
    return st.st_mode & 07777;
}

} // namespace tripwire_test
