#include <fl/filesystem/operations.h>

#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

#include "native.h"

namespace fl::filesystem {
namespace {

file_type type_of(mode_t mode) {
    if (S_ISREG(mode)) {
        return file_type::regular;
    }
    if (S_ISDIR(mode)) {
        return file_type::directory;
    }
    if (S_ISLNK(mode)) {
        return file_type::symlink;
    }
    return file_type::other;
}

bool is_missing(int error) {
    return error == ENOENT || error == ENOTDIR;
}

file_status status_of(const char* operation, const std::string& native, bool follow) {
    struct stat st {};
    const int rc = follow ? ::stat(native.c_str(), &st) : ::lstat(native.c_str(), &st);
    if (rc != 0) {
        const int error = errno;
        if (is_missing(error)) {
            return file_status(file_type::not_found, file_status::no_perms);
        }
        detail::throw_system_error(operation, native, error == 0 ? EIO : error);
    }
    return file_status(type_of(st.st_mode),
                       static_cast<file_status::perms>(st.st_mode & file_status::perms_mask));
}

// Position of the separator before the last component, or npos when there is no parent.
std::string parent_of(const std::string& native) {
    const auto slash = native.find_last_of('/');
    if (slash == std::string::npos) {
        return {};
    }
    if (slash == 0) {
        return "/";
    }
    return native.substr(0, slash);
}

bool make_directories(const std::string& native) {
    struct stat st {};
    if (::stat(native.c_str(), &st) == 0) {
        if (!S_ISDIR(st.st_mode)) {
            detail::throw_system_error("create_directories", native, ENOTDIR);
        }
        return false;
    }
    if (errno != ENOENT) {
        detail::throw_system_error("create_directories", native, errno);
    }
    const std::string parent = parent_of(native);
    if (!parent.empty() && parent != native) {
        make_directories(parent);
    }
    if (::mkdir(native.c_str(), 0777) != 0) {
        const int error = errno;
        // Someone else may have created it meanwhile; that is as good.
        if (error == EEXIST && ::stat(native.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
            return false;
        }
        detail::throw_system_error("create_directories", native, error);
    }
    return true;
}

} // namespace

bool exists(const basic_path& path) {
    return status_of("exists", detail::native_bytes(path), false).exists();
}

file_status status(const basic_path& path) {
    return status_of("status", detail::native_bytes(path), true);
}

file_status symlink_status(const basic_path& path) {
    return status_of("symlink_status", detail::native_bytes(path), false);
}

void permissions(const basic_path& path, file_status::perms prms) {
    const std::string native = detail::native_bytes(path);
    const bool add = (prms & file_status::perms_add) != 0;
    const bool remove = (prms & file_status::perms_remove) != 0;
    if (add && remove) {
        detail::throw_system_error("permissions", native, EINVAL);
    }
    struct stat st {};
    if (::lstat(native.c_str(), &st) != 0) {
        detail::throw_system_error("permissions", native, errno);
    }
    if (S_ISLNK(st.st_mode)) {
        return;
    }
    const mode_t bits = prms & file_status::perms_mask;
    mode_t mode = bits;
    if (add) {
        mode = (st.st_mode & file_status::perms_mask) | bits;
    } else if (remove) {
        mode = (st.st_mode & file_status::perms_mask) & ~bits;
    }
    if (::chmod(native.c_str(), mode) != 0) {
        detail::throw_system_error("permissions", native, errno);
    }
}

bool create_directories(const basic_path& path) {
    const std::string native = detail::native_bytes(path);
    if (native.empty()) {
        detail::throw_system_error("create_directories", native, ENOENT);
    }
    return make_directories(native);
}

} // namespace fl::filesystem
