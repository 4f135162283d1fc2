#include <fl/filesystem/operations.h>
#include <fl/filesystem/unique_fd.h>

#include <cerrno>
#include <fcntl.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include "native.h"
#include "random_name.h"

namespace fl::filesystem {
namespace {

// Copies everything from `in` to `out`; returns 0 or the errno of the failure. Tries the
// in-kernel ways first and falls back to plain reads and writes where they are not supported.
int copy_contents(int in, int out) {
    for (;;) {
        const ssize_t n = ::copy_file_range(in, nullptr, out, nullptr, 1 << 30, 0);
        if (n == 0) {
            return 0;
        }
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            if (errno == EXDEV || errno == ENOSYS || errno == EINVAL || errno == EOPNOTSUPP ||
                errno == EPERM) {
                break;
            }
            return errno;
        }
    }
    for (;;) {
        const ssize_t n = ::sendfile(out, in, nullptr, 1 << 30);
        if (n == 0) {
            return 0;
        }
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            if (errno == EINVAL || errno == ENOSYS) {
                break;
            }
            return errno;
        }
    }
    char buffer[1 << 16];
    for (;;) {
        const ssize_t n = ::read(in, buffer, sizeof buffer);
        if (n == 0) {
            return 0;
        }
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return errno;
        }
        for (ssize_t done = 0; done < n;) {
            const ssize_t w = ::write(out, buffer + done, static_cast<std::size_t>(n - done));
            if (w < 0) {
                if (errno == EINTR) {
                    continue;
                }
                return errno;
            }
            done += w;
        }
    }
}

std::string temporary_beside(const std::string& target) {
    const auto slash = target.find_last_of('/');
    const std::string dir =
        slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
    const std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
    return dir + "." + base + ".part-" + detail::random_characters(8);
}

} // namespace

void copy_file(const basic_path& from, const basic_path& to, copy_option option) {
    const std::string source = detail::native_bytes(from);
    const std::string target = detail::native_bytes(to);
    const auto fail = [&](int error) {
        detail::throw_system_error("copy_file", source, target, error);
    };

    // O_NONBLOCK: opening a FIFO must not wait for a writer that never comes; the type is
    // checked on the descriptor before anything is read.
    unique_fd in(::open(source.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (in.get() < 0) {
        fail(errno);
    }
    struct stat st {};
    if (::fstat(in.get(), &st) != 0) {
        fail(errno);
    }
    if (!S_ISREG(st.st_mode)) {
        fail(S_ISDIR(st.st_mode) ? EISDIR : EINVAL);
    }
    const int flags = ::fcntl(in.get(), F_GETFL);
    if (flags < 0 || ::fcntl(in.get(), F_SETFL, flags & ~O_NONBLOCK) != 0) {
        fail(errno);
    }
    struct stat target_st {};
    if (option == copy_option::fail_if_exists && ::lstat(target.c_str(), &target_st) == 0) {
        fail(EEXIST);
    }

    std::string temporary;
    int out_fd = -1;
    for (int attempt = 0; attempt < 100 && out_fd < 0; ++attempt) {
        temporary = temporary_beside(target);
        out_fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (out_fd < 0 && errno != EEXIST) {
            fail(errno);
        }
    }
    if (out_fd < 0) {
        fail(EEXIST);
    }
    unique_fd out(out_fd);

    int error = copy_contents(in.get(), out.get());
    if (error == 0 && ::fchmod(out.get(), st.st_mode & 0777) != 0) {
        error = errno;
    }
    if (out.close() != 0 && error == 0) {
        error = errno;
    }
    if (error == 0) {
        if (option == copy_option::fail_if_exists) {
            // link() refuses an existing target, so a target that appeared meanwhile survives.
            if (::link(temporary.c_str(), target.c_str()) != 0) {
                error = errno;
                struct stat now {};
                // File systems without hard links: check, then rename (a small window only).
                if ((error == EPERM || error == EOPNOTSUPP) && ::lstat(target.c_str(), &now) != 0 &&
                    errno == ENOENT) {
                    error = ::rename(temporary.c_str(), target.c_str()) == 0 ? 0 : errno;
                }
            }
        } else if (::rename(temporary.c_str(), target.c_str()) != 0) {
            error = errno;
        }
    }
    ::unlink(temporary.c_str());
    if (error != 0) {
        fail(error);
    }
}

} // namespace fl::filesystem
