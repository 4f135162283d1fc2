#include <fl/filesystem/operations.h>

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "native.h"

namespace fl::filesystem {
namespace {

// Removes as much of a tree as it can and remembers the first failure, so that one stubborn
// entry does not keep everything else in place; the caller throws when anything failed.
class tree_remover {
public:
    std::uintmax_t removed = 0;
    int first_error = 0;
    std::string failed_path;

    void remove_entry(int parent_fd, const std::string& name, const std::string& path,
                      bool is_directory) {
        if (is_directory) {
            remove_contents(parent_fd, name, path);
            if (::unlinkat(parent_fd, name.c_str(), AT_REMOVEDIR) != 0) {
                fail(path, errno);
                return;
            }
        } else if (::unlinkat(parent_fd, name.c_str(), 0) != 0) {
            fail(path, errno);
            return;
        }
        ++removed;
    }

private:
    void fail(const std::string& path, int error) {
        if (error == ENOENT) {
            return; // gone meanwhile: that is what we wanted
        }
        if (first_error == 0) {
            first_error = error;
            failed_path = path;
        }
    }

    void remove_contents(int parent_fd, const std::string& name, const std::string& path) {
        const int fd =
            ::openat(parent_fd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0) {
            fail(path, errno);
            return;
        }
        DIR* dir = ::fdopendir(fd);
        if (dir == nullptr) {
            fail(path, errno);
            ::close(fd);
            return;
        }
        for (;;) {
            errno = 0;
            const dirent* entry = ::readdir(dir);
            if (entry == nullptr) {
                if (errno != 0) {
                    fail(path, errno);
                }
                break;
            }
            const std::string child = entry->d_name;
            if (child == "." || child == "..") {
                continue;
            }
            bool child_is_directory = entry->d_type == DT_DIR;
            if (entry->d_type == DT_UNKNOWN) {
                struct stat st {};
                if (::fstatat(fd, child.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
                    fail(path + "/" + child, errno);
                    continue;
                }
                child_is_directory = S_ISDIR(st.st_mode);
            }
            remove_entry(fd, child, path + "/" + child, child_is_directory);
        }
        ::closedir(dir);
    }
};

} // namespace

std::uintmax_t remove_all(const basic_path& path) {
    const std::string native = detail::native_bytes(path);
    struct stat st {};
    if (native.empty() || ::lstat(native.c_str(), &st) != 0) {
        if (native.empty() || errno == ENOENT || errno == ENOTDIR) {
            return 0;
        }
        detail::throw_system_error("remove_all", native, errno);
    }
    struct stat root {};
    if (S_ISDIR(st.st_mode) && ::stat("/", &root) == 0 && root.st_dev == st.st_dev &&
        root.st_ino == st.st_ino) {
        detail::throw_system_error("remove_all", native, EPERM); // never the whole system
    }
    tree_remover remover;
    remover.remove_entry(AT_FDCWD, native, native, S_ISDIR(st.st_mode));
    if (remover.first_error == 0 && ::lstat(native.c_str(), &st) == 0) {
        // Never report success while the path is still there.
        remover.first_error = ENOTEMPTY;
        remover.failed_path = native;
    }
    if (remover.first_error != 0) {
        if (remover.failed_path == native) {
            detail::throw_system_error("remove_all", native, remover.first_error);
        }
        detail::throw_system_error("remove_all", native, remover.failed_path, remover.first_error);
    }
    return remover.removed;
}

} // namespace fl::filesystem
