#pragma once

#include <fl/filesystem/basic_path.h>
#include <fl/filesystem/file_status.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace fl::filesystem {

/// All functions throw filesystem_error (path and system error text) on failure.

/// True when anything (also a dangling symbolic link) exists at the path.
bool exists(const basic_path& path);

/// Type and permissions of what the path names, following symbolic links. A missing path gives
/// file_type::not_found without throwing.
file_status status(const basic_path& path);

/// Like status, but describes a symbolic link itself rather than its target.
file_status symlink_status(const basic_path& path);

/// Sets the permission bits to `prms`, or with file_status::perms_add / perms_remove adds or
/// removes them. A symbolic link is left alone (its own bits mean nothing on Linux and changing
/// its target could reach outside the tree being worked on).
void permissions(const basic_path& path, file_status::perms prms);

/// Creates the directory and its missing parents. True when something was created.
bool create_directories(const basic_path& path);

enum class copy_option : int {
    fail_if_exists = 0,
    overwrite_if_exists = 1,
};

/// Copies one regular file's contents and permission bits. The target appears complete or not
/// at all: data goes to a hidden temporary file beside it that is renamed into place.
void copy_file(const basic_path& from, const basic_path& to, copy_option option);

/// Removes the file or directory tree (symbolic links are removed, never followed). Returns the
/// number of entries removed; 0 when nothing existed. Throws when anything is left behind.
/// Works at any depth with a bounded number of open descriptors.
std::uintmax_t remove_all(const basic_path& path);

/// What remove_tree did: entries removed, and each entry left in place (its native path and the
/// error that kept it there), in the order met.
struct removal_report {
    std::uintmax_t removed = 0;
    std::vector<std::pair<std::string, int>> left;
};

/// remove_all that never throws for what it leaves: an entry that cannot be removed is skipped
/// and reported, and the rest still goes. With `grant_owner_rights`, a directory of the running
/// user that lacks owner read, write or search permission gets them first (only those bits,
/// through the parent's descriptor, never through a link; other users' entries are never
/// changed).
removal_report remove_tree(const basic_path& path, bool grant_owner_rights);

/// A full name `directory`/`prefix`<random>`suffix` that did not exist when it was chosen.
/// Nothing is created. Random characters come from the system's entropy source, so concurrent
/// callers (threads or processes) do not pick the same name.
ustring tmpnam(const ustring& directory, const ustring& prefix, const ustring& suffix);
basic_path tmpnam(const basic_path& directory, const ustring& prefix, const ustring& suffix);

/// The installation root: QB_INSTALL_ROOT when set and not empty, else the root of the install
/// tree holding this library (the parent of the folder containing libqbfoundation_filesystem).
basic_path get_install_path();

} // namespace fl::filesystem
