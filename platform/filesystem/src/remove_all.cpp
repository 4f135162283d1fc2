#include <fl/filesystem/operations.h>
#include <fl/filesystem/unique_fd.h>

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

#include "native.h"

namespace fl::filesystem {
namespace {

constexpr int directory_flags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
// Entries that keep appearing while a directory is emptied (another process writing into it)
// must not keep the removal going for ever.
constexpr int max_listings = 8;

bool same_entry(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// One directory on the current way down: its identity, to recognise it when climbing back
// through "..", the subdirectories still to enter and the names that stay.
struct level {
    std::string name;
    struct stat identity {};
    std::vector<std::string> subdirectories;
    std::set<std::string> kept;
    int listings = 0;
};

// Removes a tree depth first holding at most three descriptors whatever its depth: the current
// directory, a listing of it and, briefly, the next one. Every name is resolved relative to its
// parent's descriptor without following links, so no entry can be exchanged for a link that
// leads the removal (or a permission change) out of the tree.
class tree_remover {
public:
    tree_remover(bool grant_owner_rights, removal_report& report)
        : grant_(grant_owner_rights), report_(report) {}

    void run(const std::string& root, const struct stat& st) {
        if (!S_ISDIR(st.st_mode)) {
            if (::unlink(root.c_str()) == 0) {
                ++report_.removed;
            } else if (errno != ENOENT) {
                report_.left.emplace_back(root, errno);
            }
            return;
        }
        grant(AT_FDCWD, root.c_str(), st);
        unique_fd current(::open(root.c_str(), directory_flags));
        struct stat opened {};
        if (current.get() < 0 || ::fstat(current.get(), &opened) != 0 || !same_entry(st, opened)) {
            report_.left.emplace_back(root, current.get() < 0 ? errno : EBUSY);
            return;
        }
        stack_.push_back(level{root, opened, {}, {}, 0});
        for (;;) {
            level& top = stack_.back();
            if (!top.subdirectories.empty()) {
                std::string name = std::move(top.subdirectories.back());
                top.subdirectories.pop_back();
                descend(current, name);
                continue;
            }
            if (top.listings < max_listings && list(current.get())) {
                continue;
            }
            if (stack_.size() == 1) {
                current.reset();
                if (top.kept.empty()) {
                    if (::rmdir(root.c_str()) == 0) {
                        ++report_.removed;
                    } else if (errno != ENOENT) {
                        report_.left.emplace_back(root, errno);
                    }
                }
                return;
            }
            if (!ascend(current)) {
                return;
            }
        }
    }

private:
    // Gives our own directory the owner rights that listing and emptying need; nothing else
    // and nobody else. The caller verifies what it then opens.
    void grant(int parent, const char* name, const struct stat& st) const {
        if (grant_ && st.st_uid == ::geteuid() && (st.st_mode & S_IRWXU) != S_IRWXU) {
            ::fchmodat(parent, name, (st.st_mode & 07777) | S_IRWXU, AT_SYMLINK_NOFOLLOW);
        }
    }

    std::string path_of(const std::string& name) const {
        std::string path;
        for (const level& l : stack_) {
            path += l.name;
            path += '/';
        }
        return path + name;
    }

    void keep(const std::string& name, int error) {
        stack_.back().kept.insert(name);
        report_.left.emplace_back(path_of(name), error);
    }

    void unlink_entry(int parent, const std::string& name) {
        if (::unlinkat(parent, name.c_str(), 0) == 0) {
            ++report_.removed;
        } else if (errno != ENOENT) {
            keep(name, errno);
        }
    }

    // Removes the files of the current directory and notes its subdirectories; true when it
    // found anything that is not kept.
    bool list(int fd) {
        level& top = stack_.back();
        ++top.listings;
        const int listing_fd = ::dup(fd);
        DIR* dir = listing_fd < 0 ? nullptr : ::fdopendir(listing_fd);
        if (dir == nullptr) {
            const int error = errno;
            if (listing_fd >= 0) {
                ::close(listing_fd);
            }
            top.listings = max_listings;
            top.kept.insert(std::string());
            report_.left.emplace_back(path_of(std::string()), error);
            return false;
        }
        ::rewinddir(dir); // the duplicate shares the position of earlier listings
        bool found = false;
        for (;;) {
            errno = 0;
            const dirent* entry = ::readdir(dir);
            if (entry == nullptr) {
                break;
            }
            const std::string name = entry->d_name;
            if (name == "." || name == ".." || top.kept.count(name) != 0) {
                continue;
            }
            found = true;
            bool is_directory = entry->d_type == DT_DIR;
            if (entry->d_type == DT_UNKNOWN) {
                struct stat st {};
                if (::fstatat(fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
                    if (errno != ENOENT) {
                        keep(name, errno);
                    }
                    continue;
                }
                is_directory = S_ISDIR(st.st_mode);
            }
            if (is_directory) {
                top.subdirectories.push_back(name);
            } else {
                unlink_entry(fd, name);
            }
        }
        ::closedir(dir);
        return found;
    }

    void descend(unique_fd& current, const std::string& name) {
        struct stat st {};
        if (::fstatat(current.get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
            if (errno != ENOENT) {
                keep(name, errno);
            }
            return;
        }
        if (!S_ISDIR(st.st_mode)) {
            unlink_entry(current.get(), name);
            return;
        }
        grant(current.get(), name.c_str(), st);
        unique_fd child(::openat(current.get(), name.c_str(), directory_flags));
        struct stat opened {};
        if (child.get() < 0) {
            keep(name, errno);
            return;
        }
        if (::fstat(child.get(), &opened) != 0 || !same_entry(st, opened)) {
            keep(name, EBUSY); // exchanged between the look and the open
            return;
        }
        current.reset(child.release());
        stack_.push_back(level{name, opened, {}, {}, 0});
    }

    // Climbs to the parent and removes the directory just emptied. False when the parent is no
    // longer where it was (the tree was moved meanwhile): then nothing more is touched.
    bool ascend(unique_fd& current) {
        unique_fd parent(::openat(current.get(), "..", directory_flags));
        struct stat st {};
        const level& expected = stack_[stack_.size() - 2];
        if (parent.get() < 0 || ::fstat(parent.get(), &st) != 0 ||
            !same_entry(st, expected.identity)) {
            report_.left.emplace_back(path_of(std::string()), parent.get() < 0 ? errno : ESTALE);
            return false;
        }
        const std::string name = stack_.back().name;
        const bool emptied = stack_.back().kept.empty();
        stack_.pop_back();
        current.reset(parent.release());
        if (!emptied) {
            stack_.back().kept.insert(name); // what stays below it is reported already
        } else if (::unlinkat(current.get(), name.c_str(), AT_REMOVEDIR) == 0) {
            ++report_.removed;
        } else if (errno != ENOENT) {
            keep(name, errno);
        }
        return true;
    }

    bool grant_;
    removal_report& report_;
    std::vector<level> stack_;
};

} // namespace

removal_report remove_tree(const basic_path& path, bool grant_owner_rights) {
    removal_report report;
    const std::string native = detail::native_bytes(path);
    struct stat st {};
    if (native.empty() || ::lstat(native.c_str(), &st) != 0) {
        if (!native.empty() && errno != ENOENT && errno != ENOTDIR) {
            report.left.emplace_back(native, errno);
        }
        return report;
    }
    struct stat root {};
    if (S_ISDIR(st.st_mode) && ::stat("/", &root) == 0 && same_entry(root, st)) {
        report.left.emplace_back(native, EPERM); // never the whole system
        return report;
    }
    tree_remover(grant_owner_rights, report).run(native, st);
    if (report.left.empty() && ::lstat(native.c_str(), &st) == 0) {
        // Never report success while the path is still there.
        report.left.emplace_back(native, ENOTEMPTY);
    }
    return report;
}

std::uintmax_t remove_all(const basic_path& path) {
    const removal_report report = remove_tree(path, false);
    if (!report.left.empty()) {
        const std::string native = detail::native_bytes(path);
        const auto& [failed_path, error] = report.left.front();
        if (failed_path == native) {
            detail::throw_system_error("remove_all", native, error);
        }
        detail::throw_system_error("remove_all", native, failed_path, error);
    }
    return report.removed;
}

} // namespace fl::filesystem
