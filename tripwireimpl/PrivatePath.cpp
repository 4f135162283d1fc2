#include "PrivatePath.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

namespace halvexconnector::tripwireimpl {

namespace {

[[noreturn]] void fail(const std::string& what, const std::string& path, int error = 0) {
    std::string message = what + " \"" + path + "\"";
    if (error != 0) {
        message += ": ";
        message += std::strerror(error);
    }
    throw std::runtime_error(message);
}

bool trustedOwner(uid_t owner) {
    return owner == 0 || owner == ::geteuid();
}

bool othersMayWrite(mode_t mode) {
    return (mode & (S_IWGRP | S_IWOTH)) != 0;
}

void requireTrustedComponent(const std::string& component) {
    struct stat st {};
    if (::lstat(component.c_str(), &st) != 0) {
        fail("cannot inspect", component, errno);
    }
    if (S_ISLNK(st.st_mode)) {
        fail("a component changed while it was checked:", component);
    }
    if (!trustedOwner(st.st_uid)) {
        fail("another user owns", component);
    }
    if (S_ISDIR(st.st_mode) ? othersMayWrite(st.st_mode) && (st.st_mode & S_ISVTX) == 0
                            : othersMayWrite(st.st_mode)) {
        fail("other users may change", component);
    }
}

// Adds owner-only rights that the umask may have taken away, through the descriptor of what
// was just made, and checks that it is ours.
void settlePrivateDirectory(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    struct stat st {};
    if (fd < 0 || ::fstat(fd, &st) != 0 || st.st_uid != ::geteuid() || ::fchmod(fd, 0700) != 0) {
        const int error = fd < 0 ? errno : EPERM;
        if (fd >= 0) {
            ::close(fd);
        }
        fail("cannot make a private directory of", path, error);
    }
    ::close(fd);
}

} // namespace

std::optional<std::string> trustedCanonicalPath(const std::string& path) {
    char resolved[PATH_MAX];
    if (::realpath(path.c_str(), resolved) == nullptr) {
        if (errno == ENOENT) {
            return std::nullopt;
        }
        fail("cannot resolve", path, errno);
    }
    const std::string canonical = resolved;
    requireTrustedComponent("/");
    for (std::size_t slash = canonical.find('/', 1); slash != std::string::npos;
         slash = canonical.find('/', slash + 1)) {
        requireTrustedComponent(canonical.substr(0, slash));
    }
    if (canonical != "/") {
        requireTrustedComponent(canonical);
    }
    return canonical;
}

bool isPrivateDirectory(const std::string& path) {
    try {
        const std::optional<std::string> canonical = trustedCanonicalPath(path);
        struct stat st {};
        return canonical && ::lstat(canonical->c_str(), &st) == 0 && S_ISDIR(st.st_mode) &&
               st.st_uid == ::geteuid() && !othersMayWrite(st.st_mode);
    } catch (const std::exception&) {
        return false;
    }
}

void makeNewPrivateDirectory(const std::string& path) {
    if (::mkdir(path.c_str(), 0700) != 0) {
        fail("cannot create the directory", path, errno);
    }
    settlePrivateDirectory(path);
}

void makePrivateDirectories(const std::string& path) {
    std::string partial;
    std::size_t start = 0;
    while (start <= path.size()) {
        const std::size_t slash = std::min(path.find('/', start), path.size());
        partial = path.substr(0, slash);
        start = slash + 1;
        if (partial.empty() || partial.back() == '/') {
            continue;
        }
        if (::mkdir(partial.c_str(), 0700) == 0) {
            settlePrivateDirectory(partial);
        } else if (errno != EEXIST) {
            fail("cannot create the directory", partial, errno);
        }
    }
    if (!isPrivateDirectory(path)) {
        fail("other users can change the directory (or it is not one)", path);
    }
}

} // namespace halvexconnector::tripwireimpl
